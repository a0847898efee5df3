// The host runtime: one per process. Owns the scene, the command registry,
// the journal, the log, command definitions, contexts, registrars and image
// clips. The SDK handles (XSI::*) are thin views onto it by id.
//
// Not thread-safe: the host runs one command at a time on its thread.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <xsi_ref.h>
#include <xsi_status.h>
#include <xsi_string.h>
#include <xsi_value.h>

#include "image_data.h"
#include "mesh.h"
#include "mesh_ops.h"

namespace host {

using XSI::CRef;
using XSI::CStatus;
using XSI::CString;
using XSI::CValue;
using XSI::CValueArray;

// ---- scene ---------------------------------------------------------------

// A live "MeshMerge" operator on its result object. It lives until
// "DeleteGeneratorInputs" freezes it; until then "tolerance" can be set (and
// set again) and the appended part is re-welded.
struct MergeOperator {
  CString name = L"mergemesh";
  std::vector<std::uint64_t> inputs;  // generator inputs, deleted on request
  MergeRecord record;
  double tolerance = 0.0;
};

struct SceneObject {
  std::uint64_t id = 0;
  CString name;
  Transform xf;
  // Geometry, or null for objects without a mesh. While this object is the
  // input of a live merge that took over its buffers, `prefix` says how much
  // of `mesh` is its own; Geometry() then makes it a private copy.
  std::shared_ptr<Mesh> mesh;
  std::optional<MeshPrefix> prefix;
  std::unique_ptr<MergeOperator> mergeOp;  // set on "polymsh"-style results

  const Mesh* Geometry();
  Mesh* MutableGeometry();
};

class Scene {
 public:
  // Creates an object; a taken name gets the lowest free number appended
  // ("wall" -> "wall1", "wall2", ...).
  SceneObject& Create(const CString& wantedName);
  SceneObject* Find(const CString& name);
  SceneObject* Get(std::uint64_t id);
  bool Delete(std::uint64_t id);
  // Renames; a taken name is made unique as in Create. Returns the name given.
  CString Rename(std::uint64_t id, const CString& wantedName);
  CString UniqueName(const CString& wanted) const;

  // Objects in creation order.
  std::vector<SceneObject*> Objects();
  std::size_t Count() const { return objects_.size(); }
  void Clear();

  std::vector<std::uint64_t>& SelectionIds() { return selection_; }

 private:
  std::uint64_t nextId_ = 1;
  std::map<std::uint64_t, std::unique_ptr<SceneObject>> objects_;
  std::map<CString, std::uint64_t> byName_;
  std::vector<std::uint64_t> selection_;
};

// ---- journal ---------------------------------------------------------------

struct JournalEntry {
  enum Kind { Command, ParamWrite, Log } kind = Command;
  CString name;              // command name | parameter name | log text
  std::vector<CValue> args;  // command arguments, by position
  CString object;            // ParamWrite: object name before the write
  CValue value;              // ParamWrite: value written
  int severity = 0;          // Log
  CStatus status;            // Command: its result
};

class Journal {
 public:
  void Add(JournalEntry entry) { entries_.push_back(std::move(entry)); }
  const std::vector<JournalEntry>& Entries() const { return entries_; }
  void Clear() { entries_.clear(); }
  void SetStatus(std::size_t index, CStatus status) {
    if (index < entries_.size()) entries_[index].status = status;
  }
  // One line per entry, e.g.  cmd Duplicate("a":text)  /  set a.posx = 1.5:float
  //  /  log[16] text
  std::string Format() const;

 private:
  std::vector<JournalEntry> entries_;
};

// ---- commands and plug-in records ------------------------------------------

struct ArgumentDef {
  CString name;
  CValue defaultValue;
};

// A command definition. Host commands are filled in at start; plug-in
// commands by the loader, whose `run` calls _Init once, then _Execute.
struct CommandDef {
  std::uint64_t id = 0;
  CString name;
  CString scriptName;
  CString owner;  // "host", or the plug-in's name
  CString description;
  bool returnsValue = false;
  std::vector<ArgumentDef> arguments;
  // Positional arguments as given; fills `out`. May throw: Execute catches.
  std::function<CStatus(const CValueArray& args, CValue& out)> run;
};

struct ContextRecord {
  std::uint64_t id = 0;
  CRef source;  // the command being defined or run
  std::map<CString, CValue> attributes;
};

struct RegistrarRecord {
  std::uint64_t id = 0;
  std::string libraryPath;
  CString name, author, email, url;
  long versionMajor = 0, versionMinor = 0;
  std::vector<std::pair<CString, CString>> commands;  // name, script name
};

struct ClipRecord {
  std::uint64_t id = 0;
  CString name;
  std::string path;
  std::shared_ptr<const XSI::detail::ImageData> image;
};

// ---- the runtime -------------------------------------------------------------

class Runtime {
 public:
  static Runtime& Get();

  Scene& GetScene() { return scene_; }
  Journal& GetJournal() { return journal_; }

  // Logging: every line goes to the journal and to each sink.
  using LogSink = std::function<void(const CString& text, int severity)>;
  void Log(const CString& text, int severity);
  void Error(const CString& text) { Log(text, 2); }
  void Warning(const CString& text) { Log(text, 4); }
  int AddLogSink(LogSink sink);
  void RemoveLogSink(int handle);

  // Commands. Register fails (and logs) when the name is taken.
  CStatus RegisterCommand(CommandDef def);
  const CommandDef* FindCommand(const CString& name) const;
  CommandDef* FindCommand(const CString& name);
  CommandDef* CommandById(std::uint64_t id);
  bool UnregisterCommand(const CString& name);
  // Sorted by name.
  std::vector<const CommandDef*> Commands() const;
  // Runs a command: journals it, catches exceptions (logged as errors naming
  // the command, status Fail), never throws.
  CStatus Execute(const CString& name, const CValueArray& args, CValue& out);

  // Test hook: the `nth` (1-based) run of command `name` from now on fails
  // with CStatus::Fail before it changes anything, logging "injected
  // failure". One hook at a time; nth <= 0 or an empty name clears it.
  void InjectFailure(const CString& name, long nth);

  // Records behind SDK handles.
  ContextRecord& NewContext(const CRef& source);
  ContextRecord* FindContext(std::uint64_t id);
  void DropContext(std::uint64_t id);
  RegistrarRecord& NewRegistrar(const std::string& libraryPath);
  RegistrarRecord* FindRegistrar(std::uint64_t id);
  void DropRegistrar(std::uint64_t id);
  ClipRecord& NewClip(const CString& name, const std::string& path,
                      std::shared_ptr<const XSI::detail::ImageData> image);
  ClipRecord* FindClip(std::uint64_t id);

  // Folders (GetInstallationPath).
  void SetHomePath(const std::string& path) { home_ = path; }
  const std::string& HomePath() const { return home_; }
  void SetFactoryPath(const std::string& path) { factory_ = path; }
  const std::string& FactoryPath() const { return factory_; }

  // Back to a fresh scene: objects, selection, journal and clips go; the
  // command registry, sinks and folders stay.
  void ResetScene();

 private:
  Runtime();
  std::uint64_t NextId() { return nextId_++; }

  Scene scene_;
  Journal journal_;
  std::map<int, LogSink> sinks_;
  int nextSink_ = 1;
  std::uint64_t nextId_ = 1;
  std::map<CString, std::unique_ptr<CommandDef>> commands_;
  std::map<std::uint64_t, ContextRecord> contexts_;
  std::map<std::uint64_t, RegistrarRecord> registrars_;
  std::map<std::uint64_t, ClipRecord> clips_;
  std::string home_;
  std::string factory_;
  CString injectName_;
  long injectCountdown_ = 0;
};

// Writes one parameter of a scene object ("name", "posx" ... "sclz") and
// journals it. Shared by "SetValue" and ProjectItem::PutParameterValue.
CStatus WriteObjectParameter(Runtime& rt, SceneObject& obj, const CString& param, const CValue& value);

// Registers the host's own commands (commands.cpp); called by the runtime.
void RegisterHostCommands(Runtime& rt);

// Text helpers shared by the runtime.
std::string ToUtf8(const CString& s);
CString FromUtf8(const std::string& s);
// "a, b,c" -> {"a", "b", "c"}: comma-separated object names, trimmed, empty
// items dropped. Shared by the commands and Selection::SetAsText.
std::vector<CString> SplitNames(const CString& list);
// Backslashes become '/', so paths composed for other systems work here.
std::string NormalisePath(const std::string& path);

}  // namespace host
