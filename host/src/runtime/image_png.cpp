// PNG through libpng. The channels come out as the file has them (a palette
// becomes RGB, transparency becomes an alpha channel, grey below 8 bits is
// scaled to 8), 16-bit samples stay 16-bit, and no gamma is applied.
//
// libpng reports errors by longjmp. Only Read* below call setjmp; they hold
// no object with a destructor, and all allocation happens between them.
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "image_codecs.h"

namespace host::image {

namespace {

// Deflate never expands data by more than this factor (its longest match,
// 258 bytes, costs at least two bits), so a file shorter than raw / 1032
// bytes cannot hold the image it claims.
constexpr std::uint64_t kMaxDeflateRatio = 1032;

struct Source {
  const std::uint8_t* bytes = nullptr;
  std::size_t size = 0, pos = 0;
  bool truncated = false;
  char message[256] = {};
};

void ReadBytes(png_structp png, png_bytep out, png_size_t n) {
  auto* src = static_cast<Source*>(png_get_io_ptr(png));
  if (n > src->size - src->pos) {
    src->truncated = true;
    png_error(png, "truncated");
  }
  std::memcpy(out, src->bytes + src->pos, n);
  src->pos += n;
}

void OnError(png_structp png, png_const_charp message) {
  auto* src = static_cast<Source*>(png_get_error_ptr(png));
  std::snprintf(src->message, sizeof src->message, "%s", message ? message : "libpng error");
  png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

bool LittleEndian() {
  const std::uint16_t probe = 1;
  std::uint8_t first = 0;
  std::memcpy(&first, &probe, 1);
  return first == 1;
}

struct PngReader {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~PngReader() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

struct Shape {
  png_uint_32 width = 0, height = 0;
  int depth = 0, colourType = 0, interlace = 0;
};

bool ReadHeader(png_structp png, png_infop info, Shape& s) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_info(png, info);
  png_get_IHDR(png, info, &s.width, &s.height, &s.depth, &s.colourType, &s.interlace, nullptr, nullptr);
  return true;
}

bool SetUpTransforms(png_structp png, png_infop info, const Shape& s, int& channels) {
  if (setjmp(png_jmpbuf(png))) return false;
  if (s.colourType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (s.colourType == PNG_COLOR_TYPE_GRAY && s.depth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
  if (s.depth == 16 && LittleEndian()) png_set_swap(png);  // PNG stores 16-bit samples big-endian
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  channels = png_get_channels(png, info);
  return true;
}

bool ReadRows(png_structp png, png_bytepp rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_image(png, rows);
  png_read_end(png, nullptr);  // up to IEND: a file cut after the pixels is still cut
  return true;
}

int FileChannels(int colourType) {
  switch (colourType) {
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    case PNG_COLOR_TYPE_RGB: return 3;
    case PNG_COLOR_TYPE_RGB_ALPHA: return 4;
    default: return 1;  // grey, palette
  }
}

std::string Failed(const Source& src) {
  if (src.truncated) return Truncated(src.size);
  return std::string("corrupt or unsupported image data (") + src.message + ")";
}

}  // namespace

std::string DecodePng(const std::uint8_t* bytes, std::size_t size, const ImageLimits& limits,
                      XSI::detail::ImageData& out) {
  // libpng calls a zero size invalid IHDR data; say what it is.
  if (size >= 24 && std::memcmp(bytes + 12, "IHDR", 4) == 0 &&
      (std::memcmp(bytes + 16, "\0\0\0\0", 4) == 0 || std::memcmp(bytes + 20, "\0\0\0\0", 4) == 0))
    return "image has no pixels";
  Source src;
  src.bytes = bytes;
  src.size = size;
  PngReader r;
  r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &src, OnError, OnWarning);
  if (!r.png) return "out of memory decoding the image";
  r.info = png_create_info_struct(r.png);
  if (!r.info) return "out of memory decoding the image";
  png_set_read_fn(r.png, &src, ReadBytes);
  // Our own limits are checked below, with a reason; these only stop libpng
  // from acting on absurd sizes before we see them.
  png_set_user_limits(r.png, 0x7fffffffu, 0x7fffffffu);

  Shape s;
  if (!ReadHeader(r.png, r.info, s)) return Failed(src);
  std::string why = CheckSize(s.width, s.height, limits);
  if (!why.empty()) return why;
  const std::uint64_t fileRowBytes = (std::uint64_t(s.width) * FileChannels(s.colourType) * s.depth + 7) / 8;
  const std::uint64_t raw = std::uint64_t(s.height) * (1 + fileRowBytes);
  if (size < raw / kMaxDeflateRatio) return TruncatedAtLeast(size, raw / kMaxDeflateRatio);

  int channels = 0;
  if (!SetUpTransforms(r.png, r.info, s, channels)) return Failed(src);
  if (channels < 1 || channels > 4) return "unsupported PNG channel count " + std::to_string(channels);
  const bool sixteen = s.depth == 16;
  const std::size_t rowBytes = std::size_t(s.width) * std::size_t(channels) * (sixteen ? 2 : 1);
  if (png_get_rowbytes(r.png, r.info) != rowBytes)
    return "corrupt or unsupported image data (unexpected PNG row size)";
  out.Allocate(int(s.width), int(s.height), channels, sixteen ? 16 : 8);
  // PNG stores the top row first; the host keeps the bottom row first.
  std::vector<png_bytep> rows(s.height);
  for (std::size_t y = 0; y < rows.size(); ++y) rows[y] = out.MutableRow(int(s.height - 1 - y));
  if (!ReadRows(r.png, rows.data())) return Failed(src);
  return {};
}

}  // namespace host::image
