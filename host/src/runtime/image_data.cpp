// The pixel store behind XSI::Image: allocation for the decoders, or
// adoption of a buffer someone else made.
#include "image_data.h"

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace XSI {

namespace {

void Free(void* p) { std::free(p); }

}  // namespace

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

}  // namespace XSI
