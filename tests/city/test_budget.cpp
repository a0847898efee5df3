// The city's size budget: the estimate is RaiseTower's own, the kit's counts
// are the vertices the host imports, and a city over the budget is refused
// before anything is raised, naming the estimate, the budget and the zone.
#include "budget.h"
#include "city_test_util.h"
#include "kit.h"
#include "run_checks.h"

namespace {

TEST(CityBudget, TheEstimateIsRaiseTowersForEveryShapeAndKit) {
  const city::UnitVertexCounts kits[] = {{193, 40, 116, 124, 108, 26}, {1, 2, 3, 4, 5, 6}, {7, 0, 0, 9, 0, 0}};
  for (const city::UnitVertexCounts& k : kits) {
    const raisetower::KitVertexCounts tower{k.angle, k.angleRoof, k.floor, k.ground, k.groundDoor, k.roof};
    for (int floors : {1, 2, 7, 200})
      for (int width : {1, 3, 40})
        for (int length : {1, 2, 81}) {
          raisetower::RunArguments run;
          run.floors = floors, run.unitsWidth = width, run.unitsLength = length;
          EXPECT_EQ(city::EstimateVertices(floors, width, length, k), raisetower::vertexEstimate(run, tower))
              << floors << " " << width << " " << length;
        }
  }
}

// The counts MeasureKit reads are what ObjImport makes of each unit, which is
// what RaiseTower counts.
TEST(CityBudget, TheKitCountsTheVerticesTheHostImports) {
  ct::LoadPlugins();
  const std::string units = ct::kRepoHome + "/builder/objs/";
  for (const std::string style : {"brick", "glass"}) {
    city::KitSize kit;
    std::string error;
    ASSERT_TRUE(city::MeasureKit(units, style, kit, error)) << error;
    const std::pair<std::string, double> expected[] = {
        {"angle", kit.units.angle},   {"angleroof", kit.units.angleRoof}, {"floor", kit.units.floor},
        {"ground", kit.units.ground}, {"ground|door", kit.units.groundDoor}, {"roof", kit.units.roof}};
    for (const auto& [unit, count] : expected) {
      host::Runtime::Get().ResetScene();
      std::string file = unit;
      const std::size_t bar = file.find('|');
      file = bar == std::string::npos ? file + style : file.substr(0, bar) + style + file.substr(bar + 1);
      XSI::CValueArray a;
      XSI::CValue out;
      a.Add(XSI::CString::FromUtf8(units + "p1900_" + file + ".obj"));
      ASSERT_TRUE(XSI::Application().ExecuteCommand(L"ObjImport", a, out).Succeeded()) << file;
      host::SceneObject* o = host::Runtime::Get().GetScene().Objects().front();
      EXPECT_GT(count, 0) << file;
      EXPECT_EQ(static_cast<double>(o->geometry.Snapshot()->VertexCount()), count) << file;
    }
  }
  host::Runtime::Get().ResetScene();
}

TEST(CityBudget, ZonesAreSummedAndTheLargestIsNamed) {
  const city::UnitVertexCounts k{10, 1, 4, 5, 6, 2};
  const double one = city::EstimateVertices(3, 2, 2, k);
  ASSERT_EQ(one, 5 * 10 + 4 * 6 + 2 * (5 * 10 + 4 * 4) + 5 * 1 + 4 * 2);
  std::vector<city::PlannedBuilding> plan = {
      {"low", 3, 2, 2, k}, {"high", 3, 2, 2, k}, {"low", 3, 2, 2, k}, {"high", 30, 2, 2, k}};
  const city::BudgetCheck fits = city::CheckBudget(plan, 1e9);
  EXPECT_TRUE(fits.Fits());
  EXPECT_EQ(fits.buildings, 4u);
  EXPECT_EQ(fits.largestZone, "high");
  EXPECT_EQ(fits.largestZoneEstimate, one + city::EstimateVertices(30, 2, 2, k));
  EXPECT_EQ(fits.estimate, 3 * one + city::EstimateVertices(30, 2, 2, k));
  EXPECT_EQ(city::BudgetProblem(fits), "");

  const city::BudgetCheck over = city::CheckBudget(plan, 1000);
  EXPECT_FALSE(over.Fits());
  EXPECT_EQ(city::BudgetProblem(over),
            "4 building(s) would hold about 2,658 vertices; the budget is 1,000 vertices; zone 'high' "
            "contributes the most, about 2,220 (84%): lower the floors, the map's scale or the number of lots");
  // Exactly at the budget still fits; nothing planned is nothing to refuse.
  EXPECT_TRUE(city::CheckBudget(plan, over.estimate).Fits());
  EXPECT_TRUE(city::CheckBudget({}).Fits());
}

// The hostile case: 64 towers of 100 storeys, each within RaiseTower's own
// limits, used to run for minutes and gigabytes. Now the run is refused
// before the first scene change.
TEST(CityBudget, ACityOverTheBudgetIsRefusedBeforeAnythingIsRaised) {
  ct::LoadPlugins();
  host::Runtime::Get().ResetScene();
  testsupport::TempDir dir{"city-budget"};
  testsupport::WorkingDir cwd{dir.path()};
  std::filesystem::create_directories(dir.path() / "maps");
  ct::Picture map(512, 512, 100, 100, 100);
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 8; ++j) map.Fill(4 + 64 * i, 4 + 64 * j, 59 + 64 * i, 59 + 64 * j, 230, 30, 30);
  map.WriteBmp(dir.File("maps/big.bmp"));
  map.WriteBmp(dir.File("maps/big_elevation.bmp"));
  const std::string recipe = dir.Write("big.json", R"({"images": "maps", "map": "big", "elevation": true,
      "scale": 10, "height": 10, "seed": 1, "zones": [
      {"name": "towers", "rgb": [230, 30, 30], "range": [10, 10, 10], "min_pixels": 4, "style": "brick",
       "floors": [100, 100]}]})");
  const ct::SceneState before = ct::Snapshot();
  const ct::Run run = ct::RaiseCity(recipe);
  EXPECT_EQ(run.status.GetCode(), XSI::CStatus::InvalidArgument);
  const std::string error = ct::LastError();
  EXPECT_NE(error.find("recipe '" + recipe + "' is too big: 64 building(s) would hold about "), std::string::npos)
      << error;
  EXPECT_NE(error.find(" vertices; the budget is 20,000,000 vertices; zone 'towers' contributes the most"),
            std::string::npos)
      << error;
  EXPECT_EQ(ct::Snapshot(), before);
  for (const auto& e : host::Runtime::Get().GetJournal().Entries())
    EXPECT_NE(e.name.GetUtf8String(), "RaiseTower") << "a building was raised";
}

}  // namespace
