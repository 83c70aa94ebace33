// Targa: colour-mapped, true-colour and grey pictures, plain or
// run-length encoded. Written here; every field of the header is checked
// before it is used.
#include <cstring>

#include "document/files/ImageCodecs.h"

namespace velmora::codecs {

namespace {

struct Bgra {
  uint8_t b = 0, g = 0, r = 0, a = 255;
};

// A 15- or 16-bit colour: five bits per channel.
Bgra From16(uint32_t v) {
  auto five = [](uint32_t c) { return static_cast<uint8_t>((c << 3) | (c >> 2)); };
  return Bgra{five(v & 31), five((v >> 5) & 31), five((v >> 10) & 31), 255};
}

Bgra ReadColour(ByteReader& r, int depth) {
  switch (depth) {
    case 8: {
      const uint8_t v = r.U8();
      return Bgra{v, v, v, 255};
    }
    case 15:
    case 16:
      return From16(r.U16());
    case 24: {
      Bgra c;
      c.b = r.U8(), c.g = r.U8(), c.r = r.U8();
      return c;
    }
    default: {
      Bgra c;
      c.b = r.U8(), c.g = r.U8(), c.r = r.U8(), c.a = r.U8();
      return c;
    }
  }
}

}  // namespace

bool DecodeTga(std::FILE* in, const DecodeOptions& options, IEBitmap& out, std::string& reason) {
  std::vector<uint8_t> file;
  if (!ReadRest(in, file, reason)) return false;
  ByteReader r(file.data(), file.size());
  const unsigned idLength = r.U8(), mapType = r.U8(), type = r.U8();
  const unsigned mapFirst = r.U16(), mapLength = r.U16(), mapDepth = r.U8();
  r.Skip(4);  // origin
  const unsigned w = r.U16(), h = r.U16(), depth = r.U8(), descriptor = r.U8();
  if (r.Failed()) return reason = file.empty() ? "empty file" : "file truncated in the header", false;
  const bool rle = type >= 9;
  const unsigned kind = rle ? type - 8 : type;  // 1 colour-mapped, 2 true colour, 3 grey
  if (kind < 1 || kind > 3 || mapType > 1) return reason = "not a Targa file", false;
  if (kind == 1 && (mapType != 1 || (depth != 8 && depth != 16)))
    return reason = "unsupported colour-mapped Targa file", false;
  if (kind == 2 && depth != 15 && depth != 16 && depth != 24 && depth != 32)
    return reason = "unsupported bit depth " + std::to_string(depth), false;
  if (kind == 3 && depth != 8 && depth != 16) return reason = "unsupported bit depth " + std::to_string(depth), false;
  if (mapType == 1 && mapDepth != 15 && mapDepth != 16 && mapDepth != 24 && mapDepth != 32)
    return reason = "unsupported colour map depth " + std::to_string(mapDepth), false;
  if (w == 0 || h == 0) return reason = "invalid size", false;
  reason = CheckDimensions(w, h, options.limits);
  if (!reason.empty()) return false;

  r.Skip(idLength);
  std::vector<Bgra> map;
  if (mapType == 1) {
    map.resize(mapLength);
    for (Bgra& c : map) c = ReadColour(r, static_cast<int>(mapDepth));
    if (r.Failed()) return reason = "file truncated in the colour map", false;
  }
  const unsigned bytes = (depth + 7) / 8;
  const uint64_t pixels = uint64_t(w) * h;
  // Even run-length data needs a byte per 128 pixels.
  if (rle ? pixels / 128 > r.Left() : pixels * bytes > r.Left()) return reason = "file truncated in the pixels", false;

  // Only 32-bit files that declare alpha bits carry alpha (grey + alpha
  // too); many writers leave it all zero, which means none.
  const bool wantAlpha = (kind == 2 && depth == 32 && (descriptor & 15) != 0) || (kind == 3 && depth == 16);
  IEBitmap bmp;
  if (!AllocateBitmap(bmp, static_cast<int>(w), static_cast<int>(h), IEPixelFormat::ie24RGB, reason)) return false;
  IEBitmap* alpha = wantAlpha ? &bmp.AlphaChannel() : nullptr;
  const bool topDown = descriptor & 0x20, rightToLeft = descriptor & 0x10;
  auto pixel = [&]() -> Bgra {
    if (kind == 1) {
      const unsigned index = depth == 8 ? r.U8() : r.U16();
      return index >= mapFirst && index - mapFirst < map.size() ? map[index - mapFirst] : Bgra{};
    }
    if (kind == 3) {
      const uint8_t v = r.U8();
      return Bgra{v, v, v, depth == 16 ? r.U8() : uint8_t{255}};
    }
    return ReadColour(r, static_cast<int>(depth));
  };
  bool anyAlpha = false;
  unsigned run = 0;  // pixels left in the current packet
  bool repeat = false;
  Bgra value;
  for (uint64_t i = 0; i < pixels; ++i) {
    if (!rle) {
      value = pixel();
    } else {
      if (run == 0) {
        const uint8_t head = r.U8();
        run = (head & 127u) + 1;
        repeat = head & 128;
        if (repeat) value = pixel();
      }
      if (!repeat) value = pixel();
      --run;
    }
    if (r.Failed()) return reason = "file truncated in the pixels", false;
    const unsigned fx = static_cast<unsigned>(i % w), fy = static_cast<unsigned>(i / w);
    const int x = static_cast<int>(rightToLeft ? w - 1 - fx : fx), y = static_cast<int>(topDown ? fy : h - 1 - fy);
    uint8_t* p = bmp.ScanLine(y) + 3 * x;
    p[0] = value.b, p[1] = value.g, p[2] = value.r;
    if (alpha) {
      alpha->ScanLine(y)[x] = value.a;
      anyAlpha |= value.a != 0;
    }
  }
  if (alpha) {
    if (!anyAlpha)
      bmp.RemoveAlphaChannel();
    else
      bmp.SetAlphaAllOpaque(!HasTransparency(bmp));
  }
  out = std::move(bmp);
  return true;
}

bool EncodeTga(std::FILE* out, const IEBitmap& bmp, const SaveParams&, const std::string&, std::string& reason) {
  const int w = bmp.Width(), h = bmp.Height();
  if (bmp.PixelFormat() != IEPixelFormat::ie24RGB) return reason = "unsupported pixel format", false;
  if (w > 65535 || h > 65535) return reason = "picture too large for a Targa file", false;
  const bool alpha = HasTransparency(bmp);
  const uint8_t head[18] = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                            static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8),
                            static_cast<uint8_t>(h), static_cast<uint8_t>(h >> 8),
                            static_cast<uint8_t>(alpha ? 32 : 24),
                            static_cast<uint8_t>(0x20 | (alpha ? 8 : 0))};  // top row first
  if (!WriteBytes(out, head, sizeof head, reason)) return false;
  std::vector<uint8_t> row(static_cast<std::size_t>(w) * (alpha ? 4 : 3));
  for (int y = 0; y < h; ++y) {
    const uint8_t* src = bmp.ScanLine(y);
    if (!alpha) {
      std::memcpy(row.data(), src, row.size());
    } else {
      const uint8_t* a = bmp.AlphaChannelIfAny()->ScanLine(y);
      for (int x = 0; x < w; ++x) std::memcpy(&row[4 * x], src + 3 * x, 3), row[4 * x + 3] = a[x];
    }
    if (!WriteBytes(out, row.data(), row.size(), reason)) return false;
  }
  static const char kFooter[26] = "\0\0\0\0\0\0\0\0TRUEVISION-XFILE.";
  return WriteBytes(out, kFooter, sizeof kFooter, reason);
}

}  // namespace velmora::codecs
