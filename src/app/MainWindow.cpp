#include "app/MainWindow.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QStackedWidget>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <cmath>
#include <cstdio>

#include "app/CanvasWidget.h"
#include "app/FullScreenPreview.h"
#include "app/ThumbnailGrid.h"
#include "app/ToolbarIcons.h"
#include "document/qt/QtBitmap.h"
#include "output/Clipboard.h"
#include "output/JpegOptimizer.h"
#include "output/PrintCommand.h"
#include "output/SaveAs.h"
#include "output/VisualJPEG.h"

// The window's icon and the About box's banner are compiled into the
// library; a static library's resources are registered by hand.
static void InitResources() { Q_INIT_RESOURCE(velmora); }

namespace velmora {

namespace {

// The pages of GoldTabs, by mode: their names, as the pages' code knows them.
constexpr const char* kPageNames[kModeCount] = {"OpenTab", "EditTab", "EffectsTab", "Cards",  "FramesTab", "FGen",
                                                "Acc",     "Collage", "Masks",      "Bord",   "Clips",     "Capt"};

// Where the web commands lead.
constexpr const char* kTutorialUrl = "https://velmora.org/tutorial";
constexpr const char* kExamplesUrl = "https://velmora.org/examples";
constexpr const char* kTemplatesUrl = "https://velmora.org/templates";
constexpr const char* kHomeUrl = "https://velmora.org/";

// A label that runs `action` when clicked, like the link labels of the
// Open page.
class ClickLabel : public QLabel {
 public:
  ClickLabel(const QString& text, std::function<void()> action, QWidget* parent)
      : QLabel(text, parent), action_(std::move(action)) {
    setStyleSheet(QStringLiteral("color: blue; text-decoration: underline;"));
    setCursor(Qt::PointingHandCursor);
  }

 protected:
  void mouseReleaseEvent(QMouseEvent*) override {
    if (action_) action_();
  }

 private:
  std::function<void()> action_;
};

}  // namespace

MainWindow::MainWindow(UserInterface& ui, std::string configFolder, std::string exeFolder, QWidget* parent)
    : QMainWindow(parent),
      doc_(std::make_unique<Document>(ui)),
      settings_(std::move(configFolder)),
      exeFolder_(exeFolder.empty() ? QApplication::applicationDirPath().toStdString() : std::move(exeFolder)),
      print_(std::make_unique<PrintCommand>()),
      save_(std::make_unique<SaveCommands>(*doc_)) {
  InitResources();
  setObjectName(QStringLiteral("MainWindow"));
  setWindowTitle(QString::fromLatin1(kTitle));
  setWindowIcon(QIcon(QStringLiteral(":/velmora/velmora.png")));
  QApplication::setApplicationDisplayName(QString::fromLatin1(kTitle));
  // Invisible while it is built and first laid out; DeferredStart shows it
  // whole at once.
  setWindowOpacity(0.0);

  canvas_ = new CanvasWidget(doc_->Imaga());
  canvas_->setObjectName(QStringLiteral("Imaga"));

  // The skins lie beside the program.
  skins_.SetFolder(QString::fromStdString(exeFolder_) + QStringLiteral("/Skins"));
  BuildMenus();
  BuildToolbar();
  BuildSidePanel();
  BuildStatusBar();

  auto* central = new QWidget(this);
  body_ = new QHBoxLayout(central);
  body_->setContentsMargins(0, 0, 0, 0);
  body_->setSpacing(0);
  body_->addWidget(canvas_, 1);
  body_->addWidget(sidePanel_);
  setCentralWidget(central);

  HookDocument();

  // The recent list and Conf.ini: a missing or unreadable file gives an
  // empty list and the defaults.
  doc_->Recent().Load(settings_.Folder() + "/" + RecentList::kFileName);
  settings_.Load();
  ApplySettings();

  UpdateHistoryItems();
  UpdateStatusPanels();
  FillRecent();

  // The dialogs that live as long as the window.
  visualJpeg_ = new VisualJPEG(*doc_, ui, JpegOptimizer::TrialFolder(exeFolder_), this);
  fullScreen_ = new FullScreenPreview(this);
  tima_ = new QTimer(this);
  tima_->setObjectName(QStringLiteral("Tima"));
  tima_->setInterval(100);
  connect(tima_, &QTimer::timeout, this, &MainWindow::DeferredStart);
  tima_->start();
}

MainWindow::~MainWindow() {
  // The canvas widget detaches itself from the canvas the document owns, so
  // it goes first; nothing of the document may call back into the window.
  delete canvas_;
  canvas_ = nullptr;
  doc_->Imaga().OnViewChange = nullptr;
  doc_->Imaga().OnProgress = nullptr;
  doc_->OnShowPage = nullptr;
  doc_->OnModeSetup = nullptr;
  doc_->OnFocusCanvas = nullptr;
  doc_->OnHistoryChange = nullptr;
  doc_->OnGuidanceChange = nullptr;
  doc_->OnImageChange = nullptr;
  doc_->OnSaveAs = nullptr;
}

// ---------------------------------------------------------------------------
// Building

QAction* MainWindow::AddItem(QMenu* menu, const char* caption, const QKeySequence& shortcut) {
  QAction* a = menu->addAction(QString::fromLatin1(caption));
  if (!shortcut.isEmpty()) a->setShortcut(shortcut);
  return a;
}

void MainWindow::BuildMenus() {
  QMenuBar* bar = menuBar();

  QMenu* file = bar->addMenu(QStringLiteral("File"));
  connect(AddItem(file, "Open New Photo", QKeySequence(Qt::CTRL | Qt::Key_O)), &QAction::triggered, this,
          &MainWindow::OpenNewPhoto);
  AddItem(file, "Effects Browser", QKeySequence(Qt::CTRL | Qt::Key_G))->setEnabled(false);
  QAction* saveAs = AddItem(file, "Save As...", QKeySequence(Qt::CTRL | Qt::Key_S));
  connect(saveAs, &QAction::triggered, this, [this] {
    if (doc_->OnSaveAs) doc_->OnSaveAs();
  });
  file->addSeparator();
  QMenu* exportTo = file->addMenu(QStringLiteral("Export to..."));
  const std::pair<const char*, int> exports[] = {{"BMP", SaveCommands::kBmpType},
                                                 {"JPEG", SaveCommands::kJpegType},
                                                 {"PNG", SaveCommands::kPngType},
                                                 {"GIF", SaveCommands::kGifType},
                                                 {"TIFF", SaveCommands::kTiffType}};
  for (const auto& e : exports) {
    const int type = e.second;
    connect(AddItem(exportTo, e.first), &QAction::triggered, this, [this, type] { save_->Export(type); });
  }
  connect(AddItem(file, "Optimize JPEG"), &QAction::triggered, this, [this] { visualJpeg_->Execute(); });
  connect(AddItem(file, "Print", QKeySequence(Qt::CTRL | Qt::Key_P)), &QAction::triggered, this, &MainWindow::Print);
  file->addSeparator();
  connect(AddItem(file, "Exit", QKeySequence(Qt::Key_F10)), &QAction::triggered, this, &QWidget::close);

  QMenu* edit = bar->addMenu(QStringLiteral("Edit"));
  undo_ = AddItem(edit, "Undo", QKeySequence(Qt::CTRL | Qt::Key_Z));
  redo_ = AddItem(edit, "Redo", QKeySequence(Qt::CTRL | Qt::Key_Y));
  connect(undo_, &QAction::triggered, this, [this] { doc_->Undo(); });
  connect(redo_, &QAction::triggered, this, [this] { doc_->Redo(); });
  edit->addSeparator();
  connect(AddItem(edit, "Return To Original"), &QAction::triggered, this, [this] { doc_->ReturnToOriginal(); });
  connect(AddItem(edit, "Copy", QKeySequence(Qt::CTRL | Qt::Key_C)), &QAction::triggered, this,
          [this] { Copy(*doc_); });

  imageMenu_ = bar->addMenu(QStringLiteral("Image"));
  QMenu* flip = imageMenu_->addMenu(QStringLiteral("Flip"));
  AddItem(flip, "Mirror");
  AddItem(flip, "Vertical");
  AddItem(imageMenu_, "Resize");
  AddItem(imageMenu_, "Auto Enhance");
  imageMenu_->addSeparator();
  for (const char* c : {"Grayscale", "Shadow", "Sharp", "Blur"}) AddItem(imageMenu_, c);
  // Whether there is a photo to work on is decided each time the menu opens.
  connect(imageMenu_, &QMenu::aboutToShow, this, &MainWindow::EnableImageMenu);
  EnableImageMenu();

  QMenu* view = bar->addMenu(QStringLiteral("View"));
  connect(AddItem(view, "Actual Size", QKeySequence(Qt::CTRL | Qt::Key_A)), &QAction::triggered, this,
          &MainWindow::ActualSize);
  connect(AddItem(view, "Fit to Window", QKeySequence(Qt::CTRL | Qt::Key_F)), &QAction::triggered, this,
          &MainWindow::FitToWindow);
  view->addSeparator();
  connect(AddItem(view, "Background"), &QAction::triggered, this, &MainWindow::ChooseBackground);

  QMenu* skinSupport = view->addMenu(QStringLiteral("Skins Support"));
  auto* supportGroup = new QActionGroup(this);
  skinsEnabled_ = AddItem(skinSupport, "Enabled");
  skinsDisabled_ = AddItem(skinSupport, "Disabled");
  for (QAction* a : {skinsEnabled_, skinsDisabled_}) {
    a->setCheckable(true);
    supportGroup->addAction(a);
  }
  // Neither is checked until the settings or the user say so.
  supportGroup->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
  connect(skinsEnabled_, &QAction::triggered, this, [this] {
    settings_.Skinable = SkinSupport::Enabled;
    skins_.SetActive(true);
    LookChanged();
  });
  connect(skinsDisabled_, &QAction::triggered, this, [this] {
    settings_.Skinable = SkinSupport::Disabled;
    skins_.SetActive(false);
    LookChanged();
  });

  // Filled from the Skins folder once the settings are read.
  skinsMenu_ = view->addMenu(QStringLiteral("Skins"));
  skinsMenu_->setObjectName(QStringLiteral("Skins"));

  QMenu* side = view->addMenu(QStringLiteral("Side Panel"));
  auto* sideGroup = new QActionGroup(this);
  panelRight_ = AddItem(side, "Right");
  panelLeft_ = AddItem(side, "Left");
  for (QAction* a : {panelRight_, panelLeft_}) {
    a->setCheckable(true);
    sideGroup->addAction(a);
  }
  panelRight_->setChecked(true);
  connect(panelRight_, &QAction::triggered, this, [this] { SetSidePanelSide(PanelSide::Right); });
  connect(panelLeft_, &QAction::triggered, this, [this] { SetSidePanelSide(PanelSide::Left); });

  QMenu* help = bar->addMenu(QStringLiteral("Help"));
  connect(AddItem(help, "Help", QKeySequence(Qt::Key_F1)), &QAction::triggered, this, &MainWindow::OpenHelp);
  connect(AddItem(help, "Tutorial"), &QAction::triggered, this, [this] { OpenWebPage(kTutorialUrl); });
  connect(AddItem(help, "Examples On The Web"), &QAction::triggered, this, [this] { OpenWebPage(kExamplesUrl); });
  connect(AddItem(help, "New Templates"), &QAction::triggered, this, [this] { OpenWebPage(kTemplatesUrl); });
  help->addSeparator();
  connect(AddItem(help, "Velmora On The Web"), &QAction::triggered, this, [this] { OpenWebPage(kHomeUrl); });
  connect(AddItem(help, "About"), &QAction::triggered, this, &MainWindow::ShowAbout);
}

void MainWindow::BuildToolbar() {
  auto* bar = new QToolBar(QStringLiteral("Toolbar"), this);
  bar->setObjectName(QStringLiteral("sPanel1"));
  bar->setMovable(false);
  bar->setFloatable(false);
  bar->setFixedHeight(105);
  bar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  bar->setIconSize(QSize(48, 48));
  addToolBar(Qt::TopToolBarArea, bar);

  struct Button {
    const char* caption;
    ToolbarIcon icon;
    std::function<void()> action;
  };
  const Button buttons[] = {
      {"Open", ToolbarIcon::Open, [this] { OpenNewPhoto(); }},
      {"Effects", ToolbarIcon::Effects, nullptr},
      {"Preview", ToolbarIcon::Preview, [this] { ShowFullScreenPreview(); }},
      {"Save", ToolbarIcon::Save, [this] { if (doc_->OnSaveAs) doc_->OnSaveAs(); }},
      {"Print", ToolbarIcon::Print, [this] { Print(); }},
      {"Templates", ToolbarIcon::Templates, [this] { OpenWebPage(kTemplatesUrl); }},
  };
  for (const Button& b : buttons) {
    auto* t = new QToolButton(bar);
    t->setObjectName(QString::fromLatin1(b.caption));
    t->setText(QString::fromLatin1(b.caption));
    t->setIcon(MakeToolbarIcon(b.icon));
    t->setIconSize(QSize(48, 48));
    t->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    t->setAutoRaise(true);
    t->setFixedSize(113, 89);
    if (b.action) {
      auto action = b.action;
      connect(t, &QToolButton::clicked, this, [action] { action(); });
    }
    bar->addWidget(t);
  }
}

void MainWindow::BuildSidePanel() {
  sidePanel_ = new QWidget(this);
  sidePanel_->setObjectName(QStringLiteral("sPanel2"));
  sidePanel_->setFixedWidth(kSidePanelWidth);
  auto* v = new QVBoxLayout(sidePanel_);
  v->setContentsMargins(4, 4, 4, 4);

  moda_ = new QComboBox(sidePanel_);
  moda_->setObjectName(QStringLiteral("Moda"));
  QFont f = moda_->font();
  f.setPixelSize(16);
  moda_->setFont(f);
  for (int m = 0; m < kModeCount; ++m) moda_->addItem(QString::fromStdString(ModeCaption(m)));
  v->addWidget(moda_);

  goldTabs_ = new QStackedWidget(sidePanel_);
  goldTabs_->setObjectName(QStringLiteral("GoldTabs"));
  for (int m = 0; m < kModeCount; ++m) {
    auto* page = new QWidget(goldTabs_);
    page->setObjectName(QString::fromLatin1(kPageNames[m]));
    goldTabs_->addWidget(page);
  }
  // The Open page: the three link commands and the recent photos.
  {
    QWidget* open = goldTabs_->widget(mdOpenPhoto);
    auto* ov = new QVBoxLayout(open);
    ov->addWidget(new ClickLabel(QStringLiteral("Open New Photo"), [this] { OpenNewPhoto(); }, open));
    ov->addWidget(new ClickLabel(QStringLiteral("Open Help"), [this] { OpenHelp(); }, open));
    ov->addWidget(new ClickLabel(QStringLiteral("Visit Web Site"), [this] { OpenWebPage(kHomeUrl); }, open));
    recentPhoto_ = new ThumbnailGrid(open);
    recentPhoto_->setObjectName(QStringLiteral("RecentPhoto"));
    ov->addWidget(recentPhoto_, 1);
    connect(recentPhoto_, &ThumbnailGrid::DoubleClicked, this, &MainWindow::OpenRecent);
  }
  v->addWidget(goldTabs_, 1);
  connect(moda_, &QComboBox::currentIndexChanged, this, &MainWindow::ModaChange);

  // The zoom strip.
  auto* strip = new QWidget(sidePanel_);
  strip->setObjectName(QStringLiteral("sPanel4"));
  auto* h = new QHBoxLayout(strip);
  h->setContentsMargins(0, 0, 0, 0);
  h->addWidget(new QLabel(QStringLiteral("Scale"), strip));
  isc_ = new QSlider(Qt::Horizontal, strip);
  isc_->setObjectName(QStringLiteral("ISC"));
  isc_->setRange(1, 800);
  isc_->setValue(100);
  h->addWidget(isc_, 1);
  auto* actual = new QToolButton(strip);
  actual->setObjectName(QStringLiteral("ActualSizeButton"));
  actual->setToolTip(QStringLiteral("Actual Size"));
  actual->setIcon(MakeToolbarIcon(ToolbarIcon::ActualSize));
  actual->setIconSize(QSize(20, 20));
  auto* fit = new QToolButton(strip);
  fit->setObjectName(QStringLiteral("FitToWindowButton"));
  fit->setToolTip(QStringLiteral("Fit To Window"));
  fit->setIcon(MakeToolbarIcon(ToolbarIcon::FitToWindow));
  fit->setIconSize(QSize(20, 20));
  h->addWidget(actual);
  h->addWidget(fit);
  connect(isc_, &QSlider::valueChanged, this, &MainWindow::ISCChange);
  connect(actual, &QToolButton::clicked, this, &MainWindow::ActualSize);
  connect(fit, &QToolButton::clicked, this, &MainWindow::FitToWindow);
  v->addWidget(strip);
}

void MainWindow::BuildStatusBar() {
  QStatusBar* bar = statusBar();
  bar->setObjectName(QStringLiteral("Stata"));
  bar->setSizeGripEnabled(false);
  const int widths[3] = {620, 150, 50};
  for (int i = 0; i < 3; ++i) {
    panels_[i] = new QLabel(bar);
    panels_[i]->setObjectName(QStringLiteral("StataPanel%1").arg(i));
    panels_[i]->setMinimumWidth(widths[i]);
    panels_[i]->setFrameShape(QFrame::StyledPanel);
    bar->addWidget(panels_[i], i == 0 ? 1 : 0);
  }
  panels_[0]->setText(QString::fromStdString(doc_->Guidance()));
  // Covers the whole status bar while an operation reports progress.
  wait_ = new QProgressBar(bar);
  wait_->setObjectName(QStringLiteral("WAIT"));
  wait_->setRange(0, 100);
  wait_->setValue(0);
  wait_->hide();
}

void MainWindow::HookDocument() {
  Document& d = *doc_;
  d.OnShowPage = [this](int mode) {
    goldTabs_->setCurrentIndex(mode);
    // The selector follows without running the handler a second time.
    const QSignalBlocker block(moda_);
    moda_->setCurrentIndex(mode);
    goldTabs_->update();
  };
  d.OnModeSetup = [this](int mode) {
    if (mode == mdOpenPhoto) FillRecent();
  };
  d.OnFocusCanvas = [this] {
    if (canvas_) canvas_->setFocus();
  };
  d.OnHistoryChange = [this] { UpdateHistoryItems(); };
  d.OnGuidanceChange = [this](const std::string& text) { panels_[0]->setText(QString::fromStdString(text)); };
  d.OnImageChange = [this] { UpdateStatusPanels(); };
  // "Save As...", the toolbar's "Save" and the close question's "Yes".
  d.OnSaveAs = [this] { save_->SaveAs(); };
  d.Imaga().OnViewChange = [this](ViewChangeKind) { CanvasViewChange(); };
  d.Imaga().OnProgress = [this](int percent) { CanvasProgress(percent); };
}

void MainWindow::ApplySettings() {
  const Settings& s = settings_;
  // The design size centred on the desktop, unless the settings say more.
  resize(Settings::kDesignWidth, Settings::kDesignHeight);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect desk = screen->availableGeometry();
    move(desk.x() + (desk.width() - width()) / 2, desk.y() + (desk.height() - height()) / 2);
  }
  if (s.CustomGeometry) {
    move(s.Left, s.Top);
    resize(s.Width, s.Height);
  }
  if (s.Window == WindowState::Maximized) setWindowState(windowState() | Qt::WindowMaximized);

  doc_->Imaga().SetBackground(s.Background);
  // The grids take the canvas colour at start and keep it until the next.
  recentPhoto_->SetBackgroundColor(ToQColor(s.Background));
  recentPhoto_->SetThumbBackground(ToQColor(s.Background));
  SetSidePanelSide(s.Panel);

  if (s.Skinable == SkinSupport::Enabled) skinsEnabled_->setChecked(true);
  if (s.Skinable == SkinSupport::Disabled) skinsDisabled_->setChecked(true);
  // Skins are on unless the settings say "No"; a Skin naming no skin
  // leaves the look as it is.
  skins_.SetActive(s.Skinable != SkinSupport::Disabled);
  if (skins_.Select(QString::fromStdString(s.Skin))) LookChanged();
  FillSkinsMenu(skinsMenu_, skins_.SkinNames(), skins_.Current(), [this](const QString& name) {
    if (skins_.Select(name)) {
      settings_.Skin = name.toStdString();
      LookChanged();
    } else {  // an unreadable skin: the check goes back to the skin in use
      CheckSkinItem(skinsMenu_, skins_.Current());
    }
  });
}

void MainWindow::LookChanged() {
  // The canvas background "clBtnFace" is the skin's button face.
  SyncSystemColors(QApplication::palette());
  if (canvas_) canvas_->viewport()->update();
}

void MainWindow::SetSidePanelSide(PanelSide side) {
  panelSide_ = side;
  if (body_) {
    body_->removeWidget(sidePanel_);
    body_->insertWidget(side == PanelSide::Left ? 0 : 1, sidePanel_);
    body_->activate();
  }
  (side == PanelSide::Left ? panelLeft_ : panelRight_)->setChecked(true);
}

// ---------------------------------------------------------------------------
// Start and close

void MainWindow::DeferredStart() {
  tima_->stop();
  if (deferredDone_) return;
  deferredDone_ = true;
  if (settings_.StartMaximized) setWindowState(windowState() | Qt::WindowMaximized);
  setWindowOpacity(1.0);
}

bool MainWindow::event(QEvent* e) {
  // Every return to the window (its first showing, a dialog closing)
  // settles the document for the present mode.
  if (e->type() == QEvent::WindowActivate) doc_->ModaChange();
  if (e->type() == QEvent::Resize || e->type() == QEvent::Show) {
    if (wait_) wait_->setGeometry(statusBar()->rect());
  }
  return QMainWindow::event(e);
}

void MainWindow::closeEvent(QCloseEvent* e) {
  if (!doc_->CloseQuery()) {
    e->ignore();
    return;
  }
  SaveSettings();
  e->accept();
}

void MainWindow::SaveSettings() {
  Settings& s = settings_;
  if (isMinimized())
    s.Window = WindowState::Minimized;
  else if (isMaximized())
    s.Window = WindowState::Maximized;
  else {
    s.Window = WindowState::Normal;
    s.Left = x();
    s.Top = y();
    s.Width = width();
    s.Height = height();
  }
  s.Background = doc_->Imaga().Background();
  s.Panel = panelSide_;
  std::string error;
  if (!s.Save(error)) std::fprintf(stderr, "%s\n", error.c_str());
  if (!doc_->Recent().Save(s.Folder() + "/" + RecentList::kFileName, error)) std::fprintf(stderr, "%s\n", error.c_str());
}

// ---------------------------------------------------------------------------
// Handlers

void MainWindow::OpenNewPhoto() { doc_->OpenNewPhoto(); }

void MainWindow::ModaChange(int index) {
  if (index < 0 || index >= kModeCount) return;
  doc_->SetMode(index);
}

void MainWindow::ISCChange(int value) { doc_->Imaga().SetZoom(value); }

void MainWindow::ActualSize() { doc_->Imaga().SetZoom(100); }

void MainWindow::FitToWindow() { doc_->FitToWindow(); }

void MainWindow::UpdateHistoryItems() {
  undo_->setEnabled(doc_->UndoItem().enabled);
  undo_->setText(QString::fromStdString(doc_->UndoItem().caption));
  redo_->setEnabled(doc_->RedoItem().enabled);
  redo_->setText(QString::fromStdString(doc_->RedoItem().caption));
}

void MainWindow::UpdateStatusPanels() {
  // An empty canvas (1 x 1) leaves the panels as they are.
  const LayerCanvas& c = doc_->Imaga();
  if (c.IsEmpty()) return;
  panels_[1]->setText(QStringLiteral("%1 x %2").arg(doc_->Layer0().Width()).arg(doc_->Layer0().Height()));
  panels_[2]->setText(QStringLiteral("Scale: %1%").arg(static_cast<long long>(std::nearbyint(c.Zoom()))));
}

void MainWindow::CanvasViewChange() {
  UpdateStatusPanels();
  // The slider clamps to 1..800; only a real change of its position runs
  // ISCChange, which pulls a zoom beyond the limits back to the limit.
  isc_->setValue(static_cast<int>(std::nearbyint(doc_->Imaga().Zoom())));
}

void MainWindow::CanvasProgress(int percent) {
  if (percent >= 100) {
    wait_->setValue(0);
    wait_->hide();
    return;
  }
  wait_->setGeometry(statusBar()->rect());
  wait_->setValue(percent);
  wait_->show();
  wait_->raise();
  wait_->repaint();
}

void MainWindow::FillRecent() {
  recentPhoto_->BeginUpdate();
  recentPhoto_->Clear();
  for (const auto& path : doc_->Recent().Entries()) {
    const QString p = QString::fromStdString(path);
    recentPhoto_->SetCaption(recentPhoto_->AppendFile(p), QFileInfo(p).fileName());
  }
  recentPhoto_->EndUpdate();
}

void MainWindow::OpenRecent() {
  // No thumbnail selected gives an empty path, which opens nothing.
  doc_->OpenSelectedFile(recentPhoto_->ItemPath(recentPhoto_->SelectedIndex()).toStdString());
}

void MainWindow::ChooseBackground() {
  Color c = doc_->Imaga().Background();
  if (doc_->UI().ChooseColor(c)) doc_->Imaga().SetBackground(c);
}

void MainWindow::OpenHelp() {
  QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(exeFolder_) + QStringLiteral("/Help.html")));
}

void MainWindow::ShowFullScreenPreview() { fullScreen_->ShowPicture(doc_->Layer0()); }

void MainWindow::Print() { print_->Run(*doc_, this); }

void MainWindow::OpenWebPage(const char* url) { QDesktopServices::openUrl(QUrl(QString::fromLatin1(url))); }

void MainWindow::ShowAbout() {
  QDialog box(this);
  box.setWindowTitle(QStringLiteral("About"));
  box.setFixedSize(396, 240);
  auto* v = new QVBoxLayout(&box);
  auto* banner = new QLabel(&box);
  banner->setPixmap(QIcon(QStringLiteral(":/velmora/velmora.png")).pixmap(64, 64));
  banner->setAlignment(Qt::AlignCenter);
  v->addWidget(banner);
  auto* text = new QLabel(QStringLiteral("Velmora decorates your photos.\n"
                                         "Adjust a photo and apply photographic effects,\n"
                                         "put it in frames, on postcards and in collages,\n"
                                         "enhance it automatically in one step,\n"
                                         "and add clip art, borders and text labels.\n"
                                         "Then save, print or copy the result."),
                          &box);
  text->setAlignment(Qt::AlignCenter);
  v->addWidget(text, 1);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &box);
  connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);
  v->addWidget(buttons);
  box.exec();
}

void MainWindow::EnableImageMenu() {
  const bool on = doc_->ImageMenuEnabled();
  for (QAction* a : imageMenu_->actions()) a->setEnabled(on);
}

QString MainWindow::PanelText(int panel) const {
  return panel >= 0 && panel < 3 ? panels_[panel]->text() : QString();
}

}  // namespace velmora
