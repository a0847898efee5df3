// The per-format decoders behind LoadImageMemory and LoadImageFile. Each
// decodes straight into `out` (Storage::Allocate, then every byte of every
// row, bottom row first as xsi_image.h lays it out) and returns an empty
// string, or returns the reason it refused the file (without the file name:
// the caller adds it).
//
// Every decoder checks the size a header claims against ImageLimits and
// against the bytes present before it allocates, and treats a file that ends
// early as an error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image_data.h"

namespace host::image {

// Where a decoder gets its bytes: memory, or an open file read piece by
// piece (a large BMP then never sits in memory twice). The other formats
// ask for the whole file at once.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::uint64_t Size() const = 0;
  // `n` bytes from `offset`, or null when they are not there. The pointer is
  // good until the next call.
  virtual const std::uint8_t* Get(std::uint64_t offset, std::size_t n) = 0;
  // Another reader of the same bytes, with pointers of its own, for a second
  // thread to read from while this one is in use.
  virtual std::unique_ptr<ByteSource> Another() const = 0;
};

class MemorySource : public ByteSource {
 public:
  MemorySource(const std::uint8_t* bytes, std::size_t size) : bytes_(bytes), size_(size) {}
  std::uint64_t Size() const override { return size_; }
  const std::uint8_t* Get(std::uint64_t offset, std::size_t n) override {
    return offset <= size_ && n <= size_ - offset ? bytes_ + offset : nullptr;
  }
  std::unique_ptr<ByteSource> Another() const override { return std::make_unique<MemorySource>(bytes_, size_); }

 private:
  const std::uint8_t* bytes_;
  std::size_t size_;
};

// Chooses the decoder by the file's first bytes and runs it.
std::string Decode(ByteSource& src, const ImageLimits& limits, XSI::detail::ImageData& out);

std::string DecodeBmp(ByteSource& src, const ImageLimits& limits, XSI::detail::ImageData& out);
std::string DecodePng(const std::uint8_t* bytes, std::size_t size, const ImageLimits& limits,
                      XSI::detail::ImageData& out);
std::string DecodeJpeg(const std::uint8_t* bytes, std::size_t size, const ImageLimits& limits,
                       XSI::detail::ImageData& out);
// Returns false (and leaves `out` alone) when the bytes are not a TGA file
// the host reads; TGA has no signature, so this is how it is recognised.
bool LooksLikeTga(const std::uint8_t* bytes, std::size_t size);
std::string DecodeTga(const std::uint8_t* bytes, std::size_t size, const ImageLimits& limits,
                      XSI::detail::ImageData& out);

// Shared wording, so every format says the same thing for the same fault.
std::string Truncated(std::size_t size);                       // "truncated at byte N"
std::string Truncated(std::size_t size, std::uint64_t needed);  // "... of M"
std::string TruncatedAtLeast(std::size_t size, std::uint64_t needed);  // "... of at least M"
// Empty when width x height is within the limits; otherwise the reason.
std::string CheckSize(std::uint64_t width, std::uint64_t height, const ImageLimits& limits);

}  // namespace host::image
