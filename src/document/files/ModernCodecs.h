// The codecs of the formats phones, cameras and the web bring (JPEG 2000,
// camera raw, Photoshop, WebP, HEIF/AVIF), for FormatsModern.cpp. Same
// contract as ImageCodecs.h: a fresh bitmap filled, or false with the reason.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "document/files/ImageCodecs.h"

namespace velmora::codecs {

// Reads the rest of `in` into `data`; false with the reason when reading
// fails or the file holds more than `maxBytes`. Libraries that want the
// whole file in memory (raw, WebP, HEIF) read it through this.
bool ReadAllBytes(std::FILE* in, uint64_t maxBytes, std::vector<uint8_t>& data, std::string& reason);
bool WriteAllBytes(std::FILE* out, const void* data, std::size_t n, std::string& reason);

// Either kind (jp2 box file or bare code stream), recognised by content.
// RGB(A) or grey(+alpha) as ie24RGB with alpha.
bool DecodeJp2(std::FILE* in, const DecodeOptions& options, IEBitmap& out, std::string& reason);
// Lossless (reversible 5/3 wavelet). ".jp2" gets the box file, the other
// extensions a bare code stream. ie24RGB or ie8g, with alpha.
bool EncodeJp2(std::FILE* out, const IEBitmap& bmp, const SaveParams& params, const std::string& ext,
               std::string& reason);

// Developed to 8-bit sRGB with the camera's white balance.
bool DecodeRaw(std::FILE* in, const DecodeOptions& options, IEBitmap& out, std::string& reason);

// The flattened composite: grey or RGB, 8 or 16 bits, raw or PackBits.
bool DecodePsd(std::FILE* in, const DecodeOptions& options, IEBitmap& out, std::string& reason);
// RGB 8 bits, uncompressed, no layers; alpha as a fourth channel.
bool EncodePsd(std::FILE* out, const IEBitmap& bmp, const SaveParams& params, const std::string& ext,
               std::string& reason);

bool DecodeWebp(std::FILE* in, const DecodeOptions& options, IEBitmap& out, std::string& reason);
// Lossy at params.jpegQuality; quality 100 writes a lossless file.
bool EncodeWebp(std::FILE* out, const IEBitmap& bmp, const SaveParams& params, const std::string& ext,
                std::string& reason);

// HEIF/HEIC and AVIF: the primary image, with alpha.
bool DecodeHeif(std::FILE* in, const DecodeOptions& options, IEBitmap& out, std::string& reason);

}  // namespace velmora::codecs
