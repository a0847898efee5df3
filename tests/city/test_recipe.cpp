// Recipe reading: every key checked for presence, type and range, errors that
// name the file, the zone and the key, and files that are not recipes.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

#include "recipe.h"
#include "temp_dir.h"

namespace {

const std::string kGood = R"({"images": "imgs", "map": "map", "elevation": true, "scale": 2, "height": 40,
  "seed": -3, "zones": [
  {"name": "red", "rgb": [230, 30, 30], "range": [20, 20, 20], "min_pixels": 20, "style": "brick", "floors": [2, 6]},
  {"name": "blue", "rgb": [60, 100, 210], "range": [20, 20, 20], "min_pixels": 20, "style": "glass",
   "floors": [4, 4], "entrance": "B"}]})";

std::string Error(const std::string& text) {
  city::Recipe r;
  std::string error;
  EXPECT_FALSE(city::ParseRecipe(text, "dir/town.json", r, error)) << text;
  return error;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

TEST(Recipe, AGoodRecipeReadsWithPathsAgainstItsFolder) {
  city::Recipe r;
  std::string error;
  ASSERT_TRUE(city::ParseRecipe(kGood, "dir/town.json", r, error)) << error;
  EXPECT_EQ(r.MapPath(), "dir/imgs/map.bmp");
  EXPECT_EQ(r.ElevationPath(), "dir/imgs/map_elevation.bmp");
  EXPECT_EQ(r.seed, std::uint64_t(-3));
  ASSERT_EQ(r.zones.size(), 2u);
  EXPECT_EQ(r.zones[0].entrance, 'A');
  EXPECT_EQ(r.zones[1].entrance, 'B');
  EXPECT_EQ(r.zones[0].floorsMax, 6);
  ASSERT_TRUE(city::ParseRecipe(Replace(kGood, "\"imgs\"", "\"/abs/imgs/\""), "dir/town.json", r, error));
  EXPECT_EQ(r.MapPath(), "/abs/imgs/map.bmp");
}

TEST(Recipe, WrongKeysAreNamedWithTheirZone) {
  const std::string p = "recipe 'dir/town.json': ";
  EXPECT_EQ(Error(Replace(kGood, "\"floors\": [4, 4]", "\"floors\": [5, 3]")),
            p + "zone 2 ('blue'): key 'floors': min 5 is greater than max 3");
  EXPECT_EQ(Error(Replace(kGood, "\"min_pixels\": 20, \"style\": \"brick\"", "\"style\": \"brick\"")),
            p + "zone 1 ('red'): key 'min_pixels' is missing");
  EXPECT_EQ(Error(Replace(kGood, "\"entrance\": \"B\"", "\"entrance\": \"E\"")),
            p + "zone 2 ('blue'): key 'entrance': must be \"A\", \"B\", \"C\" or \"D\", got \"E\"");
  EXPECT_EQ(Error(Replace(kGood, "[230, 30, 30]", "[230, 30, 300]")),
            p + "zone 1 ('red'): key 'rgb': must lie in 0..255, got 300");
  EXPECT_EQ(Error(Replace(kGood, "[230, 30, 30]", "[230, 30]")),
            p + "zone 1 ('red'): key 'rgb': must be a list of three whole numbers 0..255, got [230,30]");
  EXPECT_EQ(Error(Replace(kGood, "\"style\": \"glass\"", "\"style\": \"../x\"")),
            p + "zone 2 ('blue'): key 'style': holds '..'");
  EXPECT_EQ(Error(Replace(kGood, "\"name\": \"blue\"", "\"name\": \"red\"")),
            p + "zone 2 ('red'): key 'name': another zone has the same name");
  EXPECT_EQ(Error(Replace(kGood, "\"name\": \"blue\"", "\"name\": \"a,b\"")),
            p + "zone 2 ('a,b'): key 'name': holds a comma");
  // The host's one object name rule: a C1 control used to pass here and
  // fail late, at the first building of the zone.
  EXPECT_EQ(Error(Replace(kGood, "\"name\": \"blue\"", "\"name\": \"a\\u0085b\"")),
            p + "zone 2 ('a\u0085b'): key 'name': holds the control character U+0085");
  EXPECT_EQ(Error(Replace(kGood, "\"name\": \"blue\"", "\"name\": \"blue\\u00a0\"")),
            p + "zone 2 ('blue\u00a0'): key 'name': begins or ends with white space (U+00A0)");
  EXPECT_EQ(Error(Replace(kGood, "\"floors\": [2, 6]", "\"floors\": [2, 6], \"floor\": 3")),
            p + "zone 1 ('red'): unknown key 'floor'");
  EXPECT_EQ(Error(Replace(kGood, "\"floors\": [2, 6]", "\"floors\": [0, 6]")),
            p + "zone 1 ('red'): key 'floors': must lie in 1..200, got 0");
  EXPECT_EQ(Error(Replace(kGood, "\"floors\": [2, 6]", "\"floors\": [2.5, 6]")),
            p + "zone 1 ('red'): key 'floors': must be a whole number, got 2.5");
  EXPECT_EQ(Error(Replace(kGood, "{\"name\": \"red\", ", "{")), p + "zone 1: key 'name' is missing");
}

TEST(Recipe, WrongTopLevelKeysAreNamed) {
  const std::string p = "recipe 'dir/town.json': ";
  EXPECT_EQ(Error(Replace(kGood, "\"scale\": 2", "\"scale\": 0")),
            p + "key 'scale': must be a number > 0 and at most 1e9, got 0");
  EXPECT_EQ(Error(Replace(kGood, "\"height\": 40", "\"height\": -1")),
            p + "key 'height': must be a number >= 0 and at most 1e9, got -1");
  EXPECT_EQ(Error(Replace(kGood, "\"elevation\": true", "\"elevation\": 1")),
            p + "key 'elevation': must be true or false, got 1");
  EXPECT_EQ(Error(Replace(kGood, "\"seed\": -3", "\"seed\": \"x\"")), p + "key 'seed': must be a whole number, got \"x\"");
  EXPECT_EQ(Error(Replace(kGood, "\"map\": \"map\", ", "")), p + "key 'map' is missing");
  EXPECT_EQ(Error(Replace(kGood, "\"map\": \"map\"", "\"map\": 3")), p + "key 'map': must be text, got number");
  EXPECT_EQ(Error("[]"), p + "must hold a JSON object, got array");
  EXPECT_EQ(Error(R"({"images": "i", "map": "m", "elevation": false, "scale": 1, "height": 0, "seed": 1, "zones": []})"),
            p + "key 'zones': must be a non-empty list of zones, got []");
  EXPECT_NE(Error("{\"images\": ").find(p + "not valid JSON: "), std::string::npos);
}

// A recipe's numbers are JSON numbers: text that spells one is refused, and
// so is a number beyond double's range, named.
TEST(Recipe, NumbersAreJsonNumbersAndFinite) {
  const std::string p = "recipe 'dir/town.json': ";
  for (const char* text : {"\"0x10\"", "\"2,5\"", "\" 3 \"", "\"+4\"", "\"nan\"", "\"1e400\""}) {
    EXPECT_EQ(Error(Replace(kGood, "\"scale\": 2", std::string("\"scale\": ") + text)),
              p + "key 'scale': must be a number, got string") << text;
    EXPECT_EQ(Error(Replace(kGood, "\"min_pixels\": 20, \"style\": \"brick\"",
                            std::string("\"min_pixels\": ") + text + ", \"style\": \"brick\"")),
              p + "zone 1 ('red'): key 'min_pixels': must be a whole number, got " + text) << text;
  }
  EXPECT_NE(Error(Replace(kGood, "\"height\": 40", "\"height\": 1e400")).find("overflow parsing '1e400'"),
            std::string::npos);
  EXPECT_NE(Error(Replace(kGood, "\"height\": 40", "\"height\": -1e400")).find("overflow parsing '-1e400'"),
            std::string::npos);
  // Hexadecimal and NaN are not JSON at all.
  EXPECT_NE(Error(Replace(kGood, "\"height\": 40", "\"height\": 0x10")).find(p + "not valid JSON: "),
            std::string::npos);
  EXPECT_NE(Error(Replace(kGood, "\"height\": 40", "\"height\": NaN")).find(p + "not valid JSON: "),
            std::string::npos);
  city::Recipe r;
  std::string error;
  ASSERT_TRUE(city::ParseRecipe(Replace(kGood, "\"scale\": 2", "\"scale\": 2.5e0"), "dir/town.json", r, error))
      << error;
  EXPECT_EQ(r.scale, 2.5);
}

TEST(Recipe, OnlyRegularFilesOfModestSizeAreRead) {
  testsupport::TempDir dir;
  city::Recipe r;
  std::string error;
  EXPECT_FALSE(city::ReadRecipe(dir.File("none.json"), r, error));
  EXPECT_EQ(error, "cannot read recipe '" + dir.File("none.json") + "': No such file or directory");
  EXPECT_FALSE(city::ReadRecipe(dir.path().string(), r, error));
  EXPECT_EQ(error, "cannot read recipe '" + dir.path().string() + "': it is not a regular file");
  ASSERT_EQ(::mkfifo(dir.File("fifo.json").c_str(), 0600), 0);
  EXPECT_FALSE(city::ReadRecipe(dir.File("fifo.json"), r, error));  // must not block
  EXPECT_NE(error.find("not a regular file"), std::string::npos);
  const std::string big = dir.Write("big.json", std::string(city::kMaxRecipeBytes + 1, ' '));
  EXPECT_FALSE(city::ReadRecipe(big, r, error));
  EXPECT_NE(error.find("a recipe may hold at most"), std::string::npos) << error;
  EXPECT_TRUE(city::ReadRecipe(dir.Write("good.json", kGood), r, error)) << error;
  EXPECT_EQ(r.imagesPath, dir.path().string() + "/imgs/");
}

}  // namespace
