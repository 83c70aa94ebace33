// Reading real and hand-made files of every supported kind.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <string>
#include <vector>

#include "FileTestUtil.h"
#include "JpegCraft.h"
#include "document/files/ImageFile.h"

namespace velmora::test {
namespace {

using F = IEPixelFormat;

// ---------------------------------------------------------------------------
// PNG: the PngSuite files against the suite's own 8-bit RGBA decodes.

struct SuiteCase {
  const char* name;
  F format;
  bool alpha;  // whether the file has transparent pixels
  friend void PrintTo(const SuiteCase& c, std::ostream* os) { *os << c.name; }
};

class PngSuiteTest : public ::testing::TestWithParam<SuiteCase> {};

TEST_P(PngSuiteTest, MatchesReferenceDecode) {
  const SuiteCase& c = GetParam();
  IEBitmap bmp, ref;
  IOResult r = ReadImage(DataFile(std::string("pngsuite/") + c.name + ".png"), bmp);
  ASSERT_TRUE(r) << r.message;
  r = ReadImage(DataFile(std::string("pngsuite/check/") + c.name + ".png"), ref);
  ASSERT_TRUE(r) << r.message;

  EXPECT_EQ(bmp.PixelFormat(), c.format);
  EXPECT_EQ(bmp.HasAlphaChannel(), c.alpha);
  if (c.alpha) {
    EXPECT_FALSE(bmp.AlphaAllOpaque());
  }
  ASSERT_EQ(bmp.Width(), ref.Width());
  ASSERT_EQ(bmp.Height(), ref.Height());
  int wrong = 0;
  for (int y = 0; y < ref.Height(); ++y)
    for (int x = 0; x < ref.Width(); ++x) {
      const int a = ref.Alpha(x, y);
      // The colour of a fully transparent pixel is not part of the picture.
      if (bmp.Alpha(x, y) != a || (a != 0 && !(ColourAt(bmp, x, y) == ColourAt(ref, x, y)))) ++wrong;
    }
  EXPECT_EQ(wrong, 0) << "pixels differing from the reference decode";
}

INSTANTIATE_TEST_SUITE_P(
    Files, PngSuiteTest,
    ::testing::Values(SuiteCase{"basn0g01", F::ie1g, false},  // bi-level
                      SuiteCase{"basi0g01", F::ie1g, false},  // bi-level, interlaced
                      SuiteCase{"basn0g02", F::ie24RGB, false}, SuiteCase{"basn0g08", F::ie24RGB, false},
                      SuiteCase{"basn2c08", F::ie24RGB, false}, SuiteCase{"basi2c08", F::ie24RGB, false},
                      SuiteCase{"basn3p01", F::ie24RGB, false},  // 1-bit palette is not bi-level
                      SuiteCase{"basn3p04", F::ie24RGB, false}, SuiteCase{"basi3p02", F::ie24RGB, false},
                      SuiteCase{"basn3p08", F::ie24RGB, false}, SuiteCase{"basn4a08", F::ie24RGB, true},
                      SuiteCase{"basi4a08", F::ie24RGB, true}, SuiteCase{"basn6a08", F::ie24RGB, true},
                      SuiteCase{"basi6a08", F::ie24RGB, true},
                      SuiteCase{"tbbn0g04", F::ie24RGB, true},  // grey with a transparent level
                      SuiteCase{"tbrn2c08", F::ie24RGB, true},  // RGB with a transparent colour
                      SuiteCase{"tbbn3p08", F::ie24RGB, true},  // palette with transparency
                      SuiteCase{"s01i3p01", F::ie24RGB, false},  // 1 x 1, interlaced: most passes empty
                      SuiteCase{"s03i3p01", F::ie24RGB, false}, SuiteCase{"s06n3p02", F::ie24RGB, false}),
    [](const ::testing::TestParamInfo<SuiteCase>& info) { return std::string(info.param.name); });

TEST(PngRead, InterlacedSixteenBitMatchesNonInterlaced) {
  IEBitmap plain, interlaced;
  ASSERT_TRUE(ReadImage(DataFile("pngsuite/basn6a16.png"), plain));
  ASSERT_TRUE(ReadImage(DataFile("pngsuite/basi6a16.png"), interlaced));
  ASSERT_TRUE(plain.HasAlphaChannel());
  EXPECT_EQ(MaxDifference(plain, interlaced, true), 0);
}

TEST(PngRead, SixteenBitSuiteFilesRead) {
  for (const char* name : {"basn0g16", "basn2c16", "tbwn0g16"}) {
    IEBitmap bmp;
    IOResult r = ReadImage(DataFile(std::string("pngsuite/") + name + ".png"), bmp);
    ASSERT_TRUE(r) << r.message;
    EXPECT_EQ(bmp.PixelFormat(), F::ie24RGB) << name;
    EXPECT_EQ(bmp.Width(), 32) << name;
  }
  IEBitmap withTrns;
  ASSERT_TRUE(ReadImage(DataFile("pngsuite/tbwn0g16.png"), withTrns));
  EXPECT_TRUE(withTrns.HasAlphaChannel());  // 16-bit tRNS becomes alpha too
}

// Hand-made PNGs: exact sample values through the 16-bit scaling and the
// tRNS paths.
struct CraftedPng {
  const char* name;
  uint8_t depth, colourType;
  uint32_t width;
  Bytes row;   // one row
  Bytes trns;  // tRNS chunk content, empty for none
  F format;
  std::vector<std::array<int, 4>> pixels;  // r, g, b, alpha
  friend void PrintTo(const CraftedPng& c, std::ostream* os) { *os << c.name; }
};

class CraftedPngTest : public TempDirTest, public ::testing::WithParamInterface<CraftedPng> {};

TEST_P(CraftedPngTest, DecodesExactly) {
  const CraftedPng& c = GetParam();
  const std::string path = Path("crafted.png");
  WriteBytes(path, MakePng(c.width, 1, c.depth, c.colourType, {c.row}, c.trns));
  IEBitmap bmp;
  IOResult r = ReadImage(path, bmp);
  ASSERT_TRUE(r) << r.message;
  ASSERT_EQ(bmp.PixelFormat(), c.format);
  ASSERT_EQ(bmp.Width(), static_cast<int>(c.pixels.size()));
  for (int x = 0; x < bmp.Width(); ++x) {
    const IETriple p = ColourAt(bmp, x, 0);
    EXPECT_EQ((std::array<int, 4>{p.r, p.g, p.b, bmp.Alpha(x, 0)}), c.pixels[x]) << "pixel " << x;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, CraftedPngTest,
    ::testing::Values(
        // 16-bit samples scale to the nearest 8-bit value (0x12F0 is nearer
        // 19 than its high byte 18).
        CraftedPng{"grey16", 16, 0, 6, {0x00, 0x00, 0xFF, 0xFF, 0x64, 0x64, 0x12, 0x34, 0xFE, 0xFF, 0x12, 0xF0}, {},
                   F::ie24RGB,
                   {{0, 0, 0, 255},
                    {255, 255, 255, 255},
                    {100, 100, 100, 255},
                    {18, 18, 18, 255},
                    {254, 254, 254, 255},
                    {19, 19, 19, 255}}},
        CraftedPng{"rgb16", 16, 2, 1, {0xFF, 0xFF, 0x00, 0x00, 0x64, 0x64}, {}, F::ie24RGB, {{255, 0, 100, 255}}},
        CraftedPng{"rgba16", 16, 6, 2, {0x64, 0x64, 0x32, 0x32, 0, 0, 0x80, 0x80, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF},
                   {}, F::ie24RGB, {{100, 50, 0, 128}, {0, 0, 0, 255}}},
        CraftedPng{"greyalpha16", 16, 4, 1, {0x32, 0x32, 0x00, 0x00}, {}, F::ie24RGB, {{50, 50, 50, 0}}},
        // Bi-level with a transparent level needs alpha, so it is not ie1g.
        CraftedPng{"bilevel-trns", 1, 0, 3, {0xA0}, {0, 0}, F::ie24RGB,
                   {{255, 255, 255, 255}, {0, 0, 0, 0}, {255, 255, 255, 255}}},
        // Bi-level rows wider than a byte, with junk in the padding bits.
        CraftedPng{"bilevel-10", 1, 0, 10, {0x5A, 0x7F}, {}, F::ie1g,
                   {{0, 0, 0, 255}, {255, 255, 255, 255}, {0, 0, 0, 255}, {255, 255, 255, 255},
                    {255, 255, 255, 255}, {0, 0, 0, 255}, {255, 255, 255, 255}, {0, 0, 0, 255},
                    {0, 0, 0, 255}, {255, 255, 255, 255}}},
        // An alpha channel that is all 255 is dropped.
        CraftedPng{"rgba-opaque", 8, 6, 1, {1, 2, 3, 255}, {}, F::ie24RGB, {{1, 2, 3, 255}}}),
    [](const ::testing::TestParamInfo<CraftedPng>& info) {
      std::string n = info.param.name;
      for (char& ch : n)
        if (ch == '-') ch = '_';
      return n;
    });

TEST(PngRead, OpaqueAlphaGivesNoChannel) {
  // basn6a08 has transparency, its opaque counterpart basn2c08 none; a
  // crafted all-opaque RGBA file is covered by the table above.
  IEBitmap bmp;
  ASSERT_TRUE(ReadImage(DataFile("pngsuite/basn2c08.png"), bmp));
  EXPECT_FALSE(bmp.HasAlphaChannel());
}

// ---------------------------------------------------------------------------
// JPEG

TEST(JpegRead, BaselineArithmeticAndProgressiveMatchTheirSources) {
  struct Case {
    const char* jpeg;
    const char* reference;
    double meanTolerance;
  } cases[] = {
      {"ljt/testorig.jpg", "ljt/testorig.ppm", 2.5},    // baseline Huffman
      {"ljt/testimgari.jpg", "ljt/testorig.ppm", 2.5},  // arithmetic coding
      {"sdl/sample.jpg", "sdl/sample.png", 4.0},        // progressive
  };
  for (const Case& c : cases) {
    IEBitmap jpeg, ref;
    IOResult r = ReadImage(DataFile(c.jpeg), jpeg);
    ASSERT_TRUE(r) << r.message;
    ASSERT_TRUE(ReadImage(DataFile(c.reference), ref));
    EXPECT_EQ(jpeg.PixelFormat(), F::ie24RGB) << c.jpeg;
    EXPECT_FALSE(jpeg.HasAlphaChannel()) << c.jpeg;
    EXPECT_LT(MeanDifference(jpeg, ref), c.meanTolerance) << c.jpeg;
  }
}

TEST(JpegRead, TwelveBitFileFailsCleanly) {
  const std::string path = DataFile("ljt/testorig12.jpg");
  IEBitmap out = Sentinel();
  IOResult r = ReadImage(path, out);
  EXPECT_FALSE(r);
  EXPECT_NE(r.message.find(path), std::string::npos) << r.message;
  EXPECT_NE(r.message.find("precision 12"), std::string::npos) << r.message;
  ExpectSentinel(out);
}

class JpegFileTest : public TempDirTest {};

TEST_F(JpegFileTest, ReadJpegIgnoresTheExtension) {
  const Bytes jpeg = ReadBytes(DataFile("ljt/testorig.jpg"));
  IEBitmap expected;
  ASSERT_TRUE(ReadImage(DataFile("ljt/testorig.jpg"), expected));
  for (const char* name : {"mask.jpg.jpeg", "mask.bin", "mask"}) {
    WriteBytes(Path(name), jpeg);
    IEBitmap bmp;
    IOResult r = ReadJPEG(Path(name), bmp);
    ASSERT_TRUE(r) << r.message;
    EXPECT_EQ(MaxDifference(bmp, expected), 0) << name;
  }
  IEBitmap out = Sentinel();
  IOResult r = ReadImage(Path("mask.bin"), out);
  EXPECT_FALSE(r);
  EXPECT_NE(r.message.find("unsupported file type"), std::string::npos) << r.message;
  EXPECT_NE(r.message.find(Path("mask.bin")), std::string::npos) << r.message;
  ExpectSentinel(out);

  // And the JPEG reader refuses what is not a JPEG.
  r = ReadJPEG(DataFile("pngsuite/basn2c08.png"), out);
  EXPECT_FALSE(r);
  ExpectSentinel(out);
}

// Four-colour pictures (red, green, blue and dark grey quadrants) stored in
// the colour spaces other programs use.
struct ColourSpaceCase {
  const char* name;
  J_COLOR_SPACE input;   // CMYK or RGB samples handed to libjpeg
  J_COLOR_SPACE stored;  // the file's colour space
  bool adobeMarker;
  friend void PrintTo(const ColourSpaceCase& c, std::ostream* os) { *os << c.name; }
};

class JpegColourSpaceTest : public TempDirTest, public ::testing::WithParamInterface<ColourSpaceCase> {};

TEST_P(JpegColourSpaceTest, ConvertsToRgb) {
  const ColourSpaceCase& c = GetParam();
  struct Ink {
    int c, m, y, k;
    IETriple rgb;
  } inks[4] = {{0, 255, 255, 0, {0, 0, 255}},  // red (b, g, r)
               {255, 0, 255, 0, {0, 255, 0}},  // green
               {255, 255, 0, 0, {255, 0, 0}},  // blue
               {0, 0, 0, 191, {64, 64, 64}}};  // grey from black ink only
  const int size = 16;
  const bool cmyk = c.input == JCS_CMYK;
  std::vector<uint8_t> samples;
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      const Ink& ink = inks[(y / 8) * 2 + x / 8];
      if (!cmyk) {
        samples.insert(samples.end(), {ink.rgb.r, ink.rgb.g, ink.rgb.b});
        continue;
      }
      for (int v : {ink.c, ink.m, ink.y, ink.k})
        // With the Adobe marker the samples are stored inverted.
        samples.push_back(static_cast<uint8_t>(c.adobeMarker ? 255 - v : v));
    }
  const Bytes file = CraftJpeg(size, size, cmyk ? 4 : 3, c.input, samples, [&](jpeg_compress_struct& j) {
    jpeg_set_colorspace(&j, c.stored);
    j.write_Adobe_marker = c.adobeMarker ? TRUE : FALSE;
  });
  WriteBytes(Path("space.jpg"), file);
  IEBitmap bmp;
  IOResult r = ReadImage(Path("space.jpg"), bmp);
  ASSERT_TRUE(r) << r.message;
  ASSERT_EQ(bmp.PixelFormat(), F::ie24RGB);
  for (int q = 0; q < 4; ++q) {
    const IETriple p = bmp.Pixel24((q % 2) * 8 + 4, (q / 2) * 8 + 4);
    EXPECT_NEAR(p.r, inks[q].rgb.r, 3) << "quadrant " << q;
    EXPECT_NEAR(p.g, inks[q].rgb.g, 3) << "quadrant " << q;
    EXPECT_NEAR(p.b, inks[q].rgb.b, 3) << "quadrant " << q;
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, JpegColourSpaceTest,
                         ::testing::Values(ColourSpaceCase{"AdobeCmyk", JCS_CMYK, JCS_CMYK, true},
                                           ColourSpaceCase{"Ycck", JCS_CMYK, JCS_YCCK, true},
                                           ColourSpaceCase{"PlainCmyk", JCS_CMYK, JCS_CMYK, false},
                                           ColourSpaceCase{"StoredRgb", JCS_RGB, JCS_RGB, true}),
                         [](const ::testing::TestParamInfo<ColourSpaceCase>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(JpegFileTest, GreyFileReadsAsGreyRgb) {
  std::vector<uint8_t> samples(16 * 8);
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<uint8_t>(i < 64 ? 40 : 200);
  WriteBytes(Path("grey.jpg"), CraftJpeg(8, 16, 1, JCS_GRAYSCALE, samples));
  IEBitmap bmp;
  IOResult r = ReadImage(Path("grey.jpg"), bmp);
  ASSERT_TRUE(r) << r.message;
  ASSERT_EQ(bmp.PixelFormat(), F::ie24RGB);
  for (int y : {0, 15}) {
    const IETriple p = bmp.Pixel24(3, y);
    EXPECT_EQ(p.r, p.g);
    EXPECT_EQ(p.g, p.b);
    EXPECT_NEAR(p.r, y == 0 ? 40 : 200, 2);
  }
}

// ---------------------------------------------------------------------------
// PNM

TEST(PnmRead, MatchesTheSamePictureAsPng) {
  IEBitmap pnm, png;
  ASSERT_TRUE(ReadImage(DataFile("sdl/sample.pnm"), pnm));  // P6 with a comment
  ASSERT_TRUE(ReadImage(DataFile("sdl/sample.png"), png));
  EXPECT_EQ(pnm.PixelFormat(), F::ie24RGB);
  EXPECT_EQ(MaxDifference(pnm, png), 0);
}

class PnmFileTest : public TempDirTest {};

TEST_F(PnmFileTest, RealFilesSurviveReadAndWriteUnchanged) {
  // Velmora writes the same header layout as these files, so reading and
  // writing back must reproduce them byte for byte.
  for (const char* name : {"libtiff/miniswhite-1c-1b.pbm", "libtiff/minisblack-1c-8b.pgm"}) {
    IEBitmap bmp;
    IOResult r = ReadImage(DataFile(name), bmp);
    ASSERT_TRUE(r) << r.message;
    EXPECT_EQ(bmp.Width(), 157);
    EXPECT_EQ(bmp.Height(), 151);
    const std::string ext = LowerExtension(name);
    EXPECT_EQ(bmp.PixelFormat(), ext == "pbm" ? F::ie1g : F::ie24RGB);
    const std::string copy = Path("copy." + ext);
    r = WriteImage(copy, bmp);
    ASSERT_TRUE(r) << r.message;
    EXPECT_EQ(ReadBytes(copy), ReadBytes(DataFile(name))) << name;
  }
}

struct PnmCase {
  const char* name;  // file name; the extension does not pick the kind
  std::string content;
  F format;
  std::vector<int> values;  // grey or r, g, b per pixel (0/255 for bi-level)
  friend void PrintTo(const PnmCase& c, std::ostream* os) { *os << c.name; }
};

class PnmContentTest : public TempDirTest, public ::testing::WithParamInterface<PnmCase> {};

TEST_P(PnmContentTest, Decodes) {
  const PnmCase& c = GetParam();
  const std::string path = Path(c.name);
  WriteBytes(path, ToBytes(c.content));
  IEBitmap bmp;
  IOResult r = ReadImage(path, bmp);
  ASSERT_TRUE(r) << r.message;
  ASSERT_EQ(bmp.PixelFormat(), c.format);
  std::vector<int> got;
  const bool colour = c.values.size() == 3u * bmp.Width() * bmp.Height();
  for (int y = 0; y < bmp.Height(); ++y)
    for (int x = 0; x < bmp.Width(); ++x) {
      const IETriple p = ColourAt(bmp, x, y);
      if (colour) {
        got.insert(got.end(), {p.r, p.g, p.b});
      } else {
        EXPECT_TRUE(p.r == p.g && p.g == p.b);
        got.push_back(p.r);
      }
    }
  EXPECT_EQ(got, c.values);
}

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    Kinds, PnmContentTest,
    ::testing::Values(
        PnmCase{"plain.pbm", "P1\n# a comment\n3 2\n0 1 0\n1 0 1\n", F::ie1g, {255, 0, 255, 0, 255, 0}},
        PnmCase{"packed-digits.pbm", "P1 4 1 0110", F::ie1g, {255, 0, 0, 255}},
        PnmCase{"raw.pbm", "P4\n10 1\n\x81\x40"s, F::ie1g, {0, 255, 255, 255, 255, 255, 255, 0, 255, 0}},
        PnmCase{"plain.pgm", "P2\n3 1\n# comment before maxval\n100\n0 50 100\n", F::ie24RGB, {0, 128, 255}},
        PnmCase{"raw.pgm", "P5\n3 1\n255\n\x00\x7f\xff"s, F::ie24RGB, {0, 127, 255}},
        PnmCase{"raw16.pgm", "P5 2 1 1000\n\x03\xe8\x01\xf4"s, F::ie24RGB, {255, 128}},
        PnmCase{"comment-after-maxval.pgm", "P5\n2 1\n255# why not\n\x01\x02"s, F::ie24RGB, {1, 2}},
        PnmCase{"plain.ppm", "P3\n2 1\n65535\n65535 0 32896  0 257 65535\n", F::ie24RGB, {255, 0, 128, 0, 1, 255}},
        PnmCase{"raw.ppm", "P6\n2 1\n255\n\x01\x02\x03\xfa\xfb\xfc"s, F::ie24RGB, {1, 2, 3, 250, 251, 252}},
        PnmCase{"raw16.ppm", "P6 1 1 65535\n\xff\xff\x80\x80\x00\x00"s, F::ie24RGB, {255, 128, 0}},
        PnmCase{"small-maxval.ppm", "P6 1 1 1\n\x01\x00\x01"s, F::ie24RGB, {255, 0, 255}},
        // The pxm and pnm extensions read whatever kind the content is.
        PnmCase{"grey.pxm", "P5 2 1 255\n\x10\x20"s, F::ie24RGB, {16, 32}},
        PnmCase{"bits.pxm", "P4 3 1\n\x40"s, F::ie1g, {255, 0, 255}},
        PnmCase{"colour.pnm", "P6 1 1 255\n\x09\x08\x07"s, F::ie24RGB, {9, 8, 7}}),
    [](const ::testing::TestParamInfo<PnmCase>& info) {
      std::string n = info.param.name;
      for (char& ch : n)
        if (ch == '-' || ch == '.') ch = '_';
      return n;
    });

}  // namespace
}  // namespace velmora::test
