// The "Print" dialog: a live preview of the sheet (its outline, the
// margins and the picture where it will go) beside the settings of the
// print: margins, position, size mode, specified size, gamma and the
// measure unit; "Printer Setup" chooses the printer and its paper, "OK"
// prints the picture and closes, "Cancel" closes and prints nothing.
//
// Controls carry object names: MarginTop, MarginLeft, MarginRight,
// MarginBottom, Position, SizeMode, SpecifiedWidth, SpecifiedHeight, Gamma,
// Unit, Problem, PrinterInfo, Preview, PrinterSetup, OK, Cancel.
#pragma once

#include <QDialog>
#include <QImage>
#include <string>

#include "imaging/IEBitmap.h"
#include "output/PrintLayout.h"

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QPrinter;
class QPushButton;

namespace velmora {

class PrintPagePreview;

class PrintPreviewDialog : public QDialog {
  Q_OBJECT

 public:
  static constexpr const char* kTitle = "Print";

  // The dialog shows and prints `picture`, which must stay alive and
  // unchanged while the dialog is open; it is only read.
  PrintPreviewDialog(QPrinter& printer, const IEBitmap& picture, const PrintSettings& settings,
                     QWidget* parent = nullptr);
  ~PrintPreviewDialog() override;

  // The settings as the dialog holds them (sanitized).
  const PrintSettings& Settings() const { return settings_; }
  void SetSettings(const PrintSettings& settings);
  // Where the picture goes on the printer's present paper.
  const PrintPlacement& Placement() const { return placement_; }
  // The reason the last "OK" did not print; empty after a print.
  const std::string& LastError() const { return lastError_; }

  // "OK": prints and closes. When the print cannot be made the dialog says
  // why in a message box and stays open.
  void accept() override;

 private:
  void BuildControls();
  void ShowSettings();  // settings_ into the controls, in the present unit
  // A margin or size control changed to `shown` in the present unit.
  void LengthEdited(double PrintSettings::*field, double shown);
  void GammaEdited();
  void UnitChosen(int index);
  void PrinterSetup();
  // Placement, the problem line, "OK" and the preview after any change.
  void Refresh();
  void RefreshPreviewPicture();  // after the gamma changed

  QPrinter* printer_;
  const IEBitmap* picture_;
  PrintSettings settings_;
  PrintPlacement placement_;
  std::string lastError_;
  IEBitmap reduced_;       // the picture at preview size
  QImage previewPicture_;  // reduced_ as it will print (gamma applied)

  QDoubleSpinBox* marginTop_ = nullptr;
  QDoubleSpinBox* marginLeft_ = nullptr;
  QDoubleSpinBox* marginRight_ = nullptr;
  QDoubleSpinBox* marginBottom_ = nullptr;
  QComboBox* position_ = nullptr;
  QComboBox* sizeMode_ = nullptr;
  QDoubleSpinBox* specifiedWidth_ = nullptr;
  QDoubleSpinBox* specifiedHeight_ = nullptr;
  QDoubleSpinBox* gamma_ = nullptr;
  QComboBox* unit_ = nullptr;
  QLabel* problem_ = nullptr;
  QLabel* printerInfo_ = nullptr;
  PrintPagePreview* preview_ = nullptr;
  QPushButton* setup_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
  bool showing_ = false;  // controls being filled: their signals are not edits
};

}  // namespace velmora
