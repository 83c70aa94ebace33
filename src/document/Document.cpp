#include "document/Document.h"

#include <array>
#include <utility>

#include "document/files/FormatTable.h"

namespace velmora {

namespace {

struct ModeInfo {
  const char* caption;
  const char* guidance;
};

constexpr std::array<ModeInfo, kModeCount> kModes{{
    {"Open Photo", "You may open new photo or choose recent files"},
    {"Edit", "Edit photo"},
    {"Filters", "To view single filter press Preview. If you want to combine it with another filters press Apply"},
    {"Greeting Cards", "Choose a template and press Preview"},
    {"Picture Frames", "Choose a frame and press Preview"},
    {"Frame Generator", "Choose a frame and press OK. To remove it press Cancel"},
    {"Accent", "You may change settings and press OK"},
    {"Collages", "Choose a template and press Preview. To remove it press Cancel."},
    {"Masks", "Choose a template and press Preview. To remove it press Cancel."},
    {"Borders", "You may change settings and press OK"},
    {"Clip Art", "Choose a clip and press Add"},
    {"Captions", "Press Add New Caption"},
}};

// The order in which the mode handler looks for the present mode.
constexpr std::array<int, kModeCount> kModeCheckOrder{10, 11, 5, 7, 8, 6, 0, 4, 9, 3, 1, 2};

// "Undo Resize" -> "Redo Resize": the first word replaced, the space kept.
std::string SwapFirstWord(const std::string& caption, const std::string& word) {
  const auto space = caption.find(' ');
  return space == std::string::npos ? word : word + caption.substr(space);
}

std::string JoinPatterns(const std::vector<std::string>& patterns) {
  std::string out;
  for (const auto& p : patterns) {
    if (!out.empty()) out += ';';
    out += p;
  }
  return out;
}

}  // namespace

std::string ModeCaption(int mode) { return mode >= 0 && mode < kModeCount ? kModes[mode].caption : ""; }

std::string ModeGuidance(int mode) { return mode >= 0 && mode < kModeCount ? kModes[mode].guidance : ""; }

Document::Document(UserInterface& ui) : ui_(&ui) {
  imaga_.OnImageChange = [this] {
    imageModified_ = true;
    if (OnImageChange) OnImageChange();
  };
  imaga_.SetSelectionBase(SelectionBaseKind::iesbBitmap);
  // The document keeps its own undo copy (UndoImage); the processor's
  // copy of the photo before each operation would never be read, and on a
  // large photo it costs a full copy of the layer every time.
  imaga_.Proc().AutoUndo = false;
  imaga_.Blank();
}

// ---------------------------------------------------------------------------
// History

void Document::HistoryChanged() {
  if (OnHistoryChange) OnHistoryChange();
}

void Document::EnableUndo(const std::string& name) {
  undoItem_.enabled = true;
  undoItem_.caption = "Undo " + name;
  HistoryChanged();
}

void Document::DisableHistory() {
  undoItem_.enabled = false;
  redoItem_.enabled = false;
  HistoryChanged();
}

void Document::SaveUndo() {
  undo_ = Layer0();
  redoItem_.enabled = false;
  HistoryChanged();
}

void Document::Commit() { committed_ = Layer0(); }

void Document::Restore() {
  Layer0() = committed_;
  imaga_.Repaint();
}

void Document::DropLayers() {
  imaga_.ClearCurrentLayer();
  imaga_.RemoveExtraLayers();
}

void Document::RefreshEditPreviewInEditMode() {
  if (mode_ == mdEdit && OnRefreshEditPreview) OnRefreshEditPreview();
}

void Document::Undo() {
  if (!undoItem_.enabled) return;
  redo_ = Layer0();
  DropLayers();
  Layer0() = undo_;
  committed_ = undo_;
  imaga_.Repaint();
  undoItem_.enabled = false;
  redoItem_.enabled = true;
  redoItem_.caption = SwapFirstWord(undoItem_.caption, "Redo");
  HistoryChanged();
  RefreshEditPreviewInEditMode();
}

void Document::Redo() {
  if (!redoItem_.enabled) return;
  undo_ = Layer0();
  DropLayers();
  Layer0() = redo_;
  committed_ = redo_;
  imaga_.Repaint();
  redoItem_.enabled = false;
  undoItem_.enabled = true;
  undoItem_.caption = SwapFirstWord(redoItem_.caption, "Undo");
  HistoryChanged();
  RefreshEditPreviewInEditMode();
}

void Document::ReturnToOriginal() {
  // Before any photo is opened there is no original to return to.
  if (documentPath_.empty()) return;
  // Read first: a file removed or damaged since it was opened must not
  // leave a cleared canvas and an undo entry for a change that never came.
  OffscreenCanvas reader;
  const IOResult r = reader.IO().LoadFromFile(documentPath_);
  if (!r) {
    ui_->ShowMessage(r.message, MessageKind::Error);
    return;
  }
  EnableUndo("Return To Original");
  SaveUndo();
  DropLayers();
  imaga_.SetMouseInteract(0);
  Layer0() = std::move(reader.CurrentBitmap());
  imaga_.Repaint();
  imaga_.ImageChanged();
  Commit();
  RefreshEditPreviewInEditMode();
}

// ---------------------------------------------------------------------------
// Preview protocol

void Document::PreviewOnLayer0(const std::function<void(LayerCanvas&)>& chain) {
  Restore();
  if (chain) chain(imaga_);
}

void Document::TakePreviewSnapshot() {
  if (previewSnapshotTaken_) return;
  Commit();
  previewSnapshotTaken_ = true;
}

void Document::CancelLayered() {
  DropLayers();
  imaga_.SetMouseInteract(0);
  Restore();
}

void Document::ApplyAndCommit(const std::string& name, const std::function<void(LayerCanvas&)>& chain,
                              bool restoreFirst) {
  if (restoreFirst) Restore();
  EnableUndo(name);
  SaveUndo();
  if (chain) chain(imaga_);
  Commit();
}

void Document::ApplyWithoutCommit(const std::string& name, const std::function<void(LayerCanvas&)>& chain,
                                  bool restoreFirst) {
  if (restoreFirst) Restore();
  EnableUndo(name);
  SaveUndo();
  if (chain) chain(imaga_);
}

bool Document::ApplyDecoration(const std::string& name) {
  // The merge is the only step that can fail; doing it first keeps the
  // history untouched when it does. The undo copy does not depend on it.
  if (!imaga_.MergeAllLayers()) return false;
  EnableUndo(name);
  undo_ = committed_;
  IELayer& base = *imaga_.Layer(0);
  base.ShowBox = false;
  base.Selectable = false;
  base.Locked = true;
  previewSnapshotTaken_ = true;
  imaga_.Repaint();
  return true;
}

// ---------------------------------------------------------------------------
// Modes

void Document::SetGuidance(const std::string& text) {
  guidance_ = text;
  if (OnGuidanceChange) OnGuidanceChange(guidance_);
}

void Document::SetMode(int mode) {
  mode_ = mode;
  ModaChange();
}

void Document::ModaChange() {
  if (OnShowPage) OnShowPage(mode_);
  // Preview layers nobody applied are thrown away; layer 0 goes back to
  // the committed state under them.
  if (imaga_.LayerCount() > 1) {
    DropLayers();
    Layer0() = committed_;
    imaga_.SetMouseInteract(0);
    imaga_.Repaint();
  }
  // Whatever layer 0 shows now is kept: results of OK and Apply that were
  // not committed yet become the new starting point of every preview.
  Commit();
  for (int m : kModeCheckOrder) {
    if (m != mode_) continue;
    // Before a photo is opened the start-up text stays.
    if (m != mdOpenPhoto || imaga_.CurrentBitmap().Width() > 5) SetGuidance(kModes[m].guidance);
    if (OnModeSetup) OnModeSetup(m);
    break;
  }
  if (OnFocusCanvas) OnFocusCanvas();
}

void Document::FitToWindow() {
  const int w = Layer0().Width(), h = Layer0().Height();
  if (imaga_.ViewportWidth() <= 0 || imaga_.ViewportHeight() <= 0) return;
  if (imaga_.ViewportWidth() >= w && imaga_.ViewportHeight() >= h)
    imaga_.SetZoom(100);
  else
    imaga_.SetZoom(imaga_.OptimalZoom() - 1);
}

// ---------------------------------------------------------------------------
// Opening

std::vector<FileFilter> Document::OpenDialogFilters() {
  std::vector<FileFilter> perFormat;
  FileFilter common{"", {}};
  for (const FormatInfo& f : Formats()) {
    if (!f.decode) continue;
    FileFilter entry;
    for (const auto& ext : f.extensions) entry.patterns.push_back("*." + ext);
    entry.caption = f.name + " (" + JoinPatterns(entry.patterns) + ")";
    common.patterns.insert(common.patterns.end(), entry.patterns.begin(), entry.patterns.end());
    perFormat.push_back(std::move(entry));
  }
  common.caption = "Common Graphic Files (" + JoinPatterns(common.patterns) + ")";
  std::vector<FileFilter> out;
  out.push_back(std::move(common));
  out.push_back({"All Files (*.*)", {"*.*"}});
  out.insert(out.end(), perFormat.begin(), perFormat.end());
  return out;
}

bool Document::OpenNewPhoto() {
  const std::string path = ui_->GetOpenFileName(kOpenDialogTitle, OpenDialogFilters(), 0);
  if (path.empty()) return false;
  return OpenFile(path);
}

bool Document::OpenFile(const std::string& path) { return OpenPath(path, true); }

bool Document::OpenSelectedFile(const std::string& path) { return OpenPath(path, false); }

bool Document::OpenPath(const std::string& path, bool fromDialog) {
  if (path.empty()) return false;
  // The file is read before the canvas is touched, so a file that cannot
  // be read leaves the photo, its layers and the history as they were.
  OffscreenCanvas reader;
  const IOResult r = reader.IO().LoadFromFile(path);
  if (!r) {
    ui_->ShowMessage(r.message, MessageKind::Error);
    return false;
  }
  DropLayers();
  Layer0() = std::move(reader.CurrentBitmap());
  imaga_.Repaint();
  imaga_.ImageChanged();
  documentPath_ = path;
  Commit();
  if (fromDialog) AddToRecent(path);
  imaga_.Layer(0)->ShowBox = false;
  FitToWindow();
  DisableHistory();
  SetGuidance(kOpenedGuidance);
  previewSnapshotTaken_ = false;
  imageModified_ = false;
  SetMode(mdEdit);
  return true;
}

// ---------------------------------------------------------------------------
// Closing

bool Document::CloseQuery() {
  if (!imageModified_) return true;
  switch (ui_->AskYesNoCancel(kSaveQuestion)) {
    case Answer::Cancel:
      return false;
    case Answer::Yes:
      if (OnSaveAs) OnSaveAs();
      return true;
    case Answer::No:
      return true;
  }
  return false;
}

}  // namespace velmora
