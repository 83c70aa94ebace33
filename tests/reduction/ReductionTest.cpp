// Colour reduction: the palette quantizers, the two black-and-white
// conversions and the way back to RGB.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "imaging/ImageProc.h"
#include "imaging/Parallel.h"
#include "imaging/Pictures.h"
#include "imaging/ReductionDetail.h"

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
  std::uniform_int_distribution<int> noise(-6, 6);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const double u = static_cast<double>(x) / w, v = static_cast<double>(y) / h;
      const int r = static_cast<int>(40 + 200 * u + 10 * std::sin(x * 0.7)) + noise(rng);
      const int g = static_cast<int>(30 + 180 * v * u + 60 * (1 - v)) + noise(rng);
      const int bl = static_cast<int>(220 - 170 * v + 15 * std::cos(y * 0.5)) + noise(rng);
      b.Pixel24(x, y) = RGB(std::clamp(r, 0, 255), std::clamp(g, 0, 255), std::clamp(bl, 0, 255));
    }
  return b;
}

std::set<uint32_t> Colours(const IEBitmap& b) {
  std::set<uint32_t> s;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) {
      const IETriple t = b.Pixel24(x, y);
      s.insert(t.r << 16 | t.g << 8 | t.b);
    }
  return s;
}

// --- Labels and the frame -----------------------------------------------------

TEST(Reduction, LabelsTheUndoCopies) {
  const std::vector<std::pair<Op, std::string>> cases = {
      {[](ImageProc& p) { p.ConvertTo(30, false); }, "ConvertTo 30"},
      {[](ImageProc& p) { p.ConvertTo(2000, false); }, "ConvertTo 2000"},
      {[](ImageProc& p) { p.ConvertToBWThreshold(-1); }, "ConvertToBWThreshold -1"},
      {[](ImageProc& p) { p.ConvertToBWOrdered(); }, "ConvertToBWOrdered"},
  };
  for (const auto& [op, label] : cases) {
    IEBitmap pic = Photo(12, 9);
    BitmapTarget target(pic);
    ImageProc proc(target);
    std::vector<int> progress;
    proc.OnProgress = [&](int p) { progress.push_back(p); };
    op(proc);
    ASSERT_EQ(proc.UndoList().size(), 1u) << label;
    EXPECT_EQ(proc.UndoList().back().label, label);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), 100) << label;
  }
}

TEST(Reduction, MoreThan1024ColoursChangesNothingButKeepsTheUndoCopy) {
  IEBitmap pic = Photo(20, 10);
  const IEBitmap before = pic;
  BitmapTarget target(pic);
  ImageProc proc(target);
  proc.ConvertTo(1025, false);
  EXPECT_TRUE(test::SamePixels(pic, before));
  EXPECT_EQ(proc.UndoList().size(), 1u);
}

TEST(Reduction, IgnoresTheSelection) {
  // A selection would leave part of the picture in another format: the
  // whole picture is converted.
  IEMask mask(16, 8, 1);
  mask.SelectRect(2, 2, 5, 5);
  mask.SyncBox();
  for (const Op& op : {Op([](ImageProc& p) { p.ConvertToBWOrdered(); }),
                       Op([](ImageProc& p) { p.ConvertToBWThreshold(-1); }), Op([](ImageProc& p) {
                         p.ConvertTo(2, false);
                       })}) {
    IEBitmap pic = Photo(16, 8);
    IEBitmap whole = pic;
    Apply(pic, op, &mask);
    Apply(whole, op);
    EXPECT_EQ(pic.PixelFormat(), F::ie1g);
    EXPECT_TRUE(test::SamePixels(pic, whole));
  }
  IEBitmap pic = Photo(16, 8), whole = pic;
  Apply(pic, [](ImageProc& p) { p.ConvertTo(4, false); }, &mask);
  Apply(whole, [](ImageProc& p) { p.ConvertTo(4, false); });
  EXPECT_TRUE(test::SamePixels(pic, whole));
}

// --- Black and white ----------------------------------------------------------

TEST(OrderedDither, MidGreyGivesTheBayerHalfPattern) {
  // Grey 128: f = 32, so exactly the cells of the matrix below 32 are white.
  IEBitmap pic = test::Solid(19, 11, RGB(128, 128, 128));
  Apply(pic, [](ImageProc& p) { p.ConvertTo(2, false); });
  ASSERT_EQ(pic.PixelFormat(), F::ie1g);
  ASSERT_EQ(pic.Width(), 19);
  ASSERT_EQ(pic.Height(), 11);
  for (int y = 0; y < 11; ++y)
    for (int x = 0; x < 19; ++x) ASSERT_EQ(pic.Bit(x, y), reduction::kBayer[x % 8][y % 8] < 32) << x << "," << y;
  // The first column of the matrix runs down the picture: 0, 32, 8, 40 ...
  EXPECT_TRUE(pic.Bit(0, 0));
  EXPECT_FALSE(pic.Bit(0, 1));
  EXPECT_FALSE(pic.Bit(1, 0));  // M[1][0] = 48
  EXPECT_TRUE(pic.Bit(1, 1));   // M[1][1] = 16
}

TEST(OrderedDither, PixelsAbove250AreWhiteEverywhere) {
  // 251 in every channel: grey 251, f = 62, which would leave the cells 62
  // and 63 black; above 250 in all three channels makes f = 64.
  for (IETriple t : {RGB(251, 251, 251), RGB(255, 251, 253)}) {
    IEBitmap pic = test::Solid(16, 16, t);
    Apply(pic, [](ImageProc& p) { p.ConvertToBWOrdered(); });
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) ASSERT_TRUE(pic.Bit(x, y)) << x << "," << y;
  }
  // One channel at 250 keeps the rule: grey 252 (f = 63) leaves cell 63 black.
  IEBitmap pic = test::Solid(8, 8, RGB(255, 255, 250));
  Apply(pic, [](ImageProc& p) { p.ConvertToBWOrdered(); });
  EXPECT_FALSE(pic.Bit(7, 0));  // M[7][0] = 63
  EXPECT_TRUE(pic.Bit(3, 0));   // M[3][0] = 60
}

TEST(OrderedDither, PackedBitsEqualThePlainRule) {
  // Widths around a byte boundary, and every grey level near the matrix
  // steps, including the channels just around 250.
  for (int width : {1, 7, 8, 9, 23, 64}) {
    IEBitmap pic = test::Random(width, 13, F::ie24RGB, width);
    for (int x = 0; x < width; ++x) pic.Pixel24(x, 3) = RGB(251, 252 - x % 3, 255);
    IEBitmap out;
    ASSERT_TRUE(reduction::OrderedDither(pic, out));
    for (int y = 0; y < pic.Height(); ++y)
      for (int x = 0; x < width; ++x)
        ASSERT_EQ(out.Bit(x, y), reduction::OrderedWhite(pic.Pixel24(x, y), x, y)) << width << ": " << x << "," << y;
  }
}

TEST(Threshold, AutomaticSplitsAtTheMeanGrey) {
  // Left half grey 60, right half grey 200: the mean (and its grey) is 130.
  IEBitmap pic = test::Solid(10, 4, RGB(60, 60, 60));
  for (int y = 0; y < 4; ++y)
    for (int x = 5; x < 10; ++x) pic.Pixel24(x, y) = RGB(200, 200, 200);
  IEBitmap viaConvertTo = pic;
  Apply(pic, [](ImageProc& p) { p.ConvertToBWThreshold(-1); });
  Apply(viaConvertTo, [](ImageProc& p) { p.ConvertTo(2, true); });
  ASSERT_EQ(pic.PixelFormat(), F::ie1g);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 10; ++x) ASSERT_EQ(pic.Bit(x, y), x >= 5);
  EXPECT_TRUE(test::SamePixels(pic, viaConvertTo));
  // A flat picture is all at its own mean: all white.
  IEBitmap flat = test::Solid(5, 5, RGB(128, 128, 128));
  Apply(flat, [](ImageProc& p) { p.ConvertTo(2, true); });
  for (int x = 0; x < 5; ++x) EXPECT_TRUE(flat.Bit(x, 2));
}

TEST(Threshold, MeansAreTakenRowByRowWithDiv) {
  // Green 0 and 255 (row mean 255 div 2 = 127), then 1 and 0 (row mean 0):
  // (127 + 0) div 2 = 63 and grey (63 x 71) div 100 = 44, where the mean of
  // all four pixels (64) would give 45.
  IEBitmap pic(2, 2, F::ie24RGB);
  pic.Pixel24(0, 0) = RGB(0, 0, 0);
  pic.Pixel24(1, 0) = RGB(0, 255, 0);
  pic.Pixel24(0, 1) = RGB(0, 1, 0);
  pic.Pixel24(1, 1) = RGB(0, 0, 0);
  EXPECT_EQ(reduction::MeanGreyThreshold(pic), 44);
}

TEST(Threshold, FixedThresholdsMatchTheGreyRule) {
  const IEBitmap pic = test::Random(21, 9, F::ie24RGB, 3);
  for (int t : {-5, 0, 1, 100, 128, 255, 256, 1 << 30}) {
    IEBitmap out;
    ASSERT_TRUE(reduction::Threshold(pic, out, t));
    for (int y = 0; y < 9; ++y)
      for (int x = 0; x < 21; ++x) {
        const IETriple p = pic.Pixel24(x, y);
        ASSERT_EQ(out.Bit(x, y), GreyLevel(p.r, p.g, p.b) >= t) << t << " at " << x << "," << y;
      }
  }
}

TEST(Threshold, MaximumEntropy) {
  // Two levels: any cut between them is as good; the first one is taken.
  std::array<uint64_t, 256> h{};
  h[50] = 30;
  h[200] = 10;
  EXPECT_EQ(reduction::MaxEntropyThreshold(h), 51);
  // Two uniform bands, 0..63 and 192..255, of equal weight: the split that
  // keeps each band whole has the most entropy (2 x ln 64).
  h.fill(0);
  for (int i = 0; i < 64; ++i) h[i] = h[192 + i] = 5;
  const int t = reduction::MaxEntropyThreshold(h);
  EXPECT_GE(t, 64);
  EXPECT_LE(t, 192);
  // A flat picture: its one level, so that it stays white as under -1.
  h.fill(0);
  h[77] = 9;
  EXPECT_EQ(reduction::MaxEntropyThreshold(h), 77);
  h.fill(0);
  EXPECT_EQ(reduction::MaxEntropyThreshold(h), 0);

  IEBitmap pic = test::Solid(6, 2, RGB(50, 50, 50));
  pic.Pixel24(5, 1) = RGB(200, 200, 200);
  Apply(pic, [](ImageProc& p) { p.ConvertToBWThreshold(-2); });
  EXPECT_FALSE(pic.Bit(0, 0));
  EXPECT_TRUE(pic.Bit(5, 1));
}

TEST(ConvertTo24Bit, BackFromBlackAndWhite) {
  IEBitmap pic = Photo(13, 7);
  Apply(pic, [](ImageProc& p) {
    p.ConvertToBWThreshold(-1);
    p.ConvertTo24Bit();
  });
  ASSERT_EQ(pic.PixelFormat(), F::ie24RGB);
  const auto colours = Colours(pic);
  EXPECT_EQ(colours, (std::set<uint32_t>{0x000000, 0xFFFFFF}));
}

TEST(ConvertTo24Bit, KeepsTheAlphaChannel) {
  // The black-and-white picture replaces the pixels only.
  IEBitmap pic = Photo(10, 6);
  pic.SetAlpha(2, 3, 77);
  Apply(pic, [](ImageProc& p) { p.ConvertToBWOrdered(); });
  ASSERT_TRUE(pic.HasAlphaChannel());
  EXPECT_EQ(pic.Alpha(2, 3), 77);
  Apply(pic, [](ImageProc& p) { p.ConvertTo24Bit(); });
  ASSERT_EQ(pic.PixelFormat(), F::ie24RGB);
  ASSERT_TRUE(pic.HasAlphaChannel());
  EXPECT_EQ(pic.Alpha(2, 3), 77);
  EXPECT_EQ(pic.Alpha(3, 3), 255);
  EXPECT_FALSE(pic.AlphaAllOpaque());
}

TEST(ConvertTo24Bit, LeavesOtherPicturesAloneWithoutUndo) {
  IEBitmap pic = Photo(5, 4);
  const IEBitmap before = pic;
  BitmapTarget target(pic);
  ImageProc proc(target);
  std::vector<int> progress;
  proc.OnProgress = [&](int p) { progress.push_back(p); };
  proc.ConvertTo24Bit();
  EXPECT_TRUE(test::SamePixels(pic, before));
  EXPECT_TRUE(proc.UndoList().empty());
  EXPECT_TRUE(progress.empty());
}

// --- Palette reduction --------------------------------------------------------

TEST(ConvertTo, GreyPicturesTakeTheEvenGreyPalette) {
  // Entry i = trunc(256 / n x i), level v takes entry trunc(v n / 256).
  IEBitmap pic(256, 2, F::ie24RGB);
  for (int x = 0; x < 256; ++x) pic.Pixel24(x, 0) = pic.Pixel24(x, 1) = RGB(x, x, x);
  Apply(pic, [](ImageProc& p) { p.ConvertTo(3, false); });
  const std::vector<std::pair<int, int>> expected = {{0, 0}, {85, 0}, {86, 85}, {170, 85}, {171, 170}, {255, 170}};
  for (auto [v, out] : expected) EXPECT_EQ(pic.Pixel24(v, 1), RGB(out, out, out)) << v;
  // Even a grey picture with fewer levels than colours is mapped.
  IEBitmap two = test::Solid(4, 2, RGB(100, 100, 100));
  Apply(two, [](ImageProc& p) { p.ConvertTo(30, false); });
  // trunc(100 x 30 / 256) = 11, trunc(256 / 30 x 11) = 93.
  EXPECT_EQ(two.Pixel24(0, 0), RGB(93, 93, 93));
}

TEST(ConvertTo, PicturesWithFewColoursAreLeftAlone) {
  IEBitmap pic(20, 10, F::ie24RGB);
  const IETriple ten[10] = {RGB(1, 2, 3),   RGB(200, 10, 10), RGB(10, 200, 10), RGB(10, 10, 200), RGB(255, 255, 0),
                            RGB(0, 255, 255), RGB(77, 77, 78), RGB(250, 250, 250), RGB(3, 2, 1),   RGB(128, 0, 128)};
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 20; ++x) pic.Pixel24(x, y) = ten[(x * 3 + y * 7) % 10];
  const IEBitmap before = pic;
  Apply(pic, [](ImageProc& p) { p.ConvertTo(30, false); });
  EXPECT_TRUE(test::SamePixels(pic, before));
  Apply(pic, [](ImageProc& p) { p.ConvertTo(10, false); });
  EXPECT_TRUE(test::SamePixels(pic, before));
  Apply(pic, [](ImageProc& p) { p.ConvertTo(9, false); });
  EXPECT_LE(Colours(pic).size(), 9u);
}

TEST(ConvertTo, FewColoursEachAMultipleOf8) {
  for (int n : {3, 5, 16, 30, 127}) {
    IEBitmap pic = Photo(40, 30, n);
    Apply(pic, [&](ImageProc& p) { p.ConvertTo(n, false); });
    const auto colours = Colours(pic);
    EXPECT_LE(colours.size(), static_cast<std::size_t>(n));
    EXPECT_GE(colours.size(), n <= 30 ? static_cast<std::size_t>(n) : 2u) << "a photo has enough cells";
    for (uint32_t c : colours) EXPECT_EQ(c & 0x070707u, 0u) << std::hex << c;
  }
}

TEST(VarianceSplit, WorkedExample) {
  // Red cells 0, 1, 30 and 31, one pixel each; green and blue 0.
  //  - The first box (0..31, mean 15.5) splits on red: cuts from
  //    round(7.75) = 8 to round(23.75) = 24 all score 2/2 x 15.5^2, the
  //    first (8) is kept; the halves shrink to 0..1 and 30..31.
  //  - Both halves have error 0.125; the first splits at 0.
  //  - Palette: means 0, 30.5 and 1, so 0, round(30.5) = 30 (even) x 8 =
  //    240, and 8.
  IEBitmap pic(4, 1, F::ie24RGB);
  pic.Pixel24(0, 0) = RGB(3, 0, 0);
  pic.Pixel24(1, 0) = RGB(12, 0, 0);
  pic.Pixel24(2, 0) = RGB(245, 0, 0);
  pic.Pixel24(3, 0) = RGB(255, 0, 0);
  Apply(pic, [](ImageProc& p) { p.ConvertTo(3, false); });
  EXPECT_EQ(pic.Pixel24(0, 0), RGB(0, 0, 0));
  EXPECT_EQ(pic.Pixel24(1, 0), RGB(8, 0, 0));
  EXPECT_EQ(pic.Pixel24(2, 0), RGB(240, 0, 0));
  EXPECT_EQ(pic.Pixel24(3, 0), RGB(240, 0, 0));
}

TEST(VarianceSplit, PicksTheAxisWithTheSmallestSummedError) {
  // Red takes two far-apart values, green three close ones: splitting red
  // leaves halves with only the small green spread, splitting green leaves
  // the large red spread in both.
  reduction::CellHistogram h;
  for (int r : {2, 29})
    for (int g : {10, 11, 12}) {
      h.cells[(r << 10) | (g << 5)] += 10;
      h.total += 10;
    }
  const auto q = reduction::VarianceSplit(h, 2);
  ASSERT_EQ(q.palette.size(), 2u);
  EXPECT_EQ(q.palette[0], RGB(16, 88, 0));
  EXPECT_EQ(q.palette[1], RGB(232, 88, 0));
  EXPECT_EQ(q.cellToBox[(2 << 10) | (12 << 5)], 0);
  EXPECT_EQ(q.cellToBox[(29 << 10) | (10 << 5)], 1);
}

TEST(VarianceSplit, StopsWhenNothingIsLeftToSplit) {
  // Five occupied cells cannot make ten boxes.
  reduction::CellHistogram h;
  const int cells[5] = {0, 1000, 5000, 20000, 32767};
  for (int c : cells) {
    h.cells[c] = 3;
    h.total += 3;
  }
  const auto q = reduction::VarianceSplit(h, 10);
  ASSERT_EQ(q.palette.size(), 5u);
  std::set<int> boxes;
  for (int c : cells) boxes.insert(q.cellToBox[c]);
  EXPECT_EQ(boxes.size(), 5u);
}

TEST(NeuQuant, ManyColoursFromTheNetwork) {
  // 128 colours or more take the network's palette.
  for (auto [w, h] : {std::pair{60, 40}, std::pair{23, 11}}) {
    IEBitmap pic = test::Random(w, h, F::ie24RGB, w);
    Apply(pic, [](ImageProc& p) { p.ConvertTo(128, false); });
    EXPECT_LE(Colours(pic).size(), 128u);
  }
  // A picture with 200 colours needs no reduction to 256.
  IEBitmap pic(200, 3, F::ie24RGB);
  for (int x = 0; x < 200; ++x)
    for (int y = 0; y < 3; ++y) pic.Pixel24(x, y) = RGB(x, 255 - x, (x * 7) & 255);
  const IEBitmap before = pic;
  Apply(pic, [](ImageProc& p) { p.ConvertTo(256, false); });
  EXPECT_TRUE(test::SamePixels(pic, before));
}

TEST(NeuQuant, LearnsTheColoursOfThePicture) {
  // Four colours in large patches: a 128-neuron network settles on them,
  // so every pixel keeps nearly its colour.
  reduction::NeuQuant net(128, 1);
  IEBitmap pic(64, 64, F::ie24RGB);
  const IETriple four[4] = {RGB(200, 30, 30), RGB(30, 200, 30), RGB(30, 30, 200), RGB(240, 240, 240)};
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) pic.Pixel24(x, y) = four[(x / 32) + 2 * (y / 32)];
  net.Learn(pic);
  for (const IETriple& c : four) {
    const IETriple got = net.Palette()[net.Map(c.b, c.g, c.r)];
    EXPECT_LE(std::abs(got.r - c.r) + std::abs(got.g - c.g) + std::abs(got.b - c.b), 12);
  }
}

TEST(ConvertTo, BadColourCountsAndTinyPictures) {
  for (int n : {-5, 0, 1, 2}) {
    IEBitmap pic = Photo(9, 5);
    Apply(pic, [&](ImageProc& p) { p.ConvertTo(n, false); });
    EXPECT_EQ(pic.PixelFormat(), F::ie1g) << n;
  }
  for (int n : {-1, 3, 30, 200, 1024, 1 << 30}) {
    for (IEBitmap pic : {test::Solid(1, 1, RGB(10, 20, 30)), Photo(1, 7), Photo(7, 1)}) {
      Apply(pic, [&](ImageProc& p) {
        p.ConvertTo(n, false);
        p.ConvertTo(n, true);
        p.ConvertToBWThreshold(-2);
        p.ConvertTo24Bit();
        p.ConvertToBWOrdered();
      });
      EXPECT_EQ(pic.PixelFormat(), F::ie1g);
    }
  }
  IEBitmap empty;
  Apply(empty, [](ImageProc& p) {
    p.ConvertTo(30, false);
    p.ConvertToBWOrdered();
  });
  EXPECT_TRUE(empty.IsEmpty());
}

TEST(Reduction, SameResultWhateverTheThreadCount) {
  const IEBitmap photo = Photo(97, 83);
  const std::vector<Op> ops = {
      [](ImageProc& p) { p.ConvertTo(30, false); },   [](ImageProc& p) { p.ConvertTo(200, false); },
      [](ImageProc& p) { p.ConvertTo(2, false); },    [](ImageProc& p) { p.ConvertToBWThreshold(-1); },
      [](ImageProc& p) { p.ConvertToBWThreshold(-2); },
  };
  const int threads = ParallelThreadCount();
  for (const Op& op : ops) {
    IEBitmap one = photo, four = photo;
    SetParallelThreadCount(1);
    Apply(one, op);
    SetParallelThreadCount(4);
    Apply(four, op);
    EXPECT_TRUE(test::SamePixels(one, four));
  }
  SetParallelThreadCount(threads);
}

}  // namespace
}  // namespace velmora
