#include "view_launch.h"

#include <dlfcn.h>

#include <iostream>

#include "runtime.h"

namespace scenehost {

int RunViewModule(const std::vector<std::string>& args, const std::filesystem::path& executableDir) {
  // Found beside the runtime rather than by name: a loader search by name
  // takes the run path of whoever calls dlopen, which under a sanitizer's
  // interceptor is not us.
  std::string path = host::BesideRuntime(kViewModule);
  if (path.empty()) path = kViewModule;
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    const char* why = dlerror();
    std::cerr << "error: scenehost view: cannot load " << path << (why ? std::string(": ") + why : "") << "\n";
    return 1;
  }
  using Entry = int (*)(const char* const*, int, const char*) noexcept;
  const auto entry = reinterpret_cast<Entry>(dlsym(module, kViewEntry));
  if (!entry) {
    std::cerr << "error: scenehost view: " << path << " has no " << kViewEntry << "\n";
    return 1;
  }
  std::vector<const char*> words;
  for (const std::string& a : args) words.push_back(a.c_str());
  const std::string dir = executableDir.string();
  return entry(words.data(), static_cast<int>(words.size()), dir.c_str());
}

}  // namespace scenehost
