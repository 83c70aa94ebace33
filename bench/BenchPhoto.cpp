#include "BenchPhoto.h"

#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "document/files/ImageFile.h"

namespace velmora::bench {
namespace {

using F = IEPixelFormat;

uint32_t Hash(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352dU;
  x ^= x >> 15;
  x *= 0x846ca68bU;
  x ^= x >> 16;
  return x;
}

// Smooth value noise in 0..1 on a lattice of `cell` pixels.
double ValueNoise(double x, double y, double cell, uint32_t seed) {
  const double fx = x / cell, fy = y / cell;
  const int ix = static_cast<int>(fx), iy = static_cast<int>(fy);
  const double tx = fx - ix, ty = fy - iy;
  auto at = [&](int cx, int cy) { return (Hash(cx * 73856093U ^ cy * 19349663U ^ seed) & 0xFFFF) / 65535.0; };
  const double sx = tx * tx * (3 - 2 * tx), sy = ty * ty * (3 - 2 * ty);
  const double top = at(ix, iy) + (at(ix + 1, iy) - at(ix, iy)) * sx;
  const double bottom = at(ix, iy + 1) + (at(ix + 1, iy + 1) - at(ix, iy + 1)) * sx;
  return top + (bottom - top) * sy;
}

uint8_t Byte(double v) { return static_cast<uint8_t>(std::lround(std::fmin(255.0, std::fmax(0.0, v)))); }

// A small landscape: sky, sun, hills and textured ground.
IEBitmap Landscape(int w, int h) {
  IEBitmap b(w, h, F::ie24RGB);
  for (int y = 0; y < h; ++y) {
    IETriple* row = reinterpret_cast<IETriple*>(b.ScanLine(y));
    for (int x = 0; x < w; ++x) {
      const double u = x / (w - 1.0), v = y / (h - 1.0);
      const double texture = ValueNoise(x, y, w / 40.0, 1) * 0.6 + ValueNoise(x, y, w / 150.0, 2) * 0.4;
      const double horizon = 0.48 + 0.06 * std::sin(7 * u) + 0.03 * ValueNoise(x, 0, w / 12.0, 3);
      double r, g, bl;
      if (v < horizon) {
        r = 110 + 90 * v + 20 * texture;
        g = 150 + 70 * v + 15 * texture;
        bl = 235 - 25 * v;
        const double dx = u - 0.72, dy = v - 0.18, d = std::sqrt(dx * dx + dy * dy);
        if (d < 0.09) {
          const double k = std::fmin(1.0, (0.09 - d) / 0.02);
          r += (255 - r) * k, g += (236 - g) * k, bl += (190 - bl) * k;
        }
      } else {
        const double depth = (v - horizon) / (1 - horizon);
        r = 60 + 70 * texture + 40 * depth;
        g = 95 + 80 * texture - 20 * depth;
        bl = 35 + 30 * texture;
      }
      row[x] = IETriple{Byte(bl), Byte(g), Byte(r)};
    }
  }
  return b;
}

// Bilinear enlargement (or reduction) of a 24-bit picture to w x h. With
// `grain`, fine detail is added as a real photo has it: a luminance texture
// of a few pixels' size (+-4 grain levels) and a per-channel grain of
// +-grain levels.
IEBitmap Scale(const IEBitmap& src, int w, int h, int grain) {
  IEBitmap out(w, h, F::ie24RGB);
  const double sx = (src.Width() - 1.0) / std::max(1, w - 1), sy = (src.Height() - 1.0) / std::max(1, h - 1);
  for (int y = 0; y < h; ++y) {
    const double fy = y * sy;
    const int y0 = static_cast<int>(fy), y1 = std::min(y0 + 1, src.Height() - 1);
    const double ty = fy - y0;
    const uint8_t* r0 = src.ScanLine(y0);
    const uint8_t* r1 = src.ScanLine(y1);
    uint8_t* d = out.ScanLine(y);
    for (int x = 0; x < w; ++x) {
      const double fx = x * sx;
      const int x0 = static_cast<int>(fx), x1 = std::min(x0 + 1, src.Width() - 1);
      const double tx = fx - x0;
      const uint32_t noise = grain ? Hash(static_cast<uint32_t>(y) * 6007U + static_cast<uint32_t>(x)) : 0;
      const double detail = grain ? (ValueNoise(x, y, 4, 7) - 0.5) * 8 * grain : 0;
      for (int c = 0; c < 3; ++c) {
        const double top = r0[3 * x0 + c] + (r0[3 * x1 + c] - r0[3 * x0 + c]) * tx;
        const double bottom = r1[3 * x0 + c] + (r1[3 * x1 + c] - r1[3 * x0 + c]) * tx;
        const int n = grain ? static_cast<int>((noise >> (8 * c)) % (2 * grain + 1)) - grain : 0;
        d[3 * x + c] = Byte(top + (bottom - top) * ty + detail + n);
      }
    }
  }
  return out;
}

IEBitmap MakePhoto(int w, int h) {
  if (const char* path = std::getenv("VELMORA_BENCH_PHOTO")) {
    IEBitmap file;
    if (IOResult r = ReadImage(path, file); r && file.PixelFormat() == F::ie24RGB) return Scale(file, w, h, 0);
    std::fprintf(stderr, "VELMORA_BENCH_PHOTO: cannot use %s; using the synthetic photo\n", path);
  }
  return Scale(Landscape(w / 8, h / 8), w, h, 3);
}

}  // namespace

const IEBitmap& Photo() {
  static const IEBitmap photo = MakePhoto(kPhotoWidth, kPhotoHeight);
  return photo;
}

const IEBitmap& Preview() {
  static const IEBitmap preview = PhotoAt(220, 147);
  return preview;
}

const IEBitmap& Thumbnail() {
  static const IEBitmap thumbnail = PhotoAt(250, 167);
  return thumbnail;
}

IEBitmap PhotoAt(int w, int h) { return Scale(Photo(), w, h, 0); }

void Restore(const IEBitmap& src, IEBitmap& dst) {
  if (dst.PixelFormat() != src.PixelFormat() || dst.Width() != src.Width() || dst.Height() != src.Height() ||
      src.PixelFormat() == F::ie8p || src.HasAlphaChannel() || dst.HasAlphaChannel()) {
    dst.Assign(src);
    return;
  }
  for (int y = 0; y < src.Height(); ++y) std::memcpy(dst.ScanLine(y), src.ScanLine(y), src.RowLen());
  dst.SetAlphaAllOpaque(src.AlphaAllOpaque());
}

void TimeOperation(benchmark::State& state, const IEBitmap& source, const std::function<void(ImageProc&)>& op,
                   const IEMask* selection, bool autoUndo) {
  IEBitmap work = source;
  BitmapTarget target(work, selection);
  ImageProc proc(target);
  proc.AutoUndo = autoUndo;
  for (auto _ : state) {
    state.PauseTiming();
    Restore(source, work);
    state.ResumeTiming();
    op(proc);
    benchmark::DoNotOptimize(work.ScanLine(0)[0]);
  }
  state.SetItemsProcessed(state.iterations() * int64_t{source.Width()} * source.Height());
}

std::string MakeScratchFolder(const std::string& name) {
  std::string pattern = "/tmp/velmora-bench-" + name + "-XXXXXX";
  if (!mkdtemp(pattern.data())) std::abort();
  return pattern;
}

}  // namespace velmora::bench
