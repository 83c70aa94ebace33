// Pictures and a PDF printer for the print tests, and the Qt application
// they run in (offscreen unless the environment says otherwise).
#pragma once

#include <QPageLayout>
#include <QPageSize>
#include <QPrinter>
#include <QString>

#include "imaging/IEBitmap.h"

namespace velmora::test {

// A w x h ie24RGB picture of one colour.
inline IEBitmap Solid(int w, int h, IETriple c) {
  IEBitmap b(w, h, IEPixelFormat::ie24RGB);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.Pixel24(x, y) = c;
  return b;
}

// 256 x 3: every channel value once per row, in red, green and blue rows
// that also carry the other channels in other orders.
inline IEBitmap Ramp() {
  IEBitmap b(256, 3, IEPixelFormat::ie24RGB);
  for (int x = 0; x < 256; ++x) {
    const auto v = static_cast<uint8_t>(x), w = static_cast<uint8_t>(255 - x), h = static_cast<uint8_t>(x / 2);
    b.Pixel24(x, 0) = IETriple{h, w, v};  // b, g, r
    b.Pixel24(x, 1) = IETriple{w, v, h};
    b.Pixel24(x, 2) = IETriple{v, h, w};
  }
  return b;
}

// A high-resolution PDF printer on US Letter (612 x 792 points) writing `file`.
inline void MakePdfPrinter(QPrinter& printer, const QString& file,
                           QPageLayout::Orientation orientation = QPageLayout::Portrait) {
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(file);
  printer.setPageSize(QPageSize(QPageSize::Letter));
  printer.setPageOrientation(orientation);
}

}  // namespace velmora::test
