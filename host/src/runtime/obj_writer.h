// Scene export to Wavefront OBJ with its .mtl.
#pragma once

#include <string>
#include <vector>

#include "export_item.h"

namespace host {

// Writes every item as one object, positions and normals in world space,
// with an .mtl beside it (the path with its extension replaced by .mtl). Both
// files go through AtomicFileWriter (safe_file.h): they are complete before
// either replaces an old file, links are written through, read-only files
// are refused. Items are checked first (ExportProblem). On failure returns
// false with "cannot write OBJ file 'x.obj': <reason>".
bool WriteObj(const std::string& path, const std::vector<ExportItem>& items, std::string& error);
// The same, telling `progress` of every object encoded.
bool WriteObj(const std::string& path, const std::vector<ExportItem>& items, std::string& error,
              const ExportProgress& progress);

}  // namespace host
