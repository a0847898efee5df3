// The file is written in two steps. A plan of every primitive (its faces,
// counts and position bounds) gives the JSON chunk; the binary chunk is then
// produced from the meshes' own arrays through a fixed-size staging buffer,
// so no copy of the vertex data is ever held in memory: a big scene costs no
// more than its own size plus the staging buffer.
#include "gltf_writer.h"

#include <tiny_gltf.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <sstream>

#include "safe_file.h"

namespace host {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr std::size_t kStagingBytes = std::size_t{1} << 20;
constexpr std::uint64_t kMaxGlbBytes = std::numeric_limits<std::uint32_t>::max();

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

std::uint64_t PaddedTo4(std::uint64_t n) { return (n + 3) & ~std::uint64_t{3}; }

// The faces of one material of one mesh, in file order. Polygons with fewer
// than three corners have no triangles and are left out; every corner of the
// rest becomes one glTF vertex, so per-corner normals and UVs need no
// splitting.
struct PrimitivePlan {
  const Mesh* mesh = nullptr;
  const std::uint32_t* faces = nullptr;  // into MeshPlan::order, whose buffer moves with it
  std::size_t faceCount = 0;
  std::uint64_t corners = 0, indices = 0;
};

struct MeshPlan {
  std::vector<std::uint32_t> order;  // faces grouped by material
  std::vector<PrimitivePlan> primitives;
};

// Builds the glTF document (everything but the bytes) and the plan that
// later produces the bytes in the same order as the document lays them out.
class GlbLayout {
 public:
  GlbLayout() {
    model_.asset.version = "2.0";
    model_.asset.generator = "scenehost";
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

  // The JSON chunk's text. tinygltf writes the document; the buffer's length
  // is added here because tinygltf only knows it from bytes held in memory.
  std::string Json() const {
    std::ostringstream out(std::ios::binary);
    tinygltf::TinyGLTF gltf;
    if (!gltf.WriteGltfSceneToStream(&model_, out, false, false) || !out) return {};
    nlohmann::json doc = nlohmann::json::parse(out.str());
    // A glTF buffer must not be empty, so a scene without geometry has none.
    if (binBytes_ > 0) {
      nlohmann::json buffer;
      buffer["byteLength"] = binBytes_;
      doc["buffers"] = nlohmann::json::array();
      doc["buffers"].push_back(std::move(buffer));
    }
    return doc.dump();
  }

  std::uint64_t BinBytes() const { return binBytes_; }
  const std::vector<MeshPlan>& Meshes() const { return meshes_; }

 private:
  int AddMesh(const std::string& name, const Mesh& m) {
    // Counting sort by material keeps file order inside a group.
    MeshPlan plan;
    std::vector<std::size_t> start(m.materials.size() + 1, 0);
    for (std::uint32_t mat : m.faceMaterial) ++start[mat + 1];
    for (std::size_t i = 1; i < start.size(); ++i) start[i] += start[i - 1];
    plan.order.resize(m.FaceCount());
    std::vector<std::size_t> fill(start.begin(), start.end() - 1);
    for (std::size_t f = 0; f < m.FaceCount(); ++f) {
      plan.order[fill[m.faceMaterial[f]]++] = static_cast<std::uint32_t>(f);
    }
    tinygltf::Mesh mesh;
    mesh.name = name;
    for (std::size_t mat = 0; mat < m.materials.size(); ++mat) {
      PrimitivePlan prim{&m, plan.order.data() + start[mat], start[mat + 1] - start[mat], 0, 0};
      Bounds bounds = Count(prim);
      // A primitive needs triangles; a material with none is not written.
      if (prim.indices == 0) continue;
      const int material = MaterialIndex(m.materials[mat]);
      mesh.primitives.push_back(AddPrimitive(prim, bounds, material));
      plan.primitives.push_back(prim);
    }
    if (mesh.primitives.empty()) return -1;
    meshes_.push_back(std::move(plan));
    model_.meshes.push_back(std::move(mesh));
    return static_cast<int>(model_.meshes.size() - 1);
  }

  struct Bounds {
    double lo[3], hi[3];
  };

  // Counts the primitive's corners and triangles and bounds its positions:
  // the document needs both before the first byte of data is written.
  static Bounds Count(PrimitivePlan& plan) {
    const Mesh& m = *plan.mesh;
    Bounds box;
    std::fill(box.lo, box.lo + 3, std::numeric_limits<double>::infinity());
    std::fill(box.hi, box.hi + 3, -std::numeric_limits<double>::infinity());
    for (std::size_t i = 0; i < plan.faceCount; ++i) {
      const std::uint32_t b = m.faceStart[plan.faces[i]], e = m.faceStart[plan.faces[i] + 1];
      if (e - b < 3) continue;
      plan.corners += e - b;
      plan.indices += 3 * std::uint64_t(e - b - 2);
      for (std::uint32_t c = b; c < e; ++c) {
        const Vec3 p = m.positions[m.cornerVertex[c]];
        const double v[3] = {p.x, p.y, p.z};
        for (int k = 0; k < 3; ++k) {
          box.lo[k] = std::min(box.lo[k], v[k]);
          box.hi[k] = std::max(box.hi[k], v[k]);
        }
      }
    }
    return box;
  }

  tinygltf::Primitive AddPrimitive(const PrimitivePlan& plan, const Bounds& box, int material) {
    const Mesh& m = *plan.mesh;
    tinygltf::Primitive prim;
    prim.mode = TINYGLTF_MODE_TRIANGLES;
    prim.material = material;
    const int position = AddAccessor(plan.corners, TINYGLTF_TYPE_VEC3, 12, TINYGLTF_COMPONENT_TYPE_FLOAT,
                                     TINYGLTF_TARGET_ARRAY_BUFFER);
    model_.accessors[position].minValues.assign(box.lo, box.lo + 3);
    model_.accessors[position].maxValues.assign(box.hi, box.hi + 3);
    prim.attributes["POSITION"] = position;
    if (!m.cornerNormal.empty()) {
      prim.attributes["NORMAL"] = AddAccessor(plan.corners, TINYGLTF_TYPE_VEC3, 12,
                                              TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TARGET_ARRAY_BUFFER);
    }
    if (!m.cornerUV.empty()) {
      prim.attributes["TEXCOORD_0"] = AddAccessor(plan.corners, TINYGLTF_TYPE_VEC2, 8,
                                                  TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TARGET_ARRAY_BUFFER);
    }
    prim.indices = AddAccessor(plan.indices, TINYGLTF_TYPE_SCALAR, 4, TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT,
                               TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER);
    return prim;
  }

  // One accessor over its own view, placed at the next 4-byte boundary.
  int AddAccessor(std::uint64_t count, int type, std::uint64_t elementBytes, int componentType,
                  int target) {
    tinygltf::BufferView view;
    view.buffer = 0;
    view.byteOffset = PaddedTo4(binBytes_);
    view.byteLength = count * elementBytes;
    view.target = target;
    binBytes_ = view.byteOffset + view.byteLength;
    model_.bufferViews.push_back(view);
    tinygltf::Accessor acc;
    acc.bufferView = static_cast<int>(model_.bufferViews.size() - 1);
    acc.componentType = componentType;
    acc.type = type;
    acc.count = count;
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
  std::vector<MeshPlan> meshes_;
  std::uint64_t binBytes_ = 0;
};

// Collects small pieces into large writes.
class StagedWriter {
 public:
  StagedWriter(AtomicFileWriter& file, const ExportProgress& progress, std::uint64_t total)
      : file_(file), buffer_(kStagingBytes), progress_(progress), total_(total) {}

  // Pieces are small (a vertex, a header field) except the JSON text.
  bool Put(const void* data, std::size_t bytes) {
    if (used_ + bytes > buffer_.size()) return PutAfterFlush(data, bytes);
    std::memcpy(buffer_.data() + used_, data, bytes);
    used_ += bytes;
    return true;
  }

  bool PutU32(std::uint32_t v) {
    const unsigned char le[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                                 static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
    return Put(le, 4);
  }

  bool PadTo4(std::uint64_t written, char fill) {
    const char pad[3] = {fill, fill, fill};
    return Put(pad, static_cast<std::size_t>(PaddedTo4(written) - written));
  }

  bool Flush() {
    if (used_ > 0 && !file_.Write(std::string_view(buffer_.data(), used_), reason_)) return false;
    const std::size_t wrote = used_;
    used_ = 0;
    return Written(wrote);
  }

  const std::string& Reason() const { return reason_; }

 private:
  bool PutAfterFlush(const void* data, std::size_t bytes) {
    if (!Flush()) return false;
    if (bytes >= buffer_.size())
      return file_.Write(std::string_view(static_cast<const char*>(data), bytes), reason_) && Written(bytes);
    std::memcpy(buffer_.data(), data, bytes);
    used_ = bytes;
    return true;
  }

  bool Written(std::size_t bytes) {
    written_ += bytes;
    if (!progress_ || bytes == 0 || progress_(written_, total_)) return true;
    reason_ = "cancelled";
    return false;
  }

  AtomicFileWriter& file_;
  std::vector<char> buffer_;
  std::size_t used_ = 0;
  std::string reason_;
  const ExportProgress& progress_;
  std::uint64_t total_ = 0, written_ = 0;
};

// One attribute of a primitive: `emit(corner)` for every corner of its
// triangulated faces, in face order.
template <typename Emit>
bool ForEachCorner(const PrimitivePlan& plan, Emit emit) {
  const Mesh& m = *plan.mesh;
  for (std::size_t i = 0; i < plan.faceCount; ++i) {
    const std::uint32_t b = m.faceStart[plan.faces[i]], e = m.faceStart[plan.faces[i] + 1];
    if (e - b < 3) continue;
    for (std::uint32_t c = b; c < e; ++c) {
      if (!emit(c)) return false;
    }
  }
  return true;
}

// The bytes of one primitive, in the order AddPrimitive laid out its views:
// positions, normals, texture coordinates, then triangle fans as indices.
bool WritePrimitive(const PrimitivePlan& plan, StagedWriter& out, std::uint64_t& written) {
  const Mesh& m = *plan.mesh;
  auto view = [&](std::uint64_t bytes, auto emit) {
    if (!out.PadTo4(written, '\0')) return false;
    written = PaddedTo4(written) + bytes;
    return ForEachCorner(plan, emit);
  };
  const bool ok =
      view(plan.corners * 12, [&](std::uint32_t c) {
        const Vec3 p = m.positions[m.cornerVertex[c]];
        return out.Put(&p, sizeof p);
      }) &&
      (m.cornerNormal.empty() || view(plan.corners * 12, [&](std::uint32_t c) {
         const Vec3 n = Unit(m.cornerNormal[c]);
         return out.Put(&n, sizeof n);
       })) &&
      // glTF puts the texture origin at the top left.
      (m.cornerUV.empty() || view(plan.corners * 8, [&](std::uint32_t c) {
         const Vec2 uv{m.cornerUV[c].x, 1.0f - m.cornerUV[c].y};
         return out.Put(&uv, sizeof uv);
       }));
  if (!ok || !out.PadTo4(written, '\0')) return false;
  written = PaddedTo4(written) + plan.indices * 4;
  std::uint32_t first = 0;
  for (std::size_t i = 0; i < plan.faceCount; ++i) {
    const std::uint32_t n = m.faceStart[plan.faces[i] + 1] - m.faceStart[plan.faces[i]];
    if (n < 3) continue;
    for (std::uint32_t k = 1; k + 1 < n; ++k) {
      const std::uint32_t tri[3] = {first, first + k, first + k + 1};
      if (!out.Put(tri, sizeof tri)) return false;
    }
    first += n;
  }
  return true;
}

// glTF is little-endian, and its vertex data packed floats: the meshes'
// arrays are copied as they are.
static_assert(sizeof(Vec3) == 12 && sizeof(Vec2) == 8, "vertex data is written as packed floats");
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "vertex data is written in host byte order");

// Header, JSON chunk (padded with spaces), binary chunk (padded with zeros).
bool WriteGlbFile(const std::string& path, const std::vector<ExportItem>& items, std::string& reason,
                  const ExportProgress& progress) {
  GlbLayout layout;
  for (const ExportItem& item : items) layout.AddItem(item);
  const std::string json = layout.Json();
  if (json.empty()) {
    reason = "the glTF encoder failed";
    return false;
  }
  const std::uint64_t bin = layout.BinBytes();
  const std::uint64_t total = 12 + 8 + PaddedTo4(json.size()) + (bin > 0 ? 8 + PaddedTo4(bin) : 0);
  if (total > kMaxGlbBytes) {
    reason = "the scene needs " + std::to_string(total) +
             " bytes, more than the 4 GiB a binary glTF file can hold";
    return false;
  }
  AtomicFileWriter file;
  if (!file.Begin(path, reason)) {
    reason = "the file " + reason;
    return false;
  }
  StagedWriter out(file, progress, total);
  bool ok = out.Put("glTF", 4) && out.PutU32(2) && out.PutU32(static_cast<std::uint32_t>(total)) &&
            out.PutU32(static_cast<std::uint32_t>(PaddedTo4(json.size()))) && out.Put("JSON", 4) &&
            out.Put(json.data(), json.size()) && out.PadTo4(json.size(), ' ');
  if (ok && bin > 0) {
    ok = out.PutU32(static_cast<std::uint32_t>(PaddedTo4(bin))) && out.Put("BIN\0", 4);
    std::uint64_t written = 0;
    for (const MeshPlan& mesh : layout.Meshes()) {
      for (const PrimitivePlan& prim : mesh.primitives) ok = ok && WritePrimitive(prim, out, written);
    }
    ok = ok && out.PadTo4(bin, '\0');
  }
  if (!ok || !out.Flush()) {
    reason = "the file " + out.Reason();
    return false;
  }
  if (file.Commit(reason)) return true;
  reason = "the file " + reason;
  return false;
}

}  // namespace

bool WriteGlb(const std::string& path, const std::vector<ExportItem>& items, std::string& error) {
  return WriteGlb(path, items, error, nullptr);
}

bool WriteGlb(const std::string& path, const std::vector<ExportItem>& items, std::string& error,
              const ExportProgress& progress) {
  return RunExport("glTF", path, items,
                   [&](std::string& reason) { return WriteGlbFile(path, items, reason, progress); }, error);
}

}  // namespace host
