// Timings of the colour reductions on a 24-megapixel photo (6000 x 4000)
// and on a 250-pixel thumbnail (250 x 167): ConvertTo with the counts the
// Reduce Colors page passes (2..30), the network quantizer the program never
// asks for (256), the two black-and-white conversions and the way back.
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

// The same picture in black and white, for ConvertTo24Bit.
const IEBitmap& BlackAndWhite(const IEBitmap& (*picture)()) {
  static IEBitmap photo, thumb;
  IEBitmap& bw = picture == &Photo ? photo : thumb;
  if (bw.IsEmpty()) {
    bw = picture();
    BitmapTarget target(bw);
    ImageProc proc(target);
    proc.AutoUndo = false;
    proc.ConvertToBWOrdered();
  }
  return bw;
}

struct Case {
  const char* name;
  std::function<void(ImageProc&)> op;
  bool fromBlackAndWhite = false;
};

void Run(benchmark::State& state, const IEBitmap& (*picture)(), const Case& c) {
  bench::TimeOperation(state, c.fromBlackAndWhite ? BlackAndWhite(picture) : picture(), c.op);
}

const bool kRegistered = [] {
  const std::vector<Case> cases = {
      {"ConvertTo/30", [](ImageProc& p) { p.ConvertTo(30, false); }},
      {"ConvertTo/3", [](ImageProc& p) { p.ConvertTo(3, false); }},
      {"ConvertTo/2", [](ImageProc& p) { p.ConvertTo(2, false); }},
      {"ConvertTo/2,threshold", [](ImageProc& p) { p.ConvertTo(2, true); }},
      {"ConvertTo/256", [](ImageProc& p) { p.ConvertTo(256, false); }},
      {"ConvertToBWOrdered", [](ImageProc& p) { p.ConvertToBWOrdered(); }},
      {"ConvertToBWThreshold/-1", [](ImageProc& p) { p.ConvertToBWThreshold(-1); }},
      {"ConvertToBWThreshold/-2", [](ImageProc& p) { p.ConvertToBWThreshold(-2); }},
      {"ConvertTo24Bit", [](ImageProc& p) { p.ConvertTo24Bit(); }, true},
  };
  for (const Case& c : cases) {
    benchmark::RegisterBenchmark((std::string("Photo24MP/") + c.name).c_str(),
                                 [c](benchmark::State& s) { Run(s, &Photo, c); })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark((std::string("Thumbnail250/") + c.name).c_str(),
                                 [c](benchmark::State& s) { Run(s, &Thumbnail, c); })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  }
  return true;
}();

}  // namespace
}  // namespace velmora
