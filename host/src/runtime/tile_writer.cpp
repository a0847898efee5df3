// The tile encoder. Each node's meshes are baked to scene coordinates, split
// into one primitive per material name, fan-triangulated and de-duplicated
// into vertices. Compressed tiles then quantize positions on a 16-bit grid
// over the node's box (the node's translation and uniform scale undo it),
// normals to 8 bits, reorder triangles and vertices for meshoptimizer's
// codecs and store every buffer view encoded, with an empty fallback buffer
// as the extension allows.
#include "tile_writer.h"

#include <meshoptimizer.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <memory>

#include "mesh_ops.h"
#include "record_set.h"
#include "text.h"

namespace host {
namespace {

using Json = nlohmann::json;

constexpr double kGrid = 65535.0;  // positions' 16-bit grid
constexpr std::uint64_t kMaxGlbBytes = std::numeric_limits<std::uint32_t>::max();

constexpr int kByte = 5120, kUnsignedShort = 5123, kUnsignedInt = 5125, kFloat = 5126;
constexpr int kArrayBuffer = 34962, kElementArrayBuffer = 34963;

std::uint64_t PaddedTo4(std::uint64_t n) { return (n + 3) & ~std::uint64_t{3}; }

Vec3 Unit(Vec3 n) {
  const double len = std::sqrt(double(n.x) * n.x + double(n.y) * n.y + double(n.z) * n.z);
  if (!(len > 0.0)) return {0.0f, 1.0f, 0.0f};
  return {float(n.x / len), float(n.y / len), float(n.z / len)};
}

std::string Trim(const std::string& s) {
  const std::size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

// One face of one source mesh.
struct FaceRef {
  std::uint32_t source, face;
};

struct Primitive {
  int material = 0;  // index into the document's materials
  std::vector<FaceRef> faces;
};

// A node of the tile: its meshes in scene coordinates and their box.
struct NodePlan {
  std::string name;
  std::vector<std::uint32_t> sources;
  std::vector<Primitive> primitives;
  double lo[3], hi[3];
  bool HasBox() const { return lo[0] <= hi[0]; }
};

// The vertex streams of one primitive, after de-duplication.
struct Streams {
  std::vector<unsigned char> positions, normals;  // interleaved per vertex, fixed strides
  std::vector<std::uint32_t> indices;
  std::size_t vertexCount = 0;
  double posMin[3], posMax[3];  // in stored units (grid steps or floats)
};

class TileEncoder {
 public:
  TileEncoder(const std::vector<ExportItem>& items, const TileOptions& options)
      : items_(items), options_(options) {
    doc_["asset"] = {{"version", "2.0"}, {"generator", "scenehost"}};
    doc_["scene"] = 0;
    doc_["scenes"] = Json::array({Json{{"nodes", Json::array()}}});
  }

  bool Encode(std::string& glb, TileStats& stats, std::string& reason) {
    Bake();
    Plan();
    for (double& v : stats.min) v = std::numeric_limits<double>::infinity();
    for (double& v : stats.max) v = -std::numeric_limits<double>::infinity();
    for (const NodePlan& node : nodes_) {
      if (!AddNode(node, stats, reason)) return false;
    }
    if (stats.triangles == 0) {
      reason = "the objects have no triangles to write";
      return false;
    }
    Finish();
    const std::string json = doc_.dump();
    const std::uint64_t total = 12 + 8 + PaddedTo4(json.size()) + 8 + PaddedTo4(bin_.size());
    if (total > kMaxGlbBytes) {
      reason = "the tile needs " + std::to_string(total) +
               " bytes, more than the 4 GiB a binary glTF file can hold";
      return false;
    }
    glb.clear();
    glb.reserve(total);
    auto u32 = [&](std::uint64_t v) {
      for (int i = 0; i < 4; ++i) glb.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
    };
    glb.append("glTF", 4);
    u32(2);
    u32(total);
    u32(PaddedTo4(json.size()));
    glb.append("JSON", 4);
    glb += json;
    glb.append(PaddedTo4(json.size()) - json.size(), ' ');
    u32(PaddedTo4(bin_.size()));
    glb.append("BIN\0", 4);
    glb.append(reinterpret_cast<const char*>(bin_.data()), bin_.size());
    glb.append(PaddedTo4(bin_.size()) - bin_.size(), '\0');
    stats.bytes = glb.size();
    return true;
  }

 private:
  // Meshes in scene coordinates: an item's own mesh when its transform is
  // the identity, else a baked copy (which also keeps mirrored faces facing
  // out).
  void Bake() {
    for (const ExportItem& item : items_) {
      if (!item.mesh || item.xf.IsIdentity()) {
        world_.push_back(item.mesh);
        continue;
      }
      baked_.push_back(std::make_unique<Mesh>(BakeTransform(*item.mesh, item.xf)));
      world_.push_back(baked_.back().get());
    }
  }

  void Plan() {
    if (options_.merge) {
      nodes_.emplace_back();
      nodes_.back().name = options_.mergedName;
      for (std::uint32_t i = 0; i < items_.size(); ++i) nodes_.back().sources.push_back(i);
    } else {
      for (std::uint32_t i = 0; i < items_.size(); ++i) {
        nodes_.emplace_back();
        nodes_.back().name = items_[i].name;
        nodes_.back().sources.push_back(i);
      }
    }
    for (NodePlan& node : nodes_) PlanNode(node);
  }

  // Faces grouped by material name in order of first use; the box of every
  // position a triangle uses.
  void PlanNode(NodePlan& node) {
    std::fill(node.lo, node.lo + 3, std::numeric_limits<double>::infinity());
    std::fill(node.hi, node.hi + 3, -std::numeric_limits<double>::infinity());
    std::map<std::string, std::size_t> byName;
    for (std::uint32_t s : node.sources) {
      const Mesh* m = world_[s];
      if (!m) continue;
      std::vector<std::size_t> primOf(m->materials.size(), SIZE_MAX);
      for (std::uint32_t f = 0; f < m->FaceCount(); ++f) {
        const std::uint32_t b = m->faceStart[f], e = m->faceStart[f + 1];
        if (e - b < 3) continue;
        const std::uint32_t mat = m->faceMaterial[f];
        if (primOf[mat] == SIZE_MAX) {
          const Material& material = m->materials[mat];
          auto it = byName.find(material.name);
          if (it == byName.end()) {
            it = byName.emplace(material.name, node.primitives.size()).first;
            node.primitives.push_back(Primitive{MaterialIndex(material), {}});
          }
          primOf[mat] = it->second;
        }
        node.primitives[primOf[mat]].faces.push_back(FaceRef{s, f});
        for (std::uint32_t c = b; c < e; ++c) {
          const Vec3 p = m->positions[m->cornerVertex[c]];
          const double v[3] = {p.x, p.y, p.z};
          for (int k = 0; k < 3; ++k) {
            node.lo[k] = std::min(node.lo[k], v[k]);
            node.hi[k] = std::max(node.hi[k], v[k]);
          }
        }
      }
    }
  }

  int MaterialIndex(const Material& m) {
    auto it = materialByName_.find(m.name);
    if (it != materialByName_.end()) return it->second;
    auto unit = [](float c) { return std::clamp(double(c), 0.0, 1.0); };
    Json material = {{"name", m.name},
                     {"pbrMetallicRoughness",
                      {{"baseColorFactor", {unit(m.diffuse.x), unit(m.diffuse.y), unit(m.diffuse.z), 1.0}},
                       {"metallicFactor", 0.0},
                       {"roughnessFactor", 1.0}}}};
    const int index = static_cast<int>(materials_.size());
    materials_.push_back(std::move(material));
    materialByName_.emplace(m.name, index);
    return index;
  }

  // The node's grid: scene = offset + q / 65535 * scale, one scale for all
  // three axes so normals need no correction.
  struct Grid {
    double offset[3] = {0, 0, 0};
    double scale = 1;
  };
  static Grid GridOf(const NodePlan& node) {
    Grid g;
    double extent = 0;
    for (int k = 0; k < 3; ++k) {
      g.offset[k] = node.lo[k];
      extent = std::max(extent, node.hi[k] - node.lo[k]);
    }
    g.scale = extent > 0 ? extent : 1.0;
    return g;
  }

  bool AddNode(const NodePlan& node, TileStats& stats, std::string& reason) {
    Json jnode = {{"name", node.name}};
    if (!node.primitives.empty()) {
      const Grid grid = GridOf(node);
      Json mesh = {{"name", node.name}, {"primitives", Json::array()}};
      for (const Primitive& prim : node.primitives) {
        Streams s = Build(prim, grid);
        if (s.vertexCount > std::numeric_limits<std::uint32_t>::max()) {
          reason = "object '" + node.name + "' has more vertices than a tile can index";
          return false;
        }
        stats.vertices += s.vertexCount;
        stats.triangles += s.indices.size() / 3;
        for (int k = 0; k < 3; ++k) {
          const double lo = options_.compress ? grid.offset[k] + s.posMin[k] / kGrid * grid.scale : s.posMin[k];
          const double hi = options_.compress ? grid.offset[k] + s.posMax[k] / kGrid * grid.scale : s.posMax[k];
          stats.min[k] = std::min(stats.min[k], lo);
          stats.max[k] = std::max(stats.max[k], hi);
        }
        mesh["primitives"].push_back(AddPrimitive(s, prim.material));
      }
      jnode["mesh"] = meshes_.size();
      meshes_.push_back(std::move(mesh));
      if (options_.compress) {
        jnode["translation"] = {grid.offset[0], grid.offset[1], grid.offset[2]};
        jnode["scale"] = {grid.scale, grid.scale, grid.scale};
      }
    }
    doc_["scenes"][0]["nodes"].push_back(nodes_json_.size());
    nodes_json_.push_back(std::move(jnode));
    return true;
  }

  // Vertices of the primitive: every corner of its triangles, equal ones
  // (same stored position and normal) once, in order of first use.
  Streams Build(const Primitive& prim, const Grid& grid) {
    const bool q = options_.compress;
    const std::size_t posBytes = q ? 8 : 12, nrmBytes = q ? 4 : 12, rec = posBytes + nrmBytes;
    std::size_t corners = 0;
    for (const FaceRef& f : prim.faces) {
      const Mesh& m = *world_[f.source];
      corners += m.faceStart[f.face + 1] - m.faceStart[f.face];
    }
    RecordSet set(rec, corners);
    Streams s;
    unsigned char record[24] = {};
    std::vector<std::uint32_t> fan;
    for (const FaceRef& f : prim.faces) {
      const Mesh& m = *world_[f.source];
      const std::uint32_t b = m.faceStart[f.face], e = m.faceStart[f.face + 1];
      const Vec3 flat = m.cornerNormal.empty() ? FaceNormalOf(m, f.face) : Vec3{};
      fan.clear();
      for (std::uint32_t c = b; c < e; ++c) {
        const Vec3 p = m.positions[m.cornerVertex[c]];
        const Vec3 n = Unit(m.cornerNormal.empty() ? flat : m.cornerNormal[c]);
        if (q) {
          const double v[3] = {p.x, p.y, p.z};
          std::uint16_t qp[4] = {0, 0, 0, 0};
          for (int k = 0; k < 3; ++k) {
            const double t = std::round((v[k] - grid.offset[k]) / grid.scale * kGrid);
            qp[k] = static_cast<std::uint16_t>(std::clamp(t, 0.0, kGrid));
          }
          const std::int8_t qn[4] = {Snorm8(n.x), Snorm8(n.y), Snorm8(n.z), 0};
          std::memcpy(record, qp, 8);
          std::memcpy(record + 8, qn, 4);
        } else {
          std::memcpy(record, &p, 12);
          std::memcpy(record + 12, &n, 12);
        }
        fan.push_back(set.Insert(record));
      }
      for (std::size_t k = 1; k + 1 < fan.size(); ++k) {
        s.indices.insert(s.indices.end(), {fan[0], fan[k], fan[k + 1]});
      }
    }
    s.vertexCount = set.Count();
    std::vector<unsigned char>& records = set.Records();
    if (q) {
      // Triangle order for the vertex cache, then vertices in order of first
      // use: both make the codecs' deltas small.
      meshopt_optimizeVertexCache(s.indices.data(), s.indices.data(), s.indices.size(), s.vertexCount);
      std::vector<unsigned int> remap(s.vertexCount);
      meshopt_optimizeVertexFetchRemap(remap.data(), s.indices.data(), s.indices.size(), s.vertexCount);
      meshopt_remapIndexBuffer(s.indices.data(), s.indices.data(), s.indices.size(), remap.data());
      std::vector<unsigned char> reordered(records.size());
      meshopt_remapVertexBuffer(reordered.data(), records.data(), s.vertexCount, rec, remap.data());
      records.swap(reordered);
    }
    s.positions.resize(s.vertexCount * posBytes);
    s.normals.resize(s.vertexCount * nrmBytes);
    std::fill(s.posMin, s.posMin + 3, std::numeric_limits<double>::infinity());
    std::fill(s.posMax, s.posMax + 3, -std::numeric_limits<double>::infinity());
    for (std::size_t v = 0; v < s.vertexCount; ++v) {
      const unsigned char* r = records.data() + v * rec;
      std::memcpy(s.positions.data() + v * posBytes, r, posBytes);
      std::memcpy(s.normals.data() + v * nrmBytes, r + posBytes, nrmBytes);
      for (int k = 0; k < 3; ++k) {
        double value;
        if (q) {
          std::uint16_t c;
          std::memcpy(&c, r + 2 * k, 2);
          value = c;
        } else {
          float c;
          std::memcpy(&c, r + 4 * k, 4);
          value = c;
        }
        s.posMin[k] = std::min(s.posMin[k], value);
        s.posMax[k] = std::max(s.posMax[k], value);
      }
    }
    return s;
  }

  static std::int8_t Snorm8(float v) {
    return static_cast<std::int8_t>(std::clamp(std::round(double(v) * 127.0), -127.0, 127.0));
  }

  Json AddPrimitive(const Streams& s, int material) {
    const bool q = options_.compress;
    const std::size_t n = s.vertexCount;
    const int posView = AddView(s.positions.data(), s.positions.size(), n, q ? 8 : 12, kArrayBuffer);
    Json pos = {{"bufferView", posView},
                {"componentType", q ? kUnsignedShort : kFloat},
                {"count", n},
                {"type", "VEC3"},
                {"min", {s.posMin[0], s.posMin[1], s.posMin[2]}},
                {"max", {s.posMax[0], s.posMax[1], s.posMax[2]}}};
    if (q) {
      // Stored values, which for a normalized accessor are whole numbers.
      pos["normalized"] = true;
      for (int k = 0; k < 3; ++k) {
        pos["min"][k] = static_cast<std::int64_t>(s.posMin[k]);
        pos["max"][k] = static_cast<std::int64_t>(s.posMax[k]);
      }
    }
    const int nrmView = AddView(s.normals.data(), s.normals.size(), n, q ? 4 : 12, kArrayBuffer);
    Json nrm = {{"bufferView", nrmView}, {"componentType", q ? kByte : kFloat}, {"count", n}, {"type", "VEC3"}};
    if (q) nrm["normalized"] = true;

    const bool wide = n > 65535;
    std::vector<unsigned char> indexBytes;
    if (wide) {
      indexBytes.resize(s.indices.size() * 4);
      std::memcpy(indexBytes.data(), s.indices.data(), indexBytes.size());
    } else {
      indexBytes.resize(s.indices.size() * 2);
      for (std::size_t i = 0; i < s.indices.size(); ++i) {
        const std::uint16_t v = static_cast<std::uint16_t>(s.indices[i]);
        std::memcpy(indexBytes.data() + 2 * i, &v, 2);
      }
    }
    const int idxView = AddIndexView(indexBytes, s.indices, n, wide ? 4 : 2);
    Json idx = {{"bufferView", idxView},
                {"componentType", wide ? kUnsignedInt : kUnsignedShort},
                {"count", s.indices.size()},
                {"type", "SCALAR"}};
    Json prim = {{"attributes", {{"POSITION", accessors_.size()}, {"NORMAL", accessors_.size() + 1}}},
                 {"indices", accessors_.size() + 2},
                 {"material", material},
                 {"mode", 4}};
    accessors_.push_back(std::move(pos));
    accessors_.push_back(std::move(nrm));
    accessors_.push_back(std::move(idx));
    return prim;
  }

  // A vertex attribute's view: raw in the binary chunk, or encoded there
  // with the view itself in the fallback buffer.
  int AddView(const unsigned char* data, std::size_t bytes, std::size_t count, std::size_t stride, int target) {
    Json view = {{"byteStride", stride}, {"target", target}};
    if (!options_.compress) {
      Place(view, data, bytes);
    } else {
      std::vector<unsigned char> encoded(meshopt_encodeVertexBufferBound(count, stride));
      encoded.resize(meshopt_encodeVertexBuffer(encoded.data(), encoded.size(), data, count, stride));
      PlaceEncoded(view, encoded, bytes, count, stride, "ATTRIBUTES");
    }
    views_.push_back(std::move(view));
    return static_cast<int>(views_.size() - 1);
  }

  int AddIndexView(const std::vector<unsigned char>& bytes, const std::vector<std::uint32_t>& indices,
                   std::size_t vertexCount, std::size_t indexSize) {
    Json view = {{"target", kElementArrayBuffer}};
    if (!options_.compress) {
      Place(view, bytes.data(), bytes.size());
    } else {
      std::vector<unsigned char> encoded(meshopt_encodeIndexBufferBound(indices.size(), vertexCount));
      encoded.resize(meshopt_encodeIndexBuffer(encoded.data(), encoded.size(), indices.data(), indices.size()));
      PlaceEncoded(view, encoded, bytes.size(), indices.size(), indexSize, "TRIANGLES");
    }
    views_.push_back(std::move(view));
    return static_cast<int>(views_.size() - 1);
  }

  void Place(Json& view, const unsigned char* data, std::size_t bytes) {
    bin_.resize(PaddedTo4(bin_.size()), 0);
    view["buffer"] = 0;
    view["byteOffset"] = bin_.size();
    view["byteLength"] = bytes;
    bin_.insert(bin_.end(), data, data + bytes);
  }

  void PlaceEncoded(Json& view, const std::vector<unsigned char>& encoded, std::size_t rawBytes,
                    std::size_t count, std::size_t stride, const char* mode) {
    bin_.resize(PaddedTo4(bin_.size()), 0);
    fallback_ = PaddedTo4(fallback_);
    view["buffer"] = 1;
    view["byteOffset"] = fallback_;
    view["byteLength"] = rawBytes;
    view["extensions"]["EXT_meshopt_compression"] = {{"buffer", 0},
                                                     {"byteOffset", bin_.size()},
                                                     {"byteLength", encoded.size()},
                                                     {"byteStride", stride},
                                                     {"count", count},
                                                     {"mode", mode}};
    fallback_ += rawBytes;
    bin_.insert(bin_.end(), encoded.begin(), encoded.end());
  }

  void Finish() {
    doc_["nodes"] = std::move(nodes_json_);
    doc_["meshes"] = std::move(meshes_);
    doc_["materials"] = std::move(materials_);
    doc_["accessors"] = std::move(accessors_);
    doc_["bufferViews"] = std::move(views_);
    doc_["buffers"] = Json::array({Json{{"byteLength", bin_.size()}}});
    if (options_.compress) {
      doc_["buffers"].push_back(
          {{"byteLength", PaddedTo4(fallback_)}, {"extensions", {{"EXT_meshopt_compression", {{"fallback", true}}}}}});
      const Json used = {"EXT_meshopt_compression", "KHR_mesh_quantization"};
      doc_["extensionsUsed"] = used;
      doc_["extensionsRequired"] = used;
    }
  }

  const std::vector<ExportItem>& items_;
  const TileOptions& options_;
  std::vector<const Mesh*> world_;
  std::vector<std::unique_ptr<Mesh>> baked_;
  std::vector<NodePlan> nodes_;
  std::map<std::string, int> materialByName_;
  Json doc_;
  Json nodes_json_ = Json::array(), meshes_ = Json::array(), materials_ = Json::array();
  Json accessors_ = Json::array(), views_ = Json::array();
  std::vector<unsigned char> bin_;
  std::uint64_t fallback_ = 0;
};

}  // namespace

bool ParseTileOptions(const std::string& text, TileOptions& options, std::string& error) {
  TileOptions out = options;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    const std::string word = AsciiLower(Trim(text.substr(start, comma - start)));
    if (word == "plain") {
      out.compress = false;
    } else if (word == "merge") {
      out.merge = true;
    } else if (!word.empty()) {
      error = "unknown option '" + word + "' (options are \"plain\" and \"merge\")";
      return false;
    }
    start = comma + 1;
  }
  options = out;
  return true;
}

bool EncodeTile(const std::vector<ExportItem>& items, const TileOptions& options, std::string& glb,
                TileStats& stats, std::string& reason) {
  reason = ExportProblem(items);
  if (!reason.empty()) return false;
  // Version 0 of the vertex codec and 1 of the index codec are the ones
  // EXT_meshopt_compression names.
  meshopt_encodeVertexVersion(0);
  meshopt_encodeIndexVersion(1);
  TileStats s;
  TileEncoder encoder(items, options);
  if (!encoder.Encode(glb, s, reason)) return false;
  stats = s;
  return true;
}

std::string TileStatsJson(const TileStats& s) {
  nlohmann::ordered_json j;
  j["vertices"] = s.vertices;
  j["triangles"] = s.triangles;
  j["bytes"] = s.bytes;
  j["min"] = {s.min[0], s.min[1], s.min[2]};
  j["max"] = {s.max[0], s.max[1], s.max[2]};
  return j.dump();
}

}  // namespace host
