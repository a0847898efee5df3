// The tileset.json of a region, assembled from plain records of its tiles:
// bounding boxes from the content each tile wrote, geometric errors, and the
// root's east-north-up frame on the WGS84 ellipsoid when the region has a
// place on Earth. No host calls, no files.
//
// Tile content is glTF, y-up, in scene units (metres) with the map's centre
// at the origin, +X east and -Z north. 3D Tiles turns glTF's y-up into its
// z-up, so in the tileset's frame a scene point (x, y, z) is (x, -z, y):
// east, north, up.
#pragma once

#include <array>
#include <map>
#include <string>
#include <vector>

#include "region_plan.h"

namespace city {

// An axis-aligned box in the tileset's frame (east, north, up).
struct Box3 {
  double min[3] = {0, 0, 0}, max[3] = {0, 0, 0};
  bool valid = false;
  void Add(const Box3& b);
  bool Contains(const Box3& b, double slack) const;
};

// The box, in the tileset's frame, of scene-space bounds.
Box3 FromScene(const double sceneMin[3], const double sceneMax[3]);

struct TileContent {
  std::string uri;  // relative to tileset.json
  Box3 box;
};

struct TileNode {
  TileId id;
  std::vector<TileContent> contents;  // a leaf may hold several pieces
  double geometricError = 0;
  Box3 box;  // its contents and all its children
};

// The 4 x 4 column-major matrix from east-north-up metres at (lon, lat,
// height) to Earth-centred, Earth-fixed (WGS84) metres.
std::array<double, 16> EnuToEcef(double lonDegrees, double latDegrees, double height);

// tileset.json text. `nodes` holds every tile of every level of `grid`;
// pieces of a leaf beyond the first become extra children of its parent, so
// every tile has at most one content. `transform` is null for a tileset in
// local metres.
std::string TilesetJson(const RegionGrid& grid, const std::map<TileId, TileNode>& nodes,
                        const std::array<double, 16>* transform);

}  // namespace city
