// Registration and command definition of the HouseSmith plug-in, seen from
// the host: the command, its sixteen arguments, the units folder, unloading.
#include "building_test_util.h"
#include "registration.h"
#include "run_state.h"

namespace {

using bt::BuildingTest;

TEST_F(BuildingTest, RegistersOneCommandWithSixteenEmptyArguments) {
  ASSERT_TRUE(bt::RaiseTower(L"T", 1, 1, 1).status.Succeeded());  // _Init runs first
  const host::CommandDef* def = host::Runtime::Get().FindCommand(L"RaiseTower");
  ASSERT_NE(def, nullptr);
  EXPECT_EQ(bt::Utf8(def->scriptName), "RaiseTower");
  EXPECT_EQ(bt::Utf8(def->owner), "HouseSmith");
  EXPECT_EQ(bt::Utf8(def->description), "Create a building from a units library");
  EXPECT_TRUE(def->returnsValue);
  const std::vector<std::string> expected = {
      "buildingname", "floors",       "unitswidth",   "unitslength",  "type",
      "entranceface", "entranceposition", "groundtype", "floorface1", "floorface2",
      "floorface3",   "floorface4",   "balconyface1", "balconyface2", "balconyface3",
      "balconyface4"};
  ASSERT_EQ(def->arguments.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(bt::Utf8(def->arguments[i].name), expected[i]) << "argument " << i;
    EXPECT_TRUE(def->arguments[i].defaultValue.IsEmpty()) << expected[i];
  }
}

TEST_F(BuildingTest, UnitsFolderIsHomeWithBackslashedSuffixAndIsNotDoubledByASecondInit) {
  // A command definition of our own, so the registered one stays intact.
  host::CommandDef probe;
  probe.name = L"RaiseTowerDefinitionProbe";
  probe.owner = L"test";
  auto& rt = host::Runtime::Get();
  rt.UnregisterCommand(probe.name);
  ASSERT_TRUE(rt.RegisterCommand(probe).Succeeded());
  const host::CommandDef* def = rt.FindCommand(probe.name);
  XSI::CRef context(XSI::siRefKind::Context,
                    rt.NewContext(XSI::CRef(XSI::siRefKind::Command, def->id)).id);

  rt.SetHomePath("/srv/host");
  ASSERT_TRUE(raisetower::defineCommand(context).Succeeded());
  ASSERT_TRUE(raisetower::defineCommand(context).Succeeded());
  EXPECT_EQ(bt::Utf8(raisetower::unitsLibraryPath), "/srv/host\\builder\\objs\\");
  rt.UnregisterCommand(probe.name);
}

TEST_F(BuildingTest, ImportsFromTheHomeFolderGivenByTheHost) {
  ASSERT_TRUE(bt::RaiseTower(L"T", 1, 1, 1).status.Succeeded());
  auto imports = bt::Commands(L"ObjImport");
  ASSERT_EQ(imports.size(), 8u);
  EXPECT_EQ(bt::Utf8(imports[0]->args.at(0).GetAsText()),
            bt::kRepoHome + "\\builder\\objs\\p1900_anglebrick.obj");
}

TEST(BuildingUnload, LogsThePluginNameAndHasBeenUnloaded) {
  bt::LoadPlugin();
  host::Runtime::Get().ResetScene();
  bt::UnloadPlugin();
  std::vector<std::pair<std::string, int>> lines;
  for (const auto& e : bt::Journal())
    if (e.kind == host::JournalEntry::Log) lines.emplace_back(bt::Utf8(e.name), e.severity);
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      std::make_pair(std::string("HouseSmith has been unloaded."), 16)),
            lines.end());
  EXPECT_EQ(host::Runtime::Get().FindCommand(L"RaiseTower"), nullptr);
  bt::LoadPlugin();  // later tests expect it
  EXPECT_NE(host::Runtime::Get().FindCommand(L"RaiseTower"), nullptr);
}

}  // namespace
