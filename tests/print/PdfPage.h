// A small reader of the one-page PDF files Qt's PDF printer writes, enough
// to check a print: the cross-reference table must point at every object,
// and the page's content stream is followed (q, Q, cm, clipping paths, Do)
// to find where each image lands on the sheet and what pixels it carries.
#pragma once

#include <QRectF>
#include <QString>
#include <cstdint>
#include <string>
#include <vector>

namespace velmora::test {

struct PdfImage {
  int width = 0, height = 0;
  std::string colorSpace;       // "DeviceRGB", ...
  std::vector<uint8_t> pixels;  // decoded samples, rows top to bottom
  QRectF placed;                // on the sheet, in points from its top-left corner
  QRectF clip;                  // the clipping in force, likewise; null when none
};

struct PdfPage {
  bool valid = false;
  std::string problem;  // why it is not valid
  int pageCount = 0;
  double mediaWidth = 0, mediaHeight = 0;  // points
  std::string title;
  std::vector<PdfImage> images;
};

PdfPage ReadPdf(const QString& path);

}  // namespace velmora::test
