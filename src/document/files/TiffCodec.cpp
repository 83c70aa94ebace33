// TIFF through libtiff. Reading goes through libtiff's RGBA interface,
// which knows every photometric interpretation, bit depth, palette, tiles
// and old-style JPEG; the rows come back in the file's own order and the
// orientation tag is applied afterwards, as for JPEG.
#include <sys/stat.h>

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <memory>

#include "document/files/ImageCodecs.h"
#include "document/files/Orientation.h"

namespace velmora::codecs {

namespace {

// The first error libtiff reports; warnings (unknown tags, odd but
// readable fields) are dropped rather than printed.
struct Messages {
  std::string error;
};

int OnTiffError(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
  auto* m = static_cast<Messages*>(user);
  if (m && m->error.empty()) {
    char text[512];
    std::vsnprintf(text, sizeof text, fmt, ap);
    m->error = text;
    (void)module;
  }
  return 1;  // handled: nothing reaches stderr
}

int OnTiffWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// The process-wide handlers catch what libtiff reports before a file is
// open (and from code that ignores the per-file ones).
void Silence() {
  static const bool once = [] {
    TIFFSetWarningHandler(nullptr);
    TIFFSetErrorHandler(nullptr);
    return true;
  }();
  (void)once;
}

tmsize_t ReadProc(thandle_t h, void* data, tmsize_t n) {
  return static_cast<tmsize_t>(std::fread(data, 1, static_cast<std::size_t>(n), static_cast<std::FILE*>(h)));
}
tmsize_t WriteProc(thandle_t h, void* data, tmsize_t n) {
  return static_cast<tmsize_t>(std::fwrite(data, 1, static_cast<std::size_t>(n), static_cast<std::FILE*>(h)));
}
toff_t SeekProc(thandle_t h, toff_t off, int whence) {
  auto* f = static_cast<std::FILE*>(h);
  if (fseeko(f, static_cast<off_t>(off), whence) != 0) return static_cast<toff_t>(-1);
  return static_cast<toff_t>(ftello(f));
}
int CloseProc(thandle_t) { return 0; }  // the stream belongs to the caller
toff_t SizeProc(thandle_t h) {
  struct stat st {};
  auto* f = static_cast<std::FILE*>(h);
  std::fflush(f);
  return fstat(fileno(f), &st) == 0 ? static_cast<toff_t>(st.st_size) : 0;
}
int MapProc(thandle_t, void**, toff_t*) { return 0; }
void UnmapProc(thandle_t, void*, toff_t) {}

// Files are written into memory first: linking a second directory makes
// libtiff read back what it wrote, and the destination stream is
// write-only.
struct MemoryFile {
  std::vector<uint8_t> data;
  std::size_t pos = 0;
};
tmsize_t MemRead(thandle_t h, void* buf, tmsize_t n) {
  auto* m = static_cast<MemoryFile*>(h);
  const std::size_t k = std::min<std::size_t>(static_cast<std::size_t>(n), m->data.size() - std::min(m->pos, m->data.size()));
  if (k) std::memcpy(buf, m->data.data() + m->pos, k);
  m->pos += k;
  return static_cast<tmsize_t>(k);
}
tmsize_t MemWrite(thandle_t h, void* buf, tmsize_t n) {
  auto* m = static_cast<MemoryFile*>(h);
  const std::size_t k = static_cast<std::size_t>(n);
  try {
    if (m->pos + k > m->data.size()) m->data.resize(m->pos + k);
  } catch (const std::bad_alloc&) {
    return 0;
  }
  std::memcpy(m->data.data() + m->pos, buf, k);
  m->pos += k;
  return n;
}
toff_t MemSeek(thandle_t h, toff_t off, int whence) {
  auto* m = static_cast<MemoryFile*>(h);
  const uint64_t base = whence == SEEK_CUR ? m->pos : whence == SEEK_END ? m->data.size() : 0;
  m->pos = static_cast<std::size_t>(base + off);
  return static_cast<toff_t>(m->pos);
}
toff_t MemSize(thandle_t h) { return static_cast<MemoryFile*>(h)->data.size(); }

struct TiffCloser {
  void operator()(TIFF* t) const { TIFFClose(t); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

TiffPtr Open(std::FILE* f, MemoryFile* memory, const char* mode, Messages& messages, tmsize_t maxAlloc) {
  Silence();
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (!options) return nullptr;
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, maxAlloc);
  TIFFOpenOptionsSetErrorHandlerExtR(options, OnTiffError, &messages);
  TIFFOpenOptionsSetWarningHandlerExtR(options, OnTiffWarning, &messages);
  TIFF* t = memory ? TIFFClientOpenExt("TIFF", mode, memory, MemRead, MemWrite, MemSeek, CloseProc, MemSize, MapProc,
                                       UnmapProc, options)
                   : TIFFClientOpenExt("TIFF", mode, f, ReadProc, WriteProc, SeekProc, CloseProc, SizeProc, MapProc,
                                       UnmapProc, options);
  TIFFOpenOptionsFree(options);
  return TiffPtr(t);
}

struct RgbaEnd {
  void operator()(TIFFRGBAImage* img) const { TIFFRGBAImageEnd(img); }
};

}  // namespace

bool DecodeTiff(std::FILE* in, const DecodeOptions& options, IEBitmap& out, std::string& reason) {
  const ImageLimits& limits = options.limits;
  // One allocation may hold a decoded strip or tile of the largest picture
  // the limits allow (four 16-bit samples a pixel); compressed data is
  // read in steps, so a strip claiming more than the file holds fails.
  const uint64_t cap = std::min<uint64_t>(limits.maxPixels, 1ull << 40) * 8 + (1u << 20);
  Messages messages;
  TiffPtr tif = Open(in, nullptr, "rm", messages, static_cast<tmsize_t>(std::min<uint64_t>(cap, INT64_MAX / 2)));
  if (!tif) {
    reason = messages.error.empty() ? "not a TIFF file" : messages.error;
    return false;
  }
  uint32_t w = 0, h = 0;
  TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &h);
  if (w == 0 || h == 0) return reason = "invalid size", false;
  reason = CheckDimensions(w, h, limits);
  if (!reason.empty()) return false;
  uint16_t bits = 1, samples = 1, photometric = PHOTOMETRIC_MINISWHITE, orientation = ORIENTATION_TOPLEFT;
  TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetField(tif.get(), TIFFTAG_PHOTOMETRIC, &photometric);
  TIFFGetFieldDefaulted(tif.get(), TIFFTAG_ORIENTATION, &orientation);
  const bool bilevel = bits == 1 && samples == 1 &&
                       (photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK);

  char emsg[1024] = "";
  if (!TIFFRGBAImageOK(tif.get(), emsg)) return reason = emsg, false;
  TIFFRGBAImage img{};
  if (!TIFFRGBAImageBegin(&img, tif.get(), 1, emsg)) return reason = emsg[0] ? emsg : messages.error, false;
  std::unique_ptr<TIFFRGBAImage, RgbaEnd> end(&img);
  img.req_orientation = img.orientation;  // rows as stored; turned below
  const bool alpha = img.alpha != 0 && !bilevel;

  // Bands of whole strips or tiles, so each is decoded once.
  uint32_t unit = 0;
  if (TIFFIsTiled(tif.get()))
    TIFFGetField(tif.get(), TIFFTAG_TILELENGTH, &unit);
  else
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_ROWSPERSTRIP, &unit);
  uint64_t band = std::clamp<uint64_t>(unit, 1, h);
  while (band < h && band * w * 4 < (16u << 20)) band += std::max<uint32_t>(unit, 1);
  band = std::min<uint64_t>(band, h);
  std::vector<uint32_t> raster;
  try {
    raster.resize(static_cast<std::size_t>(band * w));
  } catch (const std::bad_alloc&) {
    return reason = "not enough memory", false;
  }

  IEBitmap bmp;
  if (!AllocateBitmap(bmp, static_cast<int>(w), static_cast<int>(h),
                      bilevel ? IEPixelFormat::ie1g : IEPixelFormat::ie24RGB, reason))
    return false;
  IEBitmap* a = alpha ? &bmp.AlphaChannel() : nullptr;
  for (uint32_t y0 = 0; y0 < h; y0 += static_cast<uint32_t>(band)) {
    const uint32_t rows = static_cast<uint32_t>(std::min<uint64_t>(band, h - y0));
    img.row_offset = static_cast<int>(y0);
    img.col_offset = 0;
    messages.error.clear();  // complaints about tags while opening did not stop the reading
    if (!TIFFRGBAImageGet(&img, raster.data(), w, rows) || !messages.error.empty())
      return reason = messages.error.empty() ? "cannot decode the pixels" : messages.error, false;
    for (uint32_t r = 0; r < rows; ++r) {
      const uint32_t* src = raster.data() + static_cast<std::size_t>(r) * w;
      const int y = static_cast<int>(y0 + r);
      uint8_t* dst = bmp.ScanLine(y);
      if (bilevel) {
        std::memset(dst, 0, bmp.RowLen());
        for (uint32_t x = 0; x < w; ++x)
          if (TIFFGetR(src[x]) >= 128) dst[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
        continue;
      }
      uint8_t* alphaRow = a ? a->ScanLine(y) : nullptr;
      for (uint32_t x = 0; x < w; ++x, dst += 3) {
        const uint32_t p = src[x];
        uint32_t rr = TIFFGetR(p), gg = TIFFGetG(p), bb = TIFFGetB(p);
        if (alphaRow) {
          // libtiff hands alpha over premultiplied.
          const uint32_t av = TIFFGetA(p);
          alphaRow[x] = static_cast<uint8_t>(av);
          if (av != 0 && av != 255) {
            rr = std::min<uint32_t>(255, (rr * 255 + av / 2) / av);
            gg = std::min<uint32_t>(255, (gg * 255 + av / 2) / av);
            bb = std::min<uint32_t>(255, (bb * 255 + av / 2) / av);
          }
        }
        dst[0] = static_cast<uint8_t>(bb), dst[1] = static_cast<uint8_t>(gg), dst[2] = static_cast<uint8_t>(rr);
      }
    }
  }
  SettleAlpha(bmp, HasTransparency(bmp));
  if (!ApplyOrientation(bmp, orientation)) return reason = "not enough memory to turn the picture upright", false;
  out = std::move(bmp);
  return true;
}

namespace {

// One image directory: the main picture, or its reduced copy.
bool WriteDirectory(TIFF* tif, const IEBitmap& bmp, bool reduced, Messages& messages, std::string& reason) {
  const uint32_t w = static_cast<uint32_t>(bmp.Width()), h = static_cast<uint32_t>(bmp.Height());
  const bool bilevel = bmp.PixelFormat() == IEPixelFormat::ie1g, grey = bmp.PixelFormat() == IEPixelFormat::ie8g;
  const bool alpha = !bilevel && !grey && HasTransparency(bmp);
  const uint16_t samples = bilevel || grey ? 1 : alpha ? 4 : 3;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bilevel ? 1 : 8);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, bilevel || grey ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
  if (!bilevel) TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
  if (alpha) {
    const uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
    TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
  }
  if (reduced) TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_REDUCEDIMAGE);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
  std::vector<uint8_t> row(static_cast<std::size_t>(TIFFScanlineSize64(tif)) + 4);
  for (uint32_t y = 0; y < h; ++y) {
    const uint8_t* src = bmp.ScanLine(static_cast<int>(y));
    if (bilevel || grey) {
      std::memcpy(row.data(), src, bilevel ? (w + 7) / 8 : w);
    } else {
      const uint8_t* a = alpha ? bmp.AlphaChannelIfAny()->ScanLine(static_cast<int>(y)) : nullptr;
      for (uint32_t x = 0; x < w; ++x) {
        uint8_t* p = &row[static_cast<std::size_t>(x) * samples];
        p[0] = src[3 * x + 2], p[1] = src[3 * x + 1], p[2] = src[3 * x];
        if (a) p[3] = a[x];
      }
    }
    if (TIFFWriteScanline(tif, row.data(), y, 0) < 0)
      return reason = messages.error.empty() ? "write error" : messages.error, false;
  }
  if (!TIFFWriteDirectory(tif)) return reason = messages.error.empty() ? "write error" : messages.error, false;
  return true;
}

}  // namespace

bool EncodeTiff(std::FILE* out, const IEBitmap& bmp, const SaveParams& params, const std::string&,
                std::string& reason) {
  switch (bmp.PixelFormat()) {
    case IEPixelFormat::ie24RGB:
    case IEPixelFormat::ie8g:
    case IEPixelFormat::ie1g:
      break;
    default:
      return reason = "unsupported pixel format", false;
  }
  Messages messages;
  // Big pictures need more than 4 GB of file: "w8" makes BigTIFF then.
  const uint64_t bytes = uint64_t(bmp.RowLen()) * bmp.Height() * 4 / 3;
  MemoryFile memory;
  TiffPtr tif = Open(nullptr, &memory, bytes > 0xF0000000ull ? "w8" : "w", messages, 0);
  if (!tif) return reason = messages.error.empty() ? "cannot write a TIFF file" : messages.error, false;
  if (!WriteDirectory(tif.get(), bmp, false, messages, reason)) return false;
  if (params.embedThumbnail) {
    IEBitmap thumb;
    if (!MakeEmbeddedThumbnail(bmp, thumb)) return reason = "not enough memory for the thumbnail", false;
    if (!WriteDirectory(tif.get(), thumb, true, messages, reason)) return false;
  }
  TIFFClose(tif.release());
  if (!messages.error.empty()) return reason = messages.error, false;
  return WriteBytes(out, memory.data.data(), memory.data.size(), reason);
}

}  // namespace velmora::codecs
