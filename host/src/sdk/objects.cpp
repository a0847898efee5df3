// SIObject, ProjectItem, X3DObject and Selection: views onto the runtime's
// records by id. Every call checks that its record still exists.
#include <cmath>
#include <cstdint>
#include <exception>

#include "runtime.h"
#include "sdk_guard.h"
#include "xsi_selection.h"
#include "xsi_x3dobject.h"

namespace XSI {

using sdk::Guarded;

namespace {

host::SceneObject* SceneObjectOf(const CRef& ref) {
  if (ref.GetKind() != siRefKind::Object) return nullptr;
  return host::Runtime::Get().GetScene().Get(ref.GetId());
}

bool IsRoot(const CRef& ref) { return ref.GetKind() == siRefKind::Object && ref.GetId() == host::kSceneRootId; }

}  // namespace

bool SIObject::IsValid() const {
  host::Runtime& rt = host::Runtime::Get();
  switch (ref_.GetKind()) {
    case siRefKind::None:
      return false;
    case siRefKind::Object:
      return IsRoot(ref_) || rt.GetScene().Get(ref_.GetId()) != nullptr;
    case siRefKind::Context:
      return rt.FindContext(ref_.GetId()) != nullptr;
    case siRefKind::Command:
      return rt.CommandById(ref_.GetId()) != nullptr;
    case siRefKind::Registrar:
      return rt.FindRegistrar(ref_.GetId()) != nullptr;
    case siRefKind::ImageClip:
      return rt.FindClip(ref_.GetId()) != nullptr;
  }
  return false;
}

CString SIObject::GetName() const {
  host::Runtime& rt = host::Runtime::Get();
  switch (ref_.GetKind()) {
    case siRefKind::Object:
      if (IsRoot(ref_)) return L"Scene_Root";
      if (auto* obj = rt.GetScene().Get(ref_.GetId())) return obj->name;
      break;
    case siRefKind::Command:
      if (auto* def = rt.CommandById(ref_.GetId())) return def->name;
      break;
    case siRefKind::Registrar:
      if (auto* reg = rt.FindRegistrar(ref_.GetId())) return reg->name;
      break;
    case siRefKind::ImageClip:
      if (auto* clip = rt.FindClip(ref_.GetId())) return clip->name;
      break;
    case siRefKind::Context:
      if (rt.FindContext(ref_.GetId())) return L"Context";
      break;
    case siRefKind::None:
      break;
  }
  return CString();
}

CStatus SIObject::PutName(const CString& name) {
  return Guarded([&]() -> CStatus {
    host::Runtime& rt = host::Runtime::Get();
    if (auto* reg = ref_.GetKind() == siRefKind::Registrar ? rt.FindRegistrar(ref_.GetId()) : nullptr) {
      reg->name = name;
      return CStatus::OK;
    }
    if (auto* obj = SceneObjectOf(ref_)) return host::WriteObjectParameter(rt, *obj, L"name", CValue(name));
    return CStatus::InvalidArgument;
  });
}

CString SIObject::GetFullName() const { return GetName(); }

CStatus ProjectItem::PutParameterValue(const CString& name, const CValue& value, double) {
  return Guarded([&]() -> CStatus {
    host::SceneObject* obj = SceneObjectOf(ref_);
    if (!obj) return CStatus::InvalidArgument;
    return host::WriteObjectParameter(host::Runtime::Get(), *obj, name, value);
  });
}

CValue ProjectItem::GetParameterValue(const CString& name, double) const {
  host::SceneObject* obj = SceneObjectOf(ref_);
  if (!obj) return CValue();
  const std::string p = host::AsciiLower(name.GetUtf8String());
  if (p == "name") return CValue(obj->name);
  const double* field = obj->xf.Parameter(p);
  return field ? CValue(*field) : CValue();
}

long X3DObject::GetPolygonCount() const {
  host::SceneObject* obj = SceneObjectOf(ref_);
  return obj ? static_cast<long>(obj->geometry.FaceCount()) : 0;
}

long X3DObject::GetVertexCount() const {
  host::SceneObject* obj = SceneObjectOf(ref_);
  return obj ? static_cast<long>(obj->geometry.VertexCount()) : 0;
}

X3DObject X3DObject::FindChild(const CString& name) const {
  if (!IsRoot(ref_)) return X3DObject();
  const host::SceneObject* obj = host::Runtime::Get().GetScene().Find(name);
  return obj ? X3DObject(CRef(siRefKind::Object, obj->id)) : X3DObject();
}

// ---- Selection ----------------------------------------------------------------

long Selection::GetCount() const {
  return static_cast<long>(host::Runtime::Get().GetScene().SelectionIds().size());
}

CRef Selection::operator[](long index) const {
  auto& ids = host::Runtime::Get().GetScene().SelectionIds();
  if (index < 0 || static_cast<std::size_t>(index) >= ids.size()) return CRef();
  return CRef(siRefKind::Object, ids[static_cast<std::size_t>(index)]);
}

CStatus Selection::SetAsText(const CString& names) {
  return Guarded([&]() -> CStatus {
    host::Scene& scene = host::Runtime::Get().GetScene();
    std::vector<std::uint64_t> ids;
    for (const CString& name : host::SplitNames(names))
      if (auto* obj = scene.Find(name)) ids.push_back(obj->id);
    scene.SelectionIds() = ids;
    return ids.empty() ? CStatus::Fail : CStatus::OK;
  });
}

CString Selection::GetAsText() const {
  host::Scene& scene = host::Runtime::Get().GetScene();
  CString out;
  for (std::uint64_t id : scene.SelectionIds()) {
    if (!out.IsEmpty()) out += L",";
    if (auto* obj = scene.Get(id)) out += obj->name;
  }
  return out;
}

CStatus Selection::Clear() {
  host::Runtime::Get().GetScene().SelectionIds().clear();
  return CStatus::OK;
}

}  // namespace XSI
