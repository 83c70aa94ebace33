// Pixel conversions between the formats of IEBitmap.
#pragma once

#include <array>
#include <cstdint>

#include "imaging/IEBitmap.h"

namespace velmora {

// Converts every pixel of src into dst, which has the same size and its own
// format. Conversions go through 8-bit RGB except where a wider path keeps
// precision (16-bit grey and 48-bit RGB among themselves, float).
void ConvertPixels(const IEBitmap& src, IEBitmap& dst);

// The grey level used everywhere: (R x 21 + G x 71 + B x 8) div 100.
inline int GreyLevel(int r, int g, int b) { return (r * 21 + g * 71 + b * 8) / 100; }

// How many pixels of an ie24RGB picture have each grey level.
std::array<uint64_t, 256> GreyHistogram(const IEBitmap& bmp);

}  // namespace velmora
