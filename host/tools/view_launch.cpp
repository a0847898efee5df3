#include "view_launch.h"

#include <dlfcn.h>

#include <iostream>

#include "runtime.h"

namespace scenehost {

namespace {

// The module lies beside libxsiruntime.so, in the build tree's lib/ and in
// the installed library folder alike. Found from the runtime's own path
// rather than by name: a loader search by name would take the run path of
// whoever calls dlopen, which under a sanitizer's interceptor is not us.
std::string ModulePath() {
  Dl_info runtime{};
  if (!dladdr(reinterpret_cast<void*>(&host::Runtime::Get), &runtime) || !runtime.dli_fname) return kViewModule;
  const std::string path = runtime.dli_fname;
  const std::size_t slash = path.rfind('/');
  return (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + kViewModule;
}

}  // namespace

int RunViewModule(const std::vector<std::string>& args, const std::filesystem::path& executableDir) {
  const std::string path = ModulePath();
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
