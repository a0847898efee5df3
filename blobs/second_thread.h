// When findSpots does part of a large run on a second thread: the picture is
// big enough for a thread's start to vanish in the work, and the process may
// run on more than one CPU (its affinity mask, so `taskset` and cpusets are
// honoured). Work split this way gives the same bytes as on one thread.
#pragma once

#include <cstdint>

namespace findspots {

// Work touching less memory than this stays on one thread.
inline constexpr std::uint64_t kSecondThreadBytes = std::uint64_t{8} << 20;

bool worthASecondThread(std::uint64_t bytes);

}  // namespace findspots
