// Timings of the filters, distortions and shadows on a 24-megapixel photo
// (6000 x 4000), with the parameters the program passes for that width:
// Blur Round(W / 375) = 16 and W / 300 = 20, the watercolor's opening at
// brush sizes 3 and 12 (radius 22 and 90), the wave at a mid setting, the
// shadows of radius Round(W / 70) = 86 and Round(W / 90) = 67.
//
// The photo is the picture named by VELMORA_BENCH_PHOTO (scaled to
// 6000 x 4000), or else a synthetic one: smooth gradients with soft
// texture and a fine grain. Every iteration starts from the same pixels,
// put back while the clock is stopped; AutoUndo is off.
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
#include "imaging/Color.h"
#include "imaging/IEBitmap.h"
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

// Smooth noise in 0..1 on a lattice of `cell` pixels.
double Smooth(double x, double y, double cell, uint32_t seed) {
  const double fx = x / cell, fy = y / cell;
  const int ix = static_cast<int>(fx), iy = static_cast<int>(fy);
  const double tx = fx - ix, ty = fy - iy;
  auto at = [&](int cx, int cy) {
    return (Mix(static_cast<uint32_t>(cx) * 73856093U ^ static_cast<uint32_t>(cy) * 19349663U ^ seed) & 0xFFFF) /
           65535.0;
  };
  const double sx = tx * tx * (3 - 2 * tx), sy = ty * ty * (3 - 2 * ty);
  const double top = at(ix, iy) + (at(ix + 1, iy) - at(ix, iy)) * sx;
  const double bottom = at(ix, iy + 1) + (at(ix + 1, iy + 1) - at(ix, iy + 1)) * sx;
  return top + (bottom - top) * sy;
}

uint8_t Byte(double v) { return static_cast<uint8_t>(std::lround(std::fmin(255.0, std::fmax(0.0, v)))); }

// Sky over fields: broad gradients, soft shapes of a few hundred pixels,
// finer texture and a grain of a few levels, as in a real photo.
IEBitmap SyntheticPhoto(int w, int h) {
  IEBitmap b(w, h, F::ie24RGB);
  for (int y = 0; y < h; ++y) {
    uint8_t* row = b.ScanLine(y);
    for (int x = 0; x < w; ++x) {
      const double u = x / (w - 1.0), v = y / (h - 1.0);
      const double broad = Smooth(x, y, 700, 1), mid = Smooth(x, y, 90, 2), fine = Smooth(x, y, 6, 3);
      const double horizon = 0.45 + 0.08 * Smooth(x, 0, 900, 4);
      double r, g, bl;
      if (v < horizon) {
        r = 120 + 80 * v + 25 * broad;
        g = 160 + 60 * v + 15 * broad;
        bl = 240 - 30 * v - 10 * mid;
      } else {
        r = 70 + 60 * mid + 35 * broad + 20 * u;
        g = 100 + 70 * mid - 25 * broad;
        bl = 40 + 25 * mid;
      }
      const double detail = (fine - 0.5) * 18;
      const uint32_t grain = Mix(static_cast<uint32_t>(y) * 6007U + static_cast<uint32_t>(x));
      row[3 * x + 0] = Byte(bl + detail + static_cast<int>(grain % 7) - 3);
      row[3 * x + 1] = Byte(g + detail + static_cast<int>((grain >> 8) % 7) - 3);
      row[3 * x + 2] = Byte(r + detail + static_cast<int>((grain >> 16) % 7) - 3);
    }
  }
  return b;
}

IEBitmap Scaled(const IEBitmap& src, int w, int h) {
  IEBitmap out(w, h, F::ie24RGB);
  for (int y = 0; y < h; ++y) {
    const int sy = static_cast<int>(static_cast<int64_t>(y) * src.Height() / h);
    for (int x = 0; x < w; ++x) {
      const int sx = static_cast<int>(static_cast<int64_t>(x) * src.Width() / w);
      std::memcpy(out.ScanLine(y) + 3 * x, src.ScanLine(sy) + 3 * sx, 3);
    }
  }
  return out;
}

const IEBitmap& Photo() {
  static const IEBitmap photo = [] {
    if (const char* path = std::getenv("VELMORA_BENCH_PHOTO")) {
      IEBitmap file;
      if (IOResult r = ReadImage(path, file); r && file.PixelFormat() == F::ie24RGB) return Scaled(file, 6000, 4000);
      std::fprintf(stderr, "VELMORA_BENCH_PHOTO: cannot use %s; using the synthetic photo\n", path);
    }
    return SyntheticPhoto(6000, 4000);
  }();
  return photo;
}

void Run(benchmark::State& state, const std::function<void(ImageProc&)>& op) {
  const IEBitmap& photo = Photo();
  IEBitmap work(photo);
  BitmapTarget target(work);
  ImageProc proc(target);
  proc.AutoUndo = false;
  for (auto _ : state) {
    state.PauseTiming();
    // The shadows enlarge the picture and give it an alpha channel.
    if (work.Width() != photo.Width() || work.Height() != photo.Height() || work.HasAlphaChannel()) {
      work.Assign(photo);
    } else {
      for (int y = 0; y < photo.Height(); ++y) std::memcpy(work.ScanLine(y), photo.ScanLine(y), photo.RowLen());
    }
    state.ResumeTiming();
    op(proc);
    benchmark::DoNotOptimize(work.ScanLine(0)[0]);
  }
  state.SetItemsProcessed(state.iterations() * int64_t{photo.Width()} * photo.Height());
}

struct Case {
  const char* name;
  std::function<void(ImageProc&)> op;
};

const bool kRegistered = [] {
  const std::vector<Case> cases = {
      {"Blur/16", [](ImageProc& p) { p.Blur(16); }},
      {"Blur/20", [](ImageProc& p) { p.Blur(20); }},
      {"Sharpen/10,4", [](ImageProc& p) { p.Sharpen(10, 4); }},
      {"Sharpen/50,12", [](ImageProc& p) { p.Sharpen(50, 12); }},
      {"Opening/22", [](ImageProc& p) { p.Opening(22); }},
      {"Opening/90", [](ImageProc& p) { p.Opening(90); }},
      {"Wave/38,75,90", [](ImageProc& p) { p.Wave(38, 75, 90, false); }},
      {"Wave/38,75,90,reflective", [](ImageProc& p) { p.Wave(38, 75, 90, true); }},
      {"Fill", [](ImageProc& p) { p.Fill(0xFFFFFF); }},
      {"AddSoftShadow/69,69,86", [](ImageProc& p) { p.AddSoftShadow(69, 69, 86, true, clBlack, 100); }},
      {"AddInnerShadow/0,0,67", [](ImageProc& p) { p.AddInnerShadow(0, 0, 67, clBlack); }},
  };
  for (const Case& c : cases) {
    auto op = c.op;
    benchmark::RegisterBenchmark((std::string("Photo24MP/") + c.name).c_str(),
                                 [op](benchmark::State& s) { Run(s, op); })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  }
  return true;
}();

}  // namespace
}  // namespace velmora
