#include "bmp_writer.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include <xsi_file.h>

#include "second_thread.h"
#include "write_behind.h"

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

namespace {

// Whole rows a block, about 1 MiB: few writes, and each block is still in
// cache when it goes out.
std::size_t rowsPerBlock(std::size_t stored, std::int32_t height) {
  if (stored == 0 || height <= 0) return 0;
  const std::size_t rows = std::max<std::size_t>(1, (std::size_t{1} << 20) / stored);
  return std::min(rows, static_cast<std::size_t>(height));
}

// Rows first..first+n-1 into `block`, each padded with zeros; the bytes used.
std::size_t fillBlock(const RowFill& fill, std::int32_t first, std::int32_t n, std::size_t stored,
                      std::size_t used, std::uint8_t* block) {
  for (std::int32_t i = 0; i < n; ++i) {
    std::uint8_t* line = block + static_cast<std::size_t>(i) * stored;
    fill(first + i, line);
    std::fill(line + used, line + stored, std::uint8_t{0});
  }
  return static_cast<std::size_t>(n) * stored;
}

// The header, then the rows in blocks, through `out`; false when a write
// failed. The sizes have passed bmpHeader.
bool encodeInto(WriteBehind& out, std::int32_t width, std::int32_t height, std::uint16_t bitsPerPixel,
                const RowFill& fill) {
  std::uint8_t header[kBmpHeaderSize];
  bmpHeader(width, height, bitsPerPixel, header);
  std::copy(header, header + kBmpHeaderSize, out.next());
  bool written = out.put(kBmpHeaderSize);
  const std::size_t stored = static_cast<std::size_t>(bmpRowSize(width, bitsPerPixel));
  const std::size_t used = static_cast<std::size_t>(width) * (bitsPerPixel / 8u);
  const std::size_t perBlock = rowsPerBlock(stored, height);
  for (std::int32_t row = 0; written && row < height;) {
    const auto n = static_cast<std::int32_t>(std::min(perBlock, static_cast<std::size_t>(height - row)));
    written = out.put(fillBlock(fill, row, n, stored, used, out.next()));
    row += n;
  }
  return out.finish() && written;
}

// Buffer size for encodeInto.
std::size_t blockBytes(std::int32_t width, std::int32_t height, std::uint16_t bitsPerPixel) {
  const std::size_t stored = static_cast<std::size_t>(bmpRowSize(width, bitsPerPixel));
  return std::max(rowsPerBlock(stored, height) * stored, std::size_t{kBmpHeaderSize});
}

}  // namespace

bool encodeBMPRows(std::int32_t width, std::int32_t height, std::uint16_t bitsPerPixel, const RowFill& fill,
                   const ByteSink& sink) {
  std::uint8_t header[kBmpHeaderSize];
  if (!bmpHeader(width, height, bitsPerPixel, header)) return false;
  WriteBehind out(blockBytes(width, height, bitsPerPixel), sink, false);
  return encodeInto(out, width, height, bitsPerPixel, fill);
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
  // A large file is written a block behind the rows being made.
  const std::uint64_t bytes = bmpRowSize(width, bitsPerPixel) * static_cast<std::uint64_t>(height);
  WriteBehind out(
      blockBytes(width, height, bitsPerPixel),
      [&](const std::uint8_t* d, std::size_t n) { return file.Write(d, n, message).Succeeded(); },
      worthASecondThread(bytes));
  if (!encodeInto(out, width, height, bitsPerPixel, fill)) return BmpWriteResult{false, message.GetUtf8String()};
  if (!file.Commit(message).Succeeded()) return BmpWriteResult{false, message.GetUtf8String()};
  return {};
}

BmpWriteResult writeBMP(const std::uint8_t* raster, std::int32_t width, std::int32_t height,
                        std::uint16_t bitsPerPixel, const char* fileName) {
  return writeBMPRows(width, height, bitsPerPixel, fileName, copyFrom(raster, width, bitsPerPixel));
}

}  // namespace findspots
