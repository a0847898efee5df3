// A lot's bounding box, which findSpots does not report: the 4-connected
// region of the zone's colour around the lot's centre, picked by the same
// inclusive colour ranges findSpots uses.
#pragma once

#include <cstdint>
#include <vector>

#include <xsi_plugin.h>

#include "layout.h"
#include "recipe.h"

namespace city {

// The colour test of findSpots for a zone: centres and half-widths as the
// single-precision arguments it is given, bounds in double.
struct ColourRange {
  double low[3] = {0, 0, 0}, high[3] = {0, 0, 0};
  bool Contains(double r, double g, double b) const {
    return low[0] <= r && high[0] >= r && low[1] <= g && high[1] >= g && low[2] <= b && high[2] >= b;
  }
};
ColourRange RangeOf(const Zone& zone);
// The float arguments findSpots gets for a zone's centre and half-width.
float ChannelCentre(int value);
float ChannelHalfWidth(int value);

class LotFinder {
 public:
  LotFinder(const XSI::Image& map, const ColourRange& range);
  // The box of the region holding `lot`'s centre, rows counted from the top.
  // False when the centre is not on the zone's colour or the region does not
  // match the lot's reported extent (a ring or crescent whose centre lies
  // outside it).
  bool BoxOf(const Lot& lot, PixelBox& box);

 private:
  bool Inside(long x, long y) const;
  const XSI::Image& map_;
  ColourRange range_;
  long width_, height_;
  std::vector<std::uint8_t> seen_;
  std::vector<std::uint32_t> work_;
};

}  // namespace city
