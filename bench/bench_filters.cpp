// Timings of the filters, distortions and shadows on a 24-megapixel photo
// (6000 x 4000), with the parameters the program passes for that width:
// Blur Round(W / 375) = 16 and W / 300 = 20, the watercolor's opening at
// brush sizes 3 and 12 (radius 22 and 90), the wave at a mid setting, the
// shadows of radius Round(W / 70) = 86 and Round(W / 90) = 67.
//
// The photo comes from BenchPhoto.h (the picture named by
// VELMORA_BENCH_PHOTO, or else a synthetic landscape). Every iteration
// starts from the same pixels, put back while the clock is stopped;
// AutoUndo is off.
//
// This file has no main(): the benchmarks register themselves when the
// program starts.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "BenchPhoto.h"
#include "imaging/Color.h"
#include "imaging/IEBitmap.h"
#include "imaging/ImageProc.h"

namespace velmora {
namespace {

using bench::Photo;
using bench::Restore;

// The shadows enlarge the picture and give it an alpha channel: then the
// copy back is a whole new copy.
void Run(benchmark::State& state, const std::function<void(ImageProc&)>& op) {
  bench::TimeOperation(state, Photo(), op);
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
