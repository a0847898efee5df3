// The host commands a tiling plug-in writes its output with. Like every host
// command each one checks its arguments first and changes the scene or a
// file only once nothing can fail any more; errors name the input.
#include "tile_commands.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cwctype>
#include <filesystem>
#include <set>
#include <system_error>

#include "cmd.h"
#include "command_args.h"
#include "export_item.h"
#include "runtime.h"
#include "safe_file.h"
#include "tile_mesh.h"
#include "tile_writer.h"

namespace host {
namespace {

CString Quote(const CString& s) { return QuoteArg(s); }
CString QuoteUtf8(const std::string& s) { return QuoteArg(FromUtf8(s)); }

// The names the host's comma-separated lists would read differently, or that
// cannot be shown (as CreateHeightField and RaiseTower check them).
bool NameProblem(const CString& name, CString& problem) {
  const std::wstring& w = name.Wide();
  if (w.empty()) problem = L"the object name is empty";
  else if (w.size() > 256) problem = L"the object name is longer than 256 characters";
  else if (w.find(L',') != std::wstring::npos) problem = L"the object name " + Quote(name) + L" holds a comma";
  else if (std::iswspace(w.front()) || std::iswspace(w.back()))
    problem = L"the object name " + Quote(name) + L" begins or ends with white space";
  else {
    for (wchar_t c : w)
      if (c < 0x20 || c == 0x7f) problem = L"the object name " + Quote(name) + L" holds a control character";
  }
  return !problem.IsEmpty();
}

// ---- ExportTile(path, objects, options) -------------------------------------

std::string StemOf(const std::string& path) {
  std::string name = path.substr(path.find_last_of('/') + 1);
  const std::size_t dot = name.find_last_of('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

CStatus ExportTile(Runtime& rt, const CValueArray& args, CValue& out) {
  Cmd cmd{rt, L"ExportTile", CStatus::InvalidArgument};
  if (!cmd.NeedArgs(args, 1, L"a .glb path, the objects (comma-separated, empty for every mesh) and options"))
    return CStatus::InvalidArgument;
  std::string path;
  if (!cmd.Path(args[0], path)) return CStatus::InvalidArgument;
  if (path.size() < 4 || AsciiLower(path.substr(path.size() - 4)) != ".glb")
    return cmd.Fail(L"cannot write " + QuoteUtf8(path) + L": the name must end in .glb");
  TileOptions options;
  options.mergedName = StemOf(path);
  std::string problem;
  if (args.GetCount() > 2 && !ParseTileOptions(ToUtf8(args[2].GetAsText()), options, problem))
    return cmd.Fail(FromUtf8(problem));

  std::vector<SceneObject*> objects;
  const std::vector<CString> names = args.GetCount() > 1 ? SplitNames(args[1].GetAsText()) : std::vector<CString>{};
  if (names.empty()) {
    for (SceneObject* obj : rt.GetScene().Objects())
      if (obj->geometry.HasMesh()) objects.push_back(obj);
    if (objects.empty()) return cmd.Fail(L"the scene has no mesh object to write");
  } else {
    std::set<std::uint64_t> seen;
    for (const CString& n : names) {
      SceneObject* obj = rt.GetScene().Find(n);
      if (!obj) return cmd.Fail(L"no object named " + Quote(n), CStatus::NotFound);
      if (!obj->geometry.HasMesh()) return cmd.Fail(L"object " + Quote(n) + L" has no mesh");
      if (!seen.insert(obj->id).second) return cmd.Fail(L"object " + Quote(n) + L" is named twice");
      objects.push_back(obj);
    }
  }
  std::vector<std::shared_ptr<const Mesh>> meshes;  // keeps the items' meshes alive
  std::vector<ExportItem> items;
  for (SceneObject* obj : objects) {
    meshes.push_back(obj->geometry.Snapshot());
    items.push_back(ExportItem{ToUtf8(obj->name), meshes.back().get(), obj->xf});
  }
  std::string glb, reason;
  TileStats stats;
  const bool ok = EncodeTile(items, options, glb, stats, reason) && WriteFileAtomically(path, glb, reason);
  if (!ok) return cmd.Fail(L"cannot write tile " + QuoteUtf8(path) + L": " + FromUtf8(reason), CStatus::Fail);
  out = CValue(FromUtf8(TileStatsJson(stats)));
  return CStatus::OK;
}

// ---- CreateBlocks(name, boxes) -----------------------------------------------

CStatus CreateBlocks(Runtime& rt, const CValueArray& args, CValue& out) {
  Cmd cmd{rt, L"CreateBlocks", CStatus::InvalidArgument};
  if (!cmd.NeedArgs(args, 2, L"an object name and boxes \"x0 y0 z0 x1 y1 z1 r g b;...\""))
    return CStatus::InvalidArgument;
  const CString name = args[0].GetAsText();
  CString problem;
  if (NameProblem(name, problem)) return cmd.Fail(problem);
  if (rt.GetScene().Find(name)) return cmd.Fail(L"an object named " + Quote(name) + L" already exists");
  std::vector<Block> blocks;
  std::string error;
  if (!ParseBlocks(ToUtf8(args[1].GetAsText()), blocks, error)) return cmd.Fail(L"boxes: " + FromUtf8(error));
  Mesh mesh = BuildBlocks(blocks);
  SceneObject& obj = rt.GetScene().Create(name);
  obj.geometry = Geometry(std::move(mesh));
  rt.GetScene().SelectionIds().assign(1, obj.id);
  out = CRef(XSI::siRefKind::Object, obj.id);
  return CStatus::OK;
}

// ---- SimplifyMesh(object, ratio, maxError) ----------------------------------

CStatus SimplifyMesh(Runtime& rt, const CValueArray& args, CValue& out) {
  Cmd cmd{rt, L"SimplifyMesh", CStatus::InvalidArgument};
  if (!cmd.NeedArgs(args, 3, L"a mesh object, a ratio (0..1) and a relative error (>= 0)"))
    return CStatus::InvalidArgument;
  const CString name = args[0].GetAsText();
  SceneObject* obj = rt.GetScene().Find(name);
  if (!obj) return cmd.Fail(L"no object named " + Quote(name), CStatus::NotFound);
  if (!obj->geometry.HasMesh()) return cmd.Fail(L"object " + Quote(name) + L" has no mesh");
  // A live merge re-welds its appended part from a record of the old
  // vertices, which a simplified mesh no longer has.
  if (obj->LiveMerge())
    return cmd.Fail(L"object " + Quote(name) +
                    L" has a live merge operator; freeze it first (DeleteGeneratorInputs)");
  double ratio = 0, maxError = 0;
  if (!ReadFiniteNumber(args[1], ratio) || ratio < 0 || ratio > 1)
    return cmd.Fail(L"ratio must be a number from 0 to 1, got " + Quote(args[1].GetAsText()));
  if (!ReadFiniteNumber(args[2], maxError) || maxError < 0)
    return cmd.Fail(L"maxError must be a finite number >= 0, got " + Quote(args[2].GetAsText()));
  std::shared_ptr<const Mesh> before = obj->geometry.Snapshot();
  const std::string broken = ExportProblem({ExportItem{ToUtf8(obj->name), before.get(), Transform{}}});
  if (!broken.empty()) return cmd.Fail(L"cannot simplify: " + FromUtf8(broken));
  Mesh simplified;
  SimplifyReport report;
  std::string error;
  if (!SimplifyMeshKeepingBorders(*before, ratio, maxError, simplified, report, error))
    return cmd.Fail(L"cannot simplify object " + Quote(name) + L": " + FromUtf8(error));
  before.reset();
  obj->geometry.Edit() = std::move(simplified);  // copies first when the mesh is shared
  if (obj->mergeOp) obj->mergeOp->weld.reset();  // it indexed the old positions
  out = CValue(report.error);
  return CStatus::OK;
}

// ---- WriteTextFile(path, text), MakeFolder(path) -----------------------------

CStatus WriteTextFile(Runtime& rt, const CValueArray& args, CValue&) {
  Cmd cmd{rt, L"WriteTextFile", CStatus::InvalidArgument};
  if (!cmd.NeedArgs(args, 2, L"a file path and the text")) return CStatus::InvalidArgument;
  std::string path, reason;
  if (!cmd.Path(args[0], path)) return CStatus::InvalidArgument;
  if (!WriteFileAtomically(path, ToUtf8(args[1].GetAsText()), reason))
    return cmd.Fail(L"cannot write " + QuoteUtf8(path) + L": the file " + FromUtf8(reason), CStatus::Fail);
  return CStatus::OK;
}

// The first part of `path` that exists and is not a folder (links followed),
// or "".
std::string BlockingPart(const std::filesystem::path& path) {
  std::filesystem::path part;
  for (const auto& piece : path) {
    part /= piece;
    struct stat st;
    if (stat(part.c_str(), &st) != 0) return {};
    if (!S_ISDIR(st.st_mode)) return part.string();
  }
  return {};
}

CStatus MakeFolder(Runtime& rt, const CValueArray& args, CValue&) {
  Cmd cmd{rt, L"MakeFolder", CStatus::InvalidArgument};
  if (!cmd.NeedArgs(args, 1, L"a folder path")) return CStatus::InvalidArgument;
  std::string path;
  if (!cmd.Path(args[0], path)) return CStatus::InvalidArgument;
  const std::string blocking = BlockingPart(path);
  if (!blocking.empty())
    return cmd.Fail(L"cannot make folder " + QuoteUtf8(path) + L": " + QuoteUtf8(blocking) +
                        L" exists and is not a folder",
                    CStatus::Fail);
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  if (ec) return cmd.Fail(L"cannot make folder " + QuoteUtf8(path) + L": " + FromUtf8(ErrnoReason(ec.value())),
                          CStatus::Fail);
  return CStatus::OK;
}

using HostFn = CStatus (*)(Runtime&, const CValueArray&, CValue&);

struct TileCommand {
  const wchar_t* name;
  HostFn fn;
  const wchar_t* description;
  std::vector<const wchar_t*> args;
};

}  // namespace

void RegisterTileCommands(Runtime& rt) {
  const TileCommand table[] = {
      {L"ExportTile", ExportTile,
       L"Write mesh objects to a .glb tile, quantized and meshopt-compressed unless options say \"plain\"",
       {L"path", L"objects", L"options"}},
      {L"CreateBlocks", CreateBlocks, L"Make one mesh object of coloured boxes (\"x0 y0 z0 x1 y1 z1 r g b;...\")",
       {L"name", L"boxes"}},
      {L"SimplifyMesh", SimplifyMesh, L"Simplify a mesh in place, keeping its X/Z border; returns the error",
       {L"object", L"ratio", L"maxError"}},
      {L"WriteTextFile", WriteTextFile, L"Write UTF-8 text to a file (temporary file, then rename)",
       {L"path", L"text"}},
      {L"MakeFolder", MakeFolder, L"Create a folder and its missing parents", {L"path"}},
  };
  for (const TileCommand& c : table) {
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
