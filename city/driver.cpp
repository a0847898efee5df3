#include "driver.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <cmath>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <xsi_progress.h>
#include <xsi_value.h>

#include "budget.h"
#include "kit.h"
#include "layout.h"
#include "recipe.h"
#include "survey.h"

namespace city {
namespace {

using XSI::Application;
using XSI::CRef;
using XSI::CStatus;
using XSI::CString;
using XSI::CValue;
using XSI::CValueArray;

constexpr const wchar_t* kTerrainName = L"terrain";
// The terrain samples about this many pixels across its longer side.
constexpr long kTerrainSamples = 512;

CString Wide(const std::string& s) { return CString::FromUtf8(s); }
CString Number(long long v) { return CString(std::to_wstring(v)); }
std::string Utf8(const CString& s) { return s.GetUtf8String(); }

void LogError(const CString& text) { Application().LogMessage(L"RaiseCity: " + text, XSI::siErrorMsg); }
void LogInfo(const CString& text) { Application().LogMessage(L"RaiseCity: " + text, XSI::siInfoMsg); }

CStatus Run(const wchar_t* command, std::initializer_list<CValue> args, CValue& out) {
  CValueArray a;
  for (const CValue& v : args) a.Add(v);
  return Application().ExecuteCommand(command, a, out);
}

bool ObjectExists(const CString& name) { return Application().GetActiveSceneRoot().FindChild(name).IsValid(); }

// One building to raise.
struct Plan {
  CString name;
  const Zone* zone = nullptr;
  Lot lot;
  Footprint footprint;
  int floors = 1;
  double x = 0, y = 0, z = 0;  // where the centre of its bounding box goes
};

// What the run has changed, so a failure can take it back.
class Undo {
 public:
  explicit Undo(std::uint64_t runStart) : runStart_(runStart), selection_(Application().GetSelection().GetAsText()) {}
  // A clip of a greater id than the run's context was loaded by this run.
  void NoteClip(const CRef& clip) {
    if (clip.GetId() > runStart_) clips_.push_back(XSI::SIObject(clip).GetName());
  }
  void NoteObject(const CString& name) { objects_.push_back(name); }
  std::size_t Objects() const { return objects_.size(); }
  void Commit() { objects_.clear(), clips_.clear(); }

  // Deletes what the run made and restores the selection; names what resisted.
  CString Rollback() {
    CString left;
    CValue out;
    for (auto it = objects_.rbegin(); it != objects_.rend(); ++it)
      if (ObjectExists(*it) && !Run(L"DeleteObj", {*it}, out).Succeeded()) left += L" '" + *it + L"'";
    for (const CString& clip : clips_)
      if (!Run(L"DeleteImageClip", {clip}, out).Succeeded()) left += L" clip '" + clip + L"'";
    XSI::Selection selection = Application().GetSelection();
    if (selection_.IsEmpty()) selection.Clear();
    else selection.SetAsText(selection_);
    Commit();
    return left.IsEmpty() ? CString() : L"; could not remove" + left;
  }

 private:
  std::uint64_t runStart_;
  CString selection_;
  std::vector<CString> objects_;
  std::vector<CString> clips_;
};

// Loads an image through the host, as findSpots does, so its run shares it.
bool LoadClip(const std::string& path, const wchar_t* what, Undo& undo, XSI::Image& image, CString& error) {
  CValue out;
  const CStatus status = Run(L"CreateImageClip", {Wide(path)}, out);
  const XSI::ImageClip2 clip(out.GetAsRef());
  if (!status.Succeeded() || !clip.IsValid()) {
    error = CString(L"cannot load ") + what + L" '" + Wide(path) + L"'";
    return false;
  }
  undo.NoteClip(clip.GetRef());
  image = clip.GetImage();
  if (!image.IsValid() || image.GetResX() < 2 || image.GetResY() < 2) {
    error = CString(what) + L" '" + Wide(path) + L"' is smaller than 2 x 2 pixels";
    return false;
  }
  return true;
}

struct Survey {
  std::vector<Plan> plans;
  std::vector<long> found, skipped;  // per zone
  double cell = 0;                    // the largest cell of the zones' kits
};

// findSpots for one zone; the lots it reports, or false (logged by findSpots).
bool FindLots(const Recipe& r, const Zone& zone, std::vector<Lot>& lots, CString& error) {
  CValueArray a;
  a.Add(Wide(r.imagesPath));
  a.Add(Wide(r.map));
  a.Add(CValue(static_cast<long>(zone.minPixels - 1)));
  a.Add(CValue(true));
  for (int i = 0; i < 3; ++i) a.Add(CValue(ChannelCentre(zone.rgb[i])));
  for (int i = 0; i < 3; ++i) a.Add(CValue(ChannelHalfWidth(zone.range[i])));
  a.Add(CValue(0.0f));
  a.Add(CValue(0.0f));
  // A DEM in metres is sampled through the host after the survey.
  a.Add(CValue(r.elevation && !r.elevationMetres));
  CValue out;
  if (!Application().ExecuteCommand(L"findSpots", a, out).Succeeded()) {
    error = L"zone '" + Wide(zone.name) + L"': findSpots failed";
    return false;
  }
  std::string parseError;
  if (!ParseLots(Utf8(out.GetAsText()), lots, parseError)) {
    error = L"zone '" + Wide(zone.name) + L"': " + Wide(parseError);
    return false;
  }
  return true;
}

bool PlanZone(const Recipe& r, std::size_t zi, const KitSize& kit, const XSI::Image& map, Survey& s,
              std::set<CString>& names, CString& error) {
  const Zone& zone = r.zones[zi];
  std::vector<Lot> lots;
  if (!FindLots(r, zone, lots, error)) return false;
  const MapFrame frame{map.GetResX(), map.GetResY(), r.scale};
  LotFinder finder(map, RangeOf(zone));
  long skipped = 0;
  for (const Lot& lot : lots) {
    PixelBox box;
    Plan p;
    p.footprint = finder.BoxOf(lot, box) ? LargestFootprint(frame, box, lot.centreX, frame.height - 1 - lot.centreY, kit)
                                         : Footprint{};
    if (!p.footprint.Fits()) {
      ++skipped;
      continue;
    }
    p.name = Wide(zone.name) + L"_" + Number(lot.index);
    if (!names.insert(p.name).second || ObjectExists(p.name)) {
      error = L"zone '" + Wide(zone.name) + L"': the scene already holds an object named '" + p.name + L"'";
      return false;
    }
    p.zone = &zone;
    p.lot = lot;
    p.floors = LotFloors(r.seed, zi, lot.centreX, frame.height - 1 - lot.centreY, zone.floorsMin, zone.floorsMax);
    const double ground = r.elevation && !r.elevationMetres ? lot.elevation * r.height / 255.0 : 0.0;
    p.x = SceneX(frame, lot.centreX);
    p.z = SceneZ(frame, frame.height - 1 - lot.centreY);
    p.y = ground + BuildingHeight(kit, p.floors) / 2.0;
    s.plans.push_back(p);
  }
  s.found.push_back(static_cast<long>(lots.size()));
  s.skipped.push_back(skipped);
  s.cell = std::max(s.cell, kit.cell);
  return true;
}

// A DEM in metres is read through the host's raster commands, never decoded
// as a picture.
bool CheckDemSize(const Recipe& r, const XSI::Image& map, CString& error) {
  CValue out;
  const CStatus st = Run(L"GetRasterInfo", {Wide(r.ElevationPath())}, out);
  const nlohmann::json info = nlohmann::json::parse(Utf8(out.GetAsText()), nullptr, false);
  const bool same = st.Succeeded() && info.is_object() && info.value("width", -1L) == map.GetResX() &&
                    info.value("height", -1L) == map.GetResY();
  if (!same) {
    error = L"elevation map '" + Wide(r.ElevationPath()) + L"' cannot be read or is not the size of map '" +
            Wide(r.MapPath()) + L"'";
    return false;
  }
  return true;
}

// Each building's ground from band 1 of the DEM at its lot's centre.
bool GroundFromDem(const Recipe& r, const XSI::Image& map, Survey& s, CString& error) {
  if (s.plans.empty()) return true;
  std::string points;
  for (const Plan& p : s.plans)
    points += (points.empty() ? "" : ";") + std::to_string(p.lot.centreX) + " " +
              std::to_string(map.GetResY() - 1 - p.lot.centreY);
  CValue out;
  if (!Run(L"SampleRaster", {Wide(r.ElevationPath()), Wide(points)}, out).Succeeded()) {
    error = L"cannot read the heights of the lots from '" + Wide(r.ElevationPath()) + L"'";
    return false;
  }
  const std::string text = Utf8(out.GetAsText());
  std::size_t at = 0;
  for (Plan& p : s.plans) {
    const std::size_t end = std::min(text.find(';', at), text.size());
    double ground = 0;
    if (at > text.size() ||
        XSI::ReadNumber(std::string_view(text).substr(at, end - at), ground) != XSI::NumberText::Ok) {
      error = L"SampleRaster gave no height for lot '" + p.name + L"'";
      return false;
    }
    p.y += ground;
    at = end + 1;
  }
  return true;
}

// Everything that can be checked before the scene changes.
bool Prepare(const Recipe& r, Undo& undo, XSI::Image& map, Survey& s, CString& error) {
  const std::string units = Utf8(Application().GetInstallationPath(XSI::siUserPath)) + "/builder/objs/";
  std::vector<KitSize> kits;
  for (const Zone& zone : r.zones) {
    KitSize kit;
    std::string kitError;
    if (!MeasureKit(units, zone.style, kit, kitError)) {
      error = L"recipe '" + Wide(r.file) + L"': zone '" + Wide(zone.name) + L"': " + Wide(kitError);
      return false;
    }
    kits.push_back(kit);
  }
  if (r.elevation && ObjectExists(kTerrainName)) {
    error = L"the scene already holds an object named 'terrain'";
    return false;
  }
  if (!LoadClip(r.MapPath(), L"map", undo, map, error)) return false;
  if (r.elevation && r.elevationMetres && !CheckDemSize(r, map, error)) return false;
  if (r.elevation && !r.elevationMetres) {
    XSI::Image elevation;
    if (!LoadClip(r.ElevationPath(), L"elevation map", undo, elevation, error)) return false;
    if (elevation.GetResX() != map.GetResX() || elevation.GetResY() != map.GetResY()) {
      error = L"elevation map '" + Wide(r.ElevationPath()) + L"' is not the size of map '" + Wide(r.MapPath()) + L"'";
      return false;
    }
  }
  std::set<CString> names;
  for (std::size_t zi = 0; zi < r.zones.size(); ++zi)
    if (!PlanZone(r, zi, kits[zi], map, s, names, error)) return false;
  // The whole city's size, before the first building is raised.
  std::vector<PlannedBuilding> planned;
  for (const Plan& p : s.plans)
    planned.push_back({p.zone->name, double(p.floors), double(p.footprint.width), double(p.footprint.length),
                       kits[static_cast<std::size_t>(p.zone - r.zones.data())].units});
  error = Wide(BudgetProblem(CheckBudget(planned)));
  if (!error.IsEmpty()) error = L"recipe '" + Wide(r.file) + L"' is too big: " + error;
  if (!error.IsEmpty()) return false;
  return !(r.elevation && r.elevationMetres) || GroundFromDem(r, map, s, error);
}

CStatus MakeTerrain(const Recipe& r, const XSI::Image& map, Undo& undo, CString& error) {
  const long longer = std::max(map.GetResX(), map.GetResY());
  const long step = std::max(1L, (longer + kTerrainSamples - 1) / kTerrainSamples);
  CValue out;
  const CStatus st =
      r.elevationMetres
          ? Run(L"CreateHeightField", {Wide(r.ElevationPath()), kTerrainName, map.GetResX() * r.scale,
                                       map.GetResY() * r.scale, 1.0, CValue(step), CValue(0L), CValue(0L),
                                       CValue(map.GetResX()), CValue(map.GetResY()), CValue(L"metres")}, out)
          : Run(L"CreateHeightField", {Wide(r.ElevationPath()), kTerrainName, map.GetResX() * r.scale,
                                       map.GetResY() * r.scale, r.height, CValue(step)}, out);
  if (!st.Succeeded()) {
    error = L"making the terrain failed: CreateHeightField returned status " + Number(st.GetCode());
    return st;
  }
  undo.NoteObject(kTerrainName);
  return CStatus::OK;
}

CStatus Raise(const Plan& p, Undo& undo, CString& error) {
  CValue out;
  const CStatus st = Run(L"RaiseTower", {p.name, CValue(p.floors), CValue(p.footprint.width), CValue(p.footprint.length),
                                         Wide(p.zone->style), CString(std::wstring(1, wchar_t(p.zone->entrance))),
                                         CValue(1)}, out);
  const CString lot = L"lot '" + p.name + L"' (zone '" + Wide(p.zone->name) + L"', blob " + Number(p.lot.index) + L")";
  if (!st.Succeeded()) {
    error = lot + L": RaiseTower failed with status " + Number(st.GetCode());
    return st;
  }
  undo.NoteObject(p.name);
  const CStatus moved = Run(L"Translate", {p.name, p.x, p.y, p.z, CValue(0)}, out);
  if (!moved.Succeeded()) {
    error = lot + L": Translate failed with status " + Number(moved.GetCode());
    return moved;
  }
  return CStatus::OK;
}

void LogZones(const Recipe& r, const Survey& s) {
  for (std::size_t zi = 0; zi < r.zones.size(); ++zi)
    LogInfo(L"zone '" + Wide(r.zones[zi].name) + L"': " + Number(s.found[zi]) + L" lot(s), " +
            Number(s.found[zi] - s.skipped[zi]) + L" raised, " + Number(s.skipped[zi]) +
            L" skipped (too small for a 1 x 1 footprint)");
}

// A run that raises nothing still succeeds (and makes the terrain), but
// says why before the long part starts.
void WarnIfNothingRaised(const Recipe& r, const Survey& s) {
  if (!s.plans.empty()) return;
  long found = 0;
  for (long n : s.found) found += n;
  CString why;
  if (found == 0) {
    why = L"findSpots found no lot of any zone's colour in map '" + Wide(r.MapPath()) + L"'";
  } else {
    std::wostringstream scale, across, cell;
    scale << r.scale;
    across << std::ceil(2 * s.cell / r.scale);
    cell << s.cell;
    why = L"none of the " + Number(found) + L" lot(s) is big enough for a 1 x 1 footprint at scale " +
          CString(scale.str()) + L": a building needs a lot about " + CString(across.str()) +
          L" pixels across (two cells of " + CString(cell.str()) + L" units); raise the scale";
  }
  Application().LogMessage(L"RaiseCity: no building will be raised: " + why, XSI::siWarningMsg);
}

CStatus Build(const Recipe& r, const XSI::Image& map, const Survey& s, Undo& undo, CString& error) {
  XSI::ProgressBar bar;
  // The recipe's file name, not its whole path: a caption has little room.
  const std::string name = r.file.substr(r.file.find_last_of('/') + 1);
  if (!s.plans.empty()) bar.Start(static_cast<long>(s.plans.size()), L"RaiseCity " + Wide(name));
  if (r.elevation) {
    const CStatus st = MakeTerrain(r, map, undo, error);
    if (!st.Succeeded()) return st;
  }
  for (const Plan& p : s.plans) {
    if (bar.IsCancelled()) {
      error = L"cancelled before lot '" + p.name + L"'";
      return CStatus::Abort;
    }
    bar.SetStatusText(L"lot " + p.name);
    const CStatus st = Raise(p, undo, error);
    if (!st.Succeeded()) return st;
    bar.Increment();
  }
  return CStatus::OK;
}

}  // namespace

CStatus executeRaiseCity(CRef& contextRef) {
  XSI::Context context(contextRef);
  const CValueArray args = context.GetAttribute(L"Arguments").GetAsArray();
  const CString file = args[0].GetAsText();
  Recipe recipe;
  std::string recipeError;
  if (file.IsEmpty() || !ReadRecipe(Utf8(file), recipe, recipeError)) {
    LogError(file.IsEmpty() ? CString(L"expects the path of a recipe file") : Wide(recipeError));
    return CStatus::InvalidArgument;
  }
  Undo undo(contextRef.GetId());
  XSI::Image map;
  Survey survey;
  CString error;
  if (!Prepare(recipe, undo, map, survey, error)) {
    LogError(error + undo.Rollback());
    return CStatus::InvalidArgument;
  }
  WarnIfNothingRaised(recipe, survey);
  const CStatus built = Build(recipe, map, survey, undo, error);
  if (!built.Succeeded()) {
    LogError(error + L"; the city was removed" + undo.Rollback());
    return built.GetCode() == CStatus::Abort ? CStatus::Abort : built;
  }
  undo.Commit();
  LogZones(recipe, survey);
  context.PutAttribute(L"ReturnValue", CValue(static_cast<long>(survey.plans.size())));
  return CStatus::OK;
}

}  // namespace city
