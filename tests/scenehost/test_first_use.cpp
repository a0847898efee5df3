// What a new user meets first, end to end through the built scenehost with
// the product's plug-ins: options checked before anything runs, one clear
// error for a wrong style or missing arguments, warnings for runs that can
// only come out empty, and help for command names.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fcntl.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace fs = std::filesystem;

extern char** environ;

namespace {

const std::string kHost = std::string(XSI_BINARY_DIR) + "/bin/scenehost";
const std::string kSource = XSI_SOURCE_DIR;
const std::string kImages = kSource + "/examples/images/";

using testsupport::TempDir;

struct Result {
  int code = -1;
  std::string out, err;
};

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs scenehost with `args` in `cwd` (blobs.bmp and relative outputs land
// there), stdout and stderr into files.
Result RunIn(const std::vector<std::string>& args, const std::string& cwd) {
  TempDir io;
  const std::string outPath = io.File("out"), errPath = io.File("err");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  std::vector<std::string> all{kHost};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  Result r;
  if (posix_spawn(&pid, kHost.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  r.out = ReadText(outPath);
  r.err = ReadText(errPath);
  return r;
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::size_t Lines(const std::string& text, const std::string& start) {
  std::size_t n = 0;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind(start, 0) == 0) ++n;
  return n;
}

class FirstUse : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(std::string(XSI_BINARY_DIR) + "/plugins/RaiseTower.so") ||
        !fs::exists(std::string(XSI_BINARY_DIR) + "/plugins/findSpots.so") ||
        !fs::exists(std::string(XSI_BINARY_DIR) + "/plugins/RaiseCity.so"))
      GTEST_SKIP() << "the product plug-ins are not built";
  }
  Result Host(const std::vector<std::string>& args) { return RunIn(args, dir.Path().string()); }
  TempDir dir;
};

const std::vector<std::string> kTower = {"RaiseTower", "Tower", "2", "1", "1", "brick", "A", "1"};

std::vector<std::string> Tower(std::vector<std::string> more) {
  std::vector<std::string> words = kTower;
  words.insert(words.end(), more.begin(), more.end());
  return words;
}

}  // namespace

// ---- options checked before any command runs ------------------------------------

TEST_F(FirstUse, SaveHomeAndPreviewAreCheckedBeforeTheCommandRuns) {
  struct Case {
    std::vector<std::string> options;
    std::string error;
  } cases[] = {
      {{"--save", "city.fbx"}, "error: --save: 'city.fbx' must end in .obj or .glb (not '.fbx')\n"},
      {{"--save", "city"}, "error: --save: 'city' must end in .obj or .glb\n"},
      {{"--save", "/nonexistent/dir/city.glb"},
       "error: --save: cannot write '/nonexistent/dir/city.glb': the folder '/nonexistent/dir' does not exist\n"},
      {{"--save", "plain.txt/city.glb"}, "'plain.txt' is not a folder"},
      {{"--save", "taken.glb"}, "'taken.glb' is a folder"},
      {{"--save", "dangling.glb"}, "'dangling.glb' is a link to a missing file"},
      {{"--preview", "/nonexistent/dir/t.png"}, "error: --preview: cannot write '/nonexistent/dir/t.png'"},
      {{"--home", "/nope"}, "error: --home: the folder '/nope' does not exist\n"},
      {{"--home", "plain.txt"}, "error: --home: 'plain.txt' is not a folder\n"},
  };
  dir.Write("plain.txt", "x");
  fs::create_directory(dir.Path() / "taken.glb");
  fs::create_symlink(dir.Path() / "gone.glb", dir.Path() / "dangling.glb");
  for (const Case& c : cases) {
    const Result r = Host(Tower(c.options));
    EXPECT_EQ(r.code, 2) << c.options[1] << ": " << r.err;
    EXPECT_TRUE(Has(r.err, c.error)) << r.err;
    EXPECT_EQ(r.out, "") << "RaiseTower did not run: " << c.options[1];
  }
  // The checks refuse nothing that saves: any case of the extension, a
  // relative name in the current folder, a link to a file elsewhere.
  fs::create_directory(dir.Path() / "elsewhere");
  dir.Write("elsewhere/real.glb", "old");
  fs::create_symlink(dir.Path() / "elsewhere" / "real.glb", dir.Path() / "link.glb");
  for (const std::string save : {"T.GLB", "t.Obj", "link.glb"}) {
    const Result r = Host(Tower({"--save", save}));
    EXPECT_EQ(r.code, 0) << save << ": " << r.err;
  }
  EXPECT_TRUE(fs::is_regular_file(dir.Path() / "T.GLB"));
  EXPECT_GT(fs::file_size(dir.Path() / "elsewhere" / "real.glb"), 3u) << "written through the link";
  EXPECT_TRUE(fs::is_symlink(dir.Path() / "link.glb"));
}

// ---- RaiseTower: the style and the entrance ---------------------------------------------

TEST_F(FirstUse, AMissingStyleIsOneErrorWithTheRealPathAndTheStylesThere) {
  Result r = Host({"RaiseTower", "Tower", "5", "4", "3", "stone", "A", "1"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err,
            "error: RaiseTower: cannot build with style 'stone': the units library '" + kSource +
                "/home/builder/objs/' has no unit of that style; the styles it holds: 'brick', 'glass'\n");

  // A home of our own: brick lacks its roof unit, so no style is complete.
  const fs::path objs = dir.Path() / "home" / "builder" / "objs";
  fs::create_directories(objs);
  for (const auto& entry : fs::directory_iterator(kSource + "/home/builder/objs")) {
    const std::string name = entry.path().filename().string();
    if (Has(name, "brick") && name != "p1900_roofbrick.obj") fs::copy_file(entry.path(), objs / name);
  }
  r = Host({"--home", (dir.Path() / "home").string(), "RaiseTower", "T", "1", "1", "1", "brick", "A", "1"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(Lines(r.err, "error:"), 1u) << r.err;
  EXPECT_TRUE(Has(r.err, "the units library '" + objs.string() +
                             "/' lacks p1900_roofbrick.obj; it holds no complete style\n"))
      << r.err;

  r = Host({"--home", dir.Path().string(), "RaiseTower", "T", "1", "1", "1", "brick", "A", "1"});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(Has(r.err, "the units library '" + dir.Path().string() + "/builder/objs/' is not a folder"))
      << r.err;
}

TEST_F(FirstUse, AnEntranceOutsideAToDWarnsAndStillBuilds) {
  for (const std::string face : {"c", "E", "AB"}) {
    const Result r = Host({"RaiseTower", "Tower", "1", "2", "2", "brick", face, "1"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "true\n");
    EXPECT_TRUE(Has(r.err, "warning: RaiseTower: building 'Tower' gets no entrance: entrance face '" + face +
                               "' is not one of A, B, C, D"))
        << r.err;
  }
  Result r = Host({"RaiseTower", "Tower", "1", "2", "2", "brick", "B", "7"});
  EXPECT_TRUE(Has(r.err, "entrance position 7 is not one of 0 (last)")) << r.err;
  r = Host({"RaiseTower", "Tower", "1", "2", "2", "brick", "D", "3"});
  EXPECT_EQ(r.err, "") << "a good entrance warns of nothing";
}

// ---- findSpots ---------------------------------------------------------------------------

TEST_F(FirstUse, FindSpotsSaysWhatArgumentsItTakes) {
  Result r = Host({"findSpots"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err,
            "error: findSpots: takes 13 arguments, got 0: missing IMAGESPATH, imageName, minBlobSize, useRGB, "
            "channelRed, channelGreen, channelBlue, rangeR, rangeG, rangeB, luminanceValue, luminanceRange, "
            "withelevation (scenehost help findSpots describes them)\n");
  EXPECT_FALSE(fs::exists(dir.Path() / "blobs.bmp"));

  // The picture is named: the rest read as before, with a warning.
  r = Host({"findSpots", kImages, "map", "20"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(Has(r.err, "warning: findSpots: takes 13 arguments, got 3: missing useRGB, channelRed")) << r.err;
  EXPECT_TRUE(Has(r.err, "withelevation; they read as 0 and false\n")) << r.err;
}

TEST_F(FirstUse, AnImagesFolderWithoutItsSlashGetsAHint) {
  const std::string folder = kSource + "/examples/images";
  Result r = Host({"findSpots", folder, "map", "20", "true", "0.9", "0.1", "0.1", "0.05", "0.05", "0.05", "0", "0",
                   "true"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(Lines(r.err, "error:"), 1u) << r.err;
  EXPECT_TRUE(Has(r.err, "cannot load image '" + folder + "map.bmp': no such file. IMAGESPATH '" + folder +
                             "' is a folder without its trailing '/'"))
      << r.err;
  EXPECT_TRUE(Has(r.err, "give '" + folder + "/' to read '" + folder + "/map.bmp'")) << r.err;
  // A name that is not there either: no hint, the plain load error.
  r = Host({"findSpots", folder, "nothere", "20", "true", "0.9", "0.1", "0.1", "0.05", "0.05", "0.05", "0", "0",
            "false"});
  EXPECT_EQ(r.code, 1);
  EXPECT_FALSE(Has(r.err, "trailing '/'")) << r.err;
}

TEST_F(FirstUse, ThresholdsNoPixelCanMeetKeepTheEmptyResultAndWarn) {
  struct Case {
    std::vector<std::string> settings;  // useRGB, three centres, three half-widths, luminance and range
    std::string warning;
  } cases[] = {
      {{"true", "230", "30", "30", "12", "12", "12", "0", "0"},
       "the red range 230 +- 12 lies outside 0..1, the scale of the colour components (a value on the 0..255 "
       "scale? divide it by 255)"},
      {{"true", "0.5", "0.5", "-0.5", "0.1", "0.1", "0.2", "0", "0"}, "the blue range -0.5 +- 0.2 lies outside 0..1"},
      {{"true", "0.5", "0.5", "0.5", "0.1", "-0.1", "0.1", "0", "0"},
       "the green range 0.5 +- -0.1 has a negative half-width"},
      {{"false", "0", "0", "0", "0", "0", "0", "0.5", "0.1"},
       "the luminance range 0.5 +- 0.1 lies outside 0..1/3, the luminance of black to white"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> words = {"findSpots", kImages, "map", "20"};
    words.insert(words.end(), c.settings.begin(), c.settings.end());
    words.push_back("false");
    const Result r = Host(words);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "\n") << "the result stays the empty text";
    EXPECT_TRUE(Has(r.err, "warning: findSpots: no pixel can be picked, so no blob is found: " + c.warning)) << r.err;
  }
  // The README's example finds lots and warns of nothing.
  const Result r = Host({"findSpots", kImages, "map", "20", "true", "0.9", "0.1", "0.1", "0.05", "0.05", "0.05",
                         "0", "0", "true"});
  EXPECT_EQ(r.code, 0);
  EXPECT_TRUE(Has(r.out, "0,27,27,49,49,104#")) << r.out;
  EXPECT_EQ(r.err, "");
}

// ---- RaiseCity: nothing to raise ---------------------------------------------------------------

TEST_F(FirstUse, ACityThatRaisesNothingSaysWhy) {
  auto recipe = [&](const std::string& scale, const std::string& rgb) {
    return dir.Write("town.json", "{\"images\": \"" + kImages + "\", \"map\": \"map\", \"elevation\": false, "
                                  "\"scale\": " + scale + ", \"height\": 60, \"seed\": 1, \"zones\": [{\"name\": "
                                  "\"shops\", \"rgb\": " + rgb + ", \"range\": [12, 12, 12], \"min_pixels\": 20, "
                                  "\"style\": \"brick\", \"floors\": [1, 2]}]}");
  };
  Result r = Host({"RaiseCity", recipe("0.1", "[230, 30, 30]")});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "0\n");
  EXPECT_TRUE(Has(r.err, "warning: RaiseCity: no building will be raised: none of the 61 lot(s) is big enough "
                         "for a 1 x 1 footprint at scale 0.1: a building needs a lot about 270 pixels across"))
      << r.err;
  r = Host({"RaiseCity", recipe("2", "[1, 2, 3]")});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(Has(r.err, "warning: RaiseCity: no building will be raised: findSpots found no lot of any zone's "
                         "colour in map '" + kImages + "map.bmp'"))
      << r.err;
}

// The progress caption names the recipe's file, not its whole path: a long
// path would be cut short on a terminal line.
TEST_F(FirstUse, TheCityProgressCaptionNamesTheRecipeFile) {
  const std::string recipe = dir.Write("town.json", "{\"images\": \"" + kImages + "\", \"map\": \"map\", "
                                       "\"elevation\": false, \"scale\": 2, \"height\": 60, \"seed\": 1, "
                                       "\"zones\": [{\"name\": \"shops\", \"rgb\": [230, 30, 30], \"range\": [12, 12, 12], "
                                       "\"min_pixels\": 20, \"style\": \"brick\", \"floors\": [1, 1]}]}");
  Result r = Host({"RaiseCity", recipe});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(Has(r.err, "info: RaiseCity town.json: ")) << r.err;
  EXPECT_FALSE(Has(r.err, "RaiseCity " + recipe)) << r.err;
}

// ---- command names and help --------------------------------------------------------------------

TEST_F(FirstUse, AMistypedCommandGetsTheNearestName) {
  struct Case {
    std::string typed, hint;
  } cases[] = {
      {"raisetower", "(did you mean RaiseTower? scenehost --help lists the commands)"},
      {"RaiseTowr", "(did you mean RaiseTower? "},
      {"findspot", "(did you mean findSpots? "},
      {"Transalte", "(did you mean Translate? "},
      {"xyzzy", ""},
  };
  for (const Case& c : cases) {
    const Result r = Host({c.typed, "x"});
    EXPECT_EQ(r.code, 2) << c.typed;
    if (c.typed == "xyzzy") {
      EXPECT_FALSE(Has(r.err, "did you mean")) << r.err;
    } else {
      EXPECT_TRUE(Has(r.err, "error: unknown command '" + c.typed + "' " + c.hint)) << r.err;
    }
  }
  dir.Write("run.txt", "ObjImport x\nDuplicat cube\n");
  const Result r = Host({"--script", "run.txt"});
  EXPECT_EQ(r.code, 2);
  EXPECT_TRUE(Has(r.err, "run.txt:2: unknown command 'Duplicat' (did you mean Duplicate? ")) << r.err;
}

TEST_F(FirstUse, HelpForOneCommandShowsItsArgumentsAndAnExampleThatWorks) {
  const Result help = Host({"help", "RaiseTower"});
  EXPECT_EQ(help.code, 0) << help.err;
  EXPECT_TRUE(Has(help.out, "RaiseTower (from HouseSmith): Create a building from a units library\n")) << help.out;
  EXPECT_TRUE(Has(help.out, "\nUsage: scenehost RaiseTower buildingname floors unitswidth unitslength type")) << help.out;
  EXPECT_TRUE(Has(help.out, "  5  entranceface      A, B, C or D")) << help.out;
  EXPECT_EQ(Host({"RaiseTower", "--help"}).out, help.out);
  EXPECT_EQ(Host({"--help", "RaiseTower", "x", "5"}).out, help.out) << "arguments after the name are ignored";

  const Result unknown = Host({"help", "RaiseTowr"});
  EXPECT_EQ(unknown.code, 2);
  EXPECT_TRUE(Has(unknown.err, "did you mean RaiseTower?")) << unknown.err;
  const Result all = Host({"help"});
  EXPECT_EQ(all.code, 0);
  EXPECT_TRUE(Has(all.out, "Commands (host and plug-in)")) << "help alone is --help";

  // Each example runs as shown, from the repository's top folder (RaiseCity
  // raises the whole town, too slow here: the city tests cover it).
  fs::create_directory_symlink(kSource + "/examples", dir.Path() / "examples");
  for (const std::string command :
       {"RaiseTower", "findSpots", "ObjImport", "Duplicate", "Translate", "SaveScene", "CreateHeightField",
        "CreateImageClip"}) {
    const Result r = Host({"help", command});
    const std::size_t at = r.out.find("Example: scenehost ");
    ASSERT_NE(at, std::string::npos) << command << ": " << r.out;
    std::string line = r.out.substr(at + 19, r.out.find('\n', at) - at - 19);
    line = line.substr(0, line.find("   ("));  // a note on the line
    std::istringstream words(line);
    std::vector<std::string> args{std::istream_iterator<std::string>(words), {}};
    const Result ran = Host(args);
    EXPECT_EQ(ran.code, 0) << command << ": " << line << "\n" << ran.err;
  }
}
