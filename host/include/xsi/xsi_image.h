// ImageClip2 and Image: a picture loaded by "CreateImageClip". Pixel (0, 0)
// is the bottom-left pixel; x runs right, y runs up.
#pragma once

#include <memory>

#include "xsi_application.h"
#include "xsi_color.h"
#include "xsi_siobject.h"

namespace XSI {

class Image {
 public:
  // The decoded pixels. Their layout belongs to the host; an Image only
  // shares them, so copies are cheap and outlive the clip.
  struct Storage;

  Image() = default;
  explicit Image(std::shared_ptr<const Storage> data) : data_(std::move(data)) {}
  bool IsValid() const { return data_ != nullptr; }
  long GetResX() const;
  long GetResY() const;
  long GetNumChannels() const;
  // Components in 0..1; a grey image gives r = g = b, no alpha gives a = 1.
  // x and y are truncated to whole pixels. Outside the image (or on an
  // invalid image) returns Fail and leaves `out` untouched.
  CStatus GetPixelValue(float x, float y, CColor& out) const;

 private:
  std::shared_ptr<const Storage> data_;
};

class ImageClip2 : public SIObject {
 public:
  using SIObject::SIObject;
  Image GetImage(double time = kDefaultTime) const;
  CString GetFileName() const;
};

}  // namespace XSI
