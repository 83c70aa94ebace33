// velmora-canvas PHOTO [LAYER...]: the canvas widget in a plain window, to
// try the view, the layers and the selection by hand.
//   M  move and resize layers      S  draw a selection     N  no mouse action
//   F  fit                         1  actual size          I  invert selection
//   8  8-bit selection mask        R  feather by 10        G  merge all layers
//   A  free / 4:3 selection ratio  Delete  remove the current layer
#include <QApplication>
#include <QMainWindow>
#include <QStatusBar>
#include <cmath>
#include <cstdio>

#include "app/CanvasWidget.h"

using namespace velmora;

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  LayerCanvas canvas;
  QMainWindow window;
  auto* view = new CanvasWidget(canvas);
  window.setCentralWidget(view);
  window.resize(1200, 800);
  window.setWindowTitle("Velmora canvas");

  auto status = [&] {
    window.statusBar()->showMessage(QString("%1 x %2   Scale: %3%   layer %4 of %5")
                                        .arg(canvas.ImageWidth())
                                        .arg(canvas.ImageHeight())
                                        .arg(std::nearbyint(canvas.Zoom()))
                                        .arg(canvas.CurrentLayerIndex())
                                        .arg(canvas.LayerCount()));
  };
  canvas.OnViewChange = [&](ViewChangeKind) { status(); };
  canvas.OnImageChange = status;

  for (int i = 1; i < argc; ++i) {
    if (i > 1) canvas.AddLayer(IEBitmap());
    if (IOResult r = canvas.IO().LoadFromFile(argv[i]); !r) std::fprintf(stderr, "%s\n", r.message.c_str());
    if (i > 1) {
      canvas.CurrentLayer().LayerX = 40 * (i - 1);
      canvas.CurrentLayer().LayerY = 40 * (i - 1);
    }
  }
  canvas.SetMouseInteract(miMoveLayers | miResizeLayers);
  canvas.OnKeyDown = [&](int key, unsigned) {
    switch (key) {
      case Qt::Key_M: canvas.SetMouseInteract(miMoveLayers | miResizeLayers); break;
      case Qt::Key_S: canvas.SetMouseInteract(miSelect); break;
      case Qt::Key_N: canvas.SetMouseInteract(0); break;
      case Qt::Key_F: canvas.Fit(); break;
      case Qt::Key_1: canvas.SetZoom(100); break;
      case Qt::Key_I: canvas.InvertSelection(); break;
      case Qt::Key_8: canvas.SelectionMaskDepth(8); break;
      case Qt::Key_R: canvas.FeatherSelection(10); break;
      case Qt::Key_G: canvas.MergeAllLayers(); break;
      case Qt::Key_A: canvas.SetSelectionAspectRatio(canvas.SelectionAspectRatio() > 0 ? -1 : 0.75); break;
      case Qt::Key_Delete: canvas.RemoveLayer(canvas.CurrentLayerIndex()); break;
      default: break;
    }
    status();
  };
  window.show();
  canvas.Fit();
  status();
  return app.exec();
}
