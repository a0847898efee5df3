// blobs.bmp made and written while the labelling goes on. The labelling
// hands over each kept blob's box as it reports it and says how many rows
// are settled (RowLabeller::settledRows: no region still to be reported
// reaches them); each settled row is made, its colours by `colour` and then
// the outlines, and written through writeBMPRows. With a thread of its own
// (for a large picture) that happens while the labelling goes on; without
// one, all of it in finish(). The bytes are the same either way.
//
// Left unfinished (the labelling failed), the thread stops at the next row
// it waits for and the file is abandoned: the old blobs.bmp stays. What the
// making of the file throws (out of memory) comes out of finish().
#pragma once

#include <condition_variable>
#include <exception>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bitmap_rows.h"
#include "bmp_writer.h"

namespace findspots {

class StreamedBitmap {
 public:
  // With `ownThread`, starts the thread (without it when none can be had).
  StreamedBitmap(std::int32_t width, std::int32_t height, std::string fileName, RowFill colour, bool ownThread);
  ~StreamedBitmap();
  StreamedBitmap(const StreamedBitmap&) = delete;
  StreamedBitmap& operator=(const StreamedBitmap&) = delete;

  // A kept blob's box, as OutlineSweep::add takes it; it starts on a row not
  // yet settled.
  void addBox(std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h);
  // Rows below `rows` are final, with every box that reaches them handed over.
  void settle(std::int32_t rows);
  // Every row is final: waits for the file and says how it went.
  BmpWriteResult finish();

 private:
  struct Box {
    std::int32_t x, y, w, h;
  };
  struct Abandoned {};

  void run();
  // Waits until `row` is settled and takes the boxes handed over so far.
  void waitFor(std::int32_t row);

  const std::int32_t width_, height_;
  const std::string fileName_;
  const RowFill colour_;
  OutlineSweep outlines_;  // the thread's own
  std::int32_t known_ = 0;  // rows the thread knows are settled, with their boxes taken
  BmpWriteResult result_;
  std::exception_ptr failure_;

  std::mutex mutex_;
  std::condition_variable settledMore_;
  std::vector<Box> incoming_;
  std::int32_t settled_ = 0;
  bool abandoned_ = false;

  std::thread thread_;  // last: started once everything above is made; none without ownThread
};

}  // namespace findspots
