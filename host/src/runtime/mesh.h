// Mesh and Transform: the host's geometry records.
//
// A mesh is polygons over shared positions. Normals and UVs are stored per
// corner (face-vertex), materials per polygon, so welding positions never
// destroys hard edges or UV seams. A Mesh is plain data: who may share and
// change one is stated in geometry.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace host {

struct Vec2 {
  float x = 0, y = 0;
};
struct Vec3 {
  float x = 0, y = 0, z = 0;
};

struct Material {
  std::string name;
  Vec3 diffuse{0.8f, 0.8f, 0.8f};
  std::string diffuseTexture;  // path as written in the .mtl, may be empty
};

// posx..posz in scene units, rotx..rotz in degrees (right-handed, applied x,
// then y, then z), sclx..sclz factors. world = pos + R * (scl * local).
struct Transform {
  double pos[3] = {0, 0, 0};
  double rot[3] = {0, 0, 0};
  double scl[3] = {1, 1, 1};

  bool IsIdentity() const;
  bool IsFinite() const;
  // True when every parameter is finite and every point of the local box
  // [lo, hi] lands on float-representable world coordinates.
  bool KeepsFinite(Vec3 lo, Vec3 hi) const;
  // The parameter "posx" ... "sclz" (lower case), or null for another name.
  double* Parameter(const std::string& lowerName);
  const double* Parameter(const std::string& lowerName) const;
  Vec3 ApplyPoint(Vec3 p) const;
  // Rotation and inverse scale, renormalised.
  Vec3 ApplyNormal(Vec3 n) const;
};

struct Mesh {
  std::vector<Vec3> positions;
  std::vector<std::uint32_t> faceStart{0};  // FaceCount()+1 offsets into corners
  std::vector<std::uint32_t> cornerVertex;  // position index of each corner
  std::vector<Vec3> cornerNormal;           // empty, or one per corner
  std::vector<Vec2> cornerUV;               // empty, or one per corner
  std::vector<std::uint32_t> faceMaterial;  // one per face, index into materials
  std::vector<Material> materials;          // at least one when there are faces

  std::size_t FaceCount() const { return faceStart.empty() ? 0 : faceStart.size() - 1; }
  std::size_t CornerCount() const { return cornerVertex.size(); }
  std::size_t VertexCount() const { return positions.size(); }
};

}  // namespace host
