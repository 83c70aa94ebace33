// Timings of the automatic enhancements on a 24-megapixel photo
// (6000 x 4000), each with the parameters the Auto Enhance dialog passes,
// and on the 250-pixel thumbnail (250 x 167) the dialog shows them on,
// alone and all five in a row as the dialog runs them (each on its own
// copy of the thumbnail).
//
// The photo and the thumbnail come from BenchPhoto.h (the picture named by
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
#include "imaging/IEBitmap.h"
#include "imaging/ImageProc.h"

namespace velmora {
namespace {

using bench::Photo;
using bench::Restore;
using bench::Thumbnail;

using Op = std::function<void(ImageProc&)>;

void Run(benchmark::State& state, const IEBitmap& (*picture)(), const Op& op) {
  bench::TimeOperation(state, picture(), op);
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
