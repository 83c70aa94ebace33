#include "document/files/ImageFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <exception>
#include <initializer_list>
#include <memory>
#include <new>

#include "document/files/AtomicFile.h"
#include "document/files/FormatTable.h"
#include "document/files/ImageCodecs.h"
#include "document/files/Orientation.h"

namespace velmora {

ImageLimits& DefaultImageLimits() {
  static ImageLimits limits;
  return limits;
}

// ---------------------------------------------------------------------------
// Extensions

namespace {

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

}  // namespace

std::string LowerExtension(const std::string& path) {
  const std::size_t dot = path.rfind('.');
  const std::size_t slash = path.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return Lower(path.substr(dot + 1));
}

ImageFormat FormatFromExtension(const std::string& ext) {
  const FormatInfo* f = FindFormat(ext);
  return f ? f->id : ImageFormat::Unknown;
}

bool IsReadableExtension(const std::string& ext) {
  const FormatInfo* f = FindFormat(ext);
  return f && f->decode;
}

bool IsWritableExtension(const std::string& ext) {
  const FormatInfo* f = FindFormat(ext);
  return f && f->encode;
}

// ---------------------------------------------------------------------------
// Shared by the codecs

namespace codecs {

std::string CheckDimensions(uint64_t width, uint64_t height, const ImageLimits& limits) {
  const uint64_t maxSide = static_cast<uint64_t>(std::max(limits.maxSide, 0));
  if (width > maxSide || height > maxSide || width * height > limits.maxPixels)
    return "picture too large (" + std::to_string(width) + " x " + std::to_string(height) + " pixels)";
  return {};
}

bool AllocateBitmap(IEBitmap& bmp, int width, int height, IEPixelFormat format, std::string& reason) {
  if (bmp.Allocate(width, height, format) && !bmp.IsEmpty()) return true;
  reason = "not enough memory for a " + std::to_string(width) + " x " + std::to_string(height) + " picture";
  return false;
}

bool AllocateRgb(IEBitmap& bmp, int width, int height, bool withAlpha, IEBitmap*& alpha, std::string& reason) {
  alpha = nullptr;
  if (!AllocateBitmap(bmp, width, height, IEPixelFormat::ie24RGB, reason)) return false;
  if (!withAlpha) return true;
  alpha = &bmp.AlphaChannel();
  if (alpha->Width() == width && alpha->Height() == height) return true;
  reason = "not enough memory";
  alpha = nullptr;
  return false;
}

void SettleAlpha(IEBitmap& bmp, bool transparent) {
  if (!bmp.HasAlphaChannel()) return;
  if (transparent)
    bmp.SetAlphaAllOpaque(false);
  else
    bmp.RemoveAlphaChannel();  // every pixel opaque: no channel needed
}

bool HasTransparency(const IEBitmap& bmp) {
  const IEBitmap* alpha = bmp.AlphaChannelIfAny();
  if (!alpha || alpha->IsEmpty()) return false;
  const int w = std::min(bmp.Width(), alpha->Width()), h = std::min(bmp.Height(), alpha->Height());
  for (int y = 0; y < h; ++y) {
    const uint8_t* a = alpha->ScanLine(y);
    for (int x = 0; x < w; ++x)
      if (a[x] != 255) return true;
  }
  return false;
}

bool ReadRest(std::FILE* in, std::vector<uint8_t>& data, std::string& reason, uint64_t maxBytes) {
  data.clear();
  uint8_t buffer[65536];
  for (;;) {
    errno = 0;
    const std::size_t n = std::fread(buffer, 1, sizeof buffer, in);
    if (data.size() + n > maxBytes) {
      reason = "file too large";
      return false;
    }
    data.insert(data.end(), buffer, buffer + n);
    if (n < sizeof buffer) break;
  }
  if (std::ferror(in)) {
    reason = errno ? ErrnoMessage(errno) : "read error";
    return false;
  }
  return true;
}

bool WriteBytes(std::FILE* out, const void* data, std::size_t size, std::string& reason) {
  errno = 0;
  if (size == 0 || std::fwrite(data, 1, size, out) == size) return true;
  reason = errno ? ErrnoMessage(errno) : "write error";
  return false;
}

}  // namespace codecs

// ---------------------------------------------------------------------------
// Reading

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Opens a regular file. A FIFO or device could block or never end, so
// only regular files are read (the open itself does not block on a FIFO).
FilePtr OpenForReading(const std::string& path, std::string& reason) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    reason = ErrnoMessage(errno);
    return nullptr;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (S_ISDIR(st.st_mode))
      reason = ErrnoMessage(EISDIR);
    else
      reason = "not a regular file";
    close(fd);
    return nullptr;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  std::FILE* f = fdopen(fd, "rb");
  if (!f) {
    reason = ErrnoMessage(errno);
    close(fd);
    return nullptr;
  }
  return FilePtr(f);
}

}  // namespace

namespace {

IOResult Read(const std::string& path, ImageFormat format, IEBitmap& out, const DecodeOptions& options) {
  const FormatInfo* info = FindFormat(format);
  if (!info || !info->decode) return IOResult::Fail(path, "unsupported file type");
  std::string reason;
  FilePtr file = OpenForReading(path, reason);
  if (!file) return IOResult::Fail(path, reason);

  // Decoded apart so that `out` keeps its picture on failure; the new one
  // is kept where the old one was (memory, file or standard bitmap).
  IEBitmap bmp;
  bool ok = false;
  try {
    bmp.SetLocation(out.Location());
  } catch (const IEBitmapError&) {
    // That storage is not available: let the bitmap choose.
  }
  try {
    ok = info->decode(file.get(), options, bmp, reason);
    if (ok && options.targetSide > 0 && !ReduceToFit(bmp, options.targetSide)) {
      ok = false;
      reason = "not enough memory";
    }
  } catch (const std::bad_alloc&) {
    ok = false;
    reason = "not enough memory";
  } catch (const std::exception& e) {
    ok = false;
    reason = e.what();
  }
  if (!ok) return IOResult::Fail(path, reason.empty() ? "cannot be read" : reason);
  out = std::move(bmp);
  return {};
}

}  // namespace

IOResult ReadImageAs(const std::string& path, ImageFormat format, IEBitmap& out, const ImageLimits& limits) {
  DecodeOptions options;
  options.limits = limits;
  return Read(path, format, out, options);
}

IOResult ReadThumbnail(const std::string& path, int side, IEBitmap& out, const ImageLimits& limits) {
  DecodeOptions options;
  options.limits = limits;
  options.targetSide = std::max(side, 1);
  return Read(path, FormatFromExtension(LowerExtension(path)), out, options);
}

IOResult ReadImage(const std::string& path, IEBitmap& out, const ImageLimits& limits) {
  return ReadImageAs(path, FormatFromExtension(LowerExtension(path)), out, limits);
}

IOResult ReadJPEG(const std::string& path, IEBitmap& out, const ImageLimits& limits) {
  return ReadImageAs(path, ImageFormat::JPEG, out, limits);
}

// ---------------------------------------------------------------------------
// Writing

namespace {

// The bitmap an encoder gets: the caller's own when it already fits,
// otherwise a converted copy.
class Prepared {
 public:
  explicit Prepared(const IEBitmap& source) : current_(&source) {}
  const IEBitmap& Get() const { return *current_; }
  IEPixelFormat Format() const { return current_->PixelFormat(); }

  bool Convert(IEPixelFormat target) {
    if (Format() == target) return true;
    return MakeCopy() && copy_->ConvertFormat(target);
  }
  // Composes the picture over white and drops its alpha channel; grey
  // pictures stay grey.
  bool ComposeOverWhite() {
    const bool grey = Format() == IEPixelFormat::ie8g || Format() == IEPixelFormat::ie1g;
    if (!MakeCopy() || !copy_->ConvertFormat(IEPixelFormat::ie24RGB)) return false;
    copy_->RemoveAlphaChannel(true, 0xFFFFFF);
    return !grey || copy_->ConvertFormat(IEPixelFormat::ie8g);
  }

 private:
  bool MakeCopy() {
    if (copy_) return true;
    copy_ = std::make_unique<IEBitmap>();
    copy_->Assign(*current_);
    if (copy_->Width() != current_->Width() || copy_->Height() != current_->Height()) return false;
    current_ = copy_.get();
    return true;
  }

  const IEBitmap* current_;
  std::unique_ptr<IEBitmap> copy_;
};

bool IsOneOf(IEPixelFormat f, const std::vector<IEPixelFormat>& formats) {
  return std::find(formats.begin(), formats.end(), f) != formats.end();
}

// Brings the picture into a pixel format the writer of `format` takes.
bool Prepare(Prepared& p, const FormatInfo& format, const std::string& ext) {
  IEPixelFormat target = format.formatForExtension ? format.formatForExtension(ext, p.Format()) : p.Format();
  if (!IsOneOf(target, format.encodes)) target = format.encodes.front();
  if (codecs::HasTransparency(p.Get())) {
    if (format.encodesAlpha.empty()) {
      if (!p.Convert(IsOneOf(p.Format(), format.encodes) ? p.Format() : format.encodes.front())) return false;
      if (!p.ComposeOverWhite()) return false;
    } else if (!IsOneOf(target, format.encodesAlpha)) {
      target = format.encodesAlpha.front();
    }
  }
  return p.Convert(target);
}

}  // namespace

IOResult WriteImage(const std::string& path, const IEBitmap& bmp, const SaveParams& params) {
  const std::string ext = LowerExtension(path);
  const FormatInfo* format = FindFormat(ext);
  if (!format || !format->encode) return IOResult::Fail(path, "unsupported file type");
  std::string reason;
  try {
    Prepared prepared(bmp);
    if (!Prepare(prepared, *format, ext)) return IOResult::Fail(path, "not enough memory");
    const IEBitmap& ready = prepared.Get();
    if (!WriteFileAtomically(
            path,
            [&](std::FILE* f, std::string& why) { return format->encode(f, ready, params, ext, why); }, reason))
      return IOResult::Fail(path, reason);
  } catch (const std::bad_alloc&) {
    return IOResult::Fail(path, "not enough memory");
  } catch (const std::exception& e) {
    return IOResult::Fail(path, e.what());
  }
  return {};
}

IOResult WriteJPEGToMemory(const IEBitmap& bmp, const SaveParams& params, std::vector<uint8_t>& out) {
  static const std::string kName = "JPEG stream";
  std::string reason;
  try {
    Prepared prepared(bmp);
    if (!Prepare(prepared, *FindFormat(ImageFormat::JPEG), "jpg")) return IOResult::Fail(kName, "not enough memory");
    if (!codecs::EncodeJpegToMemory(prepared.Get(), params, out, reason)) return IOResult::Fail(kName, reason);
  } catch (const std::bad_alloc&) {
    return IOResult::Fail(kName, "not enough memory");
  }
  return {};
}

}  // namespace velmora
