#include "region_tileset.h"

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>

namespace city {
namespace {

using nlohmann::ordered_json;

// A box never collapses to a plane: viewers divide by its extent.
constexpr double kMinHalf = 0.005;

ordered_json BoxJson(const Box3& b) {
  double c[3], h[3];
  for (int i = 0; i < 3; ++i) {
    c[i] = (b.min[i] + b.max[i]) / 2;
    h[i] = std::max(kMinHalf, (b.max[i] - b.min[i]) / 2);
  }
  return ordered_json{{"box", {c[0], c[1], c[2], h[0], 0.0, 0.0, 0.0, h[1], 0.0, 0.0, 0.0, h[2]}}};
}

ordered_json LeafPieceJson(const TileContent& c) {
  ordered_json t;
  t["boundingVolume"] = BoxJson(c.box);
  t["geometricError"] = 0.0;
  t["content"] = {{"uri", c.uri}};
  return t;
}

ordered_json NodeJson(const RegionGrid& grid, const std::map<TileId, TileNode>& nodes, const TileId& id) {
  const TileNode& n = nodes.at(id);
  ordered_json t;
  t["boundingVolume"] = BoxJson(n.box);
  t["geometricError"] = n.geometricError;
  if (!n.contents.empty()) t["content"] = {{"uri", n.contents.front().uri}};
  ordered_json children = ordered_json::array();
  for (const TileId& c : grid.Children(id)) {
    if (c.level == 0) {
      const TileNode& leaf = nodes.at(c);
      for (const TileContent& piece : leaf.contents) children.push_back(LeafPieceJson(piece));
    } else {
      children.push_back(NodeJson(grid, nodes, c));
    }
  }
  if (!children.empty()) t["children"] = children;
  return t;
}

}  // namespace

void Box3::Add(const Box3& b) {
  if (!b.valid) return;
  for (int i = 0; i < 3; ++i) {
    min[i] = valid ? std::min(min[i], b.min[i]) : b.min[i];
    max[i] = valid ? std::max(max[i], b.max[i]) : b.max[i];
  }
  valid = true;
}

bool Box3::Contains(const Box3& b, double slack) const {
  if (!b.valid) return true;
  if (!valid) return false;
  for (int i = 0; i < 3; ++i)
    if (b.min[i] < min[i] - slack || b.max[i] > max[i] + slack) return false;
  return true;
}

Box3 FromScene(const double sceneMin[3], const double sceneMax[3]) {
  Box3 b;
  b.min[0] = sceneMin[0], b.max[0] = sceneMax[0];
  b.min[1] = -sceneMax[2], b.max[1] = -sceneMin[2];
  b.min[2] = sceneMin[1], b.max[2] = sceneMax[1];
  b.valid = true;
  return b;
}

std::array<double, 16> EnuToEcef(double lonDegrees, double latDegrees, double height) {
  constexpr double kPi = 3.14159265358979323846;
  constexpr double a = 6378137.0, f = 1 / 298.257223563;
  const double e2 = f * (2 - f);
  const double lon = lonDegrees * kPi / 180, lat = latDegrees * kPi / 180;
  const double sl = std::sin(lon), cl = std::cos(lon), sp = std::sin(lat), cp = std::cos(lat);
  const double n = a / std::sqrt(1 - e2 * sp * sp);
  return {-sl,     cl,      0,  0,                            // east
          -sp * cl, -sp * sl, cp, 0,                          // north
          cp * cl, cp * sl, sp, 0,                            // up
          (n + height) * cp * cl, (n + height) * cp * sl, (n * (1 - e2) + height) * sp, 1};
}

std::string TilesetJson(const RegionGrid& grid, const std::map<TileId, TileNode>& nodes,
                        const std::array<double, 16>* transform) {
  const TileId rootId{grid.TopLevel(), 0, 0};
  ordered_json root = NodeJson(grid, nodes, rootId);
  root["refine"] = "REPLACE";
  if (transform) root["transform"] = *transform;
  // Past this error even the root is not worth drawing: the region's size.
  const Box3& b = nodes.at(rootId).box;
  double diagonal = 0;
  for (int i = 0; i < 3; ++i) diagonal += (b.max[i] - b.min[i]) * (b.max[i] - b.min[i]);
  ordered_json tileset;
  tileset["asset"] = {{"version", "1.1"}, {"generator", "scenehost RaiseRegion"}};
  tileset["geometricError"] = std::max(std::sqrt(diagonal), nodes.at(rootId).geometricError * 2);
  tileset["root"] = root;
  return tileset.dump(1) + "\n";
}

}  // namespace city
