// Geometry operations of the host: bounds, baking a transform, merging with
// an incremental weld.
//
// Plain functions over plain data: every input is a parameter and the
// caller owns every output, the weld index included. Appending n units one
// by one costs O(total), not O(total^2), when the caller keeps the merged
// mesh and its weld index from one merge to the next (geometry.h says who
// keeps them in the scene).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "mesh.h"
#include "weld_index.h"

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

// Moves every position by `offset`; a weld index over the mesh, when given,
// is re-hashed so that it stays usable.
void TranslateMesh(Mesh& mesh, Vec3 offset, WeldCache* cache = nullptr);

// Leading part of a mesh: what an input looked like before geometry was
// appended to its buffers. Per-corner normals and UVs belong to the part
// when the mesh has them for its corners.
struct MeshPrefix {
  std::size_t vertices = 0, corners = 0, faces = 0, materials = 0;
};
MeshPrefix PrefixOf(const Mesh& mesh);
Mesh CopyPrefix(const Mesh& mesh, const MeshPrefix& prefix);
bool operator==(const MeshPrefix& a, const MeshPrefix& b);

// Largest vertex or corner count a mesh can hold: indices are 32-bit.
constexpr std::size_t kMaxMeshElements = 0xffffffffu;
// Throws std::length_error, naming the count, when appending `added`
// vertices and corners to `base` would give more than kMaxMeshElements of
// either. Checked before anything is appended.
void CheckMergedSize(const MeshPrefix& base, std::size_t addedVertices, std::size_t addedCorners);

// Write access to the tail of a mesh: everything past Frozen(), the part
// other holders still read (geometry.h). The whole mesh can be read; the
// frozen part can only be changed through Whole(), which first makes the
// mesh private. A handle is used at once and not kept: it lives no longer
// than the mesh or geometry it came from.
class MeshTail {
 public:
  // Over a mesh that only the caller holds: nothing is frozen.
  explicit MeshTail(Mesh& mesh) : mesh_(&mesh) {}
  // `claimWhole` gives a private mesh with the same contents.
  MeshTail(Mesh& mesh, const MeshPrefix& frozen, std::function<Mesh&()> claimWhole)
      : mesh_(&mesh), frozen_(frozen), claimWhole_(std::move(claimWhole)) {}

  const Mesh& Read() const { return *mesh_; }
  const MeshPrefix& Frozen() const { return frozen_; }
  // The whole mesh to change as a whole; nothing is frozen afterwards. May
  // copy the mesh, so earlier references from Read() are stale.
  Mesh& Whole();

  // Called once per element, so defined here where they inline.
  void AddPosition(Vec3 p) { mesh_->positions.push_back(p); }
  // Keeps the first `count` positions; `count` must not cut the frozen part.
  void CutPositions(std::size_t count) {
    if (count < frozen_.vertices) RefuseFrozenChange("positions");
    if (count < mesh_->positions.size()) mesh_->positions.resize(count);
  }
  void AddCorner(std::uint32_t vertex) { mesh_->cornerVertex.push_back(vertex); }
  // Points an appended corner (not a frozen one) at `vertex`.
  void SetCornerVertex(std::size_t corner, std::uint32_t vertex) {
    if (corner < frozen_.corners) RefuseFrozenChange("corners");
    mesh_->cornerVertex[corner] = vertex;
  }
  // Per-corner normals and UVs; the frozen corners must already have theirs.
  void AddNormal(Vec3 n) {
    if (mesh_->cornerNormal.size() < frozen_.corners) RefuseFrozenChange("normals");
    mesh_->cornerNormal.push_back(n);
  }
  void AddNormals(std::size_t count, Vec3 n) {
    if (mesh_->cornerNormal.size() < frozen_.corners) RefuseFrozenChange("normals");
    mesh_->cornerNormal.insert(mesh_->cornerNormal.end(), count, n);
  }
  void AddUV(Vec2 uv) {
    if (mesh_->cornerUV.size() < frozen_.corners) RefuseFrozenChange("UVs");
    mesh_->cornerUV.push_back(uv);
  }
  // Closes a face over the corners added since the last one.
  void EndFace(std::uint32_t material) {
    mesh_->faceStart.push_back(static_cast<std::uint32_t>(mesh_->CornerCount()));
    mesh_->faceMaterial.push_back(material);
  }
  // Appends a material; returns its index.
  std::uint32_t AddMaterial(const Material& material);

 private:
  [[noreturn]] static void RefuseFrozenChange(const char* what);

  Mesh* mesh_;
  MeshPrefix frozen_;
  std::function<Mesh&()> claimWhole_;
};

// What a live merge must remember to (re)weld its appended part.
struct MergeRecord {
  std::vector<Vec3> appendedPositions;              // appended part, unwelded, world space
  std::vector<std::uint32_t> appendedCornerVertex;  // into appendedPositions
  double weldedWith = -1.0;                         // tolerance of the last weld, <0: none
};

// Appends `other` (transformed by `otherXf`) to `merged`, whose positions are
// already in world space and which must read exactly `base` now (else
// std::invalid_argument). Materials are matched by name; per-corner normals
// and UVs are kept (filled in when only one side has them). No welding yet.
// Throws std::length_error, before changing anything, when the result would
// be too big to index (CheckMergedSize). Fills `record` anew.
// Cost: O(other) plus, rarely, O(merged) when normals/UVs must be filled in
// (which claims the whole mesh).
void AppendMesh(MeshTail& merged, const MeshPrefix& base, const Mesh& other, const Transform& otherXf,
                MergeRecord& record);

// Welds what AppendMesh appended past `base`: each appended position closer
// than `tolerance` (strictly) to an earlier position takes the lowest such
// index. Positions of the base part are never moved or merged with each
// other. Calling it again with another tolerance redoes the weld from the
// unwelded record. tolerance <= 0 welds nothing. `cache` is an index over
// the merged positions kept from earlier welds (rebuilt when it does not
// fit); it is left covering the merged positions for the next merge.
void WeldAppended(MeshTail& merged, const MeshPrefix& base, MergeRecord& record, WeldCache& cache,
                  double tolerance);

}  // namespace host
