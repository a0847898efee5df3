// Cmd: what a host command's function works with while it checks its
// arguments. It names the command in every error, and finds the objects and
// paths the arguments name; a check that fails has already logged why.
#pragma once

#include <string>

#include "command_args.h"
#include "runtime.h"
#include "text.h"

namespace host {

struct Cmd {
  Runtime& rt;
  const wchar_t* name;
  // What Fail(what) returns: the tile commands report their argument
  // checks as InvalidArgument (Cmd{rt, L"ExportTile", CStatus::InvalidArgument}).
  CStatus defaultFailure = CStatus::Fail;
  CStatus failure = CStatus::OK;  // set by Target()

  // Logs "<command>: <what>" and returns `code`.
  CStatus Fail(const CString& what, CStatus code) const {
    rt.Error(CString(name) + L": " + what);
    return code;
  }
  CStatus Fail(const CString& what) const { return Fail(what, defaultFailure); }
  bool NeedArgs(const CValueArray& args, long count, const wchar_t* usage) const {
    if (args.GetCount() >= count) return true;
    Fail(CString(L"expects ") + usage);
    return false;
  }
  // Paths reach the operating system as C strings: a NUL would cut them.
  bool PathIsText(const CValue& path) const {
    if (!HasNul(path.GetAsText())) return true;
    Fail(L"the file path holds a NUL character");
    return false;
  }
  // The first argument as a path to read: present, free of NULs, not empty.
  bool PathArg(const CValueArray& args, const wchar_t* usage, const wchar_t* what,
               std::string& path) const {
    if (!NeedArgs(args, 1, usage) || !PathIsText(args[0])) return false;
    path = NormalisePath(ToUtf8(args[0].GetAsText()));
    if (!path.empty()) return true;
    Fail(CString(what) + L" is empty");
    return false;
  }
  // A path argument anywhere in the list: free of NULs and not empty, with
  // '\' read as '/'.
  bool Path(const CValue& value, std::string& path) const {
    const CString text = value.GetAsText();
    if (HasNul(text)) {
      Fail(L"the path holds a NUL character");
      return false;
    }
    path = NormalisePath(ToUtf8(text));
    if (!path.empty()) return true;
    Fail(L"the path is empty");
    return false;
  }
  SceneObject* Object(const CValue& nameValue, CStatus& status) const {
    CString objName = nameValue.GetAsText();
    SceneObject* obj = rt.GetScene().Find(objName);
    if (!obj) status = Fail(L"no object named " + QuoteArg(objName), CStatus::NotFound);
    return obj;
  }
  // The object named by the first argument, after checking the argument
  // count; null (with `failure` set and the error logged) otherwise.
  SceneObject* Target(const CValueArray& args, long count, const wchar_t* usage, bool needMesh) {
    if (!NeedArgs(args, count, usage)) {
      failure = CStatus::InvalidArgument;
      return nullptr;
    }
    return needMesh ? Mesh(args[0], failure) : Object(args[0], failure);
  }
  SceneObject* Mesh(const CValue& nameValue, CStatus& status) const {
    SceneObject* obj = Object(nameValue, status);
    if (obj && !obj->geometry.HasMesh()) {
      status = Fail(L"object " + QuoteArg(obj->name) + L" has no mesh", CStatus::InvalidArgument);
      return nullptr;
    }
    return obj;
  }
};

}  // namespace host
