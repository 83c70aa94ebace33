// The settings of a print and where they put the picture on the page.
// Plain C++: the dialog, the preview and the printer all place the picture
// through PlacePicture, so what the preview shows is what is printed.
//
// Every length is kept in inches whatever unit the dialog shows, so
// switching between "Inches" and "cm" never changes a physical length.
// Placement is computed in points (1/72 inch) from the paper's top-left
// corner; margins are measured from the paper's edges.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace velmora {

// Where the picture sits inside the margins, in reading order.
enum class PrintPosition : int {
  TopLeft = 0,
  Top,
  TopRight,
  Left,
  Center,
  Right,
  BottomLeft,
  Bottom,
  BottomRight,
};
constexpr int kPrintPositionCount = 9;

enum class PrintSizeMode : int {
  Normal = 0,     // the picture at its own size (see PrintSettings::pictureDpi)
  FitToPage,      // as large as the margins allow, keeping the aspect ratio
  StretchToPage,  // the whole area inside the margins, aspect ratio not kept
  SpecifiedSize,  // specifiedWidth x specifiedHeight
};
constexpr int kPrintSizeModeCount = 4;

enum class MeasureUnit : int { Inches = 0, Centimeters };

// The captions the dialog shows.
const char* PrintPositionCaption(PrintPosition p);  // "Top left", ..., "Center", ...
const char* PrintSizeModeCaption(PrintSizeMode m);  // "Normal", "Fit to page", ...
const char* MeasureUnitCaption(MeasureUnit u);      // "Inches", "cm"

constexpr double kCentimetersPerInch = 2.54;
constexpr double kPointsPerInch = 72.0;

// Inches <-> the unit shown.
double ToUnit(double inches, MeasureUnit unit);
double FromUnit(double value, MeasureUnit unit);

struct PrintSettings {
  // Pictures carry no resolution of their own, so "Normal" prints one
  // picture pixel per 1/96 inch, the size the picture has on a usual screen
  // at 100 %.
  static constexpr double kDefaultPictureDpi = 96.0;
  // Gamma values outside this range are brought back into it; 1 leaves
  // the picture as it is.
  static constexpr double kMinGamma = 0.1;
  static constexpr double kMaxGamma = 10.0;
  // No length (margin or size) beyond this is taken: it bounds what the
  // painters are asked to draw.
  static constexpr double kMaxInches = 1000.0;

  double marginTop = 1.0;  // inches
  double marginLeft = 1.0;
  double marginRight = 1.0;
  double marginBottom = 1.0;
  PrintPosition position = PrintPosition::Center;
  PrintSizeMode sizeMode = PrintSizeMode::FitToPage;
  double specifiedWidth = 6.0;  // inches
  double specifiedHeight = 4.0;
  double gamma = 1.0;
  MeasureUnit unit = MeasureUnit::Inches;  // what the dialog shows; no effect on the print
  double pictureDpi = kDefaultPictureDpi;

  friend bool operator==(const PrintSettings&, const PrintSettings&) = default;
};

// The settings as they are used: margins below 0 (or not a number) become
// 0, lengths are capped at kMaxInches, a specified size that is not a
// number becomes 0 (nothing can be placed), gamma is brought into
// [kMinGamma, kMaxGamma] (not a number: 1), a resolution that is not
// positive becomes kDefaultPictureDpi.
PrintSettings Sanitized(const PrintSettings& s);

// A rectangle in points, from the paper's top-left corner.
struct PrintRect {
  double x = 0, y = 0, width = 0, height = 0;
  bool IsEmpty() const { return !(width > 0) || !(height > 0); }
  friend bool operator==(const PrintRect&, const PrintRect&) = default;
};

struct PrintPlacement {
  PrintRect paper;    // the whole sheet
  PrintRect area;     // inside the margins; the picture is clipped to it
  PrintRect picture;  // where the whole picture goes (may reach beyond `area`)
  // False when nothing can be printed: the margins leave no room, the
  // specified size is not positive, the picture or the paper is empty.
  bool ok = false;
};

// Why a placement is not ok, for the dialog to say; empty when it is.
std::string PlacementProblem(const PrintPlacement& p, const PrintSettings& s, int pictureWidth,
                             int pictureHeight);

// Places a picture of pictureWidth x pictureHeight pixels on a sheet of
// paperWidth x paperHeight points with the (sanitized) settings.
PrintPlacement PlacePicture(double paperWidth, double paperHeight, const PrintSettings& settings,
                            int pictureWidth, int pictureHeight);

// The gamma correction of the printed pixels: out = round(255 x (in /
// 255)^(1 / gamma)) for the (sanitized) gamma, halves to even.
std::array<uint8_t, 256> GammaTable(double gamma);

}  // namespace velmora
