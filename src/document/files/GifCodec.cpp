// GIF through giflib: the first frame is read, and pictures are written
// reduced to 256 colours.
#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <unordered_map>

#include "document/files/ImageCodecs.h"

namespace velmora::codecs {

namespace {

int ReadFromFile(GifFileType* gif, GifByteType* data, int n) {
  return static_cast<int>(std::fread(data, 1, static_cast<std::size_t>(n), static_cast<std::FILE*>(gif->UserData)));
}

int WriteToFile(GifFileType* gif, const GifByteType* data, int n) {
  return static_cast<int>(std::fwrite(data, 1, static_cast<std::size_t>(n), static_cast<std::FILE*>(gif->UserData)));
}

std::string GifReason(int error) {
  if (error == D_GIF_ERR_READ_FAILED || error == D_GIF_ERR_EOF_TOO_SOON) return "file truncated";
  const char* text = GifErrorString(error);
  return text ? text : "GIF error " + std::to_string(error);
}

struct GifCloser {
  void operator()(GifFileType* gif) const {
    int error;
    DGifCloseFile(gif, &error);
  }
};

// Rows of an interlaced frame arrive in four passes.
std::vector<int> RowOrder(int height, bool interlaced) {
  std::vector<int> rows;
  rows.reserve(static_cast<std::size_t>(height));
  if (!interlaced) {
    for (int y = 0; y < height; ++y) rows.push_back(y);
    return rows;
  }
  static const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
  for (int pass = 0; pass < 4; ++pass)
    for (int y = start[pass]; y < height; y += step[pass]) rows.push_back(y);
  return rows;
}

}  // namespace

bool DecodeGif(std::FILE* in, const DecodeOptions& options, IEBitmap& out, std::string& reason) {
  int error = 0;
  std::unique_ptr<GifFileType, GifCloser> gif(DGifOpen(in, ReadFromFile, &error));
  if (!gif) return reason = error == D_GIF_ERR_NOT_GIF_FILE ? "not a GIF file" : GifReason(error), false;
  // The logical screen is the picture; a file claiming a huge one is
  // refused before anything is allocated.
  reason = CheckDimensions(uint64_t(gif->SWidth), uint64_t(gif->SHeight), options.limits);
  if (!reason.empty()) return false;

  int transparent = NO_TRANSPARENT_COLOR;
  for (;;) {
    GifRecordType type;
    if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR) return reason = GifReason(gif->Error), false;
    if (type == TERMINATE_RECORD_TYPE) return reason = "the file holds no picture", false;
    if (type == EXTENSION_RECORD_TYPE) {
      int code;
      GifByteType* ext;
      if (DGifGetExtension(gif.get(), &code, &ext) == GIF_ERROR) return reason = GifReason(gif->Error), false;
      if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4) {
        GraphicsControlBlock gcb;
        if (DGifExtensionToGCB(ext[0], ext + 1, &gcb) == GIF_OK) transparent = gcb.TransparentColor;
      }
      while (ext)
        if (DGifGetExtensionNext(gif.get(), &ext) == GIF_ERROR) return reason = GifReason(gif->Error), false;
      continue;
    }
    if (type != IMAGE_DESC_RECORD_TYPE) continue;
    if (DGifGetImageDesc(gif.get()) == GIF_ERROR) return reason = GifReason(gif->Error), false;
    break;
  }
  const GifImageDesc& frame = gif->Image;
  const int fw = frame.Width, fh = frame.Height;
  if (fw <= 0 || fh <= 0) return reason = "invalid frame size", false;
  reason = CheckDimensions(uint64_t(fw), uint64_t(fh), options.limits);
  if (!reason.empty()) return false;
  // Some writers leave the screen empty or smaller than the frame.
  const int sw = gif->SWidth > 0 ? gif->SWidth : fw, sh = gif->SHeight > 0 ? gif->SHeight : fh;
  const int left = std::min(frame.Left, sw), top = std::min(frame.Top, sh);
  const ColorMapObject* map = frame.ColorMap ? frame.ColorMap : gif->SColorMap;
  std::array<IETriple, 256> palette;
  for (int i = 0; i < 256; ++i) palette[static_cast<std::size_t>(i)] = IETriple{uint8_t(i), uint8_t(i), uint8_t(i)};
  if (map)
    for (int i = 0; i < std::min(map->ColorCount, 256); ++i)
      palette[static_cast<std::size_t>(i)] = IETriple{map->Colors[i].Blue, map->Colors[i].Green, map->Colors[i].Red};

  IEBitmap bmp;
  if (!AllocateBitmap(bmp, sw, sh, IEPixelFormat::ie24RGB, reason)) return false;
  const bool covers = left == 0 && top == 0 && fw >= sw && fh >= sh;
  IEBitmap* alpha = nullptr;
  if (!covers || transparent != NO_TRANSPARENT_COLOR) {
    alpha = &bmp.AlphaChannel();
    if (!covers)
      for (int y = 0; y < sh; ++y) {
        std::memset(bmp.ScanLine(y), 0, bmp.RowLen());
        std::memset(alpha->ScanLine(y), 0, static_cast<std::size_t>(sw));
      }
  }
  std::vector<GifPixelType> line(static_cast<std::size_t>(fw));
  for (int fy : RowOrder(fh, frame.Interlace)) {
    if (DGifGetLine(gif.get(), line.data(), fw) == GIF_ERROR) return reason = GifReason(gif->Error), false;
    const int y = top + fy;
    if (y >= sh) continue;
    uint8_t* dst = bmp.ScanLine(y);
    uint8_t* a = alpha ? alpha->ScanLine(y) : nullptr;
    for (int fx = 0; fx < fw && left + fx < sw; ++fx) {
      const int x = left + fx;
      const IETriple& c = palette[line[static_cast<std::size_t>(fx)]];
      dst[3 * x] = c.b, dst[3 * x + 1] = c.g, dst[3 * x + 2] = c.r;
      if (a) a[x] = line[static_cast<std::size_t>(fx)] == transparent ? 0 : 255;
    }
  }
  SettleAlpha(bmp, HasTransparency(bmp));
  out = std::move(bmp);
  return true;
}

// ---------------------------------------------------------------------------
// Writing: reduction to at most 256 colours

namespace {

struct Palette {
  std::vector<IETriple> colours;
  // Index of every 5-5-5 colour cell, or of every exact colour.
  std::unordered_map<uint32_t, uint8_t> exact;
  std::vector<uint8_t> cells;  // 32768 entries when not exact
  uint8_t Index(const IETriple& c) const {
    if (cells.empty()) return exact.at(uint32_t(c.r) << 16 | uint32_t(c.g) << 8 | c.b);
    return cells[static_cast<std::size_t>((c.r >> 3) << 10 | (c.g >> 3) << 5 | (c.b >> 3))];
  }
};

bool Opaque(const IEBitmap& bmp, bool alpha, int x, int y) { return !alpha || bmp.Alpha(x, y) >= 128; }

// A box of 5-5-5 cells for median cut.
struct Box {
  int lo[3], hi[3];  // inclusive, per channel r, g, b
  uint64_t count;
};

// Median cut over a histogram of 5-bit cells: the box with the widest
// range is split at the median of its pixels along that range, until
// there are `maxColours` boxes; each colour is the mean of its pixels.
void MedianCut(const IEBitmap& bmp, bool alpha, int maxColours, Palette& pal) {
  constexpr int kCells = 32768;
  std::vector<uint32_t> count(kCells);
  std::vector<uint64_t> sum(kCells * 3);
  for (int y = 0; y < bmp.Height(); ++y)
    for (int x = 0; x < bmp.Width(); ++x) {
      if (!Opaque(bmp, alpha, x, y)) continue;
      const IETriple& c = bmp.Pixel24(x, y);
      const int cell = (c.r >> 3) << 10 | (c.g >> 3) << 5 | (c.b >> 3);
      ++count[cell];
      sum[cell * 3] += c.r, sum[cell * 3 + 1] += c.g, sum[cell * 3 + 2] += c.b;
    }
  auto at = [](int r, int g, int b) { return r << 10 | g << 5 | b; };
  auto shrink = [&](Box& box) {  // to the cells in use
    int lo[3] = {31, 31, 31}, hi[3] = {0, 0, 0};
    box.count = 0;
    for (int r = box.lo[0]; r <= box.hi[0]; ++r)
      for (int g = box.lo[1]; g <= box.hi[1]; ++g)
        for (int b = box.lo[2]; b <= box.hi[2]; ++b)
          if (const uint32_t n = count[at(r, g, b)]) {
            box.count += n;
            const int v[3] = {r, g, b};
            for (int k = 0; k < 3; ++k) lo[k] = std::min(lo[k], v[k]), hi[k] = std::max(hi[k], v[k]);
          }
    if (box.count) std::copy(lo, lo + 3, box.lo), std::copy(hi, hi + 3, box.hi);
  };
  std::vector<Box> boxes{Box{{0, 0, 0}, {31, 31, 31}, 0}};
  shrink(boxes[0]);
  while (static_cast<int>(boxes.size()) < maxColours) {
    int best = -1, bestAxis = 0, bestRange = 0;
    for (std::size_t i = 0; i < boxes.size(); ++i)
      for (int k = 0; k < 3; ++k)
        if (boxes[i].hi[k] - boxes[i].lo[k] > bestRange)
          best = static_cast<int>(i), bestAxis = k, bestRange = boxes[i].hi[k] - boxes[i].lo[k];
    if (best < 0) break;  // every box is a single cell
    Box& box = boxes[static_cast<std::size_t>(best)];
    // Pixels per plane along the axis, then the median plane.
    std::vector<uint64_t> plane(32, 0);
    for (int r = box.lo[0]; r <= box.hi[0]; ++r)
      for (int g = box.lo[1]; g <= box.hi[1]; ++g)
        for (int b = box.lo[2]; b <= box.hi[2]; ++b) plane[static_cast<std::size_t>(bestAxis == 0 ? r : bestAxis == 1 ? g : b)] += count[at(r, g, b)];
    uint64_t seen = 0;
    int split = box.lo[bestAxis];
    for (int v = box.lo[bestAxis]; v < box.hi[bestAxis]; ++v) {
      seen += plane[static_cast<std::size_t>(v)];
      split = v;
      if (seen * 2 >= box.count) break;
    }
    Box upper = box;
    box.hi[bestAxis] = split;
    upper.lo[bestAxis] = split + 1;
    shrink(box);
    shrink(upper);
    boxes.push_back(upper);
  }
  for (const Box& box : boxes) {
    uint64_t n = 0, s[3] = {0, 0, 0};
    for (int r = box.lo[0]; r <= box.hi[0]; ++r)
      for (int g = box.lo[1]; g <= box.hi[1]; ++g)
        for (int b = box.lo[2]; b <= box.hi[2]; ++b) {
          const int cell = at(r, g, b);
          n += count[cell];
          for (int k = 0; k < 3; ++k) s[k] += sum[cell * 3 + k];
        }
    if (n == 0) n = 1;
    pal.colours.push_back(IETriple{uint8_t((s[2] + n / 2) / n), uint8_t((s[1] + n / 2) / n), uint8_t((s[0] + n / 2) / n)});
  }
  // Every cell to the nearest colour (cells not in the picture too: cheap,
  // and keeps the lookup total).
  pal.cells.assign(kCells, 0);
  for (int cell = 0; cell < kCells; ++cell) {
    const int r = ((cell >> 10) & 31) * 8 + 4, g = ((cell >> 5) & 31) * 8 + 4, b = (cell & 31) * 8 + 4;
    int best = 0, bestDistance = 1 << 30;
    for (std::size_t i = 0; i < pal.colours.size(); ++i) {
      const IETriple& c = pal.colours[i];
      const int d = (c.r - r) * (c.r - r) + (c.g - g) * (c.g - g) + (c.b - b) * (c.b - b);
      if (d < bestDistance) best = static_cast<int>(i), bestDistance = d;
    }
    pal.cells[static_cast<std::size_t>(cell)] = static_cast<uint8_t>(best);
  }
}

// Exact colours when there are few enough (in a fixed order, so the file
// does not depend on hashing), otherwise median cut.
void BuildPalette(const IEBitmap& bmp, bool alpha, int maxColours, Palette& pal) {
  std::vector<uint32_t> seen;
  std::unordered_map<uint32_t, uint8_t> set;
  for (int y = 0; y < bmp.Height() && static_cast<int>(set.size()) <= maxColours; ++y)
    for (int x = 0; x < bmp.Width(); ++x) {
      if (!Opaque(bmp, alpha, x, y)) continue;
      const IETriple& c = bmp.Pixel24(x, y);
      if (set.emplace(uint32_t(c.r) << 16 | uint32_t(c.g) << 8 | c.b, 0).second &&
          static_cast<int>(set.size()) > maxColours)
        break;
    }
  if (static_cast<int>(set.size()) <= maxColours) {
    for (const auto& [key, unused] : set) seen.push_back(key);
    std::sort(seen.begin(), seen.end());
    for (std::size_t i = 0; i < seen.size(); ++i) {
      pal.exact[seen[i]] = static_cast<uint8_t>(i);
      pal.colours.push_back(IETriple{uint8_t(seen[i]), uint8_t(seen[i] >> 8), uint8_t(seen[i] >> 16)});
    }
    return;
  }
  MedianCut(bmp, alpha, maxColours, pal);
}

struct EncoderCloser {
  void operator()(GifFileType* gif) const {
    int error;
    EGifCloseFile(gif, &error);
  }
};
struct MapFree {
  void operator()(ColorMapObject* m) const { GifFreeMapObject(m); }
};

}  // namespace

bool EncodeGif(std::FILE* out, const IEBitmap& bmp, const SaveParams&, const std::string&, std::string& reason) {
  const int w = bmp.Width(), h = bmp.Height();
  if (bmp.PixelFormat() != IEPixelFormat::ie24RGB) return reason = "unsupported pixel format", false;
  if (w > 65535 || h > 65535) return reason = "picture too large for a GIF file", false;
  const bool alpha = HasTransparency(bmp);
  Palette pal;
  BuildPalette(bmp, alpha, alpha ? 255 : 256, pal);
  const int transparent = alpha ? static_cast<int>(pal.colours.size()) : -1;
  if (alpha) pal.colours.push_back(IETriple{});
  // giflib wants a power of two entries.
  int size = 2;
  while (size < static_cast<int>(pal.colours.size())) size *= 2;
  std::vector<GifColorType> colours(static_cast<std::size_t>(size), GifColorType{0, 0, 0});
  for (std::size_t i = 0; i < pal.colours.size(); ++i)
    colours[i] = GifColorType{pal.colours[i].r, pal.colours[i].g, pal.colours[i].b};
  std::unique_ptr<ColorMapObject, MapFree> map(GifMakeMapObject(size, colours.data()));
  if (!map) return reason = "not enough memory", false;

  int error = 0;
  GifFileType* raw = EGifOpen(out, WriteToFile, &error);
  if (!raw) return reason = GifReason(error), false;
  std::unique_ptr<GifFileType, EncoderCloser> gif(raw);
  auto fail = [&] { return reason = GifReason(gif->Error), false; };
  EGifSetGifVersion(gif.get(), alpha);
  if (EGifPutScreenDesc(gif.get(), w, h, 8, 0, map.get()) == GIF_ERROR) return fail();
  if (alpha) {
    GraphicsControlBlock gcb{};
    gcb.DisposalMode = DISPOSAL_UNSPECIFIED;
    gcb.TransparentColor = transparent;
    GifByteType ext[4];
    const std::size_t n = EGifGCBToExtension(&gcb, ext);
    if (EGifPutExtension(gif.get(), GRAPHICS_EXT_FUNC_CODE, static_cast<int>(n), ext) == GIF_ERROR) return fail();
  }
  if (EGifPutImageDesc(gif.get(), 0, 0, w, h, false, nullptr) == GIF_ERROR) return fail();
  std::vector<GifPixelType> line(static_cast<std::size_t>(w));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x)
      line[static_cast<std::size_t>(x)] =
          Opaque(bmp, alpha, x, y) ? pal.Index(bmp.Pixel24(x, y)) : static_cast<GifPixelType>(transparent);
    if (EGifPutLine(gif.get(), line.data(), w) == GIF_ERROR) return fail();
  }
  GifFileType* done = gif.release();
  if (EGifCloseFile(done, &error) == GIF_ERROR) return reason = GifReason(error), false;
  return true;
}

}  // namespace velmora::codecs
