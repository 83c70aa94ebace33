#include "document/files/Exif.h"

#include <cstring>

namespace velmora::exif {

namespace {

constexpr uint8_t kHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
constexpr uint16_t kOrientation = 0x0112;
constexpr uint16_t kThumbnailOffset = 0x0201;
constexpr uint16_t kThumbnailLength = 0x0202;
constexpr uint16_t kShort = 3, kLong = 4;

// The TIFF structure after the "Exif\0\0" header; every read is checked
// against its end, and offsets are taken as untrusted.
class Tiff {
 public:
  Tiff(const uint8_t* payload, std::size_t size) {
    if (size < sizeof kHeader + 8 || std::memcmp(payload, kHeader, sizeof kHeader) != 0) return;
    data_ = payload + sizeof kHeader;
    size_ = size - sizeof kHeader;
    if (data_[0] == 'I' && data_[1] == 'I')
      little_ = true;
    else if (data_[0] != 'M' || data_[1] != 'M')
      data_ = nullptr;
    uint32_t magic;
    if (!data_ || !U16(2, magic) || magic != 42) data_ = nullptr;
  }
  bool Valid() const { return data_ != nullptr; }
  const uint8_t* Data() const { return data_; }
  std::size_t Size() const { return size_; }

  bool U16(uint64_t at, uint32_t& v) const {
    if (!data_ || at + 2 > size_) return false;
    const uint8_t* p = data_ + at;
    v = little_ ? (p[0] | p[1] << 8) : (p[0] << 8 | p[1]);
    return true;
  }
  bool U32(uint64_t at, uint32_t& v) const {
    if (!data_ || at + 4 > size_) return false;
    const uint8_t* p = data_ + at;
    v = little_ ? (uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24)
                : (uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]});
    return true;
  }
  // Offset of image directory `index` (0 or 1); false when missing.
  bool Directory(int index, uint32_t& offset) const {
    if (!U32(4, offset)) return false;
    for (int i = 0; i < index; ++i) {
      uint32_t count;
      if (offset == 0 || !U16(offset, count)) return false;
      uint32_t next;
      if (!U32(uint64_t{offset} + 2 + uint64_t{count} * 12, next) || next == offset) return false;
      offset = next;
    }
    return offset != 0;
  }
  // The value of a SHORT or LONG tag of the directory at `dir`.
  bool Tag(uint32_t dir, uint16_t tag, uint32_t& value) const {
    uint32_t count;
    if (!U16(dir, count)) return false;
    for (uint32_t i = 0; i < count; ++i) {
      const uint64_t entry = uint64_t{dir} + 2 + uint64_t{i} * 12;
      uint32_t id, type, n;
      if (!U16(entry, id) || !U16(entry + 2, type) || !U32(entry + 4, n)) return false;
      if (id != tag || n != 1) continue;
      if (type == kShort) return U16(entry + 8, value);
      if (type == kLong) return U32(entry + 8, value);
      return false;
    }
    return false;
  }

 private:
  const uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  bool little_ = false;
};

void Put16(std::vector<uint8_t>& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}
void PutEntry(std::vector<uint8_t>& b, uint16_t tag, uint16_t type, uint32_t value) {
  Put16(b, tag);
  Put16(b, type);
  Put32(b, 1);
  if (type == kShort) {
    Put16(b, value);
    Put16(b, 0);
  } else {
    Put32(b, value);
  }
}

}  // namespace

int Orientation(const uint8_t* payload, std::size_t size) {
  const Tiff t(payload, size);
  uint32_t dir, value;
  if (!t.Valid() || !t.Directory(0, dir) || !t.Tag(dir, kOrientation, value)) return 1;
  return value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
}

bool Thumbnail(const uint8_t* payload, std::size_t size, std::vector<uint8_t>& jpeg) {
  const Tiff t(payload, size);
  uint32_t dir, offset, length;
  if (!t.Valid() || !t.Directory(1, dir) || !t.Tag(dir, kThumbnailOffset, offset) ||
      !t.Tag(dir, kThumbnailLength, length))
    return false;
  if (uint64_t{offset} + length > t.Size() || length == 0) return false;
  jpeg.assign(t.Data() + offset, t.Data() + offset + length);
  return true;
}

std::vector<uint8_t> MakePayload(const std::vector<uint8_t>& jpeg) {
  // Header, then directory 0 (one entry) at 8, directory 1 (three
  // entries) right after it, then the thumbnail.
  constexpr uint32_t kIfd0 = 8, kIfd0Size = 2 + 12 + 4, kIfd1 = kIfd0 + kIfd0Size, kIfd1Size = 2 + 3 * 12 + 4;
  constexpr uint32_t kData = kIfd1 + kIfd1Size;
  if (jpeg.size() > kMaxPayload - sizeof kHeader - kData) return {};
  std::vector<uint8_t> b(kHeader, kHeader + sizeof kHeader);
  b.insert(b.end(), {'I', 'I', 42, 0});
  Put32(b, kIfd0);
  Put16(b, 1);
  PutEntry(b, kOrientation, kShort, 1);
  Put32(b, kIfd1);
  Put16(b, 3);
  PutEntry(b, 0x0103, kShort, 6);  // compression: JPEG
  PutEntry(b, kThumbnailOffset, kLong, kData);
  PutEntry(b, kThumbnailLength, kLong, static_cast<uint32_t>(jpeg.size()));
  Put32(b, 0);
  b.insert(b.end(), jpeg.begin(), jpeg.end());
  return b;
}

}  // namespace velmora::exif
