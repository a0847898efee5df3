// WeldIndex: a spatial hash over the leading positions of one mesh, so that
// welding each newly appended part costs in proportion to that part, not to
// the whole mesh. Who keeps an index and when it must be dropped is stated in
// geometry.h.
//
// Contract: the index covers positions [0, Count()) of the positions it is
// given, hashed by cubic cell. Cells are four tolerances wide, so the
// neighbourhood of a lookup touches 1 to 8 cells (3.4 on average) instead of
// the 27 that tolerance-sized cells need; that keeps welding cheap when the
// index is far bigger than the CPU caches. An index found out of step with
// its positions is rebuilt, never trusted. Lookups return the lowest
// matching index, so results never depend on hash-table order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "mesh.h"

namespace host {

class WeldIndex {
 public:
  static constexpr std::uint32_t kNone = 0xffffffffu;

  // The buckets a lookup around one point must walk (1 to 8).
  struct Neighbourhood {
    std::uint32_t bucket[8];
    int count = 0;
  };

  explicit WeldIndex(double tolerance);

  double Tolerance() const { return tolerance_; }
  std::size_t Count() const { return next_.size(); }

  // True when the index still matches `positions` as far as it can tell
  // cheaply (count and the last indexed position).
  bool InStepWith(const std::vector<Vec3>& positions) const;

  // Makes room for `count` positions in all, so that Extend up to there
  // keeps the bucket layout (and so every Neighbourhood) unchanged.
  void Reserve(const std::vector<Vec3>& positions, std::size_t count);

  // Indexes positions [Count(), end).
  void Extend(const std::vector<Vec3>& positions, std::size_t end);

  // Forgets positions [end, Count()). Returns false when the index turns out
  // not to match `positions`; the caller must rebuild it then.
  bool Truncate(const std::vector<Vec3>& positions, std::size_t end);

  Neighbourhood Near(Vec3 p) const;

  // Starts loading the buckets and first candidates of many lookups into the
  // cache at once, instead of one cache miss after the other.
  void Prefetch(const std::vector<Vec3>& positions, const std::vector<Neighbourhood>& near) const;

  // Lowest indexed position strictly closer than Tolerance() to `p`, or
  // kNone. `near` must be Near(p) under the current bucket layout.
  std::uint32_t FindLowest(const std::vector<Vec3>& positions, Vec3 p, const Neighbourhood& near) const;
  std::uint32_t FindLowest(const std::vector<Vec3>& positions, Vec3 p) const {
    return FindLowest(positions, p, Near(p));
  }

 private:
  std::uint32_t BucketOf(Vec3 p) const;
  void Link(std::uint32_t index, std::uint32_t bucket);
  void Rechain(const std::vector<Vec3>& positions, std::size_t buckets);

  double tolerance_;
  double cellsPerUnit_;  // 1 / cell size
  // A cell hashes to a bucket; each bucket chains its positions newest
  // first (head_[bucket], then next_[i]). Unrelated cells may share a
  // bucket: every candidate is checked by distance, so that only costs time.
  std::vector<std::uint32_t> head_;
  std::vector<std::uint32_t> next_;
  Vec3 last_{};  // position of index Count()-1, to notice moved meshes
};

// A weld index kept between welds of one growing mesh by its one owner, or
// null.
using WeldCache = std::unique_ptr<WeldIndex>;

}  // namespace host
