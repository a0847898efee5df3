// The one-pass row labeller against the flood-fill labeller on the same
// pictures: same regions, same summaries, same order. Shapes that make the
// two part ways are the ones where regions join late (a U opening upward, a
// comb whose teeth meet at the bottom), where a small region closes while an
// older one stays open, and where records are reused.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "labelling.h"
#include "row_labelling.h"

using namespace findspots;

namespace {

struct Grid {
  int width = 0, height = 0;
  std::vector<std::uint8_t> fg;  // row 0 first; 1 foreground
  bool at(int x, int y) const { return fg[std::size_t(y) * std::size_t(width) + std::size_t(x)] != 0; }
};

Grid FromText(const std::vector<std::string>& rows) {
  Grid g;
  g.width = int(rows[0].size());
  g.height = int(rows.size());
  for (const std::string& r : rows)
    for (char c : r) g.fg.push_back(c == '#');
  return g;
}

std::vector<RegionSummary> ByFloodFill(const Grid& g, int minBlobSize) {
  std::vector<std::uint8_t> labels(g.fg.size());
  for (std::size_t i = 0; i < labels.size(); ++i) labels[i] = g.fg[i] ? kForeground : kBackground;
  LabelState state;
  initLabelState(state, labels.data(), g.width, g.height, minBlobSize);
  std::vector<RegionSummary> out;
  scanImage(state, 0, 0, g.width, g.height, kInRegion, [&](const RegionSummary& r) { out.push_back(r); });
  return out;
}

// Also checks that every blob is reported by the end of the row where its
// turn is known: never before its last row is given.
std::vector<RegionSummary> ByRows(const Grid& g, int minBlobSize) {
  std::vector<RegionSummary> out;
  int rowsGiven = 0;
  RowLabeller labeller(minBlobSize, [&](const RegionSummary& r) {
    EXPECT_LT(r.maxRow, rowsGiven) << "reported before its last row was given";
    out.push_back(r);
  });
  for (int y = 0; y < g.height; ++y) {
    int start = -1;
    for (int x = 0; x <= g.width; ++x) {
      const bool on = x < g.width && g.at(x, y);
      if (on && start < 0) start = x;
      if (!on && start >= 0) labeller.addRun(start, x - 1), start = -1;
    }
    rowsGiven = y + 1;
    labeller.endRow();
  }
  labeller.finish();
  EXPECT_EQ(labeller.blobCount(), int(out.size()));
  return out;
}

void ExpectSame(const Grid& g, int minBlobSize, const std::string& what) {
  const auto a = ByFloodFill(g, minBlobSize), b = ByRows(g, minBlobSize);
  ASSERT_EQ(a.size(), b.size()) << what;
  for (std::size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i].blobIndex, b[i].blobIndex) << what << " blob " << i;
    EXPECT_EQ(a[i].count, b[i].count) << what << " blob " << i;
    EXPECT_EQ(a[i].columnSum, b[i].columnSum) << what << " blob " << i;
    EXPECT_EQ(a[i].rowSum, b[i].rowSum) << what << " blob " << i;
    EXPECT_EQ(a[i].minColumn, b[i].minColumn) << what << " blob " << i;
    EXPECT_EQ(a[i].maxColumn, b[i].maxColumn) << what << " blob " << i;
    EXPECT_EQ(a[i].minRow, b[i].minRow) << what << " blob " << i;
    EXPECT_EQ(a[i].maxRow, b[i].maxRow) << what << " blob " << i;
  }
}

}  // namespace

TEST(RowLabelling, ShapesThatJoinLateOrCloseEarlyKeepScanOrder) {
  const std::vector<std::vector<std::string>> shapes = {
      // A U: two regions until the last row joins them.
      {"#...#", "#...#", "#####"},
      // A comb joined at the bottom, with a dot inside a gap that closes
      // early and must wait for the comb (which began first).
      {"#.#.#.#", "#.#.#.#", "#.#.#.#", "#######", "..#...."},
      {"#.#.#.#", "#.#.#.#", "#.#.#.#", "#######"},
      // A spiral: one region that keeps coming back.
      {"#######", "......#", "#####.#", "#...#.#", "#.###.#", "#.....#", "#######"},
      // A later region closes first; an earlier one closes later.
      {"#......", "#..##..", "#......", "#......"},
      // Diagonal neighbours stay apart; the whole picture as one region.
      {"#.#", ".#.", "#.#"},
      {"###", "###"},
      {"#"},
      {"."},
      // Runs that touch several runs above, in both directions.
      {"#.#.#", "#####", "#.#.#", "#####"},
      {"##.##.##", ".######.", "##.##.##"},
  };
  for (std::size_t i = 0; i < shapes.size(); ++i)
    for (int minBlobSize : {-1, 0, 1, 3})
      ExpectSame(FromText(shapes[i]), minBlobSize, "shape " + std::to_string(i) + " min " + std::to_string(minBlobSize));
}

TEST(RowLabelling, RandomPicturesMatchTheFloodFill) {
  std::mt19937 rng(130013);
  const int sizes[][2] = {{1, 40}, {40, 1}, {7, 7}, {33, 19}, {64, 64}, {200, 90}};
  for (const auto& size : sizes)
    for (int round = 0; round < 20; ++round) {
      Grid g;
      g.width = size[0];
      g.height = size[1];
      // From sparse noise to dense mazes: many joins, many closed regions
      // waiting, and records reused.
      const double density = 0.2 + 0.04 * round;
      std::bernoulli_distribution on(density);
      for (int i = 0; i < g.width * g.height; ++i) g.fg.push_back(on(rng));
      const int minBlobSize = int(rng() % 5) - 1;
      ExpectSame(g, minBlobSize,
                 std::to_string(g.width) + "x" + std::to_string(g.height) + " round " + std::to_string(round));
      if (HasFatalFailure()) return;
    }
}
