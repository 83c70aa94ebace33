#include "imaging/ImageProc.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "imaging/Parallel.h"

namespace velmora {

using F = IEPixelFormat;

ImageProc::ImageProc(ProcTarget& canvas) : canvas_(&canvas) {
  OnProgress = [this](int p) { canvas_->Progress(p); };
  OnFinishWork = [this] { canvas_->FinishWork(); };
  OnSaveUndo = [this] { canvas_->UndoSaved(); };
}

std::string ImageProc::Label(const std::string& name, std::initializer_list<int> params) {
  std::string s = name;
  char sep = ' ';
  for (int p : params) {
    s += sep;
    s += std::to_string(p);
    sep = ',';
  }
  return s;
}

void ImageProc::RowProgress(const Work& w, int y) const {
  if (!OnProgress) return;
  const double step = 100.0 / (w.y2 - w.y1 - 1 + 0.5);
  // The formula passes 100 on the last rows (105 after 9 of 9): a progress
  // bar is never shown beyond its end.
  OnProgress(std::clamp(static_cast<int>(std::trunc((y - w.y1 + 1) * step)), 0, 100));
}

// Preferred targets when a bitmap's format is not accepted, by present format.
IEPixelFormat ImageProc::ConversionTarget(IEPixelFormat present, FormatSet accepted) {
  static const std::vector<F> kPreferences[kPixelFormatCount] = {
      {},
      {F::ie8g, F::ie16g, F::ie32f, F::ie24RGB},
      {F::ie24RGB, F::ieCMYK, F::ieRGB48, F::ieCIELab},
      {F::ie16g, F::ie32f, F::ie24RGB, F::ieCMYK, F::ieRGB48},
      {F::ie32f, F::ie8g, F::ieRGB48, F::ie24RGB, F::ieCMYK},
      {F::ieCMYK, F::ieCIELab, F::ieRGB48, F::ie8p, F::ie16g, F::ie8g},
      {F::ie16g, F::ie8g, F::ie24RGB, F::ieRGB48, F::ieCIELab},
      {F::ie24RGB, F::ieRGB48, F::ieCIELab, F::ie8g},
      {F::ie24RGB, F::ieCMYK, F::ieCIELab, F::ie16g},
      {F::ie24RGB, F::ieCMYK, F::ieRGB48, F::ie8g},
      {F::ie24RGB, F::ieCMYK, F::ieRGB48, F::ie8g},
  };
  if (accepted.Has(present)) return present;
  const int i = static_cast<int>(present);
  if (i >= 0 && i < kPixelFormatCount)
    for (F f : kPreferences[i])
      if (accepted.Contains(f)) return f;
  for (int o = kPixelFormatCount - 1; o >= 0; --o)
    if (accepted.Contains(static_cast<F>(o))) return static_cast<F>(o);
  return F::ieNone;
}

void ImageProc::SaveUndo(const std::string& label) {
  const int layer = canvas_->CurrentLayerIndex();
  const IEBitmap& bmp = canvas_->LayerBitmap(layer);
  if (bmp.Width() < 2 || bmp.Height() < 2) return;
  while (!undo_.empty() && static_cast<int>(undo_.size()) >= UndoLimit) undo_.pop_front();
  if (UndoLimit <= 0) return;
  UndoEntry entry;
  entry.bitmap.Assign(bmp);
  entry.layer = layer;
  entry.label = label;
  undo_.push_back(std::move(entry));
  if (OnSaveUndo) OnSaveUndo();
}

void ImageProc::Undo() {
  if (undo_.empty()) return;
  const UndoEntry& e = undo_.back();
  const int layer = std::min(e.layer, canvas_->LayerCount() - 1);
  canvas_->LayerBitmap(layer).Assign(e.bitmap);
  canvas_->Repaint();
}

bool ImageProc::BeginOperation(const std::string& label, FormatSet accepted, Work& work) {
  if (AutoUndo) SaveUndo(label);
  IEBitmap& bmp = canvas_->LayerBitmap(canvas_->CurrentLayerIndex());
  if (!accepted.Has(bmp.PixelFormat())) {
    if (!AutoConvertFormat) return false;
    const F target = ConversionTarget(bmp.PixelFormat(), accepted);
    if (target == F::ieNone || !bmp.ConvertFormat(target)) return false;
  }
  work = Work{};
  work.bitmap = &bmp;
  work.x2 = bmp.Width();
  work.y2 = bmp.Height();
  const IEMask* mask = canvas_->Selection();
  if (mask && !mask->IsEmpty() && !bmp.IsEmpty()) {
    work.mask = mask;
    work.boxX = mask->X1;
    work.boxY = mask->Y1;
    const int bw = mask->X2 - mask->X1 + 1, bh = mask->Y2 - mask->Y1 + 1;
    work.scratch.SetLocation(IELocation::ieAuto);
    if (!work.scratch.Allocate(bw, bh, bmp.PixelFormat())) return false;
    if (bmp.Palette()) std::memcpy(work.scratch.Palette(), bmp.Palette(), 256 * sizeof(IETriple));
    const int bx = mask->X1, by = mask->Y1;
    ParallelRows(0, bh, [&](int begin, int end) {
      bmp.CopyRectTo(work.scratch, bx, by + begin, 0, begin, bw, end - begin);
    });
    work.bitmap = &work.scratch;
    work.x1 = work.y1 = 0;
    work.x2 = bw;
    work.y2 = bh;
  }
  return true;
}

namespace {

// dst + floor((src - dst) * m / 256), as the blend of a feathered selection
// has always been computed: a full selection moves 255/256 of the way.
inline uint8_t Blend8(int dst, int src, int m) {
  return static_cast<uint8_t>(dst + (((src - dst) * (m * 1024)) >> 18));
}

// Bit x of a 1-bit row (mask or ie1g picture).
inline bool BitAt(const uint8_t* row, int x) { return (row[x >> 3] >> (7 - (x & 7))) & 1; }

// The end (exclusive, at most `last` + 1) of the run of pixels from x on
// whose 1-bit mask value equals `set`; whole bytes are skipped at once.
inline int RunEnd(const uint8_t* m, int x, int last, bool set) {
  const uint8_t whole = set ? 0xFF : 0x00;
  while (x <= last) {
    if ((x & 7) == 0 && x + 7 <= last && m[x >> 3] == whole) {
      x += 8;
    } else if (BitAt(m, x) == set) {
      ++x;
    } else {
      break;
    }
  }
  return x;
}

// Blends rows of `src` (scratch, origin at the box) into `dst` at (bx, by)
// through the mask, over the inclusive columns bx..xe and rows by..ye of dst.
void BlendThroughMask(const IEBitmap& src, IEBitmap& dst, const IEMask& mask, int bx, int by, int xe, int ye) {
  const F fmt = dst.PixelFormat();
  const std::size_t bytes = static_cast<std::size_t>(BitsPerPixel(fmt) / 8);
  const bool eightBit = mask.Depth() == 8;
  const bool blend = eightBit && (fmt == F::ie24RGB || fmt == F::ie8g);
  ParallelRows(by, ye + 1, [&](int begin, int end) {
    // For 24-bit pixels: each pixel's mask value once per byte, so that the
    // blend runs over plain rows of bytes (a mask value of 0 leaves the
    // byte as it is).
    std::vector<uint8_t> byteMask(blend && bytes == 3 ? 3 * static_cast<std::size_t>(xe - bx + 1) : 0);
    for (int y = begin; y < end; ++y) {
      const uint8_t* s = src.ScanLine(y - by);
      uint8_t* d = dst.ScanLine(y);
      const uint8_t* m = mask.ScanLine(y);
      if (fmt == F::ie1g) {
        for (int x = bx; x <= xe; ++x)
          if (eightBit ? m[x] != 0 : BitAt(m, x)) dst.SetBit(x, y, BitAt(s, x - bx));
      } else if (blend && bytes == 3) {
        uint8_t* __restrict bm = byteMask.data();
        const std::size_t n = byteMask.size();
        for (std::size_t i = 0, x = static_cast<std::size_t>(bx); i < n; i += 3, ++x) {
          const uint8_t v = m[x];
          bm[i] = v;
          bm[i + 1] = v;
          bm[i + 2] = v;
        }
        uint8_t* __restrict dp = d + 3 * static_cast<std::size_t>(bx);
        const uint8_t* __restrict sp = s;
        for (std::size_t i = 0; i < n; ++i) dp[i] = Blend8(dp[i], sp[i], bm[i]);
      } else if (blend) {
        for (int x = bx; x <= xe; ++x)
          if (m[x] != 0) d[x] = Blend8(d[x], s[x - bx], m[x]);
      } else {
        // Whole samples where the mask is set: copied run by run.
        for (int x = bx; x <= xe;) {
          int runEnd = x;
          if (eightBit) {
            while (runEnd <= xe && m[runEnd] != 0) ++runEnd;
          } else {
            runEnd = RunEnd(m, x, xe, true);
          }
          if (runEnd > x)
            std::memcpy(d + static_cast<std::size_t>(x) * bytes, s + static_cast<std::size_t>(x - bx) * bytes,
                        static_cast<std::size_t>(runEnd - x) * bytes);
          x = runEnd;
          if (eightBit) {
            while (x <= xe && m[x] == 0) ++x;
          } else {
            x = RunEnd(m, x, xe, false);
          }
        }
      }
    }
  });
}

}  // namespace

void ImageProc::BlendBack(Work& work) {
  IEBitmap& bmp = canvas_->LayerBitmap(canvas_->CurrentLayerIndex());
  IEBitmap& tmp = work.scratch;
  const IEMask& mask = *work.mask;
  if (tmp.IsEmpty() || bmp.IsEmpty()) return;
  const int bx = work.boxX, by = work.boxY;
  int xe = bx + std::min({mask.X2 - mask.X1, tmp.Width() - 1, bmp.Width() - 1});
  int ye = by + std::min({mask.Y2 - mask.Y1, tmp.Height() - 1, bmp.Height() - 1});
  // Never past the bitmap or the mask, whatever the worker did to sizes.
  xe = std::min({xe, bmp.Width() - 1, mask.Width() - 1});
  ye = std::min({ye, bmp.Height() - 1, mask.Height() - 1});
  if (xe < bx || ye < by) return;
  if (tmp.PixelFormat() == bmp.PixelFormat()) BlendThroughMask(tmp, bmp, mask, bx, by, xe, ye);
  if (tmp.HasAlphaChannel() && !tmp.AlphaAllOpaque()) {
    BlendThroughMask(tmp.AlphaChannel(), bmp.AlphaChannel(), mask, bx, by, xe, ye);
    bmp.SetAlphaAllOpaque(false);
  }
}

void ImageProc::EndOperation(Work& work) {
  if (work.mask && work.bitmap == &work.scratch) {
    BlendBack(work);
    work.scratch.Free();
  }
  work.bitmap = nullptr;
  canvas_->Repaint();
  canvas_->ImageChanged();
  if (OnProgress) OnProgress(100);
  if (OnFinishWork) OnFinishWork();
}

void AlphaFromMask(IEBitmap& target, const IEBitmap& mask) {
  if (target.IsEmpty()) return;
  if (mask.PixelFormat() != F::ie24RGB || mask.Width() < target.Width() || mask.Height() < target.Height()) return;
  IEBitmap& a = target.AlphaChannel();
  bool opaque = true;
  for (int y = 0; y < target.Height(); ++y) {
    const uint8_t* m = mask.ScanLine(y);
    uint8_t* d = a.ScanLine(y);
    for (int x = 0; x < target.Width(); ++x) {
      d[x] = m[3 * x + 2];
      opaque &= d[x] == 255;
    }
  }
  if (!opaque) target.SetAlphaAllOpaque(false);
}

}  // namespace velmora
