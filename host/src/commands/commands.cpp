// The host's own commands. Each one checks its arguments first and changes
// the scene only once nothing can fail any more, so a failed command leaves
// the scene as it was. Errors name the input and say what is wrong.
#include <algorithm>
#include <cctype>
#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <utility>

#include <xsi_names.h>

#include "cmd.h"
#include "command_args.h"
#include "formats.h"
#include "heightfield.h"
#include "preview_command.h"
#include "raster_commands.h"
#include "raster_gdal.h"
#include "runtime.h"
#include "tile_commands.h"

namespace host {

namespace {

using XSI::siRefKind;

// A name or path echoed in an error: quoted, and cut when it is long, since
// it may be anything a script or a plug-in passed.
CString Quote(const CString& s) { return QuoteArg(s); }

std::string BaseName(const std::string& path) {
  std::string name = path;
  std::size_t slash = name.find_last_of('/');
  if (slash != std::string::npos) name = name.substr(slash + 1);
  std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name = name.substr(0, dot);
  return name;
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

FileStamp StampOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return FileStamp{};
  return FileStamp{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                   static_cast<std::int64_t>(st.st_size), static_cast<std::int64_t>(st.st_mtim.tv_sec),
                   static_cast<std::int64_t>(st.st_mtim.tv_nsec), true};
}

// A clip of a window matches only a clip of the same window; the whole
// picture only the whole picture.
std::shared_ptr<const XSI::detail::ImageData> SharedImage(Runtime& rt, const std::string& path,
                                                          const FileStamp& stamp,
                                                          const std::optional<PixelWindow>& window) {
  if (!stamp.valid) return nullptr;
  for (const ClipRecord* clip : rt.Clips())
    if (clip->path == path && clip->stamp == stamp && clip->window == window) return clip->image;
  return nullptr;
}

const ClipRecord* SameClip(Runtime& rt, const CString& name, const std::string& path,
                          const FileStamp& stamp, const std::optional<PixelWindow>& window) {
  for (const ClipRecord* clip : rt.Clips())
    if (clip->name == name && clip->path == path && clip->stamp == stamp && clip->window == window) return clip;
  return nullptr;
}

void Select(Runtime& rt, std::uint64_t id) {
  auto& sel = rt.GetScene().SelectionIds();
  sel.clear();
  sel.push_back(id);
}

// ---- ObjImport(path, ...) -------------------------------------------------

CStatus ObjImport(Runtime& rt, const CValueArray& args, CValue& out) {
  Cmd cmd{rt, L"ObjImport"};
  std::string path;
  if (!cmd.PathArg(args, L"a file path", L"the file path", path)) return CStatus::InvalidArgument;
  host::Mesh mesh;
  std::string error;
  std::vector<std::string> warnings;
  // The object is named after the file: the one object name rule applies.
  const CString objectName = FromUtf8(BaseName(path));
  const std::wstring why = XSI::ObjectNameProblem(objectName.Wide());
  if (!why.empty())
    return cmd.Fail(L"the file " + Quote(FromUtf8(path)) + L" would give the object name " + Quote(objectName) +
                        L", which " + CString(why),
                    CStatus::InvalidArgument);
  if (!ReadObj(path, mesh, error, &warnings)) return cmd.Fail(FromUtf8(error));
  for (const std::string& w : warnings) rt.Warning(L"ObjImport: " + FromUtf8(w));
  SceneObject& obj = rt.GetScene().Create(objectName);
  obj.geometry = Geometry(std::move(mesh));
  Select(rt, obj.id);
  out = CRef(siRefKind::Object, obj.id);
  return CStatus::OK;
}

// ---- Duplicate(name) --------------------------------------------------------

CStatus Duplicate(Runtime& rt, const CValueArray& args, CValue& out) {
  Cmd cmd{rt, L"Duplicate"};
  SceneObject* src = cmd.Target(args, 1, L"the name of the object to copy", false);
  if (!src) return cmd.failure;
  Geometry geometry = src->geometry;  // shared until one side changes
  Transform xf = src->xf;
  SceneObject& copy = rt.GetScene().Create(src->name);
  copy.geometry = std::move(geometry);
  copy.xf = xf;
  Select(rt, copy.id);
  out = CRef(siRefKind::Object, copy.id);
  return CStatus::OK;
}

// ---- DeleteObj(names) -------------------------------------------------------

CStatus DeleteObj(Runtime& rt, const CValueArray& args, CValue&) {
  Cmd cmd{rt, L"DeleteObj"};
  if (!cmd.NeedArgs(args, 1, L"the names of the objects to delete")) return CStatus::InvalidArgument;
  const std::vector<CString> names = SplitNames(args[0].GetAsText());
  if (names.empty())
    return cmd.Fail(L"the list of objects " + Quote(args[0].GetAsText()) +
                        L" is empty: give the names of the objects to delete, separated by commas",
                    CStatus::InvalidArgument);
  std::vector<std::uint64_t> ids;
  for (const CString& n : names) {
    SceneObject* obj = rt.GetScene().Find(n);
    if (!obj) return cmd.Fail(L"no object named " + Quote(n), CStatus::NotFound);
    ids.push_back(obj->id);
  }
  for (std::uint64_t id : ids) rt.GetScene().Delete(id);
  return CStatus::OK;
}

// ---- ApplyGenOp("MeshMerge", type, "a,b", ...) ------------------------------

// The merged mesh starts from the bigger input's buffer (handed over when
// that input alone holds it) so a merge costs in proportion to the smaller.
// A handed-over buffer brings the weld index its merge operator kept.
Geometry TakeOver(SceneObject& big, MergeOperator& op) {
  if (!big.xf.IsIdentity()) return Geometry(BakeTransform(*big.geometry.Snapshot(), big.xf));
  if (big.geometry.CanHandOver() && big.mergeOp) op.weld = std::move(big.mergeOp->weld);
  return big.geometry.HandOver();
}

CStatus ApplyGenOp(Runtime& rt, const CValueArray& args, CValue& out) {
  Cmd cmd{rt, L"ApplyGenOp"};
  if (!cmd.NeedArgs(args, 3, L"an operator, an output type and the input objects"))
    return CStatus::InvalidArgument;
  CString preset = args[0].GetAsText();
  if (AsciiLower(ToUtf8(preset)) != "meshmerge")
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

  SceneObject* big = a->geometry.CornerCount() >= b->geometry.CornerCount() ? a : b;
  SceneObject* small = big == a ? b : a;
  // No finiteness check here: every command that moves an object keeps its
  // world coordinates finite, and a check would cost the bigger input's size.
  // Refused before anything changes: the merged mesh indexes with 32 bits.
  try {
    CheckMergedSize(MeshPrefix{big->geometry.VertexCount(), big->geometry.CornerCount(), 0, 0},
                    small->geometry.VertexCount(), small->geometry.CornerCount());
  } catch (const std::length_error& e) {
    return cmd.Fail(L"cannot merge " + Quote(a->name) + L" with " + Quote(b->name) + L": " + FromUtf8(e.what()),
                    CStatus::InvalidArgument);
  }
  auto op = std::make_unique<MergeOperator>();
  op->inputs = {a->id, b->id};
  std::shared_ptr<const host::Mesh> appended = small->geometry.Snapshot();
  Geometry merged = TakeOver(*big, *op);
  MeshTail tail = merged.EditTail();
  op->base = PrefixOf(tail.Read());
  AppendMesh(tail, op->base, *appended, small->xf, op->record);

  SceneObject& result = rt.GetScene().Create(L"polymsh");
  result.geometry = std::move(merged);
  result.mergeOp = std::move(op);
  Select(rt, result.id);
  out = CRef(siRefKind::Object, result.id);
  return CStatus::OK;
}

// ---- parameters -------------------------------------------------------------

// A value given as a number. Text must spell a finite number; an empty value
// (a missing trailing argument) reads as 0. False for anything else, which
// would otherwise become a silent 0.
bool FiniteNumber(const CValue& value, double& out) {
  switch (value.GetType()) {
    case CValue::siEmpty:
      out = 0.0;
      return true;
    case CValue::siBool:
      out = value.GetAsDouble();
      return true;
    default:
      return ReadFiniteNumber(value, out);
  }
}

CStatus SetTolerance(Cmd& cmd, SceneObject& obj, const CValue& value) {
  MergeOperator* op = obj.LiveMerge();
  if (!op)
    return cmd.Fail(L"object " + Quote(obj.name) + L" has no live merge operator", CStatus::NotFound);
  double t = 0.0;
  if (!FiniteNumber(value, t) || t < 0)
    return cmd.Fail(L"tolerance must be a finite number >= 0, got " + Quote(value.GetAsText()),
                    CStatus::InvalidArgument);
  op->tolerance = t;
  MeshTail tail = obj.geometry.EditTail();
  WeldAppended(tail, op->base, op->record, op->weld, t);
  return CStatus::OK;
}

// True when `xf` puts every point of the object on finite float coordinates
// (an object without a mesh needs finite parameters only).
bool KeepsGeometryFinite(const SceneObject& obj, const Transform& xf) {
  if (!obj.geometry.HasMesh()) return xf.IsFinite();
  const Bounds b = ComputeBounds(*obj.geometry.Snapshot());
  return b.empty ? xf.IsFinite() : xf.KeepsFinite(b.min, b.max);
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
  std::string lower = AsciiLower(ToUtf8(param));
  if (lower == "name") {
    CString wanted = value.GetAsText();
    if (wanted.IsEmpty()) {
      rt.Error(L"cannot rename " + Quote(obj.name) + L": the new name is empty");
      return CStatus::InvalidArgument;
    }
    const std::wstring why = XSI::ObjectNameProblem(wanted.Wide());
    if (!why.empty()) {
      rt.Error(L"cannot rename " + Quote(obj.name) + L": the new name " + Quote(wanted) + L" " + CString(why));
      return CStatus::InvalidArgument;
    }
    rt.GetScene().Rename(obj.id, wanted);
    return CStatus::OK;
  }
  Transform xf = obj.xf;
  double* field = xf.Parameter(lower);
  if (!field) {
    rt.Error(L"object " + Quote(obj.name) + L" has no parameter " + Quote(param));
    return CStatus::InvalidArgument;
  }
  double v = 0.0;
  if (!FiniteNumber(value, v)) {
    rt.Error(L"cannot set " + obj.name + L"." + param + L" to " + Quote(value.GetAsText()) +
             L": not a finite number");
    return CStatus::InvalidArgument;
  }
  *field = v;
  if (!KeepsGeometryFinite(obj, xf)) {
    rt.Error(L"cannot set " + obj.name + L"." + param + L" to " + Quote(value.GetAsText()) +
             L": the object's world coordinates would not be finite");
    return CStatus::InvalidArgument;
  }
  obj.xf = xf;
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
  std::string last = AsciiLower(ToUtf8(parts.back()));
  bool isOperator = parts.size() >= 3 && AsciiLower(ToUtf8(parts[parts.size() - 2])) == "mergemesh";
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
  MergeOperator* op = obj->LiveMerge();
  if (!op)
    return cmd.Fail(L"object " + Quote(obj->name) + L" has no live merge operator (" + Quote(path) + L")",
                    CStatus::NotFound);
  std::vector<std::uint64_t> inputs = std::move(op->inputs);
  // Frozen: the weld stays as it is; only the weld index is kept, for the
  // next merge of this object.
  op->live = false;
  op->inputs.clear();
  op->record = MergeRecord{};
  for (std::uint64_t id : inputs) rt.GetScene().Delete(id);
  return CStatus::OK;
}

// MoveCtr2Vertices(name): the centre goes to the middle of the vertices'
// bounding box; the geometry stays where it is in the world.
CStatus MoveCtr2Vertices(Runtime& rt, const CValueArray& args, CValue&) {
  Cmd cmd{rt, L"MoveCtr2Vertices"};
  SceneObject* obj = cmd.Target(args, 1, L"an object name", true);
  if (!obj) return cmd.failure;
  const Bounds b = ComputeBounds(*obj->geometry.Snapshot());
  if (b.empty) return cmd.Fail(L"object " + Quote(obj->name) + L" has no vertices", CStatus::InvalidArgument);
  if (!obj->xf.KeepsFinite(b.min, b.max))
    return cmd.Fail(L"object " + Quote(obj->name) + L" has world coordinates that are not finite",
                    CStatus::InvalidArgument);
  Vec3 c{(b.min.x + b.max.x) * 0.5f, (b.min.y + b.max.y) * 0.5f, (b.min.z + b.max.z) * 0.5f};
  Vec3 worldCentre = obj->xf.ApplyPoint(c);
  TranslateMesh(obj->geometry.Edit(), Vec3{-c.x, -c.y, -c.z}, obj->mergeOp ? &obj->mergeOp->weld : nullptr);
  if (MergeOperator* op = obj->LiveMerge()) {
    // A later tolerance change re-welds from the record: keep it in step.
    for (Vec3& p : op->record.appendedPositions) p = Vec3{p.x - c.x, p.y - c.y, p.z - c.z};
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
  SceneObject* obj = cmd.Target(args, 4, L"an object name and x, y, z", false);
  if (!obj) return cmd.failure;
  double v[3] = {0, 0, 0};
  for (int i = 0; i < 3; ++i)
    if (!FiniteNumber(args[1 + i], v[i]))
      return cmd.Fail(L"x, y and z must be finite numbers, got " + Quote(args[1 + i].GetAsText()),
                      CStatus::InvalidArgument);
  int mode = args.GetCount() > 4 ? args[4].GetAsInt() : 0;
  if (mode != 0 && mode != 1)
    return cmd.Fail(L"mode must be 0 (absolute) or 1 (relative), got " + Quote(args[4].GetAsText()),
                    CStatus::InvalidArgument);
  Transform xf = obj->xf;
  for (int i = 0; i < 3; ++i) xf.pos[i] = mode == 0 ? v[i] : xf.pos[i] + v[i];
  if (!KeepsGeometryFinite(*obj, xf))
    return cmd.Fail(L"cannot move " + Quote(obj->name) + L": its world coordinates would not be finite",
                    CStatus::InvalidArgument);
  obj->xf = xf;
  return CStatus::OK;
}

// CreateImageClip(path [, clipName [, x, y, width, height]]) -> the clip's
// CRef. With a window (pixels from the top-left) the clip holds only it.
CStatus CreateImageClip(Runtime& rt, const CValueArray& args, CValue& out) {
  Cmd cmd{rt, L"CreateImageClip"};
  std::string path;
  if (!cmd.PathArg(args, L"an image file path", L"the image file path", path))
    return CStatus::InvalidArgument;
  CString clipName = args.GetCount() > 1 && !args[1].GetAsText().IsEmpty() ? args[1].GetAsText()
                                                                          : FromUtf8(BaseName(path));
  PixelWindow area;
  bool windowed = false;
  CString problem;
  if (!ReadWindowArgs(args, 2, area, windowed, problem)) return cmd.Fail(problem, CStatus::InvalidArgument);
  const std::optional<PixelWindow> window = windowed ? std::optional<PixelWindow>(area) : std::nullopt;
  // The same unchanged file loaded again under the same name is the same
  // clip; under another name it shares the decoded pixels. So a script that
  // loads one image run after run holds it once, and holds one record.
  FileStamp stamp = StampOf(path);
  if (const ClipRecord* same = SameClip(rt, clipName, path, stamp, window)) {
    out = CRef(siRefKind::ImageClip, same->id);
    return CStatus::OK;
  }
  std::shared_ptr<const XSI::detail::ImageData> image = SharedImage(rt, path, stamp, window);
  std::string error;
  if (!image) image = window ? LoadImageWindow(path, *window, error) : LoadImageFile(path, error);
  if (!image) return cmd.Fail(FromUtf8(error));
  ClipRecord& clip = rt.NewClip(clipName, path, std::move(image));
  clip.stamp = stamp;
  clip.window = window;
  out = CRef(siRefKind::ImageClip, clip.id);
  return CStatus::OK;
}

// Saves big enough to take a moment report progress: a .glb of at least
// 8 MiB per MiB written, an .obj of at least 500,000 corners per object.
ExportProgress SaveProgress(ProgressScope& bar, const std::string& ext, const std::vector<ExportItem>& items) {
  constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;
  if (ext == ".glb") {
    return [&bar](std::uint64_t done, std::uint64_t total) {
      if (total < 8 * kMiB) return true;
      const std::uint64_t mib = (total + kMiB - 1) / kMiB;
      const std::uint64_t doneMib = done >= total ? mib : done / kMiB;
      return bar.Report(static_cast<long>(doneMib), static_cast<long>(mib),
                        FromUtf8(std::to_string(doneMib) + " of " + std::to_string(mib) + " MiB written"));
    };
  }
  std::uint64_t corners = 0;
  for (const ExportItem& item : items) corners += item.mesh ? item.mesh->cornerVertex.size() : 0;
  if (corners < 500000) return nullptr;
  return [&bar, &items](std::uint64_t done, std::uint64_t total) {
    const std::string next = done < items.size() ? "object '" + items[done].name + "'" : "writing";
    return bar.Report(static_cast<long>(done), static_cast<long>(total), FromUtf8(next));
  };
}

// SaveScene(path): every mesh object, by the file's extension (.obj, .glb).
CStatus SaveScene(Runtime& rt, const CValueArray& args, CValue&) {
  Cmd cmd{rt, L"SaveScene"};
  if (!cmd.NeedArgs(args, 1, L"a file path ending in .obj or .glb")) return CStatus::InvalidArgument;
  if (!cmd.PathIsText(args[0])) return CStatus::InvalidArgument;
  std::string path = NormalisePath(ToUtf8(args[0].GetAsText()));
  std::size_t dot = path.find_last_of('.');
  std::string ext = dot == std::string::npos ? "" : AsciiLower(path.substr(dot));
  if (ext != ".obj" && ext != ".glb")
    return cmd.Fail(L"cannot save " + Quote(FromUtf8(path)) + L": the name must end in .obj or .glb",
                    CStatus::InvalidArgument);
  std::vector<std::shared_ptr<const host::Mesh>> meshes;  // keeps the items' meshes alive
  std::vector<ExportItem> items;
  for (SceneObject* obj : rt.GetScene().Objects()) {
    if (!obj->geometry.HasMesh()) continue;
    meshes.push_back(obj->geometry.Snapshot());
    items.push_back(ExportItem{ToUtf8(obj->name), meshes.back().get(), obj->xf});
  }
  // A bar for a save that takes a while (SaveProgress); a cancel leaves
  // the old file as it was and no new one.
  ProgressScope bar(rt.GetProgress(), L"SaveScene " + FromUtf8(std::filesystem::path(path).filename().string()));
  std::string error;
  const ExportProgress progress = SaveProgress(bar, ext, items);
  bool ok = ext == ".obj" ? WriteObj(path, items, error, progress) : WriteGlb(path, items, error, progress);
  if (!ok && bar.Cancelled()) return CStatus::Abort;
  if (!ok) return cmd.Fail(FromUtf8(error));
  return CStatus::OK;
}

// NewScene(): removes every object and image clip.
CStatus NewScene(Runtime& rt, const CValueArray&, CValue&) {
  rt.ClearScene();
  return CStatus::OK;
}

// DeleteImageClip(name): frees every clip of that name.
CStatus DeleteImageClip(Runtime& rt, const CValueArray& args, CValue&) {
  Cmd cmd{rt, L"DeleteImageClip"};
  if (!cmd.NeedArgs(args, 1, L"the name of an image clip")) return CStatus::InvalidArgument;
  const CString name = args[0].GetAsText();
  std::vector<std::uint64_t> ids;
  for (const ClipRecord* clip : rt.Clips())
    if (clip->name == name) ids.push_back(clip->id);
  if (ids.empty()) return cmd.Fail(L"no image clip named " + Quote(name), CStatus::NotFound);
  for (std::uint64_t id : ids) rt.DropClip(id);
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
      {L"CreateImageClip", CreateImageClip,
       L"Load an image file (BMP, PNG, JPEG, TGA, TIFF), or a window of it, as a clip",
       {L"path", L"name", L"x", L"y", L"width", L"height"}},
      {L"SaveScene", SaveScene, L"Save every mesh to .obj (+.mtl) or binary glTF .glb", {L"path"}},
      {L"NewScene", NewScene, L"Remove every object and image clip from the scene", {}},
      {L"DeleteImageClip", DeleteImageClip, L"Free the image clips of a name", {L"clip"}},
      {L"CreateHeightField", CreateHeightField,
       L"Make a terrain grid mesh from an image's red component or a DEM, whole or a window of it",
       {L"imagePath", L"objectName", L"sizeX", L"sizeZ", L"height", L"step", L"windowX", L"windowY",
        L"windowWidth", L"windowHeight", L"units"}},
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
  RegisterPreviewCommand(rt);
  RegisterRasterCommands(rt);
  RegisterTileCommands(rt);
}

}  // namespace host
