// Pixel classification: foreground or background by three inclusive colour
// ranges or by one inclusive luminance range, and the conversion of colour
// components to raster bytes.
//
// The arithmetic is fixed: centres and half-widths are single-precision
// settings widened to double, bounds are computed and compared in double, and
// luminance is one third of the weighted sum with single-precision roundings
// at the two places noted in luminance(). Any comparison with NaN fails, so a
// NaN setting or component makes the pixel background.
#pragma once

#include <cstdint>
#include <string>

namespace findspots {

struct ClassifySettings {
  bool useRGB = false;
  float channelRed = 0, channelGreen = 0, channelBlue = 0;
  float rangeR = 0, rangeG = 0, rangeB = 0;
  float luminanceValue = 0, luminanceRange = 0;
};

// Bounds computed once per run from the settings.
struct ClassBounds {
  bool useRGB = false;
  double low[3] = {0, 0, 0};   // red, green, blue: centre - half-width
  double high[3] = {0, 0, 0};  // half-width + centre
  double lumLow = 0, lumHigh = 0;
};

ClassBounds makeBounds(const ClassifySettings& settings);

// Why no pixel can be foreground under these bounds, or empty when some
// pixel can: a colour range that misses 0..1 (the scale of the components,
// not 0..255), a luminance range that misses 0..1/3, a negative half-width
// or a NaN setting. The run still runs; the caller warns with this text.
std::string unreachableReason(const ClassifySettings& settings, const ClassBounds& bounds);

// One third of 0.71516 g + 0.212671 r + 0.072169 b (single-precision weights,
// double sums, the sum and the quotient rounded to float): white gives 1/3.
inline float luminance(double r, double g, double b) {
  constexpr double kWeightG = static_cast<double>(0.71516f);
  constexpr double kWeightR = static_cast<double>(0.212671f);
  constexpr double kWeightB = static_cast<double>(0.072169f);
  double sum = kWeightG * g + kWeightR * r;
  sum = sum + kWeightB * b;
  const float rounded = static_cast<float>(sum);
  return static_cast<float>(static_cast<double>(rounded) / 3.0);
}

inline bool isForeground(const ClassBounds& bounds, double r, double g, double b) {
  if (bounds.useRGB) {
    return bounds.low[0] <= r && bounds.high[0] >= r && bounds.low[1] <= g &&
           bounds.high[1] >= g && bounds.low[2] <= b && bounds.high[2] >= b;
  }
  const double l = luminance(r, g, b);
  return bounds.lumLow <= l && l <= bounds.lumHigh;
}

// The same classification for 8-bit samples, whose components are exactly
// v / 255.0: the double-precision comparisons of isForeground and the bytes of
// channelByte are made once per run for each of the 256 sample values and
// kept in tables, so a pixel costs three loads. For the colour ranges this is
// exact by construction (each channel's test depends on its own component
// only). Luminance is not split by channel; `colourTables` is false for it and
// callers keep the double-precision path.
struct SampleTables {
  bool colourTables = false;
  // Bit 0 of pass[c][v]: v / 255.0 lies in channel c's range (red, green, blue).
  std::uint8_t pass[3][256] = {};
  std::uint8_t byteOf[256] = {};  // channelByte(v / 255.0)
  // With `intervals`, channel c's passing samples are exactly lo[c]..hi[c]
  // (lo 255 and hi 0 when none pass), so a pixel may be tested by two
  // unsigned comparisons a channel, many at a time. The components grow
  // with the sample, so this always holds; it is checked, not assumed.
  bool intervals = false;
  std::uint8_t lo[3] = {255, 255, 255}, hi[3] = {0, 0, 0};

  bool foreground(std::uint8_t r, std::uint8_t g, std::uint8_t b) const {
    return (pass[0][r] & pass[1][g] & pass[2][b]) != 0;
  }
};

SampleTables makeSampleTables(const ClassBounds& bounds);

// Truncation toward zero to a 32-bit int. Values outside the int range and
// NaN give INT32_MIN, the value the hardware conversion produces, so the
// result is defined for every input.
inline std::int32_t truncToInt(double v) {
  if (!(v > -2147483649.0 && v < 2147483648.0)) return INT32_MIN;
  return static_cast<std::int32_t>(v);
}

// The low 8 bits of trunc(component x 255): 1 -> 255, 0.5 -> 127, 0 -> 0.
inline std::uint8_t channelByte(double component) {
  return static_cast<std::uint8_t>(static_cast<std::uint32_t>(truncToInt(component * 255.0)) & 0xFFu);
}

}  // namespace findspots
