// Image: construction over the host's decoded picture (the pixel reads are
// inline in xsi_image.h); ImageClip2: the clip record behind a reference.
#include "xsi_image.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "image_data.h"
#include "runtime.h"

namespace XSI {

namespace {

// The inline reads trust the shape; a record that would send them past its
// bytes is never handed out.
bool Consistent(const ImagePixels& d, std::size_t byteCount) {
  if (d.width <= 0 || d.height <= 0 || d.channels < 1 || d.channels > 4 || !d.rows) return false;
  if (d.bitsPerChannel != 8 && d.bitsPerChannel != 16) return false;
  const std::size_t row = std::size_t(d.width) * std::size_t(d.channels) * std::size_t(d.bitsPerChannel / 8);
  if (d.rowBytes != row) return false;
  return byteCount / row >= std::size_t(d.height);
}

const host::ClipRecord* FindClipRecord(const CRef& ref) {
  if (ref.GetKind() != siRefKind::ImageClip) return nullptr;
  return host::Runtime::Get().FindClip(ref.GetId());
}

}  // namespace

Image::Image(std::shared_ptr<const Storage> data) {
  if (data && Consistent(*data, data->byteCount)) pixels_ = std::move(data);
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
