// TIFF, GIF, PCX, Windows bitmap, icon and cursor, Targa, wireless bitmap
// and multipage PCX.
#include "document/files/FormatTable.h"

namespace velmora {

std::vector<FormatInfo> ClassicFormats() { return {}; }

}  // namespace velmora
