// scenehost's progress lines and Ctrl-C, end to end: the built executable
// with a test plug-in that loops on a ProgressBar and sends itself SIGINT
// the way a user's Ctrl-C would arrive.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
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
const std::string kPlugin = std::string(XSI_BINARY_DIR) + "/test_plugins/progress_plugin.so";

using testsupport::TempDir;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

struct Result {
  int code = -1;      // exit status, when it exited
  int signal = 0;     // the signal that ended it, when one did
  std::string out, err;
};

// Runs scenehost with the progress plug-in; stderr is a file, not a
// terminal, so progress shows as log lines.
Result RunHost(std::vector<std::string> args, bool ignoreInterrupt = false) {
  TempDir io;
  const std::string outPath = io.File("out"), errPath = io.File("err");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  // SIGINT starts at its default action, or ignored as a shell starts a
  // background job; an ignored disposition is inherited across exec.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t interrupt;
  sigemptyset(&interrupt);
  sigaddset(&interrupt, SIGINT);
  struct sigaction ignore {}, previous {};
  ignore.sa_handler = SIG_IGN;
  if (ignoreInterrupt) {
    sigaction(SIGINT, &ignore, &previous);
  } else {
    posix_spawnattr_setsigdefault(&attr, &interrupt);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
  }
  args.insert(args.begin(), {kHost, "--plugin", kPlugin});
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  Result r;
  const int spawned = posix_spawn(&pid, kHost.c_str(), &actions, &attr, argv.data(), environ);
  if (spawned == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) r.code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) r.signal = WTERMSIG(status);
  }
  if (ignoreInterrupt) sigaction(SIGINT, &previous, nullptr);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  r.out = ReadText(outPath);
  r.err = ReadText(errPath);
  return r;
}

// Runs scenehost with stderr on a pseudo-terminal; returns what it drew
// there. The terminal is read while the process runs so it never blocks.
std::string RunOnTerminal(std::vector<std::string> args, int& code, const std::string& term = "xterm") {
  code = -1;
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return "no pty";
  const std::string slave = ptsname(master);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, slave.c_str(), O_RDWR | O_NOCTTY, 0);
  args.insert(args.begin(), {kHost, "--plugin", kPlugin});
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  // Whatever terminal the tests run under, this one can clear a line.
  std::vector<std::string> env{"TERM=" + term};
  for (char** e = environ; *e; ++e)
    if (std::string(*e).rfind("TERM=", 0) != 0) env.emplace_back(*e);
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid = 0;
  std::string drawn;
  if (posix_spawn(&pid, kHost.c_str(), &actions, nullptr, argv.data(), envp.data()) == 0) {
    char buffer[4096];
    int status = 0;
    for (;;) {
      pollfd fd{master, POLLIN, 0};
      if (poll(&fd, 1, 50) > 0 && (fd.revents & POLLIN)) {
        const ssize_t got = read(master, buffer, sizeof buffer);
        if (got > 0) {
          drawn.append(buffer, static_cast<std::size_t>(got));
          continue;
        }
      }
      if (waitpid(pid, &status, WNOHANG) == pid) break;
    }
    if (WIFEXITED(status)) code = WEXITSTATUS(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  close(master);
  return drawn;
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::size_t Occurrences(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

std::string WriteScript(TempDir& dir, const std::string& text) {
  const std::string path = dir.File("run.txt");
  std::ofstream(path) << text;
  return path;
}

}  // namespace

TEST(ScenehostProgress, NonTerminalStderrGetsOneLinePerTenth) {
  Result r = RunHost({"progressloop", "50"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "50\n");
  for (int tenth = 1; tenth <= 10; ++tenth) {
    const std::string line = "info: progressloop 50: " + std::to_string(tenth * 10) + "% (" +
                             std::to_string(tenth * 5) + " of 50)\n";
    EXPECT_EQ(Occurrences(r.err, line), 1u) << line << r.err;
  }
  EXPECT_FALSE(Has(r.err, ": 0%")) << r.err;
  EXPECT_FALSE(Has(r.err, "\r")) << "no bar drawn on a file";
}

TEST(ScenehostProgress, QuietKeepsTheLinesForTheLogFileOnly) {
  TempDir dir;
  const std::string log = dir.File("run.log");
  Result r = RunHost({"--quiet", "--log", log, "progressloop", "10"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const std::string text = ReadText(log);
  EXPECT_TRUE(Has(text, "info: progressloop 10: 10% (1 of 10)\n")) << text;
  EXPECT_TRUE(Has(text, "info: progressloop 10: 100% (10 of 10)\n")) << text;
}

TEST(ScenehostProgress, CtrlCStopsTheRunWithoutSavingAndExits130) {
  TempDir dir;
  const std::string script = WriteScript(dir, "progressloop 100 35\nprogressloop 7\n");
  const std::string save = dir.File("city.glb");
  Result r = RunHost({"--script", script, "--save", save});
  EXPECT_EQ(r.code, 130) << r.err;
  EXPECT_TRUE(Has(r.err, "cancelled: progressloop stopped; the scene is as it was before it"))
      << r.err;
  EXPECT_TRUE(Has(r.err, "--save skipped")) << r.err;
  EXPECT_FALSE(fs::exists(save));
  // Progress up to the stop was reported, and nothing after it ran.
  EXPECT_TRUE(Has(r.err, "progressloop 100: 30% (30 of 100)")) << r.err;
  EXPECT_FALSE(Has(r.err, "40%")) << r.err;
  EXPECT_FALSE(Has(r.err, "progressloop 7:")) << r.err;
  EXPECT_EQ(r.out, "");
}

TEST(ScenehostProgress, ACommandThatIgnoresCancelStillEndsTheRun) {
  TempDir dir;
  const std::string script = WriteScript(dir, "progressloop 20 5 1 false\nprogressloop 7\n");
  Result r = RunHost({"--script", script});
  EXPECT_EQ(r.code, 130) << r.err;
  EXPECT_EQ(r.out, "20\n") << "the command ran to its end";
  EXPECT_TRUE(Has(r.err, "cancelled: stopped after progressloop")) << r.err;
  EXPECT_FALSE(Has(r.err, "progressloop 7:")) << r.err;
}

TEST(ScenehostProgress, SecondCtrlCEndsTheProcess) {
  Result r = RunHost({"progressloop", "20", "5", "2", "false"});
  EXPECT_EQ(r.signal, SIGINT) << "exit " << r.code << ": " << r.err;
}

TEST(ScenehostProgress, InterruptIgnoredAtStartStaysIgnored) {
  Result r = RunHost({"progressloop", "20", "5", "2"}, /*ignoreInterrupt=*/true);
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "20\n");
}

TEST(ScenehostProgress, TerminalStderrGetsABarThatIsClearedAtTheEnd) {
  int code = -1;
  const std::string drawn = RunOnTerminal({"progressloop", "40"}, code);
  if (drawn == "no pty") GTEST_SKIP() << "this machine gives no pseudo-terminal";
  EXPECT_EQ(code, 0) << drawn;
  EXPECT_TRUE(Has(drawn, "\r\033[Kprogressloop 40 [")) << drawn;
  EXPECT_TRUE(Has(drawn, "0/40   0%  -- left")) << drawn;
  // The bar is the last thing drawn, and it is cleared.
  const std::size_t end = drawn.size() >= 4 ? drawn.size() - 4 : 0;
  EXPECT_EQ(drawn.substr(end), "\r\033[K") << drawn;
  EXPECT_FALSE(Has(drawn, "info: progressloop 40: 10%")) << "no tenth lines beside a bar";
}

TEST(ScenehostProgress, ADumbTerminalGetsLinesInsteadOfABar) {
  int code = -1;
  const std::string drawn = RunOnTerminal({"progressloop", "10"}, code, "dumb");
  if (drawn == "no pty") GTEST_SKIP() << "this machine gives no pseudo-terminal";
  EXPECT_EQ(code, 0) << drawn;
  EXPECT_FALSE(Has(drawn, "\033[K")) << drawn;
  EXPECT_TRUE(Has(drawn, "info: progressloop 10: 50% (5 of 10)")) << drawn;
}
