// Velmora's raw clipboard form comes from whatever another program put on
// the clipboard under its type: any bytes must give a picture or a reason,
// never a crash, and a picture that is read must encode back to the same
// bytes.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "output/ClipboardRaw.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  velmora::IEBitmap bmp;
  std::string reason;
  if (!velmora::DecodeRawPicture(data, size, bmp, reason)) return 0;
  const std::vector<uint8_t> again = velmora::EncodeRawPicture(bmp);
  if (again.size() != size || !std::equal(again.begin(), again.end(), data)) std::abort();
  return 0;
}
