#include "app/ThumbnailGrid.h"

#include <QFile>
#include <QFontMetrics>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>
#include <mutex>

#include "document/files/ImageFile.h"
#include "document/qt/QtBitmap.h"

namespace velmora {

// The one thing the workers share with the grid: where to send what they
// read. The grid's destructor empties it under the lock, so a worker either
// posts before the grid starts dying (and ~QObject discards the posted
// call) or sees nobody to post to.
struct ThumbnailGrid::Mailbox {
  std::mutex mutex;
  ThumbnailGrid* grid = nullptr;
};

namespace {

// The gap between the thumbnail's border and its picture.
constexpr int kInset = 2;
// The raised style's shadow, outside the thumbnail at the right and bottom.
constexpr int kShadow = 2;

}  // namespace

ThumbnailGrid::ThumbnailGrid(QWidget* parent)
    : QAbstractScrollArea(parent), target_(*this), proc_(target_), mailbox_(std::make_shared<Mailbox>()) {
  mailbox_->grid = this;
  pool_.setMaxThreadCount(kMaxReaders);
  setFrameShape(QFrame::NoFrame);  // the caller's size is the grid's
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setFocusPolicy(Qt::StrongFocus);
  Relayout();
}

ThumbnailGrid::~ThumbnailGrid() {
  {
    std::lock_guard<std::mutex> lock(mailbox_->mutex);
    mailbox_->grid = nullptr;
  }
  // Reads not yet started never start; the few running ones finish on
  // their own and find nobody to deliver to.
  pool_.clear();
  pool_.waitForDone();
}

// --- Items ---------------------------------------------------------------

void ThumbnailGrid::Clear() {
  ++generation_;  // reads already running deliver into the void
  pool_.clear();
  items_.clear();
  hasCaptions_ = false;
  proc_.ClearUndo();
  const bool hadSelection = selected_ != -1;
  selected_ = -1;
  verticalScrollBar()->setValue(0);
  Refresh();
  if (hadSelection) emit SelectionChanged(-1);
}

void ThumbnailGrid::BeginUpdate() { ++updateLock_; }

void ThumbnailGrid::EndUpdate() {
  if (updateLock_ == 0) return;
  if (--updateLock_ == 0) Refresh();
}

int ThumbnailGrid::AppendFile(const QString& path) {
  auto item = std::make_unique<Item>();
  item->path = path;
  items_.push_back(std::move(item));
  Refresh();
  return Count() - 1;
}

int ThumbnailGrid::AppendPicture(const IEBitmap& picture) {
  auto item = std::make_unique<Item>();
  item->picture = picture;
  item->isPicture = true;
  item->state = ThumbState::Ready;
  item->thumbDirty = true;
  items_.push_back(std::move(item));
  Refresh();
  return Count() - 1;
}

QString ThumbnailGrid::ItemPath(int index) const {
  if (index < 0 || index >= Count()) return {};
  return items_[index]->path;
}

const IEBitmap* ThumbnailGrid::ItemPicture(int index) const {
  if (index < 0 || index >= Count() || !items_[index]->isPicture) return nullptr;
  return &items_[index]->picture;
}

ThumbnailGrid::ThumbState ThumbnailGrid::ItemState(int index) const {
  if (index < 0 || index >= Count()) return ThumbState::NotRequested;
  return items_[index]->state;
}

void ThumbnailGrid::SetSelectedIndex(int index) {
  if (index < 0 || index >= Count()) index = -1;
  const bool changed = index != selected_;
  if (changed) {
    // Undo copies belong to the picture they were taken from.
    proc_.ClearUndo();
    selected_ = index;
  }
  if (selected_ >= 0 && updateLock_ == 0) {
    Relayout();
    const QRect r = ItemRect(selected_);
    // Its frame and the spacing around it come into view too.
    const int margin = std::max(selWidth_, vSpacing_);
    const int top = r.top() - margin;
    const int bottom = r.top() + CellHeight() + margin;  // the caption too
    QScrollBar* bar = verticalScrollBar();
    if (top < 0)
      bar->setValue(bar->value() + top);
    else if (bottom > viewport()->height())
      bar->setValue(bar->value() + std::min(top, bottom - viewport()->height()));
  }
  viewport()->update();
  if (changed) emit SelectionChanged(selected_);
}

void ThumbnailGrid::SetCaption(int index, const QString& caption) {
  if (index < 0 || index >= Count()) return;
  items_[index]->caption = caption;
  if (!caption.isEmpty()) hasCaptions_ = true;
  Refresh();
}

QString ThumbnailGrid::Caption(int index) const {
  if (index < 0 || index >= Count()) return {};
  return items_[index]->caption;
}

void ThumbnailGrid::SetCaptionFontSize(int points) {
  captionFontSize_ = std::max(points, 1);
  Refresh();
}

// --- The processor -------------------------------------------------------

IEBitmap& ThumbnailGrid::Target::LayerBitmap(int) {
  const int i = grid_->selected_;
  if (i >= 0 && i < grid_->Count() && grid_->items_[i]->isPicture) return grid_->items_[i]->picture;
  none_ = IEBitmap();  // whatever the last operation left in it
  return none_;
}

void ThumbnailGrid::Target::Repaint() { grid_->PictureChanged(); }
void ThumbnailGrid::Target::ImageChanged() { grid_->PictureChanged(); }

void ThumbnailGrid::PictureChanged() {
  if (selected_ >= 0 && items_[selected_]->isPicture) items_[selected_]->thumbDirty = true;
  viewport()->update();
}

// --- Settings ------------------------------------------------------------

void ThumbnailGrid::SetThumbnailSize(int width, int height) {
  width = std::max(width, 2 * kInset + 2);
  height = std::max(height, 2 * kInset + 2);
  if (width == thumbW_ && height == thumbH_) return;
  thumbW_ = width;
  thumbH_ = height;
  ResetFileThumbnails();
  Refresh();
}

void ThumbnailGrid::ResetFileThumbnails() {
  ++generation_;  // reads at the old size are dropped
  pool_.clear();
  for (auto& item : items_) {
    if (item->isPicture) {
      item->thumbDirty = true;
    } else {
      item->state = ThumbState::NotRequested;
      item->thumb = QImage();
    }
  }
}

void ThumbnailGrid::SetSpacing(int horizontal, int vertical) {
  hSpacing_ = std::max(horizontal, 0);
  vSpacing_ = std::max(vertical, 0);
  Refresh();
}

void ThumbnailGrid::SetThumbStyle(Style style) {
  style_ = style;
  viewport()->update();
}

void ThumbnailGrid::SetSelectionFrame(const QColor& color, int width) {
  selColor_ = color;
  selWidth_ = std::max(width, 0);
  viewport()->update();
}

void ThumbnailGrid::SetBorderColor(const QColor& color) {
  borderColor_ = color;
  viewport()->update();
}

void ThumbnailGrid::SetBackgroundColor(const QColor& color) {
  background_ = color;
  viewport()->update();
}

void ThumbnailGrid::SetThumbBackground(const QColor& color) {
  thumbBackground_ = color;
  viewport()->update();
}

void ThumbnailGrid::SetScrollBars(ScrollBars mode) {
  scrollBars_ = mode;
  setVerticalScrollBarPolicy(mode == ScrollBars::None ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
  Refresh();
}

// --- Layout --------------------------------------------------------------

int ThumbnailGrid::Columns() const {
  const int fit = (viewport()->width() - hSpacing_) / (thumbW_ + hSpacing_);
  return std::max(fit, 1);
}

int ThumbnailGrid::CaptionHeight() const {
  if (!hasCaptions_) return 0;
  QFont f = font();
  f.setPointSize(captionFontSize_);
  return QFontMetrics(f).height() + 2;
}

int ThumbnailGrid::ContentHeight() const {
  if (items_.empty()) return 0;
  const int rows = (Count() + Columns() - 1) / Columns();
  return vSpacing_ + rows * (CellHeight() + vSpacing_);
}

QSize ThumbnailGrid::InnerBox() const { return {thumbW_ - 2 * kInset, thumbH_ - 2 * kInset}; }

QRect ThumbnailGrid::ItemRect(int index) const {
  if (index < 0 || index >= Count()) return {};
  const int cols = Columns();
  const int col = index % cols, row = index / cols;
  const int x = hSpacing_ + col * (thumbW_ + hSpacing_);
  const int y = vSpacing_ + row * (CellHeight() + vSpacing_) - verticalScrollBar()->value();
  return {x, y, thumbW_, thumbH_};
}

int ThumbnailGrid::ItemAt(const QPoint& pos) const {
  const int cols = Columns();
  const int x = pos.x() - hSpacing_;
  const int y = pos.y() + verticalScrollBar()->value() - vSpacing_;
  if (x < 0 || y < 0) return -1;
  const int col = x / (thumbW_ + hSpacing_), row = y / (CellHeight() + vSpacing_);
  if (col >= cols) return -1;
  // Inside the cell, not in the spacing after it.
  if (x % (thumbW_ + hSpacing_) >= thumbW_ || y % (CellHeight() + vSpacing_) >= CellHeight()) return -1;
  const int index = row * cols + col;
  return index < Count() ? index : -1;
}

void ThumbnailGrid::Relayout() {
  QScrollBar* bar = verticalScrollBar();
  const int rowStep = CellHeight() + vSpacing_;
  bar->setRange(0, std::max(ContentHeight() - viewport()->height(), 0));
  bar->setPageStep(std::max(viewport()->height(), 1));
  bar->setSingleStep(std::max(rowStep / 4, 1));
}

void ThumbnailGrid::Refresh() {
  if (updateLock_ > 0) return;
  Relayout();
  viewport()->update();
}

// --- Loading -------------------------------------------------------------

QImage ThumbnailGrid::FitImage(const QImage& image, QSize box) {
  if (image.isNull() || box.isEmpty()) return image;
  // Small pictures keep their size rather than being blown up.
  if (image.width() <= box.width() && image.height() <= box.height()) return image;
  return image.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

void ThumbnailGrid::RequestThumbnail(int index) {
  Item& item = *items_[index];
  if (item.isPicture || item.state != ThumbState::NotRequested) return;
  item.state = ThumbState::Loading;
  // The worker gets copies only: nothing of the grid is reachable from it
  // but the mailbox.
  const std::string path = QFile::encodeName(item.path).toStdString();
  const QSize box = InnerBox();
  const int side = std::max(box.width(), box.height());
  const quint64 generation = generation_;
  std::shared_ptr<Mailbox> mailbox = mailbox_;
  pool_.start([mailbox, path, box, side, generation, index] {
    QImage thumb;
    bool ok = false;
    try {
      IEBitmap bmp;
      if (ReadThumbnail(path, side, bmp)) {
        thumb = FitImage(ToQImage(bmp), box);
        ok = !thumb.isNull();
      }
    } catch (...) {
      // Out of memory or a codec's own failure: a placeholder, like any
      // other file that cannot be read.
      thumb = QImage();
      ok = false;
    }
    std::lock_guard<std::mutex> lock(mailbox->mutex);
    ThumbnailGrid* grid = mailbox->grid;
    if (!grid) return;
    QMetaObject::invokeMethod(
        grid, [grid, generation, index, thumb, ok] { grid->ThumbnailRead(generation, index, thumb, ok); },
        Qt::QueuedConnection);
  });
}

void ThumbnailGrid::ThumbnailRead(quint64 generation, int index, const QImage& thumb, bool ok) {
  if (generation != generation_ || index < 0 || index >= Count()) return;
  Item& item = *items_[index];
  if (item.isPicture || item.state != ThumbState::Loading) return;
  item.state = ok ? ThumbState::Ready : ThumbState::Failed;
  item.thumb = thumb;
  if (updateLock_ == 0) viewport()->update();
}

// --- Drawing -------------------------------------------------------------

void ThumbnailGrid::paintEvent(QPaintEvent*) {
  QPainter p(viewport());
  p.fillRect(viewport()->rect(), background_);
  if (items_.empty()) return;
  const int cols = Columns();
  const int rowStep = CellHeight() + vSpacing_;
  const int scroll = verticalScrollBar()->value();
  // Rows touching the viewport, with the frame and shadow that spill over.
  const int spill = std::max(selWidth_, kShadow);
  const int firstRow = std::max((scroll - vSpacing_ - spill) / rowStep, 0);
  const int lastRow = (scroll + viewport()->height() + spill) / rowStep;
  const int first = firstRow * cols;
  const int last = std::min((lastRow + 1) * cols, Count());
  for (int i = first; i < last; ++i) {
    RequestThumbnail(i);
    DrawItem(p, i);
  }
}

void ThumbnailGrid::DrawItem(QPainter& p, int index) {
  Item& item = *items_[index];
  const QRect r = ItemRect(index);

  if (style_ == Style::Raised) {
    const QColor shadow = background_.darker(160);
    p.fillRect(QRect(r.left() + kShadow, r.bottom() + 1, r.width(), kShadow), shadow);
    p.fillRect(QRect(r.right() + 1, r.top() + kShadow, kShadow, r.height()), shadow);
  }
  p.fillRect(r, thumbBackground_);
  p.setPen(borderColor_);
  p.setBrush(Qt::NoBrush);
  p.drawRect(r.adjusted(0, 0, -1, -1));
  if (style_ == Style::Raised) {
    p.setPen(thumbBackground_.lighter(140));
    p.drawLine(r.left() + 1, r.top() + 1, r.right() - 1, r.top() + 1);
    p.drawLine(r.left() + 1, r.top() + 1, r.left() + 1, r.bottom() - 1);
  }

  if (item.isPicture && item.thumbDirty) {
    item.thumb = FitImage(ToQImage(item.picture), InnerBox());
    item.thumbDirty = false;
  }
  const QRect inner = r.adjusted(kInset, kInset, -kInset, -kInset);
  if (!item.thumb.isNull()) {
    const QPoint at(inner.left() + (inner.width() - item.thumb.width()) / 2,
                    inner.top() + (inner.height() - item.thumb.height()) / 2);
    p.drawImage(at, item.thumb);
  } else if (item.state == ThumbState::Failed || item.isPicture) {
    // A file that cannot be read (or an empty picture): a crossed box.
    p.setPen(QPen(borderColor_, 1));
    const QRect c = inner.adjusted(inner.width() / 4, inner.height() / 4, -inner.width() / 4, -inner.height() / 4);
    p.drawRect(c);
    p.drawLine(c.topLeft(), c.bottomRight());
    p.drawLine(c.topRight(), c.bottomLeft());
  }

  if (hasCaptions_ && !item.caption.isEmpty()) {
    QFont f = font();
    f.setPointSize(captionFontSize_);
    p.setFont(f);
    p.setPen(palette().color(QPalette::WindowText));
    const QRect cap(r.left(), r.bottom() + 1, r.width(), CaptionHeight());
    const QString text = QFontMetrics(f).elidedText(item.caption, Qt::ElideRight, cap.width());
    p.drawText(cap, Qt::AlignHCenter | Qt::AlignVCenter, text);
  }

  if (index == selected_ && selWidth_ > 0) {
    // The frame lies just outside the thumbnail, so it hides nothing of it.
    const int w = selWidth_;
    const QRect o = r.adjusted(-w, -w, w, w);
    p.fillRect(QRect(o.left(), o.top(), o.width(), w), selColor_);
    p.fillRect(QRect(o.left(), r.bottom() + 1, o.width(), w), selColor_);
    p.fillRect(QRect(o.left(), r.top(), w, r.height()), selColor_);
    p.fillRect(QRect(r.right() + 1, r.top(), w, r.height()), selColor_);
  }
}

// --- Events --------------------------------------------------------------

void ThumbnailGrid::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  if (updateLock_ == 0) Relayout();
}

void ThumbnailGrid::scrollContentsBy(int, int) { viewport()->update(); }

void ThumbnailGrid::mousePressEvent(QMouseEvent* event) {
  setFocus(Qt::MouseFocusReason);
  if (event->button() == Qt::LeftButton || event->button() == Qt::RightButton)
    SetSelectedIndex(ItemAt(event->position().toPoint()));
  event->accept();
}

void ThumbnailGrid::mouseDoubleClickEvent(QMouseEvent* event) {
  event->accept();
  if (event->button() != Qt::LeftButton) return;
  const int index = ItemAt(event->position().toPoint());
  if (index < 0) return;
  SetSelectedIndex(index);
  emit DoubleClicked(index);
}

void ThumbnailGrid::wheelEvent(QWheelEvent* event) {
  // One notch moves one row, with or without a visible scroll bar.
  wheelRest_ += event->angleDelta().y();
  const int notches = wheelRest_ / 120;
  wheelRest_ -= notches * 120;
  QScrollBar* bar = verticalScrollBar();
  bar->setValue(bar->value() - notches * (CellHeight() + vSpacing_));
  event->accept();
}

}  // namespace velmora
