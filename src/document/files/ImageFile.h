// Reading and writing picture files (no Qt): the format is chosen from the
// file name's extension in lower case. Every failure is a message naming
// the file and the reason; the caller's bitmap is left as it was.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "imaging/IEBitmap.h"

namespace velmora {

// Checked before any pixel memory is taken.
struct ImageLimits {
  int maxSide = 65535;                 // pixels per side
  uint64_t maxPixels = 300'000'000ULL;  // width x height
};
ImageLimits& DefaultImageLimits();  // process-wide, configurable

struct SaveParams {
  int jpegQuality = 80;     // 1..100
  int jpegSmooth = 0;       // 0..100
  bool jpegOptimal = false; // optimal Huffman coding
  // Store a thumbnail 160 pixels wide in the formats that carry one (JPEG
  // in its EXIF segment, TIFF as a second, reduced image).
  bool embedThumbnail = false;
};

struct IOResult {
  bool ok = true;
  std::string message;  // "<file>: <reason>" when !ok
  explicit operator bool() const { return ok; }
  static IOResult Fail(const std::string& file, const std::string& reason) { return {false, file + ": " + reason}; }
};

// Picture file formats, in the order of the open dialog's type list; the
// last ones are read beyond it (what phones and the web bring today).
enum class ImageFormat {
  Unknown,
  TIFF, GIF, JPEG, PCX, BMP, ICO, CUR, PNG, WMF, EMF, TGA, PNM, WBMP, JP2, J2K, DCX, RAW, PSD, AVI, MPEG, WMV,
  WEBP, HEIF, AVIF,
};

// Lower-case extension of a path, without the dot ("photo.JPG" -> "jpg");
// empty when the last path component has no dot.
std::string LowerExtension(const std::string& path);
// The format whose reader or writer takes files with this extension (any
// case, with or without the leading dot); the table is in FormatTable.h.
ImageFormat FormatFromExtension(const std::string& ext);
bool IsReadableExtension(const std::string& ext);
bool IsWritableExtension(const std::string& ext);

// Reads into `out` (24-bit RGB, or ie1g for bi-level files; an alpha channel
// when the file carries one). `out` is untouched on failure.
//  - PNG: every bit depth and colour type, interlaced or not; 16-bit
//    samples are scaled to 8 bits. Transparency (alpha or tRNS) becomes the
//    alpha channel with AlphaAllOpaque() false; a file whose pixels are all
//    opaque gives no channel. 1-bit grey without tRNS reads as ie1g.
//  - JPEG: grey, colour and CMYK/YCCK, as 24-bit RGB, never with alpha.
//    Damaged or truncated data is a failure, not a partly grey picture.
//  - PNM: P1 to P6 whatever the PNM extension; samples up to 65535 are
//    scaled to 8 bits; P1 and P4 read as ie1g.
//  - TIFF, GIF, BMP/DIB/RLE, ICO/CUR, TGA, PCX/DCX, WBMP: see ImageCodecs.h;
//    bi-level TIFF, BMP, PCX and WBMP files read as ie1g.
// JPEG and TIFF photos are turned upright by their EXIF/TIFF orientation.
// Sizes beyond `limits` fail before any pixel memory is taken.
IOResult ReadImage(const std::string& path, IEBitmap& out, const ImageLimits& limits = DefaultImageLimits());
// Reads with the JPEG reader whatever the extension.
IOResult ReadJPEG(const std::string& path, IEBitmap& out, const ImageLimits& limits = DefaultImageLimits());
// Reads with the reader of `format` whatever the extension.
IOResult ReadImageAs(const std::string& path, ImageFormat format, IEBitmap& out,
                     const ImageLimits& limits = DefaultImageLimits());

// Reads a picture for a thumbnail: its longer side at most `side` pixels,
// proportions kept, upright. JPEG is decoded at a reduced scale; the other
// formats are decoded whole, then reduced.
IOResult ReadThumbnail(const std::string& path, int side, IEBitmap& out,
                       const ImageLimits& limits = DefaultImageLimits());

// Writes atomically (temporary file in the same folder, fsync, rename); on
// failure an existing file keeps its content.
//  - JPEG: ie8g and ie1g as grey, everything else as colour. Quality is
//    clamped to 1..100 and smoothing to 0..100.
//  - PNG: ie24RGB as RGB, or RGBA when some alpha value is below 255; ie8g
//    as grey (grey + alpha likewise); ie1g as 1-bit grey; ie8p with its
//    palette. Bi-level and palette pictures with transparency, and every
//    other pixel format, are written as 24-bit RGB(A).
//  - PNM: .ppm always P6, .pgm always P5, .pbm always P4 (white where the
//    grey level (R*21 + G*71 + B*8) div 100 is 128 or more); .pnm and .pxm
//    by pixel format: P5 for ie8g, P4 for ie1g, otherwise P6.
// A picture with transparency written to a format without alpha (JPEG,
// PNM) is composed over white.
IOResult WriteImage(const std::string& path, const IEBitmap& bmp, const SaveParams& params = {});
// JPEG into memory (the optimizer reads the size); `out` is replaced only
// on success.
IOResult WriteJPEGToMemory(const IEBitmap& bmp, const SaveParams& params, std::vector<uint8_t>& out);

}  // namespace velmora
