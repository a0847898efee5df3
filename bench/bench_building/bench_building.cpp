// bench_building: how much RaiseTower costs over the least work its result
// needs. For each footprint and storey count it times
//   host:  the RaiseTower command, loaded as a plug-in, through the host;
//   bound: the same units (same templates, rotations, positions), each
//          transformed once into one buffer, then one weld at the command's
//          tolerance (plain code below, not the host's merge);
// and prints both, the time per unit and their ratio. Medians of a few runs.
//
// The host times against the units give the slope of time against size: the
// exponent of a power law fitted through all sizes, 1 when it is linear.
//
// Then, end to end, for 5x5x10, 10x10x30 and 20x20x30, on tmpfs:
//   process:  a fresh `scenehost RaiseTower ... --save x.glb` of the same
//             build (start-up, plug-in and kit loading, building, saving,
//             exit), spawned and waited for;
//   marginal: what one more tower and save cost in a running scenehost
//             (scripts of three and of one, the difference halved);
// and their ratio, against its target for 20x20x30. Minimums of a few runs:
// the machine may be shared.
//
//   bench_building [--runs N] [--quick] [--only host|bound|process] [--no-process]
//
// --only host|bound runs one side alone (for a profiler); no ratio is printed
// then. --only process prints the end-to-end table alone.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <unordered_map>
#include <vector>

#include "plugin_loader.h"
#include "runtime.h"
#include "xsi_plugin.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Config {
  int width, length, floors;
};

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Least-squares slope of y against x.
double Slope(const std::vector<double>& x, const std::vector<double>& y) {
  const double n = double(x.size());
  double sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    sx += x[i];
    sy += y[i];
    sxx += x[i] * x[i];
    sxy += x[i] * y[i];
  }
  return (n * sxy - sx * sy) / (n * sxx - sx * sx);
}

bool RunRaiseTower(const Config& c) {
  XSI::CValueArray args;
  for (XSI::CValue v : {XSI::CValue(L"Bench"), XSI::CValue(c.floors), XSI::CValue(c.width),
                        XSI::CValue(c.length), XSI::CValue(L"brick"), XSI::CValue(L"A"),
                        XSI::CValue(1)})
    args.Add(v);
  XSI::CValue out;
  return XSI::Application().ExecuteCommand(L"RaiseTower", args, out).Succeeded();
}

// The templates as the host imports them.
struct Templates {
  host::Mesh angle, angleRoof, floor, ground, door, roof;
};

Templates ImportTemplates() {
  auto& rt = host::Runtime::Get();
  rt.ResetScene();
  auto import = [&](const char* base) {
    XSI::CValueArray args;
    args.Add(XSI::CString::FromUtf8(std::string(XSI_SOURCE_DIR "/home/builder/objs/") + base + ".obj"));
    XSI::CValue out;
    XSI::Application().ExecuteCommand(L"ObjImport", args, out);
    host::SceneObject* obj = rt.GetScene().Find(XSI::CString::FromUtf8(base));
    return obj ? *obj->geometry.Snapshot() : host::Mesh();
  };
  Templates t;
  t.angle = import("p1900_anglebrick");
  t.angleRoof = import("p1900_angleroofbrick");
  t.floor = import("p1900_floorbrick");
  t.ground = import("p1900_groundbrick");
  t.door = import("p1900_groundbrickdoor");
  t.roof = import("p1900_roofbrick");
  rt.ResetScene();
  return t;
}

struct Unit {
  const host::Mesh* mesh;
  host::Transform xf;
};

// The building's units in world space: every storey's seed and ring, the
// roof's, each at its storey's height (entrance on face A, middle slot).
std::vector<Unit> Layout(const Templates& t, const Config& c) {
  std::vector<Unit> units;
  auto add = [&](const host::Mesh& m, double rot, int gz, int gx, int storey) {
    Unit u{&m, {}};
    u.xf.rot[1] = rot;
    u.xf.pos[0] = -13.5 * gx;
    u.xf.pos[2] = 13.5 * gz;
    u.xf.pos[1] = 14.0 * storey;
    units.push_back(u);
  };
  const int w = c.width, l = c.length;
  for (int s = 0; s <= c.floors; ++s) {
    const bool roof = s == c.floors;
    const host::Mesh& corner = roof ? t.angleRoof : t.angle;
    const host::Mesh& wall = roof ? t.roof : s == 0 ? t.ground : t.floor;
    auto wallAt = [&](int side, int slot) -> const host::Mesh& {
      return s == 0 && side == 1 && slot == w / 2 ? t.door : wall;
    };
    add(corner, -270, 0, 0, s);
    for (int i = 1; i < w; ++i) add(wallAt(1, i), 0, i, 0, s);
    add(corner, 0, w, 0, s);
    for (int j = 1; j < l; ++j) add(wall, -90, w, j, s);
    add(corner, -90, w, l, s);
    for (int k = w - 1; k > 0; --k) add(wall, -180, k, l, s);
    add(corner, -180, 0, l, s);
    for (int m = l - 1; m > 0; --m) add(wall, -270, 0, m, s);
    add(corner, -270, 0, 0, s);
  }
  return units;
}

// Least work, written plainly: every unit's corners transformed once into
// one growing buffer (positions, per-corner normals and UVs, materials by
// index), then one weld of all positions on a hash grid of tolerance-sized
// cells: a position takes the lowest earlier index closer than the tolerance.
struct Soup {
  std::vector<host::Vec3> positions, normals;
  std::vector<host::Vec2> uvs;
  std::vector<std::uint32_t> faceStart{0}, cornerVertex, faceMaterial;
};

std::size_t Weld(Soup& soup, double tolerance) {
  auto cell = [&](float v) { return static_cast<std::int64_t>(std::floor(v / tolerance)); };
  auto key = [](std::int64_t x, std::int64_t y, std::int64_t z) {
    return (static_cast<std::uint64_t>(x) * 73856093u) ^ (static_cast<std::uint64_t>(y) * 19349663u) ^
           (static_cast<std::uint64_t>(z) * 83492791u);
  };
  std::unordered_map<std::uint64_t, std::vector<std::uint32_t>> grid;
  grid.reserve(soup.positions.size());
  std::vector<host::Vec3> welded;
  welded.reserve(soup.positions.size());
  std::vector<std::uint32_t> map(soup.positions.size());
  const double t2 = tolerance * tolerance;
  for (std::size_t i = 0; i < soup.positions.size(); ++i) {
    const host::Vec3 p = soup.positions[i];
    const std::int64_t cx = cell(p.x), cy = cell(p.y), cz = cell(p.z);
    std::uint32_t best = UINT32_MAX;
    for (std::int64_t x = cx - 1; x <= cx + 1; ++x)
      for (std::int64_t y = cy - 1; y <= cy + 1; ++y)
        for (std::int64_t z = cz - 1; z <= cz + 1; ++z) {
          auto it = grid.find(key(x, y, z));
          if (it == grid.end()) continue;
          for (std::uint32_t k : it->second) {
            const host::Vec3 q = welded[k];
            const double dx = q.x - p.x, dy = q.y - p.y, dz = q.z - p.z;
            if (k < best && dx * dx + dy * dy + dz * dz < t2) best = k;
          }
        }
    if (best == UINT32_MAX) {
      best = static_cast<std::uint32_t>(welded.size());
      welded.push_back(p);
      grid[key(cx, cy, cz)].push_back(best);
    }
    map[i] = best;
  }
  for (std::uint32_t& v : soup.cornerVertex) v = map[v];
  soup.positions.swap(welded);
  return soup.positions.size();
}

std::size_t LowerBound(const std::vector<Unit>& units) {
  Soup soup;
  for (const Unit& u : units) {
    const host::Mesh& m = *u.mesh;
    const auto base = static_cast<std::uint32_t>(soup.positions.size());
    for (const host::Vec3& p : m.positions) soup.positions.push_back(u.xf.ApplyPoint(p));
    for (std::uint32_t v : m.cornerVertex) soup.cornerVertex.push_back(base + v);
    for (const host::Vec3& n : m.cornerNormal) soup.normals.push_back(u.xf.ApplyNormal(n));
    soup.uvs.insert(soup.uvs.end(), m.cornerUV.begin(), m.cornerUV.end());
    const std::uint32_t corners = soup.faceStart.back();
    for (std::size_t f = 1; f < m.faceStart.size(); ++f) soup.faceStart.push_back(corners + m.faceStart[f]);
    soup.faceMaterial.insert(soup.faceMaterial.end(), m.faceMaterial.begin(), m.faceMaterial.end());
  }
  Weld(soup, 0.001);
  return soup.faceStart.size() - 1;
}

struct Times {
  double wall = 1e30, cpu = 1e30;  // seconds
  void KeepLeast(const Times& t) {
    wall = std::min(wall, t.wall);
    cpu = std::min(cpu, t.cpu);
  }
};

double CpuSeconds(const struct rusage& u) {
  auto s = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) * 1e-6; };
  return s(u.ru_utime) + s(u.ru_stime);
}

// One whole scenehost process run with `args` after the program's name: its
// wall and CPU time (user + system), or a negative wall time when it could
// not run or failed.
Times WholeProcess(std::vector<std::string> words) {
  const std::string exe = XSI_BINARY_DIR "/bin/scenehost";
  words.insert(words.begin(), exe);
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  const auto t0 = Clock::now();
  pid_t pid = 0;
  const int err = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (err != 0) return {-1, -1};
  int status = 0;
  struct rusage usage {};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  const double t = Seconds(Clock::now() - t0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {-1, -1};
  return {t, CpuSeconds(usage)};
}

std::string TowerWords(const Config& c) {
  return "RaiseTower Bench " + std::to_string(c.floors) + " " + std::to_string(c.width) + " " +
         std::to_string(c.length) + " brick A 1";
}

// A script raising and saving the tower `towers` times, each over the last.
bool WriteScript(const std::string& path, const Config& c, int towers, const std::string& glb) {
  FILE* f = std::fopen(path.c_str(), "w");
  if (!f) return false;
  for (int i = 0; i < towers; ++i)
    std::fprintf(f, "%s%s\nSaveScene %s\n", i ? "DeleteObj Bench\n" : "", TowerWords(c).c_str(), glb.c_str());
  return std::fclose(f) == 0;
}

// A whole `scenehost RaiseTower ... --save x.glb` against the marginal cost
// of one more tower and save in a running process: a script of three
// minus a script of one, halved. What is left over is start-up and exit.
// Minimums of `runs`.
bool EndToEnd(int runs, bool quick) {
  std::vector<Config> configs = {{5, 5, 10}, {10, 10, 30}, {20, 20, 30}};
  if (quick) configs.resize(1);
  std::error_code ec;
  // tmpfs when there is one, so the disk does not time the fsync.
  const std::filesystem::path shm = "/dev/shm";
  const std::filesystem::path base = std::filesystem::is_directory(shm, ec)
                                         ? shm
                                         : std::filesystem::temp_directory_path(ec);
  std::string pattern = (base / "bench_building.XXXXXX").string();
  char* folder = mkdtemp(pattern.data());
  if (!folder) {
    std::fprintf(stderr, "bench_building: cannot create a temporary folder\n");
    return false;
  }
  const std::string dir = folder, glb = dir + "/x.glb", one = dir + "/one.txt", three = dir + "/three.txt";
  std::printf("\nwhole scenehost process with --save x.glb against one more tower and save in a\n"
              "running process (a script of three minus a script of one, halved), ms\n");
  std::printf("%-10s %7s %11s %11s %11s %11s %7s %7s\n", "footprint", "floors", "1 in script",
              "3 in script", "marginal", "process", "ratio", "target");
  bool ok = true;
  for (const Config& c : configs) {
    ok = WriteScript(one, c, 1, glb) && WriteScript(three, c, 3, glb);
    Times p1, p3, whole;
    std::vector<std::string> cli = {"RaiseTower", "Bench", std::to_string(c.floors), std::to_string(c.width),
                                    std::to_string(c.length), "brick", "A", "1", "--save", glb};
    for (int r = 0; r < runs && ok; ++r) {
      const Times a = WholeProcess({"--script", one}), b = WholeProcess({"--script", three}),
                  w = WholeProcess(cli);
      ok = a.wall >= 0 && b.wall >= 0 && w.wall >= 0;
      p1.KeepLeast(a);
      p3.KeepLeast(b);
      whole.KeepLeast(w);
    }
    if (!ok) {
      std::fprintf(stderr, "bench_building: %dx%dx%d failed end to end\n", c.width, c.length, c.floors);
      break;
    }
    const double marginal = (p3.wall - p1.wall) / 2;
    const bool target = c.width == 20 && c.length == 20 && c.floors == 30;
    char footprint[32];
    std::snprintf(footprint, sizeof footprint, "%dx%d", c.width, c.length);
    std::printf("%-10s %7d %11.2f %11.2f %11.2f %11.2f %7.2f %7s\n", footprint, c.floors, p1.wall * 1e3,
                p3.wall * 1e3, marginal * 1e3, whole.wall * 1e3, whole.wall / marginal, target ? "<= 1.30" : "");
  }
  std::filesystem::remove_all(dir, ec);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 3;
  bool quick = false, process = true;
  std::string only;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--only") && i + 1 < argc) only = argv[++i];
    if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) runs = std::max(1, std::atoi(argv[++i]));
    if (!std::strcmp(argv[i], "--quick")) quick = true;
    if (!std::strcmp(argv[i], "--no-process")) process = false;
  }
  auto& rt = host::Runtime::Get();
  rt.SetHomePath(XSI_SOURCE_DIR "/home");
  host::PluginManager plugins(rt);
  if (!plugins.Load(XSI_BINARY_DIR "/plugins/RaiseTower.so").Succeeded()) {
    std::fprintf(stderr, "bench_building: cannot load the RaiseTower plug-in\n");
    return 1;
  }
  const Templates templates = ImportTemplates();

  std::vector<Config> configs = {{5, 5, 10}, {5, 5, 30}, {10, 10, 10},
                                 {10, 10, 30}, {20, 20, 10}, {20, 20, 30}};
  if (quick) configs = {{5, 5, 10}, {10, 10, 10}};

  if (only != "process")
    std::printf("%-10s %7s %9s %11s %11s %11s %7s\n", "footprint", "floors", "units", "host ms",
              "bound ms", "host us/u", "ratio");
  std::vector<double> logUnits, logTimes;
  for (const Config& c : only == "process" ? std::vector<Config>() : configs) {
    const std::vector<Unit> units = Layout(templates, c);
    std::vector<double> host, bound;
    std::size_t faces = 0, boundFaces = 0;
    for (int r = 0; r < runs; ++r) {
      if (only != "bound") {
        rt.ResetScene();
        const auto t0 = Clock::now();
        if (!RunRaiseTower(c)) {
          std::fprintf(stderr, "bench_building: RaiseTower failed\n");
          return 1;
        }
        host.push_back(Seconds(Clock::now() - t0));
        faces = rt.GetScene().Find(L"Bench")->geometry.Snapshot()->FaceCount();
      }
      if (only != "host") {
        const auto t1 = Clock::now();
        boundFaces = LowerBound(units);
        bound.push_back(Seconds(Clock::now() - t1));
      }
    }
    if (!only.empty()) {
      const double t = Median(only == "host" ? host : bound);
      std::printf("%dx%d x%d: %s %.2f ms\n", c.width, c.length, c.floors, only.c_str(), t * 1e3);
      continue;
    }
    if (faces != boundFaces) {
      std::fprintf(stderr, "bench_building: %dx%dx%d gives %zu polygons, the bound %zu\n",
                   c.width, c.length, c.floors, faces, boundFaces);
      return 1;
    }
    const double h = Median(host), b = Median(bound);
    char footprint[32];
    std::snprintf(footprint, sizeof footprint, "%dx%d", c.width, c.length);
    std::printf("%-10s %7d %9zu %11.2f %11.2f %11.2f %7.2f\n", footprint, c.floors, units.size(),
                h * 1e3, b * 1e3, h * 1e6 / units.size(), h / b);
    logUnits.push_back(std::log(double(units.size())));
    logTimes.push_back(std::log(h));
  }
  if (logUnits.size() >= 4)
    std::printf("slope: host time grows as units^%.2f over %zu sizes (target: 1, linear)\n",
                Slope(logUnits, logTimes), logUnits.size());
  rt.ResetScene();
  if ((only.empty() || only == "process") && process && !EndToEnd(std::max(runs, 5), quick)) return 1;
  return 0;
}
