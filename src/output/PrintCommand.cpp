#include "output/PrintCommand.h"

#include <QPrinter>

#include "document/Document.h"
#include "output/PrintPreviewDialog.h"

namespace velmora {

PrintCommand::PrintCommand() : printer_(std::make_unique<QPrinter>(QPrinter::HighResolution)) {
  printer_->setDocName(QString::fromLatin1(kDocName));
}

PrintCommand::~PrintCommand() = default;

bool PrintCommand::HasPicture(const IEBitmap& layer) {
  if (layer.Width() <= 1 && layer.Height() < 2) return false;
  return !layer.IsEmpty();
}

bool PrintCommand::Run(const Document& document, QWidget* parent) {
  return Run(document.Imaga().CurrentBitmap(), parent);
}

bool PrintCommand::Run(const IEBitmap& layer, QWidget* parent) {
  if (!HasPicture(layer)) return false;
  settings_.unit = MeasureUnit::Inches;
  printer_->setDocName(QString::fromLatin1(kDocName));
  PrintPreviewDialog dialog(*printer_, layer, settings_, parent);
  if (dialog.exec() == QDialog::Accepted) settings_ = dialog.Settings();
  return true;
}

}  // namespace velmora
