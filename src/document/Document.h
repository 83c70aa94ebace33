// The document: the canvas Imaga whose layer 0 holds the photo, the last
// kept state of that layer (CommittedImage), one level of undo and redo,
// the flags the main window shares with every page, the mode the side
// panel is in and the guidance line. Headless: the window and the pages
// reflect this state and call its routines; whatever has to ask the user
// goes through the UserInterface it was given.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "document/RecentList.h"
#include "document/UserInterface.h"
#include "document/canvas/LayerCanvas.h"
#include "imaging/IEBitmap.h"

namespace velmora {

// The modes of the side panel, in the selector's order; the index is also
// the page index.
enum Mode : int {
  mdOpenPhoto = 0,
  mdEdit = 1,
  mdFilters = 2,
  mdGreetingCards = 3,
  mdPictureFrames = 4,
  mdFrameGenerator = 5,
  mdAccent = 6,
  mdCollages = 7,
  mdMasks = 8,
  mdBorders = 9,
  mdClipArt = 10,
  mdCaptions = 11,
};
constexpr int kModeCount = 12;

// The selector's item text of a mode ("Open Photo", "Edit", ...); empty
// for an index out of range.
std::string ModeCaption(int mode);
// The guidance text the mode handler writes for a mode.
std::string ModeGuidance(int mode);

// The state of a menu item the document drives ("Undo", "Redo").
struct MenuItemState {
  bool enabled = false;
  std::string caption;
};

class Document {
 public:
  static constexpr const char* kStartGuidance =
      "Open new photo or choose recent file. In order to scale the image use mouse wheel";
  static constexpr const char* kOpenedGuidance = "Now you may edit and decorate your photo";
  static constexpr const char* kSaveQuestion = "Do you want to save changes?";
  static constexpr const char* kOpenDialogTitle = "Open Photo Dialog";

  // Makes the canvas empty (1 x 1) and the three buffers empty; the mode is
  // "Open Photo", nothing is modified, Undo and Redo are disabled.
  explicit Document(UserInterface& ui);
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  UserInterface& UI() { return *ui_; }

  // --- Canvas and buffers ----------------------------------------------------
  // The document listens to the canvas's OnImageChange (ImageModified);
  // the window hooks Document::OnImageChange instead of replacing it.
  LayerCanvas& Imaga() { return imaga_; }
  const LayerCanvas& Imaga() const { return imaga_; }
  IEBitmap& Layer0() { return imaga_.Layer(0)->Bitmap; }
  const IEBitmap& Layer0() const { return imaga_.Layer(0)->Bitmap; }
  // Always valid pictures, 0 x 0 before their first use. They never share
  // pixels with a layer: every copy is a full one.
  IEBitmap& CommittedImage() { return committed_; }
  IEBitmap& UndoImage() { return undo_; }
  IEBitmap& RedoImage() { return redo_; }
  const IEBitmap& CommittedImage() const { return committed_; }
  const IEBitmap& UndoImage() const { return undo_; }
  const IEBitmap& RedoImage() const { return redo_; }

  // The "Image" menu's items are enabled only while the current image is
  // wider than 2 pixels (so not before a photo is opened).
  bool ImageMenuEnabled() const { return imaga_.CurrentBitmap().Width() > 2; }

  // --- Flags -----------------------------------------------------------------
  // Set by every image change of the canvas (a file read into it, any
  // operation run through its Proc); cleared by opening and by saving.
  bool ImageModified() const { return imageModified_; }
  void SetImageModified(bool v) { imageModified_ = v; }
  bool PreviewSnapshotTaken() const { return previewSnapshotTaken_; }
  void SetPreviewSnapshotTaken(bool v) { previewSnapshotTaken_ = v; }
  // The file the photo was last opened from (either way); read again by
  // Return To Original. Empty until a photo is opened.
  const std::string& DocumentPath() const { return documentPath_; }

  // --- History: the "Undo" and "Redo" items -----------------------------------
  const MenuItemState& UndoItem() const { return undoItem_; }
  const MenuItemState& RedoItem() const { return redoItem_; }
  // Enables "Undo" with the caption "Undo " + name ("Edit", "Resize", ...).
  void EnableUndo(const std::string& name);
  void DisableHistory();  // both items disabled, captions kept

  // Layer 0 into UndoImage; "Redo" disabled.
  void SaveUndo();
  // Layer 0 into CommittedImage.
  void Commit();
  // CommittedImage into layer 0, repainted.
  void Restore();
  // Layer 0 into RedoImage, preview layers dropped, UndoImage back into
  // layer 0 and CommittedImage; only "Redo" is enabled afterwards, its
  // caption "Redo" + the Undo caption without its first word. Nothing
  // happens while "Undo" is disabled.
  void Undo();
  // The mirror image of Undo.
  void Redo();
  // Reads the photo's file again into layer 0 (the zoom stays) and commits
  // it; undoable as "Undo Return To Original". With no photo opened
  // nothing happens; a file that cannot be read any more shows the
  // reader's message and changes nothing.
  void ReturnToOriginal();

  // --- The preview protocol the tool pages share ------------------------------
  // Preview of a tool working on layer 0: start again from CommittedImage,
  // then run `chain` on layer 0. Previews never stack.
  void PreviewOnLayer0(const std::function<void(LayerCanvas&)>& chain);
  // First preview of a greeting card or picture frame: commits layer 0 once
  // and sets PreviewSnapshotTaken. The page then builds its layers from
  // CommittedImage.
  void TakePreviewSnapshot();
  // Cancel of a tool working on layer 0 (Effects, frame generator, accent).
  void CancelOnLayer0() { Restore(); }
  // Cancel of a page that may hold layers: the layers are dropped, the
  // mouse does nothing, CommittedImage is back in layer 0.
  void CancelLayered();
  // Apply that commits at once (Edit tab, Image menu, Effects tab):
  // "Undo <name>", SaveUndo while layer 0 holds the committed state
  // (`restoreFirst`: put it there first), run `chain`, commit.
  void ApplyAndCommit(const std::string& name, const std::function<void(LayerCanvas&)>& chain,
                      bool restoreFirst = false);
  // OK of the frame generator, accent, masks, borders and captions pages:
  // restore (unless `restoreFirst` is false, as for captions), "Undo
  // <name>", SaveUndo, run `chain`, no commit: pressing OK again starts
  // again from CommittedImage, Cancel takes the result away, and the next
  // mode change keeps it.
  void ApplyWithoutCommit(const std::string& name, const std::function<void(LayerCanvas&)>& chain,
                          bool restoreFirst = true);
  // Apply of greeting cards, frames, collages and clip art: CommittedImage
  // (not the preview in layer 0) becomes the undo copy without touching
  // "Redo", the layers are merged into layer 0, which is then locked and
  // shows no box. CommittedImage is not refreshed. False, and nothing
  // changed, when the merged picture would be too large.
  bool ApplyDecoration(const std::string& name);

  // --- Modes and guidance ------------------------------------------------------
  int Mode() const { return mode_; }
  // Puts the selector on `mode` and runs the mode handler.
  void SetMode(int mode);
  // The mode handler, for the present mode: runs on every change of the
  // selector and every time the main window becomes active again.
  void ModaChange();
  // Status panel 0.
  const std::string& Guidance() const { return guidance_; }
  void SetGuidance(const std::string& text);

  // 100 % when the photo fits the viewport (a photo is never enlarged),
  // otherwise one percent below the optimal zoom. Nothing happens before
  // the canvas has a viewport.
  void FitToWindow();

  // --- Opening and the recent list ---------------------------------------------
  RecentList& Recent() { return recent_; }
  const RecentList& Recent() const { return recent_; }
  void AddToRecent(const std::string& path) { recent_.AddToRecent(path); }
  // The open dialog's type list: "Common Graphic Files", "All Files (*.*)",
  // then one entry per readable format.
  static std::vector<FileFilter> OpenDialogFilters();
  // "Open New Photo": asks for a file and opens it as OpenFile does.
  // False when the dialog was cancelled or the file could not be read.
  bool OpenNewPhoto();
  // Opens `path` as a file chosen in the open dialog (it joins the recent
  // list). A file that cannot be read shows the reader's message and
  // leaves the image, CommittedImage and the document path as they were.
  bool OpenFile(const std::string& path);
  // Opens a photo of the recent grid; the list is not changed. An empty
  // path (no thumbnail selected) does nothing.
  bool OpenSelectedFile(const std::string& path);

  // --- Closing -------------------------------------------------------------------
  // The close question: true when the window may close. Asks "Do you want
  // to save changes?" only when the image was modified; Yes runs
  // OnSaveAs and closes whatever became of it, Cancel keeps the window.
  bool CloseQuery();

  // --- What the window and the pages hook in -------------------------------------
  // Steps 1 and 2 of the mode handler: disable the Captions page's OK and
  // Cancel, show page N (and put the selector on it without running the
  // handler again).
  std::function<void(int mode)> OnShowPage;
  // The further setup of a mode (refill the recent grid, reset the Edit
  // sliders and refresh its preview, show the card panel, ...).
  std::function<void(int mode)> OnModeSetup;
  std::function<void()> OnFocusCanvas;
  // The Edit tab's preview is to be drawn again from layer 0.
  std::function<void()> OnRefreshEditPreview;
  // "Undo" or "Redo" changed (enabled state or caption).
  std::function<void()> OnHistoryChange;
  std::function<void(const std::string&)> OnGuidanceChange;
  // The canvas image changed (after ImageModified was set): status panels.
  std::function<void()> OnImageChange;
  // "Save As..." (the output pages own it).
  std::function<void()> OnSaveAs;

 private:
  bool OpenPath(const std::string& path, bool fromDialog);
  void DropLayers();
  void HistoryChanged();
  void RefreshEditPreviewInEditMode();

  UserInterface* ui_;
  LayerCanvas imaga_;
  IEBitmap committed_, undo_, redo_;
  bool imageModified_ = false;
  bool previewSnapshotTaken_ = false;
  std::string documentPath_;
  MenuItemState undoItem_{false, "Undo"};
  MenuItemState redoItem_{false, "Redo"};
  int mode_ = mdOpenPhoto;
  std::string guidance_ = kStartGuidance;
  RecentList recent_;
};

}  // namespace velmora
