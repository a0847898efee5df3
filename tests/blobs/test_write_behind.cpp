// WriteBehind: blocks reach the writer whole and in order from either thread,
// a failed write stops the rest, and nothing waits forever.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "write_behind.h"

namespace {

// Puts `blocks` blocks of `size` bytes, block i filled with i, through a
// writer that fails at write number `failAt` (0: never); what was written.
std::vector<std::uint8_t> PutBlocks(bool secondThread, int blocks, std::size_t size, int failAt, bool& allPut,
                              bool& finished) {
  std::vector<std::uint8_t> written;
  int writes = 0;
  findspots::WriteBehind out(
      size,
      [&](const std::uint8_t* d, std::size_t n) {
        if (++writes == failAt) return false;
        written.insert(written.end(), d, d + n);
        return true;
      },
      secondThread);
  allPut = true;
  for (int i = 0; i < blocks && allPut; ++i) {
    std::memset(out.next(), i, size);
    allPut = out.put(size - static_cast<std::size_t>(i % 3));  // blocks of several sizes
  }
  finished = out.finish();
  return written;
}

std::vector<std::uint8_t> Expected(int blocks, std::size_t size) {
  std::vector<std::uint8_t> v;
  for (int i = 0; i < blocks; ++i) v.insert(v.end(), size - static_cast<std::size_t>(i % 3), std::uint8_t(i));
  return v;
}

TEST(WriteBehind, BlocksArriveWholeAndInOrderOnEitherThread) {
  for (bool second : {false, true}) {
    bool allPut = false, finished = false;
    EXPECT_EQ(PutBlocks(second, 200, 1000, 0, allPut, finished), Expected(200, 1000)) << second;
    EXPECT_TRUE(allPut && finished) << second;
  }
}

TEST(WriteBehind, AFailedWriteStopsTheRestAndIsReported) {
  for (bool second : {false, true})
    for (int failAt : {1, 2, 7, 200}) {
      bool allPut = true, finished = true;
      const std::vector<std::uint8_t> written = PutBlocks(second, 200, 1000, failAt, allPut, finished);
      const std::vector<std::uint8_t> before = Expected(failAt - 1, 1000);
      EXPECT_EQ(written, before) << second << " " << failAt;  // nothing after the failed block
      EXPECT_FALSE(finished) << second << " " << failAt;
      if (!second) {
        EXPECT_FALSE(allPut) << failAt;  // told at once; with a thread, a block or two later
      }
    }
}

TEST(WriteBehind, NothingPutIsFineAndFinishIsRepeatable) {
  findspots::WriteBehind out(
      16, [](const std::uint8_t*, std::size_t) { return false; }, true);
  EXPECT_TRUE(out.finish());
  EXPECT_TRUE(out.finish());
}

}  // namespace
