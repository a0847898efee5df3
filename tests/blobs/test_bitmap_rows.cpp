// The pieces that make blobs.bmp row by row against their plain forms: the
// foreground mask's runs against a bit-by-bit reading, and the outline
// sweep against drawRectangle on a whole raster.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "bitmap_rows.h"
#include "blob_stats.h"

using namespace findspots;

namespace {

struct Lcg {
  std::uint32_t state;
  std::uint32_t next(std::uint32_t n) {
    state = state * 1664525u + 1013904223u;
    return (state >> 8) % n;
  }
};

using Runs = std::vector<std::pair<std::int32_t, std::int32_t>>;

Runs runsOf(const std::uint64_t* row, std::int32_t width) {
  Runs runs;
  ForegroundMask::forEachRun(row, width, [&](std::int32_t a, std::int32_t b) { runs.emplace_back(a, b); });
  return runs;
}

}  // namespace

TEST(ForegroundMask, RunsComeBackAsTheyWereMarkedAcrossWordEdges) {
  // Widths on and beside the 64-bit word size, runs of one pixel, whole
  // words, runs ending on a word's last bit and starting on the next one's
  // first (which join into one run).
  for (std::int32_t width : {1, 2, 63, 64, 65, 127, 128, 129, 200, 517}) {
    Lcg rng{static_cast<std::uint32_t>(width)};
    ForegroundMask mask(width, 40);
    for (std::int32_t y = 0; y < 40; ++y) {
      std::vector<bool> expected(static_cast<std::size_t>(width), false);
      std::int32_t x = static_cast<std::int32_t>(rng.next(3));
      while (x < width) {
        const std::int32_t len = 1 + static_cast<std::int32_t>(rng.next(y % 4 == 0 ? 150 : 6));
        const std::int32_t last = std::min(width - 1, x + len - 1);
        for (std::int32_t i = x; i <= last; ++i) {
          ForegroundMask::set(mask.row(y), i);
          expected[static_cast<std::size_t>(i)] = true;
        }
        x = last + 1 + static_cast<std::int32_t>(rng.next(y % 3 == 0 ? 2 : 70));
      }
      Runs plain;
      for (std::int32_t i = 0; i < width; ++i) {
        if (!expected[static_cast<std::size_t>(i)]) continue;
        if (!plain.empty() && plain.back().second == i - 1) plain.back().second = i;
        else plain.emplace_back(i, i);
      }
      EXPECT_EQ(runsOf(mask.row(y), width), plain) << "width " << width << ", row " << y;
    }
  }
}

TEST(ForegroundMask, FullAndEmptyRows) {
  ForegroundMask mask(130, 2);
  for (std::int32_t x = 0; x <= 129; ++x) ForegroundMask::set(mask.row(0), x);
  EXPECT_EQ(runsOf(mask.row(0), 130), (Runs{{0, 129}}));
  EXPECT_TRUE(runsOf(mask.row(1), 130).empty());
  ForegroundMask::set(mask.row(1), 64);
  EXPECT_EQ(runsOf(mask.row(1), 130), (Runs{{64, 64}}));
}

TEST(OutlineSweep, DrawsWhatDrawRectangleDrawsOnAWholeRaster) {
  // Boxes of width or height 0, single pixels (which draw nothing), boxes
  // on the raster's edges, overlapping and nested boxes, added out of order.
  const std::int32_t w = 61, h = 47;
  Lcg rng{7};
  std::vector<std::uint8_t> base(static_cast<std::size_t>(w) * h * 3);
  for (std::uint8_t& b : base) b = static_cast<std::uint8_t>(rng.next(256));
  std::vector<std::uint8_t> whole = base;
  Raster raster{whole.data(), w, h};
  OutlineSweep sweep;
  auto box = [&](std::int32_t x, std::int32_t y, std::int32_t bw, std::int32_t bh) {
    drawRectangle(raster, x, y, bw, bh, 0, 255, 0);
    sweep.add(x, y, bw, bh);
  };
  box(0, 0, w - 1, h - 1);
  box(5, 5, 0, 0);
  box(10, 3, 0, 9);
  box(3, 30, 20, 0);
  for (int i = 0; i < 60; ++i) {
    const std::int32_t x = static_cast<std::int32_t>(rng.next(static_cast<std::uint32_t>(w)));
    const std::int32_t y = static_cast<std::int32_t>(rng.next(static_cast<std::uint32_t>(h)));
    box(x, y, static_cast<std::int32_t>(rng.next(static_cast<std::uint32_t>(w - x))),
        static_cast<std::int32_t>(rng.next(static_cast<std::uint32_t>(h - y))));
  }
  std::vector<std::uint8_t> rows = base;
  for (std::int32_t y = 0; y < h; ++y) sweep.drawRow(y, rows.data() + static_cast<std::size_t>(y) * w * 3);
  EXPECT_EQ(rows, whole);
}

// Boxes handed over while rows are drawn, each starting below every row
// drawn so far and in any order among themselves, draw what they draw when
// all come first.
TEST(OutlineSweep, BoxesAddedWhileDrawingDrawAsIfAddedFirst) {
  const std::int32_t w = 53, h = 71;
  Lcg rng{11};
  struct Box {
    std::int32_t x, y, w, h;
  };
  std::vector<Box> boxes;
  for (int i = 0; i < 80; ++i) {
    const auto x = static_cast<std::int32_t>(rng.next(static_cast<std::uint32_t>(w)));
    const auto y = static_cast<std::int32_t>(rng.next(static_cast<std::uint32_t>(h)));
    boxes.push_back(Box{x, y, static_cast<std::int32_t>(rng.next(static_cast<std::uint32_t>(w - x))),
                        static_cast<std::int32_t>(rng.next(static_cast<std::uint32_t>(h - y)))});
  }
  std::vector<std::uint8_t> first(static_cast<std::size_t>(w) * h * 3, 0), during = first;
  OutlineSweep all, some;
  for (const Box& b : boxes) all.add(b.x, b.y, b.w, b.h);
  for (std::int32_t y = 0; y < h; ++y) all.drawRow(y, first.data() + static_cast<std::size_t>(y) * w * 3);
  // Each box is handed over just before its first row (boxes of a row in the
  // order they were made, which is not sorted).
  for (std::int32_t y = 0; y < h; ++y) {
    for (const Box& b : boxes)
      if (b.y == y) some.add(b.x, b.y, b.w, b.h);
    some.drawRow(y, during.data() + static_cast<std::size_t>(y) * w * 3);
  }
  EXPECT_EQ(during, first);
}
