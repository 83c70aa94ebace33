// The table of picture file formats: names, extensions, codecs. The open
// and save dialogs build their type lists from it, ReadImage and
// WriteImage pick their codec from it by extension.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "document/files/ImageFile.h"
#include "imaging/IEBitmap.h"

namespace velmora {

struct DecodeOptions {
  ImageLimits limits;
  // > 0: a thumbnail is wanted; the decoder may return any picture whose
  // longer side is at least this (JPEG scales while decoding). 0: full size.
  int targetSide = 0;
};

// Fill a fresh bitmap from an open stream; false with the reason (without
// the file name).
using DecodeFn = bool (*)(std::FILE* in, const DecodeOptions& options, IEBitmap& out, std::string& reason);
// Write a bitmap already brought into one of the encoder's pixel formats.
// `ext` is the lower-case extension of the file (PNM picks its kind by it).
using EncodeFn = bool (*)(std::FILE* out, const IEBitmap& bmp, const SaveParams& params, const std::string& ext,
                          std::string& reason);

struct FormatInfo {
  ImageFormat id = ImageFormat::Unknown;
  std::string name;       // in the open dialog: "TIFF", "Windows bitmap"
  std::string saveName;   // in the save dialog: "TIFF Bitmap"; empty when not written
  int saveIndex = 0;      // 1-based position in the save dialog's list; 0: not there
  std::vector<std::string> extensions;  // lower case, the first is the default
  DecodeFn decode = nullptr;
  EncodeFn encode = nullptr;
  // Pixel formats the encoder takes; anything else is converted to the
  // first of them.
  std::vector<IEPixelFormat> encodes;
  // Of those, the ones in which it also writes the alpha channel. A
  // picture with transparency in another format is converted to the first
  // of these, or composed over white when there are none.
  std::vector<IEPixelFormat> encodesAlpha;
  // Optional: the pixel format an extension asks for (".pgm" grey).
  IEPixelFormat (*formatForExtension)(const std::string& ext, IEPixelFormat present) = nullptr;
};

// Every format Velmora knows, in the open dialog's order.
const std::vector<FormatInfo>& Formats();
// nullptr when no format has that extension.
const FormatInfo* FindFormat(const std::string& ext);
const FormatInfo* FindFormat(ImageFormat id);
// The formats of the save dialog, in its order.
std::vector<const FormatInfo*> SaveFormats();

// The rows of the table, one list per source file; Formats() puts them in
// order.
std::vector<FormatInfo> CoreFormats();     // JPEG, PNG, PNM
std::vector<FormatInfo> ClassicFormats();  // TIFF, GIF, PCX, BMP, ICO, CUR, TGA, WBMP, DCX
std::vector<FormatInfo> ModernFormats();   // JPEG 2000, camera raw, PSD, WebP, HEIF, AVIF

}  // namespace velmora
