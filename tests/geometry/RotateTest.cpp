#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "geometry/GeometryPictures.h"
#include "geometry/Reference.h"
#include "imaging/GeometryDetail.h"
#include "imaging/ImageProc.h"
#include "imaging/Pictures.h"

namespace velmora::test {
namespace {

using F = IEPixelFormat;
namespace g = geometry;

IEBitmap Rotated(const IEBitmap& pic, bool aa, double angle, Color bg = kProcessorBackground,
                 Color processorBackground = clWhite) {
  IEBitmap b;
  b.Assign(pic);
  BitmapTarget t(b);
  ImageProc proc(t);
  proc.AutoUndo = false;
  proc.Background = processorBackground;
  proc.Rotate(aa, 0, angle, bg);
  return b;
}

TEST(RotateAngle, Split) {
  struct Case {
    double angle;
    int turns;
    double rest;
  };
  const Case cases[] = {
      {90, 1, 0},          {-90, 3, 0},      {180, 2, 0},     {-180, 2, 0},       {270, 3, 0},
      {-270, 1, 0},        {450, 1, 0},      {360, 0, 0},     {720, 0, 0},        {45, 0, 45},
      {-45, 0, -45},       {45.001, 1, -44.999}, {135.0005, 1, 45}, {359, 0, -1},  {-400, 0, -40},
      {0.0001, 0, 0},      {12.5, 0, 12.5},  {-100, 3, -10},
  };
  for (const Case& c : cases) {
    int turns = -1;
    double rest = 99;
    ASSERT_TRUE(g::SplitAngle(c.angle, turns, rest)) << c.angle;
    EXPECT_EQ(turns, c.turns) << c.angle;
    EXPECT_NEAR(rest, c.rest, 1e-9) << c.angle;
  }
  int turns;
  double rest;
  EXPECT_FALSE(g::SplitAngle(std::nan(""), turns, rest));
  EXPECT_FALSE(g::SplitAngle(std::numeric_limits<double>::infinity(), turns, rest));
  EXPECT_FALSE(g::SplitAngle(1e308, turns, rest));  // thousandths overflow
  EXPECT_TRUE(g::SplitAngle(1e300, turns, rest));
  EXPECT_LE(std::fabs(rest), 45);
}

TEST(RotateAngle, Labels) {
  EXPECT_EQ(g::RotateLabel(-90), "Rotate -90");
  EXPECT_EQ(g::RotateLabel(12.5), "Rotate 12.5");
  EXPECT_EQ(g::RotateLabel(0.1), "Rotate 0.1");
  EXPECT_EQ(g::RotateLabel(1.0 / 3), "Rotate 0.333333333333333");
  EXPECT_EQ(g::RotateLabel(1e20), "Rotate 1E20");
  EXPECT_EQ(g::RotateLabel(-1.5e-7), "Rotate -1.5E-7");
}

TEST(Rotate, ShearSizesOfTheWorkedExample) {
  const g::ShearGeometry s = g::ShearSizes(100, 50, 10);
  EXPECT_EQ(s.w1, 105);
  EXPECT_EQ(s.v, 1);
  EXPECT_EQ(s.h2, 67);
  EXPECT_EQ(s.u, 2);
  EXPECT_EQ(s.w3, 108);
  EXPECT_TRUE(s.positive);
  EXPECT_FALSE(g::ShearSizes(100, 50, -10).positive);
}

TEST(Rotate, TenDegreesOfAHundredByFifty) {
  const IEBitmap pic = Structured(100, 50, F::ie24RGB);
  const Color bg = 0x00336699;  // red 0x99, green 0x66, blue 0x33
  for (bool viaProcessor : {true, false}) {
    const IEBitmap r = viaProcessor ? Rotated(pic, false, 10, kProcessorBackground, bg) : Rotated(pic, false, 10, bg);
    ASSERT_EQ(r.Width(), 108);
    ASSERT_EQ(r.Height(), 67);
    for (auto [x, y] : {std::pair{0, 0}, {107, 0}, {0, 66}, {107, 66}}) EXPECT_EQ(r.Pixel24(x, y), RGB(0x99, 0x66, 0x33));
  }
  const IEBitmap aa = Rotated(pic, true, 10, 0x00446688);
  EXPECT_EQ(aa.Width(), 108);
  EXPECT_EQ(aa.Height(), 67);
  EXPECT_EQ(aa.Pixel24(0, 0), RGB(0x88, 0x66, 0x44));
}

TEST(Rotate, QuarterTurnsAreExact) {
  const IEBitmap pic = Random(7, 4, F::ie24RGB, 21);
  struct Case {
    double angle;
    int ccw;
  };
  for (const Case& c : {Case{90, 1}, Case{-90, 3}, Case{180, 2}, Case{270, 3}, Case{-270, 1}, Case{450, 1}})
    for (bool aa : {false, true}) {
      const IEBitmap r = Rotated(pic, aa, c.angle);
      EXPECT_TRUE(SamePixels(r, ReferenceQuarterTurns(pic, c.ccw))) << c.angle << (aa ? " aa" : "");
    }
  // Counter-clockwise: the top-right pixel comes to the top-left corner.
  EXPECT_EQ(Rotated(pic, false, 90).Pixel24(0, 0), pic.Pixel24(6, 0));
  EXPECT_EQ(Rotated(pic, false, -90).Pixel24(0, 0), pic.Pixel24(0, 3));
}

TEST(Rotate, QuarterTurnFastEqualsPlain) {
  for (F f : {F::ie8g, F::ie16g, F::ie24RGB, F::ie32RGB, F::ieRGB48})
    for (auto [w, h] : {std::pair{1, 1}, {1, 5}, {67, 3}, {70, 70}, {130, 65}}) {
      const IEBitmap src = Random(w, h, f, w + h);
      for (int turns = 1; turns < 4; ++turns) {
        IEBitmap got;
        ASSERT_TRUE(g::QuarterTurn(src, got, turns));
        EXPECT_TRUE(SamePixels(got, ReferenceQuarterTurns(src, turns)))
            << PixelFormatName(f) << " " << w << "x" << h << " turns " << turns;
      }
    }
}

TEST(Rotate, FullTurnsRecordAnUndoCopyAndZeroRecordsNothing) {
  LayersTarget t(1);
  t.LayerBitmap(0) = Random(5, 4, F::ie24RGB);
  const IEBitmap before = t.LayerBitmap(0);
  ImageProc proc(t);
  proc.Rotate(true, 0, 0);
  EXPECT_TRUE(proc.UndoList().empty());
  EXPECT_TRUE(t.events.empty());
  for (double a : {360.0, 720.0}) {
    proc.Rotate(true, 0, a);
    EXPECT_TRUE(SamePixels(t.LayerBitmap(0), before));
    ASSERT_FALSE(proc.UndoList().empty());
    EXPECT_EQ(proc.UndoList().back().label, a == 360 ? "Rotate 360" : "Rotate 720");
  }
  EXPECT_EQ(t.events.back(), "finish");
  for (double bad : {std::nan(""), std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()}) {
    t.events.clear();
    proc.Rotate(false, 0, bad);
    EXPECT_TRUE(t.events.empty());
    EXPECT_TRUE(SamePixels(t.LayerBitmap(0), before));
  }
}

TEST(Rotate, AntiAliasingLiftsAnOddGreyLevelByOne) {
  for (auto [level, want] : {std::pair{101, 102}, {100, 100}, {255, 255}}) {
    const IEBitmap r = Rotated(Solid(40, 30, RGB(level, level, level)), true, 3);
    for (int y = r.Height() / 2 - 5; y < r.Height() / 2 + 5; ++y)
      for (int x = r.Width() / 2 - 5; x < r.Width() / 2 + 5; ++x)
        ASSERT_EQ(r.Pixel24(x, y), RGB(want, want, want)) << level << " at " << x << "," << y;
    const IEBitmap plain = Rotated(Solid(40, 30, RGB(level, level, level)), false, 3);
    EXPECT_EQ(plain.Pixel24(plain.Width() / 2, plain.Height() / 2), RGB(level, level, level));
  }
}

TEST(Rotate, AlphaCornersBecomeTransparent) {
  for (bool aa : {false, true}) {
    IEBitmap pic = Structured(30, 20, F::ie24RGB);
    pic.AlphaChannel();  // all opaque
    const IEBitmap r = Rotated(pic, aa, 20, clWhite);
    ASSERT_TRUE(r.HasAlphaChannel());
    EXPECT_FALSE(r.AlphaAllOpaque());
    EXPECT_EQ(r.AlphaChannelIfAny()->Width(), r.Width());
    EXPECT_EQ(r.Alpha(0, 0), 0);
    EXPECT_EQ(r.Alpha(r.Width() - 1, r.Height() - 1), 0);
    EXPECT_EQ(r.Alpha(r.Width() / 2, r.Height() / 2), 255);
  }
  EXPECT_FALSE(Rotated(Structured(30, 20, F::ie24RGB), true, 20).HasAlphaChannel());
  // Quarter turns turn the alpha channel with the picture.
  IEBitmap pic = Structured(5, 3, F::ie24RGB);
  pic.SetAlpha(4, 0, 7);
  const IEBitmap r = Rotated(pic, true, 90);
  EXPECT_EQ(r.Alpha(0, 0), 7);
}

TEST(Rotate, ShearFastEqualsPlain) {
  // 30 degrees: sin is 1/2, so every other column of pass 2 has the weight 0.
  const double angles[] = {10, -10, 45, -45, 0.5, -33.3, 44.999, 0.001, 27.25, 30, -30};
  for (F f : {F::ie8g, F::ie16g, F::ie24RGB, F::ie32RGB})
    for (auto [w, h] : {std::pair{1, 1}, {1, 7}, {7, 1}, {2, 2}, {3, 40}, {37, 23}})
      for (double a : angles)
        for (bool aa : {false, true}) {
          const IEBitmap src = (w + h) % 2 ? Random(w, h, f, w * 3 + h) : Structured(w, h, f);
          const uint8_t bg[6] = {17, 200, 93, 255, 1, 2};
          const g::ShearGeometry sg = g::ShearSizes(w, h, a);
          IEBitmap got;
          ASSERT_TRUE(g::ShearRotate(src, got, sg, aa, bg, {}));
          const bool blends = aa && g::ByteChannels(f) > 0;
          ASSERT_TRUE(SamePixels(got, ReferenceShear(src, sg, blends, bg)))
              << PixelFormatName(f) << " " << w << "x" << h << " by " << a << (aa ? " aa" : "");
        }
}

TEST(Rotate, BiLevelPictures) {
  const IEBitmap bits = Random(13, 7, F::ie1g, 2);
  const IEBitmap r = Rotated(bits, false, 90);
  ASSERT_EQ(r.PixelFormat(), F::ie1g);
  ASSERT_EQ(r.Width(), 7);
  for (int y = 0; y < 13; ++y)
    for (int x = 0; x < 7; ++x) ASSERT_EQ(r.Bit(x, y), bits.Bit(12 - y, x)) << x << "," << y;
  const IEBitmap white = Rotated(bits, false, 10, clWhite), black = Rotated(bits, false, 10, clBlack);
  EXPECT_EQ(white.PixelFormat(), F::ie1g);
  EXPECT_TRUE(white.Bit(0, 0));
  EXPECT_FALSE(black.Bit(0, 0));
  EXPECT_EQ(Rotated(bits, true, 10).PixelFormat(), F::ie24RGB);
}

TEST(Rotate, SameResultWhateverTheThreadCount) {
  const IEBitmap src = Structured(301, 203, F::ie24RGB);
  for (auto [aa, angle] : {std::pair{true, 10.0}, {true, -27.5}, {false, 33.0}, {true, 100.0}}) {
    IEBitmap first;
    ForThreadCounts([&](int n) {
      IEBitmap r = Rotated(src, aa, angle);
      if (n == 1)
        first = r;
      else
        EXPECT_TRUE(SamePixels(r, first)) << angle << " with " << n << " threads";
    });
  }
}

TEST(Rotate, ProgressRisesToOneHundred) {
  LayersTarget t(1);
  t.LayerBitmap(0) = Structured(120, 80, F::ie24RGB);
  ImageProc proc(t);
  proc.Rotate(true, 0, -12.5);
  EXPECT_EQ(proc.UndoList().back().label, "Rotate -12.5");
  ASSERT_GT(t.progress.size(), 2u);
  for (std::size_t i = 1; i < t.progress.size(); ++i) EXPECT_LE(t.progress[i - 1], t.progress[i]);
  EXPECT_GE(t.progress.front(), 0);
  EXPECT_EQ(t.progress.back(), 100);
  EXPECT_EQ(t.events, (std::vector<std::string>{"undo", "repaint", "changed", "finish"}));
}

}  // namespace
}  // namespace velmora::test
