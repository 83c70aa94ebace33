#include "output/PrintJob.h"

#include <QPageLayout>
#include <QPainter>
#include <QPrinter>

#include "document/qt/QtBitmap.h"

namespace velmora {

QImage PrintedImage(const IEBitmap& picture, double gamma) {
  if (picture.IsEmpty()) return {};
  const int w = picture.Width(), h = picture.Height();
  const std::array<uint8_t, 256> lut = GammaTable(gamma);
  QImage out(w, h, QImage::Format_RGB888);
  if (out.isNull()) return {};

  // The usual photo: read the rows directly, one copy only.
  if (picture.PixelFormat() == IEPixelFormat::ie24RGB && !picture.HasAlphaChannel()) {
    for (int y = 0; y < h; ++y) {
      const auto* s = reinterpret_cast<const IETriple*>(picture.ScanLine(y));
      uint8_t* d = out.scanLine(y);
      for (int x = 0; x < w; ++x, d += 3) {
        d[0] = lut[s[x].r];
        d[1] = lut[s[x].g];
        d[2] = lut[s[x].b];
      }
    }
    return out;
  }

  QImage src = ToQImage(picture);
  if (src.isNull()) return {};
  const bool alpha = src.hasAlphaChannel();
  src = src.convertToFormat(QImage::Format_ARGB32);
  if (src.isNull()) return {};
  for (int y = 0; y < h; ++y) {
    const auto* s = reinterpret_cast<const QRgb*>(src.constScanLine(y));
    uint8_t* d = out.scanLine(y);
    for (int x = 0; x < w; ++x, d += 3) {
      const int a = alpha ? qAlpha(s[x]) : 255;
      const int c[3] = {lut[qRed(s[x])], lut[qGreen(s[x])], lut[qBlue(s[x])]};
      for (int k = 0; k < 3; ++k) d[k] = static_cast<uint8_t>((c[k] * a + 255 * (255 - a) + 127) / 255);
    }
  }
  return out;
}

void PaintPage(QPainter& painter, const QImage& printed, const PrintPlacement& placement, double unitsPerPoint) {
  if (!placement.ok || printed.isNull() || !(unitsPerPoint > 0)) return;
  const auto toDevice = [unitsPerPoint](const PrintRect& r) {
    return QRectF(r.x * unitsPerPoint, r.y * unitsPerPoint, r.width * unitsPerPoint, r.height * unitsPerPoint);
  };
  const QRectF area = toDevice(placement.area);
  const QRectF target = toDevice(placement.picture);
  painter.save();
  // Only a picture that reaches beyond the margins needs the clip; the
  // others go to the page as they are.
  if (!area.contains(target)) painter.setClipRect(area, Qt::IntersectClip);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
  // A photo is not recompressed on its way to the printer.
  painter.setRenderHint(QPainter::LosslessImageRendering, true);
  painter.drawImage(target, printed, QRectF(printed.rect()));
  painter.restore();
}

QSizeF PaperPoints(const QPrinter& printer) { return printer.pageLayout().fullRect(QPageLayout::Point).size(); }

bool PrintPicture(QPrinter& printer, const IEBitmap& picture, const PrintSettings& settings, std::string* error) {
  const auto fail = [error](std::string why) {
    if (error) *error = std::move(why);
    return false;
  };
  const PrintSettings s = Sanitized(settings);
  const QSizeF paper = PaperPoints(printer);
  const PrintPlacement placement = PlacePicture(paper.width(), paper.height(), s, picture.Width(), picture.Height());
  if (!placement.ok) return fail(PlacementProblem(placement, s, picture.Width(), picture.Height()));
  const QImage printed = PrintedImage(picture, s.gamma);
  if (printed.isNull()) return fail("There is not enough memory to print the picture.");

  printer.setFullPage(true);
  QPainter painter;
  if (!painter.begin(&printer)) return fail("The printer could not be started; choose one in \"Printer Setup\".");
  PaintPage(painter, printed, placement, printer.resolution() / kPointsPerInch);
  if (!painter.end()) return fail("The printer could not finish the page.");
  if (error) error->clear();
  return true;
}

}  // namespace velmora
