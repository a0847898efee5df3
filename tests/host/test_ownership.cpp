// Geometry ownership: copies share a mesh until one side changes, a merge
// appends to its bigger input's buffer, and no command ever changes what
// another object holds.
#include <sstream>

#include "geometry.h"
#include "host_test_util.h"

using namespace testutil;
using XSI::CStatus;
using XSI::CValue;

namespace {

// Everything an object's saved geometry is made of, as text: positions,
// corners, normals, UVs, materials and the transform.
std::string Dump(const host::SceneObject& obj) {
  std::ostringstream out;
  out.precision(9);
  auto mesh = obj.geometry.Snapshot();
  for (double v : {obj.xf.pos[0], obj.xf.pos[1], obj.xf.pos[2], obj.xf.rot[0], obj.xf.rot[1],
                   obj.xf.rot[2], obj.xf.scl[0], obj.xf.scl[1], obj.xf.scl[2]})
    out << v << ' ';
  if (!mesh) return out.str() + "no mesh";
  for (const host::Vec3& p : mesh->positions) out << "v " << p.x << ' ' << p.y << ' ' << p.z << '\n';
  for (std::uint32_t s : mesh->faceStart) out << "s " << s << '\n';
  for (std::uint32_t c : mesh->cornerVertex) out << "c " << c << '\n';
  for (const host::Vec3& n : mesh->cornerNormal) out << "n " << n.x << ' ' << n.y << ' ' << n.z << '\n';
  for (const host::Vec2& t : mesh->cornerUV) out << "t " << t.x << ' ' << t.y << '\n';
  for (std::uint32_t m : mesh->faceMaterial) out << "m " << m << '\n';
  for (const host::Material& m : mesh->materials) out << "mat " << m.name << '\n';
  return out.str();
}

std::map<std::string, std::string> DumpAll() {
  std::map<std::string, std::string> out;
  for (host::SceneObject* obj : host::Runtime::Get().GetScene().Objects())
    out[obj->name.GetUtf8String()] = Dump(*obj);
  return out;
}

class Ownership : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    cube_ = dir_.Write("cube.obj", kCubeObj);
    ASSERT_EQ(Exec(L"ObjImport", {XSI::CString::FromUtf8(cube_)}), CStatus::OK);
  }
  std::string cube_;
  // cube + cube1 (one unit to the right) merged into "polymsh": the merge
  // takes over cube's buffer, which cube still reads its part of.
  void MergeTwoCubes() {
    ASSERT_EQ(Exec(L"ObjImport", {XSI::CString::FromUtf8(cube_)}), CStatus::OK);
    ASSERT_EQ(Exec(L"SetValue", {L"cube1.posx", 1.0}), CStatus::OK);
    ASSERT_EQ(Exec(L"ApplyGenOp", {L"MeshMerge", L"MeshSurface", L"cube,cube1", 3, 0, 0}), CStatus::OK);
  }
};

TEST_F(Ownership, WeldingAMergeLeavesItsDuplicateUnwelded) {
  MergeTwoCubes();
  ASSERT_EQ(Exec(L"Duplicate", {L"polymsh"}), CStatus::OK);
  ASSERT_EQ(Exec(L"SetValue", {L"polymsh.polymsh.mergemesh.tolerance", 0.001}), CStatus::OK);
  EXPECT_EQ(Find(L"polymsh")->geometry.VertexCount(), 12u);
  EXPECT_EQ(Find(L"polymsh1")->geometry.VertexCount(), 16u);

  // Saved, the copy still has all 16 vertices.
  const std::string path = dir_.File("scene.obj");
  ASSERT_EQ(Exec(L"SaveScene", {XSI::CString::FromUtf8(path)}), CStatus::OK);
  std::ifstream in(path);
  std::string line, object;
  std::map<std::string, int> vertices;
  while (std::getline(in, line)) {
    if (line.rfind("o ", 0) == 0) object = line.substr(2);
    if (line.rfind("v ", 0) == 0) ++vertices[object];
  }
  EXPECT_EQ(vertices["polymsh"], 12);
  EXPECT_EQ(vertices["polymsh1"], 16);
}

TEST_F(Ownership, MergeInputsKeepReadingTheirOwnGeometry) {
  const std::string before = Dump(*Find(L"cube"));
  MergeTwoCubes();
  ASSERT_TRUE(Find(L"cube")->geometry.IsPrefixView());
  EXPECT_EQ(Dump(*Find(L"cube")), before);
  // Merging a merge input again, before its inputs are deleted, copies it.
  ASSERT_EQ(Exec(L"Duplicate", {L"cube"}), CStatus::OK);
  ASSERT_EQ(Exec(L"ApplyGenOp", {L"MeshMerge", L"MeshSurface", L"cube,cube2", 3, 0, 0}), CStatus::OK);
  EXPECT_EQ(Dump(*Find(L"cube")), before);
  EXPECT_EQ(Find(L"polymsh1")->geometry.FaceCount(), 12u);
}

// Each step runs one command that changes geometry or a transform on one
// object; every other object's geometry must stay byte-identical.
TEST_F(Ownership, NoCommandChangesAnotherObjectsGeometry) {
  MergeTwoCubes();
  ASSERT_EQ(Exec(L"Duplicate", {L"polymsh"}), CStatus::OK);  // polymsh1 shares the merge's buffer
  ASSERT_EQ(Exec(L"Duplicate", {L"cube"}), CStatus::OK);     // cube2 shares cube's prefix view

  struct Step {
    const wchar_t* command;
    std::vector<CValue> args;
    const char* changes;  // the one object this step may change
  };
  const std::vector<Step> steps = {
      {L"SetValue", {L"polymsh.polymsh.mergemesh.tolerance", 0.001}, "polymsh"},
      {L"SetValue", {L"polymsh.polymsh.mergemesh.tolerance", 0.0}, "polymsh"},
      {L"MoveCtr2Vertices", {L"polymsh1"}, "polymsh1"},
      {L"MoveCtr2Vertices", {L"cube2"}, "cube2"},
      {L"MoveCtr2Vertices", {L"polymsh"}, "polymsh"},
      {L"SetValue", {L"polymsh.polymsh.mergemesh.tolerance", 0.001}, "polymsh"},
      {L"Translate", {L"cube", 3.0, 0.0, 0.0, 1}, "cube"},
      {L"SetValue", {L"cube1.roty", 90.0}, "cube1"},
      {L"MoveCtr2Vertices", {L"cube"}, "cube"},
  };
  for (const Step& step : steps) {
    auto before = DumpAll();
    XSI::CValueArray args;
    for (const CValue& v : step.args) args.Add(v);
    CValue out;
    ASSERT_EQ(XSI::Application().ExecuteCommand(step.command, args, out), CStatus::OK)
        << XSI::CString(step.command).GetUtf8String() << ": " << LastError();
    auto after = DumpAll();
    ASSERT_EQ(before.size(), after.size());
    for (const auto& [name, dump] : before) {
      if (name == step.changes) continue;
      EXPECT_EQ(after[name], dump) << name << " changed by " << XSI::CString(step.command).GetUtf8String()
                                   << " on " << step.changes;
    }
  }
}

// The weld index lives in the merge operator, not in the mesh: freezing
// keeps it, the next merge of the result takes it over, and a merge that
// copies its input instead starts without one.
TEST_F(Ownership, AMergeTakesOverTheWeldIndexOfTheBufferItTakesOver) {
  MergeTwoCubes();
  ASSERT_EQ(Exec(L"SetValue", {L"polymsh.polymsh.mergemesh.tolerance", 0.001}), CStatus::OK);
  ASSERT_EQ(Exec(L"DeleteGeneratorInputs", {L"polymsh.polymsh.mergemesh"}), CStatus::OK);
  host::SceneObject* first = Find(L"polymsh");
  ASSERT_TRUE(first->mergeOp && !first->LiveMerge());
  const host::WeldIndex* index = first->mergeOp->weld.get();
  ASSERT_NE(index, nullptr);
  EXPECT_EQ(index->Count(), 12u);
  // A frozen merge has no tolerance to set.
  EXPECT_EQ(Exec(L"SetValue", {L"polymsh.polymsh.mergemesh.tolerance", 0.5}), CStatus::NotFound);

  ASSERT_EQ(Exec(L"ObjImport", {XSI::CString::FromUtf8(cube_)}), CStatus::OK);
  ASSERT_EQ(Exec(L"SetValue", {L"cube.posx", 2.0}), CStatus::OK);
  ASSERT_EQ(Exec(L"ApplyGenOp", {L"MeshMerge", L"MeshSurface", L"polymsh,cube", 3, 0, 0}), CStatus::OK);
  host::SceneObject* second = Find(L"polymsh1");
  ASSERT_TRUE(second && second->LiveMerge());
  EXPECT_EQ(second->mergeOp->weld.get(), index);
  EXPECT_EQ(Find(L"polymsh")->mergeOp->weld, nullptr);
  ASSERT_EQ(Exec(L"SetValue", {L"polymsh1.polymsh1.mergemesh.tolerance", 0.001}), CStatus::OK);
  EXPECT_EQ(second->geometry.VertexCount(), 16u);
  EXPECT_EQ(second->mergeOp->weld.get(), index);
  EXPECT_EQ(Find(L"polymsh")->geometry.VertexCount(), 12u);

  // Moving the vertices re-hashes the kept index: the next weld still meets.
  ASSERT_EQ(Exec(L"DeleteGeneratorInputs", {L"polymsh1.polymsh1.mergemesh"}), CStatus::OK);
  // Its vertices now span x -1.5..1.5, y and z -0.5..0.5; back at the origin
  // the object's transform is the identity again.
  ASSERT_EQ(Exec(L"MoveCtr2Vertices", {L"polymsh1"}), CStatus::OK);
  for (const wchar_t* p : {L"polymsh1.posx", L"polymsh1.posy", L"polymsh1.posz"})
    ASSERT_EQ(Exec(L"SetValue", {p, 0.0}), CStatus::OK);
  const host::WeldIndex* moved = second->mergeOp->weld.get();
  ASSERT_NE(moved, nullptr);
  ASSERT_EQ(Exec(L"ObjImport", {XSI::CString::FromUtf8(cube_)}), CStatus::OK);
  ASSERT_EQ(Exec(L"SetValue", {L"cube.posx", 1.5}), CStatus::OK);
  ASSERT_EQ(Exec(L"SetValue", {L"cube.posy", -0.5}), CStatus::OK);
  ASSERT_EQ(Exec(L"SetValue", {L"cube.posz", -0.5}), CStatus::OK);
  ASSERT_EQ(Exec(L"ApplyGenOp", {L"MeshMerge", L"MeshSurface", L"polymsh1,cube", 3, 0, 0}), CStatus::OK);
  EXPECT_EQ(Find(L"polymsh")->mergeOp->weld.get(), moved);
  ASSERT_EQ(Exec(L"SetValue", {L"polymsh.polymsh.mergemesh.tolerance", 0.001}), CStatus::OK);
  EXPECT_EQ(Find(L"polymsh")->geometry.VertexCount(), 20u);

  // A duplicate shares the buffer, so merging it copies and builds anew.
  ASSERT_EQ(Exec(L"Duplicate", {L"polymsh"}), CStatus::OK);
  ASSERT_EQ(Exec(L"DeleteGeneratorInputs", {L"polymsh.polymsh.mergemesh"}), CStatus::OK);
  ASSERT_EQ(Exec(L"ObjImport", {XSI::CString::FromUtf8(cube_)}), CStatus::OK);
  ASSERT_EQ(Exec(L"ApplyGenOp", {L"MeshMerge", L"MeshSurface", L"polymsh,cube", 3, 0, 0}), CStatus::OK);
  EXPECT_NE(Find(L"polymsh")->mergeOp->weld, nullptr);
  EXPECT_FALSE(Find(L"polymsh")->geometry.IsPrefixView());
}

TEST_F(Ownership, ASnapshotNeverChangesUnderItsHolder) {
  host::Geometry g(*Find(L"cube")->geometry.Snapshot());
  std::shared_ptr<const host::Mesh> held = g.Snapshot();
  const float x = held->positions[0].x;
  g.Edit().positions[0].x = 42.0f;
  EXPECT_EQ(held->positions[0].x, x);
  EXPECT_EQ(g.Snapshot()->positions[0].x, 42.0f);

  // A merge result's in-place tail edit copies first while a snapshot holds it.
  host::Geometry input(*held);
  host::Geometry merged = input.HandOver();
  std::shared_ptr<const host::Mesh> whole = merged.Snapshot();
  merged.EditTail().AddPosition({});
  EXPECT_EQ(whole->VertexCount(), 8u);
  EXPECT_EQ(input.VertexCount(), 8u);
  EXPECT_EQ(merged.VertexCount(), 9u);
}

}  // namespace
