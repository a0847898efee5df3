// WriteRgbBmp: an RGB raster (red, green, blue per pixel, row 0 at the
// bottom) written through the plug-in's own BMP writer, which takes blue,
// green, red. Header-only: the fuzz harness uses it too.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bmp_writer.h"

namespace blobtest {

inline findspots::BmpWriteResult WriteRgbBmp(const std::vector<std::uint8_t>& rgb, int width,
                                             int height, const std::string& path) {
  std::vector<std::uint8_t> bgr(rgb.size());
  for (std::size_t i = 0; i + 2 < bgr.size(); i += 3) {
    bgr[i] = rgb[i + 2];
    bgr[i + 1] = rgb[i + 1];
    bgr[i + 2] = rgb[i];
  }
  return findspots::writeBMP(bgr.data(), width, height, 24, path.c_str());
}

}  // namespace blobtest
