#include "geometry/Reference.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

namespace velmora::test {

using geometry::KernelSupport;
using geometry::KernelValue;

namespace {

int Limit(int v, int lo, int hi) { return std::min(std::max(v, lo), hi); }

// The contributors of destination sample i along an axis of n source
// samples resampled to n2, recomputed for every pixel.
std::vector<std::pair<int, int>> Weights(int n, int n2, int i, ResampleFilter f) {
  std::vector<std::pair<int, int>> out;
  if (n == 1) return {{0, 256}};  // a single source sample is copied
  const double sc = n2 == 1 ? static_cast<double>(n2) / n : static_cast<double>(n2 - 1) / (n - 1);
  const double s = KernelSupport(f);
  const double t = i / sc;
  const double reach = sc >= 1 ? s : s / sc;
  for (long j = static_cast<long>(std::floor(t - reach)); j <= static_cast<long>(std::ceil(t + reach)); ++j) {
    const double x = static_cast<double>(j);
    const int w = sc >= 1 ? static_cast<int>(std::nearbyint(KernelValue(f, t - x) * 256))
                          : static_cast<int>(std::nearbyint(KernelValue(f, (t - x) * sc) * 256 * sc));
    if (w == 0) continue;
    long k = j < 0 ? -j : (j >= n ? 2L * n - 1 - j : j);
    out.push_back({static_cast<int>(std::clamp(k, 0L, static_cast<long>(n) - 1)), w});
  }
  return out;
}

int WeightedValue(const std::vector<std::pair<int, int>>& ws, const std::vector<int>& samples) {
  long sum = 0, total = 0;
  for (auto [j, w] : ws) {
    sum += static_cast<long>(w) * samples[j];
    total += w;
  }
  return Limit(static_cast<int>(sum / (total == 0 ? 256 : total)), 0, 255);
}

double KeysCubic(double t) {
  t = std::fabs(t);
  if (t < 1) return t * t * t - 2 * (t * t) + 1;
  if (t < 2) return -(t * t * t) + 5 * (t * t) - 8 * t + 4;
  return 0;
}

double CubicAt(double phi, double pm, double p0, double p1, double p2) {
  const double v = pm * KeysCubic(phi + 1) + p0 * KeysCubic(phi) + p1 * KeysCubic(phi - 1) + p2 * KeysCubic(phi - 2);
  return std::clamp(v, 0.0, 255.0);
}

int Blend(int prev, int cur, int C) {
  const double v = std::nearbyint((prev * C + cur * (4096 - C) + 2048) / 4096.0);
  return Limit(static_cast<int>(v), 0, 255);
}

}  // namespace

void ReferenceKernelResample(const IEBitmap& src, IEBitmap& dst, int ch, ResampleFilter f) {
  const int W = src.Width(), H = src.Height(), W2 = dst.Width(), H2 = dst.Height();
  // First pass, row by row, into a byte buffer of W2 x H.
  std::vector<std::vector<uint8_t>> work(H, std::vector<uint8_t>(static_cast<std::size_t>(W2) * ch));
  for (int y = 0; y < H; ++y)
    for (int c = 0; c < ch; ++c) {
      std::vector<int> row(W);
      for (int x = 0; x < W; ++x) row[x] = src.ScanLine(y)[x * ch + c];
      for (int i = 0; i < W2; ++i) work[y][i * ch + c] = static_cast<uint8_t>(WeightedValue(Weights(W, W2, i, f), row));
    }
  // Second pass, column by column.
  for (int x = 0; x < W2; ++x)
    for (int c = 0; c < ch; ++c) {
      std::vector<int> column(H);
      for (int y = 0; y < H; ++y) column[y] = work[y][x * ch + c];
      for (int i = 0; i < H2; ++i)
        dst.ScanLine(i)[x * ch + c] = static_cast<uint8_t>(WeightedValue(Weights(H, H2, i, f), column));
    }
}

void ReferenceAreaResample(const IEBitmap& src, IEBitmap& dst, int ch, bool bicubic) {
  const int W = src.Width(), H = src.Height(), W2 = dst.Width(), H2 = dst.Height();
  const double g = static_cast<double>(W) / W2, h = static_cast<double>(H) / H2;
  const int kind = g < 1 && h < 1 ? 0 : g < 1 ? 1 : h < 1 ? 2 : 3;
  auto P = [&](int i, int j, int c) -> double {
    return src.ScanLine(Limit(j, 0, H - 1))[Limit(i, 0, W - 1) * ch + c];
  };
  auto sample = [&](int i, int j, double fx, double fy, int c) -> double {
    if (!bicubic) {
      switch (kind) {
        case 0:
          return (1 - fy) * ((1 - fx) * P(i, j, c) + fx * P(i + 1, j, c)) +
                 fy * ((1 - fx) * P(i, j + 1, c) + fx * P(i + 1, j + 1, c));
        case 1: return (1 - fx) * P(i, j, c) + fx * P(i + 1, j, c);
        case 2: return (1 - fy) * P(i, j, c) + fy * P(i, j + 1, c);
        default: return P(i, j, c);
      }
    }
    auto across = [&](int row) { return CubicAt(fx, P(i - 1, row, c), P(i, row, c), P(i + 1, row, c), P(i + 2, row, c)); };
    switch (kind) {
      case 0:
        return CubicAt(fy, std::trunc(across(j - 1)), std::trunc(across(j)), std::trunc(across(j + 1)),
                       std::trunc(across(j + 2)));
      case 1: return across(j);
      case 2: return CubicAt(fy, P(i, j - 1, c), P(i, j, c), P(i, j + 1, c), P(i, j + 2, c));
      default: return P(i, j, c);
    }
  };

  std::vector<double> acc(static_cast<std::size_t>(W2) * ch, 0.0);
  double rowPos = 0, rowBound = h;
  int row = 0, rowsDone = 0;
  while (rowsDone < H2) {
    double height, fy;
    const bool closesRow = (row + 1) + 0.0001 >= rowBound;
    if (closesRow) {
      height = rowBound - rowPos;
      fy = rowBound - row;
    } else {
      height = (row + 1) - rowPos;
      fy = 1;
    }
    // The horizontal walk, from the start for every vertical fragment.
    double pos = 0, bound = g;
    int col = 0, done = 0;
    while (done < W2) {
      double width, fx;
      const int d = done;
      const int i = col;
      if ((col + 1) + 0.0001 >= bound) {
        width = bound - pos;
        fx = bound - col;
        pos = bound;
        bound += g;
        ++done;
      } else {
        width = (col + 1) - pos;
        fx = 1;
        pos = col + 1;
        ++col;
      }
      for (int c = 0; c < ch; ++c) acc[d * ch + c] += width * height * sample(i, row, fx, fy, c);
    }
    if (closesRow) {
      for (int x = 0; x < W2 * ch; ++x) {
        dst.ScanLine(rowsDone)[x] = static_cast<uint8_t>(std::clamp(std::trunc(acc[x] * (1 / (g * h))), 0.0, 255.0));
        acc[x] = 0;
      }
      rowPos = rowBound;
      rowBound += h;
      ++rowsDone;
    } else {
      rowPos = row + 1;
      ++row;
    }
  }
}

void ReferenceLinearAlpha(const IEBitmap& src, IEBitmap& dst) {
  const int W = src.Width(), H = src.Height(), W2 = dst.Width(), H2 = dst.Height();
  if (W == W2 && H == H2) {
    for (int y = 0; y < H; ++y) std::memcpy(dst.ScanLine(y), src.ScanLine(y), W);
    return;
  }
  // One axis: n samples to n2.
  auto axis = [](const std::vector<int>& a, int n2, bool rows) {
    const int n = static_cast<int>(a.size());
    const double e = static_cast<double>(n2) / n;
    std::vector<int> out(n2);
    for (int i = 0; i < n2; ++i) {
      if (n2 > n) {
        const int k = static_cast<int>(std::trunc(i / e));
        const int F = static_cast<int>(std::trunc((i / e - k) * 131072));
        const int next = k + 1 < n ? a[k + 1] : a[n - 1];
        out[i] = a[k] + static_cast<int>(std::floor((next - a[k]) * static_cast<double>(F) / 131072));
      } else {
        const int first = static_cast<int>(std::trunc(i / e));
        const int last = std::min(n - 1, static_cast<int>(std::trunc(std::min(i + 1, n2 - 1) / e + (rows ? 1e-10 : 0))));
        int sum = 0;
        for (int k = first; k <= last; ++k) sum += a[k];
        out[i] = sum / (last - first + 1);
      }
    }
    return out;
  };
  std::vector<std::vector<int>> mid(H);
  for (int y = 0; y < H; ++y) {
    std::vector<int> row(src.ScanLine(y), src.ScanLine(y) + W);
    mid[y] = axis(row, W2, true);
  }
  for (int x = 0; x < W2; ++x) {
    std::vector<int> column(H);
    for (int y = 0; y < H; ++y) column[y] = mid[y][x];
    const std::vector<int> out = axis(column, H2, false);
    for (int y = 0; y < H2; ++y) dst.ScanLine(y)[x] = static_cast<uint8_t>(out[y]);
  }
}

void ReferenceNearest(const IEBitmap& src, IEBitmap& dst) {
  const double r = static_cast<double>(src.Width()) / dst.Width(), q = static_cast<double>(src.Height()) / dst.Height();
  for (int y = 0; y < dst.Height(); ++y)
    for (int x = 0; x < dst.Width(); ++x) {
      const int sx = static_cast<int>(std::trunc(x * r)), sy = static_cast<int>(std::trunc(y * q));
      if (src.PixelFormat() == IEPixelFormat::ie1g) {
        dst.SetBit(x, y, src.Bit(sx, sy));
      } else {
        const int b = src.BitCount() / 8;
        std::memcpy(dst.ScanLine(y) + x * b, src.ScanLine(sy) + sx * b, b);
      }
    }
}

IEBitmap ReferenceQuarterTurns(const IEBitmap& src, int turns) {
  IEBitmap cur(src.Width(), src.Height(), src.PixelFormat());
  cur.AssignImage(src);
  const int b = src.BitCount() / 8;
  for (int t = 0; t < turns; ++t) {
    const int W = cur.Width(), H = cur.Height();
    IEBitmap next(H, W, cur.PixelFormat());
    // Source pixel (x, y) goes to (y, W - 1 - x).
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) std::memcpy(next.ScanLine(W - 1 - x) + y * b, cur.ScanLine(y) + x * b, b);
    cur = std::move(next);
  }
  return cur;
}

IEBitmap ReferenceShear(const IEBitmap& src, const geometry::ShearGeometry& g, bool aa, const uint8_t* bg) {
  const int B = src.BitCount() / 8;
  const int W0 = g.w0, H0 = g.h0, W1 = g.w1, H2 = g.h2, W3 = g.w3;
  // Pixel buffers as vectors of B-byte pixels, filled with the background.
  auto filled = [&](int w, int h) {
    std::vector<std::vector<uint8_t>> buf(h, std::vector<uint8_t>(static_cast<std::size_t>(w) * B));
    for (auto& r : buf)
      for (int x = 0; x < w; ++x) std::memcpy(r.data() + x * B, bg, B);
    return buf;
  };
  // Moves `n` samples (read through get) to places shift.. of a line of
  // `m` places (written through put), as the shears do.
  auto moveLine = [&](int n, int m, int shift, int C, auto get, auto put) {
    std::vector<uint8_t> prev(bg, bg + B);
    for (int k = 0; k < n; ++k) {
      const int p = k + shift;
      if (p < 0 || p >= m) continue;
      const uint8_t* cur = get(k);
      std::vector<uint8_t> out(B);
      for (int b = 0; b < B; ++b) out[b] = aa ? static_cast<uint8_t>(Blend(prev[b], cur[b], C)) : cur[b];
      put(p, out.data());
      prev.assign(cur, cur + B);
    }
    const int p = n + shift;
    if (aa && C > 0 && p >= 0 && p < m) {
      std::vector<uint8_t> out(B);
      for (int b = 0; b < B; ++b) out[b] = static_cast<uint8_t>(Blend(prev[b], bg[b], C));
      put(p, out.data());
    }
  };
  auto p1 = filled(W1, H0);
  for (int y = 0; y < H0; ++y) {
    const double J = g.positive ? y * g.t : (H0 - y) * g.t;
    const int n = static_cast<int>(std::nearbyint(J));
    const int C = static_cast<int>(std::trunc((J - n) * 4096));
    moveLine(
        W0, W1, n, C, [&](int k) { return src.ScanLine(y) + k * B; },
        [&](int p, const uint8_t* v) { std::memcpy(p1[y].data() + p * B, v, B); });
  }
  auto p2 = filled(W1, H2);
  for (int x = 0; x < W1; ++x) {
    const double K = g.positive ? (W1 - x) * g.s : x * g.s;
    const int r = static_cast<int>(std::nearbyint(K));
    const int C = static_cast<int>(std::nearbyint((K - r) * 4096));
    moveLine(
        H0, H2, r - g.v, C, [&](int k) { return p1[k].data() + x * B; },
        [&](int p, const uint8_t* v) { std::memcpy(p2[p].data() + x * B, v, B); });
  }
  IEBitmap out(W3, H2, src.PixelFormat());
  auto p3 = filled(W3, H2);
  for (int y = 0; y < H2; ++y) {
    const double L = g.positive ? y * g.t : (H2 - y) * g.t;
    const int r = static_cast<int>(std::nearbyint(L));
    const int C = static_cast<int>(std::nearbyint((L - r) * 4096));
    moveLine(
        W1, W3, r - g.u, C, [&](int k) { return p2[y].data() + k * B; },
        [&](int p, const uint8_t* v) { std::memcpy(p3[y].data() + p * B, v, B); });
    std::memcpy(out.ScanLine(y), p3[y].data(), static_cast<std::size_t>(W3) * B);
  }
  return out;
}

}  // namespace velmora::test
