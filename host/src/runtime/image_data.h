// Decoded pixels behind XSI::Image, and the loader "CreateImageClip" uses.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace XSI::detail {

struct ImageData {
  int width = 0;
  int height = 0;
  int channels = 0;        // 1 grey, 2 grey+alpha, 3 RGB, 4 RGBA
  int bitsPerChannel = 8;  // 8 or 16
  // Rows top to bottom as decoded; Image::GetPixelValue flips y so that
  // (0, 0) is the bottom-left pixel.
  std::vector<std::uint8_t> pixels8;
  std::vector<std::uint16_t> pixels16;
  std::string path;
};

}  // namespace XSI::detail

namespace host {

// Decodes BMP, PNG, JPEG and TGA (8- and 16-bit). On failure returns null and
// fills `error` with a text naming the file ("cannot read image 'a.png': ...").
std::shared_ptr<XSI::detail::ImageData> LoadImageFile(const std::string& path, std::string& error);

}  // namespace host
