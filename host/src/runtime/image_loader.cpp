// Reading an image file and choosing its decoder. Files and memory go through
// the same decoders: a file is read from one open handle (so what is decoded
// is what was opened), in pieces where the format allows (BMP) and whole
// otherwise.
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
#include "raster_gdal.h"

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

// Reads an open file piece by piece with pread.
class FileSource : public image::ByteSource {
 public:
  FileSource(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
  std::uint64_t Size() const override { return size_; }
  const std::uint8_t* Get(std::uint64_t offset, std::size_t n) override {
    if (offset > size_ || n > size_ - offset) return nullptr;
    if (capacity_ < n) {
      scratch_.reset(new std::uint8_t[n]);  // not zero-filled first: pread fills it
      capacity_ = n;
    }
    std::size_t got = 0;
    while (got < n) {
      const ssize_t r = ::pread(fd_, scratch_.get() + got, n - got, off_t(offset + got));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) return nullptr;
      got += std::size_t(r);
    }
    return scratch_.get();
  }
  // pread keeps no file position, so two readers can share the handle.
  std::unique_ptr<image::ByteSource> Another() const override { return std::make_unique<FileSource>(fd_, size_); }

 private:
  int fd_;
  std::uint64_t size_;
  std::unique_ptr<std::uint8_t[]> scratch_;
  std::size_t capacity_ = 0;
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

bool StartsWith(const std::uint8_t* bytes, std::size_t size, const char* magic, std::size_t n) {
  return size >= n && std::memcmp(bytes, magic, n) == 0;
}

// What every decoder promises; checked once here rather than trusted.
bool Consistent(const XSI::detail::ImageData& d) {
  if (d.width <= 0 || d.height <= 0 || d.channels < 1 || d.channels > 4 || !d.rows) return false;
  if (d.bitsPerChannel != 8 && d.bitsPerChannel != 16) return false;
  const std::size_t row = std::size_t(d.width) * std::size_t(d.channels) * std::size_t(d.bitsPerChannel / 8);
  return d.rowBytes == row && d.byteCount / row >= std::size_t(d.height);
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

namespace image {

std::string Decode(ByteSource& src, const ImageLimits& limits, XSI::detail::ImageData& out) {
  const std::uint64_t size = src.Size();
  const std::uint8_t* magic = src.Get(0, std::size_t(size < 8 ? size : 8));
  if (!magic) return Truncated(std::size_t(size));
  const std::size_t n = std::size_t(size < 8 ? size : 8);
  if (StartsWith(magic, n, "BM", 2)) return DecodeBmp(src, limits, out);
  const bool png = StartsWith(magic, n, "\x89PNG\r\n\x1a\n", 8);
  const bool jpeg = StartsWith(magic, n, "\xff\xd8", 2);
  // The other decoders read from memory: the whole file at once.
  const std::uint8_t* bytes = src.Get(0, std::size_t(size));
  if (!bytes) return Truncated(0, size);  // a file that shrank as we read it
  if (png) return DecodePng(bytes, std::size_t(size), limits, out);
  if (jpeg) return DecodeJpeg(bytes, std::size_t(size), limits, out);
  if (LooksLikeTga(bytes, std::size_t(size))) return DecodeTga(bytes, std::size_t(size), limits, out);
  return "unknown image type (not BMP, PNG, JPEG, TGA or TIFF)";
}

}  // namespace image

std::shared_ptr<XSI::detail::ImageData> LoadImageMemory(const std::uint8_t* bytes, std::size_t size,
                                                         const std::string& name, std::string& error,
                                                         const ImageLimits& limits) {
  error.clear();
  if (size == 0) {
    error = Failure(name, "file is empty");
    return nullptr;
  }
  // TIFF and BigTIFF go through GDAL (raster_gdal.h).
  if (LooksLikeTiff(bytes, size)) return LoadTiffMemory(bytes, size, name, limits, error);
  try {
    auto data = std::make_shared<XSI::detail::ImageData>();
    image::MemorySource src(bytes, size);
    std::string reason = image::Decode(src, limits, *data);
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
  if (FileLooksLikeTiff(path)) return LoadTiffFile(path, nullptr, ImageLimits(), error);
  try {
    Fd file;
    std::uint64_t size = 0;
    std::string reason = OpenRegular(path, file, size);
    if (!reason.empty()) {
      error = Failure(path, reason);
      return nullptr;
    }
    FileSource source(file.fd, size);
    auto data = std::make_shared<XSI::detail::ImageData>();
    reason = image::Decode(source, ImageLimits(), *data);
    data = Finish(path, std::move(reason), std::move(data), error);
    if (data) data->path = path;
    return data;
  } catch (const std::bad_alloc&) {
    error = Failure(path, "out of memory reading the image");
    return nullptr;
  }
}

}  // namespace host
