// Layout arithmetic: findSpots' result text, the largest footprint inside a
// lot's box, and the seeded generator that must give the same city anywhere.
#include <gtest/gtest.h>

#include <map>

#include "kit.h"
#include "layout.h"
#include "temp_dir.h"

namespace {

using city::Footprint;
using city::KitSize;
using city::MapFrame;
using city::PixelBox;

TEST(Lots, ParseFindSpotsResultAndRefuseAnythingElse) {
  std::vector<city::Lot> lots;
  std::string error;
  ASSERT_TRUE(city::ParseLots("0,27,27,49,49,104#1,142,31,14,49,113#", lots, error)) << error;
  ASSERT_EQ(lots.size(), 2u);
  EXPECT_EQ(lots[1].index, 1);
  EXPECT_EQ(lots[1].centreX, 142);
  EXPECT_EQ(lots[1].centreY, 31);
  EXPECT_EQ(lots[1].width, 14);
  EXPECT_EQ(lots[1].height, 49);
  EXPECT_EQ(lots[1].elevation, 113);
  EXPECT_TRUE(city::ParseLots("", lots, error));
  EXPECT_TRUE(lots.empty());
  for (const char* bad : {"0,1,2,3,4#", "0,1,2,3,4,5", "a,1,2,3,4,5#", "0,1,2,3,4,5#x", "0x1,1,2,3,4,5#",
                          "0,1.5,2,3,4,5#", "0,1,2,3,4,99999999999999999999#"})
    EXPECT_FALSE(city::ParseLots(bad, lots, error)) << bad;
}

// The units' vertex lines are read by the host's one number grammar.
TEST(Kit, MeasuresTheCornerUnitsAndNamesAVertexThatIsNoNumber) {
  const testsupport::TempDir dir("kit");
  auto library = [&](const std::string& corner) {
    for (const char* n : {"angle", "angleroof", "floor", "floorXclose", "ground", "groundXclose",
                          "groundXdoor", "roof"}) {
      std::string name = std::string("p1900_") + n + ".obj";
      const std::size_t x = name.find('X');
      name = x == std::string::npos ? name.insert(name.size() - 4, "X") : name;
      dir.Write(name, "v 0 0 0\nv 1 1 1\n");
    }
    dir.Write("p1900_angleX.obj", corner);
  };
  KitSize kit{};
  std::string error;
  library("v 0 0 0\nv +2 1.5e0 .5 1\r\nvn 0 1 0\n");
  ASSERT_TRUE(city::MeasureKit(dir.path().string() + "/", "X", kit, error)) << error;
  EXPECT_EQ(kit.cell, 2.0);
  EXPECT_EQ(kit.storey, 1.5);
  for (const char* bad : {"0x10", "2,5", "1e400", "nan"}) {
    library(std::string("v 0 0 0\nv 1 ") + bad + " 1\n");
    EXPECT_FALSE(city::MeasureKit(dir.path().string() + "/", "X", kit, error)) << bad;
    EXPECT_NE(error.find(std::string("'") + bad + "' is not a finite number"), std::string::npos) << error;
  }
}

TEST(Footprints, LargestThatFitsAroundTheCentreOfAnAsymmetricBox) {
  const MapFrame f{64, 48, 3.0};
  const KitSize kit{13.5, 14, 1.5, {}};
  // 20 x 10 pixels, centre (11, 7): 28.5 west, 31.5 east, 16.5 north, 13.5 south.
  const Footprint fp = city::LargestFootprint(f, PixelBox{2, 21, 2, 11}, 11, 7, kit);
  EXPECT_EQ(fp.length, 3);  // 57 across: 4 cells
  EXPECT_EQ(fp.width, 1);   // 27 across: exactly 2 cells
  // Too narrow for two cells on one side: nothing fits.
  EXPECT_FALSE(city::LargestFootprint(f, PixelBox{30, 33, 20, 23}, 31, 21, kit).Fits());
  // A centre on the box's edge leaves no room at all.
  EXPECT_FALSE(city::LargestFootprint(f, PixelBox{0, 40, 0, 40}, 0, 20, kit).Fits());
}

TEST(Footprints, NeverReachPastTheBoxAtAnyScale) {
  const KitSize kit{13.5, 14, 1.5, {}};
  for (double scale : {0.5, 1.0, 1.35, 2.7, 3.0, 6.75, 13.5}) {
    const MapFrame f{200, 200, scale};
    for (long w = 0; w < 60; w += 3) {
      const PixelBox box{10, 10 + w, 20, 20 + w / 2};
      const long cx = 10 + w / 3, cy = 20 + w / 4;
      const Footprint fp = city::LargestFootprint(f, box, cx, cy, kit);
      if (!fp.Fits()) continue;
      const double halfX = kit.cell * (fp.length + 1) / 2, halfZ = kit.cell * (fp.width + 1) / 2;
      EXPECT_LE(city::SceneX(f, cx) + halfX, city::SceneX(f, box.maxColumn) + scale / 2 + 1e-9);
      EXPECT_GE(city::SceneX(f, cx) - halfX, city::SceneX(f, box.minColumn) - scale / 2 - 1e-9);
      EXPECT_LE(city::SceneZ(f, cy) + halfZ, city::SceneZ(f, box.maxRow) + scale / 2 + 1e-9);
      EXPECT_GE(city::SceneZ(f, cy) - halfZ, city::SceneZ(f, box.minRow) - scale / 2 - 1e-9);
      // One more cell would not fit.
      const Footprint bigger{fp.length + 1, fp.width};
      EXPECT_GT(kit.cell * (bigger.length + 1) / 2,
                std::min(city::SceneX(f, cx) - city::SceneX(f, box.minColumn) + scale / 2,
                         city::SceneX(f, box.maxColumn) - city::SceneX(f, cx) + scale / 2) - 1e-9);
    }
  }
}

TEST(Mapping, OriginAtTheCentreNorthIsMinusZ) {
  const MapFrame f{4, 2, 10.0};
  EXPECT_DOUBLE_EQ(city::SceneX(f, 0), -15);
  EXPECT_DOUBLE_EQ(city::SceneX(f, 3), 15);
  EXPECT_DOUBLE_EQ(city::SceneZ(f, 0), -5);  // top row: north
  EXPECT_DOUBLE_EQ(city::SceneZ(f, 1), 5);
}

TEST(Random, SplitMix64SequenceIsFixed) {
  // The published splitmix64 outputs for seed 0 and 1234567.
  city::Random zero(0);
  EXPECT_EQ(zero.Next(), 0xE220A8397B1DCDAFull);
  EXPECT_EQ(zero.Next(), 0x6E789E6AA1B965F4ull);
  city::Random r(1234567);
  EXPECT_EQ(r.Next(), 6457827717110365317ull);
  EXPECT_EQ(r.Next(), 3203168211198807973ull);
}

TEST(Random, BetweenCoversTheRangeEvenlyAndOnlyIt) {
  city::Random r(42);
  std::map<long, int> seen;
  for (int i = 0; i < 60000; ++i) ++seen[r.Between(3, 8)];
  ASSERT_EQ(seen.size(), 6u);
  EXPECT_EQ(seen.begin()->first, 3);
  EXPECT_EQ(seen.rbegin()->first, 8);
  for (const auto& [v, n] : seen) EXPECT_NEAR(n, 10000, 500) << v;
  EXPECT_EQ(r.Between(5, 5), 5);
  // Zones draw from their own streams: the same seed and zone, the same floors.
  city::Random a = city::ZoneRandom(7, 1), b = city::ZoneRandom(7, 1), c = city::ZoneRandom(7, 2);
  EXPECT_EQ(a.Next(), b.Next());
  EXPECT_NE(city::ZoneRandom(7, 1).Next(), c.Next());
}

}  // namespace
