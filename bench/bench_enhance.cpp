// Timings of the automatic enhancements on a 24-megapixel photo
// (6000 x 4000), each with the parameters the Auto Enhance dialog passes,
// and on the 250-pixel thumbnail (250 x 167) the dialog shows them on,
// alone and all five in a row as the dialog runs them (each on its own
// copy of the thumbnail).
//
// The photo is the picture named by VELMORA_BENCH_PHOTO (scaled to
// 6000 x 4000), or else a synthetic one: smooth gradients, soft texture at
// two scales and a fine grain, so that neighbouring pixels differ as in a
// real photo. Every iteration starts from the same pixels, put back while
// the clock is stopped; AutoUndo is off.
//
// This file has no main(): the benchmarks register themselves when the
// program starts.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "document/files/ImageFile.h"
#include "imaging/IEBitmap.h"
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

// Smooth noise in 0..1 on a lattice of `cell` pixels.
double Smooth(double x, double y, double cell, uint32_t seed) {
  const double fx = x / cell, fy = y / cell;
  const int ix = static_cast<int>(fx), iy = static_cast<int>(fy);
  const double tx = fx - ix, ty = fy - iy;
  auto at = [&](int cx, int cy) {
    return (Hash(static_cast<uint32_t>(cx) * 73856093U ^ static_cast<uint32_t>(cy) * 19349663U ^ seed) & 0xFFFF) /
           65535.0;
  };
  const double sx = tx * tx * (3 - 2 * tx), sy = ty * ty * (3 - 2 * ty);
  const double top = at(ix, iy) + (at(ix + 1, iy) - at(ix, iy)) * sx;
  const double bottom = at(ix, iy + 1) + (at(ix + 1, iy + 1) - at(ix, iy + 1)) * sx;
  return top + (bottom - top) * sy;
}

uint8_t Byte(double v) { return static_cast<uint8_t>(std::lround(std::fmin(255.0, std::fmax(0.0, v)))); }

// Sky over textured ground with a bright patch, and a grain of +-3 levels.
IEBitmap Synthetic(int w, int h) {
  IEBitmap b(w, h, F::ie24RGB);
  for (int y = 0; y < h; ++y) {
    IETriple* row = reinterpret_cast<IETriple*>(b.ScanLine(y));
    for (int x = 0; x < w; ++x) {
      const double u = x / (w - 1.0), v = y / (h - 1.0);
      const double coarse = Smooth(x, y, w / 30.0, 1), fine = Smooth(x, y, 5, 2);
      const double horizon = 0.45 + 0.08 * std::sin(6 * u) + 0.04 * Smooth(x, 0, w / 10.0, 3);
      double r, g, bl;
      if (v < horizon) {
        r = 105 + 100 * v + 25 * coarse;
        g = 145 + 80 * v + 20 * coarse;
        bl = 240 - 30 * v;
        const double dx = u - 0.7, dy = v - 0.2;
        const double glow = std::exp(-(dx * dx + dy * dy) * 150);
        r += (255 - r) * glow, g += (240 - g) * glow, bl += (200 - bl) * glow;
      } else {
        const double depth = (v - horizon) / (1 - horizon);
        r = 55 + 80 * coarse + 45 * depth + 20 * fine;
        g = 90 + 90 * coarse - 25 * depth + 20 * fine;
        bl = 30 + 35 * coarse + 10 * fine;
      }
      const uint32_t n = Hash(static_cast<uint32_t>(y) * 7919U + static_cast<uint32_t>(x));
      auto grain = [&](int c) { return static_cast<int>((n >> (8 * c)) % 7) - 3; };
      row[x] = IETriple{Byte(bl + grain(0)), Byte(g + grain(1)), Byte(r + grain(2))};
    }
  }
  return b;
}

// Nearest-neighbour scaling (only for a photo given from a file, and for
// the thumbnail).
IEBitmap Scaled(const IEBitmap& src, int w, int h) {
  IEBitmap out(w, h, F::ie24RGB);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      out.Pixel24(x, y) = src.Pixel24(static_cast<int>(int64_t{x} * src.Width() / w),
                                      static_cast<int>(int64_t{y} * src.Height() / h));
  return out;
}

const IEBitmap& Photo() {
  static const IEBitmap photo = [] {
    if (const char* path = std::getenv("VELMORA_BENCH_PHOTO")) {
      IEBitmap file;
      if (IOResult r = ReadImage(path, file); r && file.PixelFormat() == F::ie24RGB) return Scaled(file, 6000, 4000);
      std::fprintf(stderr, "VELMORA_BENCH_PHOTO: cannot use %s; using the synthetic photo\n", path);
    }
    return Synthetic(6000, 4000);
  }();
  return photo;
}

const IEBitmap& Thumbnail() {
  static const IEBitmap thumb = Scaled(Photo(), 250, 167);
  return thumb;
}

void Restore(const IEBitmap& src, IEBitmap& dst) {
  if (dst.PixelFormat() != src.PixelFormat() || dst.Width() != src.Width() || dst.Height() != src.Height()) {
    dst.Assign(src);
    return;
  }
  for (int y = 0; y < src.Height(); ++y) std::memcpy(dst.ScanLine(y), src.ScanLine(y), src.RowLen());
}

using Op = std::function<void(ImageProc&)>;

void Run(benchmark::State& state, const IEBitmap& (*picture)(), const Op& op) {
  const IEBitmap& source = picture();
  IEBitmap work = source;
  BitmapTarget target(work);
  ImageProc proc(target);
  proc.AutoUndo = false;
  for (auto _ : state) {
    state.PauseTiming();
    Restore(source, work);
    state.ResumeTiming();
    op(proc);
    benchmark::DoNotOptimize(work.ScanLine(0)[0]);
  }
  state.SetItemsProcessed(state.iterations() * int64_t{work.Width()} * work.Height());
}

struct Case {
  const char* name;
  Op op;
};

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      {"WhiteBalance_AutoWhite", [](ImageProc& p) { p.WhiteBalance_AutoWhite(); }},
      {"HistAutoEqualize", [](ImageProc& p) { p.HistAutoEqualize(); }},
      {"AdjustLumSatHistogram/0.7,0.5", [](ImageProc& p) { p.AdjustLumSatHistogram(0.7, 0.5); }},
      {"AutoImageEnhance3/80,0.35", [](ImageProc& p) { p.AutoImageEnhance3(80, 0.35); }},
      {"WallisFilter/2,2,50,50,50,10,50", [](ImageProc& p) { p.WallisFilter(2, 2, 50, 50, 50, 10, 50, false); }},
  };
  return cases;
}

// The dialog's preview: the five operations, each on a fresh copy of the
// thumbnail (the copies are timed too).
void RunAllFive(benchmark::State& state) {
  const IEBitmap& source = Thumbnail();
  IEBitmap work = source;
  BitmapTarget target(work);
  ImageProc proc(target);
  proc.AutoUndo = false;
  for (auto _ : state) {
    for (const Case& c : Cases()) {
      Restore(source, work);
      c.op(proc);
    }
    benchmark::DoNotOptimize(work.ScanLine(0)[0]);
  }
}

const bool kRegistered = [] {
  for (const Case& c : Cases()) {
    const Op op = c.op;
    benchmark::RegisterBenchmark((std::string("Photo24MP/") + c.name).c_str(),
                                 [op](benchmark::State& s) { Run(s, &Photo, op); })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark((std::string("Thumbnail250/") + c.name).c_str(),
                                 [op](benchmark::State& s) { Run(s, &Thumbnail, op); })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  }
  benchmark::RegisterBenchmark("Thumbnail250/AllFive", RunAllFive)->Unit(benchmark::kMillisecond)->UseRealTime();
  return true;
}();

}  // namespace
}  // namespace velmora
