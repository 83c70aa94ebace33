// The "Print" command (toolbar "Print", File menu "Print", Ctrl+P). The main
// window keeps one for its whole run: the printer chosen in "Printer Setup"
// and the settings of the last print are offered again the next time,
// except the measure unit, which starts at inches every time.
#pragma once

#include <memory>

#include "output/PrintLayout.h"

class QPrinter;
class QWidget;

namespace velmora {

class Document;
class IEBitmap;

class PrintCommand {
 public:
  static constexpr const char* kDocName = "Velmora";

  PrintCommand();
  ~PrintCommand();
  PrintCommand(const PrintCommand&) = delete;
  PrintCommand& operator=(const PrintCommand&) = delete;

  // A layer at most 1 pixel wide and less than 2 pixels high is what the
  // canvas holds before any photo is opened: there is nothing to print.
  static bool HasPicture(const IEBitmap& layer);

  // Shows the "Print" dialog modally for the canvas's current layer as it
  // is now (the other layers are not merged in). "OK" prints it on one
  // page and keeps the settings for the next time; "Cancel" prints
  // nothing. With nothing to print nothing is shown. True when the dialog
  // was shown. The document is only read.
  bool Run(const Document& document, QWidget* parent);
  bool Run(const IEBitmap& layer, QWidget* parent);

  QPrinter& Printer() { return *printer_; }
  const PrintSettings& Settings() const { return settings_; }
  void SetSettings(const PrintSettings& settings) { settings_ = Sanitized(settings); }

 private:
  std::unique_ptr<QPrinter> printer_;
  PrintSettings settings_;
};

}  // namespace velmora
