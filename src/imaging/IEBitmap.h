// The pixel buffer every picture of Velmora lives in: the photo, layers,
// undo copies, templates, masks and scratch buffers.
//
// Rows are stored bottom-up and padded to 32 bits, as the rest of the
// imaging code expects; ScanLine(0) is always the top row whatever the
// storage. Pixels live in memory, in a memory-mapped temporary file (very
// large pictures), or in a "standard bitmap" provided by the GUI layer
// (see SetStandardBitmapProvider).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace velmora {

// Ordinal values matter: the processor's conversion table counts on them.
enum class IEPixelFormat : int {
  ieNone = 0,
  ie1g = 1,      // 1 bit, 1 = white, bit 7 of byte 0 is the leftmost pixel
  ie8p = 2,      // index into a 256-entry palette of (b, g, r)
  ie8g = 3,      // grey level; also alpha channels
  ie16g = 4,     // 16-bit grey level
  ie24RGB = 5,   // b, g, r bytes
  ie32f = 6,     // one float per pixel, 0..1 when converted from other formats
  ieCMYK = 7,    // c, m, y, k bytes
  ieRGB48 = 8,   // three 16-bit words (b, g, r)
  ieCIELab = 9,  // L (0..255 for 0..100), a + 128, b + 128
  ie32RGB = 10,  // b, g, r, 0
};
constexpr int kPixelFormatCount = 11;

int BitsPerPixel(IEPixelFormat f);
const char* PixelFormatName(IEPixelFormat f);

struct IETriple {
  uint8_t b = 0, g = 0, r = 0;
  friend bool operator==(const IETriple&, const IETriple&) = default;
};
static_assert(sizeof(IETriple) == 3);

enum class IELocation { ieMemory, ieFile, ieAuto, ieTBitmap };

// Raised when a pixel format cannot live where it was asked to.
class IEBitmapError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Where the rows of a bitmap are. ScanLine(y) = top + y * stride, so one
// store serves bottom-up memory rows (negative stride) and top-down
// standard bitmaps (positive stride) alike.
class PixelStore {
 public:
  virtual ~PixelStore() = default;
  uint8_t* top = nullptr;
  std::ptrdiff_t stride = 0;
  // Which kind of storage this is (ieMemory, ieFile or ieTBitmap).
  virtual IELocation Kind() const = 0;
};

class IEBitmap;

// The GUI layer supplies the standard-bitmap storage (a QImage); the core
// only knows it as a PixelStore. Returns nullptr when it cannot be made.
using StandardBitmapFactory = std::unique_ptr<PixelStore> (*)(int width, int height, IEPixelFormat format,
                                                              std::size_t rowLen);
void SetStandardBitmapProvider(StandardBitmapFactory factory);

class IEBitmap {
 public:
  IEBitmap() = default;
  IEBitmap(int width, int height, IEPixelFormat format) { Allocate(width, height, format); }
  ~IEBitmap();
  IEBitmap(const IEBitmap& other) { Assign(other); }
  IEBitmap& operator=(const IEBitmap& other) {
    if (this != &other) Assign(other);
    return *this;
  }
  IEBitmap(IEBitmap&& other) noexcept;
  IEBitmap& operator=(IEBitmap&& other) noexcept;

  // Discards pixels and alpha; allocates w x h pixels. Zero width or height
  // leaves an empty bitmap. False (and an empty bitmap) when memory cannot
  // be had.
  bool Allocate(int width, int height, IEPixelFormat format);
  void Free();

  int Width() const { return width_; }
  int Height() const { return height_; }
  IEPixelFormat PixelFormat() const { return format_; }
  bool IsEmpty() const { return width_ == 0 || height_ == 0; }
  int BitCount() const { return BitsPerPixel(format_); }
  std::size_t RowLen() const { return rowLen_; }
  static std::size_t RowLenFor(int width, IEPixelFormat format);

  uint8_t* ScanLine(int row) { return store_->top + static_cast<std::ptrdiff_t>(row) * store_->stride; }
  const uint8_t* ScanLine(int row) const {
    return store_->top + static_cast<std::ptrdiff_t>(row) * store_->stride;
  }

  // Palette of ie8p pictures (256 entries).
  IETriple* Palette() { return palette_.get(); }
  const IETriple* Palette() const { return palette_.get(); }

  // Exact copy: size, format, pixels, palette, all-opaque flag and alpha
  // channel (removed here when the source has none).
  void Assign(const IEBitmap& source);
  // Size, format, pixels and palette only; this bitmap's alpha channel is
  // kept as it is and the all-opaque flag is cleared.
  void AssignImage(const IEBitmap& source);

  IEBitmap& AlphaChannel();  // created all-255 on first use
  const IEBitmap* AlphaChannelIfAny() const { return alpha_.get(); }
  bool HasAlphaChannel() const { return alpha_ != nullptr; }
  void SetAlpha(int x, int y, uint8_t v);
  uint8_t Alpha(int x, int y) const;  // 255 without a channel
  void RemoveAlphaChannel(bool merge = false, uint32_t color = 0xFFFFFF);
  // True when every alpha value is known to be 255.
  bool AlphaAllOpaque() const { return allOpaque_; }
  void SetAlphaAllOpaque(bool v) { allOpaque_ = v; }

  void SetWidth(int w);
  void SetHeight(int h);
  // Alignments: 0 left/top, 1 centre, 2 right/bottom.
  void Resize(int w, int h, double fill, double alphaFill, int horizontalAlign, int verticalAlign);
  // Inclusive rectangle, clipped; v = trunc(value).
  void FillRect(int x1, int y1, int x2, int y2, double value);
  void Fill(double value) { FillRect(0, 0, width_ - 1, height_ - 1, value); }
  // Pixels only (not alpha), clipped to both bitmaps. Same format, or ie1g
  // into ie24RGB.
  void CopyRectTo(IEBitmap& dest, int sx, int sy, int dx, int dy, int w, int h) const;

  // Storage. Setting ieTBitmap raises IEBitmapError for the formats that a
  // standard bitmap cannot hold; a 16-bit grey picture becomes ie8g there.
  IELocation Location() const { return location_; }
  void SetLocation(IELocation location);
  // The store itself (the GUI adapter reaches its QImage through it).
  PixelStore* Store() { return store_.get(); }
  // ieMemory, ieFile or ieTBitmap: where the pixels are right now.
  IELocation StorageKind() const { return store_ ? store_->Kind() : IELocation::ieMemory; }

  // Convert in place to another format (pixels of the other formats are
  // derived through the conversions documented in IEBitmap.cpp).
  bool ConvertFormat(IEPixelFormat target);

  // Convenience for ie24RGB pictures.
  IETriple& Pixel24(int x, int y) { return reinterpret_cast<IETriple*>(ScanLine(y))[x]; }
  const IETriple& Pixel24(int x, int y) const { return reinterpret_cast<const IETriple*>(ScanLine(y))[x]; }
  // Bit of an ie1g picture (true = white).
  bool Bit(int x, int y) const { return (ScanLine(y)[x >> 3] >> (7 - (x & 7))) & 1; }
  void SetBit(int x, int y, bool white);

  // The limit above which automatic bitmaps go to a temporary file:
  // trunc(physical memory / 1.3), or 32 MB when that cannot be read.
  static std::size_t MemoryLimit();
  static void SetMemoryLimit(std::size_t bytes);  // for tests and tuning

 private:
  bool AllocateStore(IELocation where);
  void ClearAlphaNoCopy();

  int width_ = 0, height_ = 0;
  IEPixelFormat format_ = IEPixelFormat::ieNone;
  std::size_t rowLen_ = 0;
  std::unique_ptr<PixelStore> store_;
  std::unique_ptr<IETriple[]> palette_;
  std::unique_ptr<IEBitmap> alpha_;
  bool allOpaque_ = true;
  IELocation location_ = IELocation::ieAuto;
};

}  // namespace velmora
