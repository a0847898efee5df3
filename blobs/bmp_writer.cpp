#include "bmp_writer.h"

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

// Collects small pieces (padded rows) into large writes; pieces of the
// buffer's size or more (a raster without padding) go straight through.
class BufferedFile {
 public:
  explicit BufferedFile(XSI::AtomicFile& file) : file_(file) { buffer_.reserve(kCapacity); }

  bool write(const std::uint8_t* data, std::size_t size) {
    if (buffer_.size() + size > kCapacity && !flush()) return false;
    if (size >= kCapacity) return send(data, size);
    buffer_.insert(buffer_.end(), data, data + size);
    return true;
  }

  bool flush() {
    const bool ok = buffer_.empty() || send(buffer_.data(), buffer_.size());
    buffer_.clear();
    return ok;
  }

  const XSI::CString& message() const { return message_; }

 private:
  static constexpr std::size_t kCapacity = std::size_t{1} << 20;

  bool send(const std::uint8_t* data, std::size_t size) {
    return file_.Write(data, size, message_).Succeeded();
  }

  XSI::AtomicFile& file_;
  XSI::CString message_;
  std::vector<std::uint8_t> buffer_;
};

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

bool encodeBMP(const std::uint8_t* raster, std::int32_t width, std::int32_t height,
               std::uint16_t bitsPerPixel, const ByteSink& sink) {
  std::uint8_t header[kBmpHeaderSize];
  if (!bmpHeader(width, height, bitsPerPixel, header)) return false;
  if (!sink(header, 14) || !sink(header + 14, 40)) return false;
  const std::size_t rowBytes = static_cast<std::size_t>(width) * (bitsPerPixel / 8u);
  const std::size_t padding = static_cast<std::size_t>(bmpRowSize(width, bitsPerPixel)) - rowBytes;
  // Unpadded rows are stored exactly as the raster holds them.
  if (padding == 0) return rowBytes == 0 || height == 0 || sink(raster, rowBytes * static_cast<std::size_t>(height));
  static const std::uint8_t kZeros[4] = {0, 0, 0, 0};
  for (std::int32_t row = 0; row < height; ++row) {
    const std::uint8_t* line = raster + static_cast<std::size_t>(row) * rowBytes;
    if (rowBytes > 0 && !sink(line, rowBytes)) return false;
    if (padding > 0 && !sink(kZeros, padding)) return false;
  }
  return true;
}

BmpWriteResult writeBMP(const std::uint8_t* raster, std::int32_t width, std::int32_t height,
                        std::uint16_t bitsPerPixel, const char* fileName) {
  std::uint8_t probe[kBmpHeaderSize];
  if (!bmpHeader(width, height, bitsPerPixel, probe))
    return BmpWriteResult{false, "the image is too large for a BMP file"};

  XSI::AtomicFile file;
  XSI::CString message;
  if (!file.Begin(fileName, message).Succeeded()) return BmpWriteResult{false, message.GetUtf8String()};
  BufferedFile out(file);
  const bool written = encodeBMP(raster, width, height, bitsPerPixel,
                                 [&](const std::uint8_t* d, std::size_t n) { return out.write(d, n); }) &&
                       out.flush();
  if (!written) return BmpWriteResult{false, out.message().GetUtf8String()};
  if (!file.Commit(message).Succeeded()) return BmpWriteResult{false, message.GetUtf8String()};
  return {};
}

}  // namespace findspots
