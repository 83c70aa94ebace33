// The stack renderer behind the screen and the merge, against a plain
// per-pixel reference written from the drawing rules.
#include <cmath>

#include "canvas/CanvasFixtures.h"
#include "imaging/Parallel.h"

namespace velmora {
namespace {

using test::Gradient;
using test::RGB;
using test::SamePixels;
using test::SetPhoto;

// One pixel of the stack at image point (ix, iy), straight from the rules:
// background, then each visible layer's nearest source pixel with coverage
// min(Opacity, alpha), blended by a shift of 8, copied when opaque without
// alpha; ClipToBase layers only inside layer 0.
IETriple ReferencePixel(const LayerCanvas& c, int64_t ix, int64_t iy) {
  IETriple t = ColorToTriple(c.Background());
  const IELayer& base = *c.Layer(0);
  for (int i = 0; i < c.LayerCount(); ++i) {
    const IELayer& l = *c.Layer(i);
    if (!l.Visible) continue;
    const int64_t dw = l.DisplayWidth > 0 ? l.DisplayWidth : l.Bitmap.Width();
    const int64_t dh = l.DisplayHeight > 0 ? l.DisplayHeight : l.Bitmap.Height();
    if (ix < l.LayerX || ix >= l.LayerX + dw || iy < l.LayerY || iy >= l.LayerY + dh) continue;
    if (l.ClipToBase && (ix < base.LayerX || ix >= base.LayerX + base.Bitmap.Width() || iy < base.LayerY ||
                         iy >= base.LayerY + base.Bitmap.Height()))
      continue;
    const int sx = static_cast<int>((2 * (ix - l.LayerX) + 1) * l.Bitmap.Width() / (2 * dw));
    const int sy = static_cast<int>((2 * (iy - l.LayerY) + 1) * l.Bitmap.Height() / (2 * dh));
    IETriple s;
    if (l.Bitmap.PixelFormat() == IEPixelFormat::ie8g) {
      const uint8_t g = l.Bitmap.ScanLine(sy)[sx];
      s = RGB(g, g, g);
    } else {
      s = l.Bitmap.Pixel24(sx, sy);
    }
    if (l.Opacity == 255 && !l.Bitmap.HasAlphaChannel()) {
      t = s;
      continue;
    }
    const int o = l.Bitmap.HasAlphaChannel() ? std::min<int>(l.Opacity, l.Bitmap.Alpha(sx, sy)) : l.Opacity;
    t.r = static_cast<uint8_t>(t.r + ((o * (s.r - t.r)) >> 8));
    t.g = static_cast<uint8_t>(t.g + ((o * (s.g - t.g)) >> 8));
    t.b = static_cast<uint8_t>(t.b + ((o * (s.b - t.b)) >> 8));
  }
  return t;
}

IEBitmap ReferenceRender(const LayerCanvas& c, int w, int h, double zoom, int64_t vx, int64_t vy) {
  IEBitmap out(w, h, IEPixelFormat::ie24RGB);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const auto ix = static_cast<int64_t>(std::floor((static_cast<double>(vx + x) + 0.5) * 100 / zoom));
      const auto iy = static_cast<int64_t>(std::floor((static_cast<double>(vy + y) + 0.5) * 100 / zoom));
      out.Pixel24(x, y) = ReferencePixel(c, ix, iy);
    }
  return out;
}

// A stack with every kind of layer: alpha and partial opacity, enlarged
// and reduced display sizes, ClipToBase past the edge, a grey layer, a
// hidden one, and layer 0 moved away from the origin.
void BuildStack(LayerCanvas& c) {
  c.SetBackground(0x00405060);
  SetPhoto(c, Gradient(37, 23));
  c.Layer(0)->LayerX = 1;

  IEBitmap a = test::Random(10, 7, IEPixelFormat::ie24RGB, 3);
  const IEBitmap alpha = test::Random(10, 7, IEPixelFormat::ie8g, 4);
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 10; ++x) a.SetAlpha(x, y, alpha.ScanLine(y)[x]);
  c.AddLayer(a);
  c.CurrentLayer().LayerX = -3, c.CurrentLayer().LayerY = 5, c.CurrentLayer().Opacity = 180;

  c.AddLayer(test::Random(6, 4, IEPixelFormat::ie24RGB, 5));
  c.CurrentLayer().LayerX = 25, c.CurrentLayer().LayerY = 15;
  c.CurrentLayer().DisplayWidth = 15, c.CurrentLayer().DisplayHeight = 9;
  c.CurrentLayer().ClipToBase = true;

  c.AddLayer(test::Random(9, 8, IEPixelFormat::ie24RGB, 6));
  c.CurrentLayer().LayerX = 4, c.CurrentLayer().LayerY = 2;
  c.CurrentLayer().DisplayWidth = 4, c.CurrentLayer().DisplayHeight = 3;

  c.AddLayer(test::Random(5, 5, IEPixelFormat::ie8g, 7));
  c.CurrentLayer().LayerX = 30, c.CurrentLayer().LayerY = -2, c.CurrentLayer().Opacity = 90;

  c.AddLayer(test::Random(37, 23, IEPixelFormat::ie24RGB, 8));
  c.CurrentLayer().Visible = false;
}

TEST(CanvasRender, EqualsThePerPixelReferenceAtAnyZoomAndScroll) {
  LayerCanvas c;
  BuildStack(c);
  struct View {
    double zoom;
    int64_t vx, vy;
  };
  const View views[] = {{100, 0, 0},  {100, -5, -7}, {37.5, 0, 0}, {50, 3, 1},      {150, -10, 4},
                        {233.3, 7, 11}, {800, 40, 30}, {12.5, -2, 0}, {66.666, -20, -9}};
  for (const View& v : views) {
    IEBitmap out(64, 48, IEPixelFormat::ie24RGB);
    c.Render(out, v.zoom, v.vx, v.vy);
    EXPECT_TRUE(SamePixels(out, ReferenceRender(c, 64, 48, v.zoom, v.vx, v.vy)))
        << "zoom " << v.zoom << " view " << v.vx << "," << v.vy;
  }
}

TEST(CanvasRender, ZoomSamplesTheNearestImagePixel) {
  LayerCanvas c;
  SetPhoto(c, Gradient(4, 4));
  const IEBitmap photo = Gradient(4, 4);
  IEBitmap twice(8, 8, IEPixelFormat::ie24RGB), half(2, 2, IEPixelFormat::ie24RGB);
  c.Render(twice, 200, 0, 0);
  c.Render(half, 50, 0, 0);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_EQ(twice.Pixel24(x, y), photo.Pixel24(x / 2, y / 2)) << x << "," << y;
  // View pixel v shows image pixel floor((v + 0.5) x 2): the odd ones.
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 2; ++x) EXPECT_EQ(half.Pixel24(x, y), photo.Pixel24(2 * x + 1, 2 * y + 1)) << x << "," << y;
}

TEST(CanvasRender, TheScreenAtFullSizeShowsWhatTheMergeProduces) {
  LayerCanvas c;
  BuildStack(c);
  c.Layer(0)->LayerX = 0;
  IEBitmap screen(37, 23, IEPixelFormat::ie24RGB);
  c.Render(screen, 100, 0, 0);
  ASSERT_TRUE(c.MergeAllLayers());
  EXPECT_TRUE(SamePixels(c.CurrentBitmap(), screen));
}

TEST(CanvasRender, RowsInParallelGiveTheSerialResult) {
  LayerCanvas c;
  BuildStack(c);
  const int saved = ParallelThreadCount();
  IEBitmap serial(300, 200, IEPixelFormat::ie24RGB), parallel(300, 200, IEPixelFormat::ie24RGB);
  SetParallelThreadCount(1);
  c.Render(serial, 317, -20, -15);
  SetParallelThreadCount(4);
  c.Render(parallel, 317, -20, -15);
  SetParallelThreadCount(saved);
  EXPECT_TRUE(SamePixels(serial, parallel));
}

}  // namespace
}  // namespace velmora
