// PluginManager: loads host plug-ins (shared libraries) into the runtime.
//
// Load opens the library (its statics are constructed), checks the SDK
// version the plug-in recorded (xsi_version.h) before calling anything in it,
// calls XSILoadPlugin
// with a PluginRegistrar and registers every command it names in the
// runtime's one command registry. Before a command's first run the host calls
// <Command>_Init once; every run calls <Command>_Execute. UnloadAll calls
// XSIUnloadPlugin when the plug-in has one, unregisters the commands and closes the libraries (in
// reverse load order). Errors name the library; the host carries on.
//
// Required exports: XSILoadPlugin and each registered command's _Execute.
// XSIUnloadPlugin and _Init are optional; a command without _Init takes no
// arguments. A plug-in that records no SDK version, one built against
// another major version or a newer minor version than the host's is refused
// with an error naming both versions and the file.
//
// A plug-in is taken whole or not at all: when an export is missing or one
// of its command names is taken, none of its commands stay registered and
// the library is closed again.
//
// _Init runs lazily, before the first run. Listings that need the declared
// arguments without running anything (scenehost --help) call DefineAll.
// Exceptions thrown by plug-in callbacks are caught at this boundary, logged
// naming the plug-in and the callback, and turn into a failed status.
//
// Before dlopen a file is checked (elf_check.h): a folder, FIFO or device, a
// file that is not an ELF shared object for this host, or a truncated one is
// refused with an error naming the file and what is wrong, never opened.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <xsi_status.h>

namespace host {

class Runtime;

class PluginManager {
 public:
  explicit PluginManager(Runtime& runtime);
  ~PluginManager();  // unloads everything still loaded
  PluginManager(const PluginManager&) = delete;
  PluginManager& operator=(const PluginManager&) = delete;

  XSI::CStatus Load(const std::string& path);
  // Loads every *.so in `dir`, in name order. Returns how many loaded. An
  // entry named *.so that is not a regular file is reported like any other
  // bad plug-in.
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
