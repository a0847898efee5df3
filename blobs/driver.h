// One run of the findSpots command.
//
// Reads the thirteen positional arguments from the context's "Arguments",
// has the host load <IMAGESPATH><imageName>.bmp (and, with "withelevation",
// <IMAGESPATH><imageName>_elevation.bmp), classifies every pixel, labels and
// measures the blobs, writes "blobs.bmp" to the current directory and stores
// the blob list text as "ReturnValue".
//
// Input that cannot be used (an image that does not load or has no pixels, an
// elevation image that does not load or differs in size) and running out of
// memory are logged as errors naming the file and give a failing status; then
// no "ReturnValue" is set and "blobs.bmp" is left as it was. A bitmap that
// cannot be written is a warning only: the result is still returned.
#pragma once

#include <cstdint>

#include <xsi_plugin.h>

#include "classification.h"
#include "row_labelling.h"

namespace findspots {

struct RunArguments {
  XSI::CString imagesPath;
  XSI::CString imageName;
  std::int32_t minBlobSize = 0;
  ClassifySettings classify;
  bool withElevation = false;
};

// The host's own conversions of each positional value; missing ones read as
// empty values do.
RunArguments readArguments(const XSI::CValueArray& args);

XSI::CStatus executeFindSpots(const XSI::CRef& context);

// The rows of one picture under one set of bounds. 8-bit pictures are read
// in place from the host's pixel rows, colour ranges through SampleTables;
// anything else through Image::GetPixelValue. Either way each pixel gets the
// result the double-precision comparisons give. `image` must outlive it.
class RowClassifier {
 public:
  RowClassifier(const XSI::Image& image, const ClassBounds& bounds);
  // As classifyRow below.
  void classifyRow(std::int32_t width, std::int32_t row, std::uint8_t* line, RowLabeller& labeller) const;
  // As classifyRow, but the foreground is marked in `mask` (a ForegroundMask
  // row, all clear) instead of coloured in a line. 8-bit RGB pictures under
  // colour ranges are tested sixteen pixels at a time where the processor
  // can (SampleTables' intervals).
  void labelRow(std::int32_t width, std::int32_t row, std::uint64_t* mask, RowLabeller& labeller) const;
  // The line classifyRow writes, from the row's mask that labelRow marked.
  void colourRow(std::int32_t width, std::int32_t row, const std::uint64_t* mask, std::uint8_t* line) const;

 private:
  bool inPlace(std::int32_t width, std::int32_t row) const;
  void labelRgbRow(std::int32_t width, std::int32_t row, std::uint64_t* mask, RowLabeller& labeller) const;
  void anyRow(std::int32_t width, std::int32_t row, std::uint8_t* line, std::uint64_t* mask,
              RowLabeller& labeller) const;
  template <int Step, int G, int B, bool Colour>
  void directRow(std::int32_t width, std::int32_t row, std::uint8_t* line, std::uint64_t* mask,
                 RowLabeller& labeller) const;
  template <bool Colour>
  void directRowOf(std::int32_t width, std::int32_t row, std::uint8_t* line, std::uint64_t* mask,
                   RowLabeller& labeller) const;

  const XSI::Image& image_;
  ClassBounds bounds_;
  SampleTables tables_;
  XSI::ImagePixels pixels_;
  bool direct_ = false;
  double unit_[256];
};

// One row of a run: reads every pixel of `row` once, writes
// the raster row `line` (3 bytes a pixel: the pixel's own colour for
// foreground, black otherwise), hands the row's foreground runs to
// `labeller` and ends the row there. Rows go in order from 0.
void classifyRow(const XSI::Image& image, const ClassBounds& bounds, std::int32_t width, std::int32_t row,
                 std::uint8_t* line, RowLabeller& labeller);

}  // namespace findspots
