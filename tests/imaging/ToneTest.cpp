// Colour and tone operations: worked values, edge cases, behaviour under a
// selection, and independence from the number of threads.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "Pictures.h"
#include "imaging/Color.h"
#include "imaging/ImageProc.h"
#include "imaging/Parallel.h"

namespace velmora {
namespace {

using F = IEPixelFormat;
using test::RGB;
using test::Apply;
using test::Op;

// Runs an operation on a row of pixels and returns the row.
std::vector<IETriple> OnPixels(const std::vector<IETriple>& pixels, const Op& op) {
  IEBitmap pic = test::Row(pixels);
  Apply(pic, op);
  std::vector<IETriple> out;
  for (int x = 0; x < pic.Width(); ++x) out.push_back(pic.Pixel24(x, 1));
  return out;
}

void ExpectAll(const IEBitmap& pic, IETriple t) {
  for (int y = 0; y < pic.Height(); ++y)
    for (int x = 0; x < pic.Width(); ++x) ASSERT_EQ(pic.Pixel24(x, y), t) << x << "," << y;
}

// Each case: an operation, input pixels and the expected output.
struct PixelCase {
  std::string name;
  Op op;
  std::vector<IETriple> in, out;
};

void PrintTo(const PixelCase& c, std::ostream* os) { *os << c.name; }

class WorkedPixels : public testing::TestWithParam<PixelCase> {};

TEST_P(WorkedPixels, GiveTheExpectedValues) {
  const PixelCase& c = GetParam();
  const auto got = OnPixels(c.in, c.op);
  ASSERT_EQ(got.size(), c.out.size());
  for (std::size_t i = 0; i < got.size(); ++i)
    EXPECT_EQ(got[i], c.out[i]) << "pixel " << i << " is (" << int(got[i].r) << "," << int(got[i].g) << ","
                                << int(got[i].b) << ")";
}

Op Abcs(int b, int c, int s) {
  return [=](ImageProc& p) { p.AdjustBrightnessContrastSaturation(b, c, s); };
}
Op Hsl(int h, int s, int l) {
  return [=](ImageProc& p) { p.HSLvar(h, s, l); };
}
Op Tint(int h, int s, double l) {
  return [=](ImageProc& p) { p.Colorize(h, s, l); };
}

INSTANTIATE_TEST_SUITE_P(
    Tone, WorkedPixels,
    testing::Values(
        // Saturation -100 leaves the mean of the three channels (s div 3).
        PixelCase{"GreyMean", Abcs(0, 0, -100), {RGB(10, 20, 40), RGB(255, 0, 0), RGB(255, 255, 254), RGB(1, 0, 0)},
                  {RGB(23, 23, 23), RGB(85, 85, 85), RGB(254, 254, 254), RGB(0, 0, 0)}},
        // Saturation +100 doubles each channel's distance from the mean.
        PixelCase{"DoubleSaturation", Abcs(0, 0, 100), {RGB(100, 150, 200), RGB(0, 0, 255)},
                  {RGB(50, 150, 250), RGB(0, 0, 255)}},
        // bf = 384: (384 x 99 + 256) div 256 = 149; bf = 128: 12928 div 256 = 50.
        PixelCase{"Brighter", Abcs(50, 0, 0), {RGB(100, 100, 100), RGB(255, 0, 1)}, {RGB(149, 149, 149), RGB(255, 0, 1)}},
        PixelCase{"Darker", Abcs(-50, 0, 0), {RGB(100, 100, 100), RGB(0, 0, 0)}, {RGB(50, 50, 50), RGB(0, 0, 0)}},
        // k = 1 / cos(pi / 4) around 170: 100 -> 71.005, 200 -> 212.43.
        PixelCase{"MoreContrast", Abcs(0, 50, 0), {RGB(100, 100, 100), RGB(200, 200, 200), RGB(170, 170, 170)},
                  {RGB(71, 71, 71), RGB(212, 212, 212), RGB(170, 170, 170)}},
        // k = cos(50 x 0.015708): 100 -> 120.503, 200 -> 191.21.
        PixelCase{"LessContrast", Abcs(0, -50, 0), {RGB(100, 100, 100), RGB(200, 200, 200)},
                  {RGB(121, 121, 121), RGB(191, 191, 191)}},
        // Far beyond the slider range the curve is a step at 170; the
        // results are still clamped, never wrapped.
        PixelCase{"ContrastFarOutOfRange", Abcs(0, 300, 0), {RGB(0, 169, 170), RGB(171, 255, 100)},
                  {RGB(255, 255, 170), RGB(0, 0, 255)}},
        PixelCase{"IntensityClamps",
                  [](ImageProc& p) { p.IntensityRGBall(250, 0, -250); },
                  {RGB(5, 7, 250), RGB(4, 7, 251), RGB(0, 255, 255), RGB(255, 0, 0)},
                  {RGB(255, 7, 0), RGB(254, 7, 1), RGB(250, 255, 5), RGB(255, 0, 0)}},
        PixelCase{"HalfLightness", Hsl(0, 0, -50), {RGB(255, 255, 255), RGB(0, 0, 0), RGB(255, 0, 0)},
                  {RGB(128, 128, 128), RGB(0, 0, 0), RGB(0, 0, 0)}},
        PixelCase{"FullLightness", Hsl(0, 0, 100), {RGB(0, 0, 0), RGB(12, 200, 7)},
                  {RGB(255, 255, 255), RGB(255, 255, 255)}},
        PixelCase{"HueHalfTurn", Hsl(180, 0, 0), {RGB(255, 0, 0), RGB(90, 90, 90)}, {RGB(0, 255, 255), RGB(90, 90, 90)}},
        PixelCase{"HueThirds", Hsl(120, 0, 0), {RGB(255, 0, 0), RGB(0, 0, 255)}, {RGB(0, 255, 0), RGB(255, 0, 0)}},
        PixelCase{"HueBackwards", Hsl(-120, 0, 0), {RGB(255, 0, 0)}, {RGB(0, 0, 255)}},
        PixelCase{"NoSaturation", Hsl(0, -100, 0), {RGB(255, 0, 0)}, {RGB(128, 128, 128)}},
        // White: y = 99, v = trunc(108.9) clamped to 99; sector 0 with f = 40
        // gives p = 49 and t = 83.
        PixelCase{"Sepia", Tint(40, 50, 1.1), {RGB(255, 255, 255), RGB(0, 0, 0)}, {RGB(255, 214, 126), RGB(0, 0, 0)}},
        // Full saturation on white: p = 0 and q or t = 99 - 33 = 66 (170).
        PixelCase{"TintSectors", Tint(100, 99, 1.0), {RGB(255, 255, 255)}, {RGB(85, 255, 0)}},
        PixelCase{"TintSector3", Tint(200, 99, 1.0), {RGB(255, 255, 255)}, {RGB(0, 170, 255)}},
        PixelCase{"TintNegativeHue", Tint(-40, 99, 1.0), {RGB(255, 255, 255)}, {RGB(255, 0, 170)}},
        PixelCase{"TintHueAbove359", Tint(400, 99, 1.0), {RGB(255, 255, 255)}, {RGB(255, 170, 0)}},
        // Grey 128: y = 12800 shifted right by 8 = 50; v = 50 or 100 (clamped).
        PixelCase{"TintGrey", Tint(123, 0, 1.0), {RGB(128, 128, 128)}, {RGB(129, 129, 129)}},
        PixelCase{"TintDoubled", Tint(0, 0, 2.0), {RGB(128, 128, 128)}, {RGB(255, 255, 255)}},
        PixelCase{"Grey",
                  [](ImageProc& p) { p.ConvertToGray(); },
                  {RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255), RGB(10, 20, 30), RGB(255, 255, 255)},
                  {RGB(53, 53, 53), RGB(181, 181, 181), RGB(20, 20, 20), RGB(18, 18, 18), RGB(255, 255, 255)}},
        PixelCase{"Negative", [](ImageProc& p) { p.Negative(); }, {RGB(0, 100, 255)}, {RGB(255, 155, 0)}}),
    [](const testing::TestParamInfo<PixelCase>& info) { return info.param.name; });

// --- AdjustBrightnessContrastSaturation ----------------------------------------------------

TEST(AdjustBrightnessContrastSaturation, ZeroChangesNothing) {
  IEBitmap pic = test::Random(37, 23, F::ie24RGB);
  const IEBitmap before = pic;
  Apply(pic, Abcs(0, 0, 0));
  EXPECT_TRUE(test::SamePixels(pic, before));
}

TEST(AdjustBrightnessContrastSaturation, ContrastHundredIsContrastNinetyNine) {
  IEBitmap a = test::Random(37, 23, F::ie24RGB);
  IEBitmap b = a;
  const IEBitmap before = a;
  Apply(a, Abcs(0, 100, 0));
  Apply(b, Abcs(0, 99, 0));
  EXPECT_TRUE(test::SamePixels(a, b));
  EXPECT_FALSE(test::SamePixels(a, before));
}

TEST(AdjustBrightnessContrastSaturation, ExtremesCollapseToOneValue) {
  IEBitmap dark = test::Random(19, 7, F::ie24RGB);
  Apply(dark, Abcs(-100, 0, 0));
  ExpectAll(dark, RGB(1, 1, 1));  // bf = 0 makes g = 1 for every level

  IEBitmap flat = test::Random(19, 7, F::ie24RGB);
  Apply(flat, Abcs(0, -100, 0));
  ExpectAll(flat, RGB(170, 170, 170));  // the contrast table collapses on its pivot
}

// --- Contrast -----------------------------------------------------------------------------

// A grey picture (all three channels alike) from rows of values.
IEBitmap GreyRows(const std::vector<std::vector<int>>& rows) {
  IEBitmap pic(static_cast<int>(rows[0].size()), static_cast<int>(rows.size()), F::ie24RGB);
  for (int y = 0; y < pic.Height(); ++y)
    for (int x = 0; x < pic.Width(); ++x) pic.Pixel24(x, y) = RGB(rows[y][x], rows[y][x], rows[y][x]);
  return pic;
}

void ExpectGreyRows(const IEBitmap& pic, const std::vector<std::vector<int>>& rows) {
  for (int y = 0; y < pic.Height(); ++y)
    for (int x = 0; x < pic.Width(); ++x) EXPECT_EQ(pic.Pixel24(x, y), RGB(rows[y][x], rows[y][x], rows[y][x])) << x << "," << y;
}

TEST(Contrast, ZeroChangesNothing) {
  IEBitmap pic = test::Random(37, 23, F::ie24RGB);
  const IEBitmap before = pic;
  Apply(pic, [](ImageProc& p) { p.Contrast(0); });
  EXPECT_TRUE(test::SamePixels(pic, before));
}

TEST(Contrast, OneIsATenPercentStepWithTruncatedFactor) {
  // Mean 100; f = 72089, so 100 levels above the mean become 109.9991 -> 109.
  IEBitmap pic = GreyRows({{0, 200, 100, 100}, {0, 200, 100, 100}});
  Apply(pic, [](ImageProc& p) { p.Contrast(1); });
  ExpectGreyRows(pic, {{0, 209, 100, 100}, {0, 209, 100, 100}});
}

TEST(Contrast, MeanIsTheMeanOfTruncatedRowMeans) {
  // Row means 2 div 3 = 0 and 5 div 3 = 1 give (0 + 1) div 2 = 0 (the plain
  // mean 7 / 6 would be 1). Amount 10 doubles the distance from it.
  IEBitmap pic = GreyRows({{0, 1, 1}, {1, 2, 2}});
  Apply(pic, [](ImageProc& p) { p.Contrast(10); });
  ExpectGreyRows(pic, {{0, 2, 2}, {2, 4, 4}});
}

TEST(Contrast, NegativeAmountsTruncateTowardTheMean) {
  // Mean 100, f = (1 - 5 / 10) x 65536: 61 -> 100 + trunc(-19.5) = 81.
  IEBitmap pic = GreyRows({{61, 61, 139, 139}, {61, 61, 139, 139}});
  Apply(pic, [](ImageProc& p) { p.Contrast(-25); });
  ExpectGreyRows(pic, {{81, 81, 119, 119}, {81, 81, 119, 119}});
}

TEST(Contrast, OnASelectionUsesTheMeansOfTheWholePicture) {
  IEBitmap pic = GreyRows({{60, 60, 140, 140}, {60, 60, 140, 140}});  // mean 100
  IEMask sel(4, 2, 1);
  sel.SelectRect(0, 0, 1, 1);  // only the 60s: their own mean would leave them alone
  Apply(pic, [](ImageProc& p) { p.Contrast(10); }, &sel);
  ExpectGreyRows(pic, {{20, 20, 140, 140}, {20, 20, 140, 140}});
}

TEST(Contrast, EachChannelHasItsOwnMean) {
  IEBitmap pic = test::Row({RGB(10, 100, 0), RGB(30, 100, 200)});  // means 20, 100, 100
  Apply(pic, [](ImageProc& p) { p.Contrast(10); });
  EXPECT_EQ(pic.Pixel24(0, 0), RGB(0, 100, 0));
  EXPECT_EQ(pic.Pixel24(1, 0), RGB(40, 100, 255));
}

// --- ConvertToGray and Negative on other formats ------------------------------------------

TEST(ConvertToGray, LeavesPicturesOfOtherFormatsAlone) {
  for (F f : {F::ie8g, F::ie1g, F::ie8p, F::ie32RGB}) {
    IEBitmap pic = test::Random(13, 5, f);
    const IEBitmap before = pic;
    Apply(pic, [](ImageProc& p) { p.ConvertToGray(); });
    EXPECT_EQ(pic.PixelFormat(), f);
    EXPECT_TRUE(test::SamePixels(pic, before)) << PixelFormatName(f);
  }
}

TEST(Negative, ComplementsSamplesInTheirOwnFormat) {
  IEBitmap grey(13, 2, F::ie8g);
  grey.Fill(30);
  Apply(grey, [](ImageProc& p) { p.Negative(); });
  EXPECT_EQ(grey.PixelFormat(), F::ie8g);
  EXPECT_EQ(grey.ScanLine(1)[12], 225);

  IEBitmap bits(13, 2, F::ie1g);
  bits.Fill(0);
  bits.SetBit(4, 0, true);
  Apply(bits, [](ImageProc& p) { p.Negative(); });
  EXPECT_EQ(bits.PixelFormat(), F::ie1g);
  for (int x = 0; x < 13; ++x) EXPECT_EQ(bits.Bit(x, 0), x != 4) << x;
}

TEST(Negative, TwiceRestoresThePicture) {
  for (F f : {F::ie1g, F::ie8g, F::ie8p, F::ie16g, F::ie24RGB, F::ie32RGB, F::ieCMYK, F::ieRGB48}) {
    for (int w : {1, 7, 8, 13, 64}) {
      IEBitmap pic = test::Random(w, 3, f, static_cast<uint32_t>(w));
      const IEBitmap before = pic;
      Apply(pic, [](ImageProc& p) {
        p.Negative();
        p.Negative();
      });
      EXPECT_TRUE(test::SamePixels(pic, before)) << PixelFormatName(f) << " width " << w;
    }
  }
}

// --- HSLvar against the plain per-pixel conversion ----------------------------------------

// HSLvar remembers the result per colour; every pixel must still get
// exactly what converting it on its own gives, whether its colour repeats,
// shares a remembered slot with others or appears once.
TEST(HSLvar, EqualsConvertingEachPixelOnItsOwn) {
  IEBitmap pic = test::Random(300, 200, F::ie24RGB, 31);
  for (int y = 0; y < 200; y += 2)  // every other row: a few repeating colours
    for (int x = 0; x < 300; ++x) pic.Pixel24(x, y) = RGB((x / 7) * 3, y, 255 - (x / 13));
  pic.Pixel24(5, 1) = RGB(0, 0, 0);  // the colour whose bits are all zero, too
  const IEBitmap before = pic;
  for (auto [h, s, l] : {std::tuple{30, 0, 0}, std::tuple{-180, 40, -20}, std::tuple{10, 0, 30}}) {
    IEBitmap out = before;
    Apply(out, Hsl(h, s, l));
    for (int y = 0; y < 200; ++y)
      for (int x = 0; x < 300; ++x) {
        double hh, ss, ll;
        RGBToHSL(before.Pixel24(x, y), hh, ss, ll);
        ASSERT_EQ(out.Pixel24(x, y), HSLToRGB(hh + h / 360.0, ss + s / 100.0, ll + l / 100.0))
            << h << "," << s << "," << l << " at " << x << "," << y;
      }
  }
}

// --- Every operation: selections and threads -----------------------------------------------

struct NamedOp {
  const char* name;
  Op op;
};

void PrintTo(const NamedOp& o, std::ostream* os) { *os << o.name; }

const std::vector<NamedOp>& AllOperations() {
  static const std::vector<NamedOp> ops = {
      {"Brightness", Abcs(30, 0, 0)},
      {"BrightnessContrastSaturation", Abcs(-20, 45, 60)},
      {"Desaturate", Abcs(0, 0, -70)},
      {"Contrast", [](ImageProc& p) { p.Contrast(35); }},
      {"ContrastDown", [](ImageProc& p) { p.Contrast(-40); }},
      {"IntensityRGBall", [](ImageProc& p) { p.IntensityRGBall(40, -30, 200); }},
      {"HSLvar", Hsl(70, -20, 15)},
      {"Colorize", Tint(40, 50, 1.1)},
      {"ConvertToGray", [](ImageProc& p) { p.ConvertToGray(); }},
      {"Negative", [](ImageProc& p) { p.Negative(); }},
  };
  return ops;
}

class EveryOperation : public testing::TestWithParam<NamedOp> {};

// Point operations give every selected pixel the value it gets without a
// selection (Contrast included: its means are the whole picture's), and
// leave every other pixel exactly as it was.
TEST_P(EveryOperation, ChangesOnlyTheSelectionAndThereAsOnTheWholePicture) {
  const IEBitmap original = test::Random(40, 30, F::ie24RGB, 11);
  IEBitmap whole = original;
  Apply(whole, GetParam().op);
  IEMask sel(40, 30, 1);
  sel.SelectRect(5, 7, 31, 20);
  for (int x = 8; x < 20; ++x) sel.SetPixel(x, 10, 0);
  sel.SyncBox();
  IEBitmap part = original;
  Apply(part, GetParam().op, &sel);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x)
      ASSERT_EQ(part.Pixel24(x, y), sel.GetPixel(x, y) ? whole.Pixel24(x, y) : original.Pixel24(x, y))
          << x << "," << y;
}

TEST_P(EveryOperation, GivesTheSameResultOnOneThreadAndOnFour) {
  const IEBitmap original = test::Random(97, 131, F::ie24RGB, 12);
  IEMask bitSel(97, 131, 1);
  bitSel.SelectRect(3, 9, 80, 120);
  IEMask feather(97, 131, 8);
  std::mt19937 rng(13);
  for (int y = 5; y < 125; ++y)
    for (int x = 2; x < 90; ++x) feather.SetPixel(x, y, static_cast<int>(rng() % 256));
  feather.SyncBox();
  const int saved = ParallelThreadCount();
  for (const IEMask* sel : std::vector<const IEMask*>{nullptr, &bitSel, &feather}) {
    IEBitmap serial = original, parallel = original;
    SetParallelThreadCount(1);
    Apply(serial, GetParam().op, sel);
    SetParallelThreadCount(4);
    Apply(parallel, GetParam().op, sel);
    EXPECT_TRUE(test::SamePixels(serial, parallel)) << (sel ? sel->Depth() : 0) << "-bit selection";
    EXPECT_FALSE(test::SamePixels(serial, original));
  }
  SetParallelThreadCount(saved);
}

INSTANTIATE_TEST_SUITE_P(Tone, EveryOperation, testing::ValuesIn(AllOperations()),
                         [](const testing::TestParamInfo<NamedOp>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velmora
