// StreamedBitmap: the file made while rows are settled, on its own thread or
// in finish(), is the one writeBMPRows makes afterwards, and one left
// unfinished leaves the old file alone.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <vector>

#include "bitmap_rows.h"
#include "blob_test_support.h"
#include "bmp_writer.h"
#include "streamed_bitmap.h"

using namespace blobtest;
using namespace findspots;

namespace {

constexpr std::int32_t kWidth = 37, kHeight = 300;

void Colour(std::int32_t row, std::uint8_t* line) {
  for (std::int32_t i = 0; i < kWidth * 3; ++i) line[i] = static_cast<std::uint8_t>(row * 7 + i);
}

struct Box {
  std::int32_t x, y, w, h;
};

const std::vector<Box> kBoxes = {{0, 0, 36, 299}, {3, 10, 5, 40}, {1, 10, 2, 2}, {20, 150, 10, 149}, {4, 298, 3, 1}};

}  // namespace

TEST(StreamedBitmap, RowsSettledAsTheLabellingGoesGiveTheFileMadeAfterIt) {
  ScratchDir dir;
  OutlineSweep sweep;
  for (const Box& b : kBoxes) sweep.add(b.x, b.y, b.w, b.h);
  ASSERT_TRUE(writeBMPRows(kWidth, kHeight, 24, "after.bmp", [&](std::int32_t row, std::uint8_t* line) {
                Colour(row, line);
                sweep.drawRow(row, line);
              }).ok);

  for (bool ownThread : {true, false}) {
    StreamedBitmap streamed(kWidth, kHeight, "streamed.bmp", Colour, ownThread);
    std::size_t next = 0;
    for (std::int32_t row = 0; row < kHeight; ++row) {
      // A box is handed over by the time its first row is settled.
      while (next < kBoxes.size() && kBoxes[next].y <= row) {
        const Box& b = kBoxes[next++];
        streamed.addBox(b.x, b.y, b.w, b.h);
      }
      streamed.settle(row + 1);
    }
    ASSERT_TRUE(streamed.finish().ok);
    EXPECT_EQ(ReadBytes(dir.File("streamed.bmp")), ReadBytes(dir.File("after.bmp"))) << ownThread;
  }
}

TEST(StreamedBitmap, LeftUnfinishedItKeepsTheOldFile) {
  ScratchDir dir;
  const std::vector<std::uint8_t> old = {'o', 'l', 'd'};
  WriteBytes(dir.File("blobs.bmp"), old);
  {
    StreamedBitmap streamed(kWidth, kHeight, "blobs.bmp", Colour, true);
    streamed.settle(kHeight / 2);
  }
  EXPECT_EQ(ReadBytes(dir.File("blobs.bmp")), old);
  std::size_t files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.Path())) files += e.is_regular_file() ? 1 : 0;
  EXPECT_EQ(files, 1u) << "a temporary file was left behind";
}
