// Blob measurement, result text and outline raster.
//
// A blob's record holds its pixel count, index, integer centre (mean column
// and row, truncated), width and height (largest minus smallest column and
// row, so one pixel wide is width 0) and elevation (1 without an elevation
// map). The result text is one entry per blob, in blob order:
//   index,centreX,centreY,width,height,elevation#
// with nothing between entries and no header; no blobs give "".
//
// The raster holds 3 bytes per pixel, blue, green, red, rows of `width`
// pixels one after the other, row 0 first.
#pragma once

#include <cstdint>
#include <string>

#include "labelling.h"

namespace findspots {

struct BlobRecord {
  std::int32_t count = 0;
  std::int32_t index = 0;
  std::int32_t centreX = 0;
  std::int32_t centreY = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t elevation = 1;
};

struct Raster {
  std::uint8_t* bytes = nullptr;
  std::int32_t width = 0;
  std::int32_t height = 0;
};

// Writes the low 8 bits of blue, green, red at pixel (x, y). No bounds test:
// callers stay inside the raster.
inline void putPixel(Raster& raster, std::int32_t x, std::int32_t y, std::int32_t red,
                     std::int32_t green, std::int32_t blue) {
  std::uint8_t* p = raster.bytes + (static_cast<std::size_t>(y) * static_cast<std::size_t>(raster.width) +
                                    static_cast<std::size_t>(x)) * 3;
  p[0] = static_cast<std::uint8_t>(blue & 0xFF);
  p[1] = static_cast<std::uint8_t>(green & 0xFF);
  p[2] = static_cast<std::uint8_t>(red & 0xFF);
}

// Outline with corner (x, y): left and right edges cover rows y..y+h-1 at
// columns x and x+w, top and bottom edges columns x..x+w-1 at rows y and y+h;
// so (x+w, y+h) stays as it was, and w = h = 0 draws nothing.
void drawRectangle(Raster& raster, std::int32_t x, std::int32_t y, std::int32_t w,
                   std::int32_t h, std::int32_t red, std::int32_t green, std::int32_t blue);

// trunc(sum / count) with the count rounded to single precision first and
// the division in double precision.
std::int32_t centreOf(std::int64_t sum, std::int64_t count);

// trunc(red x 255) of the elevation image's pixel at the centre.
std::int32_t elevationFromRed(double red);

// The record of a kept region; elevation 1 (the caller reads the elevation
// image, if any, at the centre).
BlobRecord measureBlob(const RegionSummary& region);

// Decimal digits of v, '-' first when negative.
void appendDecimal(std::wstring& text, std::int32_t v);

// Appends "index,centreX,centreY,width,height,elevation#".
void appendBlobEntry(std::wstring& text, const BlobRecord& blob);

}  // namespace findspots
