// The OBJ reader on an .obj and the .mtl it names. The input is split at the
// first "\n@mtl\n": the part before is in.obj, the part after is m.mtl, both
// in a fresh folder. On success the mesh must be whole (see CheckMesh); on
// failure the target mesh must be untouched and the error must name the file.
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "obj_reader.h"

namespace {

namespace fs = std::filesystem;

void Require(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "fuzz_obj: broken invariant: %s\n", what);
    std::abort();
  }
}

bool Finite(host::Vec3 v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

void CheckMesh(const host::Mesh& m) {
  Require(!m.faceStart.empty() && m.faceStart.front() == 0, "faceStart starts at 0");
  for (std::size_t f = 0; f + 1 < m.faceStart.size(); ++f) {
    Require(m.faceStart[f + 1] >= m.faceStart[f] + 3, "faceStart rises by 3 corners or more");
  }
  Require(m.faceStart.back() == m.CornerCount(), "faceStart ends at the corner count");
  Require(m.FaceCount() > 0, "a mesh read has polygons");
  for (std::uint32_t v : m.cornerVertex) Require(v < m.VertexCount(), "corner vertex exists");
  Require(m.cornerNormal.empty() || m.cornerNormal.size() == m.CornerCount(), "one normal per corner");
  Require(m.cornerUV.empty() || m.cornerUV.size() == m.CornerCount(), "one UV per corner");
  Require(m.faceMaterial.size() == m.FaceCount(), "one material per polygon");
  for (std::uint32_t mat : m.faceMaterial) Require(mat < m.materials.size(), "material exists");
  for (const host::Vec3& p : m.positions) Require(Finite(p), "finite position");
  for (const host::Vec3& n : m.cornerNormal) Require(Finite(n), "finite normal");
  for (const host::Vec2& t : m.cornerUV) {
    Require(std::isfinite(t.x) && std::isfinite(t.y), "finite UV");
  }
}

struct Folder {
  std::string path;
  Folder() {
    char tmpl[] = "/tmp/fuzz_obj-XXXXXX";
    Require(mkdtemp(tmpl) != nullptr, "temporary folder");
    path = tmpl;
  }
  ~Folder() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

void Write(const std::string& path, std::string_view text) {
  std::ofstream out(path, std::ios::binary);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Folder folder;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t cut = input.find("\n@mtl\n");
  const std::string obj = folder.path + "/in.obj", mtl = folder.path + "/m.mtl";
  Write(obj, input.substr(0, cut));
  if (cut == std::string_view::npos) {
    std::remove(mtl.c_str());
  } else {
    Write(mtl, input.substr(cut + 6));
  }

  host::Mesh mesh;
  mesh.positions = {{1, 2, 3}};
  std::string error;
  std::vector<std::string> warnings{"sentinel"};
  if (host::ReadObj(obj, mesh, error, &warnings)) {
    CheckMesh(mesh);
    Require(error.empty(), "no error on success");
    Require(!warnings.empty() && warnings[0] == "sentinel", "warnings appended");
    for (std::size_t i = 1; i < warnings.size(); ++i) {
      Require(warnings[i].rfind("OBJ file '" + obj + "': ", 0) == 0, "warning names the file");
    }
  } else {
    Require(mesh.positions.size() == 1 && mesh.positions[0].y == 2 && mesh.FaceCount() == 0 &&
                mesh.materials.empty(),
            "failure leaves the mesh unchanged");
    Require(warnings.size() == 1, "failure adds no warnings");
    Require(error.rfind("cannot read OBJ file '" + obj + "': ", 0) == 0, "error names the file");
  }
  return 0;
}
