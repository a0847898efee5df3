// PluginManager: loads host plug-ins (shared libraries) into the runtime.
//
// Load opens the library (its statics are constructed), calls XSILoadPlugin
// with a PluginRegistrar and registers every command it names in the
// runtime's one command registry. Before a command's first run the host calls
// <Command>_Init once; every run calls <Command>_Execute. UnloadAll calls
// XSIUnloadPlugin, unregisters the commands and closes the libraries (in
// reverse load order). Errors name the library; the host carries on.
//
// A plug-in is taken whole or not at all: when an export is missing or one
// of its command names is taken, none of its commands stay registered and
// the library is closed again.
//
// _Init runs lazily, before the first run. Listings that need the declared
// arguments without running anything (scenehost --help) call DefineAll.
// Exceptions thrown by plug-in callbacks are caught at this boundary, logged
// naming the plug-in and the callback, and turn into a failed status.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <xsi_status.h>

namespace host {

class Runtime;

// How a shared library is opened and searched; dlopen here, LoadLibrary
// would slot in.
class LibraryOpener {
 public:
  virtual ~LibraryOpener() = default;
  virtual void* Open(const std::string& path, std::string& error) = 0;
  virtual void* Symbol(void* library, const char* name) = 0;
  virtual void Close(void* library) = 0;
};
std::unique_ptr<LibraryOpener> MakeDlOpener();

class PluginManager {
 public:
  explicit PluginManager(Runtime& runtime);
  PluginManager(Runtime& runtime, std::unique_ptr<LibraryOpener> opener);
  ~PluginManager();  // unloads everything still loaded
  PluginManager(const PluginManager&) = delete;
  PluginManager& operator=(const PluginManager&) = delete;

  XSI::CStatus Load(const std::string& path);
  // Loads every *.so in `dir`, in name order. Returns how many loaded.
  int LoadDirectory(const std::string& dir);
  void UnloadAll();
  std::vector<std::string> LoadedPaths() const;

  // Runs the pending _Init of every loaded command, so that descriptions
  // and argument lists are filled in. Fails when any _Init failed.
  XSI::CStatus DefineAll();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace host
