// Image decoding from untrusted bytes, every format through LoadImageMemory.
// Checks: a refusal names the input and says why; a picture has exactly
// width * height * channels samples; decoding the same bytes twice gives the
// same picture; and a BMP that stb_image also reads at the same size reads
// as stb reads it. Known, intended disagreements with stb are skipped: an
// OS/2 (12-byte header) palette, which stb reads four entries short, and the
// masks of a 56-byte header, which stb reads from after the header.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <stb_image.h>

#include "image_data.h"

namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "invariant failed: %s\n", what);
    std::abort();
  }
}

std::uint32_t U32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

bool IntendedBmpDisagreement(const std::uint8_t* data, std::size_t size) {
  if (size < 34) return true;
  const std::uint32_t infoSize = U32(data + 14);
  const unsigned bpp = data[infoSize == 12 ? 24 : 28];
  if (infoSize == 12 && bpp <= 8) return true;
  return infoSize == 56 && U32(data + 30) == 3;
}

void CrossCheckBmp(const std::uint8_t* data, std::size_t size, const XSI::detail::ImageData& ours) {
  if (IntendedBmpDisagreement(data, size)) return;
  int w = 0, h = 0, n = 0;
  std::unique_ptr<stbi_uc, void (*)(void*)> ref(stbi_load_from_memory(data, int(size), &w, &h, &n, 0),
                                               stbi_image_free);
  if (!ref || w != ours.width || h != ours.height) return;
  Check(n == ours.channels, "BMP channel count as stb_image");
  // stb gives the top row first; the host keeps the bottom row first.
  for (int y = 0; y < h; ++y)
    Check(std::memcmp(ref.get() + std::size_t(y) * ours.rowBytes, ours.Row(h - 1 - y), ours.rowBytes) == 0,
          "BMP pixels as stb_image");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  host::ImageLimits limits;
  limits.maxPixels = std::uint64_t(1) << 22;  // keeps each run small; the checks do not depend on it
  std::string error;
  auto a = host::LoadImageMemory(data, size, "fuzz", error, limits);
  if (!a) {
    Check(error.rfind("cannot read image 'fuzz': ", 0) == 0 && error.size() > 26, "refusal names the input");
    return 0;
  }
  Check(error.empty(), "no error text on success");
  const std::size_t samples = std::size_t(a->width) * std::size_t(a->height) * std::size_t(a->channels);
  Check(a->width > 0 && a->height > 0 && a->channels >= 1 && a->channels <= 4, "sane shape");
  Check(std::uint64_t(a->width) * std::uint64_t(a->height) <= limits.maxPixels, "within the limit");
  const std::size_t bytes = samples * std::size_t(a->bitsPerChannel / 8);
  Check((a->bitsPerChannel == 8 || a->bitsPerChannel == 16) && a->rowBytes * std::size_t(a->height) == bytes &&
            a->byteCount >= bytes,
        "size == width * height * channels");
  std::string again;
  auto b = host::LoadImageMemory(data, size, "fuzz", again, limits);
  Check(b && b->width == a->width && b->height == a->height && b->channels == a->channels &&
            b->bitsPerChannel == a->bitsPerChannel && std::memcmp(a->rows, b->rows, bytes) == 0,
        "deterministic");
  if (size >= 2 && data[0] == 'B' && data[1] == 'M') CrossCheckBmp(data, size, *a);
  return 0;
}
