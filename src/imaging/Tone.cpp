// Colour and tone operations: point operations that map every pixel on its
// own, mostly through lookup tables built once per call.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "imaging/Color.h"
#include "imaging/FormatConvert.h"
#include "imaging/ImageProc.h"
#include "imaging/Parallel.h"
#include "imaging/Rounding.h"

namespace velmora {

using F = IEPixelFormat;

namespace {

inline int Clamp255(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

// Maps the three channels of every pixel of rows [y1, y2), columns
// [x1, x2) through one table per channel.
void MapChannels(Work& w, const uint8_t* tb, const uint8_t* tg, const uint8_t* tr,
                 const std::function<void(int)>& progress) {
  IEBitmap& bmp = *w.bitmap;
  ParallelRows(
      w.y1, w.y2,
      [&](int begin, int end) {
        for (int y = begin; y < end; ++y) {
          uint8_t* p = bmp.ScanLine(y) + 3 * w.x1;
          for (int x = w.x1; x < w.x2; ++x, p += 3) {
            p[0] = tb[p[0]];
            p[1] = tg[p[1]];
            p[2] = tr[p[2]];
          }
        }
      },
      progress);
}

}  // namespace

// ---------------------------------------------------------------------------

void ImageProc::AdjustBrightnessContrastSaturation(int brightness, int contrast, int saturation) {
  Work w;
  if (!BeginOperation("AdjustBrightnessContrastSaturation", {F::ie24RGB}, w)) return;
  IEBitmap& bmp = *w.bitmap;
  if (bmp.PixelFormat() == F::ie24RGB && !bmp.IsEmpty()) {
    // Parameters far outside -100..100 are not rejected; 64-bit sums keep
    // the formulas exact until their results are clamped.
    const int64_t bf = static_cast<int64_t>(std::trunc((brightness / 100.0 + 1) * 256));
    const int64_t sf = static_cast<int64_t>(std::trunc((saturation / 100.0 + 1) * 256));
    if (contrast == 100) contrast = 99;
    const double k = contrast > 0 ? 1 / std::cos(contrast * M_PI / 200) : std::cos(contrast * 0.015708);

    std::array<uint8_t, 256> ct;
    for (int i = 0; i < 256; ++i) ct[i] = RoundByte((i - 170) * k + 170);
    std::array<uint8_t, 256> bt;
    for (int j = 0; j < 256; ++j) {
      const int64_t g = (bf * (j - 1) + 256) / 256;
      bt[j] = ct[std::clamp<int64_t>(g, 0, 255)];
    }
    std::array<int64_t, 256> st;
    for (int l = 0; l < 256; ++l) st[l] = sf * (l + 1) / 256;
    std::array<int64_t, 766> d;
    for (int s = 0; s < 766; ++s) d[s] = s / 3 - st[s / 3];
    const int height = bmp.Height(), width = bmp.Width();
    auto progress = [&](int y) { Progress(static_cast<int>(std::trunc(static_cast<double>(y) / height * 100))); };

    if (sf >= -2048 && sf <= 2048) {
      // |ST| <= 2048 and |D| <= 2048 + 255: one table does the clamp and BT.
      constexpr int kReach = 2048 + 255 + 2048;
      std::vector<uint8_t> outTable(2 * kReach + 1);
      for (int v = -kReach; v <= kReach; ++v) outTable[v + kReach] = bt[Clamp255(v)];
      const uint8_t* out = outTable.data() + kReach;
      std::array<int, 256> st32;
      std::array<int, 766> d32;
      for (int i = 0; i < 256; ++i) st32[i] = static_cast<int>(st[i]);
      for (int i = 0; i < 766; ++i) d32[i] = static_cast<int>(d[i]);
      ParallelRows(
          0, height,
          [&](int begin, int end) {
            for (int y = begin; y < end; ++y) {
              uint8_t* p = bmp.ScanLine(y);
              for (int x = 0; x < width; ++x, p += 3) {
                const int ds = d32[p[0] + p[1] + p[2]];
                p[0] = out[ds + st32[p[0]]];
                p[1] = out[ds + st32[p[1]]];
                p[2] = out[ds + st32[p[2]]];
              }
            }
          },
          progress);
    } else {
      ParallelRows(
          0, height,
          [&](int begin, int end) {
            for (int y = begin; y < end; ++y) {
              uint8_t* p = bmp.ScanLine(y);
              for (int x = 0; x < width; ++x, p += 3) {
                const int64_t ds = d[p[0] + p[1] + p[2]];
                for (int c = 0; c < 3; ++c) p[c] = bt[std::clamp<int64_t>(ds + st[p[c]], 0, 255)];
              }
            }
          },
          progress);
    }
  }
  EndOperation(w);
}

void ImageProc::Contrast(int amount) {
  Work w;
  if (!BeginOperation(Label("Contrast", {amount}), {F::ie24RGB}, w)) return;
  if (w.bitmap->PixelFormat() == F::ie24RGB && !w.bitmap->IsEmpty()) {
    // The means are those of the layer's whole picture, also when a
    // selection limits the change.
    const IEBitmap& whole = canvas_->LayerBitmap(canvas_->CurrentLayerIndex());
    // Each row's means (sum div width) on its own, then their sum.
    std::vector<std::array<int64_t, 3>> rowMeans(static_cast<std::size_t>(whole.Height()));
    ParallelRows(0, whole.Height(), [&](int begin, int end) {
      for (int y = begin; y < end; ++y) {
        const uint8_t* p = whole.ScanLine(y);
        int64_t row[3] = {0, 0, 0};
        for (int x = 0; x < whole.Width(); ++x, p += 3) {
          row[0] += p[0];
          row[1] += p[1];
          row[2] += p[2];
        }
        for (int c = 0; c < 3; ++c) rowMeans[y][c] = row[c] / whole.Width();
      }
    });
    int64_t sum[3] = {0, 0, 0};
    for (const auto& m : rowMeans)
      for (int c = 0; c < 3; ++c) sum[c] += m[c];
    const int64_t f = amount < 0 ? static_cast<int64_t>(std::trunc((1 - std::sqrt(-static_cast<double>(amount)) / 10) * 65536))
                                 : static_cast<int64_t>(std::trunc((amount / 10.0 + 1) * 65536));
    uint8_t t[3][256];
    for (int c = 0; c < 3; ++c) {
      const int64_t m = sum[c] / whole.Height();
      for (int i = 0; i < 256; ++i) t[c][i] = static_cast<uint8_t>(std::clamp<int64_t>((i - m) * f / 65536 + m, 0, 255));
    }
    MapChannels(w, t[0], t[1], t[2], [&](int y) { RowProgress(w, y); });
  }
  EndOperation(w);
}

void ImageProc::IntensityRGBall(int r, int g, int b) {
  Work w;
  if (!BeginOperation(Label("IntensityRGBall", {r, g, b}), {F::ie24RGB}, w)) return;
  if (w.bitmap->PixelFormat() == F::ie24RGB && !w.bitmap->IsEmpty()) {
    uint8_t tr[256], tg[256], tb[256];
    for (int i = 0; i < 256; ++i) {
      tr[i] = static_cast<uint8_t>(std::clamp<int64_t>(int64_t{i} + r, 0, 255));
      tg[i] = static_cast<uint8_t>(std::clamp<int64_t>(int64_t{i} + g, 0, 255));
      tb[i] = static_cast<uint8_t>(std::clamp<int64_t>(int64_t{i} + b, 0, 255));
    }
    MapChannels(w, tb, tg, tr, [&](int y) { RowProgress(w, y); });
  }
  EndOperation(w);
}

void ImageProc::HSLvar(int hue, int saturation, int lightness) {
  Work w;
  if (!BeginOperation(Label("HSLvar", {hue, saturation, lightness}), {F::ie24RGB}, w)) return;
  IEBitmap& bmp = *w.bitmap;
  if (bmp.PixelFormat() == F::ie24RGB && !bmp.IsEmpty()) {
    const double dh = hue / 360.0, ds = saturation / 100.0, dl = lightness / 100.0;
    ParallelRows(
        w.y1, w.y2,
        [&](int begin, int end) {
          // A photo repeats its colours, near each other above all: the
          // result for each colour is remembered in a direct-mapped table
          // (up to 2^16 slots, 512 KB, fewer for small blocks), one per
          // block of rows so that threads share nothing. The conversion
          // of a colour is the same wherever it is made.
          struct Slot {
            uint32_t key;  // kUsed | colour, 0 when empty
            IETriple out;
          };
          constexpr uint32_t kUsed = 1u << 24;
          const auto pixels = static_cast<uint64_t>(end - begin) * static_cast<uint64_t>(w.x2 - w.x1);
          const int bits = std::clamp(static_cast<int>(std::bit_width(pixels)), 8, 16);
          std::unique_ptr<Slot[]> cache(new Slot[std::size_t{1} << bits]());
          for (int y = begin; y < end; ++y) {
            IETriple* p = reinterpret_cast<IETriple*>(bmp.ScanLine(y));
            for (int x = w.x1; x < w.x2; ++x) {
              const IETriple in = p[x];
              const uint32_t key = kUsed | uint32_t{in.r} << 16 | uint32_t{in.g} << 8 | in.b;
              Slot& slot = cache[(key * 0x9E3779B1u) >> (32 - bits)];
              if (slot.key != key) {
                double h, s, l;
                RGBToHSL(in, h, s, l);
                slot.out = HSLToRGB(h + dh, s + ds, l + dl);
                slot.key = key;
              }
              p[x] = slot.out;
            }
          }
        },
        [&](int y) { RowProgress(w, y); });
  }
  EndOperation(w);
}

void ImageProc::Colorize(int hue, int saturation, double luminosity) {
  Work w;
  if (!BeginOperation("Colorize", {F::ie24RGB}, w)) return;
  IEBitmap& bmp = *w.bitmap;
  if (bmp.PixelFormat() == F::ie24RGB && !bmp.IsEmpty()) {
    if (hue < 0)
      hue += 360;
    else if (hue > 359)
      hue -= 360;
    // Far-off values are wrapped the rest of the way rather than leaving
    // the six sectors.
    hue = ((hue % 360) + 360) % 360;
    const int s = std::clamp(saturation, 0, 99);
    // The tint depends on the weighted sum shifted right by 8 alone (0..99):
    // one entry per level.
    IETriple tint[100];
    for (int y = 0; y < 100; ++y) {
      const double lv = std::trunc(luminosity * y);
      const int v = static_cast<int>(std::clamp(std::isnan(lv) ? 0.0 : lv, 0.0, 99.0));
      // The values stay within 0..99, as bytes.
      int r, g, b;
      HSVToRGBInt(hue, s, v, 99, r, g, b);
      tint[y] = IETriple{RoundByte(b / 99.0 * 255), RoundByte(g / 99.0 * 255), RoundByte(r / 99.0 * 255)};
    }
    const int height = bmp.Height(), width = bmp.Width();
    ParallelRows(
        0, height,
        [&](int begin, int end) {
          for (int y = begin; y < end; ++y) {
            IETriple* p = reinterpret_cast<IETriple*>(bmp.ScanLine(y));
            for (int x = 0; x < width; ++x) p[x] = tint[(p[x].r * 21 + p[x].g * 71 + p[x].b * 8) >> 8];
          }
        },
        [&](int y) { Progress(static_cast<int>(std::trunc(100.0 / height * y))); });
  }
  EndOperation(w);
}

void ImageProc::ConvertToGray() {
  Work w;
  if (!BeginOperation("ConvertToGray", FormatSet::Any(), w)) return;
  IEBitmap& bmp = *w.bitmap;
  if (bmp.PixelFormat() == F::ie24RGB && !bmp.IsEmpty()) {
    ParallelRows(
        w.y1, w.y2,
        [&](int begin, int end) {
          for (int y = begin; y < end; ++y) {
            uint8_t* p = bmp.ScanLine(y) + 3 * w.x1;
            for (int x = w.x1; x < w.x2; ++x, p += 3) {
              const uint8_t v = static_cast<uint8_t>(GreyLevel(p[2], p[1], p[0]));
              p[0] = p[1] = p[2] = v;
            }
          }
        },
        [&](int y) { RowProgress(w, y); });
  }
  EndOperation(w);
}

void ImageProc::Negative() {
  Work w;
  if (!BeginOperation("Negative", FormatSet::Any(), w)) return;
  IEBitmap& bmp = *w.bitmap;
  const F fmt = bmp.PixelFormat();
  if (!bmp.IsEmpty()) {
    ParallelRows(
        w.y1, w.y2,
        [&](int begin, int end) {
          for (int y = begin; y < end; ++y) {
            uint8_t* row = bmp.ScanLine(y);
            switch (fmt) {
              case F::ie1g:
                for (int x = w.x1; x < w.x2; ++x) row[x >> 3] ^= static_cast<uint8_t>(0x80 >> (x & 7));
                break;
              case F::ie8p:
              case F::ie8g:
              case F::ie24RGB:
              case F::ieCMYK:
              case F::ieCIELab:
              case F::ie32RGB: {
                const int bytes = BitsPerPixel(fmt) / 8;
                uint8_t* p = row + static_cast<std::size_t>(w.x1) * bytes;
                uint8_t* e = row + static_cast<std::size_t>(w.x2) * bytes;
                // Eight bytes at a time where possible; same result.
                for (; p + 8 <= e; p += 8) {
                  uint64_t v;
                  std::memcpy(&v, p, 8);
                  v = ~v;
                  std::memcpy(p, &v, 8);
                }
                for (; p < e; ++p) *p = static_cast<uint8_t>(255 - *p);
                break;
              }
              case F::ie16g:
              case F::ieRGB48: {
                const int words = fmt == F::ie16g ? 1 : 3;
                auto* p = reinterpret_cast<uint16_t*>(row);
                for (int i = w.x1 * words; i < w.x2 * words; ++i) p[i] = static_cast<uint16_t>(65535 - p[i]);
                break;
              }
              case F::ie32f: {
                auto* p = reinterpret_cast<float*>(row);
                for (int x = w.x1; x < w.x2; ++x) p[x] = 1.0f - p[x];
                break;
              }
              default:
                break;
            }
          }
        },
        [&](int y) { RowProgress(w, y); });
  }
  EndOperation(w);
}

}  // namespace velmora
