// Blob labelling: finds the 4-connected regions of foreground pixels, scanning
// rows from 0 upward and columns from 0 within a row, and keeps a region as a
// blob when it has more than minBlobSize pixels. Blobs are numbered 0, 1, ...
// in the order the scan finds them; a dropped region leaves its number to the
// next one. Regions are true connected components of the whole scanned
// rectangle: pixels on its border extend a region like any other.
//
// Instead of collecting every pixel, a fill folds the pixels it marks into a
// RegionSummary (count, sums and extremes of columns and rows), which is all
// that measuring a blob needs; each kept blob's summary goes to a callback the
// moment its fill ends, in blob order.
//
// Memory: the caller's one-byte label per pixel, plus a work list of pixel
// runs reserved once per scan (never more than one entry per run of a row, so
// a fill can never overflow it and nothing is allocated while filling).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace findspots {

// Values in the label map.
enum Label : std::uint8_t {
  kForeground = 0,  // foreground, not yet part of a region
  kBackground = 1,
  kInRegion = 2,    // part of a region, kept or dropped
};

// What a fill gathers about its region. 64-bit sums so that no image size
// overflows them.
struct RegionSummary {
  std::int64_t count = 0;
  std::int64_t columnSum = 0;
  std::int64_t rowSum = 0;
  std::int32_t minColumn = 0, maxColumn = 0;
  std::int32_t minRow = 0, maxRow = 0;
  std::int32_t blobIndex = 0;  // the index the region carries if it is kept
};

// Adds the pixels of row `row`, columns first..last, to `r`.
void addRun(RegionSummary& r, std::int32_t row, std::int32_t first, std::int32_t last);

// A horizontal run of marked pixels still to be grown up and down.
struct PixelRun {
  std::int32_t row;
  std::int32_t first;
  std::int32_t last;
};

using BlobSink = std::function<void(const RegionSummary&)>;

struct LabelState {
  std::uint8_t* labels = nullptr;  // row * width + column, caller-owned
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t minBlobSize = 0;
  std::int32_t blobCount = 0;  // blobs kept so far
  RegionSummary region;        // the fill in progress
  std::vector<PixelRun> work;
};

// Binds the label map and reserves the work list (may throw std::bad_alloc).
void initLabelState(LabelState& state, std::uint8_t* labels, std::int32_t width,
                    std::int32_t height, std::int32_t minBlobSize);

inline std::uint8_t getLabel(const LabelState& state, std::int32_t column, std::int32_t row) {
  return state.labels[static_cast<std::size_t>(row) * static_cast<std::size_t>(state.width) +
                      static_cast<std::size_t>(column)];
}

// Collects the region of the seed pixel within the rectangle (end values
// exclusive) and keeps or drops it; a kept region goes to `onBlob`. The
// rectangle is given as in scanImage: both starts, then both ends.
void floodFill(LabelState& state, std::int32_t column, std::int32_t row, std::uint8_t label,
               std::int32_t colStart, std::int32_t rowStart, std::int32_t colEnd,
               std::int32_t rowEnd, const BlobSink& onBlob);

// Starts a fill at every foreground pixel of the rectangle that no region
// holds yet.
void scanImage(LabelState& state, std::int32_t colStart, std::int32_t rowStart,
               std::int32_t colEnd, std::int32_t rowEnd, std::uint8_t label,
               const BlobSink& onBlob);

}  // namespace findspots
