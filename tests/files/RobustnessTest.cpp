// Hostile and broken input: every read fails cleanly, names the file, and
// leaves the caller's picture alone; sizes are refused before allocation.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "FileTestUtil.h"
#include "JpegCraft.h"
#include "document/files/ImageFile.h"

namespace velmora::test {
namespace {

Bytes Cut(const Bytes& b, std::size_t n) { return Bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(n)); }

Bytes Garbage(std::size_t n) {
  std::mt19937 rng(7);
  Bytes b(n);
  for (uint8_t& v : b) v = static_cast<uint8_t>(rng());
  return b;
}

// testorig.jpg with its frame header claiming another size.
Bytes JpegClaiming(uint16_t w, uint16_t h) {
  Bytes b = ReadBytes(DataFile("ljt/testorig.jpg"));
  for (std::size_t i = 0; i + 8 < b.size(); ++i)
    if (b[i] == 0xFF && b[i + 1] == 0xC0) {
      b[i + 5] = static_cast<uint8_t>(h >> 8), b[i + 6] = static_cast<uint8_t>(h);
      b[i + 7] = static_cast<uint8_t>(w >> 8), b[i + 8] = static_cast<uint8_t>(w);
      break;
    }
  return b;
}

TEST_P(MalformedFile, FailsCleanly) {
  const Malformed& c = GetParam();
  const std::string path = Path(c.name);
  WriteBytes(path, c.make());
  IEBitmap out = Sentinel();
  ExpectCleanFailure(ReadImage(path, out), out, path, c.why);
}

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    Inputs, MalformedFile,
    ::testing::Values(
        // Nothing, or noise.
        Malformed{"empty.jpg", [] { return Bytes{}; }, "Empty input file"},
        Malformed{"empty.png", [] { return Bytes{}; }, "end of file"},
        Malformed{"empty.ppm", [] { return Bytes{}; }, "not a PNM file"},
        Malformed{"noise.jpg", [] { return Garbage(4096); }, "Not a JPEG file"},
        Malformed{"noise.png", [] { return Garbage(4096); }, "Not a PNG file"},
        Malformed{"noise.pgm", [] { return Garbage(4096); }, "not a PNM file"},
        // Files cut short: an error, not a partly grey picture.
        Malformed{"cut-in-data.jpg", [] { return Cut(ReadBytes(DataFile("ljt/testorig.jpg")), 3500); },
                  "Premature end of JPEG file"},
        Malformed{"cut-in-header.jpg", [] { return Cut(ReadBytes(DataFile("ljt/testorig.jpg")), 300); },
                  "Premature end of JPEG file"},
        Malformed{"cut-progressive.jpg", [] { return Cut(ReadBytes(DataFile("sdl/sample.jpg")), 400); },
                  "Premature end of JPEG file"},
        Malformed{"cut-in-data.png",
                  [] {
                    Bytes b = ReadBytes(DataFile("pngsuite/basn2c08.png"));
                    return Cut(b, b.size() / 2);
                  },
                  "unexpected end of file"},
        Malformed{"cut-before-iend.png",  // every pixel there, only IEND missing
                  [] {
                    Bytes b = ReadBytes(DataFile("pngsuite/basn2c08.png"));
                    return Cut(b, b.size() - 12);
                  },
                  "unexpected end of file"},
        Malformed{"cut.ppm", [] { return Cut(ToBytes("P6\n4 4\n255\n" + std::string(40, 'x')), 40); },
                  "unexpected end of file"},
        Malformed{"cut-plain.pgm", [] { return ToBytes("P2 3 1 255 1 2"); }, "unexpected end of file"},
        // Sizes far beyond the limits, in files of a few bytes.
        Malformed{"huge-side.png", [] { return MakePng(100000, 100000, 8, 2, {}); }, "too large"},
        Malformed{"huge-area.png", [] { return MakePng(60000, 60000, 8, 2, {}); }, "too large"},
        Malformed{"huge.jpg", [] { return JpegClaiming(65000, 65000); }, "too large"},
        Malformed{"huge-side.ppm", [] { return ToBytes("P6\n100000 100000\n255\n"); }, "too large"},
        Malformed{"huge-area.pbm", [] { return ToBytes("P4 60000 60000\n"); }, "too large"},
        // PNM syntax.
        Malformed{"overflow.ppm", [] { return ToBytes("P6 99999999999999999999999 1 255\n"); }, "out of range"},
        Malformed{"maxval-too-big.pgm", [] { return ToBytes("P5 1 1 65536\n\x01"); }, "out of range"},
        Malformed{"maxval-zero.pgm", [] { return ToBytes("P5 1 1 0\n\x00"s); }, "invalid maximum value"},
        Malformed{"zero-width.pgm", [] { return ToBytes("P5 0 5 255\n"); }, "invalid size"},
        Malformed{"sample-above-maxval.pgm", [] { return ToBytes("P5 2 1 100\n\x10\xff"); }, "out of range"},
        Malformed{"plain-above-maxval.ppm", [] { return ToBytes("P3 1 1 10 1 2 11"); }, "out of range"},
        Malformed{"bad-digit.pbm", [] { return ToBytes("P1 2 1 0 2"); }, "invalid pixel value"},
        Malformed{"letters.pgm", [] { return ToBytes("P2 2 x"); }, "invalid height"},
        Malformed{"no-space-after-maxval.pgm", [] { return ToBytes("P5 1 1 255x"); }, "invalid header"},
        Malformed{"pam.pnm", [] { return ToBytes("P7\nWIDTH 1\n"); }, "not a PNM file"}),
    [](const ::testing::TestParamInfo<Malformed>& info) {
      std::string n = info.param.name;
      for (char& ch : n)
        if (ch == '-' || ch == '.') ch = '_';
      return n;
    });

// Damaged files from the PNG test suites; each must fail with libpng's
// reason rather than crash or come back as a picture.
class CorruptPng : public ::testing::TestWithParam<const char*> {};

TEST_P(CorruptPng, FailsCleanly) {
  const std::string path = DataFile(GetParam());
  IEBitmap out = Sentinel();
  ExpectCleanFailure(ReadImage(path, out), out, path, "");
}

INSTANTIATE_TEST_SUITE_P(Files, CorruptPng,
                         ::testing::Values("pngsuite/corrupt/xs1n0g01.png",   // bad signature
                                           "pngsuite/corrupt/xcsn0g01.png",   // IDAT checksum
                                           "pngsuite/corrupt/xd0n2c08.png",   // bit depth 0
                                           "pngsuite/corrupt/xdtn0g01.png",   // no IDAT
                                           "pngsuite/corrupt/xhdn0g08.png",   // IHDR checksum
                                           "pngsuite/corrupt/xlfn0g04.png",   // line ends converted
                                           "pngsuite/corrupt/xc1n0g08.png",   // colour type 1
                                           "pngsuite/corrupt/xcrn0g04.png",   // CR LF converted
                                           "libpng/badadler.png", "libpng/badcrc.png"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           std::string n = std::filesystem::path(info.param).stem().string();
                           return n;
                         });

// Peak memory of this process so far, in kilobytes.
long PeakMemoryKb() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// 1 x 1 pictures followed by one chunk claiming a gigabyte: the chunk is
// skipped or refused, never allocated.
class HugeChunk : public ::testing::TestWithParam<const char*> {};

TEST_P(HugeChunk, IsNotAllocated) {
  const std::string path = DataFile(std::string("libpng/huge_") + GetParam() + ".png");
  const long before = PeakMemoryKb();
  IEBitmap out = Sentinel();
  ExpectCleanFailure(ReadImage(path, out), out, path, "");
  EXPECT_LT(PeakMemoryKb() - before, 64 * 1024);
}

INSTANTIATE_TEST_SUITE_P(Files, HugeChunk,
                         ::testing::Values("IDAT", "bKGD_chunk", "cHRM_chunk", "eXIf_chunk", "gAMA_chunk",
                                           "hIST_chunk", "iCCP_chunk", "iTXt_chunk", "juNK_unsafe_to_copy",
                                           "juNk_safe_to_copy", "pCAL_chunk", "pHYs_chunk", "sCAL_chunk",
                                           "sPLT_chunk", "sRGB_chunk", "sTER_chunk", "tEXt_chunk", "tIME_chunk",
                                           "zTXt_chunk"));

// ---------------------------------------------------------------------------
// Limits given by the caller.

struct LimitCase {
  const char* file;
  ImageLimits limits;
  friend void PrintTo(const LimitCase& c, std::ostream* os) {
    *os << c.file << " within " << c.limits.maxSide << " per side, " << c.limits.maxPixels << " pixels";
  }
};

class CallerLimits : public ::testing::TestWithParam<LimitCase> {};

TEST_P(CallerLimits, RefuseLargerPictures) {
  const LimitCase& c = GetParam();
  const std::string path = DataFile(c.file);
  IEBitmap out = Sentinel();
  ExpectCleanFailure(ReadImage(path, out, c.limits), out, path, "too large");
  // The same file within the default limits reads.
  EXPECT_TRUE(ReadImage(path, out));
}

INSTANTIATE_TEST_SUITE_P(
    Files, CallerLimits,
    ::testing::Values(LimitCase{"ljt/testorig.jpg", {65535, 1000}}, LimitCase{"ljt/testorig.jpg", {200, 1000000}},
                      LimitCase{"pngsuite/basn2c08.png", {65535, 1000}},  // 32 x 32
                      LimitCase{"pngsuite/basn2c08.png", {31, 1000000}},
                      LimitCase{"libtiff/minisblack-1c-8b.pgm", {65535, 1000}},
                      LimitCase{"libtiff/miniswhite-1c-1b.pbm", {150, 1000000}}));

// ---------------------------------------------------------------------------
// Paths that are not readable files.

class BadPath : public TempDirTest {};

TEST_F(BadPath, MissingDirectoryFifoAndUnknownType) {
  ASSERT_EQ(mkdir(Path("folder.jpg").c_str(), 0755), 0);
  ASSERT_EQ(mkfifo(Path("pipe.ppm").c_str(), 0644), 0);  // opening must not wait for a writer
  WriteBytes(Path("picture.xyz"), ReadBytes(DataFile("pngsuite/basn2c08.png")));
  const struct {
    const char* name;
    const char* why;
  } cases[] = {{"missing.png", "No such file or directory"},
               {"folder.jpg", "Is a directory"},
               {"pipe.ppm", "not a regular file"},
               {"picture.xyz", "unsupported file type"},
               {"no-extension", "unsupported file type"}};
  for (const auto& c : cases) {
    IEBitmap out = Sentinel();
    ExpectCleanFailure(ReadImage(Path(c.name), out), out, Path(c.name), c.why);
  }
  IEBitmap out = Sentinel();
  ExpectCleanFailure(ReadJPEG(Path("folder.jpg"), out), out, Path("folder.jpg"), "Is a directory");
}

// ---------------------------------------------------------------------------
// Progressive JPEGs: a valid file with thousands of scans is refused, one
// with some hundreds is read.

class ScanLimit : public TempDirTest, public ::testing::WithParamInterface<int> {};

TEST_P(ScanLimit, RefusesExcessiveScans) {
  const int acComponents = GetParam();
  std::vector<jpeg_scan_info> scans = ManyScans(acComponents);
  std::vector<uint8_t> samples(8 * 8 * 3);
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<uint8_t>(i * 5);
  const Bytes file = CraftJpeg(8, 8, 3, JCS_RGB, samples, [&](jpeg_compress_struct& c) {
    c.scan_info = scans.data();
    c.num_scans = static_cast<int>(scans.size());
  });
  const std::string path = Path("scans.jpg");
  WriteBytes(path, file);
  IEBitmap out = Sentinel();
  IOResult r = ReadImage(path, out);
  if (scans.size() > 1000) {
    ExpectCleanFailure(r, out, path, "too many scans");
  } else {
    EXPECT_TRUE(r) << r.message;
    EXPECT_EQ(out.Width(), 8);
  }
}

INSTANTIATE_TEST_SUITE_P(Scripts, ScanLimit, ::testing::Values(1, 3), [](const ::testing::TestParamInfo<int>& info) {
  return ManyScans(info.param).size() > 1000 ? std::string("ThousandsOfScans") : std::string("HundredsOfScans");
});

// ---------------------------------------------------------------------------
// Mutated copies of valid files: whatever the damage, a read either gives
// a picture within the limits or fails cleanly. Run under the sanitizers,
// this is what finds overruns in the decoders.

// Recomputes every chunk checksum so that damage inside a chunk reaches the
// decoder instead of stopping at the CRC check.
void FixPngCrcs(Bytes& png) {
  std::size_t pos = 8;
  while (pos + 12 <= png.size()) {
    const uint32_t len = static_cast<uint32_t>(png[pos]) << 24 | png[pos + 1] << 16 | png[pos + 2] << 8 | png[pos + 3];
    if (len > png.size() - pos - 12) break;
    const uint32_t crc = Crc32(png.data() + pos + 4, len + 4);
    for (int k = 0; k < 4; ++k) png[pos + 8 + len + k] = static_cast<uint8_t>(crc >> (24 - 8 * k));
    pos += 12 + len;
  }
}

Bytes Mutate(const Bytes& seed, std::mt19937& rng, bool png) {
  Bytes b = seed;
  auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % std::max<std::size_t>(n, 1)); };
  switch (rng() % 4) {
    case 0:  // a few random bytes
      for (int i = 1 + static_cast<int>(rng() % 4); i > 0; --i) b[pick(b.size())] = static_cast<uint8_t>(rng());
      break;
    case 1:  // cut anywhere
      b.resize(pick(b.size()));
      break;
    case 2: {  // a slice copied elsewhere
      const std::size_t from = pick(b.size()), n = std::min<std::size_t>(1 + pick(64), b.size() - from);
      const auto start = b.begin() + static_cast<std::ptrdiff_t>(from);
      const Bytes slice(start, start + static_cast<std::ptrdiff_t>(n));
      b.insert(b.begin() + static_cast<std::ptrdiff_t>(pick(b.size())), slice.begin(), slice.end());
      break;
    }
    default:  // extreme values, which reach size and count fields
      for (int i = 1 + static_cast<int>(rng() % 3); i > 0; --i) b[pick(b.size())] = rng() % 2 ? 0xFF : 0x00;
      break;
  }
  if (png && rng() % 4 != 0) FixPngCrcs(b);
  return b;
}

struct Seed {
  const char* name;  // file name in the scratch folder: picks the reader
  std::function<Bytes()> make;
  friend void PrintTo(const Seed& c, std::ostream* os) { *os << c.name; }
};

class MutatedFiles : public TempDirTest, public ::testing::WithParamInterface<Seed> {};

TEST_P(MutatedFiles, NeverCrashOrReturnGarbageSizes) {
  const Seed& s = GetParam();
  const Bytes seed = s.make();
  ASSERT_FALSE(seed.empty());
  const ImageLimits limits{4096, 4'000'000};
  const bool png = LowerExtension(s.name) == "png";
  const std::string path = Path(s.name);
  std::mt19937 rng(12345);
  int failures = 0;
  for (int i = 0; i < 300; ++i) {
    WriteBytes(path, Mutate(seed, rng, png));
    IEBitmap out = Sentinel();
    IOResult r = ReadImage(path, out, limits);
    if (r) {
      EXPECT_GT(out.Width(), 0);
      EXPECT_LE(out.Width(), limits.maxSide);
      EXPECT_LE(static_cast<uint64_t>(out.Width()) * out.Height(), limits.maxPixels);
    } else {
      ++failures;
      EXPECT_EQ(r.message.rfind(path + ": ", 0), 0u) << r.message;
      ExpectSentinel(out);
    }
    if (HasFailure()) {
      ADD_FAILURE() << "mutant " << i;
      break;
    }
  }
  EXPECT_GT(failures, 0);  // the mutations did reach the error paths
}

INSTANTIATE_TEST_SUITE_P(
    Seeds, MutatedFiles,
    ::testing::Values(Seed{"rgba.png", [] { return ReadBytes(DataFile("pngsuite/basn6a08.png")); }},
                      Seed{"interlaced.png", [] { return ReadBytes(DataFile("pngsuite/basi0g01.png")); }},
                      Seed{"palette.png", [] { return ReadBytes(DataFile("pngsuite/tbbn3p08.png")); }},
                      Seed{"deep.png", [] { return ReadBytes(DataFile("pngsuite/basi6a16.png")); }},
                      Seed{"baseline.jpg", [] { return ReadBytes(DataFile("ljt/testorig.jpg")); }},
                      Seed{"progressive.jpg", [] { return ReadBytes(DataFile("sdl/sample.jpg")); }},
                      Seed{"arithmetic.jpg", [] { return ReadBytes(DataFile("ljt/testimgari.jpg")); }},
                      Seed{"raw.ppm", [] { return ReadBytes(DataFile("sdl/sample.pnm")); }},
                      Seed{"plain.pgm", [] { return ToBytes("P2\n# c\n4 3\n300\n0 1 2 3\n100 200 300 4\n5 6 7 8\n"); }},
                      Seed{"plain.pbm", [] { return ToBytes("P1\n5 3\n01010\n10101\n11100\n"); }},
                      Seed{"raw.pbm", [] { return ReadBytes(DataFile("libtiff/miniswhite-1c-1b.pbm")); }}),
    [](const ::testing::TestParamInfo<Seed>& info) {
      std::string n = info.param.name;
      for (char& ch : n)
        if (ch == '.') ch = '_';
      return n;
    });

}  // namespace
}  // namespace velmora::test
