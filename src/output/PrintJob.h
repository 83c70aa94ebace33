// Printing a picture on one page: the printed pixels, the painting of the
// page (shared by the printer, the dialog's preview and any other painter)
// and the print itself through a QPrinter. No widgets.
#pragma once

#include <QImage>
#include <QSizeF>
#include <string>

#include "imaging/IEBitmap.h"
#include "output/PrintLayout.h"

class QPainter;
class QPrinter;

namespace velmora {

// The pixels that go to the paper: an RGB888 copy of the picture with the
// gamma correction applied to each colour channel; a picture with an alpha
// channel is then laid over white, as it looks on white paper. The picture
// itself is not touched. A null image when the picture is empty or the copy
// cannot be had.
QImage PrintedImage(const IEBitmap& picture, double gamma);

// Paints `printed` where `placement` puts it, clipped to the area inside
// the margins. The painter's origin is the paper's top-left corner and it
// has `unitsPerPoint` units per point. Nothing is painted when the
// placement is not ok.
void PaintPage(QPainter& painter, const QImage& printed, const PrintPlacement& placement, double unitsPerPoint);

// The printer's sheet in points, in its present orientation.
QSizeF PaperPoints(const QPrinter& printer);

// Prints `picture` with `settings` on one page of `printer` (full-page
// mode: margins are measured from the paper's edges). False, with the
// reason in `error`, when nothing could be printed: the settings leave no
// room for the picture, memory ran out, or the printer did not start.
bool PrintPicture(QPrinter& printer, const IEBitmap& picture, const PrintSettings& settings,
                  std::string* error = nullptr);

}  // namespace velmora
