// Timings of the colour and tone operations and of the selection blends,
// on a 24-megapixel photo (6000 x 4000) and on the 220-pixel preview the
// Edit tab works on (220 x 147).
//
// The photo is the picture named by VELMORA_BENCH_PHOTO (any file the
// reader takes, scaled to 6000 x 4000), or else a synthetic landscape:
// smooth gradients and soft texture, enlarged and given fine detail and
// grain, so that neighbouring pixels differ as they do in a real photo.
//
// Every iteration starts from the same pixels: they are copied back while
// the clock is stopped. The operations run with AutoUndo off; the lines
// ".../AutoUndo" show what the undo copy adds in the program. The
// benchmarks register themselves when the program starts (main() comes
// from benchmark_main).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "document/files/ImageFile.h"
#include "imaging/IEBitmap.h"
#include "imaging/IEMask.h"
#include "imaging/ImageProc.h"

namespace velmora {
namespace {

using F = IEPixelFormat;

uint32_t Hash(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352dU;
  x ^= x >> 15;
  x *= 0x846ca68bU;
  x ^= x >> 16;
  return x;
}

// Smooth value noise in 0..1 on a lattice of `cell` pixels.
double ValueNoise(double x, double y, double cell, uint32_t seed) {
  const double fx = x / cell, fy = y / cell;
  const int ix = static_cast<int>(fx), iy = static_cast<int>(fy);
  const double tx = fx - ix, ty = fy - iy;
  auto at = [&](int cx, int cy) { return (Hash(cx * 73856093U ^ cy * 19349663U ^ seed) & 0xFFFF) / 65535.0; };
  const double sx = tx * tx * (3 - 2 * tx), sy = ty * ty * (3 - 2 * ty);
  const double top = at(ix, iy) + (at(ix + 1, iy) - at(ix, iy)) * sx;
  const double bottom = at(ix, iy + 1) + (at(ix + 1, iy + 1) - at(ix, iy + 1)) * sx;
  return top + (bottom - top) * sy;
}

uint8_t Byte(double v) { return static_cast<uint8_t>(std::lround(std::fmin(255.0, std::fmax(0.0, v)))); }

// A small landscape: sky, sun, hills and textured ground.
IEBitmap Landscape(int w, int h) {
  IEBitmap b(w, h, F::ie24RGB);
  for (int y = 0; y < h; ++y) {
    IETriple* row = reinterpret_cast<IETriple*>(b.ScanLine(y));
    for (int x = 0; x < w; ++x) {
      const double u = x / (w - 1.0), v = y / (h - 1.0);
      const double texture = ValueNoise(x, y, w / 40.0, 1) * 0.6 + ValueNoise(x, y, w / 150.0, 2) * 0.4;
      const double horizon = 0.48 + 0.06 * std::sin(7 * u) + 0.03 * ValueNoise(x, 0, w / 12.0, 3);
      double r, g, bl;
      if (v < horizon) {
        r = 110 + 90 * v + 20 * texture;
        g = 150 + 70 * v + 15 * texture;
        bl = 235 - 25 * v;
        const double dx = u - 0.72, dy = v - 0.18, d = std::sqrt(dx * dx + dy * dy);
        if (d < 0.09) {
          const double k = std::fmin(1.0, (0.09 - d) / 0.02);
          r += (255 - r) * k, g += (236 - g) * k, bl += (190 - bl) * k;
        }
      } else {
        const double depth = (v - horizon) / (1 - horizon);
        r = 60 + 70 * texture + 40 * depth;
        g = 95 + 80 * texture - 20 * depth;
        bl = 35 + 30 * texture;
      }
      row[x] = IETriple{Byte(bl), Byte(g), Byte(r)};
    }
  }
  return b;
}

// Bilinear enlargement (or reduction) to w x h. With `grain`, fine detail
// is added as a real photo has it: a luminance texture of a few pixels'
// size (+-4 grain levels) and a per-channel grain of +-grain levels.
IEBitmap Scale(const IEBitmap& src, int w, int h, int grain) {
  IEBitmap out(w, h, F::ie24RGB);
  const double sx = (src.Width() - 1.0) / std::max(1, w - 1), sy = (src.Height() - 1.0) / std::max(1, h - 1);
  for (int y = 0; y < h; ++y) {
    const double fy = y * sy;
    const int y0 = static_cast<int>(fy), y1 = std::min(y0 + 1, src.Height() - 1);
    const double ty = fy - y0;
    const uint8_t* r0 = src.ScanLine(y0);
    const uint8_t* r1 = src.ScanLine(y1);
    uint8_t* d = out.ScanLine(y);
    for (int x = 0; x < w; ++x) {
      const double fx = x * sx;
      const int x0 = static_cast<int>(fx), x1 = std::min(x0 + 1, src.Width() - 1);
      const double tx = fx - x0;
      const uint32_t noise = grain ? Hash(static_cast<uint32_t>(y) * 6007U + static_cast<uint32_t>(x)) : 0;
      const double detail = grain ? (ValueNoise(x, y, 4, 7) - 0.5) * 8 * grain : 0;
      for (int c = 0; c < 3; ++c) {
        const double top = r0[3 * x0 + c] + (r0[3 * x1 + c] - r0[3 * x0 + c]) * tx;
        const double bottom = r1[3 * x0 + c] + (r1[3 * x1 + c] - r1[3 * x0 + c]) * tx;
        const int n = grain ? static_cast<int>((noise >> (8 * c)) % (2 * grain + 1)) - grain : 0;
        d[3 * x + c] = Byte(top + (bottom - top) * ty + detail + n);
      }
    }
  }
  return out;
}

IEBitmap MakePhoto(int w, int h) {
  if (const char* path = std::getenv("VELMORA_BENCH_PHOTO")) {
    IEBitmap file;
    if (IOResult r = ReadImage(path, file); r && file.PixelFormat() == F::ie24RGB) return Scale(file, w, h, 0);
    std::fprintf(stderr, "VELMORA_BENCH_PHOTO: cannot use %s; using the synthetic photo\n", path);
  }
  return Scale(Landscape(w / 8, h / 8), w, h, 3);
}

struct Picture {
  IEBitmap bitmap;
  IEMask bits, feather;  // selections covering most of the picture
};

// Both selections leave a margin of 5 % of each side unselected; the 8-bit
// one rises from 0 to 255 across a border of 1/20 of the shorter side.
Picture MakePicture(IEBitmap bitmap) {
  Picture p{std::move(bitmap), {}, {}};
  const int w = p.bitmap.Width(), h = p.bitmap.Height();
  const int mx = w / 20, my = h / 20;
  p.bits.Allocate(w, h, 1);
  p.bits.SelectRect(mx, my, w - 1 - mx, h - 1 - my);
  p.feather.Allocate(w, h, 8);
  const int ramp = std::max(1, std::min(w, h) / 20);
  for (int y = my; y < h - my; ++y) {
    uint8_t* row = p.feather.ScanLine(y);
    for (int x = mx; x < w - mx; ++x) {
      const int edge = std::min({x - mx, w - 1 - mx - x, y - my, h - 1 - my - y});
      row[x] = static_cast<uint8_t>(std::min(255, (edge + 1) * 255 / ramp));
    }
  }
  p.feather.SyncBox();
  return p;
}

const Picture& Photo() {
  static const Picture p = MakePicture(MakePhoto(6000, 4000));
  return p;
}

const Picture& Preview() {
  static const Picture p = MakePicture(Scale(Photo().bitmap, 220, 147, 0));
  return p;
}

void CopyPixels(const IEBitmap& src, IEBitmap& dst) {
  for (int y = 0; y < src.Height(); ++y) std::memcpy(dst.ScanLine(y), src.ScanLine(y), src.RowLen());
}

enum class Sel { None, Bits, Feather };

struct Case {
  std::string name;
  std::function<void(ImageProc&)> op;
  Sel sel = Sel::None;
  bool autoUndo = false;
};

void Run(benchmark::State& state, const Picture& (*picture)(), const Case& c) {
  const Picture& pic = picture();
  IEBitmap work = pic.bitmap;
  const IEMask* mask = c.sel == Sel::Bits ? &pic.bits : c.sel == Sel::Feather ? &pic.feather : nullptr;
  BitmapTarget target(work, mask);
  ImageProc proc(target);
  proc.AutoUndo = c.autoUndo;
  for (auto _ : state) {
    state.PauseTiming();
    CopyPixels(pic.bitmap, work);
    state.ResumeTiming();
    c.op(proc);
    benchmark::DoNotOptimize(work.ScanLine(0)[0]);
  }
  state.SetItemsProcessed(state.iterations() * int64_t{work.Width()} * work.Height());
}

const bool kRegistered = [] {
  const std::vector<Case> cases = {
      {"AdjustBrightnessContrastSaturation", [](ImageProc& p) { p.AdjustBrightnessContrastSaturation(20, 30, 40); }},
      {"Contrast", [](ImageProc& p) { p.Contrast(1); }},
      {"IntensityRGBall", [](ImageProc& p) { p.IntensityRGBall(30, -20, 10); }},
      {"HSLvar", [](ImageProc& p) { p.HSLvar(30, 0, 0); }},
      {"HSLvar/Lightness", [](ImageProc& p) { p.HSLvar(0, 0, -50); }},
      {"Colorize", [](ImageProc& p) { p.Colorize(40, 50, 1.1); }},
      {"ConvertToGray", [](ImageProc& p) { p.ConvertToGray(); }},
      {"Negative", [](ImageProc& p) { p.Negative(); }},
      {"Negative/Selection1bit", [](ImageProc& p) { p.Negative(); }, Sel::Bits},
      {"Negative/Selection8bit", [](ImageProc& p) { p.Negative(); }, Sel::Feather},
      {"Negative/AutoUndo", [](ImageProc& p) { p.Negative(); }, Sel::None, true},
  };
  for (const Case& c : cases) {
    benchmark::RegisterBenchmark(("Photo24MP/" + c.name).c_str(), [c](benchmark::State& s) { Run(s, &Photo, c); })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark(("Preview220/" + c.name).c_str(), [c](benchmark::State& s) { Run(s, &Preview, c); })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  }
  return true;
}();

}  // namespace
}  // namespace velmora
