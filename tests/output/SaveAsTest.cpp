// "Save As..." and "Export to..." run headless: the type list, the
// remembered type and quality, the default extension, cancelling, failures,
// and that the current layer is what gets written.
#include <gtest/gtest.h>

#include <filesystem>

#include "OutputFixture.h"
#include "document/files/FormatTable.h"
#include "document/files/ImageFile.h"
#include "document/files/Orientation.h"
#include "imaging/ImageProc.h"
#include "output/SaveAs.h"

namespace velmora {
namespace {

using test::Blocks;
using test::OutputTest;
using test::SamePixels;
using test::Smooth;

class SaveAsTest : public OutputTest {
 protected:
  SaveCommands save_{*doc_};

  // The position of a type in the dialog's list.
  static int Position(int saveIndex) {
    const auto types = SaveCommands::Types();
    for (std::size_t i = 0; i < types.size(); ++i)
      if (types[i]->saveIndex == saveIndex) return static_cast<int>(i);
    return -1;
  }
  int QualityQuestions() const {
    int n = 0;
    for (const auto& s : ui_.shown) n += s.what == "jpeg quality";
    return n;
  }
};

TEST_F(SaveAsTest, TypeListInTheFixedOrderStartingAtJpeg) {
  const std::vector<std::string> expected = {
      "TIFF Bitmap (*.tif;*.tiff;*.fax;*.g3n;*.g3f;*.xif)",
      "CompuServe Bitmap (*.gif)",
      "JPEG Bitmap (*.jpg;*.jpeg;*.jpe;*.jif)",
      "PaintBrush (*.pcx)",
      "Windows Bitmap (*.bmp;*.dib;*.rle)",
      "Windows Icon (*.ico)",
      "Portable Network Graphics (*.png)",
      "Targa Bitmap (*.tga;*.targa;*.vda;*.icb;*.vst;*.pix)",
      "Portable Pixmap, GrayMap, BitMap (*.pxm;*.ppm;*.pgm;*.pbm;*.pnm)",
      "Wireless Bitmap (*.wbmp)",
      "JPEG2000 (*.jp2)",
      "JPEG2000 Code Stream (*.j2k;*.jpc;*.j2c)",
      "Multipage PCX (*.dcx)",
      "Photoshop PSD (*.psd)",
  };
  Load(Blocks(8, 6));
  save_.SaveAs();
  ASSERT_EQ(ui_.shown.size(), 1u);
  EXPECT_EQ(ui_.shown[0].what, "save");
  EXPECT_EQ(ui_.shown[0].text, "Save As...");
  std::vector<std::string> captions;
  for (const auto& f : ui_.lastFilters) captions.push_back(f.caption);
  EXPECT_EQ(captions, expected);
  EXPECT_EQ(ui_.lastFilters[2].patterns, (std::vector<std::string>{"*.jpg", "*.jpeg", "*.jpe", "*.jif"}));
  EXPECT_EQ(ui_.lastFilterIndex, 2);
  EXPECT_EQ(ui_.givenNames, std::vector<std::string>{""});
}

// Every offered type, chosen in the dialog with a bare name: the file gets
// the type's first extension, and reads back as written (JPEG: close, for a
// smooth photo).
TEST_F(SaveAsTest, EveryOfferedTypeWritesAndReadsBack) {
  const auto types = SaveCommands::Types();
  for (std::size_t i = 0; i < types.size(); ++i) {
    const FormatInfo& type = *types[i];
    SCOPED_TRACE(type.saveName);
    const IEBitmap picture = type.id == ImageFormat::JPEG ? Smooth(40, 30) : Blocks(40, 30);
    Load(picture);
    const std::string name = "picture" + std::to_string(i);
    ui_.picks.push_back(static_cast<int>(i));
    ui_.paths.push_back(Path(name));
    ASSERT_TRUE(save_.SaveAs()) << (ui_.Messages().empty() ? "" : ui_.Messages().back());
    const std::string file = Path(name + "." + type.extensions.front());
    EXPECT_EQ(save_.LastFileName(), file);
    IEBitmap back;
    ASSERT_TRUE(ReadImage(file, back));
    ASSERT_EQ(back.Width(), 40);
    ASSERT_EQ(back.Height(), 30);
    if (type.id == ImageFormat::JPEG) {
      EXPECT_LT(test::MeanDifference(back, picture), 3.0);
    } else if (type.id == ImageFormat::WBMP) {
      // Bi-level: the same conversion as the writer's.
      IEBitmap bilevel = picture;
      ASSERT_TRUE(bilevel.ConvertFormat(IEPixelFormat::ie1g));
      EXPECT_TRUE(SamePixels(back, bilevel));
    } else {
      EXPECT_TRUE(SamePixels(back, picture));
    }
  }
  EXPECT_TRUE(ui_.Messages().empty());
  EXPECT_EQ(QualityQuestions(), 1);  // JPEG alone asked
}

TEST_F(SaveAsTest, OnlyTheJpegTypeAsksTheQuality) {
  Load(Smooth(16, 12));
  for (const FormatInfo* type : SaveCommands::Types()) {
    SCOPED_TRACE(type->saveName);
    ui_.shown.clear();
    ASSERT_TRUE(save_.SelectType(type->saveIndex));
    // A name whose extension disagrees with the type: the type decides the
    // question, the extension the writer.
    ui_.paths.push_back(Path("any.png"));
    ui_.qualities.push_back(40);
    ASSERT_TRUE(save_.SaveAs());
    EXPECT_EQ(QualityQuestions(), type->saveIndex == SaveCommands::kJpegType ? 1 : 0);
    ui_.qualities.clear();
  }
}

TEST_F(SaveAsTest, SecondSaveOffersTheTypeAndQualityOfTheFirst) {
  Load(Smooth(16, 12));
  ui_.paths = {Path("first"), Path("second"), Path("third")};
  ui_.qualities = {55};
  ASSERT_TRUE(save_.SaveAs());  // JPEG, quality 55
  EXPECT_EQ(save_.JpegQuality(), 55);
  ASSERT_TRUE(save_.SaveAs());  // JPEG again: the dialog shows 55
  ASSERT_EQ(QualityQuestions(), 2);
  EXPECT_EQ(ui_.shown.back().text, "55");
  EXPECT_EQ(ui_.shown.front().text, "Save As...");
  EXPECT_EQ(ui_.shown[1].text, "80");

  ui_.picks.push_back(Position(SaveCommands::kPngType));
  ASSERT_TRUE(save_.SaveAs());  // the user picks PNG
  EXPECT_TRUE(std::filesystem::exists(Path("third.png")));
  ui_.paths.push_back({});
  save_.SaveAs();  // opens on PNG and on the last name
  EXPECT_EQ(ui_.lastFilterIndex, Position(SaveCommands::kPngType));
  EXPECT_EQ(ui_.givenNames.back(), Path("third.png"));
  EXPECT_EQ(save_.SelectedType(), SaveCommands::kPngType);
}

TEST_F(SaveAsTest, QualityFromTheDialogIsKeptWithinItsRange) {
  Load(Smooth(16, 12));
  ui_.paths = {Path("a.jpg"), Path("b.jpg")};
  ui_.qualities = {2, 250};
  ASSERT_TRUE(save_.SaveAs());
  EXPECT_EQ(save_.JpegQuality(), 5);
  ASSERT_TRUE(save_.SaveAs());
  EXPECT_EQ(save_.JpegQuality(), 100);
}

TEST(CompleteFileName, DefaultExtensionRule) {
  const FormatInfo& jpeg = *FindFormat(ImageFormat::JPEG);
  const FormatInfo& png = *FindFormat(ImageFormat::PNG);
  struct Case {
    const char* name;
    const char* last;
    const FormatInfo* type;
    const char* expected;
  } cases[] = {
      {"/d/photo", "", &jpeg, "/d/photo.jpg"},
      {"/d/photo", "/e/old.jpeg", &jpeg, "/d/photo.jpeg"},   // the last name's extension
      {"/d/photo", "/e/old.JPE", &jpeg, "/d/photo.jpe"},
      {"/d/photo", "/e/old.jpeg", &png, "/d/photo.png"},     // not one of PNG's
      {"/d/photo", "/e/old", &png, "/d/photo.png"},
      {"/d/photo.PNG", "", &jpeg, "/d/photo.PNG"},           // an extension Velmora writes stays
      {"/d/photo.bmp", "/e/old.jpeg", &jpeg, "/d/photo.bmp"},
      {"/d/photo.", "", &png, "/d/photo.png"},
      {"/d/holiday.2024", "", &jpeg, "/d/holiday.2024.jpg"},  // not a picture extension
      {"/d.v2/photo", "", &png, "/d.v2/photo.png"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(SaveCommands::CompleteFileName(c.name, c.last, *c.type), c.expected) << c.name << " / " << c.last;
}

TEST_F(SaveAsTest, ANameWithoutExtensionTakesTheLastOnesWhenTheTypeAllows) {
  Load(Smooth(16, 12));
  ui_.paths = {Path("one.jpeg"), Path("two")};
  ASSERT_TRUE(save_.SaveAs());
  ASSERT_TRUE(save_.SaveAs());
  EXPECT_TRUE(std::filesystem::exists(Path("two.jpeg")));
  EXPECT_EQ(ui_.givenNames, (std::vector<std::string>{"", Path("one.jpeg")}));
}

TEST_F(SaveAsTest, CancelClearsImageModifiedAndWritesNothing) {
  Load(Smooth(16, 12));
  ASSERT_TRUE(doc_->ImageModified());
  EXPECT_FALSE(save_.SaveAs());
  EXPECT_FALSE(doc_->ImageModified());
  EXPECT_TRUE(Files().empty());
  EXPECT_EQ(QualityQuestions(), 0);
  // So closing right afterwards asks nothing.
  EXPECT_TRUE(doc_->CloseQuery());
  EXPECT_EQ(ui_.shown.size(), 1u);
}

TEST_F(SaveAsTest, FailedWriteShowsTheWritersMessageAndChangesNothingElse) {
  Load(Smooth(16, 12));
  ui_.paths = {Path("missing/photo.png")};
  EXPECT_FALSE(save_.SaveAs());
  ASSERT_EQ(ui_.Messages().size(), 1u);
  EXPECT_NE(ui_.Messages()[0].find(Path("missing/photo.png")), std::string::npos) << ui_.Messages()[0];
  EXPECT_EQ(ui_.kinds.back(), MessageKind::Error);
  EXPECT_TRUE(doc_->ImageModified());  // nothing was saved: closing still asks
  EXPECT_TRUE(save_.LastFileName().empty());
  EXPECT_TRUE(Files().empty());
}

TEST_F(SaveAsTest, ACompletedNameThatExistsIsReplacedOnlyWhenTheUserAgrees) {
  Load(Blocks(8, 6));
  const IEBitmap other = Smooth(5, 5);
  ASSERT_TRUE(WriteImage(Path("a.png"), other));
  ASSERT_TRUE(save_.SelectType(SaveCommands::kPngType));
  ui_.paths = {Path("a"), Path("a")};
  ui_.answers = {Answer::No, Answer::Yes};

  EXPECT_FALSE(save_.SaveAs());
  ASSERT_EQ(ui_.shown.back().what, "question");
  EXPECT_EQ(ui_.shown.back().text, "a.png already exists.\nDo you want to replace it?");
  IEBitmap back;
  ASSERT_TRUE(ReadImage(Path("a.png"), back));
  EXPECT_TRUE(SamePixels(back, other));

  EXPECT_TRUE(save_.SaveAs());
  ASSERT_TRUE(ReadImage(Path("a.png"), back));
  EXPECT_TRUE(SamePixels(back, doc_->Layer0()));
}

// A decoration preview on screen: the current layer is written as it is,
// the layers are never merged for it.
TEST_F(SaveAsTest, WritesTheCurrentLayerNeverTheComposition) {
  const IEBitmap photo = Blocks(20, 16);
  Load(photo);
  const IEBitmap decoration = Smooth(6, 5);
  doc_->Imaga().AddLayer(decoration);
  doc_->Imaga().Layer(1)->LayerX = 3;
  ASSERT_TRUE(save_.SelectType(SaveCommands::kPngType));
  ui_.paths = {Path("top"), Path("bottom")};

  ASSERT_TRUE(save_.SaveAs());  // the decoration is the current layer
  IEBitmap back;
  ASSERT_TRUE(ReadImage(Path("top.png"), back));
  EXPECT_TRUE(SamePixels(back, decoration));

  doc_->Imaga().SelectLayer(0);
  ASSERT_TRUE(save_.SaveAs());
  ASSERT_TRUE(ReadImage(Path("bottom.png"), back));
  EXPECT_TRUE(SamePixels(back, photo));
  EXPECT_EQ(doc_->Imaga().LayerCount(), 2);
}

TEST_F(SaveAsTest, ExportSelectsItsTypeThenSavesAs) {
  struct Case {
    int type;
    const char* caption;
    const char* extension;
  } cases[] = {
      {SaveCommands::kBmpType, "Windows Bitmap", "bmp"},
      {SaveCommands::kJpegType, "JPEG Bitmap", "jpg"},
      {SaveCommands::kPngType, "Portable Network Graphics", "png"},
      {SaveCommands::kGifType, "CompuServe Bitmap", "gif"},
      {SaveCommands::kTiffType, "TIFF Bitmap", "tif"},
  };
  Load(Blocks(12, 10));
  ASSERT_TRUE(save_.SelectType(SaveCommands::kPngType));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.caption);
    const std::string name = std::string("export-") + c.extension;
    ui_.paths = {Path(name)};
    ui_.shown.clear();
    ASSERT_TRUE(save_.Export(c.type));
    ASSERT_GE(ui_.lastFilterIndex, 0);
    EXPECT_EQ(ui_.lastFilters[ui_.lastFilterIndex].caption.rfind(std::string(c.caption) + " (", 0), 0u);
    EXPECT_EQ(QualityQuestions(), c.type == SaveCommands::kJpegType ? 1 : 0);
    IEBitmap back;
    EXPECT_TRUE(ReadImage(Path(name + "." + c.extension), back));
    EXPECT_EQ(save_.SelectedType(), c.type);
  }
  // A type that is not offered opens nothing.
  ui_.shown.clear();
  EXPECT_FALSE(save_.Export(13));
  EXPECT_TRUE(ui_.shown.empty());
  EXPECT_EQ(save_.SelectedType(), SaveCommands::kTiffType);
}

TEST_F(SaveAsTest, JpegCarriesTheEmbeddedThumbnail) {
  Load(Smooth(320, 200));
  ui_.paths = {Path("thumb.jpg")};
  ASSERT_TRUE(save_.SaveAs());
  const std::string bytes = ReadBytes(Path("thumb.jpg"));
  EXPECT_NE(bytes.find(std::string("Exif\0\0", 6)), std::string::npos);
}

// The embedded thumbnail is the picture resampled to 160 pixels wide with
// the triangle filter, narrow pictures enlarged.
TEST(EmbeddedThumbnail, IsTheTriangleResampleTo160Wide) {
  struct Case {
    int w, h, th;
  } cases[] = {{400, 300, 120}, {50, 20, 64}, {160, 90, 90}, {1, 1, 160}, {3, 1000, 640}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + " x " + std::to_string(c.h));
    const IEBitmap picture = test::Random(c.w, c.h, IEPixelFormat::ie24RGB, 7);
    IEBitmap thumb;
    ASSERT_TRUE(MakeEmbeddedThumbnail(picture, thumb));
    IEBitmap expected = picture;
    test::Apply(expected, [&](ImageProc& p) { p.Resample(160, c.th, rfTriangle); });
    EXPECT_TRUE(SamePixels(thumb, expected));
  }
}

}  // namespace
}  // namespace velmora
