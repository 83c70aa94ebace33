// The whole reading path: the first byte picks an extension among those
// of the format table (or none Velmora knows), the rest is the file's
// content; ReadImage chooses the codec from the name and reads the file.
// Whatever the pairing, the caller's picture stays as it was on failure.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "document/files/FormatTable.h"
#include "document/files/ImageFile.h"

namespace {

const std::vector<std::string>& Extensions() {
  static const std::vector<std::string> all = [] {
    std::vector<std::string> list;
    for (const auto& f : velmora::Formats())
      for (const auto& e : f.extensions) list.push_back(e);
    list.push_back("TXT");
    list.push_back("");
    return list;
  }();
  return all;
}

std::string Folder() {
  static const std::string folder = [] {
    char pattern[] = "/tmp/velmora-fuzz-XXXXXX";
    const char* made = mkdtemp(pattern);
    return std::string(made ? made : "/tmp");
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string ext = Extensions()[data[0] % Extensions().size()];
  const std::string path = Folder() + "/input" + (ext.empty() ? "" : "." + ext);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data + 1, 1, size - 1, f);
  std::fclose(f);

  velmora::ImageLimits limits;
  limits.maxSide = 16384;
  limits.maxPixels = 16'000'000;
  velmora::IEBitmap bmp(2, 1, velmora::IEPixelFormat::ie8g);
  bmp.ScanLine(0)[0] = 17;
  bmp.ScanLine(0)[1] = 42;
  const velmora::IOResult r = velmora::ReadImage(path, bmp, limits);
  if (!r && (bmp.Width() != 2 || bmp.Height() != 1 || bmp.PixelFormat() != velmora::IEPixelFormat::ie8g ||
             bmp.ScanLine(0)[0] != 17 || bmp.ScanLine(0)[1] != 42 || r.message.rfind(path + ": ", 0) != 0))
    __builtin_trap();
  unlink(path.c_str());
  return 0;
}
