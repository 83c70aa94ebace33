// Timings of the colour and tone operations and of the selection blends,
// on a 24-megapixel photo (6000 x 4000) and on the 220-pixel preview the
// Edit tab works on (220 x 147).
//
// The photo and the preview come from BenchPhoto.h: the picture named by
// VELMORA_BENCH_PHOTO, or else a synthetic landscape.
//
// Every iteration starts from the same pixels: they are copied back while
// the clock is stopped. The operations run with AutoUndo off; the lines
// ".../AutoUndo" show what the undo copy adds in the program. The
// benchmarks register themselves when the program starts (main() comes
// from benchmark_main).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "BenchPhoto.h"
#include "imaging/IEBitmap.h"
#include "imaging/IEMask.h"
#include "imaging/ImageProc.h"

namespace velmora {
namespace {

using bench::Restore;

struct Picture {
  const IEBitmap& bitmap;
  IEMask bits, feather;  // selections covering most of the picture
};

// Both selections leave a margin of 5 % of each side unselected; the 8-bit
// one rises from 0 to 255 across a border of 1/20 of the shorter side.
Picture MakePicture(const IEBitmap& bitmap) {
  Picture p{bitmap, {}, {}};
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
  static const Picture p = MakePicture(bench::Photo());
  return p;
}

const Picture& Preview() {
  static const Picture p = MakePicture(bench::Preview());
  return p;
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
  const IEMask* mask = c.sel == Sel::Bits ? &pic.bits : c.sel == Sel::Feather ? &pic.feather : nullptr;
  bench::TimeOperation(state, pic.bitmap, c.op, mask, c.autoUndo);
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
