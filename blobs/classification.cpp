#include "classification.h"

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

}  // namespace findspots
