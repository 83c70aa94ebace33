#include "document/canvas/LayerCanvas.h"

#include <algorithm>
#include <cmath>

#include "document/canvas/MaskOps.h"
#include "document/canvas/StackRenderer.h"
#include "imaging/FormatConvert.h"

namespace velmora {

using F = IEPixelFormat;

void IELayer::Reset() {
  LayerX = LayerY = 0;
  DisplayWidth = DisplayHeight = 0;
  Visible = true;
  ShowBox = true;
  Opacity = 255;
  ClipToBase = false;
  Locked = false;
  Selectable = true;
}

// ---------------------------------------------------------------------------
// Reader and writer

IOResult CanvasIO::LoadFromFile(const std::string& path) {
  IEBitmap picture;
  IOResult r = ReadImage(path, picture);
  if (!r) return r;
  canvas_->CurrentBitmap() = std::move(picture);
  canvas_->Repaint();
  canvas_->ImageChanged();
  return r;
}

IOResult CanvasIO::SaveToFile(const std::string& path) const {
  return WriteImage(path, canvas_->CurrentBitmap(), Params);
}

// ---------------------------------------------------------------------------
// Layer stack

LayerCanvas::LayerCanvas() {
  layers_.push_back(std::make_unique<IELayer>());
  Blank();
}

LayerCanvas::~LayerCanvas() = default;

IEBitmap& LayerCanvas::LayerBitmap(int index) {
  return layers_[std::clamp(index, 0, LayerCount() - 1)]->Bitmap;
}

IELayer* LayerCanvas::Layer(int i) {
  return i >= 0 && i < LayerCount() ? layers_[i].get() : nullptr;
}

const IELayer* LayerCanvas::Layer(int i) const {
  return i >= 0 && i < LayerCount() ? layers_[i].get() : nullptr;
}

void LayerCanvas::SelectLayer(int i) {
  if (i < 0 || i >= LayerCount() || i == current_) return;
  while (i > 0 && !layers_[i]->Selectable) --i;
  current_ = i;
  Repaint();
}

void LayerCanvas::FillWithBackground(IEBitmap& bmp) const {
  if (bmp.IsEmpty()) return;
  const IETriple t = ColorToTriple(background_);
  switch (bmp.PixelFormat()) {
    case F::ie8g:
      bmp.Fill(GreyLevel(t.r, t.g, t.b));
      break;
    case F::ie1g:
      bmp.Fill(GreyLevel(t.r, t.g, t.b) >= 128 ? 1 : 0);
      break;
    default:
      bmp.Fill(static_cast<double>(TripleToColor(t)));
      break;
  }
}

int LayerCanvas::AddLayer() {
  const IEBitmap& cur = CurrentBitmap();
  auto layer = std::make_unique<IELayer>();
  layer->Bitmap.Allocate(cur.Width(), cur.Height(), cur.PixelFormat());
  if (cur.Palette() && layer->Bitmap.Palette())
    std::copy(cur.Palette(), cur.Palette() + 256, layer->Bitmap.Palette());
  layers_.push_back(std::move(layer));
  current_ = LayerCount() - 1;
  ClearCurrentLayer();
  return current_;
}

int LayerCanvas::AddLayer(IEBitmap bitmap) {
  auto layer = std::make_unique<IELayer>();
  layer->Bitmap = std::move(bitmap);
  layers_.push_back(std::move(layer));
  current_ = LayerCount() - 1;
  Repaint();
  return current_;
}

void LayerCanvas::RemoveLayer(int i) {
  if (LayerCount() < 2 || i < 0 || i >= LayerCount()) return;
  layers_.erase(layers_.begin() + i);
  if (i == current_)
    current_ = std::min(i, LayerCount() - 1);
  else if (i < current_)
    --current_;
  Repaint();
}

void LayerCanvas::RemoveExtraLayersKeepingPixels() {
  while (LayerCount() > 1) {
    layers_.pop_back();
    current_ = 0;
    layers_[0]->Reset();
  }
  current_ = 0;
}

void LayerCanvas::RemoveExtraLayers() {
  RemoveExtraLayersKeepingPixels();
  ClearCurrentLayer();
}

bool LayerCanvas::MergeAllLayers() {
  // Origin at (0, 0): parts of layers at negative positions are lost.
  const IELayer& base = *layers_[0];
  int64_t right = static_cast<int64_t>(base.LayerX) + base.DrawWidth();
  int64_t bottom = static_cast<int64_t>(base.LayerY) + base.DrawHeight();
  for (const auto& l : layers_) {
    if (l->ClipToBase) continue;
    right = std::max(right, static_cast<int64_t>(l->LayerX) + l->DrawWidth());
    bottom = std::max(bottom, static_cast<int64_t>(l->LayerY) + l->DrawHeight());
  }
  right = std::max<int64_t>(right, 1);
  bottom = std::max<int64_t>(bottom, 1);
  const ImageLimits& limits = DefaultImageLimits();
  if (right > limits.maxSide || bottom > limits.maxSide ||
      static_cast<uint64_t>(right) * static_cast<uint64_t>(bottom) > limits.maxPixels)
    return false;
  // Layer 0 opaque at the origin at its own size, and the result no larger:
  // each row of the result starts as the same row of layer 0 copied, so the
  // stack is drawn straight into it (no second picture of that size).
  const IEBitmap& b = base.Bitmap;
  const bool inPlace = base.Visible && base.Opacity >= 255 && base.LayerX == 0 && base.LayerY == 0 &&
                       b.PixelFormat() == F::ie24RGB && !b.HasAlphaChannel() && !b.IsEmpty() &&
                       base.DrawWidth() == b.Width() && base.DrawHeight() == b.Height() && right == b.Width() &&
                       bottom == b.Height();
  if (inPlace) {
    RenderStack(LayerPointers(), background_, 100, 0, 0, layers_[0]->Bitmap);
    RemoveExtraLayersKeepingPixels();
  } else {
    IEBitmap merged;
    if (!merged.Allocate(static_cast<int>(right), static_cast<int>(bottom), F::ie24RGB)) return false;
    RenderStack(LayerPointers(), background_, 100, 0, 0, merged);
    // Layer 0 would be filled with Background here and overwritten at once:
    // only the result is kept.
    RemoveExtraLayersKeepingPixels();
    layers_[0]->Bitmap = std::move(merged);
  }
  Repaint();
  return true;
}

void LayerCanvas::ClearCurrentLayer() {
  IEBitmap& bmp = CurrentBitmap();
  FillWithBackground(bmp);
  bmp.RemoveAlphaChannel();
  Repaint();
}

void LayerCanvas::Blank() {
  IEBitmap& bmp = CurrentBitmap();
  const F format = bmp.PixelFormat() == F::ieNone ? F::ie24RGB : bmp.PixelFormat();
  bmp.Allocate(1, 1, format);
  FillWithBackground(bmp);
  Repaint();
}

bool LayerCanvas::IsEmpty() const {
  const IEBitmap& bmp = CurrentBitmap();
  return bmp.Width() < 2 && bmp.Height() < 2;
}

ImageProc& LayerCanvas::Proc() {
  if (!proc_) {
    proc_ = std::make_unique<ImageProc>(*this);
    proc_->Background = background_;
  }
  return *proc_;
}

void LayerCanvas::SetBackground(Color c) {
  background_ = c;
  // Rotation corners and cropped-away pixels take the canvas's colour.
  if (proc_) proc_->Background = c;
  Repaint();
}

std::vector<const IELayer*> LayerCanvas::LayerPointers() const {
  std::vector<const IELayer*> v;
  v.reserve(layers_.size());
  for (const auto& l : layers_) v.push_back(l.get());
  return v;
}

// ---------------------------------------------------------------------------
// View

namespace {

// A double as an int64, held far from the type's limits so that sums of a
// few such values never overflow.
int64_t SafeInt64(double v) {
  constexpr double kLimit = 4.0e18;
  if (!(v > -kLimit)) return static_cast<int64_t>(-kLimit);
  if (!(v < kLimit)) return static_cast<int64_t>(kLimit);
  return static_cast<int64_t>(v);
}

}  // namespace

int64_t LayerCanvas::ViewToImage(int64_t v, double zoom) {
  return SafeInt64(std::floor((static_cast<double>(v) + 0.5) * 100 / zoom));
}

int64_t LayerCanvas::ImageToView(int64_t i, double zoom) {
  int64_t v = SafeInt64(std::ceil(static_cast<double>(i) * zoom / 100 - 0.5));
  // The guess is off by one at most where rounding bites; settle it on the
  // very function the drawing uses.
  for (int k = 0; k < 4 && ViewToImage(v, zoom) < i; ++k) ++v;
  for (int k = 0; k < 4 && ViewToImage(v - 1, zoom) >= i; ++k) --v;
  return v;
}

void LayerCanvas::ViewChanged(ViewChangeKind kind) {
  if (OnViewChange) OnViewChange(kind);
}

void LayerCanvas::SetZoom(double zoom) {
  if (!(zoom > 0) || !std::isfinite(zoom) || zoom == zoom_) return;
  zoom_ = zoom;
  ClampView();
  Repaint();
  ViewChanged(ViewChangeKind::Zoom);
}

double LayerCanvas::OptimalZoom() const {
  const int w = ImageWidth(), h = ImageHeight();
  if (w <= 0 || h <= 0) return 100;
  return 100 * std::min(static_cast<double>(ControlHeight()) / h, static_cast<double>(ControlWidth()) / w);
}

void LayerCanvas::Fit() {
  const int w = ImageWidth(), h = ImageHeight();
  if (w <= 0 || h <= 0 || viewportW_ <= 0 || viewportH_ <= 0) return;
  SetZoom(100 * std::min(static_cast<double>(viewportW_) / w, static_cast<double>(viewportH_) / h));
}

void LayerCanvas::SetViewportSize(int width, int height) {
  viewportW_ = std::max(width, 0);
  viewportH_ = std::max(height, 0);
  ClampView();
}

void LayerCanvas::SetControlSize(int width, int height) {
  controlW_ = std::max(width, 0);
  controlH_ = std::max(height, 0);
}

void LayerCanvas::ClampView() {
  viewX_ = std::clamp<int64_t>(viewX_, 0, std::max<int64_t>(ExtentWidth() - viewportW_, 0));
  viewY_ = std::clamp<int64_t>(viewY_, 0, std::max<int64_t>(ExtentHeight() - viewportH_, 0));
}

void LayerCanvas::SetViewXY(int64_t x, int64_t y) {
  const int64_t ox = viewX_, oy = viewY_;
  viewX_ = x, viewY_ = y;
  ClampView();
  if (viewX_ == ox && viewY_ == oy) return;
  Repaint();
  ViewChanged(ViewChangeKind::Scroll);
}

int64_t LayerCanvas::OriginX() const {
  const int64_t extent = ExtentWidth();
  return extent > viewportW_ ? viewX_ : -((viewportW_ - extent) / 2);
}

int64_t LayerCanvas::OriginY() const {
  const int64_t extent = ExtentHeight();
  return extent > viewportH_ ? viewY_ : -((viewportH_ - extent) / 2);
}

void LayerCanvas::LayerScreenRect(int index, int64_t& x1, int64_t& y1, int64_t& x2, int64_t& y2) const {
  const IELayer* l = Layer(index);
  if (!l) {
    x1 = y1 = x2 = y2 = 0;
    return;
  }
  x1 = ImageToScreenX(l->LayerX);
  y1 = ImageToScreenY(l->LayerY);
  x2 = ImageToScreenX(static_cast<int64_t>(l->LayerX) + l->DrawWidth());
  y2 = ImageToScreenY(static_cast<int64_t>(l->LayerY) + l->DrawHeight());
}

bool LayerCanvas::ImageToLayerBitmap(int index, int64_t ix, int64_t iy, int& bx, int& by) const {
  const IELayer* l = Layer(index);
  if (!l || l->Bitmap.IsEmpty()) return false;
  const int64_t dx = ix - l->LayerX, dy = iy - l->LayerY;
  const int64_t dw = l->DrawWidth(), dh = l->DrawHeight();
  if (dx < 0 || dy < 0 || dx >= dw || dy >= dh) return false;
  bx = LayerSourceIndex(dx, l->Bitmap.Width(), dw);
  by = LayerSourceIndex(dy, l->Bitmap.Height(), dh);
  return true;
}

void LayerCanvas::RenderView(IEBitmap& dest) const { Render(dest, zoom_, OriginX(), OriginY()); }

void LayerCanvas::Render(IEBitmap& dest, double zoom, int64_t viewX, int64_t viewY) const {
  RenderStack(LayerPointers(), background_, zoom, viewX, viewY, dest);
}

int LayerCanvas::LayerAt(int64_t ix, int64_t iy) const {
  for (int i = LayerCount() - 1; i >= 0; --i) {
    const IELayer& l = *layers_[i];
    if (!l.Visible || !l.Selectable) continue;
    int bx, by;
    if (!ImageToLayerBitmap(i, ix, iy, bx, by)) continue;
    if (l.Bitmap.HasAlphaChannel() && !(selectionOptions_ & iesoSelectTranspLayers) && l.Bitmap.Alpha(bx, by) == 0)
      continue;
    return i;
  }
  return -1;
}

// ---------------------------------------------------------------------------
// Selection

void LayerCanvas::EnsureMaskSize() {
  const IEBitmap& bmp = CurrentBitmap();
  if (mask_.Width() != bmp.Width() || mask_.Height() != bmp.Height())
    mask_.Allocate(bmp.Width(), bmp.Height(), mask_.Depth());
}

void LayerCanvas::SelectRect(int x1, int y1, int x2, int y2) { SelectRectShaped(x1, y1, x2, y2, aspectRatio_); }

void LayerCanvas::SelectRectWithRatio(int x1, int y1, int x2, int y2, double ratio) {
  SelectRectShaped(x1, y1, x2, y2, ratio);
}

void LayerCanvas::SelectRectShaped(int x1, int y1, int x2, int y2, double ratio) {
  if (x1 == x2 || y1 == y2) return;
  const IEBitmap& bmp = CurrentBitmap();
  const int W = bmp.Width(), H = bmp.Height();
  int64_t ax1 = x1, ay1 = y1, ax2 = x2, ay2 = y2;
  if (ratio > 0) {
    // The height follows the width. A rectangle drawn upwards grows
    // upwards and is pulled in at the first row as one drawn downwards is
    // at the last.
    const int64_t down = ay2 > ay1 ? 1 : -1;
    const double width = std::fabs(static_cast<double>(ax2 - ax1));
    const double h = std::nearbyint(width * ratio);
    const double limit = down > 0 ? static_cast<double>(H - ay1) : static_cast<double>(ay1);
    if (h > limit) {
      const int64_t across = ax2 > ax1 ? 1 : -1;
      const double pulled = std::nearbyint(std::max(limit, 0.0) / ratio);
      ay2 = ay1 + down * SafeInt64(std::max(limit, 0.0));
      ax2 = ax1 + across * SafeInt64(pulled);
    } else {
      ay2 = ay1 + down * SafeInt64(h);
    }
  }
  if (ax1 > ax2) std::swap(ax1, ax2);
  if (ay1 > ay2) std::swap(ay1, ay2);
  ax1 = std::clamp<int64_t>(ax1, 0, std::max(W - 1, 0));
  ay1 = std::clamp<int64_t>(ay1, 0, std::max(H - 1, 0));
  ax2 = std::clamp<int64_t>(ax2, 0, W);
  ay2 = std::clamp<int64_t>(ay2, 0, H);
  EnsureMaskSize();
  MaskSelectOnly(mask_, static_cast<int>(ax1), static_cast<int>(ay1), static_cast<int>(ax2) - 1,
                 static_cast<int>(ay2) - 1);
  if (mask_.IsEmpty())
    selRect_.reset();
  else
    selRect_ = PixelRect{static_cast<int>(ax1), static_cast<int>(ay1), static_cast<int>(ax2), static_cast<int>(ay2)};
  Repaint();
}

void LayerCanvas::Deselect() {
  mask_.Clear();
  selRect_.reset();
  Repaint();
}

void LayerCanvas::InvertSelection() {
  if (mask_.IsEmpty()) return;
  if (mask_.Full()) {
    Deselect();
    return;
  }
  MaskInvert(mask_);
  selRect_.reset();
  Repaint();
}

void LayerCanvas::SelectionMaskDepth(int depth) {
  if ((depth != 1 && depth != 8) || depth == mask_.Depth()) return;
  const IEBitmap& bmp = CurrentBitmap();
  mask_.Allocate(bmp.Width(), bmp.Height(), depth);
  selRect_.reset();
  Repaint();
}

void LayerCanvas::FeatherSelection(double radius) {
  if (mask_.IsEmpty() || mask_.Depth() != 8 || !(radius > 0)) return;
  FeatherMask(mask_, radius);
  selRect_.reset();
  Repaint();
}

void LayerCanvas::SetSelectionAspectRatio(double ratio) {
  aspectRatio_ = ratio;
  if (ratio != 0)
    selectionOptions_ |= iesoSizeable;
  else
    selectionOptions_ &= ~static_cast<unsigned>(iesoSizeable);
}

void LayerCanvas::SetSelectionOptions(unsigned options) {
  selectionOptions_ = options;
  Repaint();
}

void LayerCanvas::SetMouseInteract(unsigned set) {
  mouseInteract_ = set;
  Repaint();
}

// ---------------------------------------------------------------------------
// ProcTarget

const IEMask* LayerCanvas::Selection() const {
  if (mask_.IsEmpty()) return nullptr;
  // A mask made for a bitmap of another size (another layer, a picture read
  // since) says nothing about this one.
  const IEBitmap& bmp = CurrentBitmap();
  if (mask_.Width() != bmp.Width() || mask_.Height() != bmp.Height()) return nullptr;
  return &mask_;
}

void LayerCanvas::Repaint() {
  if (OnRepaint) OnRepaint();
}

void LayerCanvas::ImageChanged() {
  if (OnImageChange) OnImageChange();
}

void LayerCanvas::Progress(int percent) {
  if (OnProgress) OnProgress(percent);
}

void LayerCanvas::FinishWork() {
  if (OnFinishWork) OnFinishWork();
}

void LayerCanvas::UndoSaved() {
  if (OnSaveUndo) OnSaveUndo();
}

}  // namespace velmora
