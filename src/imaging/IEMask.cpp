#include "imaging/IEMask.h"

#include <algorithm>
#include <cstring>

namespace velmora {

void IEMask::Allocate(int width, int height, int depth) {
  width_ = std::max(width, 0);
  height_ = std::max(height, 0);
  depth_ = depth == 8 ? 8 : 1;
  rowLen_ = ((static_cast<std::size_t>(width_) * depth_ + 31) / 32) * 4;
  data_.assign(rowLen_ * height_, 0);
  X1 = INT_MAX;
  Y1 = X2 = Y2 = 0;
  full_ = false;
}

int IEMask::GetPixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  const uint8_t* row = ScanLine(y);
  return depth_ == 8 ? row[x] : (row[x >> 3] >> (7 - (x & 7))) & 1;
}

void IEMask::SetPixel(int x, int y, int v) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  uint8_t* row = ScanLine(y);
  if (depth_ == 8) {
    row[x] = static_cast<uint8_t>(std::clamp(v, 0, 255));
  } else {
    const uint8_t m = static_cast<uint8_t>(0x80 >> (x & 7));
    row[x >> 3] = v ? (row[x >> 3] | m) : (row[x >> 3] & ~m);
  }
}

void IEMask::SelectRect(int x1, int y1, int x2, int y2) {
  x1 = std::max(x1, 0);
  y1 = std::max(y1, 0);
  x2 = std::min(x2, width_ - 1);
  y2 = std::min(y2, height_ - 1);
  for (int y = y1; y <= y2; ++y) {
    if (depth_ == 8) {
      if (x2 >= x1) std::memset(ScanLine(y) + x1, 255, x2 - x1 + 1);
    } else {
      for (int x = x1; x <= x2; ++x) SetPixel(x, y, 1);
    }
  }
  SyncBox();
}

void IEMask::Clear() {
  std::fill(data_.begin(), data_.end(), 0);
  X1 = INT_MAX;
  Y1 = X2 = Y2 = 0;
  full_ = false;
}

void IEMask::SyncBox() {
  int bx1 = INT_MAX, by1 = INT_MAX, bx2 = -1, by2 = -1;
  bool full = width_ > 0 && height_ > 0;
  const int fullValue = depth_ == 8 ? 255 : 1;
  for (int y = 0; y < height_; ++y) {
    const uint8_t* row = ScanLine(y);
    for (int x = 0; x < width_; ++x) {
      const int v = depth_ == 8 ? row[x] : (row[x >> 3] >> (7 - (x & 7))) & 1;
      if (v != fullValue) full = false;
      if (v) {
        bx1 = std::min(bx1, x);
        bx2 = std::max(bx2, x);
        by1 = std::min(by1, y);
        by2 = y;
      }
    }
  }
  full_ = full;
  if (bx2 < 0) {
    X1 = INT_MAX;
    Y1 = X2 = Y2 = 0;
  } else {
    X1 = bx1, Y1 = by1, X2 = bx2, Y2 = by2;
  }
}

void IEMask::Invert() {
  for (int y = 0; y < height_; ++y)
    for (int x = 0; x < width_; ++x) SetPixel(x, y, GetPixel(x, y) ? 0 : (depth_ == 8 ? 255 : 1));
  SyncBox();
}

}  // namespace velmora
