// What scene writers are given: named meshes with their global transforms,
// and the check every writer runs before writing a byte.
#pragma once

#include <string>
#include <vector>

#include "mesh.h"

namespace host {

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

}  // namespace host
