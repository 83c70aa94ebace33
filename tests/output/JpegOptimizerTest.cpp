// The JPEG optimizer's logic: sizes and texts, the trial file, Preview with
// other settings, saving, and where temp.jpg lives.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "OutputFixture.h"
#include "document/files/ImageFile.h"
#include "output/JpegOptimizer.h"

namespace velmora {
namespace {

using test::OutputTest;
using test::SamePixels;
using test::Smooth;

TEST(JpegOptimizerTexts, KilobytesRoundHalfToEven) {
  struct Case {
    uint64_t bytes, kb;
  } cases[] = {{0, 0},    {511, 0},    {512, 0},    {513, 1},    {1024, 1},   {1535, 1},
               {1536, 2}, {2560, 2},   {2561, 3},   {3584, 4},   {2400000, 2344}};
  for (const Case& c : cases) EXPECT_EQ(JpegOptimizer::Kilobytes(c.bytes), c.kb) << c.bytes;
  EXPECT_EQ(JpegOptimizer::SourceCaption(1000, 800), "Size 2344 Kb");
  EXPECT_EQ(JpegOptimizer::DestCaption(317952, 80), "Size 310 Kb, Quality  80%");
  EXPECT_EQ(JpegOptimizer::DestCaption(512, 1), "Size 0 Kb, Quality  1%");
}

class JpegOptimizerTest : public OutputTest {
 protected:
  JpegOptimizer opt_{ui_, dir_};

  static uint64_t EncodedSize(const IEBitmap& picture, const JpegSettings& s) {
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(WriteJPEGToMemory(picture, ToSaveParams(s), bytes));
    return bytes.size();
  }
};

TEST_F(JpegOptimizerTest, ActivationCopiesLayer0AndCompressesThroughTheTrialFile) {
  const IEBitmap photo = Smooth(1000, 800);
  Load(photo);
  doc_->Imaga().AddLayer(Smooth(10, 10));  // a preview layer is not what is shown
  const JpegSettings settings;
  opt_.Activate(doc_->Layer0(), settings);

  EXPECT_EQ(opt_.SourceText(), "Size 2344 Kb");
  EXPECT_TRUE(SamePixels(opt_.SourcePicture(), photo));
  const uint64_t size = EncodedSize(photo, settings);
  EXPECT_EQ(opt_.CompressedSize(), size);
  EXPECT_EQ(opt_.DestText(), JpegOptimizer::DestCaption(size, 80));
  EXPECT_EQ(opt_.DestText().rfind("Size ", 0), 0u);

  // temp.jpg holds what the writer makes of the picture with these
  // settings, and DS shows it as read back.
  ASSERT_TRUE(WriteImage(Path("reference.jpg"), photo, ToSaveParams(settings)));
  EXPECT_EQ(ReadBytes(opt_.TrialPath()), ReadBytes(Path("reference.jpg")));
  IEBitmap back;
  ASSERT_TRUE(ReadJPEG(opt_.TrialPath(), back));
  EXPECT_TRUE(SamePixels(opt_.CompressedPicture(), back));
  EXPECT_EQ(opt_.TrialPath(), Path("temp.jpg"));

  // The document is not touched.
  EXPECT_TRUE(SamePixels(doc_->Layer0(), photo));
  EXPECT_EQ(doc_->Imaga().LayerCount(), 2);
  EXPECT_TRUE(ui_.shown.empty());
}

TEST_F(JpegOptimizerTest, PreviewWithOtherSettingsShowsTheirSize) {
  const IEBitmap photo = Smooth(300, 200);
  Load(photo);
  opt_.Activate(doc_->Layer0(), {});
  const std::string first = opt_.DestText();

  for (const JpegSettings s : {JpegSettings{30, 0, false}, JpegSettings{30, 50, false}, JpegSettings{95, 0, true}}) {
    ASSERT_TRUE(opt_.TryToSave(s));
    const uint64_t size = EncodedSize(photo, s);
    EXPECT_EQ(opt_.CompressedSize(), size);
    EXPECT_EQ(opt_.DestText(), JpegOptimizer::DestCaption(size, s.quality));
  }
  EXPECT_NE(opt_.DestText(), first);
}

TEST_F(JpegOptimizerTest, TrialFileThatCannotBeWrittenShowsTheMessageAndKeepsTheResult) {
  Load(Smooth(64, 48));
  opt_.Activate(doc_->Layer0(), {});
  const std::string dest = opt_.DestText();
  const uint64_t size = opt_.CompressedSize();
  const IEBitmap shown = opt_.CompressedPicture();
  // A folder in the trial file's place: it cannot be replaced.
  std::filesystem::remove(opt_.TrialPath());
  std::filesystem::create_directory(opt_.TrialPath());

  EXPECT_FALSE(opt_.TryToSave({20, 0, false}));
  ASSERT_EQ(ui_.Messages().size(), 1u);
  EXPECT_NE(ui_.Messages()[0].find("temp.jpg"), std::string::npos) << ui_.Messages()[0];
  EXPECT_EQ(opt_.DestText(), dest);
  EXPECT_EQ(opt_.CompressedSize(), size);
  EXPECT_TRUE(SamePixels(opt_.CompressedPicture(), shown));

  // A trial folder that does not exist: the same, from the start.
  JpegOptimizer nowhere(ui_, Path("missing"));
  nowhere.Activate(doc_->Layer0(), {});
  EXPECT_EQ(ui_.Messages().size(), 2u);
  EXPECT_EQ(nowhere.SourceText(), "Size 9 Kb");
  EXPECT_EQ(nowhere.DestText(), "");
}

TEST_F(JpegOptimizerTest, SaveAppendsJpgToTheChosenName) {
  const IEBitmap photo = Smooth(64, 48);
  Load(photo);
  opt_.Activate(doc_->Layer0(), {});
  const JpegSettings settings{40, 20, true};
  ui_.paths = {Path("plain"), Path("named.jpg")};

  ASSERT_TRUE(opt_.Save(settings));
  EXPECT_EQ(ui_.shown.back().what, "save");
  EXPECT_EQ(ui_.lastFilters, (std::vector<FileFilter>{{"JPEG Image File (*.jpg)", {"*.jpg"}}}));
  ASSERT_TRUE(WriteImage(Path("reference.jpg"), photo, ToSaveParams(settings)));
  EXPECT_EQ(ReadBytes(Path("plain.jpg")), ReadBytes(Path("reference.jpg")));

  ASSERT_TRUE(opt_.Save(settings));
  EXPECT_EQ(ui_.givenNames, (std::vector<std::string>{"", Path("plain")}));
  EXPECT_TRUE(std::filesystem::exists(Path("named.jpg.jpg")));
  EXPECT_FALSE(std::filesystem::exists(Path("named.jpg")));
}

TEST_F(JpegOptimizerTest, CancelledSaveWritesNothing) {
  Load(Smooth(64, 48));
  opt_.Activate(doc_->Layer0(), {});
  EXPECT_FALSE(opt_.Save({}));
  EXPECT_EQ(Files(), std::vector<std::string>{"temp.jpg"});
  EXPECT_TRUE(ui_.Messages().empty());
}

TEST_F(JpegOptimizerTest, SaveIntoAMissingFolderShowsTheMessage) {
  Load(Smooth(64, 48));
  opt_.Activate(doc_->Layer0(), {});
  ui_.paths = {Path("missing/out")};
  EXPECT_FALSE(opt_.Save({}));
  ASSERT_EQ(ui_.Messages().size(), 1u);
  EXPECT_NE(ui_.Messages()[0].find(Path("missing/out.jpg")), std::string::npos);
  EXPECT_EQ(Files(), std::vector<std::string>{"temp.jpg"});
}

TEST_F(JpegOptimizerTest, TrialFolderIsBesideTheProgramUnlessItCannotBeWritten) {
  const char* old = std::getenv("XDG_CACHE_HOME");
  const std::string saved = old ? old : "";
  setenv("XDG_CACHE_HOME", Path("cache").c_str(), 1);
  EXPECT_EQ(JpegOptimizer::UserCacheFolder(), Path("cache/Velmora"));
  EXPECT_EQ(JpegOptimizer::TrialFolder(dir_), dir_);
  // A folder that cannot be written to (here: one that does not exist).
  EXPECT_EQ(JpegOptimizer::TrialFolder(Path("no-such-folder")), Path("cache/Velmora"));
  EXPECT_TRUE(std::filesystem::is_directory(Path("cache/Velmora")));
  if (old)
    setenv("XDG_CACHE_HOME", saved.c_str(), 1);
  else
    unsetenv("XDG_CACHE_HOME");
}

}  // namespace
}  // namespace velmora
