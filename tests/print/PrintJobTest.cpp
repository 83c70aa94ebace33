// Real prints: PDF files written through QPrinter and read back (the sheet,
// where the picture landed, the pixels it carries), the same page painted
// on a QImage, the printed pixels of every kind of picture, and prints that
// cannot be made.
#include <gtest/gtest.h>

#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <cmath>

#include "document/qt/QtBitmap.h"
#include "output/PrintJob.h"
#include "print/PdfPage.h"
#include "print/PrintTestSupport.h"

namespace velmora {
namespace {

using test::MakePdfPrinter;
using test::PdfPage;
using test::ReadPdf;
using test::Solid;

constexpr IETriple kOrange{20, 120, 230};  // b, g, r

void ExpectNear(const QRectF& r, double x, double y, double w, double h) {
  constexpr double kTol = 1e-3;  // points; the PDF keeps about 9 digits
  EXPECT_NEAR(r.x(), x, kTol);
  EXPECT_NEAR(r.y(), y, kTol);
  EXPECT_NEAR(r.width(), w, kTol);
  EXPECT_NEAR(r.height(), h, kTol);
}

// The pixels a picture should print as, row by row, as r, g, b bytes.
std::vector<uint8_t> RgbOf(const IEBitmap& b) {
  std::vector<uint8_t> out;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) {
      const IETriple& p = b.Pixel24(x, y);
      out.insert(out.end(), {p.r, p.g, p.b});
    }
  return out;
}

class PrintJobTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir.isValid()); }
  QString File(const char* name) const { return dir.filePath(name); }

  // Prints and reads the file back; the page must be well formed.
  PdfPage PrintToPdf(const IEBitmap& picture, const PrintSettings& s,
                     QPageLayout::Orientation orientation = QPageLayout::Portrait) {
    const QString file = File("page.pdf");
    QFile::remove(file);
    QPrinter printer(QPrinter::HighResolution);
    MakePdfPrinter(printer, file, orientation);
    std::string error = "unset";
    EXPECT_TRUE(PrintPicture(printer, picture, s, &error)) << error;
    EXPECT_EQ(error, "");
    PdfPage page = ReadPdf(file);
    EXPECT_TRUE(page.valid) << page.problem;
    EXPECT_EQ(page.pageCount, 1);
    return page;
  }

  QTemporaryDir dir;
};

struct PdfCase {
  const char* what;
  PrintSizeMode mode;
  PrintPosition position;
  double specW, specH;
  QPageLayout::Orientation orientation;
  double x, y, w, h;  // where the 192 x 96 picture lands, points from the top-left corner
  bool clipped;       // reaches beyond the margins
};

TEST_F(PrintJobTest, EachSizeModeLandsWhereThePlacementSays) {
  const IEBitmap picture = Solid(192, 96, kOrange);
  const PdfCase cases[] = {
      {"normal", PrintSizeMode::Normal, PrintPosition::Center, 6, 4, QPageLayout::Portrait, 234, 360, 144, 72, false},
      {"fit", PrintSizeMode::FitToPage, PrintPosition::Center, 6, 4, QPageLayout::Portrait, 72, 279, 468, 234, false},
      {"stretch", PrintSizeMode::StretchToPage, PrintPosition::BottomRight, 6, 4, QPageLayout::Portrait, 72, 72, 468,
       648, false},
      {"specified", PrintSizeMode::SpecifiedSize, PrintPosition::BottomRight, 6, 4, QPageLayout::Portrait, 108, 432,
       432, 288, false},
      {"specified, wider than the area", PrintSizeMode::SpecifiedSize, PrintPosition::TopLeft, 8, 4,
       QPageLayout::Portrait, 72, 72, 576, 288, true},
      // Landscape: the area is 648 x 468, the picture 648 x 324.
      {"fit, landscape", PrintSizeMode::FitToPage, PrintPosition::Bottom, 6, 4, QPageLayout::Landscape, 72, 216, 648,
       324, false},
  };
  for (const PdfCase& c : cases) {
    SCOPED_TRACE(c.what);
    PrintSettings s;
    s.sizeMode = c.mode;
    s.position = c.position;
    s.specifiedWidth = c.specW;
    s.specifiedHeight = c.specH;
    const PdfPage page = PrintToPdf(picture, s, c.orientation);
    const bool landscape = c.orientation == QPageLayout::Landscape;
    EXPECT_DOUBLE_EQ(page.mediaWidth, landscape ? 792 : 612);
    EXPECT_DOUBLE_EQ(page.mediaHeight, landscape ? 612 : 792);
    ASSERT_EQ(page.images.size(), 1u);
    const test::PdfImage& image = page.images[0];
    // The picture goes to the printer at its own pixel size, unaltered.
    EXPECT_EQ(image.width, 192);
    EXPECT_EQ(image.height, 96);
    EXPECT_EQ(image.colorSpace, "DeviceRGB");
    EXPECT_TRUE(image.pixels == RgbOf(picture));
    ExpectNear(image.placed, c.x, c.y, c.w, c.h);
    if (c.clipped) {
      ExpectNear(image.clip, 72, 72, 468, 648);
    } else {
      EXPECT_TRUE(image.clip.isNull() || image.clip.contains(image.placed));
    }
  }
}

TEST_F(PrintJobTest, JobIsNamedAfterThePrintersDocument) {
  QPrinter printer(QPrinter::HighResolution);
  MakePdfPrinter(printer, File("named.pdf"));
  printer.setDocName("Velmora");
  ASSERT_TRUE(PrintPicture(printer, Solid(4, 4, kOrange), PrintSettings{}));
  EXPECT_EQ(ReadPdf(File("named.pdf")).title, "Velmora");
}

// The same painting on a white QImage of one pixel per point: the picture
// covers exactly its rectangle, clipped to the margins.
TEST_F(PrintJobTest, PaintedPageCoversThePlacedRectangle) {
  struct Case {
    PrintSizeMode mode;
    PrintPosition position;
    int x1, y1, x2, y2;  // the coloured pixels, inclusive
  } const cases[] = {
      {PrintSizeMode::Normal, PrintPosition::TopRight, 396, 72, 539, 143},
      {PrintSizeMode::FitToPage, PrintPosition::Top, 72, 72, 539, 305},
      {PrintSizeMode::StretchToPage, PrintPosition::Center, 72, 72, 539, 719},
      // 15 x 4 inches, centred: wider than the area, cut at both sides.
      {PrintSizeMode::SpecifiedSize, PrintPosition::Center, 72, 252, 539, 539},
  };
  const IEBitmap picture = Solid(192, 96, kOrange);
  const QImage printed = PrintedImage(picture, 1);
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.mode));
    PrintSettings s;
    s.sizeMode = c.mode;
    s.position = c.position;
    s.specifiedWidth = 15;
    const PrintPlacement placement = PlacePicture(612, 792, s, 192, 96);
    ASSERT_TRUE(placement.ok);
    QImage sheet(612, 792, QImage::Format_RGB32);
    sheet.fill(Qt::white);
    {
      QPainter p(&sheet);
      PaintPage(p, printed, placement, 1.0);
    }
    int x1 = 9999, y1 = 9999, x2 = -1, y2 = -1, off = 0;
    for (int y = 0; y < sheet.height(); ++y)
      for (int x = 0; x < sheet.width(); ++x) {
        const QRgb v = sheet.pixel(x, y);
        if (v == qRgb(255, 255, 255)) continue;
        x1 = std::min(x1, x), y1 = std::min(y1, y), x2 = std::max(x2, x), y2 = std::max(y2, y);
        if (v != qRgb(230, 120, 20)) ++off;
      }
    EXPECT_EQ(x1, c.x1);
    EXPECT_EQ(y1, c.y1);
    EXPECT_EQ(x2, c.x2);
    EXPECT_EQ(y2, c.y2);
    EXPECT_EQ(off, 0);  // every covered pixel is the picture's colour
  }
}

TEST_F(PrintJobTest, GammaChangesThePrintedPixelsOnly) {
  const IEBitmap picture = test::Ramp();
  const IEBitmap before = picture;

  // Gamma 1: the picture's own pixels.
  PrintSettings s;
  PdfPage page = PrintToPdf(picture, s);
  ASSERT_EQ(page.images.size(), 1u);
  EXPECT_TRUE(page.images[0].pixels == RgbOf(picture));

  for (const double gamma : {2.2, 0.45}) {
    SCOPED_TRACE(gamma);
    s.gamma = gamma;
    page = PrintToPdf(picture, s);
    ASSERT_EQ(page.images.size(), 1u);
    const std::vector<uint8_t> expected = RgbOf(picture);
    const std::vector<uint8_t>& got = page.images[0].pixels;
    ASSERT_EQ(got.size(), expected.size());
    int wrong = 0;
    for (std::size_t i = 0; i < got.size(); ++i) {
      const double want = std::nearbyint(255.0 * std::pow(expected[i] / 255.0, 1.0 / gamma));
      if (got[i] != want) ++wrong;
    }
    EXPECT_EQ(wrong, 0);
  }
  // Worked by hand: red 64 at gamma 2 prints as 128, green 191 as 221
  // (255 x 0.749^0.5 = 220.69).
  s.gamma = 2;
  page = PrintToPdf(picture, s);
  ASSERT_EQ(page.images.size(), 1u);
  EXPECT_EQ(page.images[0].pixels[64 * 3 + 0], 128);  // row 0, x 64: r = 64
  EXPECT_EQ(page.images[0].pixels[64 * 3 + 1], 221);  // g = 255 - 64

  // Printing never touches the picture.
  ASSERT_EQ(picture.Width(), before.Width());
  EXPECT_TRUE(RgbOf(picture) == RgbOf(before));
}

TEST(PrintedImageTest, EveryKindOfPictureBecomesRgbOnWhite) {
  struct Case {
    const char* what;
    IEBitmap picture;
    QRgb expected;  // pixel (0, 0)
  };
  IEBitmap grey(2, 2, IEPixelFormat::ie8g);
  for (int y = 0; y < 2; ++y) grey.ScanLine(y)[0] = grey.ScanLine(y)[1] = 100;
  IEBitmap bw(2, 2, IEPixelFormat::ie1g);
  bw.SetBit(0, 0, false);
  IEBitmap clear = Solid(2, 2, kOrange);
  clear.SetAlpha(0, 0, 0);
  IEBitmap half = Solid(2, 2, IETriple{0, 0, 0});
  half.SetAlpha(0, 0, 128);
  IEBitmap opaque = Solid(2, 2, kOrange);
  opaque.AlphaChannel();
  std::vector<Case> cases;
  cases.push_back({"8-bit grey", grey, qRgb(100, 100, 100)});
  cases.push_back({"1-bit black", bw, qRgb(0, 0, 0)});
  cases.push_back({"transparent: white paper", clear, qRgb(255, 255, 255)});
  // Black at alpha 128 over white: (0 x 128 + 255 x 127 + 127) / 255 = 127.
  cases.push_back({"half transparent", half, qRgb(127, 127, 127)});
  cases.push_back({"opaque alpha channel", opaque, qRgb(230, 120, 20)});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const QImage out = PrintedImage(c.picture, 1);
    ASSERT_FALSE(out.isNull());
    EXPECT_EQ(out.format(), QImage::Format_RGB888);
    EXPECT_EQ(out.size(), QSize(2, 2));
    EXPECT_EQ(out.pixel(0, 0), c.expected);
  }
  EXPECT_TRUE(PrintedImage(IEBitmap(), 1).isNull());
}

TEST_F(PrintJobTest, PrintsThatCannotBeMadeWriteNothing) {
  const IEBitmap picture = Solid(10, 10, kOrange);
  struct Case {
    const char* what;
    QString file;
    PrintSettings settings;
    const char* error;
  };
  PrintSettings noRoom;
  noRoom.marginLeft = noRoom.marginRight = 5;
  PrintSettings zeroSize;
  zeroSize.sizeMode = PrintSizeMode::SpecifiedSize;
  zeroSize.specifiedHeight = 0;
  const Case cases[] = {
      {"margins leave no room", File("a.pdf"), noRoom, "margins"},
      {"zero size", File("b.pdf"), zeroSize, "width and height"},
      {"unwritable output", dir.filePath("missing/folder/c.pdf"), PrintSettings{}, "could not be started"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    QPrinter printer(QPrinter::HighResolution);
    MakePdfPrinter(printer, c.file);
    std::string error;
    EXPECT_FALSE(PrintPicture(printer, picture, c.settings, &error));
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
    EXPECT_FALSE(QFileInfo::exists(c.file));
  }
  QPrinter printer(QPrinter::HighResolution);
  MakePdfPrinter(printer, File("empty.pdf"));
  EXPECT_FALSE(PrintPicture(printer, IEBitmap(), PrintSettings{}));
  EXPECT_FALSE(QFileInfo::exists(File("empty.pdf")));
}

}  // namespace
}  // namespace velmora
