// Timings of the picture files: a 24-megapixel JPEG (6000 x 4000) decoded
// whole and read as a 160-pixel thumbnail (scaled decoding, then a box
// reduction), and the classic formats written and read back.
//
// The photo comes from BenchPhoto.h (the picture named by
// VELMORA_BENCH_PHOTO, or else a synthetic landscape with a fine grain, so
// that the JPEG holds as much detail as a camera file of that size does).
// It is written once to a temporary folder, on first use.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "BenchPhoto.h"
#include "document/files/ImageFile.h"
#include "imaging/IEBitmap.h"

namespace velmora {
namespace {

// The folder and the files in it, made once.
const std::string& Folder() {
  static const std::string dir = [] {
    const std::string folder = bench::MakeScratchFolder("files");
    SaveParams params;
    params.jpegQuality = 92;
    if (!WriteImage(folder + "/photo24.jpg", bench::Photo(), params)) std::abort();
    return folder;
  }();
  return dir;
}

void BM_ReadJpeg24MP(benchmark::State& state) {
  const std::string path = Folder() + "/photo24.jpg";
  for (auto _ : state) {
    IEBitmap bmp;
    if (!ReadImage(path, bmp)) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(bmp.ScanLine(0));
  }
}
BENCHMARK(BM_ReadJpeg24MP)->Unit(benchmark::kMillisecond);

void BM_ThumbnailJpeg24MP(benchmark::State& state) {
  const std::string path = Folder() + "/photo24.jpg";
  for (auto _ : state) {
    IEBitmap bmp;
    if (!ReadThumbnail(path, 160, bmp)) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(bmp.ScanLine(0));
  }
}
BENCHMARK(BM_ThumbnailJpeg24MP)->Unit(benchmark::kMillisecond);

// A 4-megapixel picture through each classic writer and reader.
void BM_ClassicRoundTrip(benchmark::State& state, const char* ext) {
  static const IEBitmap picture = bench::PhotoAt(2000, 2000);
  const std::string path = Folder() + "/round." + ext;
  for (auto _ : state) {
    IEBitmap back;
    if (!WriteImage(path, picture) || !ReadImage(path, back)) state.SkipWithError("round trip failed");
    benchmark::DoNotOptimize(back.ScanLine(0));
  }
}
BENCHMARK_CAPTURE(BM_ClassicRoundTrip, tif, "tif")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ClassicRoundTrip, gif, "gif")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ClassicRoundTrip, bmp, "bmp")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ClassicRoundTrip, tga, "tga")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ClassicRoundTrip, pcx, "pcx")->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velmora
