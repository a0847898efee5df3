// The host command and placement sequences of a RaiseTower run, read from
// the journal: imports, footprint walk, entrance slots, storeys, roof,
// centring and template deletion.
#include <cstdlib>
#include <tuple>

#include "building_test_util.h"

namespace {

using bt::BuildingTest;
using bt::Placement;

// (unit, roty, gridZ, gridX) with the grid read back from posz / posx.
using Cell = std::tuple<std::string, float, float, float>;

std::vector<Cell> Cells(const std::vector<Placement>& placements) {
  std::vector<Cell> out;
  for (const Placement& p : placements)
    out.emplace_back(p.unit, p.roty, p.posz / 13.5f, -p.posx / 13.5f);
  return out;
}

const std::string kAngle = "p1900_anglebrick", kGround = "p1900_groundbrick",
                  kDoor = "p1900_groundbrickdoor", kFloor = "p1900_floorbrick",
                  kRoof = "p1900_roofbrick", kRoofCorner = "p1900_angleroofbrick";

// Every ring of a 3 x 2 building, in walk order: side 0 from the entrance
// slot (`first`) to its corner, then sides -90, -180 and -270, with `edge`
// units along the sides and `corner` units at the corners.
std::vector<Cell> RingOfThreeByTwo(const std::string& first, const std::string& edge,
                                   const std::string& corner) {
  return {{first, 0, 1, 0},      {edge, 0, 2, 0},      {corner, 0, 3, 0},  {edge, -90, 3, 1},
          {corner, -90, 3, 2},   {edge, -180, 2, 2},   {edge, -180, 1, 2}, {corner, -180, 0, 2},
          {edge, -270, 0, 1},    {corner, -270, 0, 0}};
}

TEST_F(BuildingTest, ImportsTheEightTemplatesInOrderBeforeBuilding) {
  ASSERT_TRUE(bt::RaiseTower(L"T", 2, 2, 2).status.Succeeded());
  auto commands = bt::Commands();
  const std::vector<std::string> bases = {
      "p1900_anglebrick",  "p1900_angleroofbrick",       "p1900_floorbrick",
      "p1900_floorbrickclose", "p1900_groundbrick",      "p1900_groundbrickclose",
      "p1900_groundbrickdoor", "p1900_roofbrick"};
  ASSERT_GE(commands.size(), 9u);
  for (std::size_t i = 0; i < bases.size(); ++i) {
    const auto& c = *commands[i];
    ASSERT_EQ(bt::Utf8(c.name), "ObjImport") << i;
    ASSERT_EQ(c.args.size(), 7u);
    EXPECT_EQ(bt::Utf8(c.args[0].GetAsText()), bt::kRepoHome + "\\builder\\objs\\" + bases[i] + ".obj");
    EXPECT_EQ(c.args[1].GetType(), XSI::CValue::siInt4);
    EXPECT_EQ(c.args[1].GetAsInt(), 1);
    EXPECT_EQ(c.args[2].GetAsInt(), 0);
    for (int k = 3; k < 7; ++k) {
      EXPECT_EQ(c.args[k].GetType(), XSI::CValue::siBool);
      EXPECT_FALSE(c.args[k].GetAsBool());
    }
  }
  EXPECT_EQ(bt::Utf8(commands[8]->name), "Duplicate");
  EXPECT_EQ(bt::Commands(L"ObjImport").size(), 8u);  // read once per run
}

TEST_F(BuildingTest, GroundStoreyThreeByTwoWalksTheFootprintInOrder) {
  ASSERT_TRUE(bt::RaiseTower(L"X", 1, 3, 2, L"brick", L"A", 1).status.Succeeded());
  EXPECT_EQ(Cells(bt::PlacementsInto("Xground")), RingOfThreeByTwo(kDoor, kGround, kAngle));
  // Seed piece: a corner copy named Xground, turned -270 as a double.
  auto seed = bt::WritesOn(L"p1900_anglebrick1");
  ASSERT_FALSE(seed.empty());
  EXPECT_EQ(seed.front(), "name=Xground");
  bool turned = false;
  for (const auto& e : bt::Journal())
    if (e.kind == host::JournalEntry::ParamWrite && e.object == L"Xground" && e.name == L"roty")
      turned = e.value.GetType() == XSI::CValue::siDouble && e.value.GetAsDouble() == -270.0;
  EXPECT_TRUE(turned);
  // Placement writes are single precision, in the order roty, posx, posz.
  for (const auto& e : bt::Journal())
    if (e.kind == host::JournalEntry::ParamWrite && e.object == L"newunit" && e.name != L"name") {
      EXPECT_EQ(e.value.GetType(), XSI::CValue::siFloat) << bt::Utf8(e.name);
    }
}

TEST_F(BuildingTest, PlaceUnitWritesRotationThenScaledGridPositionAndMerges) {
  ASSERT_TRUE(bt::RaiseTower(L"X", 1, 3, 4, L"brick", L"none", 0).status.Succeeded());
  // Side 2 at gridZ = 3: the slot gridX = 2 lands at posz 40.5, posx -27.
  const auto& j = bt::Journal();
  std::vector<std::string> firstPlacement;
  for (std::size_t i = 0; i < j.size() && firstPlacement.size() < 9; ++i) {
    if (!firstPlacement.empty() || (j[i].kind == host::JournalEntry::ParamWrite &&
                                    j[i].value.GetAsText() == L"newunit")) {
      const auto& e = j[i];
      firstPlacement.push_back(e.kind == host::JournalEntry::ParamWrite
                                   ? "set " + bt::Utf8(e.object) + "." + bt::Utf8(e.name)
                                   : "cmd " + bt::Utf8(e.name));
    }
  }
  const std::vector<std::string> expected = {
      "set p1900_groundbrick1.name", "set newunit.roty", "set newunit.posx", "set newunit.posz",
      "cmd ApplyGenOp", "cmd SetValue", "set polymsh.mergemesh.tolerance",
      "cmd DeleteGeneratorInputs", "cmd SetValue"};
  EXPECT_EQ(firstPlacement, expected);
  bool found = false;
  for (const Placement& p : bt::PlacementsInto("Xground"))
    if (p.roty == -90 && p.posz == 40.5f && p.posx == -27.0f) found = true;
  EXPECT_TRUE(found);
}

TEST_F(BuildingTest, MergeUnitsRunsTheFourMergeCommandsWithExactArguments) {
  ASSERT_TRUE(bt::RaiseTower(L"X", 1, 1, 1).status.Succeeded());
  auto genops = bt::Commands(L"ApplyGenOp");
  ASSERT_FALSE(genops.empty());
  const auto& g = *genops.front();
  ASSERT_EQ(g.args.size(), 6u);
  EXPECT_EQ(bt::Utf8(g.args[0].GetAsText()), "MeshMerge");
  EXPECT_EQ(bt::Utf8(g.args[1].GetAsText()), "MeshSurface");
  EXPECT_EQ(bt::Utf8(g.args[2].GetAsText()), "Xground,newunit");
  EXPECT_EQ(g.args[3].GetType(), XSI::CValue::siInt4);
  EXPECT_EQ(g.args[3].GetAsInt(), 3);
  EXPECT_EQ(g.args[4].GetAsInt(), 0);
  EXPECT_EQ(g.args[5].GetAsInt(), 0);

  auto sets = bt::Commands(L"SetValue");
  ASSERT_GE(sets.size(), 2u);
  EXPECT_EQ(bt::Utf8(sets[0]->args.at(0).GetAsText()), "polymsh.polymsh.mergemesh.tolerance");
  EXPECT_EQ(sets[0]->args.at(1).GetType(), XSI::CValue::siDouble);
  EXPECT_EQ(sets[0]->args.at(1).GetAsDouble(), 0.001);
  EXPECT_EQ(bt::Utf8(sets[1]->args.at(0).GetAsText()), "polymsh.Name");
  EXPECT_EQ(bt::Utf8(sets[1]->args.at(1).GetAsText()), "Xground");
  auto dgi = bt::Commands(L"DeleteGeneratorInputs");
  ASSERT_FALSE(dgi.empty());
  EXPECT_EQ(bt::Utf8(dgi[0]->args.at(0).GetAsText()), "polymsh.polymsh.mergemesh");
  for (const auto* c : bt::Commands()) EXPECT_TRUE(c->status.Succeeded()) << bt::Utf8(c->name);
}

// Where the entrance lands: (rotation, gridZ, gridX) of the door unit.
struct EntranceCase {
  const wchar_t* face;
  int position;
  float roty, gridZ, gridX;
};

class EntranceSlot : public BuildingTest, public ::testing::WithParamInterface<EntranceCase> {};

TEST_P(EntranceSlot, DoorStandsAtTheChosenSlotOfTheChosenFace) {
  const EntranceCase c = GetParam();
  // W = 4, L = 5 keeps first, middle and last slot apart on every side.
  ASSERT_TRUE(bt::RaiseTower(L"E", 1, 4, 5, L"brick", c.face, c.position).status.Succeeded());
  std::vector<Cell> doors;
  for (const Cell& cell : Cells(bt::PlacementsInto("Eground")))
    if (std::get<0>(cell) == kDoor) doors.push_back(cell);
  ASSERT_EQ(doors.size(), 1u);
  EXPECT_EQ(doors[0], Cell(kDoor, c.roty, c.gridZ, c.gridX));
}

INSTANTIATE_TEST_SUITE_P(
    FacesAndPositions, EntranceSlot,
    ::testing::Values(EntranceCase{L"A", 0, 0, 3, 0}, EntranceCase{L"A", 1, 0, 2, 0},
                      EntranceCase{L"A", 2, 0, 1, 0}, EntranceCase{L"B", 0, -90, 4, 4},
                      EntranceCase{L"B", 1, -90, 4, 2}, EntranceCase{L"B", 2, -90, 4, 1},
                      EntranceCase{L"C", 0, -180, 1, 5}, EntranceCase{L"C", 1, -180, 2, 5},
                      EntranceCase{L"C", 2, -180, 3, 5}, EntranceCase{L"D", 0, -270, 0, 1},
                      EntranceCase{L"D", 1, -270, 0, 2}, EntranceCase{L"D", 2, -270, 0, 4}),
    [](const ::testing::TestParamInfo<EntranceCase>& info) {
      return XSI::CString(info.param.face).GetUtf8String() + "_position" + std::to_string(info.param.position);
    });

TEST_F(BuildingTest, RandomEntranceTakesOneUnseededDrawPerRun) {
  for (unsigned seed : {1u, 7u, 12345u}) {
    for (const wchar_t* face : {L"A", L"B", L"C", L"D"}) {
      host::Runtime::Get().ResetScene();
      std::srand(seed);
      const int count = (face[0] == L'A' || face[0] == L'C') ? 4 : 6;
      const int slot = 1 + std::rand() % (count - 1);
      const int after = std::rand();
      std::srand(seed);
      ASSERT_TRUE(bt::RaiseTower(L"R", 1, 4, 6, L"brick", face, 3).status.Succeeded());
      EXPECT_EQ(std::rand(), after) << "exactly one draw";
      int doors = 0;
      for (const Placement& p : bt::PlacementsInto("Rground")) {
        if (p.unit != kDoor) continue;
        ++doors;
        const float along = (face[0] == L'A' || face[0] == L'C') ? p.posz / 13.5f : -p.posx / 13.5f;
        EXPECT_EQ(along, static_cast<float>(slot)) << "face " << char(face[0]) << " seed " << seed;
      }
      EXPECT_EQ(doors, 1);
    }
  }
}

TEST_F(BuildingTest, UnknownFaceOrPositionGivesNoEntranceAndNoDraw) {
  for (auto [face, position] : std::vector<std::pair<const wchar_t*, int>>{
           {L"E", 1}, {L"a", 1}, {L"", 0}, {L"AB", 1}, {L"A", 4}, {L"B", -1}, {L"E", 3}}) {
    host::Runtime::Get().ResetScene();
    std::srand(99);
    const int next = std::rand();
    std::srand(99);
    ASSERT_TRUE(bt::RaiseTower(L"N", 1, 3, 3, L"brick", face, position).status.Succeeded());
    EXPECT_EQ(std::rand(), next) << "no draw";
    for (const Placement& p : bt::PlacementsInto("Nground")) EXPECT_NE(p.unit, kDoor);
    EXPECT_EQ(bt::PlacementsInto("Nground").size(), 12u);
  }
}

TEST_F(BuildingTest, WidthTwoGivesTheSingleSlotForEveryPosition) {
  for (int position : {0, 1, 2}) {
    host::Runtime::Get().ResetScene();
    ASSERT_TRUE(bt::RaiseTower(L"S", 1, 2, 3, L"brick", L"A", position).status.Succeeded());
    auto cells = Cells(bt::PlacementsInto("Sground"));
    ASSERT_FALSE(cells.empty());
    EXPECT_EQ(cells[0], Cell(kDoor, 0, 1, 0)) << position;
  }
}

TEST_F(BuildingTest, WidthOnePlacesCornersOnlyOnItsSidesAndNoEntrance) {
  ASSERT_TRUE(bt::RaiseTower(L"O", 1, 1, 2, L"brick", L"A", 1).status.Succeeded());
  const std::vector<Cell> expected = {{kAngle, 0, 1, 0},       {kGround, -90, 1, 1},
                                      {kAngle, -90, 1, 2},     {kAngle, -180, 0, 2},
                                      {kGround, -270, 0, 1},   {kAngle, -270, 0, 0}};
  EXPECT_EQ(Cells(bt::PlacementsInto("Oground")), expected);
}

TEST_F(BuildingTest, UpperStoreysAreNamedLiftedAndMergedInOrder) {
  ASSERT_TRUE(bt::RaiseTower(L"X", 3, 3, 2).status.Succeeded());
  const std::vector<Cell> ring = RingOfThreeByTwo(kFloor, kFloor, kAngle);
  EXPECT_EQ(Cells(bt::PlacementsInto("Xfloor1")), ring);
  EXPECT_EQ(Cells(bt::PlacementsInto("Xfloor2")), ring);
  EXPECT_EQ(bt::WritesOn(L"Xfloor1"),
            (std::vector<std::string>{"roty=-270", "posx=0", "posy=14", "posz=0"}));
  EXPECT_EQ(bt::WritesOn(L"Xfloor2"),
            (std::vector<std::string>{"roty=-270", "posx=0", "posy=28", "posz=0"}));

  std::vector<std::string> storeyMerges;
  for (const auto* c : bt::Commands(L"ApplyGenOp")) {
    std::string inputs = bt::Utf8(c->args.at(2).GetAsText());
    if (inputs.find("newunit") == std::string::npos) storeyMerges.push_back(inputs);
  }
  EXPECT_EQ(storeyMerges,
            (std::vector<std::string>{"Xground,Xfloor1", "Xground,Xfloor2", "Xground,Xroof"}));
  EXPECT_EQ(bt::SceneNames(), std::vector<std::string>{"X"});
}

TEST_F(BuildingTest, StoreyIndexTextComesFromTheValueType) {
  ASSERT_TRUE(bt::RaiseTower(L"Tall", 11, 1, 1).status.Succeeded());
  auto floor10 = bt::WritesOn(L"Tallfloor10");
  ASSERT_FALSE(floor10.empty());
  EXPECT_EQ(floor10[2], "posy=140");
  EXPECT_TRUE(bt::WritesOn(L"Tallfloor11").empty());
  EXPECT_EQ(bt::WritesOn(L"Tallroof")[2], "posy=154");
}

TEST_F(BuildingTest, OneStoreyBuildsNoUpperStoreyAndLiftsTheRoofOneStorey) {
  ASSERT_TRUE(bt::RaiseTower(L"L", 1, 3, 2).status.Succeeded());
  for (const Placement& p : bt::Placements()) EXPECT_EQ(p.mesh.find("floor"), std::string::npos);
  EXPECT_EQ(bt::WritesOn(L"Lroof"),
            (std::vector<std::string>{"roty=-270", "posx=0", "posy=14", "posz=0"}));
}

TEST_F(BuildingTest, RoofRingUsesRoofUnitsAndIsNamedAfterTheBuildingAtTheEnd) {
  ASSERT_TRUE(bt::RaiseTower(L"X", 4, 3, 2).status.Succeeded());
  EXPECT_EQ(Cells(bt::PlacementsInto("Xroof")), RingOfThreeByTwo(kRoof, kRoof, kRoofCorner));
  EXPECT_EQ(bt::WritesOn(L"Xroof"),
            (std::vector<std::string>{"roty=-270", "posx=0", "posy=56", "posz=0"}));
  // The ground storey is put at the origin last of its own steps; the
  // building mesh is finally renamed from Xground to X.
  auto ground = bt::WritesOn(L"Xground");
  EXPECT_EQ(ground.back(), "name=X");
  XSI::Selection selection = XSI::Application().GetSelection();
  ASSERT_EQ(selection.GetCount(), 1);
  EXPECT_EQ(bt::Utf8(XSI::X3DObject(selection[0]).GetName()), "X");
}

TEST_F(BuildingTest, GroundStoreyIsMovedToTheOriginAfterItsWalk) {
  ASSERT_TRUE(bt::RaiseTower(L"G", 1, 2, 2).status.Succeeded());
  EXPECT_EQ(bt::WritesOn(L"Gground"),
            (std::vector<std::string>{"roty=-270", "posx=0", "posy=0", "posz=0", "name=G"}));
}

TEST_F(BuildingTest, CentresTheBuildingDeletesTheTemplatesAndReturnsTrue) {
  bt::Run r = bt::RaiseTower(L"X", 2, 2, 3, L"glass", L"B", 0);
  ASSERT_TRUE(r.status.Succeeded());
  EXPECT_EQ(r.out.GetType(), XSI::CValue::siBool);
  EXPECT_TRUE(r.out.GetAsBool());

  auto commands = bt::Commands();
  std::size_t move = 0;
  while (move < commands.size() && commands[move]->name != L"MoveCtr2Vertices") ++move;
  ASSERT_EQ(commands.size(), move + 10) << "MoveCtr2Vertices, Translate, eight DeleteObj";
  ASSERT_EQ(commands[move]->args.size(), 1u);
  EXPECT_EQ(bt::Utf8(commands[move]->args[0].GetAsText()), "X");

  const auto& translate = *commands[move + 1];
  EXPECT_EQ(bt::Utf8(translate.name), "Translate");
  ASSERT_EQ(translate.args.size(), 8u);
  EXPECT_EQ(translate.args[0].GetType(), XSI::CValue::siString);
  EXPECT_EQ(bt::Utf8(translate.args[0].GetAsText()), "X");
  const int values[] = {0, 0, 0, 0, 8, 1, 2};
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(translate.args[i + 1].GetType(), XSI::CValue::siInt4) << i;
    EXPECT_EQ(translate.args[i + 1].GetAsInt(), values[i]) << i;
  }
  const std::vector<std::string> deleted = {
      "p1900_angleglass",  "p1900_angleroofglass",   "p1900_floorglass",
      "p1900_floorglassclose", "p1900_groundglass",  "p1900_groundglassclose",
      "p1900_groundglassdoor", "p1900_roofglass"};
  for (std::size_t i = 0; i < deleted.size(); ++i) {
    EXPECT_EQ(bt::Utf8(commands[move + 2 + i]->name), "DeleteObj");
    EXPECT_EQ(bt::Utf8(commands[move + 2 + i]->args.at(0).GetAsText()), deleted[i]);
  }
  EXPECT_EQ(bt::SceneNames(), std::vector<std::string>{"X"});
  // The log line of the run, at the verbose level.
  int calls = 0;
  for (const auto& e : bt::Journal())
    if (e.kind == host::JournalEntry::Log && e.name == L"RaiseTower_Execute called") {
      ++calls;
      EXPECT_EQ(e.severity, 16);
    }
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(bt::Errors().empty());
}

TEST_F(BuildingTest, FacadeArgumentsChangeNothing) {
  auto journalOf = [](const std::vector<XSI::CValue>& args) {
    host::Runtime::Get().ResetScene();
    EXPECT_TRUE(bt::RaiseTower(args).status.Succeeded());
    std::string text = host::Runtime::Get().GetJournal().Format();
    return text.substr(text.find('\n'));  // drop the RaiseTower line itself
  };
  const std::string plain = journalOf({L"F", 2, 3, 2, L"brick", L"C", 2});
  const std::string facades = journalOf({L"F", 2, 3, 2, L"brick", L"C", 2, L"shop", 1, 2.5,
                                         L"x", true, L"balcony", 7, L"", -3});
  EXPECT_EQ(plain, facades);
  EXPECT_EQ(Cells(bt::PlacementsInto("Ffloor1")).size(), 10u);
}

}  // namespace
