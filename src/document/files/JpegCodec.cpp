// JPEG through libjpeg(-turbo).
//
// libjpeg reports errors by calling back, and the callback must not return:
// it longjmps to the setjmp in the *Core functions below. A longjmp skips
// destructors, so those functions hold no object that has one, keep every
// piece of state that outlives the jump in a plain struct owned by their
// caller, and leave all clean-up (jpeg_destroy_*, freeing buffers) to that
// caller.
#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

// jpeglib.h needs FILE and size_t declared first.
#include <jerror.h>
#include <jpeglib.h>

#include "document/files/Exif.h"
#include "document/files/ImageCodecs.h"
#include "document/files/Orientation.h"

namespace velmora::codecs {

namespace {

// A progressive (or multi-scan) file can make the decoder run over the whole
// coefficient buffer once per scan; a few kilobytes of crafted scans would
// keep it busy for minutes. Real encoders use a dozen or so.
constexpr int kMaxScans = 1000;

struct ErrorManager {
  jpeg_error_mgr pub;  // first: libjpeg only knows this part
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX + 64];
};

[[noreturn]] void FailAndJump(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  std::longjmp(err->jump, 1);
}

[[noreturn]] void OnError(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  FailAndJump(cinfo);
}

// Warnings that say nothing about the pixels.
bool IsHarmlessWarning(const jpeg_error_mgr* err) {
  switch (err->msg_code) {
    case JWRN_JFIF_MAJOR:   // a JFIF version from the future
    case JWRN_ADOBE_XFORM:  // unknown transform code; libjpeg guesses from the components
    case JWRN_BOGUS_ICC:    // only when reading ICC profiles
      return true;
    case JWRN_EXTRANEOUS_DATA:
      // Junk just before the end-of-image marker: every scan has been read,
      // so the picture is whole. Common in camera files.
      return err->msg_parm.i[1] == 0xD9;
    default:
      return false;
  }
}

// Every other warning means corrupt or missing data, which libjpeg would
// paper over with grey blocks; a picture that is not what the file holds
// is refused instead.
void OnMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;  // trace output
  if (IsHarmlessWarning(cinfo->err)) {
    cinfo->err->num_warnings++;
    return;
  }
  OnError(cinfo);
}

void OnProgress(j_common_ptr cinfo) {
  if (!cinfo->is_decompressor) return;
  auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (d->input_scan_number > kMaxScans) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    std::snprintf(err->message, sizeof err->message, "too many scans (more than %d)", kMaxScans);
    FailAndJump(cinfo);
  }
}

void InstallErrorManager(ErrorManager& err) {
  jpeg_std_error(&err.pub);
  err.pub.error_exit = OnError;
  err.pub.emit_message = OnMessage;
  err.message[0] = '\0';
}

bool FitsLimits(uint64_t w, uint64_t h, const ImageLimits& limits) {
  return CheckDimensions(w, h, limits).empty();
}

// ---------------------------------------------------------------------------
// Decoding

struct DecodeState {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  jpeg_progress_mgr progress;
  std::FILE* in;
  const ImageLimits* limits;
  IEBitmap* out;
  bool tooLarge;
  bool noMemory;
  int targetSide;   // > 0: decode scaled down, at least this on the longer side
  int orientation;  // EXIF orientation, 1 when absent
};

// The first EXIF segment's orientation.
int OrientationOf(j_decompress_ptr cinfo) {
  for (jpeg_saved_marker_ptr m = cinfo->marker_list; m; m = m->next)
    if (m->marker == JPEG_APP0 + 1 && m->data_length >= 6 && std::memcmp(m->data, "Exif\0", 6) == 0)
      return exif::Orientation(m->data, m->data_length);
  return 1;
}

// The smallest of libjpeg's scales n/8 that keeps the longer side at least
// `side`: the DCT then skips most of the work.
void ChooseScale(j_decompress_ptr cinfo, int side) {
  const uint64_t longer = std::max(cinfo->image_width, cinfo->image_height);
  unsigned num = 1;
  while (num < 8 && (longer * num + 7) / 8 < static_cast<uint64_t>(side)) ++num;
  cinfo->scale_num = num;
  cinfo->scale_denom = 8;
  // A thumbnail is reduced further afterwards: the faster transforms'
  // rounding does not show.
  cinfo->dct_method = JDCT_IFAST;
  cinfo->do_fancy_upsampling = FALSE;
}

// Converts a row of CMYK samples to b, g, r. libjpeg hands Adobe files
// over as they are stored, inverted (0 = full ink); files without the
// Adobe marker store ink amounts directly.
void CmykRowToBgr(const JSAMPLE* in, uint8_t* out, JDIMENSION width, bool inverted) {
  for (JDIMENSION x = 0; x < width; ++x, in += 4, out += 3) {
    unsigned c = in[0], m = in[1], y = in[2], k = in[3];
    if (!inverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
    out[0] = static_cast<uint8_t>((y * k + 127) / 255);
    out[1] = static_cast<uint8_t>((m * k + 127) / 255);
    out[2] = static_cast<uint8_t>((c * k + 127) / 255);
  }
}

// Reads only the header and the EXIF segment: the picture's size, its
// orientation and the JPEG thumbnail a camera stored beside it (copied into
// *s->thumbnail). No destructors in this frame either.
bool ReadHeaderCore(DecodeState* s, std::vector<uint8_t>* thumbnail) {
  j_decompress_ptr cinfo = &s->cinfo;
  cinfo->err = &s->err.pub;
  InstallErrorManager(s->err);
  if (setjmp(s->err.jump)) return false;
  jpeg_create_decompress(cinfo);
  jpeg_stdio_src(cinfo, s->in);
  jpeg_save_markers(cinfo, JPEG_APP0 + 1, 0xFFFF);
  jpeg_read_header(cinfo, TRUE);
  s->orientation = OrientationOf(cinfo);
  for (jpeg_saved_marker_ptr m = cinfo->marker_list; m; m = m->next)
    if (m->marker == JPEG_APP0 + 1 && m->data_length >= 6 && std::memcmp(m->data, "Exif\0", 6) == 0 &&
        exif::Thumbnail(m->data, m->data_length, *thumbnail))
      break;
  return true;
}

// See the note at the top of the file: no destructors in this frame.
bool DecodeJpegCore(DecodeState* s) {
  j_decompress_ptr cinfo = &s->cinfo;
  cinfo->err = &s->err.pub;
  InstallErrorManager(s->err);
  if (setjmp(s->err.jump)) return false;

  jpeg_create_decompress(cinfo);
  // The coefficient buffers of a progressive picture within the pixel limit
  // (at most four full-size components of 16-bit coefficients) and some
  // room for tables; beyond it libjpeg fails instead of growing.
  constexpr uint64_t kMaxBudget = 0x7FFFFFFFFFFFFFFFull;  // the largest long
  constexpr uint64_t kTables = 64u << 20;
  const uint64_t pixels = s->limits->maxPixels;
  const uint64_t budget = pixels < (kMaxBudget - kTables) / 8 ? pixels * 8 + kTables : kMaxBudget;
  cinfo->mem->max_memory_to_use = static_cast<long>(budget);
  s->progress.progress_monitor = OnProgress;
  cinfo->progress = &s->progress;
  jpeg_stdio_src(cinfo, s->in);
  jpeg_save_markers(cinfo, JPEG_APP0 + 1, 0xFFFF);
  jpeg_read_header(cinfo, TRUE);
  s->orientation = OrientationOf(cinfo);

  if (!FitsLimits(cinfo->image_width, cinfo->image_height, *s->limits)) {
    s->tooLarge = true;
    return false;
  }
  const bool cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
  // libjpeg-turbo converts grey and YCbCr straight into the b, g, r order
  // of the bitmap's rows; CMYK goes through a row of its own.
  cinfo->out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
  if (s->targetSide > 0) ChooseScale(cinfo, s->targetSide);
  jpeg_start_decompress(cinfo);

  const JDIMENSION width = cinfo->output_width;
  JSAMPARRAY cmykRow = nullptr;
  if (cmyk)
    cmykRow = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE, width * 4, 1);
  if (!s->out->Allocate(static_cast<int>(width), static_cast<int>(cinfo->output_height), IEPixelFormat::ie24RGB) ||
      s->out->IsEmpty()) {
    s->noMemory = true;
    return false;
  }
  while (cinfo->output_scanline < cinfo->output_height) {
    const int y = static_cast<int>(cinfo->output_scanline);
    JSAMPROW row = cmyk ? cmykRow[0] : s->out->ScanLine(y);
    if (jpeg_read_scanlines(cinfo, &row, 1) != 1) ERREXIT(cinfo, JERR_INPUT_EOF);
    if (cmyk) CmykRowToBgr(row, s->out->ScanLine(y), width, cinfo->saw_Adobe_marker);
  }
  jpeg_finish_decompress(cinfo);
  return true;
}

// ---------------------------------------------------------------------------
// Encoding

// Output into a growing malloc'd buffer. libjpeg's own memory destination
// loses its buffer when an error strikes after it has grown; this one keeps
// it where the caller can free it.
struct MemoryDestination {
  jpeg_destination_mgr pub;  // first
  JOCTET* buffer;
  std::size_t capacity;
  std::size_t size;
};

void MemInit(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<MemoryDestination*>(cinfo->dest);
  if (!d->buffer) {
    d->capacity = 64 * 1024;
    d->buffer = static_cast<JOCTET*>(std::malloc(d->capacity));
    if (!d->buffer) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
  }
  d->pub.next_output_byte = d->buffer;
  d->pub.free_in_buffer = d->capacity;
}

boolean MemGrow(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<MemoryDestination*>(cinfo->dest);
  const std::size_t used = d->capacity;  // the whole buffer is full when called
  const std::size_t bigger = d->capacity * 2;
  auto* p = static_cast<JOCTET*>(std::realloc(d->buffer, bigger));
  if (!p) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
  d->buffer = p;
  d->capacity = bigger;
  d->pub.next_output_byte = d->buffer + used;
  d->pub.free_in_buffer = bigger - used;
  return TRUE;
}

void MemTerm(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<MemoryDestination*>(cinfo->dest);
  d->size = d->capacity - d->pub.free_in_buffer;
}

struct EncodeState {
  jpeg_compress_struct cinfo;
  ErrorManager err;
  MemoryDestination memory;
  std::FILE* out;  // nullptr: into `memory`
  const IEBitmap* bmp;
  int quality;
  int smoothing;
  bool optimize;
  const std::vector<uint8_t>* exif;  // APP1 payload to store, or nullptr
};

// See the note at the top of the file: no destructors in this frame.
bool EncodeJpegCore(EncodeState* s) {
  j_compress_ptr cinfo = &s->cinfo;
  cinfo->err = &s->err.pub;
  InstallErrorManager(s->err);
  if (setjmp(s->err.jump)) return false;

  jpeg_create_compress(cinfo);
  if (s->out) {
    jpeg_stdio_dest(cinfo, s->out);
  } else {
    s->memory.pub.init_destination = MemInit;
    s->memory.pub.empty_output_buffer = MemGrow;
    s->memory.pub.term_destination = MemTerm;
    cinfo->dest = &s->memory.pub;
  }
  const IEBitmap& bmp = *s->bmp;
  const bool grey = bmp.PixelFormat() != IEPixelFormat::ie24RGB;
  cinfo->image_width = static_cast<JDIMENSION>(bmp.Width());
  cinfo->image_height = static_cast<JDIMENSION>(bmp.Height());
  cinfo->input_components = grey ? 1 : 3;
  cinfo->in_color_space = grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
  jpeg_set_defaults(cinfo);
  jpeg_set_quality(cinfo, s->quality, TRUE);
  cinfo->smoothing_factor = s->smoothing;
  cinfo->optimize_coding = s->optimize ? TRUE : FALSE;
  jpeg_start_compress(cinfo, TRUE);
  if (s->exif)
    jpeg_write_marker(cinfo, JPEG_APP0 + 1, s->exif->data(), static_cast<unsigned>(s->exif->size()));

  const bool bilevel = bmp.PixelFormat() == IEPixelFormat::ie1g;
  JSAMPARRAY greyRow = nullptr;
  if (bilevel)
    greyRow = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                          cinfo->image_width, 1);
  while (cinfo->next_scanline < cinfo->image_height) {
    const int y = static_cast<int>(cinfo->next_scanline);
    JSAMPROW row;
    if (bilevel) {
      for (int x = 0; x < bmp.Width(); ++x) greyRow[0][x] = bmp.Bit(x, y) ? 255 : 0;
      row = greyRow[0];
    } else {
      // libjpeg only reads the rows it is given.
      row = const_cast<JSAMPROW>(bmp.ScanLine(y));
    }
    jpeg_write_scanlines(cinfo, &row, 1);
  }
  jpeg_finish_compress(cinfo);
  return true;
}

bool CheckEncodable(const IEBitmap& bmp, std::string& reason) {
  if (bmp.IsEmpty()) {
    reason = "the picture is empty";
    return false;
  }
  switch (bmp.PixelFormat()) {
    case IEPixelFormat::ie24RGB:
    case IEPixelFormat::ie8g:
    case IEPixelFormat::ie1g:
      return true;
    default:
      reason = std::string("JPEG cannot hold ") + PixelFormatName(bmp.PixelFormat()) + " pixels";
      return false;
  }
}

// An EXIF segment with a thumbnail 160 pixels wide; lower qualities are
// tried until it fits in one segment (empty when none does).
bool ExifThumbnailPayload(const IEBitmap& bmp, std::vector<uint8_t>& payload) {
  IEBitmap thumb;
  if (!MakeEmbeddedThumbnail(bmp, thumb)) return false;
  for (int quality : {80, 60, 40, 20}) {
    SaveParams p;
    p.jpegQuality = quality;
    std::vector<uint8_t> jpeg;
    std::string why;
    if (!EncodeJpegToMemory(thumb, p, jpeg, why)) return false;
    payload = exif::MakePayload(jpeg);
    if (!payload.empty()) return true;
  }
  return true;
}

bool Encode(std::FILE* out, const IEBitmap& bmp, const SaveParams& params, std::vector<uint8_t>* memory,
            std::string& reason) {
  if (!CheckEncodable(bmp, reason)) return false;
  auto s = std::make_unique<EncodeState>();
  std::memset(static_cast<void*>(s.get()), 0, sizeof(EncodeState));
  s->out = out;
  s->bmp = &bmp;
  s->quality = std::clamp(params.jpegQuality, 1, 100);
  s->smoothing = std::clamp(params.jpegSmooth, 0, 100);
  s->optimize = params.jpegOptimal;
  std::vector<uint8_t> exifPayload;
  if (params.embedThumbnail) {
    if (!ExifThumbnailPayload(bmp, exifPayload)) {
      reason = "not enough memory for the thumbnail";
      return false;
    }
    if (!exifPayload.empty()) s->exif = &exifPayload;
  }
  // Clean-up also runs when the bitmap code throws (out of memory).
  struct Cleanup {
    EncodeState* s;
    ~Cleanup() {
      jpeg_destroy_compress(&s->cinfo);
      std::free(s->memory.buffer);
    }
  } cleanup{s.get()};
  const bool ok = EncodeJpegCore(s.get());
  if (!ok) {
    reason = s->err.message;
    return false;
  }
  if (memory) memory->assign(s->memory.buffer, s->memory.buffer + s->memory.size);
  return true;
}

}  // namespace

namespace {

// A thumbnail from the JPEG a camera stored in the EXIF segment, when it is
// large enough for `options.targetSide` and has the photo's proportions
// (some cameras pad it with black bars): decoding it skips the whole
// photo. False, with the stream back at its start, otherwise.
bool DecodeStoredThumbnail(std::FILE* in, const DecodeOptions& options, IEBitmap& out) {
  const long start = std::ftell(in);
  if (start < 0) return false;
  auto s = std::make_unique<DecodeState>();
  std::memset(static_cast<void*>(s.get()), 0, sizeof(DecodeState));
  s->in = in;
  std::vector<uint8_t> stored;
  bool used = false;
  {
    struct Cleanup {
      DecodeState* s;
      ~Cleanup() { jpeg_destroy_decompress(&s->cinfo); }
    } cleanup{s.get()};
    if (ReadHeaderCore(s.get(), &stored) && !stored.empty() && s->cinfo.image_width > 0 &&
        s->cinfo.image_height > 0) {
      const double photoAspect = static_cast<double>(s->cinfo.image_width) / s->cinfo.image_height;
      std::FILE* mem = fmemopen(stored.data(), stored.size(), "rb");
      if (mem) {
        DecodeOptions small = options;
        small.targetSide = 0;  // decoded whole: it is small
        IEBitmap thumb;
        std::string ignored;
        if (DecodeJpeg(mem, small, thumb, ignored) && !thumb.IsEmpty()) {
          const double aspect = static_cast<double>(thumb.Width()) / thumb.Height();
          const int longer = std::max(thumb.Width(), thumb.Height());
          if (longer >= options.targetSide && std::abs(aspect / photoAspect - 1) < 0.02 &&
              ApplyOrientation(thumb, s->orientation)) {
            out = std::move(thumb);
            used = true;
          }
        }
        std::fclose(mem);
      }
    }
  }
  if (!used) {
    std::clearerr(in);
    if (std::fseek(in, start, SEEK_SET) != 0) return false;
  }
  return used;
}

}  // namespace

bool DecodeJpeg(std::FILE* in, const DecodeOptions& options, IEBitmap& out, std::string& reason) {
  if (options.targetSide > 0 && DecodeStoredThumbnail(in, options, out)) return true;
  const ImageLimits& limits = options.limits;
  auto s = std::make_unique<DecodeState>();
  std::memset(static_cast<void*>(s.get()), 0, sizeof(DecodeState));
  s->in = in;
  s->limits = &limits;
  s->out = &out;
  s->targetSide = options.targetSide;
  // Clean-up also runs when the bitmap code throws (out of memory).
  struct Cleanup {
    DecodeState* s;
    ~Cleanup() { jpeg_destroy_decompress(&s->cinfo); }
  } cleanup{s.get()};
  const bool ok = DecodeJpegCore(s.get());
  if (!ok) {
    if (s->tooLarge)
      reason = CheckDimensions(s->cinfo.image_width, s->cinfo.image_height, limits);
    else if (s->noMemory)
      reason = "not enough memory for a " + std::to_string(s->cinfo.output_width) + " x " +
               std::to_string(s->cinfo.output_height) + " picture";
    else
      reason = s->err.message;
  } else if (!ApplyOrientation(out, s->orientation)) {
    reason = "not enough memory to turn the picture upright";
    return false;
  }
  return ok;
}

bool EncodeJpeg(std::FILE* out, const IEBitmap& bmp, const SaveParams& params, const std::string&,
                std::string& reason) {
  return Encode(out, bmp, params, nullptr, reason);
}

bool EncodeJpegToMemory(const IEBitmap& bmp, const SaveParams& params, std::vector<uint8_t>& out,
                        std::string& reason) {
  std::vector<uint8_t> result;
  if (!Encode(nullptr, bmp, params, &result, reason)) return false;
  out = std::move(result);
  return true;
}

}  // namespace velmora::codecs
