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

// The host's record of a decoded picture. Its ImagePixels base is what
// XSI::Image reads (see xsi_image.h for the layout: packed rows of
// interleaved 8- or 16-bit samples, bottom row first); host code reads
// pixels the same way, through Row(y) or the fields. Decoders write straight
// into the rows with Allocate and MutableRow, so every format ends up in this
// one buffer with no second copy.
struct XSI::Image::Storage : XSI::ImagePixels {
  Storage() = default;
  Storage(const Storage&) = delete;
  Storage& operator=(const Storage&) = delete;

  // Sets the shape and gives the rows uninitialised memory (the decoder
  // fills every byte). May throw std::bad_alloc.
  void Allocate(int width, int height, int channels, int bitsPerChannel);
  // Takes `bytes` (freed with `release`) as the rows of the given shape;
  // `size` is how many bytes they hold.
  void Adopt(std::uint8_t* bytes, std::size_t size, void (*release)(void*), int width, int height,
             int channels, int bitsPerChannel);
  std::uint8_t* MutableRow(int y) { return owned.get() + static_cast<std::size_t>(y) * rowBytes; }
  // Bytes behind `rows`; at least height * rowBytes in a consistent record.
  std::size_t byteCount = 0;
  std::string path;

 private:
  std::unique_ptr<std::uint8_t[], void (*)(void*)> owned{nullptr, [](void*) {}};
};

namespace XSI::detail {
using ImageData = XSI::Image::Storage;
}

namespace host {

// A rectangle of pixels: column x and row y of its top-left pixel, counted
// from the picture's top-left (whatever order the store keeps rows in), and
// its size.
struct PixelWindow {
  std::int64_t x = 0, y = 0, width = 0, height = 0;
  bool operator==(const PixelWindow& o) const {
    return x == o.x && y == o.y && width == o.width && height == o.height;
  }
};

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
