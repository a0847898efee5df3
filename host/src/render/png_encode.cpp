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
  png_image info;
  std::memset(&info, 0, sizeof info);
  info.version = PNG_IMAGE_VERSION;
  info.width = static_cast<png_uint_32>(image.width);
  info.height = static_cast<png_uint_32>(image.height);
  info.format = PNG_FORMAT_RGB;
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&info, nullptr, &size, 0, image.pixels.data(), 0, nullptr)) {
    error = std::string("cannot encode PNG: ") + info.message;
    png_image_free(&info);
    return false;
  }
  png.assign(size, '\0');
  if (!png_image_write_to_memory(&info, png.data(), &size, 0, image.pixels.data(), 0, nullptr)) {
    error = std::string("cannot encode PNG: ") + info.message;
    png_image_free(&info);
    return false;
  }
  png.resize(size);
  png_image_free(&info);
  return true;
}

}  // namespace host::render
