// The 8-bit fast path of the classification against the double-precision
// comparisons it stands for: SampleTables over every 24-bit colour for a set
// of ranges (boundaries on and beside sample values, empty, NaN, negative
// half-widths), and RowClassifier's in-place reading of 1- to 4-channel
// pictures, through the foreground mask (RGB rows sixteen pixels at a
// time), against the host's pixel reader.
#include <gtest/gtest.h>

#include <stb/stb_image_write.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include <xsi_plugin.h>

#include "blob_test_support.h"
#include "bitmap_rows.h"
#include "bmp_writer.h"
#include "classification.h"
#include "driver.h"
#include "row_labelling.h"

using namespace findspots;

namespace {

ClassBounds colour(float r, float g, float b, float hr, float hg, float hb) {
  ClassifySettings s;
  s.useRGB = true;
  s.channelRed = r, s.channelGreen = g, s.channelBlue = b;
  s.rangeR = hr, s.rangeG = hg, s.rangeB = hb;
  return makeBounds(s);
}

}  // namespace

TEST(SampleTables, AgreeWithTheDoubleComparisonsOnEveryColour) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  // Bounds landing exactly on k / 255, a hair either side of it, wide,
  // zero-width, outside 0..1, negative and NaN.
  const float k = 100.0f / 255.0f;
  const ClassBounds cases[] = {
      colour(0.9f, 0.1f, 0.1f, 0.05f, 0.05f, 0.05f),
      colour(k, k, k, 0, 0, 0),
      colour(std::nextafter(k, 1.0f), k, std::nextafter(k, 0.0f), 0, 0, 0),
      colour(0.5f, 0.5f, 0.5f, 10.0f / 255.0f, 20.0f / 255.0f, 0.5f),
      colour(0.0f, 1.0f, 0.5f, 0.001f, 0.001f, 1.0f),
      colour(2.0f, 0.5f, 0.5f, 0.5f, 1, 1),
      colour(0.5f, 0.5f, 0.5f, -0.1f, 1, 1),
      colour(nan, 0.5f, 0.5f, 1, 1, 1),
      colour(0.5f, 0.5f, 0.5f, 1, nan, 1),
  };
  for (const ClassBounds& bounds : cases) {
    const SampleTables t = makeSampleTables(bounds);
    ASSERT_TRUE(t.colourTables);
    // The intervals the sixteen-at-a-time test uses, for the same answer.
    ASSERT_TRUE(t.intervals);
    auto inIntervals = [&t](int r, int g, int b) {
      return t.lo[0] <= r && r <= t.hi[0] && t.lo[1] <= g && g <= t.hi[1] && t.lo[2] <= b && b <= t.hi[2];
    };
    long mismatches = 0, intervalMismatches = 0, foreground = 0;
    for (int r = 0; r < 256; ++r)
      for (int g = 0; g < 256; ++g)
        for (int b = 0; b < 256; ++b) {
          const bool want = isForeground(bounds, r / 255.0, g / 255.0, b / 255.0);
          foreground += want;
          mismatches += want != t.foreground(static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(g),
                                             static_cast<std::uint8_t>(b));
          intervalMismatches += want != inIntervals(r, g, b);
        }
    EXPECT_EQ(mismatches, 0) << "bounds low " << bounds.low[0] << " " << bounds.low[1] << " " << bounds.low[2];
    EXPECT_EQ(intervalMismatches, 0) << "bounds low " << bounds.low[0] << " " << bounds.low[1] << " " << bounds.low[2];
    (void)foreground;
  }
  // The first case takes something and the NaN ones take nothing, so the
  // loop above did compare both answers.
  EXPECT_TRUE(makeSampleTables(cases[0]).foreground(230, 25, 25));
  EXPECT_FALSE(makeSampleTables(cases[7]).foreground(128, 128, 128));
  const SampleTables t = makeSampleTables(cases[0]);
  for (int v = 0; v < 256; ++v) EXPECT_EQ(t.byteOf[v], channelByte(v / 255.0)) << v;
}

TEST(SampleTables, LuminanceKeepsTheDoublePath) {
  ClassifySettings s;
  s.luminanceValue = 0.2f;
  s.luminanceRange = 0.05f;
  EXPECT_FALSE(makeSampleTables(makeBounds(s)).colourTables);
}

namespace {

// Rows of the raster and the runs a classifier gives for `image`.
struct Classified {
  std::vector<std::uint8_t> raster;
  std::vector<RegionSummary> blobs;
};

// Through the two passes findSpots makes: labelRow marking a foreground
// mask, then colourRow making each line from it.
Classified classifyDirect(const XSI::Image& image, const ClassBounds& bounds) {
  const int w = static_cast<int>(image.GetResX()), h = static_cast<int>(image.GetResY());
  Classified c;
  c.raster.assign(static_cast<std::size_t>(w) * h * 3, 0xAA);
  ForegroundMask mask(w, h);
  RowLabeller labeller(0, [&](const RegionSummary& r) { c.blobs.push_back(r); });
  const RowClassifier classifier(image, bounds);
  for (int y = 0; y < h; ++y) classifier.labelRow(w, y, mask.row(y), labeller);
  labeller.finish();
  for (int y = 0; y < h; ++y) classifier.colourRow(w, y, mask.row(y), c.raster.data() + static_cast<std::size_t>(y) * w * 3);
  return c;
}

// The reference: every pixel through GetPixelValue and the double test.
Classified classifyByHost(const XSI::Image& image, const ClassBounds& bounds) {
  const int w = static_cast<int>(image.GetResX()), h = static_cast<int>(image.GetResY());
  Classified c;
  c.raster.assign(static_cast<std::size_t>(w) * h * 3, 0);
  RowLabeller labeller(0, [&](const RegionSummary& r) { c.blobs.push_back(r); });
  for (int y = 0; y < h; ++y) {
    int start = -1;
    for (int x = 0; x < w; ++x) {
      XSI::CColor col;
      image.GetPixelValue(static_cast<float>(x), static_cast<float>(y), col);
      std::uint8_t* px = c.raster.data() + (static_cast<std::size_t>(y) * w + x) * 3;
      if (isForeground(bounds, col.r, col.g, col.b)) {
        px[0] = channelByte(col.b), px[1] = channelByte(col.g), px[2] = channelByte(col.r);
        if (start < 0) start = x;
      } else if (start >= 0) {
        labeller.addRun(start, x - 1);
        start = -1;
      }
    }
    if (start >= 0) labeller.addRun(start, w - 1);
    labeller.endRow();
  }
  labeller.finish();
  return c;
}

}  // namespace

TEST(RowClassifier, ReadsEveryChannelLayoutAsTheHostDoes) {
  blobtest::EnsurePluginLoaded();
  blobtest::ScratchDir dir;
  const int h = 23;
  ClassifySettings lum;
  lum.luminanceValue = 0.15f;
  lum.luminanceRange = 0.08f;
  const ClassBounds boundsList[] = {colour(0.6f, 0.4f, 0.5f, 0.3f, 0.3f, 0.4f), makeBounds(lum)};
  // 37 pixels: two blocks of sixteen and a tail; 70: a block across a mask word.
  for (const int w : {37, 70})
    for (int channels = 1; channels <= 4; ++channels) {
      std::vector<std::uint8_t> bytes(static_cast<std::size_t>(w) * h * channels);
      std::uint32_t state = 25u + static_cast<std::uint32_t>(channels);
      for (std::uint8_t& b : bytes) {
        state = state * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(state >> 24);
      }
      const std::string file = dir.File("layout" + std::to_string(w) + "_" + std::to_string(channels) + ".png");
      ASSERT_TRUE(stbi_write_png(file.c_str(), w, h, channels, bytes.data(), w * channels));
      XSI::CValueArray args(1);
      args[0] = XSI::CValue(XSI::CString::FromUtf8(file));
      XSI::CValue clip;
      ASSERT_TRUE(XSI::Application().ExecuteCommand(L"CreateImageClip", args, clip).Succeeded());
      const XSI::Image image = XSI::ImageClip2(clip.GetAsRef()).GetImage();
      ASSERT_EQ(image.GetNumChannels(), channels);
      for (const ClassBounds& bounds : boundsList) {
        const Classified fast = classifyDirect(image, bounds);
        const Classified slow = classifyByHost(image, bounds);
        EXPECT_EQ(fast.raster, slow.raster) << channels << " channels, rgb " << bounds.useRGB;
        ASSERT_EQ(fast.blobs.size(), slow.blobs.size()) << channels << " channels";
        for (std::size_t i = 0; i < fast.blobs.size(); ++i) {
          EXPECT_EQ(fast.blobs[i].count, slow.blobs[i].count);
          EXPECT_EQ(fast.blobs[i].columnSum, slow.blobs[i].columnSum);
          EXPECT_EQ(fast.blobs[i].rowSum, slow.blobs[i].rowSum);
        }
        EXPECT_FALSE(slow.blobs.empty()) << "the picture should hold foreground";
      }
    }
}

// A picture of 8 MiB or more has its upper half marked on a second thread:
// the mask and the blobs must be those of one thread marking row by row,
// blobs across the middle row included.
TEST(RowClassifier, ALargePictureSplitBetweenThreadsLabelsAsOneThreadDoes) {
  blobtest::EnsurePluginLoaded();
  blobtest::ScratchDir dir;
  const int w = 1703, h = 1701;  // 8.7 MB of samples, an odd middle
  std::vector<std::uint8_t> bgr(static_cast<std::size_t>(w) * h * 3, 40);
  std::uint32_t state = 2526u;
  for (int i = 0; i < 4000; ++i) {  // red boxes, some across the middle
    state = state * 1664525u + 1013904223u;
    const int x0 = static_cast<int>(state >> 8) % w, y0 = static_cast<int>(state >> 4) % h;
    const int bw = 1 + static_cast<int>(state % 60), bh = 1 + static_cast<int>((state >> 16) % 60);
    for (int y = y0; y < std::min(h, y0 + bh); ++y)
      for (int x = x0; x < std::min(w, x0 + bw); ++x) bgr[(static_cast<std::size_t>(y) * w + x) * 3 + 2] = 230;
  }
  const std::string file = dir.File("large.bmp");
  ASSERT_TRUE(writeBMP(bgr.data(), w, h, 24, file.c_str()).ok);
  XSI::CValueArray args(1);
  args[0] = XSI::CValue(XSI::CString::FromUtf8(file));
  XSI::CValue clip;
  ASSERT_TRUE(XSI::Application().ExecuteCommand(L"CreateImageClip", args, clip).Succeeded());
  const XSI::Image image = XSI::ImageClip2(clip.GetAsRef()).GetImage();
  const RowClassifier classifier(image, colour(0.9f, 0.15f, 0.15f, 0.05f, 0.05f, 0.05f));

  auto run = [&](bool split, ForegroundMask& mask) {
    std::vector<RegionSummary> blobs;
    RowLabeller labeller(20, [&](const RegionSummary& r) { blobs.push_back(r); });
    if (split) {
      classifier.labelRows(w, h, mask, labeller);
    } else {
      for (int y = 0; y < h; ++y) classifier.labelRow(w, y, mask.row(y), labeller);
    }
    labeller.finish();
    return blobs;
  };
  ForegroundMask one(w, h), two(w, h);
  const std::vector<RegionSummary> byRow = run(false, one), split = run(true, two);
  EXPECT_EQ(std::memcmp(one.row(0), two.row(0), static_cast<std::size_t>(h) * ((w + 63) / 64) * 8), 0);
  ASSERT_EQ(byRow.size(), split.size());
  ASSERT_GT(byRow.size(), 100u);
  bool acrossTheMiddle = false;
  for (std::size_t i = 0; i < byRow.size(); ++i) {
    const RegionSummary &a = byRow[i], &b = split[i];
    EXPECT_TRUE(a.count == b.count && a.columnSum == b.columnSum && a.rowSum == b.rowSum &&
                a.minColumn == b.minColumn && a.maxColumn == b.maxColumn && a.minRow == b.minRow &&
                a.maxRow == b.maxRow && a.blobIndex == b.blobIndex)
        << "blob " << i;
    acrossTheMiddle = acrossTheMiddle || (a.minRow < h / 2 && a.maxRow >= h / 2);
  }
  EXPECT_TRUE(acrossTheMiddle);
}
