// The builder encodes to bytes in memory; safe_file.h puts them on disk.
#include "gltf_writer.h"

#include <tiny_gltf.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <sstream>
#include <stdexcept>

#include "safe_file.h"

namespace host {
namespace {

constexpr double kPi = 3.14159265358979323846;

// Quaternion (x, y, z, w) of R = Rz * Ry * Rx, angles in degrees.
std::vector<double> EulerXYZToQuaternion(const double deg[3]) {
  auto half = [](double d) { return d * kPi / 360.0; };
  const double cx = std::cos(half(deg[0])), sx = std::sin(half(deg[0]));
  const double cy = std::cos(half(deg[1])), sy = std::sin(half(deg[1]));
  const double cz = std::cos(half(deg[2])), sz = std::sin(half(deg[2]));
  return {sx * cy * cz - cx * sy * sz, cx * sy * cz + sx * cy * sz, cx * cy * sz - sx * sy * cz,
          cx * cy * cz + sx * sy * sz};
}

// glTF wants unit normals. Inputs are finite (ExportProblem); a zero-length
// normal has no direction and gets +Y.
Vec3 Unit(Vec3 n) {
  const double len = std::sqrt(double(n.x) * n.x + double(n.y) * n.y + double(n.z) * n.z);
  if (!(len > 0.0)) return {0.0f, 1.0f, 0.0f};
  return {float(n.x / len), float(n.y / len), float(n.z / len)};
}

class GlbBuilder {
 public:
  GlbBuilder() {
    model_.asset.version = "2.0";
    model_.asset.generator = "scenehost";
    model_.buffers.emplace_back();
    model_.scenes.emplace_back();
    model_.scenes[0].name = "scene";  // an empty scene must still be an object
    model_.defaultScene = 0;
  }

  void AddItem(const ExportItem& item) {
    tinygltf::Node node;
    node.name = item.name;
    const Transform& xf = item.xf;
    if (xf.pos[0] != 0 || xf.pos[1] != 0 || xf.pos[2] != 0) {
      node.translation = {xf.pos[0], xf.pos[1], xf.pos[2]};
    }
    if (xf.rot[0] != 0 || xf.rot[1] != 0 || xf.rot[2] != 0) {
      node.rotation = EulerXYZToQuaternion(xf.rot);
    }
    if (xf.scl[0] != 1 || xf.scl[1] != 1 || xf.scl[2] != 1) {
      node.scale = {xf.scl[0], xf.scl[1], xf.scl[2]};
    }
    if (item.mesh && item.mesh->FaceCount() > 0) node.mesh = AddMesh(item.name, *item.mesh);
    model_.scenes[0].nodes.push_back(static_cast<int>(model_.nodes.size()));
    model_.nodes.push_back(std::move(node));
  }

  // The finished model; a glTF buffer must not be empty, so a scene without
  // geometry has none.
  tinygltf::Model& Model() {
    if (!model_.buffers.empty() && model_.buffers[0].data.empty()) model_.buffers.clear();
    return model_;
  }

 private:
  int AddMesh(const std::string& name, const Mesh& m) {
    // Faces grouped by material (counting sort keeps file order inside a
    // group), one primitive per used material.
    std::vector<std::size_t> start(m.materials.size() + 1, 0);
    for (std::uint32_t mat : m.faceMaterial) ++start[mat + 1];
    for (std::size_t i = 1; i < start.size(); ++i) start[i] += start[i - 1];
    std::vector<std::uint32_t> order(m.FaceCount());
    std::vector<std::size_t> fill(start.begin(), start.end() - 1);
    for (std::size_t f = 0; f < m.FaceCount(); ++f) {
      order[fill[m.faceMaterial[f]]++] = static_cast<std::uint32_t>(f);
    }
    tinygltf::Mesh mesh;
    mesh.name = name;
    for (std::size_t mat = 0; mat < m.materials.size(); ++mat) {
      if (start[mat] == start[mat + 1]) continue;
      mesh.primitives.push_back(AddPrimitive(
          m, order.data() + start[mat], start[mat + 1] - start[mat], MaterialIndex(m.materials[mat])));
    }
    if (mesh.primitives.empty()) return -1;
    model_.meshes.push_back(std::move(mesh));
    return static_cast<int>(model_.meshes.size() - 1);
  }

  // Every corner of the faces becomes one glTF vertex: O(corners), and
  // per-corner normals and UVs need no splitting.
  tinygltf::Primitive AddPrimitive(const Mesh& m, const std::uint32_t* faces, std::size_t count,
                                   int material) {
    std::vector<float> pos, nrm, uv;
    std::vector<std::uint32_t> idx;
    const bool normals = !m.cornerNormal.empty(), uvs = !m.cornerUV.empty();
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint32_t b = m.faceStart[faces[i]], e = m.faceStart[faces[i] + 1];
      if (e - b < 3) continue;
      const auto first = static_cast<std::uint32_t>(pos.size() / 3);
      for (std::uint32_t c = b; c < e; ++c) {
        const Vec3 p = m.positions[m.cornerVertex[c]];
        pos.insert(pos.end(), {p.x, p.y, p.z});
        if (normals) {
          const Vec3 n = Unit(m.cornerNormal[c]);
          nrm.insert(nrm.end(), {n.x, n.y, n.z});
        }
        // glTF puts the texture origin at the top left.
        if (uvs) uv.insert(uv.end(), {m.cornerUV[c].x, 1.0f - m.cornerUV[c].y});
      }
      for (std::uint32_t k = 1; k + 1 < e - b; ++k) idx.insert(idx.end(), {first, first + k, first + k + 1});
    }
    tinygltf::Primitive prim;
    prim.mode = TINYGLTF_MODE_TRIANGLES;
    prim.material = material;
    if (idx.empty()) return prim;
    prim.attributes["POSITION"] = AddAccessor(pos, TINYGLTF_TYPE_VEC3, 3, true);
    if (normals) prim.attributes["NORMAL"] = AddAccessor(nrm, TINYGLTF_TYPE_VEC3, 3, false);
    if (uvs) prim.attributes["TEXCOORD_0"] = AddAccessor(uv, TINYGLTF_TYPE_VEC2, 2, false);
    prim.indices = AddIndices(idx);
    return prim;
  }

  int AddView(const void* data, std::size_t bytes, int target) {
    auto& buf = model_.buffers[0].data;
    while (buf.size() % 4 != 0) buf.push_back(0);
    tinygltf::BufferView view;
    view.buffer = 0;
    view.byteOffset = buf.size();
    view.byteLength = bytes;
    view.target = target;
    const auto* p = static_cast<const unsigned char*>(data);
    buf.insert(buf.end(), p, p + bytes);
    model_.bufferViews.push_back(view);
    return static_cast<int>(model_.bufferViews.size() - 1);
  }

  int AddAccessor(const std::vector<float>& values, int type, int width, bool bounds) {
    tinygltf::Accessor acc;
    acc.bufferView = AddView(values.data(), values.size() * sizeof(float), TINYGLTF_TARGET_ARRAY_BUFFER);
    acc.componentType = TINYGLTF_COMPONENT_TYPE_FLOAT;
    acc.type = type;
    acc.count = values.size() / static_cast<std::size_t>(width);
    if (bounds) {
      acc.minValues.assign(static_cast<std::size_t>(width), std::numeric_limits<double>::infinity());
      acc.maxValues.assign(static_cast<std::size_t>(width), -std::numeric_limits<double>::infinity());
      for (std::size_t i = 0; i < values.size(); ++i) {
        const std::size_t k = i % static_cast<std::size_t>(width);
        acc.minValues[k] = std::min(acc.minValues[k], double(values[i]));
        acc.maxValues[k] = std::max(acc.maxValues[k], double(values[i]));
      }
    }
    model_.accessors.push_back(std::move(acc));
    return static_cast<int>(model_.accessors.size() - 1);
  }

  int AddIndices(const std::vector<std::uint32_t>& idx) {
    tinygltf::Accessor acc;
    acc.bufferView =
        AddView(idx.data(), idx.size() * sizeof(std::uint32_t), TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER);
    acc.componentType = TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT;
    acc.type = TINYGLTF_TYPE_SCALAR;
    acc.count = idx.size();
    model_.accessors.push_back(std::move(acc));
    return static_cast<int>(model_.accessors.size() - 1);
  }

  int MaterialIndex(const Material& m) {
    auto it = materialByName_.find(m.name);
    if (it != materialByName_.end()) return it->second;
    tinygltf::Material out;
    out.name = m.name;
    out.pbrMetallicRoughness.baseColorFactor = {m.diffuse.x, m.diffuse.y, m.diffuse.z, 1.0};
    out.pbrMetallicRoughness.metallicFactor = 0.0;
    out.pbrMetallicRoughness.roughnessFactor = 1.0;
    const int index = static_cast<int>(model_.materials.size());
    model_.materials.push_back(std::move(out));
    materialByName_.emplace(m.name, index);
    return index;
  }

  tinygltf::Model model_;
  std::map<std::string, int> materialByName_;
};

bool GlbBytes(const std::vector<ExportItem>& items, std::string& bytes, std::string& reason) {
  GlbBuilder builder;
  for (const ExportItem& item : items) builder.AddItem(item);
  std::ostringstream out(std::ios::binary);
  tinygltf::TinyGLTF gltf;
  if (!gltf.WriteGltfSceneToStream(&builder.Model(), out, false, true) || !out) {
    reason = "the glTF encoder failed";
    return false;
  }
  bytes = std::move(out).str();
  return true;
}

}  // namespace

bool WriteGlb(const std::string& path, const std::vector<ExportItem>& items, std::string& error) {
  auto write = [&](std::string& reason) {
    std::string bytes;
    if (!GlbBytes(items, bytes, reason)) return false;
    if (WriteFileAtomically(path, bytes, reason)) return true;
    reason = "the file " + reason;
    return false;
  };
  return RunExport("glTF", path, items, write, error);
}

}  // namespace host
