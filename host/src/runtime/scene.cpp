#include <algorithm>

#include "scene.h"

namespace host {

using XSI::CString;

CString Scene::UniqueName(const CString& wanted) const {
  CString base = wanted.IsEmpty() ? CString(L"object") : wanted;
  if (!byName_.count(base)) return base;
  for (unsigned long n = 1;; ++n) {
    CString candidate = base + CString(std::to_wstring(n));
    if (!byName_.count(candidate)) return candidate;
  }
}

SceneObject& Scene::Create(const CString& wantedName) {
  auto obj = std::make_unique<SceneObject>();
  obj->id = nextId_++;
  obj->name = UniqueName(wantedName);
  SceneObject& ref = *obj;
  byName_[ref.name] = ref.id;
  objects_[ref.id] = std::move(obj);
  return ref;
}

SceneObject* Scene::Find(const CString& name) {
  auto it = byName_.find(name);
  return it == byName_.end() ? nullptr : Get(it->second);
}

const SceneObject* Scene::Find(const CString& name) const {
  auto it = byName_.find(name);
  if (it == byName_.end()) return nullptr;
  auto obj = objects_.find(it->second);
  return obj == objects_.end() ? nullptr : obj->second.get();
}

SceneObject* Scene::Get(std::uint64_t id) {
  auto it = objects_.find(id);
  return it == objects_.end() ? nullptr : it->second.get();
}

bool Scene::Delete(std::uint64_t id) {
  auto it = objects_.find(id);
  if (it == objects_.end()) return false;
  byName_.erase(it->second->name);
  objects_.erase(it);
  selection_.erase(std::remove(selection_.begin(), selection_.end(), id), selection_.end());
  return true;
}

CString Scene::Rename(std::uint64_t id, const CString& wantedName) {
  SceneObject* obj = Get(id);
  if (!obj) return CString();
  if (obj->name == wantedName) return obj->name;
  byName_.erase(obj->name);
  obj->name = UniqueName(wantedName);
  byName_[obj->name] = id;
  return obj->name;
}

std::vector<SceneObject*> Scene::Objects() {
  std::vector<SceneObject*> out;
  out.reserve(objects_.size());
  for (auto& [id, obj] : objects_) out.push_back(obj.get());
  return out;
}

void Scene::Clear() {
  objects_.clear();
  byName_.clear();
  selection_.clear();
}

}  // namespace host
