// Timings of the picture files: a 24-megapixel JPEG (6000 x 4000) decoded
// whole and read as a 160-pixel thumbnail (scaled decoding, then a box
// reduction), and the classic formats written and read back.
//
// The photo is a synthetic one: smooth gradients with a fine grain, so that
// the JPEG holds as much detail as a camera file of that size does. It is
// written once to a temporary folder when the program starts.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "document/files/ImageFile.h"
#include "imaging/IEBitmap.h"

namespace velmora {
namespace {

IEBitmap SyntheticPhoto(int w, int h) {
  IEBitmap bmp(w, h, IEPixelFormat::ie24RGB);
  uint32_t seed = 12345;
  for (int y = 0; y < h; ++y) {
    uint8_t* row = bmp.ScanLine(y);
    for (int x = 0; x < w; ++x) {
      seed = seed * 1664525u + 1013904223u;
      const int grain = static_cast<int>(seed >> 28) - 8;
      row[3 * x] = static_cast<uint8_t>(std::clamp(x * 200 / w + grain + 20, 0, 255));
      row[3 * x + 1] = static_cast<uint8_t>(std::clamp(y * 220 / h + grain, 0, 255));
      row[3 * x + 2] = static_cast<uint8_t>(std::clamp((x + y) * 180 / (w + h) + grain + 40, 0, 255));
    }
  }
  return bmp;
}

// The folder and the files in it, made once.
const std::string& Folder() {
  static const std::string dir = [] {
    std::string pattern = "/tmp/velmora-bench-files-XXXXXX";
    if (!mkdtemp(pattern.data())) std::abort();
    SaveParams params;
    params.jpegQuality = 92;
    if (!WriteImage(pattern + "/photo24.jpg", SyntheticPhoto(6000, 4000), params)) std::abort();
    return pattern;
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
  static const IEBitmap picture = SyntheticPhoto(2000, 2000);
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
