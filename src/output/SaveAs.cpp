#include "output/SaveAs.h"

#include <sys/stat.h>

#include <algorithm>

#include "document/files/ImageFile.h"

namespace velmora {

namespace {

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool MayReplace(UserInterface& ui, const std::string& chosen, const std::string& completed) {
  if (completed == chosen || !Exists(completed)) return true;
  // The wording of the file dialog's own question.
  return ui.AskYesNoCancel(BaseName(completed) + " already exists.\nDo you want to replace it?") == Answer::Yes;
}

std::string SaveDialog::Execute(UserInterface& ui) {
  int index = filterIndex;
  const std::string path = ui.GetSaveFileName(title, filters, index, fileName);
  // The dialog keeps the type it closed with, whatever the answer.
  if (index >= 0 && index < static_cast<int>(filters.size())) filterIndex = index;
  return path;
}

std::vector<const FormatInfo*> SaveCommands::Types() { return SaveFormats(); }

SaveCommands::SaveCommands(Document& doc) : doc_(&doc) {
  Sava.title = kTitle;
  Sava.filters = Filters();
  SelectType(kJpegType);
}

std::vector<FileFilter> SaveCommands::Filters() {
  std::vector<FileFilter> list;
  for (const FormatInfo* f : Types()) {
    FileFilter entry;
    std::string joined;
    for (const std::string& ext : f->extensions) {
      entry.patterns.push_back("*." + ext);
      joined += (joined.empty() ? "" : ";") + entry.patterns.back();
    }
    entry.caption = f->saveName + " (" + joined + ")";
    list.push_back(std::move(entry));
  }
  return list;
}

bool SaveCommands::SelectType(int saveIndex) {
  const std::vector<const FormatInfo*> types = Types();
  for (std::size_t i = 0; i < types.size(); ++i)
    if (types[i]->saveIndex == saveIndex) {
      Sava.filterIndex = static_cast<int>(i);
      return true;
    }
  return false;
}

int SaveCommands::SelectedType() const {
  const std::vector<const FormatInfo*> types = Types();
  return Sava.filterIndex >= 0 && Sava.filterIndex < static_cast<int>(types.size())
             ? types[Sava.filterIndex]->saveIndex
             : 0;
}

std::string SaveCommands::CompleteFileName(const std::string& name, const std::string& lastFileName,
                                           const FormatInfo& selected) {
  if (IsWritableExtension(LowerExtension(name)) || selected.extensions.empty()) return name;
  const std::string last = LowerExtension(lastFileName);
  const auto& exts = selected.extensions;
  const std::string ext = std::find(exts.begin(), exts.end(), last) != exts.end() ? last : exts.front();
  // "photo." takes the extension after its own dot.
  return name + (!name.empty() && name.back() == '.' ? "" : ".") + ext;
}

bool SaveCommands::SaveAs() {
  Document& doc = *doc_;
  UserInterface& ui = doc.UI();
  const std::vector<const FormatInfo*> types = Types();
  Sava.filters = Filters();
  const std::string chosen = Sava.Execute(ui);

  bool written = false;
  if (!chosen.empty() && Sava.filterIndex >= 0 && Sava.filterIndex < static_cast<int>(types.size())) {
    const FormatInfo& type = *types[Sava.filterIndex];
    const std::string path = CompleteFileName(chosen, Sava.fileName, type);
    if (MayReplace(ui, chosen, path)) {
      CanvasIO& io = doc.Imaga().IO();
      io.Params.embedThumbnail = true;
      io.Params.jpegQuality = quality_;
      if (type.saveIndex == kJpegType) {
        quality_ = std::clamp(ui.AskJpegQuality(quality_), kMinQuality, kMaxQuality);
        io.Params.jpegQuality = quality_;
      }
      // The current layer as it is: a decoration preview is never merged.
      const IOResult r = io.SaveToFile(path);
      if (!r) {
        // Nothing was saved: the close question must still ask.
        ui.ShowMessage(r.message, MessageKind::Error);
        return false;
      }
      Sava.fileName = path;
      written = true;
    }
  }
  doc.SetImageModified(false);
  return written;
}

bool SaveCommands::Export(int saveIndex) {
  if (!SelectType(saveIndex)) return false;
  return SaveAs();
}

}  // namespace velmora
