// Geometry operations of the host: bounds, baking a transform, merging with
// an incremental weld.
//
// Merging costs in proportion to the smaller input: the merged mesh takes
// over the bigger input's buffers and keeps a weld index across merges, so
// appending n units one by one costs O(total), not O(total^2).
#pragma once

#include <vector>

#include "mesh.h"

namespace host {

struct Bounds {
  Vec3 min, max;
  bool empty = true;
};
Bounds ComputeBounds(const Mesh& mesh);
Bounds ComputeBounds(const Mesh& mesh, const Transform& xf);

// The flat normal of polygon `face` by Newell's method, which holds for
// non-planar and concave polygons; +Y for a degenerate polygon.
Vec3 FaceNormalOf(const Mesh& mesh, std::size_t face);

// The mesh with `xf` applied to positions and normals (mirroring transforms
// flip the polygon winding so faces keep facing out).
Mesh BakeTransform(const Mesh& mesh, const Transform& xf);

// Moves every position by `offset` (keeps the weld index usable).
void TranslateMesh(Mesh& mesh, Vec3 offset);

// Leading part of a mesh: what an input looked like before geometry was
// appended to its buffers.
struct MeshPrefix {
  std::size_t vertices = 0, corners = 0, faces = 0, materials = 0;
  bool hadNormals = false, hadUVs = false;
};
MeshPrefix PrefixOf(const Mesh& mesh);
Mesh CopyPrefix(const Mesh& mesh, const MeshPrefix& prefix);

// What a live merge must remember to (re)weld its appended part.
struct MergeRecord {
  MeshPrefix base;                        // the taken-over input
  std::vector<Vec3> appendedPositions;    // appended part, unwelded, world space
  std::vector<std::uint32_t> appendedCornerVertex;  // into appendedPositions
  double weldedWith = -1.0;               // tolerance of the last weld, <0: none
};

// Appends `other` (transformed by `otherXf`) to `merged`, whose positions are
// already in world space. Materials are matched by name; per-corner normals
// and UVs are kept (filled in when only one side has them). No welding yet.
// Cost: O(other) plus, rarely, O(merged) when normals/UVs must be filled in.
void AppendMesh(Mesh& merged, const Mesh& other, const Transform& otherXf, MergeRecord& record);

// Welds the appended part: each appended position closer than `tolerance`
// (strictly) to an earlier position takes the lowest such index. Positions of
// the base part are never moved or merged with each other. Calling it again
// with another tolerance redoes the weld from the unwelded record.
// tolerance <= 0 welds nothing.
void WeldAppended(Mesh& merged, MergeRecord& record, double tolerance);

}  // namespace host
