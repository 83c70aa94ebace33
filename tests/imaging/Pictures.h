// Small pictures and comparisons shared by the imaging tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "imaging/IEBitmap.h"
#include "imaging/IEMask.h"
#include "imaging/ImageProc.h"

namespace velmora::test {

using Op = std::function<void(ImageProc&)>;

// Runs `op` on `pic` through a processor of its own, limited by `selection`.
inline void Apply(IEBitmap& pic, const Op& op, const IEMask* selection = nullptr) {
  BitmapTarget target(pic, selection);
  ImageProc proc(target);
  op(proc);
}

// An ie24RGB picture whose every pixel is the same triple.
inline IEBitmap Solid(int w, int h, IETriple t) {
  IEBitmap b(w, h, IEPixelFormat::ie24RGB);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.Pixel24(x, y) = t;
  return b;
}

// One row of an ie24RGB picture given as (r, g, b) triples, for tables of
// single pixels.
inline IEBitmap Row(const std::vector<IETriple>& pixels, int rows = 2) {
  IEBitmap b(static_cast<int>(pixels.size()), rows, IEPixelFormat::ie24RGB);
  for (int y = 0; y < rows; ++y)
    for (int x = 0; x < b.Width(); ++x) b.Pixel24(x, y) = pixels[x];
  return b;
}

inline IETriple RGB(int r, int g, int b) {
  return IETriple{static_cast<uint8_t>(b), static_cast<uint8_t>(g), static_cast<uint8_t>(r)};
}

// A random picture in any byte-based format (every byte of every row,
// padding included, so that row padding is compared too).
inline IEBitmap Random(int w, int h, IEPixelFormat f, uint32_t seed = 1) {
  IEBitmap b(w, h, f);
  std::mt19937 rng(seed);
  for (int y = 0; y < h; ++y) {
    uint8_t* p = b.ScanLine(y);
    for (std::size_t i = 0; i < b.RowLen(); ++i) p[i] = static_cast<uint8_t>(rng());
  }
  return b;
}

// Compares the pixels of two bitmaps (the meaningful bytes of every row)
// and names the first difference.
inline testing::AssertionResult SamePixels(const IEBitmap& a, const IEBitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height() || a.PixelFormat() != b.PixelFormat())
    return testing::AssertionFailure() << "sizes or formats differ: " << a.Width() << "x" << a.Height() << " "
                                       << PixelFormatName(a.PixelFormat()) << " vs " << b.Width() << "x"
                                       << b.Height() << " " << PixelFormatName(b.PixelFormat());
  const std::size_t bits = static_cast<std::size_t>(a.Width()) * a.BitCount();
  const std::size_t full = bits / 8, rest = bits % 8;
  for (int y = 0; y < a.Height(); ++y) {
    const uint8_t* p = a.ScanLine(y);
    const uint8_t* q = b.ScanLine(y);
    for (std::size_t i = 0; i < full; ++i)
      if (p[i] != q[i])
        return testing::AssertionFailure() << "row " << y << " byte " << i << ": " << int(p[i]) << " vs "
                                           << int(q[i]);
    const uint8_t m = static_cast<uint8_t>(0xFF00 >> rest);
    if (rest && (p[full] & m) != (q[full] & m))
      return testing::AssertionFailure() << "row " << y << " last bits differ";
  }
  return testing::AssertionSuccess();
}

// A processor target with several layers, so that the layer an undo copy
// returns to can be checked.
class LayersTarget : public ProcTarget {
 public:
  explicit LayersTarget(int layers) : layers_(layers) {}
  int LayerCount() const override { return count_ >= 0 ? count_ : static_cast<int>(layers_.size()); }
  int CurrentLayerIndex() const override { return current; }
  IEBitmap& LayerBitmap(int i) override { return layers_.at(i); }
  const IEMask* Selection() const override { return selection; }
  void Repaint() override { events.push_back("repaint"); }
  void ImageChanged() override { events.push_back("changed"); }
  void Progress(int p) override { progress.push_back(p); }
  void FinishWork() override { events.push_back("finish"); }
  void UndoSaved() override { events.push_back("undo"); }
  // Pretends that layers were removed (the bitmaps stay reachable).
  void SetLayerCount(int n) { count_ = n; }

  int current = 0;
  const IEMask* selection = nullptr;
  std::vector<std::string> events;
  std::vector<int> progress;

 private:
  std::vector<IEBitmap> layers_;
  int count_ = -1;
};

}  // namespace velmora::test
