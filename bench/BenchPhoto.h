// The photo every benchmark works on, and the copy that puts a picture back
// between iterations.
//
// The photo is the picture named by VELMORA_BENCH_PHOTO (any file the
// reader takes, scaled to 6000 x 4000), or else a synthetic landscape:
// smooth gradients and soft texture, enlarged and given fine detail and
// grain, so that neighbouring pixels differ as they do in a real photo.
// It is made on first use and kept; so are its smaller versions.
#pragma once

#include <benchmark/benchmark.h>

#include <functional>
#include <string>

#include "imaging/IEBitmap.h"
#include "imaging/IEMask.h"
#include "imaging/ImageProc.h"

namespace velmora::bench {

inline constexpr int kPhotoWidth = 6000, kPhotoHeight = 4000;

// The 24-megapixel photo (6000 x 4000, ie24RGB).
const IEBitmap& Photo();

// The photo reduced to the 220-pixel preview of the Edit tab (220 x 147).
const IEBitmap& Preview();

// The photo reduced to the 250-pixel thumbnail of the Auto Enhance dialog
// (250 x 167).
const IEBitmap& Thumbnail();

// The photo scaled (bilinear) to w x h; a new picture at every call.
IEBitmap PhotoAt(int w, int h);

// A new folder /tmp/velmora-bench-<name>-XXXXXX for the files a benchmark
// writes; the run stops when it cannot be made.
std::string MakeScratchFolder(const std::string& name);

// Makes dst an exact copy of src (pixels, size, format, palette, alpha).
// When dst already has src's size and format, neither has an alpha channel
// and there is no palette, only the rows are copied, into the same buffer.
void Restore(const IEBitmap& src, IEBitmap& dst);

// Times `op` on a working copy of `source`, put back before every iteration
// while the clock is stopped; the processor works through `selection` when
// given, and keeps undo copies only when asked. Items are source pixels.
void TimeOperation(benchmark::State& state, const IEBitmap& source, const std::function<void(ImageProc&)>& op,
                   const IEMask* selection = nullptr, bool autoUndo = false);

}  // namespace velmora::bench
