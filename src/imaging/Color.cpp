#include "imaging/Color.h"

#include "imaging/Rounding.h"

#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <algorithm>

namespace velmora {

namespace {

struct NamedColor {
  const char* name;
  Color value;
};

// The standard named colours, written by name in the settings file.
constexpr NamedColor kNamedColors[] = {
    {"clBlack", 0x00000000},  {"clMaroon", 0x00000080},     {"clGreen", 0x00008000},   {"clOlive", 0x00008080},
    {"clNavy", 0x00800000},   {"clPurple", 0x00800080},     {"clTeal", 0x00808000},    {"clGray", 0x00808080},
    {"clSilver", 0x00C0C0C0}, {"clRed", 0x000000FF},        {"clLime", 0x0000FF00},    {"clYellow", 0x0000FFFF},
    {"clBlue", 0x00FF0000},   {"clFuchsia", 0x00FF00FF},    {"clAqua", 0x00FFFF00},    {"clWhite", 0x00FFFFFF},
    {"clMoneyGreen", 0x00C0DCC0}, {"clSkyBlue", 0x00F0CAA6}, {"clCream", 0x00F0FBFF}, {"clMedGray", 0x00A4A0A0},
};

// System colours by index, with the values of a common light desktop theme
// until the GUI layer reports the real ones. The indices are the desktop's
// own (clBtnFace is 15, clMenuBar 30); index 25 has no colour, so it has no
// name either.
constexpr const char* kSystemNames[] = {
    "clScrollBar",     "clBackground",     "clActiveCaption", "clInactiveCaption", "clMenu",
    "clWindow",        "clWindowFrame",    "clMenuText",      "clWindowText",      "clCaptionText",
    "clActiveBorder",  "clInactiveBorder", "clAppWorkSpace",  "clHighlight",       "clHighlightText",
    "clBtnFace",       "clBtnShadow",      "clGrayText",      "clBtnText",         "clInactiveCaptionText",
    "clBtnHighlight",  "cl3DDkShadow",     "cl3DLight",       "clInfoText",        "clInfoBk",
    nullptr,           "clHotLight",       "clGradientActiveCaption", "clGradientInactiveCaption", "clMenuHighlight",
    "clMenuBar",
};
constexpr int kSystemCount = sizeof(kSystemNames) / sizeof(kSystemNames[0]);

std::array<Color, kSystemCount> gSystemColors = {
    0x00C8C8C8, 0x00000000, 0x00D1B499, 0x00DBCDBF, 0x00F0F0F0, 0x00FFFFFF, 0x00646464, 0x00000000,
    0x00000000, 0x00000000, 0x00B4B4B4, 0x00FCF7F4, 0x00ABABAB, 0x00D77800, 0x00FFFFFF, 0x00F0F0F0,
    0x00A0A0A0, 0x006D6D6D, 0x00000000, 0x00000000, 0x00FFFFFF, 0x00696969, 0x00E3E3E3, 0x00000000,
    0x00E1FFFF, 0x00000000, 0x00CC6600, 0x00EAD1B9, 0x00F2E4D7, 0x00FF9933, 0x00F0F0F0,
};

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return std::tolower(x) == std::tolower(y); });
}

}  // namespace

Color SystemColor(int index) {
  return index >= 0 && index < kSystemCount ? gSystemColors[index] : 0;
}

void SetSystemColor(int index, Color rgb) {
  if (index >= 0 && index < kSystemCount) gSystemColors[index] = rgb & 0x00FFFFFF;
}

IETriple ColorToTriple(Color c) {
  if ((c & 0xFF000000u) == kSystemColorFlag) c = SystemColor(static_cast<int>(c & 0xFF));
  return IETriple{static_cast<uint8_t>(c >> 16), static_cast<uint8_t>(c >> 8), static_cast<uint8_t>(c)};
}

Color TripleToColor(const IETriple& t) { return t.r | (t.g << 8) | (static_cast<Color>(t.b) << 16); }

std::optional<Color> ParseColorIdent(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  if (text.empty()) return std::nullopt;
  for (const auto& n : kNamedColors)
    if (EqualsIgnoreCase(text, n.name)) return n.value;
  for (int i = 0; i < kSystemCount; ++i)
    if (kSystemNames[i] && EqualsIgnoreCase(text, kSystemNames[i])) return kSystemColorFlag | static_cast<Color>(i);
  bool negative = false;
  std::string_view digits = text;
  if (digits.front() == '-') {
    negative = true;
    digits.remove_prefix(1);
  }
  int base = 10;
  if (!digits.empty() && digits.front() == '$') {
    base = 16;
    digits.remove_prefix(1);
  } else if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    base = 16;
    digits.remove_prefix(2);
  }
  if (digits.empty()) return std::nullopt;
  uint64_t v = 0;
  auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v, base);
  if (ec != std::errc() || ptr != digits.data() + digits.size() || v > 0xFFFFFFFFull) return std::nullopt;
  if (negative) {
    if (v > 0x80000000ull) return std::nullopt;
    v = static_cast<uint32_t>(-static_cast<int64_t>(v));
  }
  return static_cast<Color>(v);
}

std::string FormatColorIdent(Color c) {
  for (const auto& n : kNamedColors)
    if (n.value == c) return n.name;
  if ((c & 0xFFFFFF00u) == kSystemColorFlag && static_cast<int>(c & 0xFF) < kSystemCount && kSystemNames[c & 0xFF])
    return kSystemNames[c & 0xFF];
  char buf[16];
  std::snprintf(buf, sizeof buf, "$%08X", c);
  return buf;
}

namespace {

// c / 255.0 for every byte, the same doubles the division gives, read
// rather than divided: HSLvar converts every pixel of a photo.
struct ByteFractions {
  double v[256];
  constexpr ByteFractions() : v() {
    for (int i = 0; i < 256; ++i) v[i] = i / 255.0;
  }
};
constexpr ByteFractions kByteFraction;

}  // namespace

void RGBToHSL(const IETriple& rgb, double& h, double& s, double& l) {
  const double r = kByteFraction.v[rgb.r], g = kByteFraction.v[rgb.g], b = kByteFraction.v[rgb.b];
  const double mx = std::max({r, g, b});
  const double mn = std::min({r, g, b});
  l = (mx + mn) / 2;
  if (mx == mn) {
    h = 0;
    s = 0;
    return;
  }
  const double d = mx - mn;
  s = l < 0.5 ? d / (mx + mn) : d / (2 - mx - mn);
  double h6;
  if (mx == r)
    h6 = (g - b) / d;
  else if (mx == g)
    h6 = (b - r) / d + 2;
  else
    h6 = (r - g) / d + 4;
  h = h6 / 6;
  if (h < 0) h += 1;
}

namespace {

inline double HueToChannel(double p, double q, double t) {
  if (t < 0)
    t += 1;
  else if (t > 1)
    t -= 1;
  if (6 * t < 1) return p + (q - p) * (6 * t);
  if (2 * t < 1) return q;
  if (3 * t < 2) return p + (q - p) * (2.0 / 3.0 - t) * 6;
  return p;
}

inline uint8_t ToByte(double v) { return RoundByte(v * 255); }

}  // namespace

IETriple HSLToRGB(double h, double s, double l) {
  if (h < 0)
    h += 1;
  else if (h > 1)
    h -= 1;
  s = std::clamp(s, 0.0, 1.0);
  l = std::clamp(l, 0.0, 1.0);
  if (s == 0) {
    const uint8_t v = ToByte(l);
    return IETriple{v, v, v};
  }
  const double q = l <= 0.5 ? l * (1 + s) : l + s - l * s;
  const double p = 2 * l - q;
  return IETriple{ToByte(HueToChannel(p, q, h - 1.0 / 3.0)), ToByte(HueToChannel(p, q, h)),
                  ToByte(HueToChannel(p, q, h + 1.0 / 3.0))};
}

void HSVToRGBInt(int hue, int s, int v, int scale, int& r, int& g, int& b) {
  if (s == 0) {
    r = g = b = v;
    return;
  }
  const int f = hue % 60;
  const int p = v - s * v / scale;
  const int q = v - s * v * f / (scale * 60);
  const int t = v - s * v * (60 - f) / (scale * 60);
  switch (hue / 60) {
    case 0: r = v, g = t, b = p; break;
    case 1: r = q, g = v, b = p; break;
    case 2: r = p, g = v, b = t; break;
    case 3: r = p, g = q, b = v; break;
    case 4: r = t, g = p, b = v; break;
    default: r = v, g = p, b = q; break;
  }
}

}  // namespace velmora
