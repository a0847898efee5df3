// Blocks of a file written on a second thread while the caller makes the
// next: two buffers, filled and written in turn, so making the bytes and the
// kernel's copy of them overlap. The blocks reach `write` in the order they
// were put, whole, one at a time; after a failed write no further block is
// written and put() says so.
//
// Without a second thread (not asked for, or none to be had) every block is
// written inside put().
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace findspots {

class WriteBehind {
 public:
  using Write = std::function<bool(const std::uint8_t* data, std::size_t size)>;

  // Buffers of `blockBytes` (zero-filled; throws std::bad_alloc). `write`
  // runs on the second thread when `secondThread` and one can be started.
  WriteBehind(std::size_t blockBytes, Write write, bool secondThread);
  ~WriteBehind();  // finish()
  WriteBehind(const WriteBehind&) = delete;
  WriteBehind& operator=(const WriteBehind&) = delete;

  // The buffer to fill next, blockBytes long; waits while both are written.
  std::uint8_t* next();
  // Hands over the first `size` bytes of the buffer next() gave. False once
  // a write has failed.
  bool put(std::size_t size);
  // Waits until every block put is written (or dropped after a failure).
  // False when a write failed.
  bool finish();

 private:
  void writerLoop();

  Write write_;
  std::vector<std::uint8_t> buffers_[2];
  std::size_t sizes_[2] = {0, 0};
  bool queued_[2] = {false, false};  // put, not yet written
  int filling_ = 0;                  // the buffer next() gives
  bool failed_ = false, closing_ = false;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::thread writer_;
};

}  // namespace findspots
