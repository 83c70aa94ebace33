// Velmora's raw clipboard form: every pixel format round trips exactly, and
// data that is not a valid picture, or one beyond the limits, is refused
// before any pixel memory is taken.
#include <gtest/gtest.h>

#include <cstring>

#include "imaging/Pictures.h"
#include "output/ClipboardRaw.h"

namespace velmora {
namespace {

using test::SamePixels;

TEST(ClipboardRaw, EveryPixelFormatRoundTrips) {
  for (int f = 1; f < kPixelFormatCount; ++f) {
    const auto format = static_cast<IEPixelFormat>(f);
    SCOPED_TRACE(PixelFormatName(format));
    IEBitmap picture = test::Random(13, 7, format, 3);  // odd width: packed rows
    if (format == IEPixelFormat::ie8p)
      for (int i = 0; i < 256; ++i) picture.Palette()[i] = test::RGB(i, 255 - i, i / 2);
    const std::vector<uint8_t> raw = EncodeRawPicture(picture);
    ASSERT_EQ(raw.size(), kRawClipboardHeaderSize + (f == 2 ? 768 : 0) + (13 * BitsPerPixel(format) + 7) / 8 * 7);
    IEBitmap back;
    std::string reason;
    ASSERT_TRUE(DecodeRawPicture(raw.data(), raw.size(), back, reason)) << reason;
    EXPECT_TRUE(SamePixels(back, picture));
    EXPECT_FALSE(back.HasAlphaChannel());
    if (format == IEPixelFormat::ie8p) {
      EXPECT_EQ(std::memcmp(back.Palette(), picture.Palette(), 768), 0);
    }
  }
}

TEST(ClipboardRaw, AlphaChannelAndItsOpaqueFlagRoundTrip) {
  for (bool opaque : {false, true}) {
    IEBitmap picture = test::Random(9, 5, IEPixelFormat::ie24RGB, 4);
    IEBitmap& a = picture.AlphaChannel();
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 9; ++x) a.ScanLine(y)[x] = opaque ? 255 : static_cast<uint8_t>(x * 28 + y);
    picture.SetAlphaAllOpaque(opaque);
    const std::vector<uint8_t> raw = EncodeRawPicture(picture);
    IEBitmap back;
    std::string reason;
    ASSERT_TRUE(DecodeRawPicture(raw.data(), raw.size(), back, reason)) << reason;
    EXPECT_TRUE(SamePixels(back, picture));
    ASSERT_TRUE(back.HasAlphaChannel());
    EXPECT_TRUE(SamePixels(*back.AlphaChannelIfAny(), a));
    EXPECT_EQ(back.AlphaAllOpaque(), opaque);
  }
}

TEST(ClipboardRaw, InvalidDataIsRefusedAndTheTargetKept) {
  const std::vector<uint8_t> good = EncodeRawPicture(test::Random(4, 3, IEPixelFormat::ie24RGB));
  auto with = [&](std::size_t at, std::vector<uint8_t> bytes) {
    std::vector<uint8_t> d = good;
    std::copy(bytes.begin(), bytes.end(), d.begin() + static_cast<std::ptrdiff_t>(at));
    return d;
  };
  std::vector<uint8_t> shorter(good.begin(), good.end() - 1), longer = good;
  longer.push_back(0);
  const struct {
    const char* what;
    std::vector<uint8_t> data;
  } cases[] = {
      {"empty", {}},
      {"header only, cut", std::vector<uint8_t>(good.begin(), good.begin() + 10)},
      {"magic", with(0, {'X'})},
      {"version", with(4, {2, 0})},
      {"format 0", with(6, {0, 0})},
      {"format 11", with(6, {11, 0})},
      {"width 0", with(8, {0, 0, 0, 0})},
      {"height 0", with(12, {0, 0, 0, 0})},
      {"unknown flag", with(16, {4})},
      {"reserved byte", with(18, {1})},
      {"alpha flag without alpha rows", with(16, {1})},
      {"opaque flag without an alpha channel", with(16, {2})},
      {"one byte short", shorter},
      {"one byte more", longer},
      // Sizes beyond the limits, with the data far too short: refused for
      // the size, before anything is allocated.
      {"width beyond the limit", with(8, {0x00, 0x00, 0x01, 0x00})},
      {"pixels beyond the limit", with(8, {0x00, 0xC0, 0, 0, 0x00, 0xC0, 0, 0})},
      {"4 G pixels wrap", with(8, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    IEBitmap out(2, 2, IEPixelFormat::ie8g);
    out.ScanLine(0)[0] = 77;
    std::string reason;
    EXPECT_FALSE(DecodeRawPicture(c.data.data(), c.data.size(), out, reason));
    EXPECT_FALSE(reason.empty());
    EXPECT_EQ(out.Width(), 2);
    EXPECT_EQ(out.ScanLine(0)[0], 77);
  }
  IEBitmap out;
  std::string reason;
  EXPECT_FALSE(DecodeRawPicture(nullptr, 0, out, reason));
  EXPECT_TRUE(EncodeRawPicture(IEBitmap()).empty());
}

TEST(ClipboardRaw, LimitsAreTheCallers) {
  const std::vector<uint8_t> raw = EncodeRawPicture(test::Random(40, 30, IEPixelFormat::ie8g));
  IEBitmap out;
  std::string reason;
  ImageLimits small;
  small.maxSide = 39;
  EXPECT_FALSE(DecodeRawPicture(raw.data(), raw.size(), out, reason, small));
  EXPECT_NE(reason.find("too large"), std::string::npos) << reason;
  small.maxSide = 40;
  small.maxPixels = 1199;
  EXPECT_FALSE(DecodeRawPicture(raw.data(), raw.size(), out, reason, small));
  small.maxPixels = 1200;
  EXPECT_TRUE(DecodeRawPicture(raw.data(), raw.size(), out, reason, small)) << reason;
}

}  // namespace
}  // namespace velmora
