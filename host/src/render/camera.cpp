#include "camera.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace host::render {

namespace {

struct ViewInfo {
  View view;
  const char* name;
  Vec3 toCamera;
  Vec3 up;
};

constexpr float kInvSqrt3 = 0.57735026918962576f;

const ViewInfo kViews[] = {
    {View::Iso, "iso", {kInvSqrt3, kInvSqrt3, kInvSqrt3}, {0, 1, 0}},
    {View::Front, "front", {0, 0, 1}, {0, 1, 0}},
    {View::Back, "back", {0, 0, -1}, {0, 1, 0}},
    {View::Left, "left", {-1, 0, 0}, {0, 1, 0}},
    {View::Right, "right", {1, 0, 0}, {0, 1, 0}},
    {View::Top, "top", {0, 1, 0}, {0, 0, -1}},
};

const ViewInfo& Info(View view) {
  for (const ViewInfo& v : kViews)
    if (v.view == view) return v;
  return kViews[0];
}

Vec3 Cross(Vec3 a, Vec3 b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
float Dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec3 Normalised(Vec3 v) {
  const float len = std::sqrt(Dot(v, v));
  return {v.x / len, v.y / len, v.z / len};
}

std::array<Vec3, 8> Corners(const Box& b) {
  std::array<Vec3, 8> c;
  for (int i = 0; i < 8; ++i)
    c[i] = {i & 1 ? b.hi.x : b.lo.x, i & 2 ? b.hi.y : b.lo.y, i & 4 ? b.hi.z : b.lo.z};
  return c;
}

Matrix Multiply(const Matrix& a, const Matrix& b) {
  Matrix m{};
  for (int col = 0; col < 4; ++col)
    for (int row = 0; row < 4; ++row) {
      float s = 0;
      for (int k = 0; k < 4; ++k) s += a[k * 4 + row] * b[col * 4 + k];
      m[col * 4 + row] = s;
    }
  return m;
}

}  // namespace

float SceneSize(const Box& b) {
  if (b.empty) return 0;
  return std::max({b.hi.x - b.lo.x, b.hi.y - b.lo.y, b.hi.z - b.lo.z});
}

bool ParseView(const std::string& name, View& view) {
  std::string lower = name;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const ViewInfo& v : kViews) {
    if (lower != v.name) continue;
    view = v.view;
    return true;
  }
  return false;
}

const char* ViewName(View view) { return Info(view).name; }

const char* ViewNames() { return "iso, front, back, left, right, top"; }

void Box::Add(Vec3 p) {
  if (empty) {
    lo = hi = p;
    empty = false;
    return;
  }
  lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
  hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
}

void Box::Add(const Box& other) {
  if (other.empty) return;
  Add(other.lo);
  Add(other.hi);
}

Vec3 Box::Centre() const {
  // Halves first, so two huge coordinates cannot overflow.
  return {lo.x / 2 + hi.x / 2, lo.y / 2 + hi.y / 2, lo.z / 2 + hi.z / 2};
}

Camera FrameBox(const Box& framed, const Box& depth, View view, int width, int height) {
  const ViewInfo& info = Info(view);
  Camera cam;
  cam.toCamera = info.toCamera;
  const Vec3 back = info.toCamera;  // camera space +z
  const Vec3 right = Normalised(Cross(info.up, back));
  const Vec3 up = Cross(back, right);
  cam.view = {right.x, up.x, back.x, 0, right.y, up.y, back.y, 0,
              right.z, up.z, back.z, 0, 0,       0,    0,      1};

  float x0 = INFINITY, x1 = -INFINITY, y0 = INFINITY, y1 = -INFINITY;
  for (Vec3 c : Corners(framed)) {
    x0 = std::min(x0, Dot(c, right));
    x1 = std::max(x1, Dot(c, right));
    y0 = std::min(y0, Dot(c, up));
    y1 = std::max(y1, Dot(c, up));
  }
  // Everything is in proportion to the scene's own size, so a scene of any
  // finite size fills the frame the same way. A scene flat in the picture
  // takes its size from its depth; a single point gets a unit picture.
  float w = x1 - x0, h = y1 - y0;
  float size = std::max(w, h);
  if (!(size > 0)) size = SceneSize(framed);
  if (!(size > 0)) size = 1;
  const float margin = 0.05f * size;
  w = std::max(w, 1e-3f * size) + 2 * margin;
  h = std::max(h, 1e-3f * size) + 2 * margin;
  const float aspect = static_cast<float>(width) / static_cast<float>(height);
  if (w / h < aspect) w = h * aspect; else h = w / aspect;
  const float cx = (x0 + x1) / 2, cy = (y0 + y1) / 2;
  cam.left = cx - w / 2;
  cam.right = cx + w / 2;
  cam.bottom = cy - h / 2;
  cam.top = cy + h / 2;

  float z0 = INFINITY, z1 = -INFINITY;
  for (Vec3 c : Corners(depth)) {
    z0 = std::min(z0, Dot(c, back));
    z1 = std::max(z1, Dot(c, back));
  }
  const float pad = 0.01f * std::max(z1 - z0, size);
  cam.nearZ = -(z1 + pad);  // distances in front of the camera, as glOrtho takes them
  cam.farZ = -(z0 - pad);
  return cam;
}

Matrix Camera::TileMatrix(int x0, int y0, int x1, int y1, int width, int height) const {
  const float sx = (right - left) / static_cast<float>(width);
  const float sy = (top - bottom) / static_cast<float>(height);
  const float l = left + sx * static_cast<float>(x0), r = left + sx * static_cast<float>(x1);
  const float b = bottom + sy * static_cast<float>(y0), t = bottom + sy * static_cast<float>(y1);
  const float n = nearZ, f = farZ;
  Matrix ortho{};
  ortho[0] = 2 / (r - l);
  ortho[5] = 2 / (t - b);
  ortho[10] = -2 / (f - n);
  ortho[12] = -(r + l) / (r - l);
  ortho[13] = -(t + b) / (t - b);
  ortho[14] = -(f + n) / (f - n);
  ortho[15] = 1;
  return Multiply(ortho, view);
}

}  // namespace host::render
