// Terrain from a picture: a grid mesh whose heights are the red component of
// the pixels, and the host command "CreateHeightField" that adds it to the
// scene.
//
// Pixel column c (0 = left) and row r (0 = top of the picture) of a W x H
// picture sit at
//   X = (c + 0.5 - W/2) * sizeX / W,  Z = (r + 0.5 - H/2) * sizeZ / H,
//   Y = red(c, r) * height / 255
// with red the integer 0..255 that findSpots reports as elevation. So the
// map's centre is the origin, its left edge -X and its top edge -Z (north).
// The grid samples columns 0, step, 2 step, ... and always the last column
// W - 1, and the same for rows.
//
// Given a window (pixels from the top-left), W x H, c and r are the
// window's, so sizeX and sizeZ are the window's extent. With units "metres"
// Y is band 1's value times `height` (scene units per metre): a DEM.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "image_data.h"
#include "mesh.h"
#include "runtime.h"

namespace host {

struct HeightFieldSize {
  double sizeX = 0, sizeZ = 0;  // scene extent of the whole picture
  double height = 0;            // Y of red 255
  long step = 1;                // pixels between samples, >= 1
};

// At most this many grid vertices: about 100 bytes each once built.
constexpr std::uint64_t kMaxHeightFieldVertices = std::uint64_t(1) << 22;

// 0, step, 2 step, ... and count - 1 (count >= 1, step >= 1).
std::vector<std::uint32_t> HeightFieldSamples(std::uint32_t count, long step);

// The 0..255 level of the red component of pixel (column, row from the top),
// the value findSpots reports as elevation. Requires a pixel inside `image`.
int RedLevel(const XSI::detail::ImageData& image, std::uint32_t column, std::uint32_t rowFromTop);
// The raw red sample there (0..255, or 0..65535 in a 16-bit picture).
double RedSample(const XSI::detail::ImageData& image, std::uint32_t column, std::uint32_t rowFromTop);

// The grid mesh of `image`: quads wound counter-clockwise seen from +Y, UVs
// onto the picture (u right, v up), smooth per-vertex normals, one material
// "terrain". False with `error` set when the image holds no usable pixels, is
// narrower or lower than 2 pixels, or the grid would pass
// kMaxHeightFieldVertices.
bool BuildHeightField(const XSI::detail::ImageData& image, const HeightFieldSize& size, Mesh& mesh,
                      std::string& error);

// The sampled heights of one grid row: fills `y` (one per column; rows and
// columns counted from the grid's top-left) or returns why it cannot.
using HeightRowSource = std::function<std::string(std::uint32_t row, const std::vector<std::uint32_t>& columns,
                                                  std::vector<double>& y)>;

// The same grid over width x height pixels whose heights `source` gives,
// read one sampled row at a time.
bool BuildHeightField(std::uint64_t width, std::uint64_t height, const HeightFieldSize& size,
                      const HeightRowSource& source, Mesh& mesh, std::string& error);

// CreateHeightField(imagePath, objectName, sizeX, sizeZ, height, step
// [, x, y, width, height] [, units]): adds the grid of the picture (or of
// the window) as a new mesh object, selects it and returns its reference.
// Refuses (changing nothing) an unreadable picture, a taken or unusable
// name, sizes that are not finite and > 0, a height that is not finite and
// >= 0, a step that is not a whole number >= 1, a window not inside the
// picture, units other than "levels" and "metres", and in metres a pixel
// that holds no data.
CStatus CreateHeightField(Runtime& rt, const CValueArray& args, CValue& out);

}  // namespace host
