// Timings of the window that a benchmark library cannot take: from main()
// to the main window on screen, from "open" to the fitted 24-megapixel
// photo on screen, and the recent grid's nine thumbnails of 24-megapixel
// JPEGs, with the longest the window went without answering meanwhile.
// Runs under any Qt platform (offscreen by default); prints milliseconds.
//
//   velmora-shell-bench [RUNS]
#include <QAbstractScrollArea>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "BenchPhoto.h"
#include "app/CanvasWidget.h"
#include "app/MainWindow.h"
#include "app/ThumbnailGrid.h"
#include "document/ScriptedUI.h"
#include "document/files/ImageFile.h"

namespace {

using namespace velmora;

QElapsedTimer sinceMain;

// Counts paint events of one widget, so "on screen" means painted.
class PaintWatch : public QObject {
 public:
  explicit PaintWatch(QWidget* w) { w->installEventFilter(this); }
  int paints = 0;

 protected:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++paints;
    return false;
  }
};

// Runs the event loop until `done` or 30 s; meanwhile measures the longest
// gap between two ticks of a 1 ms timer: how long the window stalled.
template <class Done>
double RunUntil(Done done, double* longestStallMs = nullptr) {
  QElapsedTimer clock, tick;
  clock.start();
  tick.start();
  double longest = 0;
  QTimer probe;
  probe.setInterval(1);
  QObject::connect(&probe, &QTimer::timeout, [&] {
    longest = std::max(longest, tick.nsecsElapsed() / 1e6);
    tick.restart();
  });
  probe.start();
  while (!done() && clock.elapsed() < 30000) QApplication::processEvents(QEventLoop::AllEvents, 5);
  if (longestStallMs) *longestStallMs = longest;
  return clock.nsecsElapsed() / 1e6;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  sinceMain.start();
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

  QTemporaryDir dir;
  test::ScriptedUI ui;

  // Start: the first window, built and painted.
  {
    auto window = std::make_unique<MainWindow>(ui, dir.path().toStdString());
    PaintWatch watch(window->Canvas()->viewport());
    window->show();
    RunUntil([&] { return watch.paints > 0; });
    std::printf("start: main() to the painted main window %.1f ms (first window of the process)\n",
                sinceMain.nsecsElapsed() / 1e6);
  }
  std::vector<double> starts;
  for (int i = 0; i < runs; ++i) {
    QElapsedTimer t;
    t.start();
    auto window = std::make_unique<MainWindow>(ui, dir.path().toStdString());
    PaintWatch watch(window->Canvas()->viewport());
    window->show();
    RunUntil([&] { return watch.paints > 0; });
    starts.push_back(t.nsecsElapsed() / 1e6);
  }
  std::printf("start: window built and painted, median of %d: %.1f ms\n", runs, Median(starts));

  // The photo as a camera's JPEG, nine times under different names.
  std::vector<std::string> photos;
  for (int i = 0; i < 9; ++i) {
    photos.push_back(dir.path().toStdString() + "/photo" + std::to_string(i) + ".jpg");
    if (i == 0) {
      SaveParams params;
      params.jpegQuality = 90;
      if (!WriteImage(photos[0], bench::Photo(), params)) return 1;
    } else {
      QFile::copy(QString::fromStdString(photos[0]), QString::fromStdString(photos[i]));
    }
  }

  MainWindow window(ui, dir.path().toStdString());
  window.show();
  RunUntil([&] { return window.isVisible(); });
  window.DeferredStart();
  PaintWatch canvasPaints(window.Canvas()->viewport());

  std::vector<double> opens;
  for (int i = 0; i < runs; ++i) {
    window.Doc().SetMode(mdOpenPhoto);
    QApplication::processEvents();
    const int before = canvasPaints.paints;
    QElapsedTimer t;
    t.start();
    window.Doc().OpenFile(photos[0]);
    RunUntil([&] { return canvasPaints.paints > before; });
    opens.push_back(t.nsecsElapsed() / 1e6);
  }
  std::printf("open: 24 MP JPEG to the fitted photo on screen, median of %d: %.1f ms (zoom %.0f%%)\n", runs,
              Median(opens), window.Doc().Imaga().Zoom());

  auto* grid = window.findChild<ThumbnailGrid*>(QStringLiteral("RecentPhoto"));
  std::vector<double> grids, stalls;
  for (int i = 0; i < runs; ++i) {
    window.Doc().Recent().Clear();
    for (auto it = photos.rbegin(); it != photos.rend(); ++it) window.Doc().AddToRecent(*it);
    window.Doc().SetMode(mdEdit);
    QApplication::processEvents();
    QElapsedTimer t;
    t.start();
    double stall = 0;
    window.Doc().SetMode(mdOpenPhoto);  // refills the grid
    RunUntil(
        [&] {
          for (int k = 0; k < grid->Count(); ++k)
            if (grid->ItemState(k) != ThumbnailGrid::ThumbState::Ready) return false;
          return true;
        },
        &stall);
    QApplication::processEvents();  // the repaint the last thumbnail asked for
    grids.push_back(t.nsecsElapsed() / 1e6);
    stalls.push_back(stall);
  }
  std::printf("recent grid: nine 24 MP JPEG thumbnails on screen, median of %d: %.1f ms; longest stall %.1f ms\n",
              runs, Median(grids), Median(stalls));
  return 0;
}
