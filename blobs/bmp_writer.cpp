#include "bmp_writer.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include <xsi_file.h>

namespace findspots {
namespace {

void put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v & 0xFF);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

void put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>((v >> (8 * i)) & 0xFF);
}

}  // namespace

std::uint64_t bmpRowSize(std::int32_t width, std::uint16_t bitsPerPixel) {
  if (width <= 0) return 0;
  const std::uint64_t bytes = static_cast<std::uint64_t>(width) * (bitsPerPixel / 8u);
  return (bytes + 3u) & ~std::uint64_t{3};
}

bool bmpHeader(std::int32_t width, std::int32_t height, std::uint16_t bitsPerPixel,
               std::uint8_t (&h)[kBmpHeaderSize]) {
  if (width < 0 || height < 0) return false;
  const std::uint64_t dataSize = bmpRowSize(width, bitsPerPixel) * static_cast<std::uint64_t>(height);
  if (dataSize > 0xFFFFFFFFull - kBmpHeaderSize) return false;
  std::memset(h, 0, sizeof h);
  put16(h + 0, 0x4D42);
  put32(h + 2, static_cast<std::uint32_t>(dataSize) + kBmpHeaderSize);
  put32(h + 10, kBmpHeaderSize);
  put32(h + 14, 40);
  put32(h + 18, static_cast<std::uint32_t>(width));
  put32(h + 22, static_cast<std::uint32_t>(height));
  put16(h + 26, 1);
  put16(h + 28, bitsPerPixel);
  put32(h + 30, 0);
  put32(h + 34, static_cast<std::uint32_t>(dataSize));
  put32(h + 46, 64);
  return true;
}

bool encodeBMPRows(std::int32_t width, std::int32_t height, std::uint16_t bitsPerPixel, const RowFill& fill,
                   const ByteSink& sink) {
  std::uint8_t header[kBmpHeaderSize];
  if (!bmpHeader(width, height, bitsPerPixel, header) || !sink(header, kBmpHeaderSize)) return false;
  // Whole rows a block, about 1 MiB: few writes, each block still in cache
  // when it goes out. Padding bytes are never filled, so they stay zero.
  const std::size_t stored = static_cast<std::size_t>(bmpRowSize(width, bitsPerPixel));
  if (stored == 0) return true;
  const std::size_t rowsPerBlock = std::max<std::size_t>(1, (std::size_t{1} << 20) / stored);
  std::vector<std::uint8_t> block(std::min(rowsPerBlock, static_cast<std::size_t>(height)) * stored);
  for (std::int32_t row = 0; row < height;) {
    const std::int32_t n = static_cast<std::int32_t>(std::min(rowsPerBlock, static_cast<std::size_t>(height - row)));
    for (std::int32_t i = 0; i < n; ++i) fill(row + i, block.data() + static_cast<std::size_t>(i) * stored);
    row += n;
    if (!sink(block.data(), static_cast<std::size_t>(n) * stored)) return false;
  }
  return true;
}

namespace {

RowFill copyFrom(const std::uint8_t* raster, std::int32_t width, std::uint16_t bitsPerPixel) {
  const std::size_t rowBytes = static_cast<std::size_t>(width < 0 ? 0 : width) * (bitsPerPixel / 8u);
  return [=](std::int32_t row, std::uint8_t* line) {
    if (rowBytes > 0) std::memcpy(line, raster + static_cast<std::size_t>(row) * rowBytes, rowBytes);
  };
}

}  // namespace

bool encodeBMP(const std::uint8_t* raster, std::int32_t width, std::int32_t height,
               std::uint16_t bitsPerPixel, const ByteSink& sink) {
  return encodeBMPRows(width, height, bitsPerPixel, copyFrom(raster, width, bitsPerPixel), sink);
}

BmpWriteResult writeBMPRows(std::int32_t width, std::int32_t height, std::uint16_t bitsPerPixel,
                            const char* fileName, const RowFill& fill) {
  std::uint8_t probe[kBmpHeaderSize];
  if (!bmpHeader(width, height, bitsPerPixel, probe))
    return BmpWriteResult{false, "the image is too large for a BMP file"};

  XSI::AtomicFile file;
  XSI::CString message;
  if (!file.Begin(fileName, message).Succeeded()) return BmpWriteResult{false, message.GetUtf8String()};
  const bool written = encodeBMPRows(width, height, bitsPerPixel, fill, [&](const std::uint8_t* d, std::size_t n) {
    return file.Write(d, n, message).Succeeded();
  });
  if (!written) return BmpWriteResult{false, message.GetUtf8String()};
  if (!file.Commit(message).Succeeded()) return BmpWriteResult{false, message.GetUtf8String()};
  return {};
}

BmpWriteResult writeBMP(const std::uint8_t* raster, std::int32_t width, std::int32_t height,
                        std::uint16_t bitsPerPixel, const char* fileName) {
  return writeBMPRows(width, height, bitsPerPixel, fileName, copyFrom(raster, width, bitsPerPixel));
}

}  // namespace findspots
