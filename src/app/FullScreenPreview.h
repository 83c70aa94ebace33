// The full-screen preview: the photo alone, fitted to the screen. Built
// once at start and kept for the whole run; each showing takes a fresh copy
// of the picture and drops it again on closing, so nothing of an earlier
// photo is ever seen the next time.
#pragma once

#include <QDialog>
#include <QImage>

#include "imaging/IEBitmap.h"

class QMenu;

namespace velmora {

// The view `FSI`: the picture fitted to the widget keeping its shape, never
// enlarged, scaled with linear interpolation, on the background colour.
class FitImageView : public QWidget {
  Q_OBJECT

 public:
  explicit FitImageView(QWidget* parent = nullptr);

  void SetImage(QImage image);
  // Fills the view with its background: the picture is gone.
  void Clear();
  const QImage& Image() const { return image_; }
  // Where the picture lands in a view of `view` pixels.
  static QRect FitRect(QSize picture, QSize view);

 signals:
  void Clicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QImage image_;
  QImage scaled_;  // the picture at its size on screen, made once per size
};

class FullScreenPreview : public QDialog {
  Q_OBJECT

 public:
  static constexpr const char* kTitle = "Full Screen Preview";

  explicit FullScreenPreview(QWidget* parent = nullptr);

  FitImageView* View() { return fsi_; }
  // Shows `picture` (layer 0 of the canvas) maximized at the screen's
  // top-left corner, modally; returns when it is closed.
  void ShowPicture(const IEBitmap& picture);
  // The same without waiting: for tests, which close it themselves.
  void OpenPicture(const IEBitmap& picture);

 protected:
  void done(int result) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  FitImageView* fsi_;
  QMenu* menu_;
};

}  // namespace velmora
