#include "runtime.h"

#include <dlfcn.h>

#include <algorithm>
#include <exception>
#include <new>

// Only for the one seam Execute has for tests.
#include "test_hooks.h"

namespace host {

Runtime& Runtime::Get() {
  // Built on first use so plug-ins and the host share one instance through
  // the SDK library, whatever the load order.
  static Runtime runtime;
  return runtime;
}

Runtime::Runtime() { RegisterHostCommands(*this); }

void Runtime::Log(const CString& text, siSeverityType severity) {
  JournalEntry e;
  e.kind = JournalEntry::Log;
  e.name = text;
  e.severity = severity;
  journal_.Add(std::move(e));
  // Copy first: a sink may add or remove sinks.
  auto sinks = sinks_;
  for (auto& [handle, sink] : sinks) sink(text, severity);
}

int Runtime::AddLogSink(LogSink sink) {
  int handle = nextSink_++;
  sinks_[handle] = std::move(sink);
  return handle;
}

void Runtime::RemoveLogSink(int handle) { sinks_.erase(handle); }

CStatus Runtime::RegisterCommand(CommandDef def) {
  if (def.name.IsEmpty()) {
    Error(L"cannot register a command without a name (from '" + def.owner + L"')");
    return CStatus::InvalidArgument;
  }
  auto found = commands_.find(def.name);
  if (found != commands_.end()) {
    Error(L"cannot register command '" + def.name + L"' for '" + def.owner +
          L"': it is already registered by '" + found->second->owner + L"'");
    return CStatus::Fail;
  }
  def.id = NextId();
  CString name = def.name;
  commands_[name] = std::make_unique<CommandDef>(std::move(def));
  return CStatus::OK;
}

const CommandDef* Runtime::FindCommand(const CString& name) const {
  auto it = commands_.find(name);
  return it == commands_.end() ? nullptr : it->second.get();
}

CommandDef* Runtime::FindCommand(const CString& name) {
  auto it = commands_.find(name);
  return it == commands_.end() ? nullptr : it->second.get();
}

CommandDef* Runtime::CommandById(std::uint64_t id) {
  for (auto& [name, def] : commands_)
    if (def->id == id) return def.get();
  return nullptr;
}

bool Runtime::UnregisterCommand(const CString& name) { return commands_.erase(name) > 0; }

std::vector<const CommandDef*> Runtime::Commands() const {
  std::vector<const CommandDef*> out;
  for (auto& [name, def] : commands_) out.push_back(def.get());
  return out;
}

namespace {

// An error line about a command that failed; when even that cannot be
// written (memory is short), the status alone tells.
void ReportFailure(Runtime& rt, const CString& name, const wchar_t* what, const char* detail = nullptr) noexcept {
  try {
    CString line = L"command '" + name + L"' " + what;
    if (detail) line += FromUtf8(detail);
    rt.Error(line);
  } catch (...) {
  }
}

}  // namespace

CStatus Runtime::Execute(const CString& name, const CValueArray& args, CValue& out) {
  // Everything, the journal entry included, runs inside the one try: a
  // command that cannot even be recorded fails like any other.
  bool recorded = false, outOfMemory = false;
  std::uint64_t entryIndex = 0;
  CStatus status = CStatus::OK;
  try {
    JournalEntry e;
    e.kind = JournalEntry::Command;
    e.name = name;
    for (long i = 0; i < args.GetCount(); ++i) e.args.push_back(args[i]);
    entryIndex = journal_.Add(std::move(e));
    recorded = true;

    CommandDef* def = FindCommand(name);
    if (!def || !def->run) {
      Error(L"unknown command '" + name + L"'");
      status = CStatus::NotFound;
    } else {
      out = CValue();
      if (test_hooks::TakeInjectedFailure(name)) {
        Error(L"command '" + name + L"' failed: injected failure");
        status = CStatus::Fail;
      } else {
        // Copy the function: the command may unregister itself while it runs.
        auto run = def->run;
        status = run(args, out);
      }
    }
  } catch (const std::bad_alloc&) {
    // Nothing here allocates; the report waits until the stack is unwound.
    outOfMemory = true;
    status = CStatus::OutOfMemory;
  } catch (const std::exception& ex) {
    ReportFailure(*this, name, L"failed: ", ex.what());
    status = CStatus::Fail;
  } catch (...) {
    ReportFailure(*this, name, L"failed with an unknown exception");
    status = CStatus::Fail;
  }
  if (outOfMemory) ReportFailure(*this, name, L"ran out of memory");
  if (recorded) journal_.SetStatus(entryIndex, status);
  return status;
}

namespace test_hooks {
namespace {

struct InjectedFailure {
  CString name;
  long countdown = 0;
};

InjectedFailure& Injected() {
  static InjectedFailure injected;
  return injected;
}

}  // namespace

void InjectFailure(const CString& name, long nth) {
  InjectedFailure& f = Injected();
  f.name = name;
  f.countdown = (nth > 0 && !name.IsEmpty()) ? nth : 0;
}

bool TakeInjectedFailure(const CString& name) {
  InjectedFailure& f = Injected();
  return f.countdown > 0 && name == f.name && --f.countdown == 0;
}

}  // namespace test_hooks

namespace {

// Records behind SDK handles live in maps by id.
template <typename Record>
Record& AddRecord(std::map<std::uint64_t, Record>& records, std::uint64_t id) {
  Record& rec = records[id];
  rec.id = id;
  return rec;
}

template <typename Record>
Record* FindRecord(std::map<std::uint64_t, Record>& records, std::uint64_t id) {
  auto it = records.find(id);
  return it == records.end() ? nullptr : &it->second;
}

}  // namespace

ContextRecord& Runtime::NewContext(const CRef& source) {
  ContextRecord& rec = AddRecord(contexts_, NextId());
  rec.source = source;
  return rec;
}

ContextRecord* Runtime::FindContext(std::uint64_t id) { return FindRecord(contexts_, id); }
void Runtime::DropContext(std::uint64_t id) { contexts_.erase(id); }

RegistrarRecord& Runtime::NewRegistrar(const std::string& libraryPath) {
  RegistrarRecord& rec = AddRecord(registrars_, NextId());
  rec.libraryPath = libraryPath;
  return rec;
}

RegistrarRecord* Runtime::FindRegistrar(std::uint64_t id) { return FindRecord(registrars_, id); }
void Runtime::DropRegistrar(std::uint64_t id) { registrars_.erase(id); }

ClipRecord& Runtime::NewClip(const CString& name, const std::string& path,
                             std::shared_ptr<const XSI::detail::ImageData> image) {
  ClipRecord& rec = AddRecord(clips_, NextId());
  rec.name = name;
  rec.path = path;
  rec.image = std::move(image);
  return rec;
}

ClipRecord* Runtime::FindClip(std::uint64_t id) { return FindRecord(clips_, id); }

ClipRecord* Runtime::FindClip(const CString& name) {
  for (auto& [id, clip] : clips_)
    if (clip.name == name) return &clip;
  return nullptr;
}

bool Runtime::DropClip(std::uint64_t id) { return clips_.erase(id) > 0; }

std::vector<const ClipRecord*> Runtime::Clips() const {
  std::vector<const ClipRecord*> out;
  for (auto& [id, clip] : clips_) out.push_back(&clip);
  return out;
}

void Runtime::ClearScene() {
  scene_.Clear();
  clips_.clear();
}

void Runtime::ResetScene() {
  ClearScene();
  journal_.Clear();
}

std::string BesideRuntime(const std::string& file) {
  Dl_info self{};
  if (!dladdr(reinterpret_cast<void*>(&BesideRuntime), &self) || !self.dli_fname) return {};
  const std::string path = self.dli_fname;
  const std::size_t slash = path.rfind('/');
  return (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + file;
}

}  // namespace host
