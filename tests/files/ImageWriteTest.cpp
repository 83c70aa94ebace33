// Writing every pixel layout, reading it back, and failed writes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "FileTestUtil.h"
#include "document/files/ImageFile.h"

namespace velmora::test {
namespace {

using F = IEPixelFormat;

// Alpha values covering the whole range, different per pixel.
void AddAlpha(IEBitmap& bmp) {
  for (int y = 0; y < bmp.Height(); ++y)
    for (int x = 0; x < bmp.Width(); ++x) bmp.SetAlpha(x, y, static_cast<uint8_t>((x * 37 + y * 101) % 256));
}

// ---------------------------------------------------------------------------
// PNG round trips: the chosen layout, and the pixels and alpha exactly.

struct PngCase {
  const char* name;
  std::function<IEBitmap()> make;
  int depth, colourType;  // expected in the file
  F readFormat;
  bool alpha;  // expected alpha channel after reading
  friend void PrintTo(const PngCase& c, std::ostream* os) { *os << c.name; }
};

IEBitmap WithAlpha(IEBitmap bmp) {
  AddAlpha(bmp);
  return bmp;
}

class PngRoundTrip : public TempDirTest, public ::testing::WithParamInterface<PngCase> {};

TEST_P(PngRoundTrip, KeepsPixelsAndAlpha) {
  const PngCase& c = GetParam();
  const IEBitmap source = c.make();
  const std::string path = Path("out.png");
  IOResult r = WriteImage(path, source);
  ASSERT_TRUE(r) << r.message;
  EXPECT_EQ(PngLayout(ReadBytes(path)), std::make_pair(c.depth, c.colourType));

  IEBitmap back;
  r = ReadImage(path, back);
  ASSERT_TRUE(r) << r.message;
  EXPECT_EQ(back.PixelFormat(), c.readFormat);
  EXPECT_EQ(back.HasAlphaChannel(), c.alpha);
  if (c.alpha) {
    EXPECT_FALSE(back.AlphaAllOpaque());
  }
  if (source.PixelFormat() == F::ie16g) {
    IEBitmap expected = source;
    ASSERT_TRUE(expected.ConvertFormat(F::ie24RGB));
    EXPECT_EQ(MaxDifference(back, expected), 0);
  } else {
    EXPECT_EQ(MaxDifference(back, source, true), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, PngRoundTrip,
    ::testing::Values(
        PngCase{"Rgb", [] { return Noise(13, 7, F::ie24RGB); }, 8, 2, F::ie24RGB, false},
        PngCase{"RgbAlpha", [] { return WithAlpha(Noise(13, 7, F::ie24RGB)); }, 8, 6, F::ie24RGB, true},
        PngCase{"RgbOpaqueAlpha",  // an alpha channel that is all 255 is not written
                [] {
                  IEBitmap b = Noise(13, 7, F::ie24RGB);
                  b.AlphaChannel();
                  b.SetAlphaAllOpaque(false);
                  return b;
                },
                8, 2, F::ie24RGB, false},
        PngCase{"RgbStaleOpaqueFlag",  // the values count, not the flag
                [] {
                  IEBitmap b = WithAlpha(Noise(13, 7, F::ie24RGB));
                  b.SetAlphaAllOpaque(true);
                  return b;
                },
                8, 6, F::ie24RGB, true},
        PngCase{"Grey", [] { return Noise(13, 7, F::ie8g); }, 8, 0, F::ie24RGB, false},
        PngCase{"GreyAlpha", [] { return WithAlpha(Noise(13, 7, F::ie8g)); }, 8, 4, F::ie24RGB, true},
        PngCase{"Bilevel", [] { return Noise(13, 7, F::ie1g); }, 1, 0, F::ie1g, false},
        PngCase{"BilevelAlpha", [] { return WithAlpha(Noise(13, 7, F::ie1g)); }, 8, 6, F::ie24RGB, true},
        PngCase{"Palette", [] { return Noise(13, 7, F::ie8p); }, 8, 3, F::ie24RGB, false},
        PngCase{"PaletteAlpha", [] { return WithAlpha(Noise(13, 7, F::ie8p)); }, 8, 6, F::ie24RGB, true},
        PngCase{"OtherFormatAsRgb", [] { return Noise(13, 7, F::ie16g); }, 8, 2, F::ie24RGB, false}),
    [](const ::testing::TestParamInfo<PngCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// JPEG

// Number of components in the first frame header of a JPEG file.
int JpegComponents(const Bytes& jpeg) {
  for (std::size_t i = 2; i + 9 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC1 || jpeg[i + 1] == 0xC2)) return jpeg[i + 9];
  return -1;
}

class JpegWrite : public TempDirTest {};

TEST_F(JpegWrite, SmoothPictureAtQuality100ComesBackClose) {
  const IEBitmap source = Gradient(64, 48);
  SaveParams params;
  params.jpegQuality = 100;
  IOResult r = WriteImage(Path("smooth.jpg"), source, params);
  ASSERT_TRUE(r) << r.message;
  EXPECT_EQ(JpegComponents(ReadBytes(Path("smooth.jpg"))), 3);
  IEBitmap back;
  r = ReadImage(Path("smooth.jpg"), back);
  ASSERT_TRUE(r) << r.message;
  EXPECT_EQ(back.PixelFormat(), F::ie24RGB);
  EXPECT_LE(MaxDifference(back, source), 6);
  EXPECT_LT(MeanDifference(back, source), 1.0);
}

TEST_F(JpegWrite, GreyAndBilevelPicturesAreWrittenGrey) {
  IEBitmap grey(32, 16, F::ie8g);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 32; ++x) grey.ScanLine(y)[x] = static_cast<uint8_t>(x * 8);
  IEBitmap bilevel(32, 16, F::ie1g);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 32; ++x) bilevel.SetBit(x, y, x >= 16);
  SaveParams params;
  params.jpegQuality = 100;
  for (const IEBitmap* source : {&grey, &bilevel}) {
    const std::string path = Path("grey.jpe");
    ASSERT_TRUE(WriteImage(path, *source, params));
    EXPECT_EQ(JpegComponents(ReadBytes(path)), 1);
    IEBitmap back;
    ASSERT_TRUE(ReadImage(path, back));
    EXPECT_LE(MaxDifference(back, *source), source == &grey ? 3 : 40);
    EXPECT_LT(MeanDifference(back, *source), 2.0);
  }
}

TEST_F(JpegWrite, ParametersAreHonouredAndClamped) {
  const IEBitmap photo = Noise(48, 32, F::ie24RGB);
  auto encode = [&](int quality, int smooth, bool optimal) {
    SaveParams p;
    p.jpegQuality = quality;
    p.jpegSmooth = smooth;
    p.jpegOptimal = optimal;
    std::vector<uint8_t> out;
    IOResult r = WriteJPEGToMemory(photo, p, out);
    EXPECT_TRUE(r) << r.message;
    return out;
  };
  EXPECT_LT(encode(10, 0, false).size(), encode(90, 0, false).size());
  EXPECT_EQ(encode(-5, 0, false), encode(1, 0, false));
  EXPECT_EQ(encode(250, 0, false), encode(100, 0, false));
  EXPECT_EQ(encode(80, -3, false), encode(80, 0, false));
  EXPECT_EQ(encode(80, 400, false), encode(80, 100, false));
  EXPECT_NE(encode(80, 100, false), encode(80, 0, false));

  // Optimal Huffman tables: smaller file, the very same pixels.
  const std::vector<uint8_t> plain = encode(80, 0, false), optimal = encode(80, 0, true);
  EXPECT_LT(optimal.size(), plain.size());
  WriteBytes(Path("plain.jpg"), plain);
  WriteBytes(Path("optimal.jpg"), optimal);
  IEBitmap a, b;
  ASSERT_TRUE(ReadImage(Path("plain.jpg"), a));
  ASSERT_TRUE(ReadImage(Path("optimal.jpg"), b));
  EXPECT_EQ(MaxDifference(a, b), 0);
}

TEST_F(JpegWrite, MemoryAndFileOutputAreTheSame) {
  const IEBitmap photo = Gradient(300, 200);  // larger than the first memory block
  SaveParams p;
  p.jpegQuality = 97;
  std::vector<uint8_t> memory;
  ASSERT_TRUE(WriteJPEGToMemory(photo, p, memory));
  ASSERT_TRUE(WriteImage(Path("file.jpeg"), photo, p));
  EXPECT_EQ(memory, ReadBytes(Path("file.jpeg")));
}

TEST(JpegMemory, EmptyPictureFailsAndKeepsTheBuffer) {
  std::vector<uint8_t> out = {1, 2, 3};
  IOResult r = WriteJPEGToMemory(IEBitmap(), SaveParams{}, out);
  EXPECT_FALSE(r);
  EXPECT_EQ(out, (std::vector<uint8_t>{1, 2, 3}));
}

// ---------------------------------------------------------------------------
// PNM

struct PnmCase {
  const char* name;
  std::function<IEBitmap()> make;
  const char* magic;
  F readFormat;
  std::vector<int> expected;  // grey per pixel for grey/bi-level, empty: same as the source
  friend void PrintTo(const PnmCase& c, std::ostream* os) { *os << c.name; }
};

// Colours whose grey levels (R*21 + G*71 + B*8) div 100 are 53, 181, 20,
// 128 and 127: both sides of the bi-level threshold.
IEBitmap ThresholdColours() {
  const IETriple colours[] = {{0, 0, 255}, {0, 255, 0}, {255, 0, 0}, {20, 120, 200}, {20, 118, 200}};
  IEBitmap bmp(5, 1, F::ie24RGB);
  for (int x = 0; x < 5; ++x) bmp.Pixel24(x, 0) = colours[x];
  return bmp;
}

class PnmWrite : public TempDirTest, public ::testing::WithParamInterface<PnmCase> {};

TEST_P(PnmWrite, PicksTheKindAndKeepsThePixels) {
  const PnmCase& c = GetParam();
  const IEBitmap source = c.make();
  const std::string path = Path(c.name);
  IOResult r = WriteImage(path, source);
  ASSERT_TRUE(r) << r.message;
  const Bytes bytes = ReadBytes(path);
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 2), c.magic);
  IEBitmap back;
  r = ReadImage(path, back);
  ASSERT_TRUE(r) << r.message;
  EXPECT_EQ(back.PixelFormat(), c.readFormat);
  if (c.expected.empty()) {
    EXPECT_EQ(MaxDifference(back, source), 0);
  } else {
    std::vector<int> got;
    for (int x = 0; x < back.Width(); ++x) got.push_back(ColourAt(back, x, 0).g);
    EXPECT_EQ(got, c.expected);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, PnmWrite,
    ::testing::Values(
        PnmCase{"colour.ppm", [] { return Noise(13, 5, F::ie24RGB); }, "P6", F::ie24RGB, {}},
        PnmCase{"grey.ppm", [] { return Noise(13, 5, F::ie8g); }, "P6", F::ie24RGB, {}},
        PnmCase{"grey.pgm", [] { return Noise(13, 5, F::ie8g); }, "P5", F::ie24RGB, {}},
        PnmCase{"colour.pgm", ThresholdColours, "P5", F::ie24RGB, {53, 181, 20, 128, 127}},
        PnmCase{"bits.pbm", [] { return Noise(13, 5, F::ie1g); }, "P4", F::ie1g, {}},
        PnmCase{"colour.pbm", ThresholdColours, "P4", F::ie1g, {0, 255, 0, 255, 0}},
        PnmCase{"grey.pbm",
                [] {
                  IEBitmap b(4, 1, F::ie8g);
                  const uint8_t v[] = {0, 127, 128, 255};
                  std::copy(v, v + 4, b.ScanLine(0));
                  return b;
                },
                "P4", F::ie1g, {0, 0, 255, 255}},
        // pnm and pxm follow the pixel format.
        PnmCase{"bits.pnm", [] { return Noise(13, 5, F::ie1g); }, "P4", F::ie1g, {}},
        PnmCase{"grey.pnm", [] { return Noise(13, 5, F::ie8g); }, "P5", F::ie24RGB, {}},
        PnmCase{"colour.pxm", [] { return Noise(13, 5, F::ie24RGB); }, "P6", F::ie24RGB, {}},
        PnmCase{"palette.pnm", [] { return Noise(13, 5, F::ie8p); }, "P6", F::ie24RGB, {}}),
    [](const ::testing::TestParamInfo<PnmCase>& info) {
      std::string n = info.param.name;
      std::replace(n.begin(), n.end(), '.', '_');
      return n;
    });

class PnmBytes : public TempDirTest {};

TEST_F(PnmBytes, RawFilesAreLaidOutAsOtherProgramsExpect) {
  // P6: r, g, b order. P4: 1 is black, rows padded with zero bits.
  IEBitmap colour(2, 1, F::ie24RGB);
  colour.Pixel24(0, 0) = IETriple{3, 2, 1};
  colour.Pixel24(1, 0) = IETriple{6, 5, 4};
  ASSERT_TRUE(WriteImage(Path("a.ppm"), colour));
  EXPECT_EQ(ReadBytes(Path("a.ppm")), ToBytes(std::string("P6\n2 1\n255\n\x01\x02\x03\x04\x05\x06", 17)));

  IEBitmap bits(10, 1, F::ie1g);
  for (int x = 0; x < 10; ++x) bits.SetBit(x, 0, x % 3 != 0);  // black at 0, 3, 6, 9
  ASSERT_TRUE(WriteImage(Path("a.pbm"), bits));
  EXPECT_EQ(ReadBytes(Path("a.pbm")), ToBytes(std::string("P4\n10 1\n\x92\x40", 10)));
}

// ---------------------------------------------------------------------------
// Formats without alpha: transparency is composed over white.

class NoAlphaFormats : public TempDirTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(NoAlphaFormats, ComposeOverWhite) {
  const std::string ext = GetParam();
  // Black in three bands, transparent, half transparent and opaque.
  auto bands = [](IEPixelFormat format) {
    IEBitmap bmp(24, 16, format);
    bmp.Fill(0);
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 24; ++x) bmp.SetAlpha(x, y, x < 8 ? 0 : x < 16 ? 128 : 255);
    return bmp;
  };
  IEBitmap colour = bands(F::ie24RGB), grey = bands(F::ie8g);

  for (IEBitmap* source : {&colour, &grey}) {
    const IEBitmap before = *source;
    const std::string path = Path("composed." + ext);
    IOResult r = WriteImage(path, *source, SaveParams{100, 0, false});
    ASSERT_TRUE(r) << r.message;
    IEBitmap back;
    ASSERT_TRUE(ReadImage(path, back));
    EXPECT_FALSE(back.HasAlphaChannel());
    EXPECT_NEAR(ColourAt(back, 4, 8).r, 255, 2);   // transparent black shows the white
    EXPECT_NEAR(ColourAt(back, 12, 8).r, 127, 2);  // half of each
    EXPECT_NEAR(ColourAt(back, 20, 8).r, 0, 2);    // opaque black stays
    // Grey pictures stay grey in the file.
    if (source == &grey) {
      if (ext == "jpg") {
        EXPECT_EQ(JpegComponents(ReadBytes(path)), 1);
      } else {
        EXPECT_EQ(ReadBytes(path)[1], '5');
      }
    }
    // The caller's picture keeps its alpha.
    EXPECT_TRUE(source->HasAlphaChannel());
    EXPECT_EQ(MaxDifference(*source, before, true), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, NoAlphaFormats, ::testing::Values("jpg", "pnm"));

// ---------------------------------------------------------------------------
// Failed writes leave the folder as it was.

class WriteFailure : public TempDirTest {};

TEST_F(WriteFailure, MissingFolderNamesFileAndReason) {
  for (const char* name : {"x.jpg", "x.png", "x.ppm"}) {
    const std::string path = Path(std::string("missing/") + name);
    IOResult r = WriteImage(path, Gradient(4, 4));
    EXPECT_FALSE(r);
    EXPECT_NE(r.message.find(path), std::string::npos) << r.message;
    EXPECT_NE(r.message.find("No such file or directory"), std::string::npos) << r.message;
  }
  EXPECT_TRUE(Entries().empty());
}

TEST_F(WriteFailure, UnsupportedExtensionWritesNothing) {
  IOResult r = WriteImage(Path("x.xyz"), Gradient(4, 4));
  EXPECT_FALSE(r);
  EXPECT_NE(r.message.find("unsupported file type"), std::string::npos) << r.message;
  EXPECT_NE(r.message.find(Path("x.xyz")), std::string::npos) << r.message;
  EXPECT_TRUE(Entries().empty());
}

TEST_F(WriteFailure, DirectoryInTheWayStaysADirectory) {
  ASSERT_EQ(mkdir(Path("taken.png").c_str(), 0755), 0);
  IOResult r = WriteImage(Path("taken.png"), Gradient(4, 4));
  EXPECT_FALSE(r);
  EXPECT_NE(r.message.find(Path("taken.png")), std::string::npos) << r.message;
  EXPECT_TRUE(std::filesystem::is_directory(Path("taken.png")));
  EXPECT_EQ(Entries(), std::vector<std::string>{"taken.png"});
}

TEST_F(WriteFailure, EncoderFailureKeepsTheOldFile) {
  // An empty picture fails inside the encoder, after the temporary file
  // has been created.
  for (const char* name : {"keep.jpg", "keep.png", "keep.pgm"}) {
    const Bytes old = {'o', 'l', 'd', 0, 1, 2};
    WriteBytes(Path(name), old);
    IOResult r = WriteImage(Path(name), IEBitmap());
    EXPECT_FALSE(r);
    EXPECT_NE(r.message.find(Path(name)), std::string::npos) << r.message;
    EXPECT_EQ(ReadBytes(Path(name)), old) << name;
    EXPECT_EQ(Entries(), std::vector<std::string>{name});
    std::filesystem::remove(Path(name));
  }
}

TEST_F(WriteFailure, SuccessfulOverwriteLeavesOnlyTheFile) {
  WriteBytes(Path("photo.png"), {'o', 'l', 'd'});
  ASSERT_TRUE(WriteImage(Path("photo.png"), Gradient(5, 5)));
  EXPECT_EQ(Entries(), std::vector<std::string>{"photo.png"});
  IEBitmap back;
  ASSERT_TRUE(ReadImage(Path("photo.png"), back));
  EXPECT_EQ(MaxDifference(back, Gradient(5, 5)), 0);
}

}  // namespace
}  // namespace velmora::test
