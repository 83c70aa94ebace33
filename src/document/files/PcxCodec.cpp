// PCX (ZSoft Paintbrush) and multipage PCX (DCX: a table of offsets to
// PCX pages). Written here; the header is checked before anything is
// allocated and the run-length data against the end of the file.
#include <algorithm>
#include <cstring>

#include "document/files/ImageCodecs.h"

namespace velmora::codecs {

namespace {

constexpr uint32_t kDcxMagic = 987654321;
constexpr int kDcxPages = 1024;  // entries of the offset table, the last always 0

// Run-length data: a byte 0xC0 | n repeats the next byte n times; others
// stand for themselves. Runs may go on past the end of a scanline.
class RleReader {
 public:
  RleReader(ByteReader& r, bool compressed) : r_(r), compressed_(compressed) {}
  bool Line(uint8_t* dst, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
      if (!compressed_) {
        dst[i] = r_.U8();
      } else {
        if (run_ == 0) {
          const uint8_t c = r_.U8();
          if ((c & 0xC0) == 0xC0) {
            run_ = c & 0x3F;
            value_ = r_.U8();
          } else {
            run_ = 1;
            value_ = c;
          }
          if (run_ == 0) {  // an empty run: nothing to write
            --i;
            if (r_.Failed()) return false;
            continue;
          }
        }
        dst[i] = value_;
        --run_;
      }
      if (r_.Failed()) return false;
    }
    return true;
  }

 private:
  ByteReader& r_;
  bool compressed_;
  unsigned run_ = 0;
  uint8_t value_ = 0;
};

bool DecodePcxData(const uint8_t* data, std::size_t size, const ImageLimits& limits, IEBitmap& out,
                   std::string& reason) {
  ByteReader r(data, size);
  const uint8_t maker = r.U8(), version = r.U8(), encoding = r.U8(), bits = r.U8();
  const unsigned x0 = r.U16(), y0 = r.U16(), x1 = r.U16(), y1 = r.U16();
  r.Seek(16);
  const uint8_t* ega = r.Take(48);
  r.Seek(65);
  const unsigned planes = r.U8(), bytesPerLine = r.U16();
  if (r.Failed() || size < 128) return reason = size == 0 ? "empty file" : "file truncated in the header", false;
  if (maker != 0x0A || encoding > 1 || version > 5) return reason = "not a PCX file", false;
  if (x1 < x0 || y1 < y0) return reason = "invalid size", false;
  const unsigned w = x1 - x0 + 1, h = y1 - y0 + 1;
  const bool truecolour = bits == 8 && (planes == 3 || planes == 4);
  const bool indexed = (bits == 1 && planes >= 1 && planes <= 4) || ((bits == 2 || bits == 4 || bits == 8) && planes == 1);
  if (!truecolour && !indexed)
    return reason = "unsupported PCX layout (" + std::to_string(bits) + " bits, " + std::to_string(planes) + " planes)",
           false;
  if (uint64_t{bytesPerLine} * 8 < uint64_t{w} * bits) return reason = "invalid bytes per line", false;
  reason = CheckDimensions(w, h, limits);
  if (!reason.empty()) return false;
  // A run covers at most 63 bytes, so the data cannot be shorter than
  // this: a file far too short is refused before the picture is allocated.
  const uint64_t lineBytes = uint64_t{bytesPerLine} * planes;
  if ((lineBytes * h + 62) / 63 > size - 128) return reason = "file truncated in the pixels", false;

  r.Seek(128);
  RleReader rle(r, encoding == 1);
  std::vector<uint8_t> line(static_cast<std::size_t>(lineBytes));
  const bool bilevel = bits == 1 && planes == 1;
  IEBitmap bmp;
  const IEPixelFormat format = bilevel ? IEPixelFormat::ie1g : truecolour ? IEPixelFormat::ie24RGB : IEPixelFormat::ie8p;
  if (!AllocateBitmap(bmp, static_cast<int>(w), static_cast<int>(h), format, reason)) return false;
  for (unsigned y = 0; y < h; ++y) {
    if (!rle.Line(line.data(), line.size())) return reason = "file truncated in the pixels", false;
    uint8_t* dst = bmp.ScanLine(static_cast<int>(y));
    if (bilevel) {
      std::memcpy(dst, line.data(), std::min<std::size_t>(bmp.RowLen(), (w + 7) / 8));
    } else if (truecolour) {
      for (unsigned x = 0; x < w; ++x) {
        dst[3 * x + 2] = line[x];
        dst[3 * x + 1] = line[bytesPerLine + x];
        dst[3 * x] = line[2 * bytesPerLine + x];
      }
    } else if (bits == 1) {  // up to four bit planes make the index
      for (unsigned x = 0; x < w; ++x) {
        unsigned index = 0;
        for (unsigned p = 0; p < planes; ++p) index |= ((line[p * bytesPerLine + x / 8] >> (7 - x % 8)) & 1u) << p;
        dst[x] = static_cast<uint8_t>(index);
      }
    } else {
      const unsigned per = 8 / bits, mask = (1u << bits) - 1;
      for (unsigned x = 0; x < w; ++x) dst[x] = static_cast<uint8_t>((line[x / per] >> (8 - bits * (x % per + 1))) & mask);
    }
  }
  if (format == IEPixelFormat::ie8p) {
    IETriple* pal = bmp.Palette();
    std::fill(pal, pal + 256, IETriple{});
    if (bits == 8) {
      // 256 colours after a 0x0C byte at the very end; grey without them.
      if (size >= 769 + 128 && data[size - 769] == 0x0C) {
        for (int i = 0; i < 256; ++i)
          pal[i] = IETriple{data[size - 768 + 3 * i + 2], data[size - 768 + 3 * i + 1], data[size - 768 + 3 * i]};
      } else {
        for (int i = 0; i < 256; ++i) pal[i] = IETriple{uint8_t(i), uint8_t(i), uint8_t(i)};
      }
    } else {
      for (int i = 0; i < 16; ++i) pal[i] = IETriple{ega[3 * i + 2], ega[3 * i + 1], ega[3 * i]};
    }
    if (!bmp.ConvertFormat(IEPixelFormat::ie24RGB)) return reason = "not enough memory", false;
  }
  out = std::move(bmp);
  return true;
}

void Put16(std::vector<uint8_t>& b, unsigned v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}

// One 24-bit page: three planes of 8 bits, each scanline encoded alone.
bool EncodePcxData(std::FILE* out, const IEBitmap& bmp, std::string& reason) {
  const int w = bmp.Width(), h = bmp.Height();
  if (bmp.PixelFormat() != IEPixelFormat::ie24RGB) return reason = "unsupported pixel format", false;
  if (w > 65535 || h > 65535) return reason = "picture too large for a PCX file", false;
  const unsigned bytesPerLine = static_cast<unsigned>(w + (w & 1));  // even
  std::vector<uint8_t> head = {0x0A, 5, 1, 8};
  Put16(head, 0), Put16(head, 0), Put16(head, static_cast<unsigned>(w - 1)), Put16(head, static_cast<unsigned>(h - 1));
  Put16(head, 72), Put16(head, 72);
  head.resize(65, 0);
  head.push_back(3);
  Put16(head, bytesPerLine);
  Put16(head, 1);  // colour
  head.resize(128, 0);
  if (!WriteBytes(out, head.data(), head.size(), reason)) return false;
  std::vector<uint8_t> plane(bytesPerLine), encoded;
  for (int y = 0; y < h; ++y) {
    encoded.clear();
    const uint8_t* src = bmp.ScanLine(y);
    for (int p = 0; p < 3; ++p) {
      for (int x = 0; x < w; ++x) plane[static_cast<std::size_t>(x)] = src[3 * x + (2 - p)];
      for (std::size_t i = 0; i < plane.size();) {
        std::size_t n = 1;
        while (i + n < plane.size() && n < 63 && plane[i + n] == plane[i]) ++n;
        if (n > 1 || (plane[i] & 0xC0) == 0xC0) encoded.push_back(static_cast<uint8_t>(0xC0 | n));
        encoded.push_back(plane[i]);
        i += n;
      }
    }
    if (!WriteBytes(out, encoded.data(), encoded.size(), reason)) return false;
  }
  return true;
}

}  // namespace

bool DecodePcx(std::FILE* in, const DecodeOptions& options, IEBitmap& out, std::string& reason) {
  std::vector<uint8_t> file;
  if (!ReadRest(in, file, reason)) return false;
  return DecodePcxData(file.data(), file.size(), options.limits, out, reason);
}

bool EncodePcx(std::FILE* out, const IEBitmap& bmp, const SaveParams&, const std::string&, std::string& reason) {
  return EncodePcxData(out, bmp, reason);
}

bool DecodeDcx(std::FILE* in, const DecodeOptions& options, IEBitmap& out, std::string& reason) {
  std::vector<uint8_t> file;
  if (!ReadRest(in, file, reason)) return false;
  ByteReader r(file.data(), file.size());
  const uint32_t magic = r.U32(), first = r.U32();
  if (r.Failed()) return reason = file.empty() ? "empty file" : "file truncated in the header", false;
  if (magic != kDcxMagic) return reason = "not a multipage PCX file", false;
  if (first == 0) return reason = "the file has no pages", false;
  if (first >= file.size()) return reason = "file truncated before the first page", false;
  // The page ends where the next one starts, or at the end of the file.
  uint64_t end = file.size();
  const uint32_t second = r.U32();
  if (!r.Failed() && second > first && second < end) end = second;
  return DecodePcxData(file.data() + first, static_cast<std::size_t>(end - first), options.limits, out, reason);
}

bool EncodeDcx(std::FILE* out, const IEBitmap& bmp, const SaveParams&, const std::string&, std::string& reason) {
  std::vector<uint8_t> head;
  auto put32 = [&](uint32_t v) { Put16(head, v & 0xFFFF), Put16(head, v >> 16); };
  put32(kDcxMagic);
  put32(4 + 4 * kDcxPages);
  head.resize(4 + 4 * kDcxPages, 0);
  return WriteBytes(out, head.data(), head.size(), reason) && EncodePcxData(out, bmp, reason);
}

}  // namespace velmora::codecs
