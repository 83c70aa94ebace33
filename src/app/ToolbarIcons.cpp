#include "app/ToolbarIcons.h"

#include <QIconEngine>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPixmapCache>
#include <QPolygonF>
#include <QtMath>
#include <algorithm>
#include <cmath>

namespace velmora {

namespace {

// Every picture is drawn on a grid of 48 x 48 units, the toolbar's size, and
// scaled to the pixels asked for. Nothing is drawn within 2 units of the
// grid's corners, so icons never touch each other or the button's edge.
constexpr double kGrid = 48.0;

// Below this many device pixels the small details (the lesser sparkles, the
// frame's ornaments) would only blur the picture, so they are left out.
constexpr int kDetailPixels = 28;

// A fill shading from `top` to `bottom`, outlined with `line`: the same hue,
// much darker, so the shape keeps its colour and still stands out on a pale
// toolbar.
struct Hue {
  QColor top, bottom, line;
  // Kept at full strength at small sizes too, for a pale shape whose outline
  // is all that separates it from a pale toolbar.
  bool firmLine = false;
};

// `a` moved the fraction `t` of the way towards `b`.
QColor Mix(const QColor& a, const QColor& b, double t) {
  const auto mix = [t](float from, float to) { return float(from + (to - from) * t); };
  return QColor::fromRgbF(mix(a.redF(), b.redF()), mix(a.greenF(), b.greenF()), mix(a.blueF(), b.blueF()),
                          mix(a.alphaF(), b.alphaF()));
}

Hue Tint(const char* base, int lift = 130, int shade = 230) {
  const QColor c(QString::fromLatin1(base));
  return {c.lighter(lift), c, c.darker(shade)};
}

const Hue kPaper = {QColor(0xff, 0xff, 0xff), QColor(0xdc, 0xe2, 0xea), QColor(0x4f, 0x59, 0x66)};

class Canvas {
 public:
  Canvas(QPainter& painter, int pixels) : p(painter), scale_(pixels / kGrid), pixels_(pixels) {
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.scale(scale_, scale_);
  }

  QPainter& p;

  bool Detailed() const { return pixels_ >= kDetailPixels; }

  // Moves a grid coordinate to the nearest boundary between device pixels,
  // so that straight edges land on whole pixels and stay crisp at 16 or 20
  // pixels as well as at 48 or 96.
  double Snap(double v) const { return std::round(v * scale_) / scale_; }
  QRectF Snap(const QRectF& r) const {
    return QRectF(QPointF(Snap(r.left()), Snap(r.top())), QPointF(Snap(r.right()), Snap(r.bottom())));
  }

  // The outline's width: one device pixel for every 48 of the picture's
  // side, never less than one, so the picture at device pixel ratio 2 is the
  // same picture, only finer.
  double Line() const { return std::max(1.0, std::round(scale_)) / scale_; }

  // A coloured shape: its shaded fill, a light inner edge that separates it
  // from a dark background, and its outline. Both lines lie inside the
  // shape (the stroke is clipped to it), so a shape never grows past its
  // path and snapped edges stay on whole pixels. At the zoom strip's sizes,
  // where a pixel is a twentieth of the picture, the light edge would wash
  // the colour out and a full-strength outline would darken it, so the edge
  // goes and the outline is softened.
  void Shape(const QPainterPath& path, const Hue& hue, bool lightEdge = true) const {
    const QRectF box = path.boundingRect();
    QColor line = hue.line;
    if (!Detailed()) {
      lightEdge = false;
      if (!hue.firmLine) line = Mix(hue.line, hue.bottom, 0.4);
    }
    QLinearGradient fill(box.topLeft(), box.bottomLeft());
    fill.setColorAt(0, hue.top);
    fill.setColorAt(1, hue.bottom);
    p.save();
    p.setClipPath(path, Qt::IntersectClip);
    p.fillPath(path, fill);
    const double w = Line();
    if (lightEdge) {
      p.strokePath(path, QPen(QColor(255, 255, 255, 110), 4 * w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    }
    p.strokePath(path, QPen(line, 2 * w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.restore();
  }

  void Fill(const QPainterPath& path, const QColor& color) const { p.fillPath(path, color); }

  // The photo every picture shares: a sky, the sun and two green hills.
  void Photo(const QRectF& r) const {
    const double w = r.width(), h = r.height();
    p.save();
    p.setClipRect(r, Qt::IntersectClip);
    QLinearGradient sky(r.topLeft(), r.bottomLeft());
    sky.setColorAt(0, QColor(0x3f, 0xa6, 0xec));
    sky.setColorAt(1, QColor(0xc4, 0xea, 0xff));
    p.fillRect(r, sky);
    const double sun = 0.15 * std::min(w, h);
    QPainterPath sunPath;
    sunPath.addEllipse(QPointF(r.left() + 0.72 * w, r.top() + 0.3 * h), sun, sun);
    Fill(sunPath, QColor(0xff, 0xd0, 0x2e));
    QPainterPath back;
    back.moveTo(r.left(), r.top() + 0.7 * h);
    back.quadTo(r.left() + 0.3 * w, r.top() + 0.36 * h, r.left() + 0.72 * w, r.top() + 0.86 * h);
    back.lineTo(r.bottomRight());
    back.lineTo(r.bottomLeft());
    back.closeSubpath();
    Fill(back, QColor(0x2b, 0x93, 0x44));
    QPainterPath front;
    front.moveTo(r.left() + 0.22 * w, r.bottom());
    front.quadTo(r.left() + 0.62 * w, r.top() + 0.48 * h, r.right(), r.top() + 0.62 * h);
    front.lineTo(r.bottomRight());
    front.closeSubpath();
    Fill(front, QColor(0x72, 0xc9, 0x3c));
    p.restore();
  }

  // A print of the photo: a white card with the picture `border` units in.
  void PhotoCard(const QRectF& card, double border) const {
    QPainterPath path;
    path.addRoundedRect(card, 1.5, 1.5);
    Shape(path, kPaper, false);
    Photo(card.adjusted(border, border, -border, -border));
  }

  // A four-pointed sparkle of radius `r`.
  void Sparkle(QPointF c, double r) const {
    const double waist = 0.32 * r;
    QPainterPath path;
    path.moveTo(c.x(), c.y() - r);
    path.quadTo(c.x() + waist * 0.35, c.y() - waist * 0.35, c.x() + r, c.y());
    path.quadTo(c.x() + waist * 0.35, c.y() + waist * 0.35, c.x(), c.y() + r);
    path.quadTo(c.x() - waist * 0.35, c.y() + waist * 0.35, c.x() - r, c.y());
    path.quadTo(c.x() - waist * 0.35, c.y() - waist * 0.35, c.x(), c.y() - r);
    path.closeSubpath();
    Shape(path, Tint("#ffc61a", 135, 210), false);
  }

  // Turns what is drawn next by `degrees` about `centre`.
  void Turn(QPointF centre, double degrees) const {
    p.translate(centre);
    p.rotate(degrees);
    p.translate(-centre);
  }

 private:
  double scale_;
  int pixels_;
};

QPainterPath Rounded(const QRectF& r, double radius) {
  QPainterPath path;
  path.addRoundedRect(r, radius, radius);
  return path;
}

QPainterPath Polygon(std::initializer_list<QPointF> points) {
  QPainterPath path;
  path.addPolygon(QPolygonF(QList<QPointF>(points)));
  path.closeSubpath();
  return path;
}

// An open folder with a photo sticking out of it: the folder's front falls
// forward, showing the photo inside.
void DrawOpen(const Canvas& c) {
  const Hue folder = Tint("#dc8f1f", 125, 240);
  QPainterPath back = Rounded(QRectF(4, 11, 38, 31), 2.5).united(Rounded(QRectF(4, 7, 16, 8), 2.5));
  c.Shape(back.simplified(), folder);

  // Tilted, the photo looks slipped in by hand; too small to show the tilt
  // cleanly, it stands upright.
  c.p.save();
  if (c.Detailed()) c.Turn(QPointF(24, 18), -7);
  c.PhotoCard(c.Detailed() ? QRectF(11, 6, 26, 22) : c.Snap(QRectF(11, 4, 26, 22)), c.Snap(3));
  c.p.restore();

  const Hue flap = {QColor(0xff, 0xe3, 0x8a), QColor(0xf6, 0xb7, 0x2e), QColor(0x8c, 0x55, 0x06)};
  QPainterPath front;
  front.moveTo(11, 20);
  front.lineTo(44.5, 20);
  front.quadTo(46, 20, 45.6, 21.5);
  front.lineTo(40.6, 40.6);
  front.quadTo(40.2, 42, 38.7, 42);
  front.lineTo(5, 42);
  front.quadTo(3.4, 42, 3.8, 40.5);
  front.lineTo(9, 21.4);
  front.quadTo(9.4, 20, 11, 20);
  front.closeSubpath();
  c.Shape(front, flap);
}

// A magic wand laying sparkles over a photo.
void DrawEffects(const Canvas& c) {
  c.PhotoCard(c.Snap(QRectF(4, 14, 30, 27)), 3);

  // The wand: a purple stick with a white tip, from the lower left corner
  // towards the sparkles at the upper right.
  const QPointF from(15, 44.5), to(36.5, 14.5);
  const double length = std::hypot(to.x() - from.x(), to.y() - from.y());
  const double degrees = qRadiansToDegrees(std::atan2(to.y() - from.y(), to.x() - from.x()));
  c.p.save();
  c.p.translate(from);
  c.p.rotate(degrees);
  c.Shape(Rounded(QRectF(0, -3, length, 6), 2.5), Tint("#6d46d6", 140, 220));
  c.Shape(Rounded(QRectF(length - 8, -3, 8, 6), 2.5), kPaper);
  c.p.restore();

  c.Sparkle(QPointF(39.5, 10), c.Detailed() ? 8.5 : 10);
  if (c.Detailed()) {
    c.Sparkle(QPointF(28, 6), 4.5);
    c.Sparkle(QPointF(44, 22.5), 3.8);
  }
}

// A monitor showing the photo full screen, with a gloss across its glass.
void DrawPreview(const Canvas& c) {
  const Hue metal = Tint("#8796a9", 125, 260);
  c.Shape(Polygon({{19.5, 35}, {28.5, 35}, {30.5, 41.5}, {17.5, 41.5}}), metal, false);
  c.Shape(Rounded(c.Snap(QRectF(12, 40, 24, 4.5)), 2), metal);

  const QRectF bezel = c.Snap(QRectF(3, 6, 42, 31));
  c.Shape(Rounded(bezel, 3), Tint("#3f5573", 150, 220));
  const QRectF screen = c.Snap(bezel.adjusted(3.5, 3.5, -3.5, -3.5));
  c.Photo(screen);
  QPainterPath gloss;
  gloss.moveTo(screen.topLeft());
  gloss.lineTo(screen.left() + 0.55 * screen.width(), screen.top());
  gloss.lineTo(screen.left(), screen.top() + 0.75 * screen.height());
  gloss.closeSubpath();
  c.Fill(gloss, QColor(255, 255, 255, 60));
}

// A floppy disk, blue, whose label is the photo.
void DrawSave(const Canvas& c) {
  QPainterPath body;
  const double l = c.Snap(5), t = c.Snap(5), r = c.Snap(43), b = c.Snap(43);
  body.moveTo(l + 2.5, t);
  body.lineTo(r - 6, t);
  body.lineTo(r, t + 6);
  body.lineTo(r, b - 2.5);
  body.quadTo(r, b, r - 2.5, b);
  body.lineTo(l + 2.5, b);
  body.quadTo(l, b, l, b - 2.5);
  body.lineTo(l, t + 2.5);
  body.quadTo(l, t, l + 2.5, t);
  body.closeSubpath();
  c.Shape(body, Tint("#2f74d8", 140, 230));

  // The metal shutter with its window.
  const QRectF shutter = c.Snap(QRectF(13, 5, 21, 13));
  c.Shape(Rounded(shutter.adjusted(0, -3, 0, 0), 1.5), Tint("#c9d2dd", 115, 280));
  c.Shape(Rounded(c.Snap(QRectF(27, 8, 4.5, 7)), 1), Tint("#2a3a52", 130, 150), false);

  c.PhotoCard(c.Snap(QRectF(10, 23, 28, 20)), 2.5);
}

// A printer with a photo coming out of it.
void DrawPrint(const Canvas& c) {
  // The sheet waiting in the feeder at the back.
  c.Shape(Rounded(c.Snap(QRectF(13, 3, 22, 14)), 1), kPaper);
  const Hue body = {QColor(0xf4, 0xf6, 0xf9), QColor(0xa9, 0xb3, 0xc0), QColor(0x45, 0x4f, 0x5c)};
  c.Shape(Rounded(c.Snap(QRectF(3, 14, 42, 21)), 3.5), body);
  c.Fill(Rounded(c.Snap(QRectF(9, 27, 30, 4)), 1.5), QColor(0x34, 0x3c, 0x47));
  QPainterPath led;
  led.addEllipse(QPointF(38, 20.5), 2, 2);
  c.Shape(led, Tint("#2fcf55", 140, 230), false);
  c.PhotoCard(c.Snap(QRectF(12, 29, 24, 16.5)), 2.5);
}

// A fan of decorative cards, the front one a gilded frame around the photo.
void DrawTemplates(const Canvas& c) {
  const QRectF card(0, 0, 24, 29);
  struct Fanned {
    QPointF centre;
    double degrees;
    Hue hue;
  };
  const Fanned fan[] = {{{17, 20}, -14, Tint("#e2457c", 135, 220)}, {{23, 21}, 5, Tint("#17a796", 140, 230)}};
  for (const Fanned& f : fan) {
    c.p.save();
    // Turned edges blur at small sizes: there the cards are only stepped.
    if (c.Detailed()) c.Turn(f.centre, f.degrees);
    const QRectF r = card.translated(f.centre - card.center());
    c.Shape(Rounded(c.Detailed() ? r : c.Snap(r.translated(f.degrees < 0 ? -4 : 0, -3)), 2.5), f.hue);
    if (c.Detailed()) {
      // The card's decorative border.
      const QPainterPath inner = Rounded(r.adjusted(3.5, 3.5, -3.5, -3.5), 1.5);
      c.p.strokePath(inner, QPen(QColor(255, 255, 255, 170), c.Line() * 1.2));
    }
    c.p.restore();
  }

  const QRectF frame = c.Snap(QRectF(16, 14, 28, 31));
  c.Shape(Rounded(frame, 2), Tint("#e8a81e", 140, 240));
  const double band = c.Snap(5);
  const QRectF inside = frame.adjusted(band, band, -band, -band);
  if (c.Detailed()) {
    c.Fill(Rounded(inside.adjusted(-c.Line(), -c.Line(), c.Line(), c.Line()), 0.5), QColor(0x7a, 0x4e, 0x06));
    const double in = band / 2;
    for (QPointF corner : {frame.topLeft() + QPointF(in, in), frame.topRight() + QPointF(-in, in),
                           frame.bottomLeft() + QPointF(in, -in), frame.bottomRight() + QPointF(-in, -in)}) {
      QPainterPath rosette;
      rosette.addEllipse(corner, 1.7, 1.7);
      c.Shape(rosette, Tint("#fff1b8", 100, 330), false);
    }
  }
  c.Photo(inside);
}

// A "1:1" badge: one pixel of the photo to one pixel of the screen.
void DrawActualSize(const Canvas& c) {
  c.Shape(Rounded(c.Snap(QRectF(2, 10, 44, 28)), 5), Tint("#2f78dc", 140, 230));
  const QColor ink(0xff, 0xff, 0xff);
  const double top = 15.5, bottom = 32.5;
  for (double x : {13.25, 33.25}) {
    const QRectF stem = c.Snap(QRectF(x, top, 5, bottom - top));
    QPainterPath one;
    one.addRect(stem);
    // The digit's flag: sloping down to the left from the top of the stem,
    // or at small sizes a pixel step, which stays sharp.
    if (c.Detailed()) {
      one.addPolygon(QPolygonF({stem.topLeft() + QPointF(0.5, 0), stem.topLeft() + QPointF(0.5, 4.5),
                                stem.topLeft() + QPointF(-3.5, 7), stem.topLeft() + QPointF(-3.5, 3)}));
    } else {
      one.addRect(c.Snap(QRectF(stem.left() - 3, stem.top() + 1.5, 3.2, 3)));
    }
    c.Fill(one.simplified(), ink);
  }
  QPainterPath colon;
  colon.addRect(c.Snap(QRectF(21.75, 17.5, 4.5, 4.5)));
  colon.addRect(c.Snap(QRectF(21.75, 26.5, 4.5, 4.5)));
  c.Fill(colon, ink);
}

// A screen with four arrows pushing the picture out into its corners.
void DrawFitToWindow(const Canvas& c) {
  const QRectF frame = c.Snap(QRectF(3, 5, 42, 38));
  const Hue screen = {QColor(0xff, 0xff, 0xff), QColor(0xd3, 0xe3, 0xf7), QColor(0x1e, 0x4f, 0x96), true};
  c.Shape(Rounded(frame, 4), screen, false);

  const QColor arrow(0x24, 0x6c, 0xd6);
  const QPointF centre = frame.center();
  // Small, the shafts shrink to stubs: four clear corners read better than a
  // blurred star.
  const double inset = c.Detailed() ? 5.5 : c.Snap(2 * c.Line() + 1);
  const double head = c.Detailed() ? 12 : 10;
  for (int sx : {-1, 1}) {
    for (int sy : {-1, 1}) {
      const QPointF tip(sx < 0 ? frame.left() + inset : frame.right() - inset,
                        sy < 0 ? frame.top() + inset : frame.bottom() - inset);
      // The head: a right-angled triangle tucked into the corner.
      c.Fill(Polygon({tip, tip + QPointF(-sx * head, 0), tip + QPointF(0, -sy * head)}), arrow);
      QPainterPath shaft;
      shaft.moveTo(c.Detailed() ? centre + QPointF(sx * 3, sy * 3) : tip - QPointF(sx * head * 0.85, sy * head * 0.85));
      shaft.lineTo(tip - QPointF(sx * head * 0.3, sy * head * 0.3));
      c.p.strokePath(shaft, QPen(arrow, 4.5, Qt::SolidLine, Qt::FlatCap));
    }
  }
}

QImage Render(ToolbarIcon icon, int pixels) {
  QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  const Canvas c(painter, pixels);
  switch (icon) {
    case ToolbarIcon::Open: DrawOpen(c); break;
    case ToolbarIcon::Effects: DrawEffects(c); break;
    case ToolbarIcon::Preview: DrawPreview(c); break;
    case ToolbarIcon::Save: DrawSave(c); break;
    case ToolbarIcon::Print: DrawPrint(c); break;
    case ToolbarIcon::Templates: DrawTemplates(c); break;
    case ToolbarIcon::ActualSize: DrawActualSize(c); break;
    case ToolbarIcon::FitToWindow: DrawFitToWindow(c); break;
  }
  return image;
}

// The disabled look: the picture in grey, its contrast and opacity halved,
// so it recedes on light and dark skins alike.
void Fade(QImage& image) {
  for (int y = 0; y < image.height(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      const QRgb px = qUnpremultiply(row[x]);
      if (qAlpha(px) == 0) continue;
      const int grey = 128 + (qGray(px) - 128) / 2;
      row[x] = qPremultiply(qRgba(grey, grey, grey, (qAlpha(px) + 1) / 2));
    }
  }
}

class ToolbarIconEngine final : public QIconEngine {
 public:
  explicit ToolbarIconEngine(ToolbarIcon icon) : icon_(icon) {}

  QIconEngine* clone() const override { return new ToolbarIconEngine(icon_); }
  QString key() const override { return QStringLiteral("VelmoraToolbarIcon"); }

  QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override {
    const int side = std::max(0, std::min(size.width(), size.height()));
    return {side, side};
  }

  QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
    return {{16, 16}, {20, 20}, {24, 24}, {32, 32}, {48, 48}, {64, 64}, {96, 96}};
  }

  // `size` is in device pixels: QIcon has already multiplied the size it
  // was asked for by the device pixel ratio, and sets the ratio on the
  // result itself.
  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    return Pixmap(actualSize(size, mode, state).width(), mode);
  }

  void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
    const QSize side = actualSize(rect.size(), mode, state);
    if (side.isEmpty()) return;
    const qreal dpr = painter->device() ? painter->device()->devicePixelRatio() : 1.0;
    // Drawn into a rectangle of `side`, the rendering lands pixel for pixel
    // on the device.
    const QPoint corner(rect.x() + (rect.width() - side.width()) / 2, rect.y() + (rect.height() - side.height()) / 2);
    const QRect target(corner, side);
    painter->drawPixmap(target, Pixmap(qRound(side.width() * dpr), mode));
  }

 private:
  QPixmap Pixmap(int pixels, QIcon::Mode mode) const {
    if (pixels <= 0) return {};
    const bool disabled = mode == QIcon::Disabled;
    // Buttons repaint on every hover, so each rendering is kept.
    const QString cacheKey = QStringLiteral("velmora-icon:%1:%2:%3").arg(int(icon_)).arg(pixels).arg(disabled);
    QPixmap pm;
    if (QPixmapCache::find(cacheKey, &pm)) return pm;
    QImage image = Render(icon_, pixels);
    if (disabled) Fade(image);
    pm = QPixmap::fromImage(std::move(image));
    QPixmapCache::insert(cacheKey, pm);
    return pm;
  }

  ToolbarIcon icon_;
};

}  // namespace

QIcon MakeToolbarIcon(ToolbarIcon icon) { return QIcon(new ToolbarIconEngine(icon)); }

}  // namespace velmora
