// Timings of the geometry operations on a 24-megapixel photo (6000 x 4000).
//
// The photo is the picture named by VELMORA_BENCH_PHOTO (any file the
// reader takes, scaled to 6000 x 4000), or else a synthetic one: smooth
// gradients and soft shapes with a fine luminance texture and grain, so
// that neighbouring pixels differ as they do in a real photo.
//
// The operations change the picture's size, so every iteration starts from
// a fresh copy of the photo, made while the clock is stopped. AutoUndo is
// off: these are the operations alone.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "document/files/ImageFile.h"
#include "imaging/IEBitmap.h"
#include "imaging/IEMask.h"
#include "imaging/ImageProc.h"

namespace velmora {
namespace {

using F = IEPixelFormat;

uint32_t Mix(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352dU;
  x ^= x >> 15;
  x *= 0x846ca68bU;
  x ^= x >> 16;
  return x;
}

// Smooth value noise in 0..1 on a lattice of `cell` pixels.
double Smooth(double x, double y, double cell, uint32_t seed) {
  const double fx = x / cell, fy = y / cell;
  const int ix = static_cast<int>(fx), iy = static_cast<int>(fy);
  const double tx = fx - ix, ty = fy - iy;
  auto at = [&](int cx, int cy) { return (Mix(cx * 73856093U ^ cy * 19349663U ^ seed) & 0xFFFF) / 65535.0; };
  const double sx = tx * tx * (3 - 2 * tx), sy = ty * ty * (3 - 2 * ty);
  const double top = at(ix, iy) + (at(ix + 1, iy) - at(ix, iy)) * sx;
  const double bottom = at(ix, iy + 1) + (at(ix + 1, iy + 1) - at(ix, iy + 1)) * sx;
  return top + (bottom - top) * sy;
}

uint8_t ToByte(double v) { return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0, 255.0))); }

// Sky over hills, a bright disc, a textured foreground; grain on top.
IEBitmap SyntheticPhoto(int w, int h) {
  IEBitmap b(w, h, F::ie24RGB);
  for (int y = 0; y < h; ++y) {
    uint8_t* row = b.ScanLine(y);
    for (int x = 0; x < w; ++x) {
      const double u = x / (w - 1.0), v = y / (h - 1.0);
      const double broad = Smooth(x, y, w / 25.0, 1) * 0.6 + Smooth(x, y, w / 120.0, 2) * 0.4;
      const double fine = Smooth(x, y, 3.5, 3) - 0.5;
      const double horizon = 0.5 + 0.07 * std::sin(6 * u) + 0.04 * Smooth(x, 0, w / 10.0, 4);
      double r, g, bl;
      if (v < horizon) {
        r = 105 + 95 * v + 25 * broad;
        g = 145 + 75 * v + 20 * broad;
        bl = 230 - 30 * v;
        const double dx = u - 0.3, dy = v - 0.22, d = std::sqrt(dx * dx + dy * dy);
        if (d < 0.08) {
          const double k = std::min(1.0, (0.08 - d) / 0.015);
          r += (255 - r) * k, g += (240 - g) * k, bl += (200 - bl) * k;
        }
      } else {
        const double depth = (v - horizon) / (1 - horizon);
        r = 55 + 80 * broad + 45 * depth;
        g = 90 + 85 * broad - 25 * depth;
        bl = 30 + 35 * broad;
      }
      const uint32_t n = Mix(static_cast<uint32_t>(y) * 7919U + static_cast<uint32_t>(x));
      const double texture = fine * 24;
      row[3 * x] = ToByte(bl + texture + static_cast<int>(n % 7) - 3);
      row[3 * x + 1] = ToByte(g + texture + static_cast<int>((n >> 8) % 7) - 3);
      row[3 * x + 2] = ToByte(r + texture + static_cast<int>((n >> 16) % 7) - 3);
    }
  }
  return b;
}

const IEBitmap& Photo() {
  static const IEBitmap photo = [] {
    if (const char* path = std::getenv("VELMORA_BENCH_PHOTO")) {
      IEBitmap file;
      if (IOResult r = ReadImage(path, file); r && file.PixelFormat() == F::ie24RGB) {
        BitmapTarget t(file);
        ImageProc p(t);
        p.AutoUndo = false;
        p.Resample(6000, 4000, rfBilinear);
        return file;
      }
      std::fprintf(stderr, "VELMORA_BENCH_PHOTO: cannot use %s; using the synthetic photo\n", path);
    }
    return SyntheticPhoto(6000, 4000);
  }();
  return photo;
}

struct Case {
  std::string name;
  std::function<void(ImageProc&)> op;
  bool select = false;  // a rectangular 1-bit selection of the middle 90 %
};

void Run(benchmark::State& state, const Case& c) {
  const IEBitmap& photo = Photo();
  IEBitmap work;
  IEMask mask;
  if (c.select) {
    mask.Allocate(photo.Width(), photo.Height(), 1);
    mask.SelectRect(photo.Width() / 20, photo.Height() / 20, photo.Width() * 19 / 20, photo.Height() * 19 / 20);
  }
  BitmapTarget target(work, c.select ? &mask : nullptr);
  ImageProc proc(target);
  proc.AutoUndo = false;
  for (auto _ : state) {
    state.PauseTiming();
    work.Assign(photo);
    state.ResumeTiming();
    c.op(proc);
    benchmark::DoNotOptimize(work.ScanLine(0)[0]);
  }
  state.SetItemsProcessed(state.iterations() * int64_t{photo.Width()} * photo.Height());
}

const bool kRegistered = [] {
  const std::vector<Case> cases = {
      {"Resample/half/rfBilinear", [](ImageProc& p) { p.Resample(3000, 2000, rfBilinear); }},
      {"Resample/half/rfMitchell", [](ImageProc& p) { p.Resample(3000, 2000, rfMitchell); }},
      {"Resample/half/rfLinear", [](ImageProc& p) { p.Resample(3000, 2000, rfLinear); }},
      {"Resample/half/rfBicubic", [](ImageProc& p) { p.Resample(3000, 2000, rfBicubic); }},
      {"Resample/half/rfNone", [](ImageProc& p) { p.Resample(3000, 2000, rfNone); }},
      {"Resample/preview220/rfLinear", [](ImageProc& p) { p.Resample(220, -1, rfLinear); }},
      {"Resample/thumbnail250/rfBilinear", [](ImageProc& p) { p.Resample(250, -1, rfBilinear); }},
      {"Resample/x1.25/rfMitchell", [](ImageProc& p) { p.Resample(7500, 5000, rfMitchell); }},
      {"Resample/x1.25/rfBicubic", [](ImageProc& p) { p.Resample(7500, 5000, rfBicubic); }},
      {"Rotate/10/antialiased", [](ImageProc& p) { p.Rotate(true, 0, 10, -1); }},
      {"Rotate/10/plain", [](ImageProc& p) { p.Rotate(false, 2, 10, -1); }},
      {"Rotate/-45/antialiased", [](ImageProc& p) { p.Rotate(true, 0, -45, -1); }},
      {"Rotate/90", [](ImageProc& p) { p.Rotate(true, 0, 90, -1); }},
      {"Flip/0", [](ImageProc& p) { p.Flip(0); }},
      {"Flip/1", [](ImageProc& p) { p.Flip(1); }},
      {"CropSel/rectangle", [](ImageProc& p) { p.CropSel(); }, true},
  };
  for (const Case& c : cases)
    benchmark::RegisterBenchmark(("Geometry/" + c.name).c_str(), [c](benchmark::State& s) { Run(s, c); })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  return true;
}();

}  // namespace
}  // namespace velmora
