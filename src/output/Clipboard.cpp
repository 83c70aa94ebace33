#include "output/Clipboard.h"

#include <QByteArray>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <new>

#include "document/qt/QtBitmap.h"
#include "output/ClipboardRaw.h"

namespace velmora {

namespace {

QClipboard* Resolve(QClipboard* clipboard) {
  if (clipboard) return clipboard;
  return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) ? QGuiApplication::clipboard() : nullptr;
}

}  // namespace

std::unique_ptr<QMimeData> ClipboardData(const IEBitmap& bmp) {
  if (bmp.IsEmpty()) return nullptr;
  // An alpha channel that is known to be opaque adds nothing for other
  // programs: they get the plain picture.
  QImage image;
  if (bmp.HasAlphaChannel() && bmp.AlphaAllOpaque()) {
    IEBitmap plain;
    plain.Assign(bmp);
    plain.RemoveAlphaChannel();
    image = ToQImage(plain);
  } else {
    image = ToQImage(bmp);
  }
  const std::vector<uint8_t> raw = EncodeRawPicture(bmp);
  if (image.isNull() || raw.empty()) return nullptr;
  auto data = std::make_unique<QMimeData>();
  data->setImageData(image);
  data->setData(QString::fromLatin1(kRawClipboardMime),
                QByteArray(reinterpret_cast<const char*>(raw.data()), static_cast<qsizetype>(raw.size())));
  return data;
}

bool CopyToClipboard(const IEBitmap& bmp, QClipboard* clipboard) {
  clipboard = Resolve(clipboard);
  if (!clipboard) return false;
  clipboard->clear();
  std::unique_ptr<QMimeData> data;
  try {
    data = ClipboardData(bmp);
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (!data) return false;
  clipboard->setMimeData(data.release());  // the clipboard owns it
  return true;
}

bool ReadRawFromClipboard(IEBitmap& out, std::string& reason, QClipboard* clipboard) {
  clipboard = Resolve(clipboard);
  const QMimeData* data = clipboard ? clipboard->mimeData() : nullptr;
  const QString mime = QString::fromLatin1(kRawClipboardMime);
  if (!data || !data->hasFormat(mime)) return reason = "the clipboard holds no Velmora picture", false;
  const QByteArray raw = data->data(mime);
  return DecodeRawPicture(reinterpret_cast<const uint8_t*>(raw.constData()), static_cast<std::size_t>(raw.size()),
                          out, reason);
}

bool Copy(Document& doc) {
  const IEBitmap& layer = doc.Imaga().CurrentBitmap();
  if (CopyToClipboard(layer)) return true;
  if (!layer.IsEmpty())
    doc.UI().ShowMessage("The picture could not be copied to the clipboard.", MessageKind::Error);
  return false;
}

}  // namespace velmora
