// The tile commands through the real runtime: ExportTile read back with
// meshoptimizer's decoders (and tinygltf for plain files), checked by the
// Khronos glTF validator when it is installed; CreateBlocks, SimplifyMesh,
// WriteTextFile and MakeFolder.
#include <meshoptimizer.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>

#include "file_contents.h"
#include "glb_file.h"
#include "host_test_util.h"
#include "plugin_loader.h"

using namespace testutil;
using XSI::CStatus;
using XSI::CString;
using XSI::CValue;
using Json = nlohmann::json;

namespace {

using P3 = std::array<double, 3>;

// ---- an independent reader of the tiles ---------------------------------------

struct DecodedPrimitive {
  std::vector<P3> positions, normals;  // scene units (node transform applied), unit normals
  std::vector<std::uint32_t> indices;
  int material = -1;
};
struct DecodedNode {
  std::string name;
  double step = 0;  // the position grid's step in scene units, 0 for floats
  std::vector<DecodedPrimitive> primitives;
};
struct DecodedTile {
  Json doc;
  std::vector<DecodedNode> nodes;
};

std::uint32_t U32(const std::string& b, std::size_t at) {
  std::uint32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}

// The bytes of a buffer view: raw from the binary chunk, or decoded.
std::string ViewBytes(const Json& doc, const std::string& bin, int index) {
  const Json& view = doc["bufferViews"][index];
  if (!view.contains("extensions")) {
    EXPECT_EQ(view["buffer"], 0);
    return bin.substr(view["byteOffset"].get<std::size_t>(), view["byteLength"].get<std::size_t>());
  }
  const Json& ext = view["extensions"]["EXT_meshopt_compression"];
  const std::size_t count = ext["count"], stride = ext["byteStride"];
  const unsigned char* src =
      reinterpret_cast<const unsigned char*>(bin.data()) + ext["byteOffset"].get<std::size_t>();
  const std::size_t srcBytes = ext["byteLength"];
  std::string out(count * stride, '\0');
  int rc = -1;
  if (ext["mode"] == "ATTRIBUTES") rc = meshopt_decodeVertexBuffer(out.data(), count, stride, src, srcBytes);
  if (ext["mode"] == "TRIANGLES") rc = meshopt_decodeIndexBuffer(out.data(), count, stride, src, srcBytes);
  EXPECT_EQ(rc, 0) << "view " << index << " does not decode";
  EXPECT_EQ(out.size(), view["byteLength"].get<std::size_t>());
  return out;
}

// Accessor values as doubles, normalized integers mapped to [0,1] / [-1,1].
std::vector<P3> Vec3s(const Json& doc, const std::string& bin, int accessor) {
  const Json& a = doc["accessors"][accessor];
  const std::string bytes = ViewBytes(doc, bin, a["bufferView"]);
  const Json& view = doc["bufferViews"][a["bufferView"].get<int>()];
  const int type = a["componentType"];
  const std::size_t count = a["count"];
  const std::size_t size = type == 5126 ? 4 : type == 5123 ? 2 : 1;
  const std::size_t stride = view.value("byteStride", 3 * size);
  const bool normalized = a.value("normalized", false);
  std::vector<P3> out(count);
  for (std::size_t i = 0; i < count; ++i) {
    for (int k = 0; k < 3; ++k) {
      const char* p = bytes.data() + i * stride + k * size;
      double v = 0;
      if (type == 5126) {
        float f;
        std::memcpy(&f, p, 4);
        v = f;
      } else if (type == 5123) {
        std::uint16_t u;
        std::memcpy(&u, p, 2);
        v = normalized ? u / 65535.0 : u;
      } else {
        EXPECT_EQ(type, 5120);
        const std::int8_t s = static_cast<std::int8_t>(*p);
        v = normalized ? std::max(s / 127.0, -1.0) : s;
      }
      out[i][k] = v;
    }
  }
  return out;
}

std::vector<std::uint32_t> Indices(const Json& doc, const std::string& bin, int accessor) {
  const Json& a = doc["accessors"][accessor];
  const std::string bytes = ViewBytes(doc, bin, a["bufferView"]);
  const std::size_t count = a["count"];
  std::vector<std::uint32_t> out(count);
  for (std::size_t i = 0; i < count; ++i) {
    if (a["componentType"] == 5125) {
      std::memcpy(&out[i], bytes.data() + 4 * i, 4);
    } else {
      std::uint16_t v;
      std::memcpy(&v, bytes.data() + 2 * i, 2);
      out[i] = v;
    }
  }
  return out;
}

DecodedTile DecodeTile(const std::string& path) {
  DecodedTile tile;
  const std::string b = testsupport::Slurp(path);
  EXPECT_GE(b.size(), 28u);
  if (b.size() < 28) return tile;
  EXPECT_EQ(b.substr(0, 4), "glTF");
  EXPECT_EQ(U32(b, 8), b.size());
  const std::uint32_t jsonBytes = U32(b, 12);
  tile.doc = Json::parse(b.substr(20, jsonBytes));
  const std::size_t binAt = 20 + jsonBytes;
  EXPECT_EQ(b.substr(binAt + 4, 4), std::string("BIN\0", 4));
  const std::string bin = b.substr(binAt + 8, U32(b, binAt));
  const Json& doc = tile.doc;
  for (const Json& node : doc["nodes"]) {
    DecodedNode out;
    out.name = node["name"];
    if (!node.contains("mesh")) {
      tile.nodes.push_back(out);
      continue;
    }
    P3 t{0, 0, 0};
    double s = 1;
    if (node.contains("translation")) t = {node["translation"][0], node["translation"][1], node["translation"][2]};
    if (node.contains("scale")) {
      s = node["scale"][0];
      EXPECT_EQ(node["scale"][1], s);
      EXPECT_EQ(node["scale"][2], s);
    }
    EXPECT_FALSE(node.contains("rotation"));
    for (const Json& prim : doc["meshes"][node["mesh"].get<int>()]["primitives"]) {
      DecodedPrimitive p;
      p.material = prim["material"];
      const int posAcc = prim["attributes"]["POSITION"];
      if (doc["accessors"][posAcc].value("normalized", false)) out.step = s / 65535.0;
      for (P3 v : Vec3s(doc, bin, posAcc)) p.positions.push_back({t[0] + s * v[0], t[1] + s * v[1], t[2] + s * v[2]});
      for (P3 n : Vec3s(doc, bin, prim["attributes"]["NORMAL"])) {
        const double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        p.normals.push_back({n[0] / len, n[1] / len, n[2] / len});
      }
      p.indices = Indices(doc, bin, prim["indices"]);
      out.primitives.push_back(std::move(p));
    }
    tile.nodes.push_back(std::move(out));
  }
  return tile;
}

// The compressed tile with every view decoded into place and the
// compression extension removed: the quantized data as a plain file, so the
// validator (which cannot decode meshopt streams) checks it too.
void WriteDecompressed(const std::string& path, const std::string& outPath) {
  const std::string b = testsupport::Slurp(path);
  Json doc = Json::parse(b.substr(20, U32(b, 12)));
  const std::size_t binAt = 20 + U32(b, 12);
  const std::string bin = b.substr(binAt + 8, U32(b, binAt));
  std::string raw(doc["buffers"][1]["byteLength"].get<std::size_t>(), '\0');
  for (std::size_t i = 0; i < doc["bufferViews"].size(); ++i) {
    const std::string bytes = ViewBytes(doc, bin, int(i));
    Json& view = doc["bufferViews"][i];
    raw.replace(view["byteOffset"].get<std::size_t>(), bytes.size(), bytes);
    view["buffer"] = 0;
    view.erase("extensions");
  }
  doc["buffers"] = Json::array({Json{{"byteLength", raw.size()}}});
  doc["extensionsUsed"] = doc["extensionsRequired"] = Json::array({"KHR_mesh_quantization"});
  std::string json = doc.dump();
  json.append((4 - json.size() % 4) % 4, ' ');
  raw.append((4 - raw.size() % 4) % 4, '\0');
  auto u32 = [](std::uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
  const std::string out = "glTF" + u32(2) + u32(std::uint32_t(28 + json.size() + raw.size())) + u32(json.size()) +
                          "JSON" + json + u32(raw.size()) + std::string("BIN\0", 4) + raw;
  std::ofstream(outPath, std::ios::binary) << out;
}

// Runs the validator; skips the calling test when it is not installed.
#define VALIDATE_OR_SKIP(...)                                                              \
  do {                                                                                     \
    std::string why_;                                                                      \
    if (!ValidatorPresent(why_)) GTEST_SKIP() << why_;                                     \
    std::string report_;                                                                   \
    EXPECT_TRUE(Validate(std::vector<std::string>{__VA_ARGS__}, report_)) << report_; \
  } while (0)

const std::string kValidateDir = XSI_SOURCE_DIR "/tests/validate";

bool ValidatorPresent(std::string& why) {
  if (std::system("node --version >/dev/null 2>&1") != 0) {
    why = "glTF validator not run: node is not installed (scripts/setup.sh installs it)";
    return false;
  }
  struct stat st;
  if (stat((kValidateDir + "/node_modules/gltf-validator/package.json").c_str(), &st) != 0) {
    why = "glTF validator not run: run `npm ci` in tests/validate (scripts/setup.sh does)";
    return false;
  }
  return true;
}

bool Validate(const std::vector<std::string>& files, std::string& report) {
  std::string command = "node '" + kValidateDir + "/validate.mjs'";
  for (const std::string& f : files) command += " '" + f + "'";
  command += " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return false;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) report.append(buf, n);
  return pclose(pipe) == 0;
}

// ---- scene helpers -----------------------------------------------------------

Json Stats(const CValue& out) { return Json::parse(out.GetAsText().GetUtf8String()); }

// Every triangle of the object in scene coordinates, with its corners.
std::vector<std::array<P3, 3>> SceneTriangles(const host::SceneObject* obj) {
  const host::Mesh m = host::BakeTransform(*obj->geometry.Snapshot(), obj->xf);
  std::vector<std::array<P3, 3>> out;
  for (std::size_t f = 0; f < m.FaceCount(); ++f) {
    const std::uint32_t b = m.faceStart[f], e = m.faceStart[f + 1];
    auto at = [&](std::uint32_t c) {
      const host::Vec3 p = m.positions[m.cornerVertex[c]];
      return P3{p.x, p.y, p.z};
    };
    for (std::uint32_t k = b + 1; k + 1 < e; ++k) out.push_back({at(b), at(k), at(k + 1)});
  }
  return out;
}

double Dist(const P3& a, const P3& b) {
  return std::max({std::fabs(a[0] - b[0]), std::fabs(a[1] - b[1]), std::fabs(a[2] - b[2])});
}

P3 Cross(const P3& a, const P3& b, const P3& c) {
  const P3 u{b[0] - a[0], b[1] - a[1], b[2] - a[2]}, v{c[0] - a[0], c[1] - a[1], c[2] - a[2]};
  return {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
}

// The node's decoded triangles match the object's, each within the grid's
// half step (plus float rounding), in the same winding, and every normal
// points the way its triangle faces.
void ExpectSameTriangles(const DecodedNode& node, const host::SceneObject* obj) {
  std::vector<std::array<P3, 3>> scene = SceneTriangles(obj);
  std::vector<std::array<P3, 3>> decoded;
  for (const DecodedPrimitive& p : node.primitives) {
    ASSERT_EQ(p.indices.size() % 3, 0u);
    for (std::size_t i = 0; i < p.indices.size(); i += 3) {
      std::array<P3, 3> t;
      P3 n{0, 0, 0};
      for (int k = 0; k < 3; ++k) {
        ASSERT_LT(p.indices[i + k], p.positions.size());
        t[k] = p.positions[p.indices[i + k]];
        for (int a = 0; a < 3; ++a) n[a] += p.normals[p.indices[i + k]][a];
      }
      const P3 g = Cross(t[0], t[1], t[2]);
      EXPECT_GT(g[0] * n[0] + g[1] * n[1] + g[2] * n[2], 0) << node.name << ": a triangle faces against its normal";
      decoded.push_back(t);
    }
  }
  ASSERT_EQ(decoded.size(), scene.size()) << node.name;
  double extent = 0;
  for (const auto& t : scene)
    for (const P3& p : t) extent = std::max({extent, std::fabs(p[0]), std::fabs(p[1]), std::fabs(p[2])});
  const double tolerance = node.step / 2 + 1e-6 * std::max(1.0, extent);
  // Triangles come in another order (the encoder reorders them for its
  // codecs): match each scene triangle to an unused decoded one, keeping the
  // corners' cyclic order.
  std::vector<bool> used(decoded.size(), false);
  for (const auto& t : scene) {
    bool found = false;
    for (std::size_t i = 0; i < decoded.size() && !found; ++i) {
      if (used[i]) continue;
      for (int r = 0; r < 3 && !found; ++r) {
        if (Dist(t[0], decoded[i][r]) <= tolerance && Dist(t[1], decoded[i][(r + 1) % 3]) <= tolerance &&
            Dist(t[2], decoded[i][(r + 2) % 3]) <= tolerance) {
          used[i] = found = true;
        }
      }
    }
    ASSERT_TRUE(found) << node.name << ": triangle at " << t[0][0] << "," << t[0][1] << "," << t[0][2]
                       << " is not in the tile within " << tolerance;
  }
}

// The returned bounds are the decoded positions' bounds.
void ExpectStatsMatch(const Json& stats, const DecodedTile& tile) {
  P3 lo{1e300, 1e300, 1e300}, hi{-1e300, -1e300, -1e300};
  std::uint64_t vertices = 0, triangles = 0;
  for (const DecodedNode& n : tile.nodes)
    for (const DecodedPrimitive& p : n.primitives) {
      vertices += p.positions.size();
      triangles += p.indices.size() / 3;
      for (std::uint32_t i : p.indices)
        for (int k = 0; k < 3; ++k) {
          lo[k] = std::min(lo[k], p.positions[i][k]);
          hi[k] = std::max(hi[k], p.positions[i][k]);
        }
    }
  EXPECT_EQ(stats["vertices"], vertices);
  EXPECT_EQ(stats["triangles"], triangles);
  for (int k = 0; k < 3; ++k) {
    const double scale = std::max(1.0, std::fabs(hi[k]));
    EXPECT_NEAR(stats["min"][k].get<double>(), lo[k], 1e-9 * scale);
    EXPECT_NEAR(stats["max"][k].get<double>(), hi[k], 1e-9 * scale);
  }
}

class Tiles : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    cube_ = dir_.Write("cube.obj", kCubeObj);
  }
  void ImportCube() {
    ASSERT_EQ(Exec(L"ObjImport", {CString::FromUtf8(cube_), 1, 0, false, false, false, false}), CStatus::OK);
  }
  // cube, and "box" turned and moved: two objects, two materials.
  void TwoObjects() {
    ImportCube();
    ASSERT_EQ(Exec(L"CreateBlocks", {L"box", L"0 0 0 2 1 3 0.55 0.22 0.15; 3 0 0 4 4 1 0.1 0.2 0.3"}), CStatus::OK)
        << LastError();
    ASSERT_EQ(Exec(L"SetValue", {L"box.roty", 30}), CStatus::OK);
    ASSERT_EQ(Exec(L"SetValue", {L"box.posx", 100.5}), CStatus::OK);
    ASSERT_EQ(Exec(L"SetValue", {L"box.sclz", 2}), CStatus::OK);
  }
  Json Export(const std::string& file, const wchar_t* objects, const wchar_t* options) {
    CValue out;
    const CStatus st = Exec(L"ExportTile", {CString::FromUtf8(dir_.File(file)), objects, options}, &out);
    EXPECT_EQ(st, CStatus::OK) << LastError();
    return st == CStatus::OK ? Stats(out) : Json();
  }
  std::string cube_;
};

// ---- ExportTile ----------------------------------------------------------------

TEST_F(Tiles, CompressedAndPlainTilesHoldTheSceneInSceneCoordinates) {
  TwoObjects();
  for (const wchar_t* options : {L"", L"plain"}) {
    SCOPED_TRACE(CString(options).GetUtf8String());
    const Json stats = Export("t.glb", L"", options);
    const DecodedTile tile = DecodeTile(dir_.File("t.glb"));
    ASSERT_EQ(tile.nodes.size(), 2u);
    EXPECT_EQ(tile.nodes[0].name, "cube");
    EXPECT_EQ(tile.nodes[1].name, "box");
    ExpectSameTriangles(tile.nodes[0], Find(L"cube"));
    ExpectSameTriangles(tile.nodes[1], Find(L"box"));
    ExpectStatsMatch(stats, tile);
    EXPECT_EQ(stats["bytes"], fs::file_size(dir_.File("t.glb")));
    const bool compressed = std::wstring(options).empty();
    EXPECT_EQ(tile.doc.contains("extensionsRequired"), compressed);
    if (compressed) {
      for (const char* ext : {"EXT_meshopt_compression", "KHR_mesh_quantization"}) {
        EXPECT_NE(std::find(tile.doc["extensionsUsed"].begin(), tile.doc["extensionsUsed"].end(), ext),
                  tile.doc["extensionsUsed"].end());
        EXPECT_NE(std::find(tile.doc["extensionsRequired"].begin(), tile.doc["extensionsRequired"].end(), ext),
                  tile.doc["extensionsRequired"].end());
      }
      // The fallback buffer has no bytes of its own: no uri, flagged.
      ASSERT_EQ(tile.doc["buffers"].size(), 2u);
      EXPECT_FALSE(tile.doc["buffers"][1].contains("uri"));
      EXPECT_EQ(tile.doc["buffers"][1]["extensions"]["EXT_meshopt_compression"]["fallback"], true);
    } else {
      // A plain tile is ordinary glTF another reader takes, floats exact.
      const tinygltf::Model model = testsupport::ReadGlb(dir_.File("t.glb"));
      EXPECT_EQ(model.nodes.size(), 2u);
      EXPECT_EQ(tile.nodes[0].step, 0.0);
    }
    // Materials by name, colour as given.
    std::set<std::string> names;
    for (const Json& m : tile.doc["materials"]) names.insert(m["name"].get<std::string>());
    EXPECT_EQ(names, (std::set<std::string>{"default", "block_8c3826", "block_1a334d"}));
    if (compressed) WriteDecompressed(dir_.File("t.glb"), dir_.File("t_raw.glb"));
    VALIDATE_OR_SKIP(dir_.File("t.glb"), compressed ? dir_.File("t_raw.glb") : dir_.File("t.glb"));
  }
}

TEST_F(Tiles, MergeMakesOneNodeWithOnePrimitivePerMaterial) {
  TwoObjects();
  ASSERT_EQ(Exec(L"Duplicate", {L"box"}), CStatus::OK);  // box1: same materials
  for (const wchar_t* options : {L"merge", L" Plain , MERGE "}) {
    const Json stats = Export("region_3_4.glb", L"", options);
    const DecodedTile tile = DecodeTile(dir_.File("region_3_4.glb"));
    ASSERT_EQ(tile.nodes.size(), 1u);
    EXPECT_EQ(tile.nodes[0].name, "region_3_4");
    EXPECT_EQ(tile.nodes[0].primitives.size(), 3u);
    std::set<int> materials;
    for (const DecodedPrimitive& p : tile.nodes[0].primitives) materials.insert(p.material);
    EXPECT_EQ(materials.size(), 3u);
    EXPECT_EQ(stats["triangles"], 12 + 24 + 24);
    ExpectStatsMatch(stats, tile);
    VALIDATE_OR_SKIP(dir_.File("region_3_4.glb"));
  }
}

TEST_F(Tiles, SameSceneGivesTheSameBytes) {
  std::string first[2];
  for (int run = 0; run < 2; ++run) {
    host::Runtime::Get().ResetScene();
    TwoObjects();
    Export("a.glb", L"", L"");
    Export("b.glb", L"", L"plain,merge");
    first[run] = testsupport::Slurp(dir_.File("a.glb")) + testsupport::Slurp(dir_.File("b.glb"));
  }
  EXPECT_EQ(first[0], first[1]);
}

TEST_F(Tiles, NamedObjectsOnlyAndInTheGivenOrder) {
  TwoObjects();
  Export("t.glb", L"box, cube", L"");
  const DecodedTile tile = DecodeTile(dir_.File("t.glb"));
  ASSERT_EQ(tile.nodes.size(), 2u);
  EXPECT_EQ(tile.nodes[0].name, "box");
  Export("t.glb", L"box", L"");
  EXPECT_EQ(DecodeTile(dir_.File("t.glb")).nodes.size(), 1u);
}

TEST_F(Tiles, RefusalsNameTheInputAndKeepTheOldFile) {
  TwoObjects();
  const std::string path = dir_.Write("t.glb", "old");
  const struct {
    const wchar_t *objects, *options;
    std::string path, message;
    CStatus status;
  } cases[] = {
      {L"", L"fast", path, "unknown option 'fast'", CStatus::InvalidArgument},
      {L"cube,nothere", L"", path, "no object named 'nothere'", CStatus::NotFound},
      {L"cube,cube", L"", path, "'cube' is named twice", CStatus::InvalidArgument},
      {L"", L"", dir_.File("t.gltf"), "must end in .glb", CStatus::InvalidArgument},
      {L"", L"", dir_.File("missing/t.glb"), "folder that does not exist", CStatus::Fail},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Exec(L"ExportTile", {CString::FromUtf8(c.path), c.objects, c.options}), c.status) << c.message;
    EXPECT_NE(LastError().find(c.message), std::string::npos) << LastError();
    EXPECT_EQ(testsupport::Slurp(path), "old");
  }
  // Nothing with a triangle: refused rather than an empty tile.
  host::Runtime::Get().ResetScene();
  EXPECT_EQ(Exec(L"ExportTile", {CString::FromUtf8(path), L"", L""}), CStatus::InvalidArgument);
  EXPECT_NE(LastError().find("no mesh object"), std::string::npos) << LastError();
  host::SceneObject& empty = host::Runtime::Get().GetScene().Create(L"empty");
  empty.geometry = host::Geometry(host::Mesh{});
  EXPECT_EQ(Exec(L"ExportTile", {CString::FromUtf8(path), L"", L""}), CStatus::Fail);
  EXPECT_NE(LastError().find("no triangles"), std::string::npos) << LastError();
  EXPECT_EQ(testsupport::Slurp(path), "old");
}

// A terrain of 262,144 vertices: past 16-bit indices, and every grid point
// decodes to its own place.
TEST_F(Tiles, BigMeshesGetWideIndicesAndKeepEveryPoint) {
  ASSERT_EQ(Exec(L"CreateHeightField", {XSI_SOURCE_DIR L"/examples/images/map_elevation.bmp", L"ground", 1024, 1024, 60, 1}),
            CStatus::OK)
      << LastError();
  const Json stats = Export("ground.glb", L"ground", L"");
  const DecodedTile tile = DecodeTile(dir_.File("ground.glb"));
  ASSERT_EQ(tile.nodes.size(), 1u);
  ASSERT_EQ(tile.nodes[0].primitives.size(), 1u);
  const DecodedPrimitive& p = tile.nodes[0].primitives[0];
  EXPECT_EQ(tile.doc["accessors"][2]["componentType"], 5125);
  const host::Mesh& m = *Find(L"ground")->geometry.Snapshot();
  ASSERT_EQ(p.positions.size(), m.VertexCount());
  EXPECT_EQ(p.indices.size(), 3 * 2 * 511 * 511u);
  ExpectStatsMatch(stats, tile);
  // Grid points are 2 units apart, far more than the grid step of the
  // quantization: sorted by (x, z), both lists pair up.
  auto byXz = [](const P3& a, const P3& b) {
    return std::make_pair(std::lround(a[0]), std::lround(a[2])) < std::make_pair(std::lround(b[0]), std::lround(b[2]));
  };
  std::vector<P3> decoded = p.positions, scene;
  for (const host::Vec3& v : m.positions) scene.push_back({v.x, v.y, v.z});
  std::sort(decoded.begin(), decoded.end(), byXz);
  std::sort(scene.begin(), scene.end(), byXz);
  const double tolerance = tile.nodes[0].step / 2 + 1e-4;
  for (std::size_t i = 0; i < scene.size(); ++i) ASSERT_LE(Dist(scene[i], decoded[i]), tolerance) << i;
}

// A whole tower raised by the RaiseTower plug-in: thousands of triangles
// in many materials.
class TowerTiles : public Tiles {
 protected:
  void SetUp() override {
    Tiles::SetUp();
    if (!plugins_) {
      plugins_ = std::make_unique<host::PluginManager>(host::Runtime::Get());
      ASSERT_TRUE(plugins_->Load(XSI_BINARY_DIR "/plugins/RaiseTower.so").Succeeded());
    }
    host::Runtime::Get().SetHomePath(XSI_SOURCE_DIR "/home");
  }
  static void TearDownTestSuite() { plugins_.reset(); }
  static std::unique_ptr<host::PluginManager> plugins_;
};
std::unique_ptr<host::PluginManager> TowerTiles::plugins_;

TEST_F(TowerTiles, ATowerDecodesToItsOwnTrianglesAndValidates) {
  ASSERT_TRUE(Exec(L"RaiseTower", {L"T", 3, 4, 5, L"brick", L"A", 1}).Succeeded()) << LastError();
  ASSERT_EQ(Exec(L"Translate", {L"T", 40, 3, -20, 0}), CStatus::OK);
  const Json packed = Export("tower.glb", L"T", L"");
  const Json plain = Export("tower_plain.glb", L"T", L"plain");
  const DecodedTile tile = DecodeTile(dir_.File("tower.glb"));
  ASSERT_EQ(tile.nodes.size(), 1u);
  ExpectSameTriangles(tile.nodes[0], Find(L"T"));
  ExpectStatsMatch(packed, tile);
  EXPECT_EQ(packed["triangles"], plain["triangles"]);
  EXPECT_LT(packed["bytes"].get<double>() * 3, plain["bytes"].get<double>()) << packed << plain;
  WriteDecompressed(dir_.File("tower.glb"), dir_.File("tower_raw.glb"));
  VALIDATE_OR_SKIP(dir_.File("tower.glb"), dir_.File("tower_plain.glb"), dir_.File("tower_raw.glb"));
}

// ---- CreateBlocks --------------------------------------------------------------

TEST_F(Tiles, BlocksAreClosedOutwardBoxesWithOneMaterialPerColour) {
  CValue out;
  ASSERT_EQ(Exec(L"CreateBlocks",
                 {L"blocks", L"0 0 0 1 2 3 0.55 0.22 0.15;\n -5 1 -5 -4 1.5 -4.5 0.1 0.2 0.3; 10 0 0 11 1 1 .55 .22 .15;"},
                 &out),
            CStatus::OK)
      << LastError();
  host::SceneObject* obj = Find(L"blocks");
  ASSERT_NE(obj, nullptr);
  EXPECT_EQ(out.GetAsRef().GetId(), obj->id);
  const host::Mesh& m = *obj->geometry.Snapshot();
  EXPECT_EQ(m.VertexCount(), 24u);
  EXPECT_EQ(m.FaceCount(), 18u);
  ASSERT_EQ(m.materials.size(), 2u);
  EXPECT_EQ(m.materials[0].name, "block_8c3826");
  EXPECT_EQ(m.materials[1].name, "block_1a334d");
  EXPECT_FLOAT_EQ(m.materials[1].diffuse.y, 0.2f);
  EXPECT_EQ(m.faceMaterial[12], 0u);  // the third box shares the first colour
  EXPECT_EQ(host::ComputeBounds(m).max.z, 3.0f);
  for (std::size_t f = 0; f < m.FaceCount(); ++f) {
    const std::size_t box = f / 6;
    host::Vec3 centre{0, 0, 0}, faceCentre{0, 0, 0};
    for (std::size_t v = box * 8; v < box * 8 + 8; ++v) {
      centre.x += m.positions[v].x / 8, centre.y += m.positions[v].y / 8, centre.z += m.positions[v].z / 8;
    }
    for (std::uint32_t c = m.faceStart[f]; c < m.faceStart[f + 1]; ++c) {
      const host::Vec3 p = m.positions[m.cornerVertex[c]];
      faceCentre.x += p.x / 4, faceCentre.y += p.y / 4, faceCentre.z += p.z / 4;
      EXPECT_EQ(m.cornerVertex[c] / 8, box);
    }
    const host::Vec3 n = host::FaceNormalOf(m, f);  // from the winding
    const host::Vec3 stored = m.cornerNormal[m.faceStart[f]];
    EXPECT_NEAR(n.x * stored.x + n.y * stored.y + n.z * stored.z, 1.0, 1e-6) << "face " << f;
    const double out = n.x * (faceCentre.x - centre.x) + n.y * (faceCentre.y - centre.y) + n.z * (faceCentre.z - centre.z);
    EXPECT_GT(out, 0) << "face " << f << " faces inwards";
  }
  // Every edge is shared by exactly two faces, in opposite directions: closed.
  std::multiset<std::pair<std::uint32_t, std::uint32_t>> edges;
  for (std::size_t f = 0; f < m.FaceCount(); ++f)
    for (std::uint32_t c = m.faceStart[f]; c < m.faceStart[f + 1]; ++c) {
      const std::uint32_t next = c + 1 == m.faceStart[f + 1] ? m.faceStart[f] : c + 1;
      edges.insert({m.cornerVertex[c], m.cornerVertex[next]});
    }
  for (const auto& e : edges) {
    EXPECT_EQ(edges.count(e), 1u);
    EXPECT_EQ(edges.count({e.second, e.first}), 1u);
  }
}

TEST_F(Tiles, BadBlocksAreRefusedAndAddNothing) {
  ImportCube();
  const struct {
    const wchar_t *name, *boxes;
    const char* message;
  } cases[] = {
      {L"cube", L"0 0 0 1 1 1 1 0 0", "already exists"},
      {L"", L"0 0 0 1 1 1 1 0 0", "name is empty"},
      {L"a,b", L"0 0 0 1 1 1 1 0 0", "holds a comma"},
      {L"b", L"", "no box"},
      {L"b", L" ; ;", "no box"},
      {L"b", L"0 0 0 1 1 1 1 0 0;0 0 0 1 1 1 1 0", "entry 2: expected 9 numbers"},
      {L"b", L"0 0 0 1 1 1 1 0 0;;0 0 0 1 x 1 1 0 0", "entry 3: y1 'x' is not a number"},
      {L"b", L"0 0 nan 1 1 1 1 0 0", "entry 1: z0 'nan' is not a finite number"},
      {L"b", L"0 0 0 1 1 1e31 1 0 0", "entry 1: z1 '1e31'"},
      {L"b", L"0 2 0 1 1 1 1 0 0", "entry 1: the min corner is above the max corner along y"},
      {L"b", L"0 0 0 1 1 1 1 1.5 0", "entry 1: colour component g '1.5' is outside 0..1"},
      {L"b", L"0 0 0 1 1 1 1 0 0 7", "entry 1: expected 9 numbers"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Exec(L"CreateBlocks", {c.name, c.boxes}), CStatus::InvalidArgument) << c.message;
    EXPECT_NE(LastError().find(c.message), std::string::npos) << LastError();
    EXPECT_EQ(host::Runtime::Get().GetScene().Count(), 1u);
  }
  // A flat box (min == max along one axis) is allowed.
  EXPECT_EQ(Exec(L"CreateBlocks", {L"plate", L"0 0 0 1 0 1 1 1 1"}), CStatus::OK) << LastError();
}

// ---- SimplifyMesh ---------------------------------------------------------------

// Positions on the X or Z side of the object's box.
std::set<std::array<float, 3>> SidePositions(const host::Mesh& m) {
  const host::Bounds b = host::ComputeBounds(m);
  std::set<std::array<float, 3>> out;
  for (std::uint32_t v : m.cornerVertex) {
    const host::Vec3 p = m.positions[v];
    if (p.x == b.min.x || p.x == b.max.x || p.z == b.min.z || p.z == b.max.z) out.insert({p.x, p.y, p.z});
  }
  return out;
}

std::size_t Triangles(const host::Mesh& m) {
  std::size_t n = 0;
  for (std::size_t f = 0; f < m.FaceCount(); ++f) n += m.faceStart[f + 1] - m.faceStart[f] - 2;
  return n;
}

class Simplify : public Tiles {
 protected:
  void Terrain(const wchar_t* name) {
    ASSERT_EQ(Exec(L"CreateHeightField",
                   {XSI_SOURCE_DIR L"/examples/images/map_elevation.bmp", name, 512, 512, 60, 4}),
              CStatus::OK)
        << LastError();
  }
};

TEST_F(Simplify, TerrainLosesTrianglesButKeepsItsBorder) {
  Terrain(L"ground");
  ASSERT_EQ(Exec(L"Duplicate", {L"ground"}), CStatus::OK);  // shares the mesh
  const std::shared_ptr<const host::Mesh> before = Find(L"ground")->geometry.Snapshot();
  CValue out;
  ASSERT_EQ(Exec(L"SimplifyMesh", {L"ground", 0.1, 0.01}, &out), CStatus::OK) << LastError();
  const host::Mesh& after = *Find(L"ground")->geometry.Snapshot();
  EXPECT_LT(Triangles(after), Triangles(*before) / 5);
  EXPECT_GT(Triangles(after), 0u);
  for (std::size_t f = 0; f < after.FaceCount(); ++f) EXPECT_EQ(after.faceStart[f + 1] - after.faceStart[f], 3u);
  EXPECT_EQ(after.cornerNormal.size(), after.CornerCount());
  EXPECT_EQ(after.cornerUV.size(), after.CornerCount());
  EXPECT_EQ(SidePositions(after), SidePositions(*before));
  // The error is in scene units: within 1% of the 512-unit extent asked.
  EXPECT_EQ(out.GetType(), CValue::siDouble);
  EXPECT_GT(out.GetAsDouble(), 0.0);
  EXPECT_LE(out.GetAsDouble(), 0.01 * 512 * 1.01);
  // The copy keeps the full mesh.
  EXPECT_EQ(Triangles(*Find(L"ground1")->geometry.Snapshot()), Triangles(*before));
  // As far as it goes: only the border is left.
  ASSERT_EQ(Exec(L"SimplifyMesh", {L"ground", 0, 1}, &out), CStatus::OK) << LastError();
  EXPECT_EQ(SidePositions(*Find(L"ground")->geometry.Snapshot()), SidePositions(*before));
  // Its tile still exports and validates.
  Export("ground.glb", L"ground", L"");
  WriteDecompressed(dir_.File("ground.glb"), dir_.File("ground_raw.glb"));
  VALIDATE_OR_SKIP(dir_.File("ground.glb"), dir_.File("ground_raw.glb"));
}

// A terrain grid with a skirt hanging from its edge: the grid's edge is no
// open edge any more, yet it is on the box's side and must stay.
TEST_F(Simplify, BoxSidesStayWhereNoOpenEdgeRuns) {
  const int n = 33;
  host::Mesh m;
  auto at = [&](int i, int j) { return std::uint32_t(j * n + i); };
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i)
      m.positions.push_back({float(i), float(std::sin(i * 0.7) * std::cos(j * 0.4) * 0.3), float(j)});
  auto quad = [&](std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
    m.cornerVertex.insert(m.cornerVertex.end(), {a, b, c, d});
    m.faceStart.push_back(std::uint32_t(m.cornerVertex.size()));
    m.faceMaterial.push_back(0);
  };
  for (int j = 0; j + 1 < n; ++j)
    for (int i = 0; i + 1 < n; ++i) quad(at(i, j), at(i, j + 1), at(i + 1, j + 1), at(i + 1, j));
  // The skirt: the ring of edge vertices, each with one 5 units below.
  std::vector<std::uint32_t> ring;
  for (int i = 0; i + 1 < n; ++i) ring.push_back(at(i, 0));
  for (int j = 0; j + 1 < n; ++j) ring.push_back(at(n - 1, j));
  for (int i = n - 1; i > 0; --i) ring.push_back(at(i, n - 1));
  for (int j = n - 1; j > 0; --j) ring.push_back(at(0, j));
  std::vector<std::uint32_t> below;
  for (std::uint32_t v : ring) {
    below.push_back(std::uint32_t(m.positions.size()));
    m.positions.push_back({m.positions[v].x, -5.0f, m.positions[v].z});
  }
  for (std::size_t k = 0; k < ring.size(); ++k) {
    const std::size_t next = (k + 1) % ring.size();
    quad(ring[k], ring[next], below[next], below[k]);
  }
  m.materials.push_back(host::Material{"ground", {0.5f, 0.5f, 0.5f}, ""});
  host::SceneObject& obj = host::Runtime::Get().GetScene().Create(L"skirted");
  obj.geometry = host::Geometry(m);
  ASSERT_EQ(Exec(L"SimplifyMesh", {L"skirted", 0.05, 1}), CStatus::OK) << LastError();
  const host::Mesh& after = *Find(L"skirted")->geometry.Snapshot();
  EXPECT_LT(Triangles(after), Triangles(m) / 2);
  EXPECT_EQ(SidePositions(after), SidePositions(m));
}

// A terrain grid of n x n samples of one hilly surface, from x0 on.
host::Mesh HillGrid(int n, float x0) {
  host::Mesh m;
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) {
      const float x = x0 + float(i), z = float(j);
      m.positions.push_back({x, float(std::sin(x * 0.11) * std::cos(z * 0.07) * 4.0), z});
    }
  for (int j = 0; j + 1 < n; ++j)
    for (int i = 0; i + 1 < n; ++i) {
      const std::uint32_t a = std::uint32_t(j * n + i);
      m.cornerVertex.insert(m.cornerVertex.end(), {a, a + std::uint32_t(n), a + std::uint32_t(n) + 1, a + 1});
      m.faceStart.push_back(std::uint32_t(m.cornerVertex.size()));
      m.faceMaterial.push_back(0);
    }
  m.materials.push_back(host::Material{"terrain", {0.5f, 0.5f, 0.5f}, ""});
  return m;
}

// Two neighbouring terrain tiles merged without a weld: their common edge
// is two rows of vertices at the same places. It simplifies like the rest
// (the outer sides stay), and both rows keep the same points: no crack.
TEST_F(Simplify, MergedNeighboursSimplifyAcrossTheirCommonEdgeWithoutACrack) {
  const int n = 65;
  host::Runtime::Get().GetScene().Create(L"west").geometry = host::Geometry(HillGrid(n, 0));
  host::Runtime::Get().GetScene().Create(L"east").geometry = host::Geometry(HillGrid(n, float(n - 1)));
  ASSERT_EQ(Exec(L"ApplyGenOp", {L"MeshMerge", L"", L"west,east"}), CStatus::OK) << LastError();
  ASSERT_EQ(Exec(L"DeleteGeneratorInputs", {L"polymsh.mergemesh"}), CStatus::OK) << LastError();
  const host::Mesh before = *Find(L"polymsh")->geometry.Snapshot();
  ASSERT_EQ(Exec(L"SimplifyMesh", {L"polymsh", 0.02, 0.01}), CStatus::OK) << LastError();
  const host::Mesh& after = *Find(L"polymsh")->geometry.Snapshot();
  EXPECT_LT(Triangles(after), Triangles(before) / 10);
  EXPECT_EQ(SidePositions(after), SidePositions(before));
  // Points on the common edge as used by each side's triangles.
  const float seam = float(n - 1);
  auto edgePoints = [&](const host::Mesh& m, bool east) {
    std::set<std::array<float, 2>> out;
    for (std::size_t f = 0; f < m.FaceCount(); ++f) {
      float cx = 0;
      for (std::uint32_t c = m.faceStart[f]; c < m.faceStart[f + 1]; ++c) cx += m.positions[m.cornerVertex[c]].x;
      if ((cx / float(m.faceStart[f + 1] - m.faceStart[f]) > seam) != east) continue;
      for (std::uint32_t c = m.faceStart[f]; c < m.faceStart[f + 1]; ++c) {
        const host::Vec3 p = m.positions[m.cornerVertex[c]];
        if (p.x == seam) out.insert({p.y, p.z});
      }
    }
    return out;
  };
  EXPECT_EQ(edgePoints(after, false), edgePoints(after, true));
  EXPECT_LT(edgePoints(after, false).size(), edgePoints(before, false).size());
}

TEST_F(Simplify, RefusalsChangeNothing) {
  Terrain(L"ground");
  ImportCube();
  ASSERT_EQ(Exec(L"ApplyGenOp", {L"MeshMerge", L"", L"ground,cube"}), CStatus::OK) << LastError();
  const struct {
    CValue object, ratio, error;
    const char* message;
    CStatus status;
  } cases[] = {
      {L"nothere", 0.5, 0.01, "no object named 'nothere'", CStatus::NotFound},
      {L"ground", 1.5, 0.01, "ratio must be a number from 0 to 1, got '1.5'", CStatus::InvalidArgument},
      {L"ground", L"half", 0.01, "ratio must be a number from 0 to 1, got 'half'", CStatus::InvalidArgument},
      {L"ground", 0.5, -1, "maxError must be a finite number >= 0", CStatus::InvalidArgument},
      {L"ground", 0.5, L"inf", "maxError must be a finite number >= 0", CStatus::InvalidArgument},
      {L"polymsh", 0.5, 0.01, "live merge operator", CStatus::InvalidArgument},
  };
  const std::size_t triangles = Triangles(*Find(L"ground")->geometry.Snapshot());
  for (const auto& c : cases) {
    EXPECT_EQ(Exec(L"SimplifyMesh", {c.object, c.ratio, c.error}), c.status) << c.message;
    EXPECT_NE(LastError().find(c.message), std::string::npos) << LastError();
  }
  EXPECT_EQ(Triangles(*Find(L"ground")->geometry.Snapshot()), triangles);
}

// ---- WriteTextFile, MakeFolder --------------------------------------------------

TEST_F(Tiles, WriteTextFileReplacesWholeFilesOrNothing) {
  const std::string path = dir_.File("tileset.json");
  ASSERT_EQ(Exec(L"WriteTextFile", {CString::FromUtf8(path), L"{\"a\": \"\u00e9\u6771\"}"}), CStatus::OK)
      << LastError();
  EXPECT_EQ(testsupport::Slurp(path), "{\"a\": \"\xc3\xa9\xe6\x9d\xb1\"}");
  ASSERT_EQ(Exec(L"WriteTextFile", {CString::FromUtf8(path), L""}), CStatus::OK);
  EXPECT_EQ(testsupport::Slurp(path), "");
  // A read-only file and a folder are refused; the old file stays and no
  // temporary file is left behind.
  dir_.Write("locked.json", "old");
  ::chmod(dir_.File("locked.json").c_str(), 0444);
  EXPECT_EQ(Exec(L"WriteTextFile", {CString::FromUtf8(dir_.File("locked.json")), L"new"}), CStatus::Fail);
  EXPECT_NE(LastError().find("locked.json': the file is read-only"), std::string::npos) << LastError();
  EXPECT_EQ(testsupport::Slurp(dir_.File("locked.json")), "old");
  fs::create_directory(dir_.File("sub"));
  EXPECT_EQ(Exec(L"WriteTextFile", {CString::FromUtf8(dir_.File("sub")), L"new"}), CStatus::Fail);
  EXPECT_NE(LastError().find("is a folder"), std::string::npos) << LastError();
  EXPECT_EQ(Exec(L"WriteTextFile", {CString::FromUtf8(dir_.File("no/t.json")), L"x"}), CStatus::Fail);
  EXPECT_NE(LastError().find("folder that does not exist"), std::string::npos) << LastError();
  EXPECT_EQ(Exec(L"WriteTextFile", {L"", L"x"}), CStatus::InvalidArgument);
  for (const auto& e : fs::directory_iterator(dir_.path()))
    EXPECT_NE(e.path().filename().string()[0], '.') << "left behind: " << e.path();
}

// Links are handled as by SaveScene: the file a link names is replaced and
// the link kept; a link to nothing is refused.
TEST_F(Tiles, WriteTextFileThroughALinkReplacesItsTarget) {
  const std::string target = dir_.Write("real.json", "old");
  fs::create_symlink(target, dir_.File("link.json"));
  ASSERT_EQ(Exec(L"WriteTextFile", {CString::FromUtf8(dir_.File("link.json")), L"new"}), CStatus::OK) << LastError();
  EXPECT_TRUE(fs::is_symlink(dir_.File("link.json")));
  EXPECT_EQ(testsupport::Slurp(target), "new");
  fs::create_symlink(dir_.File("gone.json"), dir_.File("dangling.json"));
  EXPECT_EQ(Exec(L"WriteTextFile", {CString::FromUtf8(dir_.File("dangling.json")), L"x"}), CStatus::Fail);
  EXPECT_NE(LastError().find("link to a missing file"), std::string::npos) << LastError();
  EXPECT_FALSE(fs::exists(dir_.File("gone.json")));
}

TEST_F(Tiles, MakeFolderMakesParentsAndRefusesAFileInTheWay) {
  const std::string deep = dir_.File("out/region/tiles/3");
  ASSERT_EQ(Exec(L"MakeFolder", {CString::FromUtf8(deep)}), CStatus::OK) << LastError();
  EXPECT_TRUE(fs::is_directory(deep));
  EXPECT_EQ(Exec(L"MakeFolder", {CString::FromUtf8(deep)}), CStatus::OK) << "an existing folder is fine";
  dir_.Write("out/file", "x");
  EXPECT_EQ(Exec(L"MakeFolder", {CString::FromUtf8(dir_.File("out/file/sub"))}), CStatus::Fail);
  EXPECT_NE(LastError().find("file' exists and is not a folder"), std::string::npos) << LastError();
  EXPECT_EQ(Exec(L"MakeFolder", {CString::FromUtf8(dir_.File("out/file"))}), CStatus::Fail);
  EXPECT_EQ(testsupport::Slurp(dir_.File("out/file")), "x");
  EXPECT_EQ(Exec(L"MakeFolder", {L""}), CStatus::InvalidArgument);
}

}  // namespace
