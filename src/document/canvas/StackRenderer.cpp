#include "document/canvas/StackRenderer.h"

#include <algorithm>
#include <cstring>
#include <deque>

#include "document/canvas/LayerCanvas.h"
#include "imaging/Parallel.h"

namespace velmora {

namespace {

// What one layer contributes to the dest: the columns it covers with the
// source column of each, and the image rows it covers.
struct LayerPlan {
  const IEBitmap* bmp = nullptr;    // ie24RGB pixels
  const IEBitmap* alpha = nullptr;  // its alpha channel, if any
  int opacity = 255;
  bool copy = false;        // opaque without alpha: copied unchanged
  bool contiguous = false;  // source columns follow the dest columns one by one
  int xa = 0, xb = 0;       // dest columns [xa, xb)
  std::vector<int> srcX;    // source column of dest column xa + i
  int64_t top = 0, bottom = 0;  // image rows [top, bottom)
  int64_t ly = 0, dh = 1, bh = 1;
};

// dst + ((o x (src - dst)) >> 8) per channel over n dest pixels, the
// source column of pixel i being source(i); o = min(opacity, alpha).
template <typename Source>
inline void BlendSpan(IETriple* d, const IETriple* s, const uint8_t* alpha, int opacity, int n, Source source) {
  for (int i = 0; i < n; ++i) {
    const int sx = source(i);
    const int o = alpha ? std::min<int>(opacity, alpha[sx]) : opacity;
    if (o == 0) continue;
    const IETriple sp = s[sx];
    IETriple& dp = d[i];
    dp.b = static_cast<uint8_t>(dp.b + ((o * (sp.b - dp.b)) >> 8));
    dp.g = static_cast<uint8_t>(dp.g + ((o * (sp.g - dp.g)) >> 8));
    dp.r = static_cast<uint8_t>(dp.r + ((o * (sp.r - dp.r)) >> 8));
  }
}

}  // namespace

void RenderStack(const std::vector<const IELayer*>& layers, Color background, double zoom, int64_t viewX,
                 int64_t viewY, IEBitmap& dest) {
  if (dest.IsEmpty() || dest.PixelFormat() != IEPixelFormat::ie24RGB) return;
  const int W = dest.Width(), H = dest.Height();
  const IETriple bg = ColorToTriple(background);

  std::vector<int64_t> colImg(W);
  for (int x = 0; x < W; ++x) colImg[x] = LayerCanvas::ViewToImage(viewX + x, zoom);

  // Layer 0's rectangle, where ClipToBase layers are cut.
  int64_t bx1 = 0, by1 = 0, bx2 = 0, by2 = 0;
  if (!layers.empty() && layers[0]) {
    const IELayer& b = *layers[0];
    bx1 = b.LayerX, by1 = b.LayerY;
    bx2 = bx1 + b.DrawWidth(), by2 = by1 + b.DrawHeight();
  }

  std::deque<IEBitmap> converted;  // 24-bit copies of layers in other formats
  std::vector<LayerPlan> plans;
  for (const IELayer* layer : layers) {
    if (!layer || !layer->Visible || layer->Bitmap.IsEmpty()) continue;
    const int opacity = std::clamp(layer->Opacity, 0, 255);
    if (opacity == 0) continue;
    const int64_t dw = layer->DrawWidth(), dh = layer->DrawHeight();
    if (dw <= 0 || dh <= 0) continue;
    int64_t left = layer->LayerX, right = left + dw;
    int64_t top = layer->LayerY, bottom = top + dh;
    if (layer->ClipToBase) {
      left = std::max(left, bx1), right = std::min(right, bx2);
      top = std::max(top, by1), bottom = std::min(bottom, by2);
    }
    if (left >= right || top >= bottom) continue;

    LayerPlan p;
    p.bmp = &layer->Bitmap;
    if (p.bmp->PixelFormat() != IEPixelFormat::ie24RGB) {
      IEBitmap& c = converted.emplace_back();
      c.AssignImage(*p.bmp);
      if (!c.ConvertFormat(IEPixelFormat::ie24RGB) || c.IsEmpty()) continue;
      p.bmp = &c;
    }
    const IEBitmap* a = layer->Bitmap.AlphaChannelIfAny();
    if (a && a->Width() == p.bmp->Width() && a->Height() == p.bmp->Height() &&
        a->PixelFormat() == IEPixelFormat::ie8g)
      p.alpha = a;
    p.opacity = opacity;
    p.copy = opacity == 255 && !p.alpha;
    p.top = top, p.bottom = bottom;
    p.ly = layer->LayerY, p.dh = dh, p.bh = p.bmp->Height();

    // Columns: the image column grows with the dest column, so the covered
    // ones form one run.
    int xa = 0;
    while (xa < W && colImg[xa] < left) ++xa;
    int xb = xa;
    while (xb < W && colImg[xb] < right) ++xb;
    if (xa >= xb) continue;
    p.xa = xa, p.xb = xb;
    p.srcX.resize(xb - xa);
    const int64_t bw = p.bmp->Width();
    p.contiguous = true;
    for (int x = xa; x < xb; ++x) {
      p.srcX[x - xa] = LayerSourceIndex(colImg[x] - layer->LayerX, bw, dw);
      if (p.srcX[x - xa] != p.srcX[0] + (x - xa)) p.contiguous = false;
    }
    plans.push_back(std::move(p));
  }

  ParallelRows(0, H, [&](int begin, int end) {
    for (int y = begin; y < end; ++y) {
      IETriple* d = reinterpret_cast<IETriple*>(dest.ScanLine(y));
      const int64_t iy = LayerCanvas::ViewToImage(viewY + y, zoom);
      // The background only where the bottom layer does not copy over it.
      const LayerPlan* first = plans.empty() ? nullptr : &plans[0];
      if (first && first->copy && iy >= first->top && iy < first->bottom) {
        std::fill(d, d + first->xa, bg);
        std::fill(d + first->xb, d + W, bg);
      } else {
        std::fill(d, d + W, bg);
      }
      for (const LayerPlan& p : plans) {
        if (iy < p.top || iy >= p.bottom) continue;
        const int sy = LayerSourceIndex(iy - p.ly, p.bh, p.dh);
        const IETriple* s = reinterpret_cast<const IETriple*>(p.bmp->ScanLine(sy));
        const int* sx = p.srcX.data();  // source column of dest column xa + i
        const int n = p.xb - p.xa;
        IETriple* dspan = d + p.xa;
        if (p.copy) {
          if (p.contiguous) {
            // The same pixels when the stack is drawn into its own layer 0.
            if (dspan != s + sx[0]) std::memcpy(dspan, s + sx[0], sizeof(IETriple) * static_cast<std::size_t>(n));
          } else {
            for (int i = 0; i < n; ++i) dspan[i] = s[sx[i]];
          }
          continue;
        }
        const uint8_t* arow = p.alpha ? p.alpha->ScanLine(sy) : nullptr;
        if (p.contiguous)
          BlendSpan(dspan, s + sx[0], arow ? arow + sx[0] : nullptr, p.opacity, n, [](int i) { return i; });
        else
          BlendSpan(dspan, s, arow, p.opacity, n, [sx](int i) { return sx[i]; });
      }
    }
  });
}

}  // namespace velmora
