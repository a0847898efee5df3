// Helpers shared by the file format tests: a small mesh to export, and an
// OBJ read that is expected to fail.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "formats.h"
#include "mesh.h"
#include "safe_file.h"

namespace host::testmesh {

// One triangle with its legs of length `side` along +X and +Y, in a single
// material "brick"; no normals or texture coordinates.
inline Mesh PlainTriangle(float side) {
  Mesh m;
  m.positions = {{0, 0, 0}, {side, 0, 0}, {0, side, 0}};
  m.cornerVertex = {0, 1, 2};
  m.faceStart = {0, 3};
  m.faceMaterial = {0};
  m.materials.resize(1);
  m.materials[0].name = "brick";
  return m;
}

// Reading `path` fails, names the file (printably) and leaves the target mesh alone;
// returns the error.
inline std::string ReadFails(const std::string& path) {
  Mesh m;
  m.positions = {{7, 7, 7}};
  std::string error;
  EXPECT_FALSE(ReadObj(path, m, error));
  EXPECT_EQ(m.positions.size(), 1u);
  EXPECT_EQ(m.FaceCount(), 0u);
  EXPECT_EQ(error.rfind("cannot read OBJ file '" + PrintablePath(path) + "': ", 0), 0u) << error;
  return error;
}

}  // namespace host::testmesh
