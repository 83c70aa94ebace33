// Colour values and conversions shared by the operations and the settings.
//
// A "colour" is a 32-bit value whose low three bytes are red, green and
// blue from the lowest byte up (0x00BBGGRR). Values with the top byte 0xFF
// are system colours (0xFF000000 | index), resolved through a table the GUI
// layer may refresh from the desktop.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "imaging/IEBitmap.h"

namespace velmora {

using Color = uint32_t;

constexpr Color kSystemColorFlag = 0xFF000000u;
constexpr Color clBtnFace = kSystemColorFlag | 15;
constexpr Color clWhite = 0x00FFFFFF;
constexpr Color clBlack = 0x00000000;

inline IETriple CreateRGB(uint8_t r, uint8_t g, uint8_t b) { return IETriple{b, g, r}; }

// System colours resolved first; red is the lowest byte.
IETriple ColorToTriple(Color c);
Color TripleToColor(const IETriple& t);  // r | g << 8 | b << 16
// The packed integer red * 65536 + green * 256 + blue.
inline int32_t TripleToPacked(const IETriple& t) { return t.r * 65536 + t.g * 256 + t.b; }

// Colour identifiers of the settings file: a name (clWhite, clBtnFace, ...)
// or "$" with hexadecimal digits, or a decimal number.
std::optional<Color> ParseColorIdent(std::string_view text);
// A named colour as its name, any other as "$" and 8 upper-case hex digits.
std::string FormatColorIdent(Color c);

// The desktop's value for a system colour index (0..30).
Color SystemColor(int index);
void SetSystemColor(int index, Color rgb);

// Integer HSV to RGB on a scale of 0..`scale` (99 for tints, 255 for
// bytes): hue 0..359, saturation and value 0..scale; every division
// truncates.
void HSVToRGBInt(int hue, int s, int v, int scale, int& r, int& g, int& b);

// H, S, L each in 0..1.
void RGBToHSL(const IETriple& rgb, double& h, double& s, double& l);
IETriple HSLToRGB(double h, double s, double l);

}  // namespace velmora
