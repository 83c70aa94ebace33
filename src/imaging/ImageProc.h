// The image processor: every named operation runs through one frame.
//
//   BeginOperation(label, formats)   undo copy, format check, working
//                                    rectangle, selection's scratch bitmap
//   worker                           transforms the pixels of a rectangle
//   EndOperation                     blend back through the selection mask,
//                                    repaint, notify, progress 100
//
// A worker never knows about selections, undo or labels. Operations are
// methods, grouped by family; each family lives in its own source file
// (Tone.cpp, ...).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "imaging/IEBitmap.h"
#include "imaging/IEMask.h"
#include "imaging/Geometry.h"

namespace velmora {

// What a processor works on: a canvas's layers, its current layer and its
// selection. The layered canvas implements it; BitmapTarget serves a plain
// picture (previews, scratch work, the command line).
class ProcTarget {
 public:
  virtual ~ProcTarget() = default;
  virtual int LayerCount() const = 0;
  virtual int CurrentLayerIndex() const = 0;
  virtual IEBitmap& LayerBitmap(int index) = 0;
  // The selection limiting operations; nullptr or an empty mask: none.
  virtual const IEMask* Selection() const { return nullptr; }
  virtual void Repaint() {}
  virtual void ImageChanged() {}
  virtual void Progress(int /*percent*/) {}
  virtual void FinishWork() {}
  virtual void UndoSaved() {}
};

// One picture, optionally with a selection of its own.
class BitmapTarget : public ProcTarget {
 public:
  explicit BitmapTarget(IEBitmap& bitmap, const IEMask* selection = nullptr)
      : bitmap_(&bitmap), selection_(selection) {}
  int LayerCount() const override { return 1; }
  int CurrentLayerIndex() const override { return 0; }
  IEBitmap& LayerBitmap(int) override { return *bitmap_; }
  const IEMask* Selection() const override { return selection_; }
  void SetSelection(const IEMask* selection) { selection_ = selection; }

 private:
  IEBitmap* bitmap_;
  const IEMask* selection_;
};

// A set of pixel formats; the empty set accepts every format.
class FormatSet {
 public:
  FormatSet() = default;
  FormatSet(std::initializer_list<IEPixelFormat> formats) {
    for (auto f : formats) bits_ |= 1u << static_cast<int>(f);
  }
  static FormatSet Any() { return {}; }
  bool Empty() const { return bits_ == 0; }
  bool Has(IEPixelFormat f) const { return Empty() || (bits_ >> static_cast<int>(f)) & 1u; }
  bool Contains(IEPixelFormat f) const { return (bits_ >> static_cast<int>(f)) & 1u; }

 private:
  uint32_t bits_ = 0;
};

// The bitmap and rectangle a worker transforms, from BeginOperation.
struct Work {
  IEBitmap* bitmap = nullptr;  // the layer's bitmap, or the selection's scratch copy
  int x1 = 0, y1 = 0, x2 = 0, y2 = 0;  // x2, y2 excluded
  const IEMask* mask = nullptr;  // the selection, when there is one
  int boxX = 0, boxY = 0;        // where the scratch copy came from
  IEBitmap scratch;              // the selection's temporary bitmap
  int Width() const { return x2 - x1; }
  int Height() const { return y2 - y1; }
};

class ImageProc {
 public:
  explicit ImageProc(ProcTarget& canvas);
  ImageProc(const ImageProc&) = delete;
  ImageProc& operator=(const ImageProc&) = delete;

  ProcTarget& AttachedCanvas() { return *canvas_; }

  bool AutoUndo = true;
  int UndoLimit = 1;
  bool AutoConvertFormat = true;
  // Default to the canvas's own handlers.
  std::function<void(int)> OnProgress;
  std::function<void()> OnFinishWork;
  std::function<void()> OnSaveUndo;

  struct UndoEntry {
    IEBitmap bitmap;
    int layer = 0;
    std::string label;
  };
  const std::deque<UndoEntry>& UndoList() const { return undo_; }
  // Puts the newest copy back (it stays in the list).
  void Undo();
  void ClearUndo() { undo_.clear(); }

  // The frame. BeginOperation returns false when the format cannot be made
  // acceptable: then nothing is done and EndOperation must not be called.
  bool BeginOperation(const std::string& label, FormatSet accepted, Work& work);
  void EndOperation(Work& work);
  void Progress(int percent) {
    if (OnProgress) OnProgress(percent);
  }
  // The usual progress after row y of a worker over rows y1..y2-1.
  void RowProgress(const Work& w, int y) const;

  // The label of an operation with integer parameters: "HSLvar 0,0,-50".
  static std::string Label(const std::string& name, std::initializer_list<int> params);
  // The format an operation converts a bitmap to (ieNone: not possible).
  static IEPixelFormat ConversionTarget(IEPixelFormat present, FormatSet accepted);

  // --- Colour and tone (Tone.cpp) ---------------------------------------
  void AdjustBrightnessContrastSaturation(int brightness, int contrast, int saturation);
  void Contrast(int amount);
  void IntensityRGBall(int r, int g, int b);
  void HSLvar(int hue, int saturation, int lightness);
  void Colorize(int hue, int saturation, double luminosity);
  void ConvertToGray();
  void Negative();

  // --- Filters, distortions and shadows (Filters.cpp) --------------------
  void Blur(double radius);
  void Sharpen(int intensity, int neighbourhood);
  void Opening(int radius);
  void Wave(int amplitude, int wavelength, int phase, bool reflective);
  // colour: the packed triple red * 65536 + green * 256 + blue.
  void Fill(int32_t colour);
  // The shadows keep their own undo copy and always work on the whole
  // bitmap, whatever the selection; colour: a colour value (0x00BBGGRR or
  // a system colour).
  void AddSoftShadow(int offsetX, int offsetY, double radius, bool enlarge, uint32_t colour, int intensity);
  void AddInnerShadow(int offsetX, int offsetY, double radius, uint32_t colour);

  // --- Geometry (Geometry.cpp) -------------------------------------------
  // Fill colour of the corners Rotate uncovers and of the pixels CropSel
  // leaves unselected; the canvas keeps it equal to its own Background.
  Color Background = clBtnFace;
  // Sizes: -1 follows the aspect ratio, 0 keeps, other negatives their
  // absolute value; both negative: only the undo copy.
  void Resample(int newWidth, int newHeight, ResampleFilter filter);
  // Degrees, positive counter-clockwise; kProcessorBackground (-1) uses
  // Background. Only the three-shear rotation exists, whatever the mode.
  void Rotate(bool antialias, uint8_t mode, double angle, Color background = kProcessorBackground);
  // 0: left to right, 1: upside down; other values do nothing.
  void Flip(int direction);
  // Cuts the picture down to the selection's bounding box.
  void CropSel();

  // --- Colour reduction (Reduction.cpp) ----------------------------------
  // These four work on the layer's whole picture and ignore any selection.
  // colours < 3: black and white (ordered dither, or the automatic
  // threshold); 3..1024: at most that many colours; more: no change.
  void ConvertTo(int colours, bool useThreshold);
  // threshold -1: grey level of the mean colour; -2: maximum entropy.
  void ConvertToBWThreshold(int threshold);
  void ConvertToBWOrdered();
  // Only for ie1g pictures; others are left alone (no undo copy).
  void ConvertTo24Bit();

  // --- Automatic enhancement (Enhance.cpp) -------------------------------
  void WhiteBalance_AutoWhite();
  void HistAutoEqualize();
  void AdjustLumSatHistogram(double saturationExponent, double valueExponent);
  void AutoImageEnhance3(int saturationPercent, double gamma);
  void WallisFilter(int windowWidthPercent, int windowHeightPercent, int targetMean, int targetDeviation, int gain,
                    int meanWeight, int deviationLimit, bool binarize);

 private:
  void SaveUndo(const std::string& label);
  void BlendBack(Work& work);

  ProcTarget* canvas_;
  std::deque<UndoEntry> undo_;
};

// Sets target's alpha from the red channel of an ie24RGB mask picture at
// least as large as the target.
void AlphaFromMask(IEBitmap& target, const IEBitmap& mask);

}  // namespace velmora
