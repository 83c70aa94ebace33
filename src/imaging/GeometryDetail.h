// The building blocks of the geometry operations, reachable by the tests:
// target sizes, resampling kernels and contributor lists, the area walk,
// the shears of the rotation. ImageProc's methods (Geometry.cpp) add the
// frame around them: undo copy, label, format choice, alpha channel.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "imaging/Geometry.h"
#include "imaging/IEBitmap.h"

namespace velmora::geometry {

// Called with a percentage while an operation runs (may be empty).
using PercentFn = std::function<void(int)>;

// Bytes per pixel of the formats whose pixels are whole byte channels that
// can be mixed (ie8g 1; ie24RGB and ieCIELab 3; ieCMYK and ie32RGB 4); 0 for
// the others.
int ByteChannels(IEPixelFormat f);

// ---------------------------------------------------------------------------
// Resample

// Target size of Resample(newWidth, newHeight) for a W x H picture (both
// positive; not both requested sizes negative). Products are 32-bit and
// wrap as they always did; the results are at least 1 and may be huge:
// check them against the limits before allocating.
void ResampleTargetSize(int W, int H, int newWidth, int newHeight, int64_t& outWidth, int64_t& outHeight);

enum class ResampleMethod { Nearest, Kernel, Area };
ResampleMethod MethodOf(ResampleFilter f);

// Support and value of the kernel of a kernel filter (rfFastLinear uses
// rfLinear's kernel).
double KernelSupport(ResampleFilter f);
double KernelValue(ResampleFilter f, double x);

// Integer contributors of every destination sample along one axis, in the
// order the sums take them: entries start[i] .. start[i + 1] - 1.
struct Contributors {
  int count = 0;
  std::vector<int> start;
  std::vector<int> index;   // source sample, mirrored and limited to the axis
  std::vector<int> weight;  // in 1/256, never 0
  std::vector<int> sum;     // sum of the weights; the divisor is 256 when it is 0
  std::vector<int> absSum;  // sum of |weight|, bounds the sums
};
Contributors BuildContributors(int srcSize, int dstSize, ResampleFilter f);

// trunc(sum / divisor) limited to 0..255, where the divisor is a list's
// weight sum (or 256). A multiplication by a reciprocal replaces the
// division where that is provably exact (see MakeDivider).
struct Divider {
  int d = 256;
  float reciprocal = 1.0f / 256;
  bool fast = true;
};
Divider MakeDivider(int weightSum, int absWeightSum);
inline uint8_t DivideClamp(int sum, const Divider& v) {
  const int q = v.fast ? static_cast<int>((static_cast<float>(sum) + 0.5f) * v.reciprocal) : sum / v.d;
  return static_cast<uint8_t>(q < 0 ? 0 : (q > 255 ? 255 : q));
}

// The kernel method on `channels` byte channels (ByteChannels of the
// format), rows first through a byte work buffer. dst is allocated by the
// caller with the target size and the same format. False when the work
// buffer cannot be had (dst then holds nothing useful).
bool KernelResample(const IEBitmap& src, IEBitmap& dst, int channels, ResampleFilter f, const PercentFn& percent);

// One fragment of the area walk along one axis: the piece of source sample
// `index` that lies in destination sample `dest`.
struct Fragment {
  int index = 0;
  int dest = 0;
  double size = 0;      // end minus start position
  double fraction = 0;  // where the sample is taken in the source pixel, 0..1
  bool closes = false;  // the destination sample is complete after it
};
std::vector<Fragment> AreaWalk(int srcSize, int dstSize);

// The area walk (rfBilinear, or rfBicubic when `bicubic`).
void AreaResample(const IEBitmap& src, IEBitmap& dst, int channels, bool bicubic, const PercentFn& percent);

// The linear method of alpha channels under rfBilinear and rfBicubic
// (ie8g to ie8g).
void LinearAlphaResample(const IEBitmap& src, IEBitmap& dst);

// rfNone: whole pixels of any format (bits of ie1g) copied from the
// nearest source pixel.
void NearestResample(const IEBitmap& src, IEBitmap& dst, const PercentFn& percent);

// Every bitmap (result and work buffer) of resampling a picture H rows high
// to W2 x H2 with the filter fits the limits of Geometry.h.
bool ResampleFits(int H, int64_t W2, int64_t H2, ResampleFilter f);

// ---------------------------------------------------------------------------
// Rotate

// The angle reduced to thousandths of a degree and split into quarter turns
// (counter-clockwise, 0..3) and the rest in -45..45 degrees. False for an
// angle that is not a finite number.
bool SplitAngle(double angle, int& quarterTurns, double& rest);

// The sizes of Paeth's three shears for a W0 x H0 picture turned by c
// degrees (c != 0).
struct ShearGeometry {
  int w0 = 0, h0 = 0, w1 = 0, h2 = 0, w3 = 0, v = 0, u = 0;
  double t = 0, s = 0;     // |tan(theta / 2)|, |sin theta|
  bool positive = true;    // theta > 0
};
ShearGeometry ShearSizes(int W0, int H0, double c);

// Round((X + 2048) / 4096) (halves to even), limited to 0..255.
inline uint8_t BlendRound(int X) {
  const int r = (X + 4095 + (((X + 2048) >> 12) & 1)) >> 12;
  return static_cast<uint8_t>(r < 0 ? 0 : (r > 255 ? 255 : r));
}

// dst becomes src turned by quarterTurns x 90 degrees counter-clockwise
// (any format with whole bytes per pixel).
bool QuarterTurn(const IEBitmap& src, IEBitmap& dst, int quarterTurns);

// The three shears of a picture with whole bytes per pixel; blending
// (antialias) only for ByteChannels formats. bg: one pixel of the
// background in the picture's format.
bool ShearRotate(const IEBitmap& src, IEBitmap& dst, const ShearGeometry& g, bool antialias, const uint8_t* bg,
                 const PercentFn& percent);

// "Rotate " and the angle as the standard float-to-text conversion writes
// it: up to 15 significant digits, "1E20" style exponents, the locale's
// decimal separator.
std::string RotateLabel(double angle);

}  // namespace velmora::geometry
