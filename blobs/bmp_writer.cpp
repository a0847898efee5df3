#include "bmp_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace findspots {
namespace {

void put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v & 0xFF);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

void put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>((v >> (8 * i)) & 0xFF);
}

// Buffered writes to a POSIX file descriptor; remembers the first error.
class FileSink {
 public:
  explicit FileSink(int fd) : fd_(fd) { buffer_.reserve(kCapacity); }

  bool Write(const std::uint8_t* data, std::size_t size) {
    if (error_ != 0) return false;
    if (buffer_.size() + size > kCapacity && !Flush()) return false;
    if (size >= kCapacity) return WriteAll(data, size);
    buffer_.insert(buffer_.end(), data, data + size);
    return true;
  }

  bool Flush() {
    if (error_ != 0) return false;
    const bool ok = WriteAll(buffer_.data(), buffer_.size());
    buffer_.clear();
    return ok;
  }

  int Error() const { return error_; }

 private:
  static constexpr std::size_t kCapacity = 1 << 16;

  bool WriteAll(const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
      const ssize_t n = ::write(fd_, data, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        error_ = n < 0 ? errno : EIO;
        return false;
      }
      data += n;
      size -= static_cast<std::size_t>(n);
    }
    return true;
  }

  int fd_;
  int error_ = 0;
  std::vector<std::uint8_t> buffer_;
};

BmpWriteResult failure(int error) { return BmpWriteResult{false, std::strerror(error)}; }

// Encodes into the open file and closes it; the first errno, or 0.
int writeAndClose(int fd, const std::uint8_t* raster, std::int32_t width,
                         std::int32_t height, std::uint16_t bitsPerPixel) {
  FileSink sink(fd);
  const bool written =
      encodeBMP(raster, width, height, bitsPerPixel,
                [&](const std::uint8_t* d, std::size_t n) { return sink.Write(d, n); }) &&
      sink.Flush();
  int error = written ? 0 : (sink.Error() != 0 ? sink.Error() : EIO);
  if (::close(fd) != 0 && error == 0) error = errno;
  return error;
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

bool encodeBMP(const std::uint8_t* raster, std::int32_t width, std::int32_t height,
               std::uint16_t bitsPerPixel, const ByteSink& sink) {
  std::uint8_t header[kBmpHeaderSize];
  if (!bmpHeader(width, height, bitsPerPixel, header)) return false;
  if (!sink(header, 14) || !sink(header + 14, 40)) return false;
  const std::size_t rowBytes = static_cast<std::size_t>(width) * (bitsPerPixel / 8u);
  const std::size_t padding = static_cast<std::size_t>(bmpRowSize(width, bitsPerPixel)) - rowBytes;
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

  const std::string target(fileName);
  const std::string temporary = target + ".tmp" + std::to_string(::getpid());
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    // The folder may refuse a new name while the existing file is writable:
    // then the file is rewritten in place.
    const int inPlace = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (inPlace < 0) return failure(errno);
    const int error = writeAndClose(inPlace, raster, width, height, bitsPerPixel);
    return error == 0 ? BmpWriteResult{} : failure(error);
  }
  int error = writeAndClose(fd, raster, width, height, bitsPerPixel);
  if (error == 0 && std::rename(temporary.c_str(), target.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temporary.c_str());
    return failure(error);
  }
  return {};
}

}  // namespace findspots
