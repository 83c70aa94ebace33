// Automatic enhancements: worked values, the fast forms against their plain
// forms, the recursive Gaussian against a direct convolution, edge cases and
// independence from the number of threads.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "imaging/Color.h"
#include "imaging/EnhanceDetail.h"
#include "imaging/ImageProc.h"
#include "imaging/Parallel.h"
#include "imaging/Pictures.h"

namespace velmora {
namespace {

using F = IEPixelFormat;
using test::RGB;
using test::Apply;
using test::Op;

// Smooth colour gradients with a little texture, like a small photo.
IEBitmap Photo(int w, int h, uint32_t seed = 7) {
  IEBitmap b(w, h, F::ie24RGB);
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> noise(-8, 8);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const double u = static_cast<double>(x) / w, v = static_cast<double>(y) / h;
      const int r = static_cast<int>(30 + 210 * u + 12 * std::sin(x * 0.9)) + noise(rng);
      const int g = static_cast<int>(20 + 150 * v * u + 70 * (1 - v)) + noise(rng);
      const int bl = static_cast<int>(230 - 180 * v + 20 * std::cos(y * 0.6)) + noise(rng);
      b.Pixel24(x, y) = RGB(std::clamp(r, 0, 255), std::clamp(g, 0, 255), std::clamp(bl, 0, 255));
    }
  return b;
}

const Op kWhiteBalance = [](ImageProc& p) { p.WhiteBalance_AutoWhite(); };
const Op kEqualize = [](ImageProc& p) { p.HistAutoEqualize(); };
const Op kLumSat = [](ImageProc& p) { p.AdjustLumSatHistogram(0.7, 0.5); };
const Op kEnhance3 = [](ImageProc& p) { p.AutoImageEnhance3(80, 0.35); };
const Op kWallis = [](ImageProc& p) { p.WallisFilter(2, 2, 50, 50, 50, 10, 50, false); };

// --- The frame ------------------------------------------------------------------

TEST(Enhance, LabelsAndProgress) {
  const std::vector<std::pair<Op, std::string>> cases = {{kWhiteBalance, "WhiteBalance_AutoWhite"},
                                                         {kEqualize, "HistAutoEqualize"},
                                                         {kLumSat, "AdjustLumSatHistogram"},
                                                         {kEnhance3, "AutoImageEnhance3"},
                                                         {kWallis, "WallisFilter"}};
  for (const auto& [op, label] : cases) {
    IEBitmap pic = Photo(30, 20);
    BitmapTarget target(pic);
    ImageProc proc(target);
    std::vector<int> progress;
    proc.OnProgress = [&](int p) { progress.push_back(p); };
    op(proc);
    ASSERT_EQ(proc.UndoList().size(), 1u);
    EXPECT_EQ(proc.UndoList().back().label, label);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), 100) << label;
  }
}

TEST(Enhance, ASelectionLimitsTheChange) {
  // Each operation treats the selection's box as its picture; outside it
  // nothing changes, and inside it the result is that of the box alone.
  IEMask mask(30, 20, 1);
  mask.SelectRect(4, 3, 21, 15);
  mask.SyncBox();
  for (const Op& op : {kWhiteBalance, kEqualize, kLumSat, kEnhance3, kWallis}) {
    const IEBitmap photo = Photo(30, 20);
    IEBitmap pic = photo;
    Apply(pic, op, &mask);
    IEBitmap box(18, 13, F::ie24RGB);
    photo.CopyRectTo(box, 4, 3, 0, 0, 18, 13);
    Apply(box, op);
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < 30; ++x) {
        const bool inside = x >= 4 && x <= 21 && y >= 3 && y <= 15;
        ASSERT_EQ(pic.Pixel24(x, y), inside ? box.Pixel24(x - 4, y - 3) : photo.Pixel24(x, y)) << x << "," << y;
      }
  }
}

TEST(Enhance, SameResultWhateverTheThreadCount) {
  const IEBitmap photo = Photo(157, 211);
  const int threads = ParallelThreadCount();
  for (const Op& op : {kWhiteBalance, kEqualize, kLumSat, kEnhance3, kWallis}) {
    IEBitmap one = photo, four = photo;
    SetParallelThreadCount(1);
    Apply(one, op);
    SetParallelThreadCount(4);
    Apply(four, op);
    EXPECT_TRUE(test::SamePixels(one, four));
  }
  SetParallelThreadCount(threads);
}

TEST(Enhance, TinyPicturesAndFarOffParameters) {
  const std::vector<Op> ops = {
      kWhiteBalance,
      kEqualize,
      kLumSat,
      [](ImageProc& p) { p.AdjustLumSatHistogram(-3, 1e6); },
      [](ImageProc& p) { p.AdjustLumSatHistogram(NAN, -INFINITY); },
      kEnhance3,
      [](ImageProc& p) { p.AutoImageEnhance3(1 << 30, 0); },
      [](ImageProc& p) { p.AutoImageEnhance3(-100, -1); },
      [](ImageProc& p) { p.AutoImageEnhance3(0, NAN); },
      kWallis,
      [](ImageProc& p) { p.WallisFilter(0, 0, 0, 0, 0, 0, 0, true); },
      [](ImageProc& p) { p.WallisFilter(-50, 1 << 30, 1 << 30, -(1 << 30), 1 << 30, -1000, -50, false); },
      [](ImageProc& p) { p.WallisFilter(200, 200, 50, 50, 50, 10, 50, false); },
  };
  for (const Op& op : ops)
    for (IEBitmap pic : {test::Solid(1, 1, RGB(200, 100, 50)), Photo(1, 9), Photo(9, 1), Photo(17, 12)}) {
      const int w = pic.Width(), h = pic.Height();
      Apply(pic, op);
      EXPECT_EQ(pic.Width(), w);
      EXPECT_EQ(pic.Height(), h);
      EXPECT_EQ(pic.PixelFormat(), F::ie24RGB);
    }
}

// --- WhiteBalance_AutoWhite -----------------------------------------------------

TEST(WhiteBalance, ScalesEachChannelByItsNearWhiteAverage) {
  // Near white (S < 0.3, L > 0.7, hue 0.11 or 0.12): (230, 225, 215) and
  // (240, 237, 230), average (235, 231, 222.5). The orange (232, 228, 227)
  // has hue 0.033, inside the skin band, and does not count; (255, 240,
  // 200) has saturation 1 and does not count either. (A grey as light as
  // (240, 240, 240) would count: hue 0, saturation 0.)
  IEBitmap pic(6, 2, F::ie24RGB);
  const IETriple row[6] = {RGB(230, 225, 215), RGB(240, 237, 230), RGB(232, 228, 227),
                           RGB(255, 240, 200), RGB(100, 100, 100), RGB(250, 245, 200)};
  for (int x = 0; x < 6; ++x) pic.Pixel24(x, 0) = pic.Pixel24(x, 1) = row[x];
  double h, s, l;
  RGBToHSL(RGB(232, 228, 227), h, s, l);
  ASSERT_TRUE(h >= 0.01 && h <= 0.04 && s < 0.3 && l > 0.7);
  Apply(pic, kWhiteBalance);
  // 100 x 255 / 235 = 108.5, x 255 / 231 = 110.4, x 255 / 222.5 = 114.6.
  EXPECT_EQ(pic.Pixel24(4, 1), RGB(108, 110, 114));
  // (250, 245, 200), too saturated to count: 271.3 and 270.5 saturate,
  // 200 x 255 / 222.5 = 229.2.
  EXPECT_EQ(pic.Pixel24(5, 1), RGB(255, 255, 229));
}

TEST(WhiteBalance, NothingNearWhiteChangesNothing) {
  IEBitmap pic(4, 2, F::ie24RGB);
  const IETriple row[4] = {RGB(232, 228, 227), RGB(255, 240, 200), RGB(120, 130, 140), RGB(10, 10, 10)};
  for (int x = 0; x < 4; ++x) pic.Pixel24(x, 0) = pic.Pixel24(x, 1) = row[x];
  const IEBitmap before = pic;
  Apply(pic, kWhiteBalance);
  EXPECT_TRUE(test::SamePixels(pic, before));
}

// --- HistAutoEqualize -----------------------------------------------------------

TEST(HistAutoEqualize, FlatPictureIsUnchanged) {
  for (IETriple t : {RGB(0, 0, 0), RGB(90, 140, 30), RGB(255, 255, 255)}) {
    IEBitmap pic = test::Solid(11, 7, t);
    Apply(pic, kEqualize);
    for (int y = 0; y < 7; ++y)
      for (int x = 0; x < 11; ++x) ASSERT_EQ(pic.Pixel24(x, y), t);
  }
}

IEBitmap GreyRows(const std::vector<std::vector<int>>& rows) {
  IEBitmap b(static_cast<int>(rows[0].size()), static_cast<int>(rows.size()), F::ie24RGB);
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) b.Pixel24(x, y) = RGB(rows[y][x], rows[y][x], rows[y][x]);
  return b;
}

TEST(HistAutoEqualize, WorkedExamples) {
  struct Case {
    std::string name;
    std::vector<std::vector<int>> in, out;
  };
  const std::vector<Case> cases = {
      // 18 pixels, a = 18/256: level 50 owns 0..127 and level 200 owns
      // 127..255. Every mean lies in its pixel's range, so each pixel
      // becomes its 3 x 3 mean: 900/9 = 100 and 1350/9 = 150 at the seam.
      {"Seam",
       {{50, 50, 50, 200, 200, 200}, {50, 50, 50, 200, 200, 200}, {50, 50, 50, 200, 200, 200}},
       {{50, 50, 100, 150, 200, 200}, {50, 50, 100, 150, 200, 200}, {50, 50, 100, 150, 200, 200}}},
      // a = 9/256: level 30 owns 0..28, level 100 owns 28..255. The dark
      // centre's mean (830/9 = 92) is above its range: it takes right[30]
      // = 28. Every other pixel sees the centre once (edges repeated) and
      // takes the mean 92.
      {"AboveTheRange", {{100, 100, 100}, {100, 30, 100}, {100, 100, 100}}, {{92, 92, 92}, {92, 28, 92}, {92, 92, 92}}},
  };
  for (const Case& c : cases) {
    IEBitmap pic = GreyRows(c.in);
    Apply(pic, kEqualize);
    EXPECT_TRUE(test::SamePixels(pic, GreyRows(c.out))) << c.name;
  }
  // 512 pixels (a = 2): one pixel of level 10 among level 200 adds 1 to the
  // remainder without passing a, so its level owns the single output 0.
  IEBitmap pic = test::Solid(32, 16, RGB(200, 200, 200));
  pic.Pixel24(20, 9) = RGB(10, 10, 10);
  Apply(pic, kEqualize);
  EXPECT_EQ(pic.Pixel24(20, 9), RGB(0, 0, 0));
  EXPECT_EQ(pic.Pixel24(3, 3), RGB(200, 200, 200));
  EXPECT_EQ(pic.Pixel24(21, 9), RGB(178, 178, 178));  // (8 x 200 + 10) div 9
}

TEST(HistAutoEqualize, EqualsThePlainForm) {
  // Up to 64 slices of rows: the tall picture gives slices of several rows.
  for (auto [w, h] : {std::pair{1, 1}, std::pair{2, 5}, std::pair{37, 23}, std::pair{19, 150}}) {
    for (const IEBitmap& source : {Photo(w, h), test::Random(w, h, F::ie24RGB, w * h)}) {
      IEBitmap fast = source, plain = source;
      Apply(fast, kEqualize);
      enhance::HistAutoEqualizeReference(plain);
      EXPECT_TRUE(test::SamePixels(fast, plain)) << w << "x" << h;
    }
  }
}

// --- AdjustLumSatHistogram ------------------------------------------------------

TEST(AdjustLumSatHistogram, ExponentZeroKeepsTheDistribution) {
  // S' = trunc(255 (S + 1) / 256), V' likewise. (200, 100, 50): V 200, S
  // 150 x 255 div 200 = 191, H 50 x 60 div 150 = 20; S' = 191, V' = 200;
  // p = 200 - 191 x 200 div 255 = 51, t = 200 - 191 x 200 x 40 div 15300 =
  // 101. Greys keep S = 0 and V' = trunc(255 x 101 / 256) = 100.
  IEBitmap pic(3, 2, F::ie24RGB);
  const IETriple in[3] = {RGB(200, 100, 50), RGB(100, 100, 100), RGB(255, 0, 0)};
  for (int x = 0; x < 3; ++x) pic.Pixel24(x, 0) = pic.Pixel24(x, 1) = in[x];
  Apply(pic, [](ImageProc& p) { p.AdjustLumSatHistogram(0, 0); });
  EXPECT_EQ(pic.Pixel24(0, 0), RGB(200, 101, 51));
  EXPECT_EQ(pic.Pixel24(1, 0), RGB(100, 100, 100));
  EXPECT_EQ(pic.Pixel24(2, 0), RGB(255, 0, 0));
}

TEST(AdjustLumSatHistogram, ExponentOneEqualizesFully) {
  // Half black (S 0, V 0), half red (S 255, V 255): the lower half of each
  // histogram goes to trunc(255 / 2) = 127. Black becomes S' = V' = 127 at
  // hue 0: p = t = 127 - 127 x 127 div 255 = 64.
  IEBitmap pic(4, 2, F::ie24RGB);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) pic.Pixel24(x, y) = x < 2 ? RGB(0, 0, 0) : RGB(255, 0, 0);
  Apply(pic, [](ImageProc& p) { p.AdjustLumSatHistogram(1, 1); });
  EXPECT_EQ(pic.Pixel24(0, 0), RGB(127, 64, 64));
  EXPECT_EQ(pic.Pixel24(3, 1), RGB(255, 0, 0));
}

TEST(AdjustLumSatHistogram, HueSectors) {
  // With exponent 0 on a picture of all six sectors, each pixel keeps its
  // hue sector and the order of its channels.
  IEBitmap pic(6, 1, F::ie24RGB);
  const IETriple six[6] = {RGB(220, 120, 20), RGB(120, 220, 20), RGB(20, 220, 120),
                           RGB(20, 120, 220), RGB(120, 20, 220), RGB(220, 20, 120)};
  for (int x = 0; x < 6; ++x) pic.Pixel24(x, 0) = six[x];
  Apply(pic, [](ImageProc& p) { p.AdjustLumSatHistogram(0, 0); });
  for (int x = 0; x < 6; ++x) {
    const IETriple a = six[x], b = pic.Pixel24(x, 0);
    EXPECT_EQ(a.r > a.g, b.r > b.g) << x;
    EXPECT_EQ(a.g > a.b, b.g > b.b) << x;
    EXPECT_EQ(a.r > a.b, b.r > b.b) << x;
    EXPECT_LE(std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b), 6) << x;
  }
}

// --- The recursive Gaussian -----------------------------------------------------

std::vector<float> RandomPlane(int w, int h, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> d(0, 1);
  std::vector<float> p(static_cast<std::size_t>(w) * h);
  for (float& v : p) v = d(rng);
  return p;
}

TEST(RecursiveGaussian, CoefficientsSumToOne) {
  for (double sigma : {0.8, 1.5, 3.0, 3.556, 5.0, 20.0}) {
    const enhance::RecursiveGaussian g(sigma);
    EXPECT_NEAR(g.B, 1 - g.a1 - g.a2 - g.a3, 1e-12) << sigma;
  }
}

TEST(RecursiveGaussian, ConstantStaysConstant) {
  const enhance::RecursiveGaussian g(3);
  for (int n : {1, 2, 3, 50}) {
    std::vector<float> x(n, 0.37f), out(n);
    g.Line(x.data(), out.data(), n, 1, 0.25);
    for (float v : out) EXPECT_NEAR(v, 0.62, 1e-5) << n;
  }
}

TEST(RecursiveGaussian, BoundaryEqualsAnEndlessEdge) {
  // Triggs-Sdika: the filtered line equals the middle of the same line
  // continued far beyond both ends by its edge values.
  for (double sigma : {1.5, 3.0}) {
    const enhance::RecursiveGaussian g(sigma);
    const auto x = RandomPlane(40, 1, 5);
    const int pad = 600;
    std::vector<float> ext(40 + 2 * pad);
    for (int i = 0; i < static_cast<int>(ext.size()); ++i) ext[i] = x[std::clamp(i - pad, 0, 39)];
    std::vector<float> short_(40), long_(ext.size());
    g.Line(x.data(), short_.data(), 40);
    g.Line(ext.data(), long_.data(), static_cast<int>(ext.size()));
    for (int i = 0; i < 40; ++i) EXPECT_NEAR(short_[i], long_[pad + i], 2e-6) << sigma << " at " << i;
  }
}

TEST(RecursiveGaussian, CloseToADirectConvolution) {
  // A Gaussian kernel truncated at 6 sigma over the edge-repeated plane, on
  // white noise (the hardest case). The third-order filter's response
  // peaks a few percent above the Gaussian's at small sigma (5 % at 1.5,
  // 3 % at 3), which bounds the difference.
  const int w = 48, h = 31;
  for (auto [sigma, tolerance] : {std::pair{1.5, 0.03}, std::pair{3.0, 0.01}}) {
    auto plane = RandomPlane(w, h, 11);
    const auto source = plane;
    enhance::GaussianBlur(plane.data(), w, h, sigma);
    const int r = static_cast<int>(std::ceil(6 * sigma));
    std::vector<double> k(2 * r + 1);
    double sum = 0;
    for (int i = -r; i <= r; ++i) sum += k[i + r] = std::exp(-i * i / (2 * sigma * sigma));
    for (double& v : k) v /= sum;
    double worst = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        double v = 0;
        for (int dy = -r; dy <= r; ++dy)
          for (int dx = -r; dx <= r; ++dx)
            v += k[dy + r] * k[dx + r] * source[std::clamp(y + dy, 0, h - 1) * w + std::clamp(x + dx, 0, w - 1)];
        worst = std::max(worst, std::abs(v - plane[y * w + x]));
      }
    EXPECT_LT(worst, tolerance) << sigma;
  }
}

TEST(RecursiveGaussian, FastPlaneEqualsLineByLine) {
  for (auto [w, h] : {std::pair{1, 1}, std::pair{3, 2}, std::pair{70, 9}, std::pair{131, 67}})
    for (double sigma : {1.5, 3.0, 5.0}) {
      auto fast = RandomPlane(w, h, w + h), plain = fast;
      const auto source = fast;
      std::vector<float> aside(fast.size());
      enhance::GaussianBlur(fast.data(), w, h, sigma, 0.125);
      enhance::GaussianBlur(source.data(), aside.data(), w, h, sigma, 0.125);
      enhance::GaussianBlurReference(plain.data(), w, h, sigma, 0.125);
      ASSERT_EQ(fast, plain) << w << "x" << h << " sigma " << sigma;
      ASSERT_EQ(aside, plain) << w << "x" << h << " sigma " << sigma;
    }
}

// --- AutoImageEnhance3 ----------------------------------------------------------

TEST(AutoImageEnhance3, BlackStaysBlack) {
  IEBitmap pic = test::Solid(20, 10, RGB(0, 0, 0));
  Apply(pic, kEnhance3);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 20; ++x) ASSERT_EQ(pic.Pixel24(x, y), RGB(0, 0, 0));
}

TEST(AutoImageEnhance3, EqualsThePlainForm) {
  struct Params {
    int saturation;
    double gamma;
  };
  for (auto [w, h] : {std::pair{1, 1}, std::pair{2, 3}, std::pair{45, 29}})
    for (Params p : {Params{80, 0.35}, Params{100, 1.0}, Params{0, 2.2}}) {
      IEBitmap fast = Photo(w, h), plain = fast;
      Apply(fast, [&](ImageProc& proc) { proc.AutoImageEnhance3(p.saturation, p.gamma); });
      enhance::AutoImageEnhance3Reference(plain, p.saturation, p.gamma);
      EXPECT_TRUE(test::SamePixels(fast, plain)) << w << "x" << h << " " << p.saturation << "," << p.gamma;
    }
}

TEST(AutoImageEnhance3, BrightensDarkAreasAndDropsAlpha) {
  IEBitmap pic = test::Solid(24, 16, RGB(40, 40, 40));
  pic.SetAlpha(3, 3, 10);
  Apply(pic, kEnhance3);
  EXPECT_GT(pic.Pixel24(12, 8).r, 40);
  EXPECT_FALSE(pic.HasAlphaChannel());
}

TEST(AutoImageEnhance3, OtherFormatsBecomeRgb) {
  IEBitmap pic(10, 6, F::ie8g);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 10; ++x) pic.ScanLine(y)[x] = static_cast<uint8_t>(20 * x);
  Apply(pic, kEnhance3);
  EXPECT_EQ(pic.PixelFormat(), F::ie24RGB);
}

// --- WallisFilter ---------------------------------------------------------------

TEST(WallisFilter, WindowSizes) {
  struct Case {
    int side, window, half;
  };
  // Trunc(0.02 x (side + 29)), at least 21.
  for (Case c : {Case{10, 21, 11}, Case{1020, 21, 11}, Case{1021, 21, 11}, Case{1022, 21, 11}, Case{1521, 31, 16},
                 Case{1520, 30, 15}, Case{1600, 32, 16}, Case{4000, 80, 40}}) {
    const auto w = enhance::WallisWindowFor(c.side + 100, c.side, 2, 2);
    EXPECT_EQ(w.wh, c.window) << c.side;
    EXPECT_EQ(w.ww, c.window) << c.side;
    EXPECT_EQ(w.hh, c.half) << c.side;
  }
  const auto w = enhance::WallisWindowFor(300, 200, 10, 20);
  EXPECT_EQ(w.ww, 22);  // trunc(0.1 x 229)
  EXPECT_EQ(w.wh, 45);  // trunc(0.2 x 229)
  EXPECT_EQ(w.hw, 11);
  EXPECT_EQ(w.hh, 23);
}

TEST(WallisFilter, FlatPicture) {
  // L = mu everywhere and sigma = sqrt(1) = 1 within Dmax 3, so L' = 0.9 mu
  // + 0.05: 100 becomes round(0.9 x 100 + 12.75) = 103. The last column
  // is written last by a margin point and keeps its value.
  IEBitmap pic = test::Solid(12, 9, RGB(100, 100, 100));
  Apply(pic, kWallis);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 12; ++x) ASSERT_EQ(pic.Pixel24(x, y).g, x == 11 ? 100 : 103) << x << "," << y;
  // A colour keeps its hue and saturation; only its lightness moves.
  IEBitmap colour = test::Solid(12, 9, RGB(200, 100, 50));
  Apply(colour, kWallis);
  double h0, s0, l0, h1, s1, l1;
  RGBToHSL(RGB(200, 100, 50), h0, s0, l0);
  RGBToHSL(colour.Pixel24(5, 5), h1, s1, l1);
  EXPECT_NEAR(h1, h0, 0.01);
  EXPECT_NEAR(s1, s0, 0.02);
  EXPECT_NEAR(l1, 0.9 * l0 + 0.05, 0.004);
}

TEST(WallisFilter, BinarizeGivesBlackWhiteAndWhiteMargins) {
  IEBitmap dark = test::Solid(12, 9, RGB(100, 100, 100));  // L' = 0.403
  Apply(dark, [](ImageProc& p) { p.WallisFilter(2, 2, 50, 50, 50, 10, 50, true); });
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 12; ++x)
      ASSERT_EQ(dark.Pixel24(x, y), x == 11 ? RGB(255, 255, 255) : RGB(0, 0, 0)) << x << "," << y;
  IEBitmap pic = Photo(33, 25);
  Apply(pic, [](ImageProc& p) { p.WallisFilter(2, 2, 50, 50, 50, 10, 50, true); });
  for (int y = 0; y < 25; ++y)
    for (int x = 0; x < 33; ++x) {
      const IETriple t = pic.Pixel24(x, y);
      ASSERT_TRUE(t == RGB(0, 0, 0) || t == RGB(255, 255, 255)) << x << "," << y;
    }
}

TEST(WallisFilter, LargePhotosKeepTheirOuterRows) {
  // Smaller side 1600: 32-pixel windows (hh = hw = 16). No processed row
  // maps onto the top or the bottom row, and the first and last columns
  // are last written by margin points.
  const int n = 1600;
  IEBitmap pic = test::Solid(n, n, RGB(100, 100, 100));
  Apply(pic, kWallis);
  for (int i = 0; i < n; ++i) {
    ASSERT_EQ(pic.Pixel24(i, 0).g, 100) << i;
    ASSERT_EQ(pic.Pixel24(i, n - 1).g, 100) << i;
    ASSERT_EQ(pic.Pixel24(0, i).g, 100) << i;
    ASSERT_EQ(pic.Pixel24(n - 1, i).g, 100) << i;
  }
  for (int y = 1; y < n - 1; y += 99)
    for (int x = 1; x < n - 1; x += 7) ASSERT_EQ(pic.Pixel24(x, y).g, 103) << x << "," << y;
  EXPECT_EQ(pic.Pixel24(1, 1).g, 103);
  EXPECT_EQ(pic.Pixel24(n - 2, n - 2).g, 103);
}

TEST(WallisFilter, EqualsThePlainForm) {
  struct Params {
    int wp, hp, mean, dev, gain, weight, limit;
    bool binarize;
  };
  const std::vector<Params> params = {
      {2, 2, 50, 50, 50, 10, 50, false},   {2, 2, 50, 50, 50, 10, 50, true},  {30, 12, 40, 20, 5, 60, 10, false},
      {50, 100, 60, 80, 100, 30, 5, false}, {1, 300, 50, 50, 50, 10, 50, false},
  };
  for (auto [w, h] : {std::pair{1, 1}, std::pair{3, 40}, std::pair{47, 31}})
    for (const Params& p : params) {
      IEBitmap fast = Photo(w, h, w + h), plain = fast;
      Apply(fast, [&](ImageProc& proc) {
        proc.WallisFilter(p.wp, p.hp, p.mean, p.dev, p.gain, p.weight, p.limit, p.binarize);
      });
      enhance::WallisFilterReference(plain, p.wp, p.hp, p.mean, p.dev, p.gain, p.weight, p.limit, p.binarize);
      EXPECT_TRUE(test::SamePixels(fast, plain)) << w << "x" << h << " window " << p.wp << "," << p.hp;
    }
}

}  // namespace
}  // namespace velmora
