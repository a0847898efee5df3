// Unit-level checks of the blob detector's pieces, linked directly: the
// classification arithmetic, labelling on hand-made label maps, measurement,
// outline drawing, result text and the BMP encoder's bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include <xsi_plugin.h>

#include "blob_stats.h"
#include "bmp_writer.h"
#include "classification.h"
#include "labelling.h"

using namespace findspots;

namespace {

ClassBounds colourBounds(float r, float g, float b, float hr, float hg, float hb) {
  ClassifySettings s;
  s.useRGB = true;
  s.channelRed = r;
  s.channelGreen = g;
  s.channelBlue = b;
  s.rangeR = hr;
  s.rangeG = hg;
  s.rangeB = hb;
  return makeBounds(s);
}

ClassBounds luminanceBounds(float value, float range) {
  ClassifySettings s;
  s.useRGB = false;
  s.luminanceValue = value;
  s.luminanceRange = range;
  return makeBounds(s);
}

// Label map from text rows, row 0 first: '#' foreground, anything else
// background.
struct LabelGrid {
  int width = 0, height = 0;
  std::vector<std::uint8_t> labels;
  explicit LabelGrid(const std::vector<std::string>& rows)
      : width(static_cast<int>(rows[0].size())), height(static_cast<int>(rows.size())) {
    for (const std::string& r : rows)
      for (char c : r) labels.push_back(c == '#' ? kForeground : kBackground);
  }
};

std::vector<RegionSummary> label(LabelGrid& g, int minBlobSize) {
  LabelState state;
  initLabelState(state, g.labels.data(), g.width, g.height, minBlobSize);
  std::vector<RegionSummary> blobs;
  scanImage(state, 0, 0, g.width, g.height, kInRegion,
            [&](const RegionSummary& r) { blobs.push_back(r); });
  EXPECT_EQ(state.blobCount, static_cast<int>(blobs.size()));
  return blobs;
}

}  // namespace

// ---- classification ---------------------------------------------------------

TEST(Classification, ColourBoundsAreInclusiveAndComputedInDouble) {
  const ClassBounds b = colourBounds(0.5f, 0.25f, 0.75f, 0.1f, 0.0f, 0.2f);
  const double lowR = static_cast<double>(0.5f) - static_cast<double>(0.1f);
  const double highR = static_cast<double>(0.1f) + static_cast<double>(0.5f);
  EXPECT_TRUE(isForeground(b, lowR, 0.25, 0.75));
  EXPECT_TRUE(isForeground(b, highR, 0.25, 0.75));
  EXPECT_FALSE(isForeground(b, std::nextafter(lowR, 0.0), 0.25, 0.75));
  EXPECT_FALSE(isForeground(b, std::nextafter(highR, 1.0), 0.25, 0.75));
  // 0.1f widened is not 0.1: a bound computed in single precision or from
  // the decimal would land elsewhere.
  EXPECT_NE(lowR, 0.5 - 0.1);
}

TEST(Classification, ZeroHalfWidthsTakeOnlyTheExactCentre) {
  const ClassBounds b = colourBounds(1.0f, 0.5f, 0.0f, 0, 0, 0);
  EXPECT_TRUE(isForeground(b, 1.0, 0.5, 0.0));
  EXPECT_FALSE(isForeground(b, 1.0, std::nextafter(0.5, 1.0), 0.0));
  EXPECT_FALSE(isForeground(b, 1.0, 0.5, 1e-300));
}

TEST(Classification, NaNSettingsOrComponentsAreBackground) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_FALSE(isForeground(colourBounds(nan, 0.5f, 0.5f, 1, 1, 1), 0.5, 0.5, 0.5));
  EXPECT_FALSE(isForeground(colourBounds(0.5f, 0.5f, 0.5f, 1, 1, nan), 0.5, 0.5, 0.5));
  EXPECT_FALSE(isForeground(colourBounds(0.5f, 0.5f, 0.5f, 1, 1, 1), 0.5, std::nan(""), 0.5));
  EXPECT_FALSE(isForeground(luminanceBounds(nan, 1.0f), 0.5, 0.5, 0.5));
  EXPECT_FALSE(isForeground(luminanceBounds(0.1f, nan), 0.5, 0.5, 0.5));
}

TEST(Classification, LuminanceIsOneThirdOfTheWeightedSum) {
  const float white = luminance(1, 1, 1);
  EXPECT_FLOAT_EQ(white, 1.0f / 3.0f);
  EXPECT_EQ(white, static_cast<float>(static_cast<double>(static_cast<float>(
                                          0.7151600122451782 + 0.21267099678516388 + 0.0721689984202385)) /
                                      3.0));
  EXPECT_EQ(luminance(0, 0, 0), 0.0f);
  // Weights in order g, r, then b added.
  const double s = 0.7151600122451782 * 0.2 + 0.21267099678516388 * 0.6;
  const double s2 = s + 0.0721689984202385 * 0.9;
  EXPECT_EQ(luminance(0.6, 0.2, 0.9),
            static_cast<float>(static_cast<double>(static_cast<float>(s2)) / 3.0));
  // The scale tops out at a third: value 1, range 0.5 takes nothing.
  EXPECT_FALSE(isForeground(luminanceBounds(1.0f, 0.5f), 1, 1, 1));
  EXPECT_TRUE(isForeground(luminanceBounds(white, 0.0f), 1, 1, 1));
}

TEST(Classification, ComponentsTruncateToBytes) {
  EXPECT_EQ(channelByte(1.0), 255);
  EXPECT_EQ(channelByte(0.5), 127);
  EXPECT_EQ(channelByte(0.0), 0);
  EXPECT_EQ(channelByte(0.999), 254);
  // Out-of-range components keep the low 8 bits of the truncated value.
  EXPECT_EQ(channelByte(2.0), 510 & 0xFF);
  EXPECT_EQ(channelByte(-1.0), (-255) & 0xFF);
  EXPECT_EQ(truncToInt(std::nan("")), INT32_MIN);
  EXPECT_EQ(truncToInt(-2.9), -2);
  EXPECT_EQ(truncToInt(1e300), INT32_MIN);
}

// ---- labelling ----------------------------------------------------------------

TEST(Labelling, DiagonalNeighboursAreSeparateRegions) {
  LabelGrid g({"....", ".#..", "..#.", "...."});
  const auto blobs = label(g, 0);
  ASSERT_EQ(blobs.size(), 2u);
  EXPECT_EQ(blobs[0].minColumn, 1);
  EXPECT_EQ(blobs[1].minColumn, 2);
}

TEST(Labelling, SizeMustExceedTheMinimumAndDroppedRegionsLendTheirIndex) {
  LabelGrid g({"##...", ".....", "..###", "....."});
  auto blobs = label(g, 2);  // 2 pixels: dropped; 3 pixels: kept as blob 0
  ASSERT_EQ(blobs.size(), 1u);
  EXPECT_EQ(blobs[0].blobIndex, 0);
  EXPECT_EQ(blobs[0].count, 3);
  EXPECT_EQ(blobs[0].minRow, 2);
  LabelGrid again({"##...", ".....", "..###", "....."});
  EXPECT_EQ(label(again, 1).size(), 2u);
  LabelGrid none({"##...", ".....", "..###", "....."});
  EXPECT_EQ(label(none, 3).size(), 0u);
  LabelGrid all({"#.#", "...", "#.#"});
  EXPECT_EQ(label(all, -5).size(), 4u);
}

TEST(Labelling, BorderPixelsExtendTheirRegion) {
  // A line along row 0, a blob down column 0 whose top row holds (0, r) and
  // (1, r), and a blob along the last column: one region each.
  LabelGrid g({"#####", ".....", "##..#", "#...#", "#...#"});
  const auto blobs = label(g, 0);
  ASSERT_EQ(blobs.size(), 3u);
  EXPECT_EQ(blobs[0].count, 5);
  EXPECT_EQ(blobs[0].maxColumn - blobs[0].minColumn, 4);
  EXPECT_EQ(blobs[1].count, 4);  // (0..1, 2), (0, 3), (0, 4)
  EXPECT_EQ(blobs[1].minColumn, 0);
  EXPECT_EQ(blobs[2].count, 3);
  EXPECT_EQ(blobs[2].minColumn, 4);
}

TEST(Labelling, SummaryHoldsCountSumsAndExtremes) {
  LabelGrid g({"......", ".###..", ".#.#..", ".####.", "......"});
  const auto blobs = label(g, 0);
  ASSERT_EQ(blobs.size(), 1u);
  const RegionSummary& r = blobs[0];
  EXPECT_EQ(r.count, 9);
  EXPECT_EQ(r.columnSum, 1 + 2 + 3 + 1 + 3 + 1 + 2 + 3 + 4);
  EXPECT_EQ(r.rowSum, 3 * 1 + 2 * 2 + 4 * 3);
  EXPECT_EQ(r.minColumn, 1);
  EXPECT_EQ(r.maxColumn, 4);
  EXPECT_EQ(r.minRow, 1);
  EXPECT_EQ(r.maxRow, 3);
}

TEST(Labelling, FillAndScanTakeTheRectangleInTheSameOrder) {
  // Both take (colStart, rowStart, colEnd, rowEnd). The rectangle is 4 of 7
  // columns by 2 of 3 rows, so swapping any two bounds changes what a fill
  // reaches.
  const std::vector<std::string> rows = {"#######", "#######", "#######"};
  LabelGrid g(rows);
  LabelState state;
  initLabelState(state, g.labels.data(), g.width, g.height, 0);
  std::vector<RegionSummary> blobs;
  floodFill(state, 2, 0, kInRegion, 1, 0, 5, 2, [&](const RegionSummary& r) { blobs.push_back(r); });
  ASSERT_EQ(blobs.size(), 1u);
  EXPECT_EQ(blobs[0].count, 8);
  EXPECT_EQ(blobs[0].minColumn, 1);
  EXPECT_EQ(blobs[0].maxColumn, 4);
  EXPECT_EQ(blobs[0].maxRow, 1);

  LabelGrid again(rows);
  initLabelState(state, again.labels.data(), again.width, again.height, 0);
  blobs.clear();
  scanImage(state, 1, 0, 5, 2, kInRegion, [&](const RegionSummary& r) { blobs.push_back(r); });
  ASSERT_EQ(blobs.size(), 1u);
  EXPECT_EQ(blobs[0].count, 8);
  EXPECT_EQ(blobs[0].minColumn, 1);
  EXPECT_EQ(blobs[0].maxColumn, 4);
  EXPECT_EQ(blobs[0].maxRow, 1);
}

TEST(Labelling, CombShapedRegionStaysWithinItsWorkList) {
  // Every other column a tooth joined along the bottom row: the most runs a
  // region can have.
  const int w = 201, h = 50;
  std::vector<std::string> rows(h, std::string(w, '.'));
  for (int x = 0; x < w; x += 2)
    for (int y = 0; y < h; ++y) rows[y][x] = '#';
  rows[h - 1] = std::string(w, '#');
  LabelGrid g(rows);
  const auto blobs = label(g, 0);
  ASSERT_EQ(blobs.size(), 1u);
  EXPECT_EQ(blobs[0].count, 101 * (h - 1) + w);
}

// ---- measurement and drawing ------------------------------------------------

TEST(Statistics, CentreIsTheTruncatedMeanThroughASingleCount) {
  EXPECT_EQ(centreOf(7, 2), 3);
  EXPECT_EQ(centreOf(9, 3), 3);
  EXPECT_EQ(centreOf(0, 1), 0);
  // 2^24 + 1 pixels: the count rounds to 2^24 in single precision first.
  const std::int64_t n = (1 << 24) + 1;
  EXPECT_EQ(centreOf(n * 3, n), static_cast<std::int32_t>(static_cast<double>(n * 3) / 16777216.0));
}

TEST(Statistics, MeasureGivesWidthAndHeightAsExtremeDifferences) {
  RegionSummary r;
  r.count = 3;
  r.columnSum = 2 + 3 + 4;
  r.rowSum = 9;
  r.minColumn = 2;
  r.maxColumn = 4;
  r.minRow = r.maxRow = 3;
  r.blobIndex = 7;
  const BlobRecord b = measureBlob(r);
  EXPECT_EQ(b.count, 3);
  EXPECT_EQ(b.index, 7);
  EXPECT_EQ(b.centreX, 3);
  EXPECT_EQ(b.centreY, 3);
  EXPECT_EQ(b.width, 2);
  EXPECT_EQ(b.height, 0);
  EXPECT_EQ(b.elevation, 1);
  EXPECT_EQ(elevationFromRed(1.0), 255);
  EXPECT_EQ(elevationFromRed(0.5), 127);
}

TEST(Statistics, OutlineOfTenByTenSquareLeavesTheFarCorner) {
  const int w = 40, h = 45;
  std::vector<std::uint8_t> bytes(w * h * 3, 7);
  Raster raster{bytes.data(), w, h};
  drawRectangle(raster, 20, 30, 9, 9, 0, 255, 0);
  auto green = [&](int x, int y) {
    const std::uint8_t* p = &bytes[(y * w + x) * 3];
    return p[0] == 0 && p[1] == 255 && p[2] == 0;
  };
  int drawn = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool onTopOrBottom = (y == 30 || y == 39) && x >= 20 && x <= 28;
      const bool onSides = (x == 20 || x == 29) && y >= 30 && y <= 38;
      EXPECT_EQ(green(x, y), onTopOrBottom || onSides) << x << "," << y;
      drawn += green(x, y);
    }
  EXPECT_EQ(drawn, 35);  // 4 edges of 9, the corner (20, 30) shared
  EXPECT_FALSE(green(29, 39));
}

TEST(Statistics, DegenerateOutlines) {
  const int w = 8, h = 8;
  std::vector<std::uint8_t> bytes(w * h * 3, 9);
  Raster raster{bytes.data(), w, h};
  drawRectangle(raster, 5, 5, 0, 0, 0, 255, 0);  // single pixel: nothing
  EXPECT_EQ(std::count(bytes.begin(), bytes.end(), 9), w * h * 3);
  drawRectangle(raster, 2, 3, 2, 0, 0, 255, 0);  // a row: (2,3), (3,3)
  EXPECT_EQ(bytes[(3 * w + 2) * 3 + 1], 255);
  EXPECT_EQ(bytes[(3 * w + 3) * 3 + 1], 255);
  EXPECT_EQ(bytes[(3 * w + 4) * 3 + 1], 9);
  putPixel(raster, 1, 1, 0x1FF, 0x100, 0x2AB);  // low 8 bits only, stored b, g, r
  EXPECT_EQ(bytes[(1 * w + 1) * 3 + 0], 0xAB);
  EXPECT_EQ(bytes[(1 * w + 1) * 3 + 1], 0x00);
  EXPECT_EQ(bytes[(1 * w + 1) * 3 + 2], 0xFF);
}

TEST(ResultText, EntriesFollowEachOtherWithHashes) {
  std::wstring text;
  appendBlobEntry(text, BlobRecord{5, 0, 10, 20, 4, 6, 1});
  appendBlobEntry(text, BlobRecord{3, 1, 3, 7, 0, 2, 1});
  EXPECT_EQ(text, L"0,10,20,4,6,1#1,3,7,0,2,1#");
}

TEST(ResultText, DecimalsMatchTheHostsIntegerText) {
  for (std::int32_t v : {0, 1, 9, 10, -1, -10, 123456, INT32_MAX, INT32_MIN, 65536, -65536}) {
    std::wstring mine;
    appendDecimal(mine, v);
    EXPECT_EQ(mine, XSI::CValue(static_cast<int>(v)).GetAsText().Wide()) << v;
  }
}

// ---- BMP encoder ------------------------------------------------------------------

namespace {

std::vector<std::uint8_t> encode(const std::vector<std::uint8_t>& raster, int w, int h) {
  std::vector<std::uint8_t> out;
  const bool ok = encodeBMP(raster.data(), w, h, 24, [&](const std::uint8_t* d, std::size_t n) {
    out.insert(out.end(), d, d + n);
    return true;
  });
  EXPECT_TRUE(ok);
  return out;
}

std::uint32_t le32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
std::uint16_t le16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

}  // namespace

TEST(BmpEncoder, HeaderFieldsOfATwoByTwoRaster) {
  const std::vector<std::uint8_t> raster(2 * 2 * 3, 0x11);
  const auto b = encode(raster, 2, 2);
  ASSERT_EQ(b.size(), 70u);
  EXPECT_EQ(b[0], 'B');
  EXPECT_EQ(b[1], 'M');
  struct Field {
    std::size_t at, bytes;
    std::uint32_t value;
    const char* name;
  };
  const Field fields[] = {
      {2, 4, 70, "file size"},    {6, 2, 0, "reserved"},       {8, 2, 0, "reserved"},
      {10, 4, 54, "data offset"}, {14, 4, 40, "info size"},    {18, 4, 2, "width"},
      {22, 4, 2, "height"},       {26, 2, 1, "planes"},        {28, 2, 24, "bits per pixel"},
      {30, 4, 0, "compression"},  {34, 4, 16, "data size"},    {38, 4, 0, "x resolution"},
      {42, 4, 0, "y resolution"}, {46, 4, 64, "colours used"}, {50, 4, 0, "important"}};
  for (const Field& f : fields) {
    const std::uint32_t got = f.bytes == 2 ? le16(b, f.at) : le32(b, f.at);
    EXPECT_EQ(got, f.value) << f.name << " at byte " << f.at;
  }
}

TEST(BmpEncoder, RowsArePaddedToFourBytesInRasterOrder) {
  for (int w = 1; w <= 4; ++w) {
    const int h = 3;
    std::vector<std::uint8_t> raster(w * h * 3);
    for (std::size_t i = 0; i < raster.size(); ++i) raster[i] = static_cast<std::uint8_t>(i + 1);
    const auto b = encode(raster, w, h);
    const std::size_t row = (w * 3 + 3) / 4 * 4;
    ASSERT_EQ(b.size(), 54 + row * h) << w;
    EXPECT_EQ(le32(b, 34), row * h);
    for (int y = 0; y < h; ++y) {
      for (int i = 0; i < w * 3; ++i) EXPECT_EQ(b[54 + y * row + i], raster[y * w * 3 + i]);
      for (std::size_t i = w * 3; i < row; ++i) EXPECT_EQ(b[54 + y * row + i], 0) << w;
    }
  }
}

TEST(BmpEncoder, EmptyRasterIsHeadersOnly) {
  const auto b = encode({}, 0, 0);
  ASSERT_EQ(b.size(), 54u);
  EXPECT_EQ(le32(b, 2), 54u);
  EXPECT_EQ(le32(b, 34), 0u);
  EXPECT_EQ(le32(b, 46), 64u);
}

TEST(BmpEncoder, RefusesSizesTheFormatCannotHold) {
  std::uint8_t header[kBmpHeaderSize];
  EXPECT_FALSE(bmpHeader(-1, 1, 24, header));
  EXPECT_FALSE(bmpHeader(40000, 40000, 24, header));
  EXPECT_TRUE(bmpHeader(16384, 16384, 24, header));
  // A sink that refuses stops the encoding.
  const std::vector<std::uint8_t> raster(3);
  EXPECT_FALSE(encodeBMP(raster.data(), 1, 1, 24, [](const std::uint8_t*, std::size_t) { return false; }));
}
