// OBJ import. The .obj is parsed here, line by line, because a general
// parser reads bad numbers as 0 and wraps large indices; every number and
// index is checked where it is read so an error can name its line. The .mtl
// is handed to tinyobjloader once it has been read under the size limit.
#include "obj_reader.h"

#include "mesh_ops.h"

#include <tiny_obj_loader.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <filesystem>
#include <map>
#include <sstream>
#include <string_view>
#include <type_traits>

#include "safe_file.h"
#include "xsi_value.h"

namespace host {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kNone = UINT32_MAX;
constexpr std::string_view kBlanks = " \t\r\v\f";

// Next blank-separated field of `rest`, or empty at its end.
std::string_view NextField(std::string_view& rest) {
  const std::size_t b = rest.find_first_not_of(kBlanks);
  if (b == std::string_view::npos) {
    rest = {};
    return {};
  }
  rest.remove_prefix(b);
  const std::size_t e = std::min(rest.find_first_of(kBlanks), rest.size());
  const std::string_view field = rest.substr(0, e);
  rest.remove_prefix(e);
  return field;
}

std::string_view Trimmed(std::string_view s) {
  const std::size_t b = s.find_first_not_of(kBlanks);
  if (b == std::string_view::npos) return {};
  return s.substr(b, s.find_last_not_of(kBlanks) - b + 1);
}

// A field as quoted in a message: short, and without control characters.
std::string Shown(std::string_view field) {
  constexpr std::size_t kMax = 40;
  std::string out(field.substr(0, kMax));
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  if (field.size() > kMax) out += "...";
  return "'" + out + "'";
}

enum class Number { Ok, NotANumber, NotFinite };

// A coordinate by the host's one number grammar (XSI::ReadNumber); a value
// beyond float's range is as unusable as an infinity.
Number ParseCoordinate(std::string_view field, float& out) {
  double d = 0;
  switch (XSI::ReadNumber(field, d)) {
    case XSI::NumberText::Ok: break;
    case XSI::NumberText::NotANumber: return Number::NotANumber;
    case XSI::NumberText::OutOfRange:
    case XSI::NumberText::NotFinite: return Number::NotFinite;
  }
  if (std::fabs(d) > FLT_MAX) return Number::NotFinite;
  out = static_cast<float>(d);
  return Number::Ok;
}

// `mtllib` names are blank-separated; "\ " is a space inside a name.
std::vector<std::string> LibraryNames(std::string_view rest) {
  std::vector<std::string> names;
  std::string current;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    const char c = rest[i];
    if (c == '\\' && i + 1 < rest.size() && (rest[i + 1] == ' ' || rest[i + 1] == '\\')) {
      current += rest[++i];
    } else if (kBlanks.find(c) != std::string_view::npos) {
      if (!current.empty()) names.push_back(std::move(current));
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) names.push_back(std::move(current));
  return names;
}

// The .obj's statements, with indices made 0-based but not yet checked
// against the final counts (a polygon may name vertices written after it).
class ObjParser {
 public:
  struct Corner {
    std::uint32_t v = kNone, vt = kNone, vn = kNone;
  };
  struct Library {
    std::string name;
    std::size_t line = 0;
  };

  std::vector<Vec3> positions, normals;
  std::vector<Vec2> uvs;
  std::vector<Corner> corners;
  std::vector<std::uint32_t> faceStart{0};
  std::vector<std::uint32_t> faceLine;  // files are far below 2^32 lines
  std::vector<std::uint32_t> faceName;  // into materialNames, kNone: none
  std::vector<std::string> materialNames;
  std::vector<Library> libraries;
  std::size_t dropped = 0, firstDroppedLine = 0, firstDroppedCorners = 0;
  std::string error;  // "line N: ..."

  bool Parse(std::string_view text) {
    std::size_t lineNo = 0;
    while (!text.empty()) {
      const std::size_t end = std::min(text.find('\n'), text.size());
      ++lineNo;
      if (!ParseLine(text.substr(0, end), lineNo)) return false;
      text.remove_prefix(std::min(end + 1, text.size()));
    }
    return CheckIndices();
  }

 private:
  std::map<std::string, std::uint32_t, std::less<>> nameIndex_;
  std::uint32_t currentName_ = kNone;

  bool Fail(std::size_t line, const std::string& what) {
    error = "line " + std::to_string(line) + ": " + what;
    return false;
  }

  bool ParseLine(std::string_view line, std::size_t lineNo) {
    std::string_view rest = line;
    const std::string_view keyword = NextField(rest);
    if (keyword == "v") return Coordinates(rest, lineNo, 3, positions);
    if (keyword == "vn") return Coordinates(rest, lineNo, 3, normals);
    if (keyword == "vt") return Coordinates(rest, lineNo, 1, uvs);
    if (keyword == "f") return Face(rest, lineNo);
    if (keyword == "usemtl") return UseMaterial(Trimmed(rest));
    if (keyword == "mtllib") return AddLibraries(rest, lineNo);
    return true;  // comments, groups, smoothing, curves: not part of the mesh
  }

  // Reads the numbers of a v/vt/vn line; every one must be a finite float.
  template <typename T>
  bool Coordinates(std::string_view rest, std::size_t lineNo, std::size_t needed,
                   std::vector<T>& into) {
    float values[3] = {0, 0, 0};
    std::size_t count = 0;
    for (std::string_view f = NextField(rest); !f.empty() && f[0] != '#'; f = NextField(rest)) {
      float v = 0;
      switch (ParseCoordinate(f, v)) {
        case Number::NotANumber:
          return Fail(lineNo, Shown(f) + " is not a number");
        case Number::NotFinite:
          return Fail(lineNo, "coordinate " + Shown(f) + " is not a finite number");
        case Number::Ok:
          break;
      }
      if (count < 3) values[count] = v;
      ++count;
    }
    if (count < needed) {
      return Fail(lineNo, "expected " + std::to_string(needed) + " numbers, found " +
                              std::to_string(count));
    }
    if constexpr (std::is_same_v<T, Vec3>) {
      into.push_back({values[0], values[1], values[2]});
    } else {
      into.push_back({values[0], values[1]});
    }
    return true;
  }

  // One index of a corner: 1-based, or negative counting back from the
  // elements written so far.
  bool Index(std::string_view field, std::size_t lineNo, const char* kind, std::size_t before,
             std::uint32_t& out) {
    long long value = 0;
    const XSI::NumberText read = XSI::ReadWholeNumber(field, value);
    const std::string what = std::string(kind) + " index " + std::string(field) + " out of range";
    if (read == XSI::NumberText::NotANumber) return Fail(lineNo, Shown(field) + " is not an index");
    if (read != XSI::NumberText::Ok) return Fail(lineNo, what);
    if (value == 0) return Fail(lineNo, what + " (indices start at 1)");
    if (value < 0) {
      const long long resolved = static_cast<long long>(before) + value;
      if (resolved < 0) {
        return Fail(lineNo, what + " (only " + std::to_string(before) + " before this line)");
      }
      out = static_cast<std::uint32_t>(resolved);
      return true;
    }
    if (value >= static_cast<long long>(kNone)) return Fail(lineNo, what);
    out = static_cast<std::uint32_t>(value - 1);
    return true;
  }

  bool ParseCorner(std::string_view field, std::size_t lineNo, Corner& c) {
    std::string_view parts[3];
    std::size_t n = 0;
    for (std::string_view rest = field;; ++n) {
      const std::size_t slash = rest.find('/');
      if (n == 3) return Fail(lineNo, Shown(field) + " is not a polygon corner");
      parts[n] = rest.substr(0, slash);
      if (slash == std::string_view::npos) break;
      rest.remove_prefix(slash + 1);
    }
    if (parts[0].empty()) return Fail(lineNo, Shown(field) + " is not a polygon corner");
    if (!Index(parts[0], lineNo, "vertex", positions.size(), c.v)) return false;
    if (!parts[1].empty() && !Index(parts[1], lineNo, "texture coordinate", uvs.size(), c.vt)) {
      return false;
    }
    return parts[2].empty() || Index(parts[2], lineNo, "normal", normals.size(), c.vn);
  }

  bool Face(std::string_view rest, std::size_t lineNo) {
    const std::size_t first = corners.size();
    for (std::string_view f = NextField(rest); !f.empty() && f[0] != '#'; f = NextField(rest)) {
      Corner c;
      if (!ParseCorner(f, lineNo, c)) return false;
      corners.push_back(c);
    }
    const std::size_t count = corners.size() - first;
    if (count < 3) {
      if (dropped++ == 0) {
        firstDroppedLine = lineNo;
        firstDroppedCorners = count;
      }
      corners.resize(first);
      return true;
    }
    faceStart.push_back(static_cast<std::uint32_t>(corners.size()));
    faceLine.push_back(static_cast<std::uint32_t>(lineNo));
    faceName.push_back(currentName_);
    return true;
  }

  bool UseMaterial(std::string_view name) {
    if (name.empty()) {
      currentName_ = kNone;
      return true;
    }
    auto it = nameIndex_.find(name);
    if (it == nameIndex_.end()) {
      it = nameIndex_.emplace(std::string(name), static_cast<std::uint32_t>(materialNames.size())).first;
      materialNames.emplace_back(name);
    }
    currentName_ = it->second;
    return true;
  }

  bool AddLibraries(std::string_view rest, std::size_t lineNo) {
    for (std::string& name : LibraryNames(rest)) {
      if (name[0] == '#') break;
      bool known = false;
      for (const Library& lib : libraries) known = known || lib.name == name;
      if (known) continue;
      if (libraries.size() == kMaxMaterialLibraries) {
        return Fail(lineNo, "more than " + std::to_string(kMaxMaterialLibraries) +
                                " material libraries");
      }
      libraries.push_back({std::move(name), lineNo});
    }
    return true;
  }

  bool CheckIndex(std::uint32_t index, std::size_t count, const char* kind, std::size_t line) {
    if (index == kNone || index < count) return true;
    return Fail(line, std::string(kind) + " index " + std::to_string(std::uint64_t{index} + 1) +
                          " out of range (the file has " + std::to_string(count) + ")");
  }

  bool CheckIndices() {
    for (std::size_t f = 0; f + 1 < faceStart.size(); ++f) {
      for (std::uint32_t i = faceStart[f]; i < faceStart[f + 1]; ++i) {
        const Corner& c = corners[i];
        if (!CheckIndex(c.v, positions.size(), "vertex", faceLine[f]) ||
            !CheckIndex(c.vt, uvs.size(), "texture coordinate", faceLine[f]) ||
            !CheckIndex(c.vn, normals.size(), "normal", faceLine[f])) {
          return false;
        }
      }
    }
    return true;
  }
};

// "is not a regular file" follows its subject; a system reason gets a colon.
std::string Joined(const std::string& subject, const std::string& reason) {
  return subject + (reason.rfind("is ", 0) == 0 ? " " : ": ") + reason;
}

// Materials of every library, by name; the first definition of a name wins.
struct MaterialLibraries {
  std::map<std::string, tinyobj::material_t> byName;
  std::vector<std::string> warnings;
  std::string error;

  bool Load(const std::vector<ObjParser::Library>& libraries, const fs::path& folder) {
    for (const ObjParser::Library& lib : libraries) {
      const std::string where = "line " + std::to_string(lib.line) + ": material library " +
                                Shown(lib.name);
      if (HasNulByte(lib.name)) {
        error = where + " has a NUL byte in its name";
        return false;
      }
      const fs::path path = fs::path(lib.name).is_absolute() ? fs::path(lib.name) : folder / lib.name;
      std::string text, reason;
      if (!ReadRegularFile(path.string(), kMaxMtlBytes, text, reason)) {
        if (reason == "no such file") {
          warnings.push_back(where + " not found; its materials become 'default'");
          continue;
        }
        error = Joined(where, reason);
        return false;
      }
      std::istringstream in(text);
      std::map<std::string, int> index;
      std::vector<tinyobj::material_t> materials;
      std::string warn, err;
      tinyobj::LoadMtl(&index, &materials, &in, &warn, &err);
      for (tinyobj::material_t& m : materials) {
        m.name = std::string(Trimmed(m.name));
        byName.emplace(m.name, std::move(m));
      }
    }
    return true;
  }
};

// Turns the parsed statements into the host's mesh.
class MeshBuilder {
 public:
  MeshBuilder(ObjParser& p, const MaterialLibraries& libs) : p_(p), libs_(libs) {}

  Mesh Build() {
    mesh_.positions = std::move(p_.positions);
    bool anyNormal = false, anyUV = false;
    for (const ObjParser::Corner& c : p_.corners) {
      anyNormal = anyNormal || c.vn != kNone;
      anyUV = anyUV || c.vt != kNone;
    }
    mesh_.faceStart = std::move(p_.faceStart);
    mesh_.cornerVertex.reserve(p_.corners.size());
    for (const ObjParser::Corner& c : p_.corners) mesh_.cornerVertex.push_back(c.v);
    if (anyUV) {
      mesh_.cornerUV.reserve(p_.corners.size());
      for (const ObjParser::Corner& c : p_.corners) {
        mesh_.cornerUV.push_back(c.vt == kNone ? Vec2{} : p_.uvs[c.vt]);
      }
    }
    if (anyNormal) {
      mesh_.cornerNormal.reserve(p_.corners.size());
      for (const ObjParser::Corner& c : p_.corners) {
        mesh_.cornerNormal.push_back(c.vn == kNone ? Vec3{} : p_.normals[c.vn]);
      }
      FillMissingNormals();
    }
    mesh_.faceMaterial.reserve(p_.faceName.size());
    for (std::uint32_t name : p_.faceName) mesh_.faceMaterial.push_back(MaterialFor(name));
    return std::move(mesh_);
  }

 private:
  ObjParser& p_;  // its positions are moved into the mesh
  const MaterialLibraries& libs_;
  Mesh mesh_;
  std::map<const tinyobj::material_t*, std::uint32_t> materialOf_;  // null: default

  // Mesh materials in order of first use; unknown names share "default".
  std::uint32_t MaterialFor(std::uint32_t name) {
    const tinyobj::material_t* src = nullptr;
    if (name != kNone) {
      auto it = libs_.byName.find(p_.materialNames[name]);
      if (it != libs_.byName.end()) src = &it->second;
    }
    auto it = materialOf_.find(src);
    if (it != materialOf_.end()) return it->second;
    Material mat;
    mat.name = "default";
    if (src) {
      mat.name = src->name;
      mat.diffuse = {src->diffuse[0], src->diffuse[1], src->diffuse[2]};
      mat.diffuseTexture = src->diffuse_texname;
    }
    const auto index = static_cast<std::uint32_t>(mesh_.materials.size());
    mesh_.materials.push_back(std::move(mat));
    materialOf_.emplace(src, index);
    return index;
  }

  // Corners written without a normal in a file that has some get the flat
  // (Newell) normal of their polygon.
  void FillMissingNormals() {
    for (std::size_t f = 0; f < mesh_.FaceCount(); ++f) {
      const std::uint32_t b = mesh_.faceStart[f], e = mesh_.faceStart[f + 1];
      bool missing = false;
      for (std::uint32_t c = b; c < e; ++c) missing = missing || p_.corners[c].vn == kNone;
      if (!missing) continue;
      const Vec3 flat = FaceNormalOf(mesh_, f);
      for (std::uint32_t c = b; c < e; ++c) {
        if (p_.corners[c].vn == kNone) mesh_.cornerNormal[c] = flat;
      }
    }
  }
};

std::string DroppedWarning(const ObjParser& p) {
  std::string text = "line " + std::to_string(p.firstDroppedLine) + ": polygon with " +
                     std::to_string(p.firstDroppedCorners) + " corners dropped";
  if (p.dropped > 1) {
    text += ", and " + std::to_string(p.dropped - 1) + " more with fewer than 3 corners";
  }
  return text;
}

}  // namespace

bool ReadObj(const std::string& path, Mesh& out, std::string& error,
             std::vector<std::string>* warnings) {
  const std::string shownPath = PrintablePath(path);
  const std::string prefix = "cannot read OBJ file '" + shownPath + "': ";
  try {
    if (HasNulByte(path)) {
      error = prefix + "the path has a NUL byte";
      return false;
    }
    std::string text, reason;
    if (!ReadRegularFile(path, kMaxObjBytes, text, reason)) {
      error = prefix + reason;
      return false;
    }
    ObjParser parser;
    if (!parser.Parse(text)) {
      error = prefix + parser.error;
      return false;
    }
    text = std::string();
    if (parser.faceStart.size() < 2) {
      error = prefix + "has no polygons";
      if (parser.dropped > 0) error += " (" + DroppedWarning(parser) + ")";
      return false;
    }
    fs::path folder = fs::path(path).parent_path();
    if (folder.empty()) folder = ".";
    MaterialLibraries libs;
    if (!libs.Load(parser.libraries, folder)) {
      error = prefix + libs.error;
      return false;
    }
    Mesh mesh = MeshBuilder(parser, libs).Build();
    std::vector<std::string> notes = std::move(libs.warnings);
    if (parser.dropped > 0) notes.push_back(DroppedWarning(parser));
    if (warnings) {
      for (const std::string& note : notes) warnings->push_back("OBJ file '" + shownPath + "': " + note);
    }
    out = std::move(mesh);
    return true;
  } catch (const std::exception& e) {
    error = prefix + e.what();
    return false;
  }
}

}  // namespace host
