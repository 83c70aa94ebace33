// The selection mask of a canvas: 1 bit (0/1) or 8 bits (0..255 coverage)
// per pixel, with the inclusive bounding box of its non-zero pixels.
#pragma once

#include <climits>
#include <cstdint>
#include <vector>

namespace velmora {

class IEMask {
 public:
  IEMask() = default;
  IEMask(int width, int height, int depth) { Allocate(width, height, depth); }

  // Clears the mask to nothing selected. Depth must be 1 or 8.
  void Allocate(int width, int height, int depth);

  int Width() const { return width_; }
  int Height() const { return height_; }
  int Depth() const { return depth_; }
  std::size_t RowLen() const { return rowLen_; }

  // Rows are stored bottom-up; row 0 is the top row.
  uint8_t* ScanLine(int row) { return data_.data() + rowLen_ * static_cast<std::size_t>(height_ - 1 - row); }
  const uint8_t* ScanLine(int row) const {
    return data_.data() + rowLen_ * static_cast<std::size_t>(height_ - 1 - row);
  }

  // 0/1 for a 1-bit mask, 0..255 for an 8-bit one. Outside: 0.
  int GetPixel(int x, int y) const;
  // Values are stored as given (a 1-bit mask takes v != 0). Does not touch
  // the bounding box: call SyncBox when done.
  void SetPixel(int x, int y, int v);
  // Sets an inclusive rectangle (clipped) to "fully selected": 1 or 255.
  void SelectRect(int x1, int y1, int x2, int y2);

  // Bounding box, inclusive. Empty: X1 == INT_MAX.
  int X1 = INT_MAX, Y1 = 0, X2 = 0, Y2 = 0;
  bool IsEmpty() const { return X1 == INT_MAX; }
  // True when every pixel is fully selected.
  bool Full() const { return full_; }

  void Clear();         // nothing selected
  void SyncBox();       // recompute the bounding box and the full flag
  void Invert();        // selected <-> unselected (full value), box recomputed

 private:
  int width_ = 0, height_ = 0, depth_ = 1;
  std::size_t rowLen_ = 0;
  std::vector<uint8_t> data_;
  bool full_ = false;
};

}  // namespace velmora
