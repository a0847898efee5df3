// Input the run must refuse before it builds, beyond counts below one and
// names already taken: counts that are not whole numbers, buildings over the
// size limits, names the host would read differently, styles that would
// leave the units folder, templates that import under another name.
#include <cmath>
#include <limits>

#include "building_test_util.h"
#include "run_checks.h"

namespace {

using bt::AddUserObject;
using bt::BuildingTest;
using bt::SceneState;
using bt::Snapshot;

// The one error of this run that RaiseTower itself logged.
std::string OwnError() {
  std::string mine;
  int count = 0;
  for (const std::string& e : bt::Errors())
    if (e.rfind("RaiseTower: ", 0) == 0) mine = e, ++count;
  EXPECT_EQ(count, 1);
  return mine;
}

// A user object "keep", selected; returns the scene as the user sees it.
SceneState UserScene() {
  host::Runtime::Get().ResetScene();
  AddUserObject(L"keep");
  XSI::Application().GetSelection().SetAsText(L"keep");
  host::Runtime::Get().GetJournal().Clear();
  return Snapshot();
}

// Refused before any import: failing status, no value, the error text, the
// scene untouched.
void ExpectRefusedUpFront(const std::vector<XSI::CValue>& args, const std::string& error) {
  const SceneState before = UserScene();
  bt::Run r = bt::RaiseTower(args);
  EXPECT_FALSE(r.status.Succeeded());
  EXPECT_TRUE(r.out.IsEmpty());
  EXPECT_EQ(OwnError(), "RaiseTower: " + error);
  EXPECT_TRUE(bt::Commands(L"ObjImport").empty());
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(BuildingTest, CountsMustBeWholeNumbers) {
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    XSI::CValue floors;
    std::string error;
  };
  const std::vector<Case> cases = {
      {L"abc", "argument 'floors': 'abc' is not a whole number"},
      {L"2.5", "argument 'floors': '2.5' is not a whole number"},
      {2.5, "argument 'floors': '2.5' is not a whole number"},
      {2.5f, "argument 'floors': '2.5' is not a whole number"},
      {L"3 storeys", "argument 'floors': '3 storeys' is not a whole number"},
      {L"0x10", "argument 'floors': '0x10' is not a whole number"},
      {L"2,5", "argument 'floors': '2,5' is not a whole number"},
      {L"1e400", "argument 'floors': '1e400' is not a finite number"},
      {L"nan", "argument 'floors': 'nan' is not a finite number"},
      {L"", "argument 'floors': '' is not a whole number"},
      {inf, "argument 'floors': 'inf' is not a finite number"},
      {-inf, "argument 'floors': '-inf' is not a finite number"},
      {L"inf", "argument 'floors': 'inf' is not a finite number"},
      {std::nan(""), "argument 'floors': 'nan' is not a finite number"},
      {true, "argument 'floors': 'true' (bool) is not a whole number"},
      {XSI::CValue(), "argument 'floors' is empty: give a whole number of at least 1"},
      {L"-2", "argument 'floors' must be at least 1, got -2"},
      {-1e300, "argument 'floors' must be at least 1, got -1e+300"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(bt::Utf8(c.floors.GetAsText()));
    ExpectRefusedUpFront({L"T", c.floors, 2, 2, L"brick", L"A", 1}, c.error);
  }
  ExpectRefusedUpFront({L"T", 2, L"wide", 2}, "argument 'unitswidth': 'wide' is not a whole number");
  ExpectRefusedUpFront({L"T", 2, 2, 0.5}, "argument 'unitslength': '0.5' is not a whole number");
}

TEST_F(BuildingTest, WholeNumbersWrittenAsRealsOrTextBuildAsTheInt) {
  auto journalOf = [](const std::vector<XSI::CValue>& args) {
    host::Runtime::Get().ResetScene();
    EXPECT_TRUE(bt::RaiseTower(args).status.Succeeded());
    std::string text = host::Runtime::Get().GetJournal().Format();
    return text.substr(text.find('\n'));
  };
  const std::string ints = journalOf({L"W", 2, 3, 2, L"brick", L"B", 1});
  EXPECT_EQ(journalOf({L"W", 2.0, L"3", L" +2 ", L"brick", L"B", 1}), ints);
  EXPECT_EQ(journalOf({L"W", 2.0f, L"3.0", L"2e0", L"brick", L"B", 1}), ints);
  EXPECT_EQ(journalOf({L"W", L" 2 ", L"+3", L"\t+2 ", L"brick", L"B", 1}), ints);
}

TEST_F(BuildingTest, BuildingsOverTheUnitLimitAreRefusedAtOnceWithEstimateAndLimit) {
  // These once grew the host's memory without end while it listed names.
  auto tooBig = [](const std::string& storeys, const std::string& perStorey,
                   const std::string& total) {
    return "building 'T' is too big: " + storeys + " storey(s) and a roof, " + perStorey +
           " units each, make " + total + " units; the limit is 50000 units";
  };
  ExpectRefusedUpFront({L"T", L"99999999999", 1, 1}, tooBig("99999999999", "5", "500000000000"));
  ExpectRefusedUpFront({L"T", 99999999999.0, 1, 1}, tooBig("99999999999", "5", "500000000000"));
  ExpectRefusedUpFront({L"T", 1, 2147483647, 1}, tooBig("1", "4294967297", "8589934594"));
  ExpectRefusedUpFront({L"T", 100000, 1, 1}, tooBig("100000", "5", "500005"));
  ExpectRefusedUpFront({L"T", 1, 1, 1e300}, tooBig("1", "2e+300", "4e+300"));
}

TEST(BuildingLimits, TheUnitLimitIsInclusive) {
  // 16 rings of 2 x 781 + 2 x 781 + 1 = 3125 units: exactly the limit.
  EXPECT_EQ(raisetower::unitCount(15, 781, 781), raisetower::kMaxUnits);
  raisetower::RunArguments run;
  XSI::CValueArray args;
  for (XSI::CValue v : {XSI::CValue(L"T"), XSI::CValue(15), XSI::CValue(781), XSI::CValue(781)})
    args.Add(v);
  EXPECT_EQ(bt::Utf8(raisetower::readArguments(args, run)), "");
  EXPECT_EQ(run.floors, 15);
  EXPECT_EQ(run.unitsWidth, 781);
  args[3] = XSI::CValue(782);
  EXPECT_NE(bt::Utf8(raisetower::readArguments(args, run)).find("the limit is 50000 units"),
            std::string::npos);
}

std::size_t VertexLines(const std::string& base) {
  std::ifstream in(bt::kRepoHome + "/builder/objs/" + base + ".obj");
  std::size_t n = 0;
  for (std::string line; std::getline(in, line);)
    if (line.rfind("v ", 0) == 0) ++n;
  return n;
}

TEST_F(BuildingTest, BuildingsOverTheVertexLimitAreRefusedBeforeBuildingAndTemplatesDeleted) {
  const SceneState before = UserScene();
  // 1000 storeys of 10 x 10: within the unit limit, past the vertex limit.
  bt::Run r = bt::RaiseTower(L"T", 1000, 10, 10);
  EXPECT_FALSE(r.status.Succeeded());
  EXPECT_TRUE(r.out.IsEmpty());
  const std::size_t walls = 36;
  const std::size_t angle = VertexLines("p1900_anglebrick");
  const std::size_t estimate =
      5 * angle + walls * std::max(VertexLines("p1900_groundbrick"), VertexLines("p1900_groundbrickdoor")) +
      999 * (5 * angle + walls * VertexLines("p1900_floorbrick")) +
      5 * VertexLines("p1900_angleroofbrick") + walls * VertexLines("p1900_roofbrick");
  EXPECT_EQ(OwnError(), "RaiseTower: building 'T' is too big: its 41041 units of style 'brick' hold "
                        "about " + std::to_string(estimate) +
                            " vertices; the limit is 2000000 vertices");
  EXPECT_EQ(bt::Commands(L"ObjImport").size(), 8u);
  EXPECT_EQ(bt::Commands(L"DeleteObj").size(), 8u);
  EXPECT_TRUE(bt::Commands(L"Duplicate").empty());
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(BuildingTest, NamesWithOuterWhiteSpaceAreRefusedAndLeaveTheUsersObjectAlone) {
  // The host trims " X" + "ground" to "Xground" in its comma lists: such a
  // run once merged the user's Xground into the building and deleted it.
  for (const wchar_t* name : {L" X", L"X ", L"\tX", L"X\n", L"X\u00a0"}) {
    SCOPED_TRACE(bt::Utf8(name));
    host::Runtime::Get().ResetScene();
    AddUserObject(L"Xground");
    AddUserObject(L"X");
    const SceneState before = Snapshot();
    host::Runtime::Get().GetJournal().Clear();
    bt::Run r = bt::RaiseTower(name, 1, 2, 2);
    EXPECT_FALSE(r.status.Succeeded());
    EXPECT_EQ(OwnError().find("RaiseTower: argument 'buildingname' '" + bt::Utf8(name) +
                              "' begins or ends with white space (U+"),
              0u)
        << OwnError();
    EXPECT_TRUE(bt::Commands(L"ObjImport").empty());
    EXPECT_EQ(Snapshot(), before);
  }
  ExpectRefusedUpFront({L"a\x01" L"b", 1, 1, 1},
                       "argument 'buildingname' 'a\x01" "b' holds the control character U+0001");
  ExpectRefusedUpFront({XSI::CString(std::wstring(257, L'n')), 1, 1, 1},
                       "argument 'buildingname' is 257 characters long; the limit is 256");
  ExpectRefusedUpFront({L"T", 1, 1, 1, XSI::CString(std::wstring(100000, L's'))},
                       "argument 'type' is 100000 characters long; the limit is 256");
  // White space inside the name is fine.
  host::Runtime::Get().ResetScene();
  ASSERT_TRUE(bt::RaiseTower(L"my tower", 1, 1, 1).status.Succeeded());
  EXPECT_EQ(bt::SceneNames(), std::vector<std::string>{"my tower"});
}

TEST_F(BuildingTest, StylesThatAreNotOnePieceOfAFileNameAreRefusedNamingTheCharacter) {
  const std::vector<std::pair<std::wstring, std::string>> cases = {
      {L"../brick", "'../brick' must not contain '/'"},
      {L"a\\b", "'a\\b' must not contain '\\'"},
      {L"brick,glass", "'brick,glass' must not contain ','"},
      {L"bri ck", "'bri ck' must not contain white space (U+0020)"},
      {L"brick\t", "'brick\t' must not contain white space (U+0009)"},
      {L"\u3000", "'\u3000' must not contain white space (U+3000)"},
      {L"..", "'..' must not contain '..'"},
      {L"a..b", "'a..b' must not contain '..'"},
      {L"a\x7f", "'a\x7f' must not contain the control character U+007F"},
  };
  for (const auto& [style, error] : cases) {
    SCOPED_TRACE(error);
    ExpectRefusedUpFront({L"T", 1, 1, 1, XSI::CString(style)}, "argument 'type' " + error);
  }
}

TEST_F(BuildingTest, UpperStoreyNamesMeetingUnitNamesAreRefused) {
  // "p1900_" + "floor1" is the floor unit's name in style "1".
  ExpectRefusedUpFront({L"p1900_", 2, 1, 1, L"1"},
                       "argument 'buildingname' 'p1900_' gives the name 'p1900_floor1', which the "
                       "run keeps for its own objects (\"newunit\", \"polymsh\" and the unit "
                       "templates of style '1')");
  raisetower::RunArguments run;
  run.buildingName = L"T";
  run.floors = 12;
  for (const wchar_t* yes : {L"Tfloor1", L"Tfloor9", L"Tfloor11"})
    EXPECT_TRUE(raisetower::isUpperStoreyName(yes, run)) << bt::Utf8(yes);
  for (const wchar_t* no : {L"Tfloor0", L"Tfloor12", L"Tfloor01", L"Tfloor+1", L"Tfloor", L"Tfloor1a",
                            L"Tfloor 1", L"tfloor1", L"Tfloor99999999999999999999"})
    EXPECT_FALSE(raisetower::isUpperStoreyName(no, run)) << bt::Utf8(no);
}

TEST_F(BuildingTest, ManyClashesAreListedUpToTwentyAndCounted) {
  host::Runtime::Get().ResetScene();
  for (int i = 1; i <= 25; ++i)
    AddUserObject(XSI::CString(L"Tfloor" + std::to_wstring(i)).GetWideString());
  const SceneState before = Snapshot();
  host::Runtime::Get().GetJournal().Clear();
  EXPECT_FALSE(bt::RaiseTower(L"T", 40, 1, 1).status.Succeeded());
  const std::string error = OwnError();
  EXPECT_NE(error.find("'Tfloor20' and 5 more, which building 'T'"), std::string::npos) << error;
  EXPECT_EQ(error.find("Tfloor21"), std::string::npos) << error;
  EXPECT_EQ(Snapshot(), before);
}

// A home whose unit files import under other names than the run asked for:
// a style holding a lone surrogate reaches the file system as U+FFFD.
class MisnamedLibrary : public bt::OwnHomeTest {
 protected:
  void FillUnits(const bt::fs::path& objs) override {
    for (const char* kind : {"angle", "angleroof", "floor", "floor|close", "ground",
                             "ground|close", "ground|door", "roof"}) {
      std::string k = kind;
      const std::size_t bar = k.find('|');
      const std::string prefix = k.substr(0, bar);
      const std::string suffix = bar == std::string::npos ? "" : k.substr(bar + 1);
      bt::fs::copy_file(bt::kRepoHome + "/builder/objs/p1900_" + prefix + "brick" + suffix + ".obj",
                        objs / ("p1900_" + prefix + "\xEF\xBF\xBD" + suffix + ".obj"));
    }
  }
};

TEST_F(MisnamedLibrary, TemplatesImportedUnderAnotherNameAreDeletedAgain) {
  AddUserObject(L"keep");
  const SceneState before = Snapshot();
  host::Runtime::Get().GetJournal().Clear();
  const XSI::CString style(std::wstring(1, static_cast<wchar_t>(0xD800)));
  bt::Run r = bt::RaiseTower({L"T", 1, 1, 1, style});
  EXPECT_FALSE(r.status.Succeeded());
  const std::string error = OwnError();
  EXPECT_NE(error.find("does not hold it as expected"), std::string::npos) << error;
  EXPECT_NE(error.find("was imported as 'p1900_angle\xEF\xBF\xBD'"), std::string::npos) << error;
  ASSERT_EQ(bt::Commands(L"ObjImport").size(), 8u);
  for (const auto* c : bt::Commands(L"ObjImport")) EXPECT_TRUE(c->status.Succeeded());
  EXPECT_EQ(bt::Commands(L"DeleteObj").size(), 8u);
  EXPECT_EQ(Snapshot(), before);
}

}  // namespace
