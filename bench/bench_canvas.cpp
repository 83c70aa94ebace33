// The layered canvas: drawing the visible part of a stack at fit zoom (what
// every repaint while dragging a layer costs), MergeAllLayers of a
// 24-megapixel photo, and feathering a 24-megapixel selection.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>

#include "document/canvas/LayerCanvas.h"

namespace velmora {
namespace {

constexpr int kPhotoW = 6000, kPhotoH = 4000;

// A photo-like picture: smooth gradients with sensor noise, so that no
// path can profit from uniform rows.
IEBitmap MakePhoto(int w, int h, uint32_t seed) {
  IEBitmap b(w, h, IEPixelFormat::ie24RGB);
  std::minstd_rand rng(seed);
  for (int y = 0; y < h; ++y) {
    uint8_t* p = b.ScanLine(y);
    for (int x = 0; x < w; ++x, p += 3) {
      const int n = static_cast<int>(rng() & 15) - 8;
      p[0] = static_cast<uint8_t>(std::clamp(60 + 120 * x / w + n, 0, 255));
      p[1] = static_cast<uint8_t>(std::clamp(40 + 160 * y / h + n, 0, 255));
      p[2] = static_cast<uint8_t>(std::clamp(200 - 90 * (x + y) / (w + h) + n, 0, 255));
    }
  }
  return b;
}

// A decoration with a soft-edged transparent hole, like a card or frame.
IEBitmap MakeFrame(int w, int h) {
  IEBitmap b = MakePhoto(w, h, 7);
  IEBitmap& a = b.AlphaChannel();
  for (int y = 0; y < h; ++y) {
    uint8_t* row = a.ScanLine(y);
    for (int x = 0; x < w; ++x) {
      const int edge = std::min({x, y, w - 1 - x, h - 1 - y});
      row[x] = static_cast<uint8_t>(std::clamp(255 - 2 * edge, 0, 255));
    }
  }
  b.SetAlphaAllOpaque(false);
  return b;
}

void ThreeLayerStack(LayerCanvas& c) {
  c.CurrentBitmap() = MakePhoto(kPhotoW, kPhotoH, 1);
  c.AddLayer(MakeFrame(kPhotoW, kPhotoH));  // a frame over the whole photo
  c.AddLayer(MakePhoto(1500, 1000, 3));       // clip art, half transparent
  c.CurrentLayer().LayerX = 2500, c.CurrentLayer().LayerY = 1800, c.CurrentLayer().Opacity = 180;
}

void BM_RenderViewportAtFit(benchmark::State& state) {
  LayerCanvas c;
  ThreeLayerStack(c);
  c.SetViewportSize(1200, 800);
  c.Fit();
  IEBitmap view(1200, 800, IEPixelFormat::ie24RGB);
  for (auto _ : state) {
    c.RenderView(view);
    benchmark::DoNotOptimize(view.ScanLine(0));
  }
}
BENCHMARK(BM_RenderViewportAtFit)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5);

void BM_RenderViewportAt100(benchmark::State& state) {
  LayerCanvas c;
  ThreeLayerStack(c);
  c.SetViewportSize(1200, 800);
  c.SetViewXY(2000, 1500);
  IEBitmap view(1200, 800, IEPixelFormat::ie24RGB);
  for (auto _ : state) {
    c.RenderView(view);
    benchmark::DoNotOptimize(view.ScanLine(0));
  }
}
BENCHMARK(BM_RenderViewportAt100)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5);

// A photo and a full-size frame with transparency: every pixel blended.
void BM_MergeAllLayers24MP(benchmark::State& state) {
  const IEBitmap photo = MakePhoto(kPhotoW, kPhotoH, 1);
  const IEBitmap frame = MakeFrame(kPhotoW, kPhotoH);
  LayerCanvas c;
  for (auto _ : state) {
    state.PauseTiming();
    c.RemoveExtraLayers();
    c.CurrentBitmap() = photo;
    c.AddLayer(frame);
    state.ResumeTiming();
    c.MergeAllLayers();
  }
}
BENCHMARK(BM_MergeAllLayers24MP)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->Iterations(3);

void BM_FeatherSelection24MP(benchmark::State& state) {
  LayerCanvas c;
  c.CurrentBitmap() = MakePhoto(kPhotoW, kPhotoH, 1);
  c.SelectionMaskDepth(8);
  for (auto _ : state) {
    state.PauseTiming();
    c.SelectRect(1000, 700, 5000, 3300);
    state.ResumeTiming();
    c.FeatherSelection(static_cast<double>(state.range(0)));
  }
}
BENCHMARK(BM_FeatherSelection24MP)->Arg(600)->Arg(30)->Unit(benchmark::kMillisecond)->UseRealTime()
    ->Repetitions(3)->Iterations(2);

// A mouse drag redraws the selection rectangle at every move.
void BM_SelectRect24MP(benchmark::State& state) {
  LayerCanvas c;
  c.CurrentBitmap() = MakePhoto(kPhotoW, kPhotoH, 1);
  int i = 0;
  for (auto _ : state) c.SelectRect(100, 100, 3000 + (i++ & 255), 2000);
}
BENCHMARK(BM_SelectRect24MP)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(3);

}  // namespace
}  // namespace velmora
