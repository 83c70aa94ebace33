// The "Print" dialog under the offscreen platform, its controls found by
// name, and the "Print" command on a document: nothing shown before a photo
// is opened, Cancel prints nothing, OK prints the current layer alone.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstring>
#include <functional>

#include "document/Document.h"
#include "document/ScriptedUI.h"
#include "output/PrintCommand.h"
#include "output/PrintPreviewDialog.h"
#include "print/PdfPage.h"
#include "print/PrintTestSupport.h"

namespace velmora {
namespace {

using test::MakePdfPrinter;
using test::ReadPdf;
using test::Solid;

constexpr IETriple kRed{0, 0, 255};  // b, g, r
constexpr IETriple kBlue{255, 0, 0};

template <class T>
T* Find(QWidget& w, const char* name) {
  T* child = w.findChild<T*>(QString::fromLatin1(name));
  EXPECT_NE(child, nullptr) << name;
  return child;
}

QStringList Items(QComboBox* box) {
  QStringList items;
  for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
  return items;
}

void Click(QWidget& dialog, const char* button) {
  QPushButton* b = Find<QPushButton>(dialog, button);
  ASSERT_NE(b, nullptr);
  QTest::mouseClick(b, Qt::LeftButton);
}

// The bounding box of the preview's pixels of one colour, and the colour at
// its centre.
struct Seen {
  QRect box;
  QRgb centre = 0;
};
Seen Look(QWidget& preview, QRgb colour) {
  const QImage shot = preview.grab().toImage().convertToFormat(QImage::Format_RGB32);
  QRect box;
  for (int y = 0; y < shot.height(); ++y)
    for (int x = 0; x < shot.width(); ++x)
      if (shot.pixel(x, y) == colour) box |= QRect(x, y, 1, 1);
  Seen s{box, 0};
  if (!box.isEmpty()) s.centre = shot.pixel(box.center());
  return s;
}

class PrintDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    MakePdfPrinter(printer, dir.filePath("dialog.pdf"));
  }
  QTemporaryDir dir;
  QPrinter printer{QPrinter::HighResolution};
  IEBitmap picture = Solid(192, 96, kRed);
};

TEST_F(PrintDialogTest, ShowsItsControlsWithTheStartValues) {
  PrintPreviewDialog d(printer, picture, PrintSettings{});
  EXPECT_EQ(d.windowTitle(), "Print");
  for (const char* name : {"MarginTop", "MarginLeft", "MarginRight", "MarginBottom"}) {
    QDoubleSpinBox* box = Find<QDoubleSpinBox>(d, name);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->value(), 1.0) << name;
  }
  EXPECT_EQ(Find<QDoubleSpinBox>(d, "SpecifiedWidth")->value(), 6.0);
  EXPECT_EQ(Find<QDoubleSpinBox>(d, "SpecifiedHeight")->value(), 4.0);
  EXPECT_EQ(Find<QDoubleSpinBox>(d, "Gamma")->value(), 1.0);
  EXPECT_EQ(Items(Find<QComboBox>(d, "SizeMode")),
            QStringList({"Normal", "Fit to page", "Stretch to page", "Specified size"}));
  EXPECT_EQ(Items(Find<QComboBox>(d, "Unit")), QStringList({"Inches", "cm"}));
  EXPECT_EQ(Find<QComboBox>(d, "Unit")->currentText(), "Inches");
  EXPECT_EQ(Items(Find<QComboBox>(d, "Position")),
            QStringList({"Top left", "Top", "Top right", "Left", "Center", "Right", "Bottom left", "Bottom",
                         "Bottom right"}));
  EXPECT_EQ(Find<QPushButton>(d, "PrinterSetup")->text(), "Printer Setup");
  EXPECT_EQ(Find<QPushButton>(d, "OK")->text(), "OK");
  EXPECT_EQ(Find<QPushButton>(d, "Cancel")->text(), "Cancel");
  EXPECT_NE(Find<QWidget>(d, "Preview"), nullptr);
  EXPECT_TRUE(Find<QPushButton>(d, "OK")->isEnabled());
  EXPECT_EQ(Find<QLabel>(d, "Problem")->text(), "");
}

TEST_F(PrintDialogTest, SwitchingUnitsChangesOnlyWhatIsShown) {
  PrintSettings s;
  s.marginTop = 1.0 / 3;  // not exactly shown in either unit
  s.sizeMode = PrintSizeMode::SpecifiedSize;
  PrintPreviewDialog d(printer, picture, s);
  const PrintPlacement before = d.Placement();
  QComboBox* unit = Find<QComboBox>(d, "Unit");
  QDoubleSpinBox* top = Find<QDoubleSpinBox>(d, "MarginTop");
  QDoubleSpinBox* left = Find<QDoubleSpinBox>(d, "MarginLeft");

  unit->setCurrentIndex(1);
  EXPECT_DOUBLE_EQ(top->value(), 0.85);
  EXPECT_DOUBLE_EQ(left->value(), 2.54);
  EXPECT_DOUBLE_EQ(Find<QDoubleSpinBox>(d, "SpecifiedWidth")->value(), 15.24);
  EXPECT_DOUBLE_EQ(Find<QDoubleSpinBox>(d, "SpecifiedHeight")->value(), 10.16);
  EXPECT_EQ(d.Settings().marginTop, 1.0 / 3);
  EXPECT_EQ(d.Placement().picture, before.picture);

  // A length typed in centimetres is kept as that length.
  left->setValue(5.08);
  EXPECT_DOUBLE_EQ(d.Settings().marginLeft, 2.0);

  unit->setCurrentIndex(0);
  EXPECT_DOUBLE_EQ(left->value(), 2.0);
  EXPECT_DOUBLE_EQ(top->value(), 0.33);
  EXPECT_EQ(d.Settings().marginTop, 1.0 / 3);
  EXPECT_EQ(d.Settings().unit, MeasureUnit::Inches);
}

TEST_F(PrintDialogTest, ControlsDriveThePlacementAndRefuseWhatCannotPrint) {
  PrintPreviewDialog d(printer, picture, PrintSettings{});
  QComboBox* mode = Find<QComboBox>(d, "SizeMode");
  QDoubleSpinBox* width = Find<QDoubleSpinBox>(d, "SpecifiedWidth");
  QPushButton* ok = Find<QPushButton>(d, "OK");
  QLabel* problem = Find<QLabel>(d, "Problem");

  mode->setCurrentText("Stretch to page");
  EXPECT_EQ(d.Placement().picture, d.Placement().area);
  EXPECT_FALSE(width->isEnabled());

  mode->setCurrentText("Specified size");
  EXPECT_TRUE(width->isEnabled());
  width->setValue(3);
  Find<QComboBox>(d, "Position")->setCurrentText("Bottom right");
  // 3 x 4 inches at the bottom right of the Letter area.
  EXPECT_EQ(d.Placement().picture, (PrintRect{324, 432, 216, 288}));

  width->setValue(0);
  EXPECT_FALSE(ok->isEnabled());
  EXPECT_NE(problem->text(), "");
  width->setValue(3);
  EXPECT_TRUE(ok->isEnabled());

  Find<QDoubleSpinBox>(d, "MarginLeft")->setValue(5);
  Find<QDoubleSpinBox>(d, "MarginRight")->setValue(5);
  EXPECT_FALSE(ok->isEnabled());
  EXPECT_TRUE(problem->text().contains("margins"));
  Find<QDoubleSpinBox>(d, "MarginRight")->setValue(1);
  EXPECT_TRUE(ok->isEnabled());
  EXPECT_EQ(problem->text(), "");

  QDoubleSpinBox* gamma = Find<QDoubleSpinBox>(d, "Gamma");
  gamma->setValue(0);
  EXPECT_DOUBLE_EQ(gamma->value(), PrintSettings::kMinGamma);
  EXPECT_DOUBLE_EQ(d.Settings().gamma, PrintSettings::kMinGamma);
}

TEST_F(PrintDialogTest, PreviewShowsThePictureWhereAndAsItWillPrint) {
  const IEBitmap photo = Solid(192, 96, IETriple{30, 100, 64});  // b, g, r
  PrintPreviewDialog d(printer, photo, PrintSettings{.sizeMode = PrintSizeMode::Normal});
  d.resize(900, 700);
  d.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
  QWidget* preview = Find<QWidget>(d, "Preview");
  const QRgb dark = qRgb(64, 100, 30), light = qRgb(128, 160, 87);

  Find<QComboBox>(d, "Position")->setCurrentText("Top left");
  const Seen topLeft = Look(*preview, dark);
  ASSERT_FALSE(topLeft.box.isEmpty());
  Find<QComboBox>(d, "Position")->setCurrentText("Bottom right");
  const Seen bottomRight = Look(*preview, dark);
  ASSERT_FALSE(bottomRight.box.isEmpty());
  EXPECT_GT(bottomRight.box.left(), topLeft.box.left());
  EXPECT_GT(bottomRight.box.top(), topLeft.box.top());
  EXPECT_NEAR(bottomRight.box.width(), topLeft.box.width(), 1);
  EXPECT_NEAR(bottomRight.box.height(), topLeft.box.height(), 1);

  // Gamma 2 in the preview as on paper: 255 x (64 / 255)^0.5 = 127.75,
  // 255 x (100 / 255)^0.5 = 159.69, 255 x (30 / 255)^0.5 = 87.46.
  Find<QDoubleSpinBox>(d, "Gamma")->setValue(2);
  EXPECT_TRUE(Look(*preview, dark).box.isEmpty());
  const Seen brighter = Look(*preview, light);
  EXPECT_EQ(brighter.box, bottomRight.box);
}

TEST_F(PrintDialogTest, OkPrintsAndClosesOrSaysWhyNot) {
  {
    PrintPreviewDialog d(printer, picture, PrintSettings{});
    d.show();
    Click(d, "OK");
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_FALSE(d.isVisible());
    const test::PdfPage page = ReadPdf(printer.outputFileName());
    ASSERT_TRUE(page.valid) << page.problem;
    ASSERT_EQ(page.images.size(), 1u);
    EXPECT_EQ(page.images[0].width, 192);
  }

  // A printer that cannot start: a message, the dialog stays open.
  const QString nowhere = dir.filePath("missing/out.pdf");
  printer.setOutputFileName(nowhere);
  PrintPreviewDialog d(printer, picture, PrintSettings{});
  d.show();
  QString message;
  std::function<void()> closeBox = [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      message = box->text();
      box->accept();
    } else {
      QTimer::singleShot(10, closeBox);
    }
  };
  QTimer::singleShot(0, closeBox);
  Click(d, "OK");
  EXPECT_TRUE(message.contains("could not be started")) << message.toStdString();
  EXPECT_EQ(d.LastError(), message.toStdString());
  EXPECT_TRUE(d.isVisible());
  EXPECT_NE(d.result(), QDialog::Accepted);
  EXPECT_FALSE(QFileInfo::exists(nowhere));
}

// Watches for the "Print" dialog being shown and then, from inside its
// event loop, hands it to `act`, which closes it.
class DialogWatcher : public QObject {
 public:
  explicit DialogWatcher(std::function<void(PrintPreviewDialog&)> act) : act_(std::move(act)) {
    qApp->installEventFilter(this);
  }
  ~DialogWatcher() override { qApp->removeEventFilter(this); }

  int shown = 0;
  bool modal = false;
  QString title;

 protected:
  bool eventFilter(QObject* object, QEvent* event) override {
    if (event->type() == QEvent::Show)
      if (auto* d = qobject_cast<PrintPreviewDialog*>(object)) {
        ++shown;
        title = d->windowTitle();
        QPointer<PrintPreviewDialog> dialog(d);
        QMetaObject::invokeMethod(
            this,
            [this, dialog] {
              if (!dialog) return;
              modal = QApplication::activeModalWidget() == dialog;
              act_(*dialog);
              if (dialog->isVisible()) dialog->reject();  // never leave a test waiting
            },
            Qt::QueuedConnection);
      }
    return false;
  }

 private:
  std::function<void(PrintPreviewDialog&)> act_;
};

class PrintCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    MakePdfPrinter(command.Printer(), File());
  }
  QString File() const { return dir.filePath("command.pdf"); }
  void Open(const IEBitmap& photo) { doc.Imaga().Layer(0)->Bitmap = photo; }

  QTemporaryDir dir;
  test::ScriptedUI ui;
  Document doc{ui};
  PrintCommand command;
};

TEST_F(PrintCommandTest, NothingOpenedShowsNothing) {
  struct Case {
    int w, h;
    bool picture;
  } const cases[] = {{1, 1, false}, {0, 0, false}, {1, 0, false}, {0, 1, false}, {5, 0, false},
                     {0, 5, false}, {1, 2, true},  {2, 1, true},  {2, 2, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + " x " + std::to_string(c.h));
    IEBitmap layer;
    if (c.w > 0 && c.h > 0) layer = Solid(c.w, c.h, kRed);
    EXPECT_EQ(PrintCommand::HasPicture(layer), c.picture);
    DialogWatcher watcher([](PrintPreviewDialog& d) { Click(d, "Cancel"); });
    EXPECT_EQ(command.Run(layer, nullptr), c.picture);
    EXPECT_EQ(watcher.shown, c.picture ? 1 : 0);
  }

  // A new document holds a 1 x 1 layer.
  DialogWatcher watcher([](PrintPreviewDialog& d) { Click(d, "OK"); });
  EXPECT_FALSE(command.Run(doc, nullptr));
  EXPECT_EQ(watcher.shown, 0);
  EXPECT_FALSE(QFileInfo::exists(File()));
}

TEST_F(PrintCommandTest, CancelPrintsNothingAndChangesNothing) {
  Open(Solid(192, 96, kRed));
  const IEBitmap before = doc.Layer0();
  const PrintSettings settings = command.Settings();
  DialogWatcher watcher([](PrintPreviewDialog& d) {
    Find<QComboBox>(d, "Unit")->setCurrentIndex(1);
    Find<QDoubleSpinBox>(d, "MarginTop")->setValue(5);
    Find<QDoubleSpinBox>(d, "Gamma")->setValue(3);
    Click(d, "Cancel");
  });
  EXPECT_TRUE(command.Run(doc, nullptr));
  EXPECT_EQ(watcher.shown, 1);
  EXPECT_TRUE(watcher.modal);
  EXPECT_EQ(watcher.title, "Print");
  EXPECT_FALSE(QFileInfo::exists(File()));
  EXPECT_EQ(command.Settings(), settings);
  EXPECT_EQ(doc.Imaga().LayerCount(), 1);
  ASSERT_EQ(doc.Layer0().Width(), before.Width());
  for (int y = 0; y < before.Height(); ++y)
    ASSERT_EQ(0, std::memcmp(doc.Layer0().ScanLine(y), before.ScanLine(y), before.RowLen()));
}

TEST_F(PrintCommandTest, OkPrintsTheCurrentLayerAlone) {
  Open(Solid(192, 96, kRed));
  doc.Imaga().AddLayer(Solid(50, 40, kBlue));
  ASSERT_EQ(doc.Imaga().CurrentLayerIndex(), 1);
  struct Case {
    int layer;
    int w, h;
    IETriple colour;
  } const cases[] = {{1, 50, 40, kBlue}, {0, 192, 96, kRed}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.layer);
    doc.Imaga().SelectLayer(c.layer);
    QFile::remove(File());
    DialogWatcher watcher([](PrintPreviewDialog& d) { Click(d, "OK"); });
    EXPECT_TRUE(command.Run(doc, nullptr));
    EXPECT_EQ(watcher.shown, 1);
    const test::PdfPage page = ReadPdf(File());
    ASSERT_TRUE(page.valid) << page.problem;
    ASSERT_EQ(page.images.size(), 1u);
    EXPECT_EQ(page.images[0].width, c.w);
    EXPECT_EQ(page.images[0].height, c.h);
    EXPECT_EQ(page.images[0].pixels[0], c.colour.r);
    EXPECT_EQ(page.images[0].pixels[2], c.colour.b);
    EXPECT_EQ(page.title, "Velmora");
  }
  // Nothing was merged.
  EXPECT_EQ(doc.Imaga().LayerCount(), 2);
  EXPECT_EQ(doc.Layer0().Width(), 192);
}

TEST_F(PrintCommandTest, KeepsTheSettingsOfAPrintButStartsInInches) {
  Open(Solid(192, 96, kRed));
  command.Printer().setDocName("something else");
  {
    DialogWatcher first([](PrintPreviewDialog& d) {
      Find<QComboBox>(d, "Unit")->setCurrentIndex(1);
      Find<QDoubleSpinBox>(d, "MarginTop")->setValue(5.08);
      Find<QComboBox>(d, "Position")->setCurrentText("Bottom right");
      Click(d, "OK");
    });
    ASSERT_TRUE(command.Run(doc, nullptr));
  }
  EXPECT_EQ(command.Printer().docName(), "Velmora");
  EXPECT_DOUBLE_EQ(command.Settings().marginTop, 2.0);
  EXPECT_EQ(command.Settings().position, PrintPosition::BottomRight);
  EXPECT_EQ(ReadPdf(File()).title, "Velmora");

  QString unitShown, positionShown;
  double topShown = 0;
  DialogWatcher second([&](PrintPreviewDialog& d) {
    unitShown = Find<QComboBox>(d, "Unit")->currentText();
    topShown = Find<QDoubleSpinBox>(d, "MarginTop")->value();
    positionShown = Find<QComboBox>(d, "Position")->currentText();
    Click(d, "Cancel");
  });
  ASSERT_TRUE(command.Run(doc, nullptr));
  EXPECT_EQ(unitShown, "Inches");
  EXPECT_DOUBLE_EQ(topShown, 2.0);
  EXPECT_EQ(positionShown, "Bottom right");
}

}  // namespace
}  // namespace velmora
