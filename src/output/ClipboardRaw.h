// Velmora's own clipboard format: a picture exactly as the pixel buffer
// holds it (any pixel format, the palette, the alpha channel), so that a
// copy pasted back into Velmora loses nothing. Other programs take the
// standard image that goes on the clipboard beside it.
//
// Layout, all numbers little-endian:
//   offset  0  4 bytes  magic "VLRW"
//           4  uint16   version (1)
//           6  uint16   pixel format (IEPixelFormat's value, 1..10)
//           8  uint32   width  (1..ImageLimits::maxSide)
//          12  uint32   height (1..ImageLimits::maxSide, width x height
//                       at most ImageLimits::maxPixels)
//          16  uint8    flags: bit 0 alpha channel follows, bit 1 the
//                       alpha channel is known to be all opaque; the other
//                       bits are 0
//          17  3 bytes  0
//          20  ie8p only: 256 palette entries of (b, g, r)
//          then the rows top to bottom, each (width x bits + 7) / 8 bytes
//               with no padding, the pixels as the buffer holds them
//          then, with the alpha flag, height rows of width bytes
// The data is exactly that long.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "document/files/ImageFile.h"
#include "imaging/IEBitmap.h"

namespace velmora {

inline constexpr const char* kRawClipboardMime = "application/x-velmora-raw";
inline constexpr int kRawClipboardVersion = 1;
inline constexpr std::size_t kRawClipboardHeaderSize = 20;

// The picture in the layout above; empty for an empty picture.
std::vector<uint8_t> EncodeRawPicture(const IEBitmap& bmp);
// Reads the layout above into `out`. False with the reason when the data is
// not such a picture or its size is beyond `limits`; `out` is then
// untouched, and no pixel memory was taken.
bool DecodeRawPicture(const uint8_t* data, std::size_t size, IEBitmap& out, std::string& reason,
                      const ImageLimits& limits = DefaultImageLimits());

}  // namespace velmora
