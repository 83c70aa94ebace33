#include "app/FullScreenPreview.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>

#include "document/qt/QtBitmap.h"

namespace velmora {

FitImageView::FitImageView(QWidget* parent) : QWidget(parent) {
  setAutoFillBackground(true);
  QPalette p = palette();
  p.setColor(QPalette::Window, Qt::black);
  setPalette(p);
}

QRect FitImageView::FitRect(QSize picture, QSize view) {
  if (picture.isEmpty() || view.isEmpty()) return {};
  QSize s = picture;
  if (s.width() > view.width() || s.height() > view.height()) s = picture.scaled(view, Qt::KeepAspectRatio);
  s = s.expandedTo(QSize(1, 1));
  return QRect(QPoint((view.width() - s.width()) / 2, (view.height() - s.height()) / 2), s);
}

void FitImageView::SetImage(QImage image) {
  image_ = std::move(image);
  scaled_ = QImage();
  update();
}

void FitImageView::Clear() { SetImage(QImage()); }

void FitImageView::resizeEvent(QResizeEvent*) { scaled_ = QImage(); }

void FitImageView::paintEvent(QPaintEvent*) {
  if (image_.isNull()) return;
  const QRect r = FitRect(image_.size(), size());
  if (r.isEmpty()) return;
  // Scaling a large photo is the slow part; it is done once per window
  // size, not on every repaint.
  if (scaled_.size() != r.size())
    scaled_ = r.size() == image_.size() ? image_
                                        : image_.scaled(r.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  QPainter painter(this);
  painter.drawImage(r.topLeft(), scaled_);
}

void FitImageView::mouseReleaseEvent(QMouseEvent*) { emit Clicked(); }

FullScreenPreview::FullScreenPreview(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("TFullSC"));
  setWindowTitle(QString::fromLatin1(kTitle));
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  fsi_ = new FitImageView(this);
  fsi_->setObjectName(QStringLiteral("FSI"));
  layout->addWidget(fsi_);
  connect(fsi_, &FitImageView::Clicked, this, &QDialog::reject);

  menu_ = new QMenu(this);
  QAction* close = menu_->addAction(QStringLiteral("Close"));
  close->setShortcut(QKeySequence(Qt::Key_Escape));
  connect(close, &QAction::triggered, this, &QDialog::reject);
  // Esc also closes through QDialog itself; the action carries the shortcut
  // for the menu's eye.
}

void FullScreenPreview::OpenPicture(const IEBitmap& picture) {
  fsi_->SetImage(ToQImage(picture));
  if (QScreen* screen = QGuiApplication::primaryScreen()) setGeometry(screen->availableGeometry());
  move(0, 0);
  setWindowState(windowState() | Qt::WindowMaximized);
  setModal(true);
  show();
}

void FullScreenPreview::ShowPicture(const IEBitmap& picture) {
  OpenPicture(picture);
  exec();
}

void FullScreenPreview::done(int result) {
  fsi_->Clear();
  QDialog::done(result);
}

void FullScreenPreview::contextMenuEvent(QContextMenuEvent* event) { menu_->exec(event->globalPos()); }

}  // namespace velmora
