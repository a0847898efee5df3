// Transforms, bounds, baking and the incremental merge with its weld.
#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <limits>
#include <stdexcept>

#include "geometry.h"
#include "mesh.h"
#include "mesh_ops.h"

namespace host {
namespace {

constexpr float kEps = 1e-5f;

void ExpectNear(Vec3 got, Vec3 want, float eps = kEps) {
  EXPECT_NEAR(got.x, want.x, eps);
  EXPECT_NEAR(got.y, want.y, eps);
  EXPECT_NEAR(got.z, want.z, eps);
}

Material Named(const char* name) {
  Material m;
  m.name = name;
  return m;
}

void AddFace(Mesh& m, std::initializer_list<std::uint32_t> corners, std::uint32_t material = 0) {
  for (std::uint32_t v : corners) m.cornerVertex.push_back(v);
  m.faceStart.push_back(static_cast<std::uint32_t>(m.cornerVertex.size()));
  m.faceMaterial.push_back(material);
}

// Unit square in the XY plane at `x`, facing +Z.
Mesh Quad(float x = 0, const char* material = "brick") {
  Mesh m;
  m.positions = {{x, 0, 0}, {x + 1, 0, 0}, {x + 1, 1, 0}, {x, 1, 0}};
  AddFace(m, {0, 1, 2, 3});
  m.materials = {Named(material)};
  return m;
}

Mesh Triangle(Vec3 a, Vec3 b, Vec3 c) {
  Mesh m;
  m.positions = {a, b, c};
  AddFace(m, {0, 1, 2});
  m.materials = {Named("brick")};
  return m;
}

// Unit cube [0,1]^3, six outward quads over eight vertices.
Mesh Cube() {
  Mesh m;
  for (int i = 0; i < 8; ++i) {
    m.positions.push_back({float(i & 1), float((i >> 1) & 1), float((i >> 2) & 1)});
  }
  AddFace(m, {0, 2, 3, 1});  // -z
  AddFace(m, {4, 5, 7, 6});  // +z
  AddFace(m, {0, 1, 5, 4});  // -y
  AddFace(m, {2, 6, 7, 3});  // +y
  AddFace(m, {0, 4, 6, 2});  // -x
  AddFace(m, {1, 3, 7, 5});  // +x
  m.materials = {Named("brick")};
  return m;
}

Transform At(double x, double y = 0, double z = 0) {
  Transform t;
  t.pos[0] = x;
  t.pos[1] = y;
  t.pos[2] = z;
  return t;
}

// Merges `other` into `merged` the way a "MeshMerge" does, welding when
// tolerance > 0 with the weld index `weld` kept by the caller (a fresh one
// when null).
MergeRecord Merge(Mesh& merged, const Mesh& other, const Transform& xf, double tolerance,
                  WeldCache* weld = nullptr) {
  WeldCache fresh;
  MergeRecord record;
  MeshTail tail(merged);
  const MeshPrefix base = PrefixOf(merged);
  AppendMesh(tail, base, other, xf, record);
  if (tolerance > 0) WeldAppended(tail, base, record, weld ? *weld : fresh, tolerance);
  return record;
}

void ExpectValid(const Mesh& m) {
  ASSERT_EQ(m.faceStart.front(), 0u);
  ASSERT_EQ(m.faceStart.back(), m.CornerCount());
  EXPECT_EQ(m.faceMaterial.size(), m.FaceCount());
  for (std::uint32_t v : m.cornerVertex) EXPECT_LT(v, m.VertexCount());
  for (std::uint32_t mat : m.faceMaterial) EXPECT_LT(mat, m.materials.size());
  EXPECT_TRUE(m.cornerNormal.empty() || m.cornerNormal.size() == m.CornerCount());
  EXPECT_TRUE(m.cornerUV.empty() || m.cornerUV.size() == m.CornerCount());
}

// ---- transforms ------------------------------------------------------------

TEST(Transform, RotYMinus90TurnsPlusXIntoPlusZ) {
  Transform t;
  t.rot[1] = -90;
  ExpectNear(t.ApplyPoint({1, 0, 0}), {0, 0, 1});
  ExpectNear(t.ApplyNormal({1, 0, 0}), {0, 0, 1});
  // Quarter turns are exact, so rotated units meet exactly.
  EXPECT_EQ(t.ApplyPoint({13.5f, 0, 0}).x, 0.0f);
  EXPECT_EQ(t.ApplyPoint({13.5f, 0, 0}).z, 13.5f);
}

TEST(Transform, RotatesXThenYThenZ) {
  Transform t;
  t.rot[0] = 90;  // +Y -> +Z
  t.rot[1] = 90;  // +Z -> +X
  ExpectNear(t.ApplyPoint({0, 1, 0}), {1, 0, 0});
  Transform z;
  z.rot[2] = 90;
  ExpectNear(z.ApplyPoint({1, 0, 0}), {0, 1, 0});
}

TEST(Transform, ScalesThenRotatesThenTranslates) {
  Transform t = At(1, 2, 3);
  t.rot[1] = -90;
  t.scl[0] = t.scl[1] = t.scl[2] = 2;
  ExpectNear(t.ApplyPoint({1, 0, 0}), {1, 2, 5});
}

TEST(Transform, NormalsUseInverseScaleAndStayUnit) {
  Transform t;
  t.scl[0] = 2;
  const float s = 1.0f / std::sqrt(2.0f);
  const Vec3 n = t.ApplyNormal({s, s, 0});
  const float len = std::sqrt(0.25f + 1.0f);
  ExpectNear(n, {0.5f / len, 1.0f / len, 0});
  Transform mirror;
  mirror.scl[0] = -1;
  ExpectNear(mirror.ApplyNormal({1, 0, 0}), {-1, 0, 0});
  Transform flat;
  flat.scl[2] = 0;  // squashed flat: normals still defined
  ExpectNear(flat.ApplyNormal({0, 0, 1}), {0, 0, 1});
}

TEST(Transform, IdentityOnlyWhenNothingIsSet) {
  EXPECT_TRUE(Transform{}.IsIdentity());
  EXPECT_FALSE(At(0, 0, 0.5).IsIdentity());
  Transform r;
  r.rot[2] = 1;
  EXPECT_FALSE(r.IsIdentity());
  Transform s;
  s.scl[1] = 2;
  EXPECT_FALSE(s.IsIdentity());
}

// ---- bounds, bake, translate, prefix ----------------------------------------

TEST(Bounds, OfMeshAndOfTransformedMesh) {
  const Mesh cube = Cube();
  const Bounds b = ComputeBounds(cube);
  ASSERT_FALSE(b.empty);
  ExpectNear(b.min, {0, 0, 0});
  ExpectNear(b.max, {1, 1, 1});
  Transform t = At(10, 0, 0);
  t.rot[1] = -90;  // x -> z, z -> -x
  const Bounds w = ComputeBounds(cube, t);
  ExpectNear(w.min, {9, 0, 0});
  ExpectNear(w.max, {10, 1, 1});
  EXPECT_TRUE(ComputeBounds(Mesh{}).empty);
}

TEST(BakeTransform, MovesPositionsAndNormalsAndKeepsFacesOutwardWhenMirrored) {
  Mesh quad = Quad();
  quad.cornerNormal.assign(4, Vec3{0, 0, 1});
  Transform t = At(0, 0, 5);
  t.scl[2] = -1;
  const Mesh baked = BakeTransform(quad, t);
  ExpectValid(baked);
  ExpectNear(baked.positions[2], {1, 1, 5});
  ExpectNear(baked.cornerNormal[0], {0, 0, -1});
  // Mirrored: the winding is reversed so the polygon faces -Z like its normal.
  EXPECT_EQ(baked.cornerVertex, (std::vector<std::uint32_t>{3, 2, 1, 0}));
  const Mesh same = BakeTransform(quad, Transform{});
  EXPECT_EQ(same.cornerVertex, quad.cornerVertex);
}

TEST(TranslateMesh, MovesEveryPositionAndWeldingStillFindsThem) {
  Mesh merged = Cube();
  WeldCache weld;
  Merge(merged, Cube(), At(1), 0.001, &weld);
  ASSERT_EQ(merged.VertexCount(), 12u);
  TranslateMesh(merged, {5, 0, 0}, &weld);
  ExpectNear(merged.positions[0], {5, 0, 0});
  Merge(merged, Cube(), At(7), 0.001, &weld);  // touches the moved +x face
  EXPECT_EQ(merged.VertexCount(), 16u);
}

// The base lacks the normals and UVs the appended part has, so the merge
// fills them in for the base's corners: that must not reach the input that
// still reads its part of the buffer.
TEST(CopyPrefix, GivesBackTheBaseAsItWasBeforeTheMerge) {
  const Mesh base = Quad(0, "brick");
  Geometry input(base);
  Geometry result = input.HandOver();
  Mesh other = Quad(1, "glass");
  other.cornerNormal.assign(4, Vec3{0, 0, 1});
  other.cornerUV.assign(4, Vec2{0.5f, 0.5f});
  {
    MeshTail tail = result.EditTail();
    const MeshPrefix prefix = PrefixOf(tail.Read());
    MergeRecord record;
    WeldCache weld;
    AppendMesh(tail, prefix, other, Transform{}, record);
    WeldAppended(tail, prefix, record, weld, 0.001);
  }
  ASSERT_TRUE(input.IsPrefixView());
  EXPECT_EQ(result.Snapshot()->cornerNormal.size(), 8u);
  EXPECT_EQ(result.Snapshot()->cornerUV.size(), 8u);
  const Mesh back = *input.Snapshot();
  ExpectValid(back);
  EXPECT_EQ(back.positions.size(), base.positions.size());
  EXPECT_EQ(back.cornerVertex, base.cornerVertex);
  EXPECT_EQ(back.faceStart, base.faceStart);
  EXPECT_TRUE(back.cornerNormal.empty());  // filled in for the merge only
  EXPECT_TRUE(back.cornerUV.empty());
  ASSERT_EQ(back.materials.size(), 1u);
  EXPECT_EQ(back.materials[0].name, "brick");
}

// ---- merge -----------------------------------------------------------------

TEST(Merge, FacesAndMaterialsAddUpAndMatchByName) {
  Mesh merged = Quad(0, "brick");
  Mesh other = Quad(5, "glass");
  AddFace(other, {0, 1, 2});
  other.materials.push_back(Named("brick"));
  other.faceMaterial[1] = 1;
  Merge(merged, other, Transform{}, 0.001);
  ExpectValid(merged);
  EXPECT_EQ(merged.FaceCount(), 3u);
  ASSERT_EQ(merged.materials.size(), 2u);
  EXPECT_EQ(merged.materials[1].name, "glass");
  EXPECT_EQ(merged.faceMaterial, (std::vector<std::uint32_t>{0, 1, 0}));
}

TEST(Merge, AppendedPartIsPutInWorldSpace) {
  Mesh merged = Quad();
  Mesh other = Quad();
  other.cornerNormal.assign(4, Vec3{1, 0, 0});
  Transform t = At(10, 0, 0);
  t.rot[1] = -90;
  Merge(merged, other, t, 0.001);
  ExpectNear(merged.positions[5], {10, 0, 1});  // local (1,0,0)
  ExpectNear(merged.cornerNormal[4], {0, 0, 1});
  ExpectNear(merged.cornerNormal[0], {0, 0, 1});  // base got its flat normal
}

TEST(Merge, MirroredPartKeepsFacingOut) {
  Mesh merged = Quad();
  Transform t = At(3);
  t.scl[0] = -1;
  Merge(merged, Quad(), t, 0);
  EXPECT_EQ(std::vector<std::uint32_t>(merged.cornerVertex.begin() + 4, merged.cornerVertex.end()),
            (std::vector<std::uint32_t>{7, 6, 5, 4}));
}

TEST(Weld, JustUnderToleranceWeldsJustOverDoesNot) {
  const Mesh base = Triangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0});
  Mesh under = base;
  Merge(under, Triangle({0.0009f, 0, 0}, {0, 0, 5}, {0, 5, 5}), Transform{}, 0.001);
  EXPECT_EQ(under.VertexCount(), 5u);
  EXPECT_EQ(under.cornerVertex[3], 0u);
  Mesh over = base;
  Merge(over, Triangle({0.0011f, 0, 0}, {0, 0, 5}, {0, 5, 5}), Transform{}, 0.001);
  EXPECT_EQ(over.VertexCount(), 6u);
  EXPECT_EQ(over.cornerVertex[3], 3u);
  ExpectValid(over);
}

TEST(Weld, TakesTheLowestIndexNotTheNearest) {
  // Base vertices are never merged with each other, even when close.
  Mesh merged = Triangle({0.0008f, 0, 0}, {0, 0, 0}, {0, 1, 0});
  Merge(merged, Triangle({0.0001f, 0, 0}, {0, 0, 5}, {0, 5, 5}), Transform{}, 0.001);
  EXPECT_EQ(merged.VertexCount(), 5u);
  EXPECT_EQ(merged.cornerVertex[3], 0u);
  EXPECT_EQ(merged.cornerVertex[0], 0u);
  EXPECT_EQ(merged.cornerVertex[1], 1u);
}

TEST(Weld, AppendedPositionsWeldToEarlierAppendedOnes) {
  Mesh merged = Triangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0});
  Merge(merged, Triangle({9, 9, 9}, {9.0005f, 9, 9}, {0, 5, 5}), Transform{}, 0.001);
  EXPECT_EQ(merged.VertexCount(), 5u);
  EXPECT_EQ(merged.cornerVertex[3], merged.cornerVertex[4]);
}

TEST(Weld, UVSeamSurvivesWhilePositionsWeld) {
  Mesh merged = Quad(0);
  merged.cornerUV = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
  Mesh other = Quad(1);  // shares the x=1 edge
  other.cornerUV = {{0.25f, 0}, {0.5f, 0}, {0.5f, 1}, {0.25f, 1}};
  Merge(merged, other, Transform{}, 0.001);
  EXPECT_EQ(merged.VertexCount(), 6u);
  EXPECT_EQ(merged.cornerVertex[4], 1u);  // welded onto the base's (1,0,0)
  EXPECT_EQ(merged.cornerVertex[7], 2u);
  ASSERT_EQ(merged.cornerUV.size(), 8u);
  EXPECT_FLOAT_EQ(merged.cornerUV[1].x, 1.0f);   // base side of the seam
  EXPECT_FLOAT_EQ(merged.cornerUV[4].x, 0.25f);  // appended side keeps its UV
}

TEST(Weld, MissingUVsOnOneSideAreFilledWithZero) {
  Mesh merged = Quad(0);
  Mesh other = Quad(1);
  other.cornerUV.assign(4, Vec2{0.5f, 0.5f});
  Merge(merged, other, Transform{}, 0.001);
  ASSERT_EQ(merged.cornerUV.size(), 8u);
  EXPECT_FLOAT_EQ(merged.cornerUV[0].x, 0.0f);
  EXPECT_FLOAT_EQ(merged.cornerUV[5].y, 0.5f);
}

TEST(Weld, SettingAnotherToleranceRedoesTheWeldFromTheRecord) {
  Mesh merged = Triangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0});
  MergeRecord record;
  WeldCache weld;
  MeshTail tail(merged);
  const MeshPrefix base = PrefixOf(merged);
  AppendMesh(tail, base, Triangle({0.005f, 0, 0}, {1.0005f, 0, 0}, {0, 5, 5}), Transform{}, record);
  WeldAppended(tail, base, record, weld, 0.001);
  EXPECT_EQ(merged.VertexCount(), 5u);
  WeldAppended(tail, base, record, weld, 0.01);
  EXPECT_EQ(merged.VertexCount(), 4u);
  EXPECT_EQ(merged.cornerVertex[3], 0u);
  WeldAppended(tail, base, record, weld, 0.001);
  EXPECT_EQ(merged.VertexCount(), 5u);
  EXPECT_EQ(merged.cornerVertex[3], 3u);
  WeldAppended(tail, base, record, weld, 0);
  EXPECT_EQ(merged.VertexCount(), 6u);
  EXPECT_DOUBLE_EQ(record.weldedWith, -1.0);
  ExpectNear(merged.positions[3], {0.005f, 0, 0});
  ExpectValid(merged);
}

TEST(Weld, CubesMergedOneByOneShareTheirTouchingFaces) {
  constexpr int kCubes = 50;
  Mesh row = Cube();
  for (int i = 1; i < kCubes; ++i) Merge(row, Cube(), At(i), 0.001);
  ExpectValid(row);
  EXPECT_EQ(row.FaceCount(), 6u * kCubes);
  EXPECT_EQ(row.VertexCount(), 8u + 4u * (kCubes - 1));
  const Bounds b = ComputeBounds(row);
  ExpectNear(b.max, {float(kCubes), 1, 1});

  Mesh grid = Cube();  // 13.5 apart: nothing touches
  for (int i = 1; i < 20; ++i) Merge(grid, Cube(), At(13.5 * (i % 5), 0, 13.5 * (i / 5)), 0.001);
  EXPECT_EQ(grid.VertexCount(), 8u * 20);
}

TEST(Weld, IndexIsKeptAcrossMergesAndCopiesDoNotShareChanges) {
  Mesh merged = Cube();
  WeldCache weld;
  Merge(merged, Cube(), At(1), 0.001, &weld);
  const WeldIndex* index = weld.get();
  ASSERT_NE(index, nullptr);
  Merge(merged, Cube(), At(2), 0.001, &weld);
  EXPECT_EQ(weld.get(), index);
  EXPECT_EQ(weld->Count(), merged.VertexCount());

  Mesh copy = merged;  // with a copy of the index, changed separately
  WeldCache copyWeld = std::make_unique<WeldIndex>(*weld);
  Merge(merged, Cube(), At(3), 0.001, &weld);
  Merge(copy, Cube(), At(-1), 0.001, &copyWeld);
  EXPECT_EQ(merged.VertexCount(), 20u);
  EXPECT_EQ(copy.VertexCount(), 20u);
  // The copy must not weld onto positions only `merged` has (x = 4).
  Merge(copy, Cube(), At(4), 0.001, &copyWeld);
  EXPECT_EQ(copy.VertexCount(), 28u);
}

TEST(Weld, IndexOutOfStepWithMovedPositionsIsRebuiltNotTrusted) {
  Mesh merged = Cube();
  WeldCache weld;
  Merge(merged, Cube(), At(1), 0.001, &weld);
  for (Vec3& p : merged.positions) p.x += 10;  // moved behind the index's back
  Merge(merged, Cube(), At(12), 0.001, &weld);  // touches the moved x=12 face
  EXPECT_EQ(merged.VertexCount(), 16u);
}

TEST(Weld, NonFinitePositionsNeverWeld) {
  const float nan = std::nanf("");
  Mesh merged = Triangle({nan, 0, 0}, {1, 0, 0}, {0, 1, 0});
  Merge(merged, Triangle({nan, 0, 0}, {1, 0, 0}, {0, 1e30f, 0}), Transform{}, 0.001);
  EXPECT_EQ(merged.VertexCount(), 5u);
  EXPECT_EQ(merged.cornerVertex[4], 1u);
  ExpectValid(merged);
}

TEST(Weld, IndexBuiltForAnotherToleranceIsRebuilt) {
  Mesh merged = Cube();
  WeldCache weld;
  Merge(merged, Cube(), At(1), 0.5, &weld);
  Merge(merged, Cube(), At(2.2), 0.001, &weld);  // 0.2 gap: only 0.5 would weld
  EXPECT_EQ(merged.VertexCount(), 20u);
  Merge(merged, Cube(), At(3.4), 0.5, &weld);
  EXPECT_EQ(merged.VertexCount(), 24u);
}

// ---- limits and the tail handle ----------------------------------------------

TEST(MergeLimits, CountsThatIndexWith32BitsPassAndBiggerOnesAreRefused) {
  const std::size_t max = kMaxMeshElements;
  EXPECT_NO_THROW(CheckMergedSize(MeshPrefix{max - 8, max - 24, 0, 0}, 8, 24));
  EXPECT_NO_THROW(CheckMergedSize(MeshPrefix{}, max, max));
  try {
    CheckMergedSize(MeshPrefix{max - 8, 0, 0, 0}, 9, 0);
    ADD_FAILURE() << "one vertex too many was accepted";
  } catch (const std::length_error& e) {
    EXPECT_NE(std::string(e.what()).find("vertices"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("4294967295"), std::string::npos) << e.what();
  }
  EXPECT_THROW(CheckMergedSize(MeshPrefix{0, max - 3, 0, 0}, 0, 4), std::length_error);
  // Sums that would wrap around in size_t are refused too, not wrapped.
  const std::size_t huge = std::numeric_limits<std::size_t>::max();
  EXPECT_THROW(CheckMergedSize(MeshPrefix{2, 0, 0, 0}, huge, 0), std::length_error);
  EXPECT_THROW(CheckMergedSize(MeshPrefix{huge, 0, 0, 0}, 0, 0), std::length_error);
}

TEST(MergeLimits, AppendRefusesABaseThatIsNotWhereTheMeshEndsAndChangesNothing) {
  Mesh merged = Quad();
  MergeRecord record;
  MeshTail tail(merged);
  MeshPrefix base = PrefixOf(merged);
  base.vertices += 1;
  EXPECT_THROW(AppendMesh(tail, base, Quad(2), Transform{}, record), std::invalid_argument);
  EXPECT_EQ(merged.VertexCount(), 4u);
  EXPECT_EQ(merged.FaceCount(), 1u);
}

TEST(MeshTail, RefusesToChangeTheFrozenPartUntilTheWholeIsClaimed) {
  Mesh mesh = Quad();
  Mesh claimed;
  int claims = 0;
  MeshTail tail(mesh, PrefixOf(mesh), [&]() -> Mesh& {
    ++claims;
    claimed = mesh;
    return claimed;
  });
  EXPECT_THROW(tail.CutPositions(3), std::logic_error);
  EXPECT_THROW(tail.SetCornerVertex(0, 1), std::logic_error);
  EXPECT_THROW(tail.AddNormals(1, Vec3{0, 0, 1}), std::logic_error);  // the frozen corners have none
  EXPECT_THROW(tail.AddUV(Vec2{}), std::logic_error);
  // Past the frozen part everything goes.
  tail.AddPosition({9, 9, 9});
  tail.AddCorner(4);
  tail.SetCornerVertex(4, 0);
  tail.CutPositions(4);
  EXPECT_EQ(mesh.cornerVertex[4], 0u);
  EXPECT_EQ(mesh.VertexCount(), 4u);
  EXPECT_EQ(claims, 0);

  Mesh& whole = tail.Whole();
  EXPECT_EQ(&whole, &claimed);
  EXPECT_EQ(claims, 1);
  tail.SetCornerVertex(0, 3);
  EXPECT_EQ(claimed.cornerVertex[0], 3u);
  EXPECT_EQ(mesh.cornerVertex[0], 0u);  // the frozen original is untouched
  tail.Whole();
  EXPECT_EQ(claims, 1);  // claimed once
}

}  // namespace
}  // namespace host
