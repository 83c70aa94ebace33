#include "output/ClipboardRaw.h"

#include <cstring>
#include <new>

namespace velmora {

namespace {

constexpr uint8_t kMagic[4] = {'V', 'L', 'R', 'W'};
constexpr uint8_t kAlphaFlag = 1, kOpaqueFlag = 2;

void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t Get16(const uint8_t* p) { return p[0] | uint32_t{p[1]} << 8; }
uint32_t Get32(const uint8_t* p) { return p[0] | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24; }

uint64_t PackedRowBytes(uint64_t width, IEPixelFormat f) { return (width * BitsPerPixel(f) + 7) / 8; }

}  // namespace

std::vector<uint8_t> EncodeRawPicture(const IEBitmap& bmp) {
  if (bmp.IsEmpty()) return {};
  const IEPixelFormat f = bmp.PixelFormat();
  const std::size_t w = static_cast<std::size_t>(bmp.Width()), h = static_cast<std::size_t>(bmp.Height());
  const std::size_t row = PackedRowBytes(w, f);
  const IEBitmap* alpha = bmp.AlphaChannelIfAny();
  const bool palette = f == IEPixelFormat::ie8p && bmp.Palette();
  std::vector<uint8_t> out(kRawClipboardHeaderSize + (palette ? 256 * 3 : 0) + row * h + (alpha ? w * h : 0));
  uint8_t* p = out.data();
  std::memcpy(p, kMagic, 4);
  Put16(p + 4, kRawClipboardVersion);
  Put16(p + 6, static_cast<uint32_t>(f));
  Put32(p + 8, static_cast<uint32_t>(w));
  Put32(p + 12, static_cast<uint32_t>(h));
  p[16] = static_cast<uint8_t>((alpha ? kAlphaFlag : 0) | (alpha && bmp.AlphaAllOpaque() ? kOpaqueFlag : 0));
  p += kRawClipboardHeaderSize;
  if (palette) {
    for (int i = 0; i < 256; ++i, p += 3) {
      p[0] = bmp.Palette()[i].b;
      p[1] = bmp.Palette()[i].g;
      p[2] = bmp.Palette()[i].r;
    }
  }
  for (std::size_t y = 0; y < h; ++y, p += row) std::memcpy(p, bmp.ScanLine(static_cast<int>(y)), row);
  if (alpha)
    for (std::size_t y = 0; y < h; ++y, p += w) std::memcpy(p, alpha->ScanLine(static_cast<int>(y)), w);
  return out;
}

bool DecodeRawPicture(const uint8_t* data, std::size_t size, IEBitmap& out, std::string& reason,
                      const ImageLimits& limits) {
  if (!data || size < kRawClipboardHeaderSize || std::memcmp(data, kMagic, 4) != 0)
    return reason = "not a Velmora picture", false;
  if (Get16(data + 4) != kRawClipboardVersion)
    return reason = "unknown picture version " + std::to_string(Get16(data + 4)), false;
  const uint32_t fv = Get16(data + 6);
  if (fv < 1 || fv >= static_cast<uint32_t>(kPixelFormatCount))
    return reason = "unknown pixel format " + std::to_string(fv), false;
  const IEPixelFormat f = static_cast<IEPixelFormat>(fv);
  const uint64_t w = Get32(data + 8), h = Get32(data + 12);
  const uint8_t flags = data[16];
  // "All opaque" describes an alpha channel; without one the bit is a
  // sign of damage like any other unknown bit.
  if ((flags & ~(kAlphaFlag | kOpaqueFlag)) != 0 || ((flags & kOpaqueFlag) && !(flags & kAlphaFlag)) || data[17] ||
      data[18] || data[19])
    return reason = "damaged picture header", false;
  if (w == 0 || h == 0) return reason = "empty picture", false;
  const uint64_t maxSide = static_cast<uint64_t>(limits.maxSide > 0 ? limits.maxSide : 0);
  if (w > maxSide || h > maxSide || w * h > limits.maxPixels)
    return reason = "picture too large (" + std::to_string(w) + " x " + std::to_string(h) + " pixels)", false;
  const bool hasAlpha = flags & kAlphaFlag;
  const bool palette = f == IEPixelFormat::ie8p;
  const uint64_t row = PackedRowBytes(w, f);
  const uint64_t expected = kRawClipboardHeaderSize + (palette ? 256 * 3 : 0) + row * h + (hasAlpha ? w * h : 0);
  if (size != expected) return reason = "picture data of the wrong length", false;

  IEBitmap bmp;
  try {
    if (!bmp.Allocate(static_cast<int>(w), static_cast<int>(h), f) || bmp.IsEmpty())
      return reason = "not enough memory", false;
    const uint8_t* p = data + kRawClipboardHeaderSize;
    if (palette) {
      for (int i = 0; i < 256; ++i, p += 3) bmp.Palette()[i] = IETriple{p[0], p[1], p[2]};
    }
    for (uint64_t y = 0; y < h; ++y, p += row) std::memcpy(bmp.ScanLine(static_cast<int>(y)), p, row);
    if (hasAlpha) {
      IEBitmap& a = bmp.AlphaChannel();
      if (a.Width() != static_cast<int>(w) || a.Height() != static_cast<int>(h))
        return reason = "not enough memory", false;
      for (uint64_t y = 0; y < h; ++y, p += w) std::memcpy(a.ScanLine(static_cast<int>(y)), p, w);
      bmp.SetAlphaAllOpaque(flags & kOpaqueFlag);
    }
  } catch (const std::bad_alloc&) {
    return reason = "not enough memory", false;
  }
  out = std::move(bmp);
  return true;
}

}  // namespace velmora
