// The preview camera: a named view direction and an orthographic box that
// frames the scene's bounding box with a small margin, at the picture's
// aspect ratio.
//
// Views (the camera looks at the box centre from this side, +Y up):
//   iso    from +X, +Y, +Z: isometric, direction (1, 1, 1)
//   front  from +Z        back  from -Z
//   right  from +X        left  from -X
//   top    from +Y, with -Z at the top of the picture (+Z at the bottom)
// Matrices are column-major, for OpenGL. Coordinates are relative to an
// origin the caller chooses (the box centre), so large world coordinates
// keep their precision in float.
#pragma once

#include <array>
#include <string>

#include "mesh.h"

namespace host::render {

enum class View { Iso, Front, Back, Left, Right, Top };

// Case-insensitive "iso", "front", ...; false for any other name.
bool ParseView(const std::string& name, View& view);
const char* ViewName(View view);
// "iso, front, back, left, right, top", for messages.
const char* ViewNames();

// An axis-aligned box; empty until the first point is added.
struct Box {
  Vec3 lo{0, 0, 0}, hi{0, 0, 0};
  bool empty = true;
  void Add(Vec3 p);
  void Add(const Box& other);
  Vec3 Centre() const;
};

// The box's largest extent along an axis; 0 for an empty or point box.
float SceneSize(const Box& b);

using Matrix = std::array<float, 16>;

struct Camera {
  Vec3 toCamera;            // unit vector from the scene towards the camera
  Matrix view;              // world (relative to the box centre) to camera space
  float left = -1, right = 1, bottom = -1, top = 1;  // picture extent in camera space
  float nearZ = -1, farZ = 1;                        // depth range, camera space distances

  // Projection times view for the part of the picture with pixel columns
  // [x0, x1) and rows [y0, y1) counted from the bottom of a width x height
  // picture; the whole picture is (0, 0, width, height).
  Matrix TileMatrix(int x0, int y0, int x1, int y1, int width, int height) const;
};

// Frames `framed` (with a margin of 5% of its larger picture side) for a
// width x height picture; `depth` must hold everything drawn (the framed box
// and the ground). Both boxes are relative to the origin of the draw list.
// The picture extent and the clipping planes are in proportion to the
// boxes alone, so a scene of 1e-6 or 1e6 units is framed as one of 1.
Camera FrameBox(const Box& framed, const Box& depth, View view, int width, int height);

}  // namespace host::render
