// Image: construction over the host's decoded picture (the pixel reads are
// inline in xsi_image.h); ImageClip2: the clip record behind a reference.
#include "xsi_image.h"

#include <sys/mman.h>

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

void Free(void* p) { std::free(p); }

}  // namespace

Image::Image(std::shared_ptr<const Storage> data) {
  if (data && Consistent(*data, data->byteCount)) pixels_ = std::move(data);
}

void Image::Storage::Allocate(int w, int h, int c, int bits) {
  const std::size_t row = std::size_t(w) * std::size_t(c) * std::size_t(bits / 8);
  const std::size_t size = row * std::size_t(h);
  // Large pictures on huge pages where the system allows: one fault per
  // 2 MiB instead of per 4 KiB is a visible share of a decode.
  constexpr std::size_t kHugePage = std::size_t{2} << 20;
  void* p = nullptr;
  if (size >= kHugePage) {
    p = std::aligned_alloc(kHugePage, (size + kHugePage - 1) / kHugePage * kHugePage);
    if (p) ::madvise(p, size, MADV_HUGEPAGE);  // a hint: failure is harmless
  } else {
    p = std::malloc(size == 0 ? 1 : size);
  }
  if (!p) throw std::bad_alloc();
  Adopt(static_cast<std::uint8_t*>(p), size, Free, w, h, c, bits);
}

void Image::Storage::Adopt(std::uint8_t* bytes, std::size_t size, void (*release)(void*), int w, int h, int c,
                           int bits) {
  owned = std::unique_ptr<std::uint8_t[], void (*)(void*)>(bytes, release);
  byteCount = size;
  width = w;
  height = h;
  channels = c;
  bitsPerChannel = bits;
  rowBytes = std::size_t(w) * std::size_t(c) * std::size_t(bits / 8);
  rows = bytes;
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
