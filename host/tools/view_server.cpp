#include "view_server.h"

#include <CLI/CLI.hpp>
#include <httplib.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cancel_signal.h"
#include "message_text.h"
#include "runtime.h"
#include "text.h"
#include "view_paths.h"

namespace scenehost {

namespace {

namespace fs = std::filesystem;

enum Exit { kOk = 0, kFailed = 1, kUsage = 2 };

std::string Quoted(const std::string& text) { return "'" + ShownText(text, kShownLineBytes) + "'"; }

std::string ErrnoText(int error) {
  std::string text = std::generic_category().message(error);
  if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  return text;
}

void PrintError(const std::string& message) { std::cerr << "error: view: " << message << '\n' << std::flush; }

// ---- what is served --------------------------------------------------------------

// The page's own files: a fixed list, never a folder.
constexpr const char* kPageFiles[] = {"index.html", "viewer.js"};

struct Content {
  fs::path root;        // canonical folder the data files come from
  std::string onlyFile; // for a .glb: the one file of root that is served
  std::string kind;     // "glb" or "tileset"
  std::string url;      // what the page loads, relative to the page
  std::string name;     // shown in the page's title
};

// Percent-encodes a file name for a URL path.
std::string UrlName(const std::string& name) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (const char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (std::isalnum(u) || c == '-' || c == '_' || c == '.' || c == '~') {
      out += c;
    } else {
      out += '%';
      out += hex[u >> 4];
      out += hex[u & 15];
    }
  }
  return out;
}

bool IsRegularFile(const fs::path& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool EndsWithGlb(const std::string& name) {
  if (name.size() < 4) return false;
  std::string ext = name.substr(name.size() - 4);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".glb";
}

// PATH is a .glb file or a folder holding tileset.json; links are followed
// once, here, and the served root is the real folder.
std::optional<Content> FindContent(const std::string& path, std::string& error) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    error = Quoted(path) + ": " + ErrnoText(errno);
    return std::nullopt;
  }
  std::error_code ec;
  const fs::path real = fs::canonical(path, ec);
  if (ec) {
    error = Quoted(path) + ": " + ErrnoText(ec.value());
    return std::nullopt;
  }
  Content c;
  if (S_ISDIR(st.st_mode)) {
    if (!IsRegularFile(real / "tileset.json")) {
      error = Quoted(path) + " is a folder without a tileset.json; give a .glb file or a tileset folder";
      return std::nullopt;
    }
    c.root = real;
    c.kind = "tileset";
    c.url = "data/tileset.json";
    c.name = real.filename().string();
    return c;
  }
  if (!S_ISREG(st.st_mode) || !EndsWithGlb(real.filename().string())) {
    error = Quoted(path) + " is neither a .glb file nor a folder holding tileset.json";
    return std::nullopt;
  }
  c.root = real.parent_path();
  c.onlyFile = real.filename().string();
  c.kind = "glb";
  c.url = "data/" + UrlName(c.onlyFile);
  c.name = c.onlyFile;
  return c;
}

// The folder holding the built page: next to the binary in the build tree,
// in <prefix>/share/scenehost/viewer when installed.
std::optional<fs::path> FindPage(const fs::path& exeDir, std::vector<fs::path>& tried) {
  for (const fs::path& dir : {exeDir / "viewer", (exeDir / SCENEHOST_INSTALL_VIEWER).lexically_normal()}) {
    tried.push_back(dir);
    bool all = true;
    for (const char* f : kPageFiles) all = all && IsRegularFile(dir / f);
    if (all) return dir;
  }
  return std::nullopt;
}

// ---- answering requests ----------------------------------------------------------

struct OpenFile {
  int fd = -1;
  std::uint64_t size = 0;
  ~OpenFile() {
    if (fd >= 0) close(fd);
  }
};

// Opens a regular file without following a last link (the path given is
// already resolved); a folder, FIFO or device is not served.
std::shared_ptr<OpenFile> OpenRegular(const fs::path& path) {
  auto file = std::make_shared<OpenFile>();
  file->fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
  struct stat st {};
  if (file->fd < 0 || fstat(file->fd, &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
  file->size = static_cast<std::uint64_t>(st.st_size);
  return file;
}

void SetCommonHeaders(httplib::Response& res) {
  res.set_header("X-Content-Type-Options", "nosniff");
  res.set_header("Cache-Control", "no-cache");
  res.set_header("Referrer-Policy", "no-referrer");
}

void SendText(httplib::Response& res, int status, const std::string& text) {
  res.status = status;
  SetCommonHeaders(res);
  res.set_content(text + "\n", "text/plain; charset=utf-8");
}

// Streams the file: the whole of it is never held in memory.
void SendFile(httplib::Response& res, const std::shared_ptr<OpenFile>& file, const char* type) {
  res.status = 200;
  SetCommonHeaders(res);
  res.set_content_provider(
      static_cast<std::size_t>(file->size), type,
      [file](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
        char buf[1 << 16];
        const std::size_t want = std::min(length, sizeof buf);
        const ssize_t got = pread(file->fd, buf, want, static_cast<off_t>(offset));
        if (got <= 0) return false;  // the file shrank: end the connection
        return sink.write(buf, static_cast<std::size_t>(got));
      });
}

bool IsInside(const fs::path& path, const fs::path& root) {
  const std::string p = path.string(), r = root.string();
  if (p.size() <= r.size() || p.compare(0, r.size(), r) != 0) return false;
  return r.back() == '/' || p[r.size()] == '/';
}

class ViewServer {
 public:
  ViewServer(Content content, fs::path page, std::string listen, bool checkHost)
      : content_(std::move(content)), page_(std::move(page)), listen_(std::move(listen)),
        checkHost_(checkHost) {
    viewJson_ = "{\"kind\":" + host::JsonQuoted(content_.kind) + ",\"url\":" + host::JsonQuoted(content_.url) +
                ",\"name\":" + host::JsonQuoted(content_.name) + "}";
  }

  void SetPort(int port) { port_ = port; }

  void Handle(const httplib::Request& req, httplib::Response& res) {
    if (req.method != "GET" && req.method != "HEAD") {
      res.set_header("Allow", "GET, HEAD");
      return Refuse(req, res, 405, "only GET and HEAD are served");
    }
    if (checkHost_ && !HostAllowed(req.get_header_value("Host"))) {
      return Refuse(req, res, 403, "the Host header does not name this server");
    }
    const view::TargetCheck check = view::CheckRequestTarget(req.target);
    if (!check.ok) return Refuse(req, res, check.status, check.reason);
    const auto& seg = check.segments;
    if (seg.empty()) return ServePage(req, res, "index.html");
    if (seg.size() == 1 && seg[0] == "view.json") {
      SetCommonHeaders(res);
      res.status = 200;
      res.set_content(viewJson_, "application/json");
      return;
    }
    if (seg.size() == 1) {
      for (const char* f : kPageFiles)
        if (seg[0] == f) return ServePage(req, res, f);
    }
    if (seg.size() >= 2 && seg[0] == "data") return ServeData(req, res, seg);
    Refuse(req, res, 404, "not served");
  }

 private:
  bool HostAllowed(const std::string& host) const {
    const std::string port = ":" + std::to_string(port_);
    for (const char* name : {"127.0.0.1", "localhost", "[::1]"})
      if (host == name + port) return true;
    return host == listen_ + port || host == "[" + listen_ + "]" + port;
  }

  void ServePage(const httplib::Request& req, httplib::Response& res, const std::string& name) {
    const auto file = OpenRegular(page_ / name);
    if (!file) return Refuse(req, res, 404, "the page file " + name + " is missing");
    SendFile(res, file, view::MimeTypeFor(name));
    if (name == "index.html") {
      // The page runs only its own bundled script; the meshopt decoder
      // compiles WebAssembly from bytes inside it, and GLTFLoader hands
      // textures over as blob: URLs.
      res.set_header("Content-Security-Policy",
                     "default-src 'self'; script-src 'self' 'wasm-unsafe-eval'; "
                     "style-src 'self' 'unsafe-inline'; img-src 'self' data: blob:; "
                     "connect-src 'self' data: blob:; worker-src 'self' blob:; object-src 'none'; "
                     "base-uri 'none'; form-action 'none'; frame-ancestors 'none'");
    }
  }

  void ServeData(const httplib::Request& req, httplib::Response& res, const std::vector<std::string>& seg) {
    if (!content_.onlyFile.empty() && (seg.size() != 2 || seg[1] != content_.onlyFile)) {
      return Refuse(req, res, 404, "only " + content_.onlyFile + " is served");
    }
    fs::path path = content_.root;
    for (std::size_t i = 1; i < seg.size(); ++i) path /= seg[i];
    // Every link on the way is resolved; what it leads to must still be
    // under the served folder.
    std::error_code ec;
    const fs::path real = fs::canonical(path, ec);
    if (ec) return Refuse(req, res, 404, "no such file");
    if (!IsInside(real, content_.root)) return Refuse(req, res, 403, "a link leads outside the served folder");
    const auto file = OpenRegular(real);
    if (!file) return Refuse(req, res, 404, "not a regular file");
    SendFile(res, file, view::MimeTypeFor(real.filename().string()));
  }

  void Refuse(const httplib::Request& req, httplib::Response& res, int status, const std::string& reason) {
    SendText(res, status, std::to_string(status) + ": " + reason);
    std::lock_guard<std::mutex> lock(logMutex_);
    std::cerr << "warning: view: " << status << " for " << ShownText(req.method) << ' '
              << ShownText(req.target, kShownLineBytes) << ": " << reason << '\n'
              << std::flush;
  }

  Content content_;
  fs::path page_;
  std::string listen_;
  bool checkHost_;
  int port_ = 0;
  std::string viewJson_;
  std::mutex logMutex_;
};

// Why binding failed, asked of the system with a socket of our own (the
// library only says that it failed).
std::string BindFailure(const std::string& address, int port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (const int rc = getaddrinfo(address.c_str(), service.c_str(), &hints, &found); rc != 0) {
    return Quoted(address) + " is not an address of this machine (" + gai_strerror(rc) + ")";
  }
  int error = 0;
  for (addrinfo* a = found; a; a = a->ai_next) {
    const int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      error = errno;
      continue;
    }
    const int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    const bool bound = bind(fd, a->ai_addr, a->ai_addrlen) == 0;
    error = bound ? 0 : errno;
    close(fd);
    if (bound) break;
  }
  freeaddrinfo(found);
  if (error == EADDRINUSE) {
    return "port " + service + " is in use on " + address +
           " (give another with --port N, or --port 0 for a free one)";
  }
  if (error == EACCES) return "port " + service + " needs privileges (use one above 1023)";
  if (error == EADDRNOTAVAIL) return Quoted(address) + " is not an address of this machine";
  return "cannot bind " + address + ":" + service + (error ? ": " + ErrnoText(error) : "");
}

bool IsLoopback(const std::string& address) {
  in_addr v4{};
  if (inet_pton(AF_INET, address.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  return address == "::1" || address == "localhost";
}

std::string UrlHost(const std::string& address) {
  return address.find(':') != std::string::npos ? "[" + address + "]" : address;
}

}  // namespace

int RunView(const std::vector<std::string>& args, const fs::path& executableDir) {
  std::string path, listen = "127.0.0.1";
  int port = 8080;
  CLI::App app{"Serves a browser viewer for a .glb file or a 3D Tiles folder (tileset.json).",
               "scenehost view"};
  app.add_option("PATH", path, "A .glb file, or a folder holding tileset.json")->required();
  app.add_option("--port", port, "TCP port, default 8080; 0 picks a free one")
      ->check(CLI::Range(0, 65535))
      ->type_name("N");
  app.add_option("--listen", listen,
                 "Address to listen on, default 127.0.0.1 (this machine only); 0.0.0.0 opens it to "
                 "the network")
      ->type_name("ADDR");
  try {
    std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 takes them last-first
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    return kOk;
  } catch (const CLI::ParseError& e) {
    PrintError(ShownText(e.what(), kShownLineBytes) + " (scenehost view --help)");
    return kUsage;
  }

  std::string error;
  const auto content = FindContent(path, error);
  if (!content) {
    PrintError(error);
    return kUsage;
  }
  std::vector<fs::path> tried;
  const auto page = FindPage(executableDir, tried);
  if (!page) {
    std::string where;
    for (const auto& t : tried) where += (where.empty() ? "" : ", ") + Quoted(t.string());
    PrintError("the viewer page was not built (no index.html and viewer.js in " + where +
               "): run scripts/setup.sh so that viewer/node_modules exists, then build again");
    return kFailed;
  }

  const bool loopback = IsLoopback(listen);
  ViewServer view(*content, *page, listen, loopback);
  httplib::Server server;
  // The library's default also sets SO_REUSEPORT, which would let a second
  // server share a port that is in use instead of failing.
  server.set_socket_options([](int sock) {
    const int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  server.set_payload_max_length(64 << 10);
  server.set_pre_routing_handler([&view](const httplib::Request& req, httplib::Response& res) {
    view.Handle(req, res);
    return httplib::Server::HandlerResponse::Handled;
  });
  int bound = port;
  if (port == 0) {
    bound = server.bind_to_any_port(listen);
    if (bound <= 0) {
      PrintError("cannot listen on " + Quoted(listen) + ": " + BindFailure(listen, 0));
      return kFailed;
    }
  } else if (!server.bind_to_port(listen, port)) {
    PrintError("cannot listen on " + UrlHost(listen) + ":" + std::to_string(port) + ": " +
               BindFailure(listen, port));
    return kFailed;
  }
  view.SetPort(bound);

  host::Progress& progress = host::Runtime::Get().GetProgress();
  const CancelOnInterrupt interrupt(progress);
  std::atomic<bool> ended{false};
  std::thread serving([&server, &ended] {
    server.listen_after_bind();
    ended = true;
  });
  std::cout << "Serving " << ShownText(path, kShownLineBytes) << " at http://" << UrlHost(listen) << ':'
            << bound << "/\n"
            << std::flush;
  if (!loopback) {
    std::cerr << "warning: view: listening on " << ShownText(listen)
              << ": anyone who can reach this machine can read the served files\n";
  }
  std::cerr << "info: view: press Ctrl-C to stop\n" << std::flush;
  while (!progress.CancelRequested() && !ended) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  server.stop();
  serving.join();
  std::cerr << "info: view: stopped\n" << std::flush;
  return kOk;
}

}  // namespace scenehost
