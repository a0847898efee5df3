// OBJ import fixtures, OBJ and binary glTF export with read-back, and the
// keep-the-old-file rule of failed saves.
#include <gtest/gtest.h>
#include <tiny_gltf.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>

#include "file_contents.h"
#include "format_test_util.h"
#include "formats.h"
#include "glb_file.h"
#include "mesh_ops.h"

namespace host {
namespace {

namespace fs = std::filesystem;
using testmesh::PlainTriangle;
using testmesh::ReadFails;
using testsupport::ReadGlb;
using testsupport::Slurp;

std::string Fixture(const char* name) {
  return std::string(XSI_SOURCE_DIR) + "/tests/host/fixtures/" + name;
}

// A fresh folder per test under the build tree.
fs::path TempDir() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  fs::path dir = fs::path(XSI_BINARY_DIR) / "test_output" / "formats" /
                 (std::string(info->test_suite_name()) + "." + info->name());
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

Mesh Read(const std::string& path) {
  Mesh m;
  std::string error;
  EXPECT_TRUE(ReadObj(path, m, error)) << error;
  return m;
}


std::size_t Corners(const Mesh& m, std::size_t face) { return m.faceStart[face + 1] - m.faceStart[face]; }

// ---- ReadObj ---------------------------------------------------------------

TEST(ReadObj, KeepsQuadsAndNgonsWithTheirMaterials) {
  const Mesh m = Read(Fixture("quad_and_ngon.obj"));
  ASSERT_EQ(m.FaceCount(), 2u);
  EXPECT_EQ(Corners(m, 0), 4u);
  EXPECT_EQ(Corners(m, 1), 6u);
  EXPECT_EQ(m.VertexCount(), 10u);
  ASSERT_EQ(m.materials.size(), 2u);
  EXPECT_EQ(m.materials[m.faceMaterial[0]].name, "brick");
  EXPECT_EQ(m.materials[m.faceMaterial[1]].name, "glass");
  EXPECT_FLOAT_EQ(m.materials[m.faceMaterial[0]].diffuse.x, 0.6f);
  EXPECT_EQ(m.materials[m.faceMaterial[0]].diffuseTexture, "textures/brick.png");
  ASSERT_EQ(m.cornerUV.size(), 10u);
  EXPECT_FLOAT_EQ(m.cornerUV[2].x, 1.0f);
  ASSERT_EQ(m.cornerNormal.size(), 10u);
  EXPECT_FLOAT_EQ(m.cornerNormal[7].z, 1.0f);
  EXPECT_EQ(m.cornerVertex[4], 4u);
}

TEST(ReadObj, MissingMtlIsNotAnErrorAndGivesTheDefaultMaterial) {
  const Mesh m = Read(Fixture("missing_mtl.obj"));
  ASSERT_EQ(m.FaceCount(), 1u);
  ASSERT_EQ(m.materials.size(), 1u);
  EXPECT_EQ(m.materials[0].name, "default");
}

TEST(ReadObj, ResolvesNegativeIndices) {
  const Mesh m = Read(Fixture("negative_indices.obj"));
  ASSERT_EQ(m.FaceCount(), 2u);
  EXPECT_EQ(std::vector<std::uint32_t>(m.cornerVertex.begin(), m.cornerVertex.begin() + 4),
            (std::vector<std::uint32_t>{0, 1, 2, 3}));
  EXPECT_EQ(std::vector<std::uint32_t>(m.cornerVertex.begin() + 4, m.cornerVertex.end()),
            (std::vector<std::uint32_t>{4, 5, 6}));
  EXPECT_FLOAT_EQ(m.cornerUV[2].y, 1.0f);
}

TEST(ReadObj, FilesWithoutNormalsOrWithSomeNormals) {
  const Mesh bare = Read(Fixture("no_normals.obj"));
  EXPECT_EQ(bare.FaceCount(), 1u);
  EXPECT_TRUE(bare.cornerNormal.empty());
  EXPECT_EQ(bare.cornerUV.size(), 4u);

  const Mesh partial = Read(Fixture("partial_normals.obj"));
  ASSERT_EQ(partial.cornerNormal.size(), 6u);
  EXPECT_FLOAT_EQ(partial.cornerNormal[0].x, 1.0f);  // from the file
  EXPECT_FLOAT_EQ(partial.cornerNormal[4].x, 1.0f);  // flat normal of 1 3 4
  EXPECT_TRUE(partial.cornerUV.empty());
}

TEST(ReadObj, BadFilesFailWithTheReasonAndNameTheFile) {
  const std::string missing = Fixture("does_not_exist.obj");
  EXPECT_EQ(ReadFails(missing), "cannot read OBJ file '" + missing + "': no such file");
  EXPECT_NE(ReadFails(Fixture("broken_index.obj"))
                .find("': line 6: vertex index 9 out of range (the file has 4)"),
            std::string::npos);
  EXPECT_NE(ReadFails(Fixture("relative_before_start.obj"))
                .find("': line 5: vertex index -5 out of range (only 3 before this line)"),
            std::string::npos);
  EXPECT_NE(ReadFails(Fixture("no_polygons.obj")).find("has no polygons"), std::string::npos);
  EXPECT_NE(ReadFails(Fixture("")).find("is a folder"), std::string::npos);
}

// The reader has no corner limit of its own: a 300-gon is read whole, never
// cut short.
TEST(ReadObj, PolygonWithHundredsOfCornersIsReadWhole) {
  const fs::path dir = TempDir();
  const std::string path = (dir / "ring300.obj").string();
  {
    std::ofstream out(path);
    for (int i = 0; i < 300; ++i) {
      out << "v " << std::cos(i * 0.0209) << ' ' << std::sin(i * 0.0209) << " 0\n";
    }
    out << 'f';
    for (int i = 1; i <= 300; ++i) out << ' ' << i;
    out << '\n';
  }
  const Mesh m = Read(path);
  ASSERT_EQ(m.FaceCount(), 1u);
  EXPECT_EQ(Corners(m, 0), 300u);
  EXPECT_EQ(m.cornerVertex[299], 299u);
}

// ---- export ----------------------------------------------------------------

// A cube with per-corner normals and UVs (a seam on every edge) and two
// materials.
Mesh TexturedCube() {
  Mesh m;
  for (int i = 0; i < 8; ++i) {
    m.positions.push_back({float(i & 1), float((i >> 1) & 1), float((i >> 2) & 1)});
  }
  const std::uint32_t faces[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                                     {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
  const Vec3 normals[6] = {{0, 0, -1}, {0, 0, 1}, {0, -1, 0}, {0, 1, 0}, {-1, 0, 0}, {1, 0, 0}};
  for (int f = 0; f < 6; ++f) {
    for (int k = 0; k < 4; ++k) {
      m.cornerVertex.push_back(faces[f][k]);
      m.cornerNormal.push_back(normals[f]);
      m.cornerUV.push_back({k == 1 || k == 2 ? 1.0f : 0.0f, k >= 2 ? 0.75f : 0.25f});
    }
    m.faceStart.push_back(m.faceStart.back() + 4);
    m.faceMaterial.push_back(f < 2 ? 1 : 0);
  }
  m.materials.resize(2);
  m.materials[0].name = "brick";
  m.materials[0].diffuse = {0.5f, 0.25f, 0.125f};
  m.materials[1].name = "roof tile";  // a space: written as one token
  return m;
}

struct Scene2 {
  Mesh cube = TexturedCube();
  Mesh tri = PlainTriangle(2);
  std::vector<ExportItem> items;
  Scene2() {
    ExportItem a;
    a.name = "unit one";
    a.mesh = &cube;
    a.xf.pos[0] = 13.5;
    a.xf.pos[1] = 14;
    a.xf.rot[0] = 30;
    a.xf.rot[1] = -90;
    a.xf.rot[2] = 10;
    a.xf.scl[2] = 2;
    ExportItem b;
    b.name = "tri";
    b.mesh = &tri;
    items = {a, b};
  }
};

// Saves the scene with `write` (WriteObj or WriteGlb) as `name` in the
// test's fresh folder, expecting success and no temporary file left behind;
// returns the file's path.
using Writer = bool (*)(const std::string&, const std::vector<ExportItem>&, std::string&);
std::string SaveScene(const Scene2& s, const std::string& name, Writer write) {
  const std::string path = (TempDir() / name).string();
  std::string error;
  EXPECT_TRUE(write(path, s.items, error)) << error;
  EXPECT_FALSE(fs::exists(path + ".saving"));
  return path;
}

void ExpectSameFloat(float got, float want) { EXPECT_NEAR(got, want, 1e-4f * (1 + std::fabs(want))); }

TEST(WriteObj, RoundTripKeepsPolygonsPositionsAndMaterials) {
  const Scene2 s;
  const std::string path = SaveScene(s, "scene.obj", WriteObj);
  EXPECT_TRUE(fs::exists(fs::path(path).replace_extension(".mtl")));

  const Mesh back = Read(path);
  ASSERT_EQ(back.FaceCount(), s.cube.FaceCount() + s.tri.FaceCount());
  ASSERT_EQ(back.VertexCount(), 11u);
  for (std::size_t i = 0; i < 8; ++i) {
    const Vec3 want = s.items[0].xf.ApplyPoint(s.cube.positions[i]);
    // Shortest round-trip formatting: exact.
    EXPECT_EQ(back.positions[i].x, want.x);
    EXPECT_EQ(back.positions[i].y, want.y);
    EXPECT_EQ(back.positions[i].z, want.z);
  }
  EXPECT_EQ(back.positions[9].x, 2.0f);
  for (std::size_t f = 0; f < back.FaceCount(); ++f) {
    EXPECT_EQ(Corners(back, f), f < 6 ? 4u : 3u);
  }
  ASSERT_EQ(back.cornerUV.size(), back.CornerCount());
  EXPECT_FLOAT_EQ(back.cornerUV[1].x, s.cube.cornerUV[1].x);
  const Vec3 n = s.items[0].xf.ApplyNormal(s.cube.cornerNormal[0]);
  ExpectSameFloat(back.cornerNormal[0].z, n.z);
  ASSERT_EQ(back.materials.size(), 2u);
  EXPECT_EQ(back.materials[back.faceMaterial[0]].name, "roof_tile");
  EXPECT_EQ(back.materials[back.faceMaterial[2]].name, "brick");
  EXPECT_FLOAT_EQ(back.materials[back.faceMaterial[2]].diffuse.y, 0.25f);
  EXPECT_EQ(back.faceMaterial[6], back.faceMaterial[2]);  // shared by name
  const std::string text = Slurp(path);
  EXPECT_NE(text.find("\no unit_one\n"), std::string::npos);
  EXPECT_NE(text.find("\no tri\n"), std::string::npos);
}

// World positions of a glTF node's POSITION data (node TRS applied).
std::vector<Vec3> WorldPositions(const tinygltf::Model& model, const tinygltf::Node& node,
                                 const tinygltf::Primitive& prim) {
  const tinygltf::Accessor& acc = model.accessors[prim.attributes.at("POSITION")];
  const tinygltf::BufferView& view = model.bufferViews[acc.bufferView];
  const unsigned char* data = model.buffers[view.buffer].data.data() + view.byteOffset + acc.byteOffset;
  Transform xf;
  for (std::size_t i = 0; i < node.translation.size(); ++i) xf.pos[i] = node.translation[i];
  for (std::size_t i = 0; i < node.scale.size(); ++i) xf.scl[i] = node.scale[i];
  std::vector<Vec3> out;
  for (std::size_t i = 0; i < acc.count; ++i) {
    float p[3];
    std::memcpy(p, data + 12 * i, 12);
    // Rotate by the quaternion (x, y, z, w): v' = v + 2w(q x v) + 2 q x (q x v).
    double v[3] = {p[0] * xf.scl[0], p[1] * xf.scl[1], p[2] * xf.scl[2]};
    if (node.rotation.size() == 4) {
      const double* q = node.rotation.data();
      const double t[3] = {2 * (q[1] * v[2] - q[2] * v[1]), 2 * (q[2] * v[0] - q[0] * v[2]),
                           2 * (q[0] * v[1] - q[1] * v[0])};
      const double r[3] = {v[0] + q[3] * t[0] + (q[1] * t[2] - q[2] * t[1]),
                           v[1] + q[3] * t[1] + (q[2] * t[0] - q[0] * t[2]),
                           v[2] + q[3] * t[2] + (q[0] * t[1] - q[1] * t[0])};
      std::copy(r, r + 3, v);
    }
    out.push_back({float(v[0] + xf.pos[0]), float(v[1] + xf.pos[1]), float(v[2] + xf.pos[2])});
  }
  return out;
}

std::vector<std::tuple<float, float, float>> Sorted(const std::vector<Vec3>& ps) {
  std::vector<std::tuple<float, float, float>> out;
  for (const Vec3& p : ps) {
    out.emplace_back(std::round(p.x * 1e3f) / 1e3f, std::round(p.y * 1e3f) / 1e3f,
                     std::round(p.z * 1e3f) / 1e3f);
  }
  std::sort(out.begin(), out.end());
  return out;
}

TEST(WriteGlb, RoundTripKeepsNodesTrianglesAndWorldPositions) {
  const Scene2 s;
  const std::string path = SaveScene(s, "scene.glb", WriteGlb);

  const tinygltf::Model model = ReadGlb(path);
  ASSERT_EQ(model.nodes.size(), 2u);
  EXPECT_EQ(model.nodes[0].name, "unit one");
  ASSERT_EQ(model.scenes.size(), 1u);
  EXPECT_EQ(model.scenes[0].nodes.size(), 2u);

  for (std::size_t item = 0; item < 2; ++item) {
    const Mesh& m = *s.items[item].mesh;
    const tinygltf::Node& node = model.nodes[item];
    ASSERT_GE(node.mesh, 0);
    std::size_t triangles = 0;
    std::vector<Vec3> got;
    const tinygltf::Mesh& gm = model.meshes[static_cast<std::size_t>(node.mesh)];
    for (const tinygltf::Primitive& prim : gm.primitives) {
      EXPECT_EQ(prim.mode, TINYGLTF_MODE_TRIANGLES);
      triangles += model.accessors[static_cast<std::size_t>(prim.indices)].count / 3;
      const std::vector<Vec3> w = WorldPositions(model, node, prim);
      got.insert(got.end(), w.begin(), w.end());
      EXPECT_EQ(prim.attributes.count("NORMAL"), m.cornerNormal.empty() ? 0u : 1u);
      EXPECT_EQ(prim.attributes.count("TEXCOORD_0"), m.cornerUV.empty() ? 0u : 1u);
    }
    EXPECT_EQ(gm.primitives.size(), m.materials.size());  // one per used material
    std::size_t wantTriangles = 0;
    std::vector<Vec3> want;
    for (std::size_t f = 0; f < m.FaceCount(); ++f) wantTriangles += Corners(m, f) - 2;
    for (std::uint32_t v : m.cornerVertex) want.push_back(s.items[item].xf.ApplyPoint(m.positions[v]));
    EXPECT_EQ(triangles, wantTriangles);
    EXPECT_EQ(Sorted(got), Sorted(want));
  }
  ASSERT_EQ(model.materials.size(), 2u);  // "brick" once for both meshes
  const auto brick = std::find_if(model.materials.begin(), model.materials.end(),
                                  [](const tinygltf::Material& m) { return m.name == "brick"; });
  ASSERT_NE(brick, model.materials.end());
  EXPECT_DOUBLE_EQ(brick->pbrMetallicRoughness.baseColorFactor[1], 0.25);
}

TEST(Save, FailedSaveKeepsTheOldFile) {
  const Scene2 s;
  const fs::path dir = TempDir();
  const std::string obj = (dir / "keep.obj").string();
  const std::string glb = (dir / "keep.glb").string();
  for (const std::string& p : {obj, glb}) std::ofstream(p) << "old contents";
  std::string error;

  // The .mtl cannot be put in place (a folder is in the way).
  fs::create_directory(dir / "keep.mtl");
  EXPECT_FALSE(WriteObj(obj, s.items, error));
  EXPECT_EQ(error, "cannot write OBJ file '" + obj + "': its material file '" +
                       (dir / "keep.mtl").string() + "' is a folder, not a file");
  EXPECT_EQ(Slurp(obj), "old contents");

  // A broken mesh is refused before anything is written.
  Mesh broken = PlainTriangle(2);
  broken.cornerVertex[2] = 42;
  std::vector<ExportItem> bad = s.items;
  bad[1].mesh = &broken;
  EXPECT_FALSE(WriteGlb(glb, bad, error));
  EXPECT_EQ(error, "cannot write glTF file '" + glb + "': object 'tri' has a broken mesh: "
                   "a corner refers to a missing vertex");
  EXPECT_EQ(Slurp(glb), "old contents");

  // No folder to write into.
  const std::string nowhere = (dir / "no_such_folder" / "x.glb").string();
  EXPECT_FALSE(WriteGlb(nowhere, s.items, error));
  EXPECT_EQ(error.rfind("cannot write glTF file '" + nowhere + "': ", 0), 0u) << error;

  for (const auto& entry : fs::directory_iterator(dir)) {
    EXPECT_EQ(entry.path().string().find(".saving"), std::string::npos) << entry.path();
  }
}

// A non-finite number is never written, nor replaced by 0: the save is
// refused, naming the object, and the old file stays.
TEST(Save, NonFiniteNumbersAreRefusedAndTheOldFileKept) {
  const fs::path dir = TempDir();
  const std::string obj = (dir / "keep.obj").string();
  const std::string glb = (dir / "keep.glb").string();
  for (const std::string& p : {obj, glb}) std::ofstream(p) << "old contents";
  const double nan = std::nan(""), inf = HUGE_VAL;
  struct Case {
    void (*spoil)(ExportItem&, Mesh&, double);
    double value;
    const char* problem;
  };
  const Case cases[] = {
      {[](ExportItem& i, Mesh&, double v) { i.xf.pos[1] = v; }, nan, "a non-finite position"},
      {[](ExportItem& i, Mesh&, double v) { i.xf.rot[2] = v; }, -inf, "a non-finite rotation"},
      {[](ExportItem& i, Mesh&, double v) { i.xf.scl[0] = v; }, inf, "a non-finite scale"},
      {[](ExportItem&, Mesh& m, double v) { m.positions[3].z = float(v); }, nan,
       "a non-finite vertex position"},
      {[](ExportItem&, Mesh& m, double v) { m.cornerNormal[5].x = float(v); }, inf,
       "a non-finite normal"},
      {[](ExportItem&, Mesh& m, double v) { m.cornerUV[7].y = float(v); }, nan,
       "a non-finite texture coordinate"},
      {[](ExportItem&, Mesh& m, double v) { m.materials[1].diffuse.y = float(v); }, nan,
       "a non-finite colour in material 'roof tile'"},
  };
  for (const Case& c : cases) {
    Scene2 s;
    s.items[0].mesh = &s.cube;
    s.items[1].mesh = &s.tri;
    c.spoil(s.items[0], s.cube, c.value);
    std::string error;
    EXPECT_FALSE(WriteGlb(glb, s.items, error));
    EXPECT_EQ(error, "cannot write glTF file '" + glb + "': object 'unit one' has " + c.problem);
    EXPECT_FALSE(WriteObj(obj, s.items, error));
    EXPECT_EQ(error, "cannot write OBJ file '" + obj + "': object 'unit one' has " + c.problem);
  }
  // Finite numbers that overflow once moved to world space (OBJ only: glTF
  // keeps positions local).
  Scene2 s;
  s.items[0].mesh = &s.cube;
  s.items[1].mesh = &s.tri;
  s.items[0].xf.scl[0] = 1e38;
  s.cube.positions[1].x = 1e10f;
  std::string error;
  EXPECT_FALSE(WriteObj(obj, s.items, error));
  EXPECT_EQ(error, "cannot write OBJ file '" + obj +
                       "': object 'unit one' has a vertex beyond the float range in world space");
  EXPECT_EQ(Slurp(obj), "old contents");
  EXPECT_EQ(Slurp(glb), "old contents");
  EXPECT_FALSE(fs::exists(dir / "keep.mtl"));
}

TEST(Save, EmptySceneWritesValidFiles) {
  const fs::path dir = TempDir();
  std::string error;
  ASSERT_TRUE(WriteGlb((dir / "empty.glb").string(), {}, error)) << error;
  const tinygltf::Model model = ReadGlb((dir / "empty.glb").string());
  EXPECT_TRUE(model.nodes.empty());
  ASSERT_TRUE(WriteObj((dir / "empty.obj").string(), {}, error)) << error;
  EXPECT_TRUE(fs::exists(dir / "empty.mtl"));
}

}  // namespace
}  // namespace host
