#include "streamed_bitmap.h"

#include <system_error>
#include <utility>

namespace findspots {

StreamedBitmap::StreamedBitmap(std::int32_t width, std::int32_t height, std::string fileName, RowFill colour,
                               bool ownThread)
    : width_(width), height_(height), fileName_(std::move(fileName)), colour_(std::move(colour)) {
  if (!ownThread) return;
  try {
    thread_ = std::thread([this] { run(); });
  } catch (const std::system_error&) {
    // No thread to be had: finish() makes the file.
  }
}

StreamedBitmap::~StreamedBitmap() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    abandoned_ = true;
  }
  settledMore_.notify_all();
  thread_.join();
}

void StreamedBitmap::addBox(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h) {
  std::lock_guard<std::mutex> lock(mutex_);
  incoming_.push_back(Box{x, y, w, h});
}

void StreamedBitmap::settle(std::int32_t rows) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (rows <= settled_) return;
    settled_ = rows;
  }
  if (thread_.joinable()) settledMore_.notify_one();
}

BmpWriteResult StreamedBitmap::finish() {
  settle(height_);
  if (thread_.joinable()) thread_.join();
  else run();
  if (failure_) std::rethrow_exception(failure_);
  return result_;
}

void StreamedBitmap::waitFor(std::int32_t row) {
  std::vector<Box> boxes;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    settledMore_.wait(lock, [&] { return settled_ > row || abandoned_; });
    if (abandoned_) throw Abandoned{};
    boxes.swap(incoming_);
    known_ = settled_;
  }
  for (const Box& b : boxes) outlines_.add(b.x, b.y, b.w, b.h);
}

void StreamedBitmap::run() {
  try {
    result_ = writeBMPRows(width_, height_, 24, fileName_.c_str(), [this](std::int32_t row, std::uint8_t* line) {
      if (row >= known_) waitFor(row);
      colour_(row, line);
      outlines_.drawRow(row, line);
    });
  } catch (const Abandoned&) {
    result_ = BmpWriteResult{false, "the run stopped before the bitmap was complete"};
  } catch (...) {
    failure_ = std::current_exception();  // for finish() to rethrow where the caller can take it
  }
}

}  // namespace findspots
