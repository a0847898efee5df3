// WriteGlb against an oracle: the in-memory encoder the writer used before it
// streamed its buffers (a whole tinygltf::Model with the bytes in it, encoded
// by tinygltf). Scenes the oracle handles must come out byte for byte the
// same; every file must also read back with tinygltf and have a sound
// binary glTF container.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <tiny_gltf.h>

#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "file_contents.h"
#include "glb_file.h"
#include "gltf_writer.h"

namespace host {
namespace {

namespace fs = std::filesystem;
using testsupport::ReadGlb;
using testsupport::Slurp;

// ---- the oracle: the earlier encoder, kept verbatim in behaviour -------------

std::vector<double> OracleQuaternion(const double deg[3]) {
  auto half = [](double d) { return d * 3.14159265358979323846 / 360.0; };
  const double cx = std::cos(half(deg[0])), sx = std::sin(half(deg[0]));
  const double cy = std::cos(half(deg[1])), sy = std::sin(half(deg[1]));
  const double cz = std::cos(half(deg[2])), sz = std::sin(half(deg[2]));
  return {sx * cy * cz - cx * sy * sz, cx * sy * cz + sx * cy * sz, cx * cy * sz - sx * sy * cz,
          cx * cy * cz + sx * sy * sz};
}

Vec3 OracleUnit(Vec3 n) {
  const double len = std::sqrt(double(n.x) * n.x + double(n.y) * n.y + double(n.z) * n.z);
  if (!(len > 0.0)) return {0.0f, 1.0f, 0.0f};
  return {float(n.x / len), float(n.y / len), float(n.z / len)};
}

class Oracle {
 public:
  std::string Encode(const std::vector<ExportItem>& items) {
    model_.asset.version = "2.0";
    model_.asset.generator = "scenehost";
    model_.buffers.emplace_back();
    model_.scenes.emplace_back();
    model_.scenes[0].name = "scene";
    model_.defaultScene = 0;
    for (const ExportItem& item : items) AddItem(item);
    if (model_.buffers[0].data.empty()) model_.buffers.clear();
    std::ostringstream out(std::ios::binary);
    tinygltf::TinyGLTF gltf;
    EXPECT_TRUE(gltf.WriteGltfSceneToStream(&model_, out, false, true));
    return out.str();
  }

 private:
  void AddItem(const ExportItem& item) {
    tinygltf::Node node;
    node.name = item.name;
    const Transform& xf = item.xf;
    if (xf.pos[0] != 0 || xf.pos[1] != 0 || xf.pos[2] != 0) node.translation = {xf.pos[0], xf.pos[1], xf.pos[2]};
    if (xf.rot[0] != 0 || xf.rot[1] != 0 || xf.rot[2] != 0) node.rotation = OracleQuaternion(xf.rot);
    if (xf.scl[0] != 1 || xf.scl[1] != 1 || xf.scl[2] != 1) node.scale = {xf.scl[0], xf.scl[1], xf.scl[2]};
    if (item.mesh && item.mesh->FaceCount() > 0) node.mesh = AddMesh(item.name, *item.mesh);
    model_.scenes[0].nodes.push_back(static_cast<int>(model_.nodes.size()));
    model_.nodes.push_back(std::move(node));
  }

  int AddMesh(const std::string& name, const Mesh& m) {
    tinygltf::Mesh mesh;
    mesh.name = name;
    for (std::uint32_t mat = 0; mat < m.materials.size(); ++mat) {
      std::vector<std::uint32_t> faces;
      for (std::uint32_t f = 0; f < m.FaceCount(); ++f) {
        if (m.faceMaterial[f] == mat) faces.push_back(f);
      }
      if (!faces.empty()) mesh.primitives.push_back(AddPrimitive(m, faces, MaterialIndex(m.materials[mat])));
    }
    if (mesh.primitives.empty()) return -1;
    model_.meshes.push_back(std::move(mesh));
    return static_cast<int>(model_.meshes.size() - 1);
  }

  tinygltf::Primitive AddPrimitive(const Mesh& m, const std::vector<std::uint32_t>& faces, int material) {
    std::vector<float> pos, nrm, uv;
    std::vector<std::uint32_t> idx;
    for (std::uint32_t f : faces) {
      const std::uint32_t b = m.faceStart[f], e = m.faceStart[f + 1];
      if (e - b < 3) continue;
      const auto first = static_cast<std::uint32_t>(pos.size() / 3);
      for (std::uint32_t c = b; c < e; ++c) {
        const Vec3 p = m.positions[m.cornerVertex[c]];
        pos.insert(pos.end(), {p.x, p.y, p.z});
        if (!m.cornerNormal.empty()) {
          const Vec3 n = OracleUnit(m.cornerNormal[c]);
          nrm.insert(nrm.end(), {n.x, n.y, n.z});
        }
        if (!m.cornerUV.empty()) uv.insert(uv.end(), {m.cornerUV[c].x, 1.0f - m.cornerUV[c].y});
      }
      for (std::uint32_t k = 1; k + 1 < e - b; ++k) idx.insert(idx.end(), {first, first + k, first + k + 1});
    }
    tinygltf::Primitive prim;
    prim.mode = TINYGLTF_MODE_TRIANGLES;
    prim.material = material;
    if (idx.empty()) return prim;
    prim.attributes["POSITION"] = AddFloats(pos, TINYGLTF_TYPE_VEC3, 3, true);
    if (!nrm.empty()) prim.attributes["NORMAL"] = AddFloats(nrm, TINYGLTF_TYPE_VEC3, 3, false);
    if (!uv.empty()) prim.attributes["TEXCOORD_0"] = AddFloats(uv, TINYGLTF_TYPE_VEC2, 2, false);
    tinygltf::Accessor acc;
    acc.bufferView = AddView(idx.data(), idx.size() * 4, TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER);
    acc.componentType = TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT;
    acc.type = TINYGLTF_TYPE_SCALAR;
    acc.count = idx.size();
    model_.accessors.push_back(acc);
    prim.indices = static_cast<int>(model_.accessors.size() - 1);
    return prim;
  }

  int AddView(const void* data, std::size_t bytes, int target) {
    auto& buf = model_.buffers[0].data;
    while (buf.size() % 4 != 0) buf.push_back(0);
    tinygltf::BufferView view;
    view.buffer = 0;
    view.byteOffset = buf.size();
    view.byteLength = bytes;
    view.target = target;
    const auto* p = static_cast<const unsigned char*>(data);
    buf.insert(buf.end(), p, p + bytes);
    model_.bufferViews.push_back(view);
    return static_cast<int>(model_.bufferViews.size() - 1);
  }

  int AddFloats(const std::vector<float>& values, int type, std::size_t width, bool bounds) {
    tinygltf::Accessor acc;
    acc.bufferView = AddView(values.data(), values.size() * 4, TINYGLTF_TARGET_ARRAY_BUFFER);
    acc.componentType = TINYGLTF_COMPONENT_TYPE_FLOAT;
    acc.type = type;
    acc.count = values.size() / width;
    if (bounds) {
      acc.minValues.assign(width, std::numeric_limits<double>::infinity());
      acc.maxValues.assign(width, -std::numeric_limits<double>::infinity());
      for (std::size_t i = 0; i < values.size(); ++i) {
        acc.minValues[i % width] = std::min(acc.minValues[i % width], double(values[i]));
        acc.maxValues[i % width] = std::max(acc.maxValues[i % width], double(values[i]));
      }
    }
    model_.accessors.push_back(std::move(acc));
    return static_cast<int>(model_.accessors.size() - 1);
  }

  int MaterialIndex(const Material& m) {
    auto it = byName_.find(m.name);
    if (it != byName_.end()) return it->second;
    tinygltf::Material out;
    out.name = m.name;
    out.pbrMetallicRoughness.baseColorFactor = {m.diffuse.x, m.diffuse.y, m.diffuse.z, 1.0};
    out.pbrMetallicRoughness.metallicFactor = 0.0;
    out.pbrMetallicRoughness.roughnessFactor = 1.0;
    model_.materials.push_back(std::move(out));
    return byName_[m.name] = static_cast<int>(model_.materials.size() - 1);
  }

  tinygltf::Model model_;
  std::map<std::string, int> byName_;
};

// ---- scenes ------------------------------------------------------------------

Material Named(const std::string& name, Vec3 diffuse) {
  Material m;
  m.name = name;
  m.diffuse = diffuse;
  return m;
}

void AddFace(Mesh& m, const std::vector<std::uint32_t>& corners, std::uint32_t material) {
  for (std::uint32_t v : corners) m.cornerVertex.push_back(v);
  m.faceStart.push_back(static_cast<std::uint32_t>(m.cornerVertex.size()));
  m.faceMaterial.push_back(material);
}

// A grid of `n` x `n` quads with a triangle and a hexagon at the end,
// materials interleaved so that grouping by material reorders faces;
// per-corner normals (some not unit length) and UVs when asked.
Mesh Grid(int n, bool normals, bool uvs) {
  Mesh m;
  for (int j = 0; j <= n; ++j) {
    for (int i = 0; i <= n; ++i) m.positions.push_back({0.25f * i, 0.01f * (i * j % 7), -0.5f * j});
  }
  const auto at = [&](int i, int j) { return static_cast<std::uint32_t>(j * (n + 1) + i); };
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) AddFace(m, {at(i, j), at(i + 1, j), at(i + 1, j + 1), at(i, j + 1)}, (i + j) % 3 == 0);
  }
  AddFace(m, {0, 1, at(0, 1)}, 2);
  if (n >= 2) AddFace(m, {0, 1, 2, at(2, 1), at(1, 1), at(0, 1)}, 0);
  m.materials = {Named("brick", {0.5f, 0.25f, 0.125f}), Named("roof tile", {0.1f, 0.2f, 0.3f}),
                 Named("glass", {0.9f, 0.9f, 1.0f})};
  for (std::size_t c = 0; normals && c < m.CornerCount(); ++c) {
    m.cornerNormal.push_back({0.0f, float(1 + c % 3), c % 5 == 0 ? 0.5f : 0.0f});
  }
  for (std::size_t c = 0; uvs && c < m.CornerCount(); ++c) m.cornerUV.push_back({0.125f * (c % 9), 0.25f * (c % 4)});
  return m;
}

ExportItem Item(const std::string& name, const Mesh* mesh) {
  ExportItem item;
  item.name = name;
  item.mesh = mesh;
  return item;
}

fs::path TempDir() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  fs::path dir = fs::path(XSI_BINARY_DIR) / "test_output" / "gltf_writer" /
                 (std::string(info->test_suite_name()) + "." + info->name());
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

std::uint32_t U32(const std::string& bytes, std::size_t at) {
  std::uint32_t v = 0;
  for (int k = 3; k >= 0; --k) v = v << 8 | static_cast<unsigned char>(bytes.at(at + k));
  return v;
}

// The container around the chunks: header length is the file's, chunks are
// 4-byte multiples, the JSON is padded with spaces and the BIN with zeros.
void ExpectSoundContainer(const std::string& bytes, std::uint64_t binBytes) {
  ASSERT_GE(bytes.size(), 20u);
  EXPECT_EQ(bytes.substr(0, 4), "glTF");
  EXPECT_EQ(U32(bytes, 4), 2u);
  EXPECT_EQ(U32(bytes, 8), bytes.size());
  const std::uint32_t jsonLength = U32(bytes, 12);
  EXPECT_EQ(jsonLength % 4, 0u);
  EXPECT_EQ(bytes.substr(16, 4), "JSON");
  const std::string json = bytes.substr(20, jsonLength);
  EXPECT_EQ(json.back() == ' ' || json.back() == '}', true);
  const std::size_t binAt = 20 + std::size_t{jsonLength};
  if (binBytes == 0) {
    EXPECT_EQ(binAt, bytes.size());
    return;
  }
  const std::uint32_t binLength = U32(bytes, binAt);
  EXPECT_EQ(binLength % 4, 0u);
  EXPECT_EQ(binLength, (binBytes + 3) / 4 * 4);
  EXPECT_EQ(bytes.substr(binAt + 4, 4), std::string("BIN\0", 4));
  EXPECT_EQ(binAt + 8 + binLength, bytes.size());
  for (std::size_t i = binAt + 8 + binBytes; i < bytes.size(); ++i) EXPECT_EQ(bytes[i], '\0');
}

// Writes `items`, compares with the oracle byte for byte, checks the
// container and reads the file back with tinygltf.
tinygltf::Model WriteAndCompare(const std::vector<ExportItem>& items) {
  const std::string path = (TempDir() / "scene.glb").string();
  std::string error;
  EXPECT_TRUE(WriteGlb(path, items, error)) << error;
  const std::string bytes = Slurp(path);
  EXPECT_TRUE(bytes == Oracle().Encode(items)) << "the file differs from the earlier encoder's";
  tinygltf::Model model = ReadGlb(path);
  ExpectSoundContainer(bytes, model.buffers.empty() ? 0 : model.buffers[0].data.size());
  return model;
}

// ---- tests -----------------------------------------------------------------------

TEST(WriteGlbStreamed, MatchesTheEarlierEncoderForMixedScenes) {
  const Mesh full = Grid(3, true, true), bare = Grid(2, false, false), normalsOnly = Grid(1, true, false);
  Mesh zeroNormal = Grid(1, true, true);
  zeroNormal.cornerNormal[1] = {0, 0, 0};  // written as +Y
  std::vector<ExportItem> items = {Item("full", &full), Item("no mesh", nullptr), Item("bare", &bare),
                                   Item("normals only", &normalsOnly), Item("zero normal", &zeroNormal)};
  items[0].xf.pos[0] = 1.5;
  items[0].xf.rot[1] = -90;
  items[2].xf.scl[2] = 2;
  items[3].xf.rot[0] = 30;
  items[3].xf.rot[2] = 45;
  const tinygltf::Model model = WriteAndCompare(items);
  ASSERT_EQ(model.nodes.size(), 5u);
  EXPECT_EQ(model.nodes[1].mesh, -1);
  ASSERT_EQ(model.meshes.size(), 4u);
  EXPECT_EQ(model.materials.size(), 3u);  // shared by name across meshes
  EXPECT_EQ(model.meshes[0].primitives.size(), 3u);
  const tinygltf::Accessor& pos = model.accessors[model.meshes[0].primitives[0].attributes.at("POSITION")];
  ASSERT_EQ(pos.minValues.size(), 3u);
  EXPECT_EQ(pos.minValues[0], 0.0);
  EXPECT_EQ(pos.maxValues[0], 0.75);
  EXPECT_EQ(pos.minValues[2], -1.5);
}

TEST(WriteGlbStreamed, MatchesTheEarlierEncoderAcrossManyStagingBuffers) {
  // About 9 MB of vertex data: many flushes of the staging buffer, and view
  // boundaries that fall inside a flush.
  const Mesh big = Grid(300, true, true), small = Grid(2, true, false);
  const tinygltf::Model model = WriteAndCompare({Item("small", &small), Item("big", &big), Item("small again", &small)});
  ASSERT_EQ(model.meshes.size(), 3u);
  EXPECT_GT(model.buffers.at(0).data.size(), std::size_t{8} << 20);
}

TEST(WriteGlbStreamed, EmptyScenesAndMeshesWithoutFacesHaveNoBuffer) {
  Mesh empty;
  const tinygltf::Model none = WriteAndCompare({});
  EXPECT_TRUE(none.buffers.empty());
  const tinygltf::Model faceless = WriteAndCompare({Item("empty", &empty), Item("nothing", nullptr)});
  EXPECT_EQ(faceless.nodes.size(), 2u);
  EXPECT_TRUE(faceless.meshes.empty());
  EXPECT_TRUE(faceless.buffers.empty());
}

TEST(WriteGlbStreamed, PolygonsWithoutTrianglesAreLeftOut) {
  Mesh m = Grid(2, true, true);
  AddFace(m, {0, 1}, 1);  // a two-corner polygon among the quads of material 1
  m.cornerNormal.resize(m.CornerCount(), {0, 1, 0});
  m.cornerUV.resize(m.CornerCount());
  const tinygltf::Model model = WriteAndCompare({Item("with an edge", &m)});
  ASSERT_EQ(model.meshes.size(), 1u);
  std::size_t triangles = 0;
  for (const tinygltf::Primitive& p : model.meshes[0].primitives) {
    triangles += model.accessors.at(p.indices).count / 3;
  }
  EXPECT_EQ(triangles, 4u * 2 + 1 + 4);  // the quads, the triangle, the hexagon's fan
}

TEST(WriteGlbStreamed, AMaterialWithOnlyEdgesGetsNoEmptyPrimitive) {
  Mesh m = Grid(1, false, false);
  m.materials.push_back(Named("wire", {1, 1, 1}));
  AddFace(m, {0, 1}, 3);
  const std::string path = (TempDir() / "edges.glb").string();
  std::string error;
  ASSERT_TRUE(WriteGlb(path, {Item("with an edge", &m)}, error)) << error;
  const tinygltf::Model model = ReadGlb(path);
  ASSERT_EQ(model.meshes.size(), 1u);
  for (const tinygltf::Primitive& p : model.meshes[0].primitives) {
    EXPECT_EQ(p.attributes.count("POSITION"), 1u);
    EXPECT_GE(p.indices, 0);
  }
  EXPECT_EQ(model.meshes[0].primitives.size(), 2u);
  for (const tinygltf::Material& mat : model.materials) EXPECT_NE(mat.name, "wire");
}

TEST(WriteGlbStreamed, AWriteFailingMidwayKeepsTheOldFileAndLeavesNoTemporary) {
  const fs::path dir = TempDir();
  const std::string path = (dir / "keep.glb").string();
  { std::ofstream(path) << "old contents"; }
  const Mesh big = Grid(300, true, true);
  // A file-size limit below the scene's size makes a write fail after the
  // first megabytes went out.
  struct rlimit old {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  struct rlimit low = old;
  low.rlim_cur = 2 << 20;
  auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &low), 0);
  std::string error;
  const bool wrote = WriteGlb(path, {Item("big", &big)}, error);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(wrote);
  EXPECT_EQ(error, "cannot write glTF file '" + path + "': the file cannot be written: file too large");
  EXPECT_EQ(Slurp(path), "old contents");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace host
