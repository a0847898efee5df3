// WriteGlb checked two ways: a small scene against its fixed bytes (any
// change to the layout, the JSON or the numbers shows), and every scene read
// back with tinygltf and compared with the meshes it came from: nodes and
// their transforms, one primitive per material in material order, each
// polygon as a fan of triangles over its own corners, unit normals, UVs with
// v flipped. Every file must also have a sound binary glTF container.
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

// The floats of an accessor, `width` a element, as tinygltf read them.
std::vector<float> Floats(const tinygltf::Model& model, int accessor, std::size_t width) {
  const tinygltf::Accessor& acc = model.accessors.at(accessor);
  EXPECT_EQ(acc.componentType, TINYGLTF_COMPONENT_TYPE_FLOAT);
  const tinygltf::BufferView& view = model.bufferViews.at(acc.bufferView);
  const std::size_t stride = view.byteStride ? view.byteStride : width * 4;
  const unsigned char* base = model.buffers.at(view.buffer).data.data() + view.byteOffset + acc.byteOffset;
  std::vector<float> out(acc.count * width);
  for (std::size_t i = 0; i < acc.count; ++i) std::memcpy(&out[i * width], base + i * stride, width * 4);
  return out;
}

std::vector<std::uint32_t> Indices(const tinygltf::Model& model, int accessor) {
  const tinygltf::Accessor& acc = model.accessors.at(accessor);
  EXPECT_EQ(acc.componentType, TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT);
  const tinygltf::BufferView& view = model.bufferViews.at(acc.bufferView);
  std::vector<std::uint32_t> out(acc.count);
  std::memcpy(out.data(), model.buffers.at(view.buffer).data.data() + view.byteOffset + acc.byteOffset,
              acc.count * 4);
  return out;
}

// R = Rz * Ry * Rx (degrees) applied to v, by matrices.
Vec3 RotateEuler(const double deg[3], const double v[3]) {
  const double k = 3.14159265358979323846 / 180.0;
  double p[3] = {v[0], v[1], v[2]};
  const auto turn = [&](int a, int b, double angle) {  // in the plane of axes a, b
    const double c = std::cos(angle * k), s = std::sin(angle * k), x = p[a], y = p[b];
    p[a] = c * x - s * y;
    p[b] = s * x + c * y;
  };
  turn(1, 2, deg[0]);
  turn(2, 0, deg[1]);
  turn(0, 1, deg[2]);
  return {float(p[0]), float(p[1]), float(p[2])};
}

// v rotated by the unit quaternion q = (x, y, z, w).
Vec3 RotateQuaternion(const std::vector<double>& q, const double v[3]) {
  const double x = q[0], y = q[1], z = q[2], w = q[3];
  const double tx = 2 * (y * v[2] - z * v[1]), ty = 2 * (z * v[0] - x * v[2]), tz = 2 * (x * v[1] - y * v[0]);
  return {float(v[0] + w * tx + y * tz - z * ty), float(v[1] + w * ty + z * tx - x * tz),
          float(v[2] + w * tz + x * ty - y * tx)};
}

void ExpectNear(Vec3 a, Vec3 b, float eps, const std::string& what) {
  EXPECT_NEAR(a.x, b.x, eps) << what;
  EXPECT_NEAR(a.y, b.y, eps) << what;
  EXPECT_NEAR(a.z, b.z, eps) << what;
}

void ExpectTransform(const tinygltf::Node& node, const Transform& xf) {
  const std::vector<double> pos(xf.pos, xf.pos + 3), scl(xf.scl, xf.scl + 3);
  EXPECT_EQ(node.translation, xf.pos[0] || xf.pos[1] || xf.pos[2] ? pos : std::vector<double>{}) << node.name;
  EXPECT_EQ(node.scale, xf.scl[0] != 1 || xf.scl[1] != 1 || xf.scl[2] != 1 ? scl : std::vector<double>{})
      << node.name;
  if (!(xf.rot[0] || xf.rot[1] || xf.rot[2])) {
    EXPECT_TRUE(node.rotation.empty()) << node.name;
    return;
  }
  ASSERT_EQ(node.rotation.size(), 4u) << node.name;
  static const double kAxes[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  for (const double* axis : kAxes)
    ExpectNear(RotateQuaternion(node.rotation, axis), RotateEuler(xf.rot, axis), 1e-6f, node.name);
}

// Each primitive, one per material with polygons of 3 or more corners, in
// material order, holds those polygons' corners as fans of triangles.
void ExpectMesh(const tinygltf::Model& model, const tinygltf::Mesh& out, const Mesh& m) {
  std::size_t prim = 0;
  for (std::uint32_t mat = 0; mat < m.materials.size(); ++mat) {
    std::vector<std::uint32_t> fans;  // source corners, three a triangle
    for (std::uint32_t f = 0; f < m.FaceCount(); ++f) {
      const std::uint32_t b = m.faceStart[f], e = m.faceStart[f + 1];
      if (m.faceMaterial[f] != mat || e - b < 3) continue;
      for (std::uint32_t k = 1; k + 1 < e - b; ++k) fans.insert(fans.end(), {b, b + k, b + k + 1});
    }
    if (fans.empty()) continue;
    ASSERT_LT(prim, out.primitives.size()) << out.name;
    const tinygltf::Primitive& p = out.primitives[prim++];
    EXPECT_EQ(p.mode, TINYGLTF_MODE_TRIANGLES);
    EXPECT_EQ(model.materials.at(p.material).name, m.materials[mat].name);
    const std::vector<std::uint32_t> idx = Indices(model, p.indices);
    ASSERT_EQ(idx.size(), fans.size()) << out.name << " material " << mat;
    const std::vector<float> pos = Floats(model, p.attributes.at("POSITION"), 3);
    const std::vector<float> nrm =
        m.cornerNormal.empty() ? std::vector<float>{} : Floats(model, p.attributes.at("NORMAL"), 3);
    const std::vector<float> uv =
        m.cornerUV.empty() ? std::vector<float>{} : Floats(model, p.attributes.at("TEXCOORD_0"), 2);
    EXPECT_EQ(p.attributes.count("NORMAL"), m.cornerNormal.empty() ? 0u : 1u);
    EXPECT_EQ(p.attributes.count("TEXCOORD_0"), m.cornerUV.empty() ? 0u : 1u);
    for (std::size_t i = 0; i < idx.size(); ++i) {
      const std::uint32_t c = fans[i], v = idx[i];
      ASSERT_LT(std::size_t{v} * 3, pos.size());
      const Vec3 want = m.positions[m.cornerVertex[c]];
      ASSERT_EQ(pos[v * 3], want.x) << out.name << " corner " << c;
      ASSERT_EQ(pos[v * 3 + 1], want.y) << out.name << " corner " << c;
      ASSERT_EQ(pos[v * 3 + 2], want.z) << out.name << " corner " << c;
      if (!nrm.empty()) {
        const Vec3 n = m.cornerNormal[c];
        const double len = std::sqrt(double(n.x) * n.x + double(n.y) * n.y + double(n.z) * n.z);
        const Vec3 unit = len > 0 ? Vec3{float(n.x / len), float(n.y / len), float(n.z / len)} : Vec3{0, 1, 0};
        ExpectNear({nrm[v * 3], nrm[v * 3 + 1], nrm[v * 3 + 2]}, unit, 1e-6f, out.name);
      }
      if (!uv.empty()) {
        ASSERT_EQ(uv[v * 2], m.cornerUV[c].x) << out.name;
        ASSERT_EQ(uv[v * 2 + 1], 1.0f - m.cornerUV[c].y) << out.name;
      }
    }
  }
  EXPECT_EQ(prim, out.primitives.size()) << out.name;
}

// Writes `items`, checks the container and reads the file back with
// tinygltf: one node per item in order, with its name and transform, and a
// mesh for each item whose mesh has polygons.
tinygltf::Model WriteAndCheck(const std::vector<ExportItem>& items) {
  const std::string path = (TempDir() / "scene.glb").string();
  std::string error;
  EXPECT_TRUE(WriteGlb(path, items, error)) << error;
  const std::string bytes = Slurp(path);
  tinygltf::Model model = ReadGlb(path);
  ExpectSoundContainer(bytes, model.buffers.empty() ? 0 : model.buffers[0].data.size());
  EXPECT_EQ(model.asset.version, "2.0");
  EXPECT_EQ(model.defaultScene, 0);
  EXPECT_EQ(model.nodes.size(), items.size());
  for (std::size_t i = 0; i < items.size() && i < model.nodes.size(); ++i) {
    const tinygltf::Node& node = model.nodes[i];
    EXPECT_EQ(node.name, items[i].name);
    ExpectTransform(node, items[i].xf);
    const Mesh* m = items[i].mesh;
    if (!m || m->FaceCount() == 0) {
      EXPECT_EQ(node.mesh, -1) << node.name;
      continue;
    }
    if (node.mesh < 0) continue;  // a mesh of edges alone; the caller counts meshes
    EXPECT_EQ(model.meshes.at(node.mesh).name, items[i].name);
    ExpectMesh(model, model.meshes.at(node.mesh), *m);
  }
  return model;
}

// ---- tests -----------------------------------------------------------------------

TEST(WriteGlbStreamed, MixedScenesReadBackAsTheirMeshes) {
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
  const tinygltf::Model model = WriteAndCheck(items);
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

TEST(WriteGlbStreamed, ManyStagingBuffersReadBackAsTheirMeshes) {
  // About 9 MB of vertex data: many flushes of the staging buffer, and view
  // boundaries that fall inside a flush.
  const Mesh big = Grid(300, true, true), small = Grid(2, true, false);
  const tinygltf::Model model = WriteAndCheck({Item("small", &small), Item("big", &big), Item("small again", &small)});
  ASSERT_EQ(model.meshes.size(), 3u);
  EXPECT_GT(model.buffers.at(0).data.size(), std::size_t{8} << 20);
}

// The JSON chunk of the small scene below, padded with spaces to 4 bytes.
const char* const kSmallSceneJson =
    R"({"accessors":[{"bufferView":0,"componentType":5126,"count":4,"max":[0.25,0.009999999776482582,-0.0],"min":[0.0,0.0,-0.5],"type":"VEC3"},{"bufferView":1,"componentType":5126,"count":4,"type":"VEC3"},{"bufferView":2,"componentType":5126,"count":4,"type":"VEC2"},{"bufferView":3,"componentType":5125,"count":6,"type":"SCALAR"},{"bufferView":4,"componentType":5126,"count":3,"max":[0.25,0.0,-0.0],"min":[0.0,0.0,-0.5],"type":"VEC3"},{"bufferView":5,"componentType":5126,"count":3,"type":"VEC3"},{"bufferView":6,"componentType":5126,"count":3,"type":"VEC2"},{"bufferView":7,"componentType":5125,"count":3,"type":"SCALAR"}],)"
    R"("asset":{"generator":"scenehost","version":"2.0"},)"
    R"("bufferViews":[{"buffer":0,"byteLength":48,"target":34962},{"buffer":0,"byteLength":48,"byteOffset":48,"target":34962},{"buffer":0,"byteLength":32,"byteOffset":96,"target":34962},{"buffer":0,"byteLength":24,"byteOffset":128,"target":34963},{"buffer":0,"byteLength":36,"byteOffset":152,"target":34962},{"buffer":0,"byteLength":36,"byteOffset":188,"target":34962},{"buffer":0,"byteLength":24,"byteOffset":224,"target":34962},{"buffer":0,"byteLength":12,"byteOffset":248,"target":34963}],)"
    R"("buffers":[{"byteLength":260}],)"
    R"("materials":[{"name":"roof tile","pbrMetallicRoughness":{"baseColorFactor":[0.10000000149011612,0.20000000298023224,0.30000001192092896,1.0],"metallicFactor":0.0}},{"name":"glass","pbrMetallicRoughness":{"baseColorFactor":[0.8999999761581421,0.8999999761581421,1.0,1.0],"metallicFactor":0.0}}],)"
    R"("meshes":[{"name":"quad","primitives":[{"attributes":{"NORMAL":1,"POSITION":0,"TEXCOORD_0":2},"indices":3,"material":0,"mode":4},{"attributes":{"NORMAL":5,"POSITION":4,"TEXCOORD_0":6},"indices":7,"material":1,"mode":4}]}],)"
    R"("nodes":[{"mesh":0,"name":"quad","rotation":[0.0,-0.7071067811865475,0.0,0.7071067811865476],"translation":[1.5,0.0,0.0]},{"name":"empty","scale":[1.0,1.0,2.0]}],)"
    R"("scene":0,)"
    R"("scenes":[{"name":"scene","nodes":[0,1]}]}  )";
constexpr std::size_t kSmallSceneBytes = 2204;
constexpr std::uint64_t kSmallSceneFingerprint = 0x73d9368e2cd07096ull;

// FNV-1a, 64 bits: a fixed fingerprint of the bytes.
std::uint64_t Fingerprint(const std::string& bytes) {
  std::uint64_t h = 14695981039346656037ull;
  for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
  return h;
}

// A small scene's file, fixed: its JSON chunk as text and the whole file by
// size and fingerprint (the BIN chunk's floats and indices included), as
// pinned when the test stopped comparing with a copy of the earlier
// encoder. Any change in layout, order or numbers shows.
TEST(WriteGlbStreamed, ASmallSceneHasItsFixedBytes) {
  const Mesh quad = Grid(1, true, true);
  std::vector<ExportItem> items = {Item("quad", &quad), Item("empty", nullptr)};
  items[0].xf.pos[0] = 1.5;
  items[0].xf.rot[1] = -90;
  items[1].xf.scl[2] = 2;
  const std::string path = (TempDir() / "small.glb").string();
  std::string error;
  ASSERT_TRUE(WriteGlb(path, items, error)) << error;
  const std::string bytes = Slurp(path);
  ASSERT_GE(bytes.size(), 20u);
  const std::string json = bytes.substr(20, U32(bytes, 12));
  EXPECT_EQ(json, kSmallSceneJson);
  EXPECT_EQ(bytes.size(), kSmallSceneBytes);
  EXPECT_EQ(Fingerprint(bytes), kSmallSceneFingerprint) << std::hex << Fingerprint(bytes);
}

TEST(WriteGlbStreamed, EmptyScenesAndMeshesWithoutFacesHaveNoBuffer) {
  Mesh empty;
  const tinygltf::Model none = WriteAndCheck({});
  EXPECT_TRUE(none.buffers.empty());
  const tinygltf::Model faceless = WriteAndCheck({Item("empty", &empty), Item("nothing", nullptr)});
  EXPECT_EQ(faceless.nodes.size(), 2u);
  EXPECT_TRUE(faceless.meshes.empty());
  EXPECT_TRUE(faceless.buffers.empty());
}

TEST(WriteGlbStreamed, PolygonsWithoutTrianglesAreLeftOut) {
  Mesh m = Grid(2, true, true);
  AddFace(m, {0, 1}, 1);  // a two-corner polygon among the quads of material 1
  m.cornerNormal.resize(m.CornerCount(), {0, 1, 0});
  m.cornerUV.resize(m.CornerCount());
  const tinygltf::Model model = WriteAndCheck({Item("with an edge", &m)});
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
