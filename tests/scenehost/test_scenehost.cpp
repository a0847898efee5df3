// scenehost end to end: the built executable with real plug-ins, checked
// through its stdout, stderr, exit status and the files it writes.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <tiny_gltf.h>

#include <sys/stat.h>

#include <array>
#include <cmath>
#include <map>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include "temp_dir.h"
#include "xsi_version.h"

namespace fs = std::filesystem;

extern char** environ;

namespace {

const std::string kHost = std::string(XSI_BINARY_DIR) + "/bin/scenehost";
const std::string kFixtures = std::string(XSI_SOURCE_DIR) + "/tests/scenehost/fixtures";

std::string TestPlugin(const std::string& name) {
  return std::string(XSI_BINARY_DIR) + "/test_plugins/" + name + ".so";
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

using testsupport::TempDir;

struct Result {
  int code = -1;
  std::string out, err;
};

// Runs scenehost with `args` in `cwd`, stdout and stderr into files.
Result RunHost(const std::vector<std::string>& args, const std::string& cwd = "/tmp") {
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

// scenehost with the echo plug-in only.
Result RunEcho(std::vector<std::string> args) {
  args.insert(args.begin(), {"--plugin", TestPlugin("echo_plugin")});
  return RunHost(args);
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::size_t Occurrences(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

}  // namespace

// ---- start-up ----------------------------------------------------------------------

// The HTTP server (and the TLS libraries it brings) is loaded only to serve:
// every other run starts without it. The loader's own trace says what it
// loaded.
TEST(ScenehostStart, TheHttpServerIsLoadedOnlyToServe) {
  ::setenv("LD_DEBUG", "files", 1);
  const Result echo = RunEcho({"echo", "1"});
  const Result view = RunHost({"view", "--help"});
  ::unsetenv("LD_DEBUG");
  EXPECT_EQ(echo.code, 0) << echo.err;
  EXPECT_TRUE(Has(echo.err, "libxsiruntime")) << "no loader trace to read";
  EXPECT_FALSE(Has(echo.err, "libcpp-httplib"));
  EXPECT_FALSE(Has(echo.err, "libssl"));
  EXPECT_EQ(view.code, 0) << view.err;
  EXPECT_TRUE(Has(view.err, "libscenehost_view.so"));
  EXPECT_TRUE(Has(view.err, "libcpp-httplib"));
  EXPECT_TRUE(Has(view.out, "Usage: scenehost view"));
}

// ---- one command ------------------------------------------------------------------

TEST(ScenehostCommand, PrintsTheReturnValueWithWordsTyped) {
  Result r = RunEcho({"echo", "12", "1.5", "true"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "int:12|double:1.5|bool:true\n");
  r = RunEcho({"echo", "two words", "-3", "false"});
  EXPECT_EQ(r.out, "text:two words|int:-3|bool:false\n");
}

TEST(ScenehostCommand, OptionsMayFollowTheCommandWords) {
  TempDir dir;
  std::string log = dir.File("after.log");
  Result r = RunEcho({"echo", "-0.5", "x", "--log", log});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "double:-0.5|text:x|text:dflt\n");
  EXPECT_TRUE(fs::exists(log));
  // After "--" everything is a command word, even what looks like an option.
  r = RunEcho({"echo", "--", "--log"});
  EXPECT_EQ(r.out, "text:--log|int:7|text:dflt\n") << r.err;
}

TEST(ScenehostCommand, MissingTrailingArgumentsGetTheirDefaults) {
  Result r = RunEcho({"echo", "x"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "text:x|int:7|text:dflt\n");
}

TEST(ScenehostCommand, TooManyArgumentsFail) {
  Result r = RunEcho({"echo", "1", "2", "3", "4"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(Has(r.err, "error: echo: too many arguments: got 4, takes 3\n")) << r.err;
}

TEST(ScenehostCommand, VerboseShowsInitOnceBeforeExecuteAndTheUnloadLine) {
  TempDir dir;
  const std::string script = dir.Write("twice.txt", "echo a\necho b\n");
  Result r = RunHost({"--verbose", "--plugin", TestPlugin("echo_plugin"), "--script", script});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "text:a|int:7|text:dflt\ntext:b|int:7|text:dflt\n");
  EXPECT_EQ(Occurrences(r.err, "verbose: echo_Init call 1\n"), 1u) << r.err;
  EXPECT_FALSE(Has(r.err, "echo_Init call 2")) << r.err;
  EXPECT_EQ(Occurrences(r.err, "verbose: echo_Execute after 1 init call(s)\n"), 2u) << r.err;
  EXPECT_LT(r.err.find("echo_Init"), r.err.find("echo_Execute"));
  EXPECT_TRUE(Has(r.err, "verbose: EchoPlugin has been unloaded.\n")) << r.err;
}

TEST(ScenehostCommand, DefaultOutputHidesVerboseLinesButTheLogFileKeepsThem) {
  TempDir dir;
  const std::string log = dir.File("run.log");
  Result r = RunEcho({"--log", log, "echo", "1"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_FALSE(Has(r.err, "verbose:")) << r.err;
  const std::string text = ReadText(log);
  EXPECT_TRUE(Has(text, "verbose: echo_Init call 1\n")) << text;
  EXPECT_TRUE(Has(text, "verbose: EchoPlugin has been unloaded.\n")) << text;
}

TEST(ScenehostCommand, QuietShowsOnlyErrors) {
  Result r = RunEcho({"--quiet", "--verbose", "echo"});
  EXPECT_EQ(r.code, 2) << "--quiet and --verbose exclude each other";
  r = RunEcho({"--quiet", "echo", "1", "2", "3", "4"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "error: echo: too many arguments: got 4, takes 3\n");
}

TEST(ScenehostCommand, FailureWithoutAnErrorLineStillSaysSo) {
  Result r = RunEcho({"quietfail"});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(Has(r.err, "error: quietfail failed\n")) << r.err;
}

TEST(ScenehostCommand, HostCommandsWorkAndFailWithTheirOwnErrors) {
  Result r = RunEcho({"Duplicate", "nothing_here"});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(Has(r.err, "error: ")) << r.err;
  EXPECT_TRUE(Has(r.err, "nothing_here")) << r.err;
  EXPECT_FALSE(Has(r.err, "Duplicate failed")) << "an error was logged already: " << r.err;
}

TEST(ScenehostCommand, ThrowingPluginFailsTheRunWithoutCrashingTheHost) {
  Result r = RunHost({"--plugin", TestPlugin("throwing_plugin"), "explode"});
  EXPECT_EQ(r.code, 1) << r.err;
  EXPECT_TRUE(Has(r.err, "error: ")) << r.err;
  EXPECT_TRUE(Has(r.err, "'Thrower'")) << r.err;
  EXPECT_TRUE(Has(r.err, "explode_Execute threw an exception: boom")) << r.err;
}

TEST(ScenehostCommand, HomeFolderDefaultsToTheSourceTreesHome) {
  Result r = RunEcho({"userpath"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, std::string(XSI_SOURCE_DIR) + "/home\n");
  TempDir elsewhere;
  r = RunEcho({"--home", elsewhere.Path().string(), "userpath"});
  EXPECT_EQ(r.out, elsewhere.Path().string() + "\n");
  // A home that is not there is refused before anything runs.
  r = RunEcho({"--home", "/somewhere/else", "userpath"});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.out, "");
}

// ---- usage errors --------------------------------------------------------------------

TEST(ScenehostUsage, UnknownCommandOptionOrNothingIsStatus2) {
  Result r = RunEcho({"NoSuchCommand"});
  EXPECT_EQ(r.code, 2);
  EXPECT_TRUE(Has(r.err, "error: unknown command 'NoSuchCommand'")) << r.err;
  r = RunHost({"--no-such-option", "echo"});
  EXPECT_EQ(r.code, 2);
  EXPECT_TRUE(Has(r.err, "--no-such-option")) << r.err;
  r = RunHost({});
  EXPECT_EQ(r.code, 2);
  EXPECT_TRUE(Has(r.err, "no command given")) << r.err;
  r = RunHost({"--script"});
  EXPECT_EQ(r.code, 2) << r.err;
}

TEST(ScenehostUsage, UnreadableScriptIsStatus2) {
  Result r = RunEcho({"--script", "/nonexistent/run.txt"});
  EXPECT_EQ(r.code, 2);
  EXPECT_TRUE(Has(r.err, "error: cannot read script '/nonexistent/run.txt'")) << r.err;
  TempDir dir;
  r = RunEcho({"--script", dir.Path().string()});
  EXPECT_EQ(r.code, 2);
  EXPECT_TRUE(Has(r.err, "it is a folder")) << r.err;
}

TEST(ScenehostUsage, ScriptAndCommandTogetherIsStatus2) {
  TempDir dir;
  dir.Write("s.txt", "echo 1\n");
  Result r = RunEcho({"--script", dir.File("s.txt"), "echo", "2"});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.out, "");
}

TEST(ScenehostUsage, VersionAndHelp) {
  Result r = RunHost({"--version"});
  EXPECT_EQ(r.code, 0);
  EXPECT_TRUE(Has(r.out, "scenehost ")) << r.out;
  EXPECT_TRUE(Has(r.out, "\nplug-in SDK " + std::to_string(XSI_SDK_VERSION_MAJOR) + "." +
                             std::to_string(XSI_SDK_VERSION_MINOR) + "\n"))
      << r.out;

  r = RunEcho({"--help"});
  EXPECT_EQ(r.code, 0) << r.err;
  for (const char* option : {"--home", "--plugins", "--plugin", "--script", "--save", "--log",
                             "--trace", "--verbose", "--quiet", "--version"}) {
    EXPECT_TRUE(Has(r.out, option)) << option;
  }
  EXPECT_TRUE(Has(r.out, "  echo first second third\n")) << r.out;
  EXPECT_TRUE(Has(r.out, "EchoPlugin: Returns its arguments")) << r.out;
  EXPECT_TRUE(Has(r.out, "  Translate object x y z mode")) << r.out;
  EXPECT_TRUE(Has(r.out, "  ObjImport path")) << r.out;
  EXPECT_TRUE(Has(r.out, "  SaveScene path")) << r.out;
}

TEST(ScenehostUsage, HelpWithTheDefaultPluginsListsTheProductCommands) {
  const std::string plugins = std::string(XSI_BINARY_DIR) + "/plugins";
  if (!fs::exists(plugins + "/RaiseTower.so")) GTEST_SKIP() << "RaiseTower is not built";
  Result r = RunHost({"--help"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "  RaiseTower buildingname floors unitswidth")) << r.out;
  EXPECT_FALSE(Has(r.out, "  echo ")) << "test plug-ins stay out of the default folder";
}

// ---- plug-in loading -----------------------------------------------------------------

TEST(ScenehostPlugins, BrokenLibrariesAreNamedAndTheGoodOnesStillRun) {
  TempDir dir;
  fs::copy_file(TestPlugin("echo_plugin"), dir.File("echo_plugin.so"));
  fs::copy_file(TestPlugin("no_unload_plugin"), dir.File("no_unload_plugin.so"));
  fs::copy_file(TestPlugin("no_execute_plugin"), dir.File("no_execute_plugin.so"));
  dir.Write("x.so", "this is not a shared library\n");
  Result r = RunHost({"--plugins", dir.Path().string(), "echo", "ok"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "text:ok|int:7|text:dflt\n");
  EXPECT_TRUE(Has(r.err, "error: cannot load plug-in '" + dir.File("x.so") + "'")) << r.err;
  EXPECT_FALSE(Has(r.err, "no_unload_plugin")) << "XSIUnloadPlugin is optional: " << r.err;
  EXPECT_TRUE(Has(r.err, "no_execute_plugin.so") && Has(r.err, "does not export halfdone_Execute"))
      << r.err;

  r = RunHost({"--plugins", dir.Path().string(), "halfdone"});
  EXPECT_EQ(r.code, 2) << "a rejected plug-in's commands are not registered";
}

// A truncated library used to kill the run with SIGBUS inside dlopen, and a
// FIFO to block it for ever.
TEST(ScenehostPlugins, TruncatedOrNonRegularPluginsAreNamedAndTheOthersStillRun) {
  TempDir dir;
  const std::string image = ReadText(TestPlugin("echo_twin"));
  dir.Write("cut.so", image.substr(0, 4000));
  ASSERT_EQ(mkfifo(dir.File("fifo.so").c_str(), 0600), 0);
  fs::copy_file(TestPlugin("echo_plugin"), dir.File("echo_plugin.so"));
  Result r =
      RunHost({"--plugins", dir.Path().string(), "--plugin", dir.File("cut.so"), "echo", "ok"});
  EXPECT_EQ(r.code, 0) << "a plug-in that fails to load does not fail the run: " << r.err;
  EXPECT_EQ(r.out, "text:ok|int:7|text:dflt\n");
  EXPECT_EQ(Occurrences(r.err, "error: cannot load plug-in '" + dir.File("cut.so") +
                                   "': truncated: segment "),
            2u)
      << r.err;
  EXPECT_TRUE(Has(r.err, "error: cannot load plug-in '" + dir.File("fifo.so") +
                             "': it is a FIFO, not a regular file\n"))
      << r.err;
}

TEST(ScenehostPlugins, TakenCommandNameKeepsTheFirstPlugin) {
  Result r = RunHost({"--plugin", TestPlugin("echo_plugin"), "--plugin", TestPlugin("echo_twin"),
                  "echo", "1"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "int:1|int:7|text:dflt\n");
  EXPECT_TRUE(Has(r.err, "EchoTwin")) << r.err;
  EXPECT_TRUE(Has(r.err, "already taken by 'EchoPlugin'")) << r.err;
}

// ---- scripts -------------------------------------------------------------------------

TEST(ScenehostScript, CommentsQuotesAndBlankLines) {
  TempDir dir;
  dir.Write("s.txt",
            "# a comment line\n"
            "\n"
            "echo 'a b' \"c \\\"d\\\"\" 3e2   # trailing comment\n"
            "   \n"
            "echo x\\ y\n");
  Result r = RunEcho({"--script", dir.File("s.txt")});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "text:a b|text:c \"d\"|double:300\ntext:x y|int:7|text:dflt\n");
}

TEST(ScenehostScript, ErrorOnLine3StopsTheScriptAndNamesTheLine) {
  TempDir dir;
  const std::string script =
      dir.Write("script.txt", "echo 1\n# fine so far\necho 1 2 3 4\necho never\n");
  Result r = RunEcho({"--script", script});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "int:1|int:7|text:dflt\n") << "line 4 does not run";
  EXPECT_TRUE(Has(r.err, "error: " + script + ":3: echo: too many arguments: got 4, takes 3"))
      << r.err;
}

TEST(ScenehostScript, MalformedOrUnknownLinesRefuseTheWholeScript) {
  TempDir dir;
  dir.Write("quote.txt", "echo first\necho 'open\n");
  Result r = RunEcho({"--script", dir.File("quote.txt")});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.out, "") << "nothing runs";
  EXPECT_TRUE(Has(r.err, "error: " + dir.File("quote.txt") + ":2: unterminated single quote"))
      << r.err;

  dir.Write("unknown.txt", "echo first\n\nFrobnicate 1\n");
  r = RunEcho({"--script", dir.File("unknown.txt")});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(Has(r.err, ":3: unknown command 'Frobnicate'")) << r.err;
}

TEST(ScenehostScript, ByteOrderMarkAtTheStartIsSkipped) {
  TempDir dir;
  Result r = RunEcho({"--script", dir.Write("bom.txt",
                                            "\xEF\xBB\xBF"
                                            "echo 1\r\necho 2\r\n")});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "int:1|int:7|text:dflt\nint:2|int:7|text:dflt\n");
}

TEST(ScenehostScript, NulByteRefusesTheWholeScriptNamingTheLine) {
  TempDir dir;
  const std::string script = dir.Write("nul.txt", std::string("echo 1\necho a\0b\n", 15));
  Result r = RunEcho({"--script", script});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.out, "") << "nothing runs";
  EXPECT_EQ(r.err,
            "error: " + script + ":2: the line holds a NUL byte (column 7); a script is text\n");
}

// Reading used to take any size: /dev/zero grew without end.
TEST(ScenehostScript, NonRegularOrOversizedScriptsAreRefusedUnread) {
  TempDir dir;
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
  Result r = RunEcho({"--script", dir.File("fifo")});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.err, "error: cannot read script '" + dir.File("fifo") +
                       "': it is a FIFO, not a regular file\n");
  r = RunEcho({"--script", "/dev/zero"});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(
      r.err,
      "error: cannot read script '/dev/zero': it is a character device, not a regular file\n");

  // Sparse files: 16 MiB is read (and its one long line refused), a byte more is not.
  const std::uintmax_t limit = std::uintmax_t{16} << 20;
  dir.Write("limit.txt", "");
  fs::resize_file(dir.File("limit.txt"), limit);
  r = RunEcho({"--script", dir.File("limit.txt")});
  EXPECT_EQ(r.code, 2);
  EXPECT_TRUE(
      Has(r.err, "limit.txt:1: the line is 16777216 bytes long; a line may hold at most 1048576\n"))
      << r.err;
  dir.Write("over.txt", "");
  fs::resize_file(dir.File("over.txt"), limit + 1);
  r = RunEcho({"--script", dir.File("over.txt")});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.err, "error: cannot read script '" + dir.File("over.txt") +
                       "': it is larger than 16 MiB, the limit for a script\n");
}

// Errors used to echo a whole line of any length, control bytes and all.
TEST(ScenehostScript, EchoedWordsAreCutAndEscaped) {
  TempDir dir;
  const std::string word = "Bad\a\x1b[2J\xff" + std::string(100000, 'x');
  Result r = RunEcho({"--script", dir.Write("long.txt", "echo 1\n" + word + " arg\n")});
  EXPECT_EQ(r.code, 2);
  EXPECT_TRUE(Has(r.err, ":2: unknown command 'Bad\\x07\\x1B[2J\\xFFxxx")) << r.err.substr(0, 300);
  EXPECT_TRUE(Has(r.err, "x... (99818 more bytes)' (scenehost --help lists the commands)\n"))
      << r.err.substr(0, 400);
  EXPECT_LT(r.err.size(), 400u);
  for (char c : r.err.substr(0, r.err.size() - 1)) EXPECT_GE(static_cast<unsigned char>(c), 0x20);

  r = RunEcho({"Duplicate", "a\nb\x1b"});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(Has(r.err, "a\\nb\\x1B")) << "log lines are escaped too: " << r.err;
}

TEST(ScenehostScript, TraceAndSaveAfterAFailureWritesNothing) {
  TempDir dir;
  dir.Write("s.txt", "echo 1\nquietfail\n");
  const std::string glb = dir.File("out.glb");
  Result r = RunEcho({"--trace", "--save", glb, "--script", dir.File("s.txt")});
  EXPECT_EQ(r.code, 1);
  EXPECT_FALSE(fs::exists(glb)) << "a failed run does not save";
  EXPECT_TRUE(Has(r.err, "cmd echo(")) << "the journal: " << r.err;
  EXPECT_TRUE(Has(r.err, "cmd quietfail(")) << r.err;
}

// ---- a real scene ----------------------------------------------------------------------

namespace {

struct Box {
  double min[3] = {1e300, 1e300, 1e300};
  double max[3] = {-1e300, -1e300, -1e300};
  double Centre(int axis) const { return (min[axis] + max[axis]) * 0.5; }
};

// World-space box of every mesh node (translation-only nodes, as written).
std::map<std::string, Box> MeshBoxes(const tinygltf::Model& model) {
  std::map<std::string, Box> boxes;
  for (const tinygltf::Node& node : model.nodes) {
    if (node.mesh < 0) continue;
    double t[3] = {0, 0, 0};
    if (node.translation.size() == 3) {
      for (int i = 0; i < 3; ++i) t[i] = node.translation[i];
    }
    if (node.matrix.size() == 16) {
      for (int i = 0; i < 3; ++i) t[i] = node.matrix[12 + i];
    }
    Box& box = boxes[node.name];
    for (const tinygltf::Primitive& prim : model.meshes[node.mesh].primitives) {
      auto pos = prim.attributes.find("POSITION");
      if (pos == prim.attributes.end()) continue;
      const tinygltf::Accessor& acc = model.accessors[pos->second];
      if (acc.minValues.size() != 3 || acc.maxValues.size() != 3) continue;
      for (int i = 0; i < 3; ++i) {
        box.min[i] = std::min(box.min[i], acc.minValues[i] + t[i]);
        box.max[i] = std::max(box.max[i], acc.maxValues[i] + t[i]);
      }
    }
  }
  return boxes;
}

}  // namespace

TEST(ScenehostScene, ImportDuplicateTranslateSaveGivesThreeMeshesInPlace) {
  TempDir dir;
  const std::string obj = kFixtures + "/cube.obj";
  const std::string glb = dir.File("three cubes.glb");
  dir.Write("scene.txt",
            "# one cube and two moved copies\n"
            "ObjImport '" +
                obj +
                "' 1 0 false false false false\n"
                "Duplicate cube\n"
                "Duplicate cube\n"
                "Translate cube1 10 0 0 1 8 1 2\n"
                "Translate cube2 0 -4.5 2 1 8 1 2\n"
                "SaveScene \"" +
                glb + "\"\n");
  Result r = RunEcho({"--script", dir.File("scene.txt")});
  ASSERT_EQ(r.code, 0) << r.err;

  tinygltf::TinyGLTF loader;
  tinygltf::Model model;
  std::string err, warn;
  ASSERT_TRUE(loader.LoadBinaryFromFile(&model, &err, &warn, glb)) << err;
  EXPECT_EQ(model.meshes.size(), 3u);
  auto boxes = MeshBoxes(model);
  ASSERT_EQ(boxes.size(), 3u);
  const std::map<std::string, std::array<double, 3>> expected = {
      {"cube", {0.5, 0.5, 0.5}}, {"cube1", {10.5, 0.5, 0.5}}, {"cube2", {0.5, -4.0, 2.5}}};
  for (const auto& [name, centre] : expected) {
    ASSERT_TRUE(boxes.count(name)) << name;
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(boxes[name].Centre(i), centre[i], 1e-5) << name << i;
    EXPECT_NEAR(boxes[name].max[0] - boxes[name].min[0], 1.0, 1e-5) << name << " keeps its size";
  }
}

TEST(ScenehostScene, SaveOptionWritesTheSceneAfterTheCommand) {
  TempDir dir;
  const std::string out = dir.File("one.glb");
  Result r = RunEcho({"--save", out, "ObjImport", kFixtures + "/cube.obj"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "cube\n") << "ObjImport returns the new object";
  tinygltf::TinyGLTF loader;
  tinygltf::Model model;
  std::string err, warn;
  ASSERT_TRUE(loader.LoadBinaryFromFile(&model, &err, &warn, out)) << err;
  EXPECT_EQ(model.meshes.size(), 1u);
}
