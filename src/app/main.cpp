// Velmora: the photo editor's window. Takes no command-line arguments.
#include <QApplication>
#include <QDir>

#include "app/MainWindow.h"
#include "app/QtUserInterface.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Velmora"));
  QApplication::setApplicationDisplayName(QStringLiteral("Velmora"));

  const std::string exeFolder = QApplication::applicationDirPath().toStdString();
  // Conf.ini and Recent.lst live beside the program unless it is installed
  // where the user cannot write.
  const std::string configFolder =
      velmora::Settings::ConfigFolder(exeFolder, velmora::Settings::UserConfigFolder());

  velmora::QtUserInterface ui;
  velmora::MainWindow window(ui, configFolder, exeFolder);
  ui.SetParentWidget(&window);
  window.show();
  return app.exec();
}
