// What a preview render is asked for: picture size and view, and the checks
// the command, the scenehost options and the Python module share. Messages
// name the value given and say what is wrong.
#pragma once

#include <string>

#include "camera.h"

namespace host::render {

// Largest picture side. Larger pictures are not previews, and the pixels
// alone would pass 200 MB.
constexpr int kMaxPreviewSide = 8192;

struct PreviewSettings {
  int width = 800;
  int height = 600;
  View view = View::Iso;
};

// Empty when `value` can be a picture side, else e.g. "width 0 is not a
// picture size (1 to 8192 pixels)". `what` is "width" or "height".
std::string SideProblem(const char* what, long long value);
// The message for a side out of range, with the value as the user wrote it.
std::string SideRangeProblem(const char* what, const std::string& shown);

// "800x600" (also "800X600"). False with `error` naming the text.
bool ParsePreviewSize(const std::string& text, int& width, int& height, std::string& error);

// False with `error` ("unknown view 'diagonal' (the views are iso, front,
// back, left, right, top)").
bool ParsePreviewView(const std::string& text, View& view, std::string& error);

}  // namespace host::render
