// velmora-batch as users run it: a process with arguments, files, an exit
// status and messages on stderr.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "document/files/ImageFile.h"
#include "imaging/Color.h"
#include "imaging/IEBitmap.h"

namespace fs = std::filesystem;
using namespace velmora;

namespace {

struct RunResult {
  int status = -1;
  std::string err;
};

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

class BatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("velmora-batch-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  RunResult Run(const std::vector<std::string>& args) {
    std::string cmd = Quote(VELMORA_BATCH);
    for (const auto& a : args) {
      cmd += ' ';  // not " " + Quote(a): g++ 12 warns wrongly (-Wrestrict) on that
      cmd += Quote(a);
    }
    const std::string errFile = Path("stderr.txt");
    cmd += " --quiet 2>" + Quote(errFile) + " >/dev/null";
    const int raw = std::system(cmd.c_str());
    RunResult r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::ifstream in(errFile);
    std::stringstream ss;
    ss << in.rdbuf();
    r.err = ss.str();
    fs::remove(errFile);
    return r;
  }

  // A small colour picture with distinct pixels.
  std::string MakePhoto(const std::string& name, int w = 8, int h = 6) {
    IEBitmap bmp(w, h, IEPixelFormat::ie24RGB);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        bmp.Pixel24(x, y) = IETriple{static_cast<uint8_t>(20 * x), static_cast<uint8_t>(30 * y),
                                     static_cast<uint8_t>(200 - 10 * x - 5 * y)};
    const std::string path = Path(name);
    EXPECT_TRUE(WriteImage(path, bmp).ok);
    return path;
  }

  IEBitmap Read(const std::string& path) {
    IEBitmap bmp;
    EXPECT_TRUE(ReadImage(path, bmp).ok) << path;
    return bmp;
  }

  fs::path dir_;
};

TEST_F(BatchTest, AppliesOperationsInOrderAndWritesTheResult) {
  const std::string in = MakePhoto("in.ppm");
  const IEBitmap original = Read(in);

  // Negative twice is the identity; ConvertToGray afterwards makes grey.
  RunResult r = Run({in, "--op", "Negative", "--op", "Negative", "--op", "ConvertToGray", "-o", Path("out.ppm")});
  ASSERT_EQ(r.status, 0) << r.err;
  const IEBitmap out = Read(Path("out.ppm"));
  ASSERT_EQ(out.Width(), original.Width());
  for (int y = 0; y < out.Height(); ++y)
    for (int x = 0; x < out.Width(); ++x) {
      const IETriple o = original.Pixel24(x, y), p = out.Pixel24(x, y);
      const int grey = (o.r * 21 + o.g * 71 + o.b * 8) / 100;
      EXPECT_EQ(p, (IETriple{static_cast<uint8_t>(grey), static_cast<uint8_t>(grey), static_cast<uint8_t>(grey)}));
    }
}

TEST_F(BatchTest, ThumbnailOptionStoresOneInJpegAsSaveAsDoes) {
  const std::string in = MakePhoto("in.ppm", 400, 300);
  ASSERT_EQ(Run({in, "-o", Path("plain.jpg")}).status, 0);
  ASSERT_EQ(Run({in, "--thumbnail", "-o", Path("thumb.jpg")}).status, 0);
  auto bytes = [](const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
  };
  const std::string exif("Exif\0\0", 6);
  EXPECT_EQ(bytes(Path("plain.jpg")).find(exif), std::string::npos);
  const std::string withThumb = bytes(Path("thumb.jpg"));
  const size_t at = withThumb.find(exif);
  ASSERT_NE(at, std::string::npos);
  // The thumbnail is a JPEG of its own inside the EXIF segment.
  EXPECT_NE(withThumb.find("\xFF\xD8\xFF", at), std::string::npos);
  EXPECT_EQ(Read(Path("thumb.jpg")).Width(), 400);
}

TEST_F(BatchTest, SelectionLimitsTheOperations) {
  const std::string in = MakePhoto("in.ppm");
  const IEBitmap original = Read(in);
  for (const char* depth : {"1", "8"}) {
    RunResult r = Run({in, "--select", "2,1,5,4", "--mask-depth", depth, "--op", "IntensityRGBall 0,0,-250", "-o",
                       Path("out.ppm")});
    ASSERT_EQ(r.status, 0) << r.err;
    const IEBitmap out = Read(Path("out.ppm"));
    for (int y = 0; y < out.Height(); ++y)
      for (int x = 0; x < out.Width(); ++x) {
        const bool inside = x >= 2 && x < 5 && y >= 1 && y < 4;
        const IETriple o = original.Pixel24(x, y), p = out.Pixel24(x, y);
        EXPECT_EQ(p.r, o.r);
        EXPECT_EQ(p.g, o.g);
        if (!inside)
          EXPECT_EQ(p.b, o.b) << depth << "-bit mask, pixel " << x << "," << y;
        else if (std::string(depth) == "1")
          EXPECT_EQ(p.b, 0);
        else  // a full 8-bit selection moves 255/256 of the way
          EXPECT_EQ(p.b, o.b + ((-o.b * 255 * 1024) >> 18));
      }
  }
}

TEST_F(BatchTest, SeveralPhotosGoToAFolderWithTheChosenFormat) {
  const std::string a = MakePhoto("a.ppm"), b = MakePhoto("b.ppm", 3, 3);
  fs::create_directories(Path("out"));
  RunResult r = Run({a, b, "--op", "HSLvar 0,0,-50", "--format", "png", "-o", Path("out")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Read(Path("out/a.png")).Width(), 8);
  EXPECT_EQ(Read(Path("out/b.png")).Width(), 3);
}

TEST_F(BatchTest, BadUsageExitsWithTwoAndWritesNothing) {
  const std::string in = MakePhoto("in.ppm");
  const std::string out = Path("out.ppm");
  struct Case {
    std::vector<std::string> args;
    std::string mentions;
  };
  const std::vector<Case> cases = {
      {{in, "--op", "Sharpenify 3", "-o", out}, "Sharpenify"},
      {{in, "--op", "HSLvar 0,0", "-o", out}, "HSLvar 0,0"},
      {{in, "--op", "HSLvar 0,x,0", "-o", out}, "'x'"},
      {{in, "--op", "Contrast 1.5", "-o", out}, "'1.5'"},
      {{in, "--op", "ConvertToGray 1", "-o", out}, "ConvertToGray"},
      {{in, "--frobnicate", "-o", out}, "--frobnicate"},
      {{in, "--quality", "101", "-o", out}, "--quality"},
      {{in, "--mask-depth", "4", "-o", out}, "--mask-depth"},
      {{in, "--select", "5,5,2,2", "-o", out}, "--select"},
      {{in}, "-o"},
      {{in, "-o", Path("out.xyz")}, "xyz"},
      {{in, in, "-o", out}, out},
      {{"-o", out}, "input"},
  };
  for (const auto& c : cases) {
    RunResult r = Run(c.args);
    EXPECT_EQ(r.status, 2) << c.mentions << ": " << r.err;
    EXPECT_NE(r.err.find(c.mentions), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << "one line: " << r.err;
    EXPECT_FALSE(fs::exists(out)) << c.mentions;
  }
}

TEST_F(BatchTest, BadPhotosFailAloneAndAreSummarised) {
  const std::string good = MakePhoto("good.ppm");
  const std::string bad = Path("bad.ppm");
  std::ofstream(bad) << "P6\n8 6\n255\nshort";
  const std::string missing = Path("missing.ppm");
  fs::create_directories(Path("out"));

  RunResult r = Run({bad, good, missing, "--op", "Negative", "-o", Path("out")});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(fs::exists(Path("out/good.ppm")));
  EXPECT_FALSE(fs::exists(Path("out/bad.ppm")));
  EXPECT_FALSE(fs::exists(Path("out/missing.ppm")));
  EXPECT_NE(r.err.find(bad), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(missing), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("2 of 3 photos failed"), std::string::npos) << r.err;

  // One photo that cannot be written: a destination folder that does not exist.
  r = Run({good, "-o", Path("nowhere/out.ppm")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("nowhere/out.ppm"), std::string::npos) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
}

TEST_F(BatchTest, SelectionOutsideThePictureIsAnErrorForThatPhoto) {
  const std::string in = MakePhoto("in.ppm");
  RunResult r = Run({in, "--select", "100,100,120,120", "--op", "Negative", "-o", Path("out.ppm")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("outside"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(Path("out.ppm")));
}

TEST_F(BatchTest, AlphaIsComposedOverWhiteForFormatsWithoutIt) {
  IEBitmap bmp(2, 1, IEPixelFormat::ie24RGB);
  bmp.Pixel24(0, 0) = IETriple{0, 0, 0};
  bmp.Pixel24(1, 0) = IETriple{0, 0, 0};
  bmp.SetAlpha(0, 0, 0);
  bmp.SetAlpha(1, 0, 255);
  ASSERT_TRUE(WriteImage(Path("clip.png"), bmp).ok);
  RunResult r = Run({Path("clip.png"), "-o", Path("flat.ppm")});
  ASSERT_EQ(r.status, 0) << r.err;
  const IEBitmap out = Read(Path("flat.ppm"));
  EXPECT_EQ(out.Pixel24(0, 0), (IETriple{255, 255, 255}));
  EXPECT_EQ(out.Pixel24(1, 0), (IETriple{0, 0, 0}));
}

// A picture of one colour, written for --layer.
std::string SolidFile(const std::string& path, int w, int h, IETriple t) {
  IEBitmap bmp(w, h, IEPixelFormat::ie24RGB);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) bmp.Pixel24(x, y) = t;
  EXPECT_TRUE(WriteImage(path, bmp).ok);
  return path;
}

TEST_F(BatchTest, LayersAreMergedIntoThePhotoInOrder) {
  const std::string in = MakePhoto("in.ppm");  // 8 x 6
  const IEBitmap photo = Read(in);
  const std::string red = SolidFile(Path("red,1.ppm"), 3, 2, IETriple{0, 0, 200});
  const std::string blue = SolidFile(Path("blue.ppm"), 2, 2, IETriple{250, 0, 0});
  const IETriple margin = ColorToTriple(clBtnFace);
  struct Case {
    std::vector<std::string> layers;
    int width, height;
  };
  const std::vector<Case> cases = {
      {{red + ",6,1"}, 9, 6},             // past the right edge: the photo widens
      {{red + ",6,1,255,clip"}, 8, 6},    // clipped to the photo: it does not
      {{red + ",-2,5"}, 8, 7},            // the left part is lost, the bottom widens
      {{red + ",6,1", blue + ",7,0,128"}, 9, 6},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {in};
    for (const auto& l : c.layers) args.insert(args.end(), {"--layer", l});
    args.insert(args.end(), {"-o", Path("out.ppm")});
    RunResult r = Run(args);
    ASSERT_EQ(r.status, 0) << c.layers[0] << ": " << r.err;
    const IEBitmap out = Read(Path("out.ppm"));
    ASSERT_EQ(out.Width(), c.width) << c.layers[0];
    ASSERT_EQ(out.Height(), c.height) << c.layers[0];
  }
  // The last case pixel by pixel: the photo, red over it and past it, the
  // half-covering blue over both, the margin where nothing lies.
  const IEBitmap out = Read(Path("out.ppm"));
  EXPECT_EQ(out.Pixel24(0, 0), photo.Pixel24(0, 0));
  EXPECT_EQ(out.Pixel24(6, 2), (IETriple{0, 0, 200}));
  EXPECT_EQ(out.Pixel24(8, 5), margin);
  const IETriple under = photo.Pixel24(7, 0);
  const auto half = [](int dst, int src) { return static_cast<uint8_t>(dst + ((128 * (src - dst)) >> 8)); };
  EXPECT_EQ(out.Pixel24(7, 0), (IETriple{half(under.b, 250), half(under.g, 0), half(under.r, 0)}));
  EXPECT_EQ(out.Pixel24(8, 1), (IETriple{half(0, 250), 0, half(200, 0)}));
}

TEST_F(BatchTest, InvertedAndFeatheredSelectionsLimitTheOperations) {
  const std::string in = SolidFile(Path("in.ppm"), 30, 20, IETriple{200, 200, 200});
  RunResult r = Run({in, "--select", "10,5,20,15", "--invert-selection", "--op", "Negative", "-o", Path("inv.ppm")});
  ASSERT_EQ(r.status, 0) << r.err;
  IEBitmap out = Read(Path("inv.ppm"));
  EXPECT_EQ(out.Pixel24(15, 10).b, 200);
  EXPECT_EQ(out.Pixel24(9, 10).b, 55);
  EXPECT_EQ(out.Pixel24(0, 0).b, 55);

  // Radius 2: the kernel reaches 9 pixels, the box grows by 10.
  const std::string big = SolidFile(Path("big.ppm"), 40, 30, IETriple{200, 200, 200});
  r = Run({big, "--select", "10,5,30,25", "--mask-depth", "8", "--feather", "2", "--op", "Negative", "-o",
           Path("soft.ppm")});
  ASSERT_EQ(r.status, 0) << r.err;
  out = Read(Path("soft.ppm"));
  EXPECT_EQ(out.Pixel24(20, 15).b, 55);  // fully selected: 255/256 of the way
  EXPECT_GT(out.Pixel24(9, 15).b, 55);   // partly selected
  EXPECT_LT(out.Pixel24(9, 15).b, 200);
  EXPECT_EQ(out.Pixel24(0, 15).b, 200);  // out of the kernel's reach

  // Inverting a selection of the whole photo leaves nothing to work on.
  r = Run({in, "--select", "0,0,30,20", "--invert-selection", "--op", "Negative", "-o", Path("none.ppm")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("nothing"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(Path("none.ppm")));
}

TEST_F(BatchTest, BadLayerAndSelectionOptionsAreUsageErrors) {
  const std::string in = MakePhoto("in.ppm");
  const std::string out = Path("out.ppm");
  struct Case {
    std::vector<std::string> args;
    std::string mentions;
  };
  const std::vector<Case> cases = {
      {{"--layer", "a.png"}, "--layer"},
      {{"--layer", "a.png,1"}, "--layer"},
      {{"--layer", "a.png,1,x"}, "--layer"},
      {{"--layer", ",1,2"}, "--layer"},
      {{"--layer", "a.png,1,2,256"}, "0..255"},
      {{"--layer", "a.png,1,2,clip"}, "--layer"},
      {{"--layer", "a.png,1,2,9,blend"}, "--layer"},
      {{"--invert-selection"}, "--select"},
      {{"--feather", "2", "--mask-depth", "8"}, "--select"},
      {{"--select", "1,1,4,4", "--feather", "2"}, "--mask-depth 8"},
      {{"--select", "1,1,4,4", "--mask-depth", "8", "--feather", "0"}, "--feather"},
      {{"--select", "1,1,4,4", "--mask-depth", "8", "--feather", "2x"}, "--feather"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {in};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.insert(args.end(), {"-o", out});
    RunResult r = Run(args);
    EXPECT_EQ(r.status, 2) << c.args[0] << ": " << r.err;
    EXPECT_NE(r.err.find(c.mentions), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << "one line: " << r.err;
    EXPECT_FALSE(fs::exists(out));
  }
}

TEST_F(BatchTest, ABadLayerOrAnOversizedMergeFailsThatPhoto) {
  const std::string in = MakePhoto("in.ppm");
  const std::string bad = Path("bad.png");
  std::ofstream(bad) << "not a picture";
  const std::string good = SolidFile(Path("good.ppm"), 2, 2, IETriple{1, 2, 3});
  struct Case {
    std::string layer;
    std::string mentions;
  };
  const std::vector<Case> cases = {
      {bad + ",0,0", bad},
      {Path("missing.png") + ",0,0", "missing.png"},
      {good + ",70000,0", "cannot be merged"},
  };
  for (const auto& c : cases) {
    RunResult r = Run({in, "--layer", c.layer, "-o", Path("out.ppm")});
    EXPECT_EQ(r.status, 1) << c.layer << ": " << r.err;
    EXPECT_NE(r.err.find(in), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.mentions), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(Path("out.ppm")));
  }
}

}  // namespace

// Every classic writable format: the photo goes out through velmora-batch
// and comes back through it unchanged (GIF keeps this photo's 48 colours;
// the bi-level wireless bitmap is compared by its own rule).
TEST_F(BatchTest, ConvertsToEachClassicFormatAndBack) {
  const std::string in = MakePhoto("in.png");
  const IEBitmap original = Read(in);
  for (const char* ext : {"tif", "gif", "pcx", "bmp", "ico", "tga", "dcx", "wbmp"}) {
    SCOPED_TRACE(ext);
    const std::string there = Path(std::string("there.") + ext), back = Path(std::string("back-") + ext + ".png");
    RunResult r = Run({in, "-o", there});
    ASSERT_EQ(r.status, 0) << r.err;
    r = Run({there, "-o", back});
    ASSERT_EQ(r.status, 0) << r.err;
    IEBitmap result = Read(back);
    ASSERT_EQ(result.Width(), original.Width());
    ASSERT_EQ(result.Height(), original.Height());
    ASSERT_TRUE(result.ConvertFormat(IEPixelFormat::ie24RGB));
    if (std::string(ext) == "wbmp") {
      IEBitmap bilevel;
      bilevel.Assign(original);
      ASSERT_TRUE(bilevel.ConvertFormat(IEPixelFormat::ie1g));
      for (int y = 0; y < result.Height(); ++y)
        for (int x = 0; x < result.Width(); ++x) EXPECT_EQ(result.Pixel24(x, y).g != 0, bilevel.Bit(x, y));
      continue;
    }
    for (int y = 0; y < result.Height(); ++y)
      for (int x = 0; x < result.Width(); ++x) EXPECT_EQ(result.Pixel24(x, y), original.Pixel24(x, y));
  }
}
