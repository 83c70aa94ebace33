#include "imaging/IEBitmap.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <utility>

#include "imaging/Color.h"
#include "imaging/FormatConvert.h"
#include "imaging/Parallel.h"

namespace velmora {

int BitsPerPixel(IEPixelFormat f) {
  static constexpr int bits[kPixelFormatCount] = {0, 1, 8, 8, 16, 24, 32, 32, 48, 24, 32};
  int i = static_cast<int>(f);
  return i >= 0 && i < kPixelFormatCount ? bits[i] : 0;
}

const char* PixelFormatName(IEPixelFormat f) {
  static constexpr const char* names[kPixelFormatCount] = {"ienull", "ie1g",    "ie8p",    "ie8g",
                                                           "ie16g",  "ie24RGB", "ie32f",   "ieCMYK",
                                                           "ieRGB48", "ieCIELab", "ie32RGB"};
  int i = static_cast<int>(f);
  return i >= 0 && i < kPixelFormatCount ? names[i] : "?";
}

// ---------------------------------------------------------------------------
// Storage

namespace {

constexpr std::size_t kSystemBlock = 1 << 20;  // from here on, zeroed pages from the system

class MemoryStore final : public PixelStore {
 public:
  MemoryStore(uint8_t* base, std::size_t size, bool mapped) : base_(base), size_(size), mapped_(mapped) {}
  ~MemoryStore() override {
    if (mapped_)
      munmap(base_, size_);
    else
      std::free(base_);
  }
  IELocation Kind() const override { return IELocation::ieMemory; }
  uint8_t* base_;
  std::size_t size_;
  bool mapped_;
};

// Pixels of a picture too large for memory: a temporary file "IMG…" in the
// system's temporary folder, mapped into memory. The name is removed as
// soon as the mapping exists, so a crash never leaves the file behind.
class FileStore final : public PixelStore {
 public:
  FileStore(uint8_t* base, std::size_t size) : base_(base), size_(size) {}
  ~FileStore() override { munmap(base_, size_); }
  IELocation Kind() const override { return IELocation::ieFile; }
  uint8_t* base_;
  std::size_t size_;
};

StandardBitmapFactory gStandardFactory = nullptr;

std::atomic<std::size_t> gMemoryLimit{0};

std::size_t ComputeMemoryLimit() {
  long pages = sysconf(_SC_PHYS_PAGES);
  long pageSize = sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || pageSize <= 0) return 33'554'432;
  double total = static_cast<double>(pages) * static_cast<double>(pageSize);
  return static_cast<std::size_t>(std::trunc(total / 1.3));
}

std::unique_ptr<PixelStore> MakeMemoryStore(std::size_t size, std::size_t rowLen, int height) {
  uint8_t* base = nullptr;
  bool mapped = false;
  std::size_t bytes = std::max<std::size_t>(size, 1);
  if (bytes >= kSystemBlock) {
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    base = static_cast<uint8_t*>(p);
    mapped = true;
  } else {
    std::size_t rounded = (bytes + 31) / 32 * 32;
    base = static_cast<uint8_t*>(std::aligned_alloc(32, rounded));
    if (!base) return nullptr;
  }
  auto store = std::make_unique<MemoryStore>(base, bytes, mapped);
  store->top = base + rowLen * static_cast<std::size_t>(height - 1);
  store->stride = -static_cast<std::ptrdiff_t>(rowLen);
  return store;
}

std::unique_ptr<PixelStore> MakeFileStore(std::size_t size, std::size_t rowLen, int height) {
  std::error_code ec;
  std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
  if (ec) return nullptr;
  std::string templ = (dir / "IMGXXXXXX").string();
  int fd = mkstemp(templ.data());
  if (fd < 0) return nullptr;
  unlink(templ.c_str());
  if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
    close(fd);
    return nullptr;
  }
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  if (p == MAP_FAILED) return nullptr;
  auto store = std::make_unique<FileStore>(static_cast<uint8_t*>(p), size);
  store->top = store->base_ + rowLen * static_cast<std::size_t>(height - 1);
  store->stride = -static_cast<std::ptrdiff_t>(rowLen);
  return store;
}

}  // namespace

void SetStandardBitmapProvider(StandardBitmapFactory factory) { gStandardFactory = factory; }

std::size_t IEBitmap::MemoryLimit() {
  std::size_t v = gMemoryLimit.load();
  if (v == 0) {
    v = ComputeMemoryLimit();
    gMemoryLimit.store(v);
  }
  return v;
}

void IEBitmap::SetMemoryLimit(std::size_t bytes) { gMemoryLimit.store(bytes); }

std::size_t IEBitmap::RowLenFor(int width, IEPixelFormat format) {
  return ((static_cast<std::size_t>(width) * BitsPerPixel(format) + 31) / 32) * 4;
}

// ---------------------------------------------------------------------------
// Life cycle

IEBitmap::~IEBitmap() = default;

IEBitmap::IEBitmap(IEBitmap&& o) noexcept { *this = std::move(o); }

IEBitmap& IEBitmap::operator=(IEBitmap&& o) noexcept {
  if (this == &o) return *this;
  width_ = std::exchange(o.width_, 0);
  height_ = std::exchange(o.height_, 0);
  format_ = std::exchange(o.format_, IEPixelFormat::ieNone);
  rowLen_ = std::exchange(o.rowLen_, 0);
  store_ = std::move(o.store_);
  palette_ = std::move(o.palette_);
  alpha_ = std::move(o.alpha_);
  allOpaque_ = std::exchange(o.allOpaque_, true);
  location_ = std::exchange(o.location_, IELocation::ieAuto);
  return *this;
}

void IEBitmap::Free() {
  store_.reset();
  palette_.reset();
  alpha_.reset();
  width_ = height_ = 0;
  rowLen_ = 0;
  allOpaque_ = true;
}

bool IEBitmap::AllocateStore(IELocation where) {
  std::size_t size = rowLen_ * static_cast<std::size_t>(height_);
  store_.reset();
  switch (where) {
    case IELocation::ieTBitmap:
      if (gStandardFactory) store_ = gStandardFactory(width_, height_, format_, rowLen_);
      break;
    case IELocation::ieFile:
      store_ = MakeFileStore(size, rowLen_, height_);
      if (!store_) store_ = MakeMemoryStore(size, rowLen_, height_);
      break;
    case IELocation::ieAuto:
      if (size >= MemoryLimit()) store_ = MakeFileStore(size, rowLen_, height_);
      if (!store_) store_ = MakeMemoryStore(size, rowLen_, height_);
      break;
    case IELocation::ieMemory:
      store_ = MakeMemoryStore(size, rowLen_, height_);
      break;
  }
  return store_ != nullptr;
}

static void CheckStandardBitmapFormat(IEPixelFormat f) {
  switch (f) {
    case IEPixelFormat::ie32f:
      throw IEBitmapError("ie32f pixel format not allowed when Location=ieTBitmap");
    case IEPixelFormat::ieCMYK:
      throw IEBitmapError("ieCMYK pixel format not allowed when Location=ieTBitmap");
    case IEPixelFormat::ieRGB48:
      throw IEBitmapError("ieRGB48 pixel format not allowed when Location=ieTBitmap");
    case IEPixelFormat::ieCIELab:
      throw IEBitmapError("ieCIELab pixel format not allowed when Location=ieTBitmap");
    default:
      break;
  }
}

bool IEBitmap::Allocate(int width, int height, IEPixelFormat format) {
  // Refused before anything is discarded, so the bitmap stays whole.
  if (location_ == IELocation::ieTBitmap && width > 0 && height > 0) {
    CheckStandardBitmapFormat(format);
    if (format == IEPixelFormat::ie16g) format = IEPixelFormat::ie8g;
  }
  alpha_.reset();
  store_.reset();
  palette_.reset();
  allOpaque_ = true;
  if (width <= 0 || height <= 0 || format == IEPixelFormat::ieNone) {
    width_ = height_ = 0;
    rowLen_ = 0;
    format_ = format;
    return width == 0 || height == 0;
  }
  width_ = width;
  height_ = height;
  format_ = format;
  rowLen_ = RowLenFor(width, format);
  if (format == IEPixelFormat::ie8p) {
    palette_.reset(new (std::nothrow) IETriple[256]());
    if (!palette_) {
      Free();
      return false;
    }
  }
  if (!AllocateStore(location_)) {
    Free();
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Copies

// Rows are copied on all cores: the copy of a photo (an undo copy, say)
// first touches every page of fresh memory, which costs more than the copy.
static void CopyRows(const IEBitmap& src, IEBitmap& dst) {
  const std::size_t n = std::min(src.RowLen(), dst.RowLen());
  ParallelRows(0, std::min(src.Height(), dst.Height()), [&](int begin, int end) {
    for (int y = begin; y < end; ++y) std::memcpy(dst.ScanLine(y), src.ScanLine(y), n);
  });
}

void IEBitmap::AssignImage(const IEBitmap& source) {
  if (this == &source) return;
  std::unique_ptr<IEBitmap> keepAlpha = std::move(alpha_);
  Allocate(source.width_, source.height_, source.format_);
  alpha_ = std::move(keepAlpha);
  if (!IsEmpty()) {
    CopyRows(source, *this);
    if (palette_ && source.palette_) std::memcpy(palette_.get(), source.palette_.get(), 256 * sizeof(IETriple));
  }
  allOpaque_ = false;
}

void IEBitmap::Assign(const IEBitmap& source) {
  if (this == &source) return;
  AssignImage(source);
  allOpaque_ = source.allOpaque_;
  if (source.alpha_) {
    if (!alpha_) alpha_ = std::make_unique<IEBitmap>();
    alpha_->AssignImage(*source.alpha_);
  } else {
    alpha_.reset();
  }
}

// ---------------------------------------------------------------------------
// Alpha channel

IEBitmap& IEBitmap::AlphaChannel() {
  if (!alpha_) {
    alpha_ = std::make_unique<IEBitmap>();
    alpha_->Allocate(width_, height_, IEPixelFormat::ie8g);
    if (!alpha_->IsEmpty()) alpha_->Fill(255);
    allOpaque_ = true;
  }
  return *alpha_;
}

void IEBitmap::SetAlpha(int x, int y, uint8_t v) {
  IEBitmap& a = AlphaChannel();
  if (x < 0 || y < 0 || x >= a.width_ || y >= a.height_) return;
  a.ScanLine(y)[x] = v;
  if (v != 255) allOpaque_ = false;
}

uint8_t IEBitmap::Alpha(int x, int y) const {
  if (!alpha_ || x < 0 || y < 0 || x >= alpha_->width_ || y >= alpha_->height_) return 255;
  return alpha_->ScanLine(y)[x];
}

void IEBitmap::ClearAlphaNoCopy() {
  alpha_.reset();
  allOpaque_ = true;
}

void IEBitmap::RemoveAlphaChannel(bool merge, uint32_t color) {
  if (merge && alpha_ && format_ == IEPixelFormat::ie24RGB) {
    IETriple bg = ColorToTriple(color);
    // The shift floors, as in the selection blend: an opaque black pixel
    // stays black over white (cutting toward zero would make it 1).
    const int cb = bg.b, cg = bg.g, cr = bg.r;
    for (int y = 0; y < height_; ++y) {
      uint8_t* p = ScanLine(y);
      const uint8_t* a = alpha_->ScanLine(y);
      for (int x = 0; x < width_; ++x, p += 3) {
        const int w = a[x] * 1024;
        p[0] = static_cast<uint8_t>(cb + (((p[0] - cb) * w) >> 18));
        p[1] = static_cast<uint8_t>(cg + (((p[1] - cg) * w) >> 18));
        p[2] = static_cast<uint8_t>(cr + (((p[2] - cr) * w) >> 18));
      }
    }
  }
  ClearAlphaNoCopy();
}

// ---------------------------------------------------------------------------
// Size changes

void IEBitmap::SetWidth(int w) {
  if (w == width_) return;
  Resize(w, height_, 0, 255, 0, 0);
  allOpaque_ = false;
}

void IEBitmap::SetHeight(int h) {
  if (h == height_) return;
  Resize(width_, h, 0, 255, 0, 0);
  allOpaque_ = false;
}

// Offset of the old content inside the new size for one axis.
static int AlignOffset(int oldSize, int newSize, int align) {
  switch (align) {
    case 1:
      return (newSize - oldSize) / 2;
    case 2:
      return newSize - oldSize;
    default:
      return 0;
  }
}

void IEBitmap::Resize(int w, int h, double fill, double alphaFill, int horizontalAlign, int verticalAlign) {
  w = std::max(w, 0);
  h = std::max(h, 0);
  if (w == width_ && h == height_) return;
  IEBitmap next;
  next.location_ = location_;
  if (!next.Allocate(w, h, format_)) return;
  if (next.IsEmpty()) {
    *this = std::move(next);
    allOpaque_ = false;
    return;
  }
  if (palette_ && next.palette_) std::memcpy(next.palette_.get(), palette_.get(), 256 * sizeof(IETriple));
  const int dx = AlignOffset(width_, w, horizontalAlign);
  const int dy = AlignOffset(height_, h, verticalAlign);
  next.Fill(fill);
  if (!IsEmpty()) {
    // dx/dy negative: the content is cut on the opposite side(s).
    CopyRectTo(next, std::max(0, -dx), std::max(0, -dy), std::max(0, dx), std::max(0, dy), width_, height_);
  }
  if (alpha_) {
    IEBitmap& na = next.AlphaChannel();
    na.Fill(alphaFill);
    if (!IsEmpty())
      alpha_->CopyRectTo(na, std::max(0, -dx), std::max(0, -dy), std::max(0, dx), std::max(0, dy), width_, height_);
  }
  IELocation loc = location_;
  *this = std::move(next);
  location_ = loc;
  allOpaque_ = false;
}

void IEBitmap::SetBit(int x, int y, bool white) {
  uint8_t& byte = ScanLine(y)[x >> 3];
  const uint8_t m = static_cast<uint8_t>(0x80 >> (x & 7));
  byte = white ? (byte | m) : (byte & ~m);
}

void IEBitmap::FillRect(int x1, int y1, int x2, int y2, double value) {
  if (IsEmpty()) return;
  x1 = std::max(x1, 0);
  y1 = std::max(y1, 0);
  x2 = std::min(x2, width_ - 1);
  y2 = std::min(y2, height_ - 1);
  if (x1 > x2 || y1 > y2) return;
  const double tv = std::trunc(value);
  const int64_t v = static_cast<int64_t>(std::clamp(tv, -2147483648.0, 4294967295.0));
  const int n = x2 - x1 + 1;
  for (int y = y1; y <= y2; ++y) {
    uint8_t* row = ScanLine(y);
    switch (format_) {
      case IEPixelFormat::ie1g:
        for (int x = x1; x <= x2; ++x) SetBit(x, y, v != 0);
        break;
      case IEPixelFormat::ie8p:
      case IEPixelFormat::ie8g:
        std::memset(row + x1, static_cast<uint8_t>(v), n);
        break;
      case IEPixelFormat::ie16g: {
        auto* p = reinterpret_cast<uint16_t*>(row) + x1;
        std::fill(p, p + n, static_cast<uint16_t>(v));
        break;
      }
      case IEPixelFormat::ie24RGB: {
        const IETriple t = ColorToTriple(static_cast<uint32_t>(v));
        auto* p = reinterpret_cast<IETriple*>(row) + x1;
        std::fill(p, p + n, t);
        break;
      }
      case IEPixelFormat::ie32f: {
        auto* p = reinterpret_cast<float*>(row) + x1;
        std::fill(p, p + n, static_cast<float>(tv));
        break;
      }
      case IEPixelFormat::ie32RGB: {
        const IETriple t = ColorToTriple(static_cast<uint32_t>(v));
        for (int x = x1; x <= x2; ++x) {
          uint8_t* p = row + 4 * x;
          p[0] = t.b, p[1] = t.g, p[2] = t.r, p[3] = 0;
        }
        break;
      }
      case IEPixelFormat::ieCMYK: {
        const uint32_t u = static_cast<uint32_t>(v);
        for (int x = x1; x <= x2; ++x) std::memcpy(row + 4 * x, &u, 4);
        break;
      }
      case IEPixelFormat::ieRGB48: {
        const IETriple t = ColorToTriple(static_cast<uint32_t>(v));
        for (int x = x1; x <= x2; ++x) {
          auto* p = reinterpret_cast<uint16_t*>(row + 6 * x);
          p[0] = static_cast<uint16_t>(t.b * 257), p[1] = static_cast<uint16_t>(t.g * 257),
          p[2] = static_cast<uint16_t>(t.r * 257);
        }
        break;
      }
      case IEPixelFormat::ieCIELab: {
        const IETriple t = ColorToTriple(static_cast<uint32_t>(v));
        for (int x = x1; x <= x2; ++x) std::memcpy(row + 3 * x, &t, 3);
        break;
      }
      default:
        break;
    }
  }
}

void IEBitmap::CopyRectTo(IEBitmap& dest, int sx, int sy, int dx, int dy, int w, int h) const {
  if (IsEmpty() || dest.IsEmpty()) return;
  const bool bitsToRGB = format_ == IEPixelFormat::ie1g && dest.format_ == IEPixelFormat::ie24RGB;
  if (format_ != dest.format_ && !bitsToRGB) return;
  // Clip against the source and the destination.
  if (sx < 0) { dx -= sx; w += sx; sx = 0; }
  if (sy < 0) { dy -= sy; h += sy; sy = 0; }
  if (dx < 0) { sx -= dx; w += dx; dx = 0; }
  if (dy < 0) { sy -= dy; h += dy; dy = 0; }
  w = std::min({w, width_ - sx, dest.width_ - dx});
  h = std::min({h, height_ - sy, dest.height_ - dy});
  if (w <= 0 || h <= 0) return;
  const int bpp = BitCount();
  for (int y = 0; y < h; ++y) {
    const uint8_t* s = ScanLine(sy + y);
    uint8_t* d = dest.ScanLine(dy + y);
    if (bitsToRGB) {
      for (int x = 0; x < w; ++x) {
        const uint8_t v = ((s[(sx + x) >> 3] >> (7 - ((sx + x) & 7))) & 1) ? 255 : 0;
        std::memset(d + 3 * (dx + x), v, 3);
      }
    } else if (bpp == 1) {
      for (int x = 0; x < w; ++x) dest.SetBit(dx + x, dy + y, (s[(sx + x) >> 3] >> (7 - ((sx + x) & 7))) & 1);
    } else {
      const int bytes = bpp / 8;
      std::memcpy(d + static_cast<std::size_t>(dx) * bytes, s + static_cast<std::size_t>(sx) * bytes,
                  static_cast<std::size_t>(w) * bytes);
    }
  }
}

// ---------------------------------------------------------------------------
// Location

void IEBitmap::SetLocation(IELocation location) {
  if (location == IELocation::ieTBitmap) {
    CheckStandardBitmapFormat(format_);
    if (!gStandardFactory) throw IEBitmapError("standard bitmaps are not available");
  }
  if (location == location_ && (IsEmpty() || store_->Kind() == location || location == IELocation::ieAuto)) return;
  if (IsEmpty()) {
    location_ = location;
    return;
  }
  if (location == IELocation::ieTBitmap && format_ == IEPixelFormat::ie16g) ConvertFormat(IEPixelFormat::ie8g);
  std::unique_ptr<PixelStore> old = std::move(store_);
  const IELocation oldLocation = location_;
  if (!AllocateStore(location)) {
    store_ = std::move(old);
    location_ = oldLocation;
    if (location == IELocation::ieTBitmap) throw IEBitmapError("not enough memory for a standard bitmap");
    return;
  }
  location_ = location;
  for (int y = 0; y < height_; ++y)
    std::memcpy(store_->top + y * store_->stride, old->top + y * old->stride, rowLen_);
}

bool IEBitmap::ConvertFormat(IEPixelFormat target) {
  if (target == format_) return true;
  if (IsEmpty()) {
    format_ = target;
    return true;
  }
  if (location_ == IELocation::ieTBitmap) CheckStandardBitmapFormat(target);
  IEBitmap next;
  next.location_ = location_;
  if (!next.Allocate(width_, height_, target)) return false;
  ConvertPixels(*this, next);
  next.alpha_ = std::move(alpha_);
  next.allOpaque_ = allOpaque_;
  *this = std::move(next);
  return true;
}

}  // namespace velmora
