#include "bmp_writer.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
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

  bool write(const std::uint8_t* data, std::size_t size) {
    if (error_ != 0) return false;
    if (buffer_.size() + size > kCapacity && !flush()) return false;
    if (size >= kCapacity) return writeAll(data, size);
    buffer_.insert(buffer_.end(), data, data + size);
    return true;
  }

  bool flush() {
    if (error_ != 0) return false;
    const bool ok = writeAll(buffer_.data(), buffer_.size());
    buffer_.clear();
    return ok;
  }

  int error() const { return error_; }

 private:
  // Large enough that padded rows go out in few system calls; unpadded
  // rasters bypass it in one piece.
  static constexpr std::size_t kCapacity = std::size_t{1} << 20;

  bool writeAll(const std::uint8_t* data, std::size_t size) {
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
int writeAndClose(int fd, const std::uint8_t* raster, std::int32_t width, std::int32_t height,
                  std::uint16_t bitsPerPixel) {
  FileSink sink(fd);
  const bool written =
      encodeBMP(raster, width, height, bitsPerPixel,
                [&](const std::uint8_t* d, std::size_t n) { return sink.write(d, n); }) &&
      sink.flush();
  int error = written ? 0 : (sink.error() != 0 ? sink.error() : EIO);
  if (::close(fd) != 0 && error == 0) error = errno;
  return error;
}

// Where the bytes go: the file itself, or for a symbolic link the file it
// finally points to, so that the link stays a link.
struct SaveTarget {
  std::string path;
  bool exists = false;
  struct stat existing {};
};

// Null on success, else why the name cannot be saved to.
const char* resolveTarget(const char* fileName, SaveTarget& target) {
  target.path = fileName;
  struct stat st {};
  if (::lstat(fileName, &st) != 0) {
    if (errno == ENOENT) return nullptr;
    return std::strerror(errno);
  }
  if (S_ISLNK(st.st_mode)) {
    char* real = ::realpath(fileName, nullptr);
    if (real == nullptr)
      return errno == ENOENT ? "it is a symbolic link to a missing file" : std::strerror(errno);
    target.path = real;
    std::free(real);
    if (::stat(target.path.c_str(), &st) != 0) return std::strerror(errno);
  }
  target.exists = true;
  target.existing = st;
  return nullptr;
}

std::uint64_t randomBits() {
  std::uint64_t r = 0;
  if (::getrandom(&r, sizeof r, 0) == static_cast<ssize_t>(sizeof r)) return r;
  // No kernel randomness: O_EXCL still keeps links out, the name is merely
  // easier to guess.
  static std::uint64_t counter = 0;
  return (static_cast<std::uint64_t>(::getpid()) << 32) ^ reinterpret_cast<std::uintptr_t>(&r) ^
         static_cast<std::uint64_t>(std::time(nullptr)) ^ ++counter;
}

std::string folderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// A new file next to `path` under a name nobody can guess (O_EXCL: a link
// planted at the name is never followed). Mode 0666 less the umask, as a
// fresh file would get. -1 with errno set when the folder refuses.
int createTemporary(const std::string& path, std::string& temporary) {
  const std::string folder = folderOf(path);
  const std::size_t slash = path.rfind('/');
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[24];
    const std::uint64_t r = randomBits();
    std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(r));
    temporary = folder + "/." + base + "." + suffix + ".part";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

// The replacement keeps the old file's permissions and, where allowed, its
// owner; a failure here only means the defaults of a new file stay.
void keepOwnerAndMode(int fd, const struct stat& old) {
  if (old.st_uid != ::geteuid() || old.st_gid != ::getegid())
    (void)!::fchown(fd, old.st_uid, old.st_gid);
  (void)!::fchmod(fd, old.st_mode & 07777);
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

  SaveTarget target;
  if (const char* why = resolveTarget(fileName, target)) return BmpWriteResult{false, why};
  if (target.exists && !S_ISREG(target.existing.st_mode))
    return S_ISDIR(target.existing.st_mode) ? failure(EISDIR)
                                            : BmpWriteResult{false, "it is not a regular file"};
  // rename() only needs the folder to be writable; a read-only file is
  // refused here as cp would refuse it.
  if (target.exists && ::faccessat(AT_FDCWD, target.path.c_str(), W_OK, AT_EACCESS) != 0)
    return failure(errno);

  std::string temporary;
  const int fd = createTemporary(target.path, temporary);
  if (fd < 0)
    return BmpWriteResult{false, std::string("cannot create a temporary file next to it: ") +
                                     std::strerror(errno)};
  if (target.exists) keepOwnerAndMode(fd, target.existing);
  int error = writeAndClose(fd, raster, width, height, bitsPerPixel);
  if (error == 0 && std::rename(temporary.c_str(), target.path.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temporary.c_str());
    return failure(error);
  }
  return {};
}

}  // namespace findspots
