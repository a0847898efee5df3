// Scene export to binary glTF 2.0 (.glb).
#pragma once

#include <string>
#include <vector>

#include "export_item.h"

namespace host {

// One node per item (with its transform as TRS), one mesh per node,
// triangulated (fan) with per-corner normals and UVs, one primitive per
// material. Items are checked first (ExportProblem); the file goes through
// AtomicFileWriter (safe_file.h). On failure returns false with
// "cannot write glTF file 'x.glb': <reason>" and the old file is kept.
bool WriteGlb(const std::string& path, const std::vector<ExportItem>& items, std::string& error);
// The same, telling `progress` of every megabyte written.
bool WriteGlb(const std::string& path, const std::vector<ExportItem>& items, std::string& error,
              const ExportProgress& progress);

}  // namespace host
