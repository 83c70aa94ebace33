// WebP through libwebp: still pictures, lossy or lossless, with alpha.
#include <webp/decode.h>
#include <webp/encode.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "document/files/Exif.h"
#include "document/files/ModernCodecs.h"
#include "document/files/Orientation.h"

namespace velmora::codecs {

namespace {

// A WebP file's size field is 32 bits.
constexpr uint64_t kMaxFileBytes = 0xFFFFFFFFull + 8;
constexpr int kMaxWebpSide = WEBP_MAX_DIMENSION;

const char* StatusText(VP8StatusCode status) {
  switch (status) {
    case VP8_STATUS_OUT_OF_MEMORY: return "not enough memory";
    case VP8_STATUS_INVALID_PARAM: return "invalid parameter";
    case VP8_STATUS_BITSTREAM_ERROR: return "corrupt WebP data";
    case VP8_STATUS_UNSUPPORTED_FEATURE: return "unsupported WebP feature";
    case VP8_STATUS_NOT_ENOUGH_DATA: return "unexpected end of file";
    default: return "cannot decode the WebP data";
  }
}

const char* EncodeErrorText(WebPEncodingError error) {
  switch (error) {
    case VP8_ENC_ERROR_OUT_OF_MEMORY:
    case VP8_ENC_ERROR_BITSTREAM_OUT_OF_MEMORY: return "not enough memory";
    case VP8_ENC_ERROR_BAD_DIMENSION: return "picture too large for WebP";
    case VP8_ENC_ERROR_FILE_TOO_BIG: return "picture too large for WebP (file over 4 GB)";
    default: return "cannot encode the picture as WebP";
  }
}

// The EXIF orientation (1..8) of an extended WebP file; 1 without one.
// The chunks are walked here rather than through libwebp's demuxer: only
// one chunk is wanted, and its length is checked against the file.
int ExifOrientation(const std::vector<uint8_t>& file) {
  auto le32 = [&](std::size_t at) {
    return uint32_t{file[at]} | uint32_t{file[at + 1]} << 8 | uint32_t{file[at + 2]} << 16 |
           uint32_t{file[at + 3]} << 24;
  };
  if (file.size() < 12 || std::memcmp(file.data(), "RIFF", 4) != 0 || std::memcmp(file.data() + 8, "WEBP", 4) != 0)
    return 1;
  std::size_t at = 12;
  // A chunk of odd length is padded: the padding byte may be missing
  // after the last one, so `at` can pass the end by one.
  while (at <= file.size() && file.size() - at >= 8) {
    const uint64_t size = le32(at + 4);
    if (size > file.size() - at - 8) return 1;
    if (std::memcmp(file.data() + at, "EXIF", 4) == 0) {
      // Stored either as the bare TIFF structure or, by some writers, with
      // the "Exif\0\0" prefix of a JPEG segment, which the parser expects.
      static const uint8_t kPrefix[6] = {'E', 'x', 'i', 'f', 0, 0};
      std::vector<uint8_t> payload(kPrefix, kPrefix + 6);
      const uint8_t* data = file.data() + at + 8;
      const bool prefixed = size >= 6 && std::memcmp(data, kPrefix, 6) == 0;
      payload.insert(payload.end(), data + (prefixed ? 6 : 0), data + size);
      return exif::Orientation(payload.data(), payload.size());
    }
    at += 8 + size + (size & 1);
  }
  return 1;
}

}  // namespace

bool DecodeWebp(std::FILE* in, const DecodeOptions& options, IEBitmap& out, std::string& reason) {
  std::vector<uint8_t> data;
  if (!ReadAllBytes(in, kMaxFileBytes, data, reason)) return false;
  WebPBitstreamFeatures features;
  const VP8StatusCode status = WebPGetFeatures(data.data(), data.size(), &features);
  if (status != VP8_STATUS_OK) {
    reason = status == VP8_STATUS_BITSTREAM_ERROR ? "not a WebP file" : StatusText(status);
    return false;
  }
  if (features.has_animation) {
    reason = "animated WebP not supported";
    return false;
  }
  if (features.width <= 0 || features.height <= 0) {
    reason = "invalid size";
    return false;
  }
  if (std::string why = CheckDimensions(static_cast<uint64_t>(features.width), static_cast<uint64_t>(features.height),
                                        options.limits);
      !why.empty()) {
    reason = why;
    return false;
  }
  const int w = features.width, h = features.height;
  const bool hasAlpha = features.has_alpha != 0;
  const int bpp = hasAlpha ? 4 : 3;

  // libwebp wants top-down rows with a positive stride; the bitmap's are
  // bottom-up, so the picture is decoded apart and copied.
  WebPDecoderConfig config;
  if (!WebPInitDecoderConfig(&config)) {
    reason = "libwebp version mismatch";
    return false;
  }
  std::vector<uint8_t> pixels(static_cast<std::size_t>(w) * h * bpp);
  config.output.colorspace = hasAlpha ? MODE_BGRA : MODE_BGR;
  config.output.is_external_memory = 1;
  config.output.u.RGBA.rgba = pixels.data();
  config.output.u.RGBA.stride = w * bpp;
  config.output.u.RGBA.size = pixels.size();
  const VP8StatusCode decoded = WebPDecode(data.data(), data.size(), &config);
  WebPFreeDecBuffer(&config.output);
  if (decoded != VP8_STATUS_OK) {
    reason = StatusText(decoded);
    return false;
  }
  const int orientation = ExifOrientation(data);
  data = {};

  IEBitmap bmp;
  IEBitmap* alpha = nullptr;
  if (!AllocateRgb(bmp, w, h, hasAlpha, alpha, reason)) return false;
  bool transparent = false;
  for (int y = 0; y < h; ++y) {
    const uint8_t* src = pixels.data() + static_cast<std::size_t>(y) * w * bpp;
    uint8_t* dst = bmp.ScanLine(y);
    if (!hasAlpha) {
      std::memcpy(dst, src, static_cast<std::size_t>(w) * 3);
      continue;
    }
    uint8_t* a = alpha->ScanLine(y);
    for (int x = 0; x < w; ++x) {
      std::memcpy(dst + 3 * x, src + 4 * x, 3);
      a[x] = src[4 * x + 3];
      transparent |= a[x] != 255;
    }
  }
  SettleAlpha(bmp, transparent);
  if (orientation != 1 && !ApplyOrientation(bmp, orientation)) {
    reason = "not enough memory";
    return false;
  }
  out = std::move(bmp);
  return true;
}

bool EncodeWebp(std::FILE* out, const IEBitmap& bmp, const SaveParams& params, const std::string&,
                std::string& reason) {
  if (bmp.IsEmpty() || bmp.PixelFormat() != IEPixelFormat::ie24RGB) {
    reason = "the picture is empty";
    return false;
  }
  const int w = bmp.Width(), h = bmp.Height();
  if (w > kMaxWebpSide || h > kMaxWebpSide) {
    reason = "picture too large for WebP (" + std::to_string(kMaxWebpSide) + " pixels a side at most)";
    return false;
  }
  const IEBitmap* alpha = HasTransparency(bmp) ? bmp.AlphaChannelIfAny() : nullptr;
  const int bpp = alpha ? 4 : 3;
  std::vector<uint8_t> pixels(static_cast<std::size_t>(w) * h * bpp);
  for (int y = 0; y < h; ++y) {
    uint8_t* dst = pixels.data() + static_cast<std::size_t>(y) * w * bpp;
    const uint8_t* src = bmp.ScanLine(y);
    if (!alpha) {
      std::memcpy(dst, src, static_cast<std::size_t>(w) * 3);
      continue;
    }
    const uint8_t* a = alpha->ScanLine(y);
    for (int x = 0; x < w; ++x) {
      std::memcpy(dst + 4 * x, src + 3 * x, 3);
      dst[4 * x + 3] = a[x];
    }
  }

  WebPConfig config;
  WebPPicture picture;
  if (!WebPConfigInit(&config) || !WebPPictureInit(&picture)) {
    reason = "libwebp version mismatch";
    return false;
  }
  // Quality 100 asks for the picture unchanged: lossless. Below it the
  // quality is libwebp's lossy scale, close to JPEG's.
  const int quality = std::clamp(params.jpegQuality, 1, 100);
  if (quality >= 100) {
    WebPConfigLosslessPreset(&config, 6);
    config.exact = 1;  // keep the colour under fully transparent pixels
  } else {
    config.quality = static_cast<float>(quality);
  }
  picture.use_argb = config.lossless;
  picture.width = w;
  picture.height = h;
  WebPMemoryWriter writer;
  WebPMemoryWriterInit(&writer);
  picture.writer = WebPMemoryWrite;
  picture.custom_ptr = &writer;
  const bool imported = alpha ? WebPPictureImportBGRA(&picture, pixels.data(), w * 4)
                              : WebPPictureImportBGR(&picture, pixels.data(), w * 3);
  bool ok = imported && WebPEncode(&config, &picture);
  if (!ok) reason = imported ? EncodeErrorText(picture.error_code) : "not enough memory";
  WebPPictureFree(&picture);
  if (ok) ok = WriteAllBytes(out, writer.mem, writer.size, reason);
  WebPMemoryWriterClear(&writer);
  return ok;
}

}  // namespace velmora::codecs
