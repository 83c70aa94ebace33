// Geometry applied to freshly decoded pictures: the EXIF orientation that
// makes photos appear upright, and the box reduction of thumbnails; and the
// thumbnail embedded in written files.
#pragma once

#include "imaging/IEBitmap.h"

namespace velmora {

// Turns a picture stored with EXIF orientation `orientation` (1..8) so that
// it appears upright: 2 mirrors left-right, 3 turns half round, 4 mirrors
// top-bottom, 5 transposes, 6 turns a quarter clockwise, 7 transverses,
// 8 turns a quarter anticlockwise. 1 and values outside 1..8 change
// nothing. The alpha channel follows the pixels. Works for every pixel
// format whose pixels are whole bytes, and for ie1g. False when memory for
// the turned copy cannot be had (the picture is then unchanged).
bool ApplyOrientation(IEBitmap& bmp, int orientation);

// Shrinks the picture so that its longer side is at most `side` pixels,
// keeping its proportions, each new pixel the mean of the source pixels it
// covers (alpha likewise). Bi-level and palette pictures become 24-bit
// RGB; a picture already small enough is left as it is. False when memory
// cannot be had (the picture is then unchanged).
bool ReduceToFit(IEBitmap& bmp, int side);
// The same reduction to exactly w x h (each at most the present size).
bool ReduceToSize(IEBitmap& bmp, int w, int h);

// The thumbnail stored inside JPEG and TIFF files: the picture resampled
// with the triangle filter to 160 pixels wide, the height in proportion
// (rounded, at most 640), 24-bit RGB or grey, without alpha.
constexpr int kEmbeddedThumbnailWidth = 160;
bool MakeEmbeddedThumbnail(const IEBitmap& bmp, IEBitmap& thumb);

}  // namespace velmora
