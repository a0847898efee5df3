// What the preview draws: the scene's polygons as triangles with a world
// position, a normal and the diffuse colour of their material, plus an
// optional ground square. Built on the CPU, handed to OpenGL as it is.
//
// Positions are relative to `origin` (the centre of the scene's box) so
// that float keeps its precision for scenes far from the world origin.
// Normals are the mesh's stored per-corner normals when it has them, else
// each polygon's own (flat) normal. Polygons are fanned from their first
// corner; polygons of fewer than three corners draw nothing.
//
// The triangles come in two lists: `indices` for polygons whose corners
// all have the same normal (most of a building: lit once a vertex, the
// same light over the whole polygon) and `smoothIndices` for the others
// (lit at every pixel). Each keeps the order of the polygons.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "camera.h"
#include "export_item.h"

namespace host::render {

struct DrawVertex {
  float position[3];
  float normal[3];
  float colour[3];
};

struct DrawList {
  Vec3 origin;                        // world position of relative (0, 0, 0)
  Box sceneBox;                       // every mesh corner, relative to origin
  Box drawnBox;                       // sceneBox and the ground
  std::vector<DrawVertex> vertices;
  std::vector<std::uint32_t> indices;        // triangles of one normal each
  std::vector<std::uint32_t> smoothIndices;  // triangles of varying normals
};

// Fills `list` from the items (checked first with ExportProblem). False
// with `error` when an item cannot be drawn or nothing has a polygon ("the
// scene has no polygons to show").
bool BuildDrawList(const std::vector<ExportItem>& items, DrawList& list, std::string& error);

// Adds a ground square (to `indices`) just below the scene box, reaching past its
// footprint by 60% of the footprint's larger side on every side.
void AddGround(DrawList& list, const float (&colour)[3]);

}  // namespace host::render
