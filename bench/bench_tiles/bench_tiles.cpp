// bench_tiles: what a tile costs, on the bundled town.
//
// Raises examples/city/town.json (RaiseCity), then writes every mesh object
// with SaveScene (.glb) and with ExportTile compressed, "plain" and "merge",
// and simplifies the terrain (SimplifyMesh to 10%). Prints for each the
// file size, its ratio to SaveScene's file, and the best of three runs in
// wall time and in this thread's CPU time (steadier on a shared machine).
// Targets: a compressed tile at least 6x smaller than SaveScene's file, and
// well under a second to export the town.
//
//   bench_tiles
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "plugin_loader.h"
#include "runtime.h"
#include "xsi_plugin.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

bool Run(const wchar_t* command, std::initializer_list<XSI::CValue> values, XSI::CValue* out = nullptr) {
  XSI::CValueArray args;
  for (const XSI::CValue& v : values) args.Add(v);
  XSI::CValue scratch;
  return XSI::Application().ExecuteCommand(command, args, out ? *out : scratch).Succeeded();
}

struct Timing {
  double wall = 1e300, cpu = 1e300;
};

template <typename F>
bool Best(Timing& t, F f) {
  for (int i = 0; i < 3; ++i) {
    const auto w0 = Clock::now();
    const double c0 = CpuSeconds();
    if (!f()) return false;
    t.cpu = std::min(t.cpu, CpuSeconds() - c0);
    t.wall = std::min(t.wall, std::chrono::duration<double>(Clock::now() - w0).count());
  }
  return true;
}

}  // namespace

int main() {
  host::Runtime& rt = host::Runtime::Get();
  rt.SetHomePath(XSI_SOURCE_DIR "/home");
  host::PluginManager plugins(rt);
  for (const char* name : {"RaiseTower", "findSpots", "RaiseCity"})
    if (!plugins.Load(std::string(XSI_BINARY_DIR "/plugins/") + name + ".so").Succeeded()) return 1;
  if (!Run(L"RaiseCity", {XSI_SOURCE_DIR L"/examples/city/town.json"})) {
    std::fprintf(stderr, "bench_tiles: RaiseCity failed\n");
    return 1;
  }
  const fs::path dir = fs::temp_directory_path() / ("bench_tiles_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::printf("%-22s %12s %8s %10s %10s\n", "town (every mesh)", "bytes", "ratio", "wall s", "cpu s");
  const std::string saved = (dir / "scene.glb").string();
  Timing t;
  if (!Best(t, [&] { return Run(L"SaveScene", {XSI::CString::FromUtf8(saved)}); })) return 1;
  const double base = double(fs::file_size(saved));
  std::printf("%-22s %12.0f %8.2f %10.3f %10.3f\n", "SaveScene .glb", base, 1.0, t.wall, t.cpu);
  const struct {
    const char* label;
    const wchar_t* options;
  } variants[] = {{"ExportTile", L""}, {"ExportTile plain", L"plain"}, {"ExportTile merge", L"merge"}};
  for (const auto& v : variants) {
    const std::string path = (dir / "tile.glb").string();
    Timing e;
    if (!Best(e, [&] { return Run(L"ExportTile", {XSI::CString::FromUtf8(path), L"", v.options}); })) return 1;
    const double bytes = double(fs::file_size(path));
    std::printf("%-22s %12.0f %8.2f %10.3f %10.3f\n", v.label, bytes, base / bytes, e.wall, e.cpu);
  }
  // Simplification of the terrain, each run on a fresh copy of it.
  Timing s;
  XSI::CValue error;
  int copy = 0;
  if (!Best(s, [&] {
        const std::wstring name = L"terrain" + std::to_wstring(++copy);
        return Run(L"Duplicate", {L"terrain"}) && Run(L"SimplifyMesh", {name.c_str(), 0.1, 0.01}, &error);
      }))
    return 1;
  std::printf("%-22s %12s %8s %10.3f %10.3f   (error %.3f scene units)\n", "SimplifyMesh terrain", "-", "-", s.wall,
              s.cpu, error.GetAsDouble());
  fs::remove_all(dir);
  return 0;
}
