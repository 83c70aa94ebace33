// JPEG 2000, camera raw, Photoshop, WebP, HEIF and AVIF.
#include <cerrno>

#include "document/files/AtomicFile.h"
#include "document/files/FormatTable.h"
#include "document/files/ModernCodecs.h"

namespace velmora {

namespace codecs {

bool ReadAllBytes(std::FILE* in, uint64_t maxBytes, std::vector<uint8_t>& data, std::string& reason) {
  data.clear();
  std::vector<uint8_t> chunk(1 << 16);
  for (;;) {
    errno = 0;
    const std::size_t n = std::fread(chunk.data(), 1, chunk.size(), in);
    if (n > 0) {
      if (data.size() + n > maxBytes) {
        reason = "file too large (more than " + std::to_string(maxBytes >> 20) + " MB)";
        return false;
      }
      data.insert(data.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n));
    }
    if (n < chunk.size()) break;
  }
  if (std::ferror(in)) {
    reason = ErrnoMessage(errno ? errno : EIO);
    return false;
  }
  if (data.empty()) {
    reason = "empty file";
    return false;
  }
  return true;
}

bool WriteAllBytes(std::FILE* out, const void* data, std::size_t n, std::string& reason) {
  errno = 0;
  if (n == 0 || std::fwrite(data, 1, n, out) == n) return true;
  reason = ErrnoMessage(errno ? errno : EIO);
  return false;
}

}  // namespace codecs

std::vector<FormatInfo> ModernFormats() {
  using F = IEPixelFormat;
  std::vector<FormatInfo> rows(7);

  FormatInfo& jp2 = rows[0];
  jp2.id = ImageFormat::JP2;
  jp2.name = "JPEG 2000";
  jp2.saveName = "JPEG2000";
  jp2.saveIndex = 11;
  jp2.extensions = {"jp2"};
  jp2.decode = codecs::DecodeJp2;
  jp2.encode = codecs::EncodeJp2;
  jp2.encodes = {F::ie24RGB, F::ie8g};
  jp2.encodesAlpha = {F::ie24RGB, F::ie8g};

  FormatInfo& j2k = rows[1];
  j2k = jp2;
  j2k.id = ImageFormat::J2K;
  j2k.name = "JPEG 2000 code stream";
  j2k.saveName = "JPEG2000 Code Stream";
  j2k.saveIndex = 12;
  j2k.extensions = {"j2k", "jpc", "j2c"};

  FormatInfo& raw = rows[2];
  raw.id = ImageFormat::RAW;
  raw.name = "camera raw";
  raw.extensions = {"crw", "cr2", "nef", "raw", "pef", "raf", "x3f", "bay", "orf", "srf", "mrw", "dcr", "sr2"};
  raw.decode = codecs::DecodeRaw;

  FormatInfo& psd = rows[3];
  psd.id = ImageFormat::PSD;
  psd.name = "Photoshop";
  psd.saveName = "Photoshop PSD";
  psd.saveIndex = 16;
  psd.extensions = {"psd"};
  psd.decode = codecs::DecodePsd;
  psd.encode = codecs::EncodePsd;
  psd.encodes = {F::ie24RGB};
  psd.encodesAlpha = {F::ie24RGB};

  // Beyond the dialogs' lists: written only through velmora-batch's
  // extension choice, hence no place in the save list.
  FormatInfo& webp = rows[4];
  webp.id = ImageFormat::WEBP;
  webp.name = "WebP";
  webp.saveName = "WebP";
  webp.extensions = {"webp"};
  webp.decode = codecs::DecodeWebp;
  webp.encode = codecs::EncodeWebp;
  webp.encodes = {F::ie24RGB};
  webp.encodesAlpha = {F::ie24RGB};

  FormatInfo& heif = rows[5];
  heif.id = ImageFormat::HEIF;
  heif.name = "HEIF";
  heif.extensions = {"heic", "heif", "hif"};
  heif.decode = codecs::DecodeHeif;

  FormatInfo& avif = rows[6];
  avif.id = ImageFormat::AVIF;
  avif.name = "AVIF";
  avif.extensions = {"avif"};
  avif.decode = codecs::DecodeHeif;

  return rows;
}

}  // namespace velmora
