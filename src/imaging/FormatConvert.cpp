#include "imaging/FormatConvert.h"

#include "imaging/Parallel.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace velmora {

namespace {

using F = IEPixelFormat;

// One pixel on its way between formats.
struct Rgb16 {
  uint16_t r, g, b;
};

inline uint8_t To8(uint16_t v) { return static_cast<uint8_t>((v * 255u + 32767u) / 65535u); }
inline uint16_t To16(uint8_t v) { return static_cast<uint16_t>(v * 257u); }

// sRGB <-> CIE L*a*b* (D65), bytes: L scaled to 0..255, a and b offset by 128.
double Linear(double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); }
double Gamma(double c) { return c <= 0.0031308 ? c * 12.92 : 1.055 * std::pow(c, 1 / 2.4) - 0.055; }
double LabF(double t) { return t > 216.0 / 24389.0 ? std::cbrt(t) : (24389.0 / 27.0 * t + 16) / 116; }
double LabFInv(double t) { return t * t * t > 216.0 / 24389.0 ? t * t * t : (116 * t - 16) / (24389.0 / 27.0); }
constexpr double Xn = 0.95047, Yn = 1.0, Zn = 1.08883;

uint8_t Clamp8(double v) { return static_cast<uint8_t>(std::clamp(std::nearbyint(v), 0.0, 255.0)); }

void RgbToLab(uint8_t r8, uint8_t g8, uint8_t b8, uint8_t* out) {
  const double r = Linear(r8 / 255.0), g = Linear(g8 / 255.0), b = Linear(b8 / 255.0);
  const double x = (0.4124 * r + 0.3576 * g + 0.1805 * b) / Xn;
  const double y = (0.2126 * r + 0.7152 * g + 0.0722 * b) / Yn;
  const double z = (0.0193 * r + 0.1192 * g + 0.9505 * b) / Zn;
  const double fx = LabF(x), fy = LabF(y), fz = LabF(z);
  out[0] = Clamp8((116 * fy - 16) * 255 / 100);
  out[1] = Clamp8(500 * (fx - fy) + 128);
  out[2] = Clamp8(200 * (fy - fz) + 128);
}

Rgb16 LabToRgb(const uint8_t* in) {
  const double L = in[0] * 100.0 / 255, a = in[1] - 128.0, bb = in[2] - 128.0;
  const double fy = (L + 16) / 116, fx = fy + a / 500, fz = fy - bb / 200;
  const double x = LabFInv(fx) * Xn, y = LabFInv(fy) * Yn, z = LabFInv(fz) * Zn;
  const double r = 3.2406 * x - 1.5372 * y - 0.4986 * z;
  const double g = -0.9689 * x + 1.8758 * y + 0.0415 * z;
  const double b = 0.0557 * x - 0.2040 * y + 1.0570 * z;
  auto c = [](double v) { return To16(Clamp8(Gamma(std::clamp(v, 0.0, 1.0)) * 255)); };
  return {c(r), c(g), c(b)};
}

Rgb16 Read(const IEBitmap& bmp, const uint8_t* row, int x) {
  switch (bmp.PixelFormat()) {
    case F::ie1g: {
      const uint16_t v = ((row[x >> 3] >> (7 - (x & 7))) & 1) ? 65535 : 0;
      return {v, v, v};
    }
    case F::ie8p: {
      const IETriple t = bmp.Palette()[row[x]];
      return {To16(t.r), To16(t.g), To16(t.b)};
    }
    case F::ie8g:
      return {To16(row[x]), To16(row[x]), To16(row[x])};
    case F::ie16g: {
      uint16_t v;
      std::memcpy(&v, row + 2 * x, 2);
      return {v, v, v};
    }
    case F::ie24RGB:
      return {To16(row[3 * x + 2]), To16(row[3 * x + 1]), To16(row[3 * x])};
    case F::ie32f: {
      float f;
      std::memcpy(&f, row + 4 * x, 4);
      const double c = std::isnan(f) ? 0.0 : std::clamp(static_cast<double>(f), 0.0, 1.0);
      const uint16_t v = static_cast<uint16_t>(std::nearbyint(c * 65535));
      return {v, v, v};
    }
    case F::ieCMYK: {
      const uint8_t* p = row + 4 * x;
      auto ch = [&](int c) { return To16(static_cast<uint8_t>(255 - std::min(255, c + p[3]))); };
      return {ch(p[0]), ch(p[1]), ch(p[2])};
    }
    case F::ieRGB48: {
      uint16_t w[3];
      std::memcpy(w, row + 6 * x, 6);
      return {w[2], w[1], w[0]};
    }
    case F::ieCIELab:
      return LabToRgb(row + 3 * x);
    case F::ie32RGB:
      return {To16(row[4 * x + 2]), To16(row[4 * x + 1]), To16(row[4 * x])};
    default:
      return {0, 0, 0};
  }
}

void Write(IEBitmap& bmp, uint8_t* row, int x, Rgb16 c) {
  const uint8_t r = To8(c.r), g = To8(c.g), b = To8(c.b);
  switch (bmp.PixelFormat()) {
    case F::ie1g: {
      const bool white = GreyLevel(r, g, b) >= 128;
      const uint8_t m = static_cast<uint8_t>(0x80 >> (x & 7));
      row[x >> 3] = white ? (row[x >> 3] | m) : (row[x >> 3] & ~m);
      break;
    }
    case F::ie8p:  // 3-3-2 levels, matching the palette set up by ConvertPixels
      row[x] = static_cast<uint8_t>((r & 0xE0) | ((g & 0xE0) >> 3) | (b >> 6));
      break;
    case F::ie8g:
      row[x] = static_cast<uint8_t>(GreyLevel(r, g, b));
      break;
    case F::ie16g: {
      const uint16_t v = static_cast<uint16_t>((c.r * 21u + c.g * 71u + c.b * 8u) / 100u);
      std::memcpy(row + 2 * x, &v, 2);
      break;
    }
    case F::ie24RGB:
      row[3 * x] = b, row[3 * x + 1] = g, row[3 * x + 2] = r;
      break;
    case F::ie32f: {
      const float f = static_cast<float>((c.r * 21.0 + c.g * 71.0 + c.b * 8.0) / 100.0 / 65535.0);
      std::memcpy(row + 4 * x, &f, 4);
      break;
    }
    case F::ieCMYK: {
      const uint8_t cc = 255 - r, mm = 255 - g, yy = 255 - b;
      const uint8_t k = std::min({cc, mm, yy});
      uint8_t* p = row + 4 * x;
      p[0] = cc - k, p[1] = mm - k, p[2] = yy - k, p[3] = k;
      break;
    }
    case F::ieRGB48: {
      const uint16_t w[3] = {c.b, c.g, c.r};
      std::memcpy(row + 6 * x, w, 6);
      break;
    }
    case F::ieCIELab:
      RgbToLab(r, g, b, row + 3 * x);
      break;
    case F::ie32RGB: {
      uint8_t* p = row + 4 * x;
      p[0] = b, p[1] = g, p[2] = r, p[3] = 0;
      break;
    }
    default:
      break;
  }
}

}  // namespace

void ConvertPixels(const IEBitmap& src, IEBitmap& dst) {
  const int w = std::min(src.Width(), dst.Width());
  const int h = std::min(src.Height(), dst.Height());
  if (dst.PixelFormat() == F::ie8p && dst.Palette()) {
    for (int i = 0; i < 256; ++i) {
      const int r = (i >> 5) & 7, g = (i >> 2) & 7, b = i & 3;
      dst.Palette()[i] = IETriple{static_cast<uint8_t>(b * 255 / 3), static_cast<uint8_t>(g * 255 / 7),
                                  static_cast<uint8_t>(r * 255 / 7)};
    }
  }
  // Common paths, exact and fast.
  if (src.PixelFormat() == F::ie8g && dst.PixelFormat() == F::ie24RGB) {
    for (int y = 0; y < h; ++y) {
      const uint8_t* s = src.ScanLine(y);
      uint8_t* d = dst.ScanLine(y);
      for (int x = 0; x < w; ++x) d[3 * x] = d[3 * x + 1] = d[3 * x + 2] = s[x];
    }
    return;
  }
  if (src.PixelFormat() == F::ie1g && (dst.PixelFormat() == F::ie8g || dst.PixelFormat() == F::ie24RGB)) {
    const int n = dst.PixelFormat() == F::ie8g ? 1 : 3;
    for (int y = 0; y < h; ++y) {
      const uint8_t* s = src.ScanLine(y);
      uint8_t* d = dst.ScanLine(y);
      for (int x = 0; x < w; ++x) std::memset(d + n * x, ((s[x >> 3] >> (7 - (x & 7))) & 1) ? 255 : 0, n);
    }
    return;
  }
  if (src.PixelFormat() == F::ie24RGB && dst.PixelFormat() == F::ie8g) {
    for (int y = 0; y < h; ++y) {
      const uint8_t* s = src.ScanLine(y);
      uint8_t* d = dst.ScanLine(y);
      for (int x = 0; x < w; ++x) d[x] = static_cast<uint8_t>(GreyLevel(s[3 * x + 2], s[3 * x + 1], s[3 * x]));
    }
    return;
  }
  if (src.PixelFormat() == F::ie8g && dst.PixelFormat() == F::ie1g) {
    for (int y = 0; y < h; ++y) {
      const uint8_t* s = src.ScanLine(y);
      uint8_t* d = dst.ScanLine(y);
      std::memset(d, 0, dst.RowLen());
      for (int x = 0; x < w; ++x)
        if (s[x] >= 128) d[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
    }
    return;
  }
  for (int y = 0; y < h; ++y) {
    const uint8_t* s = src.ScanLine(y);
    uint8_t* d = dst.ScanLine(y);
    for (int x = 0; x < w; ++x) Write(dst, d, x, Read(src, s, x));
  }
}

std::array<uint64_t, 256> GreyHistogram(const IEBitmap& bmp) {
  const int width = bmp.Width(), height = bmp.Height();
  const int chunks = ParallelChunkCount(height);
  std::vector<std::array<uint64_t, 256>> partial(chunks);
  ParallelChunks(height, chunks, [&](int c, int y0, int y1) {
    auto& h = partial[c];
    h.fill(0);
    for (int y = y0; y < y1; ++y) {
      const uint8_t* p = bmp.ScanLine(y);
      for (int x = 0; x < width; ++x, p += 3) ++h[GreyLevel(p[2], p[1], p[0])];
    }
  });
  std::array<uint64_t, 256> h{};
  for (const auto& q : partial)
    for (int i = 0; i < 256; ++i) h[i] += q[i];
  return h;
}

}  // namespace velmora
