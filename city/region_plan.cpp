#include "region_plan.h"

#include <algorithm>
#include <cstdio>

namespace city {

RegionGrid::RegionGrid(long mapWidth, long mapHeight, long tile)
    : width_(mapWidth), height_(mapHeight), tile_(tile) {
  columns_ = (width_ + tile_ - 1) / tile_;
  rows_ = (height_ + tile_ - 1) / tile_;
  top_ = 1;
  while ((1L << top_) < std::max(columns_, rows_)) ++top_;
}

bool RegionGrid::Valid(const TileId& t) const {
  if (t.level < 0 || t.level > top_ || t.x < 0 || t.y < 0) return false;
  const long span = 1L << t.level;
  return t.x * span < columns_ && t.y * span < rows_;
}

std::vector<TileId> RegionGrid::Tiles(int level) const {
  std::vector<TileId> out;
  const long span = 1L << level;
  for (long y = 0; y * span < rows_; ++y)
    for (long x = 0; x * span < columns_; ++x) out.push_back(TileId{level, x, y});
  return out;
}

PixelRect RegionGrid::Area(const TileId& t) const {
  const long side = tile_ << t.level;
  PixelRect r;
  r.x = t.x * side;
  r.y = t.y * side;
  r.width = std::min(side, width_ - r.x);
  r.height = std::min(side, height_ - r.y);
  return r;
}

PixelRect RegionGrid::Window(const TileId& leaf, long halo) const {
  const PixelRect a = Area(leaf);
  PixelRect w;
  w.x = std::max(0L, a.x - halo);
  w.y = std::max(0L, a.y - halo);
  w.width = std::min(width_, a.Right() + halo) - w.x;
  w.height = std::min(height_, a.Bottom() + halo) - w.y;
  return w;
}

std::vector<TileId> RegionGrid::Children(const TileId& t) const {
  std::vector<TileId> out;
  if (t.level == 0) return out;
  for (long dy = 0; dy < 2; ++dy)
    for (long dx = 0; dx < 2; ++dx) {
      const TileId c{t.level - 1, t.x * 2 + dx, t.y * 2 + dy};
      if (Valid(c)) out.push_back(c);
    }
  return out;
}

std::string TileStem(const TileId& t) {
  return "tiles/" + std::to_string(t.level) + "/" + std::to_string(t.x) + "_" + std::to_string(t.y);
}

std::string ContentName(const TileId& t, int piece) {
  return TileStem(t) + (piece == 0 ? "" : "_" + std::to_string(piece)) + ".glb";
}

std::string SummaryName(const TileId& t) { return TileStem(t) + ".json"; }

std::string BuildingName(const std::string& zone, long column, long rowFromTop) {
  return zone + "_x" + std::to_string(column) + "_y" + std::to_string(rowFromTop);
}

void Digest::Add(const void* bytes, std::size_t n) {
  const auto* p = static_cast<const unsigned char*>(bytes);
  for (std::size_t i = 0; i < n; ++i) {
    h_ ^= p[i];
    h_ *= 0x100000001b3ull;
  }
}

std::string Digest::Hex() const {
  char buf[17];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h_));
  return buf;
}

}  // namespace city
