#include "app/CanvasWidget.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>
#include <climits>
#include <cmath>

#include "document/canvas/StackRenderer.h"
#include "document/qt/QtBitmap.h"

namespace velmora {

namespace {

enum Grip { kTopLeft, kTop, kTopRight, kRight, kBottomRight, kBottom, kBottomLeft, kLeft };

bool GripMovesLeft(int g) { return g == kTopLeft || g == kBottomLeft || g == kLeft; }
bool GripMovesRight(int g) { return g == kTopRight || g == kRight || g == kBottomRight; }
bool GripMovesTop(int g) { return g == kTopLeft || g == kTop || g == kTopRight; }
bool GripMovesBottom(int g) { return g == kBottomLeft || g == kBottom || g == kBottomRight; }
bool IsCorner(int g) { return g == kTopLeft || g == kTopRight || g == kBottomRight || g == kBottomLeft; }

int ClampToInt(int64_t v) { return static_cast<int>(std::clamp<int64_t>(v, INT_MIN / 2, INT_MAX / 2)); }

int RoundToInt(double v) {
  if (!(v > INT_MIN / 2)) return INT_MIN / 2;
  if (!(v < INT_MAX / 2)) return INT_MAX / 2;
  return static_cast<int>(std::nearbyint(v));
}

unsigned ShiftStateOf(Qt::KeyboardModifiers m) {
  unsigned s = 0;
  if (m & Qt::ShiftModifier) s |= ssShift;
  if (m & Qt::AltModifier) s |= ssAlt;
  if (m & Qt::ControlModifier) s |= ssCtrl;
  return s;
}

}  // namespace

CanvasWidget::CanvasWidget(LayerCanvas& canvas, QWidget* parent) : QAbstractScrollArea(parent), canvas_(&canvas) {
  InstallQtStandardBitmaps();
  stack_.SetLocation(IELocation::ieTBitmap);
  setFocusPolicy(Qt::StrongFocus);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  viewport()->setMouseTracking(true);
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  canvas_->OnRepaint = [this] { CanvasRepainted(); };
  antsTimer_.setInterval(150);
  connect(&antsTimer_, &QTimer::timeout, this, [this] {
    ++antsPhase_;
    viewport()->update();
  });
  SyncViewport();
}

CanvasWidget::~CanvasWidget() { canvas_->OnRepaint = nullptr; }

double CanvasWidget::WheelStep(double zoom) { return std::max(std::nearbyint(8 * zoom / 100), 1.0); }

// ---------------------------------------------------------------------------
// View

void CanvasWidget::CanvasRepainted() {
  stackDirty_ = true;
  SyncScrollBars();
  UpdateAnimation();
  viewport()->update();
}

void CanvasWidget::SyncViewport() {
  canvas_->SetControlSize(width(), height());
  canvas_->SetViewportSize(viewport()->width(), viewport()->height());
  SyncScrollBars();
  stackDirty_ = true;
}

void CanvasWidget::SyncScrollBars() {
  if (syncing_) return;
  syncing_ = true;
  const int64_t rangeX = std::max<int64_t>(canvas_->ExtentWidth() - canvas_->ViewportWidth(), 0);
  const int64_t rangeY = std::max<int64_t>(canvas_->ExtentHeight() - canvas_->ViewportHeight(), 0);
  horizontalScrollBar()->setRange(0, ClampToInt(rangeX));
  horizontalScrollBar()->setPageStep(std::max(canvas_->ViewportWidth(), 1));
  horizontalScrollBar()->setSingleStep(20);
  horizontalScrollBar()->setValue(ClampToInt(canvas_->ViewX()));
  verticalScrollBar()->setRange(0, ClampToInt(rangeY));
  verticalScrollBar()->setPageStep(std::max(canvas_->ViewportHeight(), 1));
  verticalScrollBar()->setSingleStep(20);
  verticalScrollBar()->setValue(ClampToInt(canvas_->ViewY()));
  syncing_ = false;
}

void CanvasWidget::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  SyncViewport();
}

void CanvasWidget::scrollContentsBy(int, int) {
  if (syncing_) return;
  canvas_->SetViewXY(horizontalScrollBar()->value(), verticalScrollBar()->value());
}

void CanvasWidget::UpdateAnimation() {
  const bool animate = canvas_->HasSelection() && (canvas_->SelectionOptions() & iesoAnimated);
  if (animate && !antsTimer_.isActive()) antsTimer_.start();
  if (!animate && antsTimer_.isActive()) antsTimer_.stop();
}

// ---------------------------------------------------------------------------
// Painting

void CanvasWidget::RenderStack() {
  const int w = viewport()->width(), h = viewport()->height();
  if (stack_.Width() != w || stack_.Height() != h || stack_.PixelFormat() != IEPixelFormat::ie24RGB)
    stack_.Allocate(w, h, IEPixelFormat::ie24RGB);
  canvas_->RenderView(stack_);
  stackDirty_ = false;
}

void CanvasWidget::paintEvent(QPaintEvent*) {
  if (stackDirty_ || stack_.Width() != viewport()->width() || stack_.Height() != viewport()->height())
    RenderStack();
  QPainter painter(viewport());
  QImage* image = stack_.IsEmpty() ? nullptr : WindowsBitmap(stack_);
  if (!image) {
    painter.fillRect(viewport()->rect(), Qt::black);
    return;
  }
  if (canvas_->Selection()) {
    QImage frame = image->copy();
    DrawSelection(frame);
    painter.drawImage(0, 0, frame);
  } else {
    painter.drawImage(0, 0, *image);
  }
  DrawOverlays(painter);
}

int CanvasWidget::BitmapEdgeToScreenX(int x) const {
  const IELayer& l = canvas_->CurrentLayer();
  const int64_t bw = std::max(l.Bitmap.Width(), 1);
  return ClampToInt(canvas_->ImageToScreenX(l.LayerX + static_cast<int64_t>(x) * l.DrawWidth() / bw));
}

int CanvasWidget::BitmapEdgeToScreenY(int y) const {
  const IELayer& l = canvas_->CurrentLayer();
  const int64_t bh = std::max(l.Bitmap.Height(), 1);
  return ClampToInt(canvas_->ImageToScreenY(l.LayerY + static_cast<int64_t>(y) * l.DrawHeight() / bh));
}

QRect CanvasWidget::LayerRectOnScreen(int index) const {
  int64_t x1, y1, x2, y2;
  canvas_->LayerScreenRect(index, x1, y1, x2, y2);
  return QRect(QPoint(ClampToInt(x1), ClampToInt(y1)), QPoint(ClampToInt(x2) - 1, ClampToInt(y2) - 1));
}

std::optional<QRect> CanvasWidget::SelectionRectOnScreen() const {
  const auto r = canvas_->SelectedRect();
  if (!r) return std::nullopt;
  return QRect(QPoint(BitmapEdgeToScreenX(r->x1), BitmapEdgeToScreenY(r->y1)),
               QPoint(BitmapEdgeToScreenX(r->x2) - 1, BitmapEdgeToScreenY(r->y2) - 1));
}

// The selection over the drawn stack: the outside darkened (iesoMarkOuter)
// and a black-and-white dashed outline that moves while animated.
void CanvasWidget::DrawSelection(QImage& frame) {
  const IEMask* mask = canvas_->Selection();
  if (!mask) return;
  const IELayer& l = canvas_->CurrentLayer();
  const int w = frame.width(), h = frame.height();
  const int64_t dw = l.DrawWidth(), dh = l.DrawHeight();
  const int64_t bw = l.Bitmap.Width(), bh = l.Bitmap.Height();
  // Bitmap column and row under each screen column and row (one extra for
  // the outline's right and bottom neighbours); -1 outside the layer.
  std::vector<int> cols(w + 1), rows(h + 1);
  for (int x = 0; x <= w; ++x) {
    const int64_t d = canvas_->ScreenToImageX(x) - l.LayerX;
    cols[x] = d >= 0 && d < dw ? LayerSourceIndex(d, bw, dw) : -1;
  }
  for (int y = 0; y <= h; ++y) {
    const int64_t d = canvas_->ScreenToImageY(y) - l.LayerY;
    rows[y] = d >= 0 && d < dh ? LayerSourceIndex(d, bh, dh) : -1;
  }
  const bool eight = mask->Depth() == 8;
  auto value = [&](int x, int y) { return cols[x] < 0 || rows[y] < 0 ? 0 : mask->GetPixel(cols[x], rows[y]); };
  auto inside = [&](int v) { return eight ? v >= 128 : v != 0; };
  const bool markOuter = canvas_->SelectionOptions() & iesoMarkOuter;
  const int phase = (canvas_->SelectionOptions() & iesoAnimated) ? antsPhase_ : 0;
  std::vector<int> here(w + 1), below(w + 1);
  for (int x = 0; x <= w; ++x) below[x] = value(x, 0);
  for (int y = 0; y < h; ++y) {
    std::swap(here, below);
    for (int x = 0; x <= w; ++x) below[x] = value(x, y + 1);
    uint8_t* p = frame.scanLine(y);
    for (int x = 0; x < w; ++x, p += 3) {
      const int v = here[x];
      if (markOuter && v < (eight ? 255 : 1)) {
        const int keep = eight ? 128 + v / 2 : 128;  // half brightness outside, less for partial coverage
        for (int c = 0; c < 3; ++c) p[c] = static_cast<uint8_t>(p[c] * keep / 256);
      }
      const bool in = inside(v);
      if (in != inside(here[x + 1]) || in != inside(below[x])) {
        const uint8_t ant = ((x + y + phase) / 4) % 2 ? 0 : 255;
        p[0] = p[1] = p[2] = ant;
      }
    }
  }
}

std::array<QPoint, 8> CanvasWidget::GripCentres(const QRect& box) {
  const int l = box.left(), t = box.top(), r = box.right(), b = box.bottom();
  const int mx = (l + r) / 2, my = (t + b) / 2;
  return {QPoint(l, t), QPoint(mx, t), QPoint(r, t), QPoint(r, my), QPoint(r, b), QPoint(mx, b), QPoint(l, b),
          QPoint(l, my)};
}

int CanvasWidget::GripAt(const QRect& box, QPoint p) {
  const auto centres = GripCentres(box);
  for (int i = 0; i < 8; ++i)
    if (std::abs(p.x() - centres[i].x()) <= kGripHalfSize && std::abs(p.y() - centres[i].y()) <= kGripHalfSize)
      return i;
  return -1;
}

void CanvasWidget::DrawLayerBox(QPainter& painter, const QRect& layer) {
  painter.save();
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setPen(QPen(QColor(0, 128, 0), 2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
  painter.setBrush(Qt::NoBrush);
  // The layer covers columns left..right; the box's lines run one pixel
  // outside on every side, 2 pixels wide, so the layer itself stays clear.
  painter.drawRect(QRectF(layer.left() - 1, layer.top() - 1, layer.width() + 2, layer.height() + 2));
  painter.restore();
}

void CanvasWidget::DrawGrips(QPainter& painter, const QRect& box) {
  painter.save();
  painter.setPen(QPen(Qt::black, 1));
  painter.setBrush(Qt::white);
  for (const QPoint& c : GripCentres(box))
    painter.drawRect(QRect(c.x() - kGripHalfSize, c.y() - kGripHalfSize, 2 * kGripHalfSize, 2 * kGripHalfSize));
  painter.restore();
}

// The box of the layer rectangle `r`: where the box's lines run, one pixel
// outside the layer.
static QRect BoxAround(const QRect& r) { return r.adjusted(-1, -1, 1, 1); }

void CanvasWidget::DrawOverlays(QPainter& painter) {
  const unsigned mi = canvas_->MouseInteract();
  const int index = canvas_->CurrentLayerIndex();
  const IELayer& layer = canvas_->CurrentLayer();
  if ((mi & (miMoveLayers | miResizeLayers)) && layer.ShowBox) {
    const QRect r = LayerRectOnScreen(index);
    if (canvas_->OnDrawLayerBox)
      canvas_->OnDrawLayerBox(*canvas_, painter, index);
    else
      DrawLayerBox(painter, r);
    if (LayerGripsShown()) DrawGrips(painter, BoxAround(r));
  }
  if ((mi & miSelect) && (canvas_->SelectionOptions() & iesoSizeable) && canvas_->Selection()) {
    if (const auto r = SelectionRectOnScreen()) DrawGrips(painter, BoxAround(*r));
  }
}

// ---------------------------------------------------------------------------
// Mouse

// Grips belong to the box: only a shown box of a layer that may be resized
// has them, and only shown grips can be dragged.
bool CanvasWidget::LayerGripsShown() const {
  const IELayer& l = canvas_->CurrentLayer();
  return (canvas_->MouseInteract() & miResizeLayers) && l.ShowBox && !l.Locked;
}

QPointF CanvasWidget::ImagePoint(QPointF p) const {
  const double z = canvas_->Zoom();
  return QPointF((p.x() + static_cast<double>(canvas_->OriginX())) * 100 / z,
                 (p.y() + static_cast<double>(canvas_->OriginY())) * 100 / z);
}

QPoint CanvasWidget::BitmapPoint(QPointF p) const {
  const IELayer& l = canvas_->CurrentLayer();
  const int64_t ix = canvas_->ScreenToImageX(static_cast<int>(std::floor(p.x())));
  const int64_t iy = canvas_->ScreenToImageY(static_cast<int>(std::floor(p.y())));
  const double dw = std::max(l.DrawWidth(), 1), dh = std::max(l.DrawHeight(), 1);
  return QPoint(RoundToInt(std::floor(static_cast<double>(ix - l.LayerX) * l.Bitmap.Width() / dw)),
                RoundToInt(std::floor(static_cast<double>(iy - l.LayerY) * l.Bitmap.Height() / dh)));
}

bool CanvasWidget::KeepAspect(Qt::KeyboardModifiers m) const {
  return (m & Qt::AltModifier) || canvas_->KeepLayerAspect();
}

void CanvasWidget::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  setFocus(Qt::MouseFocusReason);
  const QPoint p = event->position().toPoint();
  const unsigned mi = canvas_->MouseInteract();
  drag_ = Drag::None;
  if (mi & (miMoveLayers | miResizeLayers)) {
    grip_ = LayerGripsShown() ? GripAt(BoxAround(LayerRectOnScreen(canvas_->CurrentLayerIndex())), p) : -1;
    if (grip_ < 0) {
      const int hit = canvas_->LayerAt(canvas_->ScreenToImageX(p.x()), canvas_->ScreenToImageY(p.y()));
      if (hit < 0) return;
      canvas_->SelectLayer(hit);
      if (!(mi & miMoveLayers) || canvas_->CurrentLayer().Locked) return;
      drag_ = Drag::MoveLayer;
    } else {
      drag_ = Drag::ResizeLayer;
    }
    const IELayer& l = canvas_->CurrentLayer();
    origX_ = l.LayerX, origY_ = l.LayerY, origW_ = l.DrawWidth(), origH_ = l.DrawHeight();
    pressImage_ = ImagePoint(event->position());
    return;
  }
  if (mi & miSelect) {
    const unsigned so = canvas_->SelectionOptions();
    const auto rect = canvas_->SelectedRect();
    const auto onScreen = SelectionRectOnScreen();
    grip_ = rect && onScreen && (so & iesoSizeable) ? GripAt(BoxAround(*onScreen), p) : -1;
    pressBitmap_ = BitmapPoint(event->position());
    if (grip_ >= 0) {
      drag_ = Drag::ResizeSelection;
      origSel_ = *rect;
    } else if (rect && onScreen && (so & iesoMoveable) && onScreen->contains(p)) {
      drag_ = Drag::MoveSelection;
      origSel_ = *rect;
    } else {
      canvas_->Deselect();
      drag_ = Drag::NewSelection;
      anchor_ = pressBitmap_;
    }
  }
}

void CanvasWidget::mouseMoveEvent(QMouseEvent* event) {
  switch (drag_) {
    case Drag::MoveLayer:
    case Drag::ResizeLayer:
      DragLayer(event->position(), event->modifiers());
      break;
    case Drag::NewSelection:
    case Drag::MoveSelection:
    case Drag::ResizeSelection:
      DragSelection(event->position(), event->modifiers());
      break;
    case Drag::None:
      UpdateCursor(event->position().toPoint());
      break;
  }
}

void CanvasWidget::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || drag_ == Drag::None) return;
  mouseMoveEvent(event);
  drag_ = Drag::None;
  grip_ = -1;
}

void CanvasWidget::DragLayer(QPointF p, Qt::KeyboardModifiers m) {
  IELayer& l = canvas_->CurrentLayer();
  const QPointF now = ImagePoint(p);
  const double dx = now.x() - pressImage_.x(), dy = now.y() - pressImage_.y();
  if (drag_ == Drag::MoveLayer) {
    l.LayerX = RoundToInt(origX_ + dx);
    l.LayerY = RoundToInt(origY_ + dy);
    canvas_->Repaint();
    return;
  }
  // Resizing: the grip's edges follow the pointer, the opposite ones stay.
  double left = origX_, right = static_cast<double>(origX_) + origW_;
  double top = origY_, bottom = static_cast<double>(origY_) + origH_;
  if (GripMovesLeft(grip_)) left += dx;
  if (GripMovesRight(grip_)) right += dx;
  if (GripMovesTop(grip_)) top += dy;
  if (GripMovesBottom(grip_)) bottom += dy;
  int w = std::max(RoundToInt(right - left), 1);
  int h = std::max(RoundToInt(bottom - top), 1);
  if (KeepAspect(m) && origW_ > 0 && origH_ > 0) {
    const double aspect = static_cast<double>(origW_) / origH_;
    bool widthLeads;
    if (IsCorner(grip_))
      widthLeads = std::fabs(static_cast<double>(w) / origW_ - 1) >= std::fabs(static_cast<double>(h) / origH_ - 1);
    else
      widthLeads = grip_ == kLeft || grip_ == kRight;
    if (widthLeads)
      h = std::max(RoundToInt(w / aspect), 1);
    else
      w = std::max(RoundToInt(h * aspect), 1);
  }
  l.DisplayWidth = w;
  l.DisplayHeight = h;
  l.LayerX = GripMovesLeft(grip_) ? origX_ + origW_ - w : origX_;
  l.LayerY = GripMovesTop(grip_) ? origY_ + origH_ - h : origY_;
  canvas_->Repaint();
}

void CanvasWidget::DragSelection(QPointF p, Qt::KeyboardModifiers m) {
  const QPoint b = BitmapPoint(p);
  const double ratio = canvas_->SelectionAspectRatio();
  // The rectangle from a fixed corner to the pointer, shaped like SelectRect:
  // by the ratio, or square with Alt or KeepLayerAspect when it is free.
  auto shaped = [&](QPoint from, QPoint to) {
    if (ratio > 0)
      canvas_->SelectRect(from.x(), from.y(), to.x(), to.y());
    else
      canvas_->SelectRectWithRatio(from.x(), from.y(), to.x(), to.y(), KeepAspect(m) ? 1.0 : -1.0);
  };
  const PixelRect& o = origSel_;
  switch (drag_) {
    case Drag::NewSelection:
      shaped(anchor_, b);
      break;
    case Drag::MoveSelection: {
      const IEBitmap& bmp = canvas_->CurrentBitmap();
      const int x1 = std::clamp(o.x1 + b.x() - pressBitmap_.x(), 0, std::max(bmp.Width() - o.Width(), 0));
      const int y1 = std::clamp(o.y1 + b.y() - pressBitmap_.y(), 0, std::max(bmp.Height() - o.Height(), 0));
      canvas_->SelectRectWithRatio(x1, y1, x1 + o.Width(), y1 + o.Height(), -1);
      break;
    }
    case Drag::ResizeSelection: {
      const int dx = b.x() - pressBitmap_.x(), dy = b.y() - pressBitmap_.y();
      if (ratio > 0 || KeepAspect(m)) {
        // From the opposite corner to the moved one.
        const QPoint from(GripMovesLeft(grip_) ? o.x2 : o.x1, GripMovesTop(grip_) ? o.y2 : o.y1);
        QPoint to(GripMovesLeft(grip_) ? o.x1 : o.x2, GripMovesTop(grip_) ? o.y1 : o.y2);
        if (GripMovesLeft(grip_) || GripMovesRight(grip_)) to.rx() += dx;
        if (GripMovesTop(grip_) || GripMovesBottom(grip_)) to.ry() += dy;
        shaped(from, to);
      } else {
        int x1 = o.x1, y1 = o.y1, x2 = o.x2, y2 = o.y2;
        if (GripMovesLeft(grip_)) x1 += dx;
        if (GripMovesRight(grip_)) x2 += dx;
        if (GripMovesTop(grip_)) y1 += dy;
        if (GripMovesBottom(grip_)) y2 += dy;
        canvas_->SelectRectWithRatio(x1, y1, x2, y2, -1);
      }
      break;
    }
    default:
      break;
  }
}

void CanvasWidget::UpdateCursor(QPoint p) {
  static const Qt::CursorShape kGripCursors[8] = {Qt::SizeFDiagCursor, Qt::SizeVerCursor, Qt::SizeBDiagCursor,
                                                  Qt::SizeHorCursor,   Qt::SizeFDiagCursor, Qt::SizeVerCursor,
                                                  Qt::SizeBDiagCursor, Qt::SizeHorCursor};
  const unsigned mi = canvas_->MouseInteract();
  Qt::CursorShape shape = Qt::ArrowCursor;
  if (mi & (miMoveLayers | miResizeLayers)) {
    const int g = LayerGripsShown() ? GripAt(BoxAround(LayerRectOnScreen(canvas_->CurrentLayerIndex())), p) : -1;
    if (g >= 0) {
      shape = kGripCursors[g];
    } else if (mi & miMoveLayers) {
      const int hit = canvas_->LayerAt(canvas_->ScreenToImageX(p.x()), canvas_->ScreenToImageY(p.y()));
      if (hit >= 0 && !canvas_->Layer(hit)->Locked) shape = Qt::SizeAllCursor;
    }
  } else if (mi & miSelect) {
    const auto r = SelectionRectOnScreen();
    const int g = r && (canvas_->SelectionOptions() & iesoSizeable) ? GripAt(BoxAround(*r), p) : -1;
    if (g >= 0)
      shape = kGripCursors[g];
    else if (r && (canvas_->SelectionOptions() & iesoMoveable) && r->contains(p))
      shape = Qt::SizeAllCursor;
    else
      shape = Qt::CrossCursor;
  }
  viewport()->setCursor(shape);
}

// ---------------------------------------------------------------------------
// Wheel and keys

void CanvasWidget::wheelEvent(QWheelEvent* event) {
  // Each notch (120) changes the zoom by a step; away from the user zooms out.
  wheelRest_ += event->angleDelta().y();
  while (std::abs(wheelRest_) >= 120) {
    const double z = canvas_->Zoom();
    const double s = WheelStep(z);
    canvas_->SetZoom(wheelRest_ > 0 ? z - s : z + s);
    wheelRest_ += wheelRest_ > 0 ? -120 : 120;
  }
  event->accept();
}

void CanvasWidget::keyPressEvent(QKeyEvent* event) {
  if (canvas_->OnKeyDown) {
    canvas_->OnKeyDown(event->key(), ShiftStateOf(event->modifiers()));
    event->accept();
    return;
  }
  QAbstractScrollArea::keyPressEvent(event);
}

}  // namespace velmora
