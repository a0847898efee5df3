#include "export_item.h"

#include <cmath>
#include <exception>

#include "safe_file.h"

namespace host {
namespace {

bool Finite(Vec3 v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }
bool Finite(Vec2 v) { return std::isfinite(v.x) && std::isfinite(v.y); }
bool Finite(const double (&v)[3]) {
  return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
}

template <typename T>
bool AllFinite(const std::vector<T>& values) {
  for (const T& v : values) {
    if (!Finite(v)) return false;
  }
  return true;
}

// Empty when the mesh's arrays agree with each other, else what is wrong.
std::string StructureProblem(const Mesh& m) {
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

std::string NumberProblem(const ExportItem& item) {
  if (!Finite(item.xf.pos)) return "a non-finite position";
  if (!Finite(item.xf.rot)) return "a non-finite rotation";
  if (!Finite(item.xf.scl)) return "a non-finite scale";
  if (!item.mesh) return {};
  const Mesh& m = *item.mesh;
  if (!AllFinite(m.positions)) return "a non-finite vertex position";
  if (!AllFinite(m.cornerNormal)) return "a non-finite normal";
  if (!AllFinite(m.cornerUV)) return "a non-finite texture coordinate";
  for (const Material& mat : m.materials) {
    if (!Finite(mat.diffuse)) return "a non-finite colour in material '" + mat.name + "'";
  }
  return {};
}

}  // namespace

std::string ExportProblem(const std::vector<ExportItem>& items) {
  for (const ExportItem& item : items) {
    if (std::string p = NumberProblem(item); !p.empty()) return "object '" + item.name + "' has " + p;
    if (!item.mesh) continue;
    if (std::string p = StructureProblem(*item.mesh); !p.empty()) {
      return "object '" + item.name + "' has a broken mesh: " + p;
    }
  }
  return {};
}

bool RunExport(const std::string& format, const std::string& path,
               const std::vector<ExportItem>& items,
               const std::function<bool(std::string& reason)>& write, std::string& error) {
  const std::string prefix = "cannot write " + format + " file '" + PrintablePath(path) + "': ";
  try {
    if (HasNulByte(path)) {
      error = prefix + "the path has a NUL byte";
      return false;
    }
    std::string reason = ExportProblem(items);
    if (reason.empty() && write(reason)) return true;
    error = prefix + reason;
    return false;
  } catch (const std::exception& e) {
    error = prefix + e.what();
    return false;
  }
}

}  // namespace host
