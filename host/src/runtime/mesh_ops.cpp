// Bounds, baking, translation and the incremental merge with its weld.
#include "mesh_ops.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>


namespace host {

// ---- helpers ---------------------------------------------------------------

namespace {

bool Mirrors(const Transform& xf) { return xf.scl[0] * xf.scl[1] * xf.scl[2] < 0.0; }

// Newell's method: robust for non-planar and concave polygons.
template <typename PositionOf>
Vec3 FlatNormal(std::size_t cornerCount, PositionOf positionOf) {
  double nx = 0, ny = 0, nz = 0;
  for (std::size_t i = 0; i < cornerCount; ++i) {
    const Vec3 a = positionOf(i), b = positionOf((i + 1) % cornerCount);
    nx += (double(a.y) - b.y) * (double(a.z) + b.z);
    ny += (double(a.z) - b.z) * (double(a.x) + b.x);
    nz += (double(a.x) - b.x) * (double(a.y) + b.y);
  }
  const double len = std::sqrt(nx * nx + ny * ny + nz * nz);
  if (!(len > 0.0) || !std::isfinite(len)) return {0.0f, 1.0f, 0.0f};
  return {float(nx / len), float(ny / len), float(nz / len)};
}

}  // namespace

Vec3 FaceNormalOf(const Mesh& mesh, std::size_t face) {
  const std::uint32_t begin = mesh.faceStart[face];
  return FlatNormal(mesh.faceStart[face + 1] - begin,
                    [&](std::size_t i) { return mesh.positions[mesh.cornerVertex[begin + i]]; });
}

namespace {

void FillFlatNormals(Mesh& mesh) {
  mesh.cornerNormal.resize(mesh.CornerCount());
  for (std::size_t f = 0; f < mesh.FaceCount(); ++f) {
    const Vec3 n = FaceNormalOf(mesh, f);
    std::fill(mesh.cornerNormal.begin() + mesh.faceStart[f],
              mesh.cornerNormal.begin() + mesh.faceStart[f + 1], n);
  }
}

void ReverseWinding(Mesh& mesh) {
  for (std::size_t f = 0; f < mesh.FaceCount(); ++f) {
    const std::uint32_t b = mesh.faceStart[f], e = mesh.faceStart[f + 1];
    std::reverse(mesh.cornerVertex.begin() + b, mesh.cornerVertex.begin() + e);
    if (!mesh.cornerNormal.empty()) {
      std::reverse(mesh.cornerNormal.begin() + b, mesh.cornerNormal.begin() + e);
    }
    if (!mesh.cornerUV.empty()) std::reverse(mesh.cornerUV.begin() + b, mesh.cornerUV.begin() + e);
  }
}

void Include(Bounds& b, Vec3 p) {
  if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) return;
  if (b.empty) {
    b.min = b.max = p;
    b.empty = false;
    return;
  }
  b.min = {std::min(b.min.x, p.x), std::min(b.min.y, p.y), std::min(b.min.z, p.z)};
  b.max = {std::max(b.max.x, p.x), std::max(b.max.y, p.y), std::max(b.max.z, p.z)};
}

// Material of `other` -> material index in `merged`, matching by name.
std::vector<std::uint32_t> MapMaterials(MeshTail& merged, const Mesh& other) {
  std::vector<std::uint32_t> map(other.materials.size());
  for (std::size_t m = 0; m < other.materials.size(); ++m) {
    const std::string& name = other.materials[m].name;
    const std::vector<Material>& have = merged.Read().materials;
    auto it = std::find_if(have.begin(), have.end(), [&](const Material& x) { return x.name == name; });
    map[m] = it == have.end() ? merged.AddMaterial(other.materials[m])
                              : static_cast<std::uint32_t>(it - have.begin());
  }
  return map;
}

// Makes `cache` a weld index for `tolerance` that covers exactly the first
// `count` of `positions`.
WeldIndex& PrepareIndex(WeldCache& cache, const std::vector<Vec3>& positions, std::size_t count,
                        double tolerance) {
  if (!cache || cache->Tolerance() != tolerance || !cache->InStepWith(positions)) {
    cache = std::make_unique<WeldIndex>(tolerance);
  }
  if (cache->Count() > count && !cache->Truncate(positions, count)) cache = std::make_unique<WeldIndex>(tolerance);
  cache->Extend(positions, count);
  return *cache;
}

}  // namespace

// ---- public operations -----------------------------------------------------

Bounds ComputeBounds(const Mesh& mesh) {
  Bounds b;
  for (const Vec3& p : mesh.positions) Include(b, p);
  return b;
}

Bounds ComputeBounds(const Mesh& mesh, const Transform& xf) {
  if (xf.IsIdentity()) return ComputeBounds(mesh);
  Bounds b;
  for (const Vec3& p : mesh.positions) Include(b, xf.ApplyPoint(p));
  return b;
}

Mesh BakeTransform(const Mesh& mesh, const Transform& xf) {
  Mesh out = mesh;
  if (xf.IsIdentity()) return out;
  for (Vec3& p : out.positions) p = xf.ApplyPoint(p);
  for (Vec3& n : out.cornerNormal) n = xf.ApplyNormal(n);
  if (Mirrors(xf)) ReverseWinding(out);
  return out;
}

void TranslateMesh(Mesh& mesh, Vec3 offset, WeldCache* cache) {
  for (Vec3& p : mesh.positions) {
    p = {p.x + offset.x, p.y + offset.y, p.z + offset.z};
  }
  if (!cache || !*cache) return;
  // Every position moved, so its cell did too: re-hash at the cost of the
  // move itself.
  auto moved = std::make_unique<WeldIndex>((*cache)->Tolerance());
  moved->Extend(mesh.positions, std::min((*cache)->Count(), mesh.positions.size()));
  *cache = std::move(moved);
}

MeshPrefix PrefixOf(const Mesh& mesh) {
  MeshPrefix p;
  p.vertices = mesh.VertexCount();
  p.corners = mesh.CornerCount();
  p.faces = mesh.FaceCount();
  p.materials = mesh.materials.size();
  return p;
}

bool operator==(const MeshPrefix& a, const MeshPrefix& b) {
  return a.vertices == b.vertices && a.corners == b.corners && a.faces == b.faces &&
         a.materials == b.materials;
}

Mesh CopyPrefix(const Mesh& mesh, const MeshPrefix& prefix) {
  assert(prefix.vertices <= mesh.VertexCount() && prefix.corners <= mesh.CornerCount() &&
         prefix.faces <= mesh.FaceCount() && prefix.materials <= mesh.materials.size());
  Mesh out;
  out.positions.assign(mesh.positions.begin(), mesh.positions.begin() + prefix.vertices);
  out.faceStart.assign(mesh.faceStart.begin(), mesh.faceStart.begin() + prefix.faces + 1);
  out.cornerVertex.assign(mesh.cornerVertex.begin(), mesh.cornerVertex.begin() + prefix.corners);
  if (!mesh.cornerNormal.empty() && mesh.cornerNormal.size() >= prefix.corners) {
    out.cornerNormal.assign(mesh.cornerNormal.begin(), mesh.cornerNormal.begin() + prefix.corners);
  }
  if (!mesh.cornerUV.empty() && mesh.cornerUV.size() >= prefix.corners) {
    out.cornerUV.assign(mesh.cornerUV.begin(), mesh.cornerUV.begin() + prefix.corners);
  }
  out.faceMaterial.assign(mesh.faceMaterial.begin(), mesh.faceMaterial.begin() + prefix.faces);
  out.materials.assign(mesh.materials.begin(), mesh.materials.begin() + prefix.materials);
  return out;
}

void CheckMergedSize(const MeshPrefix& base, std::size_t addedVertices, std::size_t addedCorners) {
  auto check = [](std::size_t have, std::size_t added, const char* what) {
    if (have > kMaxMeshElements || added > kMaxMeshElements - have) {
      throw std::length_error("the merged mesh would have " + std::to_string(have) + " + " +
                              std::to_string(added) + " " + what + ", more than the " +
                              std::to_string(kMaxMeshElements) + " a mesh can index");
    }
  };
  check(base.vertices, addedVertices, "vertices");
  check(base.corners, addedCorners, "corners");
}

// ---- MeshTail --------------------------------------------------------------

Mesh& MeshTail::Whole() {
  if (claimWhole_) mesh_ = &claimWhole_();
  claimWhole_ = nullptr;
  frozen_ = MeshPrefix{};
  return *mesh_;
}

void MeshTail::RefuseFrozenChange(const char* what) {
  throw std::logic_error(std::string("a merge tried to change ") + what +
                         " that the merge's inputs still read");
}

std::uint32_t MeshTail::AddMaterial(const Material& material) {
  mesh_->materials.push_back(material);
  return static_cast<std::uint32_t>(mesh_->materials.size() - 1);
}

// ---- merge -----------------------------------------------------------------

void AppendMesh(MeshTail& merged, const MeshPrefix& base, const Mesh& other, const Transform& otherXf,
                MergeRecord& record) {
  if (!(PrefixOf(merged.Read()) == base)) {
    throw std::invalid_argument("AppendMesh: the merged mesh does not end where its base does");
  }
  CheckMergedSize(base, other.VertexCount(), other.CornerCount());
  record = MergeRecord{};
  const bool identity = otherXf.IsIdentity();
  const bool mirror = Mirrors(otherXf);
  const bool keepNormals = otherXf.rot[0] == 0 && otherXf.rot[1] == 0 && otherXf.rot[2] == 0 &&
                           otherXf.scl[0] == 1 && otherXf.scl[1] == 1 && otherXf.scl[2] == 1;

  const bool hasCorners = base.corners > 0 || other.CornerCount() > 0;
  const bool normals = hasCorners && (!merged.Read().cornerNormal.empty() || !other.cornerNormal.empty());
  const bool uvs = hasCorners && (!merged.Read().cornerUV.empty() || !other.cornerUV.empty());
  // The rare O(merged) case: the base had no normals/UVs but the part has.
  // That changes the base's corners, so the whole mesh is claimed first.
  if (normals && merged.Read().cornerNormal.size() != base.corners) FillFlatNormals(merged.Whole());
  if (uvs && merged.Read().cornerUV.size() != base.corners) {
    merged.Whole().cornerUV.resize(base.corners, Vec2{});
  }
  const bool otherNormals = other.cornerNormal.size() == other.CornerCount();
  const bool otherUVs = other.cornerUV.size() == other.CornerCount();

  std::vector<std::uint32_t> materialMap = MapMaterials(merged, other);
  if (other.FaceCount() > 0 && materialMap.empty()) {
    Mesh fallback;
    fallback.materials.emplace_back();
    fallback.materials.back().name = "default";
    materialMap = MapMaterials(merged, fallback);
  }

  // The merged buffers are left to grow geometrically: reserving exact
  // sizes here would copy the whole mesh on every merge.
  record.appendedPositions.reserve(other.VertexCount());
  for (const Vec3& p : other.positions) {
    const Vec3 w = identity ? p : otherXf.ApplyPoint(p);
    record.appendedPositions.push_back(w);
    merged.AddPosition(w);
  }

  record.appendedCornerVertex.reserve(other.CornerCount());
  // Fits: CheckMergedSize above.
  const std::uint32_t baseVertices = static_cast<std::uint32_t>(base.vertices);
  const Mesh& out = merged.Read();

  for (std::size_t f = 0; f < other.FaceCount(); ++f) {
    const std::uint32_t b = other.faceStart[f], e = other.faceStart[f + 1];
    const std::size_t n = e - b;
    // Mirroring transforms reverse the corner order so the face keeps
    // facing out.
    auto cornerAt = [&](std::size_t i) { return mirror ? e - 1 - i : b + i; };
    const std::size_t faceBegin = out.CornerCount();
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint32_t v = other.cornerVertex[cornerAt(i)];
      assert(v < other.VertexCount());
      merged.AddCorner(baseVertices + v);
      record.appendedCornerVertex.push_back(v);
    }
    if (normals) {
      if (otherNormals) {
        for (std::size_t i = 0; i < n; ++i) {
          const Vec3 nv = other.cornerNormal[cornerAt(i)];
          merged.AddNormal(keepNormals ? nv : otherXf.ApplyNormal(nv));
        }
      } else {
        const Vec3 flat = FlatNormal(
            n, [&](std::size_t i) { return out.positions[out.cornerVertex[faceBegin + i]]; });
        merged.AddNormals(n, flat);
      }
    }
    if (uvs) {
      for (std::size_t i = 0; i < n; ++i) merged.AddUV(otherUVs ? other.cornerUV[cornerAt(i)] : Vec2{});
    }
    const std::uint32_t m = f < other.faceMaterial.size() ? other.faceMaterial[f] : 0;
    merged.EndFace(materialMap[m < materialMap.size() ? m : 0]);
  }
}

void WeldAppended(MeshTail& merged, const MeshPrefix& base, MergeRecord& record, WeldCache& cache,
                  double tolerance) {
  const std::size_t baseVertices = base.vertices;
  const std::size_t appendedCorners = record.appendedCornerVertex.size();
  const Mesh& out = merged.Read();
  assert(out.VertexCount() >= baseVertices && out.CornerCount() == base.corners + appendedCorners);
  if (out.VertexCount() < baseVertices || out.CornerCount() != base.corners + appendedCorners) return;
  const bool weld = tolerance > 0.0 && std::isfinite(tolerance);
  WeldIndex* index = nullptr;
  if (weld) {
    index = &PrepareIndex(cache, out.positions, baseVertices, tolerance);
  } else if (cache && !cache->Truncate(out.positions, std::min(baseVertices, cache->Count()))) {
    // Kept over the base, the index stays usable for a later weld.
    cache.reset();
  }

  // Compute the mapping appended position -> merged index, then apply it.
  merged.CutPositions(baseVertices);
  const std::vector<Vec3>& positions = out.positions;
  const std::vector<Vec3>& appended = record.appendedPositions;
  std::vector<WeldIndex::Neighbourhood> near;
  if (index) {
    // Fixed bucket layout for the whole part, so the neighbourhoods stay
    // valid; their lookups are then fetched together.
    index->Reserve(positions, baseVertices + appended.size());
    near.reserve(appended.size());
    for (const Vec3& p : appended) near.push_back(index->Near(p));
    index->Prefetch(positions, near);
  }
  std::vector<std::uint32_t> map(appended.size());
  for (std::size_t i = 0; i < map.size(); ++i) {
    const Vec3 p = appended[i];
    if (index) {
      const std::uint32_t hit = index->FindLowest(positions, p, near[i]);
      if (hit != WeldIndex::kNone) {
        map[i] = hit;
        continue;
      }
    }
    // Fits: AppendMesh checked base + appended.
    map[i] = static_cast<std::uint32_t>(positions.size());
    merged.AddPosition(p);
    if (index) index->Extend(positions, positions.size());
  }
  for (std::size_t k = 0; k < appendedCorners; ++k) {
    merged.SetCornerVertex(base.corners + k, map[record.appendedCornerVertex[k]]);
  }
  record.weldedWith = weld ? tolerance : -1.0;
}

}  // namespace host
