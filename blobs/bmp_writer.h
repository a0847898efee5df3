// BMP writer: stores a raster of 24-bit pixels (blue, green, red per pixel,
// rows of `width` pixels, row 0 first) as an uncompressed Windows bitmap.
//
// Layout: 14-byte file header ("BM", file size, 0, 0, data offset 54), 40-byte
// info header (size 40, width, positive height, 1 plane, bits per pixel,
// compression 0, data size, resolutions 0, colours used 64, important 0), no
// colour table, then the rows in raster order, each padded with zero bytes to
// a multiple of 4. Raster row 0 is thus the bottom row of the picture, which
// matches the host's images, whose pixel (0, 0) is bottom-left.
//
// The encoder has the caller make each row as the bytes go out, so a large
// picture needs no raster at all; a raster is one way to make the rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace findspots {

inline constexpr std::uint32_t kBmpHeaderSize = 54;

// Returns false to stop the encoding (the write failed).
using ByteSink = std::function<bool(const std::uint8_t* data, std::size_t size)>;

// Bytes of one stored row: width x bytes per pixel, rounded up to 4.
std::uint64_t bmpRowSize(std::int32_t width, std::uint16_t bitsPerPixel);

// The 54 header bytes for the raster size. False when the sizes are negative
// or the file would exceed the format's 4 GiB limit.
bool bmpHeader(std::int32_t width, std::int32_t height, std::uint16_t bitsPerPixel,
               std::uint8_t (&header)[kBmpHeaderSize]);

// Fills stored row `row` (0 first): width x bitsPerPixel / 8 bytes; the
// padding after them is the encoder's.
using RowFill = std::function<void(std::int32_t row, std::uint8_t* line)>;

// Encodes headers and rows, each made by `fill` in order from row 0, into
// `sink` in pieces of about 1 MiB. False when the size is unusable (see
// bmpHeader) or the sink refused bytes.
bool encodeBMPRows(std::int32_t width, std::int32_t height, std::uint16_t bitsPerPixel, const RowFill& fill,
                   const ByteSink& sink);

// encodeBMPRows for a raster's rows.
bool encodeBMP(const std::uint8_t* raster, std::int32_t width, std::int32_t height,
               std::uint16_t bitsPerPixel, const ByteSink& sink);

struct BmpWriteResult {
  bool ok = true;
  std::string reason;  // why not, naming the file, e.g. "'blobs.bmp' is read-only"
};

// Writes the bitmap to `fileName` (relative names are taken from the current
// directory), replacing any file of that name, through the SDK's AtomicFile
// (xsi_file.h): all or nothing, never through a link planted beside it, a
// link at the target kept, an existing file's permissions kept; a read-only
// file, a folder, another non-regular file and a link to a missing file are
// refused and left alone.
BmpWriteResult writeBMP(const std::uint8_t* raster, std::int32_t width, std::int32_t height,
                        std::uint16_t bitsPerPixel, const char* fileName);

// As writeBMP, with each row made by `fill` as the file is written, in order
// from row 0, so no raster of the whole picture need exist. `fill` runs on
// the calling thread; a large file (second_thread.h) is written on a second
// thread a block behind it (write_behind.h).
BmpWriteResult writeBMPRows(std::int32_t width, std::int32_t height, std::uint16_t bitsPerPixel,
                            const char* fileName, const RowFill& fill);

}  // namespace findspots
