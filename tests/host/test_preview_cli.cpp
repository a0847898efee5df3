// scenehost --preview: rendered after the commands (and after --save), its
// options checked before anything runs, and a missing EGL driver reported
// as an error naming the package, never a crash.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "temp_dir.h"

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int status = -1;  // exit status, or -1 when killed by a signal
  std::string output;
};

// Runs scenehost with `args` (shell words) and the environment prefix `env`,
// with no display; stdout and stderr together.
Outcome Scenehost(const std::string& args, const std::string& env = "") {
  const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY " + env + " '" XSI_BINARY_DIR
                              "/bin/scenehost' " + args + " 2>&1";
  Outcome run;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.output.append(buffer, n);
  const int raw = pclose(pipe);
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return run;
}

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

// Width and height from the PNG header.
std::pair<int, int> PngSize(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  unsigned char h[24] = {};
  in.read(reinterpret_cast<char*>(h), sizeof h);
  if (!in || h[1] != 'P' || h[2] != 'N' || h[3] != 'G') return {0, 0};
  auto be = [&](int at) { return (h[at] << 24) | (h[at + 1] << 16) | (h[at + 2] << 8) | h[at + 3]; };
  return {be(16), be(20)};
}

const std::string kTower = "RaiseTower Tower 2 2 2 brick A 1";

TEST(ScenehostPreview, RendersAfterTheCommandsAndAfterSave) {
  testsupport::TempDir dir;
  const std::string png = dir.File("tower.png"), glb = dir.File("tower.glb");
  Outcome run = Scenehost(kTower + " --preview " + Quoted(png));
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(PngSize(png), std::make_pair(800, 600));
  run = Scenehost("--save " + Quoted(glb) + " --preview " + Quoted(png) +
                  " --preview-size 160x90 --view back " + kTower);
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(fs::exists(glb));
  EXPECT_EQ(PngSize(png), std::make_pair(160, 90));
}

TEST(ScenehostPreview, BadOptionsAreUsageErrorsBeforeAnythingRuns) {
  testsupport::TempDir dir;
  const std::string png = dir.File("x.png"), glb = dir.File("x.glb");
  const std::string base = kTower + " --save " + Quoted(glb) + " --preview " + Quoted(png);
  struct Case {
    const char* options;
    const char* named;
  };
  for (const Case& c : {Case{"--preview-size 0x600", "'0x600'"}, Case{"--preview-size 800x8193", "height 8193"},
                        Case{"--preview-size big", "'big'"}, Case{"--view sideways", "'sideways'"}}) {
    const Outcome run = Scenehost(base + " " + c.options);
    EXPECT_EQ(run.status, 2) << c.options << "\n" << run.output;
    EXPECT_NE(run.output.find(c.named), std::string::npos) << run.output;
    EXPECT_FALSE(fs::exists(glb)) << c.options;
    EXPECT_FALSE(fs::exists(png)) << c.options;
  }
  const std::string jpg = dir.File("x.jpg");
  Outcome run = Scenehost(kTower + " --save " + Quoted(glb) + " --preview " + Quoted(jpg));
  EXPECT_EQ(run.status, 2) << run.output;
  EXPECT_NE(run.output.find("x.jpg' must end in .png"), std::string::npos) << run.output;
  EXPECT_FALSE(fs::exists(glb));
  run = Scenehost(kTower + " --view top");
  EXPECT_EQ(run.status, 2) << run.output;
  EXPECT_NE(run.output.find("need --preview"), std::string::npos) << run.output;
}

TEST(ScenehostPreview, FailedCommandRendersNothing) {
  testsupport::TempDir dir;
  const std::string png = dir.File("x.png");
  const Outcome run = Scenehost("RaiseTower T 0 2 2 brick A 1 --preview " + Quoted(png));
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_FALSE(fs::exists(png));
}

// Without Mesa's EGL vendor library, or without its DRI driver, the run
// fails with the packages to install; it does not crash.
TEST(ScenehostPreview, MissingEglDriverNamesThePackages) {
  testsupport::TempDir dir;
  const std::string png = dir.File("x.png");
  for (const char* env : {"__EGL_VENDOR_LIBRARY_FILENAMES=/nonexistent/vendor.json",
                          "LIBGL_DRIVERS_PATH=/nonexistent GALLIUM_DRIVER=llvmpipe"}) {
    const Outcome run = Scenehost(kTower + " --preview " + Quoted(png), env);
    EXPECT_EQ(run.status, 1) << env << "\n" << run.output;
    EXPECT_NE(run.output.find("cannot render preview"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("install libegl-mesa0 and libgl1-mesa-dri"), std::string::npos) << run.output;
    EXPECT_FALSE(fs::exists(png)) << env;
  }
}

}  // namespace
