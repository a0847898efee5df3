// BMP: the host's own reader. It reads the variants stb_image reads (1, 4
// and 8 bits through a palette; 16 and 32 bits through colour masks; 24
// bits; rows bottom-up or top-down; the 12, 40, 56, 108 and 124 byte info
// headers) and gives the same pixels, except where stb reads bytes that are
// not there: a palette index past the palette is refused here, and an
// OS/2 (12-byte header) palette or a 56-byte header's masks are read where
// the header puts them.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <string>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define HOST_BMP_SSSE3 1
#endif

#include "image_codecs.h"
#include "row_halves.h"

namespace host::image {

namespace {

std::uint32_t U32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}
std::uint16_t U16(const std::uint8_t* p) { return std::uint16_t(p[0] | p[1] << 8); }

struct Masks {
  std::uint32_t r = 0, g = 0, b = 0, a = 0;
  // Set for 32-bit files without explicit masks: an alpha byte that is 0
  // everywhere means the writer did not fill it in, so it reads as opaque.
  bool alphaMayBeUnused = false;
};

struct Header {
  std::uint32_t offset = 0, infoSize = 0, compression = 0;
  std::int64_t width = 0, height = 0;
  unsigned bpp = 0;
  std::uint64_t headerEnd = 0;  // first byte after the headers and masks
  Masks masks;
};

void DefaultMasks(unsigned bpp, Masks& m) {
  if (bpp == 16) {
    m.r = 31u << 10, m.g = 31u << 5, m.b = 31u;
  } else if (bpp == 32) {
    m.r = 0xffu << 16, m.g = 0xffu << 8, m.b = 0xffu, m.a = 0xffu << 24;
    m.alphaMayBeUnused = true;
  } else {
    m = Masks();
  }
}

// Reads the file and info headers (and the masks); `size` covers them.
std::string ParseHeader(const std::uint8_t* f, std::size_t size, Header& h) {
  if (size < 18) return Truncated(size, 18);
  h.offset = U32(f + 10);
  h.infoSize = U32(f + 14);
  const std::uint32_t hsz = h.infoSize;
  if (hsz != 12 && hsz != 40 && hsz != 56 && hsz != 108 && hsz != 124)
    return "unsupported BMP header size " + std::to_string(hsz) + " (expected 12, 40, 56, 108 or 124)";
  h.headerEnd = 14 + std::uint64_t(hsz);
  if (size < h.headerEnd) return Truncated(size, h.headerEnd);
  unsigned planes = 0;
  if (hsz == 12) {
    h.width = U16(f + 18), h.height = U16(f + 20), planes = U16(f + 22), h.bpp = U16(f + 24);
  } else {
    h.width = std::int32_t(U32(f + 18)), h.height = std::int32_t(U32(f + 22));
    planes = U16(f + 26), h.bpp = U16(f + 28), h.compression = U32(f + 30);
  }
  if (planes != 1) return "BMP planes must be 1, not " + std::to_string(planes);
  const unsigned bpp = h.bpp;
  const bool depthOk = hsz == 12 ? (bpp == 1 || bpp == 4 || bpp == 8 || bpp == 24)
                                 : (bpp == 1 || bpp == 4 || bpp == 8 || bpp == 16 || bpp == 24 || bpp == 32);
  if (!depthOk) return "unsupported BMP bit depth " + std::to_string(bpp);
  if (h.compression == 1 || h.compression == 2) return "RLE-compressed BMP is not supported";
  if (h.compression != 0 && h.compression != 3)
    return "unsupported BMP compression " + std::to_string(h.compression);
  const bool bitfields = h.compression == 3;
  if (bitfields && bpp != 16 && bpp != 32) return "BMP bit fields need 16 or 32 bits per pixel";

  Masks& m = h.masks;
  if (hsz == 40 && bitfields) {
    // The three masks follow the 40-byte header.
    h.headerEnd += 12;
    if (size < h.headerEnd) return Truncated(size, h.headerEnd);
    m.r = U32(f + 54), m.g = U32(f + 58), m.b = U32(f + 62);
  } else if (hsz >= 56 && bitfields) {
    m.r = U32(f + 54), m.g = U32(f + 58), m.b = U32(f + 62), m.a = U32(f + 66);
  } else if (hsz >= 108) {
    // Without bit fields only the alpha mask of a version 4/5 header counts.
    m.a = U32(f + 66);
    const std::uint32_t alpha = m.a;
    DefaultMasks(bpp, m);
    if (bpp == 16) m.a = alpha;
  } else if (bpp == 16 || bpp == 32) {
    DefaultMasks(bpp, m);
  }
  if (bitfields && hsz < 108 && m.r == m.g && m.g == m.b) return "BMP colour masks are invalid";
  return {};
}

// A mask's value scaled to 8 bits the way stb_image does it, so that both
// readers agree on every mask.
struct Channel {
  std::uint32_t mask = 0;
  int shift = 0, bits = 0;
  static int HighBit(std::uint32_t z) {
    int n = -1;
    while (z) ++n, z >>= 1;
    return n;
  }
  static int BitCount(std::uint32_t z) {
    int n = 0;
    for (; z; z &= z - 1) ++n;
    return n;
  }
  explicit Channel(std::uint32_t m) : mask(m), shift(HighBit(m) - 7), bits(BitCount(m)) {}
  std::uint8_t operator()(std::uint32_t v) const {
    static const unsigned kMul[9] = {0, 0xff, 0x55, 0x49, 0x11, 0x21, 0x41, 0x81, 0x01};
    static const unsigned kShift[9] = {0, 0, 0, 1, 0, 2, 4, 6, 0};
    v &= mask;
    v = shift < 0 ? v << -shift : v >> shift;
    v >>= (8 - bits);
    return std::uint8_t((v * kMul[bits]) >> kShift[bits]);
  }
};

void ReadBgr24Plain(const std::uint8_t* in, std::size_t w, std::uint8_t* out) {
  for (std::size_t x = 0; x < w; ++x, in += 3, out += 3) {
    out[0] = in[2];
    out[1] = in[1];
    out[2] = in[0];
  }
}

#ifdef HOST_BMP_SSSE3
// Five pixels a step with one byte shuffle: 16 bytes in and out, of which the
// 16th (the next pixel's first byte) is rewritten by the following step, so
// a step runs only while six pixels remain. The rest go the plain way.
__attribute__((target("ssse3"))) void ReadBgr24Ssse3(const std::uint8_t* in, std::size_t w, std::uint8_t* out) {
  const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
  std::size_t x = 0;
  for (; x + 6 <= w; x += 5) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 3 * x));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * x), _mm_shuffle_epi8(v, order));
  }
  ReadBgr24Plain(in + 3 * x, w - x, out + 3 * x);
}
#endif

// One row of 24-bit BGR samples to RGB.
void ReadBgr24(const std::uint8_t* in, std::size_t w, std::uint8_t* out) {
#ifdef HOST_BMP_SSSE3
  static const bool ssse3 = __builtin_cpu_supports("ssse3");
  if (ssse3) return ReadBgr24Ssse3(in, w, out);
#endif
  ReadBgr24Plain(in, w, out);
}

// One row of 1-, 4- or 8-bit palette indices, high bits first, to RGB.
// Empty, or why not: an index past the palette's `paletteSize` colours.
std::string ReadPalettedRow(const std::uint8_t* in, std::uint64_t w, unsigned bpp,
                            const std::uint8_t (&palette)[256][3], std::uint64_t paletteSize, std::uint8_t* o) {
  const unsigned perByte = 8 / bpp, indexMask = (1u << bpp) - 1;
  for (std::uint64_t x = 0; x < w; ++x, o += 3) {
    const unsigned shift = bpp * (perByte - 1 - unsigned(x % perByte));
    const unsigned index = (in[x / perByte] >> shift) & indexMask;
    if (index >= paletteSize)
      return "BMP palette index " + std::to_string(index) + " is outside the palette of " +
             std::to_string(paletteSize) + " colours";
    o[0] = palette[index][0], o[1] = palette[index][1], o[2] = palette[index][2];
  }
  return {};
}

// One row of 16- or 32-bit pixels through their colour masks, to RGB or
// RGBA (`channels`). Returns the alpha values seen, ORed together.
std::uint32_t ReadMaskedRow(const std::uint8_t* in, std::uint64_t w, unsigned bpp, int channels,
                            const Channel& red, const Channel& green, const Channel& blue,
                            const Channel& alpha, std::uint8_t* o) {
  std::uint32_t alphaSeen = 0;
  for (std::uint64_t x = 0; x < w; ++x) {
    const std::uint32_t v = bpp == 16 ? U16(in + 2 * x) : U32(in + 4 * x);
    *o++ = red(v), *o++ = green(v), *o++ = blue(v);
    if (channels == 4) {
      const std::uint8_t a = alpha(v);
      alphaSeen |= a;
      *o++ = a;
    }
  }
  return alphaSeen;
}

// How one stored row becomes pixels.
struct RowFormat {
  unsigned bpp;
  int channels;
  bool easy32;  // 32-bit BGRA in the usual masks
  const std::uint8_t (*palette)[256][3];
  std::uint64_t paletteSize;
  Channel red, green, blue, alpha;
};

// Where the stored rows lie in the file.
struct PixelRows {
  std::uint64_t offset, rowBytes, width, count;
  bool bottomUp;
  std::uint64_t fileSize, needed;  // for the message when they are not all there
};

// Pixel data from this many bytes up is decoded in two halves at once.
constexpr std::uint64_t kSplitBytes = std::uint64_t(8) << 20;

// Decodes stored rows [first, end) into `out`; empty, or why not. ORs the
// alpha values it saw into `alphaSeen`.
std::string DecodeRows(ByteSource& src, const PixelRows& at, const RowFormat& f, std::uint64_t first,
                       std::uint64_t end, XSI::detail::ImageData& out, std::uint32_t& alphaSeen) {
  // Whole rows a piece, about 256 KiB at a time: few reads, and each piece
  // is still in cache when it is converted.
  const std::uint64_t rowsPerPiece = std::max<std::uint64_t>(1, (std::uint64_t(1) << 18) / at.rowBytes);
  const std::uint8_t* piece = nullptr;
  for (std::uint64_t r = first; r < end; ++r) {
    if ((r - first) % rowsPerPiece == 0) {
      const std::uint64_t n = std::min(rowsPerPiece, end - r);
      piece = src.Get(at.offset + r * at.rowBytes, std::size_t(n * at.rowBytes));
      if (!piece) return Truncated(std::size_t(at.fileSize), at.needed);  // a file that shrank as we read it
    }
    const std::uint8_t* in = piece + ((r - first) % rowsPerPiece) * at.rowBytes;
    // The host keeps the bottom row first, as a bottom-up BMP stores it.
    std::uint8_t* o = out.MutableRow(int(at.bottomUp ? r : at.count - 1 - r));
    if (f.bpp == 24) {
      ReadBgr24(in, std::size_t(at.width), o);
    } else if (f.bpp <= 8) {
      std::string why = ReadPalettedRow(in, at.width, f.bpp, *f.palette, f.paletteSize, o);
      if (!why.empty()) return why;
    } else if (f.easy32) {
      for (std::uint64_t x = 0; x < at.width; ++x, in += 4, o += 4) {
        o[0] = in[2], o[1] = in[1], o[2] = in[0], o[3] = in[3];
        alphaSeen |= in[3];
      }
    } else {
      alphaSeen |= ReadMaskedRow(in, at.width, f.bpp, f.channels, f.red, f.green, f.blue, f.alpha, o);
    }
  }
  return {};
}

}  // namespace

std::string DecodeBmp(ByteSource& src, const ImageLimits& limits, XSI::detail::ImageData& out) {
  const std::uint64_t size = src.Size();
  // Every header field ParseHeader reads lies in the first 138 bytes, and it
  // reads none past `size`.
  const std::uint8_t* f = src.Get(0, std::size_t(size < 138 ? size : 138));
  if (!f) return Truncated(std::size_t(size));
  Header h;
  std::string why = ParseHeader(f, std::size_t(size), h);
  if (!why.empty()) return why;
  if (h.width == 0 || h.height == 0) return "image has no pixels";
  if (h.width < 0) return "invalid BMP width " + std::to_string(h.width);
  const bool bottomUp = h.height > 0;
  const std::uint64_t w = std::uint64_t(h.width), rows = std::uint64_t(bottomUp ? h.height : -h.height);
  why = CheckSize(w, rows, limits);
  if (!why.empty()) return why;

  const unsigned bpp = h.bpp;
  const bool paletted = bpp <= 8;
  const unsigned entryBytes = h.infoSize == 12 ? 3 : 4;
  std::uint64_t paletteSize = 0;
  if (h.offset < h.headerEnd)
    return "BMP pixel data offset " + std::to_string(h.offset) + " lies inside the header (which ends at byte " +
           std::to_string(h.headerEnd) + ")";
  if (paletted) {
    paletteSize = (h.offset - h.headerEnd) / entryBytes;
    if (paletteSize == 0) return "BMP palette is missing";
    if (paletteSize > 256) return "BMP palette has more than 256 entries";
  }
  const std::uint64_t rowBytes = (w * bpp + 31) / 32 * 4;
  const std::uint64_t needed = std::uint64_t(h.offset) + rowBytes * rows;
  if (size < needed) return Truncated(std::size_t(size), needed);

  const Masks& m = h.masks;
  const bool easy32 = bpp == 32 && m.r == 0xff0000u && m.g == 0xff00u && m.b == 0xffu && m.a == 0xff000000u;
  if ((bpp == 16 || bpp == 32) && !easy32) {
    if (!m.r || !m.g || !m.b) return "BMP colour masks are invalid";
    for (std::uint32_t mask : {m.r, m.g, m.b, m.a})
      if (Channel::BitCount(mask) > 8) return "BMP colour masks are invalid (more than 8 bits)";
  }
  const int channels = (bpp == 16 || bpp == 32) && m.a ? 4 : 3;

  std::uint8_t palette[256][3] = {};
  if (paletted) {
    const std::uint8_t* entries = src.Get(h.headerEnd, std::size_t(paletteSize * entryBytes));
    if (!entries) return Truncated(std::size_t(size), needed);
    for (std::uint64_t i = 0; i < paletteSize; ++i) {
      const std::uint8_t* e = entries + i * entryBytes;
      palette[i][0] = e[2], palette[i][1] = e[1], palette[i][2] = e[0];
    }
  }

  out.Allocate(int(w), int(rows), channels, 8);
  const RowFormat format{bpp, channels, easy32, &palette, paletteSize, Channel(m.r), Channel(m.g), Channel(m.b),
                         Channel(m.a)};
  const PixelRows pixels{h.offset, rowBytes, w, rows, bottomUp, size, needed};
  // A large picture is decoded in two halves at once, each through its own
  // reader. Each half stops at its first fault; the first half's is the one
  // a single pass would have met first.
  std::string reasons[2];
  std::uint32_t alphaSeen[2] = {0, 0};
  ForRowHalves(rows, rowBytes * rows, kSplitBytes, [&](std::uint64_t first, std::uint64_t end, int part) {
    try {
      std::unique_ptr<ByteSource> own = part == 0 ? nullptr : src.Another();
      reasons[part] = DecodeRows(own ? *own : src, pixels, format, first, end, out, alphaSeen[part]);
    } catch (const std::bad_alloc&) {
      reasons[part] = "out of memory decoding the image";
    }
  });
  for (const std::string& why : reasons)
    if (!why.empty()) return why;
  const std::uint32_t anyAlpha = alphaSeen[0] | alphaSeen[1];
  if (channels == 4 && m.alphaMayBeUnused && anyAlpha == 0)
    for (int y = 0; y < out.height; ++y) {
      std::uint8_t* o = out.MutableRow(y);
      for (std::size_t i = 3; i < out.rowBytes; i += 4) o[i] = 255;
    }
  return {};
}

}  // namespace host::image
