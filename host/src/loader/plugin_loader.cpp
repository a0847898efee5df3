#include "plugin_loader.h"

#include <dlfcn.h>
#include <link.h>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <functional>
#include <set>
#include <system_error>

#include <xsi_plugin.h>

#include "elf_check.h"
#include "runtime.h"

namespace host {

namespace {

namespace fs = std::filesystem;

// Opens the library the caller named: a name without a slash would send
// dlopen searching the system's library path instead.
void* OpenLibrary(const std::string& path, std::string& error) {
  const std::string target = path.find('/') == std::string::npos ? "./" + path : path;
  void* library = dlopen(target.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    const char* why = dlerror();
    error = why ? why : "unknown error";
  }
  return library;
}

void* FindSymbol(void* library, const char* name) {
  dlerror();
  return dlsym(library, name);
}

// dlsym also searches the libraries a plug-in depends on; an export counts
// only when the plug-in file itself defines it.
void* FindOwnSymbol(void* library, const char* name) {
  void* symbol = FindSymbol(library, name);
  if (!symbol) return nullptr;
  link_map* own = nullptr;
  link_map* found = nullptr;
  Dl_info info;
  if (dlinfo(library, RTLD_DI_LINKMAP, &own) != 0 ||
      dladdr1(symbol, &info, reinterpret_cast<void**>(&found), RTLD_DL_LINKMAP) == 0) {
    return nullptr;
  }
  return own == found ? symbol : nullptr;
}

// The size the defining library gave a data symbol, 0 when unknown.
std::size_t SymbolSize(const void* symbol) {
  Dl_info info;
  void* entry = nullptr;
  if (dladdr1(symbol, &info, &entry, RTLD_DL_SYMENT) == 0 || !entry) return 0;
  return static_cast<const ElfW(Sym)*>(entry)->st_size;
}

std::string VersionText(unsigned major, unsigned minor) {
  return std::to_string(major) + "." + std::to_string(minor);
}

// What is wrong with the SDK version a plug-in records, or "" when it may
// load: a plug-in built for another SDK layout would crash on its first call
// instead of failing.
std::string VersionProblem(const SdkVersionExport& version) {
  const std::string host = VersionText(XSI_SDK_VERSION_MAJOR, XSI_SDK_VERSION_MINOR);
  if (!version.found) {
    return std::string("it was built without a versioned SDK (no ") + XSI_SDK_VERSION_SYMBOL +
           " export); rebuild it against SDK " + host;
  }
  // Read only what is there: a plug-in could export the name with another type.
  if (version.bytes < 2 * sizeof(unsigned int)) {
    return std::string("its ") + XSI_SDK_VERSION_SYMBOL + " export is not two unsigned ints";
  }
  const std::string built = VersionText(version.major, version.minor);
  if (version.major != XSI_SDK_VERSION_MAJOR) {
    return "it was built against SDK " + built + " and this host has SDK " + host +
           ": the major versions differ; rebuild it against SDK " + host;
  }
  if (version.minor > XSI_SDK_VERSION_MINOR) {
    return "it was built against SDK " + built + ", newer than this host's SDK " + host +
           "; use a newer scenehost or rebuild it against SDK " + host;
  }
  return "";
}

// The version as the mapped library holds it, checked again after dlopen:
// the file's bytes were read before it ran (FindSharedObjectProblem), and a
// relocation could still have changed them.
std::string CheckLoadedSdkVersion(void* library) {
  SdkVersionExport version;
  const auto* numbers =
      static_cast<const unsigned int*>(FindOwnSymbol(library, XSI_SDK_VERSION_SYMBOL));
  if (numbers) {
    version.found = true;
    version.bytes = SymbolSize(numbers);
    if (version.bytes >= 2 * sizeof(unsigned int)) version.major = numbers[0], version.minor = numbers[1];
  }
  return VersionProblem(version);
}

std::string Quoted(const std::string& s) { return "'" + s + "'"; }

// One command a plug-in registered, shared between the PluginManager and
// the CommandDef::run closure living in the runtime's registry.
struct Binding {
  std::string plugin;  // for messages: "plug-in 'Name'"
  CString command;
  std::uint64_t commandId = 0;
  XSI::CommandCallbackFn init = nullptr;
  XSI::CommandCallbackFn execute = nullptr;
  bool initDone = false;  // _Init was called (successfully or not)
  bool initOk = false;
  bool loaded = true;  // false once the library is closed
};

struct Plugin {
  std::string path;
  std::string canonical;
  std::string name;   // for messages: "plug-in 'Echo' (path)"
  std::string owner;  // the plug-in's own name, or the file's stem
  void* library = nullptr;
  std::uint64_t registrarId = 0;
  XSI::UnloadPluginFn unload = nullptr;
  std::vector<std::shared_ptr<Binding>> commands;
};

std::string CanonicalPath(const std::string& path) {
  std::error_code ec;
  fs::path p = fs::weakly_canonical(fs::path(path), ec);
  return ec ? path : p.string();
}

template <typename Fn>
Fn ToFunction(void* symbol) {
  return reinterpret_cast<Fn>(symbol);
}

}  // namespace

struct PluginManager::Impl {
  Runtime& rt;
  std::vector<Plugin> plugins;  // load order

  explicit Impl(Runtime& runtime) : rt(runtime) {}

  void Error(const std::string& text) { rt.Error(FromUtf8(text)); }

  // Calls a plug-in callback; any exception stops here, named.
  CStatus Guarded(const std::string& plugin, const std::string& callback,
                  const std::function<CStatus()>& call) {
    try {
      return call();
    } catch (const std::exception& e) {
      Error(plugin + ": " + callback + " threw an exception: " + e.what());
    } catch (...) {
      Error(plugin + ": " + callback + " threw an exception");
    }
    return CStatus::Fail;
  }

  bool IsLoaded(const std::string& canonical) const {
    return std::any_of(plugins.begin(), plugins.end(),
                       [&](const Plugin& p) { return p.canonical == canonical; });
  }

  CStatus Load(const std::string& path);
  CStatus CheckCommands(const Plugin& plugin, const RegistrarRecord& record);
  CStatus BindCommands(Plugin& plugin, const RegistrarRecord& record);
  CStatus Register(Plugin& plugin);
  void Abandon(Plugin& plugin, bool callUnload);
  void Unload(Plugin& plugin);

  CStatus EnsureDefined(Binding& b);
  CStatus Run(Binding& b, const CValueArray& args, CValue& out);
};

// ---- definition and runs ------------------------------------------------------

CStatus PluginManager::Impl::EnsureDefined(Binding& b) {
  if (b.initDone && b.initOk) return CStatus::OK;
  if (b.initDone) {
    Error(ToUtf8(b.command) + ": cannot run: its " + ToUtf8(b.command) + "_Init failed");
    return CStatus::Fail;
  }
  CommandDef* def = rt.CommandById(b.commandId);
  if (!def) return CStatus::Fail;
  if (!b.init) {
    b.initDone = b.initOk = true;
    def->arguments.clear();
    return CStatus::OK;
  }
  // Marked first: an _Init that runs its own command must not recurse.
  b.initDone = true;
  def->arguments.clear();
  const std::string callback = ToUtf8(b.command) + "_Init";
  const std::uint64_t ctxId = rt.NewContext(CRef(XSI::siRefKind::Command, b.commandId)).id;
  CRef ctx(XSI::siRefKind::Context, ctxId);
  CStatus st = Guarded(b.plugin, callback, [&] { return b.init(ctx); });
  rt.DropContext(ctxId);
  if (!st.Succeeded()) {
    if (CommandDef* again = rt.CommandById(b.commandId)) again->arguments.clear();
    Error(b.plugin + ": " + callback + " failed (status " + std::to_string(st.GetCode()) +
          "); command " + Quoted(ToUtf8(b.command)) + " is not usable");
    return CStatus::Fail;
  }
  b.initOk = true;
  return CStatus::OK;
}

CStatus PluginManager::Impl::Run(Binding& b, const CValueArray& args, CValue& out) {
  const std::string name = ToUtf8(b.command);
  if (!b.loaded) {
    Error(name + ": its plug-in is no longer loaded");
    return CStatus::Fail;
  }
  if (!EnsureDefined(b).Succeeded()) return CStatus::Fail;
  const CommandDef* def = rt.CommandById(b.commandId);
  if (!def) return CStatus::Fail;

  const long takes = static_cast<long>(def->arguments.size());
  if (args.GetCount() > takes) {
    Error(name + ": too many arguments: got " + std::to_string(args.GetCount()) + ", takes " +
          std::to_string(takes));
    return CStatus::Fail;
  }
  CValueArray full(args);
  for (long i = args.GetCount(); i < takes; ++i) full.Add(def->arguments[i].defaultValue);

  ContextRecord& record = rt.NewContext(CRef(XSI::siRefKind::Command, b.commandId));
  record.attributes[L"Arguments"] = CValue(full);
  const std::uint64_t ctxId = record.id;
  CRef ctx(XSI::siRefKind::Context, ctxId);
  CStatus st = Guarded(b.plugin, name + "_Execute", [&] { return b.execute(ctx); });

  if (ContextRecord* after = rt.FindContext(ctxId)) {
    auto it = after->attributes.find(L"ReturnValue");
    if (it != after->attributes.end()) out = it->second;
  }
  rt.DropContext(ctxId);
  return st;
}

// ---- loading -------------------------------------------------------------------

CStatus PluginManager::Impl::CheckCommands(const Plugin& plugin, const RegistrarRecord& record) {
  std::set<CString> seen;
  for (const auto& [name, scriptName] : record.commands) {
    (void)scriptName;
    const std::string cmd = ToUtf8(name);
    if (name.IsEmpty()) {
      Error(plugin.name + ": registers a command with an empty name");
      return CStatus::Fail;
    }
    if (!seen.insert(name).second) {
      Error(plugin.name + ": registers command " + Quoted(cmd) + " twice");
      return CStatus::Fail;
    }
    if (const CommandDef* taken = rt.FindCommand(name)) {
      Error(plugin.name + ": cannot register command " + Quoted(cmd) +
            ": the name is already taken by " + Quoted(ToUtf8(taken->owner)));
      return CStatus::Fail;
    }
  }
  return CStatus::OK;
}

CStatus PluginManager::Impl::BindCommands(Plugin& plugin, const RegistrarRecord& record) {
  for (const auto& entry : record.commands) {
    auto b = std::make_shared<Binding>();
    b->plugin = plugin.name;
    b->command = entry.first;
    const std::string cmd = ToUtf8(entry.first);
    // _Init is optional: a command without one takes no arguments.
    const std::string execute = cmd + "_Execute";
    b->execute = ToFunction<XSI::CommandCallbackFn>(FindOwnSymbol(plugin.library, execute.c_str()));
    if (!b->execute) {
      Error(plugin.name + ": registers command " + Quoted(cmd) + " but does not export " + execute);
      return CStatus::Fail;
    }
    b->init = ToFunction<XSI::CommandCallbackFn>(
        FindOwnSymbol(plugin.library, (cmd + "_Init").c_str()));
    plugin.commands.push_back(std::move(b));
  }
  return CStatus::OK;
}

// Registers the bound commands; CheckCommands made sure the names are free.
CStatus PluginManager::Impl::Register(Plugin& plugin) {
  const RegistrarRecord* record = rt.FindRegistrar(plugin.registrarId);
  for (auto& b : plugin.commands) {
    CommandDef def;
    def.name = b->command;
    def.scriptName = b->command;
    if (record) {
      for (const auto& [name, scriptName] : record->commands) {
        if (name == b->command && !scriptName.IsEmpty()) def.scriptName = scriptName;
      }
    }
    def.owner = FromUtf8(plugin.owner);
    Impl* self = this;
    std::shared_ptr<Binding> binding = b;
    def.run = [self, binding](const CValueArray& args, CValue& out) {
      return self->Run(*binding, args, out);
    };
    if (!rt.RegisterCommand(std::move(def)).Succeeded()) {
      Error(plugin.name + ": cannot register command " + Quoted(ToUtf8(b->command)));
      return CStatus::Fail;
    }
    if (const CommandDef* made = rt.FindCommand(b->command)) b->commandId = made->id;
  }
  return CStatus::OK;
}

void PluginManager::Impl::Abandon(Plugin& plugin, bool callUnload) {
  for (auto& b : plugin.commands) {
    if (b->commandId != 0) rt.UnregisterCommand(b->command);
    b->loaded = false;
  }
  if (callUnload && plugin.unload) {
    const XSI::PluginRegistrar registrar(CRef(XSI::siRefKind::Registrar, plugin.registrarId));
    Guarded(plugin.name, "XSIUnloadPlugin", [&] { return plugin.unload(registrar); });
  }
  if (plugin.registrarId != 0) rt.DropRegistrar(plugin.registrarId);
  if (plugin.library) dlclose(plugin.library);
  plugin.library = nullptr;
}

CStatus PluginManager::Impl::Load(const std::string& path) {
  Plugin plugin;
  plugin.path = path;
  plugin.canonical = CanonicalPath(path);
  plugin.name = "plug-in " + Quoted(path);
  if (IsLoaded(plugin.canonical)) {
    Error(plugin.name + " is already loaded");
    return CStatus::Fail;
  }
  // A truncated or corrupt library would fault inside dlopen and take the
  // host down, and dlopen runs the plug-in's static initialisers: the file
  // and its SDK version are checked first, from its bytes.
  SdkVersionExport version;
  std::string why = FindSharedObjectProblem(path, &version);
  if (why.empty()) why = VersionProblem(version);
  if (why.empty()) plugin.library = OpenLibrary(path, why);
  if (!plugin.library) {
    Error("cannot load plug-in " + Quoted(path) + ": " + why);
    return CStatus::Fail;
  }
  why = CheckLoadedSdkVersion(plugin.library);
  if (!why.empty()) {
    Error("cannot load plug-in " + Quoted(path) + ": " + why);
    Abandon(plugin, false);
    return CStatus::Fail;
  }
  // XSIUnloadPlugin is optional: most plug-ins have nothing to release.
  auto load = ToFunction<XSI::LoadPluginFn>(FindOwnSymbol(plugin.library, "XSILoadPlugin"));
  plugin.unload =
      ToFunction<XSI::UnloadPluginFn>(FindOwnSymbol(plugin.library, "XSIUnloadPlugin"));
  if (!load) {
    Error(plugin.name + " does not export XSILoadPlugin");
    Abandon(plugin, false);
    return CStatus::Fail;
  }

  plugin.registrarId = rt.NewRegistrar(path).id;
  XSI::PluginRegistrar registrar(CRef(XSI::siRefKind::Registrar, plugin.registrarId));
  CStatus st = Guarded(plugin.name, "XSILoadPlugin", [&] { return load(registrar); });
  if (!st.Succeeded()) {
    Error(plugin.name + ": XSILoadPlugin failed (status " + std::to_string(st.GetCode()) + ")");
    Abandon(plugin, false);
    return CStatus::Fail;
  }
  const RegistrarRecord* record = rt.FindRegistrar(plugin.registrarId);
  if (!record) {
    Error(plugin.name + ": its registrar vanished during XSILoadPlugin");
    Abandon(plugin, false);
    return CStatus::Fail;
  }
  // From here on the plug-in is named as it calls itself, or by its file.
  const RegistrarRecord snapshot = *record;
  plugin.owner = snapshot.name.IsEmpty() ? fs::path(path).stem().string() : ToUtf8(snapshot.name);
  if (!snapshot.name.IsEmpty()) plugin.name = "plug-in " + Quoted(plugin.owner) + " (" + path + ")";
  if (!CheckCommands(plugin, snapshot).Succeeded() || !BindCommands(plugin, snapshot).Succeeded()) {
    Abandon(plugin, true);
    return CStatus::Fail;
  }
  if (!Register(plugin).Succeeded()) {
    Abandon(plugin, true);
    return CStatus::Fail;
  }

  std::string list;
  for (const auto& b : plugin.commands) list += (list.empty() ? "" : ", ") + ToUtf8(b->command);
  rt.Log(FromUtf8("loaded " + plugin.name + ", commands: " + (list.empty() ? "none" : list)),
         XSI::siVerboseMsg);
  plugins.push_back(std::move(plugin));
  return CStatus::OK;
}

void PluginManager::Impl::Unload(Plugin& plugin) { Abandon(plugin, true); }

// ---- PluginManager ---------------------------------------------------------------

PluginManager::PluginManager(Runtime& runtime) : impl_(std::make_unique<Impl>(runtime)) {}

PluginManager::~PluginManager() { UnloadAll(); }

XSI::CStatus PluginManager::Load(const std::string& path) { return impl_->Load(path); }

int PluginManager::LoadDirectory(const std::string& dir) {
  std::error_code ec;
  std::vector<std::string> files;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    // Anything named *.so goes to Load, which refuses what is not a
    // regular file by name instead of passing over it in silence.
    if (it->path().extension() != ".so") continue;
    files.push_back(it->path().string());
  }
  if (ec) {
    impl_->Error("cannot read plug-in folder " + Quoted(dir) + ": " + ec.message());
    return 0;
  }
  std::sort(files.begin(), files.end());
  int loaded = 0;
  for (const auto& file : files) {
    if (Load(file).Succeeded()) ++loaded;
  }
  return loaded;
}

void PluginManager::UnloadAll() {
  auto& plugins = impl_->plugins;
  while (!plugins.empty()) {
    impl_->Unload(plugins.back());
    plugins.pop_back();
  }
}

std::vector<std::string> PluginManager::LoadedPaths() const {
  std::vector<std::string> paths;
  for (const auto& p : impl_->plugins) paths.push_back(p.path);
  return paths;
}

XSI::CStatus PluginManager::DefineAll() {
  CStatus result;
  for (auto& p : impl_->plugins) {
    for (auto& b : p.commands) {
      const bool ok = b->initDone ? b->initOk : impl_->EnsureDefined(*b).Succeeded();
      if (!ok) result = CStatus::Fail;
    }
  }
  return result;
}

}  // namespace host
