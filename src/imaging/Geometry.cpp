// Geometry operations: Resample, Rotate, Flip and CropSel. Unlike the
// other families they do not run inside the selection frame: they work on
// the whole bitmap (CropSel reads the selection itself), accept every pixel
// format and replace the bitmap, size included, in one step.
#include <sys/mman.h>

#include <algorithm>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "imaging/Color.h"
#include "imaging/FormatConvert.h"
#include "imaging/GeometryDetail.h"
#include "imaging/ImageProc.h"
#include "imaging/Parallel.h"

namespace velmora {

using F = IEPixelFormat;

const char* ResampleFilterName(ResampleFilter f) {
  static constexpr const char* kNames[kResampleFilterCount] = {
      "rfNone",   "rfTriangle", "rfHermite",    "rfBell",       "rfBSpline", "rfLanczos3",  "rfMitchell",
      "rfNearest", "rfLinear",  "rfFastLinear", "rfBilinear",   "rfBicubic", "rfProjectBW", "rfProjectWB"};
  const int i = static_cast<int>(f);
  return i >= 0 && i < kResampleFilterCount ? kNames[i] : "?";
}

namespace geometry {

namespace {

inline int Clamp(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }

// A work buffer of rows that reports a failed allocation instead of
// throwing. Large ones ask for huge pages: the rotation's first pass
// scatters every row over a thousand rows of its buffer, and with small
// pages nearly every run costs a page-table walk (a third of the time).
struct Unmap {
  std::size_t size = 0;  // 0: from new[]
  void operator()(uint8_t* p) const {
    if (size)
      munmap(p, size);
    else
      delete[] p;
  }
};

struct Buffer {
  std::unique_ptr<uint8_t[], Unmap> data;
  std::size_t stride = 0;
  bool Allocate(std::size_t rowBytes, int rows) {
    stride = rowBytes;
    const std::size_t size = std::max<std::size_t>(1, rowBytes * static_cast<std::size_t>(rows));
    constexpr std::size_t kHuge = std::size_t{1} << 21;
    if (size >= 4 * kHuge) {
      const std::size_t mapped = (size + kHuge - 1) / kHuge * kHuge;
      void* p = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (p == MAP_FAILED) return false;
      madvise(p, mapped, MADV_HUGEPAGE);
      data = std::unique_ptr<uint8_t[], Unmap>(static_cast<uint8_t*>(p), Unmap{mapped});
    } else {
      data = std::unique_ptr<uint8_t[], Unmap>(new (std::nothrow) uint8_t[size], Unmap{});
    }
    return data != nullptr;
  }
  void Free() { data.reset(); }
  uint8_t* Row(int y) { return data.get() + stride * static_cast<std::size_t>(y); }
  const uint8_t* Row(int y) const { return data.get() + stride * static_cast<std::size_t>(y); }
};

bool AllocateLike(IEBitmap& dst, int w, int h, const IEBitmap& like) {
  if (!dst.Allocate(w, h, like.PixelFormat()) || dst.IsEmpty()) return false;
  if (dst.Palette() && like.Palette()) std::memcpy(dst.Palette(), like.Palette(), 256 * sizeof(IETriple));
  return true;
}

}  // namespace

int ByteChannels(IEPixelFormat f) {
  switch (f) {
    case F::ie8g:
      return 1;
    case F::ie24RGB:
    case F::ieCIELab:
      return 3;
    case F::ieCMYK:
    case F::ie32RGB:
      return 4;
    default:
      return 0;
  }
}

// ---------------------------------------------------------------------------
// Resample: sizes, methods, kernels

void ResampleTargetSize(int W, int H, int newWidth, int newHeight, int64_t& outWidth, int64_t& outHeight) {
  // The products are 32-bit and wrap, as they always did.
  auto wrap32 = [](int64_t v) { return static_cast<int64_t>(static_cast<int32_t>(static_cast<uint32_t>(v))); };
  int64_t w;
  if (newWidth == -1)
    w = wrap32(int64_t{newHeight} * W) / H;
  else if (newWidth == 0)
    w = W;
  else if (newWidth < 0)
    w = -int64_t{newWidth};
  else
    w = newWidth;
  if (w < 1) w = 1;
  int64_t h;
  if (newHeight == -1)
    h = wrap32(w * H) / W;
  else if (newHeight == 0)
    h = H;
  else if (newHeight < 0)
    h = -int64_t{newHeight};
  else
    h = newHeight;
  if (h < 1) h = 1;
  outWidth = w;
  outHeight = h;
}

ResampleMethod MethodOf(ResampleFilter f) {
  switch (f) {
    case rfTriangle:
    case rfHermite:
    case rfBell:
    case rfBSpline:
    case rfLanczos3:
    case rfMitchell:
    case rfNearest:
    case rfLinear:
    case rfFastLinear:
      return ResampleMethod::Kernel;
    case rfBilinear:
    case rfBicubic:
      return ResampleMethod::Area;
    default:  // rfNone, the projections and values outside the enumeration
      return ResampleMethod::Nearest;
  }
}

double KernelSupport(ResampleFilter f) {
  switch (f) {
    case rfBell:
      return 1.5;
    case rfBSpline:
    case rfMitchell:
      return 2.0;
    case rfLanczos3:
      return 3.0;
    case rfNearest:
      return 0.5;
    default:  // rfTriangle, rfHermite, rfLinear, rfFastLinear
      return 1.0;
  }
}

namespace {
double Sinc(double x) {
  if (x == 0) return 1;
  const double px = x * M_PI;
  return std::sin(px) / px;
}
}  // namespace

double KernelValue(ResampleFilter f, double x) {
  const double a = std::fabs(x);
  const double x2 = a * a, x3 = x2 * a;
  switch (f) {
    case rfHermite:
      return a < 1 ? x2 * (2 * a - 3) + 1 : 0;
    case rfBell:
      if (a < 0.5) return 0.75 - x2;
      if (a < 1.5) return 0.5 * ((a - 1.5) * (a - 1.5));
      return 0;
    case rfBSpline:
      if (a < 1) return 0.5 * x3 - x2 + 2.0 / 3;
      if (a < 2) {
        const double t = 2 - a;
        return t * t * t / 6;
      }
      return 0;
    case rfMitchell:
      if (a < 1) return (7 * x3 - 12 * x2 + 16.0 / 3) / 6;
      if (a < 2) return (-(7.0 / 3) * x3 + 12 * x2 - 20 * a + 32.0 / 3) / 6;
      return 0;
    case rfLinear:
    case rfFastLinear:
      return x >= -1 && x < 1 ? 1 - a : 0;
    case rfTriangle:
      return a < 1 ? 1 - a : 0;
    case rfLanczos3:
      return a < 3 ? Sinc(x) * Sinc(x / 3) : 0;
    case rfNearest:
      return x >= -0.5 && x < 0.5 ? 1 : 0;
    default:
      return 0;
  }
}

Contributors BuildContributors(int srcSize, int dstSize, ResampleFilter f) {
  Contributors c;
  c.count = dstSize;
  c.start.reserve(static_cast<std::size_t>(dstSize) + 1);
  c.sum.reserve(dstSize);
  c.absSum.reserve(dstSize);
  c.start.push_back(0);
  auto add = [&](int index, int weight, int& sum, int& absSum) {
    c.index.push_back(index);
    c.weight.push_back(weight);
    sum += weight;
    absSum += weight < 0 ? -weight : weight;
  };
  if (srcSize == 1) {
    // One source sample: it is copied to every destination sample.
    for (int i = 0; i < dstSize; ++i) {
      int sum = 0, absSum = 0;
      add(0, 256, sum, absSum);
      c.sum.push_back(sum);
      c.absSum.push_back(absSum);
      c.start.push_back(static_cast<int>(c.index.size()));
    }
    return c;
  }
  const double scale = dstSize == 1 ? static_cast<double>(dstSize) / srcSize
                                    : static_cast<double>(dstSize - 1) / (srcSize - 1);
  const double s = KernelSupport(f);
  for (int i = 0; i < dstSize; ++i) {
    const double t = i / scale;
    int sum = 0, absSum = 0;
    const double reach = scale >= 1 ? s : s / scale;
    const int64_t lo = static_cast<int64_t>(std::floor(t - reach));
    const int64_t hi = static_cast<int64_t>(std::ceil(t + reach));
    for (int64_t j = lo; j <= hi; ++j) {
      const double w = scale >= 1 ? KernelValue(f, t - static_cast<double>(j)) * 256
                                  : KernelValue(f, (t - static_cast<double>(j)) * scale) * 256 * scale;
      const int wi = static_cast<int>(std::nearbyint(w));
      if (wi == 0) continue;
      int64_t k = j < 0 ? -j : (j >= srcSize ? 2 * int64_t{srcSize} - 1 - j : j);
      k = std::clamp<int64_t>(k, 0, srcSize - 1);
      add(static_cast<int>(k), wi, sum, absSum);
    }
    c.sum.push_back(sum);
    c.absSum.push_back(absSum);
    c.start.push_back(static_cast<int>(c.index.size()));
  }
  return c;
}

Divider MakeDivider(int weightSum, int absWeightSum) {
  Divider v;
  v.d = weightSum == 0 ? 256 : weightSum;
  // (sum + 0.5) / d lies at least 0.5 / d away from the integers, and the
  // float product is off by less than |value| * 2^-23 <= 256 * 2^-23 while
  // sum + 0.5 is exact (|sum| < 2^22): trunc is exact for d <= 4096.
  v.fast = v.d >= 1 && v.d <= 4096 && int64_t{absWeightSum} * 255 < (int64_t{1} << 22);
  v.reciprocal = 1.0f / static_cast<float>(v.d);
  return v;
}

// ---------------------------------------------------------------------------
// Kernel method

namespace {

// The contributors of one row pass, with the interior destination pixels
// (whose sources are consecutive) also as windows of a fixed width K:
// the first source of the window and K weights, 0 where a window is wider
// than its list. Integer sums do not depend on the order, so both forms
// give the same bytes.
struct RowPlan {
  const Contributors* c = nullptr;
  int K = 0;                   // 0: no windows
  std::vector<int> first;      // -1: use the list
  std::vector<int32_t> weights;  // K per destination pixel
  bool allFast = false;        // every divider is a reciprocal ...
  std::vector<float> reciprocal;  // ... one per byte of the row
};

// Divides a row of sums (CH per pixel) by their pixels' dividers.
template <int CH>
void DivideRow(const int32_t* sums, uint8_t* out, int pixels, const RowPlan& plan, const std::vector<Divider>& div) {
  const int n = pixels * CH;
  if (plan.allFast) {
    const float* rc = plan.reciprocal.data();
    for (int j = 0; j < n; ++j) {
      const int q = static_cast<int>((static_cast<float>(sums[j]) + 0.5f) * rc[j]);
      out[j] = static_cast<uint8_t>(q < 0 ? 0 : (q > 255 ? 255 : q));
    }
  } else {
    for (int j = 0; j < n; ++j) out[j] = DivideClamp(sums[j], div[j / CH]);
  }
}

RowPlan MakeRowPlan(const Contributors& c, int srcSize, const std::vector<Divider>& div, int channels) {
  RowPlan plan;
  plan.c = &c;
  plan.allFast = std::all_of(div.begin(), div.end(), [](const Divider& d) { return d.fast; });
  if (plan.allFast) {
    plan.reciprocal.resize(div.size() * channels);
    for (std::size_t i = 0; i < plan.reciprocal.size(); ++i) plan.reciprocal[i] = div[i / channels].reciprocal;
  }
  int K = 0;
  for (int i = 0; i < c.count; ++i) K = std::max(K, c.start[i + 1] - c.start[i]);
  if (K < 1 || K > 16 || K > srcSize) return plan;
  plan.K = K;
  plan.first.assign(c.count, -1);
  plan.weights.assign(static_cast<std::size_t>(c.count) * K, 0);
  for (int i = 0; i < c.count; ++i) {
    const int b = c.start[i], n = c.start[i + 1] - b;
    if (n == 0) continue;
    bool consecutive = true;
    for (int e = 1; e < n; ++e) consecutive &= c.index[b + e] == c.index[b] + e;
    if (!consecutive) continue;
    const int first = std::min(c.index[b], srcSize - K);  // the window stays inside the row
    const int offset = c.index[b] - first;
    plan.first[i] = first;
    for (int e = 0; e < n; ++e) plan.weights[static_cast<std::size_t>(i) * K + offset + e] = c.weight[b + e];
  }
  return plan;
}

template <int CH, int K>
void KernelRowsWindowed(const IEBitmap& src, Buffer& work, const RowPlan& plan, const std::vector<Divider>& div,
                        int begin, int end) {
  const Contributors& cx = *plan.c;
  const int n = cx.count;
  std::vector<int32_t> sums(static_cast<std::size_t>(n) * CH);
  for (int y = begin; y < end; ++y) {
    const uint8_t* s = src.ScanLine(y);
    int32_t* d = sums.data();
    for (int i = 0; i < n; ++i, d += CH) {
      int acc[CH] = {};
      if (plan.first[i] >= 0) {
        const uint8_t* p = s + static_cast<std::size_t>(plan.first[i]) * CH;
        const int32_t* w = plan.weights.data() + static_cast<std::size_t>(i) * K;
        for (int k = 0; k < K; ++k)
          for (int ch = 0; ch < CH; ++ch) acc[ch] += w[k] * p[k * CH + ch];
      } else {
        for (int e = cx.start[i]; e < cx.start[i + 1]; ++e) {
          const uint8_t* p = s + static_cast<std::size_t>(cx.index[e]) * CH;
          for (int ch = 0; ch < CH; ++ch) acc[ch] += cx.weight[e] * p[ch];
        }
      }
      for (int ch = 0; ch < CH; ++ch) d[ch] = acc[ch];
    }
    DivideRow<CH>(sums.data(), work.Row(y), n, plan, div);
  }
}

template <int CH>
void KernelRowsPass(const IEBitmap& src, Buffer& work, const RowPlan& plan, const std::vector<Divider>& div,
                    int begin, int end) {
  switch (plan.K) {
#define VELMORA_WINDOW(k) \
  case k: KernelRowsWindowed<CH, k>(src, work, plan, div, begin, end); return;
    VELMORA_WINDOW(1) VELMORA_WINDOW(2) VELMORA_WINDOW(3) VELMORA_WINDOW(4) VELMORA_WINDOW(5) VELMORA_WINDOW(6)
    VELMORA_WINDOW(7) VELMORA_WINDOW(8) VELMORA_WINDOW(9) VELMORA_WINDOW(10) VELMORA_WINDOW(11)
    VELMORA_WINDOW(12) VELMORA_WINDOW(13) VELMORA_WINDOW(14) VELMORA_WINDOW(15) VELMORA_WINDOW(16)
#undef VELMORA_WINDOW
    default:
      break;
  }
  // Long lists (strong reductions): the lists as they are.
  const Contributors& cx = *plan.c;
  const int n = cx.count;
  for (int y = begin; y < end; ++y) {
    const uint8_t* s = src.ScanLine(y);
    uint8_t* d = work.Row(y);
    for (int i = 0; i < n; ++i, d += CH) {
      int acc[CH] = {};
      for (int e = cx.start[i]; e < cx.start[i + 1]; ++e) {
        const uint8_t* p = s + static_cast<std::size_t>(cx.index[e]) * CH;
        const int w = cx.weight[e];
        for (int ch = 0; ch < CH; ++ch) acc[ch] += w * p[ch];
      }
      for (int ch = 0; ch < CH; ++ch) d[ch] = DivideClamp(acc[ch], div[i]);
    }
  }
}

void KernelColumnsPass(const Buffer& work, IEBitmap& dst, std::size_t rowBytes, const Contributors& cy,
                       const std::vector<Divider>& div, int begin, int end) {
  std::vector<int32_t> accBuf(rowBytes);
  int32_t* acc = accBuf.data();
  const int nb = static_cast<int>(rowBytes);
  for (int y = begin; y < end; ++y) {
    std::fill(acc, acc + nb, 0);
    for (int e = cy.start[y]; e < cy.start[y + 1]; ++e) {
      const uint8_t* r = work.Row(cy.index[e]);
      const int32_t w = cy.weight[e];
      for (int x = 0; x < nb; ++x) acc[x] += w * r[x];
    }
    uint8_t* o = dst.ScanLine(y);
    const Divider dv = div[y];
    if (dv.fast) {
      const float rc = dv.reciprocal;
      for (int x = 0; x < nb; ++x) {
        const int q = static_cast<int>((static_cast<float>(acc[x]) + 0.5f) * rc);
        o[x] = static_cast<uint8_t>(q < 0 ? 0 : (q > 255 ? 255 : q));
      }
    } else {
      for (int x = 0; x < nb; ++x) o[x] = DivideClamp(acc[x], dv);
    }
  }
}

}  // namespace

bool KernelResample(const IEBitmap& src, IEBitmap& dst, int channels, ResampleFilter f, const PercentFn& percent) {
  const int W = src.Width(), H = src.Height(), W2 = dst.Width(), H2 = dst.Height();
  if (W < 1 || H < 1 || W2 < 1 || H2 < 1) return false;
  const Contributors cx = BuildContributors(W, W2, f);
  const Contributors cy = BuildContributors(H, H2, f);
  std::vector<Divider> dx(W2), dy(H2);
  for (int i = 0; i < W2; ++i) dx[i] = MakeDivider(cx.sum[i], cx.absSum[i]);
  for (int i = 0; i < H2; ++i) dy[i] = MakeDivider(cy.sum[i], cy.absSum[i]);
  const RowPlan plan = MakeRowPlan(cx, W, dx, channels);
  const std::size_t rowBytes = static_cast<std::size_t>(W2) * channels;
  Buffer work;
  if (!work.Allocate(rowBytes, H)) return false;

  const double P = 100 / (W2 + H + 0.5);
  auto report = [&](double v) {
    if (percent) percent(static_cast<int>(std::trunc(v)));
  };
  ParallelRows(
      0, H,
      [&](int begin, int end) {
        switch (channels) {
          case 1: KernelRowsPass<1>(src, work, plan, dx, begin, end); break;
          case 3: KernelRowsPass<3>(src, work, plan, dx, begin, end); break;
          case 4: KernelRowsPass<4>(src, work, plan, dx, begin, end); break;
          default: break;
        }
      },
      [&](int last) { report((last + 1) * P); });
  // The second pass runs along destination rows (the sums per column are the
  // same); its progress counts the columns those rows stand for.
  ParallelRows(
      0, H2, [&](int begin, int end) { KernelColumnsPass(work, dst, rowBytes, cy, dy, begin, end); },
      [&](int last) {
        const int64_t column = (int64_t{last} + 1) * W2 / H2 - 1;
        report((H + column + 1) * P);
      },
      4);
  return true;
}

// ---------------------------------------------------------------------------
// Area walk

std::vector<Fragment> AreaWalk(int srcSize, int dstSize) {
  const double g = static_cast<double>(srcSize) / dstSize;
  std::vector<Fragment> out;
  out.reserve(static_cast<std::size_t>(srcSize) + 2 * static_cast<std::size_t>(dstSize) + 2);
  double pos = 0, bound = g;
  int column = 0, closed = 0;
  while (closed < dstSize) {
    Fragment fr;
    fr.index = column;
    fr.dest = closed;
    if ((column + 1) + 0.0001 >= bound) {
      fr.size = bound - pos;
      fr.fraction = bound - column;
      fr.closes = true;
      pos = bound;
      bound += g;
      ++closed;
    } else {
      fr.size = (column + 1) - pos;
      fr.fraction = 1;
      pos = column + 1;
      ++column;
    }
    out.push_back(fr);
  }
  return out;
}

namespace {

// Keys' cubic convolution with a = -1.
double CubicK(double t) {
  const double a = std::fabs(t);
  const double a2 = a * a, a3 = a2 * a;
  if (a < 1) return a3 - 2 * a2 + 1;
  if (a < 2) return -a3 + 5 * a2 - 8 * a + 4;
  return 0;
}

inline double Cubic(double pm, double p0, double p1, double p2, const double* k) {
  const double v = pm * k[0] + p0 * k[1] + p1 * k[2] + p2 * k[3];
  return v < 0 ? 0 : (v > 255 ? 255 : v);
}

// A fragment along one axis, ready for sampling: the sample positions
// i - 1 .. i + 2 limited to the axis (in bytes for columns), the fraction
// and the cubic weights at it.
struct Tap {
  int pos[4];
  double size, f, k[4];
  int dest;
};

std::vector<Tap> MakeTaps(const std::vector<Fragment>& frags, int srcSize, int unit, bool skipEmpty) {
  std::vector<Tap> taps;
  taps.reserve(frags.size());
  for (const Fragment& fr : frags) {
    if (skipEmpty && fr.size == 0) continue;  // adds exactly nothing
    Tap t;
    for (int k = 0; k < 4; ++k) t.pos[k] = Clamp(fr.index - 1 + k, 0, srcSize - 1) * unit;
    t.size = fr.size;
    t.f = fr.fraction;
    t.k[0] = CubicK(fr.fraction + 1);
    t.k[1] = CubicK(fr.fraction);
    t.k[2] = CubicK(fr.fraction - 1);
    t.k[3] = CubicK(fr.fraction - 2);
    t.dest = fr.dest;
    taps.push_back(t);
  }
  return taps;
}

// Kind 0: both axes enlarge; 1: only the horizontal; 2: only the vertical;
// 3: neither (area average).
//
// For every vertical fragment the samples of all horizontal fragments are
// computed first (kinds 0 and 1 from the horizontal interpolations of
// whole source rows, which do not depend on the vertical fragment and are
// kept for four rows), then added to their destination pixels in the
// order of the walk.
template <int CH, int KIND, bool CUBIC>
void AreaRows(const IEBitmap& src, IEBitmap& dst, const std::vector<Tap>& hx, const std::vector<Tap>& vy,
              const std::vector<int>& rowStart, double inv, int begin, int end) {
  const int W2 = dst.Width();
  const std::size_t nh = hx.size(), n = nh * CH;
  std::vector<double> accBuf(static_cast<std::size_t>(W2) * CH), sampleBuf(n);
  double* acc = accBuf.data();
  double* sample = sampleBuf.data();

  // Horizontal interpolation of a source row at every horizontal fragment:
  // bilinear, or cubic (truncated when the vertical cubic follows).
  struct CachedRow {
    int row = -1;
    std::vector<double> v;
  };
  CachedRow cache[4];
  auto horizontal = [&](int row) -> const double* {
    for (auto& c : cache)
      if (c.row == row) return c.v.data();
    return nullptr;
  };
  auto fill = [&](CachedRow& c, int row) {
    c.row = row;
    c.v.resize(n);
    const uint8_t* r = src.ScanLine(row);
    for (std::size_t f = 0; f < nh; ++f) {
      const Tap& t = hx[f];
      for (int ch = 0; ch < CH; ++ch) {
        double v;
        if constexpr (CUBIC) {
          v = Cubic(r[t.pos[0] + ch], r[t.pos[1] + ch], r[t.pos[2] + ch], r[t.pos[3] + ch], t.k);
          if constexpr (KIND == 0) v = std::trunc(v);
        } else {
          v = (1 - t.f) * r[t.pos[1] + ch] + t.f * r[t.pos[2] + ch];
        }
        c.v[f * CH + ch] = v;
      }
    }
  };
  // The rows of one vertical fragment, computed where missing (in slots
  // that hold none of the rows it needs).
  auto rows = [&](const int* wanted, int count, const double** out) {
    bool keep[4] = {false, false, false, false};
    for (int s = 0; s < 4; ++s)
      for (int k = 0; k < count; ++k) keep[s] |= cache[s].row == wanted[k];
    for (int k = 0; k < count; ++k) {
      if (horizontal(wanted[k])) continue;
      for (int s = 0; s < 4; ++s)
        if (!keep[s]) {
          fill(cache[s], wanted[k]);
          keep[s] = true;
          break;
        }
    }
    for (int k = 0; k < count; ++k) out[k] = horizontal(wanted[k]);
  };

  for (int y = begin; y < end; ++y) {
    std::fill(acc, acc + static_cast<std::size_t>(W2) * CH, 0.0);
    for (int vi = rowStart[y]; vi < rowStart[y + 1]; ++vi) {
      const Tap& tv = vy[vi];
      const double fy = tv.f;
      const double* use = sample;
      if constexpr (KIND == 0 && CUBIC) {
        const double* h[4];
        rows(tv.pos, 4, h);
        for (std::size_t i = 0; i < n; ++i) sample[i] = Cubic(h[0][i], h[1][i], h[2][i], h[3][i], tv.k);
      } else if constexpr (KIND == 0) {
        const double* h[2];
        rows(tv.pos + 1, 2, h);
        for (std::size_t i = 0; i < n; ++i) sample[i] = (1 - fy) * h[0][i] + fy * h[1][i];
      } else if constexpr (KIND == 1) {
        const double* h[1];
        rows(tv.pos + 1, 1, h);
        use = h[0];
      } else {
        const uint8_t* rm = src.ScanLine(tv.pos[0]);
        const uint8_t* r0 = src.ScanLine(tv.pos[1]);
        const uint8_t* r1 = src.ScanLine(tv.pos[2]);
        const uint8_t* r2 = src.ScanLine(tv.pos[3]);
        for (std::size_t f = 0; f < nh; ++f) {
          const int i0 = hx[f].pos[1];
          for (int ch = 0; ch < CH; ++ch) {
            double v;
            if constexpr (KIND == 3)
              v = r0[i0 + ch];
            else if constexpr (CUBIC)
              v = Cubic(rm[i0 + ch], r0[i0 + ch], r1[i0 + ch], r2[i0 + ch], tv.k);
            else
              v = (1 - fy) * r0[i0 + ch] + fy * r1[i0 + ch];
            sample[f * CH + ch] = v;
          }
        }
      }
      for (std::size_t f = 0; f < nh; ++f) {
        const double w = hx[f].size * tv.size;
        double* a = acc + static_cast<std::size_t>(hx[f].dest) * CH;
        for (int ch = 0; ch < CH; ++ch) a[ch] += w * use[f * CH + ch];
      }
    }
    uint8_t* o = dst.ScanLine(y);
    const int nb = W2 * CH;
    for (int x = 0; x < nb; ++x) {
      const double v = std::trunc(acc[x] * inv);
      o[x] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
    }
  }
}

template <int CH>
void AreaDispatch(int kind, bool cubic, const IEBitmap& src, IEBitmap& dst, const std::vector<Tap>& hx,
                  const std::vector<Tap>& vy, const std::vector<int>& rowStart, double inv, int begin, int end) {
  switch (kind * 2 + (cubic ? 1 : 0)) {
    case 0: AreaRows<CH, 0, false>(src, dst, hx, vy, rowStart, inv, begin, end); break;
    case 1: AreaRows<CH, 0, true>(src, dst, hx, vy, rowStart, inv, begin, end); break;
    case 2: AreaRows<CH, 1, false>(src, dst, hx, vy, rowStart, inv, begin, end); break;
    case 3: AreaRows<CH, 1, true>(src, dst, hx, vy, rowStart, inv, begin, end); break;
    case 4: AreaRows<CH, 2, false>(src, dst, hx, vy, rowStart, inv, begin, end); break;
    case 5: AreaRows<CH, 2, true>(src, dst, hx, vy, rowStart, inv, begin, end); break;
    default: AreaRows<CH, 3, false>(src, dst, hx, vy, rowStart, inv, begin, end); break;
  }
}

}  // namespace

void AreaResample(const IEBitmap& src, IEBitmap& dst, int channels, bool bicubic, const PercentFn& percent) {
  const int W = src.Width(), H = src.Height(), W2 = dst.Width(), H2 = dst.Height();
  if (W < 1 || H < 1 || W2 < 1 || H2 < 1) return;
  const double g = static_cast<double>(W) / W2, h = static_cast<double>(H) / H2;
  const bool enlargeX = g < 1, enlargeY = h < 1;
  const int kind = enlargeX && enlargeY ? 0 : enlargeX ? 1 : enlargeY ? 2 : 3;
  const std::vector<Tap> hx = MakeTaps(AreaWalk(W, W2), W, channels, true);
  const std::vector<Tap> vy = MakeTaps(AreaWalk(H, H2), H, 1, true);
  std::vector<int> rowStart(static_cast<std::size_t>(H2) + 1, 0);
  for (const Tap& t : vy) ++rowStart[t.dest + 1];
  for (int y = 0; y < H2; ++y) rowStart[y + 1] += rowStart[y];
  const double inv = 1 / (g * h);
  ParallelRows(
      0, H2,
      [&](int begin, int end) {
        switch (channels) {
          case 1: AreaDispatch<1>(kind, bicubic, src, dst, hx, vy, rowStart, inv, begin, end); break;
          case 3: AreaDispatch<3>(kind, bicubic, src, dst, hx, vy, rowStart, inv, begin, end); break;
          case 4: AreaDispatch<4>(kind, bicubic, src, dst, hx, vy, rowStart, inv, begin, end); break;
          default: break;
        }
      },
      [&](int last) {
        if (percent) percent(static_cast<int>(std::trunc(static_cast<double>(last + 1) / H2 * 100)));
      });
}

// ---------------------------------------------------------------------------
// Alpha under the area walk, nearest pixel

namespace {

// One axis of the linear alpha method: interpolation (enlarging) or the
// mean of a run of samples (otherwise).
struct LinearAxis {
  bool enlarge = false;
  std::vector<int> a, b, f;  // enlarge: k, k + 1 (limited), fraction in 1/131072; else: first, last
};

LinearAxis MakeLinearAxis(int n, int n2, bool alongRows) {
  LinearAxis ax;
  const double e = static_cast<double>(n2) / n;
  ax.enlarge = n2 > n;
  ax.a.resize(n2);
  ax.b.resize(n2);
  ax.f.resize(n2);
  for (int i = 0; i < n2; ++i) {
    if (ax.enlarge) {
      const double q = i / e;
      const double k = std::trunc(q);
      const int ki = Clamp(static_cast<int>(k), 0, n - 1);
      ax.a[i] = ki;
      ax.b[i] = std::min(ki + 1, n - 1);
      ax.f[i] = static_cast<int>(std::trunc((q - k) * 131072));
    } else {
      const int first = Clamp(static_cast<int>(std::trunc(i / e)), 0, n - 1);
      const double endPos = std::min(i + 1, n2 - 1) / e + (alongRows ? 0.0000000001 : 0.0);
      ax.a[i] = first;
      ax.b[i] = Clamp(static_cast<int>(std::trunc(endPos)), first, n - 1);
    }
  }
  return ax;
}

}  // namespace

void LinearAlphaResample(const IEBitmap& src, IEBitmap& dst) {
  const int W = src.Width(), H = src.Height(), W2 = dst.Width(), H2 = dst.Height();
  if (W < 1 || H < 1 || W2 < 1 || H2 < 1) return;
  if (W == W2 && H == H2) {
    for (int y = 0; y < H; ++y) std::memcpy(dst.ScanLine(y), src.ScanLine(y), static_cast<std::size_t>(W));
    return;
  }
  const LinearAxis ax = MakeLinearAxis(W, W2, true);
  const LinearAxis ay = MakeLinearAxis(H, H2, false);
  Buffer mid;
  if (!mid.Allocate(static_cast<std::size_t>(W2), H)) return;
  ParallelRows(0, H, [&](int begin, int end) {
    for (int y = begin; y < end; ++y) {
      const uint8_t* s = src.ScanLine(y);
      uint8_t* d = mid.Row(y);
      for (int i = 0; i < W2; ++i) {
        if (ax.enlarge) {
          const int a0 = s[ax.a[i]], a1 = s[ax.b[i]];
          d[i] = static_cast<uint8_t>(a0 + (((a1 - a0) * ax.f[i]) >> 17));
        } else {
          int sum = 0;
          for (int k = ax.a[i]; k <= ax.b[i]; ++k) sum += s[k];
          d[i] = static_cast<uint8_t>(sum / (ax.b[i] - ax.a[i] + 1));
        }
      }
    }
  });
  ParallelRows(0, H2, [&](int begin, int end) {
    std::vector<int> sum(W2);
    for (int y = begin; y < end; ++y) {
      uint8_t* d = dst.ScanLine(y);
      if (ay.enlarge) {
        const uint8_t* r0 = mid.Row(ay.a[y]);
        const uint8_t* r1 = mid.Row(ay.b[y]);
        const int f = ay.f[y];
        for (int x = 0; x < W2; ++x) d[x] = static_cast<uint8_t>(r0[x] + (((r1[x] - r0[x]) * f) >> 17));
      } else {
        std::fill(sum.begin(), sum.end(), 0);
        for (int k = ay.a[y]; k <= ay.b[y]; ++k) {
          const uint8_t* r = mid.Row(k);
          for (int x = 0; x < W2; ++x) sum[x] += r[x];
        }
        const int count = ay.b[y] - ay.a[y] + 1;
        for (int x = 0; x < W2; ++x) d[x] = static_cast<uint8_t>(sum[x] / count);
      }
    }
  });
}

namespace {

template <int B>
void NearestRow(const uint8_t* s, uint8_t* d, const int* cols, int n) {
  for (int x = 0; x < n; ++x) std::memcpy(d + static_cast<std::size_t>(x) * B, s + static_cast<std::size_t>(cols[x]) * B, B);
}

}  // namespace

void NearestResample(const IEBitmap& src, IEBitmap& dst, const PercentFn& percent) {
  const int W = src.Width(), H = src.Height(), W2 = dst.Width(), H2 = dst.Height();
  if (W < 1 || H < 1 || W2 < 1 || H2 < 1 || src.PixelFormat() != dst.PixelFormat()) return;
  const double r = static_cast<double>(W) / W2, q = static_cast<double>(H) / H2;
  std::vector<int> cols(W2), rows(H2);
  for (int x = 0; x < W2; ++x) cols[x] = std::min(static_cast<int>(std::trunc(x * r)), W - 1);
  for (int y = 0; y < H2; ++y) rows[y] = std::min(static_cast<int>(std::trunc(y * q)), H - 1);
  const int bits = src.BitCount();
  ParallelRows(
      0, H2,
      [&](int begin, int end) {
        for (int y = begin; y < end; ++y) {
          const uint8_t* s = src.ScanLine(rows[y]);
          uint8_t* d = dst.ScanLine(y);
          switch (bits) {
            case 1:
              std::memset(d, 0, dst.RowLen());
              for (int x = 0; x < W2; ++x)
                if ((s[cols[x] >> 3] >> (7 - (cols[x] & 7))) & 1) d[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
              break;
            case 8: NearestRow<1>(s, d, cols.data(), W2); break;
            case 16: NearestRow<2>(s, d, cols.data(), W2); break;
            case 24: NearestRow<3>(s, d, cols.data(), W2); break;
            case 32: NearestRow<4>(s, d, cols.data(), W2); break;
            case 48: NearestRow<6>(s, d, cols.data(), W2); break;
            default: break;
          }
        }
      },
      [&](int last) {
        if (percent) percent(static_cast<int>(std::trunc(last * 100 / (H2 + 0.5))));
      });
}

bool ResampleFits(int H, int64_t W2, int64_t H2, ResampleFilter f) {
  if (W2 < 1 || H2 < 1 || W2 > kMaxGeometrySide || H2 > kMaxGeometrySide) return false;
  if (W2 * H2 > kMaxGeometryPixels) return false;
  // The kernel method's work buffer, and that of the alpha channel under
  // the area walk, hold W2 x H.
  if (MethodOf(f) != ResampleMethod::Nearest && W2 * H > kMaxGeometryPixels) return false;
  return true;
}

// ---------------------------------------------------------------------------
// Rotate

bool SplitAngle(double angle, int& quarterTurns, double& rest) {
  if (!std::isfinite(angle)) return false;
  // Thousandths of a degree; the remainder keeps the sign of the angle.
  const double a = std::fmod(std::trunc(angle * 1000), 360000.0);
  if (!std::isfinite(a)) return false;
  double c = a / 1000;
  int turns = 0;
  while (c > 45) {
    c -= 90;
    ++turns;
  }
  while (c < -45) {
    c += 90;
    --turns;
  }
  quarterTurns = ((turns % 4) + 4) % 4;
  rest = c;
  return true;
}

ShearGeometry ShearSizes(int W0, int H0, double c) {
  ShearGeometry g;
  const double theta = c * M_PI / 180;
  g.t = std::fabs(std::tan(theta / 2));
  g.s = std::fabs(std::sin(theta));
  g.positive = theta > 0;
  g.w0 = W0;
  g.h0 = H0;
  auto R = [](double v) { return static_cast<int>(std::nearbyint(v)); };
  g.w1 = R(H0 * g.t + W0 + 1);
  g.v = R((g.w1 - W0) * g.s);
  const int tall = R(g.s * g.w1 + H0 + 1);
  g.h2 = tall - 2 * g.v;
  g.u = R(g.t * (tall - H0 - g.v));
  g.w3 = R(g.t * g.h2 + g.w1 + 1 - 2 * g.u);
  return g;
}

namespace {

template <int B>
void TurnBlock(const IEBitmap& src, IEBitmap& dst, int turns, int y0, int y1) {
  const int W = src.Width(), H = src.Height(), dw = dst.Width();
  constexpr int kTile = 64;
  for (int xt = 0; xt < dw; xt += kTile) {
    const int xe = std::min(dw, xt + kTile);
    for (int y = y0; y < y1; ++y) {
      uint8_t* d = dst.ScanLine(y);
      if (turns == 1) {
        // dst(x, y) = src(W - 1 - y, x)
        const std::size_t sx = static_cast<std::size_t>(W - 1 - y) * B;
        for (int x = xt; x < xe; ++x) std::memcpy(d + static_cast<std::size_t>(x) * B, src.ScanLine(x) + sx, B);
      } else if (turns == 3) {
        // dst(x, y) = src(y, H - 1 - x)
        const std::size_t sx = static_cast<std::size_t>(y) * B;
        for (int x = xt; x < xe; ++x)
          std::memcpy(d + static_cast<std::size_t>(x) * B, src.ScanLine(H - 1 - x) + sx, B);
      } else {
        // dst(x, y) = src(W - 1 - x, H - 1 - y)
        const uint8_t* s = src.ScanLine(H - 1 - y);
        for (int x = xt; x < xe; ++x)
          std::memcpy(d + static_cast<std::size_t>(x) * B, s + static_cast<std::size_t>(W - 1 - x) * B, B);
      }
    }
  }
}

// out[i] = BlendRound(prev[i] x C + cur[i] x (4096 - C)) for a run of bytes.
// Written as cur x 4096 + (prev - cur) x C: the product of two 16-bit
// values vectorizes well, and cur x 4096 does not change the rounding
// (it is a multiple of 4096).
__attribute__((target_clones("avx2", "default"))) void BlendBytes(const uint8_t* prev, const uint8_t* cur,
                                                                  uint8_t* out, int n, int C) {
  const int16_t c16 = static_cast<int16_t>(C);
  for (int i = 0; i < n; ++i) {
    const int v = cur[i];
    const int t = static_cast<int16_t>(prev[i] - v) * c16;
    const int q = (t + 2048) >> 12;
    const int r = v + ((t + 4095 + ((v + q) & 1)) >> 12);
    out[i] = static_cast<uint8_t>(r < 0 ? 0 : (r > 255 ? 255 : r));
  }
}

// The same with a weight per byte.
__attribute__((target_clones("avx2", "default"))) void BlendBytesWeighted(const uint8_t* prev, const uint8_t* cur,
                                                                          uint8_t* out, int n, const int16_t* C) {
  for (int i = 0; i < n; ++i) {
    const int v = cur[i];
    const int t = static_cast<int16_t>(prev[i] - v) * C[i];
    const int q = (t + 2048) >> 12;
    const int r = v + ((t + 4095 + ((v + q) & 1)) >> 12);
    out[i] = static_cast<uint8_t>(r < 0 ? 0 : (r > 255 ? 255 : r));
  }
}

template <int B>
void FillPixels(uint8_t* d, int n, const uint8_t* bg) {
  if constexpr (B == 1) {
    std::memset(d, bg[0], static_cast<std::size_t>(n));
  } else {
    for (int x = 0; x < n; ++x) std::memcpy(d + static_cast<std::size_t>(x) * B, bg, B);
  }
}

// One line of a shear: the N samples of s land at shift .. shift + N - 1
// of the M places of d (those outside are dropped), the other places get
// the background. With anti-aliasing each sample is mixed with the one
// before it (the background for the first one that lands), weights C and
// 4096 - C, and a positive C leaves a last mix with the background just
// after the line.
template <int B>
void ShearRow(const uint8_t* s, int N, uint8_t* d, int M, int shift, bool aa, int C, const uint8_t* bg) {
  const int lo = std::max(0, -shift), hi = std::min(N, M - shift);
  if (hi > lo) {
    FillPixels<B>(d, std::min(M, lo + shift), bg);
    FillPixels<B>(d + static_cast<std::size_t>(hi + shift) * B, M - (hi + shift), bg);
  } else {
    FillPixels<B>(d, M, bg);
  }
  const int D = 4096 - C;
  if (hi > lo) {
    uint8_t* o = d + static_cast<std::size_t>(lo + shift) * B;
    const uint8_t* c = s + static_cast<std::size_t>(lo) * B;
    if (!aa) {
      std::memcpy(o, c, static_cast<std::size_t>(hi - lo) * B);
    } else {
      for (int b = 0; b < B; ++b) o[b] = BlendRound(bg[b] * C + c[b] * D);
      // Later samples: byte i mixes with byte i - B, one flat run.
      const int nb = (hi - lo - 1) * B;
      BlendBytes(c, c + B, o + B, nb, C);
    }
  }
  if (aa && C > 0) {
    const int p = N + shift;
    if (p >= 0 && p < M) {
      const uint8_t* prev = hi > lo ? s + static_cast<std::size_t>(N - 1) * B : bg;
      uint8_t* o = d + static_cast<std::size_t>(p) * B;
      for (int b = 0; b < B; ++b) o[b] = BlendRound(prev[b] * C + bg[b] * D);
    }
  }
}

// The three shears. Pass 1 writes every pixel straight to the row where
// pass 2 moves it (each column has its own downward shift), so that the
// column pass becomes a blend of two neighbouring rows with a weight per
// column; it runs together with pass 3, row by row. The order of the
// samples, the weights and the edge rules are those of the passes one
// after the other.
template <int B>
bool ShearRotateT(const IEBitmap& src, IEBitmap& dst, const ShearGeometry& g, bool aa, const uint8_t* bg,
                  const PercentFn& percent) {
  const int W0 = g.w0, H0 = g.h0, W1 = g.w1, H2 = g.h2, W3 = g.w3;
  const double T = g.t, S = g.s;
  if (W1 < 1 || H2 < 1 || W3 < 1) return false;
  const std::size_t rowBytes = static_cast<std::size_t>(W1) * B;

  // Pass 2's shift and weight of every column, and the runs of columns
  // that share a shift (the shift is monotonic in x).
  std::vector<int> shift(W1), weight(W1);
  std::vector<int16_t> byteWeight(rowBytes);
  for (int x = 0; x < W1; ++x) {
    const double K = g.positive ? (W1 - x) * S : x * S;
    const double rounded = std::nearbyint(K);
    shift[x] = static_cast<int>(rounded) - g.v;
    weight[x] = static_cast<int>(std::nearbyint((K - rounded) * 4096));
    for (int b = 0; b < B; ++b) byteWeight[static_cast<std::size_t>(x) * B + b] = static_cast<int16_t>(weight[x]);
  }
  std::vector<int> runs;  // starts of the runs, then W1
  for (int x = 0; x < W1; ++x)
    if (x == 0 || shift[x] != shift[x - 1]) runs.push_back(x);
  runs.push_back(W1);

  Buffer moved;  // pass 1's result with every column moved down already
  if (!moved.Allocate(rowBytes, H2)) return false;
  if (!AllocateLike(dst, W3, H2, src)) return false;
  std::vector<uint8_t> bgRow(rowBytes);
  FillPixels<B>(bgRow.data(), W1, bg);

  const double P = 100.0 / (static_cast<double>(H0) + W1 + H2);
  auto report = [&](double v) {
    if (percent) percent(static_cast<int>(std::trunc(v)));
  };

  ParallelRows(0, H2, [&](int begin, int end) {
    for (int y = begin; y < end; ++y) std::memcpy(moved.Row(y), bgRow.data(), rowBytes);
  });

  // Pass 1: rows move right; the runs of each row go down to their rows.
  ParallelRows(
      0, H0,
      [&](int begin, int end) {
        std::vector<uint8_t> line(rowBytes);
        for (int y = begin; y < end; ++y) {
          const double J = g.positive ? y * T : (H0 - y) * T;
          const double rounded = std::nearbyint(J);
          const int C = static_cast<int>(std::trunc((J - rounded) * 4096));
          ShearRow<B>(src.ScanLine(y), W0, line.data(), W1, static_cast<int>(rounded), aa, C, bg);
          for (std::size_t r = 0; r + 1 < runs.size(); ++r) {
            const int Y = y + shift[runs[r]];
            if (Y < 0 || Y >= H2) continue;  // dropped by pass 2
            const std::size_t from = static_cast<std::size_t>(runs[r]) * B;
            std::memcpy(moved.Row(Y) + from, line.data() + from, static_cast<std::size_t>(runs[r + 1] - runs[r]) * B);
          }
        }
      },
      [&](int last) { report(last * P); });

  // Pass 2 (the blend of rows Y - 1 and Y) and pass 3, row by row. In row
  // Y, column x holds sample k = Y - shift[x] of its column; k runs
  // monotonically along the row.
  auto firstWhere = [&](auto pred) {  // first x where pred turns true
    int lo = 0, hi = W1;
    while (lo < hi) {
      const int mid = lo + (hi - lo) / 2;
      if (pred(mid))
        hi = mid;
      else
        lo = mid + 1;
    }
    return lo;
  };
  ParallelRows(
      0, H2,
      [&](int begin, int end) {
        std::vector<uint8_t> mid(rowBytes);
        for (int Y = begin; Y < end; ++Y) {
          const uint8_t* line = moved.Row(Y);
          if (aa) {
            // Columns with 0 <= k <= H0 get the blend; above them, below
            // them and where k = H0 without a positive weight, the
            // background.
            int lo, hi;
            if (g.positive) {
              lo = firstWhere([&](int x) { return shift[x] <= Y; });
              hi = firstWhere([&](int x) { return shift[x] < Y - H0; });
            } else {
              lo = firstWhere([&](int x) { return shift[x] >= Y - H0; });
              hi = firstWhere([&](int x) { return shift[x] > Y; });
            }
            hi = std::max(hi, lo);
            std::memcpy(mid.data(), bgRow.data(), static_cast<std::size_t>(lo) * B);
            std::memcpy(mid.data() + static_cast<std::size_t>(hi) * B, bgRow.data(), static_cast<std::size_t>(W1 - hi) * B);
            const uint8_t* prev = Y > 0 ? moved.Row(Y - 1) : bgRow.data();
            const std::size_t a = static_cast<std::size_t>(lo) * B;
            BlendBytesWeighted(prev + a, line + a, mid.data() + a, (hi - lo) * B, byteWeight.data() + a);
            if (g.positive) {
              for (int x = hi - 1; x >= lo && shift[x] == Y - H0; --x)
                if (weight[x] <= 0) std::memcpy(mid.data() + static_cast<std::size_t>(x) * B, bg, B);
            } else {
              for (int x = lo; x < hi && shift[x] == Y - H0; ++x)
                if (weight[x] <= 0) std::memcpy(mid.data() + static_cast<std::size_t>(x) * B, bg, B);
            }
            line = mid.data();
          }
          const double L = g.positive ? Y * T : (H2 - Y) * T;
          const double rounded = std::nearbyint(L);
          const int C = static_cast<int>(std::nearbyint((L - rounded) * 4096));
          ShearRow<B>(line, W1, dst.ScanLine(Y), W3, static_cast<int>(rounded) - g.u, aa, C, bg);
        }
      },
      // Pass 2's columns and pass 3's rows are done together.
      [&](int last) { report((H0 + (static_cast<double>(last) + 1) * (W1 + H2) / H2 - 1) * P); });
  return true;
}

}  // namespace

bool QuarterTurn(const IEBitmap& src, IEBitmap& dst, int quarterTurns) {
  const int turns = ((quarterTurns % 4) + 4) % 4;
  const int W = src.Width(), H = src.Height();
  if (src.IsEmpty()) return false;
  if (turns == 0) {
    dst.AssignImage(src);
    return !dst.IsEmpty();
  }
  const bool swap = turns != 2;
  if (!AllocateLike(dst, swap ? H : W, swap ? W : H, src)) return false;
  const int bytes = src.BitCount() / 8;
  ParallelRows(
      0, dst.Height(),
      [&](int begin, int end) {
        switch (bytes) {
          case 1: TurnBlock<1>(src, dst, turns, begin, end); break;
          case 2: TurnBlock<2>(src, dst, turns, begin, end); break;
          case 3: TurnBlock<3>(src, dst, turns, begin, end); break;
          case 4: TurnBlock<4>(src, dst, turns, begin, end); break;
          case 6: TurnBlock<6>(src, dst, turns, begin, end); break;
          default: break;
        }
      },
      {}, 16);
  return true;
}

bool ShearRotate(const IEBitmap& src, IEBitmap& dst, const ShearGeometry& g, bool antialias, const uint8_t* bg,
                 const PercentFn& percent) {
  if (src.IsEmpty() || src.Width() != g.w0 || src.Height() != g.h0) return false;
  const bool aa = antialias && ByteChannels(src.PixelFormat()) > 0;
  switch (src.BitCount() / 8) {
    case 1: return ShearRotateT<1>(src, dst, g, aa, bg, percent);
    case 2: return ShearRotateT<2>(src, dst, g, aa, bg, percent);
    case 3: return ShearRotateT<3>(src, dst, g, aa, bg, percent);
    case 4: return ShearRotateT<4>(src, dst, g, aa, bg, percent);
    case 6: return ShearRotateT<6>(src, dst, g, aa, bg, percent);
    default: return false;
  }
}

std::string RotateLabel(double angle) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, angle, std::chars_format::general, 15);
  std::string s(buf, r.ptr);
  // "1e+20" is written 1E20, "1.5e-07" 1.5E-7.
  if (const auto e = s.find('e'); e != std::string::npos) {
    std::string exponent = s.substr(e + 1);
    const bool negative = !exponent.empty() && exponent[0] == '-';
    if (!exponent.empty() && (exponent[0] == '-' || exponent[0] == '+')) exponent.erase(0, 1);
    exponent.erase(0, std::min(exponent.find_first_not_of('0'), exponent.size() - 1));
    s = s.substr(0, e) + "E" + (negative ? "-" : "") + exponent;
  }
  const lconv* lc = std::localeconv();
  if (lc && lc->decimal_point && lc->decimal_point[0] && std::strcmp(lc->decimal_point, ".") != 0)
    if (const auto dot = s.find('.'); dot != std::string::npos) s.replace(dot, 1, lc->decimal_point);
  return "Rotate " + s;
}

}  // namespace geometry

// ---------------------------------------------------------------------------
// The operations

namespace {

using namespace geometry;

IEBitmap* CurrentBitmap(ImageProc& proc) {
  ProcTarget& t = proc.AttachedCanvas();
  const int n = t.LayerCount(), i = t.CurrentLayerIndex();
  if (n <= 0 || i < 0 || i >= n) return nullptr;
  return &t.LayerBitmap(i);
}

// EndOperation's last steps: repaint, notify, 100 %, finished.
void Finish(ImageProc& proc) {
  proc.AttachedCanvas().Repaint();
  proc.AttachedCanvas().ImageChanged();
  if (proc.OnProgress) proc.OnProgress(100);
  if (proc.OnFinishWork) proc.OnFinishWork();
}

// Forwards a percentage to OnProgress when it changes.
PercentFn Reporter(ImageProc& proc) {
  return [&proc, last = -1](int p) mutable {
    if (p == last) return;
    last = p;
    if (proc.OnProgress) proc.OnProgress(p);
  };
}

// The layer's bitmap becomes the result, alpha channel included. A layer
// kept in another storage (a standard bitmap of the GUI) keeps it.
void Replace(IEBitmap& layer, IEBitmap&& result) {
  if (layer.Location() == result.Location())
    layer = std::move(result);
  else
    layer.Assign(result);
}

void ResampleLayer(IEBitmap& bmp, int W2, int H2, ResampleFilter filter, const PercentFn& percent) {
  ResampleMethod method = MethodOf(filter);
  const F fmt = bmp.PixelFormat();
  IEBitmap converted;
  IEBitmap* src = &bmp;
  if (method != ResampleMethod::Nearest) {
    if (fmt == F::ie1g || fmt == F::ie8p) {
      // Mixed samples have no place in a bi-level or palette picture.
      if (!converted.Allocate(bmp.Width(), bmp.Height(), F::ie24RGB) || converted.IsEmpty()) return;
      ConvertPixels(bmp, converted);
      src = &converted;
    } else if (ByteChannels(fmt) == 0) {
      method = ResampleMethod::Nearest;  // 16-bit and float samples: whole pixels
    }
  }
  IEBitmap out;
  if (!AllocateLike(out, W2, H2, *src)) return;

  const IEBitmap* alpha = bmp.AlphaChannelIfAny();
  if (alpha && src->PixelFormat() == F::ie24RGB && !bmp.AlphaAllOpaque()) {
    // Invisible pixels turn mid-grey so that they do not tint their
    // neighbours.
    ParallelRows(0, src->Height(), [&](int begin, int end) {
      for (int y = begin; y < end; ++y) {
        const uint8_t* a = alpha->ScanLine(y);
        uint8_t* p = src->ScanLine(y);
        for (int x = 0; x < src->Width(); ++x)
          if (a[x] == 0) std::memset(p + 3 * x, 128, 3);
      }
    });
  }

  switch (method) {
    case ResampleMethod::Nearest:
      NearestResample(*src, out, percent);
      break;
    case ResampleMethod::Kernel:
      if (!KernelResample(*src, out, ByteChannels(src->PixelFormat()), filter, percent)) return;
      break;
    case ResampleMethod::Area:
      AreaResample(*src, out, ByteChannels(src->PixelFormat()), filter == rfBicubic, percent);
      break;
  }
  if (alpha) {
    IEBitmap& na = out.AlphaChannel();
    if (na.IsEmpty()) return;
    switch (method) {
      case ResampleMethod::Nearest:
        NearestResample(*alpha, na, {});
        break;
      case ResampleMethod::Kernel:
        if (!KernelResample(*alpha, na, 1, filter, {})) return;
        break;
      case ResampleMethod::Area:
        LinearAlphaResample(*alpha, na);
        break;
    }
    out.SetAlphaAllOpaque(bmp.AlphaAllOpaque());
  }
  Replace(bmp, std::move(out));
}

// One pixel of colour c in format f (a palette picture: its nearest entry).
void BackgroundPixel(F f, const IETriple* palette, Color c, uint8_t* out) {
  const IETriple t = ColorToTriple(c);
  if (f == F::ie8p) {
    int best = 0, bestDistance = 1 << 30;
    for (int i = 0; palette && i < 256; ++i) {
      const int db = palette[i].b - t.b, dg = palette[i].g - t.g, dr = palette[i].r - t.r;
      const int dist = db * db + dg * dg + dr * dr;
      if (dist < bestDistance) best = i, bestDistance = dist;
    }
    out[0] = static_cast<uint8_t>(best);
    return;
  }
  IEBitmap one(1, 1, F::ie24RGB), conv(1, 1, f);
  if (one.IsEmpty() || conv.IsEmpty()) return;
  one.Pixel24(0, 0) = t;
  ConvertPixels(one, conv);
  std::memcpy(out, conv.ScanLine(0), static_cast<std::size_t>(conv.BitCount() / 8));
}

void RotateLayer(IEBitmap& bmp, int turns, double c, const ShearGeometry& g, bool antialias, Color background,
                 const PercentFn& percent) {
  if (turns == 0 && c == 0) return;
  const F fmt = bmp.PixelFormat();
  const bool shear = c != 0;
  // Bits are turned as grey levels; anti-aliased bits and palette indices
  // become colours, since mixing needs them.
  F workFmt = fmt;
  if (fmt == F::ie1g) workFmt = antialias && shear ? F::ie24RGB : F::ie8g;
  if (fmt == F::ie8p && antialias && shear) workFmt = F::ie24RGB;
  IEBitmap converted;
  const IEBitmap* src = &bmp;
  if (workFmt != fmt) {
    if (!converted.Allocate(bmp.Width(), bmp.Height(), workFmt) || converted.IsEmpty()) return;
    ConvertPixels(bmp, converted);
    src = &converted;
  }
  if (src->BitCount() % 8 != 0) return;
  uint8_t bg[8] = {};
  BackgroundPixel(workFmt, src->Palette(), background, bg);

  IEBitmap turned, out;
  if (turns != 0) {
    if (!QuarterTurn(*src, turned, turns)) return;
    src = &turned;
  }
  if (shear) {
    if (!ShearRotate(*src, out, g, antialias, bg, percent)) return;
  } else {
    out = std::move(turned);
  }
  if (fmt == F::ie1g && workFmt == F::ie8g && !out.ConvertFormat(F::ie1g)) return;

  if (const IEBitmap* alpha = bmp.AlphaChannelIfAny()) {
    IEBitmap turnedAlpha, newAlpha;
    const IEBitmap* a = alpha;
    if (turns != 0) {
      if (!QuarterTurn(*alpha, turnedAlpha, turns)) return;
      a = &turnedAlpha;
    }
    const uint8_t transparent[8] = {};
    if (shear) {
      if (!ShearRotate(*a, newAlpha, g, antialias, transparent, {})) return;
    } else {
      newAlpha = std::move(turnedAlpha);
    }
    out.AlphaChannel() = std::move(newAlpha);
    out.SetAlphaAllOpaque(shear ? false : bmp.AlphaAllOpaque());
  }
  Replace(bmp, std::move(out));
}

template <int B>
void ReverseRow(uint8_t* row, int n) {
  uint8_t* a = row;
  uint8_t* b = row + static_cast<std::size_t>(n - 1) * B;
  uint8_t t[B];
  for (; a < b; a += B, b -= B) {
    std::memcpy(t, a, B);
    std::memcpy(a, b, B);
    std::memcpy(b, t, B);
  }
}

void FlipPixels(IEBitmap& bmp, int direction) {
  const int W = bmp.Width(), H = bmp.Height();
  if (bmp.IsEmpty()) return;
  const std::size_t rowLen = bmp.RowLen();
  if (direction == 1) {
    ParallelRows(0, H / 2, [&](int begin, int end) {
      std::vector<uint8_t> tmp(rowLen);
      for (int y = begin; y < end; ++y) {
        uint8_t* a = bmp.ScanLine(y);
        uint8_t* b = bmp.ScanLine(H - 1 - y);
        std::memcpy(tmp.data(), a, rowLen);
        std::memcpy(a, b, rowLen);
        std::memcpy(b, tmp.data(), rowLen);
      }
    });
    return;
  }
  const int bits = bmp.BitCount();
  ParallelRows(0, H, [&](int begin, int end) {
    std::vector<uint8_t> tmp(rowLen);
    for (int y = begin; y < end; ++y) {
      uint8_t* row = bmp.ScanLine(y);
      switch (bits) {
        case 1: {
          // Bit x takes bit W - 1 - x: the first pixel stays at the row's
          // start whatever the padding.
          std::memcpy(tmp.data(), row, rowLen);
          std::memset(row, 0, rowLen);
          for (int x = 0; x < W; ++x) {
            const int sx = W - 1 - x;
            if ((tmp[sx >> 3] >> (7 - (sx & 7))) & 1) row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
          }
          break;
        }
        case 8: ReverseRow<1>(row, W); break;
        case 16: ReverseRow<2>(row, W); break;
        case 24: ReverseRow<3>(row, W); break;
        case 32: ReverseRow<4>(row, W); break;
        case 48: ReverseRow<6>(row, W); break;
        default: break;
      }
    }
  });
}

// dst + floor((src - dst) * m / 256), the blend of a feathered selection.
inline uint8_t MaskBlend(int dst, int src, int m) { return static_cast<uint8_t>(dst + (((src - dst) * (m * 1024)) >> 18)); }

void CropToMask(IEBitmap& bmp, const IEMask& mask, Color background) {
  const int X1 = mask.X1, Y1 = mask.Y1;
  const int bw = mask.X2 - X1 + 1, bh = mask.Y2 - Y1 + 1;
  if (bw < 1 || bh < 1) return;
  IEBitmap out;
  if (!AllocateLike(out, bw, bh, bmp)) return;
  out.Fill(static_cast<double>(background));
  const F fmt = bmp.PixelFormat();
  const int bits = bmp.BitCount();
  const int bytes = bits / 8;
  const bool eight = mask.Depth() == 8;
  const bool blend = eight && (fmt == F::ie24RGB || fmt == F::ie8g);
  const IEBitmap* srcAlpha = bmp.AlphaChannelIfAny();
  std::vector<uint8_t> alpha(static_cast<std::size_t>(bw) * bh);
  std::vector<uint8_t> opaqueRows(bh, 1);
  ParallelRows(0, bh, [&](int begin, int end) {
    for (int yy = begin; yy < end; ++yy) {
      const int y = Y1 + yy;
      uint8_t* a = alpha.data() + static_cast<std::size_t>(yy) * bw;
      const bool rowInside = y >= 0 && y < bmp.Height() && y < mask.Height();
      const uint8_t* m = rowInside ? mask.ScanLine(y) : nullptr;
      const uint8_t* s = rowInside ? bmp.ScanLine(y) : nullptr;
      const uint8_t* sa = rowInside && srcAlpha ? srcAlpha->ScanLine(y) : nullptr;
      uint8_t* d = out.ScanLine(yy);
      bool opaque = true;
      for (int xx = 0; xx < bw; ++xx) {
        const int x = X1 + xx;
        int mv = 0;
        if (m && x >= 0 && x < bmp.Width() && x < mask.Width()) mv = eight ? m[x] : (m[x >> 3] >> (7 - (x & 7))) & 1;
        if (mv == 0) {
          a[xx] = 0;
          opaque = false;
          continue;
        }
        if (bits == 1) {
          out.SetBit(xx, yy, (s[x >> 3] >> (7 - (x & 7))) & 1);
        } else if (blend) {
          for (int c = 0; c < bytes; ++c) d[xx * bytes + c] = MaskBlend(d[xx * bytes + c], s[x * bytes + c], mv);
        } else {
          std::memcpy(d + static_cast<std::size_t>(xx) * bytes, s + static_cast<std::size_t>(x) * bytes, bytes);
        }
        const int coverage = eight ? mv : 255;
        a[xx] = static_cast<uint8_t>(std::min(sa ? static_cast<int>(sa[x]) : 255, coverage));
        opaque &= a[xx] == 255;
      }
      opaqueRows[yy] = opaque;
    }
  });
  const bool allOpaque = std::all_of(opaqueRows.begin(), opaqueRows.end(), [](uint8_t v) { return v != 0; });
  if (!allOpaque) {
    IEBitmap& na = out.AlphaChannel();
    if (na.IsEmpty()) return;
    for (int yy = 0; yy < bh; ++yy)
      std::memcpy(na.ScanLine(yy), alpha.data() + static_cast<std::size_t>(yy) * bw, static_cast<std::size_t>(bw));
    out.SetAlphaAllOpaque(false);
  }
  Replace(bmp, std::move(out));
}

}  // namespace

void ImageProc::Resample(int newWidth, int newHeight, ResampleFilter filter) {
  IEBitmap* bmp = CurrentBitmap(*this);
  if (!bmp || bmp->IsEmpty()) return;
  const int W = bmp->Width(), H = bmp->Height();
  const bool keep = newWidth < 0 && newHeight < 0;
  int64_t W2 = W, H2 = H;
  if (!keep) {
    ResampleTargetSize(W, H, newWidth, newHeight, W2, H2);
    if (!ResampleFits(H, W2, H2, filter)) return;
  }
  if (AutoUndo) SaveUndo(Label("Resample", {newWidth, newHeight}));
  if (!keep) ResampleLayer(*bmp, static_cast<int>(W2), static_cast<int>(H2), filter, Reporter(*this));
  Finish(*this);
}

void ImageProc::Rotate(bool antialias, uint8_t mode, double angle, Color background) {
  // A non-zero mode with anti-aliasing would ask for an interpolating
  // rotation; the three shears serve every mode.
  (void)mode;
  IEBitmap* bmp = CurrentBitmap(*this);
  if (!bmp || angle == 0 || bmp->IsEmpty()) return;
  int turns = 0;
  double c = 0;
  if (!SplitAngle(angle, turns, c)) return;
  const bool swap = turns % 2 != 0;
  const int W0 = swap ? bmp->Height() : bmp->Width(), H0 = swap ? bmp->Width() : bmp->Height();
  ShearGeometry g;
  if (c != 0) {
    g = ShearSizes(W0, H0, c);
    auto fits = [](int64_t w, int64_t h) {
      return w >= 1 && h >= 1 && w <= kMaxGeometrySide && h <= kMaxGeometrySide && w * h <= kMaxGeometryPixels;
    };
    if (!fits(g.w1, H0) || !fits(g.w1, g.h2) || !fits(g.w3, g.h2)) return;
  }
  if (AutoUndo) SaveUndo(RotateLabel(angle));
  RotateLayer(*bmp, turns, c, g, antialias, background == kProcessorBackground ? Background : background,
              Reporter(*this));
  Finish(*this);
}

void ImageProc::Flip(int direction) {
  IEBitmap* bmp = CurrentBitmap(*this);
  if (!bmp || bmp->IsEmpty() || (direction != 0 && direction != 1)) return;
  if (AutoUndo) SaveUndo("Flip");
  FlipPixels(*bmp, direction);
  if (bmp->HasAlphaChannel()) FlipPixels(bmp->AlphaChannel(), direction);
  // The mirrored pixels replace the old ones as AssignImage does, which
  // forgets that the alpha channel was known to be opaque.
  bmp->SetAlphaAllOpaque(false);
  Finish(*this);
}

void ImageProc::CropSel() {
  IEBitmap* bmp = CurrentBitmap(*this);
  if (!bmp || bmp->IsEmpty()) return;
  if (AutoUndo) SaveUndo("CropSel");
  const IEMask* mask = canvas_->Selection();
  if (mask && !mask->IsEmpty()) CropToMask(*bmp, *mask, Background);
  Finish(*this);
}

}  // namespace velmora
