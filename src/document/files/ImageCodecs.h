// The codecs behind ImageFile.h, for its own use. Each decoder fills a
// fresh bitmap from an open stream and each encoder writes a bitmap the
// caller has already brought into a format the encoder takes; both return
// false with the reason (no file name) in `reason`.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "document/files/FormatTable.h"
#include "document/files/ImageFile.h"
#include "imaging/IEBitmap.h"

namespace velmora::codecs {

// Empty when a width x height picture is within the limits, otherwise why
// not. Runs before any pixel memory is taken.
std::string CheckDimensions(uint64_t width, uint64_t height, const ImageLimits& limits);
// Allocates `bmp`; false with the reason when memory cannot be had.
bool AllocateBitmap(IEBitmap& bmp, int width, int height, IEPixelFormat format, std::string& reason);

// ie24RGB, ie8g or ie1g without alpha.
bool DecodeJpeg(std::FILE* in, const DecodeOptions& options, IEBitmap& out, std::string& reason);
bool EncodeJpeg(std::FILE* out, const IEBitmap& bmp, const SaveParams& params, const std::string& ext,
                std::string& reason);
bool EncodeJpegToMemory(const IEBitmap& bmp, const SaveParams& params, std::vector<uint8_t>& out,
                        std::string& reason);

// ie24RGB (alpha written when some value is below 255), ie8g (likewise),
// ie1g or ie8p.
bool DecodePng(std::FILE* in, const DecodeOptions& options, IEBitmap& out, std::string& reason);
bool EncodePng(std::FILE* out, const IEBitmap& bmp, const SaveParams& params, const std::string& ext,
               std::string& reason);

// P6 from ie24RGB, P5 from ie8g, P4 from ie1g; no alpha.
bool DecodePnm(std::FILE* in, const DecodeOptions& options, IEBitmap& out, std::string& reason);
bool EncodePnm(std::FILE* out, const IEBitmap& bmp, const SaveParams& params, const std::string& ext,
               std::string& reason);

// True when some alpha value is below 255.
bool HasTransparency(const IEBitmap& bmp);

}  // namespace velmora::codecs
