#include "app/OpenPhotoDialog.h"

#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "app/ThumbnailGrid.h"

namespace velmora {

OpenPhotoDialog::OpenPhotoDialog(QWidget* parent, const QString& title, const QStringList& filters,
                                 const QString& selectedFilter)
    : QFileDialog(parent, title) {
  setObjectName(QStringLiteral("Opena"));
  setOption(QFileDialog::DontUseNativeDialog, true);
  setAcceptMode(QFileDialog::AcceptOpen);
  setFileMode(QFileDialog::ExistingFile);
  setNameFilters(filters);
  if (!selectedFilter.isEmpty()) selectNameFilter(selectedFilter);

  auto* pane = new QWidget(this);
  pane->setObjectName(QStringLiteral("PreviewPane"));
  auto* v = new QVBoxLayout(pane);
  v->setContentsMargins(6, 0, 0, 0);
  v->addWidget(new QLabel(QStringLiteral("Preview"), pane));
  preview_ = new ThumbnailGrid(pane);
  preview_->setObjectName(QStringLiteral("OpenaPreview"));
  preview_->SetThumbnailSize(kPreviewSide, kPreviewSide);
  preview_->SetSpacing(4, 4);
  preview_->SetScrollBars(ThumbnailGrid::ScrollBars::None);
  preview_->SetSelectionFrame(QColor(0, 0, 0, 0), 0);
  preview_->setFixedSize(kPreviewSide + 12, kPreviewSide + 40);
  v->addWidget(preview_);
  v->addStretch(1);

  // Qt's own dialog lays itself out on a grid: the pane goes to the right
  // of the file list, over all its rows.
  if (auto* grid = qobject_cast<QGridLayout*>(layout()))
    grid->addWidget(pane, 0, grid->columnCount(), grid->rowCount(), 1);
  connect(this, &QFileDialog::currentChanged, this, &OpenPhotoDialog::ShowPreview);
}

void OpenPhotoDialog::ShowPreview(const QString& path) {
  preview_->BeginUpdate();
  preview_->Clear();
  const QFileInfo info(path);
  if (!path.isEmpty() && info.isFile()) preview_->SetCaption(preview_->AppendFile(path), info.fileName());
  preview_->EndUpdate();
}

}  // namespace velmora
