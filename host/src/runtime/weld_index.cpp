// WeldIndex: the spatial hash behind the incremental weld (weld_index.h).
#include "weld_index.h"

#include <algorithm>
#include <cassert>
#include <cmath>

namespace host {

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

}  // namespace host
