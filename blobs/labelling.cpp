#include "labelling.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace findspots {

void addRun(RegionSummary& r, std::int32_t row, std::int32_t first, std::int32_t last) {
  const std::int64_t n = static_cast<std::int64_t>(last) - first + 1;
  if (r.count == 0) {
    r.minColumn = first;
    r.maxColumn = last;
    r.minRow = row;
    r.maxRow = row;
  } else {
    r.minColumn = std::min(r.minColumn, first);
    r.maxColumn = std::max(r.maxColumn, last);
    r.minRow = std::min(r.minRow, row);
    r.maxRow = std::max(r.maxRow, row);
  }
  r.count += n;
  r.columnSum += (static_cast<std::int64_t>(first) + last) * n / 2;
  r.rowSum += static_cast<std::int64_t>(row) * n;
}

namespace {

std::uint8_t* rowPointer(const LabelState& state, std::int32_t row) {
  return state.labels + static_cast<std::size_t>(row) * static_cast<std::size_t>(state.width);
}

// Marks columns first..last of `row` and folds them into the region.
void markRun(LabelState& state, std::int32_t row, std::int32_t first, std::int32_t last,
             std::uint8_t label) {
  std::uint8_t* line = rowPointer(state, row);
  const std::int64_t n = static_cast<std::int64_t>(last) - first + 1;
  std::memset(line + first, label, static_cast<std::size_t>(n));
  addRun(state.region, row, first, last);
}

// Grows the foreground run through (column, row) to its full extent within
// [colStart, colEnd), marks it and queues it.
void takeRun(LabelState& state, std::int32_t column, std::int32_t row, std::uint8_t label,
             std::int32_t colStart, std::int32_t colEnd) {
  const std::uint8_t* line = rowPointer(state, row);
  std::int32_t first = column;
  while (first > colStart && line[first - 1] == kForeground) --first;
  std::int32_t last = column;
  while (last + 1 < colEnd && line[last + 1] == kForeground) ++last;
  markRun(state, row, first, last, label);
  state.work.push_back(PixelRun{row, first, last});
}

// Queues every foreground run of `row` that touches columns first..last.
void takeRunsAlong(LabelState& state, std::int32_t row, std::int32_t first, std::int32_t last,
                   std::uint8_t label, std::int32_t colStart, std::int32_t colEnd) {
  const std::uint8_t* line = rowPointer(state, row);
  std::int32_t c = first;
  while (c <= last) {
    if (line[c] != kForeground) {
      ++c;
      continue;
    }
    takeRun(state, c, row, label, colStart, colEnd);
    // The run just taken ends before a pixel that is not foreground.
    c = state.work.back().last + 2;
  }
}

}  // namespace

void initLabelState(LabelState& state, std::uint8_t* labels, std::int32_t width,
                    std::int32_t height, std::int32_t minBlobSize) {
  state.labels = labels;
  state.width = width;
  state.height = height;
  state.minBlobSize = minBlobSize;
  state.blobCount = 0;
  state.region = RegionSummary{};
  state.work.clear();
  // A row holds at most ceil(width / 2) separate runs, and every run enters
  // the work list once, so this bound is never exceeded.
  const std::size_t runsPerRow = (static_cast<std::size_t>(width) + 1) / 2;
  state.work.reserve(runsPerRow * static_cast<std::size_t>(height));
}

void floodFill(LabelState& state, std::int32_t column, std::int32_t row, std::uint8_t label,
               std::int32_t colStart, std::int32_t rowStart, std::int32_t colEnd,
               std::int32_t rowEnd, const BlobSink& onBlob) {
  assert(label != kForeground && "a fill must mark pixels with a region label");
  if (getLabel(state, column, row) != kForeground) return;
  state.region = RegionSummary{};
  state.region.blobIndex = state.blobCount;
  state.work.clear();
  takeRun(state, column, row, label, colStart, colEnd);
  while (!state.work.empty()) {
    const PixelRun run = state.work.back();
    state.work.pop_back();
    if (run.row > rowStart)
      takeRunsAlong(state, run.row - 1, run.first, run.last, label, colStart, colEnd);
    if (run.row + 1 < rowEnd)
      takeRunsAlong(state, run.row + 1, run.first, run.last, label, colStart, colEnd);
  }
  if (state.region.count > state.minBlobSize) {
    onBlob(state.region);
    ++state.blobCount;
  }
  state.region = RegionSummary{};
}

void scanImage(LabelState& state, std::int32_t colStart, std::int32_t rowStart,
               std::int32_t colEnd, std::int32_t rowEnd, std::uint8_t label,
               const BlobSink& onBlob) {
  if (colStart >= colEnd) return;
  for (std::int32_t row = rowStart; row < rowEnd; ++row) {
    const std::uint8_t* line = rowPointer(state, row);
    std::int32_t column = colStart;
    while (column < colEnd) {
      const void* hit = std::memchr(line + column, kForeground,
                                    static_cast<std::size_t>(colEnd - column));
      if (hit == nullptr) break;
      column = static_cast<std::int32_t>(static_cast<const std::uint8_t*>(hit) - line);
      floodFill(state, column, row, label, colStart, rowStart, colEnd, rowEnd, onBlob);
      ++column;
    }
  }
}

}  // namespace findspots
