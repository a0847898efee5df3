// The host commands, run through Application::ExecuteCommand as plug-ins do.
#include <cmath>

#include "host_test_util.h"

using namespace testutil;
using XSI::CRef;
using XSI::CStatus;
using XSI::CValue;

namespace {

host::Vec3 WorldMin(host::SceneObject* obj) {
  host::Bounds b = host::ComputeBounds(*obj->geometry.Snapshot(), obj->xf);
  return b.min;
}
host::Vec3 WorldMax(host::SceneObject* obj) {
  host::Bounds b = host::ComputeBounds(*obj->geometry.Snapshot(), obj->xf);
  return b.max;
}

class Commands : public HostTest {
 protected:
  std::string cube_;
  void SetUp() override {
    HostTest::SetUp();
    cube_ = dir_.Write("cube.obj", kCubeObj);
  }
  void Import() { ASSERT_EQ(Exec(L"ObjImport", {XSI::CString::FromUtf8(cube_), 1, 0, false, false, false, false}), CStatus::OK); }
  void SetPos(const wchar_t* name, double x, double y, double z) {
    XSI::X3DObject obj(CRef(XSI::siRefKind::Object, Find(name)->id));
    auto g = obj.GetKinematics().GetGlobal();
    g.PutParameterValue(L"posx", x);
    g.PutParameterValue(L"posy", y);
    g.PutParameterValue(L"posz", z);
  }
};

TEST_F(Commands, ObjImportNamesAndSelectsTheObject) {
  Import();
  host::SceneObject* obj = Find(L"cube");
  ASSERT_NE(obj, nullptr);
  EXPECT_EQ(obj->geometry.Snapshot()->FaceCount(), 6u);
  XSI::Selection sel = XSI::Application().GetSelection();
  ASSERT_EQ(sel.GetCount(), 1);
  EXPECT_EQ(XSI::X3DObject(sel[0]).GetName(), L"cube");
  // A second import of the same file gets a numbered name.
  Import();
  EXPECT_NE(Find(L"cube1"), nullptr);
}

TEST_F(Commands, ObjImportTakesBackslashPaths) {
  std::string windowsStyle = cube_;
  std::replace(windowsStyle.begin(), windowsStyle.end(), '/', '\\');
  EXPECT_EQ(Exec(L"ObjImport", {XSI::CString::FromUtf8(windowsStyle), 1, 0, false, false, false, false}), CStatus::OK);
  EXPECT_NE(Find(L"cube"), nullptr);
}

TEST_F(Commands, ObjImportOfMissingFileFailsAndAddsNothing) {
  std::string missing = dir_.File("nothere.obj");
  EXPECT_NE(Exec(L"ObjImport", {XSI::CString::FromUtf8(missing), 1, 0, false, false, false, false}), CStatus::OK);
  EXPECT_EQ(host::Runtime::Get().GetScene().Count(), 0u);
  EXPECT_NE(LastError().find(missing), std::string::npos) << LastError();
}

TEST_F(Commands, DuplicateMakesAnIndependentSelectedCopy) {
  Import();
  SetPos(L"cube", 5, 0, 0);
  ASSERT_EQ(Exec(L"Duplicate", {L"cube"}), CStatus::OK);
  host::SceneObject* copy = Find(L"cube1");
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->xf.pos[0], 5.0);
  EXPECT_EQ(XSI::Application().GetSelection().GetAsText(), L"cube1");
  // Changing the copy's geometry leaves the original alone.
  ASSERT_EQ(Exec(L"MoveCtr2Vertices", {L"cube1"}), CStatus::OK);
  EXPECT_FLOAT_EQ(Find(L"cube")->geometry.Snapshot()->positions[0].x, 0.0f);
  EXPECT_FLOAT_EQ(copy->geometry.Snapshot()->positions[0].x, -0.5f);
}

TEST_F(Commands, DeleteObjRemovesOnlyExistingObjects) {
  Import();
  EXPECT_EQ(Exec(L"DeleteObj", {L"ghost"}), CStatus::NotFound);
  EXPECT_NE(Find(L"cube"), nullptr);
  EXPECT_EQ(Exec(L"DeleteObj", {L"cube"}), CStatus::OK);
  EXPECT_EQ(Find(L"cube"), nullptr);
  EXPECT_EQ(XSI::Application().GetSelection().GetCount(), 0);
}

// An empty or blank list used to fail with "no object named", naming nothing.
TEST_F(Commands, DeleteObjWithAnEmptyListSaysSoAndQuotesIt) {
  Import();
  for (const wchar_t* list : {L",,", L" ", L"", L" , \t"}) {
    EXPECT_EQ(Exec(L"DeleteObj", {list}), CStatus::InvalidArgument);
    EXPECT_EQ(LastError(), "DeleteObj: the list of objects '" + XSI::CString(list).GetUtf8String() +
                               "' is empty: give the names of the objects to delete, separated by commas");
  }
  EXPECT_NE(Find(L"cube"), nullptr);
}

TEST_F(Commands, MeshMergeSequenceGivesOneWeldedMeshInWorldSpace) {
  Import();
  Exec(L"Duplicate", {L"cube"});
  SetPos(L"cube1", 1, 0, 0);  // shares the face x = 1 with the first cube
  ASSERT_EQ(Exec(L"ApplyGenOp", {L"MeshMerge", L"MeshSurface", L"cube,cube1", 3, 0, 0}), CStatus::OK);
  host::SceneObject* merged = Find(L"polymsh");
  ASSERT_NE(merged, nullptr);
  // Inputs stay, with their own geometry, until the inputs are deleted.
  EXPECT_EQ(Find(L"cube")->geometry.Snapshot()->FaceCount(), 6u);
  EXPECT_EQ(Find(L"cube1")->geometry.Snapshot()->FaceCount(), 6u);
  EXPECT_EQ(merged->geometry.Snapshot()->FaceCount(), 12u);

  ASSERT_EQ(Exec(L"SetValue", {L"polymsh.polymsh.mergemesh.tolerance", 0.001}), CStatus::OK);
  EXPECT_EQ(merged->geometry.Snapshot()->VertexCount(), 12u);  // 4 shared corners welded
  ASSERT_EQ(Exec(L"DeleteGeneratorInputs", {L"polymsh.polymsh.mergemesh"}), CStatus::OK);
  EXPECT_EQ(Find(L"cube"), nullptr);
  EXPECT_EQ(Find(L"cube1"), nullptr);
  ASSERT_EQ(Exec(L"SetValue", {L"polymsh.Name", L"cube"}), CStatus::OK);
  host::SceneObject* result = Find(L"cube");
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(Find(L"polymsh"), nullptr);
  EXPECT_FLOAT_EQ(WorldMax(result).x, 2.0f);
  EXPECT_EQ(host::Runtime::Get().GetScene().Count(), 1u);
}

TEST_F(Commands, MergeOfMissingInputFailsAndChangesNothing) {
  Import();
  EXPECT_NE(Exec(L"ApplyGenOp", {L"MeshMerge", L"MeshSurface", L"cube,ghost", 3, 0, 0}), CStatus::OK);
  EXPECT_EQ(Find(L"polymsh"), nullptr);
  EXPECT_NE(LastError().find("ghost"), std::string::npos);
  EXPECT_NE(Exec(L"SetValue", {L"cube.mergemesh.tolerance", 0.1}), CStatus::OK);
  EXPECT_NE(Exec(L"DeleteGeneratorInputs", {L"cube.cube.mergemesh"}), CStatus::OK);
  EXPECT_NE(Find(L"cube"), nullptr);
}

TEST_F(Commands, MoveCtr2VerticesKeepsGeometryInPlace) {
  Import();
  SetPos(L"cube", 10, 0, 0);
  host::Vec3 before = WorldMin(Find(L"cube"));
  ASSERT_EQ(Exec(L"MoveCtr2Vertices", {L"cube"}), CStatus::OK);
  host::SceneObject* obj = Find(L"cube");
  EXPECT_DOUBLE_EQ(obj->xf.pos[0], 10.5);
  EXPECT_DOUBLE_EQ(obj->xf.pos[1], 0.5);
  EXPECT_DOUBLE_EQ(obj->xf.pos[2], 0.5);
  host::Vec3 after = WorldMin(obj);
  EXPECT_FLOAT_EQ(after.x, before.x);
  EXPECT_FLOAT_EQ(after.y, before.y);
}

TEST_F(Commands, TranslateWithTheBuilderArgumentsCentresTheObject) {
  Import();
  SetPos(L"cube", 3, 4, 5);
  ASSERT_EQ(Exec(L"MoveCtr2Vertices", {L"cube"}), CStatus::OK);
  ASSERT_EQ(Exec(L"Translate", {L"cube", 0, 0, 0, 0, 8, 1, 2}), CStatus::OK);
  host::SceneObject* obj = Find(L"cube");
  EXPECT_FLOAT_EQ(WorldMin(obj).x, -0.5f);
  EXPECT_FLOAT_EQ(WorldMax(obj).z, 0.5f);
  // Relative mode moves by the amount.
  ASSERT_EQ(Exec(L"Translate", {L"cube", 1, 0, 0, 1, 8, 1, 2}), CStatus::OK);
  EXPECT_DOUBLE_EQ(obj->xf.pos[0], 1.0);
  EXPECT_NE(Exec(L"Translate", {L"cube", 1, 0, 0, 7}), CStatus::OK);
}

// Text arguments are numbers by the one grammar (XSI::ReadNumber): a refused
// text changes nothing and the error names it.
TEST_F(Commands, TranslateAndSetValueReadTextNumbersOneWay) {
  Import();
  host::SceneObject* obj = Find(L"cube");
  for (const wchar_t* bad : {L"0x10", L"2,5", L"1e400", L"nan", L"inf", L""}) {
    const std::string shown = "'" + XSI::CString(bad).GetUtf8String() + "'";
    EXPECT_EQ(Exec(L"Translate", {L"cube", bad, 0, 0, 1}), CStatus::InvalidArgument) << shown;
    EXPECT_NE(LastError().find("Translate: x, y and z must be finite numbers, got " + shown), std::string::npos)
        << LastError();
    EXPECT_EQ(Exec(L"SetValue", {L"cube.posy", bad}), CStatus::InvalidArgument) << shown;
    EXPECT_NE(LastError().find(shown), std::string::npos) << LastError();
    EXPECT_EQ(obj->xf.pos[0], 0.0) << shown;
    EXPECT_EQ(obj->xf.pos[1], 0.0) << shown;
  }
  ASSERT_EQ(Exec(L"Translate", {L"cube", L" 3 ", L"+4", L"-.5e1", 1}), CStatus::OK) << LastError();
  EXPECT_EQ(obj->xf.pos[0], 3.0);
  EXPECT_EQ(obj->xf.pos[1], 4.0);
  EXPECT_EQ(obj->xf.pos[2], -5.0);
  ASSERT_EQ(Exec(L"SetValue", {L"cube.posy", L"+4.25"}), CStatus::OK) << LastError();
  EXPECT_EQ(obj->xf.pos[1], 4.25);
  ASSERT_EQ(Exec(L"SetValue", {L"cube.posz", L" 3 "}), CStatus::OK) << LastError();
  EXPECT_EQ(obj->xf.pos[2], 3.0);
}

TEST_F(Commands, SetValueRenamesAndRejectsBadPaths) {
  Import();
  EXPECT_EQ(Exec(L"SetValue", {L"cube.Name", L"box"}), CStatus::OK);
  EXPECT_NE(Find(L"box"), nullptr);
  EXPECT_EQ(Exec(L"SetValue", {L"box.posy", 2.5}), CStatus::OK);
  EXPECT_DOUBLE_EQ(Find(L"box")->xf.pos[1], 2.5);
  EXPECT_NE(Exec(L"SetValue", {L"box.colour", 1}), CStatus::OK);
  EXPECT_NE(Exec(L"SetValue", {L"box", 1}), CStatus::OK);
  EXPECT_NE(Exec(L"SetValue", {L"box.Name", L""}), CStatus::OK);
  EXPECT_NE(Find(L"box"), nullptr);
}

TEST_F(Commands, CreateImageClipReturnsAClipOrNamesTheMissingFile) {
  // A 1 x 1 24-bit BMP holding one blue pixel.
  std::string bmp("BM\x3a\0\0\0\0\0\0\0\x36\0\0\0\x28\0\0\0\x01\0\0\0\x01\0\0\0\x01\0\x18\0\0\0\0\0\x04\0\0\0"
                  "\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\xff\0\0\0", 58);
  std::string path = dir_.Write("one.bmp", bmp);
  CValue out;
  ASSERT_EQ(Exec(L"CreateImageClip", {XSI::CString::FromUtf8(path)}, &out), CStatus::OK);
  XSI::ImageClip2 clip(out.GetAsRef());
  XSI::Image image = clip.GetImage();
  ASSERT_EQ(image.GetResX(), 1);
  XSI::CColor c;
  ASSERT_EQ(image.GetPixelValue(0, 0, c), CStatus::OK);
  EXPECT_DOUBLE_EQ(c.b, 1.0);
  EXPECT_DOUBLE_EQ(c.r, 0.0);

  CValue none;
  std::string missing = dir_.File("missing.png");
  EXPECT_NE(Exec(L"CreateImageClip", {XSI::CString::FromUtf8(missing)}, &none), CStatus::OK);
  EXPECT_TRUE(none.IsEmpty());
  EXPECT_NE(LastError().find(missing), std::string::npos);
  EXPECT_FALSE(XSI::ImageClip2(none.GetAsRef()).GetImage().IsValid());
}

TEST_F(Commands, SaveSceneNeedsAKnownExtension) {
  Import();
  EXPECT_NE(Exec(L"SaveScene", {XSI::CString::FromUtf8(dir_.File("scene.fbx"))}), CStatus::OK);
  EXPECT_EQ(Exec(L"SaveScene", {XSI::CString::FromUtf8(dir_.File("scene.glb"))}), CStatus::OK);
  EXPECT_TRUE(fs::exists(dir_.File("scene.glb")));
}

TEST_F(Commands, UnknownCommandsAndThrowingCommandsFailCleanly) {
  EXPECT_EQ(Exec(L"NoSuchCommand", {}), CStatus::NotFound);
  host::CommandDef def;
  def.name = L"ThrowsForTest";
  def.owner = L"test";
  def.run = [](const XSI::CValueArray&, CValue&) -> CStatus { throw std::runtime_error("boom"); };
  host::Runtime::Get().RegisterCommand(def);
  EXPECT_EQ(Exec(L"ThrowsForTest", {}), CStatus::Fail);
  EXPECT_NE(LastError().find("boom"), std::string::npos);
  // A second registration under the same name is refused.
  EXPECT_NE(host::Runtime::Get().RegisterCommand(def), CStatus::OK);
  host::Runtime::Get().UnregisterCommand(L"ThrowsForTest");
}

}  // namespace
