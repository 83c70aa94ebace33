// The main window: menus, the toolbar, the side panel with the mode
// selector `Moda` and its pages `GoldTabs`, the zoom strip, the canvas
// `Imaga` and the status bar. It owns the Document and reflects it; every
// decision about the photo, the history and the modes is the Document's.
#pragma once

#include <QMainWindow>
#include <memory>
#include <string>

#include "app/Skins.h"
#include "document/Document.h"
#include "document/Settings.h"

class QAction;
class QActionGroup;
class QComboBox;
class QHBoxLayout;
class QLabel;
class QMenu;
class QProgressBar;
class QSlider;
class QStackedWidget;
class QTimer;
class QToolButton;

namespace velmora {

class CanvasWidget;
class FullScreenPreview;
class PrintCommand;
class SaveCommands;
class VisualJPEG;
class ThumbnailGrid;

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  static constexpr const char* kTitle = "Velmora";
  static constexpr int kSidePanelWidth = 337;

  // `configFolder` holds Conf.ini and Recent.lst (Settings::ConfigFolder);
  // `exeFolder` is the program's folder (Help.html, Skins, temp.jpg while it is
  // writable); empty: the folder of the running executable.
  MainWindow(UserInterface& ui, std::string configFolder, std::string exeFolder = {}, QWidget* parent = nullptr);
  ~MainWindow() override;

  Document& Doc() { return *doc_; }
  Settings& Conf() { return settings_; }
  CanvasWidget* Canvas() { return canvas_; }

  // The text of a status panel (0 guidance, 1 size, 2 scale).
  QString PanelText(int panel) const;
  QProgressBar* Progress() { return wait_; }
  PanelSide SidePanelSide() const { return panelSide_; }
  void SetSidePanelSide(PanelSide side);

  // The window is built and first shown fully transparent; the first tick
  // of `Tima`, once the message loop runs, reveals it (a maximized start is
  // maximized once more). Runs once.
  void DeferredStart();
  FullScreenPreview* FullScreen() { return fullScreen_; }
  // The toolbar's "Preview": layer 0 alone, full screen.
  void ShowFullScreenPreview();
  // "Print": the print dialog for the current layer (nothing before a
  // photo is opened).
  void Print();
  PrintCommand& PrintCmd() { return *print_; }
  SaveCommands& SaveCmds() { return *save_; }
  VisualJPEG* Optimizer() { return visualJpeg_; }
  // Writes Conf.ini and Recent.lst from the window's present state.
  void SaveSettings();

 protected:
  bool event(QEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

 private:
  void BuildMenus();
  void BuildToolbar();
  void BuildSidePanel();
  void BuildStatusBar();
  void HookDocument();
  void ApplySettings();
  // A skin was applied or the plain look restored.
  void LookChanged();

  // Handlers.
  void OpenNewPhoto();
  void ModaChange(int index);
  void ISCChange(int value);
  void ActualSize();
  void FitToWindow();
  void UpdateHistoryItems();
  void UpdateStatusPanels();
  void CanvasViewChange();
  void CanvasProgress(int percent);
  void FillRecent();
  void OpenRecent();
  void ChooseBackground();
  void OpenHelp();
  void OpenWebPage(const char* url);
  void ShowAbout();
  void EnableImageMenu();

  QAction* AddItem(QMenu* menu, const char* caption, const QKeySequence& shortcut = {});

  std::unique_ptr<Document> doc_;
  Settings settings_;
  std::string exeFolder_;
  PanelSide panelSide_ = PanelSide::Right;
  bool deferredDone_ = false;

  CanvasWidget* canvas_ = nullptr;
  QWidget* sidePanel_ = nullptr;  // sPanel2
  QHBoxLayout* body_ = nullptr;   // the canvas and the side panel
  QComboBox* moda_ = nullptr;
  QStackedWidget* goldTabs_ = nullptr;
  QSlider* isc_ = nullptr;
  ThumbnailGrid* recentPhoto_ = nullptr;
  QLabel* panels_[3] = {nullptr, nullptr, nullptr};
  QProgressBar* wait_ = nullptr;
  QTimer* tima_ = nullptr;
  FullScreenPreview* fullScreen_ = nullptr;
  std::unique_ptr<PrintCommand> print_;
  std::unique_ptr<SaveCommands> save_;
  VisualJPEG* visualJpeg_ = nullptr;

  QMenu* imageMenu_ = nullptr;
  QAction* undo_ = nullptr;
  QAction* redo_ = nullptr;
  QAction* panelRight_ = nullptr;
  QAction* panelLeft_ = nullptr;
  QAction* skinsEnabled_ = nullptr;
  QAction* skinsDisabled_ = nullptr;
  QMenu* skinsMenu_ = nullptr;
  SkinEngine skins_;
};

}  // namespace velmora
