// Everything that asks the user something or shows something modal goes
// through this one interface: message boxes, the save question, the file
// dialogs and letting pending window events run. The Qt shell implements it
// with real dialogs; the tests answer it from a script. The document and
// the tool pages never open a dialog themselves, so every handler runs the
// same way with or without a window.
#pragma once

#include <string>
#include <vector>

#include "imaging/Color.h"

namespace velmora {

enum class MessageKind { Information, Warning, Error };

enum class Answer { Yes, No, Cancel };

// One entry of a file dialog's type list: the caption as shown, e.g.
// "TIFF (*.tif;*.tiff)", and the patterns it stands for ("*.tif", "*.tiff").
struct FileFilter {
  std::string caption;
  std::vector<std::string> patterns;
  friend bool operator==(const FileFilter&, const FileFilter&) = default;
};

class UserInterface {
 public:
  virtual ~UserInterface() = default;

  // A modal message box with an OK button; `text` is shown as given.
  virtual void ShowMessage(const std::string& text, MessageKind kind) = 0;
  // A modal confirmation box with the buttons Yes, No and Cancel. Closing
  // it any other way counts as Cancel.
  virtual Answer AskYesNoCancel(const std::string& text) = 0;
  // The open-file dialog. `filterIndex` (0-based) is preselected. Returns
  // the chosen path, or an empty string when the dialog was cancelled.
  virtual std::string GetOpenFileName(const std::string& title, const std::vector<FileFilter>& filters,
                                      int filterIndex) = 0;
  // The save-file dialog. `filterIndex` is preselected and receives the
  // type the user picked. Returns the path, or an empty string on cancel.
  virtual std::string GetSaveFileName(const std::string& title, const std::vector<FileFilter>& filters,
                                      int& filterIndex, const std::string& fileName) = 0;
  // The colour dialog, opened on `color`, which receives the choice.
  // False when it was cancelled.
  virtual bool ChooseColor(Color& color) = 0;
  // The "JPEG Compression" dialog, showing `quality` (5..100). Returns the
  // value shown when it closes, whether by its button or its title bar.
  virtual int AskJpegQuality(int quality) = 0;
  // Lets the window system deliver pending events (repaints, progress)
  // in the middle of a long action.
  virtual void ProcessPendingEvents() = 0;
};

}  // namespace velmora
