#include "bitmap_rows.h"

#include <algorithm>

namespace findspots {

ForegroundMask::ForegroundMask(std::int32_t width, std::int32_t height)
    : wordsPerRow_((static_cast<std::size_t>(width) + 63) / 64),
      words_(wordsPerRow_ * static_cast<std::size_t>(height), 0) {}

void OutlineSweep::add(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h) {
  if (w <= 0 && h <= 0) return;  // draws nothing
  const Box box{x, y, w, h};
  if (!drawing_) {
    boxes_.push_back(box);
    sorted_ = false;
    return;
  }
  // Kept in order among the boxes not yet reached; boxes come in blob order,
  // so this is almost always the end.
  const auto at = std::upper_bound(boxes_.begin() + static_cast<std::ptrdiff_t>(next_), boxes_.end(), box,
                                   [](const Box& a, const Box& b) { return a.y < b.y; });
  boxes_.insert(at, box);
}

void OutlineSweep::drawRow(std::int32_t y, std::uint8_t* line) {
  if (!sorted_) {
    std::stable_sort(boxes_.begin(), boxes_.end(), [](const Box& a, const Box& b) { return a.y < b.y; });
    sorted_ = true;
  }
  drawing_ = true;
  while (next_ < boxes_.size() && boxes_[next_].y <= y) active_.push_back(boxes_[next_++]);
  auto green = [line](std::int32_t x) {
    std::uint8_t* p = line + static_cast<std::size_t>(x) * 3;
    p[0] = 0, p[1] = 255, p[2] = 0;
  };
  for (std::size_t i = 0; i < active_.size();) {
    const Box& b = active_[i];
    if (b.y + b.h < y) {  // finished: drop it
      active_[i] = active_.back();
      active_.pop_back();
      continue;
    }
    if (y < b.y + b.h) green(b.x), green(b.x + b.w);  // left and right edges
    if (y == b.y || y == b.y + b.h)
      for (std::int32_t x = b.x; x < b.x + b.w; ++x) green(x);  // top and bottom
    ++i;
  }
}

}  // namespace findspots
