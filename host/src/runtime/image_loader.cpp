// Image decoding through stb_image (the Debian libstb build, which carries
// the implementation; this file only uses its API).
//
// The file is opened once and decoded from that handle, so what is decoded
// is what was opened. 16-bit PNGs keep their 16 bits; everything else is
// decoded at 8 bits. The file's own channel count is kept.
#include <stb_image.h>

#include <cerrno>
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
