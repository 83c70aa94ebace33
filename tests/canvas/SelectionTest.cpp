// The canvas selection: SelectRect's shaping and clamping, inverting, mask
// depth, feathering (against the plain convolution), and operations limited
// by a feathered selection.
#include <cmath>
#include <random>

#include "canvas/CanvasFixtures.h"
#include "document/canvas/MaskOps.h"
#include "imaging/Parallel.h"

namespace velmora {
namespace {

using test::Gradient;
using test::RGB;
using test::SetPhoto;
using test::Solid;

// True when exactly the pixels of the inclusive box are selected.
testing::AssertionResult SelectsExactly(const IEMask& m, int x1, int y1, int x2, int y2) {
  if (m.IsEmpty()) return testing::AssertionFailure() << "nothing selected";
  if (m.X1 != x1 || m.Y1 != y1 || m.X2 != x2 || m.Y2 != y2)
    return testing::AssertionFailure() << "box " << m.X1 << "," << m.Y1 << ".." << m.X2 << "," << m.Y2;
  for (int y = 0; y < m.Height(); ++y)
    for (int x = 0; x < m.Width(); ++x) {
      const bool in = x >= x1 && x <= x2 && y >= y1 && y <= y2;
      if ((m.GetPixel(x, y) != 0) != in) return testing::AssertionFailure() << "pixel " << x << "," << y;
    }
  return testing::AssertionSuccess();
}

TEST(CanvasSelection, SelectRectShapesByTheRatioAndClamps) {
  struct Case {
    double ratio;
    int x1, y1, x2, y2;
    int bx1, by1, bx2, by2;  // inclusive box expected on a 20 x 10 layer
  };
  const Case cases[] = {
      {-1, 2, 3, 7, 8, 2, 3, 6, 7},       // x2, y2 excluded
      {-1, 7, 8, 2, 3, 2, 3, 6, 7},       // drawn the other way
      {-1, -4, -2, 5, 4, 0, 0, 4, 3},     // clamped at the top-left
      {-1, 15, 5, 30, 40, 15, 5, 19, 9},  // clamped to the size at the bottom-right
      {-1, 25, 12, 30, 15, 19, 9, 19, 9}, // wholly outside: x1, y1 end on the last pixel
      {0.5, 2, 1, 12, 99, 2, 1, 11, 5},   // y2 = y1 + round(10 x 0.5)
      {0.5, 1, 0, 6, 1, 1, 0, 5, 1},      // round(2.5) is 2: halves to even
      {0.5, 0, 4, 20, 9, 0, 4, 11, 9},    // 4 + 10 passes the last row: x2 = round(6 / 0.5)
      {2, 0, 0, 3, 1, 0, 0, 2, 5},        //
      {2, 0, 0, 8, 1, 0, 0, 4, 9},        // y2 = 16 pulled to 10, x2 = 5
  };
  for (const Case& k : cases) {
    LayerCanvas c;
    SetPhoto(c, Gradient(20, 10));
    c.SetSelectionAspectRatio(k.ratio);
    c.SelectRect(k.x1, k.y1, k.x2, k.y2);
    EXPECT_TRUE(SelectsExactly(c.SelectionMask(), k.bx1, k.by1, k.bx2, k.by2))
        << "ratio " << k.ratio << ": " << k.x1 << "," << k.y1 << "," << k.x2 << "," << k.y2;
  }
}

TEST(CanvasSelection, SelectRectWithoutWidthOrHeightKeepsThePresentSelection) {
  LayerCanvas c;
  SetPhoto(c, Gradient(20, 10));
  c.SelectRect(1, 1, 4, 4);
  c.SelectRect(5, 2, 5, 9);
  c.SelectRect(2, 6, 9, 6);
  EXPECT_TRUE(SelectsExactly(c.SelectionMask(), 1, 1, 3, 3));
  // A huge ratio pulls the rectangle in to nothing rather than overflowing.
  c.SetSelectionAspectRatio(1e300);
  c.SelectRect(0, 0, 10, 5);
  EXPECT_FALSE(c.HasSelection());
}

TEST(CanvasSelection, AspectRatioSetsOrClearsSizeable) {
  LayerCanvas c;
  c.SetSelectionOptions(0);
  c.SetSelectionAspectRatio(-1);
  EXPECT_TRUE(c.SelectionOptions() & iesoSizeable);
  c.SetSelectionAspectRatio(0);
  EXPECT_FALSE(c.SelectionOptions() & iesoSizeable);
  c.SetSelectionAspectRatio(1.5);
  EXPECT_TRUE(c.SelectionOptions() & iesoSizeable);
}

TEST(CanvasSelection, InvertSelection) {
  {  // a full selection: nothing left
    LayerCanvas c;
    SetPhoto(c, Gradient(6, 4));
    c.SelectRect(0, 0, 6, 4);
    ASSERT_TRUE(c.SelectionMask().Full());
    c.InvertSelection();
    EXPECT_FALSE(c.HasSelection());
    EXPECT_EQ(c.Selection(), nullptr);
  }
  {  // nothing selected: stays so
    LayerCanvas c;
    SetPhoto(c, Gradient(6, 4));
    c.InvertSelection();
    EXPECT_FALSE(c.HasSelection());
  }
  for (int depth : {1, 8}) {
    LayerCanvas c;
    SetPhoto(c, Gradient(13, 4));  // a width that leaves padding bits in 1-bit rows
    c.SelectionMaskDepth(depth);
    c.SelectRect(0, 0, 5, 4);
    c.InvertSelection();
    EXPECT_TRUE(SelectsExactly(c.SelectionMask(), 5, 0, 12, 3)) << depth;
    EXPECT_EQ(c.SelectionMask().GetPixel(12, 0), depth == 8 ? 255 : 1);
  }
  {  // partial coverage counts as selected
    LayerCanvas c;
    SetPhoto(c, Gradient(4, 1));
    c.SelectionMaskDepth(8);
    c.SelectRect(0, 0, 3, 1);
    IEMask& m = const_cast<IEMask&>(c.SelectionMask());
    m.SetPixel(1, 0, 128);
    c.InvertSelection();
    EXPECT_EQ(m.GetPixel(0, 0), 0);
    EXPECT_EQ(m.GetPixel(1, 0), 0);
    EXPECT_EQ(m.GetPixel(3, 0), 255);
  }
}

TEST(CanvasSelection, MaskDepthTakesOneOrEightAndDropsTheSelection) {
  LayerCanvas c;
  SetPhoto(c, Gradient(6, 4));
  c.SelectRect(1, 1, 3, 3);
  for (int ignored : {4, 0, 1}) {
    c.SelectionMaskDepth(ignored);
    EXPECT_EQ(c.SelectionMask().Depth(), 1);
    EXPECT_TRUE(c.HasSelection()) << ignored;
  }
  c.SelectionMaskDepth(8);
  EXPECT_EQ(c.SelectionMask().Depth(), 8);
  EXPECT_FALSE(c.HasSelection());
  c.SelectRect(1, 1, 3, 3);
  EXPECT_EQ(c.SelectionMask().GetPixel(2, 2), 255);
  c.Deselect();
  EXPECT_FALSE(c.HasSelection());
}

TEST(CanvasFeather, KernelSumsTo65536AndDropsZeroEnds) {
  struct Case {
    double r;
    std::size_t size;
  };
  // r = 1: 65536 exp(-d^2 / 2) / 2.5066 is 8.8 at d = 4 and 0.1 at d = 5.
  for (const Case& k : {Case{0.05, 1}, Case{1, 9}, Case{600, 201}, Case{1e9, 201}}) {
    const std::vector<int32_t> w = FeatherKernel(k.r);
    EXPECT_EQ(w.size(), k.size) << k.r;
    int64_t sum = 0;
    for (std::size_t i = 0; i < w.size(); ++i) {
      sum += w[i];
      EXPECT_EQ(w[i], w[w.size() - 1 - i]);
    }
    EXPECT_EQ(sum, 65536) << k.r;
    EXPECT_GT(w.front(), 0);
  }
  EXPECT_EQ(FeatherKernel(0.05)[0], 65536);
}

// The feathering written as the plain convolution: every tap of every
// pixel, rows first, then columns, edges clamped to the grown box.
IEMask PlainFeather(const IEMask& in, double r) {
  IEMask out = in;
  if (in.Depth() != 8 || in.IsEmpty()) return out;
  const std::vector<int32_t> w = FeatherKernel(r);
  const int K = static_cast<int>(w.size() / 2);
  const int g = std::max(static_cast<int>(std::trunc(5 * r)), 1);
  const int x1 = std::max(in.X1 - g, 0), x2 = std::min(in.X2 + g, in.Width() - 1);
  const int y1 = std::max(in.Y1 - g, 0), y2 = std::min(in.Y2 + g, in.Height() - 1);
  IEMask rows = in;
  for (int y = y1; y <= y2; ++y)
    for (int x = x1; x <= x2; ++x) {
      int64_t s = 0;
      for (int d = -K; d <= K; ++d) s += int64_t{w[d + K]} * in.GetPixel(std::clamp(x + d, x1, x2), y);
      rows.SetPixel(x, y, static_cast<int>((s + 32768) >> 16));
    }
  for (int y = y1; y <= y2; ++y)
    for (int x = x1; x <= x2; ++x) {
      int64_t s = 0;
      for (int d = -K; d <= K; ++d) s += int64_t{w[d + K]} * rows.GetPixel(x, std::clamp(y + d, y1, y2));
      out.SetPixel(x, y, static_cast<int>((s + 32768) >> 16));
    }
  out.SyncBox();
  return out;
}

testing::AssertionResult SameMask(const IEMask& a, const IEMask& b) {
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x)
      if (a.GetPixel(x, y) != b.GetPixel(x, y))
        return testing::AssertionFailure() << "pixel " << x << "," << y << ": " << a.GetPixel(x, y) << " vs "
                                           << b.GetPixel(x, y);
  if (a.X1 != b.X1 || a.Y1 != b.Y1 || a.X2 != b.X2 || a.Y2 != b.Y2 || a.Full() != b.Full())
    return testing::AssertionFailure() << "bounding boxes differ";
  return testing::AssertionSuccess();
}

TEST(CanvasFeather, EqualsThePlainConvolution) {
  struct Shape {
    const char* name;
    int x1, y1, x2, y2;  // inclusive
    bool noisy;
  };
  const Shape shapes[] = {
      {"rectangle", 60, 12, 100, 25, false},
      {"touching the edges", 0, 0, 40, 39, false},
      {"one pixel", 75, 20, 75, 20, false},
      {"noise", 30, 5, 120, 30, true},
      {"whole mask", 0, 0, 149, 39, true},
  };
  const int saved = ParallelThreadCount();
  SetParallelThreadCount(4);
  for (const Shape& s : shapes)
    for (double r : {0.3, 1.0, 2.5, 7.0, 30.0, 600.0}) {
      IEMask m(150, 40, 8);
      std::mt19937 rng(17);
      for (int y = s.y1; y <= s.y2; ++y)
        for (int x = s.x1; x <= s.x2; ++x) m.SetPixel(x, y, s.noisy ? static_cast<int>(rng() % 256) : 255);
      m.SyncBox();
      const IEMask expected = PlainFeather(m, r);
      FeatherMask(m, r);
      EXPECT_TRUE(SameMask(m, expected)) << s.name << ", radius " << r;
    }
  SetParallelThreadCount(saved);
}

TEST(CanvasFeather, ChangesNothingOnAOneBitMaskOrWithoutASelection) {
  LayerCanvas c;
  SetPhoto(c, Gradient(30, 20));
  c.SelectRect(5, 5, 15, 12);
  c.FeatherSelection(3);
  EXPECT_TRUE(SelectsExactly(c.SelectionMask(), 5, 5, 14, 11));
  EXPECT_EQ(c.SelectionMask().GetPixel(5, 5), 1);

  c.SelectionMaskDepth(8);
  c.FeatherSelection(3);
  EXPECT_FALSE(c.HasSelection());

  // A radius too small to reach a neighbour leaves the rectangle as it was.
  c.SelectRect(5, 5, 15, 12);
  c.FeatherSelection(0.1);
  EXPECT_TRUE(SelectsExactly(c.SelectionMask(), 5, 5, 14, 11));
  for (double bad : {0.0, -2.0, std::nan("")}) {
    c.FeatherSelection(bad);
    EXPECT_TRUE(SelectsExactly(c.SelectionMask(), 5, 5, 14, 11)) << bad;
  }
  // A feathered selection grows past the rectangle and is no rectangle.
  c.FeatherSelection(2);
  EXPECT_LT(c.SelectionMask().X1, 5);
  EXPECT_LT(c.SelectionMask().GetPixel(5, 5), 255);
  EXPECT_FALSE(c.SelectedRect().has_value());
}

TEST(CanvasFeather, AFeatheredSelectionBlendsTheOperation) {
  LayerCanvas c;
  SetPhoto(c, Solid(30, 20, RGB(40, 40, 40)));
  c.SelectionMaskDepth(8);
  c.SelectRect(10, 5, 20, 15);
  c.FeatherSelection(2);
  const IEMask mask = c.SelectionMask();
  c.Proc().Negative();
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 30; ++x) {
      const int m = mask.GetPixel(x, y);
      const int expected = 40 + ((((255 - 40) - 40) * (m * 1024)) >> 18);
      EXPECT_EQ(c.CurrentBitmap().Pixel24(x, y).r, expected) << x << "," << y << " mask " << m;
    }
}

}  // namespace
}  // namespace velmora
