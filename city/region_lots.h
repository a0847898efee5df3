// The lots of one zone inside a region tile's window, found the way findSpots
// finds them on the whole map: 4-connected regions of the zone's colour of at
// least min_pixels pixels, with findSpots' integer centre (mean column and
// mean row from the bottom of the whole map, truncated), so a lot has the
// same centre however the map is cut.
//
// A tile keeps the lots whose centre pixel lies in its area and on the lot
// itself (a ring or crescent whose centre falls off it is skipped, as in
// RaiseCity). A region that reaches a side of the window that is not the
// map's edge, and has pixels in the tile's area, cannot be measured whole:
// that is an error, never a guess.
#pragma once

#include <cstdint>
#include <vector>

#include <xsi_plugin.h>

#include "layout.h"
#include "region_plan.h"
#include "survey.h"

namespace city {

struct RegionLot {
  long column = 0, rowFromTop = 0;  // centre pixel on the whole map
  long pixels = 0;
  PixelBox box;                     // on the whole map, rows from the top
};

// A region too wide for the window: its known box (which may extend further).
struct WideLot {
  bool found = false;
  PixelBox box;
};

// One byte a pixel, rows from the top of `window`: 1 where the zone's colour
// test (findSpots' test) holds.
std::vector<std::uint8_t> ClassifyWindow(const XSI::Image& window, const ColourRange& range);

// Labels `mask` (window.width x window.height, rows from the top), which
// covers `window` of a mapWidth x mapHeight map. Appends the lots of `area`
// in scan order, counts the skipped rings in `rings`, and returns false with
// `wide` set on the first region too wide to measure.
bool LabelLots(const std::vector<std::uint8_t>& mask, const PixelRect& window, const PixelRect& area, long mapWidth,
               long mapHeight, long minPixels, std::vector<RegionLot>& lots, long& rings, WideLot& wide);

}  // namespace city
