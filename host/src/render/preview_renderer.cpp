#include "preview_renderer.h"

#include <GLES3/gl3.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <memory>
#include <mutex>

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

// Polygons of one normal: the same light at every corner, so it is worked
// out once a vertex (the very sums the per-pixel shader does) and handed on
// unchanged.
const char* kFlatVertexShader = R"(#version 300 es
uniform mat4 u_matrix;
uniform vec3 u_toCamera;
uniform vec3 u_toSun;
uniform float u_ambient;
uniform float u_sun;
layout(location = 0) in vec3 a_position;
layout(location = 1) in vec3 a_normal;
layout(location = 2) in vec3 a_colour;
flat out vec3 v_lit;
void main() {
  vec3 n = normalize(a_normal);
  if (dot(n, u_toCamera) < 0.0) n = -n;
  float light = u_ambient + u_sun * max(dot(n, u_toSun), 0.0);
  v_lit = min(a_colour * light, vec3(1.0));
  gl_Position = u_matrix * vec4(a_position, 1.0);
}
)";

const char* kFlatFragmentShader = R"(#version 300 es
precision highp float;
flat in vec3 v_lit;
out vec4 o_colour;
void main() {
  o_colour = vec4(v_lit, 1.0);
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

GLuint Program(const char* vertexShader, const char* fragmentShader, std::string& error) {
  const GLuint vs = glCreateShader(GL_VERTEX_SHADER), fs = glCreateShader(GL_FRAGMENT_SHADER);
  if (!Compile(vs, vertexShader, error) || !Compile(fs, fragmentShader, error)) return 0;
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

// A multisampled framebuffer to draw a tile into and a plain one to resolve
// it to and read back.
struct TileTargets {
  GLuint renderbuffers[3] = {}, framebuffers[2] = {};
  int width = 0, height = 0;
  GLuint DrawFbo() const { return framebuffers[0]; }
  GLuint ReadFbo() const { return framebuffers[1]; }
  void Free() {
    glDeleteFramebuffers(2, framebuffers);
    glDeleteRenderbuffers(3, renderbuffers);
    *this = TileTargets{};
  }
};

// Buffers of at most this many pixels (4 samples of colour and depth: 32 MiB)
// are kept for the next render; larger ones are freed after their render.
constexpr long long kKeptTargetPixels = 1024 * 1024;

// The draw list as uploaded: one interleaved vertex buffer and one index
// buffer: the triangles of one normal, the ground's six indices, then the
// triangles of varying normals.
// Only the boxes stay on the CPU. `snapshots` and `transforms` say which
// scene it is: a snapshot never changes while it is held (geometry.h), and
// any edit of a mesh gives its object a new one, so the same snapshots with
// the same transforms are the same picture's polygons.
struct UploadedScene {
  GLuint vao = 0, buffers[2] = {};
  bool valid = false;
  Box sceneBox, drawnBox;
  GLsizei flatIndices = 0, smoothIndices = 0;  // the scene's; the ground's six lie between
  std::vector<std::shared_ptr<const Mesh>> snapshots;
  std::vector<Transform> transforms;
};

// The context, its compiled program and the buffers of the last render are
// kept for the process: llvmpipe compiles shaders to machine code on first
// use, which costs more than drawing a large scene. Kept on purpose, never
// freed. One render at a time uses them (`mutex`).
struct Lighting {
  GLuint program = 0;
  GLint uMatrix = -1;
  GLint uToCamera = -1;
};

struct SharedGl {
  OffscreenContext* gl = nullptr;
  Lighting smooth, flat;
  UploadedScene scene;
  TileTargets targets;
  std::uint64_t builds = 0;
};

std::mutex& SharedMutex() {
  static std::mutex m;
  return m;
}

SharedGl& Kept() {
  static SharedGl kept;
  return kept;
}

// Makes the context and program on first use; makes the context current on
// this thread.
bool TakeSharedGl(SharedGl& kept, std::string& error) {
  if (!kept.gl) {
    std::unique_ptr<OffscreenContext> gl = OffscreenContext::Create(error);
    if (!gl) return false;
    Lighting smooth{Program(kVertexShader, kFragmentShader, error)};
    if (!smooth.program) return false;
    Lighting flat{Program(kFlatVertexShader, kFlatFragmentShader, error)};
    if (!flat.program) return false;
    kept.gl = gl.release();
    const float* s = kSunDirection;
    const float len = std::sqrt(s[0] * s[0] + s[1] * s[1] + s[2] * s[2]);
    for (Lighting* l : {&smooth, &flat}) {
      l->uMatrix = glGetUniformLocation(l->program, "u_matrix");
      l->uToCamera = glGetUniformLocation(l->program, "u_toCamera");
      glUseProgram(l->program);
      glUniform3f(glGetUniformLocation(l->program, "u_toSun"), s[0] / len, s[1] / len, s[2] / len);
      glUniform1f(glGetUniformLocation(l->program, "u_ambient"), kAmbient);
      glUniform1f(glGetUniformLocation(l->program, "u_sun"), kSun);
    }
    kept.smooth = smooth;
    kept.flat = flat;
    glGenVertexArrays(1, &kept.scene.vao);
    glGenBuffers(2, kept.scene.buffers);
    glBindVertexArray(kept.scene.vao);
    glBindBuffer(GL_ARRAY_BUFFER, kept.scene.buffers[0]);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, kept.scene.buffers[1]);
    const std::size_t offsets[3] = {offsetof(DrawVertex, position), offsetof(DrawVertex, normal),
                                    offsetof(DrawVertex, colour)};
    for (GLuint i = 0; i < 3; ++i) {
      glEnableVertexAttribArray(i);
      glVertexAttribPointer(i, 3, GL_FLOAT, GL_FALSE, sizeof(DrawVertex),
                            reinterpret_cast<const void*>(offsets[i]));
    }
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    glDisable(GL_CULL_FACE);
    glClearColor(kBackgroundColour[0], kBackgroundColour[1], kBackgroundColour[2], 1.0f);
    glClearDepthf(1.0f);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
  } else if (!kept.gl->MakeCurrent()) {
    error = "cannot make the OpenGL ES context current";
    return false;
  }
  return true;
}

// Releases the context when a render ends, however it ends; frees picture
// buffers too large to keep.
struct CurrentContext {
  SharedGl& kept;
  explicit CurrentContext(SharedGl& k) : kept(k) {}
  CurrentContext(const CurrentContext&) = delete;
  CurrentContext& operator=(const CurrentContext&) = delete;
  ~CurrentContext() {
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    if (static_cast<long long>(kept.targets.width) * kept.targets.height > kKeptTargetPixels)
      kept.targets.Free();
    kept.gl->ReleaseCurrent();
  }
};

bool SameScene(const UploadedScene& up, const std::vector<ExportItem>& items,
               const std::vector<std::shared_ptr<const Mesh>>& snapshots) {
  if (!up.valid || up.snapshots.size() != snapshots.size() || up.transforms.size() != items.size()) return false;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (up.snapshots[i] != snapshots[i]) return false;
    if (std::memcmp(&up.transforms[i], &items[i].xf, sizeof(Transform)) != 0) return false;
  }
  return true;
}

// Builds the draw list with its ground and uploads it, unless `snapshots`
// name the scene uploaded last.
bool UploadScene(SharedGl& kept, const std::vector<ExportItem>& items,
                 const std::vector<std::shared_ptr<const Mesh>>& snapshots, std::string& error) {
  UploadedScene& up = kept.scene;
  if (!snapshots.empty() && SameScene(up, items, snapshots)) return true;
  up.valid = false;
  up.snapshots.clear();
  up.transforms.clear();
  DrawList list;
  if (!BuildDrawList(items, list, error)) return false;
  const Box sceneBox = list.sceneBox;
  const auto flatIndices = static_cast<GLsizei>(list.indices.size());
  AddGround(list, kGroundColour);
  ++kept.builds;
  glBindVertexArray(up.vao);
  glBindBuffer(GL_ARRAY_BUFFER, up.buffers[0]);
  glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(list.vertices.size() * sizeof(DrawVertex)),
               list.vertices.data(), GL_STATIC_DRAW);
  const auto flatBytes = static_cast<GLsizeiptr>(list.indices.size() * sizeof(std::uint32_t));
  const auto smoothBytes = static_cast<GLsizeiptr>(list.smoothIndices.size() * sizeof(std::uint32_t));
  glBufferData(GL_ELEMENT_ARRAY_BUFFER, flatBytes + smoothBytes, nullptr, GL_STATIC_DRAW);
  glBufferSubData(GL_ELEMENT_ARRAY_BUFFER, 0, flatBytes, list.indices.data());
  glBufferSubData(GL_ELEMENT_ARRAY_BUFFER, flatBytes, smoothBytes, list.smoothIndices.data());
  if (glGetError() == GL_OUT_OF_MEMORY) {
    // Nothing half-uploaded is drawn later: empty both buffers.
    glBufferData(GL_ARRAY_BUFFER, 0, nullptr, GL_STATIC_DRAW);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, 0, nullptr, GL_STATIC_DRAW);
    error = "out of memory for the scene's polygons";
    return false;
  }
  up.sceneBox = sceneBox;
  up.drawnBox = list.drawnBox;
  up.flatIndices = flatIndices;
  up.smoothIndices = static_cast<GLsizei>(list.smoothIndices.size());
  if (items.size() == snapshots.size()) {
    up.snapshots = snapshots;
    for (const ExportItem& item : items) up.transforms.push_back(item.xf);
  }
  up.valid = true;
  return true;
}

bool MakeTargets(int w, int h, TileTargets& t, std::string& error) {
  if (t.width == w && t.height == h) return true;
  t.Free();
  GLint maxSamples = 0;
  glGetIntegerv(GL_MAX_SAMPLES, &maxSamples);
  const GLint samples = std::min(kWantedSamples, maxSamples);
  GLuint* rb = t.renderbuffers;
  glGenRenderbuffers(3, rb);
  glBindRenderbuffer(GL_RENDERBUFFER, rb[0]);
  glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples, GL_RGBA8, w, h);
  glBindRenderbuffer(GL_RENDERBUFFER, rb[1]);
  glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples, GL_DEPTH_COMPONENT24, w, h);
  glBindRenderbuffer(GL_RENDERBUFFER, rb[2]);
  glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, w, h);
  glGenFramebuffers(2, t.framebuffers);
  glBindFramebuffer(GL_FRAMEBUFFER, t.DrawFbo());
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, rb[0]);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, rb[1]);
  const GLenum drawStatus = glCheckFramebufferStatus(GL_FRAMEBUFFER);
  glBindFramebuffer(GL_FRAMEBUFFER, t.ReadFbo());
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, rb[2]);
  const GLenum readStatus = glCheckFramebufferStatus(GL_FRAMEBUFFER);
  if (glGetError() == GL_OUT_OF_MEMORY) {
    t.Free();
    error = "out of memory for the picture buffers";
    return false;
  }
  if (drawStatus != GL_FRAMEBUFFER_COMPLETE || readStatus != GL_FRAMEBUFFER_COMPLETE) {
    t.Free();
    error = "the OpenGL driver cannot draw into a multisampled RGBA picture";
    return false;
  }
  t.width = w;
  t.height = h;
  return true;
}

void DrawTile(const SharedGl& kept, bool ground, const Camera& cam, int x0, int y0, int x1, int y1,
              const PreviewSettings& s) {
  const TileTargets& t = kept.targets;
  const UploadedScene& up = kept.scene;
  const int w = x1 - x0, h = y1 - y0;
  glBindFramebuffer(GL_FRAMEBUFFER, t.DrawFbo());
  glViewport(0, 0, w, h);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  const Matrix m = cam.TileMatrix(x0, y0, x1, y1, s.width, s.height);
  const GLsizei flatCount = up.flatIndices + (ground ? 6 : 0);
  if (flatCount > 0) {
    glUseProgram(kept.flat.program);
    glUniformMatrix4fv(kept.flat.uMatrix, 1, GL_FALSE, m.data());
    glDrawElements(GL_TRIANGLES, flatCount, GL_UNSIGNED_INT, nullptr);
  }
  if (up.smoothIndices > 0) {
    glUseProgram(kept.smooth.program);
    glUniformMatrix4fv(kept.smooth.uMatrix, 1, GL_FALSE, m.data());
    const std::size_t offset = (static_cast<std::size_t>(up.flatIndices) + 6) * sizeof(std::uint32_t);
    glDrawElements(GL_TRIANGLES, up.smoothIndices, GL_UNSIGNED_INT, reinterpret_cast<const void*>(offset));
  }
  glBindFramebuffer(GL_READ_FRAMEBUFFER, t.DrawFbo());
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, t.ReadFbo());
  glBlitFramebuffer(0, 0, w, h, 0, 0, w, h, GL_COLOR_BUFFER_BIT, GL_NEAREST);
}

// OpenGL's rows run bottom to top; the picture's top to bottom.
void ReadTile(const TileTargets& t, int x0, int y0, int x1, int y1, std::vector<std::uint8_t>& rgba,
              RgbImage& image) {
  const int w = x1 - x0, h = y1 - y0;
  glBindFramebuffer(GL_READ_FRAMEBUFFER, t.ReadFbo());
  rgba.resize(static_cast<std::size_t>(w) * h * 4);
  glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
  for (int row = 0; row < h; ++row) {
    const std::uint8_t* src = rgba.data() + static_cast<std::size_t>(row) * w * 4;
    const int pictureRow = image.height - 1 - (y0 + row);
    std::uint8_t* dst = image.pixels.data() + (static_cast<std::size_t>(pictureRow) * image.width + x0) * 3;
    for (int x = 0; x < w; ++x) std::memcpy(dst + x * 3, src + x * 4, 3);
  }
}

bool Render(const std::vector<ExportItem>& items, const std::vector<std::shared_ptr<const Mesh>>& snapshots,
            const PreviewSettings& s, RgbImage& image, std::string& error) {
  if (std::string p = SideProblem("width", s.width); !p.empty()) return error = p, false;
  if (std::string p = SideProblem("height", s.height); !p.empty()) return error = p, false;

  std::lock_guard<std::mutex> lock(SharedMutex());
  SharedGl& kept = Kept();
  if (!TakeSharedGl(kept, error)) return false;
  CurrentContext current(kept);
  glGetError();  // start clean: an error left by an earlier render is not this one's
  if (!UploadScene(kept, items, snapshots, error)) return false;
  const UploadedScene& up = kept.scene;
  const bool ground = s.view != View::Top;
  const Camera cam = FrameBox(up.sceneBox, ground ? up.drawnBox : up.sceneBox, s.view, s.width, s.height);
  for (const Lighting* l : {&kept.flat, &kept.smooth}) {
    glUseProgram(l->program);
    glUniform3f(l->uToCamera, cam.toCamera.x, cam.toCamera.y, cam.toCamera.z);
  }
  glBindVertexArray(up.vao);

  if (!MakeTargets(std::min(s.width, kTileSide), std::min(s.height, kTileSide), kept.targets, error))
    return false;
  image.width = s.width;
  image.height = s.height;
  image.pixels.assign(static_cast<std::size_t>(s.width) * s.height * 3, 0);
  std::vector<std::uint8_t> rgba;
  for (int y0 = 0; y0 < s.height; y0 += kTileSide) {
    for (int x0 = 0; x0 < s.width; x0 += kTileSide) {
      const int x1 = std::min(s.width, x0 + kTileSide), y1 = std::min(s.height, y0 + kTileSide);
      DrawTile(kept, ground, cam, x0, y0, x1, y1, s);
      ReadTile(kept.targets, x0, y0, x1, y1, rgba, image);
    }
  }
  if (const GLenum e = glGetError(); e != GL_NO_ERROR) {
    error = e == GL_OUT_OF_MEMORY ? "out of memory while drawing"
                                  : "the OpenGL driver failed while drawing (error " + std::to_string(e) + ")";
    return false;
  }
  return true;
}

}  // namespace

bool RenderPreview(const std::vector<ExportItem>& items, const PreviewSettings& s, RgbImage& image,
                   std::string& error) {
  return Render(items, {}, s, image, error);
}

bool RenderPreview(const std::vector<ExportItem>& items, const std::vector<std::shared_ptr<const Mesh>>& snapshots,
                   const PreviewSettings& s, RgbImage& image, std::string& error) {
  if (snapshots.size() != items.size()) return Render(items, {}, s, image, error);
  for (std::size_t i = 0; i < items.size(); ++i)
    if (!snapshots[i] || snapshots[i].get() != items[i].mesh) return Render(items, {}, s, image, error);
  return Render(items, snapshots, s, image, error);
}

std::uint64_t PreviewDrawListBuilds() {
  std::lock_guard<std::mutex> lock(SharedMutex());
  return Kept().builds;
}

}  // namespace host::render
