// The thumbnail grid: every list of pictures in Velmora (recent photos,
// frames, masks, clip art, textures, effect variants...) is one of these.
// Items are either a file path, whose thumbnail is read at reduced size on
// the grid's own worker threads the first time the item is shown, or a
// picture held by the grid, which the grid's processor edits in place.
//
// The program calls the grid from the user-interface thread only. Workers
// see nothing but a path, a size and a ticket; what they read comes back to
// the user-interface thread as a queued call and is dropped when the items
// it was read for have been cleared since.
#pragma once

#include <QAbstractScrollArea>
#include <QColor>
#include <QImage>
#include <QString>
#include <QThreadPool>
#include <memory>
#include <vector>

#include "imaging/IEBitmap.h"
#include "imaging/ImageProc.h"

namespace velmora {

class ThumbnailGrid : public QAbstractScrollArea {
  Q_OBJECT

 public:
  enum class Style { Flat, Raised };
  enum class ScrollBars { None, Vertical };
  // Where an item's thumbnail stands. Picture items are always Ready.
  enum class ThumbState { NotRequested, Loading, Ready, Failed };

  // At most this many files are read at once.
  static constexpr int kMaxReaders = 5;

  explicit ThumbnailGrid(QWidget* parent = nullptr);
  ~ThumbnailGrid() override;

  // --- Items -------------------------------------------------------------
  // Removes every item; reads still running for them are dropped.
  void Clear();
  // Appends between BeginUpdate and the matching EndUpdate lay the grid out
  // and draw it once, at EndUpdate. Calls nest.
  void BeginUpdate();
  void EndUpdate();
  // Both return the new item's index.
  int AppendFile(const QString& path);
  int AppendPicture(const IEBitmap& picture);
  int Count() const { return static_cast<int>(items_.size()); }
  // The file path of a file item; empty for picture items and bad indices.
  QString ItemPath(int index) const;
  // The picture of a picture item; nullptr otherwise.
  const IEBitmap* ItemPicture(int index) const;
  ThumbState ItemState(int index) const;

  // -1 when the grid is empty or nothing is selected. Setting an index out
  // of range selects nothing; a valid index is scrolled into view.
  int SelectedIndex() const { return selected_; }
  void SetSelectedIndex(int index);

  // A caption drawn under the item's thumbnail. Room for captions is made
  // under every row once any item has one.
  void SetCaption(int index, const QString& caption);
  QString Caption(int index) const;
  int CaptionFontSize() const { return captionFontSize_; }
  void SetCaptionFontSize(int points);

  // The processor of the grid: it acts on the selected item's picture (a
  // picture item; otherwise on an empty picture, which changes nothing),
  // without a selection. The item's thumbnail is redrawn after each
  // operation. Its undo copies are dropped when the selection moves.
  ImageProc& Proc() { return proc_; }

  // --- Settings ----------------------------------------------------------
  int ThumbWidth() const { return thumbW_; }
  int ThumbHeight() const { return thumbH_; }
  // Thumbnails already read are read again at the new size.
  void SetThumbnailSize(int width, int height);
  int HorizontalSpacing() const { return hSpacing_; }
  int VerticalSpacing() const { return vSpacing_; }
  void SetSpacing(int horizontal, int vertical);
  Style ThumbStyle() const { return style_; }
  void SetThumbStyle(Style style);
  QColor SelectionColor() const { return selColor_; }
  int SelectionWidth() const { return selWidth_; }
  void SetSelectionFrame(const QColor& color, int width);
  QColor BorderColor() const { return borderColor_; }
  void SetBorderColor(const QColor& color);
  QColor BackgroundColor() const { return background_; }
  void SetBackgroundColor(const QColor& color);
  QColor ThumbBackground() const { return thumbBackground_; }
  void SetThumbBackground(const QColor& color);
  ScrollBars ScrollBarMode() const { return scrollBars_; }
  // Without a scroll bar the wheel still scrolls.
  void SetScrollBars(ScrollBars mode);

  // --- Layout (viewport coordinates) -------------------------------------
  // As many columns as fit the viewport's width, at least one.
  int Columns() const;
  // The thumbnail's rectangle (caption excluded), scrolled.
  QRect ItemRect(int index) const;
  // The item whose cell (thumbnail and caption) holds the point, or -1.
  int ItemAt(const QPoint& viewportPos) const;

 signals:
  void SelectionChanged(int index);
  // A double-click on an item, after the first click has selected it.
  // Double-clicking empty space selects nothing and emits nothing.
  void DoubleClicked(int index);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  struct Item {
    QString path;     // file items
    IEBitmap picture; // picture items
    bool isPicture = false;
    QString caption;
    ThumbState state = ThumbState::NotRequested;
    QImage thumb;     // fitted to the thumbnail's inner box
    bool thumbDirty = false;  // picture items: make `thumb` again
  };

  // The processor's view of the grid: the selected item's picture as its
  // only layer.
  class Target : public ProcTarget {
   public:
    explicit Target(ThumbnailGrid& grid) : grid_(&grid) {}
    int LayerCount() const override { return 1; }
    int CurrentLayerIndex() const override { return 0; }
    IEBitmap& LayerBitmap(int index) override;
    void Repaint() override;
    void ImageChanged() override;

   private:
    ThumbnailGrid* grid_;
    IEBitmap none_;
  };

  struct Mailbox;  // shared with the workers

  int CaptionHeight() const;
  int CellHeight() const { return thumbH_ + CaptionHeight(); }
  int ContentHeight() const;
  QSize InnerBox() const;
  void Relayout();
  void Refresh();
  void RequestThumbnail(int index);
  void ThumbnailRead(quint64 generation, int index, const QImage& thumb, bool ok);
  void PictureChanged();
  void ResetFileThumbnails();
  void DrawItem(QPainter& p, int index);
  static QImage FitImage(const QImage& image, QSize box);

  std::vector<std::unique_ptr<Item>> items_;
  int selected_ = -1;
  int updateLock_ = 0;
  quint64 generation_ = 0;

  int thumbW_ = 90, thumbH_ = 80;
  int hSpacing_ = 6, vSpacing_ = 6;
  Style style_ = Style::Flat;
  QColor selColor_ = Qt::red;
  int selWidth_ = 3;
  QColor borderColor_ = Qt::black;
  QColor background_ = Qt::white;
  QColor thumbBackground_ = Qt::white;
  ScrollBars scrollBars_ = ScrollBars::Vertical;
  int captionFontSize_ = 8;
  bool hasCaptions_ = false;
  int wheelRest_ = 0;

  Target target_;
  ImageProc proc_;
  std::shared_ptr<Mailbox> mailbox_;
  QThreadPool pool_;  // last: destroyed (and waited for) first
};

}  // namespace velmora
