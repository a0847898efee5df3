// ImageClip2 and Image: a picture loaded by "CreateImageClip". Pixel (0, 0)
// is the bottom-left pixel; x runs right, y runs up.
//
// Every picture, whatever file it came from, is held in one layout that
// plug-ins may read directly (ImagePixels): rows of interleaved samples,
// bottom row first. Reading a pixel is an inline function over that layout,
// so a plug-in that visits every pixel pays no call into the host per pixel.
#pragma once

#include "xsi_api.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "xsi_application.h"
#include "xsi_color.h"
#include "xsi_siobject.h"

namespace XSI {

// The decoded pixels of one picture.
//   - `rows` points at row 0, the BOTTOM row (y = 0); row y starts at
//     rows + y * rowBytes, and rows follow each other upward.
//   - A row is `width` pixels of `channels` interleaved samples: 1 grey,
//     2 grey + alpha, 3 red green blue, 4 red green blue alpha.
//   - Samples are 8-bit (bitsPerChannel 8, one byte each) or 16-bit
//     (bitsPerChannel 16, two bytes each in the machine's byte order).
//   - Rows are packed: rowBytes == width * channels * bitsPerChannel / 8.
// The bytes never change once the picture is loaded and stay valid for as
// long as any Image that shares them.
struct ImagePixels {
  int width = 0;
  int height = 0;
  int channels = 0;
  int bitsPerChannel = 8;
  std::size_t rowBytes = 0;
  const std::uint8_t* rows = nullptr;

  // Row y (0 = bottom); y must lie in 0..height-1.
  const std::uint8_t* Row(int y) const { return rows + static_cast<std::size_t>(y) * rowBytes; }
};

namespace image_detail {

// v / 255.0 for every 8-bit value: the very doubles the division gives, for
// the price of a load.
struct UnitTable {
  double v[256];
};
inline constexpr UnitTable kUnit8 = [] {
  UnitTable t{};
  for (int i = 0; i < 256; ++i) t.v[i] = static_cast<double>(i) / 255.0;
  return t;
}();

inline double Unit(const std::uint8_t* p, int i) { return kUnit8.v[p[i]]; }
inline double Unit16(const std::uint8_t* p, int i) {
  std::uint16_t v;
  std::memcpy(&v, p + 2 * i, sizeof v);
  return static_cast<double>(v) / 65535.0;
}

// Fills `out` from the `channels` samples at `p`: grey spreads to r, g, b;
// a missing alpha reads as opaque.
template <double (*U)(const std::uint8_t*, int)>
inline void ReadPixel(const std::uint8_t* p, int channels, CColor& out) {
  switch (channels) {
    case 1:
      out.r = out.g = out.b = U(p, 0);
      out.a = 1.0;
      return;
    case 2:
      out.r = out.g = out.b = U(p, 0);
      out.a = U(p, 1);
      return;
    case 3:
      out.r = U(p, 0);
      out.g = U(p, 1);
      out.b = U(p, 2);
      out.a = 1.0;
      return;
    default:
      out.r = U(p, 0);
      out.g = U(p, 1);
      out.b = U(p, 2);
      out.a = U(p, 3);
      return;
  }
}

}  // namespace image_detail

class XSI_API Image {
 public:
  // The host's record of a loaded picture; it begins with the ImagePixels
  // an Image reads.
  struct Storage;

  Image() = default;
  // Takes the host's decoded picture. A picture whose sizes disagree with
  // its bytes gives an invalid Image rather than one that reads past them.
  explicit Image(std::shared_ptr<const Storage> data);
  bool IsValid() const { return pixels_ != nullptr; }
  long GetResX() const { return pixels_ ? pixels_->width : 0; }
  long GetResY() const { return pixels_ ? pixels_->height : 0; }
  long GetNumChannels() const { return pixels_ ? pixels_->channels : 0; }

  // Components in 0..1 (exactly v / 255.0 for 8-bit samples, v / 65535.0 for
  // 16-bit); a grey image gives r = g = b, no alpha gives a = 1. x and y are
  // truncated to whole pixels. Outside the image (or on an invalid image)
  // returns Fail and leaves `out` untouched.
  CStatus GetPixelValue(float x, float y, CColor& out) const {
    const ImagePixels* d = pixels_.get();
    if (!d) return CStatus::Fail;
    // Written so that NaN fails every comparison; infinities fail the bounds.
    const double xd = x, yd = y;
    if (!(xd >= 0.0 && yd >= 0.0 && xd < d->width && yd < d->height)) return CStatus::Fail;
    const std::size_t column = static_cast<std::size_t>(xd);
    const std::uint8_t* row = d->Row(static_cast<int>(yd));
    const std::size_t sampleBytes = d->bitsPerChannel == 16 ? 2 : 1;
    const std::uint8_t* p = row + column * static_cast<std::size_t>(d->channels) * sampleBytes;
    if (sampleBytes == 1)
      image_detail::ReadPixel<image_detail::Unit>(p, d->channels, out);
    else
      image_detail::ReadPixel<image_detail::Unit16>(p, d->channels, out);
    return CStatus::OK;
  }

  // The whole picture in the layout described at ImagePixels, for readers
  // that walk rows themselves; all zero (no rows) on an invalid image.
  ImagePixels GetPixels() const { return pixels_ ? *pixels_ : ImagePixels(); }

 private:
  std::shared_ptr<const ImagePixels> pixels_;
};

class XSI_API ImageClip2 : public SIObject {
 public:
  using SIObject::SIObject;
  Image GetImage(double time = kDefaultTime) const;
  CString GetFileName() const;
};

}  // namespace XSI
