// WeldIndex: a spatial hash over the leading positions of one mesh, kept in
// Mesh::weldIndex so that welding each newly appended part costs in
// proportion to that part, not to the whole mesh.
//
// Contract: the index covers positions [0, Count()) of the mesh it belongs
// to, hashed into cubic cells of CellSize(). Whoever changes those positions
// in place must drop the index (TranslateMesh rebuilds it); an index found
// out of step is rebuilt, never trusted. Lookups return the lowest matching
// index, so results never depend on hash-table order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "mesh.h"

namespace host {

class WeldIndex {
 public:
  static constexpr std::uint32_t kNone = 0xffffffffu;

  explicit WeldIndex(double cellSize) : cellSize_(cellSize) {}

  double CellSize() const { return cellSize_; }
  std::size_t Count() const { return next_.size(); }

  // True when the index still matches `positions` as far as it can tell
  // cheaply (count and the last indexed position).
  bool InStepWith(const std::vector<Vec3>& positions) const;

  // Indexes positions [Count(), end).
  void Extend(const std::vector<Vec3>& positions, std::size_t end);

  // Forgets positions [end, Count()). Returns false when the index turns out
  // not to match `positions`; the caller must rebuild it then.
  bool Truncate(const std::vector<Vec3>& positions, std::size_t end);

  // Lowest indexed position strictly closer than `radius` to `p` (radius must
  // not exceed the cell size), or kNone.
  std::uint32_t FindLowest(const std::vector<Vec3>& positions, Vec3 p, double radius) const;

 private:
  struct Cell {
    std::int64_t x, y, z;
    bool operator==(const Cell& o) const { return x == o.x && y == o.y && z == o.z; }
  };
  struct CellHash {
    std::size_t operator()(const Cell& c) const;
  };

  std::int64_t CellCoord(double v) const;
  Cell CellOf(Vec3 p) const;

  double cellSize_;
  // Each cell holds a chain of position indices, newest first: head_ gives
  // the newest, next_[i] the one indexed before i in the same cell.
  std::unordered_map<Cell, std::uint32_t, CellHash> head_;
  std::vector<std::uint32_t> next_;
  Vec3 last_{};  // position of index Count()-1, to notice moved meshes
};

}  // namespace host
