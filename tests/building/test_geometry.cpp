// The finished building as geometry: in the runtime right after the run,
// and end to end through scenehost and a saved .glb read back.
#include <tiny_gltf.h>

#include <sys/wait.h>

#include <cmath>
#include <cstdio>

#include "building_test_util.h"
#include "glb_file.h"
#include "mesh_ops.h"

namespace {

using bt::BuildingTest;

constexpr float kCell = 13.5f;
constexpr float kStorey = 14.0f;
constexpr float kRoofHeight = 1.5f;  // the bundled kit's roof units (parapet)

struct Expected {
  float sizeX, sizeY, sizeZ;
};
Expected ExpectedSize(int floors, int w, int l) {
  return {kCell * (l + 1), kStorey * floors + kRoofHeight, kCell * (w + 1)};
}

// A polygon's corners and flat normal, in world space.
struct Poly {
  std::vector<host::Vec3> corners;
  host::Vec3 normal;
};

// Faces lying on the outer boundary of the building (the bounding box's
// side planes) must face away from the centre; returns how many there are.
std::size_t CheckOuterWalls(const std::vector<Poly>& polys, const host::Bounds& b) {
  std::size_t outer = 0;
  const float eps = 1e-3f;
  for (const Poly& p : polys) {
    bool onMaxX = true, onMinX = true, onMaxZ = true, onMinZ = true;
    for (const host::Vec3& c : p.corners) {
      onMaxX &= std::fabs(c.x - b.max.x) < eps;
      onMinX &= std::fabs(c.x - b.min.x) < eps;
      onMaxZ &= std::fabs(c.z - b.max.z) < eps;
      onMinZ &= std::fabs(c.z - b.min.z) < eps;
    }
    if (!(onMaxX || onMinX || onMaxZ || onMinZ)) continue;
    ++outer;
    if (onMaxX) {
      EXPECT_GT(p.normal.x, 0.99f);
    }
    if (onMinX) {
      EXPECT_LT(p.normal.x, -0.99f);
    }
    if (onMaxZ) {
      EXPECT_GT(p.normal.z, 0.99f);
    }
    if (onMinZ) {
      EXPECT_LT(p.normal.z, -0.99f);
    }
  }
  return outer;
}

std::vector<Poly> PolysOf(const host::Mesh& m, const host::Transform& xf) {
  std::vector<Poly> out;
  for (std::size_t f = 0; f < m.FaceCount(); ++f) {
    Poly p;
    for (std::uint32_t c = m.faceStart[f]; c < m.faceStart[f + 1]; ++c)
      p.corners.push_back(xf.ApplyPoint(m.positions[m.cornerVertex[c]]));
    p.normal = xf.ApplyNormal(m.cornerNormal.at(m.faceStart[f]));
    out.push_back(p);
  }
  return out;
}

void ExpectCentredBox(const host::Bounds& b, const Expected& e) {
  const float eps = 1e-3f;
  EXPECT_NEAR(b.max.x - b.min.x, e.sizeX, eps);
  EXPECT_NEAR(b.max.y - b.min.y, e.sizeY, eps);
  EXPECT_NEAR(b.max.z - b.min.z, e.sizeZ, eps);
  EXPECT_NEAR(b.max.x + b.min.x, 0.0f, eps);
  EXPECT_NEAR(b.max.y + b.min.y, 0.0f, eps);
  EXPECT_NEAR(b.max.z + b.min.z, 0.0f, eps);
}

struct Shape {
  int floors, w, l;
  const char* style;
};

class BuildingShape : public BuildingTest, public ::testing::WithParamInterface<Shape> {};

TEST_P(BuildingShape, OneMeshOfAllUnitsCentredWithOutwardWalls) {
  const Shape s = GetParam();
  const XSI::CString style = XSI::CString::FromUtf8(s.style);
  ASSERT_TRUE(bt::RaiseTower(L"Tower", s.floors, s.w, s.l, style.GetWideString(), L"A", 1)
                  .status.Succeeded());
  auto objects = host::Runtime::Get().GetScene().Objects();
  ASSERT_EQ(objects.size(), 1u);
  EXPECT_EQ(bt::Utf8(objects[0]->name), "Tower");
  std::shared_ptr<const host::Mesh> mesh = objects[0]->geometry.Snapshot();
  ASSERT_NE(mesh, nullptr);

  EXPECT_EQ(mesh->FaceCount(),
            bt::ExpectedCounts(bt::kRepoHome, s.style, s.floors, s.w, s.l, s.w >= 2 ? 1 : 0).polygons);
  const host::Bounds b = host::ComputeBounds(*mesh, objects[0]->xf);
  ExpectCentredBox(b, ExpectedSize(s.floors, s.w, s.l));
  // Every storey contributes its outer walls on all four sides.
  EXPECT_GT(CheckOuterWalls(PolysOf(*mesh, objects[0]->xf), b), 4u * s.floors);
}

INSTANTIATE_TEST_SUITE_P(Footprints, BuildingShape,
                         ::testing::Values(Shape{1, 1, 1, "brick"}, Shape{3, 5, 4, "brick"},
                                           Shape{2, 2, 6, "glass"}, Shape{4, 3, 2, "glass"}),
                         [](const ::testing::TestParamInfo<Shape>& info) {
                           const Shape& s = info.param;
                           return std::string(s.style) + "_" + std::to_string(s.floors) + "floors_" +
                                  std::to_string(s.w) + "x" + std::to_string(s.l);
                         });

// ---- through scenehost --------------------------------------------------------

int RunScenehost(const std::string& args, std::string& output) {
  const std::string command = XSI_BINARY_DIR "/bin/scenehost " + args + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return -1;
  char buffer[4096];
  std::size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Positions, normals and triangles of one glTF mesh, node transform applied
// (translation only: the building is never turned or scaled).
std::vector<Poly> TrianglesOf(const tinygltf::Model& model, const tinygltf::Node& node) {
  auto floats = [&](int accessorIndex) {
    const tinygltf::Accessor& a = model.accessors.at(accessorIndex);
    const tinygltf::BufferView& v = model.bufferViews.at(a.bufferView);
    const unsigned char* data =
        model.buffers.at(v.buffer).data.data() + v.byteOffset + a.byteOffset;
    const std::size_t stride = v.byteStride ? v.byteStride : 12;
    std::vector<host::Vec3> out(a.count);
    for (std::size_t i = 0; i < a.count; ++i)
      std::memcpy(&out[i], data + i * stride, sizeof(host::Vec3));
    return out;
  };
  auto indices = [&](int accessorIndex) {
    const tinygltf::Accessor& a = model.accessors.at(accessorIndex);
    const tinygltf::BufferView& v = model.bufferViews.at(a.bufferView);
    const unsigned char* data =
        model.buffers.at(v.buffer).data.data() + v.byteOffset + a.byteOffset;
    std::vector<std::uint32_t> out(a.count);
    for (std::size_t i = 0; i < a.count; ++i) {
      if (a.componentType == TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT)
        std::memcpy(&out[i], data + 4 * i, 4);
      else if (a.componentType == TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT)
        out[i] = reinterpret_cast<const std::uint16_t*>(data)[i];
      else
        out[i] = data[i];
    }
    return out;
  };
  host::Vec3 t;
  if (node.translation.size() == 3)
    t = {float(node.translation[0]), float(node.translation[1]), float(node.translation[2])};
  std::vector<Poly> out;
  for (const tinygltf::Primitive& prim : model.meshes.at(node.mesh).primitives) {
    const auto pos = floats(prim.attributes.at("POSITION"));
    const auto nrm = floats(prim.attributes.at("NORMAL"));
    const auto idx = indices(prim.indices);
    for (std::size_t i = 0; i + 2 < idx.size(); i += 3) {
      Poly p;
      for (int k = 0; k < 3; ++k) {
        host::Vec3 v = pos.at(idx[i + k]);
        p.corners.push_back({v.x + t.x, v.y + t.y, v.z + t.z});
      }
      p.normal = nrm.at(idx[i]);
      out.push_back(p);
    }
  }
  return out;
}

TEST(BuildingThroughScenehost, SavedGlbHoldsOneCentredBuildingOfAllUnitTriangles) {
  bt::TempDir dir;
  const std::string glb = (dir.path() / "tower.glb").string();
  std::string output;
  ASSERT_EQ(RunScenehost("--save " + glb + " RaiseTower Tower 3 5 4 brick A 1", output), 0)
      << output;
  const tinygltf::Model model = testsupport::ReadGlb(glb);
  ASSERT_EQ(model.nodes.size(), 1u);
  EXPECT_EQ(model.nodes[0].name, "Tower");
  ASSERT_EQ(model.meshes.size(), 1u);

  const std::vector<Poly> tris = TrianglesOf(model, model.nodes[0]);
  EXPECT_EQ(tris.size(), bt::ExpectedCounts(bt::kRepoHome, "brick", 3, 5, 4, 1).triangles);
  host::Bounds b;
  b.min = {1e30f, 1e30f, 1e30f};
  b.max = {-1e30f, -1e30f, -1e30f};
  for (const Poly& p : tris)
    for (const host::Vec3& c : p.corners) {
      b.min = {std::min(b.min.x, c.x), std::min(b.min.y, c.y), std::min(b.min.z, c.z)};
      b.max = {std::max(b.max.x, c.x), std::max(b.max.y, c.y), std::max(b.max.z, c.z)};
    }
  ExpectCentredBox(b, ExpectedSize(3, 5, 4));
  EXPECT_GT(CheckOuterWalls(tris, b), 12u);
  EXPECT_GE(model.materials.size(), 5u);  // wall, trim, plaster, glass, frame, door, roof
}

TEST(BuildingThroughScenehost, RefusedRunExitsWithFailureAndNamesTheProblem) {
  std::string output;
  EXPECT_EQ(RunScenehost("RaiseTower Tower 0 5 4 brick A 1", output), 1);
  EXPECT_NE(output.find("'floors'"), std::string::npos) << output;
}

}  // namespace
