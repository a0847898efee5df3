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
#include <functional>

#include <xsi_plugin.h>

#include "bitmap_rows.h"
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
  // Reads every pixel of `row` once and marks its foreground in `mask` (a
  // ForegroundMask row, all clear). 8-bit RGB pictures under colour ranges
  // are tested sixteen pixels at a time where the processor can
  // (SampleTables' intervals). Rows read in place may be marked from several
  // threads at once, each its own rows.
  void markRow(std::int32_t width, std::int32_t row, std::uint64_t* mask) const;
  // markRow, then hands the row's foreground runs to `labeller` and ends the
  // row there. Rows go in order from 0.
  void labelRow(std::int32_t width, std::int32_t row, std::uint64_t* mask, RowLabeller& labeller) const;
  // labelRow for every row of an all-clear `mask`, in order; a large
  // picture's upper half is marked on a second thread meanwhile
  // (second_thread.h). Same mask and same labels either way. After each
  // row, `settled` (if any) gets the labeller's settledRows().
  void labelRows(std::int32_t width, std::int32_t height, ForegroundMask& mask, RowLabeller& labeller,
                 const std::function<void(std::int32_t)>& settled = {}) const;
  // The row as blobs.bmp shows it before outlines, from the mask labelRow
  // marked: 3 bytes a pixel, the pixel's own colour (channelByte of each
  // component, blue green red) for foreground, black otherwise.
  void colourRow(std::int32_t width, std::int32_t row, const std::uint64_t* mask, std::uint8_t* line) const;

 private:
  bool inPlace(std::int32_t width, std::int32_t row) const;
  // Marks the foreground among pixels from..width-1 of an in-place row.
  template <int Step, int G, int B, bool Colour>
  void markDirect(std::int32_t width, std::int32_t row, std::int32_t from, std::uint64_t* mask) const;
  template <bool Colour>
  void markDirectOf(std::int32_t width, std::int32_t row, std::int32_t from, std::uint64_t* mask) const;

  const XSI::Image& image_;
  ClassBounds bounds_;
  SampleTables tables_;
  XSI::ImagePixels pixels_;
  bool direct_ = false;
  double unit_[256];
};

}  // namespace findspots
