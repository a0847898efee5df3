// What scene writers are given: named meshes with their global transforms,
// and the check every writer runs before writing a byte.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "mesh.h"

namespace host {

// How far a writer has come: `done` of `total` (bytes of the file for
// glTF, objects for OBJ). Returning false stops the writer, which then
// fails with the reason "cancelled" and leaves any old file as it was.
using ExportProgress = std::function<bool(std::uint64_t done, std::uint64_t total)>;

struct ExportItem {
  std::string name;
  const Mesh* mesh = nullptr;
  Transform xf;  // object's global transform
};

// Empty when every item can be written, else what is wrong with the first
// one that cannot ("object 'cube' has a non-finite position", "object 'cube'
// has a broken mesh: a corner refers to a missing vertex"). Writers never
// write a non-finite number and never substitute one.
std::string ExportProblem(const std::vector<ExportItem>& items);

// What every writer does around its own work: refuses a path with a NUL byte
// and items ExportProblem objects to, then runs `write`. Any failure, whether
// `write` returns false with a reason or throws, becomes
// "cannot write <format> file '<path>': <reason>" in `error`.
bool RunExport(const std::string& format, const std::string& path,
               const std::vector<ExportItem>& items,
               const std::function<bool(std::string& reason)>& write, std::string& error);

}  // namespace host
