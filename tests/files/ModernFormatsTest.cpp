// JPEG 2000, Photoshop, WebP, HEIF/AVIF and camera raw: round trips,
// hand-built files for the layouts our own writers never produce, and
// damaged or hostile files.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>

#include "document/files/FormatTable.h"
#include "files/FileTestUtil.h"

namespace velmora::test {
namespace {

// ---------------------------------------------------------------------------
// Hand-built files

void PutU16(Bytes& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}

// A Photoshop file; `planes` holds each channel's rows, already packed
// when `rle` (then `rowCounts` gives the packed length of every row).
Bytes MakePsd(uint32_t w, uint32_t h, uint32_t channels, uint32_t depth, uint32_t mode, const Bytes& planes,
              const std::vector<uint32_t>& rowCounts = {}) {
  Bytes psd = {'8', 'B', 'P', 'S'};
  PutU16(psd, 1);
  psd.insert(psd.end(), 6, 0);
  PutU16(psd, channels);
  PutU32(psd, h);
  PutU32(psd, w);
  PutU16(psd, depth);
  PutU16(psd, mode);
  PutU32(psd, 0);  // colour mode data
  PutU32(psd, 6);  // image resources: six bytes nobody reads
  psd.insert(psd.end(), {'8', 'B', 'I', 'M', 0, 0});
  PutU32(psd, 0);  // layers and masks
  PutU16(psd, rowCounts.empty() ? 0 : 1);
  for (uint32_t n : rowCounts) PutU16(psd, n);
  psd.insert(psd.end(), planes.begin(), planes.end());
  return psd;
}

// A JPEG 2000 code stream whose main header claims w x h; no tile data.
Bytes MakeJ2kHeader(uint32_t w, uint32_t h) {
  Bytes j = {0xFF, 0x4F, 0xFF, 0x51};
  PutU16(j, 41);  // SIZ for one component
  PutU16(j, 0);
  for (uint32_t v : {w, h, 0u, 0u, w, h, 0u, 0u}) PutU32(j, v);
  PutU16(j, 1);
  j.insert(j.end(), {7, 1, 1});
  j.insert(j.end(), {0xFF, 0x52});  // COD: 5 levels, 64 x 64 blocks, reversible
  PutU16(j, 12);
  j.insert(j.end(), {0, 0, 0, 1, 0, 5, 4, 4, 0, 1});
  j.insert(j.end(), {0xFF, 0x5C});  // QCD: no quantisation
  PutU16(j, 19);
  j.push_back(0x40);
  j.insert(j.end(), 16, 0x40);
  j.insert(j.end(), {0xFF, 0x90});  // SOT, SOD, EOC
  PutU16(j, 10);
  PutU16(j, 0);
  PutU32(j, 0);
  j.insert(j.end(), {0, 1, 0xFF, 0x93, 0xFF, 0xD9});
  return j;
}

// An extended WebP file whose canvas is w x h, with no image data.
Bytes MakeWebpCanvas(uint32_t w, uint32_t h) {
  Bytes chunk = {'V', 'P', '8', 'X', 10, 0, 0, 0, 0, 0, 0, 0};
  for (uint32_t v : {w - 1, h - 1})
    chunk.insert(chunk.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16)});
  Bytes webp = {'R', 'I', 'F', 'F'};
  const uint32_t size = static_cast<uint32_t>(chunk.size() + 4);
  webp.insert(webp.end(), {uint8_t(size), uint8_t(size >> 8), uint8_t(size >> 16), uint8_t(size >> 24)});
  webp.insert(webp.end(), {'W', 'E', 'B', 'P'});
  webp.insert(webp.end(), chunk.begin(), chunk.end());
  return webp;
}

IEBitmap WithAlpha(IEBitmap bmp) {
  for (int y = 0; y < bmp.Height(); ++y)
    for (int x = 0; x < bmp.Width(); ++x) bmp.SetAlpha(x, y, static_cast<uint8_t>((x * 37 + y * 11) % 256));
  bmp.SetAlphaAllOpaque(false);
  return bmp;
}

class ModernFormatsTest : public TempDirTest {};

// ---------------------------------------------------------------------------
// The table

TEST(ModernFormatTable, NamesExtensionsAndSavePositions) {
  struct Row {
    const char* ext;
    ImageFormat id;
    const char* name;
    const char* saveName;
    int saveIndex;
  };
  for (const Row& r : {Row{"jp2", ImageFormat::JP2, "JPEG 2000", "JPEG2000", 11},
                       Row{"J2C", ImageFormat::J2K, "JPEG 2000 code stream", "JPEG2000 Code Stream", 12},
                       Row{"jpc", ImageFormat::J2K, "JPEG 2000 code stream", "JPEG2000 Code Stream", 12},
                       Row{"sr2", ImageFormat::RAW, "camera raw", "", 0},
                       Row{"x3f", ImageFormat::RAW, "camera raw", "", 0},
                       Row{"psd", ImageFormat::PSD, "Photoshop", "Photoshop PSD", 16},
                       Row{"webp", ImageFormat::WEBP, "WebP", "WebP", 0},
                       Row{"hif", ImageFormat::HEIF, "HEIF", "", 0},
                       Row{"avif", ImageFormat::AVIF, "AVIF", "", 0}}) {
    SCOPED_TRACE(r.ext);
    const FormatInfo* f = FindFormat(r.ext);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->id, r.id);
    EXPECT_EQ(f->name, r.name);
    EXPECT_EQ(f->saveIndex, r.saveIndex);
    EXPECT_TRUE(IsReadableExtension(r.ext));
    EXPECT_EQ(IsWritableExtension(r.ext), *r.saveName != 0);
    if (*r.saveName) {
      EXPECT_EQ(f->saveName, r.saveName);
    }
  }
}

// ---------------------------------------------------------------------------
// Round trips

TEST_F(ModernFormatsTest, RoundTrips) {
  struct Case {
    const char* name;
    IEBitmap picture;
    SaveParams params;
    int maxDifference;  // 0: exact, alpha included
    double meanDifference;
  };
  SaveParams lossless, lossy;
  lossless.jpegQuality = 100;
  lossy.jpegQuality = 90;
  std::vector<Case> cases;
  cases.push_back({"rgb.jp2", Noise(37, 23, IEPixelFormat::ie24RGB), {}, 0, 0});
  cases.push_back({"grey.j2k", Noise(16, 9, IEPixelFormat::ie8g), {}, 0, 0});
  cases.push_back({"alpha.jpc", WithAlpha(Noise(20, 13, IEPixelFormat::ie24RGB)), {}, 0, 0});
  cases.push_back({"greyalpha.jp2", WithAlpha(Noise(9, 11, IEPixelFormat::ie8g)), {}, 0, 0});
  cases.push_back({"pixel.j2c", Noise(1, 1, IEPixelFormat::ie24RGB), {}, 0, 0});
  cases.push_back({"rgb.psd", Noise(31, 17, IEPixelFormat::ie24RGB), {}, 0, 0});
  cases.push_back({"alpha.psd", WithAlpha(Noise(12, 7, IEPixelFormat::ie24RGB)), {}, 0, 0});
  cases.push_back({"lossless.webp", WithAlpha(Noise(33, 21, IEPixelFormat::ie24RGB)), lossless, 0, 0});
  cases.push_back({"lossy.webp", Gradient(64, 48), lossy, 24, 3.0});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Path(c.name);
    ASSERT_TRUE(WriteImage(path, c.picture, c.params)) << WriteImage(path, c.picture, c.params).message;
    IEBitmap back;
    const IOResult r = ReadImage(path, back);
    ASSERT_TRUE(r) << r.message;
    ASSERT_EQ(back.PixelFormat(), IEPixelFormat::ie24RGB);
    ASSERT_EQ(back.Width(), c.picture.Width());
    ASSERT_EQ(back.Height(), c.picture.Height());
    const bool alpha = c.picture.HasAlphaChannel();
    EXPECT_EQ(back.HasAlphaChannel(), alpha);
    if (c.maxDifference == 0) {
      EXPECT_EQ(MaxDifference(c.picture, back, alpha), 0);
    } else {
      EXPECT_LE(MaxDifference(c.picture, back), c.maxDifference);
      EXPECT_LE(MeanDifference(c.picture, back), c.meanDifference);
    }
  }
}

TEST_F(ModernFormatsTest, Jpeg2000KindFollowsTheExtensionAndReadsWhateverTheName) {
  const IEBitmap pic = Noise(8, 8, IEPixelFormat::ie24RGB);
  ASSERT_TRUE(WriteImage(Path("a.jp2"), pic));
  ASSERT_TRUE(WriteImage(Path("a.j2k"), pic));
  const Bytes jp2 = ReadBytes(Path("a.jp2")), j2k = ReadBytes(Path("a.j2k"));
  ASSERT_GE(jp2.size(), 12u);
  EXPECT_EQ(Bytes(jp2.begin() + 4, jp2.begin() + 8), ToBytes("jP  "));
  EXPECT_EQ(Bytes(j2k.begin(), j2k.begin() + 2), (Bytes{0xFF, 0x4F}));
  // A box file named as a code stream (and the reverse) still reads.
  std::filesystem::rename(Path("a.jp2"), Path("b.j2k"));
  std::filesystem::rename(Path("a.j2k"), Path("b.jp2"));
  for (const char* name : {"b.j2k", "b.jp2"}) {
    IEBitmap back;
    ASSERT_TRUE(ReadImage(Path(name), back)) << name;
    EXPECT_EQ(MaxDifference(pic, back), 0) << name;
  }
}

TEST_F(ModernFormatsTest, PsdWrittenWithoutLayersHasTheFixedLayout) {
  const Bytes psd = [&] {
    EXPECT_TRUE(WriteImage(Path("x.psd"), Noise(3, 2, IEPixelFormat::ie24RGB)));
    return ReadBytes(Path("x.psd"));
  }();
  // Header 26, three empty lengths and the layer section's two, compression.
  ASSERT_EQ(psd.size(), 26u + 4 + 4 + 4 + 8 + 2 + 3 * 3 * 2);
  EXPECT_EQ(psd[13], 3);   // channels
  EXPECT_EQ(psd[23], 8);   // depth
  EXPECT_EQ(psd[25], 3);   // RGB
  EXPECT_EQ(psd[37], 8);   // layer section length
}

// ---------------------------------------------------------------------------
// Photoshop layouts only other programs write

TEST_F(ModernFormatsTest, PsdGreySixteenBitPackBits) {
  // 3 x 2 grey, 16 bits: row 0 a run of 0xFFFF repeated, row 1 literal.
  const Bytes row0 = {0xFB, 0xFF};  // 6 bytes of 0xFF
  const Bytes row1 = {0x05, 0x00, 0x00, 0x80, 0x00, 0x12, 0x34};
  Bytes planes = row0;
  planes.insert(planes.end(), row1.begin(), row1.end());
  WriteBytes(Path("g.psd"), MakePsd(3, 2, 1, 16, 1, planes, {2, 7}));
  IEBitmap bmp;
  const IOResult r = ReadImage(Path("g.psd"), bmp);
  ASSERT_TRUE(r) << r.message;
  EXPECT_FALSE(bmp.HasAlphaChannel());
  const int expected[2][3] = {{255, 255, 255}, {0, 128, 18}};
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(ColourAt(bmp, x, y), (IETriple{uint8_t(expected[y][x]), uint8_t(expected[y][x]),
                                                                          uint8_t(expected[y][x])}));
}

TEST_F(ModernFormatsTest, PsdFourthChannelIsAlphaFurtherOnesIgnored) {
  // 2 x 1 RGB with alpha and a spot channel; raw planes R, G, B, A, spot.
  const Bytes planes = {10, 20, 30, 40, 50, 60, 255, 0, 99, 99};
  WriteBytes(Path("a.psd"), MakePsd(2, 1, 5, 8, 3, planes));
  IEBitmap bmp;
  ASSERT_TRUE(ReadImage(Path("a.psd"), bmp));
  EXPECT_EQ(ColourAt(bmp, 0, 0), (IETriple{50, 30, 10}));
  EXPECT_EQ(ColourAt(bmp, 1, 0), (IETriple{60, 40, 20}));
  ASSERT_TRUE(bmp.HasAlphaChannel());
  EXPECT_FALSE(bmp.AlphaAllOpaque());
  EXPECT_EQ(bmp.Alpha(0, 0), 255);
  EXPECT_EQ(bmp.Alpha(1, 0), 0);
}

TEST_F(ModernFormatsTest, PsdRefusals) {
  struct Case {
    const char* what;
    Bytes file;
    const char* reason;
  };
  const Bytes one = {1, 2, 3, 4};
  for (const Case& c : {Case{"CMYK", MakePsd(1, 1, 4, 8, 4, one), "CMYK"},
                        Case{"indexed", MakePsd(1, 1, 1, 8, 2, one), "indexed"},
                        Case{"32-bit", MakePsd(1, 1, 3, 32, 3, one), "bit depth"},
                        Case{"RGB with two channels", MakePsd(1, 1, 2, 8, 3, one), "channels"},
                        Case{"PackBits overrun", MakePsd(2, 1, 1, 8, 1, {0x02, 1, 2, 3}, {4}), "compressed"},
                        Case{"PackBits short", MakePsd(4, 1, 1, 8, 1, {0x01, 1, 2}, {3}), "compressed"}}) {
    SCOPED_TRACE(c.what);
    WriteBytes(Path("r.psd"), c.file);
    IEBitmap bmp = Sentinel();
    const IOResult r = ReadImage(Path("r.psd"), bmp);
    EXPECT_FALSE(r);
    EXPECT_NE(r.message.find(c.reason), std::string::npos) << r.message;
    ExpectSentinel(bmp);
  }
}

// ---------------------------------------------------------------------------
// Pictures from other programs

TEST(ModernFormatsCorpus, WebpAndAvifMatchThePngOfTheSamePicture) {
  IEBitmap png, webp, avif;
  ASSERT_TRUE(ReadImage(DataFile("sdl/sample.png"), png));
  IOResult r = ReadImage(DataFile("sdl/sample.webp"), webp);
  ASSERT_TRUE(r) << r.message;
  EXPECT_EQ(MaxDifference(png, webp), 0);  // a lossless file
  r = ReadImage(DataFile("sdl/sample.avif"), avif);
  ASSERT_TRUE(r) << r.message;
  EXPECT_LE(MeanDifference(png, avif), 8.0);
}

TEST_F(ModernFormatsTest, WebpExifOrientationTurnsThePicture) {
  // A lossless 2 x 1 picture with an EXIF chunk saying "turn a quarter
  // clockwise" comes out 1 x 2.
  IEBitmap pic(2, 1, IEPixelFormat::ie24RGB);
  pic.Pixel24(0, 0) = IETriple{0, 0, 255};
  pic.Pixel24(1, 0) = IETriple{255, 0, 0};
  SaveParams lossless;
  lossless.jpegQuality = 100;
  ASSERT_TRUE(WriteImage(Path("p.webp"), pic, lossless));
  const Bytes plain = ReadBytes(Path("p.webp"));
  ASSERT_EQ(Bytes(plain.begin() + 12, plain.begin() + 16), ToBytes("VP8L"));
  // Big-endian TIFF with one entry: orientation (0x112), SHORT, 1, value 6.
  const Bytes exif = {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1, 0x01, 0x12, 0, 3, 0, 0, 0, 1, 0, 6, 0, 0, 0, 0, 0, 0};
  Bytes file = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'E', 'B', 'P', 'V', 'P', '8', 'X', 10, 0, 0, 0, 0x08, 0, 0, 0,
                1, 0, 0, 0, 0, 0};  // canvas 2 x 1, EXIF flag
  file.insert(file.end(), plain.begin() + 12, plain.end());
  file.insert(file.end(), {'E', 'X', 'I', 'F', uint8_t(exif.size()), 0, 0, 0});
  file.insert(file.end(), exif.begin(), exif.end());
  const uint32_t size = static_cast<uint32_t>(file.size() - 8);
  for (int i = 0; i < 4; ++i) file[4 + i] = static_cast<uint8_t>(size >> (8 * i));
  WriteBytes(Path("turned.webp"), file);
  IEBitmap bmp;
  const IOResult r = ReadImage(Path("turned.webp"), bmp);
  ASSERT_TRUE(r) << r.message;
  ASSERT_EQ(bmp.Width(), 1);
  ASSERT_EQ(bmp.Height(), 2);
  EXPECT_EQ(ColourAt(bmp, 0, 0), (IETriple{0, 0, 255}));  // the left pixel comes to the top
  EXPECT_EQ(ColourAt(bmp, 0, 1), (IETriple{255, 0, 0}));
}

// ---------------------------------------------------------------------------
// Damaged and hostile files

// Every prefix of a valid file, and the file with its middle scrambled,
// fails or reads; a failure leaves the caller's picture alone and names
// the file.
TEST_F(ModernFormatsTest, TruncatedAndCorruptFilesFailCleanly) {
  std::vector<std::pair<std::string, Bytes>> files;
  SaveParams lossy;
  lossy.jpegQuality = 70;
  for (const char* name : {"t.jp2", "t.j2k", "t.psd", "t.webp"}) {
    ASSERT_TRUE(WriteImage(Path(name), WithAlpha(Gradient(24, 16)), lossy));
    files.emplace_back(name, ReadBytes(Path(name)));
  }
  files.emplace_back("t.avif", ReadBytes(DataFile("sdl/sample.avif")));
  files.emplace_back("t.heic", ReadBytes(DataFile("sdl/sample.avif")));
  files.emplace_back("t.cr2", ReadBytes(DataFile("ljt/testorig.jpg")));
  for (const auto& [name, bytes] : files) {
    ASSERT_FALSE(bytes.empty()) << name;
    std::vector<Bytes> damaged;
    for (std::size_t cut : {std::size_t{0}, std::size_t{1}, std::size_t{8}, std::size_t{30}, bytes.size() / 2,
                            bytes.size() - 1})
      if (cut < bytes.size()) damaged.emplace_back(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut));
    Bytes scrambled = bytes;
    for (std::size_t i = scrambled.size() / 3; i < scrambled.size() * 2 / 3; ++i)
      scrambled[i] = static_cast<uint8_t>(scrambled[i] * 31 + 7);
    damaged.push_back(scrambled);
    for (std::size_t i = 0; i < damaged.size(); ++i) {
      SCOPED_TRACE(name + " case " + std::to_string(i));
      WriteBytes(Path(name), damaged[i]);
      IEBitmap bmp = Sentinel();
      const IOResult r = ReadImage(Path(name), bmp);
      if (i + 1 < damaged.size() || !r) {
        // Truncation is always an error; scrambling may leave a readable
        // picture (uncompressed PSD), never a crash.
        EXPECT_FALSE(r);
        EXPECT_EQ(r.message.rfind(Path(name) + ": ", 0), 0u) << r.message;
        ExpectSentinel(bmp);
      }
    }
  }
}

TEST_F(ModernFormatsTest, BombsAreRefusedQuickly) {
  Bytes psd = MakePsd(60000, 60000, 3, 8, 3, {});
  std::vector<std::pair<std::string, Bytes>> bombs = {
      {"bomb.psd", psd}, {"bomb.j2k", MakeJ2kHeader(60000, 60000)}, {"bomb.webp", MakeWebpCanvas(60000, 60000)}};
  // A box file around the same code stream.
  Bytes jp2 = {0, 0, 0, 12, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A, 0, 0, 0, 20, 'f', 't', 'y', 'p', 'j', 'p', '2',
               ' ', 0, 0, 0, 0, 'j', 'p', '2', ' ', 0, 0, 0, 45, 'j', 'p', '2', 'h', 0, 0, 0, 22, 'i', 'h', 'd', 'r'};
  for (uint32_t v : {60000u, 60000u}) PutU32(jp2, v);
  jp2.insert(jp2.end(), {0, 1, 7, 7, 0, 0});
  jp2.insert(jp2.end(), {0, 0, 0, 15, 'c', 'o', 'l', 'r', 1, 0, 0, 0, 0, 0, 17});
  const Bytes code = MakeJ2kHeader(60000, 60000);
  PutU32(jp2, static_cast<uint32_t>(code.size() + 8));
  jp2.insert(jp2.end(), {'j', 'p', '2', 'c'});
  jp2.insert(jp2.end(), code.begin(), code.end());
  bombs.emplace_back("bomb.jp2", jp2);
  for (const auto& [name, bytes] : bombs) {
    SCOPED_TRACE(name);
    WriteBytes(Path(name), bytes);
    IEBitmap bmp = Sentinel();
    const auto start = std::chrono::steady_clock::now();
    const IOResult r = ReadImage(Path(name), bmp);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_FALSE(r);
    EXPECT_LT(ms, 200);
    EXPECT_NE(r.message.find("too large"), std::string::npos) << r.message;
    ExpectSentinel(bmp);
  }
}

// The limits reach the libraries that take the whole file (HEIF, AVIF,
// WebP): a picture over them is refused before it is decoded.
TEST(ModernFormatsCorpus, LimitsReachTheLibraries) {
  ImageLimits small;
  small.maxSide = 8;
  for (const char* name : {"sdl/sample.avif", "sdl/sample.webp"}) {
    IEBitmap bmp = Sentinel();
    const IOResult r = ReadImage(DataFile(name), bmp, small);
    EXPECT_FALSE(r) << name;
    ExpectSentinel(bmp);
  }
}

}  // namespace
}  // namespace velmora::test
