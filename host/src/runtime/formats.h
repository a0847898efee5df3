// File formats of the host: OBJ import, scene export to OBJ and binary glTF.
// Errors are returned as text that names the file and says what is wrong.
#pragma once

#include <string>
#include <vector>

#include "mesh.h"

namespace host {

// Reads an .obj and its .mtl (a missing .mtl is not an error: a default
// material is used). Polygons keep their corner count (quads, n-gons);
// negative indices are resolved. On failure returns false, fills `error`
// ("cannot read OBJ file 'x.obj': no such file") and leaves `out` unchanged.
bool ReadObj(const std::string& path, Mesh& out, std::string& error);

struct ExportItem {
  std::string name;
  const Mesh* mesh = nullptr;
  Transform xf;  // object's global transform
};

// Writes every item as one object, positions in world space, with an .mtl
// beside it (same base name). Writes to a temporary file and renames it, so a
// failed save keeps an existing file.
bool WriteObj(const std::string& path, const std::vector<ExportItem>& items, std::string& error);

// Binary glTF 2.0: one node per item (with its transform as TRS), one mesh
// per node, triangulated (fan) with per-corner normals and UVs, one primitive
// per material. Same temporary-file rule as WriteObj.
bool WriteGlb(const std::string& path, const std::vector<ExportItem>& items, std::string& error);

}  // namespace host
