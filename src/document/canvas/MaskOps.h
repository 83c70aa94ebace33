// Whole-mask operations of the canvas selection, row by row (the per-pixel
// accessors of IEMask are too slow for a 24-megapixel selection).
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/IEMask.h"

namespace velmora {

// Replaces the mask's content by the inclusive rectangle (clipped), with
// its bounding box; nothing selected when the rectangle is empty.
void MaskSelectOnly(IEMask& mask, int x1, int y1, int x2, int y2);

// Every unselected pixel fully selected, every selected one (any non-zero
// value) unselected; bounding box and full flag recomputed.
void MaskInvert(IEMask& mask);

// The feather kernel for radius r > 0: weights exp(-d^2 / (2r^2)) for
// d = -100..100, scaled to integers that sum to 65536 (each rounded, the
// rounding remainder given to the centre), zero weights at both ends
// dropped. Element i is the weight of offset i - (size - 1) / 2.
std::vector<int32_t> FeatherKernel(double radius);

// Blurs an 8-bit mask inside its bounding box grown by max(trunc(5r), 1)
// pixels (cut to the mask) with FeatherKernel(r), rows first, then
// columns; positions beyond the grown box take the nearest edge value; each
// result is (sum + 32768) >> 16. The bounding box is then recomputed. Does
// nothing to a 1-bit or empty mask, or for r <= 0.
//
// The sums are taken as box sums over prefix sums (the kernel is a stack
// of nested boxes, one per step between neighbouring weights), so a wide,
// flat kernel costs a few lookups per pixel; the integers are the same as
// those of the plain convolution.
void FeatherMask(IEMask& mask, double radius);

}  // namespace velmora
