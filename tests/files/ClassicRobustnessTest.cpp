// Hostile and broken files for the TIFF, GIF, bitmap, icon, Targa, PCX and
// wireless bitmap readers: every read fails cleanly, names the file, leaves
// the caller's picture alone, and sizes are refused before allocation.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <random>
#include <string>

#include "ClassicCraft.h"
#include "FileTestUtil.h"
#include "document/files/ImageFile.h"

namespace velmora::test {
namespace {

Bytes Cut(const Bytes& b, std::size_t n) { return Bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(n)); }
Bytes Half(const char* file) {
  Bytes b = ReadBytes(DataFile(file));
  return Cut(b, b.size() / 2);
}
Bytes Noise(std::size_t n) {
  std::mt19937 rng(11);
  Bytes b(n);
  for (uint8_t& v : b) v = static_cast<uint8_t>(rng());
  return b;
}

// A multipage PCX around one page.
Bytes DcxAround(const Bytes& page) {
  Bytes b;
  Le32(b, 987654321);
  Le32(b, 12);
  Le32(b, 0);
  b.insert(b.end(), page.begin(), page.end());
  return b;
}

// A Targa header for a true-colour picture, and a PCX header.
Bytes TgaHeader(uint16_t w, uint16_t h, uint8_t type = 2, uint8_t depth = 24) {
  Bytes b = {0, 0, type, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  Le16(b, w);
  Le16(b, h);
  b.push_back(depth);
  b.push_back(0);
  return b;
}
Bytes PcxHeader(uint16_t w, uint16_t h) {
  Bytes b = {0x0A, 5, 1, 8};
  Le16(b, 0), Le16(b, 0), Le16(b, w - 1), Le16(b, h - 1);
  b.resize(65, 0);
  b.push_back(3);
  Le16(b, w + (w & 1));
  b.resize(128, 0);
  return b;
}
Bytes WbmpHeader(uint32_t w, uint32_t h) {
  Bytes b = {0, 0};
  auto var = [&](uint32_t v) {
    if (v >= 1u << 14) b.push_back(static_cast<uint8_t>(0x80 | v >> 14));
    if (v >= 1u << 7) b.push_back(static_cast<uint8_t>(0x80 | ((v >> 7) & 127)));
    b.push_back(static_cast<uint8_t>(v & 127));
  };
  var(w), var(h);
  return b;
}
// An icon whose one image is a 40-byte DIB header claiming w x h.
Bytes IcoClaiming(int32_t w, int32_t h) {
  Bytes b = {0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 1, 0, 32, 0};
  Le32(b, 40);
  Le32(b, 22);
  Le32(b, 40);
  Le32(b, static_cast<uint32_t>(w));
  Le32(b, static_cast<uint32_t>(2 * h));
  Le16(b, 1);
  Le16(b, 32);
  b.resize(b.size() + 24, 0);
  return b;
}
Bytes BmpClaiming(int32_t w, int32_t h) { return MakeBmp(w, h, 24, 0, {}, {}); }

// The classic formats' bad files, through the same check as the others.
INSTANTIATE_TEST_SUITE_P(
    ClassicInputs, MalformedFile,
    ::testing::Values(
        // Nothing, or noise.
        Malformed{"empty.tif", [] { return Bytes{}; }, "TIFF"}, Malformed{"empty.gif", [] { return Bytes{}; }, ""},
        Malformed{"empty.bmp", [] { return Bytes{}; }, "empty file"},
        Malformed{"empty.ico", [] { return Bytes{}; }, "empty file"},
        Malformed{"empty.tga", [] { return Bytes{}; }, "empty file"},
        Malformed{"empty.pcx", [] { return Bytes{}; }, "empty file"},
        Malformed{"empty.dcx", [] { return Bytes{}; }, "empty file"},
        Malformed{"empty.wbmp", [] { return Bytes{}; }, "empty file"},
        Malformed{"noise.tif", [] { return Noise(2000); }, ""},
        Malformed{"noise.gif", [] { return Noise(2000); }, "not a GIF file"},
        Malformed{"noise.bmp", [] { return Noise(2000); }, "not a Windows bitmap"},
        Malformed{"noise.cur", [] { return Noise(2000); }, "not a Windows icon or cursor"},
        Malformed{"noise.pcx", [] { return Noise(2000); }, "not a PCX file"},
        Malformed{"noise.dcx", [] { return Noise(2000); }, "not a multipage PCX file"},
        // Cut short: an error, not a partial picture.
        Malformed{"cut.tif", [] { return Half("sdl/sample.tif"); }, ""},
        Malformed{"cut-tiles.tif", [] { return Half("libtiff/quad-tile.jpg.tiff"); }, ""},
        Malformed{"cut-fax.tif", [] { return Half("libtiff/miniswhite-1c-1b.tiff"); }, ""},
        Malformed{"cut.gif", [] { return Half("giflib/treescap.gif"); }, "truncated"},
        Malformed{"cut.bmp", [] { return Half("sdl/sample.bmp"); }, "truncated"},
        Malformed{"cut-palette.bmp", [] { return Cut(ReadBytes(DataFile("sdl/palette.bmp")), 70); }, "truncated"},
        Malformed{"cut-rle.bmp", [] { return MakeBmp(4, 2, 8, 1, {0, 0xFF}, {4, 1, 0, 0, 0, 3}); }, "truncated"},
        Malformed{"cut.ico", [] { return Half("sdl/sample.ico"); }, "truncated"},
        Malformed{"cut.tga", [] { return Half("sdl/sample.tga"); }, "truncated"},
        Malformed{"cut-rle.tga", [] { return Bytes(TgaHeader(8, 8, 10)) ; }, "truncated"},
        Malformed{"cut.pcx", [] { return Half("sdl/sample.pcx"); }, "truncated"},
        Malformed{"cut.dcx", [] { return DcxAround(Half("sdl/sample.pcx")); }, "truncated"},
        Malformed{"cut.wbmp", [] { return Bytes{0, 0, 16, 4, 0xFF, 0xFF, 0xFF}; }, "truncated"},
        // Fields out of range.
        Malformed{"float.tif", [] { return MakeTiff({{256, 4, 1}, {257, 4, 1}, {258, 3, 64}, {262, 3, 1}, {273, 4, 8},
                                                      {277, 3, 1}, {279, 4, 8}, {339, 3, 3}},
                                                     Bytes(8, 0)); },
                  "64-bit"},
        Malformed{"depth.bmp", [] { return MakeBmp(1, 1, 7, 0, {}, Bytes(4, 0)); }, "unsupported bit depth"},
        Malformed{"jpeg-inside.bmp", [] { return MakeBmp(1, 1, 24, 4, {}, Bytes(4, 0)); }, "unsupported compression"},
        Malformed{"zero-width.bmp", [] { return BmpClaiming(0, 5); }, "invalid size"},
        Malformed{"most-negative.bmp", [] { return BmpClaiming(5, INT32_MIN); }, ""},
        Malformed{"type.tga", [] { return TgaHeader(1, 1, 7); }, "not a Targa file"},
        Malformed{"depth.tga", [] { return TgaHeader(1, 1, 2, 12); }, "unsupported bit depth"},
        Malformed{"inverted.pcx", [] {
                    Bytes b = PcxHeader(4, 4);
                    b[8] = 0, b[9] = 0;  // right edge left of the left one
                    b[4] = 5;
                    return b;
                  },
                  "invalid size"},
        Malformed{"no-pages.dcx", [] { return Bytes{0xB1, 0x68, 0xDE, 0x3A, 0, 0, 0, 0}; }, "no pages"},
        Malformed{"type.wbmp", [] { return Bytes{2, 0, 1, 1, 0}; }, "unsupported wireless bitmap type"},
        Malformed{"overflow.wbmp", [] { return Bytes{0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 1}; }, "invalid size"},
        Malformed{"no-frame.gif", [] { return Bytes{'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, 0x3B}; },
                  "no picture"}),
    [](const ::testing::TestParamInfo<Malformed>& info) {
      std::string n = info.param.name;
      for (char& ch : n)
        if (ch == '-' || ch == '.') ch = '_';
      return n;
    });

// ---------------------------------------------------------------------------
// Decompression bombs: a few bytes claiming a huge picture are refused
// quickly, without taking the memory the claim would need. Measured in a
// child process so that the peak is this read's own.

struct Bomb {
  const char* name;
  std::function<Bytes()> make;
  friend void PrintTo(const Bomb& c, std::ostream* os) { *os << c.name; }
};

class Bombs : public TempDirTest, public ::testing::WithParamInterface<Bomb> {};

TEST_P(Bombs, RefusedQuicklyInLittleMemory) {
  const std::string path = Path(GetParam().name);
  WriteBytes(path, GetParam().make());
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    struct rusage before {}, after {};
    getrusage(RUSAGE_SELF, &before);
    const auto start = std::chrono::steady_clock::now();
    IEBitmap out;
    const IOResult r = ReadImage(path, out);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    getrusage(RUSAGE_SELF, &after);
    if (r) _exit(1);
    if (ms > 200) _exit(2);
    if (after.ru_maxrss - before.ru_maxrss > 64 * 1024) _exit(3);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  const int code = WEXITSTATUS(status);
  EXPECT_NE(code, 1) << "the bomb was read";
  EXPECT_NE(code, 2) << "took more than 200 ms";
  EXPECT_NE(code, 3) << "took more than 64 MB";
}

INSTANTIATE_TEST_SUITE_P(
    Files, Bombs,
    ::testing::Values(
        Bomb{"huge.tif", [] { return GreyTiff(60000, 60000, Bytes(16, 0)); }},
        // A picture within the limits whose one strip claims 4 GB of data.
        Bomb{"huge-strip.tif", [] { return GreyTiff(2000, 2000, Bytes(64, 0), 5, 0xFFFFFF00u); }},
        Bomb{"huge-screen.gif", [] { return MakeGif(60000, 60000, 1, 1); }},
        Bomb{"huge-frame.gif", [] { return MakeGif(0, 0, 60000, 60000); }},
        Bomb{"huge.bmp", [] { return BmpClaiming(60000, 60000); }},
        // Within the limits, but the file cannot hold the pixels.
        Bomb{"no-pixels.bmp", [] { return BmpClaiming(16000, -16000); }},
        Bomb{"huge.ico", [] { return IcoClaiming(60000, 60000); }},
        Bomb{"huge.tga", [] { return TgaHeader(60000, 60000); }},
        Bomb{"no-pixels.tga", [] { return TgaHeader(16000, 16000); }},
        Bomb{"huge.pcx", [] { return PcxHeader(60000, 60000); }},
        Bomb{"no-pixels.pcx", [] { return PcxHeader(16000, 16000); }},
        Bomb{"huge.wbmp", [] { return WbmpHeader(60000, 60000); }},
        Bomb{"no-pixels.wbmp", [] { return WbmpHeader(16000, 16000); }}),
    [](const ::testing::TestParamInfo<Bomb>& info) {
      std::string n = info.param.name;
      for (char& ch : n)
        if (ch == '-' || ch == '.') ch = '_';
      return n;
    });

// ---------------------------------------------------------------------------
// Mutated copies of valid files: a read either gives a picture within the
// limits or fails cleanly. Under the sanitizers this finds overruns.

Bytes Mutate(const Bytes& seed, std::mt19937& rng) {
  Bytes b = seed;
  auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % std::max<std::size_t>(n, 1)); };
  switch (rng() % 3) {
    case 0:
      for (int i = 1 + static_cast<int>(rng() % 4); i > 0; --i) b[pick(b.size())] = static_cast<uint8_t>(rng());
      break;
    case 1:
      b.resize(pick(b.size()));
      break;
    default:  // extreme values reach size and count fields
      for (int i = 1 + static_cast<int>(rng() % 3); i > 0; --i) b[pick(b.size())] = rng() % 2 ? 0xFF : 0x00;
      break;
  }
  return b;
}

class ClassicMutated : public TempDirTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(ClassicMutated, NeverCrashOrReturnGarbageSizes) {
  const std::string file = GetParam();
  const Bytes seed = ReadBytes(DataFile(file));
  ASSERT_FALSE(seed.empty());
  const ImageLimits limits{4096, 4'000'000};
  const std::string path = Path("mutant." + LowerExtension(file));
  std::mt19937 rng(4321);
  for (int i = 0; i < 200; ++i) {
    WriteBytes(path, Mutate(seed, rng));
    IEBitmap out = Sentinel();
    IOResult r = ReadImage(path, out, limits);
    if (r) {
      EXPECT_GT(out.Width(), 0);
      EXPECT_LE(out.Width(), limits.maxSide);
      EXPECT_LE(static_cast<uint64_t>(out.Width()) * out.Height(), limits.maxPixels);
    } else {
      EXPECT_EQ(r.message.rfind(path + ": ", 0), 0u) << r.message;
      ExpectSentinel(out);
    }
    if (HasFailure()) {
      ADD_FAILURE() << "mutant " << i;
      break;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, ClassicMutated,
                         ::testing::Values("sdl/sample.bmp", "sdl/palette.bmp", "sdl/sample.tga", "sdl/sample.pcx",
                                           "sdl/sample.ico", "sdl/sample.tif", "sdl/palette.gif",
                                           "giflib/treescap-interlaced.gif", "libtiff/miniswhite-1c-1b.tiff",
                                           "libtiff/ojpeg_zackthecat_subsamp22_single_strip.tiff"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           std::string n = info.param;
                           for (char& ch : n)
                             if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return n;
                         });

}  // namespace
}  // namespace velmora::test
