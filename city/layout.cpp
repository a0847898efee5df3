#include "layout.h"

#include <climits>
#include <cmath>
#include <string_view>

#include <xsi_value.h>

namespace city {

namespace {

// One integer field of findSpots' result, up to the next ',' or '#'.
bool ReadField(const char*& p, long& out) {
  const char* end = p;
  while (*end && *end != ',' && *end != '#') ++end;
  long long value = 0;
  if (XSI::ReadWholeNumber(std::string_view(p, static_cast<std::size_t>(end - p)), value) != XSI::NumberText::Ok ||
      value < LONG_MIN || value > LONG_MAX)
    return false;
  out = static_cast<long>(value);
  p = end;
  return true;
}

// How many whole cells fit across `span`, checked so rounding never lets a
// footprint reach past its box.
long CellsAcross(double span, double cell) {
  if (!(span > 0) || !(cell > 0)) return 0;
  double n = std::floor(span / cell);
  while (n > 0 && n * cell > span) n -= 1;
  return n > 1e6 ? 1000000 : static_cast<long>(n);
}

}  // namespace

bool ParseLots(const std::string& text, std::vector<Lot>& lots, std::string& error) {
  lots.clear();
  const char* p = text.c_str();
  while (*p) {
    Lot lot;
    long* fields[6] = {&lot.index, &lot.centreX, &lot.centreY, &lot.width, &lot.height, &lot.elevation};
    for (int i = 0; i < 6; ++i) {
      if (!ReadField(p, *fields[i]) || *p != (i == 5 ? '#' : ',')) {
        error = "cannot read findSpots' result near entry " + std::to_string(lots.size());
        return false;
      }
      ++p;
    }
    lots.push_back(lot);
  }
  return true;
}

double SceneX(const MapFrame& f, double column) { return (column + 0.5 - f.width / 2.0) * f.scale; }
double SceneZ(const MapFrame& f, double rowFromTop) { return (rowFromTop + 0.5 - f.height / 2.0) * f.scale; }

Footprint LargestFootprint(const MapFrame& f, const PixelBox& box, long column, long rowFromTop,
                           const KitSize& kit) {
  // Room on either side of the centre, measured to the box's outer pixel edges.
  const double west = (column + 0.5 - box.minColumn) * f.scale;
  const double east = (box.maxColumn + 0.5 - column) * f.scale;
  const double north = (rowFromTop + 0.5 - box.minRow) * f.scale;
  const double south = (box.maxRow + 0.5 - rowFromTop) * f.scale;
  Footprint fp;
  const long alongX = CellsAcross(2 * std::fmin(west, east), kit.cell);
  const long alongZ = CellsAcross(2 * std::fmin(north, south), kit.cell);
  fp.length = alongX >= 2 ? static_cast<int>(alongX - 1) : 0;
  fp.width = alongZ >= 2 ? static_cast<int>(alongZ - 1) : 0;
  return fp;
}

double BuildingHeight(const KitSize& kit, int floors) { return floors * kit.storey + kit.roof; }

std::uint64_t Random::Next() {
  std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

long Random::Between(long low, long high) {
  const std::uint64_t span = static_cast<std::uint64_t>(high - low) + 1;
  // Draws past the last whole multiple of span would favour small values.
  const std::uint64_t limit = UINT64_MAX - UINT64_MAX % span;
  std::uint64_t v = Next();
  while (v >= limit) v = Next();
  return low + static_cast<long>(v % span);
}

Random ZoneRandom(std::uint64_t seed, std::size_t zoneIndex) {
  Random mix(seed ^ (0xD1B54A32D192ED03ull * (zoneIndex + 1)));
  return Random(mix.Next());
}

int LotFloors(std::uint64_t seed, std::size_t zoneIndex, long column, long rowFromTop, int low, int high) {
  // Each input goes through a splitmix64 step of its own, so neighbouring
  // centres give unrelated draws.
  Random mix = ZoneRandom(seed, zoneIndex);
  std::uint64_t h = mix.Next();
  h = Random(h ^ static_cast<std::uint64_t>(column)).Next();
  h = Random(h ^ (static_cast<std::uint64_t>(rowFromTop) << 1)).Next();
  Random draw(h);
  return static_cast<int>(draw.Between(low, high));
}

}  // namespace city
