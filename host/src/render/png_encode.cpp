#include "png_encode.h"

#include <png.h>

#include <cstring>

namespace host::render {

// libpng's simplified API: no setjmp/longjmp crossing our frames, errors
// come back in the image's message.
bool EncodePng(const RgbImage& image, std::string& png, std::string& error) {
  if (image.width <= 0 || image.height <= 0 ||
      image.pixels.size() != static_cast<std::size_t>(image.width) * image.height * 3) {
    error = "the picture's pixels do not match its size";
    return false;
  }
  // Writes into `png`, which holds `size` bytes; false with libpng's
  // message, and `size` set to what is needed when `png` is too small.
  const auto write = [&](png_alloc_size_t& size, std::string& message) {
    png_image info;
    std::memset(&info, 0, sizeof info);
    info.version = PNG_IMAGE_VERSION;
    info.width = static_cast<png_uint_32>(image.width);
    info.height = static_cast<png_uint_32>(image.height);
    info.format = PNG_FORMAT_RGB;
    const bool ok = png_image_write_to_memory(&info, png.data(), &size, 0, image.pixels.data(), 0, nullptr);
    if (!ok) message = info.message;
    png_image_free(&info);
    return ok;
  };
  // One pass into a buffer of libpng's bound for the picture: asking for
  // the size first would compress the whole picture twice.
  png_image bound;
  std::memset(&bound, 0, sizeof bound);
  bound.width = static_cast<png_uint_32>(image.width);
  bound.height = static_cast<png_uint_32>(image.height);
  bound.format = PNG_FORMAT_RGB;
  png_alloc_size_t size = PNG_IMAGE_PNG_SIZE_MAX(bound);
  png.assign(size, '\0');
  std::string message;
  bool ok = write(size, message);
  if (!ok && size > png.size()) {  // the bound fell short: once more at the size asked
    png.assign(size, '\0');
    ok = write(size, message);
  }
  if (!ok) {
    png.clear();
    error = "cannot encode PNG: " + message;
    return false;
  }
  png.resize(size);
  return true;
}

}  // namespace host::render
