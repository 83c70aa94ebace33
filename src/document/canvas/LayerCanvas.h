// The layered canvas: a stack of layers shown at a zoom, with a selection,
// the processor every image operation runs through, and the events the
// main window listens to. Headless: the canvas widget draws it and turns the
// mouse into its operations; an OffscreenCanvas is the same model used as a
// short-lived work area.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "document/files/ImageFile.h"
#include "imaging/Color.h"
#include "imaging/IEBitmap.h"
#include "imaging/IEMask.h"
#include "imaging/ImageProc.h"

class QPainter;  // the widget's drawing surface, handed through OnDrawLayerBox

namespace velmora {

// One entry of the stack. The canvas owns its layers, each layer its bitmap.
struct IELayer {
  IEBitmap Bitmap;
  int LayerX = 0, LayerY = 0;               // top-left corner over layer 0, image pixels
  int DisplayWidth = 0, DisplayHeight = 0;  // drawn and merged size; 0: the bitmap's own
  bool Visible = true;
  bool ShowBox = true;
  int Opacity = 255;  // upper limit of the coverage, 0..255
  bool ClipToBase = false;
  bool Locked = false;
  bool Selectable = true;

  // Every field but the bitmap back to its default.
  void Reset();
  // The size the layer is drawn at (never below 0).
  int DrawWidth() const { return DisplayWidth > 0 ? DisplayWidth : Bitmap.Width(); }
  int DrawHeight() const { return DisplayHeight > 0 ? DisplayHeight : Bitmap.Height(); }
};

// What the mouse does (a set).
enum MouseInteractItem : unsigned {
  miZoom = 1u << 0,
  miScroll = 1u << 1,
  miSelect = 1u << 2,
  miSelectPolygon = 1u << 3,
  miSelectCircle = 1u << 4,
  miSelectZoom = 1u << 5,
  miSelectMagicWand = 1u << 6,
  miSelectLasso = 1u << 7,
  miMoveLayers = 1u << 8,
  miResizeLayers = 1u << 9,
  miRotateLayers = 1u << 10,
};

// How selections look and behave (a set).
enum SelectionOption : unsigned {
  iesoAnimated = 1u << 0,
  iesoSizeable = 1u << 1,
  iesoMoveable = 1u << 2,
  iesoFilled = 1u << 3,
  iesoCutBorders = 1u << 4,
  iesoMarkOuter = 1u << 5,
  iesoCanScroll = 1u << 6,
  iesoSelectTranspLayers = 1u << 7,
};

enum class SelectionBaseKind { iesbClientArea, iesbBitmap };

// Modifier keys held with a key or mouse event (a set).
enum ShiftStateItem : unsigned { ssShift = 1u << 0, ssAlt = 1u << 1, ssCtrl = 1u << 2 };

enum class ViewChangeKind { Zoom, Scroll };

// A rectangle of pixels: x1, y1 included, x2, y2 excluded.
struct PixelRect {
  int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  int Width() const { return x2 - x1; }
  int Height() const { return y2 - y1; }
  friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

class LayerCanvas;

// The canvas's reader and writer: a file is read into the current layer
// (replacing its size and pixels) and the current layer is written.
class CanvasIO {
 public:
  explicit CanvasIO(LayerCanvas& canvas) : canvas_(&canvas) {}
  // On failure the layer keeps its picture.
  IOResult LoadFromFile(const std::string& path);
  IOResult SaveToFile(const std::string& path) const;
  SaveParams Params;

 private:
  LayerCanvas* canvas_;
};

class LayerCanvas : public ProcTarget {
 public:
  LayerCanvas();
  ~LayerCanvas() override;
  LayerCanvas(const LayerCanvas&) = delete;
  LayerCanvas& operator=(const LayerCanvas&) = delete;

  // --- Layer stack ---------------------------------------------------------
  int LayerCount() const override { return static_cast<int>(layers_.size()); }
  int CurrentLayerIndex() const override { return current_; }
  // Out-of-range indices give the nearest layer: the frame never sees a
  // missing one.
  IEBitmap& LayerBitmap(int index) override;
  // nullptr when i is out of range.
  IELayer* Layer(int i);
  const IELayer* Layer(int i) const;
  IELayer& CurrentLayer() { return *layers_[current_]; }
  const IELayer& CurrentLayer() const { return *layers_[current_]; }
  void SelectLayer(int i);
  // A new top layer of the current layer's size and format, filled with
  // Background; it becomes current. Returns its index.
  int AddLayer();
  // A new top layer holding `bitmap`, with default fields; it becomes current.
  int AddLayer(IEBitmap bitmap);
  void RemoveLayer(int i);
  void RemoveExtraLayers();
  // Flattens the stack into layer 0. False (and nothing changed) when the
  // merged picture would exceed the picture-size limits or memory.
  bool MergeAllLayers();
  void ClearCurrentLayer();
  void Blank();
  bool IsEmpty() const;
  IEBitmap& CurrentBitmap() { return CurrentLayer().Bitmap; }
  const IEBitmap& CurrentBitmap() const { return CurrentLayer().Bitmap; }
  ImageProc& Proc();
  CanvasIO& IO() { return io_; }

  // The image size: that of layer 0's bitmap.
  int ImageWidth() const { return layers_[0]->Bitmap.Width(); }
  int ImageHeight() const { return layers_[0]->Bitmap.Height(); }

  // Fill of empty areas, cleared layers and merge margins, and the colour
  // around the image in the view.
  Color Background() const { return background_; }
  void SetBackground(Color c);

  // --- View ----------------------------------------------------------------
  double Zoom() const { return zoom_; }
  void SetZoom(double zoom);
  // 100 x min(control height / image height, control width / image width).
  double OptimalZoom() const;
  // The largest zoom at which the whole image fits the viewport.
  void Fit();
  // The widget reports its outer size and the client area available for
  // the image; the control size follows the viewport until set apart.
  void SetViewportSize(int width, int height);
  void SetControlSize(int width, int height);
  int ViewportWidth() const { return viewportW_; }
  int ViewportHeight() const { return viewportH_; }
  int ControlWidth() const { return controlW_ > 0 ? controlW_ : viewportW_; }
  int ControlHeight() const { return controlH_ > 0 ? controlH_ : viewportH_; }

  // View pixels: the image at the zoom. View pixel v shows image pixel
  // floor((v + 0.5) x 100 / Zoom), the nearest one.
  static int64_t ViewToImage(int64_t v, double zoom);
  // The first view pixel that shows image pixel i or one after it.
  static int64_t ImageToView(int64_t i, double zoom);
  // The zoomed image's size in view pixels.
  int64_t ExtentWidth() const { return ImageToView(ImageWidth(), zoom_); }
  int64_t ExtentHeight() const { return ImageToView(ImageHeight(), zoom_); }
  // Scroll position: the view pixel at the viewport's left and top edges
  // while the zoomed image is larger than the viewport (kept in range).
  int64_t ViewX() const { return viewX_; }
  int64_t ViewY() const { return viewY_; }
  void SetViewXY(int64_t x, int64_t y);
  // The view pixel at viewport pixel (0, 0): the scroll position, or a
  // negative offset that centres an image smaller than the viewport.
  int64_t OriginX() const;
  int64_t OriginY() const;
  // Viewport pixel <-> image pixel (of layer 0's coordinates).
  int64_t ScreenToImageX(int sx) const { return ViewToImage(sx + OriginX(), zoom_); }
  int64_t ScreenToImageY(int sy) const { return ViewToImage(sy + OriginY(), zoom_); }
  int64_t ImageToScreenX(int64_t ix) const { return ImageToView(ix, zoom_) - OriginX(); }
  int64_t ImageToScreenY(int64_t iy) const { return ImageToView(iy, zoom_) - OriginY(); }
  // A layer's drawn rectangle in viewport pixels.
  void LayerScreenRect(int index, int64_t& x1, int64_t& y1, int64_t& x2, int64_t& y2) const;
  // The pixel of layer `index`'s bitmap drawn at image pixel (ix, iy);
  // false when the layer does not cover that point.
  bool ImageToLayerBitmap(int index, int64_t ix, int64_t iy, int& bx, int& by) const;

  // Draws the stack as the viewport shows it (dest: ie24RGB, the viewport's
  // size or any other).
  void RenderView(IEBitmap& dest) const;
  // Draws the stack at any zoom: dest pixel (0, 0) is view pixel (viewX, viewY).
  void Render(IEBitmap& dest, double zoom, int64_t viewX, int64_t viewY) const;

  // The topmost layer that is visible, selectable, covers image pixel
  // (ix, iy) and, when it has an alpha channel (and iesoSelectTranspLayers
  // is off), is not fully transparent there; -1 when none.
  int LayerAt(int64_t ix, int64_t iy) const;

  // --- Selection (bitmap pixels of the current layer) ----------------------
  // Replaces the selection by the rectangle from (x1, y1) to (x2, y2), x2
  // and y2 excluded; nothing happens when x1 = x2 or y1 = y2. With
  // SelectionAspectRatio > 0 the height becomes round(width x ratio), and
  // when that passes the last row (the first, for a rectangle drawn
  // upwards) the width is pulled in to round(height left / ratio). Then x1
  // and y1 are clamped to 0..size-1, x2 and y2 to 0..size.
  void SelectRect(int x1, int y1, int x2, int y2);
  // SelectRect with `ratio` in place of SelectionAspectRatio (<= 0: a free
  // rectangle): the mouse draws squares this way.
  void SelectRectWithRatio(int x1, int y1, int x2, int y2, double ratio);
  void Deselect();
  void InvertSelection();
  void SelectionMaskDepth(int depth);
  void FeatherSelection(double radius);
  const IEMask& SelectionMask() const { return mask_; }
  bool HasSelection() const { return !mask_.IsEmpty(); }
  // The rectangle of a selection made by SelectRect and not changed since
  // (inverting or feathering makes it a shape).
  std::optional<PixelRect> SelectedRect() const { return HasSelection() ? selRect_ : std::nullopt; }

  double SelectionAspectRatio() const { return aspectRatio_; }
  void SetSelectionAspectRatio(double ratio);
  unsigned SelectionOptions() const { return selectionOptions_; }
  void SetSelectionOptions(unsigned options);
  SelectionBaseKind SelectionBase() const { return selectionBase_; }
  void SetSelectionBase(SelectionBaseKind base) { selectionBase_ = base; }
  unsigned MouseInteract() const { return mouseInteract_; }
  void SetMouseInteract(unsigned set);
  bool KeepLayerAspect() const { return keepLayerAspect_; }
  void SetKeepLayerAspect(bool keep) { keepLayerAspect_ = keep; }

  // --- Events ----------------------------------------------------------------
  std::function<void(ViewChangeKind)> OnViewChange;
  std::function<void()> OnImageChange;
  std::function<void(int percent)> OnProgress;
  // Raised by the widget when it draws a layer's box; without a handler the
  // widget draws its own.
  std::function<void(LayerCanvas&, QPainter&, int layer)> OnDrawLayerBox;
  // key: the Qt key code; shift: ShiftStateItem flags.
  std::function<void(int key, unsigned shift)> OnKeyDown;
  std::function<void()> OnFinishWork;
  std::function<void()> OnSaveUndo;
  // The widget's: the picture must be drawn again.
  std::function<void()> OnRepaint;

  // ProcTarget. The selection limits operations on the current layer while
  // it has that layer's size.
  const IEMask* Selection() const override;
  void Repaint() override;
  void ImageChanged() override;
  void Progress(int percent) override;
  void FinishWork() override;
  void UndoSaved() override;

 private:
  void FillWithBackground(IEBitmap& bmp) const;
  void RemoveExtraLayersKeepingPixels();
  void ViewChanged(ViewChangeKind kind);
  void ClampView();
  void SelectRectShaped(int x1, int y1, int x2, int y2, double ratio);
  void EnsureMaskSize();
  std::vector<const IELayer*> LayerPointers() const;

  std::vector<std::unique_ptr<IELayer>> layers_;
  int current_ = 0;
  Color background_ = clBtnFace;
  double zoom_ = 100;
  int viewportW_ = 0, viewportH_ = 0, controlW_ = 0, controlH_ = 0;
  int64_t viewX_ = 0, viewY_ = 0;
  IEMask mask_;
  std::optional<PixelRect> selRect_;
  double aspectRatio_ = -1;
  unsigned selectionOptions_ = iesoAnimated | iesoSizeable | iesoMoveable | iesoCanScroll;
  SelectionBaseKind selectionBase_ = SelectionBaseKind::iesbBitmap;
  unsigned mouseInteract_ = 0;
  bool keepLayerAspect_ = false;
  std::unique_ptr<ImageProc> proc_;
  CanvasIO io_{*this};
};

// A canvas without a widget: a work area for one action, used through its
// IO, its Proc and its layer 0.
using OffscreenCanvas = LayerCanvas;

}  // namespace velmora
