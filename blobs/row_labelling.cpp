#include "row_labelling.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace findspots {
namespace {

void merge(RegionSummary& into, const RegionSummary& from) {
  into.minColumn = std::min(into.minColumn, from.minColumn);
  into.maxColumn = std::max(into.maxColumn, from.maxColumn);
  into.minRow = std::min(into.minRow, from.minRow);
  into.maxRow = std::max(into.maxRow, from.maxRow);
  into.count += from.count;
  into.columnSum += from.columnSum;
  into.rowSum += from.rowSum;
}

struct LaterFirst {
  template <typename W>
  bool operator()(const W& a, const W& b) const {
    return a.order > b.order;
  }
};

}  // namespace

RowLabeller::RowLabeller(std::int32_t minBlobSize, BlobSink onBlob)
    : minBlobSize_(minBlobSize), onBlob_(std::move(onBlob)) {}

std::int32_t RowLabeller::find(std::int32_t r) {
  std::int32_t root = r;
  while (regions_[root].parent != root) root = regions_[root].parent;
  while (regions_[r].parent != root) r = std::exchange(regions_[r].parent, root);
  return root;
}

std::int32_t RowLabeller::newRegion() {
  std::int32_t r;
  if (!free_.empty()) {
    r = free_.back();
    free_.pop_back();
  } else {
    r = static_cast<std::int32_t>(regions_.size());
    regions_.emplace_back();
  }
  Region& region = regions_[r];
  region = Region{};
  region.order = nextOrder_++;
  region.parent = r;
  return r;
}

// The region that began first absorbs the other, so a root always carries
// the first pixel of everything joined to it.
std::int32_t RowLabeller::join(std::int32_t a, std::int32_t b) {
  if (regions_[b].order < regions_[a].order) std::swap(a, b);
  merge(regions_[a].summary, regions_[b].summary);
  regions_[b].parent = a;
  absorbed_.push_back(b);
  return a;
}

void RowLabeller::addRun(std::int32_t first, std::int32_t last) {
  // Runs above that end left of this one cannot touch any later run either.
  while (scanFrom_ < previous_.size() && previous_[scanFrom_].last < first) ++scanFrom_;
  std::int32_t region = -1;
  for (std::size_t i = scanFrom_; i < previous_.size() && previous_[i].first <= last; ++i) {
    const std::int32_t above = find(previous_[i].region);
    region = region < 0 ? above : (above == region ? region : join(region, above));
  }
  if (region < 0) region = newRegion();
  findspots::addRun(regions_[region].summary, row_, first, last);
  regions_[region].lastRow = row_;
  current_.push_back(Run{first, last, region});
}

void RowLabeller::closeRegion(std::int32_t r) {
  Region& region = regions_[r];
  region.done = true;
  if (region.summary.count > minBlobSize_) {
    waiting_.push_back(Waiting{region.order, region.summary});
    std::push_heap(waiting_.begin(), waiting_.end(), LaterFirst());
  }
  free_.push_back(r);
}

// Reports the waiting regions that began before `before`, in order.
void RowLabeller::report(std::uint64_t before) {
  while (!waiting_.empty() && waiting_.front().order < before) {
    std::pop_heap(waiting_.begin(), waiting_.end(), LaterFirst());
    RegionSummary summary = waiting_.back().summary;
    waiting_.pop_back();
    summary.blobIndex = blobCount_;
    onBlob_(summary);
    ++blobCount_;
  }
}

void RowLabeller::endRow() {
  std::uint64_t oldestOpen = std::numeric_limits<std::uint64_t>::max();
  std::int32_t oldestRegion = -1;
  for (Run& run : current_) {
    run.region = find(run.region);
    if (regions_[run.region].order < oldestOpen) oldestOpen = regions_[run.region].order, oldestRegion = run.region;
  }
  // Whatever waits after the report below began after the oldest open
  // region, so on its first row or later.
  settled_ = oldestRegion < 0 ? row_ + 1 : regions_[oldestRegion].summary.minRow;
  // A region of the row above that this row did not reach is complete.
  for (const Run& run : previous_) {
    const std::int32_t r = find(run.region);
    if (regions_[r].lastRow != row_ && !regions_[r].done) closeRegion(r);
  }
  // Nothing refers to an absorbed record any more: the row above is done.
  free_.insert(free_.end(), absorbed_.begin(), absorbed_.end());
  absorbed_.clear();
  report(oldestOpen);
  previous_.swap(current_);
  current_.clear();
  scanFrom_ = 0;
  ++row_;
}

void RowLabeller::finish() {
  endRow();  // an empty row after the last closes every region
  report(std::numeric_limits<std::uint64_t>::max());
}

}  // namespace findspots
