// Where the picture goes on the sheet, worked out by hand on US Letter
// (612 x 792 points; with 1 inch margins the area inside them is 72..540 x
// 72..720, 468 x 648 points), and what becomes of bad settings.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "output/PrintLayout.h"

namespace velmora {
namespace {

constexpr double kLetterW = 612, kLetterH = 792;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

void ExpectRect(const PrintRect& r, double x, double y, double w, double h) {
  EXPECT_DOUBLE_EQ(r.x, x);
  EXPECT_DOUBLE_EQ(r.y, y);
  EXPECT_DOUBLE_EQ(r.width, w);
  EXPECT_DOUBLE_EQ(r.height, h);
}

TEST(PrintSettingsTest, StartValues) {
  const PrintSettings s;
  EXPECT_EQ(s.marginTop, 1.0);
  EXPECT_EQ(s.marginLeft, 1.0);
  EXPECT_EQ(s.marginRight, 1.0);
  EXPECT_EQ(s.marginBottom, 1.0);
  EXPECT_EQ(s.specifiedWidth, 6.0);
  EXPECT_EQ(s.specifiedHeight, 4.0);
  EXPECT_EQ(s.gamma, 1.0);
  EXPECT_EQ(s.unit, MeasureUnit::Inches);
  EXPECT_EQ(Sanitized(s), s);
}

struct SizeCase {
  const char* what;
  PrintSizeMode mode;
  int pictureW, pictureH;
  double dpi;
  double x, y, w, h;
};

class SizeModeTest : public ::testing::TestWithParam<SizeCase> {};

TEST_P(SizeModeTest, PlacesThePictureCentred) {
  const SizeCase& c = GetParam();
  PrintSettings s;
  s.sizeMode = c.mode;
  s.pictureDpi = c.dpi;
  const PrintPlacement p = PlacePicture(kLetterW, kLetterH, s, c.pictureW, c.pictureH);
  ASSERT_TRUE(p.ok) << c.what;
  ExpectRect(p.paper, 0, 0, kLetterW, kLetterH);
  ExpectRect(p.area, 72, 72, 468, 648);
  ExpectRect(p.picture, c.x, c.y, c.w, c.h);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, SizeModeTest,
    ::testing::Values(
        // 192 x 96 pixels at 96 per inch: 2 x 1 inches.
        SizeCase{"normal", PrintSizeMode::Normal, 192, 96, 96, 234, 360, 144, 72},
        // 300 x 150 pixels at 300 per inch: 1 x 0.5 inch.
        SizeCase{"normal, 300 per inch", PrintSizeMode::Normal, 300, 150, 300, 270, 378, 72, 36},
        // Wide: the width meets the margins, 468 x 234.
        SizeCase{"fit, wide", PrintSizeMode::FitToPage, 192, 96, 96, 72, 279, 468, 234},
        // Tall: the height does, 324 x 648.
        SizeCase{"fit, tall", PrintSizeMode::FitToPage, 96, 192, 96, 144, 72, 324, 648},
        // A 2 x 1 pixel picture is enlarged just the same.
        SizeCase{"fit, tiny", PrintSizeMode::FitToPage, 2, 1, 96, 72, 279, 468, 234},
        // Exactly the area's aspect ratio: both sides meet the margins.
        SizeCase{"fit, same aspect", PrintSizeMode::FitToPage, 468, 648, 96, 72, 72, 468, 648},
        SizeCase{"stretch", PrintSizeMode::StretchToPage, 192, 96, 96, 72, 72, 468, 648},
        // 6 x 4 inches whatever the picture.
        SizeCase{"specified", PrintSizeMode::SpecifiedSize, 192, 96, 96, 90, 252, 432, 288},
        SizeCase{"specified, tall picture", PrintSizeMode::SpecifiedSize, 10, 500, 96, 90, 252, 432, 288}),
    [](const auto& info) {
      std::string name;
      for (const char* p = info.param.what; *p; ++p)
        if (std::isalnum(static_cast<unsigned char>(*p))) name += *p;
      return name;
    });

struct PositionCase {
  PrintPosition position;
  double x, y;          // 6 x 4 inches inside the margins
  double bigX, bigY;    // 10 x 13 inches (720 x 936 points), larger than the area
};

class PositionTest : public ::testing::TestWithParam<PositionCase> {};

TEST_P(PositionTest, AnchorsThePictureInsideTheMargins) {
  const PositionCase& c = GetParam();
  PrintSettings s;
  s.position = c.position;
  s.sizeMode = PrintSizeMode::SpecifiedSize;
  PrintPlacement p = PlacePicture(kLetterW, kLetterH, s, 192, 96);
  ASSERT_TRUE(p.ok);
  ExpectRect(p.picture, c.x, c.y, 432, 288);

  // Too large for the area: it reaches beyond it on the far side (both
  // sides when centred); the printer clips it to the area.
  s.sizeMode = PrintSizeMode::Normal;
  p = PlacePicture(kLetterW, kLetterH, s, 960, 1248);
  ASSERT_TRUE(p.ok);
  ExpectRect(p.picture, c.bigX, c.bigY, 720, 936);
  ExpectRect(p.area, 72, 72, 468, 648);
}

INSTANTIATE_TEST_SUITE_P(NinePositions, PositionTest,
                         ::testing::Values(PositionCase{PrintPosition::TopLeft, 72, 72, 72, 72},
                                           PositionCase{PrintPosition::Top, 90, 72, -54, 72},
                                           PositionCase{PrintPosition::TopRight, 108, 72, -180, 72},
                                           PositionCase{PrintPosition::Left, 72, 252, 72, -72},
                                           PositionCase{PrintPosition::Center, 90, 252, -54, -72},
                                           PositionCase{PrintPosition::Right, 108, 252, -180, -72},
                                           PositionCase{PrintPosition::BottomLeft, 72, 432, 72, -216},
                                           PositionCase{PrintPosition::Bottom, 90, 432, -54, -216},
                                           PositionCase{PrintPosition::BottomRight, 108, 432, -180, -216}));

TEST(PrintPlacementTest, MarginsAreMeasuredFromEachEdge) {
  PrintSettings s;
  s.sizeMode = PrintSizeMode::StretchToPage;
  s.marginTop = 0.5;
  s.marginLeft = 2;
  s.marginRight = 1.5;
  s.marginBottom = 0.25;
  PrintPlacement p = PlacePicture(kLetterW, kLetterH, s, 10, 10);
  ASSERT_TRUE(p.ok);
  ExpectRect(p.area, 144, 36, 360, 738);
  ExpectRect(p.picture, 144, 36, 360, 738);

  // Landscape Letter, no margins: the whole sheet.
  s.marginTop = s.marginLeft = s.marginRight = s.marginBottom = 0;
  p = PlacePicture(kLetterH, kLetterW, s, 10, 10);
  ASSERT_TRUE(p.ok);
  ExpectRect(p.picture, 0, 0, kLetterH, kLetterW);
}

TEST(PrintPlacementTest, TheUnitShownChangesNoLength) {
  EXPECT_DOUBLE_EQ(ToUnit(1, MeasureUnit::Centimeters), 2.54);
  EXPECT_DOUBLE_EQ(ToUnit(6, MeasureUnit::Centimeters), 15.24);
  EXPECT_DOUBLE_EQ(FromUnit(10.16, MeasureUnit::Centimeters), 4);
  EXPECT_EQ(ToUnit(1.25, MeasureUnit::Inches), 1.25);
  EXPECT_EQ(FromUnit(1.25, MeasureUnit::Inches), 1.25);

  PrintSettings inches;
  inches.sizeMode = PrintSizeMode::SpecifiedSize;
  PrintSettings cm = inches;
  cm.unit = MeasureUnit::Centimeters;
  const PrintPlacement a = PlacePicture(kLetterW, kLetterH, inches, 192, 96);
  const PrintPlacement b = PlacePicture(kLetterW, kLetterH, cm, 192, 96);
  EXPECT_EQ(a.picture, b.picture);
  EXPECT_EQ(a.area, b.area);
}

TEST(PrintPlacementTest, BadMarginsAndSizesAreClampedOrRefused) {
  struct Case {
    const char* what;
    double top, left, right, bottom;
    PrintSizeMode mode;
    double specW, specH;
    double paperW, paperH;
    int picW, picH;
    bool ok;
    const char* problem;  // substring of PlacementProblem when refused
  };
  const Case cases[] = {
      {"negative margins count as none", -1, -2, -0.5, -3, PrintSizeMode::StretchToPage, 6, 4, 612, 792, 5, 5, true, ""},
      {"margins that are not numbers count as none", kNaN, kNaN, kNaN, kNaN, PrintSizeMode::StretchToPage, 6, 4, 612, 792,
       5, 5, true, ""},
      {"left and right meet", 1, 4.25, 4.25, 1, PrintSizeMode::FitToPage, 6, 4, 612, 792, 5, 5, false, "margins"},
      {"margins beyond the page", 12, 1, 1, 1, PrintSizeMode::Normal, 6, 4, 612, 792, 5, 5, false, "margins"},
      {"infinite margin", 1, kInf, 1, 1, PrintSizeMode::Normal, 6, 4, 612, 792, 5, 5, false, "margins"},
      {"zero width", 1, 1, 1, 1, PrintSizeMode::SpecifiedSize, 0, 4, 612, 792, 5, 5, false, "width and height"},
      {"negative height", 1, 1, 1, 1, PrintSizeMode::SpecifiedSize, 6, -4, 612, 792, 5, 5, false, "width and height"},
      {"size not a number", 1, 1, 1, 1, PrintSizeMode::SpecifiedSize, kNaN, 4, 612, 792, 5, 5, false,
       "width and height"},
      {"a zero size matters only in its own mode", 1, 1, 1, 1, PrintSizeMode::FitToPage, 0, 0, 612, 792, 5, 5, true, ""},
      {"no picture", 1, 1, 1, 1, PrintSizeMode::FitToPage, 6, 4, 612, 792, 0, 5, false, "no picture"},
      {"no paper", 1, 1, 1, 1, PrintSizeMode::FitToPage, 6, 4, 0, 792, 5, 5, false, "paper"},
      {"paper not a number", 1, 1, 1, 1, PrintSizeMode::FitToPage, 6, 4, kNaN, 792, 5, 5, false, "paper"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PrintSettings s;
    s.marginTop = c.top;
    s.marginLeft = c.left;
    s.marginRight = c.right;
    s.marginBottom = c.bottom;
    s.sizeMode = c.mode;
    s.specifiedWidth = c.specW;
    s.specifiedHeight = c.specH;
    const PrintPlacement p = PlacePicture(c.paperW, c.paperH, s, c.picW, c.picH);
    EXPECT_EQ(p.ok, c.ok);
    const std::string problem = PlacementProblem(p, s, c.picW, c.picH);
    if (c.ok) {
      EXPECT_EQ(problem, "");
      EXPECT_FALSE(p.picture.IsEmpty());
      EXPECT_TRUE(std::isfinite(p.picture.x) && std::isfinite(p.picture.width));
    } else {
      EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
    }
  }
  // Negative margins give the whole sheet, not more.
  PrintSettings s;
  s.sizeMode = PrintSizeMode::StretchToPage;
  s.marginTop = s.marginLeft = s.marginRight = s.marginBottom = -1;
  ExpectRect(PlacePicture(kLetterW, kLetterH, s, 5, 5).picture, 0, 0, kLetterW, kLetterH);
}

TEST(PrintPlacementTest, OutlandishValuesAreBroughtInRange) {
  PrintSettings s;
  s.sizeMode = PrintSizeMode::SpecifiedSize;
  s.specifiedWidth = 1e300;
  s.specifiedHeight = kInf;
  s.position = static_cast<PrintPosition>(42);
  s.pictureDpi = 0;
  s.gamma = kNaN;
  const PrintSettings c = Sanitized(s);
  EXPECT_EQ(c.specifiedWidth, PrintSettings::kMaxInches);
  EXPECT_EQ(c.specifiedHeight, PrintSettings::kMaxInches);
  EXPECT_EQ(c.position, PrintPosition::Center);
  EXPECT_EQ(c.pictureDpi, 96);
  EXPECT_EQ(c.gamma, 1);
  EXPECT_EQ(Sanitized(PrintSettings{.sizeMode = static_cast<PrintSizeMode>(-1)}).sizeMode, PrintSizeMode::FitToPage);
  const PrintPlacement p = PlacePicture(kLetterW, kLetterH, s, 10, 10);
  ASSERT_TRUE(p.ok);
  ExpectRect(p.picture, 72 + (468 - 72000) / 2.0, 72 + (648 - 72000) / 2.0, 72000, 72000);

  for (const auto& [given, used] : {std::pair{0.0, 0.1}, {-2.0, 0.1}, {0.05, 0.1}, {2.2, 2.2}, {100.0, 10.0},
                                    {kInf, 10.0}, {kNaN, 1.0}}) {
    EXPECT_EQ(Sanitized(PrintSettings{.gamma = given}).gamma, used) << given;
  }
}

TEST(GammaTableTest, FollowsTheFormula) {
  const auto identity = GammaTable(1);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(identity[i], i);

  // 255 x (64 / 255)^(1/2) = 127.75; 255 x (128 / 255)^2 = 64.25;
  // 255 x (200 / 255)^(1 / 2.2) = 228.34.
  const auto brighter = GammaTable(2);
  EXPECT_EQ(brighter[0], 0);
  EXPECT_EQ(brighter[64], 128);
  EXPECT_EQ(brighter[255], 255);
  EXPECT_EQ(GammaTable(0.5)[128], 64);
  EXPECT_EQ(GammaTable(2.2)[200], 228);
  // Gamma 0 is taken as the smallest gamma, not a division by zero.
  EXPECT_EQ(GammaTable(0), GammaTable(PrintSettings::kMinGamma));
  EXPECT_EQ(GammaTable(0)[254], 245);  // 255 x (254 / 255)^10 = 245.17
}

}  // namespace
}  // namespace velmora
