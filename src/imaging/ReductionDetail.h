// The pieces of the colour reductions that tests reach on their own: the
// ordered dither and the thresholds with their plain per-pixel forms, the
// variance-splitting quantizer and the NeuQuant network.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "imaging/FormatConvert.h"
#include "imaging/IEBitmap.h"

namespace velmora::reduction {

// The 8 x 8 Bayer matrix; the first index is the pixel's column (x mod 8),
// the second its row (y mod 8).
inline constexpr uint8_t kBayer[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},   {48, 16, 56, 24, 50, 18, 58, 26}, {12, 44, 4, 36, 14, 46, 6, 38},
    {60, 28, 52, 20, 62, 30, 54, 22}, {3, 35, 11, 43, 1, 33, 9, 41},    {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37},   {63, 31, 55, 23, 61, 29, 53, 21},
};

// The ordered-dither rule for one pixel, as plainly as it can be said:
// f = grey >> 2, or 64 when all three channels are above 250.
inline bool OrderedWhite(const IETriple& p, int x, int y) {
  const int f = (p.r > 250 && p.g > 250 && p.b > 250) ? 64 : GreyLevel(p.r, p.g, p.b) >> 2;
  return kBayer[x & 7][y & 7] < f;
}

using RowProgressFn = std::function<void(int lastRow)>;

// dst becomes the ie1g picture of src (ie24RGB) under the ordered dither.
bool OrderedDither(const IEBitmap& src, IEBitmap& dst, const RowProgressFn& progress = {});
// dst becomes the ie1g picture of src: white where the grey level is at
// least `threshold`.
bool Threshold(const IEBitmap& src, IEBitmap& dst, int threshold, const RowProgressFn& progress = {});
// The grey level of the mean colour, the means taken row by row (each row's
// sum div width, their sum div height).
int MeanGreyThreshold(const IEBitmap& src);
// Kapur's maximum-entropy threshold of a grey histogram: the first level of
// the upper class (pixels at or above it are white).
int MaxEntropyThreshold(const std::array<uint64_t, 256>& histogram);

// --- Variance-splitting quantizer -------------------------------------------

constexpr int kCells = 32 * 32 * 32;
// The cell of a colour: its top five bits of red, green and blue.
inline int CellOf(int r, int g, int b) { return ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3); }

struct CellHistogram {
  std::vector<uint64_t> cells = std::vector<uint64_t>(kCells, 0);
  uint64_t total = 0;
};
CellHistogram CountCells(const IEBitmap& src);

struct Quantization {
  std::vector<IETriple> palette;   // one entry per box
  std::vector<uint16_t> cellToBox; // kCells entries
};
// At most n boxes (n >= 1); every palette value is a multiple of 8.
Quantization VarianceSplit(const CellHistogram& histogram, int n);

// --- NeuQuant (Dekker 1994) ---------------------------------------------------

class NeuQuant {
 public:
  // netsize neurons (128..1024 in practice); samplefac 1..30 (1 = learn
  // from every pixel).
  NeuQuant(int netsize, int samplefac);
  // Learns from the pixels (b, g, r triples) of an ie24RGB picture.
  void Learn(const IEBitmap& src);
  // After Learn: the palette and the index of the nearest entry.
  const std::vector<IETriple>& Palette() const { return palette_; }
  int Map(int b, int g, int r) const;

 private:
  int Contest(int b, int g, int r);
  void AlterSingle(int alpha, int i, int b, int g, int r);
  void AlterNeighbours(int rad, int i, int b, int g, int r);
  void Finish();

  int netsize_, samplefac_;
  std::vector<std::array<int, 4>> network_;  // b, g, r, original index
  std::vector<int> bias_, freq_, radpower_;
  std::array<int, 256> netindex_{};
  std::vector<IETriple> palette_;
};

}  // namespace velmora::reduction
