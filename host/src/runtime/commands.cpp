// The host's own commands. Each one checks its arguments first and changes
// the scene only once nothing can fail any more, so a failed command leaves
// the scene as it was. Errors name the input and say what is wrong.
#include <algorithm>
#include <cctype>
#include <cmath>

#include "formats.h"
#include "runtime.h"

namespace host {

namespace {

using XSI::siRefKind;

CString Quote(const CString& s) { return L"'" + s + L"'"; }

std::string BaseName(const std::string& path) {
  std::string name = path;
  std::size_t slash = name.find_last_of('/');
  if (slash != std::string::npos) name = name.substr(slash + 1);
  std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name = name.substr(0, dot);
  return name;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::vector<CString> SplitPath(const CString& path) {
  std::vector<CString> out;
  std::wstring current;
  for (wchar_t c : path.Wide()) {
    if (c == L'.') {
      out.emplace_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  out.emplace_back(current);
  return out;
}

// Every command gets a small context: its name for messages and the runtime.
struct Cmd {
  Runtime& rt;
  const wchar_t* name;

  CStatus Fail(const CString& what, CStatus code = CStatus::Fail) const {
    rt.Error(CString(name) + L": " + what);
    return code;
  }
  bool NeedArgs(const CValueArray& args, long count, const wchar_t* usage) const {
    if (args.GetCount() >= count) return true;
    Fail(CString(L"expects ") + usage);
    return false;
  }
  SceneObject* Object(const CValue& nameValue, CStatus& status) const {
    CString objName = nameValue.GetAsText();
    SceneObject* obj = rt.GetScene().Find(objName);
    if (!obj) status = Fail(L"no object named " + Quote(objName), CStatus::NotFound);
    return obj;
  }
  SceneObject* Mesh(const CValue& nameValue, CStatus& status) const {
    SceneObject* obj = Object(nameValue, status);
    if (obj && !obj->mesh) {
      status = Fail(L"object " + Quote(obj->name) + L" has no mesh", CStatus::InvalidArgument);
      return nullptr;
    }
    return obj;
  }
};

void Select(Runtime& rt, std::uint64_t id) {
  auto& sel = rt.GetScene().SelectionIds();
  sel.clear();
  sel.push_back(id);
}

// ---- ObjImport(path, ...) -------------------------------------------------

CStatus ObjImport(Runtime& rt, const CValueArray& args, CValue& out) {
  Cmd cmd{rt, L"ObjImport"};
  if (!cmd.NeedArgs(args, 1, L"a file path")) return CStatus::InvalidArgument;
  std::string path = NormalisePath(ToUtf8(args[0].GetAsText()));
  if (path.empty()) return cmd.Fail(L"the file path is empty", CStatus::InvalidArgument);
  auto mesh = std::make_shared<host::Mesh>();
  std::string error;
  if (!ReadObj(path, *mesh, error)) return cmd.Fail(FromUtf8(error));
  SceneObject& obj = rt.GetScene().Create(FromUtf8(BaseName(path)));
  obj.mesh = std::move(mesh);
  Select(rt, obj.id);
  out = CRef(siRefKind::Object, obj.id);
  return CStatus::OK;
}

// ---- Duplicate(name) --------------------------------------------------------

CStatus Duplicate(Runtime& rt, const CValueArray& args, CValue& out) {
  Cmd cmd{rt, L"Duplicate"};
  if (!cmd.NeedArgs(args, 1, L"the name of the object to copy")) return CStatus::InvalidArgument;
  CStatus st;
  SceneObject* src = cmd.Object(args[0], st);
  if (!src) return st;
  src->Geometry();  // a live-merge input first becomes its own mesh again
  std::shared_ptr<host::Mesh> mesh = src->mesh;  // shared until one side changes
  Transform xf = src->xf;
  SceneObject& copy = rt.GetScene().Create(src->name);
  copy.mesh = std::move(mesh);
  copy.xf = xf;
  Select(rt, copy.id);
  out = CRef(siRefKind::Object, copy.id);
  return CStatus::OK;
}

// ---- DeleteObj(names) -------------------------------------------------------

CStatus DeleteObj(Runtime& rt, const CValueArray& args, CValue&) {
  Cmd cmd{rt, L"DeleteObj"};
  if (!cmd.NeedArgs(args, 1, L"the names of the objects to delete")) return CStatus::InvalidArgument;
  std::vector<std::uint64_t> ids;
  for (const CString& n : SplitNames(args[0].GetAsText())) {
    SceneObject* obj = rt.GetScene().Find(n);
    if (!obj) return cmd.Fail(L"no object named " + Quote(n), CStatus::NotFound);
    ids.push_back(obj->id);
  }
  if (ids.empty()) return cmd.Fail(L"no object named", CStatus::InvalidArgument);
  for (std::uint64_t id : ids) rt.GetScene().Delete(id);
  return CStatus::OK;
}

// ---- ApplyGenOp("MeshMerge", type, "a,b", ...) ------------------------------

// The merged mesh starts from the bigger input's buffers (shared, when only
// that input holds them) so a merge costs in proportion to the smaller one.
std::shared_ptr<host::Mesh> TakeOver(SceneObject& big, MeshPrefix& basePrefix) {
  big.Geometry();
  if (!big.xf.IsIdentity()) {
    auto baked = std::make_shared<host::Mesh>(BakeTransform(*big.mesh, big.xf));
    basePrefix = PrefixOf(*baked);
    return baked;
  }
  if (big.mesh.use_count() > 1) {
    auto copy = std::make_shared<host::Mesh>(*big.mesh);
    copy->weldIndex.reset();
    basePrefix = PrefixOf(*copy);
    return copy;
  }
  basePrefix = PrefixOf(*big.mesh);
  big.prefix = basePrefix;  // the input now views the leading part only
  return big.mesh;
}

CStatus ApplyGenOp(Runtime& rt, const CValueArray& args, CValue& out) {
  Cmd cmd{rt, L"ApplyGenOp"};
  if (!cmd.NeedArgs(args, 3, L"an operator, an output type and the input objects"))
    return CStatus::InvalidArgument;
  CString preset = args[0].GetAsText();
  if (Lower(ToUtf8(preset)) != "meshmerge")
    return cmd.Fail(L"unknown operator " + Quote(preset) + L" (this host has \"MeshMerge\")",
                    CStatus::InvalidArgument);
  std::vector<CString> names = SplitNames(args[2].GetAsText());
  if (names.size() != 2)
    return cmd.Fail(L"MeshMerge takes two input objects, got " + Quote(args[2].GetAsText()),
                    CStatus::InvalidArgument);
  CStatus st;
  SceneObject* a = cmd.Mesh(CValue(names[0]), st);
  if (!a) return st;
  SceneObject* b = cmd.Mesh(CValue(names[1]), st);
  if (!b) return st;
  if (a == b) return cmd.Fail(L"cannot merge " + Quote(a->name) + L" with itself", CStatus::InvalidArgument);

  SceneObject* big = a->Geometry()->CornerCount() >= b->Geometry()->CornerCount() ? a : b;
  SceneObject* small = big == a ? b : a;
  auto op = std::make_unique<MergeOperator>();
  op->inputs = {a->id, b->id};
  std::shared_ptr<host::Mesh> merged = TakeOver(*big, op->record.base);
  AppendMesh(*merged, *small->Geometry(), small->xf, op->record);

  SceneObject& result = rt.GetScene().Create(L"polymsh");
  result.mesh = std::move(merged);
  result.mergeOp = std::move(op);
  Select(rt, result.id);
  out = CRef(siRefKind::Object, result.id);
  return CStatus::OK;
}

// ---- parameters -------------------------------------------------------------

// Index of a transform parameter in Transform's arrays, or -1.
int KinematicIndex(const std::string& lower, double*& field, Transform& xf) {
  static const char* names[] = {"posx", "posy", "posz", "rotx", "roty", "rotz", "sclx", "scly", "sclz"};
  for (int i = 0; i < 9; ++i) {
    if (lower != names[i]) continue;
    double* arrays[] = {xf.pos, xf.rot, xf.scl};
    field = &arrays[i / 3][i % 3];
    return i;
  }
  return -1;
}

CStatus SetTolerance(Cmd& cmd, SceneObject& obj, const CValue& value) {
  if (!obj.mergeOp)
    return cmd.Fail(L"object " + Quote(obj.name) + L" has no live merge operator", CStatus::NotFound);
  double t = value.GetAsDouble();
  if (!std::isfinite(t) || t < 0)
    return cmd.Fail(L"tolerance must be a finite number >= 0, got " + Quote(value.GetAsText()),
                    CStatus::InvalidArgument);
  obj.mergeOp->tolerance = t;
  WeldAppended(*obj.mesh, obj.mergeOp->record, t);
  return CStatus::OK;
}

void JournalWrite(Runtime& rt, const CString& object, const CString& param, const CValue& value) {
  JournalEntry e;
  e.kind = JournalEntry::ParamWrite;
  e.object = object;
  e.name = param;
  e.value = value;
  rt.GetJournal().Add(std::move(e));
}

}  // namespace

// Shared with the SDK's ProjectItem::PutParameterValue.
CStatus WriteObjectParameter(Runtime& rt, SceneObject& obj, const CString& param, const CValue& value) {
  JournalWrite(rt, obj.name, param, value);
  std::string lower = Lower(ToUtf8(param));
  if (lower == "name") {
    CString wanted = value.GetAsText();
    if (wanted.IsEmpty()) {
      rt.Error(L"cannot rename " + Quote(obj.name) + L": the new name is empty");
      return CStatus::InvalidArgument;
    }
    rt.GetScene().Rename(obj.id, wanted);
    return CStatus::OK;
  }
  double* field = nullptr;
  if (KinematicIndex(lower, field, obj.xf) < 0) {
    rt.Error(L"object " + Quote(obj.name) + L" has no parameter " + Quote(param));
    return CStatus::InvalidArgument;
  }
  double v = value.GetAsDouble();
  if (!std::isfinite(v)) {
    rt.Error(L"cannot set " + obj.name + L"." + param + L" to " + Quote(value.GetAsText()) +
             L": not a finite number");
    return CStatus::InvalidArgument;
  }
  *field = v;
  return CStatus::OK;
}

namespace {

// SetValue(path, value). Paths: "<object>.<param>" (name, posx ... sclz; a
// "kine.global." or "kine.local." prefix is accepted) and
// "<object>[.<primitive>].mergemesh.tolerance".
CStatus SetValue(Runtime& rt, const CValueArray& args, CValue&) {
  Cmd cmd{rt, L"SetValue"};
  if (!cmd.NeedArgs(args, 2, L"a parameter path and a value")) return CStatus::InvalidArgument;
  CString path = args[0].GetAsText();
  std::vector<CString> parts = SplitPath(path);
  if (parts.size() < 2 || parts.front().IsEmpty() || parts.back().IsEmpty())
    return cmd.Fail(L"bad parameter path " + Quote(path) + L" (expected object.parameter)",
                    CStatus::InvalidArgument);
  CStatus st;
  SceneObject* obj = cmd.Object(CValue(parts.front()), st);
  if (!obj) return st;
  std::string last = Lower(ToUtf8(parts.back()));
  bool isOperator = parts.size() >= 3 && Lower(ToUtf8(parts[parts.size() - 2])) == "mergemesh";
  if (isOperator) {
    if (last != "tolerance")
      return cmd.Fail(L"the merge operator has no parameter " + Quote(parts.back()), CStatus::InvalidArgument);
    JournalWrite(rt, obj->name, L"mergemesh.tolerance", args[1]);
    return SetTolerance(cmd, *obj, args[1]);
  }
  return WriteObjectParameter(rt, *obj, parts.back(), args[1]);
}

// DeleteGeneratorInputs("<object>[.<primitive>].mergemesh")
CStatus DeleteGeneratorInputs(Runtime& rt, const CValueArray& args, CValue&) {
  Cmd cmd{rt, L"DeleteGeneratorInputs"};
  if (!cmd.NeedArgs(args, 1, L"an operator path")) return CStatus::InvalidArgument;
  CString path = args[0].GetAsText();
  std::vector<CString> parts = SplitPath(path);
  CStatus st;
  SceneObject* obj = cmd.Object(CValue(parts.front()), st);
  if (!obj) return st;
  if (!obj->mergeOp)
    return cmd.Fail(L"object " + Quote(obj->name) + L" has no live merge operator (" + Quote(path) + L")",
                    CStatus::NotFound);
  std::vector<std::uint64_t> inputs = obj->mergeOp->inputs;
  obj->mergeOp.reset();  // frozen: the weld stays as it is
  for (std::uint64_t id : inputs) rt.GetScene().Delete(id);
  return CStatus::OK;
}

// MoveCtr2Vertices(name): the centre goes to the middle of the vertices'
// bounding box; the geometry stays where it is in the world.
CStatus MoveCtr2Vertices(Runtime& rt, const CValueArray& args, CValue&) {
  Cmd cmd{rt, L"MoveCtr2Vertices"};
  if (!cmd.NeedArgs(args, 1, L"an object name")) return CStatus::InvalidArgument;
  CStatus st;
  SceneObject* obj = cmd.Mesh(args[0], st);
  if (!obj) return st;
  Bounds b = ComputeBounds(*obj->Geometry());
  if (b.empty) return cmd.Fail(L"object " + Quote(obj->name) + L" has no vertices", CStatus::InvalidArgument);
  Vec3 c{(b.min.x + b.max.x) * 0.5f, (b.min.y + b.max.y) * 0.5f, (b.min.z + b.max.z) * 0.5f};
  Vec3 worldCentre = obj->xf.ApplyPoint(c);
  TranslateMesh(*obj->MutableGeometry(), Vec3{-c.x, -c.y, -c.z});
  if (obj->mergeOp) {
    // A later tolerance change re-welds from the record: keep it in step.
    for (Vec3& p : obj->mergeOp->record.appendedPositions) p = Vec3{p.x - c.x, p.y - c.y, p.z - c.z};
  }
  obj->xf.pos[0] = worldCentre.x;
  obj->xf.pos[1] = worldCentre.y;
  obj->xf.pos[2] = worldCentre.z;
  return CStatus::OK;
}

// Translate(name, x, y, z, mode, frame, what, flags): moves the object with
// its geometry. mode 0 is absolute (the centre goes to x, y, z), 1 relative
// (moves by x, y, z). frame (8, global), what (1, the object) and flags are
// accepted for script compatibility and change nothing: objects have no
// parents here, so every frame is the global one.
CStatus Translate(Runtime& rt, const CValueArray& args, CValue&) {
  Cmd cmd{rt, L"Translate"};
  if (!cmd.NeedArgs(args, 4, L"an object name and x, y, z")) return CStatus::InvalidArgument;
  CStatus st;
  SceneObject* obj = cmd.Object(args[0], st);
  if (!obj) return st;
  double v[3] = {args[1].GetAsDouble(), args[2].GetAsDouble(), args[3].GetAsDouble()};
  for (double c : v)
    if (!std::isfinite(c)) return cmd.Fail(L"x, y and z must be finite numbers", CStatus::InvalidArgument);
  int mode = args.GetCount() > 4 ? args[4].GetAsInt() : 0;
  if (mode != 0 && mode != 1)
    return cmd.Fail(L"mode must be 0 (absolute) or 1 (relative), got " + Quote(args[4].GetAsText()),
                    CStatus::InvalidArgument);
  for (int i = 0; i < 3; ++i) obj->xf.pos[i] = mode == 0 ? v[i] : obj->xf.pos[i] + v[i];
  return CStatus::OK;
}

// CreateImageClip(path [, clipName]) -> the clip's CRef.
CStatus CreateImageClip(Runtime& rt, const CValueArray& args, CValue& out) {
  Cmd cmd{rt, L"CreateImageClip"};
  if (!cmd.NeedArgs(args, 1, L"an image file path")) return CStatus::InvalidArgument;
  std::string path = NormalisePath(ToUtf8(args[0].GetAsText()));
  if (path.empty()) return cmd.Fail(L"the image file path is empty", CStatus::InvalidArgument);
  std::string error;
  auto image = LoadImageFile(path, error);
  if (!image) return cmd.Fail(FromUtf8(error));
  CString clipName = args.GetCount() > 1 && !args[1].GetAsText().IsEmpty() ? args[1].GetAsText()
                                                                          : FromUtf8(BaseName(path));
  ClipRecord& clip = rt.NewClip(clipName, path, std::move(image));
  out = CRef(siRefKind::ImageClip, clip.id);
  return CStatus::OK;
}

// SaveScene(path): every mesh object, by the file's extension (.obj, .glb).
CStatus SaveScene(Runtime& rt, const CValueArray& args, CValue&) {
  Cmd cmd{rt, L"SaveScene"};
  if (!cmd.NeedArgs(args, 1, L"a file path ending in .obj or .glb")) return CStatus::InvalidArgument;
  std::string path = NormalisePath(ToUtf8(args[0].GetAsText()));
  std::size_t dot = path.find_last_of('.');
  std::string ext = dot == std::string::npos ? "" : Lower(path.substr(dot));
  if (ext != ".obj" && ext != ".glb")
    return cmd.Fail(L"cannot save " + Quote(FromUtf8(path)) + L": the name must end in .obj or .glb",
                    CStatus::InvalidArgument);
  std::vector<ExportItem> items;
  for (SceneObject* obj : rt.GetScene().Objects()) {
    const host::Mesh* mesh = obj->Geometry();
    if (!mesh) continue;
    items.push_back(ExportItem{ToUtf8(obj->name), mesh, obj->xf});
  }
  std::string error;
  bool ok = ext == ".obj" ? WriteObj(path, items, error) : WriteGlb(path, items, error);
  if (!ok) return cmd.Fail(FromUtf8(error));
  return CStatus::OK;
}

// NewScene(): removes every object.
CStatus NewScene(Runtime& rt, const CValueArray&, CValue&) {
  rt.GetScene().Clear();
  return CStatus::OK;
}

using HostFn = CStatus (*)(Runtime&, const CValueArray&, CValue&);

struct HostCommand {
  const wchar_t* name;
  HostFn fn;
  const wchar_t* description;
  std::vector<const wchar_t*> args;
};

}  // namespace

void RegisterHostCommands(Runtime& rt) {
  const HostCommand table[] = {
      {L"ObjImport", ObjImport, L"Import an .obj file (with its .mtl) as a mesh object",
       {L"path", L"group", L"hierarchy", L"normals", L"uvs", L"materials", L"lock"}},
      {L"Duplicate", Duplicate, L"Copy an object under a unique name and select the copy", {L"object"}},
      {L"DeleteObj", DeleteObj, L"Delete objects (comma-separated names)", {L"objects"}},
      {L"ApplyGenOp", ApplyGenOp, L"Apply a generator (\"MeshMerge\") to two mesh objects",
       {L"operator", L"outputtype", L"inputs", L"connection", L"history", L"keepinputs"}},
      {L"SetValue", SetValue, L"Set a parameter by path (object.param, polymsh.mergemesh.tolerance)",
       {L"path", L"value"}},
      {L"DeleteGeneratorInputs", DeleteGeneratorInputs, L"Delete a live generator's inputs and freeze it",
       {L"operator"}},
      {L"MoveCtr2Vertices", MoveCtr2Vertices, L"Move an object's centre to its vertices' bounding-box centre",
       {L"object"}},
      {L"Translate", Translate, L"Move an object (absolute or relative)",
       {L"object", L"x", L"y", L"z", L"mode", L"frame", L"what", L"flags"}},
      {L"CreateImageClip", CreateImageClip, L"Load an image file (BMP, PNG, JPEG, TGA) as a clip",
       {L"path", L"name"}},
      {L"SaveScene", SaveScene, L"Save every mesh to .obj (+.mtl) or binary glTF .glb", {L"path"}},
      {L"NewScene", NewScene, L"Remove every object from the scene", {}},
  };
  for (const HostCommand& c : table) {
    CommandDef def;
    def.name = c.name;
    def.scriptName = c.name;
    def.owner = L"host";
    def.description = c.description;
    def.returnsValue = true;
    for (const wchar_t* a : c.args) def.arguments.push_back(ArgumentDef{a, CValue()});
    HostFn fn = c.fn;
    Runtime* r = &rt;
    def.run = [fn, r](const CValueArray& args, CValue& out) { return fn(*r, args, out); };
    rt.RegisterCommand(std::move(def));
  }
}

}  // namespace host
