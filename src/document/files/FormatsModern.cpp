// JPEG 2000, camera raw, Photoshop, WebP, HEIF and AVIF.
#include "document/files/FormatTable.h"

namespace velmora {

std::vector<FormatInfo> ModernFormats() { return {}; }

}  // namespace velmora
