// Pictures and helpers shared by the geometry tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "imaging/IEBitmap.h"
#include "imaging/Parallel.h"

namespace velmora::test {

// Smooth ramps with hard edges and extreme values on top: overshooting
// kernels must clamp, walks must cross edges.
inline IEBitmap Structured(int w, int h, IEPixelFormat f) {
  IEBitmap b(w, h, f);
  const int bytes = (BitsPerPixel(f) + 7) / 8;
  for (int y = 0; y < h; ++y) {
    uint8_t* row = b.ScanLine(y);
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < bytes; ++c) {
        int v = (x * 37 + y * 11 + c * 60) % 256;
        if ((x / 3 + y / 2) % 5 == 0) v = 255;
        else if ((x + y) % 7 == 0) v = 0;
        row[x * bytes + c] = static_cast<uint8_t>(v);
      }
  }
  return b;
}

// Runs fn with 1, 2 and 4 threads and restores the count.
template <class Fn>
void ForThreadCounts(Fn fn) {
  const int saved = ParallelThreadCount();
  for (int n : {1, 2, 4}) {
    SetParallelThreadCount(n);
    fn(n);
  }
  SetParallelThreadCount(saved);
}

}  // namespace velmora::test
