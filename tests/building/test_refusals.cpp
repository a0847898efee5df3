// Runs that must not build: bad arguments, names already taken in the
// scene, unit files that will not import. Each one fails with one error
// naming the cause and leaves the scene as it found it.
#include "building_test_util.h"

namespace {

using bt::BuildingTest;

using bt::AddUserObject;
using bt::SceneState;
using bt::Snapshot;

// Expects a refused run: failing status, no return value, exactly one error
// containing every `mentions`, nothing imported or changed.
void ExpectRefused(const bt::Run& r, const SceneState& before,
                   const std::vector<std::string>& mentions, bool imports = false) {
  EXPECT_FALSE(r.status.Succeeded());
  EXPECT_FALSE(r.out.GetAsBool());
  auto errors = bt::Errors();
  ASSERT_EQ(errors.size(), 1u);
  for (const std::string& m : mentions)
    EXPECT_NE(errors[0].find(m), std::string::npos) << "'" << m << "' not in: " << errors[0];
  if (!imports) {
    EXPECT_TRUE(bt::Commands(L"ObjImport").empty());
  }
  EXPECT_TRUE(bt::Commands(L"Duplicate").empty());
  EXPECT_TRUE(bt::Commands(L"ApplyGenOp").empty());
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(BuildingTest, RefusesCountsBelowOneAndAnEmptyNameBeforeTouchingTheScene) {
  struct Case {
    std::vector<XSI::CValue> args;
    std::vector<std::string> mentions;
  };
  const std::vector<Case> cases = {
      {{L"T", 0, 3, 3, L"brick", L"A", 1}, {"'floors'", "at least 1", "0"}},
      {{L"T", -2, 3, 3, L"brick", L"A", 1}, {"'floors'", "-2"}},
      {{L"T", 2, 0, 3, L"brick", L"A", 1}, {"'unitswidth'", "0"}},
      {{L"T", 2, 3, -1, L"brick", L"A", 1}, {"'unitslength'", "-1"}},
      {{L"", 2, 3, 3, L"brick", L"A", 1}, {"'buildingname'", "empty"}},
      {{}, {"'buildingname'", "empty"}},  // every argument left out
      {{L"a,b", 2, 3, 3, L"brick", L"A", 1}, {"'buildingname'", "'a,b'", "comma"}},
      {{L"T", L"three", 3, 3, L"brick", L"A", 1}, {"'floors'"}},  // text reads as 0
  };
  for (const Case& c : cases) {
    host::Runtime::Get().ResetScene();
    AddUserObject(L"keep");
    const SceneState before = Snapshot();
    host::Runtime::Get().GetJournal().Clear();
    ExpectRefused(bt::RaiseTower(c.args), before, c.mentions);
  }
}

TEST_F(BuildingTest, RefusesWhenTheSceneHoldsAnObjectTheRunWouldUse) {
  for (const wchar_t* taken :
       {L"T", L"Tground", L"Troof", L"Tfloor1", L"Tfloor2", L"newunit", L"polymsh",
        L"p1900_anglebrick", L"p1900_floorbrickclose", L"p1900_roofbrick"}) {
    host::Runtime::Get().ResetScene();
    AddUserObject(taken);
    const SceneState before = Snapshot();
    host::Runtime::Get().GetJournal().Clear();
    ExpectRefused(bt::RaiseTower(L"T", 3, 2, 2), before,
                  {"'" + bt::Utf8(taken) + "'", "already holds"});
  }
}

TEST_F(BuildingTest, NamesEveryClashAndLeavesUnrelatedNamesAlone) {
  AddUserObject(L"Tground");
  AddUserObject(L"polymsh");
  AddUserObject(L"Tfloor3");   // storey 3 is the roof's index, not an upper storey
  AddUserObject(L"Tfloor");
  const SceneState before = Snapshot();
  host::Runtime::Get().GetJournal().Clear();
  ExpectRefused(bt::RaiseTower(L"T", 3, 2, 2), before, {"'Tground'", "'polymsh'"});
  EXPECT_EQ(bt::Errors()[0].find("Tfloor3"), std::string::npos);

  host::Runtime::Get().ResetScene();
  AddUserObject(L"Tfloor3");
  AddUserObject(L"Tfloor");
  ASSERT_TRUE(bt::RaiseTower(L"T", 3, 2, 2).status.Succeeded());
  auto names = bt::SceneNames();
  EXPECT_EQ(names, (std::vector<std::string>{"Tfloor3", "Tfloor", "T"}));
}

TEST_F(BuildingTest, SecondBuildingOfTheSameNameLeavesTheFirstUntouched) {
  ASSERT_TRUE(bt::RaiseTower(L"Twin", 2, 3, 2).status.Succeeded());
  const SceneState before = Snapshot();
  host::Runtime::Get().GetJournal().Clear();
  ExpectRefused(bt::RaiseTower(L"Twin", 4, 2, 2), before, {"'Twin'"});

  // Another name is fine, and the first building keeps its mesh.
  ASSERT_TRUE(bt::RaiseTower(L"Other", 1, 1, 1).status.Succeeded());
  EXPECT_EQ(bt::SceneNames(), (std::vector<std::string>{"Twin", "Other"}));
  EXPECT_EQ(Snapshot().objects.front(), before.objects.front());
}

TEST_F(BuildingTest, RefusesABuildingNameThatIsAUnitName) {
  const SceneState before = Snapshot();
  ExpectRefused(bt::RaiseTower(L"p1900_anglebrick", 1, 2, 2), before,
                {"'buildingname'", "'p1900_anglebrick'"});
  host::Runtime::Get().GetJournal().Clear();
  // "p1900_" + "ground" is the ground unit's base name when the style is empty.
  ExpectRefused(bt::RaiseTower(L"p1900_", 1, 2, 2, L""), before, {"'p1900_ground'"});
}

TEST_F(BuildingTest, UnknownStyleIsOneErrorNamingTheLibraryAndItsStyles) {
  AddUserObject(L"keep");
  const SceneState before = Snapshot();
  host::Runtime::Get().GetJournal().Clear();
  bt::Run r = bt::RaiseTower(L"T", 2, 2, 2, L"marble");
  EXPECT_FALSE(r.status.Succeeded());
  EXPECT_TRUE(r.out.IsEmpty());
  // Checked before the first import: one error, the folder as the file
  // system names it, and the styles that are there.
  EXPECT_EQ(bt::Errors(), std::vector<std::string>{
                              "RaiseTower: cannot build with style 'marble': the units library '" +
                              bt::kRepoHome + "/builder/objs/' has no unit of that style; the styles it "
                              "holds: 'brick', 'glass'"});
  EXPECT_TRUE(bt::Commands(L"ObjImport").empty());
  EXPECT_TRUE(bt::Commands(L"Duplicate").empty());
  EXPECT_EQ(Snapshot(), before);
}

// A home folder of our own, so single files can be missing or broken.
class PartialLibrary : public bt::OwnHomeTest {
 protected:
  void FillUnits(const bt::fs::path& objs) override {
    for (const auto& entry : bt::fs::directory_iterator(bt::kRepoHome + "/builder/objs")) {
      const std::string name = entry.path().filename().string();
      if (name.find("brick") != std::string::npos)
        bt::fs::copy_file(entry.path(), objs / name);
    }
    bt::fs::remove(objs / "p1900_groundbrickdoor.obj");
    // Faces that point at vertices the file does not have.
    std::ofstream(objs / "p1900_roofbrick.obj", std::ios::trunc) << "v 0 0 0\nf 1 2 3\n";
  }
};

TEST_F(PartialLibrary, MissingAndBrokenFilesAreNamedAndImportedTemplatesDeleted) {
  AddUserObject(L"keep");
  const SceneState before = Snapshot();
  host::Runtime::Get().GetJournal().Clear();
  bt::Run r = bt::RaiseTower(L"T", 2, 3, 3);
  EXPECT_FALSE(r.status.Succeeded());
  EXPECT_TRUE(r.out.IsEmpty());
  // The missing file is found before anything is imported.
  EXPECT_EQ(bt::Errors(), std::vector<std::string>{
                              "RaiseTower: cannot build with style 'brick': the units library '" +
                              Objs().string() + "/' lacks p1900_groundbrickdoor.obj; it holds no "
                              "complete style"});
  EXPECT_TRUE(bt::Commands(L"ObjImport").empty());
  EXPECT_EQ(Snapshot(), before);

  // With the door back, the broken file is named when its import fails.
  bt::fs::copy_file(bt::kRepoHome + "/builder/objs/p1900_groundbrickdoor.obj", Objs() / "p1900_groundbrickdoor.obj");
  host::Runtime::Get().GetJournal().Clear();
  r = bt::RaiseTower(L"T", 2, 3, 3);
  EXPECT_FALSE(r.status.Succeeded());
  std::string mine;
  for (const std::string& e : bt::Errors())
    if (e.rfind("RaiseTower:", 0) == 0) mine = e;
  EXPECT_NE(mine.find("p1900_roofbrick.obj"), std::string::npos) << mine;
  EXPECT_EQ(mine.find("p1900_anglebrick.obj"), std::string::npos) << mine;
  // The seven that imported are deleted again.
  auto deletes = bt::Commands(L"DeleteObj");
  ASSERT_EQ(deletes.size(), 7u);
  for (const auto* d : deletes) EXPECT_TRUE(d->status.Succeeded());
  EXPECT_TRUE(bt::Commands(L"Duplicate").empty());
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(PartialLibrary, TheCompleteStyleStillBuildsFromThisHome) {
  // Restore the two files; the same home then builds.
  for (const char* f : {"p1900_groundbrickdoor.obj", "p1900_roofbrick.obj"})
    bt::fs::copy_file(bt::kRepoHome + "/builder/objs/" + f, Objs() / f,
                      bt::fs::copy_options::overwrite_existing);
  bt::Run r = bt::RaiseTower(L"T", 2, 3, 3);
  ASSERT_TRUE(r.status.Succeeded());
  EXPECT_EQ(bt::Utf8(bt::Commands(L"ObjImport")[0]->args.at(0).GetAsText()),
            home_.path().string() + "\\builder\\objs\\p1900_anglebrick.obj");
  EXPECT_EQ(bt::SceneNames(), std::vector<std::string>{"T"});
}

}  // namespace
