// The host commands over rasters: GetRasterInfo and SampleRaster, and the
// pixel-window arguments CreateImageClip and CreateHeightField share.
#pragma once

#include <string>

#include <xsi_value.h>

#include "image_data.h"
#include "runtime.h"

namespace host {

// Reads the four arguments from `first` on as a window: x and y whole
// numbers >= 0, width and height whole numbers >= 1. `given` is false (and
// true returned) when all four are missing or empty. False with `problem`
// ("width must be a whole number of pixels >= 1, got '0'") otherwise.
bool ReadWindowArgs(const XSI::CValueArray& args, long first, PixelWindow& window, bool& given,
                    XSI::CString& problem);

// Registers GetRasterInfo and SampleRaster; called by RegisterHostCommands.
void RegisterRasterCommands(Runtime& rt);

}  // namespace host
