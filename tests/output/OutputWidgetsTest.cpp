// The output's Qt side under the offscreen platform: Copy through the real
// clipboard, the "JPEG Compression" dialog and the "Optimize JPEG" window.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <cstdlib>
#include <filesystem>

#include "OutputFixture.h"
#include "app/CanvasWidget.h"
#include "output/Clipboard.h"
#include "output/ClipboardRaw.h"
#include "output/JpegOptimizer.h"
#include "output/JpegSimpleDialog.h"
#include "output/VisualJPEG.h"

namespace velmora {
namespace {

using test::Blocks;
using test::OutputTest;
using test::SamePixels;
using test::Smooth;

// ---------------------------------------------------------------------------
// Copy

class CopyTest : public OutputTest {};

TEST_F(CopyTest, CurrentLayerGoesOnTheClipboardInBothForms) {
  const IEBitmap photo = Blocks(21, 13);
  Load(photo);
  const IEBitmap decoration = Smooth(7, 5);
  doc_->Imaga().AddLayer(decoration);  // the current layer, as a decoration preview leaves it
  QClipboard* clipboard = QGuiApplication::clipboard();
  clipboard->setText(QStringLiteral("left over"));

  for (const IEBitmap* expected : {&decoration, &photo}) {
    ASSERT_TRUE(Copy(*doc_));
    const QMimeData* data = clipboard->mimeData();
    ASSERT_NE(data, nullptr);
    EXPECT_FALSE(data->hasText());  // emptied first

    // The image other programs paste.
    ASSERT_TRUE(data->hasImage());
    const QImage image = qvariant_cast<QImage>(data->imageData());
    ASSERT_EQ(image.width(), expected->Width());
    ASSERT_EQ(image.height(), expected->Height());
    EXPECT_FALSE(image.hasAlphaChannel());
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) {
        const IETriple t = expected->Pixel24(x, y);
        ASSERT_EQ(image.pixel(x, y), qRgb(t.r, t.g, t.b)) << x << "," << y;
      }

    // Our own form, exact.
    IEBitmap back;
    std::string reason;
    ASSERT_TRUE(ReadRawFromClipboard(back, reason)) << reason;
    EXPECT_TRUE(SamePixels(back, *expected));
    doc_->Imaga().SelectLayer(0);
  }
  EXPECT_EQ(doc_->Imaga().LayerCount(), 2);
}

TEST_F(CopyTest, TransparencyReachesBothForms) {
  IEBitmap clip = Blocks(6, 4);
  clip.SetAlpha(1, 2, 0);
  clip.SetAlpha(4, 0, 128);
  QClipboard* clipboard = QGuiApplication::clipboard();
  ASSERT_TRUE(CopyToClipboard(clip, clipboard));
  const QImage image = qvariant_cast<QImage>(clipboard->mimeData()->imageData());
  ASSERT_TRUE(image.hasAlphaChannel());
  EXPECT_EQ(qAlpha(image.pixel(1, 2)), 0);
  EXPECT_EQ(qAlpha(image.pixel(4, 0)), 128);
  EXPECT_EQ(qAlpha(image.pixel(0, 0)), 255);
  IEBitmap back;
  std::string reason;
  ASSERT_TRUE(ReadRawFromClipboard(back, reason)) << reason;
  EXPECT_EQ(back.Alpha(1, 2), 0);
  EXPECT_EQ(back.Alpha(4, 0), 128);
  EXPECT_FALSE(back.AlphaAllOpaque());
}

TEST_F(CopyTest, ClipboardWithoutOurFormIsReportedAndTheTargetKept) {
  QGuiApplication::clipboard()->setText(QStringLiteral("text"));
  IEBitmap out(3, 3, IEPixelFormat::ie8g);
  std::string reason;
  EXPECT_FALSE(ReadRawFromClipboard(out, reason));
  EXPECT_FALSE(reason.empty());
  EXPECT_EQ(out.Width(), 3);
  // Damaged data under our type: refused by its validation.
  auto* data = new QMimeData;
  data->setData(QString::fromLatin1(kRawClipboardMime), QByteArray("VLRW\1\0", 6));
  QGuiApplication::clipboard()->setMimeData(data);
  EXPECT_FALSE(ReadRawFromClipboard(out, reason));
  EXPECT_EQ(out.Width(), 3);
}

// ---------------------------------------------------------------------------
// "JPEG Compression"

// Lets events run until `done` holds (false when it never does).
bool WaitFor(const std::function<bool()>& done) {
  for (int i = 0; i < 500 && !done(); ++i) QTest::qWait(10);
  return done();
}

// Runs `action` once the dialog's modal loop is running.
void WhenShown(QDialog& dialog, std::function<void()> action) {
  auto* timer = new QTimer(&dialog);
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, &dialog, [&dialog, timer, action] {
    if (!dialog.isVisible()) return;
    timer->stop();
    action();
  });
  timer->start();
}

TEST(JpegSimpleDialog, LayoutAndRange) {
  JpegSimple dialog;
  EXPECT_EQ(dialog.objectName(), "JpegSimple");
  EXPECT_EQ(dialog.windowTitle(), "JPEG Compression");
  EXPECT_EQ(dialog.size(), QSize(188, 107));
  EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
  auto labels = dialog.findChildren<QLabel*>();
  ASSERT_EQ(labels.size(), 1);
  EXPECT_EQ(labels[0]->text(), "Image Quality");
  EXPECT_EQ(dialog.QualityEdit()->minimum(), 5);
  EXPECT_EQ(dialog.QualityEdit()->maximum(), 100);
  EXPECT_EQ(dialog.QualityEdit()->value(), 80);
  EXPECT_EQ(dialog.SaveButton()->text(), "Save");
}

TEST(JpegSimpleDialog, EveryWayOfClosingContinuesWithTheValueShown) {
  const struct {
    const char* how;
    std::function<void(JpegSimple&)> close;
  } ways[] = {
      {"button", [](JpegSimple& d) { QTest::mouseClick(d.SaveButton(), Qt::LeftButton); }},
      {"title bar", [](JpegSimple& d) { d.close(); }},
      {"escape", [](JpegSimple& d) { QTest::keyClick(&d, Qt::Key_Escape); }},
  };
  for (const auto& way : ways) {
    SCOPED_TRACE(way.how);
    JpegSimple dialog;
    WhenShown(dialog, [&] {
      EXPECT_EQ(dialog.QualityEdit()->value(), 64);
      // Typed, not yet confirmed with Enter.
      QLineEdit* edit = dialog.QualityEdit()->findChild<QLineEdit*>();
      edit->selectAll();
      QTest::keyClicks(edit, "37");
      way.close(dialog);
    });
    EXPECT_EQ(dialog.Ask(64), 37);
    EXPECT_FALSE(dialog.isVisible());
  }
}

TEST(JpegSimpleDialog, AValueOutsideTheRangeIsShownWithinIt) {
  for (const auto& [given, shown] : {std::pair{2, 5}, std::pair{130, 100}}) {
    JpegSimple dialog;
    WhenShown(dialog, [&dialog] { dialog.close(); });
    EXPECT_EQ(dialog.Ask(given), shown);
  }
}

// ---------------------------------------------------------------------------
// "Optimize JPEG"

class VisualJpegTest : public OutputTest {
 protected:
  template <class T>
  T* Child(QWidget& w, const char* name) {
    T* c = w.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(c, nullptr) << name;
    return c;
  }
  QString Text(QWidget& w, const char* name) { return Child<QLabel>(w, name)->text(); }
  QPushButton* Button(QWidget& w, const char* caption) {
    for (QPushButton* b : w.findChildren<QPushButton*>())
      if (b->text() == QString::fromLatin1(caption)) return b;
    ADD_FAILURE() << caption;
    return nullptr;
  }
  static void Wheel(QWidget* target, int delta) {
    QWheelEvent e(QPointF(20, 20), target->mapToGlobal(QPointF(20, 20)), QPoint(), QPoint(0, delta), Qt::NoButton,
                  Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &e);
  }
};

TEST_F(VisualJpegTest, ControlsAsTheUserSeesThem) {
  VisualJPEG dialog(*doc_, ui_, dir_);
  EXPECT_EQ(dialog.windowTitle(), "Optimize JPEG");
  EXPECT_EQ(dialog.size(), QSize(849, 482));
  EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
  auto* sr = Child<CanvasWidget>(dialog, "SR");
  auto* ds = Child<CanvasWidget>(dialog, "DS");
  EXPECT_EQ(sr->size(), QSize(401, 281));
  EXPECT_EQ(ds->size(), QSize(425, 281));
  EXPECT_EQ(sr->Canvas().Background(), clWhite);
  EXPECT_EQ(ds->Canvas().Background(), clWhite);

  QStringList labels;
  for (QLabel* l : dialog.findChildren<QLabel*>()) labels << l->text();
  for (const char* t : {"Source Image", "Compressed JPEG Image", "Image quality", "Smooth",
                        "In order to scale the image click on it and use mouse wheel. Press Preview to view changes."})
    EXPECT_TRUE(labels.contains(QString::fromLatin1(t))) << t;
  Child<QLabel>(dialog, "Source");
  Child<QLabel>(dialog, "Dest");

  const struct {
    const char* name;
    int min, max, value;
  } sliders[] = {{"Compress", 1, 100, 80}, {"Smooth", 0, 100, 0}};
  for (const auto& s : sliders) {
    auto* slider = Child<QSlider>(dialog, s.name);
    EXPECT_EQ(slider->minimum(), s.min) << s.name;
    EXPECT_EQ(slider->maximum(), s.max) << s.name;
    EXPECT_EQ(slider->value(), s.value) << s.name;
    EXPECT_EQ(slider->tickInterval(), 10) << s.name;
    EXPECT_NE(slider->tickPosition(), QSlider::NoTicks) << s.name;
  }
  auto* optimal = Child<QCheckBox>(dialog, "Optimal");
  EXPECT_EQ(optimal->text(), "Use optimal algorithm");
  EXPECT_FALSE(optimal->isChecked());
  for (const char* b : {"Preview", "Save", "Close"}) Button(dialog, b);
}

TEST_F(VisualJpegTest, ShowingCompressesAndSlidersWaitForPreview) {
  Load(Smooth(1000, 800));
  VisualJPEG dialog(*doc_, ui_, dir_);
  dialog.show();
  ASSERT_TRUE(WaitFor([&] { return !Text(dialog, "Dest").isEmpty(); }));
  EXPECT_EQ(Text(dialog, "Source"), "Size 2344 Kb");
  const QString first = Text(dialog, "Dest");
  EXPECT_TRUE(first.endsWith(", Quality  80%")) << first.toStdString();
  const std::string trial = ReadBytes(Path("temp.jpg"));

  Child<QSlider>(dialog, "Compress")->setValue(30);
  Child<QSlider>(dialog, "Smooth")->setValue(40);
  Child<QCheckBox>(dialog, "Optimal")->setChecked(true);
  QApplication::processEvents();
  EXPECT_EQ(Text(dialog, "Dest"), first);
  EXPECT_EQ(ReadBytes(Path("temp.jpg")), trial);

  QTest::mouseClick(Button(dialog, "Preview"), Qt::LeftButton);
  const JpegSettings settings = dialog.Settings();
  EXPECT_EQ(settings.quality, 30);
  EXPECT_EQ(settings.smooth, 40);
  EXPECT_TRUE(settings.optimal);
  EXPECT_EQ(Text(dialog, "Dest").toStdString(),
            JpegOptimizer::DestCaption(dialog.Optimizer().CompressedSize(), 30));
  EXPECT_NE(ReadBytes(Path("temp.jpg")), trial);
  EXPECT_TRUE(ui_.shown.empty());
}

TEST_F(VisualJpegTest, SaveClosesTheWindowAlsoWhenCancelled) {
  Load(Smooth(64, 48));
  for (bool confirm : {false, true}) {
    SCOPED_TRACE(confirm);
    if (confirm) ui_.paths = {Path("kept")};
    VisualJPEG dialog(*doc_, ui_, dir_);
    dialog.show();
    ASSERT_TRUE(WaitFor([&] { return !Text(dialog, "Dest").isEmpty(); }));
    QTest::mouseClick(Button(dialog, "Save"), Qt::LeftButton);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(std::filesystem::exists(Path("kept.jpg")), confirm);
    EXPECT_EQ(Files().size(), confirm ? 2u : 1u);  // temp.jpg, and the saved file
  }
}

// The window lives for the run: every showing starts from the photo as it
// is then, and a hidden window keeps no copy of it.
TEST_F(VisualJpegTest, EveryShowingCopiesLayer0Again) {
  VisualJPEG dialog(*doc_, ui_, dir_);
  for (int width : {1000, 500}) {
    Load(Smooth(width, 800));
    dialog.show();
    ASSERT_TRUE(WaitFor([&] { return dialog.Optimizer().SourcePicture().Width() == width; }));
    EXPECT_EQ(Text(dialog, "Source").toStdString(), JpegOptimizer::SourceCaption(width, 800));
    EXPECT_TRUE(SamePixels(dialog.Optimizer().SourcePicture(), doc_->Layer0()));
    QTest::mouseClick(Button(dialog, "Close"), Qt::LeftButton);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.Optimizer().SourcePicture().Width(), 1);
  }
}

TEST_F(VisualJpegTest, ViewsScaleWithTheWheelOnlyOnceClicked) {
  Load(Smooth(600, 400));
  VisualJPEG dialog(*doc_, ui_, dir_);
  dialog.show();
  ASSERT_TRUE(WaitFor([&] { return !Text(dialog, "Dest").isEmpty(); }));
  for (const char* name : {"SR", "DS"}) {
    SCOPED_TRACE(name);
    auto* view = Child<CanvasWidget>(dialog, name);
    const double zoom = view->Canvas().Zoom();
    Wheel(view->viewport(), -120);
    EXPECT_EQ(view->Canvas().Zoom(), zoom);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(10, 10));
    ASSERT_TRUE(view->hasFocus());
    Wheel(view->viewport(), -120);
    EXPECT_EQ(view->Canvas().Zoom(), zoom + CanvasWidget::WheelStep(zoom));
  }
  // The document's canvas is not the views'.
  EXPECT_EQ(doc_->Imaga().Zoom(), 100);
}

}  // namespace
}  // namespace velmora

