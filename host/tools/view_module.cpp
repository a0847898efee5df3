// libscenehost_view.so: `scenehost view` as a module that scenehost loads
// only when it is asked to serve. The HTTP server library brings TLS,
// compression and their set-up with it, a few milliseconds of every start;
// the runs that serve nothing need none of it.
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "view_server.h"

extern "C" __attribute__((visibility("default"))) int scenehost_view_main(const char* const* args, int count,
                                                                         const char* executableDir) noexcept {
  try {
    return scenehost::RunView(std::vector<std::string>(args, args + count), executableDir);
  } catch (const std::exception& e) {
    std::cerr << "error: scenehost view: " << e.what() << "\n";
  } catch (...) {
    std::cerr << "error: scenehost view: unexpected failure\n";
  }
  return 1;
}
