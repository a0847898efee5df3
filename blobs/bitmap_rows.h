// blobs.bmp made one row at a time, without a raster of the whole picture.
//
// The labelling pass records which pixels are foreground in a ForegroundMask
// (one bit a pixel) and the kept blobs' outlines in an OutlineSweep. Writing
// then builds each row from the mask, the source pixels and the outlines
// crossing that row: the same bytes drawing every outline onto a full
// raster would give (the outlines are all one colour, so their order does
// not matter), for a sixth of a byte a pixel instead of three.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace findspots {

class ForegroundMask {
 public:
  // All background. Throws std::bad_alloc.
  ForegroundMask(std::int32_t width, std::int32_t height);

  std::uint64_t* row(std::int32_t y) { return words_.data() + static_cast<std::size_t>(y) * wordsPerRow_; }
  const std::uint64_t* row(std::int32_t y) const {
    return words_.data() + static_cast<std::size_t>(y) * wordsPerRow_;
  }

  // Marks column x of a row.
  static void set(std::uint64_t* row, std::int32_t x) { row[x >> 6] |= std::uint64_t{1} << (x & 63); }

  // Calls f(first, last) for each run of set bits of a row, left to right.
  template <class F>
  static void forEachRun(const std::uint64_t* row, std::int32_t width, F&& f);

 private:
  std::size_t wordsPerRow_;
  std::vector<std::uint64_t> words_;
};

// The outlines of the kept blobs, as drawRectangle (blob_stats.h) draws them,
// drawn into rows handed over in order from row 0.
class OutlineSweep {
 public:
  // Corner (x, y), width w and height h, as drawRectangle takes them. Boxes
  // may come in any order; once rows are drawn, only boxes starting below
  // every row drawn so far (y past the last one).
  void add(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h);

  // Draws, in green, the parts of every outline on row `y` into `line` (3
  // bytes a pixel, blue green red). Rows must come in increasing order.
  void drawRow(std::int32_t y, std::uint8_t* line);

 private:
  struct Box {
    std::int32_t x, y, w, h;
  };
  std::vector<Box> boxes_;
  std::vector<Box> active_;
  std::size_t next_ = 0;  // first box of boxes_ (sorted by y) not yet active
  bool sorted_ = false;
  bool drawing_ = false;  // a row has been drawn: boxes_ stays sorted from here
};

template <class F>
void ForegroundMask::forEachRun(const std::uint64_t* row, std::int32_t width, F&& f) {
  const std::size_t words = (static_cast<std::size_t>(width) + 63) / 64;
  std::int32_t runStart = -1;
  for (std::size_t i = 0; i < words; ++i) {
    std::uint64_t w = row[i];
    const std::int32_t base = static_cast<std::int32_t>(i * 64);
    // A word all set continues or starts a run; one all clear ends it.
    if (w == ~std::uint64_t{0}) {
      if (runStart < 0) runStart = base;
      continue;
    }
    if (runStart >= 0) {
      // The run goes on through the word's low set bits (not all of them).
      const int ones = __builtin_ctzll(~w);
      w &= ~std::uint64_t{0} << ones;
      f(runStart, base + ones - 1);
      runStart = -1;
    }
    while (w != 0) {
      const int start = __builtin_ctzll(w);
      const std::uint64_t rest = ~(w | ((std::uint64_t{1} << start) - 1));
      if (rest == 0) {  // runs to the word's end
        runStart = base + start;
        break;
      }
      const int end = __builtin_ctzll(rest);  // first clear bit past start, below 64
      f(base + start, base + end - 1);
      w &= ~std::uint64_t{0} << end;
    }
  }
  if (runStart >= 0) f(runStart, width - 1);
}

}  // namespace findspots
