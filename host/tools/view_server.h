// `scenehost view PATH [--port N] [--listen ADDR]`: serves the browser
// viewer and the files of one .glb or one tileset folder over HTTP until
// Ctrl-C. See docs/view.md.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace scenehost {

// `args` are the words after "view". `executableDir` is the folder of the
// running scenehost: the page is looked for in its "viewer" folder (the
// build tree) and then in the install's share folder. Returns the exit
// status: 0 after Ctrl-C, 1 when the server cannot start, 2 for a usage
// error (bad PATH or option).
int RunView(const std::vector<std::string>& args, const std::filesystem::path& executableDir);

}  // namespace scenehost
