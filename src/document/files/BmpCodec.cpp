// Windows bitmap (BMP, DIB, RLE), icon and cursor. Written here rather
// than taken from a library: the formats are small, and every field of a
// hostile file is checked before it is used.
#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <memory>

#include "document/files/ImageCodecs.h"

namespace velmora::codecs {

namespace {

enum Compression : uint32_t { kRgb = 0, kRle8 = 1, kRle4 = 2, kBitfields = 3, kAlphaBitfields = 6 };

// One channel of a 16- or 32-bit pixel, described by its mask.
struct Channel {
  uint32_t mask = 0;
  int shift = 0;
  uint32_t max = 0;
  explicit Channel(uint32_t m = 0) : mask(m) {
    if (!m) return;
    while (!((m >> shift) & 1)) ++shift;
    max = m >> shift;
  }
  uint8_t Get(uint32_t v) const {
    if (!max) return 0;
    return static_cast<uint8_t>((uint64_t{(v & mask) >> shift} * 255 + max / 2) / max);
  }
};

// A device-independent bitmap: the header, palette and pixels of a BMP
// file after its file header, or an icon's image.
struct Dib {
  int width = 0, height = 0;  // height without the icon's mask half
  bool topDown = false;
  int bits = 0;
  uint32_t compression = kRgb;
  Channel red, green, blue, alpha;
  std::array<IETriple, 256> palette{};
  int colours = 0;
  std::size_t headerEnd = 0;  // offset just past the palette
};

bool ParseDib(ByteReader& r, bool icon, Dib& d, std::string& reason) {
  const std::size_t start = r.Pos();
  const uint32_t headerSize = r.U32();
  if (r.Failed()) return reason = "file truncated", false;
  int64_t w, h;
  unsigned planes;
  bool core = false;
  uint32_t coloursUsed = 0;
  if (headerSize == 12) {
    core = true;
    w = r.U16();
    h = static_cast<int16_t>(r.U16());
    planes = r.U16();
    d.bits = r.U16();
  } else if (headerSize == 40 || headerSize == 52 || headerSize == 56 || headerSize == 64 || headerSize == 108 ||
             headerSize == 124) {
    w = static_cast<int32_t>(r.U32());
    h = static_cast<int32_t>(r.U32());
    planes = r.U16();
    d.bits = r.U16();
    d.compression = r.U32();
    r.Skip(12);  // image size, resolution
    coloursUsed = r.U32();
    r.Skip(4);
  } else {
    reason = "unsupported bitmap header (" + std::to_string(headerSize) + " bytes)";
    return false;
  }
  if (r.Failed()) return reason = "file truncated", false;
  if (planes != 1 && !icon) return reason = "invalid number of planes", false;
  if (h < 0) {
    d.topDown = true;
    h = -h;
  }
  if (icon) h /= 2;
  if (w <= 0 || h <= 0) return reason = "invalid size", false;
  if (w > INT_MAX || h > INT_MAX) return reason = "picture too large (" + std::to_string(w) + " x " + std::to_string(h) + " pixels)", false;
  d.width = static_cast<int>(w);
  d.height = static_cast<int>(h);

  switch (d.bits) {
    case 1: case 4: case 8: case 16: case 24: case 32: break;
    default: return reason = "unsupported bit depth " + std::to_string(d.bits), false;
  }
  const bool masks = d.compression == kBitfields || d.compression == kAlphaBitfields;
  if (d.compression == kRle8 ? d.bits != 8
      : d.compression == kRle4 ? d.bits != 4
      : masks ? (d.bits != 16 && d.bits != 32)
      : d.compression != kRgb)
    return reason = "unsupported compression " + std::to_string(d.compression), false;
  if ((d.compression == kRle8 || d.compression == kRle4) && d.topDown)
    return reason = "compressed bitmaps cannot be stored top-down", false;

  if (d.bits == 16) {
    d.red = Channel(0x7C00), d.green = Channel(0x03E0), d.blue = Channel(0x001F);
  } else if (d.bits == 32) {
    d.red = Channel(0xFF0000), d.green = Channel(0xFF00), d.blue = Channel(0xFF);
    if (icon) d.alpha = Channel(0xFF000000u);
  }
  // Masks follow a 40-byte header, or are part of the longer ones.
  if (!core && (masks || headerSize >= 52)) {
    r.Seek(start + 40);
    const uint32_t rm = r.U32(), gm = r.U32(), bm = r.U32();
    const uint32_t am = (d.compression == kAlphaBitfields || headerSize >= 56) ? r.U32() : 0;
    if (r.Failed()) return reason = "file truncated", false;
    if (masks) {
      d.red = Channel(rm), d.green = Channel(gm), d.blue = Channel(bm);
      d.alpha = Channel(am);
    } else if (d.bits == 32 && am) {
      d.alpha = Channel(am);
    }
  }
  std::size_t paletteStart = start + headerSize;
  if (headerSize == 40 && masks) paletteStart += d.compression == kAlphaBitfields ? 16 : 12;
  r.Seek(paletteStart);
  if (d.bits <= 8) {
    const uint32_t all = 1u << d.bits;
    d.colours = static_cast<int>(coloursUsed == 0 || coloursUsed > all ? all : coloursUsed);
    const int entry = core ? 3 : 4;
    for (int i = 0; i < d.colours; ++i) {
      const uint8_t* p = r.Take(entry);
      if (!p) return reason = "file truncated in the palette", false;
      d.palette[static_cast<std::size_t>(i)] = IETriple{p[0], p[1], p[2]};
    }
  }
  d.headerEnd = r.Pos();
  return true;
}

bool IsBilevelPalette(const Dib& d) {
  const IETriple black{0, 0, 0}, white{255, 255, 255};
  return d.bits == 1 && d.colours == 2 && d.palette[0] == black && d.palette[1] == white;
}

uint64_t RowBytes(int width, int bits) { return (uint64_t(width) * bits + 31) / 32 * 4; }

// RLE4/RLE8 into palette indices (pixels the stream skips stay index 0).
bool DecodeRle(ByteReader& r, const Dib& d, IEBitmap& idx, std::string& reason) {
  int x = 0, y = 0;  // y counts from the bottom row
  const int w = d.width, h = d.height;
  auto put = [&](uint8_t v) {
    if (x < w && y < h) idx.ScanLine(h - 1 - y)[x] = v;
    ++x;
  };
  while (y < h) {
    const uint8_t n = r.U8(), v = r.U8();
    if (r.Failed()) return reason = "file truncated in the compressed pixels", false;
    if (n > 0) {
      for (int i = 0; i < n && x < w; ++i) put(d.bits == 8 ? v : (i & 1 ? v & 15 : v >> 4));
      continue;
    }
    if (v == 0) {
      x = 0, ++y;
    } else if (v == 1) {
      return true;
    } else if (v == 2) {
      const uint8_t dx = r.U8(), dy = r.U8();
      x += dx, y += dy;
    } else {
      const std::size_t bytes = d.bits == 8 ? v : (v + 1u) / 2;
      const uint8_t* p = r.Take(bytes);
      if (!p) return reason = "file truncated in the compressed pixels", false;
      for (int i = 0; i < v && x < w; ++i) put(d.bits == 8 ? p[i] : (i & 1 ? p[i / 2] & 15 : p[i / 2] >> 4));
      if (bytes & 1) r.Skip(1);
    }
    if (r.Failed()) return reason = "file truncated in the compressed pixels", false;
  }
  return true;
}

// The pixels of `d` from `pixels` on; `alphaUsed` tells whether the picture
// got a meaningful alpha channel (some value not 0).
bool DecodeDibPixels(ByteReader& r, std::size_t pixels, const Dib& d, const ImageLimits& limits, IEBitmap& out,
                     bool& alphaUsed, std::string& reason) {
  reason = CheckDimensions(uint64_t(d.width), uint64_t(d.height), limits);
  if (!reason.empty()) return false;
  if (!r.Seek(pixels)) return reason = "file truncated before the pixels", false;
  const bool rle = d.compression == kRle8 || d.compression == kRle4;
  const uint64_t stride = RowBytes(d.width, d.bits);
  if (!rle && stride * uint64_t(d.height) > r.Left()) return reason = "file truncated in the pixels", false;
  const int w = d.width, h = d.height;
  auto fileRow = [&](int y) { return d.topDown ? y : h - 1 - y; };  // picture row of file row y
  alphaUsed = false;

  if (d.bits <= 8) {
    IEBitmap idx;
    if (!AllocateBitmap(idx, w, h, IEPixelFormat::ie8p, reason)) return false;
    std::copy(d.palette.begin(), d.palette.end(), idx.Palette());
    if (rle) {
      for (int y = 0; y < h; ++y) std::memset(idx.ScanLine(y), 0, static_cast<std::size_t>(w));
      if (!DecodeRle(r, d, idx, reason)) return false;
    } else {
      for (int fy = 0; fy < h; ++fy) {
        const uint8_t* src = r.Take(static_cast<std::size_t>(stride));
        uint8_t* dst = idx.ScanLine(fileRow(fy));
        const int per = 8 / d.bits, mask = (1 << d.bits) - 1;
        for (int x = 0; x < w; ++x) {
          const int shift = 8 - d.bits * (x % per + 1);
          dst[x] = static_cast<uint8_t>((src[x / per] >> shift) & mask);
        }
      }
    }
    if (!idx.ConvertFormat(IsBilevelPalette(d) ? IEPixelFormat::ie1g : IEPixelFormat::ie24RGB))
      return reason = "not enough memory", false;
    out = std::move(idx);
    return true;
  }

  if (!AllocateBitmap(out, w, h, IEPixelFormat::ie24RGB, reason)) return false;
  IEBitmap* alpha = d.alpha.mask ? &out.AlphaChannel() : nullptr;
  for (int fy = 0; fy < h; ++fy) {
    const uint8_t* src = r.Take(static_cast<std::size_t>(stride));
    const int y = fileRow(fy);
    uint8_t* dst = out.ScanLine(y);
    uint8_t* a = alpha ? alpha->ScanLine(y) : nullptr;
    for (int x = 0; x < w; ++x, dst += 3) {
      if (d.bits == 24) {
        std::memcpy(dst, src + 3 * x, 3);
        continue;
      }
      const uint32_t v = d.bits == 16 ? uint32_t(src[2 * x] | src[2 * x + 1] << 8)
                                      : uint32_t(src[4 * x]) | uint32_t(src[4 * x + 1]) << 8 |
                                            uint32_t(src[4 * x + 2]) << 16 | uint32_t(src[4 * x + 3]) << 24;
      dst[0] = d.blue.Get(v), dst[1] = d.green.Get(v), dst[2] = d.red.Get(v);
      if (a) {
        a[x] = d.alpha.Get(v);
        alphaUsed |= a[x] != 0;
      }
    }
  }
  // Many writers leave the fourth byte zero: that is no alpha at all.
  if (alpha && !alphaUsed) out.RemoveAlphaChannel();
  if (alpha && alphaUsed) out.SetAlphaAllOpaque(!HasTransparency(out));
  return true;
}

// ---------------------------------------------------------------------------
// Writing

void Put16(std::vector<uint8_t>& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}

// A 40-byte info header.
void PutInfoHeader(std::vector<uint8_t>& b, int w, int h, int bits, uint32_t imageSize, int colours) {
  Put32(b, 40);
  Put32(b, static_cast<uint32_t>(w));
  Put32(b, static_cast<uint32_t>(h));
  Put16(b, 1);
  Put16(b, static_cast<uint32_t>(bits));
  Put32(b, kRgb);
  Put32(b, imageSize);
  Put32(b, 2835);  // 72 dots per inch
  Put32(b, 2835);
  Put32(b, static_cast<uint32_t>(colours));
  Put32(b, 0);
}

// Bottom-up rows of `bits` per pixel taken straight from the bitmap (its
// rows already have the BMP layout), padded to four bytes.
bool WriteRows(std::FILE* out, const IEBitmap& bmp, int bits, std::string& reason) {
  const std::size_t stride = static_cast<std::size_t>(RowBytes(bmp.Width(), bits));
  std::vector<uint8_t> row(stride, 0);
  const std::size_t used = (static_cast<std::size_t>(bmp.Width()) * bits + 7) / 8;
  for (int y = bmp.Height() - 1; y >= 0; --y) {
    std::memcpy(row.data(), bmp.ScanLine(y), used);
    if (!WriteBytes(out, row.data(), stride, reason)) return false;
  }
  return true;
}

}  // namespace

bool DecodeBmp(std::FILE* in, const DecodeOptions& options, IEBitmap& out, std::string& reason) {
  std::vector<uint8_t> file;
  if (!ReadRest(in, file, reason)) return false;
  ByteReader r(file.data(), file.size());
  // A .dib file may lack the file header.
  uint64_t pixels = 0;
  if (file.size() >= 2 && file[0] == 'B' && file[1] == 'M') {
    r.Skip(10);
    pixels = r.U32();
    if (r.Failed()) return reason = "file truncated", false;
  } else if (file.size() < 4 || (file[0] != 40 && file[0] != 12 && file[0] != 108 && file[0] != 124) || file[1] ||
             file[2] || file[3]) {
    return reason = file.empty() ? "empty file" : "not a Windows bitmap", false;
  }
  Dib d;
  if (!ParseDib(r, false, d, reason)) return false;
  if (pixels == 0 || pixels < d.headerEnd) pixels = d.headerEnd;
  bool alphaUsed;
  return DecodeDibPixels(r, static_cast<std::size_t>(pixels), d, options.limits, out, alphaUsed, reason);
}

bool EncodeBmp(std::FILE* out, const IEBitmap& bmp, const SaveParams&, const std::string&, std::string& reason) {
  int bits;
  switch (bmp.PixelFormat()) {
    case IEPixelFormat::ie24RGB: bits = 24; break;
    case IEPixelFormat::ie8g: bits = 8; break;
    case IEPixelFormat::ie1g: bits = 1; break;
    default: return reason = "unsupported pixel format", false;
  }
  const int colours = bits == 8 ? 256 : bits == 1 ? 2 : 0;
  const uint64_t imageSize = RowBytes(bmp.Width(), bits) * uint64_t(bmp.Height());
  const uint64_t offset = 14 + 40 + 4 * uint64_t(colours);
  if (offset + imageSize > 0xFFFFFFFFu) return reason = "picture too large for a Windows bitmap", false;
  std::vector<uint8_t> head = {'B', 'M'};
  Put32(head, static_cast<uint32_t>(offset + imageSize));
  Put32(head, 0);
  Put32(head, static_cast<uint32_t>(offset));
  PutInfoHeader(head, bmp.Width(), bmp.Height(), bits, static_cast<uint32_t>(imageSize), colours);
  for (int i = 0; i < colours; ++i) {
    const uint8_t v = static_cast<uint8_t>(bits == 1 ? i * 255 : i);
    head.insert(head.end(), {v, v, v, 0});
  }
  return WriteBytes(out, head.data(), head.size(), reason) && WriteRows(out, bmp, bits, reason);
}

// ---------------------------------------------------------------------------
// Icons and cursors

namespace {

constexpr int kMaxIconSide = 256;

// The icon's AND mask (1 = transparent) as alpha, unless the 32-bit image
// already brought its own.
bool ApplyMask(ByteReader& r, std::size_t at, const Dib& d, IEBitmap& bmp, bool alphaUsed, std::string& reason) {
  if (alphaUsed) return true;
  const uint64_t stride = RowBytes(d.width, 1);
  if (!r.Seek(at) || stride * uint64_t(d.height) > r.Left()) return reason = "file truncated in the icon mask", false;
  bool any = false;
  for (int fy = 0; fy < d.height && !any; ++fy) {
    const uint8_t* m = r.Data() + at + fy * stride;
    for (int x = 0; x < d.width && !any; ++x) any = (m[x >> 3] >> (7 - (x & 7))) & 1;
  }
  if (!any) return true;
  if (bmp.PixelFormat() != IEPixelFormat::ie24RGB && !bmp.ConvertFormat(IEPixelFormat::ie24RGB))
    return reason = "not enough memory", false;
  IEBitmap& alpha = bmp.AlphaChannel();
  for (int fy = 0; fy < d.height; ++fy) {
    const uint8_t* m = r.Data() + at + fy * stride;
    uint8_t* a = alpha.ScanLine(d.topDown ? fy : d.height - 1 - fy);
    for (int x = 0; x < d.width; ++x) a[x] = (m[x >> 3] >> (7 - (x & 7))) & 1 ? 0 : 255;
  }
  bmp.SetAlphaAllOpaque(false);
  return true;
}

struct MemFileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

bool DecodeIco(std::FILE* in, const DecodeOptions& options, IEBitmap& out, std::string& reason) {
  std::vector<uint8_t> file;
  if (!ReadRest(in, file, reason)) return false;
  ByteReader r(file.data(), file.size());
  const unsigned reserved = r.U16(), type = r.U16(), count = r.U16();
  if (r.Failed() || reserved != 0 || (type != 1 && type != 2) || count == 0)
    return reason = file.empty() ? "empty file" : "not a Windows icon or cursor", false;
  // The largest image, the deepest among equals.
  uint64_t bestArea = 0;
  unsigned bestBits = 0;
  uint32_t size = 0, offset = 0;
  for (unsigned i = 0; i < count; ++i) {
    const unsigned w = r.U8(), h = r.U8();
    r.Skip(4);
    const unsigned bits = r.U16();
    const uint32_t s = r.U32(), o = r.U32();
    if (r.Failed()) return reason = "file truncated in the icon directory", false;
    const uint64_t area = uint64_t(w ? w : 256) * (h ? h : 256);
    if (area > bestArea || (area == bestArea && bits > bestBits)) bestArea = area, bestBits = bits, size = s, offset = o;
  }
  if (uint64_t{offset} + size > file.size() || size < 8) return reason = "file truncated in the icon image", false;
  const uint8_t* data = file.data() + offset;
  static const uint8_t kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (std::memcmp(data, kPng, 8) == 0) {
    std::unique_ptr<std::FILE, MemFileCloser> mem(fmemopen(const_cast<uint8_t*>(data), size, "rb"));
    if (!mem) return reason = "not enough memory", false;
    return DecodePng(mem.get(), options, out, reason);
  }
  ByteReader image(data, size);
  Dib d;
  if (!ParseDib(image, true, d, reason)) return false;
  if (d.compression != kRgb && d.compression != kBitfields) return reason = "unsupported icon compression", false;
  bool alphaUsed;
  IEBitmap bmp;
  if (!DecodeDibPixels(image, d.headerEnd, d, options.limits, bmp, alphaUsed, reason)) return false;
  const std::size_t maskAt = d.headerEnd + static_cast<std::size_t>(RowBytes(d.width, d.bits) * d.height);
  if (!ApplyMask(image, maskAt, d, bmp, alphaUsed, reason)) return false;
  out = std::move(bmp);
  return true;
}

bool EncodeIco(std::FILE* out, const IEBitmap& bmp, const SaveParams&, const std::string&, std::string& reason) {
  const int w = bmp.Width(), h = bmp.Height();
  if (bmp.PixelFormat() != IEPixelFormat::ie24RGB) return reason = "unsupported pixel format", false;
  if (w > kMaxIconSide || h > kMaxIconSide)
    return reason = "an icon is at most 256 x 256 pixels; this picture is " + std::to_string(w) + " x " +
                    std::to_string(h),
           false;
  const bool alpha = HasTransparency(bmp);
  const int bits = alpha ? 32 : 24;
  const uint32_t xorSize = static_cast<uint32_t>(RowBytes(w, bits) * h), andSize = static_cast<uint32_t>(RowBytes(w, 1) * h);
  const uint32_t imageSize = 40 + xorSize + andSize;
  std::vector<uint8_t> b;
  Put16(b, 0);
  Put16(b, 1);
  Put16(b, 1);
  b.push_back(static_cast<uint8_t>(w == 256 ? 0 : w));
  b.push_back(static_cast<uint8_t>(h == 256 ? 0 : h));
  b.push_back(0);
  b.push_back(0);
  Put16(b, 1);
  Put16(b, static_cast<uint32_t>(bits));
  Put32(b, imageSize);
  Put32(b, 22);
  PutInfoHeader(b, w, 2 * h, bits, xorSize + andSize, 0);
  const std::size_t xorStride = static_cast<std::size_t>(RowBytes(w, bits));
  for (int y = h - 1; y >= 0; --y) {
    const std::size_t start = b.size();
    b.resize(start + xorStride, 0);
    const uint8_t* src = bmp.ScanLine(y);
    for (int x = 0; x < w; ++x) {
      uint8_t* p = &b[start + static_cast<std::size_t>(x) * (bits / 8)];
      std::memcpy(p, src + 3 * x, 3);
      if (alpha) p[3] = bmp.Alpha(x, y);
    }
  }
  const std::size_t andStride = static_cast<std::size_t>(RowBytes(w, 1));
  for (int y = h - 1; y >= 0; --y) {
    const std::size_t start = b.size();
    b.resize(start + andStride, 0);
    if (alpha)
      for (int x = 0; x < w; ++x)
        if (bmp.Alpha(x, y) < 128) b[start + x / 8] |= static_cast<uint8_t>(0x80 >> (x & 7));
  }
  return WriteBytes(out, b.data(), b.size(), reason);
}

}  // namespace velmora::codecs
