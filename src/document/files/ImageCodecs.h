// The codecs behind ImageFile.h, for its own use. Each decoder fills a
// fresh bitmap from an open stream and each encoder writes a bitmap the
// caller has already brought into a format the encoder takes; both return
// false with the reason (no file name) in `reason`.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "document/files/FormatTable.h"
#include "document/files/ImageFile.h"
#include "imaging/IEBitmap.h"

namespace velmora::codecs {

// Empty when a width x height picture is within the limits, otherwise why
// not. Runs before any pixel memory is taken.
std::string CheckDimensions(uint64_t width, uint64_t height, const ImageLimits& limits);
// Allocates `bmp`; false with the reason when memory cannot be had.
bool AllocateBitmap(IEBitmap& bmp, int width, int height, IEPixelFormat format, std::string& reason);

// ie24RGB, ie8g or ie1g without alpha.
bool DecodeJpeg(std::FILE* in, const DecodeOptions& options, IEBitmap& out, std::string& reason);
bool EncodeJpeg(std::FILE* out, const IEBitmap& bmp, const SaveParams& params, const std::string& ext,
                std::string& reason);
bool EncodeJpegToMemory(const IEBitmap& bmp, const SaveParams& params, std::vector<uint8_t>& out,
                        std::string& reason);

// ie24RGB (alpha written when some value is below 255), ie8g (likewise),
// ie1g or ie8p.
bool DecodePng(std::FILE* in, const DecodeOptions& options, IEBitmap& out, std::string& reason);
bool EncodePng(std::FILE* out, const IEBitmap& bmp, const SaveParams& params, const std::string& ext,
               std::string& reason);

// P6 from ie24RGB, P5 from ie8g, P4 from ie1g; no alpha.
bool DecodePnm(std::FILE* in, const DecodeOptions& options, IEBitmap& out, std::string& reason);
bool EncodePnm(std::FILE* out, const IEBitmap& bmp, const SaveParams& params, const std::string& ext,
               std::string& reason);

// True when some alpha value is below 255.
bool HasTransparency(const IEBitmap& bmp);
// Allocates an ie24RGB picture, with an alpha channel when asked; false
// with the reason when memory cannot be had. `alpha` points at the channel
// (nullptr without one).
bool AllocateRgb(IEBitmap& bmp, int width, int height, bool withAlpha, IEBitmap*& alpha, std::string& reason);
// After decoding into a picture with an alpha channel: keeps the channel
// (marked not all-opaque) when some pixel is transparent, drops it when
// every pixel is opaque. Without a channel it does nothing.
void SettleAlpha(IEBitmap& bmp, bool transparent);

// TIFF through libtiff: ie24RGB (alpha when the file has it) or ie1g;
// writes ie24RGB (RGBA with transparency), ie8g and ie1g.
bool DecodeTiff(std::FILE* in, const DecodeOptions& options, IEBitmap& out, std::string& reason);
bool EncodeTiff(std::FILE* out, const IEBitmap& bmp, const SaveParams& params, const std::string& ext,
                std::string& reason);

// GIF through giflib: the first frame as ie24RGB, transparency as alpha;
// writes ie24RGB reduced to 256 colours (one of them transparent when
// some alpha value is below 128).
bool DecodeGif(std::FILE* in, const DecodeOptions& options, IEBitmap& out, std::string& reason);
bool EncodeGif(std::FILE* out, const IEBitmap& bmp, const SaveParams& params, const std::string& ext,
               std::string& reason);

// Windows bitmap: ie24RGB (alpha from 32-bit files that use it) or ie1g;
// writes ie24RGB, ie8g (grey palette) and ie1g.
bool DecodeBmp(std::FILE* in, const DecodeOptions& options, IEBitmap& out, std::string& reason);
bool EncodeBmp(std::FILE* out, const IEBitmap& bmp, const SaveParams& params, const std::string& ext,
               std::string& reason);

// Windows icon and cursor: the largest image, ie24RGB with alpha; writes
// one ie24RGB image of at most 256 x 256 pixels.
bool DecodeIco(std::FILE* in, const DecodeOptions& options, IEBitmap& out, std::string& reason);
bool EncodeIco(std::FILE* out, const IEBitmap& bmp, const SaveParams& params, const std::string& ext,
               std::string& reason);

// Targa: ie24RGB (alpha from 32-bit files); writes 24 or 32 bits.
bool DecodeTga(std::FILE* in, const DecodeOptions& options, IEBitmap& out, std::string& reason);
bool EncodeTga(std::FILE* out, const IEBitmap& bmp, const SaveParams& params, const std::string& ext,
               std::string& reason);

// PCX and multipage PCX (the first page): ie24RGB or ie1g; writes ie24RGB.
bool DecodePcx(std::FILE* in, const DecodeOptions& options, IEBitmap& out, std::string& reason);
bool EncodePcx(std::FILE* out, const IEBitmap& bmp, const SaveParams& params, const std::string& ext,
               std::string& reason);
bool DecodeDcx(std::FILE* in, const DecodeOptions& options, IEBitmap& out, std::string& reason);
bool EncodeDcx(std::FILE* out, const IEBitmap& bmp, const SaveParams& params, const std::string& ext,
               std::string& reason);

// Wireless bitmap type 0: ie1g both ways.
bool DecodeWbmp(std::FILE* in, const DecodeOptions& options, IEBitmap& out, std::string& reason);
bool EncodeWbmp(std::FILE* out, const IEBitmap& bmp, const SaveParams& params, const std::string& ext,
                std::string& reason);

// The rest of an open stream, for the decoders that parse a whole file;
// false with the reason on a read error or beyond `maxBytes`.
bool ReadRest(std::FILE* in, std::vector<uint8_t>& data, std::string& reason, uint64_t maxBytes = 1ull << 31);
// Writes all of `data`; false with the system's reason.
bool WriteBytes(std::FILE* out, const void* data, std::size_t size, std::string& reason);

// Little-endian reads from a byte range, checked against its end: a read
// past it sets `failed` and gives 0, so a parser checks once afterwards.
class ByteReader {
 public:
  ByteReader(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Seek(uint64_t pos) {
    if (pos > size_) return Fail();
    pos_ = static_cast<std::size_t>(pos);
    return true;
  }
  bool Skip(uint64_t n) { return Seek(pos_ + n); }
  std::size_t Pos() const { return pos_; }
  std::size_t Size() const { return size_; }
  std::size_t Left() const { return size_ - pos_; }
  bool Failed() const { return failed_; }
  const uint8_t* Data() const { return data_; }
  uint8_t U8() {
    if (pos_ >= size_) return static_cast<uint8_t>(Fail());
    return data_[pos_++];
  }
  uint16_t U16() {
    const uint16_t lo = U8();
    return static_cast<uint16_t>(lo | U8() << 8);
  }
  uint32_t U32() {
    const uint32_t lo = U16();
    return lo | static_cast<uint32_t>(U16()) << 16;
  }
  // `n` bytes in place, or nullptr past the end.
  const uint8_t* Take(std::size_t n) {
    if (n > size_ - pos_) return Fail(), nullptr;
    const uint8_t* p = data_ + pos_;
    pos_ += n;
    return p;
  }

 private:
  bool Fail() {
    failed_ = true;
    pos_ = size_;
    return false;
  }
  const uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
  bool failed_ = false;
};

}  // namespace velmora::codecs
