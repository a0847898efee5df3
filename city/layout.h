// Where a lot's building goes: the pixel-to-scene mapping shared with the
// host's "CreateHeightField", the largest footprint that fits a lot, and the
// seeded floor counts. Plain arithmetic, no host calls.
//
// Pixel column c (0 = left) and row r (0 = top) of a W x H map sit at
//   X = (c + 0.5 - W/2) * scale,  Z = (r + 0.5 - H/2) * scale
// so the map's centre is the origin, west is -X and north (the top) is -Z.
// findSpots counts rows from the bottom: r = H - 1 - y.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "budget.h"

namespace city {

// One findSpots entry: index, centre (from the bottom-left), extent, elevation.
struct Lot {
  long index = 0;
  long centreX = 0, centreY = 0;
  long width = 0, height = 0;  // largest minus smallest column, and row
  long elevation = 0;
};

// Parses findSpots' "index,x,y,w,h,e#..." text. False with `error` set on
// anything else.
bool ParseLots(const std::string& text, std::vector<Lot>& lots, std::string& error);

struct MapFrame {
  long width = 0, height = 0;  // pixels
  double scale = 1;            // scene units per pixel
};

double SceneX(const MapFrame& f, double column);
double SceneZ(const MapFrame& f, double rowFromTop);

// A lot's bounding box in pixels, rows counted from the top, bounds included.
struct PixelBox {
  long minColumn = 0, maxColumn = 0, minRow = 0, maxRow = 0;
};

// The building kit as the units library measures it: the cell one unit
// fills (and the grid step RaiseTower lays units on), a storey's height and
// the roof's; and the vertex counts of its units, for the size budget.
struct KitSize {
  double cell = 13.5;
  double storey = 14;
  double roof = 1.5;
  UnitVertexCounts units;
};

// Footprint in units: length along X, width along Z (RaiseTower's
// unitslength and unitswidth). A W x L footprint spans cell * (L + 1) along X
// and cell * (W + 1) along Z, centred on the building.
struct Footprint {
  int length = 0, width = 0;
  bool Fits() const { return length >= 1 && width >= 1; }
};

// The largest footprint centred on pixel (column, rowFromTop) whose extent
// stays inside `box`; length or width 0 when not even 1 x 1 fits.
Footprint LargestFootprint(const MapFrame& f, const PixelBox& box, long column, long rowFromTop,
                           const KitSize& kit);

// The scene height of a building of `floors` storeys, roof included.
double BuildingHeight(const KitSize& kit, int floors);

// splitmix64: the same sequence on every platform and library.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next();
  // Uniform in [low, high] (low <= high), without modulo bias.
  long Between(long low, long high);

 private:
  std::uint64_t state_;
};

// The generator of zone `zoneIndex` (0-based) under the recipe's seed, so a
// zone's floors do not depend on the zones before it.
Random ZoneRandom(std::uint64_t seed, std::size_t zoneIndex);

// The floors of a zone's lot centred on pixel (column, rowFromTop) of the
// whole map, in [low, high]: drawn from a generator seeded by a hash of the
// seed, the zone and the centre, so a lot's floors depend on nothing else:
// not on the lots found before it, nor on how a region is cut into tiles.
int LotFloors(std::uint64_t seed, std::size_t zoneIndex, long column, long rowFromTop, int low, int high);

}  // namespace city
