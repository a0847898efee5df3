// Tile encoding for streaming viewers: named meshes to the bytes of a binary
// glTF (.glb), by default quantized (KHR_mesh_quantization) and compressed
// with meshoptimizer (EXT_meshopt_compression). Pure encoding: the bytes are
// returned, and the "ExportTile" command (tile_commands.cpp) writes them.
//
// Same items and options, same bytes: every order is fixed by the input,
// and the JSON is written with sorted keys.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "export_item.h"

namespace host {

struct TileOptions {
  // Positions as 16-bit integers on a grid over each node's box, normals as
  // 8-bit integers, every buffer view compressed. Off: 32-bit floats.
  bool compress = true;
  // One node and one mesh for every item, one primitive per material name.
  bool merge = false;
  std::string mergedName = "tile";  // the merged node's and mesh's name
};

// Reads the options text: comma-separated words, blanks and case ignored.
// "" is the default; "plain" turns compression off; "merge" merges. False
// with `error` naming the unknown word.
bool ParseTileOptions(const std::string& text, TileOptions& options, std::string& error);

struct TileStats {
  std::uint64_t vertices = 0, triangles = 0, bytes = 0;
  // Bounds of the written positions in scene units, as a viewer decodes
  // them (after dequantization).
  double min[3] = {0, 0, 0}, max[3] = {0, 0, 0};
};

// Encodes `items` (each with its global transform applied: positions are in
// scene coordinates, y up) into the bytes of a .glb. One node per item,
// named after it, unless `options.merge`. Polygons are fan-triangulated;
// corners with equal position and normal become one vertex. Texture
// coordinates are not written (tiles carry no textures). Items without
// triangles get a node without a mesh.
// False with `reason` when ExportProblem objects to an item, when nothing
// has a triangle, or when the file would pass 4 GiB.
bool EncodeTile(const std::vector<ExportItem>& items, const TileOptions& options, std::string& glb,
                TileStats& stats, std::string& reason);

// {"vertices":N,"triangles":N,"bytes":N,"min":[x,y,z],"max":[x,y,z]}
std::string TileStatsJson(const TileStats& stats);

}  // namespace host
