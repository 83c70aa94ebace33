// The canvas widget driven as a user drives it: QTest mouse events on its
// viewport, wheel events and keys, and what it draws.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QWheelEvent>
#include <cstdlib>
#include <memory>

#include "app/CanvasWidget.h"
#include "imaging/Pictures.h"

namespace velmora {
namespace {

using test::RGB;
using test::Solid;

// A 200 x 150 white photo with a 40 x 30 red layer at (20, 20), shown at
// 100 % in a widget larger than the photo.
class CanvasWidgetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    canvas.SetBackground(0x00202020);
    canvas.CurrentBitmap() = Solid(200, 150, RGB(255, 255, 255));
    canvas.AddLayer(Solid(40, 30, RGB(255, 0, 0)));
    Top().LayerX = 20;
    Top().LayerY = 20;
    canvas.SelectLayer(0);
    canvas.SetMouseInteract(miMoveLayers | miResizeLayers);
    widget = std::make_unique<CanvasWidget>(canvas);
    widget->resize(320, 240);
    widget->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(widget.get()));
  }
  void TearDown() override { widget.reset(); }

  IELayer& Top() { return *canvas.Layer(1); }
  QWidget* View() { return widget->viewport(); }
  // The viewport point showing image pixel (ix, iy).
  QPoint At(int ix, int iy) {
    return QPoint(static_cast<int>(canvas.ImageToScreenX(ix)), static_cast<int>(canvas.ImageToScreenY(iy)));
  }
  void Drag(QPoint from, QPoint to, Qt::KeyboardModifiers mods = {}) {
    QTest::mousePress(View(), Qt::LeftButton, mods, from);
    QTest::mouseMove(View(), (from + to) / 2);
    QTest::mouseMove(View(), to);
    QTest::mouseRelease(View(), Qt::LeftButton, mods, to);
  }
  QImage Shown() { return View()->grab().toImage().convertToFormat(QImage::Format_RGB888); }

  LayerCanvas canvas;
  std::unique_ptr<CanvasWidget> widget;
};

TEST_F(CanvasWidgetTest, DraggingALayerMovesItAtAnyZoom) {
  for (double zoom : {100.0, 200.0, 50.0}) {
    Top().LayerX = Top().LayerY = 20;
    canvas.SelectLayer(0);
    canvas.SetZoom(zoom);
    const QPoint from = At(30, 30);
    const int scale = static_cast<int>(zoom);
    Drag(from, from + QPoint(30 * scale / 100, 14 * scale / 100));
    EXPECT_EQ(canvas.CurrentLayerIndex(), 1) << zoom;
    EXPECT_EQ(Top().LayerX, 50) << zoom;
    EXPECT_EQ(Top().LayerY, 34) << zoom;
  }
}

TEST_F(CanvasWidgetTest, ALockedLayerBecomesCurrentButNeitherMovesNorShowsGrips) {
  Top().Locked = true;
  Drag(At(30, 30), At(60, 50));
  EXPECT_EQ(canvas.CurrentLayerIndex(), 1);
  EXPECT_EQ(Top().LayerX, 20);
  EXPECT_EQ(Top().LayerY, 20);
  // Pressing where the bottom-right grip would be reaches the photo below.
  Drag(At(61, 51), At(80, 60));
  EXPECT_EQ(Top().DisplayWidth, 0);
  EXPECT_EQ(canvas.CurrentLayerIndex(), 0);
}

TEST_F(CanvasWidgetTest, GripsResizeFreelyOrKeepingTheAspect) {
  struct Case {
    bool topLeft;  // else bottom-right
    int dx, dy;
    Qt::KeyboardModifiers mods;
    bool keepAspect;
    int x, y, w, h;
  };
  const Case cases[] = {
      {false, 20, 6, {}, false, 20, 20, 60, 36},
      {false, 20, 6, Qt::AltModifier, false, 20, 20, 60, 45},  // the width changed most: it leads
      {false, 20, 6, {}, true, 20, 20, 60, 45},                // KeepLayerAspect acts as Alt
      {true, -10, -10, {}, false, 10, 10, 50, 40},             // the bottom-right corner stays
      {true, -10, -10, Qt::AltModifier, false, 7, 10, 53, 40},  // the height leads: 40 x 4 / 3
  };
  for (const Case& k : cases) {
    Top().LayerX = Top().LayerY = 20;
    Top().DisplayWidth = Top().DisplayHeight = 0;
    canvas.SetKeepLayerAspect(k.keepAspect);
    canvas.SelectLayer(1);
    const QRect box = widget->LayerRectOnScreen(1).adjusted(-1, -1, 1, 1);
    const QPoint grip = k.topLeft ? box.topLeft() : box.bottomRight();
    Drag(grip, grip + QPoint(k.dx, k.dy), k.mods);
    EXPECT_EQ(Top().LayerX, k.x) << k.dx << "," << k.dy;
    EXPECT_EQ(Top().LayerY, k.y) << k.dx << "," << k.dy;
    EXPECT_EQ(Top().DisplayWidth, k.w) << k.dx << "," << k.dy;
    EXPECT_EQ(Top().DisplayHeight, k.h) << k.dx << "," << k.dy;
  }
}

TEST_F(CanvasWidgetTest, FullyTransparentPixelsAreNotHit) {
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 20; ++x) Top().Bitmap.SetAlpha(x, y, 0);  // left half transparent
  Top().Bitmap.SetAlpha(5, 5, 1);
  QTest::mouseClick(View(), Qt::LeftButton, {}, At(30, 40));
  EXPECT_EQ(canvas.CurrentLayerIndex(), 0);
  QTest::mouseClick(View(), Qt::LeftButton, {}, At(25, 25));  // a nearly transparent pixel counts
  EXPECT_EQ(canvas.CurrentLayerIndex(), 1);
  canvas.SelectLayer(0);
  canvas.SetSelectionOptions(canvas.SelectionOptions() | iesoSelectTranspLayers);
  QTest::mouseClick(View(), Qt::LeftButton, {}, At(30, 40));
  EXPECT_EQ(canvas.CurrentLayerIndex(), 1);
}

TEST_F(CanvasWidgetTest, DrawingASelectionFollowsTheAspectRatio) {
  canvas.SetMouseInteract(miSelect);
  struct Case {
    double ratio;
    Qt::KeyboardModifiers mods;
    int x2, y2;  // last selected pixel, from (10, 10) to image pixel (50, 25)
  };
  const Case cases[] = {
      {-1, {}, 49, 24},
      {-1, Qt::AltModifier, 49, 49},  // a square
      {0.5, {}, 49, 29},              // height round(40 x 0.5)
      {0.5, Qt::AltModifier, 49, 29},
  };
  for (const Case& k : cases) {
    canvas.Deselect();  // a press inside a selection would move it
    canvas.SetSelectionAspectRatio(k.ratio);
    Drag(At(10, 10), At(50, 25), k.mods);
    const IEMask& m = canvas.SelectionMask();
    EXPECT_EQ(m.X1, 10) << k.ratio;
    EXPECT_EQ(m.Y1, 10) << k.ratio;
    EXPECT_EQ(m.X2, k.x2) << k.ratio;
    EXPECT_EQ(m.Y2, k.y2) << k.ratio;
  }
  // The selection made, a drag inside moves it and a grip resizes it.
  canvas.SetSelectionAspectRatio(-1);
  canvas.Deselect();
  Drag(At(10, 10), At(50, 30));
  Drag(At(20, 20), At(25, 28));
  ASSERT_TRUE(canvas.SelectedRect().has_value());
  EXPECT_EQ(*canvas.SelectedRect(), (PixelRect{15, 18, 55, 38}));
  const QRect r = *widget->SelectionRectOnScreen();
  const QPoint grip = r.adjusted(-1, -1, 1, 1).bottomRight();
  Drag(grip, grip + QPoint(10, -5));
  EXPECT_EQ(*canvas.SelectedRect(), (PixelRect{15, 18, 65, 33}));
  // A click elsewhere drops it.
  QTest::mouseClick(View(), Qt::LeftButton, {}, At(150, 120));
  EXPECT_FALSE(canvas.HasSelection());
}

TEST_F(CanvasWidgetTest, TheWheelStepsByEightPercentOfTheZoom) {
  struct Case {
    double zoom;
    int delta;
    double expected;
  };
  const Case cases[] = {
      {100, 120, 92},  {100, -120, 108}, {31.25, 120, 29.25},  // round(2.5) is 2
      {18.75, 120, 16.75},                                     // round(1.5) is 2
      {10, 120, 9},    {10, -120, 11},   {6.25, -120, 7.25},   // round(0.5) is 0: at least 1
      {1, 120, 1},                                             // 0 is no zoom
      {100, 240, 85},                                          // two notches: 100 - 8, then 92 - 7
  };
  for (const Case& k : cases) {
    canvas.SetZoom(k.zoom);
    const QPoint p = At(10, 10);
    QWheelEvent e(QPointF(p), QPointF(View()->mapToGlobal(p)), QPoint(), QPoint(0, k.delta), Qt::NoButton,
                  Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(View(), &e);
    EXPECT_DOUBLE_EQ(canvas.Zoom(), k.expected) << k.zoom << " " << k.delta;
  }
  // Half notches add up.
  canvas.SetZoom(100);
  for (int i = 0; i < 2; ++i) {
    QWheelEvent e(QPointF(10, 10), QPointF(View()->mapToGlobal(QPoint(10, 10))), QPoint(), QPoint(0, -60),
                  Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(View(), &e);
  }
  EXPECT_DOUBLE_EQ(canvas.Zoom(), 108);
}

TEST_F(CanvasWidgetTest, KeysReachTheKeyDownHook) {
  int key = 0;
  unsigned shift = 0;
  canvas.OnKeyDown = [&](int k, unsigned s) {
    key = k;
    shift = s;
  };
  widget->setFocus();
  QTest::keyClick(widget.get(), Qt::Key_Delete, Qt::ShiftModifier);
  EXPECT_EQ(key, Qt::Key_Delete);
  EXPECT_EQ(shift, ssShift);
}

TEST_F(CanvasWidgetTest, ShowsTheStackAtItsZoomWithTheBackgroundAround) {
  canvas.SetMouseInteract(0);
  for (double zoom : {100.0, 37.5, 150.0}) {
    canvas.SetZoom(zoom);
    const QImage shown = Shown();
    IEBitmap expected(View()->width(), View()->height(), IEPixelFormat::ie24RGB);
    canvas.RenderView(expected);
    int differences = 0;
    for (int y = 0; y < shown.height(); ++y)
      for (int x = 0; x < shown.width(); ++x) {
        const IETriple t = expected.Pixel24(x, y);
        const QRgb q = shown.pixel(x, y);
        differences += qRed(q) != t.r || qGreen(q) != t.g || qBlue(q) != t.b;
      }
    EXPECT_EQ(differences, 0) << zoom;
    EXPECT_EQ(shown.pixel(0, 0), qRgb(0x20, 0x20, 0x20)) << zoom;
  }
}

TEST_F(CanvasWidgetTest, DrawsTheCurrentLayersBoxOutsideTheLayerWithGrips) {
  canvas.SelectLayer(1);
  QImage shown = Shown();
  const QRect r = widget->LayerRectOnScreen(1);
  const int midY = r.center().y() + 8;  // clear of the side grips
  EXPECT_EQ(shown.pixel(r.left() - 1, midY), qRgb(0, 128, 0));
  EXPECT_EQ(shown.pixel(r.left() - 2, midY), qRgb(0, 128, 0));
  EXPECT_EQ(shown.pixel(r.left() - 3, midY), qRgb(255, 255, 255));
  EXPECT_EQ(shown.pixel(r.left(), midY), qRgb(255, 0, 0));
  EXPECT_EQ(shown.pixel(r.right() + 1, midY), qRgb(0, 128, 0));
  EXPECT_EQ(shown.pixel(r.right() + 2, midY), qRgb(0, 128, 0));
  const QPoint corner = r.adjusted(-1, -1, 1, 1).bottomRight();
  EXPECT_EQ(shown.pixel(corner + QPoint(2, 2)), qRgb(255, 255, 255)) << "a white grip";
  EXPECT_EQ(shown.pixel(corner + QPoint(CanvasWidget::kGripHalfSize, 0)), qRgb(0, 0, 0)) << "its border";

  // Locked: no grips; no box when the layer asks for none or the mouse
  // cannot move layers.
  Top().Locked = true;
  canvas.Repaint();
  shown = Shown();
  EXPECT_EQ(shown.pixel(corner + QPoint(CanvasWidget::kGripHalfSize, 0)), qRgb(255, 255, 255));
  EXPECT_EQ(shown.pixel(r.left() - 1, midY), qRgb(0, 128, 0));
  Top().ShowBox = false;
  canvas.Repaint();
  EXPECT_EQ(Shown().pixel(r.left() - 1, midY), qRgb(255, 255, 255));

  // A handler of its own replaces the standard box.
  Top().ShowBox = true;
  int boxes = 0;
  canvas.OnDrawLayerBox = [&](LayerCanvas&, QPainter&, int layer) {
    EXPECT_EQ(layer, 1);
    ++boxes;
  };
  canvas.Repaint();
  EXPECT_EQ(Shown().pixel(r.left() - 1, midY), qRgb(255, 255, 255));
  EXPECT_GE(boxes, 1);
}

TEST_F(CanvasWidgetTest, MarkOuterDarkensOutsideTheSelection) {
  canvas.SetMouseInteract(miSelect);
  canvas.SetSelectionOptions(iesoMarkOuter);
  canvas.SelectRect(50, 50, 100, 100);
  const QImage shown = Shown();
  EXPECT_EQ(shown.pixel(At(75, 75)), qRgb(255, 255, 255));
  EXPECT_EQ(shown.pixel(At(10, 120)), qRgb(127, 127, 127));
  // The outline runs along the edge, in black or white.
  const QRgb edge = shown.pixel(At(49, 75));
  EXPECT_TRUE(edge == qRgb(0, 0, 0) || edge == qRgb(255, 255, 255));
  EXPECT_NE(edge, shown.pixel(At(49, 79)));
}

}  // namespace
}  // namespace velmora

