#include "second_thread.h"

#include <sched.h>

namespace findspots {

bool worthASecondThread(std::uint64_t bytes) {
  if (bytes < kSecondThreadBytes) return false;
  cpu_set_t set;
  CPU_ZERO(&set);
  return sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 1;
}

}  // namespace findspots
