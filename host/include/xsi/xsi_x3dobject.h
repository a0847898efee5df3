// X3DObject: a scene object with a transform and, for meshes, geometry.
// Kinematics / KinematicState / Parameter reach its transform parameters:
// posx posy posz (scene units), rotx roty rotz (degrees, right-handed, applied
// x then y then z, so roty = -90 turns +X into +Z), sclx scly sclz.
#pragma once

#include "xsi_api.h"

#include "xsi_siobject.h"

namespace XSI {

class Parameter;

// A set of transform parameters of one object, in one frame.
class KinematicState : public ProjectItem {
 public:
  KinematicState() = default;
  KinematicState(const CRef& object, bool global) : ProjectItem(object), global_(global) {}
  bool IsGlobal() const { return global_; }
  Parameter GetParameter(const CString& name) const;

 private:
  bool global_ = true;
};

class Parameter : public ProjectItem {
 public:
  Parameter() = default;
  Parameter(const CRef& object, const CString& name) : ProjectItem(object), param_(name) {}
  const CString& GetScriptName() const { return param_; }
  CValue GetValue(double time = kDefaultTime) const { return GetParameterValue(param_, time); }
  CStatus PutValue(const CValue& value, double time = kDefaultTime) {
    return PutParameterValue(param_, value, time);
  }

 private:
  CString param_;
};

class Kinematics : public ProjectItem {
 public:
  using ProjectItem::ProjectItem;
  // Objects have no parents, so both frames read and write the same values.
  KinematicState GetGlobal() const { return KinematicState(ref_, true); }
  KinematicState GetLocal() const { return KinematicState(ref_, false); }
};

class XSI_API X3DObject : public ProjectItem {
 public:
  using ProjectItem::ProjectItem;
  Kinematics GetKinematics() const { return Kinematics(ref_); }
  // Number of polygons and vertices of its mesh (0 for non-mesh objects).
  long GetPolygonCount() const;
  long GetVertexCount() const;
  // On the scene root: the scene object of that exact name, or an invalid
  // object (IsValid() false) when there is none. On another object: invalid,
  // since objects have no children.
  X3DObject FindChild(const CString& name) const;
};

inline Parameter KinematicState::GetParameter(const CString& name) const {
  return Parameter(ref_, name);
}

}  // namespace XSI
