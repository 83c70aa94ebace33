#include "output/VisualJPEG.h"

#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QHideEvent>
#include <QShowEvent>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

#include "app/CanvasWidget.h"
#include "document/Document.h"
#include "output/JpegSimpleDialog.h"

namespace velmora {

namespace {

QLabel* MakeLabel(QWidget* parent, const char* text, const char* name, const QRect& geometry) {
  auto* label = new QLabel(QString::fromLatin1(text), parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setGeometry(geometry);
  return label;
}

QLabel* MakePanel(QWidget* parent, const char* name, const QRect& geometry) {
  auto* panel = new QLabel(parent);
  panel->setObjectName(QString::fromLatin1(name));
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panel->setIndent(4);
  panel->setGeometry(geometry);
  return panel;
}

QSlider* MakeSlider(QWidget* parent, const char* name, int min, int max, int value, const QRect& geometry) {
  auto* s = new QSlider(Qt::Horizontal, parent);
  s->setObjectName(QString::fromLatin1(name));
  s->setRange(min, max);
  s->setValue(value);
  s->setTickPosition(QSlider::TicksBelow);
  s->setTickInterval(10);
  s->setPageStep(10);
  s->setGeometry(geometry);
  return s;
}

QPushButton* MakeButton(QWidget* parent, const char* text, const char* name, const QRect& geometry) {
  auto* b = new QPushButton(QString::fromLatin1(text), parent);
  b->setObjectName(QString::fromLatin1(name));
  b->setGeometry(geometry);
  return b;
}

// The wait cursor while a compression runs.
class BusyCursor {
 public:
  BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~BusyCursor() { QApplication::restoreOverrideCursor(); }
};

}  // namespace

VisualJPEG::VisualJPEG(Document& doc, UserInterface& ui, std::string trialFolder, QWidget* parent)
    : QDialog(parent), doc_(&doc), optimizer_(std::make_unique<JpegOptimizer>(ui, std::move(trialFolder))) {
  setObjectName(QStringLiteral("VisualJPEG"));
  setWindowTitle(QStringLiteral("Optimize JPEG"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setFixedSize(kClientWidth, kClientHeight);

  MakeLabel(this, "Source Image", "SourceLabel", QRect(8, 4, 200, 16));
  sr_ = MakeView(optimizer_->SR(), "SR", QRect(8, 22, 401, 281));
  MakeLabel(this, "Compressed JPEG Image", "DestLabel", QRect(416, 4, 240, 16));
  ds_ = MakeView(optimizer_->DS(), "DS", QRect(416, 22, 425, 281));
  source_ = MakePanel(this, "Source", QRect(8, 307, 401, 22));
  dest_ = MakePanel(this, "Dest", QRect(416, 307, 425, 22));

  MakeLabel(this, "Image quality", "CompressLabel", QRect(8, 340, 150, 16));
  compress_ = MakeSlider(this, "Compress", 1, 100, 80, QRect(8, 358, 300, 34));
  MakeLabel(this, "Smooth", "SmoothLabel", QRect(328, 340, 150, 16));
  smooth_ = MakeSlider(this, "Smooth", 0, 100, 0, QRect(328, 358, 300, 34));
  optimal_ = new QCheckBox(QStringLiteral("Use optimal algorithm"), this);
  optimal_->setObjectName(QStringLiteral("Optimal"));
  optimal_->setGeometry(8, 404, 300, 22);

  preview_ = MakeButton(this, "Preview", "PreviewButton", QRect(752, 338, 89, 27));
  save_ = MakeButton(this, "Save", "SaveButton", QRect(752, 372, 89, 27));
  close_ = MakeButton(this, "Close", "CloseButton", QRect(752, 406, 89, 27));
  connect(preview_, &QPushButton::clicked, this, &VisualJPEG::PreviewClick);
  connect(save_, &QPushButton::clicked, this, &VisualJPEG::SaveClick);
  connect(close_, &QPushButton::clicked, this, &QDialog::reject);

  status_ = MakePanel(this, "StatusLine", QRect(0, kClientHeight - 22, kClientWidth, 22));
  status_->setText(QString::fromLatin1(kStatusText));
}

VisualJPEG::~VisualJPEG() {
  // The views detach from the optimizer's canvases, so they go first.
  delete sr_;
  delete ds_;
}

CanvasWidget* VisualJPEG::MakeView(LayerCanvas& canvas, const char* name, const QRect& geometry) {
  auto* view = new CanvasWidget(canvas, this);
  view->setObjectName(QString::fromLatin1(name));
  view->setGeometry(geometry);
  // The wheel scales a view only once it has been clicked.
  view->setFocusPolicy(Qt::ClickFocus);
  view->viewport()->installEventFilter(this);
  return view;
}

bool VisualJPEG::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Wheel)
    for (CanvasWidget* view : {sr_, ds_})
      if (view && watched == view->viewport() && !view->hasFocus()) return true;
  return QDialog::eventFilter(watched, event);
}

JpegSettings VisualJPEG::Settings() const {
  JpegSettings s;
  s.quality = compress_->value();
  s.smooth = smooth_->value();
  s.optimal = optimal_->isChecked();
  return s;
}

void VisualJPEG::Execute() { exec(); }

void VisualJPEG::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;
  CentreOnParent(this);
  // Compressed once the window is on screen, so that it does not wait
  // blank for a large photo.
  if (!activationPending_) {
    activationPending_ = true;
    QTimer::singleShot(0, this, [this] {
      activationPending_ = false;
      if (isVisible()) FormActivate();
    });
  }
}

void VisualJPEG::hideEvent(QHideEvent* event) {
  QDialog::hideEvent(event);
  // Two copies of a large photo are not kept for the rest of the run.
  if (!event->spontaneous()) optimizer_->ReleasePictures();
}

void VisualJPEG::FormActivate() {
  BusyCursor busy;
  optimizer_->Activate(doc_->Layer0(), Settings());
  UpdateTexts();
}

void VisualJPEG::PreviewClick() {
  BusyCursor busy;
  optimizer_->TryToSave(Settings());
  UpdateTexts();
}

void VisualJPEG::SaveClick() {
  optimizer_->Save(Settings());
  accept();
}

void VisualJPEG::UpdateTexts() {
  source_->setText(QString::fromStdString(optimizer_->SourceText()));
  dest_->setText(QString::fromStdString(optimizer_->DestText()));
}

}  // namespace velmora
