// RaiseRegion through the real runtime: the bundled town map cut into tiles
// of two sizes raises the same town as RaiseCity, twice the same bytes, a
// tileset whose boxes nest and whose errors fall towards the leaves, and
// errors that fail before writing or name the lot.
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <tuple>

#include "city_test_util.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

const std::string kTownRecipe = XSI_SOURCE_DIR "/examples/city/town.json";

// The bundled town's recipe as a region recipe, written beside `out`.
std::string RegionRecipe(const std::string& folder, long tile, long halo, bool compress = true) {
  std::ifstream in(kTownRecipe);
  json r = json::parse(in);
  r["images"] = XSI_SOURCE_DIR "/examples/images";
  r["tile"] = tile;
  r["halo"] = halo;
  r["out"] = "out";
  r["compress"] = compress;
  const std::string path = folder + "/region_" + std::to_string(tile) + "_" + std::to_string(halo) + ".json";
  std::ofstream(path) << r.dump(1);
  return path;
}

ct::Run RaiseRegion(const std::vector<std::string>& words) {
  XSI::CValueArray a;
  for (const std::string& w : words) a.Add(XSI::CString::FromUtf8(w));
  ct::Run r;
  r.status = XSI::Application().ExecuteCommand(L"RaiseRegion", a, r.out);
  return r;
}

json ReadJson(const fs::path& p) {
  std::ifstream in(p);
  return json::parse(in);
}

std::string Bytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// (floors, centre X, centre Z, ground) of every building, rounded to mm.
using Key = std::tuple<int, long, long, long>;
long Mm(double v) { return std::lround(v * 1000); }

std::multiset<Key> RegionBuildings(const fs::path& out) {
  std::multiset<Key> s;
  for (const auto& e : fs::directory_iterator(out / "tiles" / "0")) {
    if (e.path().extension() != ".json") continue;
    const json summary = ReadJson(e.path());
    for (const json& b : summary["buildings"]) {
      const double cy = b["centre"][1].get<double>(), h = b["size"][1].get<double>();
      s.insert(Key{b["floors"].get<int>(), Mm(b["centre"][0].get<double>()), Mm(b["centre"][2].get<double>()),
                   Mm(cy - h / 2)});
    }
  }
  return s;
}

class RegionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ct::LoadPlugins();
    host::Runtime::Get().ResetScene();
  }
  std::string Dir() const { return dir_.path().string(); }
  testsupport::TempDir dir_{"city-region"};
  testsupport::WorkingDir cwd_{dir_.path()};
};

TEST_F(RegionTest, TiledEqualsUntiledAndRaiseCity) {
  const std::string small = RegionRecipe(Dir(), 128, 64), whole = RegionRecipe(Dir(), 512, 64);
  ASSERT_TRUE(RaiseRegion({small}).status.Succeeded()) << ct::LastError();
  fs::rename(Dir() + "/out", Dir() + "/out128");
  ASSERT_TRUE(RaiseRegion({whole}).status.Succeeded()) << ct::LastError();
  // The scene is as it was after every job.
  EXPECT_TRUE(host::Runtime::Get().GetScene().Objects().empty());
  const auto tiled = RegionBuildings(Dir() + "/out128"), one = RegionBuildings(Dir() + "/out");
  EXPECT_GT(tiled.size(), 40u);
  EXPECT_EQ(tiled, one);

  // RaiseCity on the same maps: the same floors (from each building's
  // height), centres and ground.
  ASSERT_TRUE(ct::RaiseCity(kTownRecipe).status.Succeeded()) << ct::LastError();
  std::multiset<Key> city;
  for (host::SceneObject* o : host::Runtime::Get().GetScene().Objects()) {
    const std::string name = o->name.GetUtf8String();
    if (name == "terrain") continue;
    const host::Bounds b = ct::WorldBounds(o->name.GetWideString());
    const int floors = static_cast<int>(std::lround((b.max.y - b.min.y - 1.5) / 14.0));
    city.insert(Key{floors, Mm((b.min.x + b.max.x) / 2), Mm((b.min.z + b.max.z) / 2), Mm(b.min.y)});
  }
  ASSERT_EQ(city.size(), one.size());
  // Floors and centres agree exactly; the bounds of a mesh are float, so
  // compare the set after rounding each centre to the centimetre.
  auto cm = [](const std::multiset<Key>& s) {
    std::multiset<Key> r;
    for (const Key& k : s)
      r.insert(Key{std::get<0>(k), std::lround(std::get<1>(k) / 10.0), std::lround(std::get<2>(k) / 10.0),
                   std::lround(std::get<3>(k) / 10.0)});
    return r;
  };
  EXPECT_EQ(cm(city), cm(one));
}

TEST_F(RegionTest, TwoRunsWriteTheSameBytesAndAResumedRunBuildsNothing) {
  const std::string recipe = RegionRecipe(Dir(), 256, 64);
  ASSERT_TRUE(RaiseRegion({recipe}).status.Succeeded()) << ct::LastError();
  std::map<std::string, std::string> first;
  for (const auto& e : fs::recursive_directory_iterator(Dir() + "/out"))
    if (e.is_regular_file()) first[fs::relative(e.path(), Dir() + "/out").string()] = Bytes(e.path());
  EXPECT_TRUE(first.count("tileset.json"));
  EXPECT_TRUE(first.count("tiles/0/1_1.glb"));
  EXPECT_TRUE(first.count("tiles/1/0_0.glb"));
  // Every tile is current: nothing is built again.
  const ct::Run again = RaiseRegion({recipe});
  ASSERT_TRUE(again.status.Succeeded());
  EXPECT_EQ(json::parse(again.out.GetAsText().GetUtf8String())["built"], 0);
  // Forced, everything is rebuilt, to the same bytes.
  ASSERT_TRUE(RaiseRegion({recipe, "force"}).status.Succeeded());
  std::map<std::string, std::string> second;
  for (const auto& e : fs::recursive_directory_iterator(Dir() + "/out"))
    if (e.is_regular_file()) second[fs::relative(e.path(), Dir() + "/out").string()] = Bytes(e.path());
  EXPECT_EQ(first.size(), second.size());
  for (const auto& [name, bytes] : first) EXPECT_TRUE(second[name] == bytes) << name;
}

// Checks the rules a 3D Tiles validator checks that matter here.
void CheckTile(const json& t, const fs::path& out, const json* parent, int& contents) {
  const auto box = t["boundingVolume"]["box"];
  ASSERT_EQ(box.size(), 12u);
  auto lo = [&](const json& b, int i) { return b[i].get<double>() - std::fabs(b[3 + 4 * i].get<double>()); };
  auto hi = [&](const json& b, int i) { return b[i].get<double>() + std::fabs(b[3 + 4 * i].get<double>()); };
  if (parent) {
    const auto pbox = (*parent)["boundingVolume"]["box"];
    for (int i = 0; i < 3; ++i) {
      EXPECT_GE(lo(box, i), lo(pbox, i) - 1e-6);
      EXPECT_LE(hi(box, i), hi(pbox, i) + 1e-6);
    }
    EXPECT_LE(t["geometricError"].get<double>(), (*parent)["geometricError"].get<double>());
  }
  if (t.contains("content")) {
    ++contents;
    EXPECT_TRUE(fs::is_regular_file(out / t["content"]["uri"].get<std::string>())) << t["content"]["uri"];
  }
  if (!t.contains("children")) {
    EXPECT_EQ(t["geometricError"].get<double>(), 0.0);
    return;
  }
  EXPECT_GT(t["geometricError"].get<double>(), 0.0);
  for (const json& c : t["children"]) CheckTile(c, out, &t, contents);
}

TEST_F(RegionTest, TheTilesetNestsAndEveryUriResolves) {
  const std::string recipe = RegionRecipe(Dir(), 128, 64, false);
  ASSERT_TRUE(RaiseRegion({recipe}).status.Succeeded()) << ct::LastError();
  const fs::path out = Dir() + "/out";
  const json ts = ReadJson(out / "tileset.json");
  EXPECT_EQ(ts["asset"]["version"], "1.1");
  EXPECT_EQ(ts["root"]["refine"], "REPLACE");
  EXPECT_FALSE(ts["root"].contains("transform"));  // a BMP map has no place on Earth
  int contents = 0;
  CheckTile(ts["root"], out, nullptr, contents);
  EXPECT_EQ(contents, 16 + 4 + 1);
  // Each leaf's content lies inside its box: the summary's bounds are the
  // written positions'.
  const json s = ReadJson(out / "tiles/0/2_1.json");
  ASSERT_FALSE(s["contents"].empty());
  EXPECT_GT(s["raised"].get<long>(), 0);
}

TEST_F(RegionTest, TileJobsAndTheFinalStepMakeTheSameRegion) {
  const std::string recipe = RegionRecipe(Dir(), 256, 64);
  // The final step before the tiles names what is missing.
  EXPECT_FALSE(RaiseRegion({recipe, "tileset"}).status.Succeeded());
  EXPECT_NE(ct::LastError().find("tile 0 0"), std::string::npos) << ct::LastError();
  const json plan = json::parse(RaiseRegion({recipe, "plan"}).out.GetAsText().GetUtf8String());
  ASSERT_EQ(plan["tiles"].size(), 4u);
  for (const json& t : plan["tiles"])
    ASSERT_TRUE(RaiseRegion({recipe, "tile", std::to_string(t[0].get<long>()), std::to_string(t[1].get<long>())})
                    .status.Succeeded())
        << ct::LastError();
  ASSERT_TRUE(RaiseRegion({recipe, "tileset"}).status.Succeeded()) << ct::LastError();
  const std::string pieces = Bytes(Dir() + "/out/tileset.json");
  fs::rename(Dir() + "/out", Dir() + "/pieces");
  ASSERT_TRUE(RaiseRegion({recipe}).status.Succeeded());
  EXPECT_EQ(Bytes(Dir() + "/out/tileset.json"), pieces);
  EXPECT_EQ(Bytes(Dir() + "/out/tiles/0/1_0.glb"), Bytes(Dir() + "/pieces/tiles/0/1_0.glb"));
}

TEST_F(RegionTest, ALotWiderThanTheHaloFailsNamingTheLot) {
  // 96-pixel tiles cut the map's 64-pixel blocks, so lots cross tile edges.
  const std::string recipe = RegionRecipe(Dir(), 96, 4);
  const ct::Run run = RaiseRegion({recipe});
  EXPECT_FALSE(run.status.Succeeded());
  const std::string e = ct::LastError();
  EXPECT_NE(e.find("a lot of zone '"), std::string::npos) << e;
  EXPECT_NE(e.find("set \"halo\" (now 4)"), std::string::npos) << e;
  EXPECT_TRUE(host::Runtime::Get().GetScene().Objects().empty());
}

TEST_F(RegionTest, ARecipeErrorFailsBeforeAnyFileIsWritten) {
  std::ifstream in(kTownRecipe);
  json r = json::parse(in);
  r["images"] = XSI_SOURCE_DIR "/examples/images";
  r["halo"] = 64;
  r["out"] = "out";
  r["tile"] = 8;  // below the smallest tile
  std::ofstream(Dir() + "/bad.json") << r.dump();
  EXPECT_FALSE(RaiseRegion({Dir() + "/bad.json"}).status.Succeeded());
  EXPECT_NE(ct::LastError().find("key 'tile'"), std::string::npos) << ct::LastError();
  r["tile"] = 128;
  r["zones"][0]["style"] = "stone";
  std::ofstream(Dir() + "/bad.json") << r.dump();
  EXPECT_FALSE(RaiseRegion({Dir() + "/bad.json"}).status.Succeeded());
  EXPECT_FALSE(RaiseRegion({Dir() + "/bad.json", "tile", "9", "0"}).status.Succeeded());
  EXPECT_FALSE(fs::exists(Dir() + "/out"));
  // A town recipe refuses the tiling keys.
  EXPECT_FALSE(ct::RaiseCity(Dir() + "/bad.json").status.Succeeded());
  EXPECT_NE(ct::LastError().find("unknown key"), std::string::npos) << ct::LastError();
}

}  // namespace
