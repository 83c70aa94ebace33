// The layer stack, the merge, the view and the canvas's processor and
// reader/writer.
#include <unistd.h>

#include <filesystem>
#include <limits>

#include "canvas/CanvasFixtures.h"
#include "document/files/ImageFile.h"

namespace velmora {
namespace {

using test::Gradient;
using test::RGB;
using test::SamePixels;
using test::SetPhoto;
using test::Solid;

const IETriple kWhite = RGB(255, 255, 255);

TEST(CanvasLayers, StartsAsOneBlankLayer) {
  LayerCanvas c;
  ASSERT_EQ(c.LayerCount(), 1);
  EXPECT_EQ(c.CurrentLayerIndex(), 0);
  EXPECT_TRUE(c.IsEmpty());
  EXPECT_EQ(c.Background(), clBtnFace);
  ASSERT_EQ(c.CurrentBitmap().Width(), 1);
  EXPECT_EQ(c.CurrentBitmap().Pixel24(0, 0), ColorToTriple(clBtnFace));
}

TEST(CanvasLayers, IsEmptyOnlyBelowTwoPixelsBothWays) {
  struct Case {
    int w, h;
    bool empty;
  };
  for (const Case& k : {Case{1, 1, true}, Case{0, 0, true}, Case{2, 1, false}, Case{1, 5, false}, Case{2, 2, false}}) {
    LayerCanvas c;
    c.CurrentBitmap().Allocate(k.w, k.h, IEPixelFormat::ie24RGB);
    EXPECT_EQ(c.IsEmpty(), k.empty) << k.w << " x " << k.h;
  }
}

TEST(CanvasLayers, AddLayerCopiesTheCurrentSizeFillsWithBackgroundAndBecomesCurrent) {
  LayerCanvas c;
  SetPhoto(c, Gradient(5, 3));
  c.CurrentBitmap().SetAlpha(0, 0, 7);
  c.SetBackground(0x00336699);
  const int i = c.AddLayer();
  EXPECT_EQ(i, 1);
  EXPECT_EQ(c.CurrentLayerIndex(), 1);
  const IELayer& l = *c.Layer(1);
  EXPECT_TRUE(SamePixels(l.Bitmap, Solid(5, 3, RGB(0x99, 0x66, 0x33))));
  EXPECT_FALSE(l.Bitmap.HasAlphaChannel());
  EXPECT_EQ(l.Opacity, 255);
  EXPECT_TRUE(l.Visible && l.Selectable && l.ShowBox);
  EXPECT_FALSE(l.Locked || l.ClipToBase);
  // Layer 0 is untouched.
  EXPECT_TRUE(SamePixels(c.Layer(0)->Bitmap, Gradient(5, 3)));
}

TEST(CanvasLayers, SelectLayerWalksDownToASelectableLayer) {
  struct Case {
    int start, target, expected;
  };
  // Layers 1 and 2 cannot be selected.
  const Case cases[] = {
      {3, 2, 0},   // past 2 and 1 to layer 0, which is always accepted
      {0, 3, 3},   //
      {3, 1, 0},   //
      {0, 4, 0},   // out of range: ignored
      {3, -1, 3},  //
      {3, 3, 3},   // already current
  };
  for (const Case& k : cases) {
    LayerCanvas c;
    SetPhoto(c, Gradient(4, 4));
    for (int i = 0; i < 3; ++i) c.AddLayer();
    c.Layer(1)->Selectable = false;
    c.Layer(2)->Selectable = false;
    c.SelectLayer(k.start);
    c.SelectLayer(k.target);
    EXPECT_EQ(c.CurrentLayerIndex(), k.expected) << "from " << k.start << " to " << k.target;
  }
}

TEST(CanvasLayers, RemoveLayerKeepsTheCurrentLayersIdentity) {
  struct Case {
    int layers, current, remove;
    int expectedCount, expectedCurrent;
  };
  const Case cases[] = {
      {4, 3, 3, 3, 2},   // the current top layer: the one now at min(i, count - 1)
      {4, 1, 1, 3, 1},   // the current middle layer: the next one moves into its place
      {4, 2, 0, 3, 1},   // below the current layer: its index drops by one
      {4, 1, 3, 3, 1},   // above: nothing moves
      {4, 1, 4, 4, 1},   // out of range
      {4, 1, -1, 4, 1},  //
      {1, 0, 0, 1, 0},   // the last layer stays
  };
  for (const Case& k : cases) {
    LayerCanvas c;
    SetPhoto(c, Gradient(3, 3));
    for (int i = 1; i < k.layers; ++i) c.AddLayer();
    c.SelectLayer(k.current);
    const IELayer* before = &c.CurrentLayer();
    c.RemoveLayer(k.remove);
    EXPECT_EQ(c.LayerCount(), k.expectedCount) << k.remove;
    EXPECT_EQ(c.CurrentLayerIndex(), k.expectedCurrent) << k.remove;
    if (k.remove != k.current || k.expectedCount == k.layers) {
      EXPECT_EQ(&c.CurrentLayer(), before) << k.remove;
    }
  }
}

TEST(CanvasLayers, RemoveExtraLayersClearsLayerZeroEvenWithNothingToRemove) {
  LayerCanvas c;
  c.SetBackground(clWhite);
  SetPhoto(c, Gradient(4, 3));
  c.CurrentBitmap().SetAlpha(1, 1, 0);
  c.RemoveExtraLayers();
  EXPECT_EQ(c.LayerCount(), 1);
  EXPECT_TRUE(SamePixels(c.CurrentBitmap(), Solid(4, 3, kWhite)));
  EXPECT_FALSE(c.CurrentBitmap().HasAlphaChannel());

  // With layers above: layer 0's fields go back to their defaults.
  SetPhoto(c, Gradient(4, 3));
  c.Layer(0)->LayerX = 9;
  c.Layer(0)->Opacity = 3;
  c.Layer(0)->Locked = true;
  c.AddLayer();
  c.AddLayer();
  c.RemoveExtraLayers();
  EXPECT_EQ(c.LayerCount(), 1);
  EXPECT_EQ(c.CurrentLayerIndex(), 0);
  EXPECT_EQ(c.Layer(0)->LayerX, 0);
  EXPECT_EQ(c.Layer(0)->Opacity, 255);
  EXPECT_FALSE(c.Layer(0)->Locked);
  EXPECT_TRUE(SamePixels(c.CurrentBitmap(), Solid(4, 3, kWhite)));
}

TEST(CanvasLayers, BlankAndClearFillWithTheBackground) {
  LayerCanvas c;
  c.SetBackground(0x00010203);
  SetPhoto(c, Gradient(4, 3));
  c.CurrentBitmap().SetAlpha(0, 0, 9);
  c.ClearCurrentLayer();
  EXPECT_TRUE(SamePixels(c.CurrentBitmap(), Solid(4, 3, RGB(3, 2, 1))));
  EXPECT_FALSE(c.CurrentBitmap().HasAlphaChannel());
  c.Blank();
  EXPECT_TRUE(c.IsEmpty());
  EXPECT_TRUE(SamePixels(c.CurrentBitmap(), Solid(1, 1, RGB(3, 2, 1))));
}

// A 10 x 6 photo and one layer of `w` x `h` red pixels at (x, y).
struct MergeCase {
  LayerCanvas canvas;
  MergeCase(int x, int y, int w, int h) {
    canvas.SetBackground(clWhite);
    SetPhoto(canvas, Gradient(10, 6));
    canvas.AddLayer(Solid(w, h, RGB(200, 0, 0)));
    canvas.CurrentLayer().LayerX = x;
    canvas.CurrentLayer().LayerY = y;
  }
  IELayer& Top() { return canvas.CurrentLayer(); }
  const IEBitmap& Merge() {
    EXPECT_TRUE(canvas.MergeAllLayers());
    EXPECT_EQ(canvas.LayerCount(), 1);
    return canvas.Layer(0)->Bitmap;
  }
};

TEST(CanvasMerge, ALayerPastTheRightEdgeWidensThePhotoUnlessClippedToBase) {
  {
    MergeCase m(8, 1, 4, 2);
    const IEBitmap& out = m.Merge();
    ASSERT_EQ(out.Width(), 12);
    ASSERT_EQ(out.Height(), 6);
    const IEBitmap photo = Gradient(10, 6);
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 12; ++x) {
        const bool layer = x >= 8 && y >= 1 && y < 3;
        const IETriple expected = layer ? RGB(200, 0, 0) : x < 10 ? photo.Pixel24(x, y) : kWhite;
        EXPECT_EQ(out.Pixel24(x, y), expected) << x << "," << y;
      }
  }
  {
    MergeCase m(8, 1, 4, 2);
    m.Top().ClipToBase = true;
    const IEBitmap& out = m.Merge();
    EXPECT_EQ(out.Width(), 10);
    EXPECT_EQ(out.Height(), 6);
    EXPECT_EQ(out.Pixel24(9, 1), RGB(200, 0, 0));
  }
  {  // lower edge likewise, from a layer below the photo
    MergeCase m(0, 5, 2, 3);
    EXPECT_EQ(m.Merge().Height(), 8);
  }
}

TEST(CanvasMerge, ALayerAtANegativePositionLosesItsLeftPart) {
  MergeCase m(-2, 0, 4, 1);
  IEBitmap layer(4, 1, IEPixelFormat::ie24RGB);
  for (int x = 0; x < 4; ++x) layer.Pixel24(x, 0) = RGB(10 * x, 0, 0);
  m.Top().Bitmap = layer;
  const IEBitmap& out = m.Merge();
  ASSERT_EQ(out.Width(), 10);
  EXPECT_EQ(out.Pixel24(0, 0), RGB(20, 0, 0));
  EXPECT_EQ(out.Pixel24(1, 0), RGB(30, 0, 0));
  EXPECT_EQ(out.Pixel24(2, 0), Gradient(10, 6).Pixel24(2, 0));
}

TEST(CanvasMerge, CoverageIsTheSmallerOfOpacityAndAlphaWithAShiftBy8) {
  struct Case {
    int opacity;
    int alpha;  // -1: no alpha channel
    int src, dst, expected;
  };
  const Case cases[] = {
      {200, -1, 0, 255, 55},    // Opacity 200 over white: 200/256 of the difference
      {200, -1, 100, 255, 133},  //
      {200, -1, 254, 255, 254},  // -200 >> 8 is -1: a fall by one level is kept
      {255, -1, 0, 255, 0},      // opaque without alpha: copied
      {255, -1, 255, 0, 255},    //
      {255, 255, 255, 0, 254},   // with alpha even an opaque pixel is blended: the rise stops short
      {255, 255, 0, 255, 0},     //
      {255, 128, 0, 255, 127},   //
      {100, 200, 0, 255, 155},   // Opacity is the upper limit
      {255, 0, 0, 255, 255},     // transparent
      {0, -1, 0, 255, 255},      //
  };
  for (const Case& k : cases) {
    MergeCase m(0, 0, 2, 2);
    m.canvas.Layer(0)->Bitmap = Solid(10, 6, RGB(k.dst, k.dst, k.dst));
    m.Top().Bitmap = Solid(2, 2, RGB(k.src, k.src, k.src));
    m.Top().Opacity = k.opacity;
    if (k.alpha >= 0)
      for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x) m.Top().Bitmap.SetAlpha(x, y, static_cast<uint8_t>(k.alpha));
    const IEBitmap& out = m.Merge();
    EXPECT_EQ(out.Pixel24(1, 1), RGB(k.expected, k.expected, k.expected))
        << "opacity " << k.opacity << " alpha " << k.alpha << " src " << k.src << " dst " << k.dst;
    EXPECT_EQ(out.Pixel24(2, 2).r, k.dst);
  }
}

TEST(CanvasMerge, TheResultIsOneOpaqueLayerWithDefaultFields) {
  MergeCase m(1, 1, 3, 3);
  m.canvas.Layer(0)->Bitmap.SetAlpha(0, 0, 0);  // composed over the background
  m.canvas.Layer(0)->ShowBox = false;
  const IEBitmap& out = m.Merge();
  EXPECT_FALSE(out.HasAlphaChannel());
  EXPECT_EQ(out.Pixel24(0, 0), kWhite);
  EXPECT_EQ(m.canvas.CurrentLayerIndex(), 0);
  EXPECT_TRUE(m.canvas.Layer(0)->ShowBox);
}

TEST(CanvasMerge, HiddenLayersAreNotDrawnAndScaledLayersUseNearestPixels) {
  LayerCanvas c;
  c.SetBackground(clWhite);
  SetPhoto(c, Solid(6, 4, RGB(0, 0, 0)));
  IEBitmap two(2, 1, IEPixelFormat::ie24RGB);
  two.Pixel24(0, 0) = RGB(10, 0, 0);
  two.Pixel24(1, 0) = RGB(20, 0, 0);
  c.AddLayer(two);
  c.CurrentLayer().DisplayWidth = 4;  // each pixel twice across, twice down
  c.CurrentLayer().DisplayHeight = 2;
  c.AddLayer(Solid(6, 4, RGB(0, 255, 0)));
  c.CurrentLayer().Visible = false;
  ASSERT_TRUE(c.MergeAllLayers());
  const IEBitmap& out = c.CurrentBitmap();
  const int expected[] = {10, 10, 20, 20, 0, 0};
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 6; ++x) EXPECT_EQ(out.Pixel24(x, y), RGB(expected[x], 0, 0)) << x << "," << y;
  EXPECT_EQ(out.Pixel24(0, 2), RGB(0, 0, 0));
}

TEST(CanvasMerge, AResultBeyondThePictureLimitsChangesNothing) {
  MergeCase m(std::numeric_limits<int>::max() - 2, 0, 4, 1);
  EXPECT_FALSE(m.canvas.MergeAllLayers());
  EXPECT_EQ(m.canvas.LayerCount(), 2);
  EXPECT_TRUE(SamePixels(m.canvas.Layer(0)->Bitmap, Gradient(10, 6)));
}

TEST(CanvasView, ZoomIgnoresNonPositiveAndUnchangedValues) {
  LayerCanvas c;
  int events = 0;
  c.OnViewChange = [&](ViewChangeKind k) {
    EXPECT_EQ(k, ViewChangeKind::Zoom);
    ++events;
  };
  for (double z : {0.0, -5.0, 100.0, std::numeric_limits<double>::quiet_NaN()}) c.SetZoom(z);
  EXPECT_EQ(c.Zoom(), 100);
  EXPECT_EQ(events, 0);
  c.SetZoom(37.5);
  EXPECT_EQ(c.Zoom(), 37.5);
  EXPECT_EQ(events, 1);
}

TEST(CanvasView, OptimalZoomUsesTheControlsOuterSizeAndFitTheViewport) {
  LayerCanvas c;
  SetPhoto(c, Gradient(400, 200));
  c.SetViewportSize(180, 300);
  c.SetControlSize(200, 320);
  EXPECT_DOUBLE_EQ(c.OptimalZoom(), 50);  // 100 x min(320 / 200, 200 / 400)
  c.Fit();
  EXPECT_DOUBLE_EQ(c.Zoom(), 45);  // the viewport: 180 / 400
  EXPECT_EQ(c.ExtentWidth(), 180);
  EXPECT_EQ(c.ExtentHeight(), 90);
  // Centred in the viewport: the first image pixel is at screen (0, 105).
  EXPECT_EQ(c.ImageToScreenX(0), 0);
  EXPECT_EQ(c.ImageToScreenY(0), 105);
  EXPECT_GE(c.ScreenToImageY(105), 0);
  EXPECT_LT(c.ScreenToImageY(104), 0);
}

TEST(CanvasView, ScrollingStaysInsideTheZoomedImage) {
  LayerCanvas c;
  SetPhoto(c, Gradient(100, 100));
  c.SetViewportSize(50, 50);
  c.SetZoom(200);
  std::vector<ViewChangeKind> events;
  c.OnViewChange = [&](ViewChangeKind k) { events.push_back(k); };
  c.SetViewXY(1000, -7);
  EXPECT_EQ(c.ViewX(), 150);
  EXPECT_EQ(c.ViewY(), 0);
  EXPECT_EQ(c.ScreenToImageX(0), 75);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0], ViewChangeKind::Scroll);
}

TEST(CanvasProc, OperationsRunOnTheCurrentLayerInsideTheSelection) {
  LayerCanvas c;
  SetPhoto(c, Gradient(8, 6));
  int imageChanges = 0;
  c.OnImageChange = [&] { ++imageChanges; };
  c.SelectRect(2, 1, 5, 4);
  c.Proc().Negative();
  EXPECT_EQ(imageChanges, 1);
  const IEBitmap photo = Gradient(8, 6);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 8; ++x) {
      const IETriple o = photo.Pixel24(x, y), p = c.CurrentBitmap().Pixel24(x, y);
      const bool inside = x >= 2 && x < 5 && y >= 1 && y < 4;
      EXPECT_EQ(p, inside ? RGB(255 - o.r, 255 - o.g, 255 - o.b) : o) << x << "," << y;
    }

  // A layer of another size is not limited by layer 0's selection.
  c.AddLayer(Solid(3, 2, RGB(0, 0, 0)));
  c.Proc().Negative();
  EXPECT_TRUE(SamePixels(c.CurrentBitmap(), Solid(3, 2, RGB(255, 255, 255))));
  ASSERT_EQ(c.Proc().UndoList().size(), 1u);
  EXPECT_EQ(c.Proc().UndoList().back().layer, 1);
}

TEST(CanvasIO, ReadsIntoTheCurrentLayerAndWritesIt) {
  const auto dir = std::filesystem::temp_directory_path() / ("velmora-canvas-io-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string in = (dir / "in.ppm").string(), out = (dir / "out.ppm").string();
  ASSERT_TRUE(WriteImage(in, Gradient(7, 5)).ok);

  LayerCanvas c;
  int imageChanges = 0;
  c.OnImageChange = [&] { ++imageChanges; };
  c.AddLayer();
  ASSERT_TRUE(c.IO().LoadFromFile(in).ok);
  EXPECT_EQ(imageChanges, 1);
  EXPECT_TRUE(SamePixels(c.Layer(1)->Bitmap, Gradient(7, 5)));
  EXPECT_TRUE(c.IsEmpty() == false && c.Layer(0)->Bitmap.Width() == 1);

  const IOResult bad = c.IO().LoadFromFile((dir / "missing.ppm").string());
  EXPECT_FALSE(bad.ok);
  EXPECT_NE(bad.message.find("missing.ppm"), std::string::npos);
  EXPECT_TRUE(SamePixels(c.Layer(1)->Bitmap, Gradient(7, 5)));

  ASSERT_TRUE(c.IO().SaveToFile(out).ok);
  IEBitmap back;
  ASSERT_TRUE(ReadImage(out, back).ok);
  EXPECT_TRUE(SamePixels(back, Gradient(7, 5)));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace velmora
