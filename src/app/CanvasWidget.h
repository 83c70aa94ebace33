// The canvas on screen: shows a LayerCanvas at its zoom with scroll bars
// and the Background around the image, draws the current layer's box and
// grips and the selection, and turns the mouse, the wheel and keys into
// the canvas's operations. Only the visible part of the stack is drawn,
// through the same renderer as MergeAllLayers.
#pragma once

#include <QAbstractScrollArea>
#include <QImage>
#include <QPointF>
#include <QRect>
#include <QTimer>
#include <array>
#include <optional>

#include "document/canvas/LayerCanvas.h"

namespace velmora {

class CanvasWidget : public QAbstractScrollArea {
  Q_OBJECT

 public:
  explicit CanvasWidget(LayerCanvas& canvas, QWidget* parent = nullptr);
  ~CanvasWidget() override;

  LayerCanvas& Canvas() { return *canvas_; }

  // Grips are squares of this half-size, in screen pixels.
  static constexpr int kGripHalfSize = 5;
  // Grip centres, clockwise from the top-left corner: top-left, top,
  // top-right, right, bottom-right, bottom, bottom-left, left.
  static std::array<QPoint, 8> GripCentres(const QRect& box);
  // The standard layer box: a solid green (0, 128, 0) line 2 pixels wide,
  // copied, one pixel outside the layer's on-screen rectangle `layer`.
  static void DrawLayerBox(QPainter& painter, const QRect& layer);

  // The current layer's rectangle on screen (viewport pixels, right and
  // bottom excluded).
  QRect LayerRectOnScreen(int index) const;
  // The selection rectangle on screen, when the selection is a rectangle.
  std::optional<QRect> SelectionRectOnScreen() const;

  // The wheel step at a zoom: max(round(8 x zoom / 100), 1) percent.
  static double WheelStep(double zoom);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  enum class Drag { None, MoveLayer, ResizeLayer, NewSelection, MoveSelection, ResizeSelection };

  void CanvasRepainted();
  void SyncViewport();
  void SyncScrollBars();
  void RenderStack();
  void DrawSelection(QImage& frame);
  void DrawOverlays(QPainter& painter);
  void DrawGrips(QPainter& painter, const QRect& box);
  static int GripAt(const QRect& box, QPoint p);
  // Image coordinates (layer 0's pixels) of a viewport point, unrounded.
  QPointF ImagePoint(QPointF p) const;
  // The current layer's bitmap pixel under a viewport point (may lie
  // outside the bitmap).
  QPoint BitmapPoint(QPointF p) const;
  int BitmapEdgeToScreenX(int x) const;
  int BitmapEdgeToScreenY(int y) const;
  bool KeepAspect(Qt::KeyboardModifiers m) const;
  bool LayerGripsShown() const;
  void DragLayer(QPointF p, Qt::KeyboardModifiers m);
  void DragSelection(QPointF p, Qt::KeyboardModifiers m);
  void UpdateCursor(QPoint p);
  void UpdateAnimation();

  LayerCanvas* canvas_;
  IEBitmap stack_;  // the drawn stack, a standard bitmap shared with a QImage
  bool stackDirty_ = true;
  bool syncing_ = false;
  QTimer antsTimer_;
  int antsPhase_ = 0;
  int wheelRest_ = 0;  // wheel angle not yet turned into whole steps

  Drag drag_ = Drag::None;
  int grip_ = -1;
  QPointF pressImage_;
  int origX_ = 0, origY_ = 0, origW_ = 0, origH_ = 0;  // the layer at the press
  QPoint anchor_;       // the fixed corner of a selection being drawn
  PixelRect origSel_;   // the selection at the press
  QPoint pressBitmap_;  // the bitmap pixel pressed
};

}  // namespace velmora
