// Reading an image file and choosing its decoder. The file is read whole from
// one open handle (so what is decoded is what was opened), and the bytes are
// decoded apart from any I/O: LoadImageMemory is the one decoding path.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "image_codecs.h"
#include "image_data.h"

namespace host {

namespace image {

namespace {
// No format the host reads needs a longer side; also keeps every size an int.
constexpr std::uint64_t kMaxSide = std::uint64_t(1) << 24;
}  // namespace

std::string Truncated(std::size_t size) { return "truncated at byte " + std::to_string(size); }

std::string Truncated(std::size_t size, std::uint64_t needed) {
  return Truncated(size) + " of " + std::to_string(needed);
}

std::string TruncatedAtLeast(std::size_t size, std::uint64_t needed) {
  return Truncated(size) + " of at least " + std::to_string(needed);
}

std::string CheckSize(std::uint64_t width, std::uint64_t height, const ImageLimits& limits) {
  if (width == 0 || height == 0) return "image has no pixels";
  if (width <= kMaxSide && height <= kMaxSide && width * height <= limits.maxPixels) return {};
  return "image is too large: " + std::to_string(width) + " x " + std::to_string(height) +
         " pixels (the limit is " + std::to_string(limits.maxPixels) + " pixels, " +
         std::to_string(kMaxSide) + " on a side)";
}

}  // namespace image

namespace {

// Bigger than any picture within ImageLimits' default in any format we read.
constexpr std::uint64_t kMaxFileBytes = std::uint64_t(1) << 31;

std::string Failure(const std::string& path, const std::string& what) {
  return "cannot read image '" + path + "': " + what;
}

std::string OpenFailure(int err) {
  if (err == ENOENT || err == ENOTDIR) return "no such file";
  if (err == EACCES) return "permission denied";
  if (err == EISDIR) return "is a directory";
  return std::generic_category().message(err);
}

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

// Reads the whole regular file at `path` into `bytes`, or says why not.
std::string ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
  // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused below.
  Fd file{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
  if (file.fd < 0) return OpenFailure(errno);
  struct stat st {};
  if (::fstat(file.fd, &st) != 0) return OpenFailure(errno);
  if (S_ISDIR(st.st_mode)) return "is a directory";
  if (!S_ISREG(st.st_mode)) return "not a regular file";
  if (st.st_size == 0) return "file is empty";
  const auto size = static_cast<std::uint64_t>(st.st_size);
  if (size > kMaxFileBytes)
    return "file is too large (" + std::to_string(size) + " bytes; the limit is " +
           std::to_string(kMaxFileBytes) + ")";
  bytes.resize(static_cast<std::size_t>(size));
  std::size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::read(file.fd, bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return OpenFailure(errno);
    if (n == 0) break;  // shrank while we read: decode what is there
    got += static_cast<std::size_t>(n);
  }
  bytes.resize(got);
  if (bytes.empty()) return "file is empty";
  return {};
}

bool StartsWith(const std::uint8_t* bytes, std::size_t size, const char* magic, std::size_t n) {
  return size >= n && std::memcmp(bytes, magic, n) == 0;
}

std::string Decode(const std::uint8_t* bytes, std::size_t size, const ImageLimits& limits,
                   XSI::detail::ImageData& out) {
  if (StartsWith(bytes, size, "BM", 2)) return image::DecodeBmp(bytes, size, limits, out);
  if (StartsWith(bytes, size, "\x89PNG\r\n\x1a\n", 8)) return image::DecodePng(bytes, size, limits, out);
  if (StartsWith(bytes, size, "\xff\xd8", 2)) return image::DecodeJpeg(bytes, size, limits, out);
  if (image::LooksLikeTga(bytes, size)) return image::DecodeTga(bytes, size, limits, out);
  return "unknown image type (not BMP, PNG, JPEG or TGA)";
}

// What every decoder promises; checked once here rather than trusted.
bool Consistent(const XSI::detail::ImageData& d) {
  if (d.width <= 0 || d.height <= 0 || d.channels < 1 || d.channels > 4) return false;
  const std::size_t n = std::size_t(d.width) * std::size_t(d.height) * std::size_t(d.channels);
  if (d.bitsPerChannel == 8) return d.pixels8.size() == n && d.pixels16.empty();
  if (d.bitsPerChannel == 16) return d.pixels16.size() == n && d.pixels8.empty();
  return false;
}

}  // namespace

std::shared_ptr<XSI::detail::ImageData> LoadImageMemory(const std::uint8_t* bytes, std::size_t size,
                                                         const std::string& name, std::string& error,
                                                         const ImageLimits& limits) {
  error.clear();
  if (size == 0) {
    error = Failure(name, "file is empty");
    return nullptr;
  }
  try {
    auto data = std::make_shared<XSI::detail::ImageData>();
    std::string reason = Decode(bytes, size, limits, *data);
    if (reason.empty() && !Consistent(*data)) reason = "the decoder gave inconsistent pixel data";
    if (!reason.empty()) {
      error = Failure(name, reason);
      return nullptr;
    }
    return data;
  } catch (const std::bad_alloc&) {
    error = Failure(name, "out of memory decoding the image");
    return nullptr;
  }
}

std::shared_ptr<XSI::detail::ImageData> LoadImageFile(const std::string& path, std::string& error) {
  error.clear();
  if (path.empty()) {
    error = "cannot read image '': no file name given";
    return nullptr;
  }
  std::vector<std::uint8_t> bytes;
  try {
    const std::string reason = ReadWholeFile(path, bytes);
    if (!reason.empty()) {
      error = Failure(path, reason);
      return nullptr;
    }
  } catch (const std::bad_alloc&) {
    error = Failure(path, "out of memory reading the file");
    return nullptr;
  }
  auto data = LoadImageMemory(bytes.data(), bytes.size(), path, error);
  if (data) data->path = path;
  return data;
}

}  // namespace host
