// bench_preview: what an 800x600 iso preview of the 20 x 20 x 30 brick tower
// (`RaiseTower T 30 20 20 brick A 1`: 30 storeys) costs, next to saving the same scene
// as .glb. The aim: the preview adds less than the .glb save. Medians of a
// few runs, after a first render that also starts the driver (printed apart).
//
//   bench_preview [--runs N] [--quick]
//
// --quick uses a 5 x 5 x 5 tower and one run (a smoke test of the bench).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "plugin_loader.h"
#include "runtime.h"
#include "xsi_plugin.h"

namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

bool Exec(const wchar_t* name, std::initializer_list<XSI::CValue> values) {
  XSI::CValueArray args;
  for (const XSI::CValue& v : values) args.Add(v);
  XSI::CValue out;
  return XSI::Application().ExecuteCommand(name, args, out).Succeeded();
}

// Seconds per run of `step`, the median of `runs`; negative when it failed.
template <typename Step>
double Time(int runs, Step step) {
  std::vector<double> seconds;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    if (!step()) return -1;
    seconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
  }
  return Median(seconds);
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 5, size = 20, floors = 30;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) runs = std::max(1, std::atoi(argv[++i]));
    else if (!std::strcmp(argv[i], "--quick")) runs = 1, size = 5, floors = 5;
  }
  host::Runtime& rt = host::Runtime::Get();
  rt.SetHomePath(XSI_SOURCE_DIR "/home");
  host::PluginManager plugins(rt);
  if (!plugins.Load(XSI_BINARY_DIR "/plugins/RaiseTower.so").Succeeded()) {
    std::fprintf(stderr, "cannot load RaiseTower.so\n");
    return 1;
  }
  if (!Exec(L"RaiseTower", {L"T", floors, size, size, L"brick", L"A", 1})) {
    std::fprintf(stderr, "RaiseTower failed\n");
    return 1;
  }
  const std::size_t polygons = rt.GetScene().Find(L"T")->geometry.FaceCount();
  char folder[] = "/tmp/bench_preview-XXXXXX";
  if (!mkdtemp(folder)) return 1;
  const std::string png = std::string(folder) + "/t.png", glb = std::string(folder) + "/t.glb";
  const XSI::CString pngPath = XSI::CString::FromUtf8(png), glbPath = XSI::CString::FromUtf8(glb);

  // The first render also starts the driver (llvmpipe loads LLVM and
  // compiles the shaders); later ones in the process reuse it.
  const double first = Time(1, [&] { return Exec(L"RenderPreview", {pngPath, 800, 600, L"iso"}); });
  const double preview = Time(runs, [&] { return Exec(L"RenderPreview", {pngPath, 800, 600, L"iso"}); });
  const double save = Time(runs, [&] { return Exec(L"SaveScene", {glbPath}); });
  std::error_code ec;
  const auto pngBytes = std::filesystem::file_size(png, ec), glbBytes = std::filesystem::file_size(glb, ec);
  std::filesystem::remove_all(folder, ec);
  if (first < 0 || preview < 0 || save < 0) {
    std::fprintf(stderr, "a command failed\n");
    return 1;
  }
  std::printf("tower %dx%dx%d brick: %zu polygons, median of %d run(s)\n", size, size, floors, polygons, runs);
  std::printf("%-28s %10s %12s\n", "step", "seconds", "file bytes");
  std::printf("%-28s %10.3f\n", "first RenderPreview", first);
  std::printf("%-28s %10.3f %12ju\n", "RenderPreview 800x600 iso", preview, static_cast<std::uintmax_t>(pngBytes));
  std::printf("%-28s %10.3f %12ju\n", "SaveScene .glb", save, static_cast<std::uintmax_t>(glbBytes));
  std::printf("preview / save: %.2f (aim: below 1)\n", preview / save);
  return 0;
}
