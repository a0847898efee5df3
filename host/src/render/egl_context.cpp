#include "egl_context.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GLES3/gl3.h>

#include <cstring>

namespace host::render {

namespace {

constexpr const char* kInstallHint = " (install libegl-mesa0 and libgl1-mesa-dri)";

bool HasExtension(const char* list, const char* name) {
  if (!list) return false;
  const std::size_t n = std::strlen(name);
  for (const char* p = list; (p = std::strstr(p, name)) != nullptr; p += n) {
    const bool starts = p == list || p[-1] == ' ';
    const bool ends = p[n] == '\0' || p[n] == ' ';
    if (starts && ends) return true;
  }
  return false;
}

std::string EglErrorText() {
  const EGLint code = eglGetError();
  switch (code) {
    case EGL_NOT_INITIALIZED: return "EGL_NOT_INITIALIZED";
    case EGL_BAD_ALLOC: return "EGL_BAD_ALLOC";
    case EGL_BAD_MATCH: return "EGL_BAD_MATCH";
    case EGL_BAD_CONFIG: return "EGL_BAD_CONFIG";
    case EGL_BAD_ATTRIBUTE: return "EGL_BAD_ATTRIBUTE";
    case EGL_BAD_DISPLAY: return "EGL_BAD_DISPLAY";
    default: return "EGL error " + std::to_string(code);
  }
}

// Mesa's surfaceless platform needs neither X nor Wayland nor a GPU; it is
// reached through the platform-display extension of the client library.
EGLDisplay SurfacelessDisplay(std::string& error) {
  const char* client = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
  if (!HasExtension(client, "EGL_MESA_platform_surfaceless") ||
      !HasExtension(client, "EGL_EXT_platform_base")) {
    error = std::string("no EGL display: the EGL library offers no Mesa surfaceless platform") +
            kInstallHint;
    return EGL_NO_DISPLAY;
  }
  auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
      eglGetProcAddress("eglGetPlatformDisplayEXT"));
  if (!getPlatformDisplay) {
    error = std::string("no EGL display: eglGetPlatformDisplayEXT is missing") + kInstallHint;
    return EGL_NO_DISPLAY;
  }
  EGLDisplay display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
  if (display == EGL_NO_DISPLAY) {
    error = std::string("no EGL display") + kInstallHint;
    return EGL_NO_DISPLAY;
  }
  EGLint major = 0, minor = 0;
  if (!eglInitialize(display, &major, &minor)) {
    error = "no EGL display: the Mesa driver did not start (" + EglErrorText() + ")" + kInstallHint;
    return EGL_NO_DISPLAY;
  }
  return display;
}

// A context with no config where the driver allows it (nothing is drawn to
// an EGL surface), else any ES 3 capable config.
EGLContext Es3Context(EGLDisplay display, std::string& error) {
  if (!eglBindAPI(EGL_OPENGL_ES_API)) {
    error = "no OpenGL ES support in the EGL driver" + std::string(kInstallHint);
    return EGL_NO_CONTEXT;
  }
  const char* ext = eglQueryString(display, EGL_EXTENSIONS);
  if (!HasExtension(ext, "EGL_KHR_surfaceless_context")) {
    error = "the EGL driver cannot make a context current without a surface" +
            std::string(kInstallHint);
    return EGL_NO_CONTEXT;
  }
  EGLConfig config = EGL_NO_CONFIG_KHR;
  if (!HasExtension(ext, "EGL_KHR_no_config_context")) {
    const EGLint want[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_ES3_BIT_KHR, EGL_NONE};
    EGLint found = 0;
    if (!eglChooseConfig(display, want, &config, 1, &found) || found < 1) {
      error = "no OpenGL ES 3 configuration in the EGL driver" + std::string(kInstallHint);
      return EGL_NO_CONTEXT;
    }
  }
  const EGLint attribs[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 0, EGL_NONE};
  EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, attribs);
  if (context == EGL_NO_CONTEXT)
    error = "cannot create an OpenGL ES 3 context (" + EglErrorText() + ")" + kInstallHint;
  return context;
}

// The display is set up once per process and kept: starting the driver
// loads and compiles much (llvmpipe loads LLVM), and each unload of it
// leaves LLVM's static allocations behind. A failed start is tried again.
EGLDisplay SharedDisplay(std::string& error) {
  static EGLDisplay display = EGL_NO_DISPLAY;
  if (display == EGL_NO_DISPLAY) display = SurfacelessDisplay(error);
  return display;
}

}  // namespace

std::unique_ptr<OffscreenContext> OffscreenContext::Create(std::string& error) {
  std::unique_ptr<OffscreenContext> gl(new OffscreenContext());
  EGLDisplay display = SharedDisplay(error);
  if (display == EGL_NO_DISPLAY) return nullptr;
  gl->display_ = display;
  EGLContext context = Es3Context(display, error);
  if (context == EGL_NO_CONTEXT) return nullptr;
  gl->context_ = context;
  if (!eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) {
    error = "cannot make the OpenGL ES context current (" + EglErrorText() + ")";
    return nullptr;
  }
  return gl;
}

OffscreenContext::~OffscreenContext() {
  if (!display_) return;
  eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  if (context_) eglDestroyContext(display_, context_);
  eglReleaseThread();
}

bool OffscreenContext::MakeCurrent() {
  return eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, context_) == EGL_TRUE;
}

void OffscreenContext::ReleaseCurrent() {
  eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
}

std::string OffscreenContext::Renderer() const {
  const GLubyte* name = glGetString(GL_RENDERER);
  return name ? reinterpret_cast<const char*>(name) : "";
}

}  // namespace host::render
