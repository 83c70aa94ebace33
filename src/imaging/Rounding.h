// Rounding to bytes as the operations need it, inline and without a library
// call per channel.
#pragma once

#include <cstdint>

namespace velmora {

// round(v), halves to even, as std::nearbyint gives it in the default
// rounding mode, for |v| < 2^51: adding and taking away 1.5 x 2^52 leaves
// the rounded integer, because doubles from 2^52 up have no fraction bits.
inline double RoundHalfEven(double v) {
  constexpr double kShift = 6755399441055744.0;
  return (v + kShift) - kShift;
}

// trunc(v) clamped to 0..255 (the conversion cuts toward zero); NaN gives 0.
inline int ClampToByte(double v) {
  if (!(v > 0)) return 0;
  return v >= 255 ? 255 : static_cast<int>(v);
}
inline uint8_t TruncByte(double v) { return static_cast<uint8_t>(ClampToByte(v)); }

// round(v), halves to even, clamped to 0..255; NaN gives 0.
inline uint8_t RoundByte(double v) {
  if (!(v > -1)) return 0;
  if (v >= 255) return 255;
  return static_cast<uint8_t>(ClampToByte(RoundHalfEven(v)));
}

}  // namespace velmora
