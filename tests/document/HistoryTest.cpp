// Committed image, single-level undo and redo, Return To Original and the
// preview protocol the tool pages share.
#include <filesystem>

#include "document/DocumentFixture.h"

namespace velmora::test {
namespace {

using HistoryTest = DocumentTest;

TEST_F(HistoryTest, UndoAndRedoExchangeTwoStatesAndCarryTheChangesName) {
  const IEBitmap photo = OpenPhoto();
  EXPECT_FALSE(doc_->UndoItem().enabled);
  EXPECT_FALSE(doc_->RedoItem().enabled);

  doc_->ApplyAndCommit("Grayscale", [](LayerCanvas& c) { c.Proc().ConvertToGray(); });
  IEBitmap grey = doc_->Layer0();
  EXPECT_EQ(doc_->UndoItem().caption, "Undo Grayscale");
  EXPECT_TRUE(doc_->UndoItem().enabled);
  EXPECT_FALSE(doc_->RedoItem().enabled);
  EXPECT_TRUE(SamePixels(doc_->CommittedImage(), grey));
  EXPECT_TRUE(SamePixels(doc_->UndoImage(), photo));
  // UndoImage is the only copy kept: the processor keeps none of its own.
  EXPECT_TRUE(doc_->Imaga().Proc().UndoList().empty());

  doc_->Undo();
  EXPECT_TRUE(SamePixels(doc_->Layer0(), photo));
  EXPECT_TRUE(SamePixels(doc_->CommittedImage(), photo));
  EXPECT_FALSE(doc_->UndoItem().enabled);
  EXPECT_TRUE(doc_->RedoItem().enabled);
  EXPECT_EQ(doc_->RedoItem().caption, "Redo Grayscale");

  // Only Redo is reachable now: a second Undo must not touch anything.
  doc_->Undo();
  EXPECT_TRUE(SamePixels(doc_->Layer0(), photo));

  doc_->Redo();
  EXPECT_TRUE(SamePixels(doc_->Layer0(), grey));
  EXPECT_TRUE(SamePixels(doc_->CommittedImage(), grey));
  EXPECT_TRUE(doc_->UndoItem().enabled);
  EXPECT_FALSE(doc_->RedoItem().enabled);
  EXPECT_EQ(doc_->UndoItem().caption, "Undo Grayscale");

  // A new change after an Undo takes Redo away; its caption stays.
  doc_->Undo();
  doc_->ApplyAndCommit("Edit", Step(3));
  EXPECT_EQ(doc_->UndoItem().caption, "Undo Edit");
  EXPECT_FALSE(doc_->RedoItem().enabled);
  EXPECT_EQ(doc_->RedoItem().caption, "Redo Grayscale");
}

TEST_F(HistoryTest, UndoDropsPreviewLayersAndKeepsLayer0AsRedo) {
  const IEBitmap photo = OpenPhoto();
  doc_->ApplyAndCommit("Filter", Step(5));
  const IEBitmap filtered = doc_->Layer0();
  AddPreviewLayer();
  doc_->Undo();
  EXPECT_EQ(doc_->Imaga().LayerCount(), 1);
  EXPECT_EQ(doc_->Imaga().CurrentLayerIndex(), 0);
  EXPECT_TRUE(SamePixels(doc_->Layer0(), photo));
  // Layer 0 itself, not the preview layer that happened to be current.
  EXPECT_TRUE(SamePixels(doc_->RedoImage(), filtered));
}

TEST_F(HistoryTest, CaptionsWithoutANameSwapOnlyTheWord) {
  OpenPhoto();
  doc_->ApplyAndCommit("Return To Original", Step(1));
  doc_->Undo();
  EXPECT_EQ(doc_->RedoItem().caption, "Redo Return To Original");
  doc_->Redo();
  EXPECT_EQ(doc_->UndoItem().caption, "Undo Return To Original");
}

TEST_F(HistoryTest, ReturnToOriginalReadsTheFileAgainAndIsUndoable) {
  const IEBitmap photo = OpenPhoto();
  doc_->Imaga().SetZoom(250);
  doc_->ApplyAndCommit("Edit", Step(9));
  const IEBitmap edited = doc_->Layer0();
  AddPreviewLayer();

  doc_->ReturnToOriginal();
  EXPECT_EQ(doc_->Imaga().LayerCount(), 1);
  EXPECT_EQ(doc_->Imaga().MouseInteract(), 0u);
  EXPECT_TRUE(SamePixels(doc_->Layer0(), photo));
  EXPECT_TRUE(SamePixels(doc_->CommittedImage(), photo));
  EXPECT_EQ(doc_->Imaga().Zoom(), 250);
  EXPECT_EQ(doc_->UndoItem().caption, "Undo Return To Original");
  EXPECT_TRUE(doc_->UndoItem().enabled);
  EXPECT_FALSE(doc_->RedoItem().enabled);

  doc_->Undo();
  EXPECT_TRUE(SamePixels(doc_->Layer0(), edited));
  EXPECT_EQ(doc_->RedoItem().caption, "Redo Return To Original");
}

TEST_F(HistoryTest, ReturnToOriginalWithoutAReadableFileChangesNothing) {
  // Before any photo: nothing to return to, nothing to say.
  doc_->ReturnToOriginal();
  EXPECT_FALSE(doc_->UndoItem().enabled);
  EXPECT_TRUE(ui_.shown.empty());

  OpenPhoto();
  doc_->ApplyAndCommit("Edit", Step(9));
  const IEBitmap edited = doc_->Layer0();
  const IEBitmap undo = doc_->UndoImage();
  std::filesystem::remove(doc_->DocumentPath());

  doc_->ReturnToOriginal();
  ASSERT_EQ(ui_.Messages().size(), 1u);
  EXPECT_NE(ui_.Messages()[0].find(doc_->DocumentPath()), std::string::npos) << ui_.Messages()[0];
  EXPECT_EQ(ui_.kinds.back(), MessageKind::Error);
  EXPECT_TRUE(SamePixels(doc_->Layer0(), edited));
  EXPECT_TRUE(SamePixels(doc_->CommittedImage(), edited));
  EXPECT_TRUE(SamePixels(doc_->UndoImage(), undo));
  EXPECT_EQ(doc_->UndoItem().caption, "Undo Edit");
}

TEST_F(HistoryTest, RepeatedPreviewsStartFromTheCommittedImage) {
  const IEBitmap photo = OpenPhoto();
  doc_->PreviewOnLayer0(Step(10));
  doc_->PreviewOnLayer0(Step(10));
  EXPECT_TRUE(SamePixels(doc_->Layer0(), Brightened(photo, 10)));

  // The Effects tab's Apply restores first: the effect is kept once.
  doc_->ApplyAndCommit("Filter", Step(10), /*restoreFirst=*/true);
  EXPECT_TRUE(SamePixels(doc_->Layer0(), Brightened(photo, 10)));
  EXPECT_TRUE(SamePixels(doc_->CommittedImage(), Brightened(photo, 10)));
  EXPECT_TRUE(SamePixels(doc_->UndoImage(), photo));

  doc_->PreviewOnLayer0(Step(1));
  doc_->CancelOnLayer0();
  EXPECT_TRUE(SamePixels(doc_->Layer0(), Brightened(photo, 10)));
}

TEST_F(HistoryTest, CancelOfALayeredPageDropsTheLayersAndRestores) {
  const IEBitmap photo = OpenPhoto();
  doc_->TakePreviewSnapshot();
  Brighten(doc_->Layer0(), 4);  // what a preview may leave in layer 0
  AddPreviewLayer();
  doc_->CancelLayered();
  EXPECT_EQ(doc_->Imaga().LayerCount(), 1);
  EXPECT_EQ(doc_->Imaga().MouseInteract(), 0u);
  EXPECT_TRUE(SamePixels(doc_->Layer0(), photo));
}

TEST_F(HistoryTest, OkWithoutCommitIsReplacedByTheNextOkAndKeptByTheModeHandler) {
  const IEBitmap photo = OpenPhoto();
  doc_->SetMode(mdFrameGenerator);
  doc_->ApplyWithoutCommit("Framing", Step(20));
  doc_->ApplyWithoutCommit("Framing", Step(30));
  EXPECT_TRUE(SamePixels(doc_->Layer0(), Brightened(photo, 30)));
  EXPECT_TRUE(SamePixels(doc_->UndoImage(), photo));
  EXPECT_EQ(doc_->UndoItem().caption, "Undo Framing");

  // Cancel takes it away while the mode is not left...
  doc_->CancelOnLayer0();
  EXPECT_TRUE(SamePixels(doc_->Layer0(), photo));

  // ...but after leaving and coming back it is the committed state.
  doc_->ApplyWithoutCommit("Framing", Step(30));
  doc_->SetMode(mdAccent);
  doc_->SetMode(mdFrameGenerator);
  doc_->CancelOnLayer0();
  EXPECT_TRUE(SamePixels(doc_->Layer0(), Brightened(photo, 30)));
}

TEST_F(HistoryTest, CaptionsOkWorksOnLayer0AsItIs) {
  const IEBitmap photo = OpenPhoto();
  Brighten(doc_->Layer0(), 2);  // a caption flattened into layer 0
  doc_->ApplyWithoutCommit("Caption", nullptr, /*restoreFirst=*/false);
  EXPECT_TRUE(SamePixels(doc_->Layer0(), Brightened(photo, 2)));
  EXPECT_TRUE(SamePixels(doc_->UndoImage(), Brightened(photo, 2)));
  EXPECT_EQ(doc_->UndoItem().caption, "Undo Caption");
}

TEST_F(HistoryTest, DecorationApplyMergesUndoesToTheCommittedImageAndLeavesRedo) {
  const IEBitmap photo = OpenPhoto();
  doc_->ApplyAndCommit("Blur", Step(1));
  doc_->Undo();  // Redo enabled: the decoration's Apply must leave it so
  ASSERT_TRUE(doc_->RedoItem().enabled);

  doc_->SetMode(mdGreetingCards);
  doc_->TakePreviewSnapshot();
  EXPECT_TRUE(doc_->PreviewSnapshotTaken());
  AddPreviewLayer();
  Brighten(doc_->Layer0(), 60);  // layer 0 holds the preview, not the photo

  ASSERT_TRUE(doc_->ApplyDecoration("Effect"));
  EXPECT_EQ(doc_->Imaga().LayerCount(), 1);
  const IELayer& base = *doc_->Imaga().Layer(0);
  EXPECT_FALSE(base.ShowBox);
  EXPECT_FALSE(base.Selectable);
  EXPECT_TRUE(base.Locked);
  EXPECT_TRUE(SamePixels(doc_->UndoImage(), photo));
  EXPECT_EQ(doc_->UndoItem().caption, "Undo Effect");
  EXPECT_TRUE(doc_->UndoItem().enabled);
  EXPECT_TRUE(doc_->RedoItem().enabled);
  // Not committed until the mode handler runs.
  EXPECT_TRUE(SamePixels(doc_->CommittedImage(), photo));
  const IEBitmap merged = doc_->Layer0();
  doc_->SetMode(mdEdit);
  EXPECT_TRUE(SamePixels(doc_->CommittedImage(), merged));
  EXPECT_TRUE(SamePixels(doc_->Layer0(), merged));
}

TEST_F(HistoryTest, ThePreviewSnapshotIsTakenOnce) {
  const IEBitmap photo = OpenPhoto();
  doc_->TakePreviewSnapshot();
  Brighten(doc_->Layer0(), 8);
  doc_->TakePreviewSnapshot();
  EXPECT_TRUE(SamePixels(doc_->CommittedImage(), photo));
  // Opening clears it, so the next photo is snapshotted again.
  OpenPhoto(2);
  EXPECT_FALSE(doc_->PreviewSnapshotTaken());
}

TEST_F(HistoryTest, BuffersAreFullCopiesNotShared) {
  const IEBitmap photo = OpenPhoto();
  doc_->SaveUndo();
  Brighten(doc_->Layer0(), 1);
  EXPECT_TRUE(SamePixels(doc_->UndoImage(), photo));
  EXPECT_TRUE(SamePixels(doc_->CommittedImage(), photo));
  doc_->Restore();
  Brighten(doc_->CommittedImage(), 1);
  EXPECT_TRUE(SamePixels(doc_->Layer0(), photo));
}

}  // namespace
}  // namespace velmora::test
