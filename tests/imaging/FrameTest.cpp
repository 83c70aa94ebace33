// The operation frame every labelled operation shares: labels and undo
// copies, the format check, the working rectangle, the blend back through
// the selection, progress and notifications; and AlphaFromMask.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "Pictures.h"
#include "imaging/Color.h"
#include "imaging/ImageProc.h"
#include "imaging/Parallel.h"

namespace velmora {
namespace {

using F = IEPixelFormat;
using test::RGB;

// The picture with every sample complemented (Negative without a selection).
IEBitmap Negated(const IEBitmap& pic) {
  IEBitmap out = pic;
  BitmapTarget target(out);
  ImageProc proc(target);
  proc.Negative();
  return out;
}

// --- Labels and undo copies ---------------------------------------------------------

struct LabelCase {
  std::function<void(ImageProc&)> run;
  const char* label;
};

TEST(Frame, EachOperationRecordsItsLabelWithTheUndoCopy) {
  const std::vector<LabelCase> cases = {
      {[](ImageProc& p) { p.IntensityRGBall(0, 0, -250); }, "IntensityRGBall 0,0,-250"},
      {[](ImageProc& p) { p.HSLvar(0, 0, -50); }, "HSLvar 0,0,-50"},
      {[](ImageProc& p) { p.HSLvar(-180, 5, 100); }, "HSLvar -180,5,100"},
      {[](ImageProc& p) { p.Contrast(1); }, "Contrast 1"},
      {[](ImageProc& p) { p.Contrast(-30); }, "Contrast -30"},
      {[](ImageProc& p) { p.AdjustBrightnessContrastSaturation(-50, 0, 0); }, "AdjustBrightnessContrastSaturation"},
      {[](ImageProc& p) { p.Colorize(40, 50, 1.1); }, "Colorize"},
      {[](ImageProc& p) { p.ConvertToGray(); }, "ConvertToGray"},
      {[](ImageProc& p) { p.Negative(); }, "Negative"},
  };
  for (const auto& c : cases) {
    IEBitmap pic = test::Random(3, 2, F::ie24RGB);
    const IEBitmap before = pic;
    BitmapTarget target(pic);
    ImageProc proc(target);
    c.run(proc);
    ASSERT_EQ(proc.UndoList().size(), 1u) << c.label;
    EXPECT_EQ(proc.UndoList().back().label, c.label);
    EXPECT_EQ(proc.UndoList().back().layer, 0);
    EXPECT_TRUE(test::SamePixels(proc.UndoList().back().bitmap, before)) << c.label;
  }
}

TEST(Frame, UndoListKeepsTheNewestUpToTheLimit) {
  IEBitmap pic = test::Random(4, 4, F::ie24RGB);
  BitmapTarget target(pic);
  ImageProc proc(target);
  proc.Negative();
  proc.Contrast(1);
  ASSERT_EQ(proc.UndoList().size(), 1u);
  EXPECT_EQ(proc.UndoList().back().label, "Contrast 1");

  proc.UndoLimit = 3;
  for (int i = 1; i <= 4; ++i) proc.IntensityRGBall(i, 0, 0);
  ASSERT_EQ(proc.UndoList().size(), 3u);
  EXPECT_EQ(proc.UndoList()[0].label, "IntensityRGBall 2,0,0");
  EXPECT_EQ(proc.UndoList()[2].label, "IntensityRGBall 4,0,0");
}

TEST(Frame, PicturesBelowTwoByTwoGetNoUndoCopyButAreStillChanged) {
  for (auto [w, h] : {std::pair{1, 5}, std::pair{5, 1}}) {
    IEBitmap pic = test::Solid(w, h, RGB(10, 20, 30));
    BitmapTarget target(pic);
    ImageProc proc(target);
    proc.Negative();
    EXPECT_TRUE(proc.UndoList().empty());
    EXPECT_EQ(pic.Pixel24(0, 0), RGB(245, 235, 225));
  }
}

TEST(Frame, NoUndoCopyWithAutoUndoOff) {
  IEBitmap pic = test::Random(4, 4, F::ie24RGB);
  test::LayersTarget target(1);
  target.LayerBitmap(0) = pic;
  ImageProc proc(target);
  proc.AutoUndo = false;
  proc.Negative();
  EXPECT_TRUE(proc.UndoList().empty());
  EXPECT_EQ(std::count(target.events.begin(), target.events.end(), "undo"), 0);
}

TEST(Frame, UndoCopyKeepsTheAlphaChannelAndIsAutomatic) {
  IEBitmap pic = test::Random(4, 4, F::ie24RGB);
  pic.SetAlpha(2, 2, 33);
  pic.SetLocation(IELocation::ieMemory);
  BitmapTarget target(pic);
  ImageProc proc(target);
  proc.Negative();
  const IEBitmap& copy = proc.UndoList().back().bitmap;
  EXPECT_EQ(copy.Alpha(2, 2), 33);
  EXPECT_FALSE(copy.AlphaAllOpaque());
  EXPECT_EQ(copy.Location(), IELocation::ieAuto);
}

TEST(Frame, UndoTwiceRestoresTheSameStateTwice) {
  IEBitmap pic = test::Random(6, 5, F::ie24RGB);
  const IEBitmap before = pic;
  BitmapTarget target(pic);
  ImageProc proc(target);
  proc.Undo();  // empty list: nothing
  EXPECT_TRUE(test::SamePixels(pic, before));
  proc.Negative();
  proc.Undo();
  EXPECT_TRUE(test::SamePixels(pic, before));
  pic.Pixel24(0, 0) = RGB(1, 2, 3);
  proc.Undo();
  EXPECT_TRUE(test::SamePixels(pic, before));
  EXPECT_EQ(proc.UndoList().size(), 1u);
}

TEST(Frame, UndoReturnsToTheRecordedLayerOrTheTopOne) {
  test::LayersTarget target(3);
  for (int i = 0; i < 3; ++i) target.LayerBitmap(i) = test::Solid(3, 3, RGB(i, i, i));
  target.current = 1;
  ImageProc proc(target);
  proc.Negative();
  EXPECT_EQ(proc.UndoList().back().layer, 1);
  EXPECT_EQ(target.LayerBitmap(1).Pixel24(0, 0), RGB(254, 254, 254));
  target.current = 2;
  proc.Undo();
  EXPECT_EQ(target.LayerBitmap(1).Pixel24(0, 0), RGB(1, 1, 1));
  EXPECT_EQ(target.LayerBitmap(2).Pixel24(0, 0), RGB(2, 2, 2));

  target.LayerBitmap(1) = test::Solid(3, 3, RGB(9, 9, 9));
  target.SetLayerCount(1);  // layer 1 no longer exists
  proc.Undo();
  EXPECT_EQ(target.LayerBitmap(0).Pixel24(0, 0), RGB(1, 1, 1));
  EXPECT_EQ(target.LayerBitmap(1).Pixel24(0, 0), RGB(9, 9, 9));
}

// --- Format check -----------------------------------------------------------------------

struct ConversionCase {
  F present;
  FormatSet accepted;
  F expected;
};

TEST(Frame, ConversionTargetFollowsThePreferences) {
  const std::vector<ConversionCase> cases = {
      {F::ie24RGB, {F::ie24RGB}, F::ie24RGB},
      {F::ieCMYK, {}, F::ieCMYK},  // the empty set accepts everything
      {F::ie1g, {F::ie24RGB}, F::ie24RGB},
      {F::ie1g, {F::ie24RGB, F::ie32f}, F::ie32f},
      {F::ie1g, {F::ie24RGB, F::ie8g}, F::ie8g},
      {F::ie8p, {F::ieCIELab, F::ieRGB48}, F::ieRGB48},
      {F::ie8g, {F::ie24RGB, F::ieCMYK}, F::ie24RGB},
      {F::ie8g, {F::ieRGB48, F::ie32f}, F::ie32f},
      {F::ie16g, {F::ie24RGB, F::ie8g}, F::ie8g},
      {F::ie24RGB, {F::ie8g, F::ie16g}, F::ie16g},
      {F::ie24RGB, {F::ie8p, F::ieCMYK}, F::ieCMYK},
      {F::ie32f, {F::ie24RGB, F::ieCIELab}, F::ie24RGB},
      {F::ieCMYK, {F::ie8g, F::ieCIELab}, F::ieCIELab},
      {F::ieRGB48, {F::ie16g, F::ieCMYK}, F::ieCMYK},
      {F::ieCIELab, {F::ie8g}, F::ie8g},
      {F::ie32RGB, {F::ie8g, F::ieRGB48}, F::ieRGB48},
      // Nothing of the row accepted: the highest accepted ordinal.
      {F::ie1g, {F::ieCIELab, F::ie8p}, F::ieCIELab},
      {F::ie24RGB, {F::ie32RGB, F::ie1g}, F::ie32RGB},
      {F::ieCMYK, {F::ie1g, F::ie8p}, F::ie8p},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ImageProc::ConversionTarget(c.present, c.accepted), c.expected)
        << PixelFormatName(c.present) << " -> " << PixelFormatName(c.expected);
}

TEST(Frame, AnUnacceptedFormatIsConvertedBeforeTheWorker) {
  IEBitmap grey(3, 2, F::ie8g);
  grey.Fill(100);
  BitmapTarget target(grey);
  ImageProc proc(target);
  proc.IntensityRGBall(20, 0, -5);
  ASSERT_EQ(grey.PixelFormat(), F::ie24RGB);
  EXPECT_EQ(grey.Pixel24(2, 1), RGB(120, 100, 95));
  EXPECT_EQ(proc.UndoList().back().bitmap.PixelFormat(), F::ie8g) << "the copy is taken before converting";

  IEBitmap bits(9, 2, F::ie1g);
  bits.Fill(1);
  BitmapTarget bitsTarget(bits);
  ImageProc bitsProc(bitsTarget);
  bitsProc.Colorize(0, 0, 1.0);
  ASSERT_EQ(bits.PixelFormat(), F::ie24RGB);
  EXPECT_EQ(bits.Pixel24(8, 1), RGB(255, 255, 255));
}

TEST(Frame, WithoutAutoConvertAnUnacceptedFormatIsLeftAlone) {
  IEBitmap grey(3, 2, F::ie8g);
  grey.Fill(100);
  BitmapTarget target(grey);
  ImageProc proc(target);
  proc.AutoConvertFormat = false;
  proc.IntensityRGBall(20, 0, 0);
  EXPECT_EQ(grey.PixelFormat(), F::ie8g);
  EXPECT_EQ(grey.ScanLine(1)[2], 100);
}

// --- Working rectangle ----------------------------------------------------------------------

TEST(Frame, WorkingRectangleIsThePictureOrTheSelectionBox) {
  IEBitmap pic = test::Random(10, 8, F::ie24RGB);
  BitmapTarget target(pic);
  ImageProc proc(target);
  Work w;
  ASSERT_TRUE(proc.BeginOperation("Test", {F::ie24RGB}, w));
  EXPECT_EQ(w.bitmap, &pic);
  EXPECT_EQ(w.x1, 0);
  EXPECT_EQ(w.y1, 0);
  EXPECT_EQ(w.x2, 10);
  EXPECT_EQ(w.y2, 8);
  proc.EndOperation(w);

  IEMask sel(10, 8, 1);
  sel.SetPixel(2, 3, 1);
  sel.SetPixel(6, 4, 1);
  sel.SyncBox();
  target.SetSelection(&sel);
  ASSERT_TRUE(proc.BeginOperation("Test", {F::ie24RGB}, w));
  EXPECT_NE(w.bitmap, &pic);
  EXPECT_EQ(w.bitmap->Width(), 5);
  EXPECT_EQ(w.bitmap->Height(), 2);
  EXPECT_EQ(w.x1, 0);
  EXPECT_EQ(w.y1, 0);
  EXPECT_EQ(w.x2, 5);
  EXPECT_EQ(w.y2, 2);
  EXPECT_EQ(w.bitmap->Pixel24(0, 0), pic.Pixel24(2, 3));
  EXPECT_EQ(w.bitmap->Pixel24(4, 1), pic.Pixel24(6, 4));
  proc.EndOperation(w);

  IEMask empty(10, 8, 8);  // an empty mask is no selection
  target.SetSelection(&empty);
  ASSERT_TRUE(proc.BeginOperation("Test", {F::ie24RGB}, w));
  EXPECT_EQ(w.bitmap, &pic);
  EXPECT_EQ(w.x2, 10);
  proc.EndOperation(w);
}

// --- Blending back through the selection ----------------------------------------------------

TEST(Selection, OneBitMaskChangesOnlySelectedPixels) {
  IEBitmap pic = test::Random(20, 15, F::ie24RGB);
  const IEBitmap before = pic;
  IEMask sel(20, 15, 1);
  sel.SelectRect(3, 4, 10, 9);
  sel.SetPixel(5, 6, 0);  // a hole inside the box
  sel.SyncBox();
  BitmapTarget target(pic, &sel);
  ImageProc proc(target);
  proc.Negative();
  for (int y = 0; y < 15; ++y)
    for (int x = 0; x < 20; ++x) {
      const IETriple o = before.Pixel24(x, y);
      const bool selected = sel.GetPixel(x, y) == 1;
      EXPECT_EQ(pic.Pixel24(x, y), selected ? RGB(255 - o.r, 255 - o.g, 255 - o.b) : o) << x << "," << y;
    }
}

TEST(Selection, OneBitMaskOnABitPictureFlipsOnlySelectedBits) {
  IEBitmap bits = test::Random(21, 6, F::ie1g);
  const IEBitmap before = bits;
  IEMask sel(21, 6, 1);
  sel.SelectRect(5, 1, 17, 3);
  BitmapTarget target(bits, &sel);
  ImageProc proc(target);
  proc.Negative();
  ASSERT_EQ(bits.PixelFormat(), F::ie1g);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 21; ++x) EXPECT_EQ(bits.Bit(x, y), before.Bit(x, y) != (sel.GetPixel(x, y) == 1)) << x;
}

// A rise by one level is lost under a fully selected 8-bit mask pixel, a
// fall by one level is kept: the blend moves 255/256 of the way, floored.
TEST(Selection, EightBitMaskLosesARiseOfOneLevelButKeepsAFall) {
  for (int depth : {8, 1}) {
    IEBitmap pic = test::Solid(6, 4, RGB(100, 100, 100));
    IEMask sel(6, 4, depth);
    sel.SelectRect(1, 1, 4, 2);
    BitmapTarget target(pic, &sel);
    ImageProc proc(target);
    proc.IntensityRGBall(1, -1, 0);
    const IETriple expectedInside = depth == 8 ? RGB(100, 99, 100) : RGB(101, 99, 100);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 6; ++x)
        EXPECT_EQ(pic.Pixel24(x, y), sel.GetPixel(x, y) ? expectedInside : RGB(100, 100, 100))
            << "depth " << depth << " at " << x << "," << y;
  }
}

struct BlendCase {
  uint8_t mask, before, expected;  // after Negative
};

TEST(Selection, EightBitMaskBlendsByCoverage) {
  // dst + floor((src - dst) * m / 256).
  const std::vector<BlendCase> cases = {
      {0, 10, 10}, {255, 0, 254}, {255, 255, 0}, {128, 0, 127}, {128, 255, 127}, {64, 200, 163}, {1, 0, 0}, {1, 255, 254},
  };
  for (F format : {F::ie24RGB, F::ie8g}) {
    IEBitmap pic(static_cast<int>(cases.size()), 2, format);
    IEMask sel(pic.Width(), 2, 8);
    for (int x = 0; x < pic.Width(); ++x) {
      for (int y = 0; y < 2; ++y) {
        if (format == F::ie24RGB)
          pic.Pixel24(x, y) = RGB(cases[x].before, cases[x].before, cases[x].before);
        else
          pic.ScanLine(y)[x] = cases[x].before;
      }
      sel.SetPixel(x, 1, cases[x].mask);
    }
    sel.SyncBox();
    BitmapTarget target(pic, &sel);
    ImageProc proc(target);
    proc.Negative();
    for (int x = 0; x < pic.Width(); ++x) {
      const int top = format == F::ie24RGB ? pic.Pixel24(x, 0).g : pic.ScanLine(0)[x];
      const int bottom = format == F::ie24RGB ? pic.Pixel24(x, 1).r : pic.ScanLine(1)[x];
      EXPECT_EQ(top, cases[x].before) << "row 0 is not selected";
      EXPECT_EQ(bottom, cases[x].expected) << PixelFormatName(format) << " mask " << int(cases[x].mask) << " on "
                                           << int(cases[x].before);
    }
  }
}

// Outside 24-bit and 8-bit grey pictures under an 8-bit mask, whole samples
// are copied wherever the mask is set, in runs that cross byte boundaries
// of a 1-bit mask.
TEST(Selection, ScatteredMasksCopyExactlyTheSelectedSamples) {
  struct Case {
    F format;
    int depth;
  };
  for (Case c : {Case{F::ie24RGB, 1}, Case{F::ie16g, 1}, Case{F::ie16g, 8}, Case{F::ie32RGB, 8}, Case{F::ie8p, 1}}) {
    IEBitmap pic = test::Random(83, 9, c.format, 21);
    const IEBitmap before = pic;
    IEMask sel(83, 9, c.depth);
    std::mt19937 rng(22);
    for (int y = 0; y < 9; ++y)
      for (int x = 0; x < 83; ++x) {
        // Long runs of both kinds as well as single pixels.
        const bool on = (x / 17 + y) % 3 == 0 ? true : (x / 11 + y) % 4 == 0 ? false : rng() % 2 == 0;
        sel.SetPixel(x, y, on ? 1 + static_cast<int>(rng() % 255) : 0);
      }
    sel.SyncBox();
    const IEBitmap negated = Negated(before);
    BitmapTarget target(pic, &sel);
    ImageProc proc(target);
    proc.Negative();
    const int bytes = pic.BitCount() / 8;
    for (int y = 0; y < 9; ++y)
      for (int x = 0; x < 83; ++x) {
        const uint8_t* expected = (sel.GetPixel(x, y) ? negated : before).ScanLine(y) + x * bytes;
        ASSERT_EQ(std::memcmp(pic.ScanLine(y) + x * bytes, expected, bytes), 0)
            << PixelFormatName(c.format) << " under a " << c.depth << "-bit mask at " << x << "," << y;
      }
  }
}

// A worker that makes its scratch picture transparent: the alpha channel
// is blended back through the mask like the pixels.
TEST(Selection, AlphaMadeByTheWorkerIsBlendedIntoTheLayer) {
  IEBitmap pic = test::Random(6, 5, F::ie24RGB);
  ASSERT_FALSE(pic.HasAlphaChannel());
  IEMask sel(6, 5, 8);
  sel.SelectRect(1, 1, 3, 2);
  sel.SetPixel(3, 2, 128);
  sel.SyncBox();
  BitmapTarget target(pic, &sel);
  ImageProc proc(target);
  Work w;
  ASSERT_TRUE(proc.BeginOperation("Fade", {F::ie24RGB}, w));
  for (int y = w.y1; y < w.y2; ++y)
    for (int x = w.x1; x < w.x2; ++x) w.bitmap->SetAlpha(x, y, 0);
  proc.EndOperation(w);
  ASSERT_TRUE(pic.HasAlphaChannel());
  EXPECT_FALSE(pic.AlphaAllOpaque());
  EXPECT_EQ(pic.Alpha(0, 0), 255);
  EXPECT_EQ(pic.Alpha(1, 1), 0);    // 255 + floor(-255 * 255 / 256)
  EXPECT_EQ(pic.Alpha(3, 2), 127);  // 255 + floor(-255 * 128 / 256)
  EXPECT_EQ(pic.Alpha(4, 2), 255);
}

// --- Progress and notifications ---------------------------------------------------------

TEST(Frame, ProgressRisesAndEndsWithHundredThenFinishWork) {
  const int savedThreads = ParallelThreadCount();
  for (bool withSelection : {false, true}) {
    test::LayersTarget target(1);
    target.LayerBitmap(0) = test::Random(40, 300, F::ie24RGB);
    IEMask sel(40, 300, 8);
    sel.SelectRect(5, 20, 30, 250);
    if (withSelection) target.selection = &sel;
    ImageProc proc(target);
    // On one thread every block of rows reports (on several, only the
    // blocks the calling thread finishes do).
    SetParallelThreadCount(1);
    proc.HSLvar(10, 0, 0);
    SetParallelThreadCount(savedThreads);
    ASSERT_FALSE(target.progress.empty());
    EXPECT_EQ(target.progress.back(), 100);
    EXPECT_TRUE(std::is_sorted(target.progress.begin(), target.progress.end()));
    EXPECT_GE(target.progress.size(), 10u) << "progress is reported while the rows are worked";
    const std::vector<std::string> expected = {"undo", "repaint", "changed", "finish"};
    EXPECT_EQ(target.events, expected);
  }
}

// --- AlphaFromMask ------------------------------------------------------------------------

TEST(AlphaFromMask, TakesTheMasksGreyLevelAsAlpha) {
  struct Case {
    uint8_t grey, alpha;
  };
  for (Case c : {Case{0, 0}, Case{255, 255}, Case{128, 128}}) {
    IEBitmap target = test::Random(5, 4, F::ie24RGB);
    const IEBitmap before = target;
    const IEBitmap mask = test::Solid(7, 6, RGB(c.grey, c.grey, c.grey));  // larger is fine
    AlphaFromMask(target, mask);
    ASSERT_TRUE(target.HasAlphaChannel());
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 5; ++x) EXPECT_EQ(target.Alpha(x, y), c.alpha);
    EXPECT_EQ(target.AlphaAllOpaque(), c.alpha == 255);
    EXPECT_TRUE(test::SamePixels(target, before));
  }
}

TEST(AlphaFromMask, ReadsTheRedChannelAtEachPixel) {
  IEBitmap target(3, 2, F::ie24RGB);
  IEBitmap mask(3, 2, F::ie24RGB);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) mask.Pixel24(x, y) = RGB(10 * x + 100 * y, 7, 9);
  AlphaFromMask(target, mask);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(target.Alpha(x, y), 10 * x + 100 * y);
}

}  // namespace
}  // namespace velmora
