// TGA through stb_image. stb reads missing bytes as zeros, so the whole file
// is walked first (header, colour map, every RLE packet) and stb only sees a
// file whose every pixel is present, at a size within the limits.
#include <stb_image.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "image_codecs.h"

namespace host::image {

namespace {

std::uint16_t U16(const std::uint8_t* p) { return std::uint16_t(p[0] | p[1] << 8); }

struct Tga {
  unsigned idLength = 0, mapType = 0, type = 0;
  unsigned mapStart = 0, mapLength = 0, mapBits = 0;
  unsigned width = 0, height = 0, bits = 0;
};

Tga ReadHeader(const std::uint8_t* f) {
  Tga t;
  t.idLength = f[0], t.mapType = f[1], t.type = f[2];
  t.mapStart = U16(f + 3), t.mapLength = U16(f + 5), t.mapBits = f[7];
  t.width = U16(f + 12), t.height = U16(f + 14), t.bits = f[16];
  return t;
}

bool ValidBits(unsigned b) { return b == 8 || b == 15 || b == 16 || b == 24 || b == 32; }

unsigned BytesFor(unsigned bits) { return (bits + 7) / 8; }

}  // namespace

// The same test stb_image applies, so whatever passes here is decoded by
// stb's TGA reader and no other.
bool LooksLikeTga(const std::uint8_t* f, std::size_t size) {
  if (size < 18) return false;
  const Tga t = ReadHeader(f);
  if (t.mapType > 1) return false;
  if (t.mapType == 1) {
    if (t.type != 1 && t.type != 9) return false;
    if (!ValidBits(t.mapBits)) return false;
    if (t.bits != 8 && t.bits != 16) return false;
  } else if (t.type != 2 && t.type != 3 && t.type != 10 && t.type != 11) {
    return false;
  }
  return t.width >= 1 && t.height >= 1 && ValidBits(t.bits);
}

std::string DecodeTga(const std::uint8_t* f, std::size_t size, const ImageLimits& limits,
                      XSI::detail::ImageData& out) {
  const Tga t = ReadHeader(f);
  std::string why = CheckSize(t.width, t.height, limits);
  if (!why.empty()) return why;
  const bool mapped = t.mapType == 1, rle = t.type >= 8;
  // stb skips `mapStart` bytes before the colour map, as written.
  std::uint64_t pos = 18 + std::uint64_t(t.idLength);
  if (mapped) {
    if (t.mapLength == 0) return "TGA colour map is empty";
    pos += t.mapStart + std::uint64_t(t.mapLength) * BytesFor(t.mapBits);
  }
  const std::uint64_t pixelBytes = BytesFor(t.bits);
  const std::uint64_t pixels = std::uint64_t(t.width) * t.height;
  if (!rle) {
    const std::uint64_t needed = pos + pixels * pixelBytes;
    if (size < needed) return Truncated(size, needed);
  } else {
    for (std::uint64_t done = 0; done < pixels;) {
      if (pos >= size) return TruncatedAtLeast(size, pos + 1);
      const unsigned packet = f[pos++];
      const std::uint64_t count = (packet & 127u) + 1;
      pos += (packet & 128u) ? pixelBytes : count * pixelBytes;
      if (pos > size) return TruncatedAtLeast(size, pos);
      done += count;
    }
  }

  int w = 0, h = 0, n = 0;
  std::unique_ptr<stbi_uc, void (*)(void*)> px(
      stbi_load_from_memory(f, int(size < 0x7fffffff ? size : 0x7fffffff), &w, &h, &n, 0), stbi_image_free);
  if (!px) {
    const char* reason = stbi_failure_reason();
    return std::string("corrupt or unsupported image data (") + (reason ? reason : "TGA") + ")";
  }
  if (unsigned(w) != t.width || unsigned(h) != t.height || n < 1 || n > 4)
    return "corrupt or unsupported image data (TGA)";
  // stb gives the top row first; the host keeps the bottom row first. The
  // rows are swapped in stb's own buffer, which the store then takes over.
  const std::size_t rowBytes = std::size_t(w) * std::size_t(n);
  std::vector<std::uint8_t> spare(rowBytes);
  for (std::size_t top = 0, bottom = std::size_t(h) - 1; top < bottom; ++top, --bottom) {
    std::uint8_t* a = px.get() + top * rowBytes;
    std::uint8_t* b = px.get() + bottom * rowBytes;
    std::memcpy(spare.data(), a, rowBytes);
    std::memcpy(a, b, rowBytes);
    std::memcpy(b, spare.data(), rowBytes);
  }
  out.Adopt(px.release(), rowBytes * std::size_t(h), [](void* p) { stbi_image_free(p); }, w, h, n, 8);
  return {};
}

}  // namespace host::image
