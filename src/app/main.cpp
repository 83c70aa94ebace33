// Velmora: the photo editor's window. Takes no command-line arguments.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>

#include "app/MainWindow.h"
#include "app/QtUserInterface.h"

namespace {

// A termination request (the session ending, kill, Ctrl+C in a terminal)
// closes the window the normal way, so the settings and the recent list are
// written and a changed photo is asked about. The handler only writes a
// byte; the window is closed from the message loop.
int signalPipe[2] = {-1, -1};

void OnTerminate(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

void CatchTermination() {
  if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  struct sigaction sa {};
  sa.sa_handler = OnTerminate;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(sig, &sa, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  CatchTermination();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Velmora"));
  QApplication::setApplicationDisplayName(QStringLiteral("Velmora"));
  QApplication::setDesktopFileName(QStringLiteral("velmora"));

  const std::string exeFolder = QApplication::applicationDirPath().toStdString();
  // Conf.ini and Recent.lst live beside the program unless it is installed
  // where the user cannot write.
  const std::string configFolder =
      velmora::Settings::ConfigFolder(exeFolder, velmora::Settings::UserConfigFolder());

  velmora::QtUserInterface ui;
  velmora::MainWindow window(ui, configFolder, exeFolder);
  ui.SetParentWidget(&window);

  QSocketNotifier terminate(signalPipe[0], QSocketNotifier::Read);
  terminate.setEnabled(signalPipe[0] >= 0);
  QObject::connect(&terminate, &QSocketNotifier::activated, &window, [&window] {
    char buffer[16];
    while (::read(signalPipe[0], buffer, sizeof buffer) > 0) {
    }
    window.close();
  });
  // The last window closing ends the loop; a refused close keeps it going.
  window.show();
  return app.exec();
}
