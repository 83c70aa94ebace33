// Photoshop documents: the flattened composite of the image data section
// (what the file shows with every layer merged), read with a bounds-checked
// reader of our own; written as an RGB 8-bit document without layers.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "document/files/AtomicFile.h"
#include "document/files/ModernCodecs.h"

namespace velmora::codecs {

namespace {

constexpr int kModeBitmap = 0, kModeGrey = 1, kModeIndexed = 2, kModeRGB = 3, kModeCMYK = 4, kModeMultichannel = 7,
              kModeDuotone = 8, kModeLab = 9;

const char* ModeName(int mode) {
  switch (mode) {
    case kModeBitmap: return "bitmap";
    case kModeIndexed: return "indexed";
    case kModeCMYK: return "CMYK";
    case kModeMultichannel: return "multichannel";
    case kModeDuotone: return "duotone";
    case kModeLab: return "Lab";
    default: return "unknown";
  }
}

class Reader {
 public:
  Reader(std::FILE* in, std::string& reason) : in_(in), reason_(reason) {}

  bool Fail(const std::string& why) {
    reason_ = why;
    return false;
  }
  bool Read(void* data, std::size_t n) {
    errno = 0;
    if (std::fread(data, 1, n, in_) == n) return true;
    if (std::ferror(in_)) return Fail(ErrnoMessage(errno ? errno : EIO));
    return Fail("unexpected end of file");
  }
  bool U16(uint32_t& v) {
    uint8_t b[2];
    if (!Read(b, 2)) return false;
    v = uint32_t{b[0]} << 8 | b[1];
    return true;
  }
  bool U32(uint64_t& v) {
    uint8_t b[4];
    if (!Read(b, 4)) return false;
    v = uint64_t{b[0]} << 24 | uint64_t{b[1]} << 16 | uint64_t{b[2]} << 8 | b[3];
    return true;
  }
  bool U64(uint64_t& v) {
    uint64_t hi, lo;
    if (!U32(hi) || !U32(lo)) return false;
    v = hi << 32 | lo;
    return true;
  }
  // Skips a section. Reading through it (rather than seeking) makes a
  // section longer than the file an end-of-file error at once.
  bool Skip(uint64_t n) {
    uint8_t buf[4096];
    while (n > 0) {
      const std::size_t k = static_cast<std::size_t>(std::min<uint64_t>(n, sizeof buf));
      if (!Read(buf, k)) return false;
      n -= k;
    }
    return true;
  }

 private:
  std::FILE* in_;
  std::string& reason_;
};

// PackBits into exactly out.size() bytes; false on overrun or short input.
bool UnpackBits(const uint8_t* src, std::size_t n, std::vector<uint8_t>& out) {
  std::size_t i = 0, o = 0;
  while (o < out.size()) {
    if (i >= n) return false;
    const int c = static_cast<int8_t>(src[i++]);
    if (c >= 0) {
      const std::size_t count = static_cast<std::size_t>(c) + 1;
      if (i + count > n || o + count > out.size()) return false;
      std::memcpy(out.data() + o, src + i, count);
      i += count;
      o += count;
    } else if (c != -128) {
      const std::size_t count = static_cast<std::size_t>(1 - c);
      if (i >= n || o + count > out.size()) return false;
      std::memset(out.data() + o, src[i++], count);
      o += count;
    }
  }
  return true;
}

}  // namespace

bool DecodePsd(std::FILE* in, const DecodeOptions& options, IEBitmap& out, std::string& reason) {
  Reader r(in, reason);
  uint8_t signature[4];
  if (!r.Read(signature, 4)) return false;
  if (std::memcmp(signature, "8BPS", 4) != 0) return r.Fail("not a Photoshop file");
  uint32_t version, channels, depth, mode;
  uint64_t height, width;
  if (!r.U16(version) || !r.Skip(6) || !r.U16(channels) || !r.U32(height) || !r.U32(width) || !r.U16(depth) ||
      !r.U16(mode))
    return false;
  // Version 2 is the large document format: same layout, wider lengths.
  if (version != 1 && version != 2) return r.Fail("unsupported Photoshop version " + std::to_string(version));
  const bool large = version == 2;
  if (channels < 1 || channels > 56) return r.Fail("invalid channel count " + std::to_string(channels));
  if (width == 0 || height == 0)
    return r.Fail("invalid size " + std::to_string(width) + " x " + std::to_string(height));
  if (mode != kModeGrey && mode != kModeRGB)
    return r.Fail(std::string("unsupported Photoshop colour mode (") + ModeName(static_cast<int>(mode)) + ")");
  if (depth != 8 && depth != 16) return r.Fail("unsupported bit depth " + std::to_string(depth));
  const uint32_t colours = mode == kModeRGB ? 3 : 1;
  if (channels < colours) return r.Fail("too few channels for the colour mode");
  if (std::string why = CheckDimensions(width, height, options.limits); !why.empty()) return r.Fail(why);
  // The first channel past the colours, when there is one, is transparency.
  const uint32_t used = std::min(channels, colours + 1);
  const bool alpha = used > colours;

  uint64_t length;
  if (!r.U32(length) || !r.Skip(length)) return false;  // colour mode data
  if (!r.U32(length) || !r.Skip(length)) return false;  // image resources
  if (!(large ? r.U64(length) : r.U32(length)) || !r.Skip(length)) return false;  // layers and masks
  uint32_t compression;
  if (!r.U16(compression)) return false;
  if (compression == 2 || compression == 3) return r.Fail("ZIP-compressed composite not supported");
  if (compression > 1) return r.Fail("unknown compression " + std::to_string(compression));

  const std::size_t bytesPerSample = depth / 8;
  const std::size_t rowBytes = static_cast<std::size_t>(width) * bytesPerSample;
  const std::size_t rows = static_cast<std::size_t>(height);
  // Row byte counts of the channels read; those of the rest are skipped.
  std::vector<uint32_t> counts;
  if (compression == 1) {
    counts.resize(used * rows);
    for (std::size_t i = 0; i < counts.size(); ++i) {
      uint64_t v;
      uint32_t v16;
      if (large) {
        if (!r.U32(v)) return false;
      } else {
        if (!r.U16(v16)) return false;
        v = v16;
      }
      // Even a wasteful encoder (one-byte literals) needs no more than
      // two bytes per byte; larger counts are damage.
      if (v > 2 * rowBytes + 16) return r.Fail("invalid row length");
      counts[i] = static_cast<uint32_t>(v);
    }
    if (!r.Skip(uint64_t{channels - used} * rows * (large ? 4 : 2))) return false;
  }

  IEBitmap bmp;
  const int w = static_cast<int>(width), h = static_cast<int>(height);
  if (!AllocateBitmap(bmp, w, h, IEPixelFormat::ie24RGB, reason)) return false;
  IEBitmap* alphaChannel = nullptr;
  if (alpha) {
    alphaChannel = &bmp.AlphaChannel();
    if (alphaChannel->Width() != w || alphaChannel->Height() != h) return r.Fail("not enough memory");
  }
  std::vector<uint8_t> packed, row(rowBytes);
  bool transparent = false;
  for (uint32_t c = 0; c < used; ++c) {
    for (std::size_t y = 0; y < rows; ++y) {
      if (compression == 1) {
        packed.resize(counts[c * rows + y]);
        if (!r.Read(packed.data(), packed.size())) return false;
        if (!UnpackBits(packed.data(), packed.size(), row)) return r.Fail("corrupt compressed data");
      } else if (!r.Read(row.data(), rowBytes)) {
        return false;
      }
      const int iy = static_cast<int>(y);
      const bool isAlpha = c == colours;
      uint8_t* dst = isAlpha ? alphaChannel->ScanLine(iy) : bmp.ScanLine(iy);
      // Bitmap rows are b, g, r: red is byte 2; grey fills all three.
      const int offset = isAlpha ? 0 : (colours == 1 ? 0 : 2 - static_cast<int>(c));
      for (int x = 0; x < w; ++x) {
        const uint8_t v = bytesPerSample == 1 ? row[x]
                                              : static_cast<uint8_t>(((row[2 * x] << 8 | row[2 * x + 1]) * 255u +
                                                                      32767u) / 65535u);
        if (isAlpha) {
          dst[x] = v;
          transparent |= v != 255;
        } else if (colours == 1) {
          dst[3 * x] = dst[3 * x + 1] = dst[3 * x + 2] = v;
        } else {
          dst[3 * x + offset] = v;
        }
      }
    }
  }
  SettleAlpha(bmp, transparent);
  out = std::move(bmp);
  return true;
}

bool EncodePsd(std::FILE* out, const IEBitmap& bmp, const SaveParams&, const std::string&, std::string& reason) {
  if (bmp.IsEmpty() || bmp.PixelFormat() != IEPixelFormat::ie24RGB) {
    reason = "the picture is empty";
    return false;
  }
  const int w = bmp.Width(), h = bmp.Height();
  if (w > 30000 || h > 30000) {
    reason = "too large for a Photoshop file (30000 pixels a side at most)";
    return false;
  }
  const IEBitmap* alpha = HasTransparency(bmp) ? bmp.AlphaChannelIfAny() : nullptr;
  const int channels = alpha ? 4 : 3;
  std::vector<uint8_t> header;
  auto u16 = [&](uint32_t v) { header.insert(header.end(), {uint8_t(v >> 8), uint8_t(v)}); };
  auto u32 = [&](uint32_t v) { u16(v >> 16), u16(v & 0xFFFF); };
  header.insert(header.end(), {'8', 'B', 'P', 'S'});
  u16(1);
  header.insert(header.end(), 6, 0);
  u16(static_cast<uint32_t>(channels));
  u32(static_cast<uint32_t>(h));
  u32(static_cast<uint32_t>(w));
  u16(8);
  u16(kModeRGB);
  u32(0);  // colour mode data
  u32(0);  // image resources
  u32(8);  // layers and masks: an empty layer info and an empty global mask
  u32(0);
  u32(0);
  u16(0);  // raw composite
  if (!WriteAllBytes(out, header.data(), header.size(), reason)) return false;
  std::vector<uint8_t> row(static_cast<std::size_t>(w));
  for (int c = 0; c < channels; ++c)
    for (int y = 0; y < h; ++y) {
      if (c == 3) {
        std::memcpy(row.data(), alpha->ScanLine(y), row.size());
      } else {
        const uint8_t* src = bmp.ScanLine(y);
        for (int x = 0; x < w; ++x) row[x] = src[3 * x + 2 - c];
      }
      if (!WriteAllBytes(out, row.data(), row.size(), reason)) return false;
    }
  return true;
}

}  // namespace velmora::codecs
