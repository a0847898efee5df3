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
#include <utility>
#include <vector>

#include "image_codecs.h"
#include "image_data.h"

namespace host {

namespace image {

namespace {
// No format the host reads needs a longer side; also keeps every size an int.
constexpr std::uint64_t kMaxSide = std::uint64_t(1) << 24;
}  // namespace

std::string Decoded8(XSI::detail::ImageData& out, int width, int height, int channels,
                     std::vector<std::uint8_t>&& pixels) {
  out.width = width;
  out.height = height;
  out.channels = channels;
  out.bitsPerChannel = 8;
  out.pixels8 = std::move(pixels);
  return {};
}

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

// Reads an open file piece by piece with pread, for the BMP reader.
class FileSource : public image::ByteSource {
 public:
  FileSource(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
  std::uint64_t Size() const override { return size_; }
  const std::uint8_t* Get(std::uint64_t offset, std::size_t n) override {
    if (offset > size_ || n > size_ - offset) return nullptr;
    if (scratch_.size() < n) scratch_.resize(n);
    std::size_t got = 0;
    while (got < n) {
      const ssize_t r = ::pread(fd_, scratch_.data() + got, n - got, off_t(offset + got));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) return nullptr;
      got += std::size_t(r);
    }
    return scratch_.data();
  }

 private:
  int fd_;
  std::uint64_t size_;
  std::vector<std::uint8_t> scratch_;
};

struct FileBytes {
  std::unique_ptr<std::uint8_t[]> data;  // not zero-filled first: read() fills it
  std::size_t size = 0;
};

// Opens `path` if it is a regular file we may read, with its size.
std::string OpenRegular(const std::string& path, Fd& file, std::uint64_t& size) {
  // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused below.
  file.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (file.fd < 0) return OpenFailure(errno);
  struct stat st {};
  if (::fstat(file.fd, &st) != 0) return OpenFailure(errno);
  if (S_ISDIR(st.st_mode)) return "is a directory";
  if (!S_ISREG(st.st_mode)) return "not a regular file";
  if (st.st_size == 0) return "file is empty";
  size = static_cast<std::uint64_t>(st.st_size);
  if (size > kMaxFileBytes)
    return "file is too large (" + std::to_string(size) + " bytes; the limit is " +
           std::to_string(kMaxFileBytes) + ")";
  return {};
}

// Reads the whole of an open file of `size` bytes.
std::string ReadWhole(const Fd& file, std::uint64_t size, FileBytes& bytes) {
  bytes.data.reset(new std::uint8_t[static_cast<std::size_t>(size)]);
  while (bytes.size < size) {
    const ssize_t n = ::read(file.fd, bytes.data.get() + bytes.size, static_cast<std::size_t>(size) - bytes.size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return OpenFailure(errno);
    if (n == 0) break;  // shrank while we read: decode what is there
    bytes.size += static_cast<std::size_t>(n);
  }
  if (bytes.size == 0) return "file is empty";
  return {};
}

bool StartsWith(const std::uint8_t* bytes, std::size_t size, const char* magic, std::size_t n) {
  return size >= n && std::memcmp(bytes, magic, n) == 0;
}

std::string Decode(const std::uint8_t* bytes, std::size_t size, const ImageLimits& limits,
                   XSI::detail::ImageData& out) {
  if (StartsWith(bytes, size, "BM", 2)) {
    image::MemorySource src(bytes, size);
    return image::DecodeBmp(src, limits, out);
  }
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

// The one ending of every load: the decoder's reason, or a checked picture.
std::shared_ptr<XSI::detail::ImageData> Finish(const std::string& name, std::string reason,
                                               std::shared_ptr<XSI::detail::ImageData> data, std::string& error) {
  if (reason.empty() && !Consistent(*data)) reason = "the decoder gave inconsistent pixel data";
  if (reason.empty()) return data;
  error = Failure(name, reason);
  return nullptr;
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
    return Finish(name, std::move(reason), std::move(data), error);
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
  try {
    Fd file;
    std::uint64_t size = 0;
    std::string reason = OpenRegular(path, file, size);
    std::shared_ptr<XSI::detail::ImageData> data;
    FileSource source(file.fd, size);
    const std::uint8_t* magic = reason.empty() ? source.Get(0, 2) : nullptr;
    if (magic && magic[0] == 'B' && magic[1] == 'M') {
      // Row by row from the file: the common large input, read once.
      data = std::make_shared<XSI::detail::ImageData>();
      std::string why = image::DecodeBmp(source, ImageLimits(), *data);
      data = Finish(path, std::move(why), std::move(data), error);
    } else {
      FileBytes bytes;
      if (reason.empty()) reason = ReadWhole(file, size, bytes);
      if (!reason.empty()) {
        error = Failure(path, reason);
        return nullptr;
      }
      data = LoadImageMemory(bytes.data.get(), bytes.size, path, error);
    }
    if (data) data->path = path;
    return data;
  } catch (const std::bad_alloc&) {
    error = Failure(path, "out of memory reading the image");
    return nullptr;
  }
}

}  // namespace host
