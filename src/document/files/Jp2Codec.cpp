// JPEG 2000 through openjpeg: the jp2 box file and the bare code stream,
// read by content whatever the extension; written lossless.
#include <openjpeg.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "document/files/AtomicFile.h"
#include "document/files/ModernCodecs.h"

namespace velmora::codecs {

namespace {

// ---------------------------------------------------------------------------
// Streams over a FILE*

OPJ_SIZE_T ReadFn(void* buffer, OPJ_SIZE_T n, void* user) {
  const std::size_t got = std::fread(buffer, 1, n, static_cast<std::FILE*>(user));
  return got == 0 ? static_cast<OPJ_SIZE_T>(-1) : got;  // -1: end of stream
}
OPJ_SIZE_T WriteFn(void* buffer, OPJ_SIZE_T n, void* user) {
  return std::fwrite(buffer, 1, n, static_cast<std::FILE*>(user));
}
OPJ_OFF_T SkipFn(OPJ_OFF_T n, void* user) {
  return fseeko(static_cast<std::FILE*>(user), n, SEEK_CUR) == 0 ? n : -1;
}
OPJ_BOOL SeekFn(OPJ_OFF_T to, void* user) {
  return fseeko(static_cast<std::FILE*>(user), to, SEEK_SET) == 0 ? OPJ_TRUE : OPJ_FALSE;
}

struct StreamFree {
  void operator()(opj_stream_t* s) const { opj_stream_destroy(s); }
};
struct CodecFree {
  void operator()(opj_codec_t* c) const { opj_destroy_codec(c); }
};
struct ImageFree {
  void operator()(opj_image_t* i) const { opj_image_destroy(i); }
};
using StreamPtr = std::unique_ptr<opj_stream_t, StreamFree>;
using CodecPtr = std::unique_ptr<opj_codec_t, CodecFree>;
using ImagePtr = std::unique_ptr<opj_image_t, ImageFree>;

// openjpeg reports through callbacks; the first error becomes the reason,
// warnings and information are dropped.
void ErrorFn(const char* msg, void* user) {
  auto* reason = static_cast<std::string*>(user);
  if (!reason->empty()) return;
  std::string text = msg ? msg : "";
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  *reason = text.empty() ? "corrupt JPEG 2000 data" : text;
}
void QuietFn(const char*, void*) {}

void Attach(opj_codec_t* codec, std::string* reason) {
  opj_set_error_handler(codec, ErrorFn, reason);
  opj_set_warning_handler(codec, QuietFn, nullptr);
  opj_set_info_handler(codec, QuietFn, nullptr);
}

// Sample to 0..255 whatever the precision and sign.
inline uint8_t To8(int64_t v, int prec, bool sgnd) {
  if (sgnd) v += int64_t{1} << (prec - 1);
  const int64_t max = (int64_t{1} << prec) - 1;
  v = std::clamp<int64_t>(v, 0, max);
  if (prec == 8) return static_cast<uint8_t>(v);
  return static_cast<uint8_t>((v * 255 + max / 2) / max);
}

inline uint8_t Clamp8(double v) { return static_cast<uint8_t>(std::clamp(v + 0.5, 0.0, 255.0)); }

}  // namespace

bool DecodeJp2(std::FILE* in, const DecodeOptions& options, IEBitmap& out, std::string& reason) {
  uint8_t magic[12] = {};
  const std::size_t got = std::fread(magic, 1, sizeof magic, in);
  static const uint8_t kJp2[12] = {0, 0, 0, 12, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};
  OPJ_CODEC_FORMAT kind;
  if (got == 12 && std::memcmp(magic, kJp2, 12) == 0)
    kind = OPJ_CODEC_JP2;
  else if (got >= 4 && magic[0] == 0xFF && magic[1] == 0x4F && magic[2] == 0xFF && magic[3] == 0x51)
    kind = OPJ_CODEC_J2K;
  else {
    reason = "not a JPEG 2000 file";
    return false;
  }
  if (fseeko(in, 0, SEEK_SET) != 0) {
    reason = ErrnoMessage(errno ? errno : EIO);
    return false;
  }
  // The length lets openjpeg know where the data ends; unknown for pipes.
  OPJ_UINT64 length = 0;
  if (fseeko(in, 0, SEEK_END) == 0) {
    const off_t end = ftello(in);
    if (end > 0) length = static_cast<OPJ_UINT64>(end);
  }
  if (fseeko(in, 0, SEEK_SET) != 0) {
    reason = ErrnoMessage(errno ? errno : EIO);
    return false;
  }

  StreamPtr stream(opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_TRUE));
  CodecPtr codec(opj_create_decompress(kind));
  if (!stream || !codec) {
    reason = "not enough memory";
    return false;
  }
  opj_stream_set_user_data(stream.get(), in, nullptr);
  if (length) opj_stream_set_user_data_length(stream.get(), length);
  opj_stream_set_read_function(stream.get(), ReadFn);
  opj_stream_set_skip_function(stream.get(), SkipFn);
  opj_stream_set_seek_function(stream.get(), SeekFn);
  std::string libraryError;
  Attach(codec.get(), &libraryError);
  opj_dparameters_t parameters;
  opj_set_default_decoder_parameters(&parameters);
  auto fail = [&](const char* fallback) {
    reason = libraryError.empty() ? fallback : libraryError;
    return false;
  };
  if (!opj_setup_decoder(codec.get(), &parameters)) return fail("cannot set up the JPEG 2000 decoder");

  opj_image_t* header = nullptr;
  if (!opj_read_header(stream.get(), codec.get(), &header)) {
    opj_image_destroy(header);
    return fail("invalid JPEG 2000 header");
  }
  ImagePtr image(header);
  // Everything decoding will allocate follows from the header: the picture
  // area and each component's size and precision are checked first.
  if (image->x1 <= image->x0 || image->y1 <= image->y0) {
    reason = "invalid size";
    return false;
  }
  const uint64_t W = image->x1 - image->x0, H = image->y1 - image->y0;
  if (std::string why = CheckDimensions(W, H, options.limits); !why.empty()) {
    reason = why;
    return false;
  }
  const uint32_t n = image->numcomps;
  if (n < 1 || n > 4) {
    reason = "unsupported number of components (" + std::to_string(n) + ")";
    return false;
  }
  if (image->color_space == OPJ_CLRSPC_CMYK || image->color_space == OPJ_CLRSPC_EYCC) {
    reason = "unsupported JPEG 2000 colour space";
    return false;
  }
  for (uint32_t c = 0; c < n; ++c) {
    const opj_image_comp_t& comp = image->comps[c];
    if (comp.prec < 1 || comp.prec > 31 || comp.dx < 1 || comp.dy < 1 || comp.dx > 255 || comp.dy > 255) {
      reason = "invalid component parameters";
      return false;
    }
  }
  if (!opj_decode(codec.get(), stream.get(), image.get()) || !opj_end_decompress(codec.get(), stream.get()))
    return fail("corrupt JPEG 2000 data");

  // Components may be subsampled; each pixel takes the nearest sample.
  for (uint32_t c = 0; c < n; ++c) {
    const opj_image_comp_t& comp = image->comps[c];
    if (!comp.data || comp.w == 0 || comp.h == 0 || comp.w > W || comp.h > H) {
      reason = "unexpected component layout";
      return false;
    }
  }
  const bool colour = n >= 3;
  const uint32_t alphaIndex = colour ? 3 : 1;
  const bool hasAlpha = n > alphaIndex;
  const bool ycc = colour && image->color_space == OPJ_CLRSPC_SYCC;
  const int w = static_cast<int>(W), h = static_cast<int>(H);

  IEBitmap bmp;
  IEBitmap* alpha = nullptr;
  if (!AllocateRgb(bmp, w, h, hasAlpha, alpha, reason)) return false;
  std::vector<std::vector<uint32_t>> column(n);
  for (uint32_t c = 0; c < n; ++c) {
    column[c].resize(W);
    for (uint64_t x = 0; x < W; ++x) column[c][x] = static_cast<uint32_t>(x * image->comps[c].w / W);
  }
  auto sample = [&](uint32_t c, uint64_t x, uint64_t y) {
    const opj_image_comp_t& comp = image->comps[c];
    const uint64_t row = y * comp.h / H;
    return To8(comp.data[row * comp.w + column[c][x]], static_cast<int>(comp.prec), comp.sgnd != 0);
  };
  bool transparent = false;
  for (int y = 0; y < h; ++y) {
    uint8_t* dst = bmp.ScanLine(y);
    uint8_t* a = alpha ? alpha->ScanLine(y) : nullptr;
    for (int x = 0; x < w; ++x) {
      if (!colour) {
        dst[3 * x] = dst[3 * x + 1] = dst[3 * x + 2] = sample(0, x, y);
      } else if (ycc) {
        const double Y = sample(0, x, y), cb = sample(1, x, y) - 128.0, cr = sample(2, x, y) - 128.0;
        dst[3 * x + 2] = Clamp8(Y + 1.402 * cr);
        dst[3 * x + 1] = Clamp8(Y - 0.344136 * cb - 0.714136 * cr);
        dst[3 * x] = Clamp8(Y + 1.772 * cb);
      } else {
        dst[3 * x + 2] = sample(0, x, y);
        dst[3 * x + 1] = sample(1, x, y);
        dst[3 * x] = sample(2, x, y);
      }
      if (a) {
        a[x] = sample(alphaIndex, x, y);
        transparent |= a[x] != 255;
      }
    }
  }
  SettleAlpha(bmp, transparent);
  out = std::move(bmp);
  return true;
}

bool EncodeJp2(std::FILE* out, const IEBitmap& bmp, const SaveParams&, const std::string& ext, std::string& reason) {
  const bool grey = bmp.PixelFormat() == IEPixelFormat::ie8g;
  if (bmp.IsEmpty() || (!grey && bmp.PixelFormat() != IEPixelFormat::ie24RGB)) {
    reason = "the picture is empty";
    return false;
  }
  const int w = bmp.Width(), h = bmp.Height();
  const IEBitmap* alpha = HasTransparency(bmp) ? bmp.AlphaChannelIfAny() : nullptr;
  const int colours = grey ? 1 : 3;
  const int n = colours + (alpha ? 1 : 0);

  opj_image_cmptparm_t parms[4];
  std::memset(parms, 0, sizeof parms);
  for (int c = 0; c < n; ++c) {
    parms[c].dx = parms[c].dy = 1;
    parms[c].w = static_cast<OPJ_UINT32>(w);
    parms[c].h = static_cast<OPJ_UINT32>(h);
    parms[c].prec = 8;
    parms[c].sgnd = 0;
  }
  ImagePtr image(opj_image_create(static_cast<OPJ_UINT32>(n), parms, grey ? OPJ_CLRSPC_GRAY : OPJ_CLRSPC_SRGB));
  if (!image) {
    reason = "not enough memory";
    return false;
  }
  image->x0 = image->y0 = 0;
  image->x1 = static_cast<OPJ_UINT32>(w);
  image->y1 = static_cast<OPJ_UINT32>(h);
  if (alpha) image->comps[n - 1].alpha = 1;
  for (int y = 0; y < h; ++y) {
    const uint8_t* src = bmp.ScanLine(y);
    const std::size_t base = static_cast<std::size_t>(y) * w;
    for (int x = 0; x < w; ++x) {
      if (grey) {
        image->comps[0].data[base + x] = src[x];
      } else {
        image->comps[0].data[base + x] = src[3 * x + 2];
        image->comps[1].data[base + x] = src[3 * x + 1];
        image->comps[2].data[base + x] = src[3 * x];
      }
      if (alpha) image->comps[n - 1].data[base + x] = alpha->ScanLine(y)[x];
    }
  }

  opj_cparameters_t parameters;
  opj_set_default_encoder_parameters(&parameters);
  // One lossless layer: the reversible wavelet with no rate target.
  parameters.tcp_numlayers = 1;
  parameters.tcp_rates[0] = 0;
  parameters.cp_disto_alloc = 1;
  parameters.irreversible = 0;
  parameters.tcp_mct = grey ? 0 : 1;
  // Each resolution level halves the picture; the smallest must keep a pixel.
  int levels = 1;
  while (levels < 6 && (std::min(w, h) >> levels) >= 1) ++levels;
  parameters.numresolution = levels;

  const OPJ_CODEC_FORMAT kind = ext == "jp2" ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K;
  CodecPtr codec(opj_create_compress(kind));
  StreamPtr stream(opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_FALSE));
  if (!codec || !stream) {
    reason = "not enough memory";
    return false;
  }
  std::string libraryError;
  Attach(codec.get(), &libraryError);
  opj_stream_set_user_data(stream.get(), out, nullptr);
  opj_stream_set_write_function(stream.get(), WriteFn);
  opj_stream_set_skip_function(stream.get(), SkipFn);
  opj_stream_set_seek_function(stream.get(), SeekFn);
  errno = 0;
  if (!opj_setup_encoder(codec.get(), &parameters, image.get()) ||
      !opj_start_compress(codec.get(), image.get(), stream.get()) || !opj_encode(codec.get(), stream.get()) ||
      !opj_end_compress(codec.get(), stream.get())) {
    if (std::ferror(out))
      reason = ErrnoMessage(errno ? errno : EIO);
    else
      reason = libraryError.empty() ? "cannot encode the picture as JPEG 2000" : libraryError;
    return false;
  }
  if (std::ferror(out)) {
    reason = ErrnoMessage(errno ? errno : EIO);
    return false;
  }
  return true;
}

}  // namespace velmora::codecs
