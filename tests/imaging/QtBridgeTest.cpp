// The standard-bitmap location of IEBitmap (a QImage sharing its rows), its
// drawing surface, and unscaled drawing onto a painter.
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QPainter>

#include "Pictures.h"
#include "document/qt/QtBitmap.h"
#include "imaging/IEBitmap.h"

namespace velmora {
namespace {

using F = IEPixelFormat;
using test::RGB;

class QtBridge : public testing::Test {
 protected:
  void SetUp() override { InstallQtStandardBitmaps(); }
};

TEST_F(QtBridge, RgbPictureMovesIntoAQImageAndBackWithItsPixels) {
  IEBitmap pic = test::Random(7, 5, F::ie24RGB);
  const IEBitmap before = pic;
  QImage* img = WindowsBitmap(pic);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(pic.StorageKind(), IELocation::ieTBitmap);
  EXPECT_EQ(pic.Location(), IELocation::ieTBitmap);
  EXPECT_EQ(img->width(), 7);
  EXPECT_EQ(img->height(), 5);
  EXPECT_TRUE(test::SamePixels(pic, before));
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) {
      const IETriple t = before.Pixel24(x, y);
      EXPECT_EQ(img->pixel(x, y), qRgb(t.r, t.g, t.b)) << x << "," << y;
    }
  // The image shares the bitmap's rows: a change on one side is seen on the other.
  pic.Pixel24(3, 2) = RGB(1, 2, 3);
  EXPECT_EQ(img->pixel(3, 2), qRgb(1, 2, 3));

  for (IELocation back : {IELocation::ieMemory, IELocation::ieFile, IELocation::ieAuto}) {
    pic.SetLocation(back);
    EXPECT_NE(pic.StorageKind(), IELocation::ieTBitmap);
    EXPECT_EQ(pic.Pixel24(3, 2), RGB(1, 2, 3));
    EXPECT_EQ(pic.Pixel24(6, 4), before.Pixel24(6, 4));
    EXPECT_EQ(pic.Pixel24(0, 0), before.Pixel24(0, 0));
  }
  EXPECT_EQ(pic.ScanLine(0) - pic.ScanLine(1), static_cast<std::ptrdiff_t>(pic.RowLen())) << "bottom-up in memory";
}

TEST_F(QtBridge, GreyAndBitPicturesKeepTheirLevels) {
  IEBitmap grey = test::Random(9, 3, F::ie8g);
  const IEBitmap greyBefore = grey;
  QImage* img = WindowsBitmap(grey);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(grey.PixelFormat(), F::ie8g);
  for (int x = 0; x < 9; ++x) {
    const int v = greyBefore.ScanLine(1)[x];
    EXPECT_EQ(img->pixel(x, 1), qRgb(v, v, v)) << "a grey palette";
  }

  IEBitmap bits = test::Random(13, 2, F::ie1g);
  const IEBitmap bitsBefore = bits;
  img = WindowsBitmap(bits);
  ASSERT_NE(img, nullptr);
  for (int x = 0; x < 13; ++x)
    EXPECT_EQ(img->pixel(x, 0), bitsBefore.Bit(x, 0) ? qRgb(255, 255, 255) : qRgb(0, 0, 0)) << x;
  bits.SetLocation(IELocation::ieMemory);
  EXPECT_TRUE(test::SamePixels(bits, bitsBefore));
}

TEST_F(QtBridge, SixteenBitGreyBecomesEightBitGrey) {
  IEBitmap grey(3, 2, F::ie16g);
  const uint16_t levels[3] = {0, 0x8080, 0xFFFF};
  for (int y = 0; y < 2; ++y) std::memcpy(grey.ScanLine(y), levels, sizeof levels);
  grey.SetLocation(IELocation::ieTBitmap);
  EXPECT_EQ(grey.PixelFormat(), F::ie8g);
  EXPECT_EQ(grey.StorageKind(), IELocation::ieTBitmap);
  EXPECT_EQ(grey.ScanLine(1)[0], 0);
  EXPECT_EQ(grey.ScanLine(1)[1], 128);
  EXPECT_EQ(grey.ScanLine(1)[2], 255);

  IEBitmap fresh;
  fresh.SetLocation(IELocation::ieTBitmap);
  fresh.Allocate(4, 4, F::ie16g);
  EXPECT_EQ(fresh.PixelFormat(), F::ie8g);
}

struct RefusedCase {
  F format;
  const char* message;
};

TEST_F(QtBridge, FormatsAStandardBitmapCannotHoldAreRefused) {
  const RefusedCase cases[] = {
      {F::ie32f, "ie32f pixel format not allowed when Location=ieTBitmap"},
      {F::ieCMYK, "ieCMYK pixel format not allowed when Location=ieTBitmap"},
      {F::ieRGB48, "ieRGB48 pixel format not allowed when Location=ieTBitmap"},
      {F::ieCIELab, "ieCIELab pixel format not allowed when Location=ieTBitmap"},
  };
  for (const RefusedCase& c : cases) {
    IEBitmap moved(3, 3, c.format);
    try {
      moved.SetLocation(IELocation::ieTBitmap);
      ADD_FAILURE() << "moving " << c.message;
    } catch (const IEBitmapError& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
    EXPECT_NE(moved.StorageKind(), IELocation::ieTBitmap);

    // Allocating such a format in a standard bitmap raises the same message
    // and leaves the bitmap as it was.
    IEBitmap there = test::Random(4, 2, F::ie24RGB);
    const IEBitmap before = there;
    there.SetLocation(IELocation::ieTBitmap);
    try {
      there.Allocate(5, 5, c.format);
      ADD_FAILURE() << "allocating " << c.message;
    } catch (const IEBitmapError& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
    EXPECT_TRUE(test::SamePixels(there, before));
  }
}

TEST_F(QtBridge, CanvasPaintsOnTheBitmapsPixels) {
  IEBitmap pic = test::Solid(6, 4, RGB(10, 20, 30));
  {
    std::unique_ptr<QPainter> painter = Canvas(pic);
    ASSERT_NE(painter, nullptr);
    painter->fillRect(1, 2, 3, 1, QColor(255, 0, 0));
  }
  pic.SetLocation(IELocation::ieMemory);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x)
      EXPECT_EQ(pic.Pixel24(x, y), (y == 2 && x >= 1 && x <= 3) ? RGB(255, 0, 0) : RGB(10, 20, 30)) << x << "," << y;
}

TEST_F(QtBridge, DrawToCanvasDrawsUnscaledAtThePosition) {
  IEBitmap pic = test::Random(4, 3, F::ie24RGB);
  for (F format : {F::ie24RGB, F::ie8g}) {
    IEBitmap src = pic;
    src.ConvertFormat(format);
    QImage canvas(10, 8, QImage::Format_RGB32);
    canvas.fill(qRgb(1, 2, 3));
    {
      QPainter painter(&canvas);
      DrawToCanvas(src, painter, 5, 4);
    }
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 10; ++x) {
        const bool inside = x >= 5 && x < 9 && y >= 4 && y < 7;
        QRgb expected = qRgb(1, 2, 3);
        if (inside && format == F::ie24RGB) {
          const IETriple t = src.Pixel24(x - 5, y - 4);
          expected = qRgb(t.r, t.g, t.b);
        } else if (inside) {
          const int v = src.ScanLine(y - 4)[x - 5];
          expected = qRgb(v, v, v);
        }
        EXPECT_EQ(canvas.pixel(x, y), expected) << PixelFormatName(format) << " " << x << "," << y;
      }
  }
}

}  // namespace
}  // namespace velmora
