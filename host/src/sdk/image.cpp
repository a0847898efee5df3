// Image: pixel reads over decoded data; ImageClip2: the clip record behind a
// reference. Callers read pictures pixel by pixel, so GetPixelValue touches
// only the image data it already holds: no lookup, no lock, no allocation.
#include "xsi_image.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "image_data.h"
#include "runtime.h"

namespace XSI {

namespace {

// v / 255.0 for every 8-bit value: the same doubles as the division, for the
// price of a load.
const std::array<double, 256> kUnit8 = [] {
  std::array<double, 256> t{};
  for (std::size_t v = 0; v < t.size(); ++v) t[v] = static_cast<double>(v) / 255.0;
  return t;
}();

inline double Unit(std::uint8_t v) { return kUnit8[v]; }
inline double Unit(std::uint16_t v) { return static_cast<double>(v) / 65535.0; }

// Fills `out` from the `channels` components at `p`: grey spreads to r, g, b;
// a missing alpha reads as opaque.
template <typename T>
bool ReadPixel(const T* p, int channels, CColor& out) {
  switch (channels) {
    case 1:
      out.r = out.g = out.b = Unit(p[0]);
      out.a = 1.0;
      return true;
    case 2:
      out.r = out.g = out.b = Unit(p[0]);
      out.a = Unit(p[1]);
      return true;
    case 3:
      out.r = Unit(p[0]);
      out.g = Unit(p[1]);
      out.b = Unit(p[2]);
      out.a = 1.0;
      return true;
    case 4:
      out.r = Unit(p[0]);
      out.g = Unit(p[1]);
      out.b = Unit(p[2]);
      out.a = Unit(p[3]);
      return true;
    default:
      return false;
  }
}

// Offset of the first component of pixel (col, row-from-top), or false when
// the buffer is too short for it (data not built by the loader).
template <typename T>
bool PixelAt(const std::vector<T>& pixels, std::size_t index, int channels, const T*& p) {
  if (index + static_cast<std::size_t>(channels) > pixels.size()) return false;
  p = pixels.data() + index;
  return true;
}

const host::ClipRecord* FindClipRecord(const CRef& ref) {
  if (ref.GetKind() != siRefKind::ImageClip) return nullptr;
  return host::Runtime::Get().FindClip(ref.GetId());
}

}  // namespace

long Image::GetResX() const { return data_ ? data_->width : 0; }
long Image::GetResY() const { return data_ ? data_->height : 0; }
long Image::GetNumChannels() const { return data_ ? data_->channels : 0; }

CStatus Image::GetPixelValue(float x, float y, CColor& out) const {
  const detail::ImageData* d = data_.get();
  if (!d) return CStatus::Fail;
  // Written so that NaN fails every comparison; infinities fail the bounds.
  const double xd = x, yd = y;
  if (!(xd >= 0.0 && yd >= 0.0 && xd < d->width && yd < d->height)) return CStatus::Fail;
  const auto col = static_cast<std::size_t>(xd);
  // Rows are stored top-down; y counts up from the bottom.
  const auto row = static_cast<std::size_t>(d->height - 1 - static_cast<int>(yd));
  const auto channels = static_cast<std::size_t>(d->channels);
  const std::size_t index = (row * static_cast<std::size_t>(d->width) + col) * channels;
  CColor c;
  bool ok = false;
  if (d->bitsPerChannel == 16) {
    const std::uint16_t* p = nullptr;
    ok = PixelAt(d->pixels16, index, d->channels, p) && ReadPixel(p, d->channels, c);
  } else {
    const std::uint8_t* p = nullptr;
    ok = PixelAt(d->pixels8, index, d->channels, p) && ReadPixel(p, d->channels, c);
  }
  if (!ok) return CStatus::Fail;
  out = c;
  return CStatus::OK;
}

Image ImageClip2::GetImage(double /*time: clips hold still images*/) const {
  const host::ClipRecord* clip = FindClipRecord(ref_);
  return clip ? Image(clip->image) : Image();
}

CString ImageClip2::GetFileName() const {
  try {
    const host::ClipRecord* clip = FindClipRecord(ref_);
    return clip ? CString::FromUtf8(clip->path) : CString();
  } catch (...) {
    // Out of memory for the name: an SDK call reports it as no name.
    return CString();
  }
}

}  // namespace XSI
