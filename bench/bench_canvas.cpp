// The layered canvas: drawing the visible part of a stack at fit zoom (what
// every repaint while dragging a layer costs), MergeAllLayers of a
// 24-megapixel photo, and feathering a 24-megapixel selection. The photo
// comes from BenchPhoto.h.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>

#include "BenchPhoto.h"
#include "document/canvas/LayerCanvas.h"

namespace velmora {
namespace {

using bench::Photo;

// A decoration with a soft-edged transparent hole, like a card or frame:
// the photo with an alpha channel that falls from 255 at the border to 0
// within 128 pixels of it.
IEBitmap MakeFrame() {
  IEBitmap b = Photo();
  const int w = b.Width(), h = b.Height();
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
  c.CurrentBitmap() = Photo();
  c.AddLayer(MakeFrame());                 // a frame over the whole photo
  c.AddLayer(bench::PhotoAt(1500, 1000));  // clip art, half transparent
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
  const IEBitmap& photo = Photo();
  const IEBitmap frame = MakeFrame();
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
  c.CurrentBitmap() = Photo();
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
  c.CurrentBitmap() = Photo();
  int i = 0;
  for (auto _ : state) c.SelectRect(100, 100, 3000 + (i++ & 255), 2000);
}
BENCHMARK(BM_SelectRect24MP)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(3);

}  // namespace
}  // namespace velmora
