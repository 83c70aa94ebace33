// Timings of the geometry operations on a 24-megapixel photo (6000 x 4000).
//
// The photo comes from BenchPhoto.h (the picture named by
// VELMORA_BENCH_PHOTO, or else a synthetic landscape).
//
// Most operations change the picture's size, so every iteration starts
// from a fresh copy of the photo, made while the clock is stopped. AutoUndo
// is off: these are the operations alone.
#include <benchmark/benchmark.h>

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

using bench::Photo;
using bench::Restore;

struct Case {
  std::string name;
  std::function<void(ImageProc&)> op;
  bool select = false;  // a rectangular 1-bit selection of the middle 90 %
};

void Run(benchmark::State& state, const Case& c) {
  const IEBitmap& photo = Photo();
  IEMask mask;
  if (c.select) {
    mask.Allocate(photo.Width(), photo.Height(), 1);
    mask.SelectRect(photo.Width() / 20, photo.Height() / 20, photo.Width() * 19 / 20, photo.Height() * 19 / 20);
  }
  bench::TimeOperation(state, photo, c.op, c.select ? &mask : nullptr);
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
