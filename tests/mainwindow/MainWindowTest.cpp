// The main window's wiring: named controls, menus with their shortcuts, the
// Open command through the user-interface seam, the zoom strip and the
// status panels, the history items, settings at start and at close.
#include <gtest/gtest.h>

#include <QAbstractScrollArea>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QSlider>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QWheelEvent>
#include <cstdlib>
#include <memory>

#include "app/CanvasWidget.h"
#include "app/FullScreenPreview.h"
#include "app/MainWindow.h"
#include "app/OpenPhotoDialog.h"
#include "app/Skins.h"
#include "app/ThumbnailGrid.h"
#include "app/QtUserInterface.h"
#include "document/ScriptedUI.h"

namespace velmora {
namespace {

using test::ScriptedUI;

// "Caption [Shortcut]", "-" for a separator, "Caption {a, b}" for a submenu.
std::string Describe(QAction* a, bool withChildren = true) {
  if (a->isSeparator()) return "-";
  std::string s = a->text().toStdString();
  if (!a->shortcut().isEmpty()) s += " [" + a->shortcut().toString(QKeySequence::PortableText).toStdString() + "]";
  if (QMenu* sub = a->menu(); sub && withChildren) {
    s += " {";
    bool first = true;
    for (QAction* c : sub->actions()) {
      if (!first) s += ", ";
      s += Describe(c);
      first = false;
    }
    s += "}";
  }
  return s;
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    Build();
  }
  void Build() {
    window = std::make_unique<MainWindow>(ui, Folder());
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    QApplication::processEvents();
  }
  std::string Folder() const { return dir.path().toStdString(); }

  template <class T>
  T* Child(const char* name) {
    return window->findChild<T*>(QString::fromLatin1(name));
  }
  QMenu* Menu(const QString& title) {
    for (QAction* a : window->menuBar()->actions())
      if (a->text() == title) return a->menu();
    return nullptr;
  }
  QAction* Item(const QString& menu, const QString& caption) {
    QMenu* m = Menu(menu);
    if (!m) return nullptr;
    for (QAction* a : m->actions())
      if (a->text() == caption) return a;
    return nullptr;
  }
  // A photo of one colour written as PNG in the test folder.
  QString MakePhoto(int w, int h, const char* name = "photo.png") {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(QColor(200, 40, 10));
    const QString path = dir.path() + "/" + name;
    EXPECT_TRUE(img.save(path, "PNG"));
    return path;
  }
  void OpenThroughToolbar(const QString& path) {
    ui.paths.push_back(path.toStdString());
    QToolButton* open = Child<QToolButton>("Open");
    ASSERT_NE(open, nullptr);
    open->click();
  }

  QTemporaryDir dir;
  ScriptedUI ui;
  std::unique_ptr<MainWindow> window;
};

// --- Building ---------------------------------------------------------------

TEST_F(MainWindowTest, BuildsItsNamedControls) {
  EXPECT_EQ(window->objectName(), "MainWindow");
  EXPECT_EQ(window->windowTitle(), "Velmora");
  EXPECT_EQ(window->size(), QSize(877, 701));

  auto* moda = Child<QComboBox>("Moda");
  ASSERT_NE(moda, nullptr);
  const char* modes[] = {"Open Photo", "Edit",        "Filters",  "Greeting Cards", "Picture Frames", "Frame Generator",
                         "Accent",     "Collages",    "Masks",    "Borders",        "Clip Art",       "Captions"};
  ASSERT_EQ(moda->count(), 12);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(moda->itemText(i), modes[i]) << i;
  EXPECT_EQ(moda->currentIndex(), 0);

  auto* tabs = Child<QStackedWidget>("GoldTabs");
  ASSERT_NE(tabs, nullptr);
  EXPECT_EQ(tabs->count(), 12);
  EXPECT_EQ(tabs->currentIndex(), 0);

  auto* isc = Child<QSlider>("ISC");
  ASSERT_NE(isc, nullptr);
  EXPECT_EQ(isc->minimum(), 1);
  EXPECT_EQ(isc->maximum(), 800);

  auto* imaga = Child<CanvasWidget>("Imaga");
  ASSERT_NE(imaga, nullptr);
  EXPECT_EQ(&imaga->Canvas(), &window->Doc().Imaga());

  auto* wait = Child<QProgressBar>("WAIT");
  ASSERT_NE(wait, nullptr);
  EXPECT_FALSE(wait->isVisible());

  EXPECT_EQ(window->PanelText(0),
            "Open new photo or choose recent file. In order to scale the image use mouse wheel");
  EXPECT_EQ(window->PanelText(1), "");
  EXPECT_EQ(window->PanelText(2), "");
}

TEST_F(MainWindowTest, ToolbarHasSixButtonsWithPicturesAboveCaptions) {
  const char* captions[] = {"Open", "Effects", "Preview", "Save", "Print", "Templates"};
  int lastX = -1;
  for (const char* c : captions) {
    auto* b = Child<QToolButton>(c);
    ASSERT_NE(b, nullptr) << c;
    EXPECT_EQ(b->text(), c);
    EXPECT_EQ(b->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    EXPECT_FALSE(b->icon().isNull()) << c;
    EXPECT_EQ(b->size(), QSize(113, 89));
    const int x = b->mapTo(window.get(), QPoint()).x();
    EXPECT_GT(x, lastX) << c;
    lastX = x;
  }
  EXPECT_EQ(Child<QToolButton>("ActualSizeButton")->toolTip(), "Actual Size");
  EXPECT_EQ(Child<QToolButton>("FitToWindowButton")->toolTip(), "Fit To Window");
}

TEST_F(MainWindowTest, MenusHoldTheirItemsAndShortcutsInOrder) {
  struct Expected {
    const char* menu;
    std::vector<std::string> items;
  };
  const Expected table[] = {
      {"File",
       {"Open New Photo [Ctrl+O]", "Effects Browser [Ctrl+G]", "Save As... [Ctrl+S]", "-",
        "Export to... {BMP, JPEG, PNG, GIF, TIFF}", "Optimize JPEG", "Print [Ctrl+P]", "-", "Exit [F10]"}},
      {"Edit", {"Undo [Ctrl+Z]", "Redo [Ctrl+Y]", "-", "Return To Original", "Copy [Ctrl+C]"}},
      {"Image",
       {"Flip {Mirror, Vertical}", "Resize", "Auto Enhance", "-", "Grayscale", "Shadow", "Sharp", "Blur"}},
      {"View",
       {"Actual Size [Ctrl+A]", "Fit to Window [Ctrl+F]", "-", "Background", "Skins Support {Enabled, Disabled}",
        "Skins", "Side Panel {Right, Left}"}},
      {"Help",
       {"Help [F1]", "Tutorial", "Examples On The Web", "New Templates", "-", "Velmora On The Web", "About"}},
  };
  std::vector<std::string> titles;
  for (QAction* a : window->menuBar()->actions()) titles.push_back(a->text().toStdString());
  EXPECT_EQ(titles, (std::vector<std::string>{"File", "Edit", "Image", "View", "Help"}));
  for (const Expected& e : table) {
    QMenu* m = Menu(e.menu);
    ASSERT_NE(m, nullptr) << e.menu;
    std::vector<std::string> got;
    // The skins depend on the desktop: only the item itself is checked.
    for (QAction* a : m->actions()) got.push_back(Describe(a, a->text() != "Skins"));
    EXPECT_EQ(got, e.items) << e.menu;
  }
}

TEST_F(MainWindowTest, HistoryAndImageItemsStartDisabled) {
  EXPECT_FALSE(Item("Edit", "Undo")->isEnabled());
  EXPECT_FALSE(Item("Edit", "Redo")->isEnabled());
  QMenu* image = Menu("Image");
  emit image->aboutToShow();
  for (QAction* a : image->actions()) {
    if (a->isSeparator()) continue;
    EXPECT_FALSE(a->isEnabled()) << a->text().toStdString();
  }
}

// --- Opening and the status panels ----------------------------------------------

TEST_F(MainWindowTest, OpeningASmallPhotoShowsItAtActualSize) {
  const QString path = MakePhoto(40, 30);
  OpenThroughToolbar(path);

  ASSERT_FALSE(ui.shown.empty());
  EXPECT_EQ(ui.shown.front().what, "open");
  EXPECT_EQ(ui.shown.front().text, "Open Photo Dialog");
  EXPECT_TRUE(ui.Messages().empty());

  EXPECT_EQ(window->Doc().Layer0().Width(), 40);
  EXPECT_EQ(window->PanelText(1), "40 x 30");
  EXPECT_EQ(window->PanelText(2), "Scale: 100%");
  EXPECT_EQ(Child<QSlider>("ISC")->value(), 100);
  // Opening leads to the Edit mode, and the window shows it.
  EXPECT_EQ(Child<QComboBox>("Moda")->currentIndex(), int(mdEdit));
  EXPECT_EQ(Child<QStackedWidget>("GoldTabs")->currentIndex(), int(mdEdit));
  EXPECT_EQ(window->PanelText(0), QString::fromStdString(window->Doc().Guidance()));
  EXPECT_EQ(window->PanelText(0), "Edit photo");
  // The Image menu has a photo to work on now.
  QMenu* image = Menu("Image");
  emit image->aboutToShow();
  EXPECT_TRUE(Item("Image", "Resize")->isEnabled());
}

TEST_F(MainWindowTest, OpeningALargePhotoFitsItJustBelowTheExactFit) {
  OpenThroughToolbar(MakePhoto(3000, 2400));
  const double zoom = window->Doc().Imaga().Zoom();
  EXPECT_LT(zoom, 100);
  EXPECT_DOUBLE_EQ(zoom, window->Doc().Imaga().OptimalZoom() - 1);
  EXPECT_EQ(window->PanelText(1), "3000 x 2400");
  EXPECT_EQ(window->PanelText(2), QString("Scale: %1%").arg(std::nearbyint(zoom)));
  EXPECT_EQ(Child<QSlider>("ISC")->value(), int(std::nearbyint(zoom)));
}

TEST_F(MainWindowTest, AFileThatCannotBeReadChangesNothing) {
  QFile bad(dir.path() + "/bad.png");
  ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
  bad.write("not a picture");
  bad.close();
  OpenThroughToolbar(bad.fileName());
  EXPECT_EQ(ui.Messages().size(), 1u);
  EXPECT_EQ(window->PanelText(1), "");
  EXPECT_EQ(Child<QComboBox>("Moda")->currentIndex(), 0);
}

TEST_F(MainWindowTest, RecentPhotosAreListedAndOpenOnActivation) {
  const QString first = MakePhoto(20, 10, "first.png");
  const QString second = MakePhoto(30, 15, "second.png");
  OpenThroughToolbar(first);
  OpenThroughToolbar(second);
  // Back in Open Photo, the list is refilled, newest first.
  Child<QComboBox>("Moda")->setCurrentIndex(mdOpenPhoto);
  auto* recent = Child<ThumbnailGrid>("RecentPhoto");
  ASSERT_NE(recent, nullptr);
  ASSERT_EQ(recent->Count(), 2);
  EXPECT_EQ(recent->ItemPath(0), second);
  EXPECT_EQ(recent->Caption(0), "second.png");
  EXPECT_EQ(recent->ItemPath(1), first);
  // Nothing selected opens nothing.
  recent->SetSelectedIndex(-1);
  emit recent->DoubleClicked(-1);
  EXPECT_EQ(window->PanelText(1), "30 x 15");
  recent->SetSelectedIndex(1);
  emit recent->DoubleClicked(1);
  EXPECT_EQ(window->PanelText(1), "20 x 10");
  EXPECT_EQ(window->Doc().Recent().Entries().front(), second.toStdString());
}

TEST_F(MainWindowTest, BeforeAPhotoZoomChangesLeaveTheSizeAndScalePanelsEmpty) {
  window->Doc().Imaga().SetZoom(250);
  EXPECT_EQ(window->PanelText(1), "");
  EXPECT_EQ(window->PanelText(2), "");
}

// --- Zoom --------------------------------------------------------------------------

TEST_F(MainWindowTest, SliderAndZoomStayCoupled) {
  OpenThroughToolbar(MakePhoto(40, 30));
  LayerCanvas& c = window->Doc().Imaga();
  auto* isc = Child<QSlider>("ISC");

  c.SetZoom(250);
  EXPECT_EQ(isc->value(), 250);
  EXPECT_EQ(window->PanelText(2), "Scale: 250%");

  isc->setValue(50);
  EXPECT_DOUBLE_EQ(c.Zoom(), 50);
  EXPECT_EQ(window->PanelText(2), "Scale: 50%");

  // The slider rounds halves to even.
  c.SetZoom(62.5);
  EXPECT_EQ(isc->value(), 62);
  EXPECT_DOUBLE_EQ(c.Zoom(), 62);  // the slider moved, so its handler set the zoom

  // A zoom beyond the range from inside it is pulled back to the limit...
  c.SetZoom(1000);
  EXPECT_EQ(isc->value(), 800);
  EXPECT_DOUBLE_EQ(c.Zoom(), 800);
  // ...but once the slider rests there, further steps stay.
  c.SetZoom(900);
  EXPECT_EQ(isc->value(), 800);
  EXPECT_DOUBLE_EQ(c.Zoom(), 900);
  EXPECT_EQ(window->PanelText(2), "Scale: 900%");
}

TEST_F(MainWindowTest, ActualSizeFitToWindowAndTheWheel) {
  OpenThroughToolbar(MakePhoto(3000, 2400));
  LayerCanvas& c = window->Doc().Imaga();
  auto* isc = Child<QSlider>("ISC");
  const double fitted = c.Zoom();

  Child<QToolButton>("ActualSizeButton")->click();
  EXPECT_DOUBLE_EQ(c.Zoom(), 100);
  EXPECT_EQ(isc->value(), 100);
  EXPECT_EQ(window->PanelText(2), "Scale: 100%");

  Child<QToolButton>("FitToWindowButton")->click();
  EXPECT_DOUBLE_EQ(c.Zoom(), fitted);

  Item("View", "Actual Size")->trigger();
  EXPECT_DOUBLE_EQ(c.Zoom(), 100);
  Item("View", "Fit to Window")->trigger();
  EXPECT_DOUBLE_EQ(c.Zoom(), fitted);

  // The wheel away from the user zooms out by 8 % of 100; the slider follows.
  c.SetZoom(100);
  QAbstractScrollArea* view = window->Canvas();
  QWidget* port = view->viewport();
  const QPoint p(10, 10);
  QWheelEvent e(QPointF(p), QPointF(port->mapToGlobal(p)), QPoint(), QPoint(0, 120), Qt::NoButton,
                Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(port, &e);
  EXPECT_DOUBLE_EQ(c.Zoom(), 92);
  EXPECT_EQ(isc->value(), 92);
  EXPECT_EQ(window->PanelText(2), "Scale: 92%");
}

TEST_F(MainWindowTest, ProgressShowsTheBarAndAHundredHidesIt) {
  auto* wait = Child<QProgressBar>("WAIT");
  window->Doc().Imaga().OnProgress(40);
  EXPECT_TRUE(wait->isVisible());
  EXPECT_EQ(wait->value(), 40);
  window->Doc().Imaga().OnProgress(100);
  EXPECT_FALSE(wait->isVisible());
  EXPECT_EQ(wait->value(), 0);
}

// --- History -----------------------------------------------------------------------

TEST_F(MainWindowTest, UndoAndRedoItemsFollowTheDocument) {
  OpenThroughToolbar(MakePhoto(40, 30));
  QAction* undo = Item("Edit", "Undo");
  QAction* redo = Item("Edit", "Redo");
  ASSERT_NE(undo, nullptr);
  ASSERT_NE(redo, nullptr);
  const IETriple before = window->Doc().Layer0().Pixel24(0, 0);

  window->Doc().ApplyAndCommit("Edit", [](LayerCanvas& c) { c.Proc().Negative(); });
  EXPECT_TRUE(undo->isEnabled());
  EXPECT_EQ(undo->text(), "Undo Edit");
  EXPECT_FALSE(redo->isEnabled());
  EXPECT_NE(window->Doc().Layer0().Pixel24(0, 0).r, before.r);

  undo->trigger();
  EXPECT_FALSE(undo->isEnabled());
  EXPECT_TRUE(redo->isEnabled());
  EXPECT_EQ(redo->text(), "Redo Edit");
  EXPECT_EQ(window->Doc().Layer0().Pixel24(0, 0).r, before.r);

  redo->trigger();
  EXPECT_TRUE(undo->isEnabled());
  EXPECT_FALSE(redo->isEnabled());
  EXPECT_NE(window->Doc().Layer0().Pixel24(0, 0).r, before.r);

  // Return To Original reads the file again, undoably.
  Item("Edit", "Return To Original")->trigger();
  EXPECT_EQ(window->Doc().Layer0().Pixel24(0, 0).r, before.r);
  EXPECT_EQ(undo->text(), "Undo Return To Original");
}

// --- Modes -------------------------------------------------------------------------

TEST_F(MainWindowTest, TheSelectorShowsThePageAndItsGuidance) {
  OpenThroughToolbar(MakePhoto(40, 30));
  Child<QComboBox>("Moda")->setCurrentIndex(mdGreetingCards);
  EXPECT_EQ(window->Doc().Mode(), int(mdGreetingCards));
  EXPECT_EQ(Child<QStackedWidget>("GoldTabs")->currentIndex(), int(mdGreetingCards));
  EXPECT_EQ(window->PanelText(0), "Choose a template and press Preview");
}

TEST_F(MainWindowTest, ActivationDropsUnappliedPreviewLayers) {
  OpenThroughToolbar(MakePhoto(40, 30));
  LayerCanvas& c = window->Doc().Imaga();
  c.AddLayer(IEBitmap(10, 10, IEPixelFormat::ie24RGB));
  ASSERT_EQ(c.LayerCount(), 2);
  QEvent activate(QEvent::WindowActivate);
  QApplication::sendEvent(window.get(), &activate);
  EXPECT_EQ(c.LayerCount(), 1);
  EXPECT_EQ(window->Doc().Layer0().Width(), 40);
}

// --- Settings and closing ----------------------------------------------------------

TEST_F(MainWindowTest, SettingsAreReadAtStart) {
  window.reset();
  QFile conf(dir.path() + "/Conf.ini");
  ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
  conf.write("[Base]\r\nWindow=Custom\r\nLeft=20\r\nTop=30\r\nWidth=900\r\nHeight=720\r\nColor=clWhite\r\n"
             "Panel=Left\r\n");
  conf.close();
  QFile recent(dir.path() + "/Recent.lst");
  ASSERT_TRUE(recent.open(QIODevice::WriteOnly));
  recent.write("/photos/a.jpg\r\n/photos/b.jpg\r\n");
  recent.close();
  Build();

  EXPECT_EQ(window->size(), QSize(900, 720));
  EXPECT_EQ(window->Doc().Imaga().Background(), clWhite);
  EXPECT_EQ(window->SidePanelSide(), PanelSide::Left);
  EXPECT_TRUE(Item("View", "Side Panel")->menu()->actions().at(1)->isChecked());
  QWidget* side = Child<QWidget>("sPanel2");
  EXPECT_LT(side->mapTo(window.get(), QPoint()).x(), window->Canvas()->mapTo(window.get(), QPoint()).x());
  auto* list = Child<ThumbnailGrid>("RecentPhoto");
  ASSERT_EQ(list->Count(), 2);
  EXPECT_EQ(list->ItemPath(0), "/photos/a.jpg");
  EXPECT_EQ(list->BackgroundColor(), QColor(255, 255, 255));
}

TEST_F(MainWindowTest, SidePanelMovesFromTheMenu) {
  QWidget* side = Child<QWidget>("sPanel2");
  auto sideX = [&] { QApplication::processEvents(); return side->mapTo(window.get(), QPoint()).x(); };
  auto canvasX = [&] { return window->Canvas()->mapTo(window.get(), QPoint()).x(); };
  EXPECT_GT(sideX(), canvasX());
  QMenu* sidePanel = Item("View", "Side Panel")->menu();
  sidePanel->actions().at(1)->trigger();  // Left
  EXPECT_EQ(window->SidePanelSide(), PanelSide::Left);
  EXPECT_LT(sideX(), canvasX());
  sidePanel->actions().at(0)->trigger();  // Right
  EXPECT_EQ(window->SidePanelSide(), PanelSide::Right);
  EXPECT_GT(sideX(), canvasX());
}

TEST_F(MainWindowTest, ClosingUnchangedAsksNothingAndWritesTheSettings) {
  const QString path = MakePhoto(40, 30);
  OpenThroughToolbar(path);
  ui.shown.clear();
  EXPECT_TRUE(window->close());
  EXPECT_TRUE(ui.shown.empty());

  QFile conf(dir.path() + "/Conf.ini");
  ASSERT_TRUE(conf.open(QIODevice::ReadOnly));
  const QByteArray text = conf.readAll();
  EXPECT_TRUE(text.contains("Window=Custom")) << text.toStdString();
  EXPECT_TRUE(text.contains("Panel=Right")) << text.toStdString();
  QFile recent(dir.path() + "/Recent.lst");
  ASSERT_TRUE(recent.open(QIODevice::ReadOnly));
  EXPECT_EQ(recent.readAll(), (path + "\r\n").toUtf8());
}

TEST_F(MainWindowTest, ClosingAfterAChangeAsksAndCancelKeepsTheWindow) {
  OpenThroughToolbar(MakePhoto(40, 30));
  window->Doc().ApplyAndCommit("Edit", [](LayerCanvas& c) { c.Proc().Negative(); });
  ui.shown.clear();
  ui.answers = {Answer::Cancel};
  EXPECT_FALSE(window->close());
  EXPECT_TRUE(window->isVisible());
  ASSERT_EQ(ui.shown.size(), 1u);
  EXPECT_EQ(ui.shown[0].what, "question");
  EXPECT_EQ(ui.shown[0].text, "Do you want to save changes?");
  EXPECT_FALSE(QFile::exists(dir.path() + "/Conf.ini"));

  ui.answers = {Answer::No};
  EXPECT_TRUE(window->close());
  EXPECT_TRUE(QFile::exists(dir.path() + "/Conf.ini"));
}

// --- Skins ------------------------------------------------------------------------

TEST_F(MainWindowTest, SkinsComeFromTheFolderBesideTheProgramAndReachConfIni) {
  window.reset();
  QTemporaryDir exe;
  ASSERT_TRUE(QDir(exe.path()).mkdir("Skins"));
  for (const char* name : {"Slate", "Amber", "Dusk"}) {
    QFile f(exe.path() + "/Skins/" + name + ".skin");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    const bool slate = name[0] == 'S';
    f.write(QByteArray("Window=#334455\nButton=#") + (slate ? "223344" : "aa7722") +
            "\n[StyleSheet]\nQStatusBar#Stata { background: #" + (slate ? "112233" : "445566") + "; }\n");
  }
  QFile conf(dir.path() + "/Conf.ini");
  ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
  conf.write("[Base]\r\nSkin=Slate\r\n");
  conf.close();
  window = std::make_unique<MainWindow>(ui, Folder(), exe.path().toStdString());

  QMenu* skins = Item("View", "Skins")->menu();
  ASSERT_NE(skins, nullptr);
  QAction* slate = FindSkinItem(skins, "Slate");
  QAction* amber = FindSkinItem(skins, "Amber");
  ASSERT_TRUE(slate && amber && FindSkinItem(skins, "Dusk"));
  EXPECT_TRUE(slate->isChecked());
  EXPECT_TRUE(qApp->styleSheet().contains("112233"));
  // The canvas's default background, the button face, follows the skin.
  EXPECT_EQ(SystemColor(15), 0x00443322u);
  // Skinable absent: skins are on, and neither item of the pair is checked.
  EXPECT_FALSE(Item("View", "Skins Support")->menu()->actions().at(0)->isChecked());
  EXPECT_FALSE(Item("View", "Skins Support")->menu()->actions().at(1)->isChecked());

  amber->trigger();
  EXPECT_TRUE(qApp->styleSheet().contains("445566"));
  EXPECT_EQ(SystemColor(15), 0x002277AAu);
  Item("View", "Skins Support")->menu()->actions().at(1)->trigger();  // Disabled
  EXPECT_TRUE(qApp->styleSheet().isEmpty());
  window->close();
  ApplyPlainLook();

  ASSERT_TRUE(conf.open(QIODevice::ReadOnly));
  const QByteArray text = conf.readAll();
  EXPECT_TRUE(text.contains("Skin=Amber\r\n")) << text.toStdString();
  EXPECT_TRUE(text.contains("Skinable=No\r\n")) << text.toStdString();
}

// --- Output commands ------------------------------------------------------------

TEST_F(MainWindowTest, SaveExportAndCopyReachTheCurrentLayer) {
  OpenThroughToolbar(MakePhoto(40, 30));
  window->Doc().ApplyAndCommit("Edit", [](LayerCanvas& c) { c.Proc().Negative(); });
  ASSERT_TRUE(window->Doc().ImageModified());

  // Toolbar "Save": the dialog starts on JPEG, which asks for the quality.
  ui.shown.clear();
  ui.paths = {(dir.path() + "/saved").toStdString()};
  ui.qualities = {90};
  Child<QToolButton>("Save")->click();
  ASSERT_GE(ui.shown.size(), 2u);
  EXPECT_EQ(ui.shown[0].what, "save");
  EXPECT_EQ(ui.shown[0].text, "Save As...");
  EXPECT_EQ(ui.shown[1].what, "jpeg quality");
  EXPECT_TRUE(QFile::exists(dir.path() + "/saved.jpg"));
  EXPECT_FALSE(window->Doc().ImageModified());

  // "Export to..." -> "PNG": a name without extension becomes a PNG.
  ui.shown.clear();
  ui.paths = {(dir.path() + "/exported").toStdString()};
  Item("File", "Export to...")->menu()->actions().at(2)->trigger();
  ASSERT_FALSE(ui.shown.empty());
  EXPECT_EQ(ui.lastFilters[ui.lastFilterIndex].caption.rfind("Portable Network Graphics", 0), 0u);
  QImage png(dir.path() + "/exported.png");
  ASSERT_FALSE(png.isNull());
  EXPECT_EQ(png.pixelColor(0, 0), QColor(255 - 200, 255 - 40, 255 - 10));

  QApplication::clipboard()->clear();
  Item("Edit", "Copy")->trigger();
  const QImage copied = QApplication::clipboard()->image();
  ASSERT_EQ(copied.size(), QSize(40, 30));
  EXPECT_EQ(copied.pixelColor(5, 5), QColor(255 - 200, 255 - 40, 255 - 10));
}

TEST_F(MainWindowTest, SavingIsTheCloseQuestionsYes) {
  OpenThroughToolbar(MakePhoto(40, 30));
  window->Doc().ApplyAndCommit("Edit", [](LayerCanvas& c) { c.Proc().Negative(); });
  ui.answers = {Answer::Yes};
  ui.paths = {(dir.path() + "/on-close.bmp").toStdString()};
  EXPECT_TRUE(window->close());
  EXPECT_TRUE(QFile::exists(dir.path() + "/on-close.bmp"));
}

TEST_F(MainWindowTest, PrintBeforeAPhotoShowsNothing) {
  // A dialog shown here would wait for a user; the command must return.
  Item("File", "Print")->trigger();
  Child<QToolButton>("Print")->click();
  EXPECT_TRUE(ui.shown.empty());
}

// --- Start-up, full-screen preview, background, open dialog ---------------------

TEST_F(MainWindowTest, TheWindowIsBuiltInvisibleAndTheFirstTickRevealsIt) {
  window.reset();
  QFile conf(dir.path() + "/Conf.ini");
  ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
  conf.write("[Base]\r\nWindow=Max\r\n");
  conf.close();
  window = std::make_unique<MainWindow>(ui, Folder());
  EXPECT_EQ(window->windowOpacity(), 0.0);
  auto* tima = Child<QTimer>("Tima");
  ASSERT_NE(tima, nullptr);
  EXPECT_EQ(tima->interval(), 100);
  EXPECT_TRUE(tima->isActive());
  window->show();
  // Something un-maximizes the window while it is still invisible; the
  // deferred start maximizes it again.
  window->setWindowState(Qt::WindowNoState);
  QTRY_VERIFY_WITH_TIMEOUT(!tima->isActive(), 2000);
  EXPECT_EQ(window->windowOpacity(), 1.0);
  EXPECT_TRUE(window->isMaximized());
}

TEST_F(MainWindowTest, FullScreenPreviewShowsLayerZeroAloneAndForgetsItOnClosing) {
  OpenThroughToolbar(MakePhoto(400, 300));
  LayerCanvas& c = window->Doc().Imaga();
  IEBitmap card(50, 50, IEPixelFormat::ie24RGB);
  c.AddLayer(card);  // a decoration preview on top

  FullScreenPreview* fs = window->FullScreen();
  ASSERT_NE(fs, nullptr);
  EXPECT_EQ(fs->objectName(), "TFullSC");
  EXPECT_EQ(fs->windowTitle(), "Full Screen Preview");
  EXPECT_TRUE(fs->windowFlags() & Qt::WindowStaysOnTopHint);
  fs->OpenPicture(window->Doc().Layer0());
  ASSERT_TRUE(QTest::qWaitForWindowExposed(fs));
  auto* fsi = fs->findChild<FitImageView*>("FSI");
  ASSERT_NE(fsi, nullptr);
  EXPECT_EQ(fsi->Image().size(), QSize(400, 300));
  EXPECT_EQ(fsi->Image().pixelColor(10, 10), QColor(200, 40, 10));
  EXPECT_TRUE(fs->isMaximized());

  QTest::keyClick(fs, Qt::Key_Escape);
  EXPECT_FALSE(fs->isVisible());
  EXPECT_TRUE(fsi->Image().isNull());

  fs->OpenPicture(window->Doc().Layer0());
  ASSERT_TRUE(QTest::qWaitForWindowExposed(fs));
  QTest::mouseClick(fsi, Qt::LeftButton);
  EXPECT_FALSE(fs->isVisible());
  EXPECT_TRUE(fsi->Image().isNull());
}

TEST(FitImageView, FitsKeepingTheShapeAndNeverEnlarges) {
  struct Case {
    QSize picture, view;
    QRect expected;
  } cases[] = {
      {{6000, 4000}, {1200, 900}, {0, 50, 1200, 800}},    // wider than the view
      {{3000, 4000}, {1200, 900}, {262, 0, 675, 900}},    // taller
      {{400, 300}, {1200, 900}, {400, 300, 400, 300}},    // fits: centred at its size
      {{10000, 1}, {1000, 800}, {0, 399, 1000, 1}},       // never thinner than a pixel
      {{0, 0}, {1000, 800}, {}},
  };
  for (const Case& k : cases)
    EXPECT_EQ(FitImageView::FitRect(k.picture, k.view), k.expected) << k.picture.width() << "x" << k.picture.height();
}

TEST_F(MainWindowTest, BackgroundAsksForAColourAndCancelKeepsIt) {
  QAction* background = Item("View", "Background");
  ASSERT_NE(background, nullptr);
  const Color before = window->Doc().Imaga().Background();
  background->trigger();  // cancelled
  EXPECT_EQ(window->Doc().Imaga().Background(), before);
  ui.colors = {0x00336699};
  background->trigger();
  EXPECT_EQ(window->Doc().Imaga().Background(), 0x00336699u);
  window->close();
  QFile conf(dir.path() + "/Conf.ini");
  ASSERT_TRUE(conf.open(QIODevice::ReadOnly));
  EXPECT_TRUE(conf.readAll().contains("Color=$00336699"));
}

TEST_F(MainWindowTest, TheOpenDialogPreviewsTheFileUnderTheCursor) {
  const QString photo = MakePhoto(300, 200);
  QStringList filters;
  for (const auto& f : Document::OpenDialogFilters()) filters << QtUserInterface::QtFilter(f);
  OpenPhotoDialog dialog(window.get(), "Open Photo Dialog", filters, filters.first());
  EXPECT_EQ(dialog.objectName(), "Opena");
  EXPECT_EQ(dialog.windowTitle(), "Open Photo Dialog");
  EXPECT_EQ(dialog.selectedNameFilter(), filters.first());
  EXPECT_TRUE(dialog.testOption(QFileDialog::DontUseNativeDialog));
  ThumbnailGrid* preview = dialog.Preview();
  ASSERT_NE(preview, nullptr);

  dialog.ShowPreview(photo);
  ASSERT_EQ(preview->Count(), 1);
  EXPECT_EQ(preview->ItemPath(0), photo);
  dialog.show();
  QTRY_COMPARE_WITH_TIMEOUT(preview->ItemState(0), ThumbnailGrid::ThumbState::Ready, 5000);

  dialog.ShowPreview(dir.path());  // a folder
  EXPECT_EQ(preview->Count(), 0);
  dialog.ShowPreview(QString());
  EXPECT_EQ(preview->Count(), 0);
}

}  // namespace
}  // namespace velmora

