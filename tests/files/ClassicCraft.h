// Windows bitmaps, TIFFs and GIFs built by hand, for layouts and headers
// no fixture has (run-length data, bit fields, hostile sizes).
#pragma once

#include <cstdint>
#include <vector>

#include "FileTestUtil.h"

namespace velmora::test {

inline void Le16(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void Le32(Bytes& b, uint32_t v) {
  Le16(b, v & 0xFFFF);
  Le16(b, v >> 16);
}

// A BMP file with a 40-byte header (plus three masks for bit fields).
inline Bytes MakeBmp(int32_t w, int32_t h, int bits, uint32_t compression, const std::vector<uint32_t>& palette,
                     const Bytes& pixels, const std::vector<uint32_t>& masks = {}) {
  Bytes info;
  Le32(info, 40);
  Le32(info, static_cast<uint32_t>(w));
  Le32(info, static_cast<uint32_t>(h));
  Le16(info, 1);
  Le16(info, static_cast<uint32_t>(bits));
  Le32(info, compression);
  Le32(info, static_cast<uint32_t>(pixels.size()));
  Le32(info, 2835);
  Le32(info, 2835);
  Le32(info, static_cast<uint32_t>(palette.size()));
  Le32(info, 0);
  for (uint32_t m : masks) Le32(info, m);
  for (uint32_t c : palette) Le32(info, c);  // 0x00RRGGBB
  Bytes file = {'B', 'M'};
  Le32(file, static_cast<uint32_t>(14 + info.size() + pixels.size()));
  Le32(file, 0);
  Le32(file, static_cast<uint32_t>(14 + info.size()));
  file.insert(file.end(), info.begin(), info.end());
  file.insert(file.end(), pixels.begin(), pixels.end());
  return file;
}

// A little-endian TIFF with one directory of SHORT/LONG entries (sorted by
// tag), followed by `data` at offset 8.
struct TiffEntry {
  uint16_t tag, type;  // 3 SHORT, 4 LONG
  uint32_t value;
};
inline Bytes MakeTiff(const std::vector<TiffEntry>& entries, const Bytes& data) {
  Bytes b = {'I', 'I', 42, 0};
  Le32(b, static_cast<uint32_t>(8 + data.size()));
  b.insert(b.end(), data.begin(), data.end());
  Le16(b, static_cast<uint32_t>(entries.size()));
  for (const TiffEntry& e : entries) {
    Le16(b, e.tag);
    Le16(b, e.type);
    Le32(b, 1);
    if (e.type == 3) {
      Le16(b, e.value);
      Le16(b, 0);
    } else {
      Le32(b, e.value);
    }
  }
  Le32(b, 0);
  return b;
}

// A grey uncompressed TIFF of w x h whose single strip holds `data`.
inline Bytes GreyTiff(uint32_t w, uint32_t h, const Bytes& data, uint32_t compression = 1,
                      uint32_t stripBytes = 0) {
  return MakeTiff({{256, 4, w},
                   {257, 4, h},
                   {258, 3, 8},
                   {259, 3, compression},
                   {262, 3, 1},
                   {273, 4, 8},
                   {277, 3, 1},
                   {278, 4, h},
                   {279, 4, stripBytes ? stripBytes : static_cast<uint32_t>(data.size())}},
                  data);
}

// A GIF header: logical screen, a two-colour global table, then one frame
// descriptor of fw x fh (no pixel data unless `lzw` is given).
inline Bytes MakeGif(uint16_t sw, uint16_t sh, uint16_t fw, uint16_t fh, const Bytes& lzw = {}) {
  Bytes b = ToBytes("GIF89a");
  Le16(b, sw);
  Le16(b, sh);
  b.insert(b.end(), {0x80, 0, 0, 0, 0, 0, 255, 255, 255});
  b.push_back(0x2C);
  Le16(b, 0);
  Le16(b, 0);
  Le16(b, fw);
  Le16(b, fh);
  b.push_back(0);
  b.insert(b.end(), lzw.begin(), lzw.end());
  return b;
}

}  // namespace velmora::test
