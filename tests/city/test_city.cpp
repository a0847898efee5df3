// RaiseCity through the real runtime with all three plug-ins, on a small
// asymmetric map: where buildings stand (north = -Z, rows counted from the
// top), footprints inside their lots, buildings on the terrain, skipped lots,
// same output twice, and every failure leaving the scene as it was.
#include <cmath>
#include <fstream>
#include <iterator>
#include <sstream>

#include "city_test_util.h"
#include "test_hooks.h"

namespace {

using ct::Snapshot;

constexpr double kScale = 3.0, kHeight = 51.0;

class CityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ct::LoadPlugins();
    host::Runtime::Get().ResetScene();
    host::test_hooks::InjectFailure(L"", 0);
    WriteMaps();
    recipe_ = WriteRecipe(Recipe());
  }
  void TearDown() override {
    host::test_hooks::InjectFailure(L"", 0);
    host::Runtime::Get().GetProgress().SetSink(nullptr);
    host::Runtime::Get().GetProgress().ClearCancel();
    host::Runtime::Get().ResetScene();
  }

  // 64 x 48: a red lot top-left (columns 2..21, rows 2..11), a red lot too
  // small to build on (30..33, 20..23) and a blue lot bottom-right (40..59,
  // 30..45) on grey. The elevation map's red is column + 2 row.
  void WriteMaps() {
    ct::Picture map(64, 48, 100, 100, 100);
    map.Fill(2, 2, 21, 11, 230, 30, 30);
    map.Fill(30, 20, 33, 23, 230, 30, 30);
    map.Fill(40, 30, 59, 45, 60, 100, 210);
    map.WriteBmp(dir_.File("maps/town.bmp"));
    ct::Picture elevation(64, 48, 0, 0, 0);
    for (int r = 0; r < 48; ++r)
      for (int c = 0; c < 64; ++c) {
        const auto v = std::uint8_t(c + 2 * r);
        elevation.Set(c, r, v, v, v);
      }
    elevation.WriteBmp(dir_.File("maps/town_elevation.bmp"));
  }
  static std::string Recipe(const std::string& redFloors = "[2, 4]", const std::string& blueStyle = "glass") {
    return R"({"images": "maps", "map": "town", "elevation": true, "scale": 3, "height": 51, "seed": 7,
      "zones": [
        {"name": "red", "rgb": [230, 30, 30], "range": [10, 10, 10], "min_pixels": 4, "style": "brick",
         "floors": )" + redFloors + R"(},
        {"name": "blue", "rgb": [60, 100, 210], "range": [10, 10, 10], "min_pixels": 4, "style": ")" +
           blueStyle + R"(", "floors": [3, 5], "entrance": "C"}]})";
  }
  std::string WriteRecipe(const std::string& text, const std::string& name = "town.json") {
    return dir_.Write(name, text);
  }
  // Something of the user's that a failed run must leave alone: an object,
  // the map already loaded as a clip, and a selection.
  void AddUserState() {
    XSI::CValueArray a;
    XSI::CValue out;
    a.Add(XSI::CString::FromUtf8(ct::kRepoHome + "/builder/objs/p1900_roofglass.obj"));
    ASSERT_TRUE(XSI::Application().ExecuteCommand(L"ObjImport", a, out).Succeeded());
    a.Clear();
    a.Add(XSI::CString::FromUtf8(dir_.File("maps/town.bmp")));
    ASSERT_TRUE(XSI::Application().ExecuteCommand(L"CreateImageClip", a, out).Succeeded());
  }

  testsupport::TempDir dir_{"city-test"};
  testsupport::WorkingDir cwd_{dir_.path()};  // findSpots writes blobs.bmp here
  std::string recipe_;

 public:
  CityTest() { std::filesystem::create_directories(dir_.path() / "maps"); }
};

double SceneX(double column) { return (column + 0.5 - 32) * kScale; }
double SceneZ(double rowFromTop) { return (rowFromTop + 0.5 - 24) * kScale; }

// The lot's box in the scene from its pixel bounds (rows from the top).
void ExpectInsideLot(const wchar_t* name, int c0, int r0, int c1, int r1) {
  const host::Bounds b = ct::WorldBounds(name);
  ASSERT_FALSE(b.empty) << "no building " << XSI::CString(name).GetUtf8String();
  const double eps = 1e-3;
  EXPECT_GE(b.min.x, SceneX(c0) - kScale / 2 - eps);
  EXPECT_LE(b.max.x, SceneX(c1) + kScale / 2 + eps);
  EXPECT_GE(b.min.z, SceneZ(r0) - kScale / 2 - eps);
  EXPECT_LE(b.max.z, SceneZ(r1) + kScale / 2 + eps);
}

TEST_F(CityTest, BuildingsStandAtTheirLotCentresOnTheTerrainInsideTheirLots) {
  const ct::Run run = ct::RaiseCity(recipe_);
  ASSERT_TRUE(run.status.Succeeded()) << ct::LastError();
  EXPECT_EQ(run.out.GetType(), XSI::CValue::siInt4);
  EXPECT_EQ(run.out.GetAsInt(), 2);
  std::vector<std::string> names;
  for (host::SceneObject* o : host::Runtime::Get().GetScene().Objects()) names.push_back(o->name.GetUtf8String());
  // Blobs are numbered from the bottom row up: the small red lot is red_0.
  EXPECT_EQ(names, (std::vector<std::string>{"terrain", "red_1", "blue_0"}));

  // red_1: centre pixel (11, 7 from the top), elevation 11 + 14 = 25.
  const host::Bounds red = ct::WorldBounds(L"red_1");
  EXPECT_NEAR((red.min.x + red.max.x) / 2, SceneX(11), 1e-3);
  EXPECT_NEAR((red.min.z + red.max.z) / 2, SceneZ(7), 1e-3);
  EXPECT_NEAR(red.min.y, 25 * kHeight / 255, 1e-3);
  // Room for 4 cells along X and 2 along Z: a 3 x 1 footprint.
  EXPECT_NEAR(red.max.x - red.min.x, 13.5 * 4, 1e-3);
  EXPECT_NEAR(red.max.z - red.min.z, 13.5 * 2, 1e-3);
  ExpectInsideLot(L"red_1", 2, 2, 21, 11);

  // blue_0: centre pixel (49, 38 from the top), elevation 49 + 76 = 125.
  const host::Bounds blue = ct::WorldBounds(L"blue_0");
  EXPECT_NEAR((blue.min.x + blue.max.x) / 2, SceneX(49), 1e-3);
  EXPECT_NEAR((blue.min.z + blue.max.z) / 2, SceneZ(38), 1e-3);
  EXPECT_NEAR(blue.min.y, 125 * kHeight / 255, 1e-3);
  EXPECT_NEAR(blue.max.z - blue.min.z, 13.5 * 3, 1e-3);
  ExpectInsideLot(L"blue_0", 40, 30, 59, 45);

  // Floors drawn within the zone's range: height = 14 floors + 1.5 roof.
  const double redFloors = (red.max.y - red.min.y - 1.5) / 14, blueFloors = (blue.max.y - blue.min.y - 1.5) / 14;
  EXPECT_NEAR(redFloors, std::round(redFloors), 1e-4);
  EXPECT_GE(redFloors, 2 - 1e-4);
  EXPECT_LE(redFloors, 4 + 1e-4);
  EXPECT_GE(blueFloors, 3 - 1e-4);
  EXPECT_LE(blueFloors, 5 + 1e-4);

  // The terrain spans the map, north at -Z.
  const host::Bounds t = ct::WorldBounds(L"terrain");
  EXPECT_NEAR(t.min.x, SceneX(0), 1e-3);
  EXPECT_NEAR(t.max.z, SceneZ(47), 1e-3);
}

TEST_F(CityTest, SkippedLotsAreCountedPerZone) {
  ASSERT_TRUE(ct::RaiseCity(recipe_).status.Succeeded()) << ct::LastError();
  bool red = false, blue = false;
  for (const auto& e : host::Runtime::Get().GetJournal().Entries()) {
    if (e.kind != host::JournalEntry::Log) continue;
    const std::string line = e.name.GetUtf8String();
    red = red || line == "RaiseCity: zone 'red': 2 lot(s), 1 raised, 1 skipped (too small for a 1 x 1 footprint)";
    blue = blue || line == "RaiseCity: zone 'blue': 1 lot(s), 1 raised, 0 skipped (too small for a 1 x 1 footprint)";
  }
  EXPECT_TRUE(red);
  EXPECT_TRUE(blue);
}

TEST_F(CityTest, TwoRunsSaveByteIdenticalFiles) {
  std::string bytes[2];
  for (int i = 0; i < 2; ++i) {
    host::Runtime::Get().ResetScene();
    ASSERT_TRUE(ct::RaiseCity(recipe_).status.Succeeded()) << ct::LastError();
    const std::string path = dir_.File("city" + std::to_string(i) + ".glb");
    XSI::CValueArray a;
    a.Add(XSI::CString::FromUtf8(path));
    XSI::CValue out;
    ASSERT_TRUE(XSI::Application().ExecuteCommand(L"SaveScene", a, out).Succeeded());
    std::ifstream in(path, std::ios::binary);
    bytes[i].assign(std::istreambuf_iterator<char>(in), {});
  }
  EXPECT_GT(bytes[0].size(), 1000u);
  EXPECT_TRUE(bytes[0] == bytes[1]);
}

TEST_F(CityTest, BadInputIsRefusedByNameBeforeAnythingChanges) {
  AddUserState();
  const ct::SceneState before = Snapshot();
  struct Case {
    std::string recipe;
    std::string expected;
  } cases[] = {
      {Recipe("[2, 4]", "marble"), "zone 'blue': style 'marble' is not in the units library"},
      {Recipe("[5, 3]"), "zone 1 ('red'): key 'floors': min 5 is greater than max 3"},
      {"{\"images\": ", "not valid JSON"},
      {std::string(Recipe()).replace(Recipe().find("\"town\""), 6, "\"nomap\""), "cannot load map"},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string path = WriteRecipe(c.recipe, "bad" + std::to_string(n++) + ".json");
    const ct::Run run = ct::RaiseCity(path);
    EXPECT_FALSE(run.status.Succeeded()) << c.expected;
    EXPECT_NE(ct::LastError().find(c.expected), std::string::npos) << ct::LastError();
    EXPECT_EQ(Snapshot(), before) << c.expected;
  }
  // A missing elevation map, a missing recipe, a folder as recipe.
  std::filesystem::remove(dir_.path() / "maps/town_elevation.bmp");
  EXPECT_FALSE(ct::RaiseCity(recipe_).status.Succeeded());
  EXPECT_NE(ct::LastError().find("town_elevation.bmp"), std::string::npos) << ct::LastError();
  EXPECT_EQ(Snapshot(), before);
  EXPECT_FALSE(ct::RaiseCity(dir_.File("none.json")).status.Succeeded());
  EXPECT_NE(ct::LastError().find("cannot read recipe '" + dir_.File("none.json") + "'"), std::string::npos);
  EXPECT_FALSE(ct::RaiseCity(dir_.File("maps")).status.Succeeded());
  EXPECT_NE(ct::LastError().find("not a regular file"), std::string::npos) << ct::LastError();
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(CityTest, TakenNamesAreRefusedBeforeAnythingChanges) {
  for (const char* taken : {"terrain", "blue_0"}) {
    host::Runtime::Get().ResetScene();
    XSI::CValueArray a;
    XSI::CValue out;
    a.Add(XSI::CString::FromUtf8(ct::kRepoHome + "/builder/objs/p1900_roofglass.obj"));
    ASSERT_TRUE(XSI::Application().ExecuteCommand(L"ObjImport", a, out).Succeeded());
    host::Runtime::Get().GetScene().Rename(host::Runtime::Get().GetScene().Objects().front()->id,
                                           XSI::CString::FromUtf8(taken));
    const ct::SceneState before = Snapshot();
    EXPECT_FALSE(ct::RaiseCity(recipe_).status.Succeeded());
    EXPECT_NE(ct::LastError().find(std::string("named '") + taken + "'"), std::string::npos) << ct::LastError();
    EXPECT_EQ(Snapshot(), before) << taken;
  }
}

TEST_F(CityTest, AFailureMidCityRemovesTheWholeCity) {
  AddUserState();
  const ct::SceneState before = Snapshot();
  // The second RaiseTower is the blue lot's.
  host::test_hooks::InjectFailure(L"RaiseTower", 2);
  const ct::Run run = ct::RaiseCity(recipe_);
  EXPECT_FALSE(run.status.Succeeded());
  EXPECT_NE(ct::LastError().find("lot 'blue_0' (zone 'blue', blob 0): RaiseTower failed"), std::string::npos)
      << ct::LastError();
  EXPECT_NE(ct::LastError().find("the city was removed"), std::string::npos);
  EXPECT_EQ(Snapshot(), before);

  host::test_hooks::InjectFailure(L"CreateHeightField", 1);
  EXPECT_FALSE(ct::RaiseCity(recipe_).status.Succeeded());
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(CityTest, ClipsTheRunLoadedGoWhenItFails) {
  const ct::SceneState before = Snapshot();
  ASSERT_TRUE(before.clips.empty());
  host::test_hooks::InjectFailure(L"RaiseTower", 1);
  EXPECT_FALSE(ct::RaiseCity(recipe_).status.Succeeded());
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(CityTest, ACancelledRunStopsBetweenLotsAndUndoesEverything) {
  AddUserState();
  const ct::SceneState before = Snapshot();
  host::Progress& progress = host::Runtime::Get().GetProgress();
  progress.SetSink([&](const host::ProgressState&, host::ProgressState::Event event) {
    if (event == host::ProgressState::Advanced) progress.RequestCancel();
  });
  const ct::Run run = ct::RaiseCity(recipe_);
  EXPECT_EQ(run.status.GetCode(), XSI::CStatus::Abort);
  EXPECT_NE(ct::LastError().find("cancelled before lot 'blue_0'"), std::string::npos) << ct::LastError();
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(CityTest, WithoutElevationThereIsNoTerrainAndBuildingsStandOnZero) {
  std::string text = Recipe();
  text.replace(text.find("\"elevation\": true"), 17, "\"elevation\": false");
  std::filesystem::remove(dir_.path() / "maps/town_elevation.bmp");  // not needed then
  const ct::Run run = ct::RaiseCity(WriteRecipe(text, "flat.json"));
  ASSERT_TRUE(run.status.Succeeded()) << ct::LastError();
  EXPECT_EQ(run.out.GetAsInt(), 2);
  EXPECT_EQ(host::Runtime::Get().GetScene().Find(L"terrain"), nullptr);
  EXPECT_NEAR(ct::WorldBounds(L"red_1").min.y, 0.0, 1e-3);
  EXPECT_NEAR(ct::WorldBounds(L"blue_0").min.y, 0.0, 1e-3);
}

// A map wider than 512 pixels gets a terrain sampled every few pixels: the
// building's base, exact at its centre pixel, is within one step's change
// of height of the ground mesh there.
TEST(CityTerrain, OnACoarseTerrainBuildingsStandWithinOneStepOfTheGround) {
  ct::LoadPlugins();
  host::Runtime::Get().ResetScene();
  testsupport::TempDir dir("city-coarse");
  testsupport::WorkingDir cwd(dir.path());
  ct::Picture map(1100, 40, 100, 100, 100), elevation(1100, 40, 0, 0, 0);
  map.Fill(500, 5, 560, 34, 230, 30, 30);  // centre column 530
  for (int r = 0; r < 40; ++r)
    for (int c = 0; c < 1100; ++c) {
      const auto v = std::uint8_t(c / 5);
      elevation.Set(c, r, v, v, v);
    }
  map.WriteBmp(dir.File("m.bmp"));
  elevation.WriteBmp(dir.File("m_elevation.bmp"));
  const std::string recipe = dir.Write("r.json", R"({"images": ".", "map": "m", "elevation": true, "scale": 2,
    "height": 255, "seed": 1, "zones": [{"name": "z", "rgb": [230, 30, 30], "range": [5, 5, 5],
    "min_pixels": 10, "style": "brick", "floors": [1, 1]}]})");
  const ct::Run run = ct::RaiseCity(recipe);
  ASSERT_TRUE(run.status.Succeeded()) << ct::LastError();
  ASSERT_EQ(run.out.GetAsInt(), 1);
  auto terrain = host::Runtime::Get().GetScene().Find(L"terrain")->geometry.Snapshot();
  // Step 3: columns 0, 3, ..., 1098, 1099 and rows 0, 3, ..., 39.
  const std::size_t columns = 368;
  ASSERT_EQ(terrain->VertexCount(), columns * 14);
  const host::Bounds b = ct::WorldBounds(L"z_0");
  const double cx = (b.min.x + b.max.x) / 2;
  EXPECT_NEAR(cx, (530 + 0.5 - 550) * 2, 1e-3);
  EXPECT_NEAR(b.min.y, 530 / 5, 1e-3);  // red 106 at height 255
  // The two terrain samples of the first row around the centre.
  std::size_t i = 0;
  while (i + 1 < columns && terrain->positions[i + 1].x < cx) ++i;
  const host::Vec3 a = terrain->positions[i], c = terrain->positions[i + 1];
  const double ground = a.y + (c.y - a.y) * (cx - a.x) / (c.x - a.x);
  EXPECT_LE(std::abs(b.min.y - ground), std::abs(c.y - a.y) + 1e-3);
}

// A ring-shaped lot's centre lies in its hole: there is no lot box around it
// to build in, so the lot is skipped rather than built on the street.
TEST(CityRing, ALotWhoseCentreLiesOutsideItIsSkipped) {
  ct::LoadPlugins();
  host::Runtime::Get().ResetScene();
  testsupport::TempDir dir("city-ring");
  testsupport::WorkingDir cwd(dir.path());
  ct::Picture map(80, 80, 100, 100, 100);
  map.Fill(10, 10, 69, 69, 230, 30, 30);
  map.Fill(20, 20, 59, 59, 100, 100, 100);  // the hole, centre (39, 39) in it
  map.WriteBmp(dir.File("m.bmp"));
  const std::string recipe = dir.Write("r.json", R"({"images": ".", "map": "m", "elevation": false, "scale": 3,
    "height": 0, "seed": 1, "zones": [{"name": "z", "rgb": [230, 30, 30], "range": [5, 5, 5],
    "min_pixels": 10, "style": "brick", "floors": [1, 2]}]})");
  const ct::Run run = ct::RaiseCity(recipe);
  ASSERT_TRUE(run.status.Succeeded()) << ct::LastError();
  EXPECT_EQ(run.out.GetAsInt(), 0);
  EXPECT_EQ(host::Runtime::Get().GetScene().Count(), 0u);
}

}  // namespace
