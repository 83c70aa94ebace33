#include "document/files/Orientation.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "imaging/GeometryDetail.h"

namespace velmora {

namespace {

// Where the upright pixel (x, y) of a w x h upright picture comes from in
// the stored picture.
struct Mapping {
  int orientation;
  int w, h;  // upright size
  void Source(int x, int y, int& sx, int& sy) const {
    switch (orientation) {
      case 2: sx = w - 1 - x, sy = y; break;
      case 3: sx = w - 1 - x, sy = h - 1 - y; break;
      case 4: sx = x, sy = h - 1 - y; break;
      case 5: sx = y, sy = x; break;
      case 6: sx = y, sy = w - 1 - x; break;
      case 7: sx = h - 1 - y, sy = w - 1 - x; break;
      case 8: sx = h - 1 - y, sy = x; break;
      default: sx = x, sy = y; break;
    }
  }
};

void Remap(const IEBitmap& src, IEBitmap& dst, const Mapping& m) {
  if (src.PixelFormat() == IEPixelFormat::ie1g) {
    for (int y = 0; y < m.h; ++y)
      for (int x = 0; x < m.w; ++x) {
        int sx, sy;
        m.Source(x, y, sx, sy);
        dst.SetBit(x, y, src.Bit(sx, sy));
      }
    return;
  }
  const int bpp = src.BitCount() / 8;
  for (int y = 0; y < m.h; ++y) {
    uint8_t* out = dst.ScanLine(y);
    for (int x = 0; x < m.w; ++x) {
      int sx, sy;
      m.Source(x, y, sx, sy);
      std::memcpy(out + static_cast<std::size_t>(x) * bpp, src.ScanLine(sy) + static_cast<std::size_t>(sx) * bpp,
                  static_cast<std::size_t>(bpp));
    }
  }
}

}  // namespace

bool ApplyOrientation(IEBitmap& bmp, int orientation) {
  if (orientation < 2 || orientation > 8 || bmp.IsEmpty()) return true;
  if (bmp.PixelFormat() != IEPixelFormat::ie1g && bmp.BitCount() % 8 != 0) return false;
  const bool swap = orientation >= 5;
  const Mapping m{orientation, swap ? bmp.Height() : bmp.Width(), swap ? bmp.Width() : bmp.Height()};
  IEBitmap turned;
  if (!turned.Allocate(m.w, m.h, bmp.PixelFormat()) || turned.IsEmpty()) return false;
  if (bmp.PixelFormat() == IEPixelFormat::ie8p)
    std::memcpy(turned.Palette(), bmp.Palette(), 256 * sizeof(IETriple));
  Remap(bmp, turned, m);
  if (const IEBitmap* alpha = bmp.AlphaChannelIfAny()) {
    IEBitmap& a = turned.AlphaChannel();
    if (a.Width() != m.w || a.Height() != m.h) return false;
    Remap(*alpha, a, m);
    turned.SetAlphaAllOpaque(bmp.AlphaAllOpaque());
  }
  bmp = std::move(turned);
  return true;
}

namespace {

// Box reduction of `channels` interleaved byte channels: destination
// column x covers source columns [x*sw/dw, (x+1)*sw/dw).
void BoxRows(const IEBitmap& src, IEBitmap& dst, int channels) {
  const int sw = src.Width(), sh = src.Height(), dw = dst.Width(), dh = dst.Height();
  std::vector<int> x0(static_cast<std::size_t>(dw) + 1);
  for (int x = 0; x <= dw; ++x) x0[static_cast<std::size_t>(x)] = static_cast<int>(int64_t{x} * sw / dw);
  std::vector<uint32_t> sums(static_cast<std::size_t>(dw) * channels);
  for (int y = 0; y < dh; ++y) {
    const int y0 = static_cast<int>(int64_t{y} * sh / dh), y1 = static_cast<int>(int64_t{y + 1} * sh / dh);
    std::fill(sums.begin(), sums.end(), 0u);
    for (int sy = y0; sy < y1; ++sy) {
      const uint8_t* row = src.ScanLine(sy);
      for (int x = 0; x < dw; ++x) {
        uint32_t* s = &sums[static_cast<std::size_t>(x) * channels];
        const uint8_t* p = row + static_cast<std::size_t>(x0[static_cast<std::size_t>(x)]) * channels;
        const uint8_t* end = row + static_cast<std::size_t>(x0[static_cast<std::size_t>(x) + 1]) * channels;
        for (; p < end; p += channels)
          for (int c = 0; c < channels; ++c) s[c] += p[c];
      }
    }
    uint8_t* out = dst.ScanLine(y);
    for (int x = 0; x < dw; ++x) {
      const uint32_t n = static_cast<uint32_t>(x0[static_cast<std::size_t>(x) + 1] - x0[static_cast<std::size_t>(x)]) *
                         static_cast<uint32_t>(y1 - y0);
      for (int c = 0; c < channels; ++c)
        out[static_cast<std::size_t>(x) * channels + c] =
            static_cast<uint8_t>((sums[static_cast<std::size_t>(x) * channels + c] + n / 2) / n);
    }
  }
}

}  // namespace

bool ReduceToFit(IEBitmap& bmp, int side) {
  const int w = bmp.Width(), h = bmp.Height();
  if (side < 1 || bmp.IsEmpty() || std::max(w, h) <= side) return true;
  if (w >= h) return ReduceToSize(bmp, side, std::max(1, static_cast<int>((int64_t{h} * side + w / 2) / w)));
  return ReduceToSize(bmp, std::max(1, static_cast<int>((int64_t{w} * side + h / 2) / h)), side);
}

bool ReduceToSize(IEBitmap& bmp, int dw, int dh) {
  const int w = bmp.Width();
  if (bmp.IsEmpty() || dw < 1 || dh < 1 || dw > w || dh > bmp.Height()) return false;
  IEBitmap source;
  const IEBitmap* from = &bmp;
  if (bmp.PixelFormat() != IEPixelFormat::ie24RGB && bmp.PixelFormat() != IEPixelFormat::ie8g) {
    source.Assign(bmp);
    if (source.Width() != w || !source.ConvertFormat(IEPixelFormat::ie24RGB)) return false;
    from = &source;
  }
  IEBitmap small;
  if (!small.Allocate(dw, dh, from->PixelFormat()) || small.IsEmpty()) return false;
  BoxRows(*from, small, from->PixelFormat() == IEPixelFormat::ie24RGB ? 3 : 1);
  if (const IEBitmap* alpha = from->AlphaChannelIfAny()) {
    IEBitmap& a = small.AlphaChannel();
    if (a.Width() != dw || a.Height() != dh) return false;
    BoxRows(*alpha, a, 1);
    small.SetAlphaAllOpaque(from->AlphaAllOpaque());
  }
  bmp = std::move(small);
  return true;
}

bool MakeEmbeddedThumbnail(const IEBitmap& bmp, IEBitmap& thumb) {
  if (bmp.IsEmpty()) return false;
  const int w = bmp.Width(), h = bmp.Height();
  // Always 160 wide (narrow pictures are enlarged); a very tall picture's
  // thumbnail stops at four times its width, so that it stays small.
  const int tw = kEmbeddedThumbnailWidth;
  const int th = static_cast<int>(std::clamp<int64_t>((int64_t{h} * tw + w / 2) / w, 1, 4 * kEmbeddedThumbnailWidth));
  // The triangle filter of Resample reads the source as it is; only other
  // pixel formats need a 24-bit copy first.
  IEBitmap converted;
  const IEBitmap* from = &bmp;
  if (bmp.PixelFormat() != IEPixelFormat::ie24RGB && bmp.PixelFormat() != IEPixelFormat::ie8g) {
    converted.AssignImage(bmp);
    if (converted.Width() != w || !converted.ConvertFormat(IEPixelFormat::ie24RGB)) return false;
    from = &converted;
  }
  IEBitmap small;
  if (!small.Allocate(tw, th, from->PixelFormat()) || small.IsEmpty()) return false;
  if (!geometry::KernelResample(*from, small, from->PixelFormat() == IEPixelFormat::ie24RGB ? 3 : 1, rfTriangle, {}))
    return false;
  thumb = std::move(small);
  return true;
}

}  // namespace velmora
