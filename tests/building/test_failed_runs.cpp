// Runs whose host commands fail half way, by the runtime's failure hook:
// each one must stop, delete what it made, restore the selection, log one
// error naming the step and leave the plug-in ready for the next run.
#include "building_test_util.h"
#include "test_hooks.h"

namespace {

using bt::AddUserObject;
using bt::BuildingTest;
using bt::SceneState;
using bt::Snapshot;

// Two user objects, both selected, one of them moved off its import.
SceneState UserScene() {
  host::Runtime::Get().ResetScene();
  AddUserObject(L"keep");
  AddUserObject(L"other");
  XSI::Application().GetSelection().SetAsText(L"other,keep");
  host::Runtime::Get().GetJournal().Clear();
  return Snapshot();
}

// The journal of T 3 2 2 on the user scene, the RaiseTower line left out.
std::string GoodRunJournal() {
  host::Runtime::Get().GetJournal().Clear();
  EXPECT_TRUE(bt::RaiseTower(L"T", 3, 2, 2).status.Succeeded());
  const std::string text = host::Runtime::Get().GetJournal().Format();
  return text.substr(text.find('\n'));
}

struct Injection {
  const wchar_t* command;
  long nth;
  const char* error;  // RaiseTower's error line
};

// T 3 2 2: each ring is a seed piece and 8 placements (side 1 wall 1, its
// corner, side 2 wall 1, ...), each placement one Duplicate, ApplyGenOp,
// two SetValue and one DeleteGeneratorInputs; storey 1, storey 2 and the
// roof are then merged into the building.
const Injection kInjections[] = {
    {L"ObjImport", 1,
     "cannot build with style 'brick': the units library '" XSI_SOURCE_DIR
     "/home/builder/objs/' has no readable p1900_anglebrick.obj"},
    {L"ObjImport", 8,
     "cannot build with style 'brick': the units library '" XSI_SOURCE_DIR
     "/home/builder/objs/' has no readable p1900_roofbrick.obj"},
    {L"Duplicate", 1,
     "laying the first corner unit on the ground storey failed: "
     "Duplicate('p1900_anglebrick') returned status 1"},
    {L"Duplicate", 4,
     "placing wall unit 1 of side 2 on the ground storey failed: "
     "Duplicate('p1900_groundbrick') returned status 1"},
    {L"Duplicate", 13,
     "placing wall unit 1 of side 2 on storey 1 failed: "
     "Duplicate('p1900_floorbrick') returned status 1"},
    {L"Duplicate", 30,
     "placing the corner unit closing side 1 on the roof failed: "
     "Duplicate('p1900_angleroofbrick') returned status 1"},
    {L"ApplyGenOp", 3,
     "placing wall unit 1 of side 2 on the ground storey failed: "
     "ApplyGenOp('MeshMerge') returned status 1 merging 'Tground,newunit'"},
    {L"ApplyGenOp", 17,
     "merging storey 1 into the building failed: "
     "ApplyGenOp('MeshMerge') returned status 1 merging 'Tground,Tfloor1'"},
    {L"ApplyGenOp", 30,
     "placing the corner unit closing side 2 on the roof failed: "
     "ApplyGenOp('MeshMerge') returned status 1 merging 'Troof,newunit'"},
    {L"ApplyGenOp", 35,
     "merging the roof into the building failed: "
     "ApplyGenOp('MeshMerge') returned status 1 merging 'Tground,Troof'"},
    {L"SetValue", 1,
     "placing wall unit 1 of side 1 on the ground storey failed: "
     "SetValue('polymsh.polymsh.mergemesh.tolerance') returned status 1"},
    {L"SetValue", 34,
     "merging storey 1 into the building failed: SetValue('polymsh.Name') returned "
     "status 1 renaming the merged mesh 'Tground'"},
    {L"SetValue", 69,
     "merging the roof into the building failed: "
     "SetValue('polymsh.polymsh.mergemesh.tolerance') returned status 1"},
    {L"DeleteGeneratorInputs", 8,
     "placing the corner unit closing side 4 on the ground storey failed: "
     "DeleteGeneratorInputs('polymsh.polymsh.mergemesh') returned status 1"},
    {L"DeleteGeneratorInputs", 20,
     "placing wall unit 1 of side 2 on storey 2 failed: "
     "DeleteGeneratorInputs('polymsh.polymsh.mergemesh') returned status 1"},
    {L"DeleteGeneratorInputs", 26,
     "merging storey 2 into the building failed: "
     "DeleteGeneratorInputs('polymsh.polymsh.mergemesh') returned status 1"},
    {L"MoveCtr2Vertices", 1,
     "centring the building 'T' failed: MoveCtr2Vertices('T') returned status 1"},
    {L"Translate", 1, "centring the building 'T' failed: Translate('T') returned status 1"},
    {L"DeleteObj", 1,
     "deleting unit template 'p1900_anglebrick' failed: DeleteObj('p1900_anglebrick') "
     "returned status 1"},
    {L"DeleteObj", 8,
     "deleting unit template 'p1900_roofbrick' failed: DeleteObj('p1900_roofbrick') "
     "returned status 1"},
};

class FailedRun : public BuildingTest, public ::testing::WithParamInterface<Injection> {
 protected:
  void TearDown() override { host::test_hooks::InjectFailure(L"", 0); }
};

TEST_P(FailedRun, StopsUndoesEverythingAndNamesTheStep) {
  const Injection& injection = GetParam();
  UserScene();
  const std::string reference = GoodRunJournal();

  const SceneState before = UserScene();
  host::test_hooks::InjectFailure(injection.command, injection.nth);
  bt::Run r = bt::RaiseTower(L"T", 3, 2, 2);
  host::test_hooks::InjectFailure(L"", 0);

  EXPECT_FALSE(r.status.Succeeded());
  EXPECT_TRUE(r.out.IsEmpty());
  // The injected command failed and nothing ran on as if it had not.
  auto failed = bt::Commands(injection.command);
  ASSERT_GE(failed.size(), static_cast<std::size_t>(injection.nth));
  EXPECT_FALSE(failed[injection.nth - 1]->status.Succeeded());
  std::vector<std::string> mine;
  for (const std::string& e : bt::Errors())
    if (e.rfind("RaiseTower:", 0) == 0) mine.push_back(e);
  EXPECT_EQ(mine, std::vector<std::string>{std::string("RaiseTower: ") + injection.error});
  EXPECT_EQ(Snapshot(), before);  // names, transforms, geometry sizes, selection

  // Nothing of the failed run is left in the plug-in: the next run is the
  // same as on a fresh scene.
  EXPECT_EQ(GoodRunJournal(), reference);
  EXPECT_EQ(bt::SceneNames(), (std::vector<std::string>{"keep", "other", "T"}));
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, FailedRun, ::testing::ValuesIn(kInjections),
    [](const ::testing::TestParamInfo<Injection>& info) {
      return XSI::CString(info.param.command).GetUtf8String() + "_" + std::to_string(info.param.nth);
    });

TEST_F(BuildingTest, AFailedRunLeavesNoHalfBuiltMeshBehindAtAnyDuplicate) {
  // Every Duplicate of a small run in turn: the scene always comes back.
  UserScene();
  const std::string reference = GoodRunJournal();
  const long duplicates = static_cast<long>(bt::Commands(L"Duplicate").size());
  for (long n = 1; n <= duplicates; ++n) {
    SCOPED_TRACE(n);
    const SceneState before = UserScene();
    host::test_hooks::InjectFailure(L"Duplicate", n);
    EXPECT_FALSE(bt::RaiseTower(L"T", 3, 2, 2).status.Succeeded());
    host::test_hooks::InjectFailure(L"", 0);
    EXPECT_EQ(Snapshot(), before);
  }
  UserScene();
  EXPECT_EQ(GoodRunJournal(), reference);
}

}  // namespace
