// Filters, distortions and shadows: operations that read a pixel's
// neighbours or move pixels. Blur, Sharpen, Opening, Wave and Fill run in
// the operation frame; the two shadows keep their own undo copy and work on
// the whole bitmap.
//
// Speed without changing a single result:
// - The Gaussian blur is separable with integer weights. Every partial sum
//   of (weight x sample) is an integer below 2^24, so single-precision
//   vector arithmetic computes it exactly; symmetric taps are added in
//   pairs before the multiply.
// - The opening uses van Herk/Gil-Werman running minima, whose cost does not
//   grow with the radius. Candidates are compared by (grey, row, column),
//   which makes the window's winner unique and equal to the one the plain
//   row-major scan picks; a row pass keeps (grey, column) and a column pass
//   over its winners (grey, row).
// - The wave's sine depends on the distance from the centre alone: pixels
//   mirrored about the centre lines share it.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <immintrin.h>

#include "imaging/Color.h"
#include "imaging/FiltersDetail.h"
#include "imaging/FormatConvert.h"
#include "imaging/ImageProc.h"
#include "imaging/Parallel.h"

namespace velmora {

using F = IEPixelFormat;

namespace {

constexpr int kMaxHalfWidth = 100;

// A shadow that enlarges the picture never makes it larger than a picture
// file may be.
constexpr int64_t kMaxSide = 65535;
constexpr int64_t kMaxPixels = 300'000'000;

std::atomic<bool> gSimd{true};
std::atomic<bool> gWideKeys{false};

bool UseAvx2() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return has && gSimd.load(std::memory_order_relaxed);
}

template <class T>
std::unique_ptr<T[]> TryAlloc(std::size_t n) {
  return std::unique_ptr<T[]>(new (std::nothrow) T[n]);
}

inline uint8_t ClampByte(double v) { return static_cast<uint8_t>(v <= 0 ? 0 : (v >= 255 ? 255 : v)); }

// ---------------------------------------------------------------------------
// Convolution of one span with a symmetric kernel:
//   out[t] = (k0 * c[t] + sum over d = 1..n of kd * (lo[d][t] + hi[d][t]) + 32768) >> 16
// for t in [0, len). Sources may be read up to 31 bytes past len; exactly
// len bytes are written.

// The weights k(0..n) in the forms the two kernels use.
struct SpanWeights {
  int n = 1;
  float f[kMaxHalfWidth + 1];             // k(d) as floats
  int32_t k0 = 0;                         // k(0)
  int32_t pairs[kMaxHalfWidth / 2 + 1];   // k(d) | k(d + 1) << 16 for d = 1, 3, 5, ...; k(n + 1) = 0
};

using SpanFn = void (*)(const uint8_t*, const uint8_t* const*, const uint8_t* const*, const SpanWeights&, int,
                        uint8_t*);

// Writes the first len - j (at most 32) bytes of a finished chunk.
inline void StoreChunk(uint8_t* out, int j, int len, const uint8_t* chunk) {
  std::memcpy(out + j, chunk, static_cast<std::size_t>(std::min(32, len - j)));
}

// SSE2: four lanes at a time, 32 samples per chunk.
void ConvolveSpanGeneric(const uint8_t* c, const uint8_t* const* lo, const uint8_t* const* hi, const SpanWeights& sw,
                         int len, uint8_t* out) {
  const float* kw = sw.f;
  const int n = sw.n;
  const __m128i z = _mm_setzero_si128();
  const __m128 half = _mm_set1_ps(32768.0f), scale = _mm_set1_ps(1.0f / 65536.0f);
  for (int j = 0; j < len; j += 32) {
    __m128 a[8];
    const __m128 k0 = _mm_set1_ps(kw[0]);
    for (int g = 0; g < 2; ++g) {
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + j + 16 * g));
      const __m128i l = _mm_unpacklo_epi8(b, z), h = _mm_unpackhi_epi8(b, z);
      a[4 * g + 0] = _mm_mul_ps(k0, _mm_cvtepi32_ps(_mm_unpacklo_epi16(l, z)));
      a[4 * g + 1] = _mm_mul_ps(k0, _mm_cvtepi32_ps(_mm_unpackhi_epi16(l, z)));
      a[4 * g + 2] = _mm_mul_ps(k0, _mm_cvtepi32_ps(_mm_unpacklo_epi16(h, z)));
      a[4 * g + 3] = _mm_mul_ps(k0, _mm_cvtepi32_ps(_mm_unpackhi_epi16(h, z)));
    }
    for (int d = 1; d <= n; ++d) {
      const __m128 kd = _mm_set1_ps(kw[d]);
      for (int g = 0; g < 2; ++g) {
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lo[d] + j + 16 * g));
        const __m128i q = _mm_loadu_si128(reinterpret_cast<const __m128i*>(hi[d] + j + 16 * g));
        const __m128i l = _mm_add_epi16(_mm_unpacklo_epi8(p, z), _mm_unpacklo_epi8(q, z));
        const __m128i h = _mm_add_epi16(_mm_unpackhi_epi8(p, z), _mm_unpackhi_epi8(q, z));
        a[4 * g + 0] = _mm_add_ps(a[4 * g + 0], _mm_mul_ps(kd, _mm_cvtepi32_ps(_mm_unpacklo_epi16(l, z))));
        a[4 * g + 1] = _mm_add_ps(a[4 * g + 1], _mm_mul_ps(kd, _mm_cvtepi32_ps(_mm_unpackhi_epi16(l, z))));
        a[4 * g + 2] = _mm_add_ps(a[4 * g + 2], _mm_mul_ps(kd, _mm_cvtepi32_ps(_mm_unpacklo_epi16(h, z))));
        a[4 * g + 3] = _mm_add_ps(a[4 * g + 3], _mm_mul_ps(kd, _mm_cvtepi32_ps(_mm_unpackhi_epi16(h, z))));
      }
    }
    // (sum + 32768) is an integer below 2^24 and the scale a power of two:
    // truncating the product is the shift.
    alignas(16) uint8_t chunk[32];
    for (int g = 0; g < 2; ++g) {
      __m128i r[4];
      for (int i = 0; i < 4; ++i) r[i] = _mm_cvttps_epi32(_mm_mul_ps(_mm_add_ps(a[4 * g + i], half), scale));
      const __m128i w = _mm_packus_epi16(_mm_packs_epi32(r[0], r[1]), _mm_packs_epi32(r[2], r[3]));
      _mm_store_si128(reinterpret_cast<__m128i*>(chunk + 16 * g), w);
    }
    StoreChunk(out, j, len, chunk);
  }
}

// AVX2, in integers: the pair sums lo + hi (at most 510) of two taps are
// interleaved and multiplied by their two weights (each at most 21845, as
// k(d) <= k(0) and k(0) + 2 k(d) <= 65536 for d >= 1) in one vpmaddwd,
// into 32-bit sums. Within each 128-bit lane the sums of a group of 16
// samples hold samples 0-3 and 8-11 (lo) or 4-7 and 12-15 (hi); the packs
// at the end put them back in order.
#define VELMORA_U8X16(p) _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)))

__attribute__((target("avx2"))) void ConvolveSpanAvx2(const uint8_t* c, const uint8_t* const* lo,
                                                      const uint8_t* const* hi, const SpanWeights& sw, int len,
                                                      uint8_t* out) {
  const int n = sw.n;
  const __m256i zero = _mm256_setzero_si256(), k0 = _mm256_set1_epi32(sw.k0), half = _mm256_set1_epi32(32768);
  for (int j = 0; j < len; j += 32) {
    __m256i acc[4];
    for (int g = 0; g < 2; ++g) {
      const __m256i v = VELMORA_U8X16(c + j + 16 * g);
      acc[2 * g] = _mm256_mullo_epi32(_mm256_unpacklo_epi16(v, zero), k0);
      acc[2 * g + 1] = _mm256_mullo_epi32(_mm256_unpackhi_epi16(v, zero), k0);
    }
    for (int d = 1; d <= n; d += 2) {
      const __m256i kk = _mm256_set1_epi32(sw.pairs[d >> 1]);
      const uint8_t* pa = lo[d] + j;
      const uint8_t* qa = hi[d] + j;
      // Past n the second weight is 0; any readable row will do.
      const uint8_t* pb = (d < n ? lo[d + 1] : lo[d]) + j;
      const uint8_t* qb = (d < n ? hi[d + 1] : hi[d]) + j;
      for (int g = 0; g < 2; ++g) {
        const __m256i a = _mm256_add_epi16(VELMORA_U8X16(pa + 16 * g), VELMORA_U8X16(qa + 16 * g));
        const __m256i b = _mm256_add_epi16(VELMORA_U8X16(pb + 16 * g), VELMORA_U8X16(qb + 16 * g));
        acc[2 * g] = _mm256_add_epi32(acc[2 * g], _mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), kk));
        acc[2 * g + 1] = _mm256_add_epi32(acc[2 * g + 1], _mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), kk));
      }
    }
    __m256i r[4];
    for (int i = 0; i < 4; ++i) r[i] = _mm256_srli_epi32(_mm256_add_epi32(acc[i], half), 16);
    const __m256i w = _mm256_packus_epi16(_mm256_packs_epi32(r[0], r[1]), _mm256_packs_epi32(r[2], r[3]));
    alignas(32) uint8_t chunk[32];
    _mm256_store_si256(reinterpret_cast<__m256i*>(chunk), _mm256_permute4x64_epi64(w, 0xD8));
    StoreChunk(out, j, len, chunk);
  }
}

#undef VELMORA_U8X16

// ---------------------------------------------------------------------------
// Opening: keys are (grey << shift) | position; a smaller key wins. For the
// dilation the grey is stored as 255 - grey (grey ^ 255).

template <class Key>
struct KeyBits {
  static constexpr int kShift = static_cast<int>(sizeof(Key)) * 4;
  static constexpr Key kPosMask = (Key(1) << kShift) - 1;
};

constexpr int kStripKeys = 256;  // columns per strip of the column pass

// The column pass works down a strip of columns [xs, xs + sw) of the row
// winners R, over the rows extended by ry repeated rows at each end (row i
// of the extension is row clamp(i - ry)), in blocks of k = 2 ry + 1 rows.
// A window [y, y + k - 1] of the extension ends in the block after y's
// (or is y's block when y starts one): its minimum is that of suf[y], the
// minimum from y to the end of its block, and pre[y + k - 1], the minimum
// from the start of the next block to y + k - 1.

// Keys (grey, row) of extended rows [i0, i1) into dst, one row of
// kStripKeys after the other; then running minima towards the block's end
// (forward) or its start (backward).
template <class Key>
[[gnu::always_inline]] inline void BlockMinimaBody(const Key* R, std::size_t Wr, int Hr, int ry, std::size_t xs,
                                                   int sw, int i0, int i1, bool forward, Key* dst) {
  const Key hiMask = static_cast<Key>(~KeyBits<Key>::kPosMask);
  for (int i = i0; i < i1; ++i) {
    const int yy = std::clamp(i - ry, 0, Hr - 1);
    const Key* r = R + static_cast<std::size_t>(yy) * Wr + xs;
    const Key yk = static_cast<Key>(yy);
    Key* d = dst + static_cast<std::size_t>(i - i0) * kStripKeys;
    for (int t = 0; t < sw; ++t) d[t] = (r[t] & hiMask) | yk;
  }
  if (forward) {
    for (int i = 1; i < i1 - i0; ++i) {
      Key* d = dst + static_cast<std::size_t>(i) * kStripKeys;
      const Key* e = d - kStripKeys;
      for (int t = 0; t < sw; ++t) d[t] = d[t] < e[t] ? d[t] : e[t];
    }
  } else {
    for (int i = i1 - i0 - 2; i >= 0; --i) {
      Key* d = dst + static_cast<std::size_t>(i) * kStripKeys;
      const Key* e = d + kStripKeys;
      for (int t = 0; t < sw; ++t) d[t] = d[t] < e[t] ? d[t] : e[t];
    }
  }
}

template <class Key>
void BlockMinimaGeneric(const Key* R, std::size_t Wr, int Hr, int ry, std::size_t xs, int sw, int i0, int i1,
                        bool forward, Key* dst) {
  BlockMinimaBody<Key>(R, Wr, Hr, ry, xs, sw, i0, i1, forward, dst);
}

template <class Key>
__attribute__((target("avx2"))) void BlockMinimaAvx2(const Key* R, std::size_t Wr, int Hr, int ry, std::size_t xs,
                                                     int sw, int i0, int i1, bool forward, Key* dst) {
  BlockMinimaBody<Key>(R, Wr, Hr, ry, xs, sw, i0, i1, forward, dst);
}

// One erosion (dilate false) or dilation of a Wr x Hr picture: grey levels
// gin (row-major), colours of bpp bytes reached through cin's row pointers.
// Writes the winners' colours through cout (which must not alias cin) and,
// when gout is given, their grey levels. Progress: base .. base + 50.
struct MorphIO {
  int Wr = 0, Hr = 0, bpp = 3;
  const uint8_t* gin = nullptr;
  std::vector<const uint8_t*> cin;
  std::vector<uint8_t*> cout;
  uint8_t* gout = nullptr;
};

template <class Key, int Bpp>
bool MorphPass(const MorphIO& io, int radius, bool dilate, const std::function<void(int)>& progress, int base) {
  using KB = KeyBits<Key>;
  const int Wr = io.Wr, Hr = io.Hr;
  const std::size_t W = static_cast<std::size_t>(Wr);
  // A window wider than the picture sees the whole line wherever it is.
  const int rx = std::min(radius, Wr - 1), ry = std::min(radius, Hr - 1);
  auto R = TryAlloc<Key>(W * Hr);
  if (!R) return false;
  auto report = [&](int phase, double fraction) {
    if (progress) progress(base + phase * 25 + static_cast<int>(std::trunc(25 * fraction)));
  };

  // Rows: winner (grey, column) of every horizontal window, over the row
  // extended by rx repeated pixels at each end.
  ParallelRows(
      0, Hr,
      [&](int begin, int end) {
        const int k = 2 * rx + 1, L = Wr + 2 * rx;
        std::vector<Key> ext(L), pre(L), suf(L);
        const Key flip = dilate ? 255 : 0;
        for (int y = begin; y < end; ++y) {
          const uint8_t* g = io.gin + static_cast<std::size_t>(y) * W;
          const Key first = (Key(g[0]) ^ flip) << KB::kShift;
          const Key last = ((Key(g[Wr - 1]) ^ flip) << KB::kShift) | static_cast<Key>(Wr - 1);
          for (int i = 0; i < rx; ++i) ext[i] = first;
          for (int x = 0; x < Wr; ++x) ext[rx + x] = ((Key(g[x]) ^ flip) << KB::kShift) | static_cast<Key>(x);
          for (int i = rx + Wr; i < L; ++i) ext[i] = last;
          for (int b0 = 0; b0 < L; b0 += k) {
            const int b1 = std::min(b0 + k, L);
            pre[b0] = ext[b0];
            for (int i = b0 + 1; i < b1; ++i) pre[i] = std::min(pre[i - 1], ext[i]);
            suf[b1 - 1] = ext[b1 - 1];
            for (int i = b1 - 2; i >= b0; --i) suf[i] = std::min(suf[i + 1], ext[i]);
          }
          Key* out = R.get() + static_cast<std::size_t>(y) * W;
          for (int x = 0; x < Wr; ++x) out[x] = std::min(suf[x], pre[x + k - 1]);
        }
      },
      [&](int last) { report(0, (last + 1.0) / Hr); });

  // Columns: winner (grey, row) among the row winners of every vertical
  // window, strip by strip, block by block.
  const int strips = static_cast<int>((W + kStripKeys - 1) / kStripKeys);
  const bool avx2 = UseAvx2();
  auto minima = avx2 ? BlockMinimaAvx2<Key> : BlockMinimaGeneric<Key>;
  std::atomic<bool> ok{true};
  ParallelRows(
      0, strips,
      [&](int begin, int end) {
        const int k = 2 * ry + 1, L = Hr + 2 * ry;
        auto suf = TryAlloc<Key>(static_cast<std::size_t>(k) * kStripKeys);
        auto pre = TryAlloc<Key>(static_cast<std::size_t>(k) * kStripKeys);
        if (!pre || !suf) {
          ok.store(false);
          return;
        }
        const Key flip = dilate ? 255 : 0;
        for (int s = begin; s < end; ++s) {
          const std::size_t xs = static_cast<std::size_t>(s) * kStripKeys;
          const int sw = static_cast<int>(std::min<std::size_t>(kStripKeys, W - xs));
          const Key* rs = R.get() + xs;
          for (int b0 = 0; b0 < Hr; b0 += k) {
            // suf: this block; pre: the next one (absent at the end).
            minima(R.get(), W, Hr, ry, xs, sw, b0, std::min(b0 + k, L), false, suf.get());
            const int n0 = b0 + k, n1 = std::min(b0 + 2 * k, L);
            if (n0 < n1) minima(R.get(), W, Hr, ry, xs, sw, n0, n1, true, pre.get());
            for (int y = b0; y < std::min(b0 + k, Hr); ++y) {
              const Key* sr = suf.get() + static_cast<std::size_t>(y - b0) * kStripKeys;
              // At a block's start the window is the block itself.
              const Key* pr = y == b0 ? sr : pre.get() + static_cast<std::size_t>(y - b0 - 1) * kStripKeys;
              uint8_t* co = io.cout[y] + xs * Bpp;
              uint8_t* go = io.gout ? io.gout + static_cast<std::size_t>(y) * W + xs : nullptr;
              for (int t = 0; t < sw; ++t) {
                const Key o = std::min(sr[t], pr[t]);
                const std::size_t yw = static_cast<std::size_t>(o & KB::kPosMask);
                const std::size_t xw = static_cast<std::size_t>(rs[yw * W + t] & KB::kPosMask);
                std::memcpy(co + t * Bpp, io.cin[yw] + xw * Bpp, Bpp);
                if (go) go[t] = static_cast<uint8_t>((o >> KB::kShift) ^ flip);
              }
            }
          }
        }
      },
      [&](int last) { report(1, (last + 1.0) / strips); }, 1);
  return ok.load();
}

bool MorphPassAny(const MorphIO& io, int radius, bool dilate, const std::function<void(int)>& progress, int base) {
  const bool narrow = !gWideKeys.load(std::memory_order_relaxed) && io.Wr <= 65536 && io.Hr <= 65536;
  if (io.bpp == 3)
    return narrow ? MorphPass<uint32_t, 3>(io, radius, dilate, progress, base)
                  : MorphPass<uint64_t, 3>(io, radius, dilate, progress, base);
  return narrow ? MorphPass<uint32_t, 1>(io, radius, dilate, progress, base)
                : MorphPass<uint64_t, 1>(io, radius, dilate, progress, base);
}

// ---------------------------------------------------------------------------
// Sharpen

// floor(s / c) for s >= 0, c > 0, through a double quotient put right.
inline int64_t DivFloor(int64_t s, int64_t c) {
  int64_t q = static_cast<int64_t>(static_cast<double>(s) / static_cast<double>(c));
  while (q > 0 && q * c > s) --q;
  while ((q + 1) * c <= s) ++q;
  return q;
}

// The half window: a neighbourhood below 2 (or a negative one) means no
// neighbours; beyond the picture's size nothing more is seen.
int SharpenHalfWindow(int neighbourhood, int w, int h) {
  return std::clamp(neighbourhood / 2, 0, std::max(w, h));
}

void SharpenRect(IEBitmap& bmp, int x1, int y1, int x2, int y2, int intensity, int neighbourhood,
                 const std::function<void(int)>& progress) {
  const int W = bmp.Width(), H = bmp.Height();
  x1 = std::max(x1, 0), y1 = std::max(y1, 0), x2 = std::min(x2, W), y2 = std::min(y2, H);
  if (x1 >= x2 || y1 >= y2) return;
  const double a = intensity / 10.0;
  const int h = SharpenHalfWindow(neighbourhood, W, H);
  // The rows any window reaches, copied: the result is written in place.
  const int r0 = std::max(y1 - h, 0), r1 = std::min(y2 + h, H);
  const std::size_t rowBytes = static_cast<std::size_t>(W) * 3;
  auto src = TryAlloc<uint8_t>(rowBytes * (r1 - r0));
  if (!src) return;
  ParallelRows(r0, r1, [&](int begin, int end) {
    for (int y = begin; y < end; ++y) std::memcpy(src.get() + (y - r0) * rowBytes, bmp.ScanLine(y), rowBytes);
  });
  auto row = [&](int y) { return src.get() + (y - r0) * rowBytes; };
  // Columns any window reaches.
  const int c0 = std::max(x1 - h, 0), c1 = std::min(x2 + h, W);
  const std::size_t cols = static_cast<std::size_t>(c1 - c0);
  ParallelRows(
      y1, y2,
      [&](int begin, int end) {
        // col: sums of each column over the window's rows; pre: running sums
        // along the row of col minus the own row.
        std::vector<int64_t> col(cols * 3, 0), pre((cols + 1) * 3, 0);
        for (int yy = std::max(begin - h, 0); yy <= std::min(begin + h, H - 1); ++yy) {
          const uint8_t* p = row(yy) + static_cast<std::size_t>(c0) * 3;
          for (std::size_t i = 0; i < cols * 3; ++i) col[i] += p[i];
        }
        for (int y = begin; y < end; ++y) {
          if (y > begin) {
            if (y + h <= H - 1) {
              const uint8_t* p = row(y + h) + static_cast<std::size_t>(c0) * 3;
              for (std::size_t i = 0; i < cols * 3; ++i) col[i] += p[i];
            }
            if (y - h - 1 >= 0) {
              const uint8_t* p = row(y - h - 1) + static_cast<std::size_t>(c0) * 3;
              for (std::size_t i = 0; i < cols * 3; ++i) col[i] -= p[i];
            }
          }
          const int64_t nr = std::min(y + h, H - 1) - std::max(y - h, 0) + 1;
          const uint8_t* own = row(y) + static_cast<std::size_t>(c0) * 3;
          for (std::size_t i = 0; i < cols * 3; ++i) pre[i + 3] = pre[i] + (col[i] - own[i]);
          const uint8_t* in = row(y);
          uint8_t* out = bmp.ScanLine(y);
          for (int x = x1; x < x2; ++x) {
            const int lo = std::max(x - h, 0), hi = std::min(x + h, W - 1);
            const int64_t count = static_cast<int64_t>(hi - lo) * (nr - 1);
            for (int ch = 0; ch < 3; ++ch) {
              const int c = in[3 * x + ch];
              int64_t mean = 0;
              if (count > 0) {
                const std::size_t i = static_cast<std::size_t>(x - c0) * 3 + ch;
                const int64_t sum = pre[static_cast<std::size_t>(hi + 1 - c0) * 3 + ch] -
                                    pre[static_cast<std::size_t>(lo - c0) * 3 + ch] - (col[i] - own[i]);
                mean = DivFloor(sum, count);
              }
              out[3 * x + ch] = ClampByte(std::trunc(static_cast<double>(c - mean) * a + c));
            }
          }
        }
      },
      progress);
}

// ---------------------------------------------------------------------------
// Wave

struct WaveGeometry {
  int W, H;
  double cx, cy, sx = 1, sy = 1, lambda, phi, amp;
  bool reflective;
  WaveGeometry(int w, int h, int amplitude, int wavelength, int phase, bool refl)
      : W(w), H(h), cx((w - 1) / 2.0), cy((h - 1) / 2.0), reflective(refl) {
    if (w > h)
      sy = static_cast<double>(w) / h;
    else if (w < h)
      sx = static_cast<double>(h) / w;
    lambda = 2.0 * wavelength;
    phi = phase * M_PI / 180;
    amp = amplitude;
  }
  double Sine(double dx, double dy) const {
    const double r = std::sqrt(dx * dx + dy * dy);
    return std::sin(r / lambda * (2 * M_PI) + phi);
  }
  // Bilinear sample of the source point of (dx, dy) whose sine is sv.
  void Sample(const uint8_t* src, std::size_t stride, double dx, double dy, double sv, uint8_t* out) const {
    double xp, yp;
    if (!reflective) {
      const double s = amp * sv;
      xp = cx + (dx + s) / sx;
      yp = cy + (dy - s) / sy;
    } else {
      const double t = std::fabs(sv) * amp;
      xp = cx + dx * t / sx;
      yp = cy + dy * t / sy;
    }
    const double tx = std::trunc(xp), ty = std::trunc(yp);
    double u = xp - tx, v = yp - ty;
    if (u < 0) u += 1;
    if (v < 0) v += 1;
    // Limited to 0..W-2 (0..H-2); a picture one pixel wide or high reads
    // its only column (row) twice.
    const int i = static_cast<int>(std::max(0.0, std::min(tx, W - 2.0)));
    const int j = static_cast<int>(std::max(0.0, std::min(ty, H - 2.0)));
    const int i1 = std::min(i + 1, W - 1), j1 = std::min(j + 1, H - 1);
    const uint8_t* r0 = src + static_cast<std::size_t>(j) * stride;
    const uint8_t* r1 = src + static_cast<std::size_t>(j1) * stride;
    for (int c = 0; c < 3; ++c) {
      const double p00 = r0[3 * i + c], p10 = r0[3 * i1 + c], p01 = r1[3 * i + c], p11 = r1[3 * i1 + c];
      const double value = (1 - v) * ((1 - u) * p00 + u * p10) + v * ((1 - u) * p01 + u * p11);
      out[c] = ClampByte(std::trunc(value));
    }
  }
};

// The sampling of one output row, four pixels at a time: the same
// operations in the same order as Sample, lane by lane. The source needs
// one readable byte past its last pixel (the gathers read four bytes).
__attribute__((target("avx2"))) void WaveRowAvx2(const WaveGeometry& g, const uint8_t* src, std::size_t stride,
                                                 const double* sine, int y, uint8_t* out) {
  const int W = g.W;
  const double dyScalar = (y - g.cy) * g.sy;
  const __m256d cx = _mm256_set1_pd(g.cx), cy = _mm256_set1_pd(g.cy), sx = _mm256_set1_pd(g.sx),
                sy = _mm256_set1_pd(g.sy), amp = _mm256_set1_pd(g.amp), dy = _mm256_set1_pd(dyScalar);
  const __m256d one = _mm256_set1_pd(1.0), zero = _mm256_setzero_pd();
  const __m256d maxI = _mm256_set1_pd(W - 2.0), maxJ = _mm256_set1_pd(g.H - 2.0);
  const __m256d absMask = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7FFFFFFFFFFFFFFF));
  const __m128i lastI = _mm_set1_epi32(W - 1), lastJ = _mm_set1_epi32(g.H - 1), oneI = _mm_set1_epi32(1);
  const __m128i three = _mm_set1_epi32(3), rowStep = _mm_set1_epi32(static_cast<int>(stride));
  const __m128i byteMask = _mm_set1_epi32(0xFF);
  const __m128i squeeze = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  int x = 0;
  for (; x + 4 <= W; x += 4) {
    const __m256d dx = _mm256_mul_pd(_mm256_sub_pd(_mm256_setr_pd(x, x + 1, x + 2, x + 3), cx), sx);
    const __m256d sv = _mm256_setr_pd(sine[std::min(x, W - 1 - x)], sine[std::min(x + 1, W - 2 - x)],
                                      sine[std::min(x + 2, W - 3 - x)], sine[std::min(x + 3, W - 4 - x)]);
    __m256d xp, yp;
    if (!g.reflective) {
      const __m256d s = _mm256_mul_pd(amp, sv);
      xp = _mm256_add_pd(cx, _mm256_div_pd(_mm256_add_pd(dx, s), sx));
      yp = _mm256_add_pd(cy, _mm256_div_pd(_mm256_sub_pd(dy, s), sy));
    } else {
      const __m256d t = _mm256_mul_pd(_mm256_and_pd(sv, absMask), amp);
      xp = _mm256_add_pd(cx, _mm256_div_pd(_mm256_mul_pd(dx, t), sx));
      yp = _mm256_add_pd(cy, _mm256_div_pd(_mm256_mul_pd(dy, t), sy));
    }
    const __m256d tx = _mm256_round_pd(xp, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
    const __m256d ty = _mm256_round_pd(yp, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
    __m256d u = _mm256_sub_pd(xp, tx), v = _mm256_sub_pd(yp, ty);
    u = _mm256_blendv_pd(u, _mm256_add_pd(u, one), _mm256_cmp_pd(u, zero, _CMP_LT_OQ));
    v = _mm256_blendv_pd(v, _mm256_add_pd(v, one), _mm256_cmp_pd(v, zero, _CMP_LT_OQ));
    const __m128i i = _mm256_cvttpd_epi32(_mm256_max_pd(zero, _mm256_min_pd(tx, maxI)));
    const __m128i j = _mm256_cvttpd_epi32(_mm256_max_pd(zero, _mm256_min_pd(ty, maxJ)));
    const __m128i i1 = _mm_min_epi32(_mm_add_epi32(i, oneI), lastI);
    const __m128i j1 = _mm_min_epi32(_mm_add_epi32(j, oneI), lastJ);
    const __m128i r0 = _mm_mullo_epi32(j, rowStep), r1 = _mm_mullo_epi32(j1, rowStep);
    const __m128i c0 = _mm_mullo_epi32(i, three), c1 = _mm_mullo_epi32(i1, three);
    const int* base = reinterpret_cast<const int*>(src);
    const __m128i q00 = _mm_i32gather_epi32(base, _mm_add_epi32(r0, c0), 1);
    const __m128i q10 = _mm_i32gather_epi32(base, _mm_add_epi32(r0, c1), 1);
    const __m128i q01 = _mm_i32gather_epi32(base, _mm_add_epi32(r1, c0), 1);
    const __m128i q11 = _mm_i32gather_epi32(base, _mm_add_epi32(r1, c1), 1);
    const __m256d omu = _mm256_sub_pd(one, u), omv = _mm256_sub_pd(one, v);
    __m128i packed = _mm_setzero_si128();
    for (int c = 0; c < 3; ++c) {
      const __m128i sh = _mm_cvtsi32_si128(8 * c);
      auto channel = [&](__m128i q) { return _mm_and_si128(_mm_srl_epi32(q, sh), byteMask); };
      const __m256d p00 = _mm256_cvtepi32_pd(channel(q00)), p10 = _mm256_cvtepi32_pd(channel(q10));
      const __m256d p01 = _mm256_cvtepi32_pd(channel(q01)), p11 = _mm256_cvtepi32_pd(channel(q11));
      const __m256d top = _mm256_add_pd(_mm256_mul_pd(omu, p00), _mm256_mul_pd(u, p10));
      const __m256d bottom = _mm256_add_pd(_mm256_mul_pd(omu, p01), _mm256_mul_pd(u, p11));
      const __m256d value = _mm256_add_pd(_mm256_mul_pd(omv, top), _mm256_mul_pd(v, bottom));
      packed = _mm_or_si128(packed, _mm_sll_epi32(_mm256_cvttpd_epi32(value), sh));
    }
    const __m128i bytes = _mm_shuffle_epi8(packed, squeeze);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 3 * x), bytes);
    const int lastFour = _mm_extract_epi32(bytes, 2);
    std::memcpy(out + 3 * x + 8, &lastFour, 4);
  }
  for (; x < W; ++x) g.Sample(src, stride, (x - g.cx) * g.sx, dyScalar, sine[std::min(x, W - 1 - x)], out + 3 * x);
}

void WaveWhole(IEBitmap& bmp, int amplitude, int wavelength, int phase, bool reflective,
               const std::function<void(int)>& progress) {
  const int W = bmp.Width(), H = bmp.Height();
  const std::size_t rowBytes = static_cast<std::size_t>(W) * 3;
  auto src = TryAlloc<uint8_t>(rowBytes * H + 4);
  if (!src) return;
  ParallelRows(0, H, [&](int begin, int end) {
    for (int y = begin; y < end; ++y) std::memcpy(src.get() + y * rowBytes, bmp.ScanLine(y), rowBytes);
  });
  std::memset(src.get() + rowBytes * H, 0, 4);
  const WaveGeometry g(W, H, amplitude, wavelength, phase, reflective);
  // The vector form addresses the source with 32-bit offsets.
  const bool avx2 = UseAvx2() && rowBytes * H < (std::size_t{1} << 31);
  const int halfW = (W + 1) / 2, halfH = (H + 1) / 2;
  // Rows y and H-1-y together, and columns x and W-1-x: x - cx and
  // (W-1-x) - cx are exact opposites, so both have the same distance.
  ParallelRows(
      0, halfH,
      [&](int begin, int end) {
        std::vector<double> sine(halfW);
        for (int yt = begin; yt < end; ++yt) {
          const double dyt = (yt - g.cy) * g.sy;
          for (int x = 0; x < halfW; ++x) sine[x] = g.Sine((x - g.cx) * g.sx, dyt);
          const int yb = H - 1 - yt;
          for (int y = yt;; y = yb) {
            uint8_t* out = bmp.ScanLine(y);
            if (avx2) {
              WaveRowAvx2(g, src.get(), rowBytes, sine.data(), y, out);
            } else {
              const double dy = (y - g.cy) * g.sy;
              for (int x = 0; x < W; ++x)
                g.Sample(src.get(), rowBytes, (x - g.cx) * g.sx, dy, sine[std::min(x, W - 1 - x)], out + 3 * x);
            }
            if (y == yb) break;
          }
        }
      },
      [&](int last) {
        if (progress) progress(static_cast<int>(std::trunc((last + 1) * (100.0 / halfH))));
      });
}

// ---------------------------------------------------------------------------
// Shadows

std::string BlurLabel(double radius) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "Blur %.15g", radius);
  return buf;
}

// e = max(2 max(|offsetX|, |offsetY|) + Trunc(5 radius), 1), or -1 when the
// radius is not a number or the enlarged picture would be too large.
int64_t ShadowEnlargement(int w, int h, int offsetX, int offsetY, double radius) {
  if (std::isnan(radius)) return -1;
  const double m = static_cast<double>(std::max(std::llabs(offsetX), std::llabs(offsetY)));
  const double e = std::max(2 * m + std::trunc(5 * radius), 1.0);
  if (!(w + e <= kMaxSide && h + e <= kMaxSide && (w + e) * (h + e) <= static_cast<double>(kMaxPixels))) return -1;
  return static_cast<int64_t>(e);
}

}  // namespace

// ---------------------------------------------------------------------------
// Detail: kernel, blur, opening and the plain references.

namespace detail {

void SetFilterSimd(bool enabled) { gSimd.store(enabled); }
void SetOpeningWideKeys(bool enabled) { gWideKeys.store(enabled); }

GaussKernel MakeGaussKernel(double radius) {
  GaussKernel g;
  if (!(radius > 0)) {
    g.n = 1;
    g.k = {0, 65536, 0};
    return g;
  }
  double w[2 * kMaxHalfWidth + 1];
  double sum = 0;
  for (int d = -kMaxHalfWidth; d <= kMaxHalfWidth; ++d) {
    w[d + kMaxHalfWidth] = std::exp(-static_cast<double>(d * d) / (2 * (radius * radius)));
    sum += w[d + kMaxHalfWidth];
  }
  int k[2 * kMaxHalfWidth + 1];
  for (int i = 0; i <= 2 * kMaxHalfWidth; ++i) k[i] = static_cast<int>(std::nearbyint(w[i] * 65536 / sum));
  int n = kMaxHalfWidth;
  while (n > 1 && k[kMaxHalfWidth + n] == 0 && k[kMaxHalfWidth - n] == 0) --n;
  g.n = n;
  g.k.assign(k + kMaxHalfWidth - n, k + kMaxHalfWidth + n + 1);
  return g;
}

bool GaussBlur(IEBitmap& bmp, const GaussKernel& kernel, const std::function<void(int)>& progress) {
  const F fmt = bmp.PixelFormat();
  const int c = fmt == F::ie24RGB ? 3 : (fmt == F::ie8g ? 1 : 0);
  if (c == 0 || bmp.IsEmpty()) return true;
  const int n = kernel.n;
  if (n < 1 || n > kMaxHalfWidth || kernel.k.size() != static_cast<std::size_t>(2 * n + 1)) return false;
  // Exactness needs what MakeGaussKernel guarantees: symmetric
  // non-negative weights, none but k(0) above 32767, summing to at most
  // 65536 + 101 (201 weights rounded by at most 1/2 each), so that
  // 255 x sum + 32768 stays below 2^24.
  int64_t sum = 0;
  for (int d = -n; d <= n; ++d) {
    if (kernel.At(d) < 0 || kernel.At(d) != kernel.At(-d) || (d != 0 && kernel.At(d) > 32767)) return false;
    sum += kernel.At(d);
  }
  if (sum > 65536 + kMaxHalfWidth + 1) return false;
  const int W = bmp.Width(), H = bmp.Height();
  const std::size_t rowBytes = static_cast<std::size_t>(W) * c;
  if (rowBytes > (1u << 30)) return false;
  // The kernel is symmetric: weights for d = 0..n.
  SpanWeights kw;
  kw.n = n;
  kw.k0 = kernel.At(0);
  for (int d = 0; d <= n; ++d) kw.f[d] = static_cast<float>(kernel.At(d));
  for (int d = 1; d <= n; d += 2)
    kw.pairs[d >> 1] = static_cast<int32_t>((static_cast<uint32_t>(kernel.At(d)) & 0xFFFF) |
                                            (static_cast<uint32_t>(d < n ? kernel.At(d + 1) : 0) << 16));
  const std::size_t stride = (rowBytes + 31) / 32 * 32;
  auto mid = TryAlloc<uint8_t>(stride * H + 64);
  if (!mid) return false;
  const SpanFn span = UseAvx2() ? ConvolveSpanAvx2 : ConvolveSpanGeneric;
  auto report = [&](double done) {
    if (progress) progress(static_cast<int>(std::trunc(done * 100.0 / (static_cast<double>(W) + H))));
  };
  const int len = static_cast<int>(rowBytes);

  // Rows, into mid.
  ParallelRows(
      0, H,
      [&](int begin, int end) {
        std::vector<uint8_t> pad((static_cast<std::size_t>(W) + 2 * n) * c + 64);
        uint8_t* centre = pad.data() + static_cast<std::size_t>(n) * c;
        const uint8_t* lo[kMaxHalfWidth + 1];
        const uint8_t* hi[kMaxHalfWidth + 1];
        for (int d = 1; d <= n; ++d) {
          lo[d] = centre - static_cast<std::size_t>(d) * c;
          hi[d] = centre + static_cast<std::size_t>(d) * c;
        }
        for (int y = begin; y < end; ++y) {
          const uint8_t* src = bmp.ScanLine(y);
          for (int i = 0; i < n; ++i) {
            std::memcpy(pad.data() + static_cast<std::size_t>(i) * c, src, c);
            std::memcpy(centre + rowBytes + static_cast<std::size_t>(i) * c, src + rowBytes - c, c);
          }
          std::memcpy(centre, src, rowBytes);
          span(centre, lo, hi, kw, len, mid.get() + y * stride);
        }
      },
      [&](int last) { report(last + 1); });

  // Columns, back into the bitmap; strips of columns keep the rows a block
  // reads in the cache.
  constexpr std::size_t kStrip = 512;
  ParallelRows(
      0, H,
      [&](int begin, int end) {
        const uint8_t* lo[kMaxHalfWidth + 1];
        const uint8_t* hi[kMaxHalfWidth + 1];
        for (std::size_t xs = 0; xs < rowBytes; xs += kStrip) {
          const int sl = static_cast<int>(std::min(kStrip, rowBytes - xs));
          for (int y = begin; y < end; ++y) {
            for (int d = 1; d <= n; ++d) {
              lo[d] = mid.get() + static_cast<std::size_t>(std::max(y - d, 0)) * stride + xs;
              hi[d] = mid.get() + static_cast<std::size_t>(std::min(y + d, H - 1)) * stride + xs;
            }
            span(mid.get() + static_cast<std::size_t>(y) * stride + xs, lo, hi, kw, sl, bmp.ScanLine(y) + xs);
          }
        }
      },
      [&](int last) { report(H + static_cast<double>(W) * (last + 1) / H); });
  return true;
}

void GaussBlurReference(IEBitmap& bmp, const GaussKernel& kernel) {
  const F fmt = bmp.PixelFormat();
  const int c = fmt == F::ie24RGB ? 3 : (fmt == F::ie8g ? 1 : 0);
  if (c == 0 || bmp.IsEmpty()) return;
  const int W = bmp.Width(), H = bmp.Height(), n = kernel.n;
  std::vector<uint8_t> mid(static_cast<std::size_t>(W) * H * c);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x)
      for (int ch = 0; ch < c; ++ch) {
        int64_t s = 0;
        for (int d = -n; d <= n; ++d) s += int64_t{kernel.At(d)} * bmp.ScanLine(y)[std::clamp(x + d, 0, W - 1) * c + ch];
        mid[(static_cast<std::size_t>(y) * W + x) * c + ch] = static_cast<uint8_t>((s + 32768) >> 16);
      }
  for (int x = 0; x < W; ++x)
    for (int y = 0; y < H; ++y)
      for (int ch = 0; ch < c; ++ch) {
        int64_t s = 0;
        for (int d = -n; d <= n; ++d)
          s += int64_t{kernel.At(d)} * mid[(static_cast<std::size_t>(std::clamp(y + d, 0, H - 1)) * W + x) * c + ch];
        bmp.ScanLine(y)[x * c + ch] = static_cast<uint8_t>((s + 32768) >> 16);
      }
}

void OpeningFast(IEBitmap& bmp, int x1, int y1, int x2, int y2, int radius, const std::function<void(int)>& progress) {
  const F fmt = bmp.PixelFormat();
  if (fmt != F::ie24RGB && fmt != F::ie1g) return;
  x1 = std::max(x1, 0), y1 = std::max(y1, 0), x2 = std::min(x2, bmp.Width()), y2 = std::min(y2, bmp.Height());
  if (radius <= 0 || x1 >= x2 || y1 >= y2) return;
  const int Wr = x2 - x1, Hr = y2 - y1;
  const std::size_t npix = static_cast<std::size_t>(Wr) * Hr;
  MorphIO io;
  io.Wr = Wr;
  io.Hr = Hr;
  io.cin.resize(Hr);
  io.cout.resize(Hr);
  if (fmt == F::ie24RGB) {
    // Erosion from the bitmap into c1/g1, dilation from there back into it.
    auto g0 = TryAlloc<uint8_t>(npix), g1 = TryAlloc<uint8_t>(npix), c1 = TryAlloc<uint8_t>(npix * 3);
    if (!g0 || !g1 || !c1) return;
    ParallelRows(0, Hr, [&](int begin, int end) {
      for (int y = begin; y < end; ++y) {
        const uint8_t* p = bmp.ScanLine(y1 + y) + 3 * static_cast<std::size_t>(x1);
        uint8_t* g = g0.get() + static_cast<std::size_t>(y) * Wr;
        for (int x = 0; x < Wr; ++x, p += 3) g[x] = static_cast<uint8_t>(GreyLevel(p[2], p[1], p[0]));
      }
    });
    io.bpp = 3;
    io.gin = g0.get();
    io.gout = g1.get();
    for (int y = 0; y < Hr; ++y) {
      io.cin[y] = bmp.ScanLine(y1 + y) + 3 * static_cast<std::size_t>(x1);
      io.cout[y] = c1.get() + static_cast<std::size_t>(y) * Wr * 3;
    }
    if (!MorphPassAny(io, radius, false, progress, 0)) return;
    io.gin = g1.get();
    io.gout = nullptr;
    for (int y = 0; y < Hr; ++y) {
      io.cin[y] = c1.get() + static_cast<std::size_t>(y) * Wr * 3;
      io.cout[y] = bmp.ScanLine(y1 + y) + 3 * static_cast<std::size_t>(x1);
    }
    MorphPassAny(io, radius, true, progress, 50);
    return;
  }
  // ie1g: one byte per pixel (0 black, 1 white) serves as grey and colour.
  auto b0 = TryAlloc<uint8_t>(npix), b1 = TryAlloc<uint8_t>(npix), b2 = TryAlloc<uint8_t>(npix);
  if (!b0 || !b1 || !b2) return;
  for (int y = 0; y < Hr; ++y)
    for (int x = 0; x < Wr; ++x) b0[static_cast<std::size_t>(y) * Wr + x] = bmp.Bit(x1 + x, y1 + y) ? 1 : 0;
  io.bpp = 1;
  io.gin = b0.get();
  for (int y = 0; y < Hr; ++y) {
    io.cin[y] = b0.get() + static_cast<std::size_t>(y) * Wr;
    io.cout[y] = b1.get() + static_cast<std::size_t>(y) * Wr;
  }
  if (!MorphPassAny(io, radius, false, progress, 0)) return;
  io.gin = b1.get();
  for (int y = 0; y < Hr; ++y) {
    io.cin[y] = b1.get() + static_cast<std::size_t>(y) * Wr;
    io.cout[y] = b2.get() + static_cast<std::size_t>(y) * Wr;
  }
  if (!MorphPassAny(io, radius, true, progress, 50)) return;
  for (int y = 0; y < Hr; ++y)
    for (int x = 0; x < Wr; ++x) bmp.SetBit(x1 + x, y1 + y, b2[static_cast<std::size_t>(y) * Wr + x] != 0);
}

void OpeningReference(IEBitmap& bmp, int x1, int y1, int x2, int y2, int radius) {
  const F fmt = bmp.PixelFormat();
  if (fmt != F::ie24RGB && fmt != F::ie1g) return;
  x1 = std::max(x1, 0), y1 = std::max(y1, 0), x2 = std::min(x2, bmp.Width()), y2 = std::min(y2, bmp.Height());
  if (radius <= 0 || x1 >= x2 || y1 >= y2) return;
  const int Wr = x2 - x1, Hr = y2 - y1;
  for (bool dilate : {false, true}) {
    // This pass reads a copy of the rectangle: colours and grey levels.
    std::vector<IETriple> col(static_cast<std::size_t>(Wr) * Hr);
    std::vector<int> grey(col.size());
    for (int y = 0; y < Hr; ++y)
      for (int x = 0; x < Wr; ++x) {
        const std::size_t i = static_cast<std::size_t>(y) * Wr + x;
        if (fmt == F::ie24RGB) {
          col[i] = bmp.Pixel24(x1 + x, y1 + y);
          grey[i] = GreyLevel(col[i].r, col[i].g, col[i].b);
        } else {
          grey[i] = bmp.Bit(x1 + x, y1 + y) ? 1 : 0;
        }
      }
    for (int y = 0; y < Hr; ++y)
      for (int x = 0; x < Wr; ++x) {
        std::size_t best = 0;
        bool any = false;
        for (int wy = y - radius; wy <= y + radius; ++wy)
          for (int wx = x - radius; wx <= x + radius; ++wx) {
            const std::size_t i =
                static_cast<std::size_t>(std::clamp(wy, 0, Hr - 1)) * Wr + std::clamp(wx, 0, Wr - 1);
            if (!any || (dilate ? grey[i] > grey[best] : grey[i] < grey[best])) best = i;
            any = true;
          }
        if (fmt == F::ie24RGB)
          bmp.Pixel24(x1 + x, y1 + y) = col[best];
        else
          bmp.SetBit(x1 + x, y1 + y, grey[best] != 0);
      }
  }
}

void SharpenReference(IEBitmap& bmp, int x1, int y1, int x2, int y2, int intensity, int neighbourhood) {
  if (bmp.PixelFormat() != F::ie24RGB || bmp.IsEmpty()) return;
  const IEBitmap src(bmp);
  const int W = bmp.Width(), H = bmp.Height();
  const double a = intensity / 10.0;
  const int h = SharpenHalfWindow(neighbourhood, W, H);
  for (int y = std::max(y1, 0); y < std::min(y2, H); ++y)
    for (int x = std::max(x1, 0); x < std::min(x2, W); ++x) {
      int64_t sum[3] = {0, 0, 0};
      int64_t count = 0;
      for (int wy = std::max(y - h, 0); wy <= std::min(y + h, H - 1); ++wy)
        for (int wx = std::max(x - h, 0); wx <= std::min(x + h, W - 1); ++wx) {
          if (wy == y || wx == x) continue;
          const IETriple& p = src.Pixel24(wx, wy);
          sum[0] += p.b, sum[1] += p.g, sum[2] += p.r;
          ++count;
        }
      const IETriple& p = src.Pixel24(x, y);
      const int in[3] = {p.b, p.g, p.r};
      uint8_t out[3];
      for (int ch = 0; ch < 3; ++ch) {
        const int64_t mean = count > 0 ? sum[ch] / count : 0;
        const double v = std::trunc(static_cast<double>(in[ch] - mean) * a + in[ch]);
        out[ch] = static_cast<uint8_t>(std::clamp(v, 0.0, 255.0));
      }
      bmp.Pixel24(x, y) = IETriple{out[0], out[1], out[2]};
    }
}

void WaveReference(IEBitmap& bmp, int amplitude, int wavelength, int phase, bool reflective) {
  if (bmp.PixelFormat() != F::ie24RGB || bmp.IsEmpty() || amplitude == 0 || wavelength == 0) return;
  const IEBitmap src(bmp);
  const int W = bmp.Width(), H = bmp.Height();
  const double cx = (W - 1) / 2.0, cy = (H - 1) / 2.0;
  const double sx = W < H ? static_cast<double>(H) / W : 1.0;
  const double sy = W > H ? static_cast<double>(W) / H : 1.0;
  const double lambda = 2.0 * wavelength, phi = phase * M_PI / 180;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const double dx = (x - cx) * sx, dy = (y - cy) * sy;
      const double r = std::sqrt(dx * dx + dy * dy);
      const double sine = std::sin(r / lambda * (2 * M_PI) + phi);
      double xp, yp;
      if (reflective) {
        const double t = std::fabs(sine) * amplitude;
        xp = cx + dx * t / sx;
        yp = cy + dy * t / sy;
      } else {
        const double s = amplitude * sine;
        xp = cx + (dx + s) / sx;
        yp = cy + (dy - s) / sy;
      }
      double u = xp - std::trunc(xp), v = yp - std::trunc(yp);
      if (u < 0) u += 1;
      if (v < 0) v += 1;
      const int i = static_cast<int>(std::clamp(std::trunc(xp), 0.0, std::max(W - 2, 0) * 1.0));
      const int j = static_cast<int>(std::clamp(std::trunc(yp), 0.0, std::max(H - 2, 0) * 1.0));
      const IETriple p00 = src.Pixel24(i, j), p10 = src.Pixel24(std::min(i + 1, W - 1), j);
      const IETriple p01 = src.Pixel24(i, std::min(j + 1, H - 1));
      const IETriple p11 = src.Pixel24(std::min(i + 1, W - 1), std::min(j + 1, H - 1));
      auto mix = [&](uint8_t IETriple::*ch) {
        const double value =
            (1 - v) * ((1 - u) * (p00.*ch) + u * (p10.*ch)) + v * ((1 - u) * (p01.*ch) + u * (p11.*ch));
        return static_cast<uint8_t>(std::trunc(value));
      };
      bmp.Pixel24(x, y) = IETriple{mix(&IETriple::b), mix(&IETriple::g), mix(&IETriple::r)};
    }
}

}  // namespace detail

// ---------------------------------------------------------------------------
// The operations

void ImageProc::Blur(double radius) {
  if (!(radius > 0)) return;
  Work w;
  if (!BeginOperation(BlurLabel(radius), {F::ie8g, F::ie24RGB}, w)) return;
  detail::GaussBlur(*w.bitmap, detail::MakeGaussKernel(radius), [this](int p) { Progress(p); });
  EndOperation(w);
}

void ImageProc::Sharpen(int intensity, int neighbourhood) {
  Work w;
  if (!BeginOperation("Sharpen", {F::ie24RGB}, w)) return;
  IEBitmap& bmp = *w.bitmap;
  if (bmp.PixelFormat() == F::ie24RGB && !bmp.IsEmpty()) {
    SharpenRect(bmp, w.x1, w.y1, w.x2, w.y2, intensity, neighbourhood, [&](int y) { RowProgress(w, y); });
    bmp.SetAlphaAllOpaque(false);  // the new pixels are assigned as an image
  }
  EndOperation(w);
}

void ImageProc::Opening(int radius) {
  Work w;
  if (!BeginOperation(Label("Opening", {radius}), FormatSet::Any(), w)) return;
  detail::OpeningFast(*w.bitmap, w.x1, w.y1, w.x2, w.y2, radius, [this](int p) { Progress(p); });
  EndOperation(w);
}

void ImageProc::Wave(int amplitude, int wavelength, int phase, bool reflective) {
  if (amplitude == 0 || wavelength == 0) return;
  Work w;
  if (!BeginOperation("Wave", {F::ie24RGB}, w)) return;
  IEBitmap& bmp = *w.bitmap;
  if (bmp.PixelFormat() == F::ie24RGB && !bmp.IsEmpty()) {
    WaveWhole(bmp, amplitude, wavelength, phase, reflective, [this](int p) { Progress(p); });
    bmp.SetAlphaAllOpaque(false);  // the new pixels are assigned as an image
  }
  EndOperation(w);
}

void ImageProc::Fill(int32_t colour) {
  Work w;
  if (!BeginOperation("Fill", FormatSet::Any(), w)) return;
  IEBitmap& bmp = *w.bitmap;
  if (bmp.PixelFormat() == F::ie24RGB && !bmp.IsEmpty()) {
    const IETriple t = CreateRGB(static_cast<uint8_t>(colour / 65536), static_cast<uint8_t>((colour / 256) % 256),
                                 static_cast<uint8_t>(colour % 256));
    ParallelRows(
        w.y1, w.y2,
        [&](int begin, int end) {
          for (int y = begin; y < end; ++y) {
            IETriple* p = reinterpret_cast<IETriple*>(bmp.ScanLine(y));
            std::fill(p + w.x1, p + w.x2, t);
          }
        },
        [&](int y) { RowProgress(w, y); });
  }
  EndOperation(w);
}

void ImageProc::AddSoftShadow(int offsetX, int offsetY, double radius, bool enlarge, uint32_t colour,
                              int intensity) {
  IEBitmap& bmp = canvas_->LayerBitmap(canvas_->CurrentLayerIndex());
  if (bmp.IsEmpty()) return;
  if (std::isnan(radius)) return;
  const int64_t e = enlarge ? ShadowEnlargement(bmp.Width(), bmp.Height(), offsetX, offsetY, radius) : 0;
  if (e < 0) return;
  if (AutoUndo) SaveUndo("AddSoftShadow");
  bmp.AlphaChannel();
  bmp.SetAlphaAllOpaque(false);
  if (enlarge) bmp.Resize(bmp.Width() + static_cast<int>(e), bmp.Height() + static_cast<int>(e), 0, 0, 1, 1);
  IEBitmap& alpha = bmp.AlphaChannel();
  const int W = bmp.Width(), H = bmp.Height();

  // The alpha channel keeps A; the shadow's coverage is a blurred copy read
  // through the offset.
  IEBitmap blurred(alpha);
  if (alpha.Width() != W || alpha.Height() != H || blurred.Width() != W || blurred.Height() != H) {
    Work w;  // out of memory: nothing more can be done
    EndOperation(w);
    return;
  }
  if (radius > 0) detail::GaussBlur(blurred, detail::MakeGaussKernel(radius), [this](int p) { Progress(p); });
  const double f = std::clamp(intensity, 0, 100);
  const double q = 3 - 2 * f / 100;
  const IETriple shadow = ColorToTriple(colour);
  const uint8_t sh[3] = {shadow.b, shadow.g, shadow.r};
  const bool rgb = bmp.PixelFormat() == F::ie24RGB;
  ParallelRows(0, H, [&](int begin, int end) {
    for (int y = begin; y < end; ++y) {
      uint8_t* a = alpha.ScanLine(y);
      uint8_t* px = rgb ? bmp.ScanLine(y) : nullptr;
      const int64_t by = int64_t{y} - offsetY;
      const uint8_t* b = by >= 0 && by < H ? blurred.ScanLine(static_cast<int>(by)) : nullptr;
      for (int x = 0; x < W; ++x) {
        const int av = a[x];
        if (av == 255) continue;
        const int64_t bx = int64_t{x} - offsetX;
        const int s = b && bx >= 0 && bx < W ? b[bx] : 0;
        if (av == 0) {
          if (s == 0) continue;
          if (px) std::memcpy(px + 3 * x, sh, 3);
          a[x] = q == 1 ? static_cast<uint8_t>(s) : ClampByte(std::trunc(s / q));
        } else {
          const double u = s / 255.0, bw = av / 255.0;
          if (px)
            for (int c = 0; c < 3; ++c) {
              const double m = std::trunc(sh[c] * u + (1 - u) * px[3 * x + c]);
              px[3 * x + c] = ClampByte(std::trunc(bw * px[3 * x + c] + (1 - bw) * m));
            }
          a[x] = ClampByte(std::trunc((bw + u * (1 - bw)) * 255));
        }
      }
    }
  });
  Work w;
  EndOperation(w);
}

void ImageProc::AddInnerShadow(int offsetX, int offsetY, double radius, uint32_t colour) {
  IEBitmap& bmp = canvas_->LayerBitmap(canvas_->CurrentLayerIndex());
  if (bmp.IsEmpty()) return;
  const int64_t e = ShadowEnlargement(bmp.Width(), bmp.Height(), offsetX, offsetY, radius);
  if (e < 0) return;
  if (AutoUndo) SaveUndo("AddInnerShadow");
  IEBitmap& alpha = bmp.AlphaChannel();
  bmp.SetAlphaAllOpaque(false);
  const int W = bmp.Width(), H = bmp.Height(), half = static_cast<int>(e / 2);
  // The alpha channel inside a transparent border of e pixels, blurred.
  IEBitmap cover(W + static_cast<int>(e), H + static_cast<int>(e), F::ie8g);
  if (!cover.IsEmpty() && !alpha.IsEmpty() && bmp.PixelFormat() == F::ie24RGB) {
    cover.Fill(0);
    alpha.CopyRectTo(cover, 0, 0, half, half, W, H);
    if (radius > 0) detail::GaussBlur(cover, detail::MakeGaussKernel(radius), [this](int p) { Progress(p); });
    const IETriple shadow = ColorToTriple(colour);
    const int sh[3] = {shadow.b, shadow.g, shadow.r};
    const int CW = cover.Width(), CH = cover.Height();
    ParallelRows(0, H, [&](int begin, int end) {
      for (int y = begin; y < end; ++y) {
        uint8_t* p = bmp.ScanLine(y);
        const int64_t cy = int64_t{y} + half - offsetY;
        const uint8_t* crow = cy >= 0 && cy < CH ? cover.ScanLine(static_cast<int>(cy)) : nullptr;
        for (int x = 0; x < W; ++x) {
          const int64_t cx = int64_t{x} + half - offsetX;
          const int s = crow && cx >= 0 && cx < CW ? crow[cx] : 0;
          const int wgt = (255 - s) * 1024;
          for (int c = 0; c < 3; ++c) p[3 * x + c] = static_cast<uint8_t>(p[3 * x + c] + (((sh[c] - p[3 * x + c]) * wgt) >> 18));
        }
      }
    });
  }
  Work w;
  EndOperation(w);
}

}  // namespace velmora
