// Row work split in two: the second half of a range of rows runs on a thread
// of its own while the caller does the first. Decoding a large picture is
// mostly waiting on memory and on the kernel's copy from the page cache, and
// a second core halves that wait.
//
// The split never changes a result, only the time: each half writes its own
// rows, and whatever the halves report is combined by the caller in row
// order. It is made only where it pays: the process may run on more than one
// CPU (its affinity mask, so `taskset` and cpusets are honoured) and the
// work is big enough for a thread's start to vanish in it. When a thread
// cannot be started, both halves run on the caller's thread.
#pragma once

#include <cstdint>
#include <functional>

namespace host {

// CPUs this process may run on, at least 1.
unsigned UsableCpus();

// Runs work(first, end, part) for part 0 over [0, mid) and part 1 over
// [mid, count), or for part 0 alone over [0, count) when `bytes` (the
// memory the work touches) is under `minBytes` or only one CPU is usable.
// `work` must not throw. Returns once all of it is done.
void ForRowHalves(std::uint64_t count, std::uint64_t bytes, std::uint64_t minBytes,
                  const std::function<void(std::uint64_t first, std::uint64_t end, int part)>& work);

}  // namespace host
