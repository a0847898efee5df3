// The scene: uniquely named objects with a transform and, for mesh objects,
// geometry; and the selection.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include <xsi_string.h>

#include "geometry.h"
#include "mesh.h"
#include "mesh_ops.h"

namespace host {

// A "MeshMerge" operator on its result object. It is live until
// "DeleteGeneratorInputs" freezes it; while live, "tolerance" can be set (and
// set again) and the appended part is re-welded. Live or frozen, it keeps
// the weld index over its result's positions for the next merge of that
// result (geometry.h states the rules).
struct MergeOperator {
  XSI::CString name = L"mergemesh";
  std::vector<std::uint64_t> inputs;  // generator inputs, deleted on request
  MeshPrefix base;                    // the taken-over input's part of the result
  MergeRecord record;
  double tolerance = 0.0;
  bool live = true;
  WeldCache weld;
};

struct SceneObject {
  std::uint64_t id = 0;
  XSI::CString name;
  Transform xf;
  Geometry geometry;                       // no mesh for non-mesh objects
  std::unique_ptr<MergeOperator> mergeOp;  // set on "polymsh"-style results

  // The merge operator while it is live, else null.
  MergeOperator* LiveMerge() const { return mergeOp && mergeOp->live ? mergeOp.get() : nullptr; }
};

class Scene {
 public:
  // Creates an object; a taken name gets the lowest free number appended
  // ("wall" -> "wall1", "wall2", ...).
  SceneObject& Create(const XSI::CString& wantedName);
  SceneObject* Find(const XSI::CString& name);
  const SceneObject* Find(const XSI::CString& name) const;
  SceneObject* Get(std::uint64_t id);
  bool Delete(std::uint64_t id);
  // Renames; a taken name is made unique as in Create. Returns the name given.
  XSI::CString Rename(std::uint64_t id, const XSI::CString& wantedName);
  XSI::CString UniqueName(const XSI::CString& wanted) const;

  // Objects in creation order.
  std::vector<SceneObject*> Objects();
  std::size_t Count() const { return objects_.size(); }
  void Clear();

  std::vector<std::uint64_t>& SelectionIds() { return selection_; }

 private:
  std::uint64_t nextId_ = 1;
  std::map<std::uint64_t, std::unique_ptr<SceneObject>> objects_;
  std::map<XSI::CString, std::uint64_t> byName_;
  std::vector<std::uint64_t> selection_;
};

}  // namespace host
