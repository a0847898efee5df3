// Progress and Ctrl-C for the long product runs, end to end: a big
// RaiseTower reports a step per storey, a big save a step per MiB, small
// ones stay quiet, and a Ctrl-C in either leaves the scene and the files as
// they were. The Ctrl-C is sent once stderr shows the run under way.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace fs = std::filesystem;

extern char** environ;

namespace {

const std::string kHost = std::string(XSI_BINARY_DIR) + "/bin/scenehost";

using testsupport::TempDir;

struct Result {
  int code = -1;
  std::string out, err;
  bool interrupted = false;  // the Ctrl-C was sent
};

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs scenehost in `cwd` with stderr on a pipe (not a terminal: progress
// comes as log lines). When `interruptAt` is not empty, sends SIGINT once
// stderr holds that text.
Result RunIn(std::vector<std::string> args, const std::string& cwd, const std::string& interruptAt = "") {
  TempDir io;
  const std::string outPath = io.File("out");
  int pipeFds[2];
  Result r;
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return r;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
  posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t interrupt;
  sigemptyset(&interrupt);
  sigaddset(&interrupt, SIGINT);
  posix_spawnattr_setsigdefault(&attr, &interrupt);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
  args.insert(args.begin(), kHost);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, kHost.c_str(), &actions, &attr, argv.data(), environ);
  close(pipeFds[1]);
  if (spawned == 0) {
    char buffer[4096];
    for (;;) {
      const ssize_t got = read(pipeFds[0], buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      r.err.append(buffer, static_cast<std::size_t>(got));
      if (!interruptAt.empty() && !r.interrupted && r.err.find(interruptAt) != std::string::npos) {
        kill(pid, SIGINT);
        r.interrupted = true;
      }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  close(pipeFds[0]);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  r.out = ReadText(outPath);
  return r;
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class LongRun : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(std::string(XSI_BINARY_DIR) + "/plugins/RaiseTower.so"))
      GTEST_SKIP() << "RaiseTower is not built";
  }
  Result Host(const std::vector<std::string>& args, const std::string& interruptAt = "") {
    return RunIn(args, dir.Path().string(), interruptAt);
  }
  // Files in the folder other than `keep`: a cancelled write leaves none.
  std::vector<std::string> Others(const std::string& keep) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.Path()))
      if (e.path().filename() != keep) names.push_back(e.path().filename().string());
    return names;
  }
  TempDir dir;
};

// 201 storeys and a roof of 121 units each: about 24,000 units and a
// 100 MiB .glb, seconds of work.
const std::vector<std::string> kBig = {"RaiseTower", "Big", "200", "30", "30", "glass", "A", "1"};

std::vector<std::string> With(std::vector<std::string> words, const std::vector<std::string>& more) {
  words.insert(words.end(), more.begin(), more.end());
  return words;
}

}  // namespace

TEST_F(LongRun, BigTowersAndSavesReportProgressSmallOnesStayQuiet) {
  Result r = Host(With(kBig, {"--save", "big.glb"}));
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "true\n");
  EXPECT_TRUE(Has(r.err, "info: RaiseTower Big: 10% (21 of 201)\n")) << r.err;
  EXPECT_TRUE(Has(r.err, "info: RaiseTower Big: 100% (201 of 201)\n")) << r.err;
  EXPECT_TRUE(Has(r.err, "info: SaveScene big.glb: 10% (")) << r.err;
  EXPECT_TRUE(Has(r.err, "info: SaveScene big.glb: 100% (")) << r.err;
  EXPECT_GT(fs::file_size(dir.Path() / "big.glb"), std::uintmax_t{64} << 20);

  r = Host({"RaiseTower", "Tower", "5", "4", "3", "brick", "A", "1", "--save", "tower.glb"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "") << "a five-storey tower and its 450 kB file show no progress";
}

TEST_F(LongRun, CtrlCDuringABigTowerUndoesItAndSkipsTheSave) {
  const Result r = Host(With(kBig, {"--save", "big.glb"}), "info: RaiseTower Big: 10%");
  ASSERT_TRUE(r.interrupted) << r.err;
  EXPECT_EQ(r.code, 130) << r.err;
  EXPECT_TRUE(Has(r.err, "error: cancelled: RaiseTower stopped; the scene is as it was before it\n")) << r.err;
  EXPECT_TRUE(Has(r.err, "error: --save skipped")) << r.err;
  EXPECT_FALSE(Has(r.err, "100% (201 of 201)")) << "stopped between storeys: " << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(Others("").empty()) << "nothing written";
}

TEST_F(LongRun, CtrlCDuringABigSaveKeepsTheOldFile) {
  dir.Write("big.glb", "the old file");
  const Result r = Host(With(kBig, {"--save", "big.glb"}), "info: SaveScene big.glb: 10%");
  ASSERT_TRUE(r.interrupted) << r.err;
  EXPECT_EQ(r.code, 130) << r.err;
  EXPECT_TRUE(Has(r.err, "error: --save: cancelled: SaveScene stopped; nothing was written\n")) << r.err;
  EXPECT_FALSE(Has(r.err, "cannot write")) << "a cancel is no write error: " << r.err;
  EXPECT_EQ(ReadText(dir.Path() / "big.glb"), "the old file");
  EXPECT_TRUE(Others("big.glb").empty()) << "no temporary file left";
}
