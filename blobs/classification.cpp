#include "classification.h"

#include <cmath>
#include <sstream>

namespace findspots {

ClassBounds makeBounds(const ClassifySettings& s) {
  ClassBounds b;
  b.useRGB = s.useRGB;
  const float centres[3] = {s.channelRed, s.channelGreen, s.channelBlue};
  const float halves[3] = {s.rangeR, s.rangeG, s.rangeB};
  for (int i = 0; i < 3; ++i) {
    b.low[i] = static_cast<double>(centres[i]) - static_cast<double>(halves[i]);
    b.high[i] = static_cast<double>(halves[i]) + static_cast<double>(centres[i]);
  }
  b.lumLow = static_cast<double>(s.luminanceValue) - static_cast<double>(s.luminanceRange);
  b.lumHigh = static_cast<double>(s.luminanceValue) + static_cast<double>(s.luminanceRange);
  return b;
}

SampleTables makeSampleTables(const ClassBounds& b) {
  SampleTables t;
  for (int v = 0; v < 256; ++v) {
    const double component = static_cast<double>(v) / 255.0;
    t.byteOf[v] = channelByte(component);
    for (int c = 0; c < 3; ++c) t.pass[c][v] = b.low[c] <= component && b.high[c] >= component ? 1 : 0;
  }
  t.colourTables = b.useRGB;
  t.intervals = t.colourTables;
  for (int c = 0; c < 3; ++c) {
    int first = -1, last = -1;
    for (int v = 0; v < 256; ++v)
      if (t.pass[c][v]) last = v, first = first < 0 ? v : first;
    if (first < 0) continue;  // none pass: lo 255 and hi 0 admit no sample
    for (int v = first; v <= last; ++v)
      if (!t.pass[c][v]) t.intervals = false;
    t.lo[c] = static_cast<std::uint8_t>(first);
    t.hi[c] = static_cast<std::uint8_t>(last);
  }
  return t;
}

namespace {

std::string number(double v) {
  std::ostringstream text;
  text << v;
  return text.str();
}

// Empty when [low, high] meets [0, top]; else why it does not.
std::string rangeProblem(const char* what, float centre, float half, double low, double high, double top,
                         const char* scale) {
  const std::string range = std::string(what) + " " + number(centre) + " +- " + number(half);
  if (std::isnan(low) || std::isnan(high)) return "the " + range + " is not a number";
  if (half < 0) return "the " + range + " has a negative half-width";
  if (low > top || high < 0) return "the " + range + " lies outside " + scale;
  return std::string();
}

}  // namespace

std::string unreachableReason(const ClassifySettings& s, const ClassBounds& b) {
  if (!b.useRGB) {
    const std::string problem = rangeProblem("luminance range", s.luminanceValue, s.luminanceRange, b.lumLow,
                                             b.lumHigh, static_cast<double>(luminance(1.0, 1.0, 1.0)),
                                             "0..1/3, the luminance of black to white");
    return problem;
  }
  const char* names[3] = {"red range", "green range", "blue range"};
  const float centres[3] = {s.channelRed, s.channelGreen, s.channelBlue};
  const float halves[3] = {s.rangeR, s.rangeG, s.rangeB};
  for (int i = 0; i < 3; ++i) {
    std::string problem = rangeProblem(names[i], centres[i], halves[i], b.low[i], b.high[i], 1.0,
                                       "0..1, the scale of the colour components");
    if (problem.empty()) continue;
    if (centres[i] > 1.0f && centres[i] <= 255.0f) problem += " (a value on the 0..255 scale? divide it by 255)";
    return problem;
  }
  return std::string();
}

}  // namespace findspots
