// The pieces of the automatic enhancements that tests reach on their own:
// the recursive Gaussian, the Wallis window geometry, and plain forms of
// the operations that the fast ones must match exactly.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/IEBitmap.h"

namespace velmora::enhance {

// Third-order recursive Gaussian after Young, van Vliet and van Ginkel,
// run forward then backward, with the boundary of Triggs and Sdika (the
// signal continues its edge value beyond both ends).
struct RecursiveGaussian {
  explicit RecursiveGaussian(double sigma);
  double a1 = 0, a2 = 0, a3 = 0, B = 1;
  double M[9] = {};  // Triggs-Sdika matrix, row by row

  // One line of n samples (n >= 1) read with a stride from x, written with
  // the same stride to out (which may be x): every output gets `offset`
  // added after the backward pass. Stored values are floats; the running
  // state is kept in double precision.
  void Line(const float* x, float* out, int n, std::ptrdiff_t stride = 1, double offset = 0) const;
};

// Separable blur of a row-major float plane (width x height), rows first
// then columns; `offset` is added to every value of the column pass. In
// place; rows and column strips run on all cores.
void GaussianBlur(float* plane, int width, int height, double sigma, double offset = 0);
// The same from src into plane (src is left as it was).
void GaussianBlur(const float* src, float* plane, int width, int height, double sigma, double offset = 0);
// The same, one Line call per row and per column.
void GaussianBlurReference(float* plane, int width, int height, double sigma, double offset = 0);

// The window of WallisFilter over a width x height picture.
struct WallisWindow {
  int ww, wh;  // window size
  int hw, hh;  // half sizes: (size + 1) div 2
};
WallisWindow WallisWindowFor(int width, int height, int widthPercent, int heightPercent);

// Plain forms, as the operations are described step by step, for pictures
// small enough to be treated slowly. Each changes an ie24RGB picture in
// place (the whole picture).
void HistAutoEqualizeReference(IEBitmap& bmp);
void AutoImageEnhance3Reference(IEBitmap& bmp, int saturationPercent, double gamma);
// Every extended point in writing order, each window summed directly.
void WallisFilterReference(IEBitmap& bmp, int windowWidthPercent, int windowHeightPercent, int targetMean,
                           int targetDeviation, int gain, int meanWeight, int deviationLimit, bool binarize);

}  // namespace velmora::enhance
