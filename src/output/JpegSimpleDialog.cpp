#include "output/JpegSimpleDialog.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>

#include "output/SaveAs.h"

namespace velmora {

void CentreOnParent(QWidget* dialog) {
  const QWidget* parent = dialog->parentWidget() ? dialog->parentWidget()->window() : nullptr;
  QRect area;
  if (parent && parent->isVisible())
    area = parent->frameGeometry();
  else if (const QScreen* screen = dialog->screen() ? dialog->screen() : QGuiApplication::primaryScreen())
    area = screen->availableGeometry();
  else
    return;
  QRect r(QPoint(0, 0), dialog->size());
  r.moveCenter(area.center());
  dialog->move(r.topLeft());
}

JpegSimple::JpegSimple(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("JpegSimple"));
  setWindowTitle(QStringLiteral("JPEG Compression"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setFixedSize(kClientWidth, kClientHeight);

  auto* label = new QLabel(QStringLiteral("Image Quality"), this);
  label->setObjectName(QStringLiteral("QualityLabel"));
  label->setGeometry(16, 16, 90, 21);

  quality_ = new QSpinBox(this);
  quality_->setObjectName(QStringLiteral("QualityEdit"));
  quality_->setRange(SaveCommands::kMinQuality, SaveCommands::kMaxQuality);
  quality_->setValue(SaveCommands::kDefaultQuality);
  quality_->setGeometry(108, 14, 64, 24);
  label->setBuddy(quality_);

  save_ = new QPushButton(QStringLiteral("Save"), this);
  save_->setObjectName(QStringLiteral("SaveButton"));
  save_->setDefault(true);
  save_->setGeometry(56, 62, 76, 27);
  connect(save_, &QPushButton::clicked, this, &QDialog::accept);
}

int JpegSimple::Value() const {
  quality_->interpretText();
  return quality_->value();
}

int JpegSimple::Ask(int quality) {
  quality_->setValue(quality);  // the spin box keeps it within its range
  exec();
  return Value();
}

void JpegSimple::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  CentreOnParent(this);
  quality_->setFocus();
  quality_->selectAll();
}

void JpegSimple::reject() { accept(); }

}  // namespace velmora
