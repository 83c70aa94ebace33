// Photos appear upright whatever EXIF orientation their camera stored;
// thumbnails are read small and written into JPEG and TIFF files on request.
#include <gtest/gtest.h>

#include <string>

#include "ClassicCraft.h"
#include "FileTestUtil.h"
#include "document/files/Exif.h"
#include "document/files/ImageFile.h"

namespace velmora::test {
namespace {

const IETriple kRed{0, 0, 255}, kGreen{0, 255, 0}, kBlue{255, 0, 0}, kWhite{255, 255, 255};

// 32 x 16, one colour per quadrant: red, green above; blue, white below.
IEBitmap Quadrants() {
  IEBitmap bmp(32, 16, IEPixelFormat::ie24RGB);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 32; ++x) bmp.Pixel24(x, y) = y < 8 ? (x < 16 ? kRed : kGreen) : (x < 16 ? kBlue : kWhite);
  return bmp;
}

// Colour at the middle of each quadrant: top left, top right, bottom left,
// bottom right.
std::array<IETriple, 4> Corners(const IEBitmap& bmp) {
  const int w = bmp.Width(), h = bmp.Height();
  return {ColourAt(bmp, w / 4, h / 4), ColourAt(bmp, 3 * w / 4, h / 4), ColourAt(bmp, w / 4, 3 * h / 4),
          ColourAt(bmp, 3 * w / 4, 3 * h / 4)};
}

bool Near(const IETriple& a, const IETriple& b, int tolerance) {
  return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance;
}

// An APP1 EXIF segment (big-endian) holding only the orientation.
Bytes ExifSegment(int orientation) {
  Bytes tiff = {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1, 0x01, 0x12, 0, 3, 0, 0, 0, 1, 0,
                static_cast<uint8_t>(orientation), 0, 0, 0, 0, 0, 0};
  Bytes payload = {'E', 'x', 'i', 'f', 0, 0};
  payload.insert(payload.end(), tiff.begin(), tiff.end());
  const std::size_t len = payload.size() + 2;
  Bytes seg = {0xFF, 0xE1, static_cast<uint8_t>(len >> 8), static_cast<uint8_t>(len)};
  seg.insert(seg.end(), payload.begin(), payload.end());
  return seg;
}

// The payloads of a JPEG file's APP1 segments.
std::vector<Bytes> App1Payloads(const Bytes& jpeg) {
  std::vector<Bytes> found;
  std::size_t pos = 2;
  while (pos + 4 <= jpeg.size() && jpeg[pos] == 0xFF && jpeg[pos + 1] != 0xDA) {
    const std::size_t len = static_cast<std::size_t>(jpeg[pos + 2] << 8 | jpeg[pos + 3]);
    if (jpeg[pos + 1] == 0xE1) found.emplace_back(jpeg.begin() + pos + 4, jpeg.begin() + pos + 2 + len);
    pos += 2 + len;
  }
  return found;
}

struct Case {
  int orientation;
  int w, h;                        // upright size
  std::array<IETriple, 4> corners;  // upright: TL, TR, BL, BR
};

// The stored picture has red, green / blue, white; each orientation says
// how it must be turned to appear upright.
const Case kCases[] = {
    {1, 32, 16, {kRed, kGreen, kBlue, kWhite}},  {2, 32, 16, {kGreen, kRed, kWhite, kBlue}},
    {3, 32, 16, {kWhite, kBlue, kGreen, kRed}},  {4, 32, 16, {kBlue, kWhite, kRed, kGreen}},
    {5, 16, 32, {kRed, kBlue, kGreen, kWhite}},  {6, 16, 32, {kBlue, kRed, kWhite, kGreen}},
    {7, 16, 32, {kWhite, kGreen, kBlue, kRed}},  {8, 16, 32, {kGreen, kWhite, kRed, kBlue}},
};

class ExifOrientation : public TempDirTest {};

TEST_F(ExifOrientation, JpegPhotosAppearUpright) {
  SaveParams quality;
  quality.jpegQuality = 100;
  ASSERT_TRUE(WriteImage(Path("plain.jpg"), Quadrants(), quality));
  const Bytes plain = ReadBytes(Path("plain.jpg"));
  for (const Case& c : kCases) {
    Bytes file(plain.begin(), plain.begin() + 2);
    const Bytes seg = ExifSegment(c.orientation);
    file.insert(file.end(), seg.begin(), seg.end());
    file.insert(file.end(), plain.begin() + 2, plain.end());
    const std::string path = Path("o" + std::to_string(c.orientation) + ".jpg");
    WriteBytes(path, file);
    IEBitmap bmp;
    IOResult r = ReadImage(path, bmp);
    ASSERT_TRUE(r) << r.message;
    ASSERT_EQ(bmp.Width(), c.w) << "orientation " << c.orientation;
    ASSERT_EQ(bmp.Height(), c.h) << "orientation " << c.orientation;
    const auto corners = Corners(bmp);
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(Near(corners[i], c.corners[i], 40)) << "orientation " << c.orientation << " corner " << i;
    // The thumbnail path turns it too.
    IEBitmap thumb;
    ASSERT_TRUE(ReadThumbnail(path, 8, thumb));
    EXPECT_EQ(thumb.Width() > thumb.Height(), c.w > c.h) << "orientation " << c.orientation;
  }
}

// Orientation values out of range, and damaged EXIF segments, leave the
// picture as stored.
TEST_F(ExifOrientation, BadValuesAreIgnored) {
  ASSERT_TRUE(WriteImage(Path("plain.jpg"), Quadrants()));
  const Bytes plain = ReadBytes(Path("plain.jpg"));
  Bytes cutIfd = ExifSegment(6);
  cutIfd.resize(cutIfd.size() - 12);  // the entry runs past the segment
  cutIfd[3] = static_cast<uint8_t>(cutIfd.size() - 2);
  for (const Bytes& seg : {ExifSegment(0), ExifSegment(9), cutIfd}) {
    Bytes file(plain.begin(), plain.begin() + 2);
    file.insert(file.end(), seg.begin(), seg.end());
    file.insert(file.end(), plain.begin() + 2, plain.end());
    WriteBytes(Path("x.jpg"), file);
    IEBitmap bmp;
    ASSERT_TRUE(ReadImage(Path("x.jpg"), bmp));
    EXPECT_EQ(bmp.Width(), 32);
  }
}

// Offset of the value of `tag` in the first directory of a little-endian
// TIFF (0 when absent), and the offset of the second directory.
std::size_t TagValueAt(const Bytes& t, uint16_t tag) {
  const std::size_t dir = t[4] | t[5] << 8 | t[6] << 16 | static_cast<std::size_t>(t[7]) << 24;
  const int n = t[dir] | t[dir + 1] << 8;
  for (int i = 0; i < n; ++i) {
    const std::size_t e = dir + 2 + 12 * static_cast<std::size_t>(i);
    if ((t[e] | t[e + 1] << 8) == tag) return e + 8;
  }
  return 0;
}

TEST_F(ExifOrientation, TiffOrientationTagIsApplied) {
  ASSERT_TRUE(WriteImage(Path("q.tif"), Quadrants()));
  Bytes file = ReadBytes(Path("q.tif"));
  ASSERT_EQ(file[0], 'I');
  const std::size_t at = TagValueAt(file, 0x0112);
  ASSERT_NE(at, 0u);
  for (const Case& c : kCases) {
    file[at] = static_cast<uint8_t>(c.orientation);
    WriteBytes(Path("o.tif"), file);
    IEBitmap bmp;
    ASSERT_TRUE(ReadImage(Path("o.tif"), bmp));
    ASSERT_EQ(bmp.Width(), c.w);
    EXPECT_EQ(Corners(bmp), c.corners) << "orientation " << c.orientation;
  }
}

// ---------------------------------------------------------------------------
// Thumbnails

class Thumbnails : public TempDirTest {};

TEST_F(Thumbnails, ReadSmallWithProportionsKept) {
  const IEBitmap photo = Gradient(640, 480);
  SaveParams best;
  best.jpegQuality = 95;
  ASSERT_TRUE(WriteImage(Path("photo.jpg"), photo, best));
  ASSERT_TRUE(WriteImage(Path("photo.png"), photo));
  ASSERT_TRUE(WriteImage(Path("tall.bmp"), Gradient(300, 600)));
  ASSERT_TRUE(WriteImage(Path("small.gif"), Gradient(100, 50)));
  const struct {
    const char* file;
    int w, h;
  } cases[] = {{"photo.jpg", 160, 120}, {"photo.png", 160, 120}, {"tall.bmp", 80, 160}, {"small.gif", 100, 50}};
  for (const auto& c : cases) {
    IEBitmap thumb;
    IOResult r = ReadThumbnail(Path(c.file), 160, thumb);
    ASSERT_TRUE(r) << r.message;
    EXPECT_EQ(thumb.Width(), c.w) << c.file;
    EXPECT_EQ(thumb.Height(), c.h) << c.file;
  }
  // The JPEG decoded at a reduced scale looks like the whole picture
  // reduced.
  IEBitmap fromJpeg, fromPng;
  ASSERT_TRUE(ReadThumbnail(Path("photo.jpg"), 160, fromJpeg));
  ASSERT_TRUE(ReadThumbnail(Path("photo.png"), 160, fromPng));
  EXPECT_LT(MeanDifference(fromJpeg, fromPng), 2.0);
  // A failure leaves the caller's picture alone.
  IEBitmap out = Sentinel();
  IOResult r = ReadThumbnail(Path("missing.jpg"), 160, out);
  EXPECT_FALSE(r);
  ExpectSentinel(out);
}

TEST_F(Thumbnails, EmbeddedInJpegOnlyWhenAsked) {
  const IEBitmap photo = Gradient(640, 400);
  SaveParams params;
  ASSERT_TRUE(WriteImage(Path("plain.jpg"), photo, params));
  EXPECT_TRUE(App1Payloads(ReadBytes(Path("plain.jpg"))).empty());

  params.embedThumbnail = true;
  ASSERT_TRUE(WriteImage(Path("thumb.jpg"), photo, params));
  const auto payloads = App1Payloads(ReadBytes(Path("thumb.jpg")));
  ASSERT_EQ(payloads.size(), 1u);
  Bytes jpeg;
  ASSERT_TRUE(exif::Thumbnail(payloads[0].data(), payloads[0].size(), jpeg));
  EXPECT_EQ(exif::Orientation(payloads[0].data(), payloads[0].size()), 1);
  WriteBytes(Path("t.jpg"), jpeg);
  IEBitmap thumb, full;
  ASSERT_TRUE(ReadImage(Path("t.jpg"), thumb));
  EXPECT_EQ(thumb.Width(), 160);
  EXPECT_EQ(thumb.Height(), 100);
  ASSERT_TRUE(ReadImage(Path("thumb.jpg"), full));
  EXPECT_EQ(full.Width(), 640);

  // Noise compresses badly: the thumbnail still fits in one segment.
  ASSERT_TRUE(WriteImage(Path("noise.jpg"), Noise(1600, 1600, IEPixelFormat::ie24RGB), params));
  const auto noisy = App1Payloads(ReadBytes(Path("noise.jpg")));
  ASSERT_EQ(noisy.size(), 1u);
  EXPECT_LE(noisy[0].size(), exif::kMaxPayload);
}

TEST_F(Thumbnails, EmbeddedInTiffAsASecondImage) {
  SaveParams params;
  params.embedThumbnail = true;
  ASSERT_TRUE(WriteImage(Path("t.tif"), Gradient(480, 320), params));
  const Bytes file = ReadBytes(Path("t.tif"));
  // The first directory is the picture, the second the reduced copy.
  const std::size_t dir0 = file[4] | file[5] << 8 | file[6] << 16 | static_cast<std::size_t>(file[7]) << 24;
  const int n0 = file[dir0] | file[dir0 + 1] << 8;
  const std::size_t next = dir0 + 2 + 12 * static_cast<std::size_t>(n0);
  const std::size_t dir1 = file[next] | file[next + 1] << 8 | file[next + 2] << 16 |
                           static_cast<std::size_t>(file[next + 3]) << 24;
  ASSERT_NE(dir1, 0u);
  Bytes second(file.begin(), file.end());
  for (int k = 0; k < 4; ++k) second[4 + k] = static_cast<uint8_t>(dir1 >> (8 * k));  // make it the first
  WriteBytes(Path("second.tif"), second);
  IEBitmap thumb, full;
  ASSERT_TRUE(ReadImage(Path("second.tif"), thumb));
  EXPECT_EQ(thumb.Width(), 160);
  EXPECT_EQ(thumb.Height(), 107);
  ASSERT_TRUE(ReadImage(Path("t.tif"), full));
  EXPECT_EQ(full.Width(), 480);
  EXPECT_LT(MaxDifference(full, Gradient(480, 320)), 1);
}

}  // namespace
}  // namespace velmora::test

namespace velmora::test {
namespace {

// A camera's JPEG: a large photo of one colour with a stored EXIF
// thumbnail of another, so that the picture tells which one was decoded.
class StoredThumbnail : public TempDirTest {
 protected:
  std::string MakePhoto(const std::string& name, int w, int h, int tw, int th) {
    IEBitmap photo(w, h, IEPixelFormat::ie24RGB);
    photo.Fill(0x0000FF);  // red
    IEBitmap thumb(tw, th, IEPixelFormat::ie24RGB);
    thumb.Fill(0xFF0000);  // blue
    std::vector<uint8_t> thumbJpeg;
    EXPECT_TRUE(WriteJPEGToMemory(thumb, SaveParams{}, thumbJpeg).ok);
    const std::string path = Path(name);
    EXPECT_TRUE(WriteImage(path, photo).ok);
    const std::vector<uint8_t> payload = exif::MakePayload(thumbJpeg);
    EXPECT_FALSE(payload.empty());
    Bytes jpeg = ReadBytes(path);
    const std::size_t len = payload.size() + 2;
    Bytes segment = {0xFF, 0xE1, static_cast<uint8_t>(len >> 8), static_cast<uint8_t>(len)};
    segment.insert(segment.end(), payload.begin(), payload.end());
    jpeg.insert(jpeg.begin() + 2, segment.begin(), segment.end());
    WriteBytes(path, jpeg);
    return path;
  }
};

TEST_F(StoredThumbnail, IsUsedOnlyWhenLargeEnoughAndOfThePhotosShape) {
  const IETriple kRedish{0, 0, 255}, kBlueish{255, 0, 0};
  const std::string fits = MakePhoto("fits.jpg", 1600, 1200, 160, 120);
  const std::string bars = MakePhoto("bars.jpg", 1800, 1200, 160, 120);  // 3:2 photo, 4:3 thumbnail
  struct Case {
    std::string path;
    int side;
    IETriple expected;
  };
  const Case cases[] = {
      {fits, 100, kBlueish},  // the stored thumbnail is enough
      {fits, 160, kBlueish},
      {fits, 400, kRedish},   // too small: the photo is decoded
      {bars, 100, kRedish},   // padded to another shape: not used
  };
  for (const auto& c : cases) {
    IEBitmap out;
    ASSERT_TRUE(ReadThumbnail(c.path, c.side, out).ok) << c.path;
    EXPECT_TRUE(Near(ColourAt(out, out.Width() / 2, out.Height() / 2), c.expected, 8))
        << c.path << " at " << c.side;
    EXPECT_LE(std::max(out.Width(), out.Height()), c.side);
  }
  // Reading the whole photo never takes the thumbnail.
  IEBitmap whole;
  ASSERT_TRUE(ReadImage(fits, whole).ok);
  EXPECT_EQ(whole.Width(), 1600);
  EXPECT_TRUE(Near(ColourAt(whole, 800, 600), kRedish, 8));
}

}  // namespace
}  // namespace velmora::test
