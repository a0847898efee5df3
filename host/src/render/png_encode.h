// PNG encoding of an 8-bit RGB picture, in memory (no file access).
// The output depends on the pixels alone: no time or text chunks, a fixed
// compression setting, so the same picture always gives the same bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace host::render {

// Top row first, 3 bytes a pixel, no padding between rows.
struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;
};

// False with `error` (libpng's reason) when encoding fails or the pixel
// buffer does not hold width x height x 3 bytes.
bool EncodePng(const RgbImage& image, std::string& png, std::string& error);

}  // namespace host::render
