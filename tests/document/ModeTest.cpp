// The mode handler: it settles the document (unapplied layers dropped,
// layer 0 committed) and writes the guidance of the mode it lands on.
#include <vector>

#include "document/DocumentFixture.h"

namespace velmora::test {
namespace {

using ModeTest = DocumentTest;

struct ModeCase {
  int mode;
  const char* caption;
  const char* guidance;
};

TEST_F(ModeTest, EachModeShowsItsPageAndGuidance) {
  const ModeCase cases[] = {
      {mdOpenPhoto, "Open Photo", "You may open new photo or choose recent files"},
      {mdEdit, "Edit", "Edit photo"},
      {mdFilters, "Filters",
       "To view single filter press Preview. If you want to combine it with another filters press Apply"},
      {mdGreetingCards, "Greeting Cards", "Choose a template and press Preview"},
      {mdPictureFrames, "Picture Frames", "Choose a frame and press Preview"},
      {mdFrameGenerator, "Frame Generator", "Choose a frame and press OK. To remove it press Cancel"},
      {mdAccent, "Accent", "You may change settings and press OK"},
      {mdCollages, "Collages", "Choose a template and press Preview. To remove it press Cancel."},
      {mdMasks, "Masks", "Choose a template and press Preview. To remove it press Cancel."},
      {mdBorders, "Borders", "You may change settings and press OK"},
      {mdClipArt, "Clip Art", "Choose a clip and press Add"},
      {mdCaptions, "Captions", "Press Add New Caption"},
  };
  OpenPhoto();
  std::vector<std::string> calls;
  doc_->OnShowPage = [&](int m) { calls.push_back("page " + std::to_string(m)); };
  doc_->OnModeSetup = [&](int m) { calls.push_back("setup " + std::to_string(m)); };
  doc_->OnFocusCanvas = [&] { calls.push_back("focus"); };
  for (const ModeCase& c : cases) {
    SCOPED_TRACE(c.caption);
    calls.clear();
    doc_->SetGuidance("something else");
    doc_->SetMode(c.mode);
    EXPECT_EQ(ModeCaption(c.mode), c.caption);
    EXPECT_EQ(doc_->Guidance(), c.guidance);
    const std::vector<std::string> expected{"page " + std::to_string(c.mode), "setup " + std::to_string(c.mode),
                                            "focus"};
    EXPECT_EQ(calls, expected);
  }
}

TEST_F(ModeTest, OpenPhotoBeforeAnyPhotoKeepsTheStartText) {
  EXPECT_EQ(doc_->Guidance(), Document::kStartGuidance);
  doc_->ModaChange();
  EXPECT_EQ(doc_->Guidance(), Document::kStartGuidance);
  // A picture of five pixels' width is not a photo for this purpose.
  doc_->Layer0() = Photo(5, 40, 1);
  doc_->ModaChange();
  EXPECT_EQ(doc_->Guidance(), Document::kStartGuidance);
  doc_->Layer0() = Photo(6, 1, 1);
  doc_->ModaChange();
  EXPECT_EQ(doc_->Guidance(), ModeGuidance(mdOpenPhoto));
}

TEST_F(ModeTest, LeavingALayeredPreviewDropsItAndShowsTheCommittedPhoto) {
  const IEBitmap photo = OpenPhoto();
  doc_->SetMode(mdGreetingCards);
  doc_->TakePreviewSnapshot();
  Brighten(doc_->Layer0(), 50);
  AddPreviewLayer();
  AddPreviewLayer(8);

  doc_->SetMode(mdEdit);
  EXPECT_EQ(doc_->Imaga().LayerCount(), 1);
  EXPECT_EQ(doc_->Imaga().MouseInteract(), 0u);
  EXPECT_TRUE(SamePixels(doc_->Layer0(), photo));
  EXPECT_TRUE(SamePixels(doc_->CommittedImage(), photo));
}

TEST_F(ModeTest, WithOneLayerWhateverLayer0ShowsIsCommitted) {
  OpenPhoto();
  doc_->SetMode(mdAccent);
  Brighten(doc_->Layer0(), 12);
  const IEBitmap shown = doc_->Layer0();
  doc_->ModaChange();
  EXPECT_TRUE(SamePixels(doc_->CommittedImage(), shown));
  EXPECT_EQ(doc_->Mode(), mdAccent);
}

TEST_F(ModeTest, ClosingAMessageBoxReRunsTheModeAndDropsALayeredPreview) {
  const IEBitmap photo = OpenPhoto();
  ui_.afterModal = [this] { doc_->ModaChange(); };
  doc_->SetMode(mdCollages);
  AddPreviewLayer();
  ui_.ShowMessage("Now you may save or print the image", MessageKind::Information);
  EXPECT_EQ(doc_->Imaga().LayerCount(), 1);
  EXPECT_TRUE(SamePixels(doc_->Layer0(), photo));
}

TEST_F(ModeTest, HistoryRefreshesTheEditPreviewOnlyInEditMode) {
  OpenPhoto();
  int refreshes = 0;
  doc_->OnRefreshEditPreview = [&] { ++refreshes; };
  doc_->ApplyAndCommit("Edit", Step(1));
  doc_->Undo();
  doc_->Redo();
  EXPECT_EQ(refreshes, 2);
  doc_->SetMode(mdFilters);
  doc_->Undo();
  doc_->ReturnToOriginal();
  EXPECT_EQ(refreshes, 2);
}

}  // namespace
}  // namespace velmora::test
