// The few EXIF fields Velmora reads and writes: the orientation of a photo
// and the small JPEG thumbnail stored beside it. `payload` is the content
// of a JPEG APP1 segment, starting with "Exif\0\0".
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velmora::exif {

// The orientation tag (1..8) of the first image directory; 1 when the
// payload is not EXIF, has no such tag or holds a value outside 1..8.
int Orientation(const uint8_t* payload, std::size_t size);

// The JPEG thumbnail of the second image directory; false when there is
// none or its offsets leave the payload.
bool Thumbnail(const uint8_t* payload, std::size_t size, std::vector<uint8_t>& jpeg);

// An APP1 payload holding orientation 1 (the pixels are written upright)
// and `jpeg` as the thumbnail. Empty when it would not fit in a segment.
std::vector<uint8_t> MakePayload(const std::vector<uint8_t>& jpeg);

// The largest payload a JPEG segment can carry.
constexpr std::size_t kMaxPayload = 65533;

}  // namespace velmora::exif
