// Blob labelling in one pass over the rows: the caller classifies a row,
// hands over its foreground runs, and moves on; no label map is kept.
//
// The result is the one scanImage (labelling.h) gives for the whole picture:
// regions are the 4-connected components of the foreground, a region is kept
// when it has more than minBlobSize pixels, and kept regions are numbered
// 0, 1, ... in the order of their first pixel in scan order (rows from 0
// upward, columns from 0 within a row). Each kept region's RegionSummary goes
// to the sink once the region and every region that began before it are
// complete, so in blob order, and never later than the end of the row where
// that becomes known.
//
// Memory: a record for each region still open (touching the last row given)
// and each kept region waiting for an earlier one to close; nothing per
// pixel. Records are reused once their region is done.
#pragma once

#include <cstdint>
#include <vector>

#include "labelling.h"

namespace findspots {

class RowLabeller {
 public:
  RowLabeller(std::int32_t minBlobSize, BlobSink onBlob);

  // Adds the run of foreground pixels first..last (inclusive) to the current
  // row. Runs of a row come left to right and do not touch each other.
  // May throw std::bad_alloc.
  void addRun(std::int32_t first, std::int32_t last);
  // Ends the current row (row 0 is the first one) and reports the regions
  // whose turn has come.
  void endRow();
  // Ends the picture: every region is complete and reported.
  void finish();

  std::int32_t blobCount() const { return blobCount_; }
  // Rows below this one are settled: every region touching them has been
  // reported or dropped, and none that is still to come reaches them.
  std::int32_t settledRows() const { return settled_; }

 private:
  struct Region {
    RegionSummary summary;
    std::uint64_t order = 0;  // creation order: the order of first pixels
    std::int32_t parent = 0;  // itself for a root
    std::int32_t lastRow = 0;
    bool done = false;
  };
  struct Run {
    std::int32_t first, last, region;
  };
  struct Waiting {
    std::uint64_t order;
    RegionSummary summary;
  };

  std::int32_t find(std::int32_t r);
  std::int32_t newRegion();
  std::int32_t join(std::int32_t a, std::int32_t b);
  void closeRegion(std::int32_t r);
  void report(std::uint64_t before);

  std::int32_t minBlobSize_;
  BlobSink onBlob_;
  std::int32_t row_ = 0;
  std::int32_t blobCount_ = 0;
  std::int32_t settled_ = 0;
  std::uint64_t nextOrder_ = 0;
  std::vector<Region> regions_;
  std::vector<std::int32_t> free_;
  std::vector<std::int32_t> absorbed_;  // joined into another region this row
  std::vector<Run> previous_, current_;
  std::size_t scanFrom_ = 0;  // first run of previous_ that may touch the next run
  std::vector<Waiting> waiting_;  // a min-heap by order
};

}  // namespace findspots
