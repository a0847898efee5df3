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
#include <string>
#include <vector>

#include <xsi_application.h>
#include <xsi_ref.h>
#include <xsi_status.h>
#include <xsi_string.h>
#include <xsi_value.h>

#include "journal.h"
#include "progress.h"
#include "records.h"
#include "scene.h"
#include "text.h"

namespace host {

using XSI::CRef;
using XSI::CStatus;
using XSI::CString;
using XSI::CValue;
using XSI::CValueArray;
using XSI::siSeverityType;

// The scene root's object id: no scene object ever gets it.
constexpr std::uint64_t kSceneRootId = UINT64_MAX;

class Runtime {
 public:
  static Runtime& Get();

  Scene& GetScene() { return scene_; }
  Journal& GetJournal() { return journal_; }
  Progress& GetProgress() { return progress_; }

  // Logging: every line goes to the journal and to each sink.
  using LogSink = std::function<void(const CString& text, siSeverityType severity)>;
  void Log(const CString& text, siSeverityType severity);
  void Error(const CString& text) { Log(text, XSI::siErrorMsg); }
  void Warning(const CString& text) { Log(text, XSI::siWarningMsg); }
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
  ClipRecord* FindClip(const CString& name);
  bool DropClip(std::uint64_t id);
  // Clips in load order.
  std::vector<const ClipRecord*> Clips() const;

  // Folders (GetInstallationPath). The factory folder is where the host's
  // own files were installed; the host tools set it, and it may be empty.
  void SetHomePath(const std::string& path) { home_ = path; }
  const std::string& HomePath() const { return home_; }
  void SetFactoryPath(const std::string& path) { factory_ = path; }
  const std::string& FactoryPath() const { return factory_; }

  // Everything of the scene goes: objects, selection and image clips. The
  // command registry, sinks, folders and the journal stay. ("NewScene")
  void ClearScene();
  // Back to a fresh start: ClearScene() and an empty journal.
  void ResetScene();

 private:
  Runtime();
  std::uint64_t NextId() { return nextId_++; }

  Scene scene_;
  Journal journal_;
  Progress progress_;
  std::map<int, LogSink> sinks_;
  int nextSink_ = 1;
  std::uint64_t nextId_ = 1;
  std::map<CString, std::unique_ptr<CommandDef>> commands_;
  std::map<std::uint64_t, ContextRecord> contexts_;
  std::map<std::uint64_t, RegistrarRecord> registrars_;
  std::map<std::uint64_t, ClipRecord> clips_;
  std::string home_;
  std::string factory_;
};

// Writes one parameter of a scene object ("name", "posx" ... "sclz") and
// journals it. Shared by "SetValue" and ProjectItem::PutParameterValue.
CStatus WriteObjectParameter(Runtime& rt, SceneObject& obj, const CString& param, const CValue& value);

// Registers the host's own commands (commands.cpp); called by the runtime.
void RegisterHostCommands(Runtime& rt);

// The path of `file` in the folder libxsiruntime.so was loaded from, where
// the host's own modules lie (the build tree's lib/ or the installed
// library folder); empty when that folder cannot be found.
std::string BesideRuntime(const std::string& file);

}  // namespace host
