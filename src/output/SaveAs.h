// "Save As..." and "Export to...": the current layer of the canvas, as it
// is (nothing merged), written to a file the user picks in the save dialog
// `Sava`. The main window owns one SaveCommands for the whole run: it
// remembers the selected type, the JPEG quality and the last file name.
// Headless: the dialogs go through the document's UserInterface.
#pragma once

#include <string>
#include <vector>

#include "document/Document.h"
#include "document/UserInterface.h"
#include "document/files/FormatTable.h"

namespace velmora {

// A save dialog of the window: its title and type list, and what it keeps
// from one use to the next during the run (the type, the name it opens on).
struct SaveDialog {
  std::string title;
  std::vector<FileFilter> filters;
  int filterIndex = 0;   // the selected type, 0-based
  std::string fileName;  // the name it opens on
  // Shows it; the chosen path, or empty when it was cancelled. filterIndex
  // follows the type the user picked.
  std::string Execute(UserInterface& ui);
};

class SaveCommands {
 public:
  static constexpr const char* kTitle = "Save As...";
  // Positions of the save list ("Export to..." selects by them).
  static constexpr int kTiffType = 1;
  static constexpr int kGifType = 2;
  static constexpr int kJpegType = 3;
  static constexpr int kBmpType = 5;
  static constexpr int kPngType = 7;
  // The JPEG Compression dialog's range and first value.
  static constexpr int kMinQuality = 5;
  static constexpr int kMaxQuality = 100;
  static constexpr int kDefaultQuality = 80;

  explicit SaveCommands(Document& doc);

  // The save dialog's type list, one entry per writable format of the
  // fixed save list in its order: "JPEG Bitmap (*.jpg;*.jpeg;*.jpe;*.jif)".
  static std::vector<FileFilter> Filters();
  // The formats behind Filters(), entry for entry.
  static std::vector<const FormatInfo*> Types();

  // The selected type, as its position in the fixed save list (1-based).
  int SelectedType() const;
  // Selects a type by its position in the fixed save list; false (and the
  // selection unchanged) when that type is not offered.
  bool SelectType(int saveIndex);
  int JpegQuality() const { return quality_; }
  // The name the last save was written to (empty before the first one).
  const std::string& LastFileName() const { return Sava.fileName; }

  // "Save As...": the dialog opens on the selected type and the last file
  // name. A confirmed name is completed (CompleteFileName); when the
  // completed name is another, existing file the user is asked before it
  // is replaced. The selected type JPEG asks the quality; then the current
  // layer is written with an embedded thumbnail. ImageModified is cleared
  // afterwards, also when the dialog was cancelled; a write that fails
  // shows the writer's message and leaves ImageModified set. True when a
  // file was written.
  bool SaveAs();
  // "Export to..." BMP, JPEG, PNG, GIF, TIFF: the type chosen in advance
  // (kBmpType, ...), then SaveAs. False without a dialog when that type is
  // not offered.
  bool Export(int saveIndex);

  // The default extension: a name without one, or with one Velmora does not
  // write ("holiday.2024"), gets the extension of the last file name when
  // that extension belongs to the selected type, otherwise the selected
  // type's first extension. So a user who saved "a.jpeg" keeps getting
  // ".jpeg" for JPEG, while switching to PNG gives ".png".
  static std::string CompleteFileName(const std::string& name, const std::string& lastFileName,
                                      const FormatInfo& selected);

  // The dialog "Save As...": its type list is built again each time it
  // opens; it starts on JPEG and keeps the type and the last file name.
  SaveDialog Sava;

 private:
  Document* doc_;
  int quality_ = kDefaultQuality;
};

// Asks before `completed` replaces an existing file that the file dialog
// did not ask about, because the dialog returned another name (`chosen`)
// that was completed afterwards. True when the write may go ahead.
bool MayReplace(UserInterface& ui, const std::string& chosen, const std::string& completed);

}  // namespace velmora
