// Portable bitmap, greymap and pixmap (P1 to P6), plain and raw.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "document/files/AtomicFile.h"
#include "document/files/ImageCodecs.h"

namespace velmora::codecs {

namespace {

class PnmReader {
 public:
  PnmReader(std::FILE* in, std::string& reason) : in_(in), reason_(reason) {}

  int Get() { return std::getc(in_); }

  static bool IsSpace(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

  bool Fail(const std::string& why) {
    reason_ = why;
    return false;
  }
  bool FailRead() {
    if (std::ferror(in_)) return Fail(ErrnoMessage(errno ? errno : EIO));
    return Fail("unexpected end of file");
  }

  // Skips white space and comments ("#" to the end of the line). False at
  // the end of the file.
  bool SkipSpace() {
    for (;;) {
      int c = Get();
      if (c == EOF) return false;
      if (c == '#') {
        do c = Get();
        while (c != '\n' && c != '\r' && c != EOF);
        if (c == EOF) return false;
        continue;
      }
      if (!IsSpace(c)) {
        std::ungetc(c, in_);
        return true;
      }
    }
  }

  // A decimal number no greater than `max`; `what` names it in messages.
  bool Number(uint32_t max, const char* what, uint32_t& value) {
    if (!SkipSpace()) return FailRead();
    int c = Get();
    if (c < '0' || c > '9') return Fail(std::string("invalid ") + what);
    uint64_t v = 0;
    for (; c >= '0' && c <= '9'; c = Get()) {
      v = v * 10 + static_cast<unsigned>(c - '0');
      if (v > max) return Fail(std::string(what) + " out of range");
    }
    if (c != EOF) std::ungetc(c, in_);
    value = static_cast<uint32_t>(v);
    return true;
  }

  // The single white-space character that ends the header of a raw file.
  // A comment may come before it; the comment's line end then counts.
  bool EndOfHeader() {
    int c = Get();
    if (c == '#') {
      do c = Get();
      while (c != '\n' && c != '\r' && c != EOF);
    }
    if (c == EOF) return FailRead();
    if (!IsSpace(c)) return Fail("invalid header");
    return true;
  }

  bool Read(void* data, std::size_t n) {
    errno = 0;
    if (std::fread(data, 1, n, in_) != n) return FailRead();
    return true;
  }

 private:
  std::FILE* in_;
  std::string& reason_;
};

// Sample values 0..maxval to 0..255, rounded.
std::vector<uint8_t> ScaleTable(uint32_t maxval) {
  std::vector<uint8_t> table(maxval + 1);
  for (uint32_t v = 0; v <= maxval; ++v) table[v] = static_cast<uint8_t>((v * 255 + maxval / 2) / maxval);
  return table;
}

bool DecodeBilevel(PnmReader& r, bool plain, IEBitmap& bmp) {
  const int w = bmp.Width();
  const std::size_t rowBytes = (static_cast<std::size_t>(w) + 7) / 8;
  const uint8_t lastByteMask = static_cast<uint8_t>(0xFF00 >> (((w - 1) & 7) + 1));
  for (int y = 0; y < bmp.Height(); ++y) {
    uint8_t* row = bmp.ScanLine(y);
    std::memset(row, 0, bmp.RowLen());
    if (plain) {
      for (int x = 0; x < w; ++x) {
        if (!r.SkipSpace()) return r.FailRead();
        const int c = r.Get();
        if (c != '0' && c != '1') return r.Fail("invalid pixel value");
        if (c == '0') row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));  // 0 is white in PBM
      }
    } else {
      if (!r.Read(row, rowBytes)) return false;
      // PBM's 1 is black, the bitmap's 1 is white.
      for (std::size_t i = 0; i < rowBytes; ++i) row[i] = static_cast<uint8_t>(~row[i]);
      row[rowBytes - 1] &= lastByteMask;
    }
  }
  return true;
}

bool DecodeSamples(PnmReader& r, bool plain, int channels, uint32_t maxval, IEBitmap& bmp) {
  const int w = bmp.Width();
  const std::vector<uint8_t> scale = ScaleTable(maxval);
  const std::size_t samples = static_cast<std::size_t>(w) * channels;
  const std::size_t bytesPerSample = maxval > 255 ? 2 : 1;
  std::vector<uint8_t> raw(plain ? 0 : samples * bytesPerSample);
  std::vector<uint8_t> values(samples);
  for (int y = 0; y < bmp.Height(); ++y) {
    if (plain) {
      for (std::size_t i = 0; i < samples; ++i) {
        uint32_t v;
        if (!r.Number(maxval, "sample value", v)) return false;
        values[i] = scale[v];
      }
    } else {
      if (!r.Read(raw.data(), raw.size())) return false;
      for (std::size_t i = 0; i < samples; ++i) {
        const uint32_t v = bytesPerSample == 2 ? (raw[2 * i] << 8 | raw[2 * i + 1]) : raw[i];
        if (v > maxval) return r.Fail("sample value out of range");
        values[i] = scale[v];
      }
    }
    uint8_t* row = bmp.ScanLine(y);
    for (int x = 0; x < w; ++x) {
      if (channels == 3) {
        row[3 * x] = values[3 * x + 2];
        row[3 * x + 1] = values[3 * x + 1];
        row[3 * x + 2] = values[3 * x];
      } else {
        row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = values[x];
      }
    }
  }
  return true;
}

bool WriteAll(std::FILE* out, const void* data, std::size_t n, std::string& reason) {
  errno = 0;
  if (std::fwrite(data, 1, n, out) == n) return true;
  reason = ErrnoMessage(errno ? errno : EIO);
  return false;
}

}  // namespace

bool DecodePnm(std::FILE* in, const DecodeOptions& options, IEBitmap& out, std::string& reason) {
  const ImageLimits& limits = options.limits;
  PnmReader r(in, reason);
  const int p = r.Get();
  const int kind = r.Get();
  if (p != 'P' || kind < '1' || kind > '6') return r.Fail("not a PNM file");
  const bool plain = kind <= '3';
  const bool bilevel = kind == '1' || kind == '4';
  const int channels = (kind == '3' || kind == '6') ? 3 : 1;

  // Larger numbers are refused while parsing, before they can overflow.
  constexpr uint32_t kMaxNumber = 0xFFFFFFFFu;
  uint32_t width, height, maxval = 1;
  if (!r.Number(kMaxNumber, "width", width) || !r.Number(kMaxNumber, "height", height)) return false;
  if (width == 0 || height == 0)
    return r.Fail("invalid size " + std::to_string(width) + " x " + std::to_string(height));
  if (std::string why = CheckDimensions(width, height, limits); !why.empty()) return r.Fail(why);
  if (!bilevel) {
    if (!r.Number(65535, "maximum value", maxval)) return false;
    if (maxval == 0) return r.Fail("invalid maximum value 0");
  }
  if (!plain && !r.EndOfHeader()) return false;

  // A file too short for its raster fails before the picture is allocated:
  // raw samples take a fixed size, plain ones at least a character each.
  const uint64_t samples = uint64_t{width} * height * channels;
  uint64_t minimum = samples;
  if (!plain && bilevel) minimum = (uint64_t{width} + 7) / 8 * height;
  if (!plain && maxval > 255) minimum = samples * 2;
  struct stat st {};
  const long offset = std::ftell(in);
  if (offset >= 0 && fstat(fileno(in), &st) == 0 && S_ISREG(st.st_mode) &&
      static_cast<uint64_t>(st.st_size) - static_cast<uint64_t>(std::min<off_t>(offset, st.st_size)) < minimum)
    return r.Fail("unexpected end of file");

  if (!AllocateBitmap(out, static_cast<int>(width), static_cast<int>(height),
                      bilevel ? IEPixelFormat::ie1g : IEPixelFormat::ie24RGB, reason))
    return false;
  return bilevel ? DecodeBilevel(r, plain, out) : DecodeSamples(r, plain, channels, maxval, out);
}

bool EncodePnm(std::FILE* out, const IEBitmap& bmp, const SaveParams&, const std::string&, std::string& reason) {
  if (bmp.IsEmpty()) {
    reason = "the picture is empty";
    return false;
  }
  const int w = bmp.Width(), h = bmp.Height();
  const char* magic;
  std::size_t rowBytes;
  switch (bmp.PixelFormat()) {
    case IEPixelFormat::ie24RGB:
      magic = "P6";
      rowBytes = static_cast<std::size_t>(w) * 3;
      break;
    case IEPixelFormat::ie8g:
      magic = "P5";
      rowBytes = static_cast<std::size_t>(w);
      break;
    case IEPixelFormat::ie1g:
      magic = "P4";
      rowBytes = (static_cast<std::size_t>(w) + 7) / 8;
      break;
    default:
      reason = std::string("PNM cannot hold ") + PixelFormatName(bmp.PixelFormat()) + " pixels";
      return false;
  }
  std::string header = std::string(magic) + "\n" + std::to_string(w) + " " + std::to_string(h) + "\n";
  if (bmp.PixelFormat() != IEPixelFormat::ie1g) header += "255\n";
  if (!WriteAll(out, header.data(), header.size(), reason)) return false;

  const uint8_t lastByteMask = static_cast<uint8_t>(0xFF00 >> (((w - 1) & 7) + 1));
  std::vector<uint8_t> row(rowBytes);
  for (int y = 0; y < h; ++y) {
    const uint8_t* src = bmp.ScanLine(y);
    switch (bmp.PixelFormat()) {
      case IEPixelFormat::ie24RGB:
        for (int x = 0; x < w; ++x) {
          row[3 * x] = src[3 * x + 2];
          row[3 * x + 1] = src[3 * x + 1];
          row[3 * x + 2] = src[3 * x];
        }
        break;
      case IEPixelFormat::ie1g:
        // PBM's 1 is black; the padding bits are written as 0.
        for (std::size_t i = 0; i < rowBytes; ++i) row[i] = static_cast<uint8_t>(~src[i]);
        row[rowBytes - 1] &= lastByteMask;
        break;
      default:
        std::memcpy(row.data(), src, rowBytes);
        break;
    }
    if (!WriteAll(out, row.data(), rowBytes, reason)) return false;
  }
  return true;
}

}  // namespace velmora::codecs
