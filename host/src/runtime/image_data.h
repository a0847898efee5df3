// Decoded pixels behind XSI::Image, and the loader "CreateImageClip" uses.
//
// The loader treats every file as untrusted: each size a header claims is
// checked against the bytes actually present before anything is allocated,
// a file that ends early is an error whatever the format, and the decoded
// picture may hold at most ImageLimits::maxPixels pixels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "xsi_image.h"

// The storage XSI::Image keeps opaque. Plug-ins only ever see Image.
struct XSI::Image::Storage {
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

namespace XSI::detail {
using ImageData = XSI::Image::Storage;
}

namespace host {

struct ImageLimits {
  // 2^28 pixels: a 16384 x 16384 picture; 1 GiB as 8-bit RGBA.
  std::uint64_t maxPixels = std::uint64_t(1) << 28;
};

// Decodes BMP, PNG, JPEG and TGA (8- and 16-bit) from `size` bytes. `name`
// only names the input in errors. On failure returns null and fills `error`
// ("cannot read image 'a.png': truncated at byte 40"). Never throws.
std::shared_ptr<XSI::detail::ImageData> LoadImageMemory(const std::uint8_t* bytes, std::size_t size,
                                                         const std::string& name, std::string& error,
                                                         const ImageLimits& limits = ImageLimits());

// Reads a regular file and decodes it as LoadImageMemory does; the result
// records `path`.
std::shared_ptr<XSI::detail::ImageData> LoadImageFile(const std::string& path, std::string& error);

}  // namespace host
