#include "budget.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace city {
namespace {

// Whole numbers with thousands separators, so the sizes read at a glance.
std::string Grouped(double value) {
  if (!std::isfinite(value)) return value > 0 ? "inf" : "nan";
  if (std::fabs(value) >= 1e18) return std::to_string(value);
  long long v = std::llround(value);
  const bool negative = v < 0;
  std::string digits = std::to_string(negative ? -v : v);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return negative ? "-" + out : out;
}

}  // namespace

double EstimateVertices(double floors, double width, double length, const UnitVertexCounts& units) {
  const double walls = 2.0 * (width - 1) + 2.0 * (length - 1);
  const double ground = 5 * units.angle + walls * std::max(units.ground, units.groundDoor);
  const double upper = 5 * units.angle + walls * units.floor;
  const double roof = 5 * units.angleRoof + walls * units.roof;
  return ground + (floors - 1.0) * upper + roof;
}

BudgetCheck CheckBudget(const std::vector<PlannedBuilding>& buildings, double budget) {
  BudgetCheck check;
  check.budget = budget;
  check.buildings = buildings.size();
  // Zones in the order they first appear, so ties go to the earlier zone.
  std::map<std::string, std::size_t> index;
  std::vector<std::pair<std::string, double>> zones;
  for (const PlannedBuilding& b : buildings) {
    const double v = EstimateVertices(b.floors, b.width, b.length, b.units);
    check.estimate += v;
    const auto [it, added] = index.emplace(b.zone, zones.size());
    if (added) zones.emplace_back(b.zone, 0.0);
    zones[it->second].second += v;
  }
  for (const auto& [zone, v] : zones) {
    if (v > check.largestZoneEstimate) {
      check.largestZone = zone;
      check.largestZoneEstimate = v;
    }
  }
  return check;
}

std::string BudgetProblem(const BudgetCheck& check) {
  if (check.Fits()) return "";
  std::string text = Grouped(static_cast<double>(check.buildings)) + " building(s) would hold about " +
                     Grouped(check.estimate) + " vertices; the budget is " + Grouped(check.budget) +
                     " vertices";
  if (!check.largestZone.empty()) {
    const double share = check.estimate > 0 ? 100.0 * check.largestZoneEstimate / check.estimate : 0;
    text += "; zone '" + check.largestZone + "' contributes the most, about " +
            Grouped(check.largestZoneEstimate) + " (" + Grouped(share) + "%)";
  }
  return text + ": lower the floors, the map's scale or the number of lots";
}

}  // namespace city
