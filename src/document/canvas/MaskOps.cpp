#include "document/canvas/MaskOps.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "imaging/Parallel.h"

namespace velmora {

namespace {

// Sets bits x1..x2 (inclusive) of a 1-bit row.
void SetBits(uint8_t* row, int x1, int x2) {
  for (int x = x1; x <= x2;) {
    if ((x & 7) == 0 && x + 7 <= x2) {
      const int n = (x2 - x + 1) / 8;
      std::memset(row + (x >> 3), 0xFF, n);
      x += 8 * n;
    } else {
      row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
      ++x;
    }
  }
}

}  // namespace

void MaskSelectOnly(IEMask& mask, int x1, int y1, int x2, int y2) {
  mask.Clear();
  x1 = std::max(x1, 0), y1 = std::max(y1, 0);
  x2 = std::min(x2, mask.Width() - 1), y2 = std::min(y2, mask.Height() - 1);
  if (x1 > x2 || y1 > y2) return;
  for (int y = y1; y <= y2; ++y) {
    if (mask.Depth() == 8)
      std::memset(mask.ScanLine(y) + x1, 255, static_cast<std::size_t>(x2 - x1 + 1));
    else
      SetBits(mask.ScanLine(y), x1, x2);
  }
  if (x1 == 0 && y1 == 0 && x2 == mask.Width() - 1 && y2 == mask.Height() - 1) {
    mask.SyncBox();  // the full flag is only set there
  } else {
    mask.X1 = x1, mask.Y1 = y1, mask.X2 = x2, mask.Y2 = y2;
  }
}

void MaskInvert(IEMask& mask) {
  const int w = mask.Width();
  for (int y = 0; y < mask.Height(); ++y) {
    uint8_t* row = mask.ScanLine(y);
    if (mask.Depth() == 8) {
      for (int x = 0; x < w; ++x) row[x] = row[x] ? 0 : 255;
    } else {
      const int bytes = (w + 7) / 8;
      for (int i = 0; i < bytes; ++i) row[i] = static_cast<uint8_t>(~row[i]);
      if (w & 7) row[bytes - 1] &= static_cast<uint8_t>(0xFF << (8 - (w & 7)));  // padding stays clear
    }
  }
  mask.SyncBox();
}

std::vector<int32_t> FeatherKernel(double radius) {
  constexpr int kReach = 100;
  double g[2 * kReach + 1];
  double sum = 0;
  for (int d = -kReach; d <= kReach; ++d) {
    const double dd = static_cast<double>(d) * d;
    g[d + kReach] = std::exp(-dd / (2 * radius * radius));
    sum += g[d + kReach];
  }
  std::vector<int32_t> w(2 * kReach + 1);
  int64_t total = 0;
  for (int i = 0; i <= 2 * kReach; ++i) {
    w[i] = static_cast<int32_t>(std::nearbyint(g[i] * 65536 / sum));
    total += w[i];
  }
  w[kReach] += static_cast<int32_t>(65536 - total);
  int k = kReach;
  while (k > 0 && w[kReach - k] == 0 && w[kReach + k] == 0) --k;
  return std::vector<int32_t>(w.begin() + (kReach - k), w.begin() + (kReach + k + 1));
}

namespace {

// The kernel as nested boxes: weight(d) = sum of coef over the boxes with
// half-width m >= |d|, coef(m) = weight(m) - weight(m + 1).
struct Box {
  int m;
  int32_t coef;
};

std::vector<Box> KernelBoxes(const std::vector<int32_t>& kernel) {
  const int K = static_cast<int>(kernel.size() / 2);
  std::vector<Box> boxes;
  for (int m = 0; m <= K; ++m) {
    const int32_t next = m < K ? kernel[K + m + 1] : 0;
    if (kernel[K + m] != next) boxes.push_back({m, kernel[K + m] - next});
  }
  return boxes;
}

// Sums never exceed 65536 x 255 plus the small negative part of a centre
// weight below its neighbours, so 32-bit integers hold every partial sum.
constexpr int kColumnsPerChunk = 64;

}  // namespace

void FeatherMask(IEMask& mask, double radius) {
  if (mask.Depth() != 8 || mask.IsEmpty() || !(radius > 0)) return;
  const std::vector<int32_t> kernel = FeatherKernel(radius);
  const std::vector<Box> boxes = KernelBoxes(kernel);
  const int K = static_cast<int>(kernel.size() / 2);

  const double grow = std::max(std::trunc(5 * radius), 1.0);
  const int g = static_cast<int>(std::min(grow, static_cast<double>(std::max(mask.Width(), mask.Height()))));
  const int x1 = std::max(mask.X1 - g, 0), x2 = std::min(mask.X2 + g, mask.Width() - 1);
  const int y1 = std::max(mask.Y1 - g, 0), y2 = std::min(mask.Y2 + g, mask.Height() - 1);
  const int n = x2 - x1 + 1, rows = y2 - y1 + 1;

  // Rows: each row of the box alone, in place.
  ParallelRows(y1, y2 + 1, [&](int begin, int end) {
    std::vector<int32_t> P(n + 2 * K + 1);
    std::vector<int32_t> acc(n);
    for (int y = begin; y < end; ++y) {
      uint8_t* row = mask.ScanLine(y) + x1;
      P[0] = 0;
      for (int i = 0; i < n + 2 * K; ++i) P[i + 1] = P[i] + row[std::clamp(i - K, 0, n - 1)];
      std::fill(acc.begin(), acc.end(), 0);
      for (const Box& b : boxes) {
        const int32_t* hi = P.data() + K + b.m + 1;
        const int32_t* lo = P.data() + K - b.m;
        for (int t = 0; t < n; ++t) acc[t] += b.coef * (hi[t] - lo[t]);
      }
      for (int t = 0; t < n; ++t) row[t] = static_cast<uint8_t>((acc[t] + 32768) >> 16);
    }
  });

  // Columns: a chunk of neighbouring columns at a time, so that the inner
  // loops run along rows of the chunk's buffers.
  const int chunks = (n + kColumnsPerChunk - 1) / kColumnsPerChunk;
  ParallelRows(
      0, chunks,
      [&](int begin, int end) {
        const int len = rows + 2 * K;
        std::vector<int32_t> P(static_cast<std::size_t>(len + 1) * kColumnsPerChunk);
        std::vector<int32_t> acc(kColumnsPerChunk);
        for (int c = begin; c < end; ++c) {
          const int cx = x1 + c * kColumnsPerChunk;
          const int cw = std::min(kColumnsPerChunk, x2 + 1 - cx);
          std::fill(P.begin(), P.begin() + cw, 0);
          for (int i = 0; i < len; ++i) {
            const uint8_t* src = mask.ScanLine(y1 + std::clamp(i - K, 0, rows - 1)) + cx;
            const int32_t* prev = P.data() + static_cast<std::size_t>(i) * cw;
            int32_t* next = P.data() + static_cast<std::size_t>(i + 1) * cw;
            for (int j = 0; j < cw; ++j) next[j] = prev[j] + src[j];
          }
          for (int t = 0; t < rows; ++t) {
            std::fill(acc.begin(), acc.begin() + cw, 0);
            for (const Box& b : boxes) {
              const int32_t* hi = P.data() + static_cast<std::size_t>(t + K + b.m + 1) * cw;
              const int32_t* lo = P.data() + static_cast<std::size_t>(t + K - b.m) * cw;
              for (int j = 0; j < cw; ++j) acc[j] += b.coef * (hi[j] - lo[j]);
            }
            uint8_t* dst = mask.ScanLine(y1 + t) + cx;
            for (int j = 0; j < cw; ++j) dst[j] = static_cast<uint8_t>((acc[j] + 32768) >> 16);
          }
        }
      },
      {}, 1);
  mask.SyncBox();
}

}  // namespace velmora
