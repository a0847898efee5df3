// Shared helpers for the RaiseTower tests: the real plug-in loaded into the
// real runtime, a fresh scene per test, runs of the command, and readers for
// the journal (commands, parameter writes, log lines) and the units files.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "plugin_loader.h"
#include "runtime.h"
#include "xsi_plugin.h"
#include "temp_dir.h"

namespace bt {

namespace fs = std::filesystem;

inline const std::string kRepoHome = XSI_SOURCE_DIR "/home";
inline const std::string kPluginPath = XSI_BINARY_DIR "/plugins/RaiseTower.so";

// The plug-in stays loaded across tests; a test that unloads it on purpose
// calls UnloadPlugin and the next LoadPlugin loads it again.
inline std::unique_ptr<host::PluginManager>& PluginSlot() {
  static std::unique_ptr<host::PluginManager> pm;
  return pm;
}
inline void LoadPlugin() {
  // The runtime must outlive the manager, whose destructor unloads through it:
  // make sure it is built before the manager's slot.
  host::Runtime& runtime = host::Runtime::Get();
  auto& pm = PluginSlot();
  if (pm) return;
  pm = std::make_unique<host::PluginManager>(runtime);
  ASSERT_TRUE(pm->Load(kPluginPath).Succeeded()) << kPluginPath;
}
inline void UnloadPlugin() { PluginSlot().reset(); }

// Every test starts from an empty scene with the repository's units library.
class BuildingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadPlugin();
    host::Runtime::Get().SetHomePath(kRepoHome);
    host::Runtime::Get().ResetScene();
  }
};

using testsupport::TempDir;

// A home folder of the test's own, so single units files can be missing,
// broken or stored under other names: FillUnits puts the test's files into
// its builder/objs folder. The units folder is fixed when the command is
// defined, so the plug-in is loaded afresh for this home, and unloaded again
// (back to the repository's home) after the test.
class OwnHomeTest : public BuildingTest {
 protected:
  virtual void FillUnits(const fs::path& objs) = 0;
  fs::path Objs() const { return home_.path() / "builder" / "objs"; }

  void SetUp() override {
    BuildingTest::SetUp();
    fs::create_directories(Objs());
    FillUnits(Objs());
    UnloadPlugin();
    host::Runtime::Get().SetHomePath(home_.path().string());
    LoadPlugin();
    host::Runtime::Get().ResetScene();
  }
  void TearDown() override {
    UnloadPlugin();
    host::Runtime::Get().SetHomePath(kRepoHome);
  }
  TempDir home_;
};

struct Run {
  XSI::CStatus status;
  XSI::CValue out;
};

// Runs RaiseTower with the given positional arguments.
inline Run RaiseTower(const std::vector<XSI::CValue>& args) {
  XSI::CValueArray a;
  for (const auto& v : args) a.Add(v);
  Run r;
  r.status = XSI::Application().ExecuteCommand(L"RaiseTower", a, r.out);
  return r;
}

// The usual run: name, floors, width, length, style, face, position.
inline Run RaiseTower(const wchar_t* name, int floors, int width, int length,
                      const wchar_t* type = L"brick", const wchar_t* face = L"A",
                      int position = 1) {
  return RaiseTower({name, floors, width, length, type, face, position});
}

inline const host::Journal::EntryList& Journal() {
  return host::Runtime::Get().GetJournal().Entries();
}

inline std::string Utf8(const XSI::CString& s) { return s.GetUtf8String(); }

// Host commands run from inside RaiseTower (the RaiseTower entry excluded).
inline std::vector<const host::JournalEntry*> Commands(const wchar_t* name = nullptr) {
  std::vector<const host::JournalEntry*> out;
  for (const auto& e : Journal()) {
    if (e.kind != host::JournalEntry::Command || e.name == L"RaiseTower") continue;
    if (name == nullptr || e.name == name) out.push_back(&e);
  }
  return out;
}

inline std::vector<std::string> Errors() {
  std::vector<std::string> out;
  for (const auto& e : Journal())
    if (e.kind == host::JournalEntry::Log && e.severity == 2) out.push_back(Utf8(e.name));
  return out;
}

// One placeUnit call as the journal shows it: the template copied, the
// rotation and position written on the copy, the mesh it was merged into.
struct Placement {
  std::string unit;
  float roty = 0, posx = 0, posz = 0;
  std::string mesh;
};

// Placements in journal order. Seed pieces (a copy renamed to something
// other than "newunit") are left out.
inline std::vector<Placement> Placements() {
  std::vector<Placement> out;
  const auto& j = Journal();
  for (std::size_t i = 0; i + 1 < j.size(); ++i) {
    if (j[i].kind != host::JournalEntry::Command || j[i].name != L"Duplicate") continue;
    const auto& rename = j[i + 1];
    if (rename.kind != host::JournalEntry::ParamWrite || rename.value.GetAsText() != L"newunit")
      continue;
    Placement p;
    p.unit = Utf8(j[i].args.at(0).GetAsText());
    for (std::size_t k = i + 2; k < j.size(); ++k) {
      const auto& e = j[k];
      if (e.kind == host::JournalEntry::ParamWrite && e.object == L"newunit") {
        if (e.name == L"roty") p.roty = e.value.GetAsFloat();
        if (e.name == L"posx") p.posx = e.value.GetAsFloat();
        if (e.name == L"posz") p.posz = e.value.GetAsFloat();
      }
      if (e.kind == host::JournalEntry::Command && e.name == L"ApplyGenOp") {
        std::string inputs = Utf8(e.args.at(2).GetAsText());
        p.mesh = inputs.substr(0, inputs.find(','));
        break;
      }
    }
    out.push_back(p);
  }
  return out;
}

inline std::vector<Placement> PlacementsInto(const std::string& mesh) {
  std::vector<Placement> out;
  for (const Placement& p : Placements())
    if (p.mesh == mesh) out.push_back(p);
  return out;
}

// Parameter writes on one object, in order, as "param=value".
inline std::vector<std::string> WritesOn(const wchar_t* object) {
  std::vector<std::string> out;
  for (const auto& e : Journal()) {
    if (e.kind != host::JournalEntry::ParamWrite || e.object != object) continue;
    out.push_back(Utf8(e.name) + "=" + Utf8(e.value.GetAsText()));
  }
  return out;
}

inline std::vector<std::string> SceneNames() {
  std::vector<std::string> out;
  for (host::SceneObject* o : host::Runtime::Get().GetScene().Objects()) out.push_back(Utf8(o->name));
  return out;
}

// Polygon and triangle counts of one units file.
struct UnitCounts {
  std::size_t polygons = 0, triangles = 0;
};
inline UnitCounts CountUnit(const std::string& home, const std::string& base) {
  UnitCounts c;
  std::ifstream in(home + "/builder/objs/" + base + ".obj");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("f ", 0) != 0) continue;
    std::size_t corners = 0;
    for (std::size_t i = 1; i < line.size(); ++i)
      if (line[i - 1] == ' ' && line[i] != ' ') ++corners;
    ++c.polygons;
    c.triangles += corners - 2;
  }
  return c;
}

// What a W x L building of `floors` storeys is made of, summed over units,
// with `doors` entrance units (0 or 1) among the ground storey's walls.
inline UnitCounts ExpectedCounts(const std::string& home, const std::string& style, int floors,
                                 int w, int l, std::size_t doors) {
  auto unit = [&](const std::string& prefix, const std::string& suffix = "") {
    return CountUnit(home, "p1900_" + prefix + style + suffix);
  };
  const std::size_t walls = 2 * (w - 1) + 2 * (l - 1);
  UnitCounts angle = unit("angle"), ground = unit("ground"), door = unit("ground", "door"),
             floor = unit("floor"), roofEdge = unit("roof"), roofCorner = unit("angleroof");
  UnitCounts total;
  auto add = [&](const UnitCounts& u, std::size_t times) {
    total.polygons += u.polygons * times;
    total.triangles += u.triangles * times;
  };
  add(angle, 5 * static_cast<std::size_t>(floors));  // seed + 4 corners per storey
  add(ground, walls - doors);
  add(door, doors);
  add(floor, walls * static_cast<std::size_t>(floors - 1));
  add(roofCorner, 5);
  add(roofEdge, walls);
  return total;
}

// A snapshot of what a user could see: names, transforms and mesh sizes of
// every object, and the selection.
struct SceneState {
  std::vector<std::string> objects;
  std::string selection;
  bool operator==(const SceneState& o) const {
    return objects == o.objects && selection == o.selection;
  }
};

inline SceneState Snapshot() {
  SceneState s;
  for (host::SceneObject* o : host::Runtime::Get().GetScene().Objects()) {
    std::shared_ptr<const host::Mesh> m = o->geometry.Snapshot();
    std::string line = Utf8(o->name);
    for (double v : o->xf.pos) line += " " + std::to_string(v);
    for (double v : o->xf.rot) line += " " + std::to_string(v);
    if (m) line += " f" + std::to_string(m->FaceCount()) + " v" + std::to_string(m->VertexCount());
    s.objects.push_back(line);
  }
  s.selection = Utf8(XSI::Application().GetSelection().GetAsText());
  return s;
}

// A user object: one of the kit's units imported and renamed.
inline void AddUserObject(const wchar_t* name) {
  XSI::CValueArray args;
  XSI::CValue out;
  args.Add(XSI::CString::FromUtf8(kRepoHome + "/builder/objs/p1900_roofglass.obj"));
  ASSERT_TRUE(XSI::Application().ExecuteCommand(L"ObjImport", args, out).Succeeded());
  args.Clear();
  args.Add(L"p1900_roofglass.Name");
  args.Add(name);
  ASSERT_TRUE(XSI::Application().ExecuteCommand(L"SetValue", args, out).Succeeded());
  host::SceneObject* obj = host::Runtime::Get().GetScene().Find(name);
  ASSERT_NE(obj, nullptr);
  obj->xf.pos[0] = 3.0;  // somewhere the run would move it from
}

}  // namespace bt
