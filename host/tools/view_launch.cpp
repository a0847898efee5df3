#include "view_launch.h"

#include <dlfcn.h>

#include <iostream>

namespace scenehost {

int RunViewModule(const std::vector<std::string>& args, const std::filesystem::path& executableDir) {
  // By name: the run path finds the build tree's lib/ or the installed one.
  void* module = dlopen(kViewModule, RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    std::cerr << "error: scenehost view: cannot load " << kViewModule << ": " << dlerror() << "\n";
    return 1;
  }
  using Entry = int (*)(const char* const*, int, const char*) noexcept;
  const auto entry = reinterpret_cast<Entry>(dlsym(module, kViewEntry));
  if (!entry) {
    std::cerr << "error: scenehost view: " << kViewModule << " has no " << kViewEntry << "\n";
    return 1;
  }
  std::vector<const char*> words;
  for (const std::string& a : args) words.push_back(a.c_str());
  const std::string dir = executableDir.string();
  return entry(words.data(), static_cast<int>(words.size()), dir.c_str());
}

}  // namespace scenehost
