// The user interface of the running program: real message boxes and file
// dialogs, parented to the main window so they stay in front of it and
// give the focus back to it when they close (which re-runs the mode
// handler through the window's activation).
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include "document/UserInterface.h"

namespace velmora {

class QtUserInterface : public UserInterface {
 public:
  // The window the dialogs belong to; may be set after construction, since
  // the main window itself needs the interface to be built.
  void SetParentWidget(QWidget* parent) { parent_ = parent; }

  void ShowMessage(const std::string& text, MessageKind kind) override;
  Answer AskYesNoCancel(const std::string& text) override;
  std::string GetOpenFileName(const std::string& title, const std::vector<FileFilter>& filters,
                              int filterIndex) override;
  std::string GetSaveFileName(const std::string& title, const std::vector<FileFilter>& filters, int& filterIndex,
                              const std::string& fileName) override;
  bool ChooseColor(Color& color) override;
  int AskJpegQuality(int quality) override;
  void ProcessPendingEvents() override;

  // The dialog's filter line of a type-list entry: the caption's text before
  // its pattern list, then the patterns in the space-separated form Qt
  // matches ("TIFF (*.tif *.tiff)").
  static QString QtFilter(const FileFilter& filter);

 private:
  QPointer<QWidget> parent_;
};

}  // namespace velmora
