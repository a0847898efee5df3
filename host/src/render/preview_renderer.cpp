#include "preview_renderer.h"

#include <GLES3/gl3.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "draw_list.h"
#include "egl_context.h"

namespace host::render {

namespace {

// Large pictures are drawn in tiles, so the multisampled buffers stay small
// (2048 x 2048 x 4 samples x 8 bytes = 128 MiB at most).
constexpr int kTileSide = 2048;
constexpr GLint kWantedSamples = 4;

const char* kVertexShader = R"(#version 300 es
uniform mat4 u_matrix;
layout(location = 0) in vec3 a_position;
layout(location = 1) in vec3 a_normal;
layout(location = 2) in vec3 a_colour;
out vec3 v_normal;
out vec3 v_colour;
void main() {
  v_normal = a_normal;
  v_colour = a_colour;
  gl_Position = u_matrix * vec4(a_position, 1.0);
}
)";

const char* kFragmentShader = R"(#version 300 es
precision highp float;
uniform vec3 u_toCamera;
uniform vec3 u_toSun;
uniform float u_ambient;
uniform float u_sun;
in vec3 v_normal;
in vec3 v_colour;
out vec4 o_colour;
void main() {
  vec3 n = normalize(v_normal);
  if (dot(n, u_toCamera) < 0.0) n = -n;
  float light = u_ambient + u_sun * max(dot(n, u_toSun), 0.0);
  o_colour = vec4(min(v_colour * light, vec3(1.0)), 1.0);
}
)";

bool Compile(GLuint shader, const char* source, std::string& error) {
  glShaderSource(shader, 1, &source, nullptr);
  glCompileShader(shader);
  GLint ok = GL_FALSE;
  glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
  if (ok == GL_TRUE) return true;
  char log[512] = {};
  glGetShaderInfoLog(shader, sizeof log - 1, nullptr, log);
  error = std::string("the OpenGL driver rejected the preview shader: ") + log;
  return false;
}

GLuint Program(std::string& error) {
  const GLuint vs = glCreateShader(GL_VERTEX_SHADER), fs = glCreateShader(GL_FRAGMENT_SHADER);
  if (!Compile(vs, kVertexShader, error) || !Compile(fs, kFragmentShader, error)) return 0;
  const GLuint program = glCreateProgram();
  glAttachShader(program, vs);
  glAttachShader(program, fs);
  glLinkProgram(program);
  GLint ok = GL_FALSE;
  glGetProgramiv(program, GL_LINK_STATUS, &ok);
  if (ok == GL_TRUE) return program;
  error = "the OpenGL driver could not link the preview shader";
  return 0;
}

// The context and its compiled program are kept for the process: llvmpipe
// compiles shaders to machine code on first use, which costs more than
// drawing a large scene. Kept on purpose, never freed.
struct SharedGl {
  OffscreenContext* gl = nullptr;
  GLuint program = 0;
};

bool TakeSharedGl(SharedGl& shared, std::string& error) {
  static SharedGl kept;
  if (!kept.gl) {
    std::unique_ptr<OffscreenContext> gl = OffscreenContext::Create(error);
    if (!gl) return false;
    const GLuint program = Program(error);
    if (!program) return false;
    kept = {gl.release(), program};
  } else if (!kept.gl->MakeCurrent()) {
    error = "cannot make the OpenGL ES context current";
    return false;
  }
  shared = kept;
  return true;
}

// Every object one render makes, deleted when it ends; the context stays
// current meanwhile and is released after.
struct RenderObjects {
  OffscreenContext* gl;
  GLuint vao = 0, buffers[2] = {}, renderbuffers[3] = {}, framebuffers[2] = {};
  explicit RenderObjects(OffscreenContext* context) : gl(context) {}
  RenderObjects(const RenderObjects&) = delete;
  RenderObjects& operator=(const RenderObjects&) = delete;
  ~RenderObjects() {
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glBindVertexArray(0);
    glDeleteFramebuffers(2, framebuffers);
    glDeleteRenderbuffers(3, renderbuffers);
    glDeleteBuffers(2, buffers);
    glDeleteVertexArrays(1, &vao);
    glFinish();
    gl->ReleaseCurrent();
  }
};

void UploadDrawList(const DrawList& list, RenderObjects& objects) {
  GLuint& vao = objects.vao;
  GLuint* buffers = objects.buffers;
  glGenVertexArrays(1, &vao);
  glBindVertexArray(vao);
  glGenBuffers(2, buffers);
  glBindBuffer(GL_ARRAY_BUFFER, buffers[0]);
  glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(list.vertices.size() * sizeof(DrawVertex)),
               list.vertices.data(), GL_STATIC_DRAW);
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, buffers[1]);
  glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(list.indices.size() * sizeof(std::uint32_t)),
               list.indices.data(), GL_STATIC_DRAW);
  const std::size_t offsets[3] = {offsetof(DrawVertex, position), offsetof(DrawVertex, normal),
                                  offsetof(DrawVertex, colour)};
  for (GLuint i = 0; i < 3; ++i) {
    glEnableVertexAttribArray(i);
    glVertexAttribPointer(i, 3, GL_FLOAT, GL_FALSE, sizeof(DrawVertex),
                          reinterpret_cast<const void*>(offsets[i]));
  }
}

void SetLighting(GLuint program, const Camera& cam) {
  const float* s = kSunDirection;
  const float len = std::sqrt(s[0] * s[0] + s[1] * s[1] + s[2] * s[2]);
  glUseProgram(program);
  glUniform3f(glGetUniformLocation(program, "u_toCamera"), cam.toCamera.x, cam.toCamera.y, cam.toCamera.z);
  glUniform3f(glGetUniformLocation(program, "u_toSun"), s[0] / len, s[1] / len, s[2] / len);
  glUniform1f(glGetUniformLocation(program, "u_ambient"), kAmbient);
  glUniform1f(glGetUniformLocation(program, "u_sun"), kSun);
}

// A multisampled framebuffer to draw a tile into and a plain one to resolve
// it to and read back.
struct TileTargets {
  GLuint drawFbo = 0, readFbo = 0;
};

bool MakeTargets(int w, int h, RenderObjects& objects, TileTargets& t, std::string& error) {
  GLint maxSamples = 0;
  glGetIntegerv(GL_MAX_SAMPLES, &maxSamples);
  const GLint samples = std::min(kWantedSamples, maxSamples);
  GLuint* rb = objects.renderbuffers;
  glGenRenderbuffers(3, rb);
  glBindRenderbuffer(GL_RENDERBUFFER, rb[0]);
  glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples, GL_RGBA8, w, h);
  glBindRenderbuffer(GL_RENDERBUFFER, rb[1]);
  glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples, GL_DEPTH_COMPONENT24, w, h);
  glBindRenderbuffer(GL_RENDERBUFFER, rb[2]);
  glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, w, h);
  glGenFramebuffers(2, objects.framebuffers);
  t.drawFbo = objects.framebuffers[0];
  t.readFbo = objects.framebuffers[1];
  glBindFramebuffer(GL_FRAMEBUFFER, t.drawFbo);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, rb[0]);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, rb[1]);
  const GLenum drawStatus = glCheckFramebufferStatus(GL_FRAMEBUFFER);
  glBindFramebuffer(GL_FRAMEBUFFER, t.readFbo);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, rb[2]);
  const GLenum readStatus = glCheckFramebufferStatus(GL_FRAMEBUFFER);
  if (glGetError() == GL_OUT_OF_MEMORY) {
    error = "out of memory for the picture buffers";
    return false;
  }
  if (drawStatus != GL_FRAMEBUFFER_COMPLETE || readStatus != GL_FRAMEBUFFER_COMPLETE) {
    error = "the OpenGL driver cannot draw into a multisampled RGBA picture";
    return false;
  }
  return true;
}

void DrawTile(const DrawList& list, const Camera& cam, GLuint program, const TileTargets& t, int x0,
              int y0, int x1, int y1, const PreviewSettings& s) {
  const int w = x1 - x0, h = y1 - y0;
  glBindFramebuffer(GL_FRAMEBUFFER, t.drawFbo);
  glViewport(0, 0, w, h);
  glClearColor(kBackgroundColour[0], kBackgroundColour[1], kBackgroundColour[2], 1.0f);
  glClearDepthf(1.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  const Matrix m = cam.TileMatrix(x0, y0, x1, y1, s.width, s.height);
  glUniformMatrix4fv(glGetUniformLocation(program, "u_matrix"), 1, GL_FALSE, m.data());
  glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(list.indices.size()), GL_UNSIGNED_INT, nullptr);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, t.drawFbo);
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, t.readFbo);
  glBlitFramebuffer(0, 0, w, h, 0, 0, w, h, GL_COLOR_BUFFER_BIT, GL_NEAREST);
}

// OpenGL's rows run bottom to top; the picture's top to bottom.
void ReadTile(const TileTargets& t, int x0, int y0, int x1, int y1, std::vector<std::uint8_t>& rgba,
              RgbImage& image) {
  const int w = x1 - x0, h = y1 - y0;
  glBindFramebuffer(GL_READ_FRAMEBUFFER, t.readFbo);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  rgba.resize(static_cast<std::size_t>(w) * h * 4);
  glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
  for (int row = 0; row < h; ++row) {
    const std::uint8_t* src = rgba.data() + static_cast<std::size_t>(row) * w * 4;
    const int pictureRow = image.height - 1 - (y0 + row);
    std::uint8_t* dst = image.pixels.data() + (static_cast<std::size_t>(pictureRow) * image.width + x0) * 3;
    for (int x = 0; x < w; ++x) std::memcpy(dst + x * 3, src + x * 4, 3);
  }
}

}  // namespace

bool RenderPreview(const std::vector<ExportItem>& items, const PreviewSettings& s, RgbImage& image,
                   std::string& error) {
  if (std::string p = SideProblem("width", s.width); !p.empty()) return error = p, false;
  if (std::string p = SideProblem("height", s.height); !p.empty()) return error = p, false;
  DrawList list;
  if (!BuildDrawList(items, list, error)) return false;
  if (s.view != View::Top) AddGround(list, kGroundColour);
  const Camera cam = FrameBox(list.sceneBox, list.drawnBox, s.view, s.width, s.height);

  SharedGl shared;
  if (!TakeSharedGl(shared, error)) return false;
  RenderObjects objects(shared.gl);
  glGetError();  // start clean: an error left by an earlier render is not this one's
  const GLuint program = shared.program;
  UploadDrawList(list, objects);
  if (glGetError() == GL_OUT_OF_MEMORY) return error = "out of memory for the scene's polygons", false;
  SetLighting(program, cam);
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LESS);
  glDisable(GL_CULL_FACE);

  TileTargets targets;
  if (!MakeTargets(std::min(s.width, kTileSide), std::min(s.height, kTileSide), objects, targets, error))
    return false;
  image.width = s.width;
  image.height = s.height;
  image.pixels.assign(static_cast<std::size_t>(s.width) * s.height * 3, 0);
  std::vector<std::uint8_t> rgba;
  for (int y0 = 0; y0 < s.height; y0 += kTileSide) {
    for (int x0 = 0; x0 < s.width; x0 += kTileSide) {
      const int x1 = std::min(s.width, x0 + kTileSide), y1 = std::min(s.height, y0 + kTileSide);
      DrawTile(list, cam, program, targets, x0, y0, x1, y1, s);
      ReadTile(targets, x0, y0, x1, y1, rgba, image);
    }
  }
  if (const GLenum e = glGetError(); e != GL_NO_ERROR) {
    error = e == GL_OUT_OF_MEMORY ? "out of memory while drawing"
                                  : "the OpenGL driver failed while drawing (error " + std::to_string(e) + ")";
    return false;
  }
  return true;
}

}  // namespace host::render
