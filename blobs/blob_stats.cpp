#include "blob_stats.h"

#include "classification.h"

namespace findspots {

void drawRectangle(Raster& raster, std::int32_t x, std::int32_t y, std::int32_t w,
                   std::int32_t h, std::int32_t red, std::int32_t green, std::int32_t blue) {
  for (std::int32_t i = 0; i < h; ++i) {
    putPixel(raster, x, y + i, red, green, blue);
    putPixel(raster, x + w, y + i, red, green, blue);
  }
  for (std::int32_t i = 0; i < w; ++i) {
    putPixel(raster, x + i, y, red, green, blue);
    putPixel(raster, x + i, y + h, red, green, blue);
  }
}

std::int32_t centreOf(std::int64_t sum, std::int64_t count) {
  const float countAsFloat = static_cast<float>(count);
  return truncToInt(static_cast<double>(sum) / static_cast<double>(countAsFloat));
}

std::int32_t elevationFromRed(double red) { return truncToInt(red * 255.0); }

BlobRecord measureBlob(const RegionSummary& region) {
  BlobRecord b;
  b.count = region.count > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(region.count);
  b.index = region.blobIndex;
  b.centreX = centreOf(region.columnSum, region.count);
  b.centreY = centreOf(region.rowSum, region.count);
  b.width = region.maxColumn - region.minColumn;
  b.height = region.maxRow - region.minRow;
  b.elevation = 1;
  return b;
}

void appendDecimal(std::wstring& text, std::int32_t v) {
  wchar_t digits[12];
  int n = 0;
  // Work on the magnitude as unsigned so INT32_MIN has one too.
  std::uint32_t m = v < 0 ? 0u - static_cast<std::uint32_t>(v) : static_cast<std::uint32_t>(v);
  do {
    digits[n++] = static_cast<wchar_t>(L'0' + m % 10);
    m /= 10;
  } while (m != 0);
  if (v < 0) text.push_back(L'-');
  while (n > 0) text.push_back(digits[--n]);
}

void appendBlobEntry(std::wstring& text, const BlobRecord& blob) {
  const std::int32_t fields[] = {blob.index, blob.centreX, blob.centreY,
                                 blob.width, blob.height,  blob.elevation};
  for (const std::int32_t& field : fields) {
    if (&field != fields) text.push_back(L',');
    appendDecimal(text, field);
  }
  text.push_back(L'#');
}

}  // namespace findspots
