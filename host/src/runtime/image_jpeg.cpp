// JPEG through libjpeg(-turbo). Grey stays one channel, colour becomes RGB
// (CMYK and YCCK are converted to RGB). libjpeg makes up data for a file that
// ends early or is corrupt and only warns; those warnings are errors here.
//
// libjpeg reports errors through error_exit, which longjmps back. Only Run*
// below call setjmp; they hold no object with a destructor, and all
// allocation happens between them.
#include <cstdio>  // jpeglib.h needs FILE

#include <jpeglib.h>
#include <jerror.h>

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "image_codecs.h"

namespace host::image {

namespace {

struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  bool truncated = false;
  char message[JMSG_LENGTH_MAX] = {};
};

[[noreturn]] void Fail(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  if (err->message[0] == '\0') (*cinfo->err->format_message)(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

void OnErrorExit(j_common_ptr cinfo) { Fail(cinfo); }

// Warnings that mean the decoder invented pixels: a file cut short, a corrupt
// entropy-coded segment, scans that do not fit together.
void OnMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;  // trace output
  switch (cinfo->err->msg_code) {
    case JWRN_JPEG_EOF:
      reinterpret_cast<ErrorManager*>(cinfo->err)->truncated = true;
      Fail(cinfo);
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_MUST_RESYNC:
    case JWRN_NOT_SEQUENTIAL:
    case JWRN_BOGUS_PROGRESSION:
      Fail(cinfo);
    default:
      return;  // metadata oddities (an unknown JFIF version, a bad thumbnail)
  }
}

void Quiet(j_common_ptr) {}

struct Decompressor {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  bool created = false;
  ~Decompressor() {
    if (created) jpeg_destroy_decompress(&cinfo);
  }
};

bool RunHeader(Decompressor& d, const std::uint8_t* bytes, std::size_t size) {
  if (setjmp(d.err.jump)) return false;
  jpeg_create_decompress(&d.cinfo);
  d.created = true;
  jpeg_mem_src(&d.cinfo, bytes, static_cast<unsigned long>(size));
  jpeg_read_header(&d.cinfo, TRUE);
  return true;
}

bool RunStart(Decompressor& d) {
  if (setjmp(d.err.jump)) return false;
  jpeg_start_decompress(&d.cinfo);
  return true;
}

// Reads the next `count` rows into `rows`.
bool RunRows(Decompressor& d, JSAMPROW* rows, JDIMENSION count) {
  if (setjmp(d.err.jump)) return false;
  for (JDIMENSION done = 0; done < count && d.cinfo.output_scanline < d.cinfo.output_height;)
    done += jpeg_read_scanlines(&d.cinfo, rows + done, count - done);
  return true;
}

bool RunFinish(Decompressor& d) {
  if (setjmp(d.err.jump)) return false;
  jpeg_finish_decompress(&d.cinfo);  // reads on to EOI
  return true;
}

std::string Failed(const Decompressor& d, std::size_t size) {
  if (d.err.truncated) return Truncated(size);
  return std::string("corrupt or unsupported image data (") + d.err.message + ")";
}

// Adobe CMYK as libjpeg gives it (inverted: 255 is no ink) to RGB.
std::uint8_t Scale(unsigned x, unsigned k) {
  const unsigned t = x * k + 128;
  return std::uint8_t((t + (t >> 8)) >> 8);
}

}  // namespace

std::string DecodeJpeg(const std::uint8_t* bytes, std::size_t size, const ImageLimits& limits,
                       XSI::detail::ImageData& out) {
  if (size > 0xffffffffu) return "file is too large";
  Decompressor d;
  d.cinfo.err = jpeg_std_error(&d.err.pub);
  d.err.pub.error_exit = OnErrorExit;
  d.err.pub.emit_message = OnMessage;
  d.err.pub.output_message = Quiet;
  if (!RunHeader(d, bytes, size)) return Failed(d, size);

  jpeg_decompress_struct& c = d.cinfo;
  std::string why = CheckSize(c.image_width, c.image_height, limits);
  if (!why.empty()) return why;
  // Huffman coding spends at least one bit on every block of the first scan
  // that covers a component, so a file needs at least this many bytes.
  if (!c.arith_code) {
    std::uint64_t fewest = UINT64_MAX;
    for (int i = 0; i < c.num_components; ++i)
      fewest = std::min<std::uint64_t>(
          fewest, std::uint64_t(c.comp_info[i].width_in_blocks) * c.comp_info[i].height_in_blocks);
    if (size < fewest / 8) return TruncatedAtLeast(size, fewest / 8);
  }
  int channels = 0;
  switch (c.jpeg_color_space) {
    case JCS_GRAYSCALE: c.out_color_space = JCS_GRAYSCALE, channels = 1; break;
    case JCS_YCbCr:
    case JCS_RGB: c.out_color_space = JCS_RGB, channels = 3; break;
    case JCS_CMYK:
    case JCS_YCCK: c.out_color_space = JCS_CMYK, channels = 3; break;
    default:
      return "unsupported JPEG colour space (" + std::to_string(c.num_components) + " components)";
  }
  // libjpeg's own working memory (whole-image buffers for progressive files)
  // stays within the same budget as the pixels.
  c.mem->max_memory_to_use = long(std::min<std::uint64_t>(limits.maxPixels * 16, LONG_MAX));
  if (!RunStart(d)) return Failed(d, size);
  if (c.output_width != c.image_width || c.output_height != c.image_height ||
      c.output_components != (c.out_color_space == JCS_CMYK ? 4 : channels))
    return "corrupt or unsupported image data (unexpected JPEG output shape)";

  const std::size_t w = c.output_width, h = c.output_height;
  out.Allocate(int(w), int(h), channels, 8);
  if (c.out_color_space == JCS_CMYK) {
    // A row at a time through a scratch row, converted into the store.
    std::vector<std::uint8_t> cmyk(w * 4);
    JSAMPROW row = cmyk.data();
    for (std::size_t y = 0; y < h; ++y) {
      if (!RunRows(d, &row, 1)) return Failed(d, size);
      std::uint8_t* o = out.MutableRow(int(h - 1 - y));
      for (std::size_t i = 0; i < w; ++i) {
        const std::uint8_t* p = cmyk.data() + 4 * i;
        o[3 * i] = Scale(p[0], p[3]);
        o[3 * i + 1] = Scale(p[1], p[3]);
        o[3 * i + 2] = Scale(p[2], p[3]);
      }
    }
  } else {
    // JPEG stores the top row first; the host keeps the bottom row first.
    std::vector<JSAMPROW> rows(h);
    for (std::size_t y = 0; y < h; ++y) rows[y] = out.MutableRow(int(h - 1 - y));
    if (!RunRows(d, rows.data(), JDIMENSION(h))) return Failed(d, size);
  }
  if (!RunFinish(d)) return Failed(d, size);
  return {};
}

}  // namespace host::image
