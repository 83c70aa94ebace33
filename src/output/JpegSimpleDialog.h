// The "JPEG Compression" dialog: the quality of a JPEG about to be saved.
// Closing it any way (its button, the title bar, Escape) continues with the
// value shown.
#pragma once

#include <QDialog>

class QSpinBox;
class QPushButton;

namespace velmora {

class JpegSimple : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 188;
  static constexpr int kClientHeight = 107;

  explicit JpegSimple(QWidget* parent = nullptr);

  // Shows the dialog modally on `quality` (kept within 5..100) and
  // returns the value shown when it closes.
  int Ask(int quality);
  // The value shown, with text still being typed taken into account.
  int Value() const;

  QSpinBox* QualityEdit() const { return quality_; }
  QPushButton* SaveButton() const { return save_; }

 protected:
  void showEvent(QShowEvent* event) override;
  // The title bar's close box and Escape continue like the button.
  void reject() override;

 private:
  QSpinBox* quality_;
  QPushButton* save_;
};

// Puts a dialog of fixed size at the centre of its parent window (of the
// screen when it has none).
void CentreOnParent(QWidget* dialog);

}  // namespace velmora
