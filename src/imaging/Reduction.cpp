// Colour reduction: a palette of at most n colours, black and white by a
// threshold or by ordered dithering, and back from black and white to RGB.
//
// All four operations change the layer's whole picture (its format, or its
// whole set of colours), so a selection does not limit them.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "imaging/FormatConvert.h"
#include "imaging/ImageProc.h"
#include "imaging/Parallel.h"
#include "imaging/ReductionDetail.h"

namespace velmora {

using F = IEPixelFormat;

namespace reduction {

namespace {


// Packs one row of bits (1 = white), leftmost pixel in bit 7, and clears
// the row's padding so that the whole row is defined.
template <class White>
void PackRow(const uint8_t* p, uint8_t* out, int width, std::size_t rowLen, White&& white) {
  int x = 0;
  for (; x + 8 <= width; x += 8, p += 24) {
    unsigned byte = 0;
    for (int k = 0; k < 8; ++k) byte |= static_cast<unsigned>(white(p + 3 * k, k)) << (7 - k);
    out[x >> 3] = static_cast<uint8_t>(byte);
  }
  std::size_t used = static_cast<std::size_t>(x >> 3);
  if (x < width) {
    unsigned byte = 0;
    for (int k = 0; x + k < width; ++k) byte |= static_cast<unsigned>(white(p + 3 * k, k)) << (7 - k);
    out[used++] = static_cast<uint8_t>(byte);
  }
  if (used < rowLen) std::memset(out + used, 0, rowLen - used);
}

}  // namespace

bool OrderedDither(const IEBitmap& src, IEBitmap& dst, const RowProgressFn& progress) {
  const int width = src.Width(), height = src.Height();
  if (!dst.Allocate(width, height, F::ie1g) || dst.IsEmpty()) return false;
  ParallelRows(
      0, height,
      [&](int begin, int end) {
        for (int y = begin; y < end; ++y) {
          // (grey >> 2) > M exactly when the weighted sum reaches
          // 400 x (M + 1); pixels above 250 in every channel are white.
          int reach[8];
          for (int k = 0; k < 8; ++k) reach[k] = 400 * (kBayer[k][y & 7] + 1);
          PackRow(src.ScanLine(y), dst.ScanLine(y), width, dst.RowLen(), [&](const uint8_t* q, int k) {
            const int s = q[2] * 21 + q[1] * 71 + q[0] * 8;
            return (s >= reach[k]) | ((q[0] > 250) & (q[1] > 250) & (q[2] > 250));
          });
        }
      },
      progress);
  return true;
}

bool Threshold(const IEBitmap& src, IEBitmap& dst, int threshold, const RowProgressFn& progress) {
  const int width = src.Width(), height = src.Height();
  if (!dst.Allocate(width, height, F::ie1g) || dst.IsEmpty()) return false;
  // grey >= t  <=>  weighted sum >= 100 t; below 0 every pixel and above
  // 255 no pixel reaches it.
  const int reach = 100 * std::clamp(threshold, 0, 256);
  ParallelRows(
      0, height,
      [&](int begin, int end) {
        for (int y = begin; y < end; ++y)
          PackRow(src.ScanLine(y), dst.ScanLine(y), width, dst.RowLen(),
                  [&](const uint8_t* q, int) { return q[2] * 21 + q[1] * 71 + q[0] * 8 >= reach; });
      },
      progress);
  return true;
}

int MeanGreyThreshold(const IEBitmap& src) {
  const int width = src.Width(), height = src.Height();
  if (width <= 0 || height <= 0) return 0;
  std::vector<std::array<int64_t, 3>> rowMeans(height);
  ParallelRows(0, height, [&](int begin, int end) {
    for (int y = begin; y < end; ++y) {
      const uint8_t* p = src.ScanLine(y);
      int64_t s[3] = {0, 0, 0};
      for (int x = 0; x < width; ++x, p += 3) {
        s[0] += p[0];
        s[1] += p[1];
        s[2] += p[2];
      }
      rowMeans[y] = {s[0] / width, s[1] / width, s[2] / width};
    }
  });
  int64_t sum[3] = {0, 0, 0};
  for (const auto& m : rowMeans)
    for (int c = 0; c < 3; ++c) sum[c] += m[c];
  const int64_t b = sum[0] / height, g = sum[1] / height, r = sum[2] / height;
  return static_cast<int>((r * 21 + g * 71 + b * 8) / 100);
}


int MaxEntropyThreshold(const std::array<uint64_t, 256>& histogram) {
  uint64_t total = 0;
  for (uint64_t v : histogram) total += v;
  if (total == 0) return 0;
  // Entropy of the levels lo..hi normalised by their own count.
  auto entropy = [&](int lo, int hi, double count) {
    double e = 0;
    for (int i = lo; i <= hi; ++i)
      if (histogram[i]) {
        const double p = static_cast<double>(histogram[i]) / count;
        e -= p * std::log(p);
      }
    return e;
  };
  double best = -1;
  int bestT = -1;
  uint64_t below = 0;
  for (int t = 0; t < 255; ++t) {
    below += histogram[t];
    if (below == 0 || below == total) continue;
    const double e = entropy(0, t, static_cast<double>(below)) + entropy(t + 1, 255, static_cast<double>(total - below));
    if (e > best) {
      best = e;
      bestT = t;
    }
  }
  if (bestT >= 0) return bestT + 1;
  // A single grey level: it is its own threshold (all white), as with the
  // mean.
  for (int i = 0; i < 256; ++i)
    if (histogram[i]) return i;
  return 0;
}

// --- Variance-splitting quantizer -------------------------------------------

CellHistogram CountCells(const IEBitmap& src) {
  const int width = src.Width(), height = src.Height();
  const int chunks = ParallelChunkCount(height);
  std::vector<std::vector<uint64_t>> partial(chunks);
  ParallelChunks(height, chunks, [&](int c, int y0, int y1) {
    partial[c].assign(kCells, 0);
    uint64_t* h = partial[c].data();
    for (int y = y0; y < y1; ++y) {
      const uint8_t* p = src.ScanLine(y);
      for (int x = 0; x < width; ++x, p += 3) ++h[CellOf(p[2], p[1], p[0])];
    }
  });
  CellHistogram hist;
  for (const auto& q : partial)
    for (int i = 0; i < kCells; ++i) hist.cells[i] += q[i];
  hist.total = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
  return hist;
}

namespace {

constexpr int kRed = 0, kGreen = 1, kBlue = 2;

struct Box {
  int lo[3] = {0, 0, 0}, hi[3] = {32, 32, 32};  // hi excluded
  uint64_t count = 0;
  double mean[3] = {0, 0, 0};
  double error = 0;
};

using Marginals = std::array<std::array<uint64_t, 32>, 3>;

inline uint64_t Cell(const CellHistogram& h, int r, int g, int b) { return h.cells[(r << 10) | (g << 5) | b]; }

Marginals MarginalsOf(const CellHistogram& h, const Box& box) {
  Marginals m{};
  for (int r = box.lo[kRed]; r < box.hi[kRed]; ++r)
    for (int g = box.lo[kGreen]; g < box.hi[kGreen]; ++g)
      for (int b = box.lo[kBlue]; b < box.hi[kBlue]; ++b) {
        const uint64_t n = Cell(h, r, g, b);
        m[kRed][r] += n;
        m[kGreen][g] += n;
        m[kBlue][b] += n;
      }
  return m;
}

// Count, means and error of a box from its marginal histograms.
void Measure(Box& box, const Marginals& m, uint64_t total) {
  box.count = 0;
  for (int j = box.lo[kRed]; j < box.hi[kRed]; ++j) box.count += m[kRed][j];
  double error = 0;
  for (int a = 0; a < 3; ++a) {
    uint64_t s1 = 0, s2 = 0;
    for (int j = box.lo[a]; j < box.hi[a]; ++j) {
      s1 += static_cast<uint64_t>(j) * m[a][j];
      s2 += static_cast<uint64_t>(j * j) * m[a][j];
    }
    const double count = static_cast<double>(box.count);
    box.mean[a] = box.count ? static_cast<double>(s1) / count : 0.0;
    error += static_cast<double>(s2) - box.mean[a] * box.mean[a] * count;
  }
  box.error = error / static_cast<double>(total);
}

// Shrinks every axis to its occupied bins.
void Shrink(Box& box, const Marginals& m) {
  for (int a = 0; a < 3; ++a) {
    int lo = box.lo[a], hi = box.hi[a];
    while (lo < hi && m[a][lo] == 0) ++lo;
    while (hi > lo && m[a][hi - 1] == 0) --hi;
    box.lo[a] = lo;
    box.hi[a] = hi;
  }
}

// The cut on one axis: the last bin of the lower half, or -1.
int ChooseCut(const Box& box, const std::array<uint64_t, 32>& h, int axis) {
  const int lo = box.lo[axis], hi = box.hi[axis];
  if (hi - lo < 2) return -1;
  const double mu = box.mean[axis];
  const double count = static_cast<double>(box.count);
  const int c0 = static_cast<int>(std::nearbyint((lo + mu) / 2));
  const int c1 = static_cast<int>(std::nearbyint((mu + hi) / 2));
  uint64_t n1 = 0;
  for (int j = lo; j < c0; ++j) n1 += h[j];
  uint64_t s1 = 0;
  double best = 0;
  int cut = -1;
  // n1 reaches the count by the last bin of the box at the latest, before
  // c could pass it.
  for (int c = c0; c <= c1 && c < hi; ++c) {
    n1 += h[c];
    s1 += static_cast<uint64_t>(c) * h[c];
    if (n1 >= box.count) break;
    const double d = mu - static_cast<double>(s1) / count;
    const double v = static_cast<double>(n1) / static_cast<double>(box.count - n1) * (d * d);
    if (v > best) {
      best = v;
      cut = c;
    }
  }
  return cut;
}

}  // namespace

Quantization VarianceSplit(const CellHistogram& hist, int n) {
  n = std::clamp(n, 1, 32768);
  std::vector<Box> boxes;
  boxes.reserve(n);
  {
    Box all;
    Measure(all, MarginalsOf(hist, all), std::max<uint64_t>(hist.total, 1));
    boxes.push_back(all);
  }
  const uint64_t total = std::max<uint64_t>(hist.total, 1);
  while (static_cast<int>(boxes.size()) < n) {
    // The box with the largest error, the first of equal ones; none left
    // with an error above 0 means nothing can be split any more.
    int pick = -1;
    double largest = 0;
    for (int i = 0; i < static_cast<int>(boxes.size()); ++i)
      if (boxes[i].error > largest) {
        largest = boxes[i].error;
        pick = i;
      }
    if (pick < 0) break;
    const Box box = boxes[pick];
    const Marginals m = MarginalsOf(hist, box);
    double bestSum = 17523.6;
    bool found = false;
    Box bestLower, bestUpper;
    for (int a = 0; a < 3; ++a) {
      const int cut = ChooseCut(box, m[a], a);
      if (cut < 0) continue;
      Box lower = box, upper = box;
      lower.hi[a] = cut + 1;
      upper.lo[a] = cut + 1;
      const Marginals ml = MarginalsOf(hist, lower), mu = MarginalsOf(hist, upper);
      Measure(lower, ml, total);
      Measure(upper, mu, total);
      if (lower.count == 0 || upper.count == 0) continue;
      Shrink(lower, ml);
      Shrink(upper, mu);
      const double sum = lower.error + upper.error;
      if (sum < bestSum) {
        bestSum = sum;
        bestLower = lower;
        bestUpper = upper;
        found = true;
      }
    }
    if (!found) {
      boxes[pick].error = 0;
      continue;
    }
    boxes[pick] = bestLower;
    boxes.push_back(bestUpper);
  }
  Quantization q;
  q.cellToBox.assign(kCells, 0);
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    const Box& b = boxes[i];
    auto level = [](double mean) { return static_cast<uint8_t>(static_cast<int>(std::nearbyint(mean)) * 8); };
    q.palette.push_back(IETriple{level(b.mean[kBlue]), level(b.mean[kGreen]), level(b.mean[kRed])});
    for (int r = b.lo[kRed]; r < b.hi[kRed]; ++r)
      for (int g = b.lo[kGreen]; g < b.hi[kGreen]; ++g)
        for (int bl = b.lo[kBlue]; bl < b.hi[kBlue]; ++bl)
          q.cellToBox[(r << 10) | (g << 5) | bl] = static_cast<uint16_t>(i);
  }
  return q;
}

// --- NeuQuant -----------------------------------------------------------------

namespace {

constexpr int kCycles = 100;  // learning cycles
constexpr int kNetBiasShift = 4;
constexpr int kIntBiasShift = 16;
constexpr int kIntBias = 1 << kIntBiasShift;
constexpr int kGammaShift = 10;
constexpr int kBetaShift = 10;
constexpr int kBeta = kIntBias >> kBetaShift;
constexpr int kBetaGamma = kIntBias << (kGammaShift - kBetaShift);
constexpr int kRadiusBiasShift = 6;
constexpr int kRadiusBias = 1 << kRadiusBiasShift;
constexpr int kRadiusDec = 30;
constexpr int kAlphaBiasShift = 10;
constexpr int kInitAlpha = 1 << kAlphaBiasShift;
constexpr int kRadBiasShift = 8;
constexpr int kRadBias = 1 << kRadBiasShift;
constexpr int kAlphaRadBias = 1 << (kAlphaBiasShift + kRadBiasShift);
constexpr int kPrimes[4] = {499, 491, 487, 503};

}  // namespace

NeuQuant::NeuQuant(int netsize, int samplefac)
    : netsize_(std::clamp(netsize, 8, 4096)), samplefac_(std::clamp(samplefac, 1, 30)) {
  network_.resize(netsize_);
  bias_.assign(netsize_, 0);
  freq_.assign(netsize_, kIntBias / netsize_);
  radpower_.assign(std::max(1, netsize_ >> 3), 0);
  for (int i = 0; i < netsize_; ++i) {
    const int v = (i << (kNetBiasShift + 8)) / netsize_;
    network_[i] = {v, v, v, 0};
  }
}

int NeuQuant::Contest(int b, int g, int r) {
  int bestd = std::numeric_limits<int>::max(), bestbiasd = bestd;
  int bestpos = -1, bestbiaspos = -1;
  for (int i = 0; i < netsize_; ++i) {
    const auto& n = network_[i];
    const int dist = std::abs(n[0] - b) + std::abs(n[1] - g) + std::abs(n[2] - r);
    if (dist < bestd) {
      bestd = dist;
      bestpos = i;
    }
    const int biasdist = dist - (bias_[i] >> (kIntBiasShift - kNetBiasShift));
    if (biasdist < bestbiasd) {
      bestbiasd = biasdist;
      bestbiaspos = i;
    }
    const int betafreq = freq_[i] >> kBetaShift;
    freq_[i] -= betafreq;
    bias_[i] += betafreq << kGammaShift;
  }
  freq_[bestpos] += kBeta;
  bias_[bestpos] -= kBetaGamma;
  return bestbiaspos;
}

void NeuQuant::AlterSingle(int alpha, int i, int b, int g, int r) {
  auto& n = network_[i];
  n[0] -= (alpha * (n[0] - b)) / kInitAlpha;
  n[1] -= (alpha * (n[1] - g)) / kInitAlpha;
  n[2] -= (alpha * (n[2] - r)) / kInitAlpha;
}

void NeuQuant::AlterNeighbours(int rad, int i, int b, int g, int r) {
  const int lo = std::max(i - rad, -1), hi = std::min(i + rad, netsize_);
  int j = i + 1, k = i - 1, m = 1;
  while (j < hi || k > lo) {
    const int a = radpower_[m++];
    if (j < hi) {
      auto& p = network_[j++];
      p[0] -= static_cast<int>((int64_t{a} * (p[0] - b)) / kAlphaRadBias);
      p[1] -= static_cast<int>((int64_t{a} * (p[1] - g)) / kAlphaRadBias);
      p[2] -= static_cast<int>((int64_t{a} * (p[2] - r)) / kAlphaRadBias);
    }
    if (k > lo) {
      auto& p = network_[k--];
      p[0] -= static_cast<int>((int64_t{a} * (p[0] - b)) / kAlphaRadBias);
      p[1] -= static_cast<int>((int64_t{a} * (p[1] - g)) / kAlphaRadBias);
      p[2] -= static_cast<int>((int64_t{a} * (p[2] - r)) / kAlphaRadBias);
    }
  }
}

void NeuQuant::Learn(const IEBitmap& src) {
  const int width = src.Width();
  const int64_t pixels = static_cast<int64_t>(width) * src.Height();
  if (pixels > 0) {
    const int alphadec = 30 + (samplefac_ - 1) / 3;
    const int64_t samplepixels = pixels / samplefac_;
    // A picture of fewer than 100 samples would make the cycle length 0.
    const int64_t delta = std::max<int64_t>(1, samplepixels / kCycles);
    int alpha = kInitAlpha;
    int radius = (netsize_ >> 3) * kRadiusBias;
    auto setRadius = [&](int rad) {
      for (int j = 0; j < rad; ++j)
        radpower_[j] = alpha * (((rad * rad - j * j) * kRadBias) / (rad * rad));
    };
    int rad = radius >> kRadiusBiasShift;
    if (rad <= 1) rad = 0;
    setRadius(rad);
    // Step through the picture by a prime that does not divide its size,
    // so that the samples spread over all of it; a picture smaller than
    // the largest prime is simply walked through.
    int64_t step = 1;
    if (pixels >= kPrimes[3]) {
      step = kPrimes[3];
      for (int k = 0; k < 3; ++k)
        if (pixels % kPrimes[k] != 0) {
          step = kPrimes[k];
          break;
        }
    }
    int64_t pos = 0;
    for (int64_t i = 0; i < samplepixels;) {
      const IETriple& px = reinterpret_cast<const IETriple*>(src.ScanLine(static_cast<int>(pos / width)))[pos % width];
      const int b = px.b << kNetBiasShift, g = px.g << kNetBiasShift, r = px.r << kNetBiasShift;
      const int j = Contest(b, g, r);
      AlterSingle(alpha, j, b, g, r);
      if (rad) AlterNeighbours(rad, j, b, g, r);
      pos += step;
      if (pos >= pixels) pos -= pixels;
      ++i;
      if (i % delta == 0) {
        alpha -= alpha / alphadec;
        radius -= radius / kRadiusDec;
        rad = radius >> kRadiusBiasShift;
        if (rad <= 1) rad = 0;
        setRadius(rad);
      }
    }
  }
  Finish();
}

void NeuQuant::Finish() {
  // Unbias to 0..255 and remember each neuron's place as its palette index.
  palette_.resize(netsize_);
  for (int i = 0; i < netsize_; ++i) {
    auto& n = network_[i];
    for (int c = 0; c < 3; ++c) n[c] = std::clamp((n[c] + (1 << (kNetBiasShift - 1))) >> kNetBiasShift, 0, 255);
    n[3] = i;
    palette_[i] = IETriple{static_cast<uint8_t>(n[0]), static_cast<uint8_t>(n[1]), static_cast<uint8_t>(n[2])};
  }
  // Sort on green and index the first neuron of each green level.
  int previous = 0, start = 0;
  const int maxpos = netsize_ - 1;
  for (int i = 0; i < netsize_; ++i) {
    int smallpos = i, smallval = network_[i][1];
    for (int j = i + 1; j < netsize_; ++j)
      if (network_[j][1] < smallval) {
        smallpos = j;
        smallval = network_[j][1];
      }
    if (smallpos != i) std::swap(network_[i], network_[smallpos]);
    if (smallval != previous) {
      netindex_[previous] = (start + i) >> 1;
      for (int j = previous + 1; j < smallval; ++j) netindex_[j] = i;
      previous = smallval;
      start = i;
    }
  }
  netindex_[previous] = (start + maxpos) >> 1;
  for (int j = previous + 1; j < 256; ++j) netindex_[j] = maxpos;
}

int NeuQuant::Map(int b, int g, int r) const {
  int bestd = 1000, best = 0;
  int i = netindex_[g], j = i - 1;
  while (i < netsize_ || j >= 0) {
    if (i < netsize_) {
      const auto& p = network_[i];
      int dist = p[1] - g;
      if (dist >= bestd) {
        i = netsize_;
      } else {
        ++i;
        dist = std::abs(dist) + std::abs(p[0] - b);
        if (dist < bestd) {
          dist += std::abs(p[2] - r);
          if (dist < bestd) {
            bestd = dist;
            best = p[3];
          }
        }
      }
    }
    if (j >= 0) {
      const auto& p = network_[j];
      int dist = g - p[1];
      if (dist >= bestd) {
        j = -1;
      } else {
        --j;
        dist = std::abs(dist) + std::abs(p[0] - b);
        if (dist < bestd) {
          dist += std::abs(p[2] - r);
          if (dist < bestd) {
            bestd = dist;
            best = p[3];
          }
        }
      }
    }
  }
  return best;
}

}  // namespace reduction

// ---------------------------------------------------------------------------

namespace {

using namespace reduction;

// The colour reductions change the layer's whole picture: a selection's
// scratch copy is dropped and the worker gets the layer itself.
IEBitmap& WholePicture(ImageProc& proc, Work& w) {
  ProcTarget& canvas = proc.AttachedCanvas();
  IEBitmap& bmp = canvas.LayerBitmap(canvas.CurrentLayerIndex());
  if (w.bitmap != &bmp) w.scratch.Free();
  w.bitmap = &bmp;
  w.mask = nullptr;
  w.boxX = w.boxY = 0;
  w.x1 = w.y1 = 0;
  w.x2 = bmp.Width();
  w.y2 = bmp.Height();
  return bmp;
}

bool IsGrey(const IEBitmap& bmp) {
  for (int y = 0; y < bmp.Height(); ++y) {
    const uint8_t* p = bmp.ScanLine(y);
    for (int x = 0; x < bmp.Width(); ++x, p += 3)
      if (p[0] != p[1] || p[1] != p[2]) return false;
  }
  return true;
}

// True when the picture holds at most n distinct colours.
bool AtMostColours(const IEBitmap& bmp, int n) {
  std::vector<uint64_t> seen(std::size_t{1} << 18, 0);  // one bit per 24-bit colour
  int count = 0;
  for (int y = 0; y < bmp.Height(); ++y) {
    const uint8_t* p = bmp.ScanLine(y);
    uint32_t last = 0xFFFFFFFFu;
    for (int x = 0; x < bmp.Width(); ++x, p += 3) {
      const uint32_t c = p[0] | (p[1] << 8) | (p[2] << 16);
      if (c == last) continue;
      last = c;
      uint64_t& word = seen[c >> 6];
      const uint64_t bit = uint64_t{1} << (c & 63);
      if (!(word & bit)) {
        word |= bit;
        if (++count > n) return false;
      }
    }
  }
  return true;
}

// Maps every pixel through fn(b, g, r) -> IETriple, rows on all cores.
template <class Fn>
void MapPixels(IEBitmap& bmp, const RowProgressFn& progress, Fn&& fn) {
  const int width = bmp.Width();
  ParallelRows(
      0, bmp.Height(),
      [&](int begin, int end) {
        for (int y = begin; y < end; ++y) {
          IETriple* p = reinterpret_cast<IETriple*>(bmp.ScanLine(y));
          for (int x = 0; x < width; ++x) p[x] = fn(p[x]);
        }
      },
      progress);
}

// The picture reduced to at most n colours (3 <= n <= 1024), no dithering.
void ReducePalette(IEBitmap& bmp, int n, const RowProgressFn& progress) {
  if (IsGrey(bmp)) {
    // Entry i = trunc(256 / n x i); level v takes entry trunc(v x n / 256).
    uint8_t level[256];
    for (int v = 0; v < 256; ++v) {
      const int i = static_cast<int>(std::trunc(v * static_cast<double>(n) / 256));
      level[v] = static_cast<uint8_t>(std::trunc(256.0 / n * i));
    }
    MapPixels(bmp, progress, [&](IETriple t) { return IETriple{level[t.b], level[t.g], level[t.r]}; });
    return;
  }
  if (AtMostColours(bmp, n)) return;  // every pixel keeps its colour
  if (n < 128) {
    const Quantization q = VarianceSplit(CountCells(bmp), n);
    const IETriple* palette = q.palette.data();
    const uint16_t* box = q.cellToBox.data();
    MapPixels(bmp, progress, [&](IETriple t) { return palette[box[CellOf(t.r, t.g, t.b)]]; });
    return;
  }
  // Learning from about a million samples keeps large pictures quick; small
  // ones learn from every pixel.
  const int64_t pixels = static_cast<int64_t>(bmp.Width()) * bmp.Height();
  const int samplefac = static_cast<int>(std::clamp<int64_t>((pixels + (1 << 20) - 1) >> 20, 1, 30));
  NeuQuant net(n, samplefac);
  net.Learn(bmp);
  const IETriple* palette = net.Palette().data();
  MapPixels(bmp, progress, [&](IETriple t) { return palette[net.Map(t.b, t.g, t.r)]; });
}

}  // namespace

void ImageProc::ConvertTo(int colours, bool useThreshold) {
  Work w;
  if (!BeginOperation(Label("ConvertTo", {colours}), {F::ie24RGB}, w)) return;
  IEBitmap& bmp = WholePicture(*this, w);
  if (bmp.PixelFormat() == F::ie24RGB && !bmp.IsEmpty()) {
    const int height = bmp.Height();
    if (colours < 3) {
      IEBitmap bw;
      const bool ok = useThreshold
                          ? Threshold(bmp, bw, MeanGreyThreshold(bmp), [&](int y) { RowProgress(w, y); })
                          : OrderedDither(bmp, bw, [&](int y) { RowProgress(w, y); });
      if (ok) bmp.AssignImage(bw);
    } else if (colours <= 1024) {
      ReducePalette(bmp, colours, [&](int y) {
        Progress(static_cast<int>(std::trunc(100 / (height + 0.5) * (y + 1))));
      });
    }
  }
  EndOperation(w);
}

void ImageProc::ConvertToBWThreshold(int threshold) {
  Work w;
  if (!BeginOperation(Label("ConvertToBWThreshold", {threshold}), {F::ie24RGB}, w)) return;
  IEBitmap& bmp = WholePicture(*this, w);
  if (bmp.PixelFormat() == F::ie24RGB && !bmp.IsEmpty()) {
    int t = threshold;
    if (threshold == -1) t = MeanGreyThreshold(bmp);
    if (threshold == -2) t = MaxEntropyThreshold(GreyHistogram(bmp));
    IEBitmap bw;
    if (Threshold(bmp, bw, t, [&](int y) { RowProgress(w, y); })) bmp.AssignImage(bw);
  }
  EndOperation(w);
}

void ImageProc::ConvertToBWOrdered() {
  Work w;
  if (!BeginOperation("ConvertToBWOrdered", {F::ie24RGB}, w)) return;
  IEBitmap& bmp = WholePicture(*this, w);
  if (bmp.PixelFormat() == F::ie24RGB && !bmp.IsEmpty()) {
    IEBitmap bw;
    if (OrderedDither(bmp, bw, [&](int y) { RowProgress(w, y); })) bmp.AssignImage(bw);
  }
  EndOperation(w);
}

void ImageProc::ConvertTo24Bit() {
  {
    ProcTarget& canvas = AttachedCanvas();
    if (canvas.LayerBitmap(canvas.CurrentLayerIndex()).PixelFormat() != F::ie1g) return;
  }
  Work w;
  if (!BeginOperation("ConvertTo24Bit", {F::ie1g}, w)) return;
  IEBitmap& bmp = WholePicture(*this, w);
  if (bmp.PixelFormat() == F::ie1g && !bmp.IsEmpty()) {
    const int width = bmp.Width(), height = bmp.Height();
    // The picture is reallocated in its own storage and the bits expanded
    // straight into it; the alpha channel stays, as with AssignImage.
    IEBitmap bits;
    bits.AssignImage(bmp);
    IEBitmap alpha;
    if (bmp.HasAlphaChannel()) alpha.AssignImage(bmp.AlphaChannel());
    if (!bits.IsEmpty() && bmp.Allocate(width, height, F::ie24RGB)) {
      ParallelRows(
          0, height,
          [&](int begin, int end) {
            for (int y = begin; y < end; ++y) {
              const uint8_t* s = bits.ScanLine(y);
              uint8_t* d = bmp.ScanLine(y);
              for (int x = 0; x < width; ++x, d += 3) {
                const uint8_t v = ((s[x >> 3] >> (7 - (x & 7))) & 1) ? 255 : 0;
                d[0] = d[1] = d[2] = v;
              }
            }
          },
          [&](int y) { RowProgress(w, y); });
    } else if (!bits.IsEmpty()) {
      bmp.AssignImage(bits);  // no memory for the RGB picture: keep the bits
    }
    if (!alpha.IsEmpty()) bmp.AlphaChannel().AssignImage(alpha);
    bmp.SetAlphaAllOpaque(false);
  }
  EndOperation(w);
}

}  // namespace velmora
