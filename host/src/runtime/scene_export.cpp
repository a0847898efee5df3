// Scene export: Wavefront OBJ (+ .mtl) and binary glTF.
//
// Both writers check every mesh first, write complete temporary files next
// to the target and only then rename them into place, so a failed save
// leaves whatever was there before.
#include <tiny_gltf.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <string>
#include <system_error>

#include "formats.h"

namespace host {
namespace {

namespace fs = std::filesystem;

constexpr double kPi = 3.14159265358979323846;

std::string Lowered(std::string s) {
  if (!s.empty()) s[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(s[0])));
  return s;
}

std::string ErrnoText(int err) { return Lowered(std::generic_category().message(err)); }

std::string TempPathFor(const std::string& target) { return target + ".saving"; }

// Empty when the mesh can be written, else what is wrong with it.
std::string MeshProblem(const Mesh& m) {
  if (m.faceStart.empty() || m.faceStart.front() != 0 || m.faceStart.back() != m.CornerCount()) {
    return "polygon offsets do not match its corners";
  }
  for (std::size_t f = 0; f + 1 < m.faceStart.size(); ++f) {
    if (m.faceStart[f] > m.faceStart[f + 1]) return "polygon offsets go backwards";
  }
  for (std::uint32_t v : m.cornerVertex) {
    if (v >= m.VertexCount()) return "a corner refers to a missing vertex";
  }
  if (!m.cornerNormal.empty() && m.cornerNormal.size() != m.CornerCount()) {
    return "normals do not match its corners";
  }
  if (!m.cornerUV.empty() && m.cornerUV.size() != m.CornerCount()) {
    return "texture coordinates do not match its corners";
  }
  if (m.faceMaterial.size() != m.FaceCount()) return "materials do not match its polygons";
  for (std::uint32_t mat : m.faceMaterial) {
    if (mat >= m.materials.size()) return "a polygon refers to a missing material";
  }
  return {};
}

std::string ItemsProblem(const std::vector<ExportItem>& items) {
  for (const ExportItem& item : items) {
    if (!item.mesh) continue;
    if (std::string p = MeshProblem(*item.mesh); !p.empty()) {
      return "object '" + item.name + "' has a broken mesh: " + p;
    }
  }
  return {};
}

// Puts a finished temporary file in place of the target.
bool Commit(const std::string& tmp, const std::string& target, std::string& reason) {
  std::error_code ec;
  fs::rename(tmp, target, ec);
  if (!ec) return true;
  reason = Lowered(ec.message());
  fs::remove(tmp, ec);
  return false;
}

// ---- OBJ -------------------------------------------------------------------

// OBJ names are single tokens.
std::string Token(const std::string& name, const char* fallback) {
  if (name.empty()) return fallback;
  std::string out = name;
  for (char& c : out) {
    if (std::isspace(static_cast<unsigned char>(c)) || std::iscntrl(static_cast<unsigned char>(c))) {
      c = '_';
    }
  }
  return out;
}

// Buffered text output with shortest round-trip number formatting,
// independent of the C locale.
class TextFile {
 public:
  explicit TextFile(const std::string& path) : file_(std::fopen(path.c_str(), "wb")) {
    if (!file_) error_ = errno;
  }
  ~TextFile() {
    if (file_) std::fclose(file_);
  }
  TextFile(const TextFile&) = delete;
  TextFile& operator=(const TextFile&) = delete;

  bool Opened() const { return file_ != nullptr; }
  TextFile& operator<<(const std::string& s) { return Put(s.data(), s.size()); }
  TextFile& operator<<(const char* s) { return Put(s, std::strlen(s)); }
  TextFile& operator<<(char c) { return Put(&c, 1); }
  TextFile& operator<<(float v) {
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, std::isfinite(v) ? v : 0.0f);
    return Put(buf, static_cast<std::size_t>(r.ptr - buf));
  }
  TextFile& operator<<(std::size_t v) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    return Put(buf, static_cast<std::size_t>(r.ptr - buf));
  }

  // Flushes and closes; false with the reason when anything failed.
  bool Close(std::string& reason) {
    if (!file_) {
      reason = ErrnoText(error_);
      return false;
    }
    bool ok = error_ == 0 && std::fflush(file_) == 0;
    if (!ok && error_ == 0) error_ = errno;
    if (std::fclose(file_) != 0 && ok) {
      ok = false;
      error_ = errno;
    }
    file_ = nullptr;
    if (!ok) reason = ErrnoText(error_ ? error_ : EIO);
    return ok;
  }

 private:
  TextFile& Put(const char* s, std::size_t n) {
    if (file_ && error_ == 0 && std::fwrite(s, 1, n, file_) != n) error_ = errno ? errno : EIO;
    return *this;
  }
  std::FILE* file_;
  int error_ = 0;
};

void WriteVec(TextFile& out, const char* tag, Vec3 v) {
  out << tag << ' ' << v.x << ' ' << v.y << ' ' << v.z << '\n';
}

// Materials of all items, first occurrence of a name wins.
std::vector<const Material*> UniqueMaterials(const std::vector<ExportItem>& items) {
  std::vector<const Material*> out;
  std::map<std::string, std::size_t> seen;
  for (const ExportItem& item : items) {
    if (!item.mesh) continue;
    for (const Material& m : item.mesh->materials) {
      if (seen.emplace(Token(m.name, "default"), out.size()).second) out.push_back(&m);
    }
  }
  return out;
}

void WriteMtlText(TextFile& out, const std::vector<ExportItem>& items) {
  out << "# materials of a scenehost scene\n";
  for (const Material* m : UniqueMaterials(items)) {
    out << "\nnewmtl " << Token(m->name, "default") << '\n';
    WriteVec(out, "Kd", m->diffuse);
    if (!m->diffuseTexture.empty()) out << "map_Kd " << m->diffuseTexture << '\n';
  }
}

struct ObjCounters {
  std::size_t v = 0, vt = 0, vn = 0;
};

void WriteObjItem(TextFile& out, const ExportItem& item, ObjCounters& base) {
  const Mesh& m = *item.mesh;
  const bool identity = item.xf.IsIdentity();
  const bool normals = !m.cornerNormal.empty();
  const bool uvs = !m.cornerUV.empty();
  out << "\no " << Token(item.name, "object") << '\n';
  for (const Vec3& p : m.positions) WriteVec(out, "v", identity ? p : item.xf.ApplyPoint(p));
  // One texture coordinate and normal per corner: keeps seams and hard
  // edges exactly as stored.
  for (const Vec2& t : m.cornerUV) out << "vt " << t.x << ' ' << t.y << '\n';
  for (const Vec3& n : m.cornerNormal) WriteVec(out, "vn", identity ? n : item.xf.ApplyNormal(n));
  std::size_t current = m.materials.size();  // none yet
  for (std::size_t f = 0; f < m.FaceCount(); ++f) {
    if (m.faceMaterial[f] != current) {
      current = m.faceMaterial[f];
      out << "usemtl " << Token(m.materials[current].name, "default") << '\n';
    }
    out << 'f';
    for (std::uint32_t c = m.faceStart[f]; c < m.faceStart[f + 1]; ++c) {
      out << ' ' << (base.v + m.cornerVertex[c] + 1);
      if (uvs || normals) out << '/';
      if (uvs) out << (base.vt + c + 1);
      if (normals) out << '/' << (base.vn + c + 1);
    }
    out << '\n';
  }
  base.v += m.VertexCount();
  base.vt += m.cornerUV.size();
  base.vn += m.cornerNormal.size();
}

std::string EscapedFileName(const std::string& name) {
  std::string out;
  for (char c : name) {
    if (c == ' ' || c == '\\') out += '\\';
    out += c;
  }
  return out;
}

bool WriteObjFiles(const std::string& path, const std::vector<ExportItem>& items,
                   std::string& reason) {
  const std::string mtlPath = fs::path(path).replace_extension(".mtl").string();
  const std::string objTmp = TempPathFor(path), mtlTmp = TempPathFor(mtlPath);
  std::error_code ec;
  {
    TextFile mtl(mtlTmp);
    if (mtl.Opened()) WriteMtlText(mtl, items);
    if (!mtl.Close(reason)) {
      fs::remove(mtlTmp, ec);
      reason = "cannot write '" + mtlPath + "': " + reason;
      return false;
    }
  }
  {
    TextFile obj(objTmp);
    if (obj.Opened()) {
      obj << "# scenehost scene\nmtllib " << EscapedFileName(fs::path(mtlPath).filename().string())
          << '\n';
      ObjCounters base;
      for (const ExportItem& item : items) {
        if (item.mesh) WriteObjItem(obj, item, base);
      }
    }
    if (!obj.Close(reason)) {
      fs::remove(objTmp, ec);
      fs::remove(mtlTmp, ec);
      return false;
    }
  }
  if (!Commit(mtlTmp, mtlPath, reason)) {
    fs::remove(objTmp, ec);
    reason = "cannot write '" + mtlPath + "': " + reason;
    return false;
  }
  return Commit(objTmp, path, reason);
}

// ---- glTF ------------------------------------------------------------------

// Quaternion (x, y, z, w) of R = Rz * Ry * Rx, angles in degrees.
std::vector<double> EulerXYZToQuaternion(const double deg[3]) {
  auto half = [](double d) { return d * kPi / 360.0; };
  const double cx = std::cos(half(deg[0])), sx = std::sin(half(deg[0]));
  const double cy = std::cos(half(deg[1])), sy = std::sin(half(deg[1]));
  const double cz = std::cos(half(deg[2])), sz = std::sin(half(deg[2]));
  return {sx * cy * cz - cx * sy * sz, cx * sy * cz + sx * cy * sz, cx * cy * sz - sx * sy * cz,
          cx * cy * cz + sx * sy * sz};
}

Vec3 Unit(Vec3 n) {
  const double len = std::sqrt(double(n.x) * n.x + double(n.y) * n.y + double(n.z) * n.z);
  if (!(len > 0.0) || !std::isfinite(len)) return {0.0f, 1.0f, 0.0f};
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

bool WriteGlbFile(const std::string& path, const std::vector<ExportItem>& items,
                  std::string& reason) {
  GlbBuilder builder;
  for (const ExportItem& item : items) builder.AddItem(item);
  const std::string tmp = TempPathFor(path);
  std::error_code ec;
  {
    errno = 0;
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out) {
      reason = ErrnoText(errno ? errno : EIO);
      return false;
    }
    tinygltf::TinyGLTF gltf;
    const bool written = gltf.WriteGltfSceneToStream(&builder.Model(), out, false, true);
    out.close();
    if (!written || !out) {
      reason = "writing failed (disk full?)";
      fs::remove(tmp, ec);
      return false;
    }
  }
  return Commit(tmp, path, reason);
}

template <typename Writer>
bool Save(const char* kind, const std::string& path, const std::vector<ExportItem>& items,
          std::string& error, Writer write) {
  const std::string prefix = std::string("cannot write ") + kind + " file '" + path + "': ";
  try {
    if (std::string problem = ItemsProblem(items); !problem.empty()) {
      error = prefix + problem;
      return false;
    }
    std::string reason;
    if (!write(path, items, reason)) {
      error = prefix + reason;
      return false;
    }
    return true;
  } catch (const std::exception& e) {
    std::error_code ec;
    fs::remove(TempPathFor(path), ec);
    error = prefix + e.what();
    return false;
  }
}

}  // namespace

bool WriteObj(const std::string& path, const std::vector<ExportItem>& items, std::string& error) {
  return Save("OBJ", path, items, error, WriteObjFiles);
}

bool WriteGlb(const std::string& path, const std::vector<ExportItem>& items, std::string& error) {
  return Save("glTF", path, items, error, WriteGlbFile);
}

}  // namespace host
