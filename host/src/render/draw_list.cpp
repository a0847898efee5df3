#include "draw_list.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace host::render {

namespace {

Vec3 Sub(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
float Dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

// Newell's method: robust for non-planar and concave polygons. Zero for a
// degenerate polygon.
Vec3 PolygonNormal(const std::vector<Vec3>& world, std::size_t first, std::size_t count) {
  Vec3 n{0, 0, 0};
  for (std::size_t i = 0; i < count; ++i) {
    const Vec3 a = world[first + i], b = world[first + (i + 1) % count];
    n.x += (a.y - b.y) * (a.z + b.z);
    n.y += (a.z - b.z) * (a.x + b.x);
    n.z += (a.x - b.x) * (a.y + b.y);
  }
  return n;
}

// Unit length, or `fallback` for a zero or non-finite vector.
Vec3 UnitOr(Vec3 v, Vec3 fallback) {
  const float len = std::sqrt(Dot(v, v));
  if (!(len > 0) || !std::isfinite(len)) return fallback;
  return {v.x / len, v.y / len, v.z / len};
}

float Unit(float c) { return std::clamp(c, 0.0f, 1.0f); }

void Append(DrawList& list, Vec3 p, Vec3 n, Vec3 colour) {
  list.vertices.push_back({{p.x, p.y, p.z}, {n.x, n.y, n.z}, {Unit(colour.x), Unit(colour.y), Unit(colour.z)}});
}

std::size_t TriangleCorners(const Mesh& m) {
  std::size_t n = 0;
  for (std::size_t f = 0; f < m.FaceCount(); ++f) {
    const std::size_t count = m.faceStart[f + 1] - m.faceStart[f];
    if (count >= 3) n += 3 * (count - 2);
  }
  return n;
}

void AddMesh(const ExportItem& item, DrawList& list) {
  const Mesh& m = *item.mesh;
  const bool storedNormals = m.cornerNormal.size() == m.CornerCount();
  std::vector<Vec3> world(m.CornerCount());
  for (std::size_t c = 0; c < m.CornerCount(); ++c)
    world[c] = Sub(item.xf.ApplyPoint(m.positions[m.cornerVertex[c]]), list.origin);
  for (std::size_t f = 0; f < m.FaceCount(); ++f) {
    const std::size_t first = m.faceStart[f], count = m.faceStart[f + 1] - first;
    if (count < 3) continue;
    const Vec3 flat = UnitOr(PolygonNormal(world, first, count), Vec3{0, 1, 0});
    const Vec3 colour = m.materials[m.faceMaterial[f]].diffuse;
    const auto base = static_cast<std::uint32_t>(list.vertices.size());
    bool oneNormal = true;
    for (std::size_t i = 0; i < count; ++i) {
      const Vec3 n = storedNormals ? UnitOr(item.xf.ApplyNormal(m.cornerNormal[first + i]), flat) : flat;
      Append(list, world[first + i], n, colour);
      const float* n0 = list.vertices[base].normal;
      oneNormal = oneNormal && n.x == n0[0] && n.y == n0[1] && n.z == n0[2];
    }
    std::vector<std::uint32_t>& out = oneNormal ? list.indices : list.smoothIndices;
    for (std::size_t i = 1; i + 1 < count; ++i) {
      out.push_back(base);
      out.push_back(base + static_cast<std::uint32_t>(i));
      out.push_back(base + static_cast<std::uint32_t>(i + 1));
    }
  }
}

}  // namespace

bool BuildDrawList(const std::vector<ExportItem>& items, DrawList& list, std::string& error) {
  list = DrawList{};
  if (std::string problem = ExportProblem(items); !problem.empty()) {
    error = problem;
    return false;
  }
  Box world;
  std::size_t corners = 0, triangleCorners = 0;
  for (const ExportItem& item : items) {
    if (!item.mesh) continue;
    const Mesh& m = *item.mesh;
    for (std::size_t f = 0; f < m.FaceCount(); ++f) {
      if (m.faceStart[f + 1] - m.faceStart[f] < 3) continue;
      for (std::uint32_t c = m.faceStart[f]; c < m.faceStart[f + 1]; ++c)
        world.Add(item.xf.ApplyPoint(m.positions[m.cornerVertex[c]]));
    }
    corners += m.CornerCount();
    triangleCorners += TriangleCorners(m);
  }
  if (world.empty) {
    error = "the scene has no polygons to show";
    return false;
  }
  // One index space for OpenGL's 32-bit indices.
  if (corners >= std::numeric_limits<std::uint32_t>::max() - 8) {
    error = "the scene has too many polygon corners to draw (" + std::to_string(corners) + ")";
    return false;
  }
  list.origin = world.Centre();
  list.vertices.reserve(corners + 4);
  list.indices.reserve(triangleCorners + 6);
  for (const ExportItem& item : items)
    if (item.mesh) AddMesh(item, list);
  list.sceneBox.Add(Sub(world.lo, list.origin));
  list.sceneBox.Add(Sub(world.hi, list.origin));
  list.drawnBox = list.sceneBox;
  return true;
}

void AddGround(DrawList& list, const float (&rgb)[3]) {
  const Box& b = list.sceneBox;
  // Sized from the scene alone: a fixed size would dwarf a tiny scene (and
  // the camera frames the ground's depth) or vanish under a huge one.
  float reach = 0.6f * std::max(b.hi.x - b.lo.x, b.hi.z - b.lo.z);
  if (!(reach > 0)) reach = 0.6f * SceneSize(b);
  if (!(reach > 0)) reach = 1;
  // A little below the lowest point, so the scene's own bottom faces win.
  const float y = b.lo.y - 1e-3f * (b.hi.y - b.lo.y + reach);
  const Vec3 colour{rgb[0], rgb[1], rgb[2]};
  const Vec3 up{0, 1, 0};
  const auto base = static_cast<std::uint32_t>(list.vertices.size());
  const Vec3 corners[4] = {{b.lo.x - reach, y, b.lo.z - reach}, {b.lo.x - reach, y, b.hi.z + reach},
                           {b.hi.x + reach, y, b.hi.z + reach}, {b.hi.x + reach, y, b.lo.z - reach}};
  for (Vec3 c : corners) {
    Append(list, c, up, colour);
    list.drawnBox.Add(c);
  }
  for (std::uint32_t i : {0u, 1u, 2u, 0u, 2u, 3u}) list.indices.push_back(base + i);
}

}  // namespace host::render
