#include "document/qt/QtBitmap.h"

#include <cstring>

namespace velmora {

namespace {

using F = IEPixelFormat;

class QImageStore final : public PixelStore {
 public:
  explicit QImageStore(QImage img) : image(std::move(img)) {
    top = image.bits();
    stride = image.bytesPerLine();
  }
  IELocation Kind() const override { return IELocation::ieTBitmap; }
  QImage image;
};

QImage::Format QtFormatFor(F f) {
  switch (f) {
    case F::ie1g:
      return QImage::Format_Mono;
    case F::ie8p:
    case F::ie8g:
      return QImage::Format_Indexed8;
    case F::ie24RGB:
      return QImage::Format_BGR888;
    case F::ie32RGB:
      return QImage::Format_RGB32;
    default:
      return QImage::Format_Invalid;
  }
}

std::unique_ptr<PixelStore> MakeStore(int width, int height, F format, std::size_t rowLen) {
  const QImage::Format qf = QtFormatFor(format);
  if (qf == QImage::Format_Invalid) return nullptr;
  QImage img(width, height, qf);
  if (img.isNull() || static_cast<std::size_t>(img.bytesPerLine()) != rowLen) return nullptr;
  if (format == F::ie1g) img.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
  if (format == F::ie8g || format == F::ie8p) {
    QList<QRgb> grey(256);
    for (int i = 0; i < 256; ++i) grey[i] = qRgb(i, i, i);
    img.setColorTable(grey);
  }
  return std::make_unique<QImageStore>(std::move(img));
}

}  // namespace

void InstallQtStandardBitmaps() { SetStandardBitmapProvider(&MakeStore); }

QImage* WindowsBitmap(IEBitmap& bmp) {
  InstallQtStandardBitmaps();
  bmp.SetLocation(IELocation::ieTBitmap);
  auto* store = dynamic_cast<QImageStore*>(bmp.Store());
  if (!store) return nullptr;
  if (bmp.PixelFormat() == F::ie8p && bmp.Palette()) {
    QList<QRgb> colors(256);
    for (int i = 0; i < 256; ++i) colors[i] = qRgb(bmp.Palette()[i].r, bmp.Palette()[i].g, bmp.Palette()[i].b);
    store->image.setColorTable(colors);
  }
  return &store->image;
}

std::unique_ptr<QPainter> Canvas(IEBitmap& bmp) {
  QImage* img = WindowsBitmap(bmp);
  if (!img || img->format() == QImage::Format_Indexed8 || img->format() == QImage::Format_Mono) return nullptr;
  return std::make_unique<QPainter>(img);
}

QImage ToQImage(const IEBitmap& bmp) {
  if (bmp.IsEmpty()) return {};
  const int w = bmp.Width(), h = bmp.Height();
  if (bmp.HasAlphaChannel()) {
    QImage img(w, h, QImage::Format_ARGB32);
    const IEBitmap* a = bmp.AlphaChannelIfAny();
    IEBitmap rgb;
    const IEBitmap* src = &bmp;
    if (bmp.PixelFormat() != F::ie24RGB) {
      rgb.AssignImage(bmp);
      rgb.ConvertFormat(F::ie24RGB);
      src = &rgb;
    }
    for (int y = 0; y < h; ++y) {
      auto* d = reinterpret_cast<QRgb*>(img.scanLine(y));
      const IETriple* s = reinterpret_cast<const IETriple*>(src->ScanLine(y));
      const uint8_t* al = a->ScanLine(y);
      for (int x = 0; x < w; ++x) d[x] = qRgba(s[x].r, s[x].g, s[x].b, al[x]);
    }
    return img;
  }
  F f = bmp.PixelFormat();
  IEBitmap converted;
  const IEBitmap* src = &bmp;
  QImage::Format qf = QtFormatFor(f);
  if (f == F::ie8g) qf = QImage::Format_Grayscale8;
  if (qf == QImage::Format_Invalid) {
    converted.AssignImage(bmp);
    converted.ConvertFormat(F::ie24RGB);
    src = &converted;
    qf = QImage::Format_BGR888;
    f = F::ie24RGB;
  }
  QImage img(w, h, qf);
  const std::size_t n = std::min<std::size_t>(src->RowLen(), img.bytesPerLine());
  for (int y = 0; y < h; ++y) std::memcpy(img.scanLine(y), src->ScanLine(y), n);
  if (f == F::ie1g) img.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
  if (f == F::ie8p) {
    QList<QRgb> colors(256);
    for (int i = 0; i < 256; ++i) colors[i] = qRgb(bmp.Palette()[i].r, bmp.Palette()[i].g, bmp.Palette()[i].b);
    img.setColorTable(colors);
  }
  return img;
}

void DrawToCanvas(const IEBitmap& bmp, QPainter& painter, int x, int y) {
  if (bmp.IsEmpty()) return;
  painter.drawImage(x, y, ToQImage(bmp));
}

IEBitmap FromQImage(const QImage& image) {
  IEBitmap out;
  if (image.isNull()) return out;
  const bool alpha = image.hasAlphaChannel();
  const QImage src = image.convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_BGR888);
  if (!out.Allocate(src.width(), src.height(), F::ie24RGB)) return out;
  for (int y = 0; y < src.height(); ++y) {
    if (alpha) {
      const auto* s = reinterpret_cast<const QRgb*>(src.constScanLine(y));
      IETriple* d = reinterpret_cast<IETriple*>(out.ScanLine(y));
      for (int x = 0; x < src.width(); ++x) {
        d[x] = IETriple{static_cast<uint8_t>(qBlue(s[x])), static_cast<uint8_t>(qGreen(s[x])),
                        static_cast<uint8_t>(qRed(s[x]))};
        if (qAlpha(s[x]) != 255) out.SetAlpha(x, y, static_cast<uint8_t>(qAlpha(s[x])));
      }
    } else {
      std::memcpy(out.ScanLine(y), src.constScanLine(y), std::min<std::size_t>(out.RowLen(), src.bytesPerLine()));
    }
  }
  return out;
}

QColor ToQColor(Color c) {
  if (c & kSystemColorFlag) c = SystemColor(static_cast<int>(c & 0xFF));
  return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

Color FromQColor(const QColor& q) {
  return static_cast<Color>(q.red()) | static_cast<Color>(q.green()) << 8 | static_cast<Color>(q.blue()) << 16;
}

void SyncSystemColors(const QPalette& palette) {
  // Indices of the system colour table and the palette roles they mean.
  const std::pair<int, QPalette::ColorRole> roles[] = {
      {4, QPalette::Window},          // clMenu
      {5, QPalette::Base},            // clWindow
      {7, QPalette::WindowText},      // clMenuText
      {8, QPalette::Text},            // clWindowText
      {13, QPalette::Highlight},      // clHighlight
      {14, QPalette::HighlightedText},  // clHighlightText
      {15, QPalette::Button},         // clBtnFace
      {16, QPalette::Mid},            // clBtnShadow
      {18, QPalette::ButtonText},     // clBtnText
      {20, QPalette::Light},          // clBtnHighlight
      {21, QPalette::Shadow},         // cl3DDkShadow
      {22, QPalette::Midlight},       // cl3DLight
      {23, QPalette::ToolTipText},    // clInfoText
      {24, QPalette::ToolTipBase},    // clInfoBk
      {30, QPalette::Window},         // clMenuBar
  };
  for (const auto& [index, role] : roles) SetSystemColor(index, FromQColor(palette.color(QPalette::Active, role)));
}

}  // namespace velmora
