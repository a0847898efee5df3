// Bounds, baking, translation and the incremental merge with its weld.
#include "mesh_ops.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>

#include "weld_index.h"

namespace host {

// ---- WeldIndex -------------------------------------------------------------

namespace {

bool SamePosition(Vec3 a, Vec3 b) { return a.x == b.x && a.y == b.y && a.z == b.z; }

// Cell coordinates are clamped well inside int64 so huge or non-finite
// coordinates can never overflow; they only share far-away cells.
constexpr double kCellLimit = 4.0e18;

}  // namespace

std::size_t WeldIndex::CellHash::operator()(const Cell& c) const {
  std::uint64_t h = static_cast<std::uint64_t>(c.x) * 0x9E3779B97F4A7C15ull;
  h ^= static_cast<std::uint64_t>(c.y) * 0xC2B2AE3D27D4EB4Full + (h << 6) + (h >> 2);
  h ^= static_cast<std::uint64_t>(c.z) * 0x165667B19E3779F9ull + (h << 6) + (h >> 2);
  return static_cast<std::size_t>(h ^ (h >> 29));
}

std::int64_t WeldIndex::CellCoord(double v) const {
  const double s = std::floor(v / cellSize_);
  if (!(s > -kCellLimit)) return static_cast<std::int64_t>(-kCellLimit);  // also NaN
  if (s > kCellLimit) return static_cast<std::int64_t>(kCellLimit);
  return static_cast<std::int64_t>(s);
}

WeldIndex::Cell WeldIndex::CellOf(Vec3 p) const {
  return {CellCoord(p.x), CellCoord(p.y), CellCoord(p.z)};
}

bool WeldIndex::InStepWith(const std::vector<Vec3>& positions) const {
  if (Count() > positions.size()) return false;
  return Count() == 0 || SamePosition(positions[Count() - 1], last_);
}

void WeldIndex::Extend(const std::vector<Vec3>& positions, std::size_t end) {
  assert(end <= positions.size());
  next_.reserve(std::max(end, next_.size()));
  for (std::size_t i = Count(); i < end; ++i) {
    const auto index = static_cast<std::uint32_t>(i);
    auto [it, inserted] = head_.try_emplace(CellOf(positions[i]), index);
    next_.push_back(inserted ? kNone : it->second);
    it->second = index;
    last_ = positions[i];
  }
}

bool WeldIndex::Truncate(const std::vector<Vec3>& positions, std::size_t end) {
  if (Count() > positions.size()) return false;
  // Newest first: each removed index must be the head of its cell's chain.
  while (Count() > end) {
    const std::size_t i = Count() - 1;
    auto it = head_.find(CellOf(positions[i]));
    if (it == head_.end() || it->second != i) return false;
    if (next_[i] == kNone) {
      head_.erase(it);
    } else {
      it->second = next_[i];
    }
    next_.pop_back();
  }
  if (Count() > 0) last_ = positions[Count() - 1];
  return true;
}

std::uint32_t WeldIndex::FindLowest(const std::vector<Vec3>& positions, Vec3 p,
                                    double radius) const {
  assert(radius <= cellSize_);
  if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) return kNone;
  // A point closer than one cell lies in the neighbouring cells; the small
  // margin covers rounding of the cell division at cell borders.
  auto range = [&](double v, std::int64_t& lo, std::int64_t& hi) {
    const double margin = radius * 1e-6 + std::fabs(v) * 1e-12;
    lo = CellCoord(v - radius - margin);
    hi = CellCoord(v + radius + margin);
  };
  std::int64_t x0, x1, y0, y1, z0, z1;
  range(p.x, x0, x1);
  range(p.y, y0, y1);
  range(p.z, z0, z1);
  const double r2 = radius * radius;
  std::uint32_t best = kNone;
  for (std::int64_t x = x0; x <= x1; ++x) {
    for (std::int64_t y = y0; y <= y1; ++y) {
      for (std::int64_t z = z0; z <= z1; ++z) {
        auto it = head_.find(Cell{x, y, z});
        if (it == head_.end()) continue;
        for (std::uint32_t i = it->second; i != kNone; i = next_[i]) {
          if (i >= best) continue;
          const Vec3 q = positions[i];
          const double dx = double(q.x) - p.x, dy = double(q.y) - p.y, dz = double(q.z) - p.z;
          if (dx * dx + dy * dy + dz * dz < r2) best = i;
        }
      }
    }
  }
  return best;
}

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
  if (len == 0.0) return {0.0f, 1.0f, 0.0f};
  return {float(nx / len), float(ny / len), float(nz / len)};
}

Vec3 FaceNormalOf(const Mesh& mesh, std::size_t face) {
  const std::uint32_t begin = mesh.faceStart[face];
  return FlatNormal(mesh.faceStart[face + 1] - begin,
                    [&](std::size_t i) { return mesh.positions[mesh.cornerVertex[begin + i]]; });
}

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
std::vector<std::uint32_t> MapMaterials(Mesh& merged, const Mesh& other) {
  std::vector<std::uint32_t> map(other.materials.size());
  for (std::size_t m = 0; m < other.materials.size(); ++m) {
    const std::string& name = other.materials[m].name;
    auto it = std::find_if(merged.materials.begin(), merged.materials.end(),
                           [&](const Material& x) { return x.name == name; });
    if (it == merged.materials.end()) {
      merged.materials.push_back(other.materials[m]);
      it = merged.materials.end() - 1;
    }
    map[m] = static_cast<std::uint32_t>(it - merged.materials.begin());
  }
  return map;
}

// Gives the index a mesh's weld index for `tolerance` that covers exactly its
// first `count` positions. Shared indices (copied meshes) are copied first.
WeldIndex& PrepareIndex(Mesh& mesh, std::size_t count, double tolerance) {
  auto& index = mesh.weldIndex;
  if (index && index.use_count() > 1) index = std::make_shared<WeldIndex>(*index);
  if (!index || index->CellSize() != tolerance || !index->InStepWith(mesh.positions)) {
    index = std::make_shared<WeldIndex>(tolerance);
  }
  if (index->Count() > count && !index->Truncate(mesh.positions, count)) {
    index = std::make_shared<WeldIndex>(tolerance);
  }
  index->Extend(mesh.positions, count);
  return *index;
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
  out.weldIndex.reset();
  for (Vec3& p : out.positions) p = xf.ApplyPoint(p);
  for (Vec3& n : out.cornerNormal) n = xf.ApplyNormal(n);
  if (Mirrors(xf)) ReverseWinding(out);
  return out;
}

void TranslateMesh(Mesh& mesh, Vec3 offset) {
  for (Vec3& p : mesh.positions) {
    p = {p.x + offset.x, p.y + offset.y, p.z + offset.z};
  }
  if (!mesh.weldIndex) return;
  // Every position moved, so its cell did too: re-hash at the cost of the
  // move itself.
  auto moved = std::make_shared<WeldIndex>(mesh.weldIndex->CellSize());
  moved->Extend(mesh.positions, std::min(mesh.weldIndex->Count(), mesh.positions.size()));
  mesh.weldIndex = std::move(moved);
}

MeshPrefix PrefixOf(const Mesh& mesh) {
  MeshPrefix p;
  p.vertices = mesh.VertexCount();
  p.corners = mesh.CornerCount();
  p.faces = mesh.FaceCount();
  p.materials = mesh.materials.size();
  p.hadNormals = !mesh.cornerNormal.empty();
  p.hadUVs = !mesh.cornerUV.empty();
  return p;
}

Mesh CopyPrefix(const Mesh& mesh, const MeshPrefix& prefix) {
  assert(prefix.vertices <= mesh.VertexCount() && prefix.corners <= mesh.CornerCount() &&
         prefix.faces <= mesh.FaceCount() && prefix.materials <= mesh.materials.size());
  Mesh out;
  out.positions.assign(mesh.positions.begin(), mesh.positions.begin() + prefix.vertices);
  out.faceStart.assign(mesh.faceStart.begin(), mesh.faceStart.begin() + prefix.faces + 1);
  out.cornerVertex.assign(mesh.cornerVertex.begin(), mesh.cornerVertex.begin() + prefix.corners);
  if (prefix.hadNormals && mesh.cornerNormal.size() >= prefix.corners) {
    out.cornerNormal.assign(mesh.cornerNormal.begin(), mesh.cornerNormal.begin() + prefix.corners);
  }
  if (prefix.hadUVs && mesh.cornerUV.size() >= prefix.corners) {
    out.cornerUV.assign(mesh.cornerUV.begin(), mesh.cornerUV.begin() + prefix.corners);
  }
  out.faceMaterial.assign(mesh.faceMaterial.begin(), mesh.faceMaterial.begin() + prefix.faces);
  out.materials.assign(mesh.materials.begin(), mesh.materials.begin() + prefix.materials);
  return out;
}

void AppendMesh(Mesh& merged, const Mesh& other, const Transform& otherXf, MergeRecord& record) {
  record = MergeRecord{};
  record.base = PrefixOf(merged);
  const std::size_t baseVertices = merged.VertexCount();
  const bool identity = otherXf.IsIdentity();
  const bool mirror = Mirrors(otherXf);

  std::vector<std::uint32_t> materialMap = MapMaterials(merged, other);
  if (other.FaceCount() > 0 && materialMap.empty()) {
    Mesh fallback;
    fallback.materials.emplace_back();
    fallback.materials.back().name = "default";
    materialMap = MapMaterials(merged, fallback);
  }

  record.appendedPositions.reserve(other.VertexCount());
  merged.positions.reserve(baseVertices + other.VertexCount());
  for (const Vec3& p : other.positions) {
    const Vec3 w = identity ? p : otherXf.ApplyPoint(p);
    record.appendedPositions.push_back(w);
    merged.positions.push_back(w);
  }

  const bool hasCorners = merged.CornerCount() > 0 || other.CornerCount() > 0;
  const bool normals = hasCorners && (!merged.cornerNormal.empty() || !other.cornerNormal.empty());
  const bool uvs = hasCorners && (!merged.cornerUV.empty() || !other.cornerUV.empty());
  // The rare O(merged) case: the base had no normals/UVs but the part has.
  if (normals && merged.cornerNormal.size() != merged.CornerCount()) FillFlatNormals(merged);
  if (uvs && merged.cornerUV.size() != merged.CornerCount()) {
    merged.cornerUV.resize(merged.CornerCount(), Vec2{});
  }
  const bool otherNormals = other.cornerNormal.size() == other.CornerCount();
  const bool otherUVs = other.cornerUV.size() == other.CornerCount();

  const std::size_t corners = merged.CornerCount() + other.CornerCount();
  merged.cornerVertex.reserve(corners);
  record.appendedCornerVertex.reserve(other.CornerCount());
  if (normals) merged.cornerNormal.reserve(corners);
  if (uvs) merged.cornerUV.reserve(corners);
  merged.faceStart.reserve(merged.faceStart.size() + other.FaceCount());
  merged.faceMaterial.reserve(merged.faceMaterial.size() + other.FaceCount());

  for (std::size_t f = 0; f < other.FaceCount(); ++f) {
    const std::uint32_t b = other.faceStart[f], e = other.faceStart[f + 1];
    const std::size_t n = e - b;
    // Mirroring transforms reverse the corner order so the face keeps
    // facing out.
    auto cornerAt = [&](std::size_t i) { return mirror ? e - 1 - i : b + i; };
    const std::size_t faceBegin = merged.CornerCount();
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint32_t v = other.cornerVertex[cornerAt(i)];
      assert(v < other.VertexCount());
      merged.cornerVertex.push_back(static_cast<std::uint32_t>(baseVertices + v));
      record.appendedCornerVertex.push_back(v);
    }
    if (normals) {
      if (otherNormals) {
        for (std::size_t i = 0; i < n; ++i) {
          const Vec3 nv = other.cornerNormal[cornerAt(i)];
          merged.cornerNormal.push_back(identity ? nv : otherXf.ApplyNormal(nv));
        }
      } else {
        const Vec3 flat = FlatNormal(n, [&](std::size_t i) {
          return merged.positions[merged.cornerVertex[faceBegin + i]];
        });
        merged.cornerNormal.insert(merged.cornerNormal.end(), n, flat);
      }
    }
    if (uvs) {
      for (std::size_t i = 0; i < n; ++i) {
        merged.cornerUV.push_back(otherUVs ? other.cornerUV[cornerAt(i)] : Vec2{});
      }
    }
    merged.faceStart.push_back(static_cast<std::uint32_t>(merged.CornerCount()));
    const std::uint32_t m = f < other.faceMaterial.size() ? other.faceMaterial[f] : 0;
    merged.faceMaterial.push_back(materialMap[m < materialMap.size() ? m : 0]);
  }
}

void WeldAppended(Mesh& merged, MergeRecord& record, double tolerance) {
  const std::size_t base = record.base.vertices;
  const std::size_t appendedCorners = record.appendedCornerVertex.size();
  assert(merged.VertexCount() >= base && merged.CornerCount() == record.base.corners + appendedCorners);
  if (merged.VertexCount() < base || merged.CornerCount() != record.base.corners + appendedCorners) {
    return;
  }
  const bool weld = tolerance > 0.0 && std::isfinite(tolerance);
  WeldIndex* index = nullptr;
  if (weld) {
    index = &PrepareIndex(merged, base, tolerance);
  } else if (merged.weldIndex && merged.weldIndex.use_count() == 1) {
    // Keep the index over the base usable for a later weld.
    if (!merged.weldIndex->Truncate(merged.positions, std::min(base, merged.weldIndex->Count()))) {
      merged.weldIndex.reset();
    }
  } else {
    merged.weldIndex.reset();
  }

  // Compute the mapping appended position -> merged index, then apply it.
  merged.positions.resize(base);
  std::vector<std::uint32_t> map(record.appendedPositions.size());
  for (std::size_t i = 0; i < map.size(); ++i) {
    const Vec3 p = record.appendedPositions[i];
    if (index) {
      const std::uint32_t hit = index->FindLowest(merged.positions, p, tolerance);
      if (hit != WeldIndex::kNone) {
        map[i] = hit;
        continue;
      }
    }
    map[i] = static_cast<std::uint32_t>(merged.positions.size());
    merged.positions.push_back(p);
    if (index) index->Extend(merged.positions, merged.positions.size());
  }
  for (std::size_t k = 0; k < appendedCorners; ++k) {
    merged.cornerVertex[record.base.corners + k] = map[record.appendedCornerVertex[k]];
  }
  record.weldedWith = weld ? tolerance : -1.0;
}

}  // namespace host
