// IEBitmap on the Qt side: the standard-bitmap storage (a QImage that
// shares the bitmap's rows), its drawing surface and unscaled drawing.
#pragma once

#include <QColor>
#include <QImage>
#include <QPalette>
#include <QPainter>

#include "imaging/Color.h"
#include "imaging/IEBitmap.h"

namespace velmora {

// Makes IEBitmap::SetLocation(ieTBitmap) available; call once at start.
void InstallQtStandardBitmaps();

// Switches the bitmap to the standard-bitmap location (keeping its pixels)
// and returns that image; the QImage shares the bitmap's memory.
QImage* WindowsBitmap(IEBitmap& bmp);
// The same switch; a painter drawing on the bitmap's pixels. The caller
// ends it before the bitmap changes size.
std::unique_ptr<QPainter> Canvas(IEBitmap& bmp);
// Draws the whole bitmap unscaled with its top-left corner at (x, y).
void DrawToCanvas(const IEBitmap& bmp, QPainter& painter, int x, int y);
// A copy of the pixels as a QImage (RGB888 / Grayscale8 / Mono / Indexed8;
// ARGB32 when the bitmap has an alpha channel).
QImage ToQImage(const IEBitmap& bmp);
// An IEBitmap from any QImage: ie24RGB, with an alpha channel when the
// image has one.
IEBitmap FromQImage(const QImage& image);

// A colour value as Qt sees it; system colours resolve to their present
// value.
QColor ToQColor(Color c);
Color FromQColor(const QColor& q);
// The system colours (clBtnFace, clWindow, ...) take the colours of a
// palette, so that what is drawn in them follows the skin in use.
void SyncSystemColors(const QPalette& palette);

}  // namespace velmora
