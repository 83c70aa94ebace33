// Every picture under tests/data/files, read through its own reader and
// through every other one: a reader handed another format's file (or a
// damaged one) must fail with a message, never crash. Where a reference
// decode sits beside a file, the pictures must match.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "document/files/FormatTable.h"
#include "files/FileTestUtil.h"

namespace velmora::test {
namespace {

std::vector<std::string> CorpusFiles() {
  std::vector<std::string> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(DataFile("")))
    if (e.is_regular_file()) files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

// Either a picture or a failure that leaves `out` alone and names the file.
void ExpectCleanResult(const std::string& path, const IOResult& r, const IEBitmap& out) {
  if (r) {
    EXPECT_FALSE(out.IsEmpty()) << path;
    return;
  }
  EXPECT_EQ(r.message.rfind(path + ": ", 0), 0u) << r.message;
  EXPECT_GT(r.message.size(), path.size() + 2) << path;
  ExpectSentinel(out);
}

TEST(CorpusReplay, EveryFileThroughEveryReader) {
  const std::vector<std::string> files = CorpusFiles();
  ASSERT_FALSE(files.empty());
  ImageLimits limits;  // the program's own
  for (const std::string& path : files) {
    SCOPED_TRACE(path);
    IEBitmap bmp = Sentinel();
    ExpectCleanResult(path, ReadImage(path, bmp, limits), bmp);
    for (const FormatInfo& f : Formats()) {
      if (!f.decode) continue;
      IEBitmap other = Sentinel();
      ExpectCleanResult(path, ReadImageAs(path, f.id, other, limits), other);
    }
  }
}

// A reference decode beside a picture: PngSuite's RGBA pictures in
// check/, or a PNM file of the same name (testorig.jpg and testorig.ppm).
TEST(CorpusReplay, MatchesReferenceDecodes) {
  namespace fs = std::filesystem;
  int compared = 0;
  for (const std::string& path : CorpusFiles()) {
    const fs::path p(path);
    const std::string ext = LowerExtension(path);
    if (ext == "ppm" || ext == "pgm" || ext == "pbm" || p.parent_path().filename() == "check") continue;
    std::vector<fs::path> references = {p.parent_path() / "check" / p.filename()};
    for (const char* pnm : {".ppm", ".pgm", ".pbm"}) references.push_back(fs::path(p).replace_extension(pnm));
    for (const fs::path& ref : references) {
      if (!fs::exists(ref)) continue;
      SCOPED_TRACE(path + " against " + ref.string());
      IEBitmap picture, expected;
      const IOResult r = ReadImage(path, picture);
      ASSERT_TRUE(r) << r.message;
      ASSERT_TRUE(ReadImage(ref.string(), expected));
      // The reference JPEG decode may use another inverse DCT and
      // upsampling: a few levels apart, never more.
      const int tolerance = (ext == "jpg" || ext == "jpeg") ? 4 : 0;
      EXPECT_LE(MaxDifference(picture, expected, ref.extension() == ".png"), tolerance);
      ++compared;
    }
  }
  EXPECT_GT(compared, 0);
}

}  // namespace
}  // namespace velmora::test
