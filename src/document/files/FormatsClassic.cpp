// TIFF, GIF, PCX, Windows bitmap, icon and cursor, Targa, wireless bitmap
// and multipage PCX.
#include "document/files/FormatTable.h"
#include "document/files/ImageCodecs.h"

namespace velmora {

namespace {

using F = IEPixelFormat;

FormatInfo Row(ImageFormat id, const char* name, const char* saveName, int saveIndex,
               std::vector<std::string> extensions, DecodeFn decode, EncodeFn encode,
               std::vector<IEPixelFormat> encodes, std::vector<IEPixelFormat> encodesAlpha) {
  FormatInfo f;
  f.id = id;
  f.name = name;
  f.saveName = saveName;
  f.saveIndex = saveIndex;
  f.extensions = std::move(extensions);
  f.decode = decode;
  f.encode = encode;
  f.encodes = std::move(encodes);
  f.encodesAlpha = std::move(encodesAlpha);
  return f;
}

}  // namespace

std::vector<FormatInfo> ClassicFormats() {
  using namespace codecs;
  std::vector<FormatInfo> rows;
  rows.push_back(Row(ImageFormat::TIFF, "TIFF", "TIFF Bitmap", 1, {"tif", "tiff", "fax", "g3n", "g3f", "xif"},
                     DecodeTiff, EncodeTiff, {F::ie24RGB, F::ie8g, F::ie1g}, {F::ie24RGB}));
  rows.push_back(Row(ImageFormat::GIF, "GIF", "CompuServe Bitmap", 2, {"gif"}, DecodeGif, EncodeGif, {F::ie24RGB},
                     {F::ie24RGB}));
  rows.push_back(Row(ImageFormat::PCX, "PCX", "PaintBrush", 4, {"pcx"}, DecodePcx, EncodePcx, {F::ie24RGB}, {}));
  rows.push_back(Row(ImageFormat::BMP, "Windows bitmap", "Windows Bitmap", 5, {"bmp", "dib", "rle"}, DecodeBmp,
                     EncodeBmp, {F::ie24RGB, F::ie8g, F::ie1g}, {}));
  // Icons hold transparency in their mask or alpha; at most 256 x 256.
  rows.push_back(Row(ImageFormat::ICO, "Windows icon", "Windows Icon", 6, {"ico"}, DecodeIco, EncodeIco,
                     {F::ie24RGB}, {F::ie24RGB}));
  rows.push_back(Row(ImageFormat::CUR, "Windows cursor", "", 0, {"cur"}, DecodeIco, nullptr, {}, {}));
  rows.push_back(Row(ImageFormat::TGA, "Targa", "Targa Bitmap", 8, {"tga", "targa", "vda", "icb", "vst", "pix"},
                     DecodeTga, EncodeTga, {F::ie24RGB}, {F::ie24RGB}));
  rows.push_back(Row(ImageFormat::WBMP, "wireless bitmap", "Wireless Bitmap", 10, {"wbmp"}, DecodeWbmp, EncodeWbmp,
                     {F::ie1g}, {}));
  rows.push_back(Row(ImageFormat::DCX, "multipage PCX", "Multipage PCX", 15, {"dcx"}, DecodeDcx, EncodeDcx,
                     {F::ie24RGB}, {}));
  return rows;
}

}  // namespace velmora
