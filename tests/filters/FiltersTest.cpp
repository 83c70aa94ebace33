// Filters, distortions and shadows: worked examples, the fast forms against
// plain ones, selections, thread counts and bad parameters.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "imaging/Pictures.h"
#include "imaging/Color.h"
#include "imaging/FiltersDetail.h"
#include "imaging/FormatConvert.h"
#include "imaging/ImageProc.h"
#include "imaging/Parallel.h"

namespace velmora {
namespace {

using F = IEPixelFormat;
using test::RGB;
using test::SamePixels;
using Op = std::function<void(ImageProc&)>;

// Smooth gradients with a little texture, like a small photo.
IEBitmap Photo(int w, int h, uint32_t seed = 7) {
  IEBitmap b(w, h, F::ie24RGB);
  std::mt19937 rng(seed);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int noise = static_cast<int>(rng() % 25) - 12;
      auto ch = [&](int v) { return std::clamp(v + noise, 0, 255); };
      b.Pixel24(x, y) = RGB(ch(x * 255 / std::max(w - 1, 1)), ch(y * 255 / std::max(h - 1, 1)), ch((x + 2 * y) % 256));
    }
  return b;
}

// Flat patches and specks drawn from twelve colours that share only four
// grey levels, so that most windows hold several equal candidates of
// different colours.
IEBitmap Patches(int w, int h, uint32_t seed) {
  static const IETriple kPalette[] = {
      RGB(0, 5, 220),   RGB(0, 20, 90),   RGB(10, 20, 65),    // grey 21
      RGB(0, 60, 220),  RGB(0, 75, 95),   RGB(10, 75, 65),    // grey 60
      RGB(0, 140, 220), RGB(0, 160, 50),  RGB(10, 150, 115),  // grey 117
      RGB(0, 255, 240), RGB(15, 255, 200), RGB(40, 245, 230),  // grey 200
  };
  std::mt19937 rng(seed);
  IEBitmap b = test::Solid(w, h, kPalette[rng() % 12]);
  for (int i = 0; i < (w * h) / 6 + 3; ++i) {
    const int x0 = static_cast<int>(rng() % w), y0 = static_cast<int>(rng() % h);
    const int pw = 1 + static_cast<int>(rng() % 5), ph = 1 + static_cast<int>(rng() % 5);
    const IETriple c = kPalette[rng() % 12];
    for (int y = y0; y < std::min(h, y0 + ph); ++y)
      for (int x = x0; x < std::min(w, x0 + pw); ++x) b.Pixel24(x, y) = c;
  }
  return b;
}

IEBitmap RandomBits(int w, int h, uint32_t seed) {
  IEBitmap b(w, h, F::ie1g);
  std::mt19937 rng(seed);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.SetBit(x, y, rng() % 3 != 0);
  return b;
}

void Apply(IEBitmap& pic, const Op& op, const IEMask* selection = nullptr) {
  BitmapTarget target(pic, selection);
  ImageProc proc(target);
  op(proc);
}

IEBitmap Applied(const IEBitmap& pic, const Op& op) {
  IEBitmap out(pic);
  Apply(out, op);
  return out;
}

IEBitmap Crop(const IEBitmap& pic, int x, int y, int w, int h) {
  IEBitmap out(w, h, pic.PixelFormat());
  pic.CopyRectTo(out, x, y, 0, 0, w, h);
  return out;
}

// Restores the thread count and the vector switch whatever a test does.
class FiltersTest : public testing::Test {
 protected:
  void TearDown() override {
    SetParallelThreadCount(threads_);
    detail::SetFilterSimd(true);
    detail::SetOpeningWideKeys(false);
  }
  int threads_ = ParallelThreadCount();
};

// ---------------------------------------------------------------------------
// Gaussian kernel and Blur

TEST(GaussKernel, IsCutToItsNonZeroWeights) {
  struct Case {
    double radius;
    int n;
  };
  // r = 0.3: beyond d = 1 every weight rounds to 0; r = 16: the last
  // non-zero weight is at 64; from about r = 60 nothing is cut.
  for (const Case& c : {Case{0.3, 1}, Case{1, 4}, Case{4, 17}, Case{16, 64}, Case{86, 100}}) {
    const detail::GaussKernel k = detail::MakeGaussKernel(c.radius);
    EXPECT_EQ(k.n, c.n) << c.radius;
    EXPECT_TRUE(k.At(k.n) != 0 || k.n == 1) << c.radius;
    int sum = 0;
    for (int d = -k.n; d <= k.n; ++d) {
      EXPECT_EQ(k.At(d), k.At(-d));
      sum += k.At(d);
    }
    EXPECT_NEAR(sum, 65536, k.n) << c.radius;
  }
}

TEST(GaussKernel, TheFastBlurRefusesWeightsItCannotSumExactly) {
  const IEBitmap pic = Photo(9, 7);
  for (const std::vector<int>& k : {std::vector<int>{20000, 30000, 20000}, std::vector<int>{0, 70000, 0},
                                    std::vector<int>{1, 65534, 2}, std::vector<int>{-1, 65538, -1}}) {
    IEBitmap out(pic);
    EXPECT_FALSE(detail::GaussBlur(out, detail::GaussKernel{1, k})) << k[0] << "," << k[1];
    EXPECT_TRUE(SamePixels(out, pic));
  }
}

TEST(Blur, TinyRadiusBarelySpreadsAnImpulse) {
  // k(0) = 65033, k(1) = 251: 255 becomes 253 across the row and 251 after
  // the columns; the four neighbours get 1, the diagonals 0.
  IEBitmap pic = test::Solid(5, 5, RGB(0, 0, 0));
  pic.Pixel24(2, 2) = RGB(255, 255, 255);
  Apply(pic, [](ImageProc& p) { p.Blur(0.3); });
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 5; ++x) {
      const int dist = std::abs(x - 2) + std::abs(y - 2);
      const int want = dist == 0 ? 251 : (dist == 1 && (x == 2 || y == 2) ? 1 : 0);
      EXPECT_EQ(pic.Pixel24(x, y), RGB(want, want, want)) << x << "," << y;
    }
}

TEST(Blur, LeavesFlatPicturesFlat) {
  for (double radius : {0.3, 2.0, 16.0, 150.0})
    for (int v : {0, 1, 128, 254, 255}) {
      IEBitmap pic = test::Solid(23, 9, RGB(v, 255 - v, v / 2));
      const IEBitmap before(pic);
      Apply(pic, [&](ImageProc& p) { p.Blur(radius); });
      EXPECT_TRUE(SamePixels(pic, before)) << radius << " " << v;
    }
}

TEST_F(FiltersTest, FastBlurEqualsThePlainOne) {
  struct Size {
    int w, h;
  };
  for (bool simd : {true, false}) {
    detail::SetFilterSimd(simd);
    for (F fmt : {F::ie24RGB, F::ie8g})
      for (Size s : {Size{1, 1}, Size{1, 9}, Size{9, 1}, Size{37, 23}, Size{70, 5}})
        for (double radius : {0.3, 1.0, 2.5, 7.0, 30.0, 150.0}) {
          IEBitmap pic = test::Random(s.w, s.h, fmt, static_cast<uint32_t>(s.w * 131 + s.h));
          IEBitmap plain(pic);
          const detail::GaussKernel k = detail::MakeGaussKernel(radius);
          ASSERT_TRUE(detail::GaussBlur(pic, k));
          detail::GaussBlurReference(plain, k);
          ASSERT_TRUE(SamePixels(pic, plain))
              << "simd " << simd << " " << PixelFormatName(fmt) << " " << s.w << "x" << s.h << " radius " << radius;
        }
  }
}

TEST(Blur, WithoutAPositiveRadiusNothingHappens) {
  for (double radius : {0.0, -3.0, std::numeric_limits<double>::quiet_NaN()}) {
    IEBitmap pic = Photo(12, 10);
    const IEBitmap before(pic);
    test::LayersTarget target(1);
    target.LayerBitmap(0) = pic;
    ImageProc proc(target);
    proc.Blur(radius);
    EXPECT_TRUE(SamePixels(target.LayerBitmap(0), before)) << radius;
    EXPECT_TRUE(proc.UndoList().empty()) << radius;
    EXPECT_TRUE(target.events.empty()) << radius;
  }
}

TEST(Blur, KeepsGreyPicturesGrey) {
  IEBitmap pic = test::Random(16, 12, F::ie8g, 3);
  IEBitmap plain(pic);
  Apply(pic, [](ImageProc& p) { p.Blur(2); });
  detail::GaussBlurReference(plain, detail::MakeGaussKernel(2));
  EXPECT_TRUE(SamePixels(pic, plain));
}

// ---------------------------------------------------------------------------
// Sharpen

TEST(Sharpen, WithoutNeighboursTriplesEveryChannel) {
  // Half window 0: no neighbours, mean 0, each channel clamp(Trunc(3 c)).
  IEBitmap pic = test::Row({RGB(0, 1, 50), RGB(85, 86, 255)});
  Apply(pic, [](ImageProc& p) { p.Sharpen(20, 1); });
  EXPECT_EQ(pic.Pixel24(0, 0), RGB(0, 3, 150));
  EXPECT_EQ(pic.Pixel24(1, 1), RGB(255, 255, 255));
}

TEST(Sharpen, DoublesTheDifferenceToTheNeighbourMean) {
  // Columns 0..3 at 100, 4..7 at 200. The mean leaves out the pixel's own
  // row and column: at x = 3 it is that of columns 1, 2 (100) and 4, 5
  // (200), 150, so 100 - 50 becomes 100 - 100.
  IEBitmap pic(8, 6, F::ie24RGB);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 8; ++x) pic.Pixel24(x, y) = x < 4 ? RGB(100, 100, 100) : RGB(200, 200, 200);
  Apply(pic, [](ImageProc& p) { p.Sharpen(10, 4); });
  const int want[8] = {100, 100, 75, 50, 250, 225, 200, 200};
  for (int y = 2; y <= 3; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_EQ(pic.Pixel24(x, y).g, want[x]) << x << "," << y;

  IEBitmap flat = test::Solid(9, 7, RGB(30, 140, 250));
  Apply(flat, [](ImageProc& p) { p.Sharpen(10, 4); });
  EXPECT_TRUE(SamePixels(flat, test::Solid(9, 7, RGB(30, 140, 250))));
}

TEST(Sharpen, FastFormEqualsThePlainOne) {
  for (int neighbourhood : {-7, 0, 1, 2, 3, 4, 5, 9, 40})
    for (int intensity : {-25, 0, 10, 37, 100}) {
      const IEBitmap pic = test::Random(19, 14, F::ie24RGB, static_cast<uint32_t>(neighbourhood + 50));
      IEBitmap plain(pic);
      detail::SharpenReference(plain, 0, 0, 19, 14, intensity, neighbourhood);
      EXPECT_TRUE(SamePixels(Applied(pic, [&](ImageProc& p) { p.Sharpen(intensity, neighbourhood); }), plain))
          << intensity << ", " << neighbourhood;
    }
}

// ---------------------------------------------------------------------------
// Opening

TEST(Opening, RadiusZeroOrBelowLeavesThePicture) {
  for (int radius : {0, -1, INT_MIN}) {
    const IEBitmap pic = Patches(15, 9, 4);
    EXPECT_TRUE(SamePixels(Applied(pic, [&](ImageProc& p) { p.Opening(radius); }), pic)) << radius;
  }
}

TEST(Opening, OfEqualDarkestPixelsTheFirstInRowMajorOrderWins) {
  // On 3 x 3 with radius 2 every window covers the whole picture, so the
  // erosion gives every pixel the winner's colour and the dilation keeps
  // it. A and B have the same grey level 21; the rest is white.
  const IETriple A = RGB(0, 30, 0), B = RGB(100, 0, 0);
  struct Case {
    int ax, ay, bx, by;
    IETriple want;
  };
  for (const Case& c : {Case{2, 0, 0, 1, A},    // an earlier row beats a column further left
                        Case{0, 1, 1, 0, B},    //
                        Case{1, 2, 0, 2, B},    // same row: the leftmost
                        Case{0, 0, 2, 2, A}}) {
    IEBitmap pic = test::Solid(3, 3, RGB(255, 255, 255));
    pic.Pixel24(c.ax, c.ay) = A;
    pic.Pixel24(c.bx, c.by) = B;
    Apply(pic, [](ImageProc& p) { p.Opening(2); });
    EXPECT_TRUE(SamePixels(pic, test::Solid(3, 3, c.want))) << c.ax << "," << c.ay << " vs " << c.bx << "," << c.by;
  }
}

TEST(Opening, RemovesSmallBrightDetailsAndKeepsLargeOnes) {
  IEBitmap pic = test::Solid(12, 12, RGB(20, 20, 20));
  pic.Pixel24(2, 2) = RGB(255, 255, 255);  // a speck
  for (int y = 6; y < 10; ++y)
    for (int x = 6; x < 10; ++x) pic.Pixel24(x, y) = RGB(200, 0, 0);  // a 4 x 4 patch
  Apply(pic, [](ImageProc& p) { p.Opening(1); });
  EXPECT_EQ(pic.Pixel24(2, 2), RGB(20, 20, 20));
  for (int y = 6; y < 10; ++y)
    for (int x = 6; x < 10; ++x) EXPECT_EQ(pic.Pixel24(x, y), RGB(200, 0, 0)) << x << "," << y;
}

TEST_F(FiltersTest, FastOpeningEqualsThePlainOne) {
  // Random pictures, and patches where most windows hold several equal
  // darkest or brightest candidates of different colours. Every variant of
  // the fast form: 32- and 64-bit keys, with and without vector code.
  auto fastVariants = [](const IEBitmap& pic, int x1, int y1, int x2, int y2, int radius, const IEBitmap& plain,
                         const std::string& what) {
    for (bool wide : {false, true})
      for (bool simd : {true, false}) {
        detail::SetOpeningWideKeys(wide);
        detail::SetFilterSimd(simd);
        IEBitmap fast(pic);
        detail::OpeningFast(fast, x1, y1, x2, y2, radius);
        ASSERT_TRUE(SamePixels(fast, plain)) << what << " wide " << wide << " simd " << simd;
      }
  };
  struct Size {
    int w, h;
  };
  for (Size s : {Size{1, 1}, Size{1, 12}, Size{13, 1}, Size{17, 11}, Size{40, 29}})
    for (int radius : {1, 2, 3, 5, 8, 30})
      for (int kind = 0; kind < 2; ++kind) {
        const uint32_t seed = static_cast<uint32_t>(s.w * 7 + s.h * 13 + radius);
        const IEBitmap pic = kind == 0 ? test::Random(s.w, s.h, F::ie24RGB, seed) : Patches(s.w, s.h, seed);
        IEBitmap plain(pic);
        detail::OpeningReference(plain, 0, 0, s.w, s.h, radius);
        fastVariants(pic, 0, 0, s.w, s.h, radius, plain,
                     (kind ? "patches " : "random ") + std::to_string(s.w) + "x" + std::to_string(s.h) + " radius " +
                         std::to_string(radius));
      }
  // A rectangle inside a picture: the window is clamped to the rectangle.
  const IEBitmap pic = Patches(31, 22, 9);
  IEBitmap plain(pic);
  detail::OpeningReference(plain, 4, 3, 27, 19, 3);
  fastVariants(pic, 4, 3, 27, 19, 3, plain, "rectangle");
}

TEST(Opening, BiLevelPictures) {
  IEBitmap pic(9, 9, F::ie1g);
  pic.Fill(0);
  pic.SetBit(1, 1, true);  // a lone white pixel vanishes
  for (int y = 4; y < 7; ++y)
    for (int x = 4; x < 7; ++x) pic.SetBit(x, y, true);  // a 3 x 3 square stays
  Apply(pic, [](ImageProc& p) { p.Opening(1); });
  EXPECT_EQ(pic.PixelFormat(), F::ie1g);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 9; ++x) EXPECT_EQ(pic.Bit(x, y), x >= 4 && x < 7 && y >= 4 && y < 7) << x << "," << y;

  for (int radius : {1, 2, 4}) {
    const IEBitmap bits = RandomBits(21, 13, static_cast<uint32_t>(radius));
    IEBitmap plain(bits);
    detail::OpeningReference(plain, 0, 0, 21, 13, radius);
    EXPECT_TRUE(SamePixels(Applied(bits, [&](ImageProc& p) { p.Opening(radius); }), plain)) << radius;
  }
}

// ---------------------------------------------------------------------------
// Wave

// Every pixel a colour of its own: red x * 8, green y * 8.
IEBitmap Coordinates(int w, int h) {
  IEBitmap b(w, h, F::ie24RGB);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.Pixel24(x, y) = RGB(x * 8, y * 8, 7);
  return b;
}

TEST(Wave, TheCentreShowsThePixelTenRightAndTenUp) {
  // r = 0 at the centre (15, 15), s = 10 sin(pi / 2) = 10: the source is
  // (25, 5), taken whole (u = v = 0). Reflective, t = 10 but dx = dy = 0:
  // the centre stays.
  IEBitmap pic = Coordinates(31, 31);
  Apply(pic, [](ImageProc& p) { p.Wave(10, 4, 90, false); });
  EXPECT_EQ(pic.Pixel24(15, 15), RGB(25 * 8, 5 * 8, 7));
  IEBitmap refl = Coordinates(31, 31);
  Apply(refl, [](ImageProc& p) { p.Wave(10, 4, 90, true); });
  EXPECT_EQ(refl.Pixel24(15, 15), RGB(15 * 8, 15 * 8, 7));
}

TEST(Wave, ZeroAmplitudeOrWavelengthDoesNothing) {
  for (auto [amplitude, wavelength] : {std::pair{0, 5}, std::pair{5, 0}}) {
    test::LayersTarget target(1);
    target.LayerBitmap(0) = Coordinates(9, 9);
    ImageProc proc(target);
    proc.Wave(amplitude, wavelength, 30, false);
    EXPECT_TRUE(SamePixels(target.LayerBitmap(0), Coordinates(9, 9)));
    EXPECT_TRUE(proc.UndoList().empty());
  }
}

TEST_F(FiltersTest, FastWaveEqualsThePlainOne) {
  struct Size {
    int w, h;
  };
  const Size sizes[] = {{1, 1}, {1, 7}, {6, 1}, {9, 9}, {10, 7}, {7, 10}, {31, 20}};
  for (bool simd : {true, false}) {
    detail::SetFilterSimd(simd);
    for (Size s : sizes)
      for (int amplitude : {-7, 3, 40})
        for (int wavelength : {-5, 2, 9})
          for (int phase : {0, 90, 275})
            for (bool reflective : {false, true}) {
              const IEBitmap pic = Photo(s.w, s.h, static_cast<uint32_t>(s.w + s.h));
              IEBitmap plain(pic);
              detail::WaveReference(plain, amplitude, wavelength, phase, reflective);
              ASSERT_TRUE(SamePixels(
                  Applied(pic, [&](ImageProc& p) { p.Wave(amplitude, wavelength, phase, reflective); }), plain))
                  << s.w << "x" << s.h << " " << amplitude << "," << wavelength << "," << phase << "," << reflective
                  << " simd " << simd;
            }
  }
}

// ---------------------------------------------------------------------------
// Fill

TEST(Fill, TakesAPackedRedGreenBlueValue) {
  IEBitmap pic = Photo(4, 3);
  Apply(pic, [](ImageProc& p) { p.Fill(0x123456); });
  EXPECT_TRUE(SamePixels(pic, test::Solid(4, 3, RGB(0x12, 0x34, 0x56))));
  Apply(pic, [](ImageProc& p) { p.Fill(255 * 65536); });
  EXPECT_TRUE(SamePixels(pic, test::Solid(4, 3, RGB(255, 0, 0))));
}

// ---------------------------------------------------------------------------
// The frame: labels, undo copies, progress, selections, threads

struct FrameCase {
  std::string label;
  Op op;
};

std::vector<FrameCase> FrameCases() {
  return {
      {"Blur 2.5", [](ImageProc& p) { p.Blur(2.5); }},
      {"Blur 16", [](ImageProc& p) { p.Blur(16); }},
      {"Sharpen", [](ImageProc& p) { p.Sharpen(10, 4); }},
      {"Opening 3", [](ImageProc& p) { p.Opening(3); }},
      {"Wave", [](ImageProc& p) { p.Wave(4, 6, 30, false); }},
      {"Fill", [](ImageProc& p) { p.Fill(0xFFFFFF); }},
      {"AddSoftShadow", [](ImageProc& p) { p.AddSoftShadow(3, 3, 2, true, clBlack, 100); }},
      {"AddInnerShadow", [](ImageProc& p) { p.AddInnerShadow(0, 0, 3, clBlack); }},
  };
}

TEST(FilterFrame, LabelsUndoCopiesAndProgress) {
  for (const FrameCase& c : FrameCases()) {
    const IEBitmap pic = Photo(30, 20);
    test::LayersTarget target(1);
    target.LayerBitmap(0) = pic;
    ImageProc proc(target);
    c.op(proc);
    ASSERT_EQ(proc.UndoList().size(), 1u) << c.label;
    EXPECT_EQ(proc.UndoList().back().label, c.label);
    EXPECT_TRUE(SamePixels(proc.UndoList().back().bitmap, pic)) << c.label;
    ASSERT_FALSE(target.progress.empty()) << c.label;
    EXPECT_EQ(target.progress.back(), 100) << c.label;
    // The usual row formula passes 100 on the last row; then the end's 100.
    EXPECT_TRUE(std::is_sorted(target.progress.begin(), target.progress.end() - 1)) << c.label;
    EXPECT_EQ(target.events.back(), "finish") << c.label;
  }
}

TEST(FilterFrame, ASelectionLimitsTheFiltersToItsBox) {
  // Outside the box nothing changes; inside, the result is that of the
  // operation on the box alone.
  const std::vector<FrameCase> cases = {
      {"Blur", [](ImageProc& p) { p.Blur(2.5); }},
      {"Sharpen", [](ImageProc& p) { p.Sharpen(10, 4); }},
      {"Opening", [](ImageProc& p) { p.Opening(2); }},
      {"Wave", [](ImageProc& p) { p.Wave(3, 4, 30, false); }},
      {"Fill", [](ImageProc& p) { p.Fill(0x123456); }},
  };
  const int bx = 5, by = 3, bw = 19, bh = 12;
  IEMask mask(32, 20, 1);
  mask.SelectRect(bx, by, bx + bw - 1, by + bh - 1);
  mask.SyncBox();
  for (const FrameCase& c : cases) {
    const IEBitmap pic = Patches(32, 20, 11);
    IEBitmap got(pic);
    Apply(got, c.op, &mask);
    const IEBitmap box = Applied(Crop(pic, bx, by, bw, bh), c.op);
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < 32; ++x) {
        const bool inside = x >= bx && x < bx + bw && y >= by && y < by + bh;
        const IETriple want = inside ? box.Pixel24(x - bx, y - by) : pic.Pixel24(x, y);
        ASSERT_EQ(got.Pixel24(x, y), want) << c.label << " at " << x << "," << y;
      }
  }
}

TEST_F(FiltersTest, ResultsDoNotDependOnTheThreadCount) {
  std::vector<FrameCase> cases = FrameCases();
  cases.push_back({"Opening 40", [](ImageProc& p) { p.Opening(40); }});
  cases.push_back({"Wave reflective", [](ImageProc& p) { p.Wave(9, 5, 200, true); }});
  cases.push_back({"AddSoftShadow soft", [](ImageProc& p) { p.AddSoftShadow(-4, 6, 5, false, 0x336699, 60); }});
  IEBitmap pic = Photo(161, 120);
  // Soft edges, holes and transparent parts for the shadows.
  for (int y = 0; y < pic.Height(); ++y)
    for (int x = 0; x < pic.Width(); ++x) pic.SetAlpha(x, y, static_cast<uint8_t>(x < 20 ? 0 : (x < 40 ? x * 6 : 255)));
  for (const FrameCase& c : cases) {
    std::vector<IEBitmap> results;
    for (int threads : {1, 2, 4}) {
      SetParallelThreadCount(threads);
      results.push_back(Applied(pic, c.op));
    }
    for (int i = 1; i < 3; ++i) {
      EXPECT_TRUE(SamePixels(results[i], results[0])) << c.label;
      ASSERT_TRUE(results[i].HasAlphaChannel() && results[0].HasAlphaChannel()) << c.label;
      EXPECT_TRUE(SamePixels(*results[i].AlphaChannelIfAny(), *results[0].AlphaChannelIfAny())) << c.label;
    }
  }
}

// ---------------------------------------------------------------------------
// Shadows

// An opaque 100 x 100 photo given AddSoftShadow(5, 5, 4, true, black, 100).
IEBitmap SoftShadowExample(int intensity = 100) {
  IEBitmap pic = Photo(100, 100);
  Apply(pic, [&](ImageProc& p) { p.AddSoftShadow(5, 5, 4, true, clBlack, intensity); });
  return pic;
}

TEST(AddSoftShadow, EnlargesTheOpaquePictureAndCastsTheShadowDownRight) {
  const IEBitmap photo = Photo(100, 100);
  const IEBitmap pic = SoftShadowExample();
  // e = 2 x 5 + Trunc(5 x 4) = 30: 130 x 130, the photo at (15, 15).
  ASSERT_EQ(pic.Width(), 130);
  ASSERT_EQ(pic.Height(), 130);
  ASSERT_TRUE(pic.HasAlphaChannel());
  EXPECT_FALSE(pic.AlphaAllOpaque());
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 100; ++x) {
      ASSERT_EQ(pic.Pixel24(x + 15, y + 15), photo.Pixel24(x, y));
      ASSERT_EQ(pic.Alpha(x + 15, y + 15), 255);
    }
  for (int y = 0; y < 130; ++y)
    for (int x = 0; x < 130; ++x) {
      const bool inPhoto = x >= 15 && x < 115 && y >= 15 && y < 115;
      if (inPhoto) continue;
      // The moved shadow uncovers the top five rows and left five columns.
      if (x < 5 || y < 5) {
        ASSERT_EQ(pic.Alpha(x, y), 0) << x << "," << y;
      }
      // Shadowed pixels are black.
      if (pic.Alpha(x, y) > 0) {
        ASSERT_EQ(pic.Pixel24(x, y), RGB(0, 0, 0)) << x << "," << y;
      }
    }
  // Below the photo the shadow fades with the distance; the far upper left
  // of the border stays clear.
  EXPECT_GT(pic.Alpha(65, 115), 200);
  for (int y = 116; y < 130; ++y) EXPECT_LE(pic.Alpha(65, y), pic.Alpha(65, y - 1)) << y;
  EXPECT_GT(pic.Alpha(65, 121), 0);
  EXPECT_LT(pic.Alpha(65, 121), 128);
  EXPECT_EQ(pic.Alpha(10, 10), 0);
}

TEST(AddSoftShadow, IntensityDividesTheShadowsAlpha) {
  // q = 3 - 2 f / 100: 1 at 100, 2 at 50, 3 at 0; out of range clamped.
  const IEBitmap full = SoftShadowExample(100);
  struct Case {
    int intensity, divisor;
  };
  for (const Case& c : {Case{50, 2}, Case{0, 3}, Case{-20, 3}, Case{250, 1}}) {
    const IEBitmap pic = SoftShadowExample(c.intensity);
    for (int y = 0; y < 130; ++y)
      for (int x = 0; x < 130; ++x)
        if (x < 15 || x >= 115 || y < 15 || y >= 115) {
          ASSERT_EQ(pic.Alpha(x, y), full.Alpha(x, y) / c.divisor) << c.intensity << " at " << x << "," << y;
        }
  }
}

TEST(AddSoftShadow, SoftEdgesAndClearParts) {
  // Alpha 128 everywhere: the blur keeps s = 128. With u = b = 128/255:
  // m = Trunc((1 - u) 200) = 99, the pixel Trunc(b 200 + (1 - b) 99) = 149,
  // the alpha Trunc((b + u (1 - b)) 255) = 191.
  IEBitmap soft = test::Solid(20, 20, RGB(200, 200, 200));
  soft.AlphaChannel().Fill(128);
  Apply(soft, [](ImageProc& p) { p.AddSoftShadow(0, 0, 3, false, clBlack, 100); });
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 20; ++x) {
      ASSERT_EQ(soft.Pixel24(x, y), RGB(149, 149, 149));
      ASSERT_EQ(soft.Alpha(x, y), 191);
    }
  // Transparent and unshadowed: colour and alpha stay.
  IEBitmap clear = Photo(20, 20);
  clear.AlphaChannel().Fill(0);
  const IEBitmap before(clear);
  Apply(clear, [](ImageProc& p) { p.AddSoftShadow(2, 2, 3, false, clBlack, 100); });
  EXPECT_TRUE(SamePixels(clear, before));
  EXPECT_TRUE(SamePixels(*clear.AlphaChannelIfAny(), *before.AlphaChannelIfAny()));
}

TEST(Shadows, IgnoreTheSelection) {
  IEMask mask(40, 30, 1);
  mask.SelectRect(10, 10, 20, 20);
  mask.SyncBox();
  IEBitmap pic = Photo(40, 30);
  Apply(pic, [](ImageProc& p) { p.AddInnerShadow(0, 0, 3, clBlack); }, &mask);
  // The corner, far outside the selection, is darkened.
  EXPECT_LT(pic.Pixel24(0, 29).g, Photo(40, 30).Pixel24(0, 29).g);
  IEBitmap enlarged = Photo(40, 30);
  Apply(enlarged, [](ImageProc& p) { p.AddSoftShadow(2, 2, 2, true, clBlack, 100); }, &mask);
  EXPECT_EQ(enlarged.Width(), 40 + 14);
}

TEST(AddInnerShadow, DarkensTheEdgesAndLeavesTheCentre) {
  IEBitmap pic = test::Solid(100, 100, RGB(128, 128, 128));
  test::LayersTarget target(1);
  target.LayerBitmap(0) = pic;
  ImageProc proc(target);
  proc.AddInnerShadow(0, 0, 10, clBlack);
  const IEBitmap& out = target.LayerBitmap(0);
  // The kernel of radius 10 reaches 41 pixels: the middle is untouched.
  for (int y = 42; y < 58; ++y)
    for (int x = 42; x < 58; ++x) ASSERT_EQ(out.Pixel24(x, y), RGB(128, 128, 128)) << x << "," << y;
  EXPECT_LT(out.Pixel24(0, 0).g, out.Pixel24(0, 50).g);
  EXPECT_LT(out.Pixel24(0, 50).g, out.Pixel24(10, 50).g);
  // Without offsets the shading is the same from each side.
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 100; ++x) {
      ASSERT_EQ(out.Pixel24(x, y), out.Pixel24(99 - x, y)) << x << "," << y;
      ASSERT_EQ(out.Pixel24(x, y), out.Pixel24(x, 99 - y)) << x << "," << y;
      ASSERT_EQ(out.Alpha(x, y), 255);
    }
  EXPECT_FALSE(out.AlphaAllOpaque());
}

TEST(AddInnerShadow, AnOffsetWithoutBlurShadesTheUncoveredColumns) {
  // Radius 0 leaves the coverage sharp; e = 6, and moved 3 to the right
  // the three left columns read the transparent border: s = 0 there, and
  // c + floor((0 - c) x 255 / 256) is 0 for c = 200 and for c = 1.
  for (int c : {200, 1}) {
    IEBitmap pic = test::Solid(8, 5, RGB(c, c, c));
    Apply(pic, [](ImageProc& p) { p.AddInnerShadow(3, 0, 0, clBlack); });
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 8; ++x) ASSERT_EQ(pic.Pixel24(x, y).r, x < 3 ? 0 : c) << c << " at " << x << "," << y;
  }
}

// ---------------------------------------------------------------------------
// Bad parameters: no crash, no hang, no huge allocation.

TEST(FilterParameters, AreClampedOrIgnored) {
  const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<Op> ops = {
      [](ImageProc& p) { p.Blur(1e300); },
      [&](ImageProc& p) { p.Blur(inf); },
      [](ImageProc& p) { p.Sharpen(INT_MAX, INT_MAX); },
      [](ImageProc& p) { p.Sharpen(INT_MIN, INT_MIN); },
      [](ImageProc& p) { p.Opening(INT_MAX); },
      [](ImageProc& p) { p.Wave(INT_MAX, 1, INT_MIN, false); },
      [](ImageProc& p) { p.Wave(INT_MIN, INT_MIN, INT_MAX, true); },
      [](ImageProc& p) { p.Fill(INT_MIN); },
      [](ImageProc& p) { p.AddSoftShadow(INT_MIN, INT_MAX, 3, false, clBlack, INT_MIN); },
      [](ImageProc& p) { p.AddSoftShadow(1, 1, -50, true, clBlack, 100); },
      [](ImageProc& p) { p.AddInnerShadow(INT_MAX, INT_MIN, 2, clWhite); },
  };
  for (int w : {1, 2, 7})
    for (std::size_t i = 0; i < ops.size(); ++i) {
      IEBitmap pic = Photo(w, 3);
      Apply(pic, ops[i]);
      EXPECT_EQ(pic.Height(), i == 9 ? 4 : 3) << i;
    }
  // An enlargement that would pass any picture's size leaves everything
  // as it was, and so does a radius that is not a number.
  for (const Op& op : std::vector<Op>{[](ImageProc& p) { p.AddSoftShadow(0, 0, 1e300, true, clBlack, 100); },
                                      [](ImageProc& p) { p.AddSoftShadow(INT_MIN, 0, 2, true, clBlack, 100); },
                                      [&](ImageProc& p) { p.AddSoftShadow(0, 0, nan, false, clBlack, 100); },
                                      [&](ImageProc& p) { p.AddInnerShadow(0, 0, inf, clBlack); },
                                      [](ImageProc& p) { p.AddInnerShadow(INT_MAX, 0, 1, clBlack); }}) {
    test::LayersTarget target(1);
    target.LayerBitmap(0) = Photo(10, 8);
    ImageProc proc(target);
    op(proc);
    EXPECT_TRUE(SamePixels(target.LayerBitmap(0), Photo(10, 8)));
    EXPECT_FALSE(target.LayerBitmap(0).HasAlphaChannel());
    EXPECT_TRUE(proc.UndoList().empty());
  }
}

}  // namespace
}  // namespace velmora
