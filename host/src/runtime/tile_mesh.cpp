#include "tile_mesh.h"

#include <string_view>

#include "xsi_value.h"

#include <meshoptimizer.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>

#include "record_set.h"

namespace host {
namespace {

constexpr double kMaxCoordinate = 1e30;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> out;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && IsBlank(text[i])) ++i;
    std::size_t j = i;
    while (j < text.size() && !IsBlank(text[j])) ++j;
    if (j > i) out.push_back(text.substr(i, j - i));
    i = j;
  }
  return out;
}

// The host's one number grammar (docs/commands.md, "Numbers in text"); the
// finite check follows.
bool ReadNumber(const std::string& word, double& out) {
  const XSI::NumberText r = XSI::ReadNumber(std::string_view(word), out);
  return r == XSI::NumberText::Ok || r == XSI::NumberText::NotFinite;
}

std::string Shown(const std::string& word) {
  return "'" + (word.size() > 40 ? word.substr(0, 40) + "..." : word) + "'";
}

}  // namespace

bool ParseBlocks(const std::string& text, std::vector<Block>& blocks, std::string& error) {
  static const char* kField[9] = {"x0", "y0", "z0", "x1", "y1", "z1", "r", "g", "b"};
  std::vector<Block> out;
  std::size_t entry = 0, start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(';', start);
    if (end == std::string::npos) end = text.size();
    ++entry;
    const std::vector<std::string> words = Words(text.substr(start, end - start));
    start = end + 1;
    if (words.empty()) continue;
    const std::string where = "entry " + std::to_string(entry) + ": ";
    if (words.size() != 9) {
      error = where + "expected 9 numbers (x0 y0 z0 x1 y1 z1 r g b), found " + std::to_string(words.size());
      return false;
    }
    if (out.size() == kMaxBlocks) {
      error = where + "more than " + std::to_string(kMaxBlocks) + " boxes in one object";
      return false;
    }
    double v[9];
    for (int k = 0; k < 9; ++k) {
      if (!ReadNumber(words[k], v[k])) {
        error = where + kField[k] + " " + Shown(words[k]) + " is not a number";
        return false;
      }
      if (!std::isfinite(v[k]) || std::fabs(v[k]) > kMaxCoordinate) {
        error = where + kField[k] + " " + Shown(words[k]) + " is not a finite number within 1e30";
        return false;
      }
    }
    Block b;
    for (int k = 0; k < 3; ++k) {
      if (v[k] > v[k + 3]) {
        error = where + "the min corner is above the max corner along " + "xyz"[k] + " (" + words[k] + " > " +
                words[k + 3] + ")";
        return false;
      }
      if (v[6 + k] < 0 || v[6 + k] > 1) {
        error = where + "colour component " + kField[6 + k] + " " + Shown(words[6 + k]) + " is outside 0..1";
        return false;
      }
      b.lo[k] = v[k];
      b.hi[k] = v[k + 3];
      b.colour[k] = v[6 + k];
    }
    out.push_back(b);
  }
  if (out.empty()) {
    error = "the list holds no box";
    return false;
  }
  blocks = std::move(out);
  return true;
}

std::string BlockMaterialName(const double colour[3]) {
  char hex[8];
  int c[3];
  for (int k = 0; k < 3; ++k) c[k] = static_cast<int>(std::lround(std::clamp(colour[k], 0.0, 1.0) * 255.0));
  std::snprintf(hex, sizeof hex, "%02x%02x%02x", c[0], c[1], c[2]);
  return std::string("block_") + hex;
}

Mesh BuildBlocks(const std::vector<Block>& blocks) {
  // Corner k of a box is (x bit 0, y bit 1, z bit 2) from lo to hi.
  static const std::uint32_t kQuads[6][4] = {{0, 4, 6, 2}, {1, 3, 7, 5}, {0, 1, 5, 4},
                                             {2, 6, 7, 3}, {0, 2, 3, 1}, {4, 5, 7, 6}};
  static const Vec3 kNormals[6] = {{-1, 0, 0}, {1, 0, 0}, {0, -1, 0}, {0, 1, 0}, {0, 0, -1}, {0, 0, 1}};
  Mesh m;
  m.positions.reserve(blocks.size() * 8);
  m.faceStart.reserve(blocks.size() * 6 + 1);
  m.cornerVertex.reserve(blocks.size() * 24);
  m.cornerNormal.reserve(blocks.size() * 24);
  m.faceMaterial.reserve(blocks.size() * 6);
  std::map<std::string, std::uint32_t> materialOf;
  for (const Block& b : blocks) {
    const std::string name = BlockMaterialName(b.colour);
    auto it = materialOf.find(name);
    if (it == materialOf.end()) {
      Material mat;
      mat.name = name;
      mat.diffuse = Vec3{float(b.colour[0]), float(b.colour[1]), float(b.colour[2])};
      it = materialOf.emplace(name, static_cast<std::uint32_t>(m.materials.size())).first;
      m.materials.push_back(mat);
    }
    const std::uint32_t base = static_cast<std::uint32_t>(m.positions.size());
    for (int k = 0; k < 8; ++k) {
      m.positions.push_back(Vec3{float((k & 1) ? b.hi[0] : b.lo[0]), float((k & 2) ? b.hi[1] : b.lo[1]),
                                 float((k & 4) ? b.hi[2] : b.lo[2])});
    }
    for (int f = 0; f < 6; ++f) {
      for (int c = 0; c < 4; ++c) {
        m.cornerVertex.push_back(base + kQuads[f][c]);
        m.cornerNormal.push_back(kNormals[f]);
      }
      m.faceStart.push_back(static_cast<std::uint32_t>(m.cornerVertex.size()));
      m.faceMaterial.push_back(it->second);
    }
  }
  return m;
}

// Simplification works on "wedges": the distinct (position, normal, UV)
// combinations of the corners, so attribute seams stay seams.
//
// meshoptimizer 0.18 can lock the vertices of open edges
// (meshopt_SimplifyLockBorder), which covers a terrain tile's outer edge
// and, since each material is simplified on its own, the edges between
// materials. It has no way to name other vertices to keep. A position that
// three or more vertices share is one it never moves, though (it cannot
// classify it), so every position on the X or Z side of the box gets two
// extra, unreferenced copies in the vertex array: such a position stays even
// when no open edge runs through it (a closed mesh, a terrain with skirts).
bool SimplifyMeshKeepingBorders(const Mesh& in, double ratio, double maxError, Mesh& out,
                                SimplifyReport& report, std::string& error) {
  for (const Vec3& p : in.positions) {
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
      error = "the mesh has a non-finite vertex position";
      return false;
    }
  }
  const bool hasNormals = !in.cornerNormal.empty(), hasUVs = !in.cornerUV.empty();
  const std::size_t rec = 4 + (hasNormals ? 12 : 0) + (hasUVs ? 8 : 0);
  RecordSet wedges(rec, in.CornerCount());
  std::vector<std::vector<unsigned int>> groups(in.materials.size());
  std::vector<unsigned int> fan;
  unsigned char record[24];
  std::size_t before = 0;
  for (std::size_t f = 0; f < in.FaceCount(); ++f) {
    const std::uint32_t b = in.faceStart[f], e = in.faceStart[f + 1];
    if (e - b < 3) continue;
    fan.clear();
    for (std::uint32_t c = b; c < e; ++c) {
      std::memcpy(record, &in.cornerVertex[c], 4);
      std::size_t at = 4;
      if (hasNormals) std::memcpy(record + at, &in.cornerNormal[c], 12), at += 12;
      if (hasUVs) std::memcpy(record + at, &in.cornerUV[c], 8);
      fan.push_back(wedges.Insert(record));
    }
    std::vector<unsigned int>& g = groups[in.faceMaterial[f]];
    for (std::size_t k = 1; k + 1 < fan.size(); ++k) g.insert(g.end(), {fan[0], fan[k], fan[k + 1]});
    before += fan.size() - 2;
  }
  const std::size_t wedgeCount = wedges.Count();
  auto positionOf = [&](std::size_t w) {
    std::uint32_t v;
    std::memcpy(&v, wedges.Record(w), 4);
    return v;
  };
  std::vector<float> xyz;
  xyz.reserve(wedgeCount * 3 + 64);
  Vec3 lo{0, 0, 0}, hi{0, 0, 0};
  for (std::size_t w = 0; w < wedgeCount; ++w) {
    const Vec3 p = in.positions[positionOf(w)];
    xyz.insert(xyz.end(), {p.x, p.y, p.z});
    if (w == 0) lo = hi = p;
    lo = Vec3{std::min(lo.x, p.x), 0, std::min(lo.z, p.z)};
    hi = Vec3{std::max(hi.x, p.x), 0, std::max(hi.z, p.z)};
  }
  std::vector<char> copied(in.positions.size(), 0);
  for (std::size_t w = 0; w < wedgeCount; ++w) {
    const std::uint32_t v = positionOf(w);
    const Vec3 p = in.positions[v];
    if (copied[v] || !(p.x == lo.x || p.x == hi.x || p.z == lo.z || p.z == hi.z)) continue;
    copied[v] = 1;
    for (int k = 0; k < 2; ++k) xyz.insert(xyz.end(), {p.x, p.y, p.z});
  }
  const std::size_t vertexCount = xyz.size() / 3;
  const float scale = wedgeCount > 0 ? meshopt_simplifyScale(xyz.data(), wedgeCount, 12) : 0.0f;

  float worst = 0;
  std::vector<std::vector<unsigned int>> kept(groups.size());
  for (std::size_t g = 0; g < groups.size(); ++g) {
    const std::vector<unsigned int>& idx = groups[g];
    if (idx.empty()) continue;
    const std::size_t target = std::min(idx.size(), static_cast<std::size_t>(ratio * double(idx.size() / 3)) * 3);
    kept[g].resize(idx.size());
    float achieved = 0;
    kept[g].resize(meshopt_simplify(kept[g].data(), idx.data(), idx.size(), xyz.data(), vertexCount, 12, target,
                                    static_cast<float>(maxError), meshopt_SimplifyLockBorder, &achieved));
    worst = std::max(worst, achieved);
  }

  // The result: positions in order of first use, one triangle per face.
  Mesh m;
  m.materials = in.materials;
  std::vector<std::uint32_t> newIndex(in.positions.size(), UINT32_MAX);
  std::size_t after = 0;
  for (const auto& g : kept) after += g.size() / 3;
  m.faceStart.reserve(after + 1);
  m.cornerVertex.reserve(after * 3);
  m.faceMaterial.reserve(after);
  if (hasNormals) m.cornerNormal.reserve(after * 3);
  if (hasUVs) m.cornerUV.reserve(after * 3);
  for (std::size_t g = 0; g < kept.size(); ++g) {
    for (std::size_t i = 0; i < kept[g].size(); ++i) {
      const unsigned char* r = wedges.Record(kept[g][i]);
      const std::uint32_t v = positionOf(kept[g][i]);
      if (newIndex[v] == UINT32_MAX) {
        newIndex[v] = static_cast<std::uint32_t>(m.positions.size());
        m.positions.push_back(in.positions[v]);
      }
      m.cornerVertex.push_back(newIndex[v]);
      std::size_t at = 4;
      if (hasNormals) {
        Vec3 n;
        std::memcpy(&n, r + at, 12);
        m.cornerNormal.push_back(n);
        at += 12;
      }
      if (hasUVs) {
        Vec2 uv;
        std::memcpy(&uv, r + at, 8);
        m.cornerUV.push_back(uv);
      }
      if (i % 3 == 2) {
        m.faceStart.push_back(static_cast<std::uint32_t>(m.cornerVertex.size()));
        m.faceMaterial.push_back(static_cast<std::uint32_t>(g));
      }
    }
  }
  report.trianglesBefore = before;
  report.trianglesAfter = after;
  report.error = double(worst) * double(scale);
  out = std::move(m);
  return true;
}

}  // namespace host
