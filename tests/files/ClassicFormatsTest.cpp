// TIFF, GIF, Windows bitmap, icon and cursor, Targa, PCX, multipage PCX
// and wireless bitmap: files from other programs against reference
// decodes, and round trips through Velmora's own writers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ClassicCraft.h"
#include "FileTestUtil.h"
#include "document/files/FormatTable.h"
#include "document/files/ImageFile.h"

namespace velmora::test {
namespace {

// ---------------------------------------------------------------------------
// The table: names and positions of the open and save lists.

TEST(ClassicFormatTable, NamesExtensionsAndSavePositions) {
  const struct {
    const char* ext;
    const char* name;
    const char* saveName;  // empty: read only
    int saveIndex;
  } rows[] = {{"tif", "TIFF", "TIFF Bitmap", 1},       {"g3f", "TIFF", "TIFF Bitmap", 1},
              {"gif", "GIF", "CompuServe Bitmap", 2},  {"pcx", "PCX", "PaintBrush", 4},
              {"rle", "Windows bitmap", "Windows Bitmap", 5}, {"ico", "Windows icon", "Windows Icon", 6},
              {"cur", "Windows cursor", "", 0},        {"vst", "Targa", "Targa Bitmap", 8},
              {"wbmp", "wireless bitmap", "Wireless Bitmap", 10}, {"dcx", "multipage PCX", "Multipage PCX", 15}};
  for (const auto& r : rows) {
    const FormatInfo* f = FindFormat(r.ext);
    ASSERT_NE(f, nullptr) << r.ext;
    EXPECT_EQ(f->name, r.name);
    EXPECT_EQ(f->saveName, r.saveName);
    EXPECT_EQ(f->saveIndex, r.saveIndex);
    EXPECT_TRUE(IsReadableExtension(std::string(".") + r.ext));
    EXPECT_EQ(IsWritableExtension(r.ext), r.saveIndex > 0);
  }
  // The open dialog's order.
  std::vector<ImageFormat> order;
  for (const auto& f : Formats()) order.push_back(f.id);
  const std::vector<ImageFormat> expected = {ImageFormat::TIFF, ImageFormat::GIF, ImageFormat::JPEG, ImageFormat::PCX,
                                             ImageFormat::BMP,  ImageFormat::ICO, ImageFormat::CUR,  ImageFormat::PNG};
  ASSERT_GE(order.size(), expected.size());
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), order.begin()));
}

// ---------------------------------------------------------------------------
// Files written by other programs.

struct Reference {
  const char* file;
  const char* reference;  // the same picture, decoded by another reader
  IEPixelFormat format;   // what Velmora gives
  friend void PrintTo(const Reference& c, std::ostream* os) { *os << c.file; }
};

class MatchesReference : public ::testing::TestWithParam<Reference> {};

TEST_P(MatchesReference, PixelForPixel) {
  const Reference& c = GetParam();
  IEBitmap picture, reference;
  IOResult r = ReadImage(DataFile(c.file), picture);
  ASSERT_TRUE(r) << r.message;
  ASSERT_TRUE(ReadImage(DataFile(c.reference), reference));
  EXPECT_EQ(picture.PixelFormat(), c.format);
  EXPECT_EQ(MaxDifference(picture, reference), 0);
  EXPECT_FALSE(picture.HasAlphaChannel());
}

INSTANTIATE_TEST_SUITE_P(
    Files, MatchesReference,
    ::testing::Values(
        // One picture in many formats; the PNG is the reference.
        Reference{"sdl/sample.bmp", "sdl/sample.png", IEPixelFormat::ie24RGB},
        Reference{"sdl/sample.tga", "sdl/sample.png", IEPixelFormat::ie24RGB},
        Reference{"sdl/sample.pcx", "sdl/sample.png", IEPixelFormat::ie24RGB},
        Reference{"sdl/sample.ico", "sdl/sample.png", IEPixelFormat::ie24RGB},
        Reference{"sdl/sample.cur", "sdl/sample.png", IEPixelFormat::ie24RGB},
        Reference{"sdl/sample.tif", "sdl/sample.png", IEPixelFormat::ie24RGB},
        // The same picture reduced to a palette, in two formats.
        Reference{"sdl/palette.bmp", "sdl/palette.gif", IEPixelFormat::ie24RGB},
        // libtiff's pictures with their PNM decodes; bi-level stays bi-level.
        Reference{"libtiff/minisblack-1c-8b.tiff", "libtiff/minisblack-1c-8b.pgm", IEPixelFormat::ie24RGB},
        Reference{"libtiff/miniswhite-1c-1b.tiff", "libtiff/miniswhite-1c-1b.pbm", IEPixelFormat::ie1g},
        // Interlaced rows land where the plain file has them.
        Reference{"giflib/treescap-interlaced.gif", "giflib/treescap.gif", IEPixelFormat::ie24RGB}),
    [](const ::testing::TestParamInfo<Reference>& info) {
      std::string n = info.param.file;
      for (char& ch : n)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return n;
    });

// TIFF layouts without a reference decode here: they read, at their size.
TEST(TiffFiles, PaletteTilesOldJpegAndDirectoryLoops) {
  const struct {
    const char* file;
    int w, h;
  } files[] = {{"libtiff/palette-1c-4b.tiff", 157, 151},
               {"libtiff/quad-tile.jpg.tiff", 512, 384},
               {"libtiff/ojpeg_zackthecat_subsamp22_single_strip.tiff", 234, 213},
               {"libtiff/test_ifd_loop_to_self.tif", 0, 0}};
  for (const auto& f : files) {
    IEBitmap bmp;
    IOResult r = ReadImage(DataFile(f.file), bmp);
    if (f.w == 0) {  // a loop in the directory chain: the first picture, or a clean failure
      if (!r) EXPECT_NE(r.message.find(DataFile(f.file)), std::string::npos);
      continue;
    }
    ASSERT_TRUE(r) << r.message;
    EXPECT_EQ(bmp.Width(), f.w) << f.file;
    EXPECT_EQ(bmp.Height(), f.h) << f.file;
    EXPECT_EQ(bmp.PixelFormat(), IEPixelFormat::ie24RGB);
  }
}

TEST(TransparentFiles, KeepTheirAlpha) {
  for (const char* file : {"giflib/x-trans.gif", "libtiff/minisblack-2c-8b-alpha.tiff"}) {
    IEBitmap bmp;
    IOResult r = ReadImage(DataFile(file), bmp);
    ASSERT_TRUE(r) << r.message;
    ASSERT_TRUE(bmp.HasAlphaChannel()) << file;
    EXPECT_FALSE(bmp.AlphaAllOpaque());
    int transparent = 0;
    for (int y = 0; y < bmp.Height(); ++y)
      for (int x = 0; x < bmp.Width(); ++x) transparent += bmp.Alpha(x, y) == 0;
    EXPECT_GT(transparent, 0) << file;
    EXPECT_LT(transparent, bmp.Width() * bmp.Height()) << file;
  }
}

// Windows bitmap layouts Velmora never writes: run-length data, bit
// fields, top-down rows and an alpha mask.
TEST_F(TempDirTest, BitmapLayouts) {
  const IETriple black{0, 0, 0}, red{0, 0, 255}, green{0, 255, 0}, blue{255, 0, 0};
  const std::vector<uint32_t> palette = {0x000000, 0xFF0000, 0x00FF00};
  const struct {
    const char* name;
    Bytes file;
    std::vector<std::vector<IETriple>> rows;  // top row first
    std::vector<int> alpha;                   // per pixel in row order; empty: no channel
  } cases[] = {
      {"rle8.bmp",
       // bottom row: a run of four reds; top row: three literal pixels, one black, end
       MakeBmp(4, 2, 8, 1, palette, {4, 1, 0, 0, 0, 3, 2, 1, 2, 0, 1, 0, 0, 1}),
       {{green, red, green, black}, {red, red, red, red}},
       {}},
      {"rle4.rle", MakeBmp(5, 1, 4, 2, palette, {5, 0x12, 0, 1}), {{red, green, red, green, red}}, {}},
      {"delta.bmp",  // a delta skips to the next row: skipped pixels take index 0
       MakeBmp(2, 2, 8, 1, palette, {0, 2, 1, 1, 1, 2, 0, 1}), {{black, green}, {black, black}}, {}},
      {"565.bmp", MakeBmp(2, 1, 16, 3, {}, {0x00, 0xF8, 0x1F, 0x00}, {0xF800, 0x07E0, 0x001F}), {{red, blue}}, {}},
      {"555.bmp", MakeBmp(1, 1, 16, 0, {}, {0xE0, 0x03, 0, 0}), {{green}}, {}},
      {"top-down-alpha.bmp",
       MakeBmp(1, -2, 32, 6, {}, {0x00, 0x00, 0xFF, 0x80, 0xFF, 0x00, 0x00, 0xFF},
               {0xFF0000, 0xFF00, 0xFF, 0xFF000000}),
       {{red}, {blue}},
       {128, 255}},
  };
  for (const auto& c : cases) {
    WriteBytes(Path(c.name), c.file);
    IEBitmap bmp;
    IOResult r = ReadImage(Path(c.name), bmp);
    ASSERT_TRUE(r) << r.message;
    ASSERT_EQ(bmp.Height(), static_cast<int>(c.rows.size())) << c.name;
    ASSERT_EQ(bmp.Width(), static_cast<int>(c.rows[0].size())) << c.name;
    EXPECT_EQ(bmp.HasAlphaChannel(), !c.alpha.empty()) << c.name;
    for (int y = 0; y < bmp.Height(); ++y)
      for (int x = 0; x < bmp.Width(); ++x) {
        EXPECT_EQ(ColourAt(bmp, x, y), c.rows[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)])
            << c.name << " at " << x << "," << y;
        if (!c.alpha.empty()) EXPECT_EQ(bmp.Alpha(x, y), c.alpha[static_cast<std::size_t>(y * bmp.Width() + x)]);
      }
  }
}

// ---------------------------------------------------------------------------
// Round trips through Velmora's writers.

// Noise with an alpha channel holding 0, 255 and values between.
IEBitmap NoiseWithAlpha(int w, int h) {
  IEBitmap bmp = Noise(w, h, IEPixelFormat::ie24RGB, 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) bmp.SetAlpha(x, y, static_cast<uint8_t>((x + y) % 3 == 0 ? 0 : (x * 53 + y * 29) % 256));
  bmp.SetAlphaAllOpaque(false);
  return bmp;
}

// A picture of exactly `colours` colours.
IEBitmap FewColours(int w, int h, int colours) {
  IEBitmap bmp(w, h, IEPixelFormat::ie24RGB);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int i = (x + y * w) % colours;
      bmp.Pixel24(x, y) = IETriple{static_cast<uint8_t>(i * 7), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i * 13)};
    }
  return bmp;
}

enum class Source { Colour, Grey, Bilevel, FewColours };

IEBitmap Make(Source s) {
  // Odd sizes: rows that need padding in every format.
  switch (s) {
    case Source::Colour: return Noise(13, 7, IEPixelFormat::ie24RGB);
    case Source::Grey: return Noise(13, 7, IEPixelFormat::ie8g);
    case Source::Bilevel: return Noise(21, 5, IEPixelFormat::ie1g);
    default: return FewColours(17, 19, 256);
  }
}

struct RoundTrip {
  const char* file;
  Source source;
  IEPixelFormat readsAs;
  friend void PrintTo(const RoundTrip& c, std::ostream* os) { *os << c.file; }
};

class LosslessRoundTrip : public TempDirTest, public ::testing::WithParamInterface<RoundTrip> {};

TEST_P(LosslessRoundTrip, GivesThePictureBack) {
  const RoundTrip& c = GetParam();
  const IEBitmap original = Make(c.source);
  const std::string path = Path(c.file);
  IOResult w = WriteImage(path, original);
  ASSERT_TRUE(w) << w.message;
  IEBitmap back;
  IOResult r = ReadImage(path, back);
  ASSERT_TRUE(r) << r.message;
  EXPECT_EQ(back.PixelFormat(), c.readsAs);
  EXPECT_EQ(MaxDifference(original, back), 0);
  EXPECT_FALSE(back.HasAlphaChannel());
}

INSTANTIATE_TEST_SUITE_P(
    Writers, LosslessRoundTrip,
    ::testing::Values(RoundTrip{"colour.tif", Source::Colour, IEPixelFormat::ie24RGB},
                      RoundTrip{"grey.tiff", Source::Grey, IEPixelFormat::ie24RGB},
                      RoundTrip{"bilevel.tif", Source::Bilevel, IEPixelFormat::ie1g},
                      RoundTrip{"palette.gif", Source::FewColours, IEPixelFormat::ie24RGB},
                      RoundTrip{"grey.gif", Source::Grey, IEPixelFormat::ie24RGB},
                      RoundTrip{"colour.bmp", Source::Colour, IEPixelFormat::ie24RGB},
                      RoundTrip{"grey.dib", Source::Grey, IEPixelFormat::ie24RGB},
                      RoundTrip{"bilevel.bmp", Source::Bilevel, IEPixelFormat::ie1g},
                      RoundTrip{"colour.ico", Source::Colour, IEPixelFormat::ie24RGB},
                      RoundTrip{"colour.tga", Source::Colour, IEPixelFormat::ie24RGB},
                      RoundTrip{"colour.pcx", Source::Colour, IEPixelFormat::ie24RGB},
                      RoundTrip{"colour.dcx", Source::Colour, IEPixelFormat::ie24RGB},
                      RoundTrip{"bilevel.wbmp", Source::Bilevel, IEPixelFormat::ie1g}),
    [](const ::testing::TestParamInfo<RoundTrip>& info) {
      std::string n = info.param.file;
      for (char& ch : n)
        if (ch == '.') ch = '_';
      return n;
    });

// Alpha survives in the formats that carry it: exactly where the format
// stores straight colour, within rounding where libtiff premultiplies.
TEST_F(TempDirTest, AlphaRoundTrips) {
  const IEBitmap original = NoiseWithAlpha(15, 9);
  for (const char* name : {"a.tga", "a.ico", "a.tif"}) {
    const std::string path = Path(name);
    ASSERT_TRUE(WriteImage(path, original)) << name;
    IEBitmap back;
    IOResult r = ReadImage(path, back);
    ASSERT_TRUE(r) << r.message;
    ASSERT_TRUE(back.HasAlphaChannel()) << name;
    const bool tiff = LowerExtension(name) == "tif";
    for (int y = 0; y < 9; ++y)
      for (int x = 0; x < 15; ++x) {
        const int a = original.Alpha(x, y);
        ASSERT_EQ(back.Alpha(x, y), a) << name << " at " << x << "," << y;
        if (a == 0 && tiff) continue;  // premultiplied: no colour left
        const IETriple p = original.Pixel24(x, y), q = back.Pixel24(x, y);
        const int slack = tiff && a < 255 ? 255 / a + 1 : 0;
        EXPECT_LE(std::abs(p.r - q.r), slack) << name;
        EXPECT_LE(std::abs(p.g - q.g), slack) << name;
        EXPECT_LE(std::abs(p.b - q.b), slack) << name;
      }
  }
}

// GIF keeps one transparent index: alpha below 128 becomes transparent,
// the rest opaque with its colour.
TEST_F(TempDirTest, GifTransparencyIsOneIndex) {
  IEBitmap original = FewColours(16, 8, 40);
  for (int x = 0; x < 16; ++x) original.SetAlpha(x, 2, x < 8 ? 0 : 200);
  original.SetAlphaAllOpaque(false);
  ASSERT_TRUE(WriteImage(Path("t.gif"), original));
  IEBitmap back;
  ASSERT_TRUE(ReadImage(Path("t.gif"), back));
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 16; ++x) {
      const bool clear = y == 2 && x < 8;
      ASSERT_EQ(back.Alpha(x, y), clear ? 0 : 255) << x << "," << y;
      if (!clear) EXPECT_EQ(ColourAt(back, x, y), ColourAt(original, x, y));
    }
}

// More than 256 colours: reduced, close to the original, and the same
// file every time.
TEST_F(TempDirTest, GifReducesManyColoursDeterministically) {
  const IEBitmap original = Gradient(120, 90);
  ASSERT_TRUE(WriteImage(Path("a.gif"), original));
  ASSERT_TRUE(WriteImage(Path("b.gif"), original));
  EXPECT_EQ(ReadBytes(Path("a.gif")), ReadBytes(Path("b.gif")));
  IEBitmap back;
  ASSERT_TRUE(ReadImage(Path("a.gif"), back));
  EXPECT_LT(MeanDifference(original, back), 5.0);
  EXPECT_LT(MaxDifference(original, back), 24);
}

TEST_F(TempDirTest, IconsLargerThan256AreRefused) {
  IOResult ok = WriteImage(Path("max.ico"), Gradient(256, 256));
  EXPECT_TRUE(ok) << ok.message;
  IEBitmap back;
  ASSERT_TRUE(ReadImage(Path("max.ico"), back));
  EXPECT_EQ(back.Width(), 256);
  IOResult r = WriteImage(Path("big.ico"), Gradient(257, 16));
  EXPECT_FALSE(r);
  EXPECT_NE(r.message.find("256 x 256"), std::string::npos) << r.message;
  EXPECT_NE(r.message.find(Path("big.ico")), std::string::npos) << r.message;
}

}  // namespace
}  // namespace velmora::test
