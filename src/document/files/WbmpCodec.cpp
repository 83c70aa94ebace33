// Wireless bitmap, type 0: a bi-level picture, 1 = white, rows padded to
// whole bytes, exactly the layout of an ie1g row.
#include <cstring>

#include "document/files/ImageCodecs.h"

namespace velmora::codecs {

namespace {

// A multi-byte integer: seven bits a byte, high bit set on all but the
// last. More than four continuation bytes would overflow 32 bits.
bool ReadVar(ByteReader& r, uint32_t& value) {
  value = 0;
  for (int i = 0; i < 5; ++i) {
    const uint8_t b = r.U8();
    if (r.Failed()) return false;
    if (value > (0xFFFFFFFFu >> 7)) return false;
    value = value << 7 | (b & 127u);
    if (!(b & 128)) return true;
  }
  return false;
}

void PutVar(std::vector<uint8_t>& b, uint32_t v) {
  uint8_t bytes[5];
  int n = 0;
  do {
    bytes[n++] = static_cast<uint8_t>(v & 127);
    v >>= 7;
  } while (v);
  while (n > 1) b.push_back(static_cast<uint8_t>(bytes[--n] | 128));
  b.push_back(bytes[0]);
}

}  // namespace

bool DecodeWbmp(std::FILE* in, const DecodeOptions& options, IEBitmap& out, std::string& reason) {
  std::vector<uint8_t> file;
  if (!ReadRest(in, file, reason)) return false;
  if (file.empty()) return reason = "empty file", false;
  ByteReader r(file.data(), file.size());
  uint32_t type, w, h;
  if (!ReadVar(r, type)) return reason = "not a wireless bitmap", false;
  if (type != 0) return reason = "unsupported wireless bitmap type " + std::to_string(type), false;
  const uint8_t fixed = r.U8();
  if (r.Failed()) return reason = "file truncated in the header", false;
  if (fixed != 0) return reason = "not a wireless bitmap", false;
  if (!ReadVar(r, w) || !ReadVar(r, h)) return reason = r.Failed() ? "file truncated in the header" : "invalid size", false;
  if (w == 0 || h == 0) return reason = "invalid size", false;
  reason = CheckDimensions(w, h, options.limits);
  if (!reason.empty()) return false;
  const std::size_t stride = (w + 7) / 8;
  if (uint64_t{stride} * h > r.Left()) return reason = "file truncated in the pixels", false;
  IEBitmap bmp;
  if (!AllocateBitmap(bmp, static_cast<int>(w), static_cast<int>(h), IEPixelFormat::ie1g, reason)) return false;
  for (uint32_t y = 0; y < h; ++y) std::memcpy(bmp.ScanLine(static_cast<int>(y)), r.Take(stride), stride);
  out = std::move(bmp);
  return true;
}

bool EncodeWbmp(std::FILE* out, const IEBitmap& bmp, const SaveParams&, const std::string&, std::string& reason) {
  if (bmp.PixelFormat() != IEPixelFormat::ie1g) return reason = "unsupported pixel format", false;
  std::vector<uint8_t> head = {0, 0};
  PutVar(head, static_cast<uint32_t>(bmp.Width()));
  PutVar(head, static_cast<uint32_t>(bmp.Height()));
  if (!WriteBytes(out, head.data(), head.size(), reason)) return false;
  const std::size_t stride = (static_cast<std::size_t>(bmp.Width()) + 7) / 8;
  const int spare = bmp.Width() % 8;
  std::vector<uint8_t> row(stride);
  for (int y = 0; y < bmp.Height(); ++y) {
    std::memcpy(row.data(), bmp.ScanLine(y), stride);
    if (spare) row.back() &= static_cast<uint8_t>(0xFF << (8 - spare));  // padding bits black
    if (!WriteBytes(out, row.data(), stride, reason)) return false;
  }
  return true;
}

}  // namespace velmora::codecs
