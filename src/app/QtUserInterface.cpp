#include "app/QtUserInterface.h"

#include <QApplication>
#include <QColorDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

#include "app/OpenPhotoDialog.h"
#include "document/qt/QtBitmap.h"
#include "output/JpegSimpleDialog.h"

namespace velmora {

namespace {

QString Title() { return QApplication::applicationDisplayName().isEmpty() ? QStringLiteral("Velmora")
                                                                           : QApplication::applicationDisplayName(); }

QStringList QtFilters(const std::vector<FileFilter>& filters) {
  QStringList out;
  for (const auto& f : filters) out << QtUserInterface::QtFilter(f);
  return out;
}

}  // namespace

QString QtUserInterface::QtFilter(const FileFilter& filter) {
  QString caption = QString::fromStdString(filter.caption);
  // The caption carries its own "(*.a;*.b)" for the eye; Qt reads the
  // patterns from the last parenthesis and wants them separated by blanks.
  const int paren = caption.lastIndexOf(QLatin1String(" ("));
  if (paren >= 0 && caption.endsWith(QLatin1Char(')'))) caption.truncate(paren);
  QStringList patterns;
  for (const auto& p : filter.patterns) patterns << QString::fromStdString(p == "*.*" ? "*" : p);
  return caption + QLatin1String(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
}

void QtUserInterface::ShowMessage(const std::string& text, MessageKind kind) {
  const QString t = QString::fromStdString(text);
  switch (kind) {
    case MessageKind::Information:
      QMessageBox::information(parent_, Title(), t);
      break;
    case MessageKind::Warning:
      QMessageBox::warning(parent_, Title(), t);
      break;
    case MessageKind::Error:
      QMessageBox::critical(parent_, Title(), t);
      break;
  }
}

Answer QtUserInterface::AskYesNoCancel(const std::string& text) {
  // Escape and the close box count as Cancel.
  const auto b = QMessageBox::question(parent_, Title(), QString::fromStdString(text),
                                       QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
                                       QMessageBox::Cancel);
  if (b == QMessageBox::Yes) return Answer::Yes;
  if (b == QMessageBox::No) return Answer::No;
  return Answer::Cancel;
}

std::string QtUserInterface::GetOpenFileName(const std::string& title, const std::vector<FileFilter>& filters,
                                             int filterIndex) {
  const QStringList list = QtFilters(filters);
  const QString selected = filterIndex >= 0 && filterIndex < list.size() ? list[filterIndex] : QString();
  OpenPhotoDialog dialog(parent_, QString::fromStdString(title), list, selected);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().constFirst().toStdString();
}

std::string QtUserInterface::GetSaveFileName(const std::string& title, const std::vector<FileFilter>& filters,
                                             int& filterIndex, const std::string& fileName) {
  const QStringList list = QtFilters(filters);
  QString selected = filterIndex >= 0 && filterIndex < list.size() ? list[filterIndex] : QString();
  const QString path = QFileDialog::getSaveFileName(parent_, QString::fromStdString(title),
                                                    QString::fromStdString(fileName),
                                                    list.join(QLatin1String(";;")), &selected);
  if (path.isEmpty()) return {};
  const int picked = list.indexOf(selected);
  if (picked >= 0) filterIndex = picked;
  return path.toStdString();
}

bool QtUserInterface::ChooseColor(Color& color) {
  const QColor c = QColorDialog::getColor(ToQColor(color), parent_);
  if (!c.isValid()) return false;
  color = FromQColor(c);
  return true;
}

int QtUserInterface::AskJpegQuality(int quality) {
  JpegSimple dialog(parent_);
  return dialog.Ask(quality);
}

void QtUserInterface::ProcessPendingEvents() { QApplication::processEvents(); }

}  // namespace velmora
