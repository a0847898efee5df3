#include "row_halves.h"

#include <sched.h>

#include <system_error>
#include <thread>

namespace host {

unsigned UsableCpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  const int n = CPU_COUNT(&set);
  return n > 0 ? unsigned(n) : 1;
}

void ForRowHalves(std::uint64_t count, std::uint64_t bytes, std::uint64_t minBytes,
                  const std::function<void(std::uint64_t, std::uint64_t, int)>& work) {
  if (count < 2 || bytes < minBytes || UsableCpus() < 2) return work(0, count, 0);
  const std::uint64_t mid = count / 2;
  std::thread second;
  try {
    second = std::thread([&] { work(mid, count, 1); });
  } catch (const std::system_error&) {
    // No thread to be had (a process or memory limit): the caller does both.
    work(0, mid, 0);
    return work(mid, count, 1);
  }
  work(0, mid, 0);
  second.join();
}

}  // namespace host
