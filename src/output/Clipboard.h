// "Copy": the current layer of the canvas goes on the system clipboard as
// an image that any program pastes, together with Velmora's own raw form
// of the same picture (ClipboardRaw.h), which keeps every pixel exactly.
#pragma once

#include <QMimeData>
#include <memory>
#include <string>

#include "document/Document.h"
#include "imaging/IEBitmap.h"

class QClipboard;

namespace velmora {

// The clipboard's content for a picture: the standard image (24-bit, or
// with its transparency when the picture has some) and the raw form under
// kRawClipboardMime. nullptr for an empty picture.
std::unique_ptr<QMimeData> ClipboardData(const IEBitmap& bmp);

// Empties `clipboard` (the application's by default) and puts the picture
// on it. False when there is no clipboard or no memory for the copy; the
// clipboard is then left empty.
bool CopyToClipboard(const IEBitmap& bmp, QClipboard* clipboard = nullptr);

// The raw form on `clipboard`, read back into `out`. False with the reason
// when the clipboard holds none or it is not valid; `out` is then
// untouched.
bool ReadRawFromClipboard(IEBitmap& out, std::string& reason, QClipboard* clipboard = nullptr);

// The "Copy" command: the current layer, as it is.
bool Copy(Document& doc);

}  // namespace velmora
