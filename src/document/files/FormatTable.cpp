#include "document/files/FormatTable.h"

#include <algorithm>

#include "document/files/ImageCodecs.h"

namespace velmora {

namespace {

using F = IEPixelFormat;

// .ppm is always colour, .pgm grey and .pbm bi-level; .pnm and .pxm follow
// the picture.
IEPixelFormat PnmFormatFor(const std::string& ext, IEPixelFormat present) {
  if (ext == "ppm") return F::ie24RGB;
  if (ext == "pgm") return F::ie8g;
  if (ext == "pbm") return F::ie1g;  // white where the grey level is 128 or more
  return present;
}

std::vector<FormatInfo> BuildTable() {
  std::vector<FormatInfo> all;
  for (auto rows : {CoreFormats, ClassicFormats, ModernFormats})
    for (auto& row : rows()) all.push_back(std::move(row));
  std::stable_sort(all.begin(), all.end(), [](const FormatInfo& a, const FormatInfo& b) { return a.id < b.id; });
  return all;
}

}  // namespace

std::vector<FormatInfo> CoreFormats() {
  std::vector<FormatInfo> rows(3);
  FormatInfo& jpeg = rows[0];
  jpeg.id = ImageFormat::JPEG;
  jpeg.name = "JPEG";
  jpeg.saveName = "JPEG Bitmap";
  jpeg.saveIndex = 3;
  jpeg.extensions = {"jpg", "jpeg", "jpe", "jif"};
  jpeg.decode = codecs::DecodeJpeg;
  jpeg.encode = codecs::EncodeJpeg;
  jpeg.encodes = {F::ie24RGB, F::ie8g, F::ie1g};

  FormatInfo& png = rows[1];
  png.id = ImageFormat::PNG;
  png.name = "PNG";
  png.saveName = "Portable Network Graphics";
  png.saveIndex = 7;
  png.extensions = {"png"};
  png.decode = codecs::DecodePng;
  png.encode = codecs::EncodePng;
  png.encodes = {F::ie24RGB, F::ie8g, F::ie1g, F::ie8p};
  // Bi-level and palette pictures have no room for partial transparency.
  png.encodesAlpha = {F::ie24RGB, F::ie8g};

  FormatInfo& pnm = rows[2];
  pnm.id = ImageFormat::PNM;
  pnm.name = "portable pixmap, greymap, bitmap";
  pnm.saveName = "Portable Pixmap, GrayMap, BitMap";
  pnm.saveIndex = 9;
  pnm.extensions = {"pxm", "ppm", "pgm", "pbm", "pnm"};
  pnm.decode = codecs::DecodePnm;
  pnm.encode = codecs::EncodePnm;
  pnm.encodes = {F::ie24RGB, F::ie8g, F::ie1g};
  pnm.formatForExtension = PnmFormatFor;
  return rows;
}

const std::vector<FormatInfo>& Formats() {
  static const std::vector<FormatInfo> table = BuildTable();
  return table;
}

const FormatInfo* FindFormat(const std::string& ext) {
  std::string e = ext;
  if (!e.empty() && e[0] == '.') e.erase(0, 1);
  for (char& c : e)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  if (e.empty()) return nullptr;
  for (const auto& f : Formats())
    if (std::find(f.extensions.begin(), f.extensions.end(), e) != f.extensions.end()) return &f;
  return nullptr;
}

const FormatInfo* FindFormat(ImageFormat id) {
  for (const auto& f : Formats())
    if (f.id == id) return &f;
  return nullptr;
}

std::vector<const FormatInfo*> SaveFormats() {
  std::vector<const FormatInfo*> list;
  for (const auto& f : Formats())
    if (f.encode && f.saveIndex > 0) list.push_back(&f);
  std::stable_sort(list.begin(), list.end(),
                   [](const FormatInfo* a, const FormatInfo* b) { return a->saveIndex < b->saveIndex; });
  return list;
}

}  // namespace velmora
