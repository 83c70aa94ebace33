// Plain forms of the geometry algorithms, written straight from their
// rules: per-pixel weights, literal walks, sequential shears with a running
// "previous sample". The fast forms in Geometry.cpp must give the same
// bytes.
#pragma once

#include "imaging/GeometryDetail.h"
#include "imaging/IEBitmap.h"

namespace velmora::test {

// dst must be allocated with the target size and the source's format.
void ReferenceKernelResample(const IEBitmap& src, IEBitmap& dst, int channels, ResampleFilter f);
void ReferenceAreaResample(const IEBitmap& src, IEBitmap& dst, int channels, bool bicubic);
void ReferenceLinearAlpha(const IEBitmap& src, IEBitmap& dst);
void ReferenceNearest(const IEBitmap& src, IEBitmap& dst);

// One counter-clockwise quarter turn per step, pixel by pixel.
IEBitmap ReferenceQuarterTurns(const IEBitmap& src, int turns);
// The three shears on whole-byte pixels (blending every byte when aa).
IEBitmap ReferenceShear(const IEBitmap& src, const geometry::ShearGeometry& g, bool aa, const uint8_t* bg);

}  // namespace velmora::test
