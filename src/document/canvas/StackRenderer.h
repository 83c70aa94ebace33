// Drawing a stack of layers: the one routine behind the screen and
// MergeAllLayers, so that what the user sees is what the merge produces.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/Color.h"
#include "imaging/IEBitmap.h"

namespace velmora {

struct IELayer;

// Draws `layers` (index 0 at the bottom; ClipToBase cuts at layer 0's
// rectangle) into `dest`, which must be ie24RGB, as seen at `zoom` percent:
// dest pixel (x, y) is view pixel (viewX + x, viewY + y), which shows image
// pixel (floor((viewX + x + 0.5) x 100 / zoom), likewise for y).
//
// Every dest pixel starts as `background`; then each visible layer covering
// the image pixel adds the nearest pixel of its bitmap (drawn at its display
// size): with coverage o = min(Opacity, alpha) (or Opacity without an alpha
// channel) each channel becomes dst + ((o x (src - dst)) >> 8). An opaque
// layer without an alpha channel is copied unchanged. Rows run in parallel;
// the result does not depend on the thread count.
//
// `dest` may be the bitmap of layer 0 itself when that layer is opaque,
// without alpha, at (0, 0) at its own size and the view is (0, 0) at 100 %:
// then every row reads only its own pixels before drawing over them.
void RenderStack(const std::vector<const IELayer*>& layers, Color background, double zoom, int64_t viewX,
                 int64_t viewY, IEBitmap& dest);

// The column (or row) of a layer's bitmap drawn at offset `d` from the
// layer's edge, for a bitmap of `bitmapSize` drawn at `displaySize`: the
// source pixel whose centre is nearest, ((2d + 1) x bitmapSize) div (2 x displaySize).
inline int LayerSourceIndex(int64_t d, int64_t bitmapSize, int64_t displaySize) {
  return static_cast<int>(((2 * d + 1) * bitmapSize) / (2 * displaySize));
}

}  // namespace velmora
