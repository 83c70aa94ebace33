// Helpers shared by the file-layer tests: a scratch folder, raw file
// access, small pictures and pixel comparisons.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "document/files/ImageFile.h"
#include "imaging/IEBitmap.h"

namespace velmora::test {

using Bytes = std::vector<uint8_t>;

inline std::string DataFile(const std::string& name) { return std::string(VELMORA_TEST_DATA) + "/files/" + name; }

inline Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline Bytes ToBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

// A fresh folder per test, removed afterwards.
class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmora-files-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  // Names in the folder, hidden ones included.
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    return names;
  }
  std::string dir_;
};

// A smooth colour picture: gradients, no edges.
inline IEBitmap Gradient(int w, int h) {
  IEBitmap bmp(w, h, IEPixelFormat::ie24RGB);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      IETriple& p = bmp.Pixel24(x, y);
      p.r = static_cast<uint8_t>(x * 255 / std::max(1, w - 1));
      p.g = static_cast<uint8_t>(y * 255 / std::max(1, h - 1));
      p.b = static_cast<uint8_t>((x + y) * 255 / std::max(1, w + h - 2));
    }
  return bmp;
}

// Every pixel different from its neighbours (catches row and channel
// mix-ups that a gradient would hide).
inline IEBitmap Noise(int w, int h, IEPixelFormat format, unsigned seed = 1) {
  IEBitmap bmp(w, h, format);
  for (int y = 0; y < h; ++y) {
    uint8_t* row = bmp.ScanLine(y);
    for (std::size_t i = 0; i < bmp.RowLen(); ++i) {
      seed = seed * 1103515245u + 12345u;
      row[i] = static_cast<uint8_t>(seed >> 16);
    }
  }
  if (format == IEPixelFormat::ie8p)
    for (int i = 0; i < 256; ++i)
      bmp.Palette()[i] = IETriple{static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i * 7)};
  return bmp;
}

// The colour of a pixel in any of the formats the tests use.
inline IETriple ColourAt(const IEBitmap& bmp, int x, int y) {
  const uint8_t* row = bmp.ScanLine(y);
  switch (bmp.PixelFormat()) {
    case IEPixelFormat::ie24RGB:
      return bmp.Pixel24(x, y);
    case IEPixelFormat::ie8g:
      return IETriple{row[x], row[x], row[x]};
    case IEPixelFormat::ie1g: {
      const uint8_t v = bmp.Bit(x, y) ? 255 : 0;
      return IETriple{v, v, v};
    }
    case IEPixelFormat::ie8p:
      return bmp.Palette()[row[x]];
    default:
      ADD_FAILURE() << "format not handled by the test";
      return {};
  }
}

// Largest difference of any channel (and of alpha when `withAlpha`);
// a size mismatch is reported as 1000.
inline int MaxDifference(const IEBitmap& a, const IEBitmap& b, bool withAlpha = false) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return 1000;
  int worst = 0;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x) {
      const IETriple p = ColourAt(a, x, y), q = ColourAt(b, x, y);
      worst = std::max({worst, std::abs(p.r - q.r), std::abs(p.g - q.g), std::abs(p.b - q.b)});
      if (withAlpha) worst = std::max(worst, std::abs(a.Alpha(x, y) - b.Alpha(x, y)));
    }
  return worst;
}

inline double MeanDifference(const IEBitmap& a, const IEBitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return 1000;
  double sum = 0;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x) {
      const IETriple p = ColourAt(a, x, y), q = ColourAt(b, x, y);
      sum += std::abs(p.r - q.r) + std::abs(p.g - q.g) + std::abs(p.b - q.b);
    }
  return sum / (3.0 * a.Width() * a.Height());
}

// A small recognisable picture to pre-fill `out` with: after a failed read
// it must still be exactly this.
inline IEBitmap Sentinel() {
  IEBitmap bmp(3, 2, IEPixelFormat::ie8g);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) bmp.ScanLine(y)[x] = static_cast<uint8_t>(10 * (3 * y + x) + 7);
  return bmp;
}

inline void ExpectSentinel(const IEBitmap& bmp) {
  ASSERT_EQ(bmp.PixelFormat(), IEPixelFormat::ie8g);
  ASSERT_EQ(bmp.Width(), 3);
  ASSERT_EQ(bmp.Height(), 2);
  EXPECT_FALSE(bmp.HasAlphaChannel());
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(bmp.ScanLine(y)[x], 10 * (3 * y + x) + 7);
}

// Expects a failed read that names `path` and contains `why`, with `out`
// still holding the sentinel.
inline void ExpectCleanFailure(const IOResult& r, const IEBitmap& out, const std::string& path,
                               const std::string& why) {
  EXPECT_FALSE(r) << path;
  EXPECT_EQ(r.message.rfind(path + ": ", 0), 0u) << r.message;
  EXPECT_NE(r.message.find(why), std::string::npos) << r.message;
  ExpectSentinel(out);
}

// A bad file and part of the reason its read must fail with. Each group of
// formats instantiates MalformedFile with its own cases.
struct Malformed {
  const char* name;
  std::function<Bytes()> make;
  const char* why;
  friend void PrintTo(const Malformed& c, std::ostream* os) { *os << c.name; }
};

class MalformedFile : public TempDirTest, public ::testing::WithParamInterface<Malformed> {};

// --- PNG files built by hand, for layouts and headers no fixture has. ---

inline uint32_t Crc32(const uint8_t* data, std::size_t n, uint32_t crc = 0) {
  crc = ~crc;
  for (std::size_t i = 0; i < n; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

inline void PutU32(Bytes& out, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(v >> s));
}

inline void PutChunk(Bytes& png, const char type[4], const Bytes& data) {
  PutU32(png, static_cast<uint32_t>(data.size()));
  const std::size_t start = png.size();
  png.insert(png.end(), type, type + 4);
  png.insert(png.end(), data.begin(), data.end());
  PutU32(png, Crc32(png.data() + start, png.size() - start));
}

// A zlib stream of stored (uncompressed) blocks.
inline Bytes StoredZlib(const Bytes& raw) {
  Bytes z = {0x78, 0x01};
  std::size_t pos = 0;
  do {
    const std::size_t n = std::min<std::size_t>(65535, raw.size() - pos);
    z.push_back(pos + n == raw.size() ? 1 : 0);
    z.push_back(static_cast<uint8_t>(n));
    z.push_back(static_cast<uint8_t>(n >> 8));
    z.push_back(static_cast<uint8_t>(~n));
    z.push_back(static_cast<uint8_t>(~n >> 8));
    const auto from = raw.begin() + static_cast<std::ptrdiff_t>(pos);
    z.insert(z.end(), from, from + static_cast<std::ptrdiff_t>(n));
    pos += n;
  } while (pos < raw.size());
  uint32_t a = 1, b = 0;
  for (uint8_t c : raw) a = (a + c) % 65521, b = (b + a) % 65521;
  PutU32(z, b << 16 | a);
  return z;
}

// `rows` are the unfiltered rows, each without its filter byte.
inline Bytes MakePng(uint32_t w, uint32_t h, uint8_t depth, uint8_t colourType, const std::vector<Bytes>& rows,
                     const Bytes& trns = {}) {
  Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes ihdr;
  PutU32(ihdr, w);
  PutU32(ihdr, h);
  ihdr.insert(ihdr.end(), {depth, colourType, 0, 0, 0});
  PutChunk(png, "IHDR", ihdr);
  if (!trns.empty()) PutChunk(png, "tRNS", trns);
  Bytes raw;
  for (const Bytes& row : rows) {
    raw.push_back(0);
    raw.insert(raw.end(), row.begin(), row.end());
  }
  PutChunk(png, "IDAT", StoredZlib(raw));
  PutChunk(png, "IEND", {});
  return png;
}

// Bit depth and colour type from a PNG file's header.
inline std::pair<int, int> PngLayout(const Bytes& png) {
  if (png.size() < 26) return {-1, -1};
  return {png[24], png[25]};
}

}  // namespace velmora::test
