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
constexpr double kCellsPerTolerance = 0.25;
constexpr std::size_t kMinBuckets = 1024;

// Free functions rather than members so they inline despite -fPIC.
inline std::int64_t CellOfCoord(double v, double cellsPerUnit) {
  const double s = std::floor(v * cellsPerUnit);
  if (!(s > -kCellLimit)) return static_cast<std::int64_t>(-kCellLimit);  // also NaN
  if (s > kCellLimit) return static_cast<std::int64_t>(kCellLimit);
  return static_cast<std::int64_t>(s);
}

inline std::uint32_t BucketOfCell(std::int64_t x, std::int64_t y, std::int64_t z, std::size_t mask) {
  std::uint64_t h = static_cast<std::uint64_t>(x) * 0x9E3779B97F4A7C15ull ^
                    static_cast<std::uint64_t>(y) * 0xC2B2AE3D27D4EB4Full ^
                    static_cast<std::uint64_t>(z) * 0x165667B19E3779F9ull;
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9ull;
  h ^= h >> 32;
  return static_cast<std::uint32_t>(h & mask);
}

}  // namespace

WeldIndex::WeldIndex(double tolerance)
    : tolerance_(tolerance),
      cellsPerUnit_(kCellsPerTolerance / tolerance),
      head_(kMinBuckets, kNone) {}

std::uint32_t WeldIndex::BucketOf(Vec3 p) const {
  return BucketOfCell(CellOfCoord(p.x, cellsPerUnit_), CellOfCoord(p.y, cellsPerUnit_),
                      CellOfCoord(p.z, cellsPerUnit_), head_.size() - 1);
}

void WeldIndex::Link(std::uint32_t index, std::uint32_t bucket) {
  next_[index] = head_[bucket];
  head_[bucket] = index;
}

// New bucket layout; re-chains every position oldest first so chains stay
// newest first.
void WeldIndex::Rechain(const std::vector<Vec3>& positions, std::size_t buckets) {
  head_.assign(buckets, kNone);
  // In batches whose buckets are fetched together: a big index is mostly
  // cache misses otherwise.
  constexpr std::size_t kBatch = 64;
  std::uint32_t batch[kBatch];
  for (std::size_t start = 0; start < next_.size(); start += kBatch) {
    const std::size_t n = std::min(kBatch, next_.size() - start);
    for (std::size_t k = 0; k < n; ++k) {
      batch[k] = BucketOf(positions[start + k]);
#if defined(__GNUC__)
      __builtin_prefetch(&head_[batch[k]], 1);
#endif
    }
    for (std::size_t k = 0; k < n; ++k) Link(static_cast<std::uint32_t>(start + k), batch[k]);
  }
}

bool WeldIndex::InStepWith(const std::vector<Vec3>& positions) const {
  if (Count() > positions.size()) return false;
  return Count() == 0 || SamePosition(positions[Count() - 1], last_);
}

void WeldIndex::Reserve(const std::vector<Vec3>& positions, std::size_t count) {
  // At most one position per two buckets keeps chains short.
  std::size_t buckets = head_.size();
  while (count * 2 > buckets) buckets *= 2;
  if (buckets != head_.size()) Rechain(positions, buckets);
}

void WeldIndex::Extend(const std::vector<Vec3>& positions, std::size_t end) {
  assert(end <= positions.size());
  if (end <= Count()) return;
  Reserve(positions, end);
  for (std::size_t i = Count(); i < end; ++i) {
    next_.push_back(kNone);
    Link(static_cast<std::uint32_t>(i), BucketOf(positions[i]));
    last_ = positions[i];
  }
}

bool WeldIndex::Truncate(const std::vector<Vec3>& positions, std::size_t end) {
  if (Count() > positions.size()) return false;
  // Newest first: each removed index must head its bucket's chain.
  while (Count() > end) {
    const std::size_t i = Count() - 1;
    const std::uint32_t bucket = BucketOf(positions[i]);
    if (head_[bucket] != i) return false;
    head_[bucket] = next_[i];
    next_.pop_back();
  }
  if (Count() > 0) last_ = positions[Count() - 1];
  return true;
}

WeldIndex::Neighbourhood WeldIndex::Near(Vec3 p) const {
  Neighbourhood near;
  if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) return near;
  // The cells the ball around p reaches; the small margin covers rounding at
  // cell borders. Cells are wider than the ball, so 1 or 2 per axis.
  auto range = [&](double v, std::int64_t& lo, std::int64_t& hi) {
    const double margin = tolerance_ * 1e-6 + std::fabs(v) * 1e-12;
    lo = CellOfCoord(v - tolerance_ - margin, cellsPerUnit_);
    hi = std::min(CellOfCoord(v + tolerance_ + margin, cellsPerUnit_), lo + 1);
  };
  std::int64_t x0, x1, y0, y1, z0, z1;
  range(p.x, x0, x1);
  range(p.y, y0, y1);
  range(p.z, z0, z1);
  const std::size_t mask = head_.size() - 1;
  for (std::int64_t x = x0; x <= x1; ++x) {
    for (std::int64_t y = y0; y <= y1; ++y) {
      for (std::int64_t z = z0; z <= z1; ++z) {
        const std::uint32_t bucket = BucketOfCell(x, y, z, mask);
        // Cells may share a bucket: walk each once.
        if (std::find(near.bucket, near.bucket + near.count, bucket) == near.bucket + near.count) {
          near.bucket[near.count++] = bucket;
        }
      }
    }
  }
  return near;
}

void WeldIndex::Prefetch(const std::vector<Vec3>& positions,
                         const std::vector<Neighbourhood>& near) const {
#if defined(__GNUC__)
  for (const Neighbourhood& n : near) {
    for (int k = 0; k < n.count; ++k) __builtin_prefetch(&head_[n.bucket[k]]);
  }
  for (const Neighbourhood& n : near) {
    for (int k = 0; k < n.count; ++k) {
      const std::uint32_t i = head_[n.bucket[k]];
      if (i == kNone || i >= positions.size()) continue;
      __builtin_prefetch(&positions[i]);
      __builtin_prefetch(&next_[i]);
    }
  }
#else
  (void)positions;
  (void)near;
#endif
}

std::uint32_t WeldIndex::FindLowest(const std::vector<Vec3>& positions, Vec3 p,
                                    const Neighbourhood& near) const {
  const double r2 = tolerance_ * tolerance_;
  std::uint32_t best = kNone;
  for (int k = 0; k < near.count; ++k) {
    for (std::uint32_t i = head_[near.bucket[k]]; i != kNone; i = next_[i]) {
      if (i >= best) continue;
      const Vec3 q = positions[i];
      const double dx = double(q.x) - p.x, dy = double(q.y) - p.y, dz = double(q.z) - p.z;
      if (dx * dx + dy * dy + dz * dz < r2) best = i;
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
  if (!index || index->Tolerance() != tolerance || !index->InStepWith(mesh.positions)) {
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
  auto moved = std::make_shared<WeldIndex>(mesh.weldIndex->Tolerance());
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
  const bool keepNormals = otherXf.rot[0] == 0 && otherXf.rot[1] == 0 && otherXf.rot[2] == 0 &&
                           otherXf.scl[0] == 1 && otherXf.scl[1] == 1 && otherXf.scl[2] == 1;

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

  record.appendedCornerVertex.reserve(other.CornerCount());

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
          merged.cornerNormal.push_back(keepNormals ? nv : otherXf.ApplyNormal(nv));
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
  const std::vector<Vec3>& appended = record.appendedPositions;
  std::vector<WeldIndex::Neighbourhood> near;
  if (index) {
    // Fixed bucket layout for the whole part, so the neighbourhoods stay
    // valid; their lookups are then fetched together.
    index->Reserve(merged.positions, base + appended.size());
    near.reserve(appended.size());
    for (const Vec3& p : appended) near.push_back(index->Near(p));
    index->Prefetch(merged.positions, near);
  }
  std::vector<std::uint32_t> map(appended.size());
  for (std::size_t i = 0; i < map.size(); ++i) {
    const Vec3 p = appended[i];
    if (index) {
      const std::uint32_t hit = index->FindLowest(merged.positions, p, near[i]);
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
