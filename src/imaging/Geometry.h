// Types of the geometry operations (Resample, Rotate, Flip, CropSel).
#pragma once

#include <cstdint>

#include "imaging/Color.h"

namespace velmora {

// The filter of Resample. The ordinal values are passed around as numbers
// (settings, the Resize dialog's list), so they must not change.
enum ResampleFilter : int {
  rfNone = 0,         // nearest source pixel, any format
  rfTriangle = 1,     // kernel 1 - |x|, support 1
  rfHermite = 2,      // kernel, support 1
  rfBell = 3,         // kernel, support 1.5
  rfBSpline = 4,      // kernel, support 2
  rfLanczos3 = 5,     // kernel sinc(x) sinc(x / 3), support 3
  rfMitchell = 6,     // kernel (Mitchell-Netravali, B = C = 1/3), support 2
  rfNearest = 7,      // kernel: box of width 1
  rfLinear = 8,       // kernel 1 - |x|, support 1
  rfFastLinear = 9,   // same as rfLinear
  rfBilinear = 10,    // area walk with bilinear samples
  rfBicubic = 11,     // area walk with cubic samples
  rfProjectBW = 12,   // same as rfNone
  rfProjectWB = 13,   // same as rfNone
};
constexpr int kResampleFilterCount = 14;

// "rfNone", "rfTriangle", ... (the names of the enumeration); "?" outside it.
const char* ResampleFilterName(ResampleFilter f);

// Rotate's background argument that stands for the processor's Background.
constexpr Color kProcessorBackground = 0xFFFFFFFFu;

// The largest picture (and work buffer) a geometry operation builds. A
// request beyond it is refused as a whole: the picture stays as it is and
// no undo copy is taken.
constexpr int kMaxGeometrySide = 1 << 20;
constexpr int64_t kMaxGeometryPixels = int64_t{1} << 30;

}  // namespace velmora
