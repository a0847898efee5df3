// Merging N building units one by one into a growing mesh, the way the
// building plug-in does, for N = 100, 1000 and 10000. The figure that
// matters is "per_merge": it must stay flat as the mesh grows (largest
// within 2x of the smallest), which the summary at the end checks.
//
//   bench_merge                    all benchmarks
//   bench_merge --benchmark_filter=Ops   merges through mesh_ops only
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include <xsi_plugin.h>

#include "formats.h"
#include "mesh_ops.h"
#include "runtime.h"

namespace {

constexpr double kUnitSize = 13.5;
constexpr double kTolerance = 0.001;
constexpr int kUnitsPerRow = 100;

// A wall-like unit: 13.5 wide, 14 high, 1 deep, front and back cut into a
// 7 x 7 grid, four side quads: 102 polygons, per-corner normals and UVs.
host::Mesh MakeUnit() {
  constexpr int kGrid = 7;
  host::Mesh m;
  auto at = [&](int i, int j, int side) {
    return static_cast<std::uint32_t>(side * (kGrid + 1) * (kGrid + 1) + j * (kGrid + 1) + i);
  };
  for (int side = 0; side < 2; ++side) {
    for (int j = 0; j <= kGrid; ++j) {
      for (int i = 0; i <= kGrid; ++i) {
        m.positions.push_back({float(kUnitSize * i / kGrid), float(14.0 * j / kGrid), float(side)});
      }
    }
  }
  auto face = [&](std::initializer_list<std::uint32_t> corners, host::Vec3 n) {
    int k = 0;
    for (std::uint32_t v : corners) {
      m.cornerVertex.push_back(v);
      m.cornerNormal.push_back(n);
      m.cornerUV.push_back({float(k == 1 || k == 2), float(k >= 2)});
      ++k;
    }
    m.faceStart.push_back(static_cast<std::uint32_t>(m.cornerVertex.size()));
    m.faceMaterial.push_back(0);
  };
  for (int j = 0; j < kGrid; ++j) {
    for (int i = 0; i < kGrid; ++i) {
      face({at(i, j, 0), at(i, j + 1, 0), at(i + 1, j + 1, 0), at(i + 1, j, 0)}, {0, 0, -1});
      face({at(i, j, 1), at(i + 1, j, 1), at(i + 1, j + 1, 1), at(i, j + 1, 1)}, {0, 0, 1});
    }
  }
  const int g = kGrid;
  face({at(0, 0, 0), at(0, 0, 1), at(0, g, 1), at(0, g, 0)}, {-1, 0, 0});
  face({at(g, 0, 0), at(g, g, 0), at(g, g, 1), at(g, 0, 1)}, {1, 0, 0});
  face({at(0, 0, 0), at(g, 0, 0), at(g, 0, 1), at(0, 0, 1)}, {0, -1, 0});
  face({at(0, g, 0), at(0, g, 1), at(g, g, 1), at(g, g, 0)}, {0, 1, 0});
  m.materials.resize(1);
  m.materials[0].name = "brick";
  return m;
}

// Units side by side along -x (they touch and weld), rows 13.5 apart in z.
void Place(int i, double& posx, double& posz) {
  posx = -kUnitSize * (i % kUnitsPerRow);
  posz = kUnitSize * (i / kUnitsPerRow);
}

void ReportPerMerge(benchmark::State& state, int merges) {
  state.SetItemsProcessed(state.iterations() * merges);
  state.counters["per_merge"] = benchmark::Counter(
      merges, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_MergeUnitsOps(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const host::Mesh unit = MakeUnit();
  std::size_t vertices = 0;
  for (auto _ : state) {
    host::Mesh merged = unit;
    host::WeldCache weld;
    for (int i = 1; i < n; ++i) {
      host::Transform xf;
      Place(i, xf.pos[0], xf.pos[2]);
      host::MergeRecord record;
      host::MeshTail tail(merged);
      const host::MeshPrefix base = host::PrefixOf(merged);
      host::AppendMesh(tail, base, unit, xf, record);
      host::WeldAppended(tail, base, record, weld, kTolerance);
    }
    vertices = merged.VertexCount();
    benchmark::DoNotOptimize(merged.positions.data());
  }
  ReportPerMerge(state, n - 1);
  state.counters["vertices"] = static_cast<double>(vertices);
}
BENCHMARK(BM_MergeUnitsOps)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// ---- through the host's commands --------------------------------------------

XSI::CStatus Run(const wchar_t* name, std::initializer_list<XSI::CValue> args) {
  XSI::CValueArray array;
  for (const XSI::CValue& v : args) array.Add(v);
  XSI::CValue out;
  return XSI::Application().ExecuteCommand(name, array, out);
}

XSI::CRef Selected() { return XSI::Application().GetSelection()[0]; }

// Writes the unit as an .obj once, for "ObjImport".
std::string UnitFile() {
  static const std::string path = [] {
    const auto dir = std::filesystem::temp_directory_path() / "bench_merge";
    std::filesystem::create_directories(dir);
    const std::string file = (dir / "unit.obj").string();
    const host::Mesh unit = MakeUnit();
    host::ExportItem item;
    item.name = "unit";
    item.mesh = &unit;
    std::string error;
    if (!host::WriteObj(file, {item}, error)) std::fprintf(stderr, "%s\n", error.c_str());
    return file;
  }();
  return path;
}

// Scene with the template "unit" and the growing mesh "target".
bool StartScene() {
  host::Runtime::Get().ResetScene();
  const XSI::CString path = host::FromUtf8(UnitFile());
  if (!Run(L"ObjImport", {path, 1, 0, false, false, false, false}).Succeeded()) return false;
  if (!Run(L"Duplicate", {L"unit"}).Succeeded()) return false;
  return XSI::ProjectItem(Selected()).PutParameterValue(L"name", L"target").Succeeded();
}

// One unit, with exactly the command sequence of the building plug-in.
bool MergeOneUnit(int i) {
  if (!Run(L"Duplicate", {L"unit"}).Succeeded()) return false;
  XSI::X3DObject copy(Selected());
  copy.PutParameterValue(L"name", L"newunit");
  double posx, posz;
  Place(i, posx, posz);
  XSI::KinematicState global = copy.GetKinematics().GetGlobal();
  global.PutParameterValue(L"posx", posx);
  global.PutParameterValue(L"posz", posz);
  return Run(L"ApplyGenOp", {L"MeshMerge", L"MeshSurface", L"target,newunit", 3, 0, 0}).Succeeded() &&
         Run(L"SetValue", {L"polymsh.polymsh.mergemesh.tolerance", kTolerance}).Succeeded() &&
         Run(L"DeleteGeneratorInputs", {L"polymsh.polymsh.mergemesh"}).Succeeded() &&
         Run(L"SetValue", {L"polymsh.Name", L"target"}).Succeeded();
}

void BM_MergeUnitsCommands(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  long vertices = 0;
  for (auto _ : state) {
    state.PauseTiming();
    if (!StartScene()) {
      state.SkipWithError("cannot set up the scene (ObjImport/Duplicate failed)");
      return;
    }
    host::Runtime::Get().GetJournal().Clear();
    state.ResumeTiming();
    for (int i = 1; i < n; ++i) {
      if (!MergeOneUnit(i)) {
        state.SkipWithError("a merge command failed");
        return;
      }
    }
    state.PauseTiming();
    XSI::Application().GetSelection().SetAsText(L"target");
    vertices = XSI::X3DObject(Selected()).GetVertexCount();
    state.ResumeTiming();
  }
  ReportPerMerge(state, n - 1);
  state.counters["vertices"] = static_cast<double>(vertices);
}
BENCHMARK(BM_MergeUnitsCommands)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// Console output plus, per benchmark, the spread of the per-merge time.
class FlatnessReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
      auto it = run.counters.find("per_merge");
      if (it == run.counters.end()) continue;
      perMerge_[run.run_name.function_name].push_back(it->second.value);
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    for (const auto& [name, times] : perMerge_) {
      const auto [lo, hi] = std::minmax_element(times.begin(), times.end());
      const double ratio = *hi / *lo;
      std::printf("%s: per merge %.1f us .. %.1f us, largest/smallest %.2f (%s)\n", name.c_str(),
                  *lo * 1e6, *hi * 1e6, ratio, ratio <= 2.0 ? "flat" : "NOT FLAT");
    }
  }

 private:
  std::map<std::string, std::vector<double>> perMerge_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  FlatnessReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
