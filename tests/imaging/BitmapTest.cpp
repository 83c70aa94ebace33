// The pixel buffer: row layout, copies, alpha channel, size changes, fills,
// block copies and where the pixels are stored.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <ostream>

#include "Pictures.h"
#include "imaging/Color.h"
#include "imaging/IEBitmap.h"

namespace velmora {
namespace {

using F = IEPixelFormat;
using test::RGB;

// --- Row layout -------------------------------------------------------------

struct RowCase {
  int width;
  F format;
  std::size_t rowLen;
};

void PrintTo(const RowCase& c, std::ostream* os) { *os << c.width << " x " << PixelFormatName(c.format); }

class RowLength : public testing::TestWithParam<RowCase> {};

TEST_P(RowLength, IsPaddedTo32BitsAndRowsAreBottomUp) {
  const RowCase c = GetParam();
  IEBitmap b(c.width, 3, c.format);
  EXPECT_EQ(b.RowLen(), c.rowLen);
  EXPECT_EQ(IEBitmap::RowLenFor(c.width, c.format), c.rowLen);
  // Row 0 (the top) is the last row in memory; rows follow each other
  // without gaps, the bottom row first.
  EXPECT_EQ(b.ScanLine(0) - b.ScanLine(1), static_cast<std::ptrdiff_t>(c.rowLen));
  EXPECT_EQ(b.ScanLine(1) - b.ScanLine(2), static_cast<std::ptrdiff_t>(c.rowLen));
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b.ScanLine(2)) % 32, 0u) << "memory is 32-byte aligned";
  EXPECT_EQ(b.StorageKind(), IELocation::ieMemory);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, RowLength,
    testing::Values(RowCase{1, F::ie1g, 4}, RowCase{8, F::ie1g, 4}, RowCase{9, F::ie1g, 4}, RowCase{32, F::ie1g, 4},
                    RowCase{33, F::ie1g, 8}, RowCase{1, F::ie8g, 4}, RowCase{4, F::ie8g, 4}, RowCase{5, F::ie8g, 8},
                    RowCase{9, F::ie8g, 12}, RowCase{1, F::ie24RGB, 4}, RowCase{2, F::ie24RGB, 8},
                    RowCase{3, F::ie24RGB, 12}, RowCase{4, F::ie24RGB, 12}, RowCase{5, F::ie24RGB, 16},
                    RowCase{6, F::ie24RGB, 20}, RowCase{7, F::ie24RGB, 24}, RowCase{8, F::ie24RGB, 24},
                    RowCase{9, F::ie24RGB, 28}, RowCase{3, F::ie16g, 8}, RowCase{3, F::ieRGB48, 20}));

TEST(Bitmap, AllocateWithAZeroSideLeavesAnEmptyBitmapWithoutAlpha) {
  IEBitmap b(4, 4, F::ie24RGB);
  b.SetAlpha(0, 0, 10);
  EXPECT_TRUE(b.Allocate(0, 7, F::ie24RGB));
  EXPECT_TRUE(b.IsEmpty());
  EXPECT_EQ(b.Width(), 0);
  EXPECT_EQ(b.Height(), 0);
  EXPECT_FALSE(b.HasAlphaChannel());
  EXPECT_TRUE(b.Allocate(5, 0, F::ie8g));
  EXPECT_EQ(b.Width(), 0);
  EXPECT_EQ(b.Height(), 0);
}

TEST(Bitmap, LargeAllocationsComeZeroFilled) {
  IEBitmap b(1024, 1024, F::ie24RGB);  // 3 MB: whole pages from the system
  for (int y : {0, 511, 1023})
    for (int x : {0, 700, 1023}) EXPECT_EQ(b.Pixel24(x, y), RGB(0, 0, 0));
}

// --- Copies and the alpha channel ------------------------------------------------

TEST(Bitmap, AssignCopiesEverythingAndDropsAnAlphaTheSourceLacks) {
  IEBitmap src = test::Random(5, 3, F::ie24RGB);
  src.SetAlpha(1, 2, 77);
  IEBitmap dst(2, 2, F::ie8g);
  dst.Assign(src);
  EXPECT_TRUE(test::SamePixels(dst, src));
  ASSERT_TRUE(dst.HasAlphaChannel());
  EXPECT_EQ(dst.Alpha(1, 2), 77);
  EXPECT_EQ(dst.Alpha(0, 0), 255);
  EXPECT_FALSE(dst.AlphaAllOpaque());

  IEBitmap plain = test::Random(3, 3, F::ie24RGB, 2);
  dst.Assign(plain);
  EXPECT_TRUE(test::SamePixels(dst, plain));
  EXPECT_FALSE(dst.HasAlphaChannel());
  EXPECT_TRUE(dst.AlphaAllOpaque());
}

TEST(Bitmap, AssignCopiesThePalette) {
  IEBitmap src(3, 2, F::ie8p);
  src.Palette()[7] = RGB(1, 2, 3);
  IEBitmap dst;
  dst.Assign(src);
  ASSERT_NE(dst.Palette(), nullptr);
  EXPECT_EQ(dst.Palette()[7], RGB(1, 2, 3));
}

TEST(Bitmap, AssignImageKeepsItsOwnAlphaAndClearsTheOpaqueFlag) {
  IEBitmap src = test::Random(4, 4, F::ie24RGB);
  src.SetAlpha(0, 0, 9);
  IEBitmap dst = test::Random(4, 4, F::ie24RGB, 5);
  dst.AlphaChannel();  // all 255, known opaque
  ASSERT_TRUE(dst.AlphaAllOpaque());
  dst.AssignImage(src);
  EXPECT_TRUE(test::SamePixels(dst, src));
  ASSERT_TRUE(dst.HasAlphaChannel());
  EXPECT_EQ(dst.Alpha(0, 0), 255) << "the source's alpha is not copied";
  EXPECT_FALSE(dst.AlphaAllOpaque());

  IEBitmap none = test::Random(4, 4, F::ie24RGB, 6);
  IEBitmap withAlpha = test::Random(4, 4, F::ie24RGB, 7);
  withAlpha.SetAlpha(3, 3, 1);
  withAlpha.AssignImage(none);
  ASSERT_TRUE(withAlpha.HasAlphaChannel()) << "an alpha channel is not removed either";
  EXPECT_EQ(withAlpha.Alpha(3, 3), 1);
}

TEST(Bitmap, AlphaChannelIsCreatedOpaqueAndSetAlphaClearsTheFlag) {
  IEBitmap b(3, 2, F::ie24RGB);
  EXPECT_FALSE(b.HasAlphaChannel());
  IEBitmap& a = b.AlphaChannel();
  EXPECT_EQ(a.PixelFormat(), F::ie8g);
  EXPECT_EQ(a.Width(), 3);
  EXPECT_EQ(a.Height(), 2);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(a.ScanLine(y)[x], 255);
  EXPECT_FALSE(a.HasAlphaChannel());
  EXPECT_TRUE(b.AlphaAllOpaque());
  b.SetAlpha(2, 1, 255);
  EXPECT_TRUE(b.AlphaAllOpaque());
  b.SetAlpha(2, 1, 254);
  EXPECT_FALSE(b.AlphaAllOpaque());
  EXPECT_EQ(b.Alpha(2, 1), 254);
}

struct MergeCase {
  uint8_t value, alpha;
  Color background;
  uint8_t expected;
};

void PrintTo(const MergeCase& c, std::ostream* os) {
  *os << int(c.value) << " at alpha " << int(c.alpha) << " over " << FormatColorIdent(c.background);
}

class RemoveAlphaMerge : public testing::TestWithParam<MergeCase> {};

// c = background + floor((c - background) * alpha * 1024 / 2^18).
TEST_P(RemoveAlphaMerge, ComposesOverTheColour) {
  const MergeCase c = GetParam();
  IEBitmap b = test::Solid(2, 2, RGB(c.value, c.value, c.value));
  b.SetAlpha(1, 0, c.alpha);
  b.RemoveAlphaChannel(true, c.background);
  EXPECT_FALSE(b.HasAlphaChannel());
  EXPECT_EQ(b.Pixel24(1, 0), RGB(c.expected, c.expected, c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Pixels, RemoveAlphaMerge,
    testing::Values(
        // Black at alpha 128 over white: 255 + floor(-255 * 128 / 256)
        // = 255 - 128 (the shift floors -127.5).
        MergeCase{0, 128, clWhite, 127}, MergeCase{0, 0, clWhite, 255}, MergeCase{200, 128, clBlack, 100},
        MergeCase{201, 128, clBlack, 100}, MergeCase{77, 0, clBlack, 0}, MergeCase{255, 64, clBlack, 63},
        // Even an opaque pixel moves only 255/256 of the way: a level above
        // the colour is lost, one below is kept.
        MergeCase{0, 255, clWhite, 0}, MergeCase{200, 255, clBlack, 199}));

TEST(Bitmap, RemoveAlphaWithoutMergeKeepsThePixels) {
  IEBitmap b = test::Random(3, 3, F::ie24RGB);
  const IEBitmap before = b;
  b.SetAlpha(1, 1, 0);
  b.RemoveAlphaChannel(false, clWhite);
  EXPECT_FALSE(b.HasAlphaChannel());
  EXPECT_TRUE(b.AlphaAllOpaque());
  EXPECT_TRUE(test::SamePixels(b, before));
}

// --- Size changes ---------------------------------------------------------------

// The old content of a 4 x 2 grey picture (value 10 + x + 10 y) sits inside
// the new size according to the alignment; new pixels get the fill value.
struct ResizeCase {
  int w, h, halign, valign;
  int offsetX, offsetY;  // where old (0, 0) lands (negative: cut)
};

void PrintTo(const ResizeCase& c, std::ostream* os) {
  *os << c.w << " x " << c.h << " aligned " << c.halign << "," << c.valign;
}

class Resize : public testing::TestWithParam<ResizeCase> {};

TEST_P(Resize, KeepsTheContentAlignedAndFillsTheRest) {
  const ResizeCase c = GetParam();
  IEBitmap b(4, 2, F::ie8g);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) b.ScanLine(y)[x] = static_cast<uint8_t>(10 + x + 10 * y);
  b.AlphaChannel().ScanLine(1)[3] = 100;  // alpha follows the pixels
  b.Resize(c.w, c.h, 200, 50, c.halign, c.valign);
  ASSERT_EQ(b.Width(), c.w);
  ASSERT_EQ(b.Height(), c.h);
  ASSERT_TRUE(b.HasAlphaChannel());
  EXPECT_FALSE(b.AlphaAllOpaque());
  for (int y = 0; y < c.h; ++y)
    for (int x = 0; x < c.w; ++x) {
      const int ox = x - c.offsetX, oy = y - c.offsetY;
      const bool old = ox >= 0 && ox < 4 && oy >= 0 && oy < 2;
      EXPECT_EQ(b.ScanLine(y)[x], old ? 10 + ox + 10 * oy : 200) << x << "," << y;
      EXPECT_EQ(b.Alpha(x, y), old ? (ox == 3 && oy == 1 ? 100 : 255) : 50) << x << "," << y;
    }
}

INSTANTIATE_TEST_SUITE_P(Alignments, Resize,
                         testing::Values(
                             // Growing to 6 x 4.
                             ResizeCase{6, 4, 0, 0, 0, 0}, ResizeCase{6, 4, 1, 1, 1, 1}, ResizeCase{6, 4, 2, 2, 2, 2},
                             ResizeCase{6, 4, 2, 0, 2, 0}, ResizeCase{6, 4, 0, 2, 0, 2},
                             // Shrinking to 2 x 1 (the horizontal cut even on both sides when centred).
                             ResizeCase{2, 1, 0, 0, 0, 0}, ResizeCase{2, 1, 1, 0, -1, 0}, ResizeCase{2, 1, 2, 2, -2, -1},
                             // Growing one way, shrinking the other.
                             ResizeCase{2, 4, 2, 1, -2, 1}, ResizeCase{8, 1, 1, 2, 2, -1}));

TEST(Bitmap, SetWidthAndHeightKeepTheTopLeft) {
  IEBitmap b = test::Random(5, 4, F::ie24RGB);
  const IEBitmap before = b;
  b.SetWidth(3);
  b.SetHeight(6);
  ASSERT_EQ(b.Width(), 3);
  ASSERT_EQ(b.Height(), 6);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(b.Pixel24(x, y), before.Pixel24(x, y));
}

// --- Fills and block copies --------------------------------------------------------

TEST(Bitmap, FillRectIsInclusiveAndClipped) {
  IEBitmap b = test::Solid(4, 4, RGB(1, 1, 1));
  b.FillRect(-5, 1, 1, 100, 0x000080FF);  // red 255, green 128, blue 0
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x)
      EXPECT_EQ(b.Pixel24(x, y), (x <= 1 && y >= 1) ? RGB(255, 128, 0) : RGB(1, 1, 1)) << x << "," << y;
  b.FillRect(10, 10, 20, 20, 0);  // entirely outside: nothing
  b.FillRect(3, 3, 2, 2, 0);      // reversed: nothing
  EXPECT_EQ(b.Pixel24(3, 3), RGB(1, 1, 1));
}

TEST(Bitmap, FillRectResolvesSystemColoursAndTruncatesValues) {
  IEBitmap rgb(2, 2, F::ie24RGB);
  rgb.Fill(static_cast<double>(static_cast<int32_t>(clBtnFace)));  // a negative number, as colours are stored
  EXPECT_EQ(rgb.Pixel24(1, 1), ColorToTriple(SystemColor(15)));

  IEBitmap grey(3, 1, F::ie8g);
  grey.Fill(7.9);
  EXPECT_EQ(grey.ScanLine(0)[2], 7);

  IEBitmap bits(10, 2, F::ie1g);
  bits.Fill(0);
  bits.FillRect(2, 0, 8, 0, 1);
  for (int x = 0; x < 10; ++x) EXPECT_EQ(bits.Bit(x, 0), x >= 2 && x <= 8) << x;
  for (int x = 0; x < 10; ++x) EXPECT_FALSE(bits.Bit(x, 1)) << x;
}

TEST(Bitmap, CopyRectToClipsToBothBitmaps) {
  IEBitmap src(4, 4, F::ie8g);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) src.ScanLine(y)[x] = static_cast<uint8_t>(10 * y + x);
  IEBitmap dst(3, 3, F::ie8g);
  dst.Fill(99);
  // From (-1, 1), 4 x 4 to (1, 0): the column left of the source and what
  // falls past the destination are dropped.
  src.CopyRectTo(dst, -1, 1, 1, 0, 4, 4);
  const uint8_t expected[3][3] = {{99, 99, 10}, {99, 99, 20}, {99, 99, 30}};
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(dst.ScanLine(y)[x], expected[y][x]) << x << "," << y;

  dst.Fill(99);
  src.CopyRectTo(dst, 2, 2, -1, -1, 3, 3);  // destination origin outside: source shifts too
  EXPECT_EQ(dst.ScanLine(0)[0], 33);
  EXPECT_EQ(dst.ScanLine(0)[1], 99);
  EXPECT_EQ(dst.ScanLine(1)[0], 99);
}

TEST(Bitmap, CopyRectToFromBitsToRGBWritesBlackOrWhite) {
  IEBitmap bits(11, 2, F::ie1g);
  bits.Fill(0);
  bits.SetBit(9, 1, true);
  bits.SetBit(0, 0, true);
  IEBitmap rgb = test::Solid(4, 2, RGB(5, 6, 7));
  bits.CopyRectTo(rgb, 8, 0, 1, 0, 3, 2);
  EXPECT_EQ(rgb.Pixel24(0, 0), RGB(5, 6, 7));
  EXPECT_EQ(rgb.Pixel24(1, 0), RGB(0, 0, 0));
  EXPECT_EQ(rgb.Pixel24(2, 1), RGB(255, 255, 255));
  EXPECT_EQ(rgb.Pixel24(3, 1), RGB(0, 0, 0));
}

TEST(Bitmap, CopyRectToBetweenBitPicturesAndNotBetweenOtherFormats) {
  IEBitmap a(20, 1, F::ie1g), b(20, 1, F::ie1g);
  a.Fill(1);
  b.Fill(0);
  a.CopyRectTo(b, 3, 0, 6, 0, 9, 1);
  for (int x = 0; x < 20; ++x) EXPECT_EQ(b.Bit(x, 0), x >= 6 && x < 15) << x;

  IEBitmap grey(2, 2, F::ie8g);
  grey.Fill(40);
  IEBitmap rgb = test::Solid(2, 2, RGB(1, 2, 3));
  grey.CopyRectTo(rgb, 0, 0, 0, 0, 2, 2);
  EXPECT_EQ(rgb.Pixel24(0, 0), RGB(1, 2, 3));
}

// --- Where the pixels are -------------------------------------------------------------

// Restores the memory limit whatever a test does.
class MemoryLimitGuard {
 public:
  explicit MemoryLimitGuard(std::size_t limit) : saved_(IEBitmap::MemoryLimit()) { IEBitmap::SetMemoryLimit(limit); }
  ~MemoryLimitGuard() { IEBitmap::SetMemoryLimit(saved_); }

 private:
  std::size_t saved_;
};

TEST(BitmapStorage, PicturesFromTheMemoryLimitUpGoToATemporaryFile) {
  MemoryLimitGuard guard(12 * 10);  // row length 12 bytes for 4 pixels
  IEBitmap below(4, 9, F::ie24RGB);
  EXPECT_EQ(below.StorageKind(), IELocation::ieMemory);
  IEBitmap at(4, 10, F::ie24RGB);
  EXPECT_EQ(at.StorageKind(), IELocation::ieFile);

  IEBitmap big = test::Random(300, 200, F::ie24RGB, 3);
  ASSERT_EQ(big.StorageKind(), IELocation::ieFile);
  EXPECT_EQ(big.ScanLine(0) - big.ScanLine(1), static_cast<std::ptrdiff_t>(big.RowLen())) << "bottom-up there too";
  IEBitmap copy(big);  // copies land in files as well
  EXPECT_EQ(copy.StorageKind(), IELocation::ieFile);
  EXPECT_TRUE(test::SamePixels(copy, big));
  big.Pixel24(299, 199) = RGB(1, 2, 3);
  EXPECT_EQ(big.Pixel24(299, 199), RGB(1, 2, 3));

  big.SetLocation(IELocation::ieMemory);
  EXPECT_EQ(big.StorageKind(), IELocation::ieMemory);
  EXPECT_EQ(big.Pixel24(299, 199), RGB(1, 2, 3));
  EXPECT_EQ(big.Pixel24(0, 0), copy.Pixel24(0, 0));
  big.SetLocation(IELocation::ieFile);
  EXPECT_EQ(big.StorageKind(), IELocation::ieFile);
  EXPECT_EQ(big.Pixel24(299, 199), RGB(1, 2, 3));
}

TEST(BitmapStorage, OperationsWorkOnFilePictures) {
  MemoryLimitGuard guard(1024);
  IEBitmap pic = test::Random(64, 48, F::ie24RGB, 4);
  ASSERT_EQ(pic.StorageKind(), IELocation::ieFile);
  const IEBitmap before = pic;
  IEMask sel(64, 48, 1);
  sel.SelectRect(10, 10, 40, 30);
  BitmapTarget target(pic, &sel);
  ImageProc proc(target);
  proc.Negative();
  EXPECT_EQ(pic.Pixel24(20, 20).r, 255 - before.Pixel24(20, 20).r);
  EXPECT_EQ(pic.Pixel24(5, 5), before.Pixel24(5, 5));
  ASSERT_EQ(proc.UndoList().size(), 1u);
  EXPECT_EQ(proc.UndoList().back().bitmap.StorageKind(), IELocation::ieFile);
  proc.Undo();
  EXPECT_TRUE(test::SamePixels(pic, before));
}

struct StandardBitmapCase {
  F format;
  const char* message;
};

void PrintTo(const StandardBitmapCase& c, std::ostream* os) { *os << PixelFormatName(c.format); }

class StandardBitmapFormats : public testing::TestWithParam<StandardBitmapCase> {};

TEST_P(StandardBitmapFormats, AreRefusedWithTheirMessage) {
  IEBitmap b(2, 2, GetParam().format);
  try {
    b.SetLocation(IELocation::ieTBitmap);
    FAIL() << "no exception";
  } catch (const IEBitmapError& e) {
    EXPECT_STREQ(e.what(), GetParam().message);
  }
  EXPECT_EQ(b.PixelFormat(), GetParam().format);
  EXPECT_EQ(b.Width(), 2);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, StandardBitmapFormats,
    testing::Values(StandardBitmapCase{F::ie32f, "ie32f pixel format not allowed when Location=ieTBitmap"},
                    StandardBitmapCase{F::ieCMYK, "ieCMYK pixel format not allowed when Location=ieTBitmap"},
                    StandardBitmapCase{F::ieRGB48, "ieRGB48 pixel format not allowed when Location=ieTBitmap"},
                    StandardBitmapCase{F::ieCIELab, "ieCIELab pixel format not allowed when Location=ieTBitmap"}));

// --- Selection mask -------------------------------------------------------------------

TEST(Mask, BoundingBoxFollowsTheSelectedPixels) {
  for (int depth : {1, 8}) {
    IEMask m(20, 10, depth);
    EXPECT_TRUE(m.IsEmpty());
    m.SetPixel(3, 7, 1);
    m.SetPixel(15, 2, depth == 8 ? 40 : 1);
    m.SyncBox();
    EXPECT_EQ(m.X1, 3);
    EXPECT_EQ(m.Y1, 2);
    EXPECT_EQ(m.X2, 15);
    EXPECT_EQ(m.Y2, 7);
    EXPECT_FALSE(m.Full());
    EXPECT_EQ(m.ScanLine(0) - m.ScanLine(1), static_cast<std::ptrdiff_t>(m.RowLen())) << "bottom-up";
    m.SelectRect(-3, -3, 30, 30);
    EXPECT_TRUE(m.Full());
    EXPECT_EQ(m.X2, 19);
    EXPECT_EQ(m.Y2, 9);
    m.Clear();
    EXPECT_TRUE(m.IsEmpty());
  }
}

}  // namespace
}  // namespace velmora
