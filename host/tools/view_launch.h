// How scenehost reaches `scenehost view`: it loads libscenehost_view.so (the
// folder of libxsiruntime.so) and calls the server there.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace scenehost {

// The module's name, and its entry point's.
inline constexpr const char* kViewModule = "libscenehost_view.so";
inline constexpr const char* kViewEntry = "scenehost_view_main";

// RunView (view_server.h) through the module; 1 with a message on stderr
// when the module cannot be loaded.
int RunViewModule(const std::vector<std::string>& args, const std::filesystem::path& executableDir);

}  // namespace scenehost
