// The icons of the toolbar and the zoom strip: each is a real, distinct
// picture at every size and device pixel ratio, keeps clear of its corners,
// fades when disabled and stands out on the light and the dark skins.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <cstdlib>
#include <memory>
#include <set>

#include "app/ToolbarIcons.h"

using namespace velmora;

namespace {

const char* Name(ToolbarIcon icon) {
  switch (icon) {
    case ToolbarIcon::Open: return "Open";
    case ToolbarIcon::Effects: return "Effects";
    case ToolbarIcon::Preview: return "Preview";
    case ToolbarIcon::Save: return "Save";
    case ToolbarIcon::Print: return "Print";
    case ToolbarIcon::Templates: return "Templates";
    case ToolbarIcon::ActualSize: return "ActualSize";
    case ToolbarIcon::FitToWindow: return "FitToWindow";
  }
  return "?";
}

// The toolbar shows 48 pixels, the zoom strip 16 to 20; the rest are the
// sizes styles and desktops commonly ask for.
constexpr int kSizes[] = {16, 20, 24, 32, 48, 64, 96};
constexpr double kRatios[] = {1.0, 2.0};

QImage Picture(ToolbarIcon icon, int side, double ratio = 1.0, QIcon::Mode mode = QIcon::Normal) {
  return MakeToolbarIcon(icon).pixmap(QSize(side, side), ratio, mode).toImage().convertToFormat(QImage::Format_ARGB32);
}

double Coverage(const QImage& image) {
  int covered = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) covered += qAlpha(image.pixel(x, y)) > 0;
  return double(covered) / (image.width() * image.height());
}

// The largest alpha in a square of `side` pixels at (x, y).
int CornerAlpha(const QImage& image, int x, int y, int side) {
  int most = 0;
  for (int dy = 0; dy < side; ++dy)
    for (int dx = 0; dx < side; ++dx) most = std::max(most, qAlpha(image.pixel(x + dx, y + dy)));
  return most;
}

// The share of pixels whose colours differ clearly in some channel.
double Difference(const QImage& a, const QImage& b) {
  int differing = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) {
      const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
      differing += std::abs(qRed(p) - qRed(q)) > 32 || std::abs(qGreen(p) - qGreen(q)) > 32 ||
                   std::abs(qBlue(p) - qBlue(q)) > 32 || std::abs(qAlpha(p) - qAlpha(q)) > 32;
    }
  return double(differing) / (a.width() * a.height());
}

// The share of the square whose picture, laid on `background`, differs from
// it clearly in colour (a distance of 100 in RGB): what the eye picks out.
double Standout(const QImage& image, QColor background) {
  QImage laid(image.size(), QImage::Format_ARGB32);
  laid.fill(background);
  QPainter(&laid).drawImage(0, 0, image);
  const QRgb ground = background.rgb();
  int standing = 0;
  for (int y = 0; y < laid.height(); ++y)
    for (int x = 0; x < laid.width(); ++x) {
      const QRgb p = laid.pixel(x, y);
      const int r = qRed(p) - qRed(ground), g = qGreen(p) - qGreen(ground), b = qBlue(p) - qBlue(ground);
      standing += r * r + g * g + b * b >= 100 * 100;
    }
  return double(standing) / (laid.width() * laid.height());
}

TEST(ToolbarIcons, EverySizeAndRatioIsAFullPictureClearOfItsCorners) {
  for (ToolbarIcon icon : kToolbarIcons) {
    for (int side : kSizes) {
      for (double ratio : kRatios) {
        SCOPED_TRACE(testing::Message() << Name(icon) << " at " << side << " px, ratio " << ratio);
        const QPixmap pm = MakeToolbarIcon(icon).pixmap(QSize(side, side), ratio);
        ASSERT_FALSE(pm.isNull());
        const int pixels = int(side * ratio);
        ASSERT_EQ(pm.size(), QSize(pixels, pixels));
        EXPECT_EQ(pm.devicePixelRatio(), ratio);

        const QImage image = pm.toImage().convertToFormat(QImage::Format_ARGB32);
        EXPECT_GT(Coverage(image), 0.3);
        std::set<QRgb> colours;
        for (int y = 0; y < pixels; ++y)
          for (int x = 0; x < pixels; ++x)
            if (qAlpha(image.pixel(x, y)) == 255) colours.insert(image.pixel(x, y));
        EXPECT_GE(colours.size(), 4u) << "a flat blot, not a picture";

        // Two units of the 48-unit design at each corner stay empty.
        const int corner = std::max(1, pixels / 24);
        EXPECT_EQ(CornerAlpha(image, 0, 0, corner), 0);
        EXPECT_EQ(CornerAlpha(image, pixels - corner, 0, corner), 0);
        EXPECT_EQ(CornerAlpha(image, 0, pixels - corner, corner), 0);
        EXPECT_EQ(CornerAlpha(image, pixels - corner, pixels - corner, corner), 0);
      }
    }
  }
}

// Small pictures leave out details by their count of device pixels, so the
// sizes compared here have all their details at both ratios.
TEST(ToolbarIcons, RatioTwoIsTheSameDesignInFinerPixels) {
  for (ToolbarIcon icon : kToolbarIcons) {
    for (int side : {32, 48}) {
      SCOPED_TRACE(testing::Message() << Name(icon) << " at " << side << " px");
      const QImage fine = Picture(icon, side, 2.0);
      const QImage coarse = Picture(icon, side);
      // Each pixel of the plain rendering against the average of its four
      // at ratio 2: the same place, the same colours.
      double total = 0;
      for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
          int sum[4] = {};
          for (int d = 0; d < 4; ++d) {
            const QRgb q = fine.pixel(2 * x + d % 2, 2 * y + d / 2);
            sum[0] += qRed(q), sum[1] += qGreen(q), sum[2] += qBlue(q), sum[3] += qAlpha(q);
          }
          const QRgb p = coarse.pixel(x, y);
          total += std::abs(qRed(p) - sum[0] / 4) + std::abs(qGreen(p) - sum[1] / 4) +
                   std::abs(qBlue(p) - sum[2] / 4) + std::abs(qAlpha(p) - sum[3] / 4);
        }
      EXPECT_LT(total / (side * side * 4), 24.0);
    }
  }
}

TEST(ToolbarIcons, NoTwoAlike) {
  for (int side : {20, 48}) {
    for (ToolbarIcon a : kToolbarIcons) {
      for (ToolbarIcon b : kToolbarIcons) {
        if (int(a) >= int(b)) continue;
        EXPECT_GT(Difference(Picture(a, side), Picture(b, side)), 0.2)
            << Name(a) << " and " << Name(b) << " at " << side << " px";
      }
    }
  }
}

TEST(ToolbarIcons, StandOutOnLightAndDarkSkins) {
  const QColor light(0xf0, 0xf0, 0xf0), dark(0x2b, 0x2d, 0x31);
  for (ToolbarIcon icon : kToolbarIcons) {
    for (int side : {20, 48}) {
      const QImage image = Picture(icon, side);
      EXPECT_GT(Standout(image, light), 0.15) << Name(icon) << " on light at " << side << " px";
      EXPECT_GT(Standout(image, dark), 0.15) << Name(icon) << " on dark at " << side << " px";
    }
  }
}

TEST(ToolbarIcons, DisabledIsAFainterGreyOfTheSamePicture) {
  for (ToolbarIcon icon : kToolbarIcons) {
    SCOPED_TRACE(Name(icon));
    const QImage normal = Picture(icon, 20);
    const QImage disabled = Picture(icon, 20, 1.0, QIcon::Disabled);
    ASSERT_EQ(disabled.size(), normal.size());
    bool shaded = false;
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < 20; ++x) {
        const QRgb n = normal.pixel(x, y), d = disabled.pixel(x, y);
        EXPECT_EQ(qAlpha(d) == 0, qAlpha(n) == 0) << x << "," << y;
        if (qAlpha(n) > 1) {
          EXPECT_LT(qAlpha(d), qAlpha(n)) << x << "," << y;
        }
        EXPECT_LE(std::abs(qRed(d) - qGreen(d)) + std::abs(qGreen(d) - qBlue(d)), 2) << x << "," << y;
        shaded |= qAlpha(d) > 0 && std::abs(qRed(d) - qRed(disabled.pixel(10, 10))) > 16;
      }
    EXPECT_TRUE(shaded) << "a grey blot, not the picture";
  }
}

TEST(ToolbarIcons, OblongRequestsGetTheLargestSquareInside) {
  const QIcon icon = MakeToolbarIcon(ToolbarIcon::Save);
  struct Case {
    QSize asked, given;
  } cases[] = {{{48, 20}, {20, 20}}, {{16, 40}, {16, 16}}, {{0, 48}, {0, 0}}};
  for (const Case& c : cases) {
    EXPECT_EQ(icon.actualSize(c.asked), c.given) << c.asked.width() << "x" << c.asked.height();
    EXPECT_EQ(icon.pixmap(c.asked).size(), c.given) << c.asked.width() << "x" << c.asked.height();
  }
}

// QIcon::paint, as buttons draw: the picture centred in the rectangle at the
// device's resolution, and nothing outside it.
TEST(ToolbarIcons, PaintsCentredInItsRectangleAtTheDevicesRatio) {
  struct Case {
    double ratio;
    QRect rect;
    QRect square;
  } cases[] = {
      {1.0, {8, 8, 48, 48}, {8, 8, 48, 48}},
      {2.0, {8, 8, 48, 48}, {8, 8, 48, 48}},
      {1.0, {4, 10, 56, 20}, {22, 10, 20, 20}},
      {2.0, {4, 10, 56, 20}, {22, 10, 20, 20}},
  };
  for (ToolbarIcon icon : kToolbarIcons) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << Name(icon) << " ratio " << c.ratio << " in " << c.rect.x() << ","
                                      << c.rect.y() << " " << c.rect.width() << "x" << c.rect.height());
      QImage canvas(int(64 * c.ratio), int(64 * c.ratio), QImage::Format_ARGB32_Premultiplied);
      canvas.setDevicePixelRatio(c.ratio);
      canvas.fill(Qt::transparent);
      {
        QPainter p(&canvas);
        MakeToolbarIcon(icon).paint(&p, c.rect);
      }
      canvas = canvas.convertToFormat(QImage::Format_ARGB32);
      const QImage expected = Picture(icon, c.square.width(), c.ratio);
      const QRect inDevice(c.square.topLeft() * c.ratio, expected.size());
      int wrong = 0;
      for (int y = 0; y < canvas.height(); ++y)
        for (int x = 0; x < canvas.width(); ++x) {
          const QRgb want = inDevice.contains(x, y) ? expected.pixel(x - inDevice.x(), y - inDevice.y()) : 0;
          wrong += canvas.pixel(x, y) != want;
        }
      EXPECT_EQ(wrong, 0);
    }
  }
}

}  // namespace
