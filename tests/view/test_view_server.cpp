// `scenehost view` without a browser: a real scenehost serving on
// 127.0.0.1, asked over real TCP connections with hand-written requests, so
// that what reaches the server is exactly what an attacker could send.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "temp_dir.h"
#include "view_paths.h"

namespace fs = std::filesystem;
extern char** environ;

namespace {

using scenehost::view::CheckRequestTarget;
using scenehost::view::MimeTypeFor;
using testsupport::TempDir;

const std::string kHost = std::string(XSI_BINARY_DIR) + "/bin/scenehost";

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// ---- the path check alone ------------------------------------------------------------

TEST(ViewTarget, PlainPathsSplitIntoDecodedLevels) {
  auto c = CheckRequestTarget("/data/tiles/0%201.glb?v=2#top");
  ASSERT_TRUE(c.ok) << c.reason;
  EXPECT_EQ(c.segments, (std::vector<std::string>{"data", "tiles", "0 1.glb"}));
  c = CheckRequestTarget("/");
  ASSERT_TRUE(c.ok);
  EXPECT_TRUE(c.segments.empty());
  c = CheckRequestTarget("/data/caf%C3%A9+x.json");
  ASSERT_TRUE(c.ok);
  EXPECT_EQ(c.segments.back(), "caf\xC3\xA9+x.json");
  c = CheckRequestTarget("/data/a..b.glb");  // dots inside a name are a name
  EXPECT_TRUE(c.ok);
}

TEST(ViewTarget, TraversalInEveryDisguiseIsRefused) {
  for (const char* target :
       {"/data/../secret", "/..", "/data/%2e%2e/secret", "/data/%2E%2e/secret", "/data/.%2e/x",
        "/data/%2e%2e%2fsecret", "/data/a%2f..%2f..%2fetc%2fpasswd", "/data/a%5c..%5cx",
        "/data/..\\x", "//etc/passwd", "/data//etc/passwd", "/%2fetc/passwd", "/data/./x",
        "/data/.git/config", "/data/%00x", "/data/a%0ab", "/data/%", "/data/%2", "/data/%zz",
        "http://127.0.0.1/etc/passwd", "*", "", "etc/passwd"}) {
    const auto c = CheckRequestTarget(target);
    EXPECT_FALSE(c.ok) << target;
    EXPECT_EQ(c.status, 400) << target;
    EXPECT_FALSE(c.reason.empty()) << target;
  }
}

TEST(ViewTarget, FoldersAreNeverListed) {
  for (const char* target : {"/data/", "/data/tiles/", "/viewer/"}) {
    const auto c = CheckRequestTarget(target);
    EXPECT_FALSE(c.ok) << target;
    EXPECT_EQ(c.status, 404) << target;
  }
}

TEST(ViewTarget, MimeTypesFollowTheExtension) {
  EXPECT_STREQ(MimeTypeFor("tower.glb"), "model/gltf-binary");
  EXPECT_STREQ(MimeTypeFor("TOWER.GLB"), "model/gltf-binary");
  EXPECT_STREQ(MimeTypeFor("tileset.json"), "application/json");
  EXPECT_STREQ(MimeTypeFor("viewer.js"), "text/javascript");
  EXPECT_STREQ(MimeTypeFor("index.html"), "text/html; charset=utf-8");
  EXPECT_STREQ(MimeTypeFor("a.gltf"), "model/gltf+json");
  EXPECT_STREQ(MimeTypeFor("data.bin"), "application/octet-stream");
  EXPECT_STREQ(MimeTypeFor("glb"), "application/octet-stream");
  EXPECT_STREQ(MimeTypeFor("noext"), "application/octet-stream");
}

// ---- a real server ------------------------------------------------------------------

struct Response {
  int status = 0;
  std::string head, body;
  std::string Header(const std::string& name) const {
    std::smatch m;
    const std::regex re("\r\n" + name + ": ([^\r]*)", std::regex::icase);
    return std::regex_search(head, m, re) ? m[1].str() : "";
  }
};

// One request on a fresh connection, as written; reads to the end.
Response Send(int port, const std::string& request) {
  Response r;
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return r;
  }
  (void)!write(fd, request.data(), request.size());
  std::string all;
  char buf[65536];
  pollfd p{fd, POLLIN, 0};
  while (poll(&p, 1, 10000) > 0) {
    const ssize_t got = read(fd, buf, sizeof buf);
    if (got <= 0) break;
    all.append(buf, static_cast<std::size_t>(got));
  }
  close(fd);
  const std::size_t end = all.find("\r\n\r\n");
  if (end == std::string::npos) return r;
  r.head = all.substr(0, end + 2);
  r.body = all.substr(end + 4);
  if (r.head.size() > 12) r.status = std::atoi(r.head.c_str() + 9);
  return r;
}

Response Request(int port, const std::string& method, const std::string& target,
                 const std::string& host = "") {
  const std::string h = host.empty() ? "127.0.0.1:" + std::to_string(port) : host;
  return Send(port, method + " " + target + " HTTP/1.1\r\nHost: " + h + "\r\nConnection: close\r\n\r\n");
}

// scenehost view, started and read until it prints its URL; stopped with
// Ctrl-C (SIGINT) when the object goes.
class Viewer {
 public:
  explicit Viewer(std::vector<std::string> args, const std::string& host = kHost) {
    errPath_ = io_.File("err");
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    args.insert(args.begin(), {host, "view"});
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, host.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    // The first line names the URL; an error ends the process instead.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    char c;
    pollfd p{out[0], POLLIN, 0};
    while (std::chrono::steady_clock::now() < deadline && poll(&p, 1, 200) >= 0) {
      if (!(p.revents & (POLLIN | POLLHUP))) continue;
      if (read(out[0], &c, 1) != 1) break;
      if (c == '\n') break;
      out_ += c;
    }
    close(out[0]);
    std::smatch m;
    if (std::regex_search(out_, m, std::regex("http://[^ ]*:([0-9]+)/$"))) port_ = std::stoi(m[1]);
  }
  ~Viewer() { Stop(); }

  int port() const { return port_; }
  const std::string& line() const { return out_; }
  std::string err() const { return ReadText(errPath_); }

  // Ctrl-C; returns the exit status.
  int Stop() {
    if (pid_ <= 0) return status_;
    if (port_ > 0) kill(pid_, SIGINT);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid_, SIGKILL);  // it did not stop: the test fails on the status
        waitpid(pid_, &status, 0);
        break;
      }
      usleep(20000);
    }
    pid_ = -1;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return status_;
  }

 private:
  TempDir io_;
  std::string errPath_, out_;
  pid_t pid_ = -1;
  int port_ = 0;
  int status_ = -1;
};

// A tileset folder with a sub-folder, a hidden file, a link inside, links
// leading out, a FIFO, and a secret beside the folder.
struct Served {
  TempDir dir{"xsi-view"};
  fs::path root = dir.path() / "tiles";
  Served() {
    fs::create_directories(root / "sub");
    fs::create_directories(root / ".git");
    std::ofstream(root / "tileset.json") << R"({"asset":{"version":"1.1"}})";
    std::ofstream(root / "sub" / "0.glb", std::ios::binary) << std::string("glTF\x02\0\0\0", 8) << "rest";
    std::ofstream(root / "sub" / "a b.bin") << "bytes";
    std::ofstream(root / ".git" / "config") << "hidden";
    std::ofstream(dir.path() / "secret.txt") << "SECRET";
    fs::create_symlink("sub/0.glb", root / "inside.glb");
    fs::create_symlink(dir.path() / "secret.txt", root / "outside.json");
    fs::create_symlink("..", root / "up");
    mkfifo((root / "pipe.json").c_str(), 0644);
  }
};

bool ViewerBuilt() { return fs::exists(fs::path(XSI_BINARY_DIR) / "bin/viewer/viewer.js"); }

#define REQUIRE_VIEWER()                                                                   \
  if (!ViewerBuilt()) GTEST_SKIP() << "the viewer page is not built (viewer/node_modules missing)"

TEST(ViewServer, ServesTheTilesetItsPageAndNothingElse) {
  REQUIRE_VIEWER();
  Served s;
  Viewer v({s.root.string(), "--port", "0"});
  ASSERT_GT(v.port(), 0) << v.line() << v.err();
  EXPECT_TRUE(Has(v.line(), "http://127.0.0.1:" + std::to_string(v.port()) + "/")) << v.line();
  const int port = v.port();

  struct Case {
    const char* target;
    int status;
    const char* type;
  } cases[] = {
      {"/", 200, "text/html; charset=utf-8"},
      {"/viewer.js", 200, "text/javascript"},
      {"/view.json", 200, "application/json"},
      {"/data/tileset.json", 200, "application/json"},
      {"/data/sub/0.glb", 200, "model/gltf-binary"},
      {"/data/sub/a%20b.bin", 200, "application/octet-stream"},
      {"/data/inside.glb", 200, "model/gltf-binary"},  // a link that stays inside
      {"/data/missing.glb", 404, nullptr},
      {"/data/sub", 404, nullptr},       // a folder, asked without a slash
      {"/data/sub/", 404, nullptr},      // or with one: never listed
      {"/data/", 404, nullptr},
      {"/data/pipe.json", 404, nullptr},  // a FIFO is not a file to serve
      {"/index.html/", 404, nullptr},
      {"/CMakeCache.txt", 404, nullptr},  // nothing else of the page's folder
      {"/data/outside.json", 403, nullptr},
      {"/data/up/secret.txt", 403, nullptr},
      {"/data/../secret.txt", 400, nullptr},
      {"/data/%2e%2e/secret.txt", 400, nullptr},
      {"/data/%2E%2E%2Fsecret.txt", 400, nullptr},
      {"/data/sub%2f..%2f..%2fsecret.txt", 400, nullptr},
      {"/data/.git/config", 400, nullptr},
      {"//etc/passwd", 400, nullptr},
      {"/data//etc/passwd", 400, nullptr},
      {"/data/%2fetc%2fpasswd", 400, nullptr},
  };
  for (const Case& c : cases) {
    const Response r = Request(port, "GET", c.target);
    EXPECT_EQ(r.status, c.status) << c.target << "\n" << r.head;
    EXPECT_FALSE(Has(r.body, "SECRET")) << c.target;
    EXPECT_FALSE(Has(r.body, "root:x:0:0")) << c.target;
    if (c.type) {
      EXPECT_EQ(r.Header("Content-Type"), c.type) << c.target;
    }
    if (r.status == 200) {
      EXPECT_EQ(r.Header("Content-Length"), std::to_string(r.body.size())) << c.target;
    }
  }
  EXPECT_EQ(Request(port, "GET", "/data/tileset.json").body, R"({"asset":{"version":"1.1"}})");
  EXPECT_EQ(Request(port, "GET", "/view.json").body,
            R"({"kind":"tileset","url":"data/tileset.json","name":"tiles"})");
  // Refusals are logged, one line each, naming the target.
  EXPECT_TRUE(Has(v.err(), "403 for GET /data/outside.json: a link leads outside the served folder"))
      << v.err();
  EXPECT_EQ(v.Stop(), 0) << v.err();
  EXPECT_TRUE(Has(v.err(), "stopped"));
}

TEST(ViewServer, OnlyGetAndHeadAreAnswered) {
  REQUIRE_VIEWER();
  Served s;
  Viewer v({s.root.string(), "--port", "0"});
  ASSERT_GT(v.port(), 0) << v.err();
  const Response head = Request(v.port(), "HEAD", "/data/sub/0.glb");
  EXPECT_EQ(head.status, 200);
  EXPECT_EQ(head.Header("Content-Length"), "12");
  EXPECT_EQ(head.Header("Content-Type"), "model/gltf-binary");
  EXPECT_EQ(head.body, "");
  for (const char* method : {"POST", "PUT", "DELETE", "OPTIONS", "PATCH"}) {
    const Response r = Send(v.port(), std::string(method) + " /data/tileset.json HTTP/1.1\r\nHost: 127.0.0.1:" +
                                          std::to_string(v.port()) +
                                          "\r\nContent-Length: 2\r\nConnection: close\r\n\r\n{}");
    EXPECT_EQ(r.status, 405) << method << "\n" << r.head;
    EXPECT_EQ(r.Header("Allow"), "GET, HEAD") << method;
  }
  const Response trace = Request(v.port(), "TRACE", "/");
  EXPECT_TRUE(trace.status == 405 || trace.status == 400) << trace.head;
  EXPECT_EQ(Request(v.port(), "BREW", "/").status, 400);
  // Another site's page cannot reach the server through a rebound name.
  EXPECT_EQ(Request(v.port(), "GET", "/data/tileset.json", "evil.example:" + std::to_string(v.port())).status,
            403);
  EXPECT_EQ(Request(v.port(), "GET", "/data/tileset.json", "localhost:" + std::to_string(v.port())).status,
            200);
  EXPECT_EQ(v.Stop(), 0);
}

TEST(ViewServer, OneGlbServesThatFileAlone) {
  REQUIRE_VIEWER();
  Served s;
  Viewer v({(s.root / "sub" / "0.glb").string(), "--port", "0"});
  ASSERT_GT(v.port(), 0) << v.err();
  EXPECT_EQ(Request(v.port(), "GET", "/view.json").body, R"({"kind":"glb","url":"data/0.glb","name":"0.glb"})");
  EXPECT_EQ(Request(v.port(), "GET", "/data/0.glb").status, 200);
  EXPECT_EQ(Request(v.port(), "GET", "/data/a%20b.bin").status, 404);  // its neighbour is not served
  EXPECT_EQ(Request(v.port(), "GET", "/data/tileset.json").status, 404);
  EXPECT_EQ(v.Stop(), 0);
}

TEST(ViewServer, APortInUseIsAnErrorNamingIt) {
  REQUIRE_VIEWER();
  Served s;
  Viewer first({s.root.string(), "--port", "0"});
  ASSERT_GT(first.port(), 0) << first.err();
  const std::string port = std::to_string(first.port());
  Viewer second({s.root.string(), "--port", port});
  EXPECT_EQ(second.port(), 0) << second.line();
  EXPECT_EQ(second.Stop(), 1);
  EXPECT_TRUE(Has(second.err(), "error: view: cannot listen on 127.0.0.1:" + port + ": port " + port +
                                     " is in use on 127.0.0.1 (give another with --port N, or --port 0"))
      << second.err();
  EXPECT_EQ(Request(first.port(), "GET", "/data/tileset.json").status, 200);  // the first still serves
}

TEST(ViewServer, BadPathsAndOptionsAreUsageErrors) {
  Served s;
  std::ofstream(s.dir.path() / "scene.obj") << "v 0 0 0\n";
  fs::create_directories(s.dir.path() / "empty");
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string error;
  } cases[] = {
      {{(s.dir.path() / "nothing").string()}, 2, "nothing': no such file or directory"},
      {{(s.dir.path() / "scene.obj").string()}, 2, "is neither a .glb file nor a folder holding tileset.json"},
      {{(s.dir.path() / "empty").string()}, 2, "is a folder without a tileset.json"},
      {{s.root.string(), "--port", "70000"}, 2, "--port"},
      {{s.root.string(), "--port", "x"}, 2, "--port"},
      {{}, 2, "PATH"},
      {{s.root.string(), "--listen", "203.0.113.7", "--port", "0"}, 1, "cannot listen on '203.0.113.7'"},
  };
  for (const Case& c : cases) {
    Viewer v(c.args);
    EXPECT_EQ(v.port(), 0) << c.error;
    EXPECT_EQ(v.Stop(), c.status) << c.error << "\n" << v.err();
    EXPECT_TRUE(Has(v.err(), c.error)) << v.err();
  }
}

// A scenehost with no page beside it nor in a share folder says the viewer
// was not built, instead of serving a page that is not there.
TEST(ViewServer, AMissingPageIsReportedAsNotBuilt) {
  Served s;
  fs::create_directories(s.dir.path() / "bin");
  const fs::path copy = s.dir.path() / "bin" / "scenehost";
  fs::copy_file(kHost, copy);
  fs::permissions(copy, fs::perms::owner_all);
  Viewer v({s.root.string(), "--port", "0"}, copy.string());
  EXPECT_EQ(v.port(), 0) << v.line();
  EXPECT_EQ(v.Stop(), 1);
  EXPECT_TRUE(Has(v.err(), "error: view: the viewer page was not built")) << v.err();
  EXPECT_TRUE(Has(v.err(), "run scripts/setup.sh")) << v.err();
  EXPECT_TRUE(Has(v.err(), (s.dir.path() / "share/scenehost/viewer").string())) << v.err();
}

}  // namespace
