// The thumbnail grid as callers and users drive it: files read when shown,
// placeholders for what cannot be read, clicks, layout, clearing while the
// workers are busy, and the processor on a picture item.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>
#include <cstdlib>
#include <memory>

#include "app/ThumbnailGrid.h"
#include "document/files/ImageFile.h"
#include "imaging/Pictures.h"

namespace velmora {
namespace {

using test::RGB;
using test::Solid;
using State = ThumbnailGrid::ThumbState;

constexpr int kWaitMs = 20000;  // generous: the sanitizer build is slow

// A grid of 90 x 80 thumbnails spaced 6 pixels, without a scroll bar, so
// that its viewport is exactly its size; and a folder of small files.
class ThumbnailGridTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    red = Write("red.png", Solid(120, 60, RGB(255, 0, 0)));
    blue = Write("blue.jpg", Solid(40, 100, RGB(0, 0, 255)));
    broken = dir.filePath("broken.png");
    QFile f(broken);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("\x89PNG\r\n\x1a\n this is no picture");
    f.close();
    grid = std::make_unique<ThumbnailGrid>();
    grid->SetThumbnailSize(90, 80);
    grid->SetSpacing(6, 6);
    grid->SetScrollBars(ThumbnailGrid::ScrollBars::None);
    grid->SetBackgroundColor(QColor(40, 40, 40));
    grid->SetThumbBackground(Qt::white);
    grid->SetBorderColor(Qt::black);
    grid->resize(297, 265);
  }
  void TearDown() override { grid.reset(); }

  QString Write(const char* name, const IEBitmap& bmp) {
    const QString path = dir.filePath(name);
    EXPECT_TRUE(WriteImage(QFile::encodeName(path).toStdString(), bmp).ok) << name;
    return path;
  }
  void Show() {
    grid->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(grid.get()));
  }
  bool WaitSettled(int index) {
    return QTest::qWaitFor(
        [&] { return grid->ItemState(index) == State::Ready || grid->ItemState(index) == State::Failed; }, kWaitMs);
  }
  QImage Shown() { return grid->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB888); }
  QColor CentreOf(int index) { return Shown().pixelColor(grid->ItemRect(index).center()); }
  void Click(int index) {
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->ItemRect(index).center());
  }

  QTemporaryDir dir;
  QString red, blue, broken;
  std::unique_ptr<ThumbnailGrid> grid;
};

TEST_F(ThumbnailGridTest, EmptyGridSelectsNothing) {
  EXPECT_EQ(grid->SelectedIndex(), -1);
  grid->SetSelectedIndex(0);
  EXPECT_EQ(grid->SelectedIndex(), -1);
  EXPECT_TRUE(grid->ItemPath(0).isEmpty());
  Show();
  EXPECT_EQ(grid->ItemAt(QPoint(40, 40)), -1);
  EXPECT_EQ(CentreOf(0), QColor(40, 40, 40)) << "an empty grid is all background";
}

TEST_F(ThumbnailGridTest, FileThumbnailsAreReadWhenShownAndFitTheirBox) {
  grid->BeginUpdate();
  grid->AppendFile(red);
  grid->AppendFile(blue);
  grid->EndUpdate();
  EXPECT_EQ(grid->ItemPath(1), blue);
  EXPECT_EQ(grid->ItemState(0), State::NotRequested) << "nothing is read before the item is shown";

  Show();
  ASSERT_TRUE(WaitSettled(0) && WaitSettled(1));
  EXPECT_EQ(grid->ItemState(0), State::Ready);
  EXPECT_EQ(grid->ItemState(1), State::Ready);
  QTest::qWait(20);

  const QImage shown = Shown();
  const QRect r0 = grid->ItemRect(0), r1 = grid->ItemRect(1);
  EXPECT_EQ(shown.pixelColor(r0.center()), QColor(255, 0, 0));
  // 120 x 60 fitted into the 86 x 76 inner box: 86 x 43, centred, so the
  // top of the box stays thumbnail background.
  EXPECT_EQ(shown.pixelColor(r0.center().x(), r0.top() + 4), QColor(Qt::white));
  const QColor b = shown.pixelColor(r1.center());
  EXPECT_LT(b.red(), 40);
  EXPECT_GT(b.blue(), 215);
  // The border.
  EXPECT_EQ(shown.pixelColor(r0.left(), r0.center().y()), QColor(Qt::black));
}

TEST_F(ThumbnailGridTest, OnlyItemsScrolledIntoViewAreRead) {
  grid->resize(297, 100);  // one row shows
  grid->BeginUpdate();
  for (int i = 0; i < 12; ++i) grid->AppendFile(red);
  grid->EndUpdate();
  Show();
  ASSERT_TRUE(WaitSettled(0));
  EXPECT_EQ(grid->ItemState(11), State::NotRequested);

  // The wheel scrolls even without a scroll bar; a notch is a row.
  for (int n = 0; n < 4; ++n) {
    QWheelEvent wheel(QPointF(50, 50), grid->viewport()->mapToGlobal(QPointF(50, 50)), QPoint(), QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(grid->viewport(), &wheel);
  }
  EXPECT_EQ(grid->verticalScrollBar()->value(), grid->verticalScrollBar()->maximum());
  EXPECT_GT(grid->verticalScrollBar()->value(), 0);
  ASSERT_TRUE(WaitSettled(11));
  EXPECT_EQ(grid->ItemState(11), State::Ready);
}

TEST_F(ThumbnailGridTest, UnreadableFilesGetAPlaceholder) {
  grid->AppendFile(broken);
  grid->AppendFile(dir.filePath("missing.jpg"));
  grid->AppendFile(dir.filePath("no-extension"));
  grid->AppendFile(red);
  Show();
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(WaitSettled(i)) << i;
  EXPECT_EQ(grid->ItemState(0), State::Failed);
  EXPECT_EQ(grid->ItemState(1), State::Failed);
  EXPECT_EQ(grid->ItemState(2), State::Failed);
  EXPECT_EQ(grid->ItemState(3), State::Ready) << "a bad file does not spoil its neighbours";
  QTest::qWait(20);

  // The placeholder is drawn inside the box, in the border colour.
  const QImage shown = Shown();
  const QRect inner = grid->ItemRect(0).adjusted(4, 4, -4, -4);
  int dark = 0;
  for (int y = inner.top(); y <= inner.bottom(); ++y)
    for (int x = inner.left(); x <= inner.right(); ++x) dark += shown.pixelColor(x, y) == QColor(Qt::black);
  EXPECT_GT(dark, 20);
}

TEST_F(ThumbnailGridTest, ClicksSelectAndDoubleClickReportsTheClickedItem) {
  grid->AppendFile(red);
  grid->AppendFile(blue);
  grid->AppendFile(red);
  Show();
  QSignalSpy doubles(grid.get(), &ThumbnailGrid::DoubleClicked);

  Click(1);
  EXPECT_EQ(grid->SelectedIndex(), 1);
  EXPECT_EQ(grid->ItemPath(grid->SelectedIndex()), blue);

  // Selected 1, double-clicks 2: the event names 2 and 2 is selected.
  QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, grid->ItemRect(2).center());
  ASSERT_EQ(doubles.count(), 1);
  EXPECT_EQ(doubles.at(0).at(0).toInt(), 2);
  EXPECT_EQ(grid->SelectedIndex(), 2);

  // The selection frame is drawn just outside the thumbnail.
  grid->SetSelectionFrame(QColor(255, 0, 0), 3);
  QTest::qWait(20);
  const QRect r2 = grid->ItemRect(2);
  EXPECT_EQ(Shown().pixelColor(r2.left() - 2, r2.center().y()), QColor(255, 0, 0));

  // Empty space (the spacing, the area after the last item) selects nothing
  // and a double-click there reports nothing.
  const QPoint gap(grid->ItemRect(0).right() + 3, grid->ItemRect(0).center().y());
  QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, gap);
  EXPECT_EQ(grid->SelectedIndex(), -1);
  QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, QPoint(40, 200));
  EXPECT_EQ(doubles.count(), 1);
  EXPECT_EQ(grid->SelectedIndex(), -1);
}

TEST_F(ThumbnailGridTest, ColumnsAreAsManyAsFitTheWidth) {
  for (int i = 0; i < 7; ++i) grid->AppendFile(red);
  Show();
  struct Case { int width, columns; };
  // 6 + n x (90 + 6) pixels hold n columns.
  for (Case c : {Case{297, 3}, Case{294, 3}, Case{293, 2}, Case{198, 2}, Case{197, 1}, Case{40, 1}}) {
    grid->resize(c.width, 265);
    QApplication::processEvents();
    EXPECT_EQ(grid->Columns(), c.columns) << c.width;
    // Item `columns` starts the second row.
    EXPECT_EQ(grid->ItemRect(c.columns).left(), 6) << c.width;
    EXPECT_EQ(grid->ItemRect(c.columns).top(), 6 + 80 + 6) << c.width;
  }
}

TEST_F(ThumbnailGridTest, SettingTheSelectionScrollsItIntoView) {
  grid->SetScrollBars(ThumbnailGrid::ScrollBars::Vertical);
  grid->resize(297, 150);
  grid->BeginUpdate();
  for (int i = 0; i < 30; ++i) grid->AppendFile(i % 2 ? red : blue);
  grid->EndUpdate();
  Show();
  grid->SetSelectedIndex(29);
  EXPECT_EQ(grid->SelectedIndex(), 29);
  const QRect r = grid->ItemRect(29);
  EXPECT_GE(r.top(), 0);
  EXPECT_LE(r.bottom(), grid->viewport()->height());
  grid->SetSelectedIndex(0);
  EXPECT_EQ(grid->verticalScrollBar()->value(), 0);
  grid->SetSelectedIndex(30);
  EXPECT_EQ(grid->SelectedIndex(), -1);
}

TEST_F(ThumbnailGridTest, ClearingOrDestroyingWhileReadingIsSafe) {
  // Large enough that reads are still running when the grid lets go.
  const QString big = Write("big.jpg", test::Random(1600, 1200, IEPixelFormat::ie24RGB));
  grid->resize(600, 800);
  grid->BeginUpdate();
  for (int i = 0; i < 40; ++i) grid->AppendFile(big);
  grid->EndUpdate();
  Show();
  grid->repaint();  // the reads start now
  ASSERT_EQ(grid->ItemState(0), State::Loading);

  // Results for the cleared items must not land on the new ones, which are
  // waiting for reads of their own at the same indices.
  grid->Clear();
  EXPECT_EQ(grid->Count(), 0);
  EXPECT_EQ(grid->SelectedIndex(), -1);
  for (int i = 0; i < 8; ++i) grid->AppendFile(broken);
  grid->repaint();
  for (int i = 0; i < 8; ++i) ASSERT_TRUE(WaitSettled(i)) << i;
  QTest::qWait(300);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(grid->ItemState(i), State::Failed) << i;

  // Destroyed while its workers read.
  grid->Clear();
  for (int i = 0; i < 40; ++i) grid->AppendFile(big);
  grid->repaint();
  ASSERT_EQ(grid->ItemState(0), State::Loading);
  grid.reset();
  QTest::qWait(100);  // any call posted for the dead grid would run here
}

TEST_F(ThumbnailGridTest, ProcessorEditsTheSelectedPictureItem) {
  grid->AppendPicture(Solid(50, 40, RGB(255, 0, 0)));
  grid->AppendPicture(Solid(50, 40, RGB(0, 255, 0)));
  grid->AppendFile(red);
  Show();
  EXPECT_EQ(grid->ItemState(0), State::Ready);
  EXPECT_TRUE(grid->ItemPath(0).isEmpty());
  EXPECT_EQ(grid->ItemPicture(2), nullptr);

  // Nothing selected, or a file item: the processor changes nothing.
  grid->Proc().Negative();
  grid->SetSelectedIndex(2);
  grid->Proc().Negative();
  EXPECT_EQ(grid->ItemPicture(0)->Pixel24(0, 0), RGB(255, 0, 0));
  EXPECT_EQ(grid->ItemPicture(1)->Pixel24(0, 0), RGB(0, 255, 0));

  grid->SetSelectedIndex(1);
  QTest::qWait(20);
  EXPECT_EQ(CentreOf(1), QColor(0, 255, 0));
  grid->Proc().Negative();
  EXPECT_EQ(grid->ItemPicture(1)->Pixel24(10, 10), RGB(255, 0, 255));
  EXPECT_EQ(grid->ItemPicture(0)->Pixel24(10, 10), RGB(255, 0, 0));
  QTest::qWait(20);
  EXPECT_EQ(CentreOf(1), QColor(255, 0, 255)) << "the thumbnail follows the picture";
}

TEST_F(ThumbnailGridTest, CaptionsMakeRoomUnderEveryRow) {
  for (int i = 0; i < 4; ++i) grid->AppendFile(red);
  Show();
  const int before = grid->ItemRect(3).top();
  grid->SetCaptionFontSize(10);
  grid->SetCaption(1, "Sepia");
  EXPECT_EQ(grid->Caption(1), "Sepia");
  EXPECT_GT(grid->ItemRect(3).top(), before);
  // A click on the caption selects its item.
  const QRect r1 = grid->ItemRect(1);
  QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, QPoint(r1.center().x(), r1.bottom() + 4));
  EXPECT_EQ(grid->SelectedIndex(), 1);
}

}  // namespace
}  // namespace velmora

