// Wavefront OBJ import with its material libraries (.mtl).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mesh.h"

namespace host {

// Files bigger than these are refused before a byte is read.
constexpr std::uint64_t kMaxObjBytes = std::uint64_t{256} << 20;
constexpr std::uint64_t kMaxMtlBytes = std::uint64_t{16} << 20;
// Distinct material libraries one .obj may name.
constexpr std::size_t kMaxMaterialLibraries = 16;

// Reads an .obj and the .mtl files its `mtllib` lines name, into one mesh.
// Polygons keep their corner count; negative indices are resolved.
//
// The .obj and every .mtl must be regular files (links are followed) within
// the size limits above. An `mtllib` path is taken relative to the .obj's
// folder unless absolute. A missing .mtl is not an error: its materials
// become "default" and a warning says so.
//
// Strict about numbers: an index that points at nothing, or a coordinate
// that is not a finite float (nan, inf, 1e400), fails with the line, e.g.
// "cannot read OBJ file 'x.obj': line 12: vertex index 4294967299 out of
// range". Polygons with fewer than 3 corners are dropped with a warning.
//
// On success fills `out` and appends any warnings (each naming the file) to
// `*warnings` when given. On failure returns false, fills `error` and leaves
// `out` and `*warnings` unchanged.
bool ReadObj(const std::string& path, Mesh& out, std::string& error,
             std::vector<std::string>* warnings = nullptr);

}  // namespace host
