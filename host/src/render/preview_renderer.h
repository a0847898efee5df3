// Offscreen preview renders of scene meshes (OpenGL ES 3 through EGL, see
// egl_context.h).
//
// The picture: every polygon in its material's diffuse colour, lit by
// ambient light and one sun,
//   colour = diffuse * (kAmbient + kSun * max(0, n . L)),  clamped to 1,
// with L the unit vector towards the sun (kSunDirection) and n the stored
// normal (or the polygon's own), turned to face the camera. 4x multisampled,
// on a neutral ground square (not in the top view, where it would only hide
// the background) and a neutral background. The camera is orthographic and
// frames the scene's box (camera.h).
//
// An empty scene, or one with no polygon, is an error: no picture is made.
// The same scene and settings give the same pixels on the same machine.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "export_item.h"
#include "png_encode.h"
#include "preview_settings.h"

namespace host::render {

constexpr float kAmbient = 0.4f;
constexpr float kSun = 0.6f;
// Towards the sun, before normalising: high, from +X and a little +Z.
constexpr float kSunDirection[3] = {0.5f, 1.0f, 0.3f};
// The ground square's diffuse colour (lit like the scene) and the
// background's colour (as it is, unlit).
constexpr float kGroundColour[3] = {0.78f, 0.78f, 0.76f};
constexpr float kBackgroundColour[3] = {0.90f, 0.91f, 0.93f};

// Renders into `image` (width x height RGB, top row first). False with
// `error` saying why (no polygons, no EGL display, out of memory, ...).
// Builds and uploads the draw list anew.
bool RenderPreview(const std::vector<ExportItem>& items, const PreviewSettings& settings,
                   RgbImage& image, std::string& error);

// The same for a scene's mesh snapshots (Geometry::Snapshot), one per item
// and in the items' order, item i's mesh being snapshots[i]. The draw list
// is built and uploaded once per scene change and kept for the process: a
// later call with the same snapshots and the same transforms draws the
// buffers already uploaded. Any edit of a mesh gives its object a new
// snapshot (geometry.h); a new, deleted or reordered object, or a moved one,
// changes the list; so every scene change builds the list again. The kept
// snapshots hold their meshes until the next change is rendered (an edit of
// one meanwhile copies it first, as for any snapshot). Only the view and
// picture size changing keeps the list.
bool RenderPreview(const std::vector<ExportItem>& items, const std::vector<std::shared_ptr<const Mesh>>& snapshots,
                   const PreviewSettings& settings, RgbImage& image, std::string& error);

// How many draw lists the renders of this process have built (for tests).
std::uint64_t PreviewDrawListBuilds();

}  // namespace host::render
