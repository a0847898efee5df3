// OBJ import through tinyobjloader (the float build, as linked). Polygons are
// kept as written; every index is checked here because the parser leaves
// out-of-range and relative-before-start indices unchecked.
#include <tiny_obj_loader.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>

#include "formats.h"

namespace host {
namespace {

std::string Trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) {
    s.pop_back();
  }
  return s;
}

// Why a path cannot be read as a file, or empty when it can be tried.
std::string MissingReason(const std::string& path) {
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (!std::filesystem::exists(status)) return "no such file";
  if (std::filesystem::is_directory(status)) return "is a folder, not a file";
  return {};
}

struct Converter {
  const tinyobj::attrib_t& attrib;
  const std::vector<tinyobj::shape_t>& shapes;
  const std::vector<tinyobj::material_t>& fileMaterials;
  Mesh mesh;
  std::map<int, std::uint32_t> materialOf;  // file material id (-1: none) -> mesh
  std::string error;

  bool Run() {
    const std::size_t vertexCount = attrib.vertices.size() / 3;
    mesh.positions.reserve(vertexCount);
    for (std::size_t i = 0; i < vertexCount; ++i) {
      mesh.positions.push_back(
          {attrib.vertices[3 * i], attrib.vertices[3 * i + 1], attrib.vertices[3 * i + 2]});
    }
    bool anyNormal = false, anyUV = false;
    for (const auto& shape : shapes) {
      for (const auto& idx : shape.mesh.indices) {
        anyNormal = anyNormal || idx.normal_index >= 0;
        anyUV = anyUV || idx.texcoord_index >= 0;
      }
    }
    std::vector<bool> cornerHasNormal;
    for (const auto& shape : shapes) {
      if (!AddShape(shape, anyNormal, anyUV, cornerHasNormal)) return false;
    }
    if (mesh.FaceCount() == 0) {
      error = "has no polygons";
      return false;
    }
    if (anyNormal) FillMissingNormals(cornerHasNormal);
    return true;
  }

  bool AddShape(const tinyobj::shape_t& shape, bool anyNormal, bool anyUV,
                std::vector<bool>& cornerHasNormal) {
    const auto& m = shape.mesh;
    std::size_t total = 0;
    for (unsigned char n : m.num_face_vertices) total += n;
    // The parser stores corner counts in a byte; a mismatch means a polygon
    // with more than 255 corners was cut short.
    if (total != m.indices.size()) {
      error = "a polygon has more than 255 corners";
      return false;
    }
    std::size_t corner = 0;
    for (std::size_t f = 0; f < m.num_face_vertices.size(); ++f) {
      const std::size_t polygon = mesh.FaceCount() + 1;
      for (unsigned char k = 0; k < m.num_face_vertices[f]; ++k, ++corner) {
        if (!AddCorner(m.indices[corner], polygon, anyNormal, anyUV, cornerHasNormal)) return false;
      }
      mesh.faceStart.push_back(static_cast<std::uint32_t>(mesh.CornerCount()));
      mesh.faceMaterial.push_back(MaterialIndex(f < m.material_ids.size() ? m.material_ids[f] : -1));
    }
    return true;
  }

  bool AddCorner(const tinyobj::index_t& idx, std::size_t polygon, bool anyNormal, bool anyUV,
                 std::vector<bool>& cornerHasNormal) {
    const std::size_t nv = mesh.positions.size();
    const std::size_t nn = attrib.normals.size() / 3;
    const std::size_t nt = attrib.texcoords.size() / 2;
    if (!InRange(idx.vertex_index, nv, "vertex", polygon)) return false;
    if (idx.normal_index >= 0 && !InRange(idx.normal_index, nn, "normal", polygon)) return false;
    if (idx.texcoord_index >= 0 && !InRange(idx.texcoord_index, nt, "texture coordinate", polygon)) {
      return false;
    }
    mesh.cornerVertex.push_back(static_cast<std::uint32_t>(idx.vertex_index));
    if (anyNormal) {
      const bool has = idx.normal_index >= 0;
      const std::size_t i = has ? static_cast<std::size_t>(idx.normal_index) : 0;
      mesh.cornerNormal.push_back(has ? Vec3{attrib.normals[3 * i], attrib.normals[3 * i + 1],
                                             attrib.normals[3 * i + 2]}
                                      : Vec3{});
      cornerHasNormal.push_back(has);
    }
    if (anyUV) {
      const bool has = idx.texcoord_index >= 0;
      const std::size_t i = has ? static_cast<std::size_t>(idx.texcoord_index) : 0;
      mesh.cornerUV.push_back(has ? Vec2{attrib.texcoords[2 * i], attrib.texcoords[2 * i + 1]}
                                  : Vec2{});
    }
    return true;
  }

  bool InRange(int index, std::size_t count, const char* what, std::size_t polygon) {
    if (index >= 0 && static_cast<std::size_t>(index) < count) return true;
    // The parser has made indices 0-based; relative ones that point before
    // the first element come out negative.
    error = "polygon " + std::to_string(polygon) + " refers to " + what + " " +
            (index >= 0 ? std::to_string(index + 1) : std::string("before the first one")) +
            " but the file has " + std::to_string(count);
    return false;
  }

  std::uint32_t MaterialIndex(int fileId) {
    if (fileId >= static_cast<int>(fileMaterials.size())) fileId = -1;
    auto it = materialOf.find(fileId);
    if (it != materialOf.end()) return it->second;
    Material mat;
    if (fileId < 0) {
      mat.name = "default";
    } else {
      const auto& src = fileMaterials[static_cast<std::size_t>(fileId)];
      mat.name = src.name;
      mat.diffuse = {src.diffuse[0], src.diffuse[1], src.diffuse[2]};
      mat.diffuseTexture = src.diffuse_texname;
    }
    const auto index = static_cast<std::uint32_t>(mesh.materials.size());
    mesh.materials.push_back(std::move(mat));
    materialOf.emplace(fileId, index);
    return index;
  }

  // Corners written without a normal in a file that has some get the flat
  // normal of their polygon.
  void FillMissingNormals(const std::vector<bool>& cornerHasNormal) {
    for (std::size_t f = 0; f < mesh.FaceCount(); ++f) {
      const std::uint32_t b = mesh.faceStart[f], e = mesh.faceStart[f + 1];
      bool missing = false;
      for (std::uint32_t c = b; c < e; ++c) missing = missing || !cornerHasNormal[c];
      if (!missing) continue;
      double nx = 0, ny = 0, nz = 0;
      for (std::uint32_t c = b; c < e; ++c) {
        const Vec3 p = mesh.positions[mesh.cornerVertex[c]];
        const Vec3 q = mesh.positions[mesh.cornerVertex[c + 1 < e ? c + 1 : b]];
        nx += (double(p.y) - q.y) * (double(p.z) + q.z);
        ny += (double(p.z) - q.z) * (double(p.x) + q.x);
        nz += (double(p.x) - q.x) * (double(p.y) + q.y);
      }
      const double len = std::sqrt(nx * nx + ny * ny + nz * nz);
      const Vec3 flat = len > 0 ? Vec3{float(nx / len), float(ny / len), float(nz / len)}
                                : Vec3{0.0f, 1.0f, 0.0f};
      for (std::uint32_t c = b; c < e; ++c) {
        if (!cornerHasNormal[c]) mesh.cornerNormal[c] = flat;
      }
    }
  }
};

}  // namespace

bool ReadObj(const std::string& path, Mesh& out, std::string& error) {
  const std::string prefix = "cannot read OBJ file '" + path + "': ";
  try {
    if (std::string reason = MissingReason(path); !reason.empty()) {
      error = prefix + reason;
      return false;
    }
    tinyobj::ObjReaderConfig config;
    config.triangulate = false;
    config.vertex_color = false;
    tinyobj::ObjReader reader;
    if (!reader.ParseFromFile(path, config)) {
      std::string reason = Trimmed(reader.Error());
      error = prefix + (reason.empty() ? std::string("the parser gave up") : reason);
      return false;
    }
    Converter conv{reader.GetAttrib(), reader.GetShapes(), reader.GetMaterials(), {}, {}, {}};
    if (!conv.Run()) {
      error = prefix + conv.error;
      return false;
    }
    out = std::move(conv.mesh);
    return true;
  } catch (const std::exception& e) {
    error = prefix + e.what();
    return false;
  }
}

}  // namespace host
