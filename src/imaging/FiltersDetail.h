// Internals of the filters that the tests and benchmarks reach: the shared
// Gaussian kernel, the fast separable forms, and plain reference forms that
// compute every output sample the obvious way. The fast forms must give
// exactly the reference results.
#pragma once

#include <functional>
#include <vector>

#include "imaging/IEBitmap.h"

namespace velmora::detail {

// Integer Gaussian weights k(d) for d = -n..n, cut to their non-zero range
// (n >= 1); they sum to about 65536. A radius that is not > 0 gives the
// identity kernel {0, 65536, 0}.
struct GaussKernel {
  int n = 1;
  std::vector<int> k;  // k[d + n]
  int At(int d) const { return k[d + n]; }
};
GaussKernel MakeGaussKernel(double radius);

// Filters every row of an ie8g or ie24RGB bitmap with the kernel (each
// channel on its own, edges repeated), then every column of the result.
// Other formats are left alone. `progress` gets percentages of
// width + height (rows first). False when the scratch memory could not be
// had or the kernel is not one MakeGaussKernel makes (the bitmap is then
// unchanged).
bool GaussBlur(IEBitmap& bmp, const GaussKernel& kernel, const std::function<void(int)>& progress = {});
void GaussBlurReference(IEBitmap& bmp, const GaussKernel& kernel);

// Colour-preserving opening (erosion, then dilation) of the rectangle
// [x1, x2) x [y1, y2) of an ie24RGB or ie1g bitmap with a square window of
// side 2 * radius + 1, positions outside clamped to the rectangle. Of equal
// grey levels the first in row-major order of the window wins.
// `progress` gets 0..100.
void OpeningFast(IEBitmap& bmp, int x1, int y1, int x2, int y2, int radius,
                 const std::function<void(int)>& progress = {});
void OpeningReference(IEBitmap& bmp, int x1, int y1, int x2, int y2, int radius);

// Unsharp mask of the rectangle of an ie24RGB bitmap (whole picture read).
void SharpenReference(IEBitmap& bmp, int x1, int y1, int x2, int y2, int intensity, int neighbourhood);

// Circular wave of a whole ie24RGB bitmap, one sine per pixel.
void WaveReference(IEBitmap& bmp, int amplitude, int wavelength, int phase, bool reflective);

// Switches for the tests: the vector instructions of the running processor
// (on by default), and 64-bit opening keys even for small pictures (the
// ones pictures wider or taller than 65,536 pixels need).
void SetFilterSimd(bool enabled);
void SetOpeningWideKeys(bool enabled);

}  // namespace velmora::detail
