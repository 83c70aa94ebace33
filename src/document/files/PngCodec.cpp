// PNG through libpng.
//
// libpng reports errors by calling back, and the callback longjmps to the
// setjmp in the *Core functions below. A longjmp skips destructors, so
// those functions hold no object that has one, keep what outlives the jump
// in a plain struct owned by their caller, and leave the clean-up
// (png_destroy_*_struct, the row buffer) to that caller.
#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

#include <png.h>

#include "document/files/ImageCodecs.h"

namespace velmora::codecs {

namespace {

// libpng reads the ancillary chunks it keeps whole into memory; a chunk
// claiming gigabytes, or thousands of chunks, are refused.
constexpr png_alloc_size_t kMaxChunkBytes = 16u << 20;
constexpr png_uint_32 kMaxCachedChunks = 256;

struct PngState {
  png_structp png;
  png_infop info;
  png_bytep row;
  std::FILE* file;
  const ImageLimits* limits;
  IEBitmap* bmp;           // decoded into
  const IEBitmap* source;  // encoded from
  png_uint_32 width, height;
  bool tooLarge;
  bool noMemory;
  char warning[256];
  char message[512];
};

void OnPngError(png_structp png, png_const_charp text) {
  auto* s = static_cast<PngState*>(png_get_error_ptr(png));
  // libpng explains a refused header only in the warning before the error.
  const bool header = s->warning[0] && std::strstr(text, "IHDR");
  if (header && std::strstr(s->warning, "exceeds user limit"))
    std::snprintf(s->message, sizeof s->message, "picture too large (%s)", s->warning);
  else if (header)
    std::snprintf(s->message, sizeof s->message, "%s (%s)", text, s->warning);
  else
    std::snprintf(s->message, sizeof s->message, "%s", text);
  png_longjmp(png, 1);
}

// Warnings are about ancillary data (colour profiles, text, gamma): the
// pixels are fine. The last one is kept to explain a following error.
//
// One exception: libpng only warns about a chunk longer than the chunk
// allocation limit, and then allocates it (and clears it) all the same.
// Image data is streamed, never held whole, so only other chunks fail.
void OnPngWarning(png_structp png, png_const_charp text) {
  auto* s = static_cast<PngState*>(png_get_error_ptr(png));
  std::snprintf(s->warning, sizeof s->warning, "%s", text);
  constexpr png_uint_32 kIDAT = 0x49444154;
  if (std::strstr(text, "chunk data is too large") && png_get_io_chunk_type(png) != kIDAT) {
    s->warning[0] = '\0';
    png_error(png, "chunk too large");
  }
}

// Ancillary chunks Velmora does not use (colour management, text, times,
// histograms, ...). libpng skips them in small reads instead of allocating
// and parsing them, whatever size they claim.
constexpr png_byte kIgnoredChunks[] =
    "bKGD\0cHRM\0eXIf\0gAMA\0hIST\0iCCP\0iTXt\0oFFs\0pCAL\0pHYs\0sBIT\0sCAL\0sPLT\0sRGB\0sTER\0tEXt\0tIME\0zTXt";

// Fails with the system's reason for the last stream error.
[[noreturn]] void StreamError(png_structp png, int err, const char* fallback) {
  char buffer[256];
  png_error(png, err ? strerror_r(err, buffer, sizeof buffer) : fallback);
}

void ReadData(png_structp png, png_bytep data, png_size_t length) {
  auto* s = static_cast<PngState*>(png_get_io_ptr(png));
  errno = 0;
  if (std::fread(data, 1, length, s->file) != length) {
    if (std::ferror(s->file)) StreamError(png, errno, "read error");
    png_error(png, "unexpected end of file");
  }
}

void WriteData(png_structp png, png_bytep data, png_size_t length) {
  auto* s = static_cast<PngState*>(png_get_io_ptr(png));
  errno = 0;
  if (std::fwrite(data, 1, length, s->file) != length) StreamError(png, errno, "write error");
}

void FlushData(png_structp png) {
  auto* s = static_cast<PngState*>(png_get_io_ptr(png));
  errno = 0;
  if (std::fflush(s->file) != 0) StreamError(png, errno, "write error");
}

// ---------------------------------------------------------------------------
// Decoding

// Pixel i of a row of the given pass: where it goes in the picture.
inline png_uint_32 ColumnOf(png_uint_32 i, int pass, bool interlaced) {
  return interlaced ? PNG_COL_FROM_PASS_COL(i, pass) : i;
}

// See the note at the top of the file: no destructors in this frame.
bool DecodePngCore(PngState* s) {
  png_structp png = s->png;
  png_infop info = s->info;
  if (setjmp(png_jmpbuf(png))) return false;

  png_set_read_fn(png, s, ReadData);
  const png_uint_32 side = static_cast<png_uint_32>(std::clamp(s->limits->maxSide, 1, 0x7FFFFFFF));
  png_set_user_limits(png, side, side);
  png_set_chunk_malloc_max(png, kMaxChunkBytes);
  png_set_chunk_cache_max(png, kMaxCachedChunks);
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, kIgnoredChunks, (sizeof kIgnoredChunks) / 5);
  png_read_info(png, info);

  int depth, colour, interlace;
  png_get_IHDR(png, info, &s->width, &s->height, &depth, &colour, &interlace, nullptr, nullptr);
  if (!CheckDimensions(s->width, s->height, *s->limits).empty()) {
    s->tooLarge = true;
    return false;
  }
  // Grey with one bit and no transparent level is a bi-level picture: its
  // rows already are ie1g rows (bit 7 leftmost, 1 = white).
  const bool bilevel = colour == PNG_COLOR_TYPE_GRAY && depth == 1 && !png_get_valid(png, info, PNG_INFO_tRNS);
  if (!bilevel) {
    png_set_expand(png);  // palette to RGB, grey to 8 bits, tRNS to alpha
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
    png_set_bgr(png);
  }
  // No png_set_interlace_handling: the rows of each pass come one by one
  // and are put in place below, so no whole-picture buffer is needed.
  png_read_update_info(png, info);
  const int channels = png_get_channels(png, info);
  if (!bilevel && (png_get_bit_depth(png, info) != 8 || (channels != 3 && channels != 4)))
    png_error(png, "unexpected pixel layout");
  const bool alpha = !bilevel && channels == 4;

  IEBitmap& bmp = *s->bmp;
  const int w = static_cast<int>(s->width), h = static_cast<int>(s->height);
  if (!bmp.Allocate(w, h, bilevel ? IEPixelFormat::ie1g : IEPixelFormat::ie24RGB) || bmp.IsEmpty()) {
    s->noMemory = true;
    return false;
  }
  IEBitmap* alphaChannel = nullptr;
  if (alpha) {
    alphaChannel = &bmp.AlphaChannel();
    if (alphaChannel->Width() != w || alphaChannel->Height() != h) {
      s->noMemory = true;
      return false;
    }
  }
  s->row = static_cast<png_bytep>(png_malloc(png, png_get_rowbytes(png, info)));
  // Bits past the right edge stay 0 whatever the file holds there.
  if (bilevel)
    for (int y = 0; y < h; ++y) std::memset(bmp.ScanLine(y), 0, bmp.RowLen());
  const uint8_t lastByteMask = static_cast<uint8_t>(0xFF00 >> (((s->width - 1) & 7) + 1));

  const bool interlaced = interlace != PNG_INTERLACE_NONE;
  const int passes = interlaced ? 7 : 1;
  bool transparent = false;
  for (int pass = 0; pass < passes; ++pass) {
    const png_uint_32 cols = interlaced ? PNG_PASS_COLS(s->width, pass) : s->width;
    const png_uint_32 rows = interlaced ? PNG_PASS_ROWS(s->height, pass) : s->height;
    if (cols == 0 || rows == 0) continue;  // libpng skips empty passes too
    for (png_uint_32 r = 0; r < rows; ++r) {
      png_read_row(png, s->row, nullptr);
      const int y = static_cast<int>(interlaced ? PNG_ROW_FROM_PASS_ROW(r, pass) : r);
      uint8_t* dst = bmp.ScanLine(y);
      const png_bytep src = s->row;
      if (bilevel) {
        if (!interlaced) {
          std::memcpy(dst, src, (cols + 7) / 8);
          dst[(cols - 1) / 8] &= lastByteMask;
          continue;
        }
        for (png_uint_32 i = 0; i < cols; ++i) {
          const png_uint_32 x = ColumnOf(i, pass, true);
          const uint8_t mask = static_cast<uint8_t>(0x80 >> (x & 7));
          if ((src[i >> 3] >> (7 - (i & 7))) & 1)
            dst[x >> 3] |= mask;
          else
            dst[x >> 3] &= static_cast<uint8_t>(~mask);
        }
      } else if (!alpha) {
        if (!interlaced) {
          std::memcpy(dst, src, static_cast<std::size_t>(cols) * 3);
          continue;
        }
        for (png_uint_32 i = 0; i < cols; ++i) std::memcpy(dst + 3 * ColumnOf(i, pass, true), src + 3 * i, 3);
      } else {
        uint8_t* a = alphaChannel->ScanLine(y);
        for (png_uint_32 i = 0; i < cols; ++i) {
          const png_uint_32 x = ColumnOf(i, pass, interlaced);
          std::memcpy(dst + 3 * x, src + 4 * i, 3);
          a[x] = src[4 * i + 3];
          transparent |= src[4 * i + 3] != 255;
        }
      }
    }
  }
  // Reads up to IEND: a file cut after its pixels still fails, and so do
  // damaged chunks after them.
  png_read_end(png, nullptr);

  SettleAlpha(bmp, transparent);
  return true;
}

// ---------------------------------------------------------------------------
// Encoding

// See the note at the top of the file: no destructors in this frame.
bool EncodePngCore(PngState* s) {
  png_structp png = s->png;
  png_infop info = s->info;
  if (setjmp(png_jmpbuf(png))) return false;

  png_set_write_fn(png, s, WriteData, FlushData);
  const IEBitmap& bmp = *s->source;
  const png_uint_32 w = static_cast<png_uint_32>(bmp.Width()), h = static_cast<png_uint_32>(bmp.Height());
  const bool transparent = HasTransparency(bmp);
  const IEBitmap* alpha = transparent ? bmp.AlphaChannelIfAny() : nullptr;
  int colour = PNG_COLOR_TYPE_RGB, depth = 8, channels = 3;
  switch (bmp.PixelFormat()) {
    case IEPixelFormat::ie24RGB:
      colour = transparent ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB;
      channels = transparent ? 4 : 3;
      break;
    case IEPixelFormat::ie8g:
      colour = transparent ? PNG_COLOR_TYPE_GRAY_ALPHA : PNG_COLOR_TYPE_GRAY;
      channels = transparent ? 2 : 1;
      break;
    case IEPixelFormat::ie1g:
      colour = PNG_COLOR_TYPE_GRAY;
      depth = 1;
      channels = 1;
      break;
    case IEPixelFormat::ie8p:
      colour = PNG_COLOR_TYPE_PALETTE;
      channels = 1;
      break;
    default:
      png_error(png, "unsupported pixel format");
  }
  png_set_IHDR(png, info, w, h, depth, colour, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (colour == PNG_COLOR_TYPE_PALETTE) {
    // Only the entries up to the highest one in use.
    int used = 0;
    for (png_uint_32 y = 0; y < h; ++y) {
      const uint8_t* row = bmp.ScanLine(static_cast<int>(y));
      for (png_uint_32 x = 0; x < w; ++x) used = std::max(used, row[x] + 1);
    }
    png_color palette[256];
    for (int i = 0; i < used; ++i) {
      const IETriple& t = bmp.Palette()[i];
      palette[i] = png_color{t.r, t.g, t.b};
    }
    png_set_PLTE(png, info, palette, used);
  }
  png_write_info(png, info);
  if (colour == PNG_COLOR_TYPE_RGB || colour == PNG_COLOR_TYPE_RGB_ALPHA) png_set_bgr(png);

  const bool direct = !transparent;  // rows go out as they are stored
  if (!direct) s->row = static_cast<png_bytep>(png_malloc(png, static_cast<png_alloc_size_t>(w) * channels));
  for (png_uint_32 y = 0; y < h; ++y) {
    const uint8_t* src = bmp.ScanLine(static_cast<int>(y));
    if (direct) {
      // libpng only reads the rows it is given.
      png_write_row(png, const_cast<png_bytep>(src));
      continue;
    }
    const uint8_t* a = alpha->ScanLine(static_cast<int>(y));
    png_bytep out = s->row;
    for (png_uint_32 x = 0; x < w; ++x) {
      if (channels == 4) {
        std::memcpy(out, src + 3 * x, 3);
        out[3] = a[x];
        out += 4;
      } else {
        out[0] = src[x];
        out[1] = a[x];
        out += 2;
      }
    }
    png_write_row(png, s->row);
  }
  png_write_end(png, info);
  return true;
}

}  // namespace

bool DecodePng(std::FILE* in, const DecodeOptions& options, IEBitmap& out, std::string& reason) {
  const ImageLimits& limits = options.limits;
  auto s = std::make_unique<PngState>();
  std::memset(static_cast<void*>(s.get()), 0, sizeof(PngState));
  s->file = in;
  s->limits = &limits;
  s->bmp = &out;
  s->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, s.get(), OnPngError, OnPngWarning);
  if (s->png) s->info = png_create_info_struct(s->png);
  // Clean-up also runs when the bitmap code throws (out of memory).
  struct Cleanup {
    PngState* s;
    ~Cleanup() {
      if (s->row) png_free(s->png, s->row);
      png_destroy_read_struct(&s->png, s->info ? &s->info : nullptr, nullptr);
    }
  } cleanup{s.get()};
  if (!s->png || !s->info) {
    reason = "not enough memory";
    return false;
  }
  if (DecodePngCore(s.get())) return true;
  if (s->tooLarge)
    reason = CheckDimensions(s->width, s->height, limits);
  else if (s->noMemory)
    reason = "not enough memory for a " + std::to_string(s->width) + " x " + std::to_string(s->height) + " picture";
  else
    reason = s->message;
  return false;
}

bool EncodePng(std::FILE* out, const IEBitmap& bmp, const SaveParams&, const std::string&, std::string& reason) {
  if (bmp.IsEmpty()) {
    reason = "the picture is empty";
    return false;
  }
  auto s = std::make_unique<PngState>();
  std::memset(static_cast<void*>(s.get()), 0, sizeof(PngState));
  s->file = out;
  s->source = &bmp;
  s->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, s.get(), OnPngError, OnPngWarning);
  if (s->png) s->info = png_create_info_struct(s->png);
  struct Cleanup {
    PngState* s;
    ~Cleanup() {
      if (s->row) png_free(s->png, s->row);
      png_destroy_write_struct(&s->png, s->info ? &s->info : nullptr);
    }
  } cleanup{s.get()};
  if (!s->png || !s->info) {
    reason = "not enough memory";
    return false;
  }
  if (EncodePngCore(s.get())) return true;
  reason = s->message;
  return false;
}

}  // namespace velmora::codecs
