// Colour values, colour identifiers and the HSL conversions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ostream>

#include "Pictures.h"
#include "imaging/Color.h"

namespace velmora {
namespace {

using test::RGB;

TEST(Color, ColorToTripleTakesRedFromTheLowestByte) {
  EXPECT_EQ(ColorToTriple(0x00123456), RGB(0x56, 0x34, 0x12));
  EXPECT_EQ(CreateRGB(1, 2, 3), RGB(1, 2, 3));
  EXPECT_EQ(TripleToPacked(RGB(1, 2, 3)), 0x010203);
  EXPECT_EQ(TripleToColor(RGB(1, 2, 3)), 0x030201u);
}

TEST(Color, SystemColoursAreResolvedThroughTheDesktopTable) {
  const Color saved = SystemColor(15);
  SetSystemColor(15, 0x00102030);
  EXPECT_EQ(ColorToTriple(clBtnFace), RGB(0x30, 0x20, 0x10));
  SetSystemColor(15, saved);
  EXPECT_EQ(ColorToTriple(clBtnFace), ColorToTriple(saved));
}

// --- Colour identifiers ----------------------------------------------------------

struct IdentCase {
  const char* text;
  Color value;
};

void PrintTo(const IdentCase& c, std::ostream* os) { *os << c.text; }

class ParseIdent : public testing::TestWithParam<IdentCase> {};

TEST_P(ParseIdent, ReadsNamesHexAndDecimal) {
  const auto v = ParseColorIdent(GetParam().text);
  ASSERT_TRUE(v.has_value()) << GetParam().text;
  EXPECT_EQ(*v, GetParam().value) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Forms, ParseIdent,
    testing::Values(IdentCase{"clRed", 0x000000FF}, IdentCase{"clwhite", 0x00FFFFFF},
                    IdentCase{"clMoneyGreen", 0x00C0DCC0}, IdentCase{"clMedGray", 0x00A4A0A0},
                    IdentCase{"$000080FF", 0x000080FF}, IdentCase{"$ff", 0xFF}, IdentCase{"255", 255},
                    IdentCase{"-16777201", clBtnFace}, IdentCase{"clBtnFace", clBtnFace},
                    // System colours carry the desktop's own index numbers.
                    IdentCase{"clScrollBar", 0xFF000000}, IdentCase{"clInfoBk", 0xFF000018},
                    IdentCase{"clHotLight", 0xFF00001A}, IdentCase{"clGradientActiveCaption", 0xFF00001B},
                    IdentCase{"clGradientInactiveCaption", 0xFF00001C}, IdentCase{"clMenuHighlight", 0xFF00001D},
                    IdentCase{"clMenuBar", 0xFF00001E}));

TEST(ColorIdent, RejectsWhatIsNoColour) {
  for (const char* bad : {"", "clNoSuchColour", "$", "12x", "$1FFFFFFFF", "--5"})
    EXPECT_FALSE(ParseColorIdent(bad).has_value()) << bad;
}

TEST(ColorIdent, WritesNamesOrEightHexDigits) {
  EXPECT_EQ(FormatColorIdent(0x000080FF), "$000080FF");  // red 255, green 128, blue 0
  EXPECT_EQ(FormatColorIdent(0x00000001), "$00000001");
  EXPECT_EQ(FormatColorIdent(clWhite), "clWhite");
  EXPECT_EQ(FormatColorIdent(0x00F0CAA6), "clSkyBlue");
  EXPECT_EQ(FormatColorIdent(clBtnFace), "clBtnFace");
  EXPECT_EQ(FormatColorIdent(0xFF00001E), "clMenuBar");
}

TEST(ColorIdent, EveryWrittenColourReadsBack) {
  for (Color c : {0x00000000u, 0x000080FFu, 0x00ABCDEFu, 0x00808080u, 0xFF000000u, 0xFF00000Fu, 0xFF000018u,
                  0xFF000019u, 0xFF00001Au, 0xFF00001Eu, 0x12345678u}) {
    const auto back = ParseColorIdent(FormatColorIdent(c));
    ASSERT_TRUE(back.has_value()) << FormatColorIdent(c);
    EXPECT_EQ(*back, c) << FormatColorIdent(c);
  }
}

// --- HSL ----------------------------------------------------------------------------

struct HslCase {
  IETriple rgb;
  double h, s, l;
};

void PrintTo(const HslCase& c, std::ostream* os) {
  *os << "rgb " << int(c.rgb.r) << "," << int(c.rgb.g) << "," << int(c.rgb.b);
}

class Hsl : public testing::TestWithParam<HslCase> {};

TEST_P(Hsl, ConvertsBothWays) {
  const HslCase c = GetParam();
  double h, s, l;
  RGBToHSL(c.rgb, h, s, l);
  EXPECT_NEAR(h, c.h, 1e-12);
  EXPECT_NEAR(s, c.s, 1e-12);
  EXPECT_NEAR(l, c.l, 1e-12);
  EXPECT_EQ(HSLToRGB(c.h, c.s, c.l), c.rgb);
}

INSTANTIATE_TEST_SUITE_P(Colours, Hsl,
                         testing::Values(HslCase{RGB(255, 0, 0), 0, 1, 0.5}, HslCase{RGB(0, 255, 0), 1.0 / 3, 1, 0.5},
                                         HslCase{RGB(0, 0, 255), 2.0 / 3, 1, 0.5},
                                         HslCase{RGB(255, 255, 0), 1.0 / 6, 1, 0.5},
                                         HslCase{RGB(255, 0, 255), 5.0 / 6, 1, 0.5},
                                         HslCase{RGB(0, 0, 128), 2.0 / 3, 1, 128.0 / 510},
                                         HslCase{RGB(255, 255, 255), 0, 0, 1}, HslCase{RGB(0, 0, 0), 0, 0, 0},
                                         HslCase{RGB(128, 128, 128), 0, 0, 128.0 / 255},
                                         // Light colours use d / (2 - max - min).
                                         HslCase{RGB(255, 128, 128), 0, 1, 383.0 / 510}));

TEST(Hsl, RoundTripStaysWithinOneLevel) {
  int worst = 0;
  for (int r = 0; r < 256; r += 3)
    for (int g = 0; g < 256; g += 5)
      for (int b = 0; b < 256; b += 7) {
        double h, s, l;
        RGBToHSL(RGB(r, g, b), h, s, l);
        ASSERT_GE(h, 0);
        ASSERT_LT(h, 1);
        const IETriple back = HSLToRGB(h, s, l);
        worst = std::max({worst, std::abs(back.r - r), std::abs(back.g - g), std::abs(back.b - b)});
      }
  EXPECT_LE(worst, 1);
}

TEST(Hsl, LightnessOfAGreyIsItsLevelOver255) {
  for (int v = 0; v < 256; ++v) {
    double h, s, l;
    RGBToHSL(RGB(v, v, v), h, s, l);
    EXPECT_EQ(l, v / 255.0) << v;  // exactly
    EXPECT_EQ(HSLToRGB(h, s, l), RGB(v, v, v));
  }
}

// Channels are rounded with halves to even, as nearbyint does in the
// default rounding mode, over the whole range and a little beyond it.
TEST(Hsl, ChannelsRoundLikeNearbyint) {
  for (int k = -40; k <= 2 * 255 * 8 + 40; ++k) {
    const double l = k / (2.0 * 255 * 8);  // steps of 1/16 level, halves included
    const double expected = std::clamp(std::nearbyint(std::clamp(l, 0.0, 1.0) * 255), 0.0, 255.0);
    ASSERT_EQ(HSLToRGB(0.3, 0, l).r, static_cast<int>(expected)) << "lightness " << l;
  }
}

TEST(Hsl, HueWrapsOnceAndSaturationAndLightnessAreClamped) {
  EXPECT_EQ(HSLToRGB(-2.0 / 3, 1, 0.5), RGB(0, 255, 0));
  EXPECT_EQ(HSLToRGB(1 + 1.0 / 3, 1, 0.5), RGB(0, 255, 0));
  EXPECT_EQ(HSLToRGB(1.0 / 3, 7, 0.5), RGB(0, 255, 0));
  EXPECT_EQ(HSLToRGB(0.3, 1, 1.5), RGB(255, 255, 255));
  EXPECT_EQ(HSLToRGB(0.3, 1, -0.2), RGB(0, 0, 0));
}

TEST(Hsl, ZeroSaturationIsGreyWhateverTheHue) {
  for (double h : {0.0, 0.25, 0.7, 1.0}) {
    EXPECT_EQ(HSLToRGB(h, 0, 0.5), RGB(128, 128, 128)) << h;  // 127.5 rounds to even
    EXPECT_EQ(HSLToRGB(h, -0.5, 0.25), RGB(64, 64, 64)) << h;
  }
}

}  // namespace
}  // namespace velmora
