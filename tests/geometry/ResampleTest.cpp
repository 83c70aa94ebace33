#include <gtest/gtest.h>

#include <climits>
#include <cmath>
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

IEBitmap Resampled(const IEBitmap& pic, int w, int h, ResampleFilter f) {
  IEBitmap b;
  b.Assign(pic);
  BitmapTarget t(b);
  ImageProc proc(t);
  proc.AutoUndo = false;
  proc.Resample(w, h, f);
  return b;
}

// ---------------------------------------------------------------------------
// Sizes

TEST(ResampleSize, Rules) {
  struct Case {
    int W, H, nw, nh, W2, H2;
  };
  const Case cases[] = {
      {1000, 600, 220, -1, 220, 132},  // the preview
      {600, 1000, 250, -1, 250, 416},  // thumbnails of a portrait photo
      {600, 1000, -1, 250, 150, 250},
      {600, 1000, 0, 0, 600, 1000},     // 0 keeps
      {600, 1000, -300, 200, 300, 200}, // other negatives: absolute value
      {640, 480, 0, -1, 640, 480},
      {640, 480, -1, 0, 1, 480},        // 0 x W div H is 0, raised to 1
      {1000, 10, 50, -1, 50, 1},        // 50 x 10 div 1000 is 0, raised to 1
      {7, 3, -1, 10, 23, 10},           // div truncates: 70 / 3
      {60000, 1, -1, 100000, 1705032704, 100000},  // 6e9 wraps at 32 bits
  };
  for (const Case& c : cases) {
    int64_t w = 0, h = 0;
    g::ResampleTargetSize(c.W, c.H, c.nw, c.nh, w, h);
    EXPECT_EQ(w, c.W2) << c.W << "x" << c.H << " (" << c.nw << "," << c.nh << ")";
    EXPECT_EQ(h, c.H2) << c.W << "x" << c.H << " (" << c.nw << "," << c.nh << ")";
  }
}

TEST(Resample, SizesThroughTheOperation) {
  const IEBitmap portrait = Structured(60, 100, F::ie24RGB);
  EXPECT_EQ(Resampled(portrait, 25, -1, rfLinear).Height(), 41);
  EXPECT_EQ(Resampled(portrait, -1, 25, rfLinear).Width(), 15);
  const IEBitmap same = Resampled(portrait, 0, 0, rfMitchell);
  EXPECT_EQ(same.Width(), 60);
  EXPECT_EQ(same.Height(), 100);
  EXPECT_FALSE(SamePixels(same, portrait)) << "an equal size still passes through the filter";
}

TEST(Resample, FrameAndLabel) {
  LayersTarget t(1);
  t.LayerBitmap(0) = Random(6, 4, F::ie24RGB);
  const IEBitmap before = t.LayerBitmap(0);
  ImageProc proc(t);
  proc.Resample(-1, -1, rfLinear);
  EXPECT_TRUE(SamePixels(t.LayerBitmap(0), before));
  ASSERT_EQ(proc.UndoList().size(), 1u);
  EXPECT_EQ(proc.UndoList().back().label, "Resample -1,-1");
  EXPECT_EQ(t.events, (std::vector<std::string>{"undo", "repaint", "changed", "finish"}));
  EXPECT_EQ(t.progress, std::vector<int>{100});

  t.events.clear();
  t.progress.clear();
  proc.Resample(220, -1, rfBicubic);
  EXPECT_EQ(proc.UndoList().back().label, "Resample 220,-1");
  EXPECT_EQ(t.LayerBitmap(0).Width(), 220);
  EXPECT_EQ(t.LayerBitmap(0).Height(), 146);
  ASSERT_FALSE(t.progress.empty());
  for (std::size_t i = 1; i < t.progress.size(); ++i) EXPECT_LE(t.progress[i - 1], t.progress[i]);
  EXPECT_EQ(t.progress.back(), 100);
}

TEST(Resample, EmptyOrHugeOrBadRequestsLeaveThePictureAlone) {
  LayersTarget t(1);
  ImageProc proc(t);
  proc.Resample(10, 10, rfLinear);  // empty bitmap
  EXPECT_TRUE(proc.UndoList().empty());
  EXPECT_TRUE(t.events.empty());

  t.LayerBitmap(0) = Random(5, 4, F::ie24RGB);
  const IEBitmap before = t.LayerBitmap(0);
  for (auto [w, h] : {std::pair{100000000, 100000000}, {INT_MIN, 5}, {5, INT_MIN}, {2000000, -1}}) {
    proc.Resample(w, h, rfMitchell);
    EXPECT_TRUE(SamePixels(t.LayerBitmap(0), before)) << w << "," << h;
  }
  EXPECT_TRUE(proc.UndoList().empty());
  // A small result whose first pass would be 2^20 x 2048 pixels.
  IEBitmap tall = Random(1, 2048, F::ie24RGB);
  tall.AlphaChannel();
  BitmapTarget tallTarget(tall);
  ImageProc tallProc(tallTarget);
  for (ResampleFilter f : {rfMitchell, rfBilinear}) {
    tallProc.Resample(1 << 20, 1, f);
    EXPECT_EQ(tall.Width(), 1) << ResampleFilterName(f);
  }
  // A value outside the enumeration picks the nearest pixel.
  proc.Resample(2, 2, static_cast<ResampleFilter>(99));
  EXPECT_EQ(t.LayerBitmap(0).Width(), 2);
  EXPECT_EQ(t.LayerBitmap(0).Pixel24(1, 1), before.Pixel24(2, 2));
}

// ---------------------------------------------------------------------------
// Nearest pixel

TEST(Resample, NoneTakesThePixelsItLandsOn) {
  const IEBitmap src = Random(4, 4, F::ie24RGB, 7);
  const IEBitmap r = Resampled(src, 2, 2, rfNone);
  EXPECT_EQ(r.Pixel24(0, 0), src.Pixel24(0, 0));
  EXPECT_EQ(r.Pixel24(1, 0), src.Pixel24(2, 0));
  EXPECT_EQ(r.Pixel24(0, 1), src.Pixel24(0, 2));
  EXPECT_EQ(r.Pixel24(1, 1), src.Pixel24(2, 2));
}

TEST(Resample, NoneKeepsEveryFormat) {
  for (F f : {F::ie1g, F::ie8p, F::ie8g, F::ie16g, F::ie24RGB, F::ie32f, F::ieCMYK, F::ieRGB48, F::ieCIELab,
              F::ie32RGB}) {
    const IEBitmap src = Random(13, 7, f, 3);
    for (auto [w, h] : {std::pair{6, 9}, {29, 3}, {1, 1}}) {
      IEBitmap want(w, h, f);
      ReferenceNearest(src, want);
      const IEBitmap got = Resampled(src, w, h, rfNone);
      EXPECT_TRUE(SamePixels(got, want)) << PixelFormatName(f) << " to " << w << "x" << h;
    }
  }
}

// ---------------------------------------------------------------------------
// Kernels

TEST(ResampleKernel, Values) {
  struct Case {
    ResampleFilter f;
    double x, want;
  };
  const Case cases[] = {
      {rfHermite, 0.5, 0.5},     {rfHermite, 1, 0},          {rfBell, 0, 0.75},
      {rfBell, 1, 0.125},        {rfBell, -1.5, 0},          {rfBSpline, 0, 2.0 / 3},
      {rfBSpline, 1, 1.0 / 6},   {rfBSpline, -1.5, 1.0 / 48}, {rfMitchell, 0, 8.0 / 9},
      {rfMitchell, -1, 1.0 / 18}, {rfMitchell, 1.5, -5.0 / 144}, {rfMitchell, 2, 0},
      {rfLinear, -1, 0},         {rfLinear, 0.25, 0.75},     {rfFastLinear, -0.25, 0.75},
      {rfTriangle, 0.5, 0.5},    {rfNearest, -0.5, 1},       {rfNearest, 0.5, 0},
      {rfLanczos3, 0, 1},        {rfLanczos3, 2, 0},         {rfLanczos3, 0.5, 0.6079271018540267},
  };
  for (const Case& c : cases)
    EXPECT_NEAR(g::KernelValue(c.f, c.x), c.want, 1e-12) << ResampleFilterName(c.f) << "(" << c.x << ")";
}

TEST(ResampleKernel, InterpolatingKernelsSumToOne) {
  for (ResampleFilter f : {rfHermite, rfBell, rfBSpline, rfMitchell, rfLinear, rfTriangle, rfNearest})
    for (double x : {0.0, 0.1, 0.25, 0.5, 0.75, 0.9}) {
      double sum = 0;
      for (int j = -4; j <= 4; ++j) sum += g::KernelValue(f, x - j);
      EXPECT_NEAR(sum, 1.0, 1e-12) << ResampleFilterName(f) << " at " << x;
    }
}

TEST(ResampleKernel, Contributors) {
  // Reducing 4 to 2 with rfLinear: scale 1/3, window 3, weights
  // Round(f(d / 3) x 256 / 3), indices mirrored at both ends.
  const g::Contributors c = g::BuildContributors(4, 2, rfLinear);
  auto list = [&](int i) {
    std::vector<std::pair<int, int>> l;
    for (int e = c.start[i]; e < c.start[i + 1]; ++e) l.push_back({c.index[e], c.weight[e]});
    return l;
  };
  using L = std::vector<std::pair<int, int>>;
  EXPECT_EQ(list(0), (L{{2, 28}, {1, 57}, {0, 85}, {1, 57}, {2, 28}}));
  EXPECT_EQ(list(1), (L{{1, 28}, {2, 57}, {3, 85}, {3, 57}, {2, 28}}));
  EXPECT_EQ(c.sum[0], 255);
  // Enlarging 2 to 3 with rfMitchell: the negative lobes stay, and an
  // index mirrored past the end is held to the last sample.
  const g::Contributors m = g::BuildContributors(2, 3, rfMitchell);
  EXPECT_EQ(m.start[2] - m.start[1], 4);
  const L mid = {{m.index[m.start[1]], m.weight[m.start[1]]},
                 {m.index[m.start[1] + 1], m.weight[m.start[1] + 1]},
                 {m.index[m.start[1] + 2], m.weight[m.start[1] + 2]},
                 {m.index[m.start[1] + 3], m.weight[m.start[1] + 3]}};
  EXPECT_EQ(mid, (L{{1, -9}, {0, 137}, {1, 137}, {1, -9}}));
}

TEST(ResampleKernel, DivisionByReciprocalIsExact) {
  for (int d = 1; d <= 4096; ++d) {
    const g::Divider v = g::MakeDivider(d, d);
    ASSERT_TRUE(v.fast);
    for (int q = -2; q <= 257; ++q)
      for (int s : {q * d - 1, q * d, q * d + 1, q * d + d / 2}) {
        const int want = std::clamp(s / d, 0, 255);
        ASSERT_EQ(g::DivideClamp(s, v), want) << s << " / " << d;
      }
  }
  // A weight sum of 0 divides by 256; a negative one divides as it is.
  EXPECT_EQ(g::DivideClamp(256 * 7 + 255, g::MakeDivider(0, 40)), 7);
  EXPECT_EQ(g::DivideClamp(-700, g::MakeDivider(-3, 50)), 233);
}

TEST(Resample, LinearWorkedExample) {
  // [0, 255] to three samples: the middle one gets 128 x 0 + 128 x 255 over
  // 256, truncated.
  IEBitmap row(2, 1, F::ie24RGB), column(1, 2, F::ie24RGB);
  row.Pixel24(0, 0) = column.Pixel24(0, 0) = RGB(0, 0, 0);
  row.Pixel24(1, 0) = column.Pixel24(0, 1) = RGB(255, 255, 255);
  const IEBitmap r = Resampled(row, 3, 1, rfLinear);
  const IEBitmap c = Resampled(column, 1, 3, rfLinear);
  for (int i = 0; i < 3; ++i) {
    const int want[] = {0, 127, 255};
    EXPECT_EQ(r.Pixel24(i, 0), RGB(want[i], want[i], want[i]));
    EXPECT_EQ(c.Pixel24(0, i), RGB(want[i], want[i], want[i]));
  }
}

TEST(Resample, ReductionWithoutWeightsGivesBlack) {
  // 600 to 1: every weight Round(f x 256 / 600) is 0, so the pixel is 0.
  const IEBitmap r = Resampled(Solid(600, 1, RGB(255, 255, 255)), 1, 1, rfLinear);
  EXPECT_EQ(r.Pixel24(0, 0), RGB(0, 0, 0));
}

TEST(ResampleKernel, FastEqualsPlain) {
  struct Size {
    int W, H, W2, H2;
  };
  const Size sizes[] = {{13, 9, 5, 4},  {13, 9, 29, 17}, {7, 11, 7, 11}, {1, 1, 5, 3},  {1, 6, 4, 1},
                        {17, 3, 1, 1},  {40, 30, 9, 31}, {5, 5, 3, 12},  {2, 2, 64, 1}, {31, 2, 30, 2}};
  for (ResampleFilter f : {rfTriangle, rfHermite, rfBell, rfBSpline, rfLanczos3, rfMitchell, rfNearest, rfLinear,
                           rfFastLinear})
    for (F fmt : {F::ie8g, F::ie24RGB, F::ieCMYK})
      for (const Size& s : sizes)
        for (int kind = 0; kind < 2; ++kind) {
          const IEBitmap src = kind ? Structured(s.W, s.H, fmt) : Random(s.W, s.H, fmt, s.W * 31 + s.H);
          const int ch = g::ByteChannels(fmt);
          IEBitmap want(s.W2, s.H2, fmt), got(s.W2, s.H2, fmt);
          ReferenceKernelResample(src, want, ch, f);
          ASSERT_TRUE(g::KernelResample(src, got, ch, f, {}));
          ASSERT_TRUE(SamePixels(got, want)) << ResampleFilterName(f) << " " << PixelFormatName(fmt) << " " << s.W
                                             << "x" << s.H << " to " << s.W2 << "x" << s.H2;
        }
}

// ---------------------------------------------------------------------------
// Area walk

TEST(Resample, BilinearHalfIsTheTruncatedMean) {
  for (F fmt : {F::ie24RGB, F::ie8g}) {
    const IEBitmap src = Random(8, 6, fmt, 11);
    const IEBitmap r = Resampled(src, 4, 3, rfBilinear);
    const int ch = g::ByteChannels(fmt);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 4; ++x)
        for (int c = 0; c < ch; ++c) {
          const int sum = src.ScanLine(2 * y)[2 * x * ch + c] + src.ScanLine(2 * y)[(2 * x + 1) * ch + c] +
                          src.ScanLine(2 * y + 1)[2 * x * ch + c] + src.ScanLine(2 * y + 1)[(2 * x + 1) * ch + c];
          EXPECT_EQ(r.ScanLine(y)[x * ch + c], sum / 4) << x << "," << y;
        }
  }
}

TEST(ResampleArea, WalkFragments) {
  // Halving: a whole pixel, the closing pixel, then an empty fragment at
  // the boundary before the next source column.
  const std::vector<g::Fragment> f = g::AreaWalk(4, 2);
  ASSERT_EQ(f.size(), 5u);
  EXPECT_EQ(f[0].index, 0);
  EXPECT_FALSE(f[0].closes);
  EXPECT_EQ(f[0].fraction, 1);
  EXPECT_EQ(f[1].index, 1);
  EXPECT_TRUE(f[1].closes);
  EXPECT_EQ(f[1].size, 1);
  EXPECT_EQ(f[2].size, 0);
  EXPECT_EQ(f[2].dest, 1);
  EXPECT_TRUE(f[4].closes);
  // Enlarging 2 to 5: boundaries at 0.4, 0.8, 1.2, ... each closes inside
  // its source pixel with the fraction at its end.
  const std::vector<g::Fragment> e = g::AreaWalk(2, 5);
  EXPECT_DOUBLE_EQ(e[0].size, 0.4);
  EXPECT_DOUBLE_EQ(e[0].fraction, 0.4);
  EXPECT_DOUBLE_EQ(e[2].fraction, 1);  // 0.8 .. 1, the end of column 0
  EXPECT_FALSE(e[2].closes);
  EXPECT_EQ(e[3].index, 1);
  EXPECT_NEAR(e[3].fraction, 0.2, 1e-12);
}

TEST(ResampleArea, FastEqualsPlain) {
  struct Size {
    int W, H, W2, H2;
  };
  const Size sizes[] = {{7, 5, 16, 12}, {7, 5, 16, 3},  {12, 5, 5, 13}, {12, 9, 5, 4}, {9, 9, 9, 9},
                        {10, 7, 3, 7},  {13, 11, 7, 5}, {3, 2, 11, 9},  {1, 1, 4, 3}, {6, 4, 1, 1},
                        {5, 3, 7, 3},   {40, 3, 13, 8}};
  for (bool bicubic : {false, true})
    for (F fmt : {F::ie8g, F::ie24RGB, F::ie32RGB})
      for (const Size& s : sizes)
        for (int kind = 0; kind < 2; ++kind) {
          const IEBitmap src = kind ? Structured(s.W, s.H, fmt) : Random(s.W, s.H, fmt, s.W * 7 + s.H);
          const int ch = g::ByteChannels(fmt);
          IEBitmap want(s.W2, s.H2, fmt), got(s.W2, s.H2, fmt);
          ReferenceAreaResample(src, want, ch, bicubic);
          g::AreaResample(src, got, ch, bicubic, {});
          ASSERT_TRUE(SamePixels(got, want)) << (bicubic ? "bicubic " : "bilinear ") << PixelFormatName(fmt) << " "
                                             << s.W << "x" << s.H << " to " << s.W2 << "x" << s.H2;
        }
}

// ---------------------------------------------------------------------------
// Alpha channel, other formats

TEST(ResampleAlpha, LinearMethodWorkedExamples) {
  auto run = [](std::vector<uint8_t> a, int w2) {
    IEBitmap src(static_cast<int>(a.size()), 1, F::ie8g), dst(w2, 1, F::ie8g);
    for (std::size_t i = 0; i < a.size(); ++i) src.ScanLine(0)[i] = a[i];
    g::LinearAlphaResample(src, dst);
    return std::vector<uint8_t>(dst.ScanLine(0), dst.ScanLine(0) + w2);
  };
  // Enlarging interpolates (the last sample stands in past the end) ...
  EXPECT_EQ(run({0, 255}, 4), (std::vector<uint8_t>{0, 127, 255, 255}));
  // ... reducing averages the samples from trunc(i / e) to
  // trunc((i + 1) / e), both included.
  EXPECT_EQ(run({10, 20, 30, 40}, 2), (std::vector<uint8_t>{20, 30}));
}

TEST(ResampleAlpha, LinearMethodFastEqualsPlain) {
  for (auto [W, H, W2, H2] : {std::tuple{9, 7, 20, 3}, {9, 7, 4, 15}, {9, 7, 9, 4}, {9, 7, 3, 7}, {1, 1, 3, 2},
                              {10, 10, 10, 10}, {7, 13, 7, 29},
                              // 9 / (18 / 28) is 13.999999999999998: only along rows does
                              // the small addition make it 14.
                              {28, 5, 18, 5}, {5, 28, 5, 18}})
    for (int kind = 0; kind < 2; ++kind) {
      const IEBitmap src = kind ? Structured(W, H, F::ie8g) : Random(W, H, F::ie8g, 5);
      IEBitmap want(W2, H2, F::ie8g), got(W2, H2, F::ie8g);
      ReferenceLinearAlpha(src, want);
      g::LinearAlphaResample(src, got);
      EXPECT_TRUE(SamePixels(got, want)) << W << "x" << H << " to " << W2 << "x" << H2;
    }
}

TEST(ResampleAlpha, FollowsTheFilterAndKeepsTheOpaqueFlag) {
  const IEBitmap alphaPic = Structured(11, 8, F::ie8g);
  struct Case {
    ResampleFilter f;
    int w, h;
  };
  for (const Case& c : {Case{rfNone, 5, 13}, Case{rfMitchell, 5, 13}, Case{rfBilinear, 5, 13}, Case{rfBicubic, 23, 4}}) {
    IEBitmap pic = Structured(11, 8, F::ie24RGB);
    pic.AlphaChannel().AssignImage(alphaPic);
    pic.SetAlphaAllOpaque(false);
    const IEBitmap r = Resampled(pic, c.w, c.h, c.f);
    ASSERT_TRUE(r.HasAlphaChannel());
    IEBitmap want(c.w, c.h, F::ie8g);
    if (c.f == rfNone)
      ReferenceNearest(alphaPic, want);
    else if (c.f == rfMitchell)
      ReferenceKernelResample(alphaPic, want, 1, c.f);
    else
      ReferenceLinearAlpha(alphaPic, want);
    EXPECT_TRUE(SamePixels(*r.AlphaChannelIfAny(), want)) << ResampleFilterName(c.f);
    EXPECT_FALSE(r.AlphaAllOpaque());
  }
  IEBitmap opaque = Structured(6, 6, F::ie24RGB);
  opaque.AlphaChannel();
  const IEBitmap r = Resampled(opaque, 3, 3, rfLinear);
  ASSERT_TRUE(r.HasAlphaChannel());
  EXPECT_TRUE(r.AlphaAllOpaque());
}

TEST(ResampleAlpha, TransparentPixelsTurnGreyFirst) {
  IEBitmap pic = Solid(4, 4, RGB(255, 0, 0));
  pic.SetAlpha(1, 2, 0);
  const IEBitmap r = Resampled(pic, 0, 0, rfNone);
  EXPECT_EQ(r.Pixel24(1, 2), RGB(128, 128, 128));
  EXPECT_EQ(r.Pixel24(2, 2), RGB(255, 0, 0));
  EXPECT_EQ(r.Alpha(1, 2), 0);
}

TEST(Resample, BiLevelAndPalettePictures) {
  const IEBitmap bits = Random(13, 5, F::ie1g, 9);
  IEBitmap grey(13, 5, F::ie24RGB);
  bits.CopyRectTo(grey, 0, 0, 0, 0, 13, 5);  // 0 or 255 in all channels
  for (ResampleFilter f : {rfLinear, rfBilinear}) {
    const IEBitmap r = Resampled(bits, 7, 9, f);
    EXPECT_EQ(r.PixelFormat(), F::ie24RGB);
    EXPECT_TRUE(SamePixels(r, Resampled(grey, 7, 9, f))) << ResampleFilterName(f);
  }
  IEBitmap pal = Random(6, 6, F::ie8p, 4);
  for (int i = 0; i < 256; ++i) pal.Palette()[i] = RGB(i, 255 - i, i / 2);
  const IEBitmap r = Resampled(pal, 4, 4, rfMitchell);
  EXPECT_EQ(r.PixelFormat(), F::ie24RGB);
  EXPECT_EQ(Resampled(pal, 4, 4, rfNone).PixelFormat(), F::ie8p);
}

TEST(Resample, SameResultWhateverTheThreadCount) {
  const IEBitmap src = Structured(301, 203, F::ie24RGB);
  for (auto [w, h, f] : {std::tuple{149, -1, rfMitchell}, {640, -1, rfBicubic}, {150, 101, rfBilinear},
                         {97, 333, rfLanczos3}}) {
    IEBitmap first;
    ForThreadCounts([&](int n) {
      IEBitmap r = Resampled(src, w, h, f);
      if (n == 1)
        first = r;
      else
        EXPECT_TRUE(SamePixels(r, first)) << ResampleFilterName(f) << " with " << n << " threads";
    });
  }
}

}  // namespace
}  // namespace velmora::test
