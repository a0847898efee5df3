#include "write_behind.h"

#include <system_error>
#include <utility>

namespace findspots {

WriteBehind::WriteBehind(std::size_t blockBytes, Write write, bool secondThread) : write_(std::move(write)) {
  buffers_[0].assign(blockBytes, 0);
  if (!secondThread) return;
  buffers_[1].assign(blockBytes, 0);
  try {
    writer_ = std::thread([this] { writerLoop(); });
  } catch (const std::system_error&) {
    // No thread to be had: put() writes, from the first buffer.
  }
}

WriteBehind::~WriteBehind() { finish(); }

std::uint8_t* WriteBehind::next() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return !queued_[filling_]; });
  return buffers_[filling_].data();
}

bool WriteBehind::put(std::size_t size) {
  if (!writer_.joinable()) {
    if (!failed_ && !write_(buffers_[filling_].data(), size)) failed_ = true;
    return !failed_;
  }
  bool failed = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    sizes_[filling_] = size;
    queued_[filling_] = true;
    filling_ ^= 1;
    failed = failed_;
  }
  changed_.notify_all();
  return !failed;
}

void WriteBehind::writerLoop() {
  int writing = 0;
  for (;;) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return queued_[writing] || closing_; });
    if (!queued_[writing]) return;  // closing, and everything put is written
    const bool skip = failed_;
    lock.unlock();
    const bool ok = skip || write_(buffers_[writing].data(), sizes_[writing]);
    lock.lock();
    if (!ok) failed_ = true;
    queued_[writing] = false;
    writing ^= 1;
    lock.unlock();
    changed_.notify_all();
  }
}

bool WriteBehind::finish() {
  if (writer_.joinable()) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closing_ = true;
    }
    changed_.notify_all();
    writer_.join();
  }
  return !failed_;
}

}  // namespace findspots
