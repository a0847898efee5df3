// Image decoding through stb_image (the Debian libstb build, which carries
// the implementation; this file only uses its API).
//
// The file is opened once and decoded from that handle, so what is decoded
// is what was opened. Plain 24-bit BMPs take a row-at-a-time fast path that
// gives the same pixels as stb. 16-bit PNGs keep their 16 bits; everything else is
// decoded at 8 bits. The file's own channel count is kept.
#include <stb_image.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "image_data.h"

namespace host {

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

struct StbiFree {
  void operator()(void* p) const { stbi_image_free(p); }
};

std::string Failure(const std::string& path, const std::string& what) {
  return "cannot read image '" + path + "': " + what;
}

std::string OpenFailure(int err) {
  if (err == ENOENT || err == ENOTDIR) return "no such file";
  if (err == EACCES) return "permission denied";
  if (err == EISDIR) return "is a directory";
  return std::generic_category().message(err);
}

// stb's reasons are terse ("IDA", "bad SOF len"); keep them, but say what
// they mean for the user.
std::string DecodeFailure(const char* reason) {
  const std::string r = reason ? reason : "";
  if (r.empty()) return "cannot decode the image data";
  if (r == "unknown image type") return "unknown image type (not BMP, PNG, JPEG or TGA)";
  if (r == "0-pixel image" || r == "0 width") return "image has no pixels";
  if (r == "outofmem") return "out of memory decoding the image";
  return "corrupt or unsupported image data (" + r + ")";
}

// Checks what stb decoded and moves it into `out`. stb has already checked
// that width * height * channels fits.
template <typename T>
bool Take(const std::string& path, const T* pixels, int width, int height, int channels,
          std::vector<T>& out, std::string& error) {
  if (!pixels) {
    error = Failure(path, DecodeFailure(stbi_failure_reason()));
    return false;
  }
  if (width <= 0 || height <= 0) {
    error = Failure(path, "image has no pixels");
    return false;
  }
  if (channels < 1 || channels > 4) {
    error = Failure(path, "unsupported channel count " + std::to_string(channels));
    return false;
  }
  out.assign(pixels, pixels + std::size_t(width) * std::size_t(height) * std::size_t(channels));
  return true;
}

std::uint32_t U32(const unsigned char* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}
std::uint16_t U16(const unsigned char* p) { return std::uint16_t(p[0] | p[1] << 8); }

// Uncompressed 24-bit BMP, the blob finder's usual input, read row by row
// with one fread each: stb's per-pixel BMP loop takes most of a large run's
// load time. Anything else, or anything odd about the file, is left to stb
// (returns false, file position undefined).
bool ReadPlainBmp(std::FILE* file, XSI::detail::ImageData& data) {
  unsigned char h[54];
  if (std::fread(h, 1, sizeof h, file) != sizeof h) return false;
  if (h[0] != 'B' || h[1] != 'M') return false;
  const std::uint32_t offset = U32(h + 10), infoSize = U32(h + 14);
  const std::int32_t width = std::int32_t(U32(h + 18)), rawHeight = std::int32_t(U32(h + 22));
  if (infoSize < 40 || U16(h + 26) != 1 || U16(h + 28) != 24 || U32(h + 30) != 0) return false;
  constexpr std::int32_t kMaxSide = 1 << 24;  // stb's own limit
  if (width <= 0 || width > kMaxSide || rawHeight == 0 || rawHeight < -kMaxSide || rawHeight > kMaxSide)
    return false;
  const bool bottomUp = rawHeight > 0;
  const std::size_t w = std::size_t(width), rows = std::size_t(bottomUp ? rawHeight : -rawHeight);
  const std::size_t rowBytes = (w * 3 + 3) & ~std::size_t(3);
  if (offset < 54 || std::fseek(file, long(offset), SEEK_SET) != 0) return false;

  std::vector<std::uint8_t> pixels(w * rows * 3);
  std::vector<unsigned char> row(rowBytes);
  for (std::size_t r = 0; r < rows; ++r) {
    if (std::fread(row.data(), 1, rowBytes, file) != rowBytes) return false;
    std::uint8_t* out = pixels.data() + (bottomUp ? rows - 1 - r : r) * w * 3;
    for (std::size_t x = 0; x < w; ++x) {
      out[3 * x] = row[3 * x + 2];
      out[3 * x + 1] = row[3 * x + 1];
      out[3 * x + 2] = row[3 * x];
    }
  }
  data.width = width;
  data.height = int(rows);
  data.channels = 3;
  data.bitsPerChannel = 8;
  data.pixels8 = std::move(pixels);
  return true;
}

}  // namespace

std::shared_ptr<XSI::detail::ImageData> LoadImageFile(const std::string& path, std::string& error) {
  error.clear();
  if (path.empty()) {
    error = "cannot read image '': no file name given";
    return nullptr;
  }
  errno = 0;
  FilePtr file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    error = Failure(path, OpenFailure(errno));
    return nullptr;
  }
  // A directory opens for reading on Linux; reading it then fails with
  // EISDIR. Say so instead of "unknown image type".
  if (std::fgetc(file.get()) == EOF) {
    const bool readError = std::ferror(file.get()) != 0;
    error = Failure(path, readError ? OpenFailure(errno) : "file is empty");
    return nullptr;
  }
  std::rewind(file.get());

  auto plain = std::make_shared<XSI::detail::ImageData>();
  if (ReadPlainBmp(file.get(), *plain)) {
    plain->path = path;
    return plain;
  }
  std::rewind(file.get());

  const bool sixteen = stbi_is_16_bit_from_file(file.get()) != 0;
  int width = 0, height = 0, channels = 0;
  auto data = std::make_shared<XSI::detail::ImageData>();
  bool ok = false;
  if (sixteen) {
    std::unique_ptr<stbi_us, StbiFree> pixels(
        stbi_load_from_file_16(file.get(), &width, &height, &channels, 0));
    ok = Take(path, pixels.get(), width, height, channels, data->pixels16, error);
  } else {
    std::unique_ptr<stbi_uc, StbiFree> pixels(
        stbi_load_from_file(file.get(), &width, &height, &channels, 0));
    ok = Take(path, pixels.get(), width, height, channels, data->pixels8, error);
  }
  if (!ok) return nullptr;
  data->width = width;
  data->height = height;
  data->channels = channels;
  data->bitsPerChannel = sixteen ? 16 : 8;
  data->path = path;
  return data;
}

}  // namespace host
