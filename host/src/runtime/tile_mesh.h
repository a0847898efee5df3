// Mesh building blocks of tiled output: boxes from a text list (CityGML
// LOD1-style blocks) and simplification that keeps a tile's border.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "mesh.h"

namespace host {

struct Block {
  double lo[3], hi[3];  // min and max corners, scene units
  double colour[3];     // 0..1
};

// At most this many boxes in one CreateBlocks call (8 positions, 24
// corners, 6 faces each: about 500 bytes a box).
constexpr std::size_t kMaxBlocks = 1000000;

// Reads "x0 y0 z0 x1 y1 z1 r g b;..." (entries separated by ';', numbers by
// blanks; an empty entry, as after a final ';', is skipped). False with
// `error` naming the entry (1-based, counting every ';'-separated part) and
// what is wrong: not nine numbers, a number that is not finite or beyond
// 1e30, a min corner above the max corner, a colour outside 0..1. No entry
// at all is an error too.
bool ParseBlocks(const std::string& text, std::vector<Block>& blocks, std::string& error);

// "block_8c3826": the colour's 8-bit components (rounded) in hex.
std::string BlockMaterialName(const double colour[3]);

// One closed box per block: 8 positions, 6 quads wound counter-clockwise
// seen from outside, flat per-corner normals, one material per distinct
// material name in order of first use (its colour the first block's).
Mesh BuildBlocks(const std::vector<Block>& blocks);

struct SimplifyReport {
  std::size_t trianglesBefore = 0, trianglesAfter = 0;
  double error = 0;  // achieved, in scene units
};

// Simplifies `in` into `out` (triangles only) with meshoptimizer, aiming at
// ratio * the triangle count and a deviation of at most maxError times the
// mesh's extent. Kept in place: every vertex on the X or Z side of the
// mesh's bounding box (so neighbouring terrain tiles still meet), every
// open edge and every edge between two materials (so no crack opens).
// Per-corner normals and texture coordinates are kept with their vertices.
// False with `error` for non-finite positions. Requires a mesh that
// ExportProblem accepts.
bool SimplifyMeshKeepingBorders(const Mesh& in, double ratio, double maxError, Mesh& out,
                                SimplifyReport& report, std::string& error);

}  // namespace host
