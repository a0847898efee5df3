// Peak memory and time of GeoTIFF window reads through the host commands.
// Each case runs in a child process, so its peak resident set is its own.
//   bench_raster [--side N]   (the large raster's side, default 8192)
#include <cpl_string.h>
#include <gdal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "runtime.h"
#include "xsi_application.h"

namespace {

// A tiled, deflate-compressed raster of smooth hills; written a strip of
// tiles at a time.
void WriteRaster(const std::string& path, int side, int bands, GDALDataType type) {
  char** options = nullptr;
  options = CSLSetNameValue(options, "TILED", "YES");
  options = CSLSetNameValue(options, "COMPRESS", "DEFLATE");
  options = CSLSetNameValue(options, "BIGTIFF", "IF_SAFER");
  GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GTiff"), path.c_str(), side, side, bands, type, options);
  CSLDestroy(options);
  if (!ds) std::exit(1);
  std::vector<float> rows(std::size_t(side) * 256);
  for (int y0 = 0; y0 < side; y0 += 256) {
    const int n = std::min(256, side - y0);
    for (int b = 1; b <= bands; ++b) {
      for (int r = 0; r < n; ++r)
        for (int c = 0; c < side; ++c)
          rows[std::size_t(r) * side + c] =
              float(100 + 50 * std::sin((c + b * 7) * 0.01) * std::cos((y0 + r) * 0.013));
      if (GDALRasterIO(GDALGetRasterBand(ds, b), GF_Write, 0, y0, side, n, rows.data(), side, n, GDT_Float32, 0, 0) !=
          CE_None)
        std::exit(1);
    }
  }
  GDALClose(ds);
}

XSI::CStatus Run(const wchar_t* name, std::initializer_list<XSI::CValue> args) {
  XSI::CValueArray a;
  for (const auto& v : args) a.Add(v);
  XSI::CValue out;
  return XSI::Application().ExecuteCommand(name, a, out);
}

// Runs `work` in a child; prints its time and peak resident set.
void Case(const std::string& what, const std::function<bool()>& work) {
  std::fflush(stdout);
  const pid_t pid = fork();
  if (pid == 0) {
    const auto t0 = std::chrono::steady_clock::now();
    const bool ok = work();
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("%-58s %8.3f s", what.c_str(), s);
    std::fflush(stdout);
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  struct rusage u {};
  wait4(pid, &status, 0, &u);
  std::printf("  peak %7.1f MiB%s\n", double(u.ru_maxrss) / 1024.0,
              WIFEXITED(status) && WEXITSTATUS(status) == 0 ? "" : "  FAILED");
}

}  // namespace

int main(int argc, char** argv) {
  int large = 8192;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::string(argv[i]) == "--side") large = std::atoi(argv[i + 1]);
  GDALAllRegister();
  std::string folder = (std::filesystem::temp_directory_path() / "bench_raster-XXXXXX").string();
  if (!mkdtemp(folder.data())) return 1;
  struct Dir {
    std::string path;
    std::string File(const std::string& name) const { return path + "/" + name; }
    ~Dir() {
      std::error_code ec;
      std::filesystem::remove_all(path, ec);
    }
  } dir{folder};
  const int small = 2048;
  std::printf("writing %dx%d and %dx%d GeoTIFFs (RGB and Float32 DEM, tiled, deflate)\n", small, small, large, large);
  for (int side : {small, large}) {
    WriteRaster(dir.File("map" + std::to_string(side) + ".tif"), side, 3, GDT_Byte);
    WriteRaster(dir.File("dem" + std::to_string(side) + ".tif"), side, 1, GDT_Float32);
  }
  host::Runtime::Get();
  const auto path = [&](const char* kind, int side) {
    return XSI::CString::FromUtf8(dir.File(kind + std::to_string(side) + ".tif"));
  };
  Case("baseline: the runtime alone", [] { return true; });
  for (int side : {small, large}) {
    const std::string s = std::to_string(side) + "^2";
    Case("1024^2 window clip of an RGB " + s, [&] {
      return Run(L"CreateImageClip", {path("map", side), L"w", 512, 512, 1024, 1024}) == XSI::CStatus::OK;
    });
    Case("1024^2 window terrain, metres, step 1, of a DEM " + s, [&] {
      return Run(L"CreateHeightField", {path("dem", side), L"t", 1024, 1024, 1, 1, 512, 512, 1024, 1024, L"metres"}) ==
             XSI::CStatus::OK;
    });
  }
  // The same 1025 x 1025 grid from the whole of each DEM.
  Case("whole DEM " + std::to_string(small) + "^2 at step 2", [&] {
    return Run(L"CreateHeightField", {path("dem", small), L"t", 1024, 1024, 1, 2, L"", L"", L"", L"", L"metres"}) ==
           XSI::CStatus::OK;
  });
  Case("whole DEM " + std::to_string(large) + "^2 at step " + std::to_string(large / 1024), [&] {
    return Run(L"CreateHeightField",
               {path("dem", large), L"t", 1024, 1024, 1, large / 1024, L"", L"", L"", L"", L"metres"}) ==
           XSI::CStatus::OK;
  });
  return 0;
}
