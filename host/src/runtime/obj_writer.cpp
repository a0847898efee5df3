// The encoders build the text in memory; safe_file.h puts it on disk.
#include "obj_writer.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <map>
#include <stdexcept>

#include "safe_file.h"

namespace host {
namespace {

namespace fs = std::filesystem;

// OBJ and MTL names are single tokens on one line.
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

// A path on one line: control characters would start a new statement.
std::string OneLine(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (std::iscntrl(static_cast<unsigned char>(c))) c = '_';
  }
  return out;
}

// Names in `mtllib` are separated by spaces; the reader takes "\ " and "\\".
std::string EscapedFileName(const std::string& name) {
  std::string out;
  for (char c : OneLine(name)) {
    if (c == ' ' || c == '\\') out += '\\';
    out += c;
  }
  return out;
}

// Shortest text that reads back to the same float, whatever the C locale.
// Callers have checked the value is finite.
void Append(std::string& out, float v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, static_cast<std::size_t>(r.ptr - buf));
}

void Append(std::string& out, std::size_t v) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, static_cast<std::size_t>(r.ptr - buf));
}

void AppendVec(std::string& out, const char* tag, Vec3 v) {
  out += tag;
  for (float c : {v.x, v.y, v.z}) {
    out += ' ';
    Append(out, c);
  }
  out += '\n';
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

std::string MtlText(const std::vector<ExportItem>& items) {
  std::string out = "# materials of a scenehost scene\n";
  for (const Material* m : UniqueMaterials(items)) {
    out += "\nnewmtl " + Token(m->name, "default") + '\n';
    AppendVec(out, "Kd", m->diffuse);
    if (!m->diffuseTexture.empty()) out += "map_Kd " + OneLine(m->diffuseTexture) + '\n';
  }
  return out;
}

bool Finite(Vec3 v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

struct ObjCounters {
  std::size_t v = 0, vt = 0, vn = 0;
};

// Writes one "<tag> x y z" line per value, taken to world space by `apply`.
// Finite local data can still overflow once transformed; such an object is
// refused (`what` says which data) rather than written with infinities.
bool AppendWorld(std::string& out, const char* tag, const std::vector<Vec3>& values,
                 const ExportItem& item, Vec3 (Transform::*apply)(Vec3) const, const char* what,
                 std::string& problem) {
  const bool identity = item.xf.IsIdentity();
  for (const Vec3& v : values) {
    const Vec3 w = identity ? v : (item.xf.*apply)(v);
    if (!Finite(w)) {
      problem = "object '" + item.name + "' has " + what;
      return false;
    }
    AppendVec(out, tag, w);
  }
  return true;
}

bool AppendObjItem(std::string& out, const ExportItem& item, ObjCounters& base,
                   std::string& problem) {
  const Mesh& m = *item.mesh;
  const bool normals = !m.cornerNormal.empty();
  const bool uvs = !m.cornerUV.empty();
  out += "\no " + Token(item.name, "object") + '\n';
  if (!AppendWorld(out, "v", m.positions, item, &Transform::ApplyPoint,
                   "a vertex beyond the float range in world space", problem))
    return false;
  // One texture coordinate and normal per corner: keeps seams and hard
  // edges exactly as stored.
  for (const Vec2& t : m.cornerUV) {
    out += "vt ";
    Append(out, t.x);
    out += ' ';
    Append(out, t.y);
    out += '\n';
  }
  if (!AppendWorld(out, "vn", m.cornerNormal, item, &Transform::ApplyNormal,
                   "a normal that cannot be turned to world space", problem))
    return false;
  std::size_t current = m.materials.size();  // none yet
  for (std::size_t f = 0; f < m.FaceCount(); ++f) {
    if (m.faceMaterial[f] != current) {
      current = m.faceMaterial[f];
      out += "usemtl " + Token(m.materials[current].name, "default") + '\n';
    }
    out += 'f';
    for (std::uint32_t c = m.faceStart[f]; c < m.faceStart[f + 1]; ++c) {
      out += ' ';
      Append(out, base.v + m.cornerVertex[c] + 1);
      if (uvs || normals) out += '/';
      if (uvs) Append(out, base.vt + c + 1);
      if (normals) {
        out += '/';
        Append(out, base.vn + c + 1);
      }
    }
    out += '\n';
  }
  base.v += m.VertexCount();
  base.vt += m.cornerUV.size();
  base.vn += m.cornerNormal.size();
  return true;
}

bool ObjText(const std::vector<ExportItem>& items, const std::string& mtlName, std::string& out,
             std::string& problem, const ExportProgress& progress) {
  out = "# scenehost scene\nmtllib " + EscapedFileName(mtlName) + '\n';
  ObjCounters base;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (items[i].mesh && !AppendObjItem(out, items[i], base, problem)) return false;
    if (progress && !progress(i + 1, items.size())) {
      problem = "cancelled";
      return false;
    }
  }
  return true;
}

bool WriteBoth(const std::string& path, const std::vector<ExportItem>& items, std::string& reason,
               const ExportProgress& progress) {
  const std::string mtlPath = fs::path(path).replace_extension(".mtl").string();
  std::string obj;
  if (!ObjText(items, fs::path(mtlPath).filename().string(), obj, reason, progress)) return false;
  const std::string mtl = MtlText(items);
  const std::string mtlSubject = "its material file '" + mtlPath + "' ";
  AtomicFileWriter mtlFile, objFile;
  if (!mtlFile.Begin(mtlPath, reason) || !mtlFile.Write(mtl, reason) || !mtlFile.Finish(reason)) {
    reason = mtlSubject + reason;
    return false;
  }
  if (!objFile.Begin(path, reason) || !objFile.Write(obj, reason) || !objFile.Finish(reason)) {
    reason = "the file " + reason;
    return false;
  }
  if (!mtlFile.Commit(reason)) {
    reason = mtlSubject + reason;
    return false;
  }
  if (!objFile.Commit(reason)) {
    reason = "the file " + reason;
    return false;
  }
  return true;
}

}  // namespace

bool WriteObj(const std::string& path, const std::vector<ExportItem>& items, std::string& error) {
  return WriteObj(path, items, error, nullptr);
}

bool WriteObj(const std::string& path, const std::vector<ExportItem>& items, std::string& error,
              const ExportProgress& progress) {
  return RunExport(
      "OBJ", path, items, [&](std::string& reason) { return WriteBoth(path, items, reason, progress); }, error);
}

}  // namespace host
