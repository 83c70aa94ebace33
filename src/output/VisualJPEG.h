// The "Optimize JPEG" window: the photo (view SR) beside its JPEG-compressed
// version (view DS), their sizes, and the compression settings. It works on
// a copy of layer 0 and never changes the document. Compression runs when
// the window is shown and on "Preview", never while a slider moves.
#pragma once

#include <QDialog>
#include <memory>
#include <string>

#include "output/JpegOptimizer.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QSlider;

namespace velmora {

class CanvasWidget;
class Document;

class VisualJPEG : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 849;
  static constexpr int kClientHeight = 482;
  static constexpr const char* kStatusText =
      "In order to scale the image click on it and use mouse wheel. Press Preview to view changes.";

  // `trialFolder` holds temp.jpg (JpegOptimizer::TrialFolder).
  VisualJPEG(Document& doc, UserInterface& ui, std::string trialFolder, QWidget* parent = nullptr);
  ~VisualJPEG() override;

  // "Optimize JPEG": shows the window modally.
  void Execute();

  // The window became active (it is shown): layer 0 into SR, its size into
  // Source, then a compression.
  void FormActivate();
  // "Preview".
  void PreviewClick();
  // "Save": the window closes whatever the save dialog's answer.
  void SaveClick();

  // The settings the controls show.
  JpegSettings Settings() const;
  JpegOptimizer& Optimizer() { return *optimizer_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  CanvasWidget* MakeView(LayerCanvas& canvas, const char* name, const QRect& geometry);
  void UpdateTexts();

  Document* doc_;
  std::unique_ptr<JpegOptimizer> optimizer_;
  CanvasWidget* sr_ = nullptr;
  CanvasWidget* ds_ = nullptr;
  QLabel* source_ = nullptr;
  QLabel* dest_ = nullptr;
  QSlider* compress_ = nullptr;
  QSlider* smooth_ = nullptr;
  QCheckBox* optimal_ = nullptr;
  QPushButton* preview_ = nullptr;
  QPushButton* save_ = nullptr;
  QPushButton* close_ = nullptr;
  QLabel* status_ = nullptr;
  bool activationPending_ = false;
};

}  // namespace velmora
