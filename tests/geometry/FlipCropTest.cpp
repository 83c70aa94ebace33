#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "geometry/GeometryPictures.h"
#include "imaging/ImageProc.h"
#include "imaging/Pictures.h"

namespace velmora::test {
namespace {

using F = IEPixelFormat;

const F kAllFormats[] = {F::ie1g,    F::ie8p,    F::ie8g,     F::ie16g,   F::ie24RGB,
                         F::ie32f,   F::ieCMYK,  F::ieRGB48,  F::ieCIELab, F::ie32RGB};

// ---------------------------------------------------------------------------
// Flip

TEST(Flip, TwiceRestoresEveryFormat) {
  for (F f : kAllFormats)
    for (int direction : {0, 1})
      for (int w : {1, 13, 16}) {
        IEBitmap pic = Random(w, 5, f, w);
        pic.AlphaChannel().AssignImage(Random(w, 5, F::ie8g, w + 1));
        const IEBitmap before = pic;
        BitmapTarget t(pic);
        ImageProc proc(t);
        proc.Flip(direction);
        if (w > 1) {
          EXPECT_FALSE(SamePixels(pic, before)) << PixelFormatName(f);
        }
        proc.Flip(direction);
        EXPECT_TRUE(SamePixels(pic, before)) << PixelFormatName(f) << " direction " << direction << " width " << w;
        EXPECT_TRUE(SamePixels(*pic.AlphaChannelIfAny(), *before.AlphaChannelIfAny())) << PixelFormatName(f);
      }
}

TEST(Flip, MirrorsPixelsRowsAndAlpha) {
  for (F f : kAllFormats) {
    const int w = 11, h = 4;
    IEBitmap pic = Random(w, h, f, 8);
    pic.AlphaChannel().AssignImage(Random(w, h, F::ie8g, 9));
    const IEBitmap before = pic;
    BitmapTarget t(pic);
    ImageProc proc(t);
    proc.AutoUndo = false;
    proc.Flip(0);
    const int bytes = pic.BitCount() / 8;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        if (f == F::ie1g)
          ASSERT_EQ(pic.Bit(x, y), before.Bit(w - 1 - x, y)) << x;
        else
          for (int b = 0; b < bytes; ++b)
            ASSERT_EQ(pic.ScanLine(y)[x * bytes + b], before.ScanLine(y)[(w - 1 - x) * bytes + b])
                << PixelFormatName(f);
        ASSERT_EQ(pic.Alpha(x, y), before.Alpha(w - 1 - x, y));
      }
    proc.Flip(0);
    proc.Flip(1);
    for (int y = 0; y < h; ++y) {
      if (f == F::ie1g)
        for (int x = 0; x < w; ++x) ASSERT_EQ(pic.Bit(x, y), before.Bit(x, h - 1 - y));
      else
        ASSERT_EQ(std::memcmp(pic.ScanLine(y), before.ScanLine(h - 1 - y), static_cast<std::size_t>(w) * bytes), 0);
      ASSERT_EQ(pic.Alpha(3, y), before.Alpha(3, h - 1 - y));
    }
  }
}

TEST(Flip, FrameAndBadDirection) {
  LayersTarget t(1);
  t.LayerBitmap(0) = Random(4, 3, F::ie24RGB);
  ImageProc proc(t);
  for (int bad : {2, -1}) proc.Flip(bad);
  EXPECT_TRUE(proc.UndoList().empty());
  EXPECT_TRUE(t.events.empty());
  proc.Flip(1);
  EXPECT_EQ(proc.UndoList().back().label, "Flip");
  EXPECT_EQ(t.events, (std::vector<std::string>{"undo", "repaint", "changed", "finish"}));
  EXPECT_EQ(t.progress, std::vector<int>{100});  // no progress while it works
}

// ---------------------------------------------------------------------------
// CropSel

struct Cropped {
  IEBitmap picture;
  std::vector<std::string> labels;
};

Cropped Crop(const IEBitmap& pic, const IEMask* mask, Color background = clWhite) {
  LayersTarget t(1);
  t.LayerBitmap(0) = pic;
  t.selection = mask;
  ImageProc proc(t);
  proc.Background = background;
  proc.CropSel();
  Cropped c{t.LayerBitmap(0), {}};
  for (const auto& e : proc.UndoList()) c.labels.push_back(e.label);
  return c;
}

TEST(CropSel, RectangleGivesTheBoxWithoutAlpha) {
  const IEBitmap pic = Random(150, 100, F::ie24RGB, 5);
  IEMask mask(150, 100, 1);
  mask.SelectRect(10, 20, 109, 69);
  const Cropped c = Crop(pic, &mask);
  ASSERT_EQ(c.picture.Width(), 100);
  ASSERT_EQ(c.picture.Height(), 50);
  EXPECT_FALSE(c.picture.HasAlphaChannel());
  EXPECT_EQ(c.labels, std::vector<std::string>{"CropSel"});
  for (int y = 0; y < 50; ++y)
    for (int x = 0; x < 100; ++x) ASSERT_EQ(c.picture.Pixel24(x, y), pic.Pixel24(10 + x, 20 + y));
}

TEST(CropSel, WithoutSelectionOnlyTheUndoCopy) {
  const IEBitmap pic = Random(6, 5, F::ie24RGB, 5);
  IEMask empty(6, 5, 8);
  for (const IEMask* m : {static_cast<const IEMask*>(nullptr), static_cast<const IEMask*>(&empty)}) {
    const Cropped c = Crop(pic, m);
    EXPECT_TRUE(SamePixels(c.picture, pic));
    EXPECT_EQ(c.labels, std::vector<std::string>{"CropSel"});
  }
}

TEST(CropSel, ShapedOneBitSelection) {
  // A diamond: outside it the background shows and the alpha is 0.
  const IEBitmap pic = Solid(20, 20, RGB(10, 20, 30));
  IEMask mask(20, 20, 1);
  for (int y = 4; y <= 12; ++y)
    for (int x = 6; x <= 14; ++x)
      if (std::abs(x - 10) + std::abs(y - 8) <= 4) mask.SetPixel(x, y, 1);
  mask.SyncBox();
  const Cropped c = Crop(pic, &mask, 0x00FF8040);
  ASSERT_EQ(c.picture.Width(), 9);
  ASSERT_EQ(c.picture.Height(), 9);
  ASSERT_TRUE(c.picture.HasAlphaChannel());
  EXPECT_EQ(c.picture.Pixel24(0, 0), RGB(0x40, 0x80, 0xFF));
  EXPECT_EQ(c.picture.Alpha(0, 0), 0);
  EXPECT_EQ(c.picture.Pixel24(4, 4), RGB(10, 20, 30));
  EXPECT_EQ(c.picture.Alpha(4, 4), 255);
}

TEST(CropSel, FeatheredSelectionMixesWithTheBackgroundAndKeepsAlpha) {
  IEBitmap pic = Random(12, 10, F::ie24RGB, 6);
  pic.AlphaChannel().AssignImage(Random(12, 10, F::ie8g, 7));
  pic.SetAlphaAllOpaque(false);
  IEMask mask(12, 10, 8);
  for (int y = 2; y <= 7; ++y)
    for (int x = 3; x <= 9; ++x) mask.SetPixel(x, y, (x + y) % 4 * 85);  // 0 and 255 inside the box too
  mask.SyncBox();
  const Color bg = 0x00204060;
  const IETriple bgt = RGB(0x60, 0x40, 0x20);
  const Cropped c = Crop(pic, &mask, bg);
  ASSERT_EQ(c.picture.Width(), mask.X2 - mask.X1 + 1);
  ASSERT_EQ(c.picture.Height(), mask.Y2 - mask.Y1 + 1);
  ASSERT_TRUE(c.picture.HasAlphaChannel());
  for (int y = mask.Y1; y <= mask.Y2; ++y)
    for (int x = mask.X1; x <= mask.X2; ++x) {
      const int m = mask.GetPixel(x, y);
      const IETriple s = pic.Pixel24(x, y);
      auto mix = [&](int d, int v) { return static_cast<uint8_t>(d + (((v - d) * (m * 1024)) >> 18)); };
      const IETriple want = m == 0 ? bgt : IETriple{mix(bgt.b, s.b), mix(bgt.g, s.g), mix(bgt.r, s.r)};
      ASSERT_EQ(c.picture.Pixel24(x - mask.X1, y - mask.Y1), want) << x << "," << y;
      ASSERT_EQ(c.picture.Alpha(x - mask.X1, y - mask.Y1), std::min<int>(m, pic.Alpha(x, y))) << x << "," << y;
    }
}

TEST(CropSel, SelectionReachingPastTheBitmapIsHarmless) {
  // A mask left larger than the bitmap: what lies outside the bitmap is
  // background and transparent.
  const IEBitmap pic = Solid(25, 25, RGB(1, 2, 3));
  IEMask mask(30, 30, 1);
  mask.SelectRect(20, 20, 29, 29);
  const Cropped c = Crop(pic, &mask, clBlack);
  ASSERT_EQ(c.picture.Width(), 10);
  EXPECT_EQ(c.picture.Pixel24(2, 2), RGB(1, 2, 3));
  EXPECT_EQ(c.picture.Alpha(2, 2), 255);
  EXPECT_EQ(c.picture.Pixel24(7, 7), RGB(0, 0, 0));
  EXPECT_EQ(c.picture.Alpha(7, 7), 0);
}

TEST(CropSel, OtherFormats) {
  for (F f : {F::ie1g, F::ie8g, F::ie8p, F::ie16g}) {
    const IEBitmap pic = Random(17, 9, f, 3);
    IEMask mask(17, 9, 1);
    mask.SelectRect(3, 2, 12, 6);
    const Cropped c = Crop(pic, &mask);
    ASSERT_EQ(c.picture.PixelFormat(), f);
    IEBitmap want(10, 5, f);
    pic.CopyRectTo(want, 3, 2, 0, 0, 10, 5);
    EXPECT_TRUE(SamePixels(c.picture, want)) << PixelFormatName(f);
    EXPECT_FALSE(c.picture.HasAlphaChannel());
  }
}

}  // namespace
}  // namespace velmora::test
