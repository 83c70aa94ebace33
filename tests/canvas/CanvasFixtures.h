// Small stacks for the canvas tests.
#pragma once

#include <gtest/gtest.h>

#include "document/canvas/LayerCanvas.h"
#include "imaging/Pictures.h"

namespace velmora::test {

// A canvas whose layer 0 is `photo`.
inline void SetPhoto(LayerCanvas& c, IEBitmap photo) {
  c.RemoveExtraLayers();
  c.CurrentBitmap() = std::move(photo);
}

// A picture whose pixels all differ: (r, g, b) = (x, y, x + y) scaled.
inline IEBitmap Gradient(int w, int h) {
  IEBitmap b(w, h, IEPixelFormat::ie24RGB);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.Pixel24(x, y) = RGB((11 * x) & 255, (7 * y) & 255, (3 * x + 5 * y) & 255);
  return b;
}

}  // namespace velmora::test
