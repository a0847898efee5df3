// The region's plain parts: the tile grid, the lot labeller on literal masks,
// the floors rule and the tileset's structure.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "layout.h"
#include "region_lots.h"
#include "region_plan.h"
#include "region_tileset.h"

namespace {

using city::PixelRect;
using city::RegionGrid;
using city::RegionLot;
using city::TileId;

TEST(RegionGrid, CutsTheMapIntoLeavesAndAQuadtreeWithOneRoot) {
  RegionGrid g(1000, 600, 256);
  EXPECT_EQ(g.Columns(), 4);
  EXPECT_EQ(g.Rows(), 3);
  EXPECT_EQ(g.TopLevel(), 2);
  EXPECT_EQ(g.Tiles(0).size(), 12u);
  EXPECT_EQ(g.Tiles(1).size(), 4u);
  EXPECT_EQ(g.Tiles(2).size(), 1u);
  // The last column and row are cut at the map's edge.
  const PixelRect last = g.Area(TileId{0, 3, 2});
  EXPECT_EQ(last.x, 768);
  EXPECT_EQ(last.width, 232);
  EXPECT_EQ(last.height, 88);
  // A parent on the edge has only the children that exist.
  EXPECT_EQ(g.Children(TileId{1, 1, 1}).size(), 2u);
  EXPECT_EQ(g.Area(TileId{2, 0, 0}).width, 1000);
  // The window grows by the halo, but never past the map.
  const PixelRect w = g.Window(TileId{0, 0, 1}, 40);
  EXPECT_EQ(w.x, 0);
  EXPECT_EQ(w.y, 216);
  EXPECT_EQ(w.width, 296);
  EXPECT_EQ(w.height, 336);
  EXPECT_FALSE(g.Valid(TileId{0, 4, 0}));
  // Even a one-tile map has a root above its leaf.
  EXPECT_EQ(RegionGrid(100, 100, 512).TopLevel(), 1);
}

TEST(RegionNames, BuildingsAreNamedByTheirMapPosition) {
  EXPECT_EQ(city::BuildingName("shops", 1234, 567), "shops_x1234_y567");
  EXPECT_EQ(city::ContentName(TileId{0, 3, 5}, 0), "tiles/0/3_5.glb");
  EXPECT_EQ(city::ContentName(TileId{0, 3, 5}, 2), "tiles/0/3_5_2.glb");
  EXPECT_EQ(city::SummaryName(TileId{1, 0, 0}), "tiles/1/0_0.json");
}

// A mask from rows of '#' (the zone's colour) and '.', top row first.
std::vector<std::uint8_t> Mask(const std::vector<std::string>& rows) {
  std::vector<std::uint8_t> m;
  for (const std::string& r : rows)
    for (char c : r) m.push_back(c == '#');
  return m;
}

TEST(RegionLots, CentresMatchFindSpotsOnTheWholeMap) {
  // An 8 x 6 map, seen whole: a 3 x 2 lot and a single pixel below min size.
  const auto m = Mask({"........",
                       ".###....",
                       ".###....",
                       "........",
                       ".....#..",
                       "........"});
  const PixelRect all{0, 0, 8, 6};
  std::vector<RegionLot> lots;
  long rings = 0;
  city::WideLot wide;
  ASSERT_TRUE(city::LabelLots(m, all, all, 8, 6, 2, lots, rings, wide));
  ASSERT_EQ(lots.size(), 1u);
  EXPECT_EQ(lots[0].column, 2);
  // Rows from the bottom are 4 and 3: mean 3.5, truncated to 3, which is row
  // 2 from the top; not the truncated mean of the rows from the top (1).
  EXPECT_EQ(lots[0].rowFromTop, 2);
  EXPECT_EQ(lots[0].pixels, 6);
  EXPECT_EQ(lots[0].box.minColumn, 1);
  EXPECT_EQ(lots[0].box.maxRow, 2);
}

TEST(RegionLots, ALotBelongsToTheTileHoldingItsCentre) {
  const auto m = Mask({"##..##",
                       "##..##"});
  const PixelRect window{0, 0, 6, 2};
  std::vector<RegionLot> left, right;
  long rings = 0;
  city::WideLot wide;
  ASSERT_TRUE(city::LabelLots(m, window, PixelRect{0, 0, 3, 2}, 6, 2, 1, left, rings, wide));
  ASSERT_TRUE(city::LabelLots(m, window, PixelRect{3, 0, 3, 2}, 6, 2, 1, right, rings, wide));
  ASSERT_EQ(left.size(), 1u);
  ASSERT_EQ(right.size(), 1u);
  EXPECT_EQ(left[0].column, 0);
  EXPECT_EQ(right[0].column, 4);
}

TEST(RegionLots, ALotCutByTheWindowIsAnErrorNotAGuess) {
  // The window is columns 2..5 of a 10-wide map; the lot runs on past it.
  const auto m = Mask({"..##",
                       "..##"});
  std::vector<RegionLot> lots;
  long rings = 0;
  city::WideLot wide;
  EXPECT_FALSE(city::LabelLots(m, PixelRect{2, 0, 4, 2}, PixelRect{3, 0, 2, 2}, 10, 2, 1, lots, rings, wide));
  EXPECT_TRUE(wide.found);
  EXPECT_EQ(wide.box.maxColumn, 5);
  // The same pixels at the map's own edge are whole.
  EXPECT_TRUE(city::LabelLots(m, PixelRect{2, 0, 4, 2}, PixelRect{3, 0, 3, 2}, 6, 2, 1, lots, rings, wide));
  // Cut, but with no pixel in the tile: another tile's business.
  lots.clear();
  EXPECT_TRUE(city::LabelLots(m, PixelRect{2, 0, 4, 2}, PixelRect{2, 0, 2, 2}, 10, 2, 1, lots, rings, wide));
  EXPECT_TRUE(lots.empty());
}

TEST(RegionLots, ARingWhoseCentreIsOffItIsSkipped) {
  const auto m = Mask({"###",
                       "#.#",
                       "###"});
  const PixelRect all{0, 0, 3, 3};
  std::vector<RegionLot> lots;
  long rings = 0;
  city::WideLot wide;
  ASSERT_TRUE(city::LabelLots(m, all, all, 3, 3, 1, lots, rings, wide));
  EXPECT_TRUE(lots.empty());
  EXPECT_EQ(rings, 1);
}

TEST(LotFloors, DependOnlyOnSeedZoneAndCentre) {
  const int a = city::LotFloors(1912, 0, 100, 200, 3, 8);
  EXPECT_EQ(a, city::LotFloors(1912, 0, 100, 200, 3, 8));
  int differ = 0;
  for (long c = 0; c < 50; ++c) {
    const int f = city::LotFloors(1912, 1, c, 7, 1, 200);
    EXPECT_GE(f, 1);
    EXPECT_LE(f, 200);
    differ += f != city::LotFloors(1913, 1, c, 7, 1, 200);
  }
  EXPECT_GT(differ, 40);
  EXPECT_EQ(city::LotFloors(5, 2, 9, 9, 4, 4), 4);
}

TEST(EnuToEcef, PutsTheOriginOnTheEllipsoidWithUpOutwards) {
  const auto m = city::EnuToEcef(0, 0, 0);
  EXPECT_NEAR(m[12], 6378137.0, 1e-6);
  EXPECT_NEAR(m[13], 0, 1e-6);
  EXPECT_NEAR(m[8], 1, 1e-12);   // up is +X at lon 0, lat 0
  EXPECT_NEAR(m[1], 1, 1e-12);   // east is +Y
  const auto pole = city::EnuToEcef(13.4, 90, 100);
  EXPECT_NEAR(pole[14], 6356752.314245 + 100, 1e-3);
}

TEST(Tileset, BoxesNestAndErrorsNeverRiseTowardsTheLeaves) {
  RegionGrid g(300, 300, 100);  // 3 x 3 leaves, levels 1 and 2
  std::map<TileId, city::TileNode> nodes;
  for (int level = 0; level <= g.TopLevel(); ++level)
    for (const TileId& id : g.Tiles(level)) {
      city::TileNode n;
      n.id = id;
      const PixelRect a = g.Area(id);
      const double mn[3] = {double(a.x), 0, double(a.y)}, mx[3] = {double(a.Right()), 10, double(a.Bottom())};
      n.contents.push_back({city::ContentName(id, 0), city::FromScene(mn, mx)});
      n.box = n.contents.back().box;
      n.geometricError = level * 4.0;
      nodes[id] = n;
    }
  const auto json = nlohmann::json::parse(city::TilesetJson(g, nodes, nullptr));
  EXPECT_EQ(json["asset"]["version"], "1.1");
  EXPECT_EQ(json["root"]["refine"], "REPLACE");
  EXPECT_FALSE(json["root"].contains("transform"));
  EXPECT_GE(json["geometricError"].get<double>(), json["root"]["geometricError"].get<double>());
  std::function<void(const nlohmann::json&, int&)> walk = [&](const nlohmann::json& t, int& leaves) {
    if (!t.contains("children")) {
      ++leaves;
      return;
    }
    for (const auto& c : t["children"]) {
      EXPECT_LE(c["geometricError"].get<double>(), t["geometricError"].get<double>());
      walk(c, leaves);
    }
  };
  int leaves = 0;
  walk(json["root"], leaves);
  EXPECT_EQ(leaves, 9);
}

}  // namespace
