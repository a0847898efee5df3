// An offscreen OpenGL ES 3 context with no window, no display server and no
// GPU needed: EGL on Mesa's surfaceless platform. Mesa picks a GPU's render
// node when there is one and its llvmpipe software rasteriser otherwise.
//
// The EGL display is made once per process and kept. A context is current
// on the creating thread until ReleaseCurrent(); MakeCurrent() takes it up
// again, on any thread, when no other thread holds it. Rendering goes into
// framebuffer objects (there is no default surface).
// Create() never throws; when EGL or the driver is missing it says which
// package provides it.
#pragma once

#include <memory>
#include <string>

namespace host::render {

class OffscreenContext {
 public:
  // Null with `error` set ("no EGL display (install libegl-mesa0 and
  // libgl1-mesa-dri)", ...) when no context can be made.
  static std::unique_ptr<OffscreenContext> Create(std::string& error);
  ~OffscreenContext();
  OffscreenContext(const OffscreenContext&) = delete;
  OffscreenContext& operator=(const OffscreenContext&) = delete;

  bool MakeCurrent();
  void ReleaseCurrent();

  // "llvmpipe (LLVM 15.0.6, 256 bits)" or a GPU's name.
  std::string Renderer() const;

 private:
  OffscreenContext() = default;
  void* display_ = nullptr;  // EGLDisplay
  void* context_ = nullptr;  // EGLContext
};

}  // namespace host::render
