#include "run_checks.h"

#include <map>

#include "unit_ops.h"
#include "upper_storey.h"

namespace raisetower {

namespace {

XSI::CString quoted(const XSI::CString& text) { return L"'" + text + L"'"; }

XSI::CString countProblem(const wchar_t* argument, int value) {
  if (value >= 1) return XSI::CString();
  return XSI::CString(L"argument ") + quoted(argument) + L" must be at least 1, got " +
         XSI::CValue(value).GetAsText();
}

// The selection is the SDK's only lookup by name; probe it and put back
// what the user had selected.
class SelectionKeeper {
 public:
  SelectionKeeper() : saved_(selection_.GetAsText()) {}
  ~SelectionKeeper() {
    if (saved_.IsEmpty()) {
      selection_.Clear();
    } else {
      selection_.SetAsText(saved_);
    }
  }
  SelectionKeeper(const SelectionKeeper&) = delete;
  SelectionKeeper& operator=(const SelectionKeeper&) = delete;

  bool SceneHas(const XSI::CString& name) {
    if (!selection_.SetAsText(name).Succeeded()) return false;
    return XSI::X3DObject(selection_[0]).GetName() == name;
  }

 private:
  XSI::Selection selection_ = XSI::Application().GetSelection();
  XSI::CString saved_;
};

}  // namespace

RunArguments readArguments(const XSI::CValueArray& args) {
  RunArguments run;
  run.buildingName = args[0].GetAsText();
  run.floors = args[1].GetAsInt();
  run.unitsWidth = args[2].GetAsInt();
  run.unitsLength = args[3].GetAsInt();
  run.type = args[4].GetAsText();
  run.entranceFace = args[5].GetAsText();
  run.entrancePosition = args[6].GetAsInt();
  return run;
}

std::vector<XSI::CString> unitBaseNames(const XSI::CString& type) {
  return {
      L"p1900_angle" + type,         L"p1900_angleroof" + type,
      L"p1900_floor" + type,         L"p1900_floor" + type + L"close",
      L"p1900_ground" + type,        L"p1900_ground" + type + L"close",
      L"p1900_ground" + type + L"door", L"p1900_roof" + type,
  };
}

std::vector<XSI::CString> namesUsedByRun(const RunArguments& run) {
  std::vector<XSI::CString> names;
  names.push_back(run.buildingName);
  names.push_back(run.buildingName + L"ground");
  for (int i = 1; i < run.floors; ++i) names.push_back(upperStoreyName(run.buildingName, i));
  names.push_back(run.buildingName + L"roof");
  names.push_back(kTemporaryUnitName);
  names.push_back(kMergeResultName);
  for (const XSI::CString& unit : unitBaseNames(run.type)) names.push_back(unit);
  return names;
}

XSI::CString argumentProblem(const RunArguments& run) {
  if (run.buildingName.IsEmpty())
    return L"argument 'buildingname' is empty: the building needs a name";
  // Mesh lists are passed to the host comma-separated.
  if (run.buildingName.Wide().find(L',') != std::wstring::npos)
    return L"argument 'buildingname' " + quoted(run.buildingName) +
           L" must not contain a comma";
  for (const auto& [argument, value] : {std::pair<const wchar_t*, int>{L"floors", run.floors},
                                        {L"unitswidth", run.unitsWidth},
                                        {L"unitslength", run.unitsLength}}) {
    XSI::CString problem = countProblem(argument, value);
    if (!problem.IsEmpty()) return problem;
  }
  // A building whose own mesh names coincide with a unit file's base name
  // would be confused with that template.
  std::map<XSI::CString, int> seen;
  for (const XSI::CString& name : namesUsedByRun(run)) {
    if (++seen[name] == 2)
      return L"argument 'buildingname' " + quoted(run.buildingName) + L" gives the name " +
             quoted(name) + L", which the run keeps for its own objects (\"newunit\", "
             L"\"polymsh\" and the unit templates of style " + quoted(run.type) + L")";
  }
  return XSI::CString();
}

XSI::CString nameClashProblem(const RunArguments& run) {
  XSI::CString clashes;
  {
    SelectionKeeper keeper;
    for (const XSI::CString& name : namesUsedByRun(run)) {
      if (!keeper.SceneHas(name)) continue;
      if (!clashes.IsEmpty()) clashes += L", ";
      clashes += quoted(name);
    }
  }
  if (clashes.IsEmpty()) return clashes;
  return L"the scene already holds an object named " + clashes +
         L", which building " + quoted(run.buildingName) +
         L" would overwrite or merge; rename it or choose another building name";
}

}  // namespace raisetower
