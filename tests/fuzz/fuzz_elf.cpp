// The loader's checks of a plug-in file (elf_check.h) on any bytes: the
// input is the whole file, handed over as an in-memory file so every path of
// the checks (pread at checked offsets) runs as it does on disk. Nothing is
// ever opened with dlopen here.
//
// Invariants:
//  - the check never crashes, never reads out of bounds and gives the same
//    answer twice;
//  - a refused file has a non-empty reason;
//  - an accepted file's SDK version export is either missing, too small to
//    hold two numbers, or holds them.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "elf_check.h"

namespace {

void Require(bool ok, const char* what, const std::string& detail = "") {
  if (!ok) {
    std::fprintf(stderr, "fuzz_elf: broken invariant: %s %s\n", what, detail.c_str());
    std::abort();
  }
}

int MemoryFile() {
  static const int fd = memfd_create("fuzz_elf", MFD_CLOEXEC);
  Require(fd >= 0, "memfd_create");
  return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const int fd = MemoryFile();
  Require(ftruncate(fd, 0) == 0, "ftruncate");
  std::size_t written = 0;
  while (written < size) {
    const ssize_t n = pwrite(fd, data + written, size - written, static_cast<off_t>(written));
    Require(n > 0, "pwrite");
    written += static_cast<std::size_t>(n);
  }
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  host::SdkVersionExport first, second;
  first.major = second.major = 12345;
  const std::string problem = host::FindSharedObjectProblem(path, &first);
  Require(problem == host::FindSharedObjectProblem(path, &second), "same answer twice", problem);
  if (!problem.empty()) {
    Require(first.major == 12345, "a refused file leaves the version alone");
    return 0;
  }
  Require(first.found == second.found && first.bytes == second.bytes && first.major == second.major &&
              first.minor == second.minor,
          "same version twice");
  if (!first.found) Require(first.bytes == 0 && first.major == 0 && first.minor == 0, "missing is empty");
  if (first.found && first.bytes < 8) Require(first.major == 0 && first.minor == 0, "short is not read");
  return 0;
}
