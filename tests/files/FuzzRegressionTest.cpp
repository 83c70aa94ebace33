// Inputs that once made a reader crash, hang or misbehave, kept under
// tests/data/files/fuzz/ as the fuzzer wrote them. Each is fed to every
// reader: it may read or fail, but a failure names the reason and leaves
// the caller's picture alone.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "document/files/FormatTable.h"
#include "files/FileTestUtil.h"

namespace velmora::test {
namespace {

TEST(FuzzRegression, EveryCrasherReadsOrFailsCleanly) {
  const std::filesystem::path folder = DataFile("fuzz");
  if (!std::filesystem::exists(folder)) GTEST_SKIP() << "no regression files";
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    if (!e.is_regular_file() || e.path().extension() == ".md") continue;
    const std::string path = e.path().string();
    for (const FormatInfo& f : Formats()) {
      if (!f.decode) continue;
      SCOPED_TRACE(path + " as " + f.name);
      IEBitmap bmp = Sentinel();
      const auto start = std::chrono::steady_clock::now();
      const IOResult r = ReadImageAs(path, f.id, bmp);
      EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
      if (!r) {
        EXPECT_EQ(r.message.rfind(path + ": ", 0), 0u) << r.message;
        ExpectSentinel(bmp);
      }
    }
  }
}

}  // namespace
}  // namespace velmora::test
