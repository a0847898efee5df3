// The size budget of a city: how many vertices a set of planned buildings
// will hold, estimated before any of them is raised, and whether that fits.
// Plain arithmetic over plain records, so any command that plans buildings
// (RaiseCity for a whole map, a tiled run per tile) can call it before it
// changes the scene.
//
// The per-building estimate is RaiseTower's own (building/run_checks.cpp):
// every storey and the roof is a ring of five corner pieces and
// 2(W-1) + 2(L-1) walls, the ground storey's walls counted at the larger of
// wall and door, and each unit contributes the vertices of its template.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace city {

// Vertices of the unit templates of one style (the "v" lines of each OBJ
// file in the units library; the host imports one vertex per line).
struct UnitVertexCounts {
  double angle = 0, angleRoof = 0, floor = 0, ground = 0, groundDoor = 0, roof = 0;
};

// Vertices a RaiseTower building of `floors` storeys (below the roof) on a
// `width` x `length` footprint (RaiseTower's unitswidth and unitslength)
// holds, counted before welding.
double EstimateVertices(double floors, double width, double length, const UnitVertexCounts& units);

// The most vertices one city (or one tile of a region) may hold. RaiseTower
// raises somewhat under a million vertices a second, so this bounds a run to
// about half a minute (docs/city.md).
constexpr double kCityVertexBudget = 20e6;

// One building a run means to raise.
struct PlannedBuilding {
  std::string zone;  // for the report: which zone it belongs to
  double floors = 0, width = 0, length = 0;
  UnitVertexCounts units;
};

struct BudgetCheck {
  double estimate = 0;              // all buildings together
  double budget = kCityVertexBudget;
  std::size_t buildings = 0;
  std::string largestZone;          // the zone whose buildings hold the most
  double largestZoneEstimate = 0;
  bool Fits() const { return estimate <= budget; }
};

// Sums the estimates of `buildings` per zone and in all. Cost linear in the
// number of buildings and zones; allocates only per zone.
BudgetCheck CheckBudget(const std::vector<PlannedBuilding>& buildings,
                        double budget = kCityVertexBudget);

// Empty when `check` fits; else one sentence giving the estimate, the budget
// and the zone contributing most, e.g.
//   64 buildings would hold about 101,000,000 vertices; the budget is
//   20,000,000 vertices; zone 'towers' contributes the most, about
//   101,000,000 (100%): lower its floors, the map's scale or the lots
std::string BudgetProblem(const BudgetCheck& check);

}  // namespace city
