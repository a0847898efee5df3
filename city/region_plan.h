// How a region is cut: the grid of leaf tiles over the map, each leaf's
// window (the tile plus its halo), the quadtree of coarser levels above the
// leaves, and the names of every file a region writes. Plain arithmetic, no
// host calls.
//
// Leaf (x, y) holds columns [x T, (x + 1) T) and rows [y T, (y + 1) T) of the
// map (rows from the top), cut at the map's edge. Level L >= 1 tile (x, y)
// covers the leaves (x 2^L .. x 2^L + 2^L - 1, likewise in y); the root is the
// one tile of the top level, which is at least 1.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace city {

// Pixels, rows from the top; half-open.
struct PixelRect {
  long x = 0, y = 0, width = 0, height = 0;
  long Right() const { return x + width; }
  long Bottom() const { return y + height; }
  bool Contains(long column, long row) const { return column >= x && column < Right() && row >= y && row < Bottom(); }
  bool Empty() const { return width <= 0 || height <= 0; }
};

struct TileId {
  int level = 0;
  long x = 0, y = 0;
  bool operator==(const TileId& o) const { return level == o.level && x == o.x && y == o.y; }
  bool operator<(const TileId& o) const {
    return level != o.level ? level < o.level : (y != o.y ? y < o.y : x < o.x);
  }
};

class RegionGrid {
 public:
  RegionGrid(long mapWidth, long mapHeight, long tile);

  long MapWidth() const { return width_; }
  long MapHeight() const { return height_; }
  long Tile() const { return tile_; }
  long Columns() const { return columns_; }  // leaves across
  long Rows() const { return rows_; }        // leaves down
  int TopLevel() const { return top_; }

  // Leaves and tiles of `level`, in row-major order.
  std::vector<TileId> Tiles(int level) const;
  bool Valid(const TileId& t) const;
  // The map pixels `t` covers, cut at the map's edge.
  PixelRect Area(const TileId& t) const;
  // A leaf's area grown by `halo` on every side, cut at the map's edge.
  PixelRect Window(const TileId& leaf, long halo) const;
  // The tiles of level - 1 under `t` that exist (1 to 4).
  std::vector<TileId> Children(const TileId& t) const;

 private:
  long width_, height_, tile_, columns_, rows_;
  int top_;
};

// File names, relative to the region's output folder.
std::string TileStem(const TileId& t);                // "tiles/0/3_5"
std::string ContentName(const TileId& t, int piece);  // "tiles/0/3_5.glb", "tiles/0/3_5_1.glb"
std::string SummaryName(const TileId& t);             // "tiles/0/3_5.json"

// "shops_x1234_y567": the building of a zone's lot by its centre pixel on the
// whole map (column, row from the top), the same in every tiling.
std::string BuildingName(const std::string& zone, long column, long rowFromTop);

// A 64-bit FNV-1a digest, fed piece by piece; printed as 16 hex digits.
class Digest {
 public:
  void Add(const void* bytes, std::size_t n);
  void Add(const std::string& s) { Add(s.data(), s.size()); }
  std::string Hex() const;

 private:
  std::uint64_t h_ = 0xcbf29ce484222325ull;
};

}  // namespace city
