// HEIF/HEIC and AVIF through libheif: the primary image, with alpha.
// libheif applies the file's rotation and mirroring (irot, imir) and its
// clean aperture while decoding, so the picture comes upright.
#include <libheif/heif.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "document/files/ModernCodecs.h"

namespace velmora::codecs {

namespace {

constexpr uint64_t kMaxFileBytes = 1024ull << 20;

struct ContextFree {
  void operator()(heif_context* c) const { heif_context_free(c); }
};
struct HandleFree {
  void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};
struct ImageFree {
  void operator()(heif_image* i) const { heif_image_release(i); }
};
struct OptionsFree {
  void operator()(heif_decoding_options* o) const { heif_decoding_options_free(o); }
};

bool Failed(const heif_error& error, std::string& reason) {
  if (error.code == heif_error_Ok) return false;
  reason = error.message && *error.message ? error.message : "cannot decode the HEIF data";
  return true;
}

}  // namespace

bool DecodeHeif(std::FILE* in, const DecodeOptions& options, IEBitmap& out, std::string& reason) {
  std::vector<uint8_t> data;
  if (!ReadAllBytes(in, kMaxFileBytes, data, reason)) return false;
  if (data.size() < 12 || heif_check_filetype(data.data(), static_cast<int>(std::min<std::size_t>(data.size(), 64))) ==
                              heif_filetype_no) {
    reason = "not a HEIF or AVIF file";
    return false;
  }
  std::unique_ptr<heif_context, ContextFree> context(heif_context_alloc());
  if (!context) {
    reason = "not enough memory";
    return false;
  }
  // libheif refuses larger pictures itself while parsing, before decoding.
  heif_context_set_maximum_image_size_limit(context.get(), std::max(options.limits.maxSide, 1));
  if (Failed(heif_context_read_from_memory_without_copy(context.get(), data.data(), data.size(), nullptr), reason))
    return false;
  heif_image_handle* rawHandle = nullptr;
  if (Failed(heif_context_get_primary_image_handle(context.get(), &rawHandle), reason)) return false;
  std::unique_ptr<heif_image_handle, HandleFree> handle(rawHandle);

  // The size after rotation, as the picture will come out.
  const int hw = heif_image_handle_get_width(handle.get()), hh = heif_image_handle_get_height(handle.get());
  if (hw <= 0 || hh <= 0) {
    reason = "invalid size";
    return false;
  }
  if (std::string why = CheckDimensions(static_cast<uint64_t>(hw), static_cast<uint64_t>(hh), options.limits);
      !why.empty()) {
    reason = why;
    return false;
  }
  const bool hasAlpha = heif_image_handle_has_alpha_channel(handle.get()) != 0;
  std::unique_ptr<heif_decoding_options, OptionsFree> decodeOptions(heif_decoding_options_alloc());
  if (!decodeOptions) {
    reason = "not enough memory";
    return false;
  }
  decodeOptions->ignore_transformations = 0;
  heif_image* rawImage = nullptr;
  if (Failed(heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB,
                               hasAlpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB,
                               decodeOptions.get()),
             reason))
    return false;
  std::unique_ptr<heif_image, ImageFree> image(rawImage);

  const int w = heif_image_get_width(image.get(), heif_channel_interleaved);
  const int h = heif_image_get_height(image.get(), heif_channel_interleaved);
  int stride = 0;
  const uint8_t* plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
  const int bpp = hasAlpha ? 4 : 3;
  if (!plane || w <= 0 || h <= 0 || stride < w * bpp ||
      heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved) != 8) {
    reason = "unexpected pixel layout from the HEIF decoder";
    return false;
  }
  if (std::string why = CheckDimensions(static_cast<uint64_t>(w), static_cast<uint64_t>(h), options.limits);
      !why.empty()) {
    reason = why;
    return false;
  }

  IEBitmap bmp;
  IEBitmap* alpha = nullptr;
  if (!AllocateRgb(bmp, w, h, hasAlpha, alpha, reason)) return false;
  bool transparent = false;
  for (int y = 0; y < h; ++y) {
    const uint8_t* src = plane + static_cast<std::size_t>(y) * static_cast<std::size_t>(stride);
    uint8_t* dst = bmp.ScanLine(y);
    uint8_t* a = alpha ? alpha->ScanLine(y) : nullptr;
    for (int x = 0; x < w; ++x) {
      dst[3 * x] = src[bpp * x + 2];
      dst[3 * x + 1] = src[bpp * x + 1];
      dst[3 * x + 2] = src[bpp * x];
      if (a) {
        a[x] = src[4 * x + 3];
        transparent |= a[x] != 255;
      }
    }
  }
  SettleAlpha(bmp, transparent);
  out = std::move(bmp);
  return true;
}

}  // namespace velmora::codecs
