#include "run_checks.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include <xsi_names.h>

#include "run_state.h"
#include "saved_selection.h"
#include "unit_ops.h"
#include "upper_storey.h"

namespace raisetower {

namespace {

// A count or estimate as digits; very large values in the host's real text.
XSI::CString numberText(double value) {
  if (std::fabs(value) < 1e15) return XSI::CString(std::to_wstring(static_cast<long long>(value)));
  return XSI::CValue(value).GetAsText();
}

XSI::CString codePoint(wchar_t c) { return XSI::CString(XSI::NameCodePoint(c)); }
bool isWhiteSpace(wchar_t c) { return XSI::IsNameWhiteSpace(c); }
bool isControl(wchar_t c) { return XSI::IsNameControl(c); }

// Reads a count: an int, a finite whole real, or text writing one. Empty
// when `out` holds the number; else what is wrong with the argument.
XSI::CString wholeNumber(const wchar_t* argument, const XSI::CValue& value, double& out) {
  const XSI::CString name = quoted(argument);
  const XSI::CString text = value.GetAsText();
  switch (value.GetType()) {
    case XSI::CValue::siInt4:
      out = value.GetAsInt();
      return XSI::CString();
    case XSI::CValue::siFloat:
    case XSI::CValue::siDouble:
      out = value.GetAsDouble();
      break;
    case XSI::CValue::siString:
      switch (XSI::ReadNumber(text, out)) {
        case XSI::NumberText::Ok: break;
        case XSI::NumberText::NotANumber:
          return L"argument " + name + L": " + quoted(text) + L" is not a whole number";
        case XSI::NumberText::OutOfRange:
        case XSI::NumberText::NotFinite:
          return L"argument " + name + L": " + quoted(text) + L" is not a finite number";
      }
      break;
    case XSI::CValue::siEmpty:
      return L"argument " + name + L" is empty: give a whole number of at least 1";
    default:
      return L"argument " + name + L": " + quoted(text) + L" (" + value.GetTypeName() +
             L") is not a whole number";
  }
  if (!std::isfinite(out))
    return L"argument " + name + L": " + quoted(text) + L" is not a finite number";
  if (std::trunc(out) != out)
    return L"argument " + name + L": " + quoted(text) + L" is not a whole number";
  return XSI::CString();
}

XSI::CString lengthProblem(const wchar_t* argument, const XSI::CString& text) {
  if (text.Length() <= kMaxNameLength) return XSI::CString();
  return XSI::CString(L"argument ") + quoted(argument) + L" is " +
         numberText(static_cast<double>(text.Length())) + L" characters long; the limit is " +
         numberText(static_cast<double>(kMaxNameLength));
}

// The host's one object name rule (xsi_names.h).
XSI::CString nameProblem(const XSI::CString& name) {
  if (name.IsEmpty()) return L"argument 'buildingname' is empty: the building needs a name";
  XSI::CString problem = lengthProblem(L"buildingname", name);
  if (!problem.IsEmpty()) return problem;
  const std::wstring why = XSI::ObjectNameProblem(name.Wide());
  if (why.empty()) return XSI::CString();
  return L"argument 'buildingname' " + quoted(name) + L" " + XSI::CString(why);
}

// The style ends up in file paths and in the comma-separated list of
// DeleteObj, so it must stay one plain piece of a file name.
XSI::CString styleProblem(const XSI::CString& type) {
  XSI::CString problem = lengthProblem(L"type", type);
  if (!problem.IsEmpty()) return problem;
  const XSI::CString argument = L"argument 'type' " + quoted(type) + L" must not contain ";
  for (wchar_t c : type.Wide()) {
    if (c == L'/' || c == L'\\' || c == L',')
      return argument + quoted(XSI::CString(std::wstring(1, c)));
    if (isWhiteSpace(c)) return argument + L"white space (" + codePoint(c) + L")";
    if (isControl(c)) return argument + L"the control character " + codePoint(c);
  }
  if (type.Wide().find(L"..") != std::wstring::npos) return argument + L"'..'";
  return XSI::CString();
}

// The names the run uses besides the upper storeys', in the order they are
// reported: building, ground mesh, roof mesh, "newunit", "polymsh", units.
std::vector<XSI::CString> fixedNames(const RunArguments& run) {
  std::vector<XSI::CString> names = {run.buildingName, run.buildingName + L"ground",
                                     run.buildingName + L"roof", kTemporaryUnitName,
                                     kMergeResultName};
  for (const XSI::CString& unit : unitBaseNames(run.type)) names.push_back(unit);
  return names;
}

// A name the run would use twice, or empty. The building's own meshes differ
// by their suffixes; they can meet only the fixed names.
XSI::CString twiceUsedName(const RunArguments& run) {
  const std::vector<XSI::CString> names = fixedNames(run);
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (isUpperStoreyName(names[i], run)) return names[i];
    for (std::size_t j = 0; j < i; ++j)
      if (names[i] == names[j]) return names[i];
  }
  return XSI::CString();
}

// The selection is the SDK's only lookup by name; probe it and put back
// what the user had selected.
class SelectionKeeper {
 public:
  SelectionKeeper() = default;
  ~SelectionKeeper() { saved_.Restore(); }
  SelectionKeeper(const SelectionKeeper&) = delete;
  SelectionKeeper& operator=(const SelectionKeeper&) = delete;

  bool SceneHas(const XSI::CString& name) {
    if (!selection_.SetAsText(name).Succeeded()) return false;
    return XSI::X3DObject(selection_[0]).GetName() == name;
  }

 private:
  const SavedSelection saved_;
  XSI::Selection selection_ = XSI::Application().GetSelection();
};

// Collects clashing names for the message; past a few it only counts.
class ClashList {
 public:
  void Add(const XSI::CString& name) {
    if (++count_ > kShown) return;
    if (!text_.IsEmpty()) text_ += L", ";
    text_ += quoted(name);
  }
  bool IsEmpty() const { return count_ == 0; }
  XSI::CString Text() const {
    if (count_ <= kShown) return text_;
    return text_ + L" and " + numberText(static_cast<double>(count_ - kShown)) + L" more";
  }

 private:
  static constexpr long kShown = 20;
  long count_ = 0;
  XSI::CString text_;
};

bool isReadableFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), R_OK) == 0;
}

// The unit files of `type` the folder lacks (or cannot give), comma-separated.
XSI::CString missingUnits(const std::string& folder, const XSI::CString& type, int& count) {
  XSI::CString missing;
  count = 0;
  for (const XSI::CString& base : unitBaseNames(type)) {
    if (isReadableFile(folder + base.GetUtf8String() + ".obj")) continue;
    if (!missing.IsEmpty()) missing += L", ";
    missing += base + L".obj";
    ++count;
  }
  return missing;
}

// The styles whose eight unit files the folder holds, sorted: every
// p1900_angle<style>.obj names a candidate.
std::vector<std::string> completeStyles(const std::string& folder) {
  std::vector<std::string> styles;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return styles;
  const std::string prefix = "p1900_angle", suffix = ".obj";
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() <= prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
      continue;
    const std::string style = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    int count = 0;
    if (styleProblem(XSI::CString::FromUtf8(style)).IsEmpty() &&
        missingUnits(folder, XSI::CString::FromUtf8(style), count).IsEmpty())
      styles.push_back(style);
  }
  ::closedir(dir);
  std::sort(styles.begin(), styles.end());
  return styles;
}

}  // namespace

XSI::CString unitsLibraryFolder() {
  std::wstring path = unitsLibraryPath.Wide();
  std::replace(path.begin(), path.end(), L'\\', L'/');
  if (path.empty() || path.back() != L'/') path += L'/';
  return XSI::CString(path);
}

XSI::CString unitsLibraryProblem(const XSI::CString& type) {
  const XSI::CString shownFolder = unitsLibraryFolder();
  const std::string folder = shownFolder.GetUtf8String();
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    return L"cannot build with style " + quoted(type) + L": the units library " +
           quoted(shownFolder) + L" is not a folder (it lives in the host folder, scenehost --home)";
  int count = 0;
  const XSI::CString missing = missingUnits(folder, type, count);
  if (missing.IsEmpty()) return XSI::CString();
  XSI::CString message = L"cannot build with style " + quoted(type) + L": the units library " +
                         quoted(shownFolder);
  if (count == static_cast<int>(unitBaseNames(type).size()))
    message += L" has no unit of that style";
  else
    message += L" lacks " + missing;
  const std::vector<std::string> styles = completeStyles(folder);
  if (styles.empty()) return message + L"; it holds no complete style";
  XSI::CString list;
  for (const std::string& style : styles) {
    if (!list.IsEmpty()) list += L", ";
    list += quoted(XSI::CString::FromUtf8(style));
  }
  return message + L"; the styles it holds: " + list;
}

XSI::CString entranceWarning(const RunArguments& run) {
  const std::wstring& face = run.entranceFace.Wide();
  if (face.empty()) return XSI::CString();
  if (face != L"A" && face != L"B" && face != L"C" && face != L"D")
    return L"building " + quoted(run.buildingName) + L" gets no entrance: entrance face " +
           quoted(run.entranceFace) + L" is not one of A, B, C, D (upper case)";
  if (run.entrancePosition < 0 || run.entrancePosition > 3)
    return L"building " + quoted(run.buildingName) + L" gets no entrance: entrance position " +
           XSI::CString(std::to_wstring(run.entrancePosition)) +
           L" is not one of 0 (last), 1 (middle), 2 (first), 3 (random)";
  return XSI::CString();
}

XSI::CString readArguments(const XSI::CValueArray& args, RunArguments& run) {
  run = RunArguments();
  run.buildingName = args[0].GetAsText();
  run.type = args[4].GetAsText();
  run.entranceFace = args[5].GetAsText();
  run.entrancePosition = args[6].GetAsInt();

  XSI::CString problem = nameProblem(run.buildingName);
  if (!problem.IsEmpty()) return problem;

  const wchar_t* const countNames[] = {L"floors", L"unitswidth", L"unitslength"};
  double counts[3] = {0, 0, 0};
  for (int i = 0; i < 3; ++i) {
    problem = wholeNumber(countNames[i], args[i + 1], counts[i]);
    if (!problem.IsEmpty()) return problem;
    if (counts[i] < 1)
      return XSI::CString(L"argument ") + quoted(countNames[i]) + L" must be at least 1, got " +
             numberText(counts[i]);
  }
  const double units = unitCount(counts[0], counts[1], counts[2]);
  if (units > kMaxUnits)
    return L"building " + quoted(run.buildingName) + L" is too big: " + numberText(counts[0]) +
           L" storey(s) and a roof, " + numberText(2 * counts[1] + 2 * counts[2] + 1) +
           L" units each, make " + numberText(units) + L" units; the limit is " +
           numberText(kMaxUnits) + L" units";
  // Within the limit every count is far inside int's range.
  run.floors = static_cast<int>(counts[0]);
  run.unitsWidth = static_cast<int>(counts[1]);
  run.unitsLength = static_cast<int>(counts[2]);

  problem = styleProblem(run.type);
  if (!problem.IsEmpty()) return problem;
  // A building whose own mesh names coincide with a unit file's base name
  // would be confused with that template.
  const XSI::CString twice = twiceUsedName(run);
  if (!twice.IsEmpty())
    return L"argument 'buildingname' " + quoted(run.buildingName) + L" gives the name " +
           quoted(twice) + L", which the run keeps for its own objects (\"newunit\", "
           L"\"polymsh\" and the unit templates of style " + quoted(run.type) + L")";
  return XSI::CString();
}

std::vector<XSI::CString> unitBaseNames(const XSI::CString& type) {
  return {
      L"p1900_angle" + type,         L"p1900_angleroof" + type,
      L"p1900_floor" + type,         L"p1900_floor" + type + L"close",
      L"p1900_ground" + type,        L"p1900_ground" + type + L"close",
      L"p1900_ground" + type + L"door", L"p1900_roof" + type,
  };
}

double unitCount(double floors, double unitsWidth, double unitsLength) {
  return (floors + 1) * (2 * unitsWidth + 2 * unitsLength + 1);
}

double vertexEstimate(const RunArguments& run, const KitVertexCounts& kit) {
  const double walls = 2.0 * (run.unitsWidth - 1) + 2.0 * (run.unitsLength - 1);
  const double ground = 5 * kit.angle + walls * std::max(kit.ground, kit.groundDoor);
  const double upper = 5 * kit.angle + walls * kit.floor;
  const double roof = 5 * kit.angleRoof + walls * kit.roof;
  return ground + (run.floors - 1.0) * upper + roof;
}

XSI::CString vertexProblem(const RunArguments& run, const KitVertexCounts& kit) {
  const double estimate = vertexEstimate(run, kit);
  if (estimate <= kMaxVertices) return XSI::CString();
  return L"building " + quoted(run.buildingName) + L" is too big: its " +
         numberText(unitCount(run.floors, run.unitsWidth, run.unitsLength)) +
         L" units of style " + quoted(run.type) + L" hold about " + numberText(estimate) +
         L" vertices; the limit is " + numberText(kMaxVertices) + L" vertices";
}

bool isUpperStoreyName(const XSI::CString& name, const RunArguments& run) {
  const std::wstring prefix = run.buildingName.Wide() + L"floor";
  const std::wstring& w = name.Wide();
  if (w.size() <= prefix.size() || w.compare(0, prefix.size(), prefix) != 0) return false;
  const std::wstring digits = w.substr(prefix.size());
  // The host writes ints without sign or leading zeros.
  if (digits.size() > 9 || digits[0] == L'0') return false;
  long index = 0;
  for (wchar_t c : digits) {
    if (c < L'0' || c > L'9') return false;
    index = index * 10 + (c - L'0');
  }
  return index >= 1 && index < run.floors;
}

XSI::CString nameClashProblem(const RunArguments& run) {
  ClashList clashes;
  {
    SelectionKeeper keeper;
    const std::vector<XSI::CString> names = fixedNames(run);
    // Reported in the order the run would make them: building, ground,
    // upper storeys, roof, then the rest.
    for (std::size_t i = 0; i < 2; ++i)
      if (keeper.SceneHas(names[i])) clashes.Add(names[i]);
    for (int i = 1; i < run.floors; ++i) {
      const XSI::CString storey = upperStoreyName(run.buildingName, i);
      if (keeper.SceneHas(storey)) clashes.Add(storey);
    }
    for (std::size_t i = 2; i < names.size(); ++i)
      if (keeper.SceneHas(names[i])) clashes.Add(names[i]);
  }
  if (clashes.IsEmpty()) return XSI::CString();
  return L"the scene already holds an object named " + clashes.Text() +
         L", which building " + quoted(run.buildingName) +
         L" would overwrite or merge; rename it or choose another building name";
}

}  // namespace raisetower
