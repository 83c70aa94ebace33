#include "output/PrintLayout.h"

#include <algorithm>
#include <cmath>

namespace velmora {

const char* PrintPositionCaption(PrintPosition p) {
  switch (p) {
    case PrintPosition::TopLeft: return "Top left";
    case PrintPosition::Top: return "Top";
    case PrintPosition::TopRight: return "Top right";
    case PrintPosition::Left: return "Left";
    case PrintPosition::Center: return "Center";
    case PrintPosition::Right: return "Right";
    case PrintPosition::BottomLeft: return "Bottom left";
    case PrintPosition::Bottom: return "Bottom";
    case PrintPosition::BottomRight: return "Bottom right";
  }
  return "";
}

const char* PrintSizeModeCaption(PrintSizeMode m) {
  switch (m) {
    case PrintSizeMode::Normal: return "Normal";
    case PrintSizeMode::FitToPage: return "Fit to page";
    case PrintSizeMode::StretchToPage: return "Stretch to page";
    case PrintSizeMode::SpecifiedSize: return "Specified size";
  }
  return "";
}

const char* MeasureUnitCaption(MeasureUnit u) { return u == MeasureUnit::Centimeters ? "cm" : "Inches"; }

double ToUnit(double inches, MeasureUnit unit) {
  return unit == MeasureUnit::Centimeters ? inches * kCentimetersPerInch : inches;
}

double FromUnit(double value, MeasureUnit unit) {
  return unit == MeasureUnit::Centimeters ? value / kCentimetersPerInch : value;
}

namespace {

// A margin: 0 .. kMaxInches, 0 for anything that is not a number.
double CleanMargin(double v) {
  if (!(v > 0)) return 0;
  return std::min(v, PrintSettings::kMaxInches);
}

bool ValidPosition(PrintPosition p) {
  const int i = static_cast<int>(p);
  return i >= 0 && i < kPrintPositionCount;
}

bool ValidSizeMode(PrintSizeMode m) {
  const int i = static_cast<int>(m);
  return i >= 0 && i < kPrintSizeModeCount;
}

// The area inside the margins; its width or height is 0 when the margins
// meet or cross.
PrintRect AreaInside(const PrintRect& paper, const PrintSettings& s) {
  PrintRect a;
  a.x = s.marginLeft * kPointsPerInch;
  a.y = s.marginTop * kPointsPerInch;
  a.width = std::max(0.0, paper.width - (s.marginLeft + s.marginRight) * kPointsPerInch);
  a.height = std::max(0.0, paper.height - (s.marginTop + s.marginBottom) * kPointsPerInch);
  return a;
}

}  // namespace

PrintSettings Sanitized(const PrintSettings& in) {
  PrintSettings s = in;
  s.marginTop = CleanMargin(in.marginTop);
  s.marginLeft = CleanMargin(in.marginLeft);
  s.marginRight = CleanMargin(in.marginRight);
  s.marginBottom = CleanMargin(in.marginBottom);
  // A size that is not positive stays refused (placement not ok) rather
  // than being turned into some size the user never asked for.
  s.specifiedWidth = std::isnan(in.specifiedWidth) ? 0 : std::min(in.specifiedWidth, PrintSettings::kMaxInches);
  s.specifiedHeight = std::isnan(in.specifiedHeight) ? 0 : std::min(in.specifiedHeight, PrintSettings::kMaxInches);
  s.gamma = std::isnan(in.gamma) ? 1.0 : std::clamp(in.gamma, PrintSettings::kMinGamma, PrintSettings::kMaxGamma);
  if (!(in.pictureDpi >= 1 && in.pictureDpi <= 100000)) s.pictureDpi = PrintSettings::kDefaultPictureDpi;
  if (!ValidPosition(in.position)) s.position = PrintPosition::Center;
  if (!ValidSizeMode(in.sizeMode)) s.sizeMode = PrintSizeMode::FitToPage;
  if (in.unit != MeasureUnit::Inches && in.unit != MeasureUnit::Centimeters) s.unit = MeasureUnit::Inches;
  return s;
}

PrintPlacement PlacePicture(double paperWidth, double paperHeight, const PrintSettings& settings, int pictureWidth,
                            int pictureHeight) {
  const PrintSettings s = Sanitized(settings);
  PrintPlacement p;
  if (!(paperWidth > 0) || !(paperHeight > 0) || !std::isfinite(paperWidth) || !std::isfinite(paperHeight))
    return p;
  p.paper = {0, 0, paperWidth, paperHeight};
  p.area = AreaInside(p.paper, s);
  if (p.area.IsEmpty() || pictureWidth <= 0 || pictureHeight <= 0) return p;

  const double pw = pictureWidth, ph = pictureHeight;
  double w = 0, h = 0;
  switch (s.sizeMode) {
    case PrintSizeMode::Normal:
      w = pw * kPointsPerInch / s.pictureDpi;
      h = ph * kPointsPerInch / s.pictureDpi;
      break;
    case PrintSizeMode::FitToPage:
      // The side that meets the margins first takes the area's length
      // exactly; the other follows the picture's aspect ratio.
      if (p.area.width * ph <= p.area.height * pw) {
        w = p.area.width;
        h = p.area.width * ph / pw;
      } else {
        h = p.area.height;
        w = p.area.height * pw / ph;
      }
      break;
    case PrintSizeMode::StretchToPage:
      w = p.area.width;
      h = p.area.height;
      break;
    case PrintSizeMode::SpecifiedSize:
      w = s.specifiedWidth * kPointsPerInch;
      h = s.specifiedHeight * kPointsPerInch;
      break;
  }
  if (!(w > 0) || !(h > 0)) return p;

  // Column 0, 1, 2 = left, centre, right; row likewise top to bottom. A
  // picture larger than the area overflows it on the far side (or evenly
  // when centred) and is clipped there.
  const int index = static_cast<int>(s.position);
  const int column = index % 3, row = index / 3;
  p.picture.width = w;
  p.picture.height = h;
  p.picture.x = p.area.x + (p.area.width - w) * column / 2;
  p.picture.y = p.area.y + (p.area.height - h) * row / 2;
  p.ok = true;
  return p;
}

std::string PlacementProblem(const PrintPlacement& p, const PrintSettings& settings, int pictureWidth,
                             int pictureHeight) {
  if (p.ok) return {};
  if (p.paper.IsEmpty()) return "The paper size is not known.";
  if (p.area.IsEmpty()) return "The margins leave no room for the picture.";
  if (pictureWidth <= 0 || pictureHeight <= 0) return "There is no picture to print.";
  const PrintSettings s = Sanitized(settings);
  if (s.sizeMode == PrintSizeMode::SpecifiedSize) return "The picture's width and height must be above zero.";
  return "The picture cannot be placed on the page.";
}

std::array<uint8_t, 256> GammaTable(double gamma) {
  PrintSettings g;
  g.gamma = gamma;
  const double exponent = 1.0 / Sanitized(g).gamma;
  std::array<uint8_t, 256> t{};
  for (int i = 0; i < 256; ++i) {
    const double v = 255.0 * std::pow(i / 255.0, exponent);
    t[i] = static_cast<uint8_t>(std::clamp(std::nearbyint(v), 0.0, 255.0));
  }
  return t;
}

}  // namespace velmora
