// Camera raw files through libraw, developed to 8-bit sRGB.
#include <libraw/libraw.h>

#include <algorithm>
#include <memory>
#include <new>

#include "document/files/ModernCodecs.h"

namespace velmora::codecs {

namespace {

// Raw files of today's cameras stay well below this.
constexpr uint64_t kMaxFileBytes = 512ull << 20;

std::string RawError(int code) {
  if (code == LIBRAW_FILE_UNSUPPORTED) return "not a camera raw file, or a camera Velmora does not know";
  if (code == LIBRAW_UNSUFFICIENT_MEMORY || code == LIBRAW_MEMPOOL_OVERFLOW) return "not enough memory";
  if (code == LIBRAW_IO_ERROR) return "unexpected end of file";
  return libraw_strerror(code);
}

struct ImageFree {
  void operator()(libraw_processed_image_t* p) const { LibRaw::dcraw_clear_mem(p); }
};

}  // namespace

bool DecodeRaw(std::FILE* in, const DecodeOptions& options, IEBitmap& out, std::string& reason) {
  std::vector<uint8_t> data;
  if (!ReadAllBytes(in, kMaxFileBytes, data, reason)) return false;
  // LibRaw is large (several hundred kilobytes of state): not on the stack.
  auto raw = std::make_unique<LibRaw>(LIBRAW_OPIONS_NO_MEMERR_CALLBACK | LIBRAW_OPIONS_NO_DATAERR_CALLBACK);
  libraw_output_params_t& params = raw->imgdata.params;
  params.use_camera_wb = 1;
  params.output_bps = 8;
  params.output_color = 1;  // sRGB
  params.user_flip = -1;    // the camera's orientation
  // Caps the buffers libraw takes for the raw data, whatever the header says.
  params.max_raw_memory_mb = static_cast<unsigned>(std::min<uint64_t>(
      2048, std::max<uint64_t>(64, options.limits.maxPixels * 8 / (1 << 20) + 16)));

  int code = raw->open_buffer(data.data(), data.size());
  if (code != LIBRAW_SUCCESS) {
    reason = RawError(code);
    return false;
  }
  const libraw_image_sizes_t& sizes = raw->imgdata.sizes;
  if (sizes.raw_width == 0 || sizes.raw_height == 0 || sizes.width == 0 || sizes.height == 0) {
    reason = "invalid size";
    return false;
  }
  // Both the sensor area and the developed picture must be within the
  // limits before libraw allocates for either.
  for (const auto& [sw, sh] : {std::pair<uint64_t, uint64_t>{sizes.raw_width, sizes.raw_height},
                               {sizes.iwidth ? sizes.iwidth : sizes.width, sizes.iheight ? sizes.iheight : sizes.height},
                               {sizes.width, sizes.height}})
    if (std::string why = CheckDimensions(sw, sh, options.limits); !why.empty()) {
      reason = why;
      return false;
    }
  if ((code = raw->unpack()) != LIBRAW_SUCCESS || (code = raw->dcraw_process()) != LIBRAW_SUCCESS) {
    reason = RawError(code);
    return false;
  }
  int error = 0;
  std::unique_ptr<libraw_processed_image_t, ImageFree> image(raw->dcraw_make_mem_image(&error));
  if (!image) {
    reason = RawError(error ? error : LIBRAW_UNSUFFICIENT_MEMORY);
    return false;
  }
  if (image->type != LIBRAW_IMAGE_BITMAP || image->colors != 3 || image->bits != 8 || image->width == 0 ||
      image->height == 0 || uint64_t{image->width} * image->height * 3 > image->data_size) {
    reason = "unexpected pixel layout from the raw developer";
    return false;
  }
  if (std::string why = CheckDimensions(image->width, image->height, options.limits); !why.empty()) {
    reason = why;
    return false;
  }
  raw->recycle();
  data = {};

  const int w = image->width, h = image->height;
  IEBitmap bmp;
  if (!AllocateBitmap(bmp, w, h, IEPixelFormat::ie24RGB, reason)) return false;
  for (int y = 0; y < h; ++y) {
    const uint8_t* src = image->data + static_cast<std::size_t>(y) * w * 3;
    uint8_t* dst = bmp.ScanLine(y);
    for (int x = 0; x < w; ++x) {
      dst[3 * x] = src[3 * x + 2];
      dst[3 * x + 1] = src[3 * x + 1];
      dst[3 * x + 2] = src[3 * x];
    }
  }
  out = std::move(bmp);
  return true;
}

}  // namespace velmora::codecs
