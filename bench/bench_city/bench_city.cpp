// bench_city: what RaiseCity costs over the buildings it raises.
//
// For 250, 500 and 1000 lots it writes a 2048 x 2048 map (lots in three
// zones on a grid, an elevation ramp) to a temporary folder and times
//   city:   RaiseCity on a recipe for it (findSpots per zone, the terrain,
//           RaiseTower and Translate per lot);
//   towers: the same RaiseTower calls (recorded during the city run),
//           replayed into an empty scene;
// and prints both, in wall time and in this thread's CPU time (steadier on a
// shared machine), and the overhead (city / towers - 1; the target is 10% or
// less, with time linear in the lots). It also times the terrain grid of a
// 4096 x 4096 picture at step 4 (about a million vertices).
//
//   bench_city [--quick | --terrain]   (250 lots only | the terrain only)
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <map>
#include <fstream>
#include <string>
#include <vector>

#include "heightfield.h"
#include "plugin_loader.h"
#include "runtime.h"
#include "xsi_plugin.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kSize = 2048, kPitch = 64;  // 32 x 32 grid cells of 64 pixels

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// CPU time of this thread: unlike wall time, it does not grow when other
// processes share the machine.
double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

void WriteBmp(const std::string& path, int w, int h, const std::vector<std::uint8_t>& rgbTopDown) {
  const int stride = (w * 3 + 3) / 4 * 4;
  const std::uint32_t dataSize = std::uint32_t(stride) * std::uint32_t(h), fileSize = 54 + dataSize;
  std::vector<std::uint8_t> b(fileSize, 0);
  auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = std::uint8_t(v >> (8 * i));
  };
  b[0] = 'B', b[1] = 'M';
  put32(2, fileSize), put32(10, 54), put32(14, 40), put32(18, std::uint32_t(w)), put32(22, std::uint32_t(h));
  put32(34, dataSize);
  b[26] = 1, b[28] = 24;
  for (int row = 0; row < h; ++row)
    for (int x = 0; x < w; ++x) {
      const std::uint8_t* p = &rgbTopDown[(std::size_t(h - 1 - row) * w + x) * 3];
      std::uint8_t* q = &b[54 + std::size_t(row) * stride + std::size_t(x) * 3];
      q[0] = p[2], q[1] = p[1], q[2] = p[0];
    }
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), b.size());
}

// `lots` square lots of 44 pixels, cycling through red, blue and yellow.
void WriteMaps(const fs::path& dir, int lots) {
  const std::uint8_t colours[3][3] = {{230, 30, 30}, {60, 100, 210}, {235, 200, 60}};
  std::vector<std::uint8_t> map(std::size_t(kSize) * kSize * 3, 100), elevation(map.size());
  for (int i = 0; i < lots; ++i) {
    const int x0 = (i % (kSize / kPitch)) * kPitch + 10, y0 = (i / (kSize / kPitch)) * kPitch + 10;
    for (int y = y0; y < y0 + 44; ++y)
      for (int x = x0; x < x0 + 44; ++x) std::memcpy(&map[(std::size_t(y) * kSize + x) * 3], colours[i % 3], 3);
  }
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) {
      const auto v = std::uint8_t((x + y) / 20);
      std::uint8_t* p = &elevation[(std::size_t(y) * kSize + x) * 3];
      p[0] = p[1] = p[2] = v;
    }
  WriteBmp((dir / "bench.bmp").string(), kSize, kSize, map);
  WriteBmp((dir / "bench_elevation.bmp").string(), kSize, kSize, elevation);
  std::ofstream(dir / "bench.json") << R"({"images": ".", "map": "bench", "elevation": true, "scale": 1.5,
    "height": 80, "seed": 5, "zones": [
    {"name": "red", "rgb": [230, 30, 30], "range": [10, 10, 10], "min_pixels": 20, "style": "brick", "floors": [2, 4]},
    {"name": "blue", "rgb": [60, 100, 210], "range": [10, 10, 10], "min_pixels": 20, "style": "glass", "floors": [2, 4]},
    {"name": "yellow", "rgb": [235, 200, 60], "range": [10, 10, 10], "min_pixels": 20, "style": "brick", "floors": [2, 4]}]})";
}

bool Run(const wchar_t* command, const XSI::CValueArray& args) {
  XSI::CValue out;
  return XSI::Application().ExecuteCommand(command, args, out).Succeeded();
}

struct Row {
  int lots = 0;
  long raised = 0;
  double city = 0, towers = 0;        // wall
  double cityCpu = 0, towersCpu = 0;  // this thread's CPU
  std::map<std::string, double> parts;  // CPU inside each command the city ran
};

// One RaiseCity run with every command it issues timed; fills `towers` with
// the RaiseTower arguments when it is not null.
void TimeCity(const fs::path& dir, Row& row, std::vector<XSI::CValueArray>* towers) {
  host::Runtime& rt = host::Runtime::Get();
  rt.ResetScene();
  row.parts.clear();
  // The journal keeps only the latest entries: wrap the commands instead.
  std::vector<std::pair<host::CommandDef*, decltype(host::CommandDef::run)>> wrapped;
  for (const wchar_t* name : {L"RaiseTower", L"findSpots", L"CreateImageClip", L"CreateHeightField", L"Translate"}) {
    host::CommandDef* def = rt.FindCommand(name);
    const auto original = def->run;
    wrapped.emplace_back(def, original);
    double* part = &row.parts[XSI::CString(name).GetUtf8String()];
    std::vector<XSI::CValueArray>* record = std::wcscmp(name, L"RaiseTower") == 0 ? towers : nullptr;
    def->run = [record, original, part](const XSI::CValueArray& a, XSI::CValue& o) {
      if (record) record->push_back(a);
      const double c = CpuSeconds();
      const XSI::CStatus st = original(a, o);
      *part += CpuSeconds() - c;
      return st;
    };
  }
  XSI::CValueArray args;
  args.Add(XSI::CString::FromUtf8((dir / "bench.json").string()));
  XSI::CValue out;
  const auto t0 = Clock::now();
  const double c0 = CpuSeconds();
  const bool ok = XSI::Application().ExecuteCommand(L"RaiseCity", args, out).Succeeded();
  row.city = Seconds(Clock::now() - t0);
  row.cityCpu = CpuSeconds() - c0;
  for (auto& [def, original] : wrapped) def->run = original;
  if (!ok) {
    std::fprintf(stderr, "RaiseCity failed\n");
    std::exit(1);
  }
  row.raised = out.GetAsInt();
  rt.ResetScene();
}

void TimeTowers(const std::vector<XSI::CValueArray>& towers, Row& row) {
  host::Runtime& rt = host::Runtime::Get();
  rt.ResetScene();
  const auto t1 = Clock::now();
  const double c1 = CpuSeconds();
  for (const XSI::CValueArray& a : towers)
    if (!Run(L"RaiseTower", a)) std::exit(1);
  row.towers = Seconds(Clock::now() - t1);
  row.towersCpu = CpuSeconds() - c1;
  rt.ResetScene();
}

// Each side runs twice, alternating, and the second runs count: the first
// pays for the process's memory coming in, which would favour whichever ran
// later.
Row Measure(const fs::path& dir, int lots) {
  WriteMaps(dir, lots);
  Row row;
  row.lots = lots;
  std::vector<XSI::CValueArray> towers;
  TimeCity(dir, row, &towers);
  TimeTowers(towers, row);
  TimeCity(dir, row, nullptr);
  TimeTowers(towers, row);
  return row;
}

void BenchTerrain() {
  XSI::detail::ImageData image;
  image.Allocate(4096, 4096, 3, 8);
  for (int y = 0; y < image.height; ++y) {
    std::uint8_t* row = image.MutableRow(y);
    for (std::size_t i = 0; i < image.rowBytes; ++i) {
      const std::size_t at = std::size_t(y) * image.rowBytes + i;
      row[i] = std::uint8_t((at * 2654435761u) >> 24);
    }
  }
  std::vector<double> times, cpu;
  std::size_t vertices = 0;
  for (int i = 0; i < 3; ++i) {
    host::Mesh mesh;
    std::string error;
    const auto t0 = Clock::now();
    const double c0 = CpuSeconds();
    if (!host::BuildHeightField(image, host::HeightFieldSize{4096, 4096, 100, 4}, mesh, error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      std::exit(1);
    }
    times.push_back(Seconds(Clock::now() - t0));
    cpu.push_back(CpuSeconds() - c0);
    vertices = mesh.VertexCount();
  }
  std::sort(times.begin(), times.end());
  std::sort(cpu.begin(), cpu.end());
  std::printf("terrain 4096 x 4096 at step 4: %zu vertices, %.3f s wall, %.3f s cpu (medians of 3)\n\n",
              vertices, times[1], cpu[1]);
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  const bool terrainOnly = argc > 1 && std::strcmp(argv[1], "--terrain") == 0;
  host::Runtime& rt = host::Runtime::Get();
  rt.SetHomePath(XSI_SOURCE_DIR "/home");
  host::PluginManager plugins(rt);
  for (const char* name : {"RaiseTower", "findSpots", "RaiseCity"})
    if (!plugins.Load(std::string(XSI_BINARY_DIR "/plugins/") + name + ".so").Succeeded()) return 1;
  rt.AddLogSink([](const XSI::CString& text, XSI::siSeverityType s) {
    if (s <= XSI::siErrorMsg) std::fprintf(stderr, "%s\n", text.GetUtf8String().c_str());
  });

  BenchTerrain();
  if (terrainOnly) return 0;

  char tmpl[] = "/tmp/bench_city-XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  const fs::path dir = tmpl;
  const fs::path previous = fs::current_path();
  fs::current_path(dir);  // findSpots writes blobs.bmp where it runs
  std::printf("%6s %7s %10s %10s %9s %10s %10s %9s %12s\n", "lots", "raised", "city s", "towers s", "overhead",
              "city cpu", "towers cpu", "overhead", "cpu ms/lot");
  for (int lots : {250, 500, 1000}) {
    if (quick && lots > 250) break;
    const Row r = Measure(dir, lots);
    std::printf("%6d %7ld %10.3f %10.3f %8.1f%% %10.3f %10.3f %8.1f%% %12.3f\n", r.lots, r.raised, r.city,
                r.towers, 100.0 * (r.city / r.towers - 1.0), r.cityCpu, r.towersCpu,
                100.0 * (r.cityCpu / r.towersCpu - 1.0), 1000.0 * r.cityCpu / r.lots);
    std::printf("       cpu inside:");
    for (const auto& [name, seconds] : r.parts) std::printf(" %s %.3f", name.c_str(), seconds);
    std::printf("\n");
    std::fflush(stdout);
  }
  fs::current_path(previous);
  fs::remove_all(dir);
  return 0;
}
