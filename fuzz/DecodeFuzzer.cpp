// Feeds arbitrary bytes to one decoder of the format table through a
// memory stream, as ReadImage would hand it an open file. The format is
// fixed at build time (VELMORA_FUZZ_FORMAT, an ImageFormat name).
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>

#include "document/files/FormatTable.h"

namespace {

const velmora::FormatInfo* Format() {
  static const velmora::FormatInfo* format = velmora::FindFormat(velmora::ImageFormat::VELMORA_FUZZ_FORMAT);
  return format;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const velmora::FormatInfo* format = Format();
  if (!format || !format->decode || size == 0) return 0;
  std::FILE* in = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (!in) return 0;
  velmora::DecodeOptions options;
  // Smaller than the program's limits so that one input cannot take
  // the fuzzer's whole memory; the checks are the same.
  options.limits.maxSide = 16384;
  options.limits.maxPixels = 16'000'000;
  velmora::IEBitmap bmp;
  std::string reason;
  bool ok = false;
  try {
    ok = format->decode(in, options, bmp, reason);
  } catch (const std::exception&) {
    // ReadImage turns these into messages.
  }
  std::fclose(in);
  // A success gives a picture within the limits; a failure says why.
  if (ok && (bmp.IsEmpty() || bmp.Width() > options.limits.maxSide || bmp.Height() > options.limits.maxSide))
    __builtin_trap();
  if (!ok && reason.empty()) __builtin_trap();
  return 0;
}
