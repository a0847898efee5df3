// bench_soak: one host process that raises and deletes tower after tower,
// then runs findSpots again and again, as a batch job or a script loop would.
// It prints the resident memory after the first 100 runs of each kind and at
// the end, and the time per run over the first and the last 1,000 runs.
// Targets: end memory <= 1.1x the memory after 100 runs; the last 1,000 runs
// within 1.2x the time of the first 1,000.
//
//   bench_soak [--towers N] [--spots N]      (defaults 10000 and 1000)
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "plugin_loader.h"
#include "runtime.h"
#include "xsi_plugin.h"

namespace {

using Clock = std::chrono::steady_clock;

// Resident and peak resident memory of this process, in KiB.
long StatusKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::size_t n = std::strlen(field);
  while (std::getline(status, line))
    if (line.compare(0, n, field) == 0) return std::atol(line.c_str() + n);
  return -1;
}

bool Run(const wchar_t* command, std::initializer_list<XSI::CValue> args) {
  XSI::CValueArray a;
  for (const XSI::CValue& v : args) a.Add(v);
  XSI::CValue out;
  return XSI::Application().ExecuteCommand(command, a, out).Succeeded();
}

struct Series {
  const char* name;
  long rssAfter100 = 0;
  double firstMs = 0, lastMs = 0;  // mean per run over the first / last 1,000
};

template <typename OneRun>
bool Soak(Series& s, long runs, OneRun&& oneRun) {
  const long window = runs < 1000 ? runs : 1000;
  Clock::time_point windowStart = Clock::now();
  for (long i = 0; i < runs; ++i) {
    if (i == runs - window) windowStart = Clock::now();
    if (!oneRun()) {
      std::fprintf(stderr, "%s run %ld failed:\n%s\n", s.name, i,
                   host::Runtime::Get().GetJournal().Format().c_str());
      return false;
    }
    if (i + 1 == 100) s.rssAfter100 = StatusKiB("VmRSS:");
    if (i + 1 == window) {
      s.firstMs = std::chrono::duration<double, std::milli>(Clock::now() - windowStart).count() / window;
    }
  }
  s.lastMs = std::chrono::duration<double, std::milli>(Clock::now() - windowStart).count() / window;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  long towers = 10000, spots = 1000;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--towers")) towers = std::atol(argv[i + 1]);
    if (!std::strcmp(argv[i], "--spots")) spots = std::atol(argv[i + 1]);
  }
  host::Runtime& rt = host::Runtime::Get();
  rt.SetHomePath(XSI_SOURCE_DIR "/home");
  host::PluginManager plugins(rt);
  for (const char* p : {"/plugins/RaiseTower.so", "/plugins/findSpots.so"})
    if (!plugins.Load(std::string(XSI_BINARY_DIR) + p).Succeeded()) return 1;
  char work[] = "/tmp/bench_soak-XXXXXX";
  if (!mkdtemp(work) || chdir(work) != 0) return 1;  // blobs.bmp goes here

  const long rssStart = StatusKiB("VmRSS:");
  Series tower{"RaiseTower T 5 4 3 brick A 1 + DeleteObj T"};
  bool ok = Soak(tower, towers, [] {
    return Run(L"RaiseTower", {L"T", 5, 4, 3, L"brick", L"A", 1}) && Run(L"DeleteObj", {L"T"});
  });
  const long rssAfterTowers = StatusKiB("VmRSS:");
  Series blobs{"findSpots on the sample map"};
  const XSI::CString images = XSI::CString::FromUtf8(XSI_SOURCE_DIR "/examples/images/");
  ok = ok && Soak(blobs, spots, [&] {
    return Run(L"findSpots", {images, L"map", 20, true, 0.9, 0.1, 0.1, 0.05, 0.05, 0.05, 0, 0, true});
  });
  const long rssEnd = StatusKiB("VmRSS:");
  std::string cleanup = std::string("rm -rf ") + work;
  if (std::system(cleanup.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", work);
  if (!ok) return 1;

  std::printf("journal: capacity %zu entries or %zu bytes; %zu held (%zu bytes), %llu dropped\n",
              rt.GetJournal().Capacity(), rt.GetJournal().ByteBudget(), rt.GetJournal().Entries().size(),
              rt.GetJournal().Bytes(), static_cast<unsigned long long>(rt.GetJournal().Dropped()));
  std::printf("scene: %zu objects, %zu image clips\n", rt.GetScene().Count(), rt.Clips().size());
  std::printf("resident memory at start: %ld KiB; peak: %ld KiB\n\n", rssStart, StatusKiB("VmHWM:"));
  std::printf("| series | runs | RSS after 100 runs | RSS at end | end / 100 | ms per run, first 1,000 | last 1,000 | last / first |\n");
  std::printf("|---|---|---|---|---|---|---|---|\n");
  auto row = [](const Series& s, long runs, long end) {
    std::printf("| %s | %ld | %ld KiB | %ld KiB | %.3f | %.3f | %.3f | %.3f |\n", s.name, runs, s.rssAfter100,
                end, double(end) / s.rssAfter100, s.firstMs, s.lastMs, s.lastMs / s.firstMs);
  };
  row(tower, towers, rssAfterTowers);
  row(blobs, spots, rssEnd);
  return 0;
}
