// Automatic enhancements: operations that first measure the picture and
// then correct it (white balance, histogram equalization, saturation and
// brightness flattening, two-scale local adaptation, Wallis local contrast).
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "imaging/Color.h"
#include "imaging/EnhanceDetail.h"
#include "imaging/FormatConvert.h"
#include "imaging/ImageProc.h"
#include "imaging/Parallel.h"
#include "imaging/Rounding.h"

namespace velmora {

using F = IEPixelFormat;

namespace {

// A float plane: a plain owning buffer without the zero fill of
// std::vector; empty when the memory cannot be had.
struct Plane {
  Plane(int w, int h) : width(w), height(h), data(new (std::nothrow) float[static_cast<std::size_t>(w) * h]) {}
  explicit operator bool() const { return data != nullptr; }
  float* Row(int y) { return data.get() + static_cast<std::size_t>(y) * width; }
  const float* Row(int y) const { return data.get() + static_cast<std::size_t>(y) * width; }
  int width, height;
  std::unique_ptr<float[]> data;
};

}  // namespace

// ===========================================================================
// Recursive Gaussian

namespace enhance {

RecursiveGaussian::RecursiveGaussian(double sigma) {
  const double q = sigma < 3.556 ? 0.0561 * (sigma * sigma) + 0.5784 * sigma - 0.2568 : 2.5091 + 0.9804 * (sigma - 3.556);
  const double q2 = q * q, q3 = q2 * q;
  const double b0 = (q + 1.1668) * (q2 + 2.21566 * q + 3.2037296485);
  a1 = q * (3 * q2 + 6.76492 * q + 5.7889617365) / b0;
  a2 = -q2 * (3 * q + 3.38246) / b0;
  a3 = q3 / b0;
  B = 3.7381117538698 / b0;
  const double s = 1.0 / ((1.0 + a1 - a2 + a3) * (1.0 - a1 - a2 - a3) * (1.0 + a2 + (a1 - a3) * a3));
  M[0] = s * (-a3 * a1 + 1.0 - a3 * a3 - a2);
  M[1] = s * (a3 + a1) * (a2 + a3 * a1);
  M[2] = s * a3 * (a1 + a3 * a2);
  M[3] = s * (a1 + a3 * a2);
  M[4] = -s * (a2 - 1.0) * (a2 + a3 * a1);
  M[5] = -s * a3 * (a3 * a1 + a3 * a3 + a2 - 1.0);
  M[6] = s * (a3 * a1 + a2 + a1 * a1 - a2 * a2);
  M[7] = s * (a1 * a2 + a3 * a2 * a2 - a1 * a3 * a3 - a3 * a3 * a3 - a3 * a2 + a3);
  M[8] = s * a3 * (a1 + a3 * a2);
}

void RecursiveGaussian::Line(const float* x, float* out, int n, std::ptrdiff_t stride, double offset) const {
  if (n <= 0) return;
  const double last = x[(n - 1) * stride];
  // Forward, started as if x[0] had always been there.
  double w1 = x[0] / B, w2 = w1, w3 = w1;
  for (int i = 0; i < n; ++i) {
    const double w = x[i * stride] + a1 * w1 + a2 * w2 + a3 * w3;
    out[i * stride] = static_cast<float>(w);
    w3 = w2;
    w2 = w1;
    w1 = w;
  }
  // Backward, started from the values the filters reach when the last
  // input goes on for ever (Triggs-Sdika).
  const double bb = B * B;
  const double uplus = last / (1.0 - a1 - a2 - a3), vplus = uplus / (1.0 - a1 - a2 - a3);
  const double u0 = w1 - uplus, u1 = w2 - uplus, u2 = w3 - uplus;
  double y1 = (M[0] * u0 + M[1] * u1 + M[2] * u2 + vplus) * bb;
  double y2 = (M[3] * u0 + M[4] * u1 + M[5] * u2 + vplus) * bb;
  double y3 = (M[6] * u0 + M[7] * u1 + M[8] * u2 + vplus) * bb;
  out[(n - 1) * stride] = static_cast<float>(y1 + offset);
  for (int i = n - 2; i >= 0; --i) {
    const double y = out[i * stride] * bb + a1 * y1 + a2 * y2 + a3 * y3;
    out[i * stride] = static_cast<float>(y + offset);
    y3 = y2;
    y2 = y1;
    y1 = y;
  }
}

namespace {

// Several lines at once, element k of line j at base[j * lineStep + k *
// step]; the lines' recursions are independent, so interleaving them hides
// the latency of each. Every line is computed exactly as Line computes it.
template <int kLanes>
void Lines(const RecursiveGaussian& g, const float* src, float* base, int lines, std::ptrdiff_t lineStep, int n,
           std::ptrdiff_t step, double offset) {
  double w1[kLanes], w2[kLanes], w3[kLanes], last[kLanes];
  const double a1 = g.a1, a2 = g.a2, a3 = g.a3, B = g.B;
  for (int j = 0; j < lines; ++j) {
    const float* x = src + j * lineStep;
    last[j] = x[(n - 1) * step];
    w1[j] = w2[j] = w3[j] = x[0] / B;
  }
  for (int i = 0; i < n; ++i) {
    const float* x = src + i * step;
    float* out = base + i * step;
    for (int j = 0; j < lines; ++j) {
      const double w = x[j * lineStep] + a1 * w1[j] + a2 * w2[j] + a3 * w3[j];
      out[j * lineStep] = static_cast<float>(w);
      w3[j] = w2[j];
      w2[j] = w1[j];
      w1[j] = w;
    }
  }
  const double bb = B * B;
  const double* M = g.M;
  double y1[kLanes], y2[kLanes], y3[kLanes];
  for (int j = 0; j < lines; ++j) {
    const double uplus = last[j] / (1.0 - a1 - a2 - a3), vplus = uplus / (1.0 - a1 - a2 - a3);
    const double u0 = w1[j] - uplus, u1 = w2[j] - uplus, u2 = w3[j] - uplus;
    y1[j] = (M[0] * u0 + M[1] * u1 + M[2] * u2 + vplus) * bb;
    y2[j] = (M[3] * u0 + M[4] * u1 + M[5] * u2 + vplus) * bb;
    y3[j] = (M[6] * u0 + M[7] * u1 + M[8] * u2 + vplus) * bb;
    base[j * lineStep + (n - 1) * step] = static_cast<float>(y1[j] + offset);
  }
  for (int i = n - 2; i >= 0; --i) {
    float* x = base + i * step;
    for (int j = 0; j < lines; ++j) {
      const double y = x[j * lineStep] * bb + a1 * y1[j] + a2 * y2[j] + a3 * y3[j];
      x[j * lineStep] = static_cast<float>(y + offset);
      y3[j] = y2[j];
      y2[j] = y1[j];
      y1[j] = y;
    }
  }
}

}  // namespace

void GaussianBlur(float* plane, int width, int height, double sigma, double offset) {
  GaussianBlur(plane, plane, width, height, sigma, offset);
}

void GaussianBlur(const float* src, float* plane, int width, int height, double sigma, double offset) {
  if (width <= 0 || height <= 0) return;
  const RecursiveGaussian g(sigma);
  constexpr int kRowLanes = 8, kColumnStrip = 64;
  // Rows, eight at a time.
  const int rowGroups = (height + kRowLanes - 1) / kRowLanes;
  ParallelRows(
      0, rowGroups,
      [&](int begin, int end) {
        for (int b = begin; b < end; ++b) {
          const int y0 = b * kRowLanes, lines = std::min(kRowLanes, height - y0);
          const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(y0) * width;
          Lines<kRowLanes>(g, src + at, plane + at, lines, width, width, 1, 0.0);
        }
      },
      {}, 1);
  // Columns, in strips of neighbouring columns that share cache lines.
  const int strips = (width + kColumnStrip - 1) / kColumnStrip;
  ParallelRows(
      0, strips,
      [&](int begin, int end) {
        for (int s = begin; s < end; ++s) {
          const int x0 = s * kColumnStrip, lines = std::min(kColumnStrip, width - x0);
          Lines<kColumnStrip>(g, plane + x0, plane + x0, lines, 1, height, width, offset);
        }
      },
      {}, 1);
}

void GaussianBlurReference(float* plane, int width, int height, double sigma, double offset) {
  if (width <= 0 || height <= 0) return;
  const RecursiveGaussian g(sigma);
  for (int y = 0; y < height; ++y) {
    float* row = plane + static_cast<std::ptrdiff_t>(y) * width;
    g.Line(row, row, width, 1, 0.0);
  }
  for (int x = 0; x < width; ++x) g.Line(plane + x, plane + x, height, width, offset);
}

}  // namespace enhance

// ===========================================================================
// WhiteBalance_AutoWhite

void ImageProc::WhiteBalance_AutoWhite() {
  Work w;
  if (!BeginOperation("WhiteBalance_AutoWhite", {F::ie24RGB}, w)) return;
  IEBitmap& bmp = *w.bitmap;
  if (bmp.PixelFormat() == F::ie24RGB && !bmp.IsEmpty()) {
    const int width = bmp.Width(), height = bmp.Height();
    // Near-white pixels: low saturation, high lightness, hue outside the
    // skin, green and sky bands. Sums are whole numbers far below 2^53,
    // so adding them as integers gives the double-precision sums exactly.
    struct Sums {
      uint64_t b = 0, g = 0, r = 0, count = 0;
    };
    const int chunks = ParallelChunkCount(height);
    std::vector<Sums> partial(chunks);
    ParallelChunks(height, chunks, [&](int c, int y0, int y1) {
      Sums s;
      for (int y = y0; y < y1; ++y) {
        const IETriple* p = reinterpret_cast<const IETriple*>(bmp.ScanLine(y));
        for (int x = 0; x < width; ++x) {
          const IETriple t = p[x];
          // L > 0.7 needs max + min above 357 (0.7 x 510); well below that
          // the exact test cannot pass.
          if (std::max({t.r, t.g, t.b}) + std::min({t.r, t.g, t.b}) < 355) continue;
          double h, sat, l;
          RGBToHSL(t, h, sat, l);
          if (!(sat < 0.3 && l > 0.7)) continue;
          if ((h >= 0.01 && h <= 0.04) || (h >= 0.35 && h <= 0.50) || (h >= 0.57 && h <= 0.59)) continue;
          s.b += t.b;
          s.g += t.g;
          s.r += t.r;
          ++s.count;
        }
      }
      partial[c] = s;
    });
    Sums all;
    for (const Sums& s : partial) {
      all.b += s.b;
      all.g += s.g;
      all.r += s.r;
      all.count += s.count;
    }
    auto table = [&](uint64_t sum, uint8_t* t) {
      const double average = all.count ? static_cast<double>(sum) / static_cast<double>(all.count) : 255.0;
      const double factor = 255 / average;
      for (int i = 0; i < 256; ++i) t[i] = TruncByte(i * factor);
    };
    uint8_t tb[256], tg[256], tr[256];
    table(all.b, tb);
    table(all.g, tg);
    table(all.r, tr);
    ParallelRows(
        0, height,
        [&](int begin, int end) {
          for (int y = begin; y < end; ++y) {
            uint8_t* p = bmp.ScanLine(y);
            for (int x = 0; x < width; ++x, p += 3) {
              p[0] = tb[p[0]];
              p[1] = tg[p[1]];
              p[2] = tr[p[2]];
            }
          }
        },
        [&](int y) { Progress(static_cast<int>(std::trunc(y * (100.0 / height)))); });
  }
  EndOperation(w);
}

// ===========================================================================
// HistAutoEqualize

namespace {

// The range of output levels each input level owns: a histogram spread
// evenly over 256 levels.
void EqualizeRanges(const std::array<uint64_t, 256>& h, double pixels, uint8_t* left, uint8_t* right) {
  const double a = pixels / 256;
  double r = 0;
  int o = 0;
  for (int v = 0; v < 256; ++v) {
    left[v] = static_cast<uint8_t>(std::min(o, 255));
    r = r + static_cast<double>(h[v]);
    while (r > a) {
      r = r - a;
      ++o;
    }
    right[v] = static_cast<uint8_t>(std::min(o, 255));
  }
}

// The new pixel from its grey level's range and its 3 x 3 mean colour.
inline IETriple EqualizedPixel(const IETriple& p, const IETriple& mean, const uint8_t* left, const uint8_t* right) {
  const int l = GreyLevel(p.r, p.g, p.b);
  if (left[l] == right[l]) return IETriple{left[p.b], left[p.g], left[p.r]};
  const int n = GreyLevel(mean.r, mean.g, mean.b);
  if (n > right[l]) return IETriple{right[p.b], right[p.g], right[p.r]};
  if (n < left[l]) return IETriple{left[p.b], left[p.g], left[p.r]};
  return mean;
}


}  // namespace

void ImageProc::HistAutoEqualize() {
  Work w;
  if (!BeginOperation("HistAutoEqualize", {F::ie24RGB}, w)) return;
  IEBitmap& bmp = *w.bitmap;
  if (bmp.PixelFormat() == F::ie24RGB && !bmp.IsEmpty() && w.x2 > w.x1 && w.y2 > w.y1) {
    const int width = bmp.Width(), height = bmp.Height();
    uint8_t left[256], right[256];
    EqualizeRanges(GreyHistogram(bmp), static_cast<double>(width) * height, left, right);
    // Every pixel reads its unchanged neighbours. The rows are treated in
    // slices, each changing its own rows in place while it keeps the
    // original of the row above; the rows just outside each slice are
    // copied first, since a neighbouring slice may change them.
    const int rows = w.y2 - w.y1, slices = std::min(rows, 64);
    const std::size_t rowBytes = 3 * static_cast<std::size_t>(width);
    auto sliceBegin = [&](int c) { return w.y1 + static_cast<int>(int64_t{rows} * c / slices); };
    std::vector<uint8_t> outside(2 * static_cast<std::size_t>(slices) * rowBytes);
    auto above = [&](int c) { return outside.data() + 2 * static_cast<std::size_t>(c) * rowBytes; };
    auto below = [&](int c) { return above(c) + rowBytes; };
    for (int c = 0; c < slices; ++c) {
      std::memcpy(above(c), bmp.ScanLine(std::max(sliceBegin(c) - 1, 0)), rowBytes);
      std::memcpy(below(c), bmp.ScanLine(std::min(sliceBegin(c + 1), height - 1)), rowBytes);
    }
    ParallelRows(
        0, slices,
        [&](int first, int last) {
          std::vector<uint8_t> previous(rowBytes), current(rowBytes);
          std::vector<uint16_t> columns(rowBytes);  // each column's sum over three rows
          for (int c = first; c < last; ++c) {
            std::memcpy(previous.data(), above(c), rowBytes);
            const int end = sliceBegin(c + 1);
            for (int y = sliceBegin(c); y < end; ++y) {
              uint8_t* row = bmp.ScanLine(y);
              std::memcpy(current.data(), row, rowBytes);
              const uint8_t* next = y + 1 < end ? bmp.ScanLine(std::min(y + 1, height - 1)) : below(c);
              for (std::size_t i = 0; i < rowBytes; ++i)
                columns[i] = static_cast<uint16_t>(previous[i] + current[i] + next[i]);
              const IETriple* src = reinterpret_cast<const IETriple*>(current.data());
              IETriple* dst = reinterpret_cast<IETriple*>(row);
              for (int x = w.x1; x < w.x2; ++x) {
                const IETriple p = src[x];
                const int l = GreyLevel(p.r, p.g, p.b);
                if (left[l] == right[l]) {
                  dst[x] = IETriple{left[p.b], left[p.g], left[p.r]};
                  continue;
                }
                // The 3 x 3 mean colour, edge columns repeated.
                const uint16_t* a = &columns[3 * static_cast<std::size_t>(x > 0 ? x - 1 : 0)];
                const uint16_t* m = &columns[3 * static_cast<std::size_t>(x)];
                const uint16_t* b = &columns[3 * static_cast<std::size_t>(x + 1 < width ? x + 1 : x)];
                const IETriple mean{static_cast<uint8_t>((a[0] + m[0] + b[0]) / 9),
                                    static_cast<uint8_t>((a[1] + m[1] + b[1]) / 9),
                                    static_cast<uint8_t>((a[2] + m[2] + b[2]) / 9)};
                dst[x] = EqualizedPixel(p, mean, left, right);
              }
              std::swap(previous, current);
            }
          }
        },
        [&](int lastSlice) { RowProgress(w, sliceBegin(lastSlice + 1) - 1); }, 1);
  }
  EndOperation(w);
}

// ===========================================================================
// AdjustLumSatHistogram

namespace {

// Integer HSV of a pixel: H 0..359, S and V 0..255.
struct Hsv {
  int h, s, v;
};
inline Hsv ToHsv(int r, int g, int b) {
  const int v = std::max({r, g, b}), m = std::min({r, g, b});
  const int s = v > 0 ? (v - m) * 255 / v : 0;
  int h = 0;
  if (s != 0) {
    const int d = v - m;
    if (r == v)
      h = (g - b) * 60 / d;
    else if (g == v)
      h = (b - r) * 60 / d + 120;
    else
      h = (r - g) * 60 / d + 240;
    if (h < 0) h += 360;
  }
  return {h, s, v};
}

inline IETriple FromHsv(int h, int s, int v) {
  if (h == 360) h = 0;
  int r, g, b;
  HSVToRGBInt(h, s, v, 255, r, g, b);
  return IETriple{static_cast<uint8_t>(b), static_cast<uint8_t>(g), static_cast<uint8_t>(r)};
}

// New levels from a histogram flattened by weights h^exponent: level i goes
// to trunc(255 / total x cumulative(i)), in single precision as the weights
// are kept. An empty bin weighs 0 (also under a negative exponent, where
// 0^e would be infinite); a total that is not a positive finite number
// leaves the levels alone.
std::array<uint8_t, 256> FlattenedLevels(const std::array<uint64_t, 256>& hist, double exponent) {
  std::array<float, 256> cum;
  float sum = 0;
  for (int i = 0; i < 256; ++i) {
    float weight;
    if (exponent == 0)
      weight = 1;
    else if (hist[i] == 0)
      weight = 0;
    else
      weight = static_cast<float>(std::pow(static_cast<double>(hist[i]), exponent));
    sum = sum + weight;
    cum[i] = sum;
  }
  std::array<uint8_t, 256> out;
  const double total = cum[255];
  for (int i = 0; i < 256; ++i) {
    if (!(total > 0) || !std::isfinite(total) || !std::isfinite(cum[i]))
      out[i] = static_cast<uint8_t>(i);
    else
      out[i] = TruncByte(255 / total * static_cast<double>(cum[i]));
  }
  return out;
}

}  // namespace

void ImageProc::AdjustLumSatHistogram(double saturationExponent, double valueExponent) {
  Work w;
  if (!BeginOperation("AdjustLumSatHistogram", {F::ie24RGB}, w)) return;
  IEBitmap& bmp = *w.bitmap;
  if (bmp.PixelFormat() == F::ie24RGB && !bmp.IsEmpty()) {
    const int width = bmp.Width(), height = bmp.Height();
    const int chunks = ParallelChunkCount(height);
    std::vector<std::array<uint64_t, 256>> hs(chunks), hv(chunks);
    ParallelChunks(height, chunks, [&](int c, int y0, int y1) {
      hs[c].fill(0);
      hv[c].fill(0);
      for (int y = y0; y < y1; ++y) {
        const uint8_t* p = bmp.ScanLine(y);
        for (int x = 0; x < width; ++x, p += 3) {
          const int v = std::max({p[0], p[1], p[2]}), m = std::min({p[0], p[1], p[2]});
          ++hs[c][v > 0 ? (v - m) * 255 / v : 0];
          ++hv[c][v];
        }
      }
    });
    std::array<uint64_t, 256> histS{}, histV{};
    for (int c = 0; c < chunks; ++c)
      for (int i = 0; i < 256; ++i) {
        histS[i] += hs[c][i];
        histV[i] += hv[c][i];
      }
    const auto newS = FlattenedLevels(histS, saturationExponent);
    const auto newV = FlattenedLevels(histV, valueExponent);
    ParallelRows(
        0, height,
        [&](int begin, int end) {
          for (int y = begin; y < end; ++y) {
            IETriple* p = reinterpret_cast<IETriple*>(bmp.ScanLine(y));
            // Neighbouring pixels often share a colour: remember the last.
            IETriple last{}, lastOut{};
            bool have = false;
            for (int x = 0; x < width; ++x) {
              if (have && p[x] == last) {
                p[x] = lastOut;
                continue;
              }
              last = p[x];
              const Hsv hsv = ToHsv(last.r, last.g, last.b);
              lastOut = FromHsv(hsv.h, newS[hsv.s], newV[hsv.v]);
              have = true;
              p[x] = lastOut;
            }
          }
        },
        [&](int y) { Progress(static_cast<int>(std::trunc(static_cast<double>(y) / height * 100))); });
  }
  EndOperation(w);
}

// ===========================================================================
// AutoImageEnhance3

namespace {

constexpr int kPad = 8;  // black columns on the left and rows at the bottom

// The tables of the local adaptation.
struct Enhance3Tables {
  explicit Enhance3Tables(double gamma) {
    for (int i = 0; i < 256; ++i) {
      E[i] = RoundByte(std::pow(i / 255.0, 1 / 2.2) * 255);
      F[i] = RoundByte(std::pow(i / 255.0, 1 / gamma) * 255);
    }
    E[0] = 1;
    for (int y = 0; y < 256; ++y) {
      L[y] = static_cast<float>(y / 255.0);
      eOfY[y] = E[ClampToByte(static_cast<double>(L[y]) * 255)];
    }
  }
  uint8_t E[256], F[256];
  float L[256];       // the luminance plane's value for each level
  uint8_t eOfY[256];  // E[trunc(L x 255)]
};

// The luminance level of a pixel, trunc(0.299 R + 0.587 G + 0.114 B).
inline uint8_t LumaLevel(int r, int g, int b) {
  return static_cast<uint8_t>(ClampToByte(0.299 * r + 0.587 * g + 0.114 * b));
}

inline float Adapt(float x, float blur) {
  const double s = static_cast<double>(x) + static_cast<double>(blur);
  return s > 0 ? static_cast<float>(static_cast<double>(x) * (static_cast<double>(blur) + 1) / s) : 0.0f;
}

// (sum of the plane) x 0.5 / ((W - 1)(H - 1)); the sum runs row by row,
// each row from the left, rows from the top.
double HalfMean(const std::vector<double>& rowSums, int w, int h) {
  double sum = 0;
  for (double s : rowSums) sum += s;
  return sum * 0.5 / (static_cast<double>(w - 1) * static_cast<double>(h - 1));
}

}  // namespace

void ImageProc::AutoImageEnhance3(int saturationPercent, double gamma) {
  Work w;
  if (!BeginOperation("AutoImageEnhance3", FormatSet::Any(), w)) return;
  IEBitmap& bmp = *w.bitmap;
  if (!bmp.IsEmpty()) {
    // The enhancement works on RGB pictures. Another format is converted;
    // the result stays RGB, unless it must be blended back into a layer of
    // its own format through a selection.
    const F original = bmp.PixelFormat();
    if (original == F::ie24RGB || bmp.ConvertFormat(F::ie24RGB)) {
      // The planes are those of the picture padded with 8 black columns on
      // the left and 8 black rows at the bottom; the padding itself is
      // dropped at the end, so it is never built as pixels.
      const int width = bmp.Width(), height = bmp.Height();
      const int pw = width + kPad, ph = height + kPad;
      const Enhance3Tables t(gamma);
      std::unique_ptr<uint8_t[]> levels(new (std::nothrow) uint8_t[static_cast<std::size_t>(width) * height]);
      auto levelRow = [&](int y) { return levels.get() + static_cast<std::size_t>(y) * width; };
      Plane blur(pw, ph), r1(pw, ph);
      if (!levels || !blur || !r1) {
        EndOperation(w);
        return;
      }
      std::vector<double> rowSums(ph);
      // L.
      ParallelRows(0, ph, [&](int begin, int end) {
        for (int y = begin; y < end; ++y) {
          float* l = r1.Row(y);
          std::fill(l, l + (y < height ? kPad : pw), 0.0f);
          if (y < height) {
            const uint8_t* p = bmp.ScanLine(y);
            uint8_t* lv = levelRow(y);
            for (int x = 0; x < width; ++x, p += 3) {
              lv[x] = LumaLevel(p[2], p[1], p[0]);
              l[kPad + x] = t.L[lv[x]];
            }
          }
          double s = 0;
          for (int x = 0; x < pw; ++x) s += l[x];
          rowSums[y] = s;
        }
      });
      Progress(10);
      // B1 = Gaussian(L, 3) + o1.
      enhance::GaussianBlur(r1.data.get(), blur.data.get(), pw, ph, 3, HalfMean(rowSums, pw, ph));
      Progress(35);
      // R1 = L (B1 + 1) / (L + B1).
      ParallelRows(0, ph, [&](int begin, int end) {
        for (int y = begin; y < end; ++y) {
          const float* b1 = blur.Row(y);
          float* r = r1.Row(y);
          const uint8_t* lv = y < height ? levelRow(y) : nullptr;
          for (int x = 0; x < pw; ++x) r[x] = Adapt(lv && x >= kPad ? t.L[lv[x - kPad]] : 0.0f, b1[x]);
          double s = 0;
          for (int x = 0; x < pw; ++x) s += r[x];
          rowSums[y] = s;
        }
      });
      Progress(45);
      // B2 = Gaussian(R1, 1.5) + o2.
      enhance::GaussianBlur(r1.data.get(), blur.data.get(), pw, ph, 1.5, HalfMean(rowSums, pw, ph));
      Progress(70);
      // R2 = R1 (B2 + 1) / (R1 + B2); each channel through the tables
      // scaled by R2 x 255 / e, then the saturation around
      // Y = 0.3 R + 0.59 G + 0.11 B.
      const double f = saturationPercent / 100.0;
      ParallelRows(
          0, height,
          [&](int begin, int end) {
            for (int y = begin; y < end; ++y) {
              const float* r = r1.Row(y) + kPad;
              const float* b2 = blur.Row(y) + kPad;
              const uint8_t* lv = levelRow(y);
              IETriple* p = reinterpret_cast<IETriple*>(bmp.ScanLine(y));
              for (int x = 0; x < width; ++x) {
                const double ratio = static_cast<double>(Adapt(r[x], b2[x])) * 255 / t.eOfY[lv[x]];
                const int cr = t.F[TruncByte(t.E[p[x].r] * ratio)];
                const int cg = t.F[TruncByte(t.E[p[x].g] * ratio)];
                const int cb = t.F[TruncByte(t.E[p[x].b] * ratio)];
                const double yy = 0.3 * cr + 0.59 * cg + 0.11 * cb;
                p[x] = IETriple{RoundByte(yy + f * (cb - yy)), RoundByte(yy + f * (cg - yy)),
                                RoundByte(yy + f * (cr - yy))};
              }
            }
          },
          [&](int y) { Progress(70 + static_cast<int>(std::trunc((y + 1) * (29.0 / height)))); });
      if (w.mask && original != F::ie24RGB) bmp.ConvertFormat(original);
      // The result replaces the picture whole: no alpha channel stays.
      bmp.RemoveAlphaChannel(false);
    }
  }
  EndOperation(w);
}

// ===========================================================================
// WallisFilter

namespace {

constexpr int kExtend = 15;  // the picture is extended by this much on every side

struct WallisCore {
  double tm, ts, a, alpha, dmax, n;
  bool binarize;

  // The output of a processed point from its pixel and the sums of
  // k = max + min (lightness x 510) and of k^2 over its window.
  IETriple Point(const IETriple& px, int64_t s1, int64_t s2) const {
    const double mu = static_cast<double>(s1) / (510.0 * n);
    const double q = static_cast<double>(s2) / (260100.0 * n);
    double sigma = std::sqrt(q - mu * mu + 1.0);
    if (sigma > dmax) sigma = dmax;
    const double g = a * ts / (a * sigma + ts + 0.00001);
    double h, s, l;
    RGBToHSL(px, h, s, l);
    double lp = (l - mu) * g + (1 - alpha) * mu + alpha * tm;
    if (std::isnan(lp)) lp = l;  // parameters that leave no sound value
    lp = std::clamp(lp, 0.0, 1.0);
    if (binarize) return lp > 0.5 ? IETriple{255, 255, 255} : IETriple{0, 0, 0};
    return HSLToRGB(h, s, lp);
  }
  IETriple Margin(const IETriple& px) const { return binarize ? IETriple{255, 255, 255} : px; }
};

WallisCore MakeWallisCore(const enhance::WallisWindow& win, int targetMean, int targetDeviation, int gain,
                          int meanWeight, int deviationLimit, bool binarize) {
  WallisCore c;
  c.tm = targetMean / 100.0;
  c.ts = targetDeviation * 3.0 / 100;
  c.a = gain * 100.0 / 100;
  c.alpha = meanWeight / 100.0;
  c.dmax = deviationLimit * 6.0 / 100;
  c.n = static_cast<double>(win.ww) * static_cast<double>(win.wh);
  c.binarize = binarize;
  return c;
}

inline int Lightness510(const uint8_t* p) { return std::max({p[0], p[1], p[2]}) + std::min({p[0], p[1], p[2]}); }

}  // namespace

namespace enhance {

WallisWindow WallisWindowFor(int width, int height, int widthPercent, int heightPercent) {
  const double s = static_cast<double>(std::min(width, height)) + 29;
  // Far-off percentages give windows larger than any picture (nothing is
  // processed), never an overflow.
  auto size = [&](int percent) {
    const double v = std::trunc(percent / 100.0 * s);
    return static_cast<int>(std::clamp(v, 21.0, 1e9));
  };
  WallisWindow w;
  w.ww = size(widthPercent);
  w.wh = size(heightPercent);
  w.hw = (w.ww + 1) / 2;
  w.hh = (w.wh + 1) / 2;
  return w;
}

}  // namespace enhance

void ImageProc::WallisFilter(int windowWidthPercent, int windowHeightPercent, int targetMean, int targetDeviation,
                             int gain, int meanWeight, int deviationLimit, bool binarize) {
  Work w;
  if (!BeginOperation("WallisFilter", {F::ie24RGB}, w)) return;
  IEBitmap& bmp = *w.bitmap;
  if (bmp.PixelFormat() == F::ie24RGB && !bmp.IsEmpty()) {
    const int width = bmp.Width(), height = bmp.Height();
    const int ew = width + 2 * kExtend, eh = height + 2 * kExtend;
    const auto win = enhance::WallisWindowFor(width, height, windowWidthPercent, windowHeightPercent);
    const WallisCore core =
        MakeWallisCore(win, targetMean, targetDeviation, gain, meanWeight, deviationLimit, binarize);
    // Extended rows and columns whose window lies inside the extended
    // picture.
    const int64_t yFirst = win.hh, yLast = int64_t{eh} - 1 - win.hh;
    const int64_t xFirst = win.hw, xLast = int64_t{ew} - 1 - win.hw;
    auto pictureRow = [&](int64_t ye) { return static_cast<int>(std::clamp<int64_t>(ye - kExtend, 0, height - 1)); };
    auto pictureCol = [&](int64_t xe) { return static_cast<int>(std::clamp<int64_t>(xe - kExtend, 0, width - 1)); };
    // Points are written in order and the last one written to a pixel
    // wins: a picture row ends with the last processed extended row that
    // maps onto it, a column with the last extended column that does.
    auto lastRowFor = [&](int r) -> int64_t {
      const int64_t lo = r == 0 ? 0 : r + kExtend, hi = r == height - 1 ? eh - 1 : r + kExtend;
      const int64_t y = std::min(hi, yLast);
      return y >= std::max(lo, yFirst) ? y : -1;
    };
    // k = max + min of every pixel (its lightness x 510), taken before any
    // pixel changes: the windows read only these, and every output pixel
    // reads only its own colour, so the picture is changed in place.
    std::unique_ptr<uint16_t[]> kPlane(new (std::nothrow) uint16_t[static_cast<std::size_t>(width) * height]);
    if (!kPlane) {
      EndOperation(w);
      return;
    }
    auto kRow = [&](int64_t ye) { return kPlane.get() + static_cast<std::size_t>(pictureRow(ye)) * width; };
    ParallelRows(0, height, [&](int begin, int end) {
      for (int y = begin; y < end; ++y) {
        const uint8_t* p = bmp.ScanLine(y);
        uint16_t* k = kPlane.get() + static_cast<std::size_t>(y) * width;
        for (int x = 0; x < width; ++x, p += 3) k[x] = static_cast<uint16_t>(Lightness510(p));
      }
    });
    ParallelRows(
        0, height,
        [&](int begin, int end) {
          // Sums of k and k^2 per picture column over the window's rows,
          // then running sums along the extended row.
          std::vector<int64_t> col1(width, 0), col2(width, 0), pre1(ew + 1), pre2(ew + 1);
          int64_t windowRow = -1;  // first extended row of the summed window
          auto addRow = [&](int64_t ye, int64_t sign) {
            const uint16_t* k = kRow(ye);
            for (int x = 0; x < width; ++x) {
              col1[x] += sign * k[x];
              col2[x] += sign * (int64_t{k[x]} * k[x]);
            }
          };
          for (int r = begin; r < end; ++r) {
            const int64_t ye = lastRowFor(r);
            if (ye < 0) continue;  // no processed row writes here
            const int64_t top = ye - win.hh;
            if (windowRow >= 0 && top == windowRow + 1) {
              addRow(windowRow, -1);
              addRow(windowRow + win.wh, +1);
            } else if (top != windowRow) {
              std::fill(col1.begin(), col1.end(), 0);
              std::fill(col2.begin(), col2.end(), 0);
              for (int64_t yy = top; yy < top + win.wh; ++yy) addRow(yy, +1);
            }
            windowRow = top;
            pre1[0] = pre2[0] = 0;
            for (int xe = 0; xe < ew; ++xe) {
              const int c = pictureCol(xe);
              pre1[xe + 1] = pre1[xe] + col1[c];
              pre2[xe + 1] = pre2[xe] + col2[c];
            }
            IETriple* p = reinterpret_cast<IETriple*>(bmp.ScanLine(r));
            for (int c = 0; c < width; ++c) {
              const int64_t xe = c == width - 1 ? ew - 1 : c + kExtend;
              if (xe < xFirst || xe > xLast) {
                p[c] = core.Margin(p[c]);
              } else {
                const int64_t left = xe - win.hw, right = left + win.ww;
                p[c] = core.Point(p[c], pre1[right] - pre1[left], pre2[right] - pre2[left]);
              }
            }
          }
        },
        [&](int r) {
          const int ye = std::min(r + kExtend, eh - 1);
          Progress(static_cast<int>(std::trunc(static_cast<double>(ye) / eh * 100)) + 1);
        },
        std::max(8, win.wh));
    // As when the new pixels are assigned to the picture: its alpha channel
    // stays, no longer known to be all opaque.
    bmp.SetAlphaAllOpaque(false);
  }
  EndOperation(w);
}

// ===========================================================================
// Plain forms

namespace enhance {

void HistAutoEqualizeReference(IEBitmap& bmp) {
  const int width = bmp.Width(), height = bmp.Height();
  std::array<uint64_t, 256> h{};
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const IETriple p = bmp.Pixel24(x, y);
      ++h[GreyLevel(p.r, p.g, p.b)];
    }
  uint8_t left[256], right[256];
  EqualizeRanges(h, static_cast<double>(width) * height, left, right);
  IEBitmap out(width, height, F::ie24RGB);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      int s[3] = {0, 0, 0};
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          const IETriple q = bmp.Pixel24(std::clamp(x + dx, 0, width - 1), std::clamp(y + dy, 0, height - 1));
          s[0] += q.b;
          s[1] += q.g;
          s[2] += q.r;
        }
      const IETriple mean{static_cast<uint8_t>(s[0] / 9), static_cast<uint8_t>(s[1] / 9),
                          static_cast<uint8_t>(s[2] / 9)};
      out.Pixel24(x, y) = EqualizedPixel(bmp.Pixel24(x, y), mean, left, right);
    }
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) bmp.Pixel24(x, y) = out.Pixel24(x, y);
}

void AutoImageEnhance3Reference(IEBitmap& bmp, int saturationPercent, double gamma) {
  auto clampRound = [](double v) { return static_cast<int>(std::clamp(std::nearbyint(v), 0.0, 255.0)); };
  auto clampTrunc = [](double v) { return static_cast<int>(std::clamp(std::trunc(v), 0.0, 255.0)); };
  int E[256], Fg[256];
  for (int i = 0; i < 256; ++i) {
    E[i] = clampRound(std::pow(i / 255.0, 1 / 2.2) * 255);
    Fg[i] = clampRound(std::pow(i / 255.0, 1 / gamma) * 255);
  }
  E[0] = 1;
  IEBitmap pic;
  pic.Assign(bmp);
  pic.Resize(pic.Width() + kPad, pic.Height() + kPad, 0.5, 255, 2, 0);
  const int W = pic.Width(), H = pic.Height();
  const std::size_t n = static_cast<std::size_t>(W) * H;
  std::vector<float> L(n), B1(n), R1(n), B2(n), R2(n);
  auto at = [&](int x, int y) { return static_cast<std::size_t>(y) * W + x; };
  auto halfMean = [&](const std::vector<float>& plane) {
    std::vector<double> rows(H, 0.0);
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) rows[y] += plane[at(x, y)];
    return HalfMean(rows, W, H);
  };
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const IETriple p = pic.Pixel24(x, y);
      L[at(x, y)] = static_cast<float>(clampTrunc(0.299 * p.r + 0.587 * p.g + 0.114 * p.b) / 255.0);
    }
  B1 = L;
  GaussianBlurReference(B1.data(), W, H, 3, halfMean(L));
  for (std::size_t i = 0; i < n; ++i) {
    const double l = L[i], b = B1[i];
    R1[i] = l + b > 0 ? static_cast<float>(l * (b + 1) / (l + b)) : 0.0f;
  }
  B2 = R1;
  GaussianBlurReference(B2.data(), W, H, 1.5, halfMean(R1));
  for (std::size_t i = 0; i < n; ++i) {
    const double r = R1[i], b = B2[i];
    R2[i] = r + b > 0 ? static_cast<float>(r * (b + 1) / (r + b)) : 0.0f;
  }
  const double f = saturationPercent / 100.0;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      IETriple& p = pic.Pixel24(x, y);
      const int e = E[clampTrunc(static_cast<double>(L[at(x, y)]) * 255)];
      const double ratio = static_cast<double>(R2[at(x, y)]) * 255 / e;
      int c[3] = {p.r, p.g, p.b};
      for (int& v : c) v = Fg[clampTrunc(E[v] * ratio)];
      const double yy = 0.3 * c[0] + 0.59 * c[1] + 0.11 * c[2];
      for (int& v : c) v = clampRound(yy + f * (v - yy));
      p = IETriple{static_cast<uint8_t>(c[2]), static_cast<uint8_t>(c[1]), static_cast<uint8_t>(c[0])};
    }
  pic.Resize(W - kPad, H - kPad, 0.5, 255, 2, 0);
  bmp.Assign(pic);
  bmp.RemoveAlphaChannel(false);
}

void WallisFilterReference(IEBitmap& bmp, int windowWidthPercent, int windowHeightPercent, int targetMean,
                           int targetDeviation, int gain, int meanWeight, int deviationLimit, bool binarize) {
  const int width = bmp.Width(), height = bmp.Height();
  const int ew = width + 2 * kExtend, eh = height + 2 * kExtend;
  const WallisWindow win = WallisWindowFor(width, height, windowWidthPercent, windowHeightPercent);
  const WallisCore core = MakeWallisCore(win, targetMean, targetDeviation, gain, meanWeight, deviationLimit, binarize);
  auto pixel = [&](int xe, int ye) -> const IETriple& {
    return bmp.Pixel24(std::clamp(xe - kExtend, 0, width - 1), std::clamp(ye - kExtend, 0, height - 1));
  };
  IEBitmap out;
  out.Assign(bmp);
  for (int y = 0; y < eh; ++y) {
    if (y < win.hh || y > eh - 1 - win.hh) continue;
    for (int x = 0; x < ew; ++x) {
      IETriple& dst = out.Pixel24(std::clamp(x - kExtend, 0, width - 1), std::clamp(y - kExtend, 0, height - 1));
      if (x < win.hw || x > ew - 1 - win.hw) {
        dst = core.Margin(pixel(x, y));
        continue;
      }
      int64_t s1 = 0, s2 = 0;
      for (int yy = y - win.hh; yy < y - win.hh + win.wh; ++yy)
        for (int xx = x - win.hw; xx < x - win.hw + win.ww; ++xx) {
          const IETriple& q = pixel(xx, yy);
          const int64_t k = std::max({q.r, q.g, q.b}) + std::min({q.r, q.g, q.b});
          s1 += k;
          s2 += k * k;
        }
      dst = core.Point(pixel(x, y), s1, s2);
    }
  }
  bmp.AssignImage(out);
}

}  // namespace enhance

}  // namespace velmora
