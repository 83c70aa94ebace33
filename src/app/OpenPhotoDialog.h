// The open dialog `Opena`: Qt's own file dialog (the desktop's native one
// has no room for a picture) with a preview pane that shows the file under
// the cursor. The preview is read on the grid's reader threads, so walking
// through a folder of large photos never stalls the dialog.
#pragma once

#include <QFileDialog>

namespace velmora {

class ThumbnailGrid;

class OpenPhotoDialog : public QFileDialog {
  Q_OBJECT

 public:
  static constexpr int kPreviewSide = 200;

  OpenPhotoDialog(QWidget* parent, const QString& title, const QStringList& filters, const QString& selectedFilter);

  ThumbnailGrid* Preview() { return preview_; }
  // Shows `path` in the preview pane; an empty path or a folder clears it.
  void ShowPreview(const QString& path);

 private:
  ThumbnailGrid* preview_;
};

}  // namespace velmora
