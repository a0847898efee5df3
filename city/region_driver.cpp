#include "region_driver.h"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
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
#include "region_lots.h"
#include "region_plan.h"
#include "region_tileset.h"
#include "survey.h"

namespace city {

const wchar_t* const kRegionCommandName = L"RaiseRegion";

namespace {

using nlohmann::json;
using nlohmann::ordered_json;
using XSI::Application;
using XSI::CStatus;
using XSI::CString;
using XSI::CValue;
using XSI::CValueArray;

// Bumped whenever a tile's bytes would change for the same inputs, so a
// resumed region never mixes tiles of two versions.
constexpr const char* kTileFormat = "scenehost-region-1";
// Most mesh vertices in one tile content; a leaf over it is cut into pieces.
constexpr long kContentVertexBudget = 500000;
// How far a block strays from its building: the units' relief out of the
// facade and the roof's rise, at most this many metres in a units library
// laid out as home/builder/README.md describes.
constexpr double kBlockRelief = 2.0;
// Samples across the longer side of a tile's terrain, at every level.
constexpr long kTerrainSamples = 256;
// The coarse terrain keeps this share of its triangles.
constexpr double kTerrainKeep = 0.25;

CString Wide(const std::string& s) { return CString::FromUtf8(s); }
std::string Utf8(const CString& s) { return s.GetUtf8String(); }
std::string Str(long v) { return std::to_string(v); }

void LogError(const CString& text) { Application().LogMessage(L"RaiseRegion: " + text, XSI::siErrorMsg); }
void LogInfo(const CString& text) { Application().LogMessage(L"RaiseRegion: " + text, XSI::siInfoMsg); }

// Runs a host command; on failure `error` names it and its status.
bool Run(const wchar_t* command, const std::vector<CValue>& args, CValue& out, std::string& error) {
  CValueArray a;
  for (const CValue& v : args) a.Add(v);
  const CStatus st = Application().ExecuteCommand(command, a, out);
  if (st.Succeeded()) return true;
  error = Utf8(command) + " failed with status " + std::to_string(st.GetCode()) + " (see the error above)";
  return false;
}

bool RunJson(const wchar_t* command, const std::vector<CValue>& args, json& out, std::string& error) {
  CValue v;
  if (!Run(command, args, v, error)) return false;
  out = json::parse(Utf8(v.GetAsText()), nullptr, false);
  if (out.is_discarded() || !out.is_object()) {
    error = Utf8(command) + " returned something other than a JSON object";
    return false;
  }
  return true;
}

bool ObjectExists(const std::string& name) {
  return Application().GetActiveSceneRoot().FindChild(Wide(name)).IsValid();
}

struct Colour {
  double r = 0.6, g = 0.6, b = 0.6;
};

// The diffuse colour of "<style>_roof" in the style's .mtl: the colour a
// building's block wears. Grey when the library does not say.
Colour RoofColour(const std::string& units, const std::string& style) {
  Colour c;
  std::ifstream in(units + style + ".mtl");
  std::string line;
  bool inRoof = false;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string key;
    words >> key;
    if (key == "newmtl") {
      std::string name;
      words >> name;
      inRoof = name == style + "_roof";
    } else if (key == "Kd" && inRoof) {
      double v[3];
      bool ok = true;
      for (double& x : v) {
        std::string w;
        words >> w;
        ok = ok && XSI::ReadNumber(w, x) == XSI::NumberText::Ok && x >= 0 && x <= 1;
      }
      if (ok) c = Colour{v[0], v[1], v[2]};
    }
  }
  return c;
}

// What every form of the command needs: the recipe, the maps' size and place,
// the kits and the grid. Checked before anything is written.
struct Region {
  Recipe recipe;
  std::string recipeText;
  long width = 0, height = 0;
  double pixel = 1;  // metres per pixel
  bool georeferenced = false;
  double lon = 0, lat = 0;
  std::vector<KitSize> kits;
  std::vector<Colour> roofs;
  RegionGrid grid{1, 1, 1};
};

bool RasterSize(const std::string& path, const char* what, json& info, std::string& error) {
  std::string e;
  if (!RunJson(L"GetRasterInfo", {Wide(path)}, info, e)) {
    error = std::string("cannot read the ") + what + " '" + path + "'";
    return false;
  }
  if (!info["width"].is_number_integer() || !info["height"].is_number_integer()) {
    error = std::string("the ") + what + " '" + path + "' has no size";
    return false;
  }
  return true;
}

bool LoadRegion(const std::string& file, Region& g, std::string& error) {
  if (!ReadRecipe(file, g.recipe, error, RecipeKind::Region, &g.recipeText)) return false;
  const Recipe& r = g.recipe;
  const std::string units = Utf8(Application().GetInstallationPath(XSI::siUserPath)) + "/builder/objs/";
  for (const Zone& zone : r.zones) {
    KitSize kit;
    std::string kitError;
    if (!MeasureKit(units, zone.style, kit, kitError)) {
      error = "recipe '" + file + "': zone '" + zone.name + "': " + kitError;
      return false;
    }
    g.kits.push_back(kit);
    g.roofs.push_back(RoofColour(units, zone.style));
  }
  json info;
  if (!RasterSize(r.MapPath(), "map", info, error)) return false;
  g.width = info["width"].get<long>();
  g.height = info["height"].get<long>();
  if (g.width < 2 || g.height < 2) {
    error = "the map '" + r.MapPath() + "' is smaller than 2 x 2 pixels";
    return false;
  }
  g.pixel = r.scale;
  if (info.value("georeferenced", false) && info["pixel_size_m"].is_array() && info["centre"].is_object()) {
    const double px = info["pixel_size_m"][0].get<double>();
    if (std::isfinite(px) && px > 0) {
      if (std::fabs(px - r.scale) > 0.01 * px)
        LogInfo(Wide("the map's pixels are " + std::to_string(px) + " m; the recipe's scale " +
                     std::to_string(r.scale) + " gives way to the map's georeference"));
      g.pixel = px;
      g.georeferenced = true;
      g.lon = info["centre"]["lon"].get<double>();
      g.lat = info["centre"]["lat"].get<double>();
    }
  }
  if (r.elevation) {
    json e;
    if (!RasterSize(r.ElevationPath(), "elevation map", e, error)) return false;
    if (e["width"].get<long>() != g.width || e["height"].get<long>() != g.height) {
      error = "the elevation map '" + r.ElevationPath() + "' is not the size of the map '" + r.MapPath() + "'";
      return false;
    }
  }
  g.grid = RegionGrid(g.width, g.height, r.tile);
  return true;
}

// The scene height of an elevation sample.
double Ground(const Region& g, double sample) {
  if (!g.recipe.elevation) return 0;
  return g.recipe.elevationMetres ? sample : sample * g.recipe.height / 255.0;
}

// One building of a tile.
struct Building {
  std::string name;
  std::size_t zone = 0;
  RegionLot lot;
  Footprint footprint;
  int floors = 1;
  double x = 0, y = 0, z = 0;  // centre of its bounding box
  double halfX = 0, halfZ = 0, height = 0;
  long vertices = 0;
};

// Everything a tile job made, so it can be taken away again whatever happens.
class Scratch {
 public:
  ~Scratch() { Clear(); }
  void Object(const std::string& name) { objects_.push_back(name); }
  void Clip(const std::string& name) { clips_.push_back(name); }
  void Clear() {
    CValue out;
    std::string ignored;
    for (auto it = objects_.rbegin(); it != objects_.rend(); ++it)
      if (ObjectExists(*it)) Run(L"DeleteObj", {Wide(*it)}, out, ignored);
    for (const std::string& c : clips_) Run(L"DeleteImageClip", {Wide(c)}, out, ignored);
    objects_.clear();
    clips_.clear();
  }

 private:
  std::vector<std::string> objects_, clips_;
};

bool LoadWindow(const std::string& path, const std::string& clip, const PixelRect& w, Scratch& scratch,
                XSI::Image& image, std::string& error) {
  CValue out;
  if (!Run(L"CreateImageClip", {Wide(path), Wide(clip), CValue(w.x), CValue(w.y), CValue(w.width), CValue(w.height)},
           out, error)) {
    error = "cannot read pixels " + Str(w.x) + ".." + Str(w.Right() - 1) + " x " + Str(w.y) + ".." +
            Str(w.Bottom() - 1) + " of '" + path + "'";
    return false;
  }
  scratch.Clip(clip);
  image = XSI::ImageClip2(out.GetAsRef()).GetImage();
  if (!image.IsValid() || image.GetResX() != w.width || image.GetResY() != w.height) {
    error = "the window read from '" + path + "' is not " + Str(w.width) + " x " + Str(w.height) + " pixels";
    return false;
  }
  return true;
}

void DigestImage(Digest& d, const XSI::Image& image) {
  const XSI::ImagePixels p = image.GetPixels();
  for (long y = 0; y < p.height; ++y) {
    const std::size_t sampleBytes = p.bitsPerChannel == 16 ? 2 : 1;
    d.Add(p.Row(static_cast<int>(y)), static_cast<std::size_t>(p.width) * p.channels * sampleBytes);
  }
}

// Elevation samples (band 1) at the lots' centres, read through the host.
bool SampleElevations(const Region& g, const std::vector<Building>& b, std::vector<double>& out, std::string& error) {
  out.clear();
  if (b.empty()) return true;
  std::string points;
  for (const Building& x : b)
    points += (points.empty() ? "" : ";") + Str(x.lot.column) + " " + Str(x.lot.rowFromTop);
  CValue v;
  if (!Run(L"SampleRaster", {Wide(g.recipe.ElevationPath()), Wide(points)}, v, error)) return false;
  const std::string text = Utf8(v.GetAsText());
  std::size_t at = 0;
  while (at <= text.size() && out.size() < b.size()) {
    std::size_t end = text.find(';', at);
    if (end == std::string::npos) end = text.size();
    double d = 0;
    if (XSI::ReadNumber(std::string_view(text).substr(at, end - at), d) != XSI::NumberText::Ok) break;
    out.push_back(d);
    at = end + 1;
  }
  if (out.size() != b.size()) {
    error = "SampleRaster returned " + std::to_string(out.size()) + " values for " + std::to_string(b.size()) + " lots";
    return false;
  }
  return true;
}

// The pixels a tile's terrain covers: its area and one pixel more to the
// east and south, so neighbouring tiles share their edge samples and the
// ground has no seams; and the step that keeps about `samples` across.
PixelRect TerrainWindow(const Region& g, const TileId& id, long samples, long& step) {
  const PixelRect a = g.grid.Area(id);
  PixelRect w = a;
  w.width = std::min(a.width + 1, g.width - a.x);
  w.height = std::min(a.height + 1, g.height - a.y);
  step = std::max(1L, (std::max(w.width, w.height) + samples - 1) / samples);
  return w;
}

// Columns 0, step, 2 step, ... and always the last, as CreateHeightField
// samples them.
std::vector<long> GridSamples(long count, long step) {
  std::vector<long> out;
  for (long i = 0; i < count; i += step) out.push_back(i);
  if (out.back() != count - 1) out.push_back(count - 1);
  return out;
}

// Band 1 of the DEM at every sample of the tile's terrain grid, as text.
bool SampleTerrainGrid(const Region& g, const TileId& id, long samples, std::string& values, std::string& error) {
  long step = 1;
  const PixelRect w = TerrainWindow(g, id, samples, step);
  std::string points;
  for (long r : GridSamples(w.height, step))
    for (long c : GridSamples(w.width, step))
      points += (points.empty() ? "" : ";") + Str(w.x + c) + " " + Str(w.y + r);
  CValue v;
  if (!Run(L"SampleRaster", {Wide(g.recipe.ElevationPath()), Wide(points)}, v, error)) return false;
  values = Utf8(v.GetAsText());
  return true;
}

struct TileJob {
  TileId id;
  PixelRect area, window;
  std::vector<Building> buildings;
  long lots = 0, rings = 0, tooSmall = 0;
  std::string digest;
};

std::string LotText(const std::string& zone, const PixelBox& b) {
  return "a lot of zone '" + zone + "' at columns " + Str(b.minColumn) + ".." + Str(b.maxColumn) + ", rows " +
         Str(b.minRow) + ".." + Str(b.maxRow);
}

// Finds and lays out the tile's lots; reads the windows and digests them.
bool Survey(const Region& g, TileJob& job, Scratch& scratch, std::string& error) {
  const Recipe& r = g.recipe;
  XSI::Image map, elevation;
  if (!LoadWindow(r.MapPath(), "region_map", job.window, scratch, map, error)) return false;
  const bool levels = r.elevation && !r.elevationMetres;
  if (levels && !LoadWindow(r.ElevationPath(), "region_elevation", job.window, scratch, elevation, error)) return false;
  Digest d;
  d.Add(std::string(kTileFormat) + "\n" + g.recipeText + "\n" + TileStem(job.id) + "\n");
  DigestImage(d, map);
  if (levels) DigestImage(d, elevation);
  const MapFrame frame{g.width, g.height, g.pixel};
  for (std::size_t zi = 0; zi < r.zones.size(); ++zi) {
    const Zone& zone = r.zones[zi];
    std::vector<RegionLot> lots;
    WideLot wide;
    if (!LabelLots(ClassifyWindow(map, RangeOf(zone)), job.window, job.area, g.width, g.height, zone.minPixels, lots,
                   job.rings, wide)) {
      const PixelBox& b = wide.box;
      const long beyond = std::max({job.area.x - b.minColumn, b.maxColumn - (job.area.Right() - 1),
                                    job.area.y - b.minRow, b.maxRow - (job.area.Bottom() - 1), 0L});
      error = LotText(zone.name, b) + " reaches the edge of tile " + Str(job.id.x) + " " + Str(job.id.y) +
              "'s window, so it cannot be measured whole: it reaches at least " + Str(beyond) +
              " pixels beyond the tile; set \"halo\" (now " + Str(r.halo) + ") to more than that";
      return false;
    }
    for (const RegionLot& lot : lots) {
      ++job.lots;
      Building b;
      b.footprint = LargestFootprint(frame, lot.box, lot.column, lot.rowFromTop, g.kits[zi]);
      if (!b.footprint.Fits()) {
        ++job.tooSmall;
        continue;
      }
      b.name = BuildingName(zone.name, lot.column, lot.rowFromTop);
      b.zone = zi;
      b.lot = lot;
      b.floors = LotFloors(r.seed, zi, lot.column, lot.rowFromTop, zone.floorsMin, zone.floorsMax);
      b.x = SceneX(frame, lot.column);
      b.z = SceneZ(frame, lot.rowFromTop);
      b.height = BuildingHeight(g.kits[zi], b.floors);
      b.halfX = g.kits[zi].cell * (b.footprint.length + 1) / 2;
      b.halfZ = g.kits[zi].cell * (b.footprint.width + 1) / 2;
      if (levels) {
        XSI::CColor c;
        const float x = static_cast<float>(lot.column - job.window.x);
        const float y = static_cast<float>(job.window.Bottom() - 1 - lot.rowFromTop);
        elevation.GetPixelValue(x, y, c);
        b.y = Ground(g, static_cast<double>(static_cast<long>(c.r * 255.0)));
      }
      job.buildings.push_back(b);
    }
  }
  if (r.elevationMetres && r.elevation) {
    std::vector<double> heights;
    if (!SampleElevations(g, job.buildings, heights, error)) return false;
    for (std::size_t i = 0; i < heights.size(); ++i) job.buildings[i].y = Ground(g, heights[i]);
    d.Add(heights.data(), heights.size() * sizeof(double));
    // The terrain reads the DEM at its grid's samples only: those values,
    // not the file's name or time, are the tile's elevation input.
    std::string samples;
    if (!SampleTerrainGrid(g, job.id, kTerrainSamples * 2, samples, error)) return false;
    d.Add(samples);
  }
  for (Building& b : job.buildings) b.y += b.height / 2;
  job.digest = d.Hex();
  return true;
}

std::string OutPath(const Region& g, const std::string& relative) { return g.recipe.out + "/" + relative; }

bool FileSize(const std::string& path, long long& size) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  size = st.st_size;
  return true;
}

// The tile's summary, or a discarded json when there is none to read.
json ReadSummary(const Region& g, const TileId& id) {
  const std::string path = OutPath(g, SummaryName(id));
  long long size = 0;
  if (!FileSize(path, size) || size > (64ll << 20)) return json(json::value_t::discarded);
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return json::parse(text, nullptr, false);
}

// True when the summary on disk was written for these inputs and every
// content file it lists is there at its recorded size.
bool IsCurrent(const Region& g, const TileJob& job) {
  const json s = ReadSummary(g, job.id);
  if (s.is_discarded() || !s.is_object() || s.value("digest", "") != job.digest) return false;
  if (!s["contents"].is_array()) return false;
  for (const json& c : s["contents"]) {
    long long size = 0;
    if (!c.is_object() || !c["uri"].is_string() || !c["bytes"].is_number_integer()) return false;
    if (!FileSize(OutPath(g, c["uri"].get<std::string>()), size) || size != c["bytes"].get<long long>()) return false;
  }
  return true;
}

bool MakeTerrain(const Region& g, const TileId& id, long samples, Scratch& scratch, std::string& error) {
  long step = 1;
  const PixelRect w = TerrainWindow(g, id, samples, step);
  const Recipe& r = g.recipe;
  CValue out;
  const bool metres = r.elevationMetres;
  if (!Run(L"CreateHeightField",
           {Wide(r.ElevationPath()), CValue(L"terrain"), CValue(w.width * g.pixel), CValue(w.height * g.pixel),
            CValue(metres ? 1.0 : r.height), CValue(step), CValue(w.x), CValue(w.y), CValue(w.width),
            CValue(w.height), CValue(metres ? L"metres" : L"levels")},
           out, error))
    return false;
  scratch.Object("terrain");
  const double cx = (w.x + w.width / 2.0 - g.width / 2.0) * g.pixel;
  const double cz = (w.y + w.height / 2.0 - g.height / 2.0) * g.pixel;
  return Run(L"Translate", {CValue(L"terrain"), CValue(cx), CValue(0.0), CValue(cz), CValue(1L)}, out, error);
}

struct Written {
  std::string uri;
  long long bytes = 0;
  long vertices = 0, triangles = 0;
  double min[3] = {0, 0, 0}, max[3] = {0, 0, 0};
};

bool Export(const Region& g, const std::string& uri, const std::string& objects, const std::string& options,
            Written& w, std::string& error) {
  json stats;
  std::string e;
  if (!RunJson(L"ExportTile", {Wide(OutPath(g, uri)), Wide(objects), Wide(options)}, stats, e)) {
    error = "cannot write '" + OutPath(g, uri) + "': " + e;
    return false;
  }
  w.uri = uri;
  w.bytes = stats.value("bytes", 0LL);
  w.vertices = stats.value("vertices", 0L);
  w.triangles = stats.value("triangles", 0L);
  for (int i = 0; i < 3; ++i) {
    w.min[i] = stats["min"][i].get<double>();
    w.max[i] = stats["max"][i].get<double>();
  }
  return true;
}

std::string Options(const Region& g, bool merge) {
  std::string o = g.recipe.compress ? "" : "plain";
  if (merge) o += o.empty() ? "merge" : ",merge";
  return o;
}

// Cuts the buildings, in their order, into runs of at most the vertex budget
// (the terrain rides with the first).
std::vector<std::vector<const Building*>> Pieces(const std::vector<Building>& buildings, long terrainVertices) {
  std::vector<std::vector<const Building*>> pieces(1);
  long used = terrainVertices;
  for (const Building& b : buildings) {
    if (!pieces.back().empty() && used + b.vertices > kContentVertexBudget) {
      pieces.emplace_back();
      used = 0;
    }
    pieces.back().push_back(&b);
    used += b.vertices;
  }
  return pieces;
}

ordered_json Triple(const double v[3]) { return ordered_json::array({v[0], v[1], v[2]}); }

bool WriteText(const std::string& path, const std::string& text, std::string& error) {
  CValue out;
  if (Run(L"WriteTextFile", {Wide(path), Wide(text)}, out, error)) return true;
  error = "cannot write '" + path + "': " + error;
  return false;
}

bool MakeFolders(const Region& g, int levels, std::string& error) {
  CValue out;
  for (int l = 0; l <= levels; ++l)
    if (!Run(L"MakeFolder", {Wide(OutPath(g, "tiles/" + std::to_string(l)))}, out, error)) {
      error = "cannot make the output folder '" + OutPath(g, "tiles/" + std::to_string(l)) + "': " + error;
      return false;
    }
  return true;
}

// Sorted along a Z-order of their centres, so each piece of a cut leaf is a
// compact patch of the tile.
void SortBuildings(std::vector<Building>& b) {
  const auto key = [](const Building& x) {
    std::uint64_t k = 0;
    for (int bit = 0; bit < 24; ++bit) {
      k |= ((static_cast<std::uint64_t>(x.lot.column) >> bit) & 1) << (2 * bit);
      k |= ((static_cast<std::uint64_t>(x.lot.rowFromTop) >> bit) & 1) << (2 * bit + 1);
    }
    return k;
  };
  std::sort(b.begin(), b.end(), [&](const Building& p, const Building& q) {
    const std::uint64_t a = key(p), c = key(q);
    return a != c ? a < c : p.name < q.name;
  });
}

enum class JobResult { Built, Current };

CStatus RunTile(const Region& g, const TileId& id, bool force, bool showProgress, JobResult& result,
                std::string& error) {
  Scratch scratch;
  TileJob job;
  job.id = id;
  job.area = g.grid.Area(id);
  job.window = g.grid.Window(id, g.recipe.halo);
  if (!Survey(g, job, scratch, error)) return CStatus::InvalidArgument;
  if (!force && IsCurrent(g, job)) {
    result = JobResult::Current;
    return CStatus::OK;
  }
  // The same vertex budget as a whole town, per tile, before the scene changes.
  std::vector<PlannedBuilding> planned;
  for (const Building& b : job.buildings)
    planned.push_back({g.recipe.zones[b.zone].name, double(b.floors), double(b.footprint.width),
                       double(b.footprint.length), g.kits[b.zone].units});
  if (const std::string problem = BudgetProblem(CheckBudget(planned)); !problem.empty()) {
    error = "the tile is too big: " + problem + "; or use smaller tiles";
    return CStatus::InvalidArgument;
  }
  for (const Building& b : job.buildings)
    if (ObjectExists(b.name)) {
      error = "the scene already holds an object named '" + b.name + "'";
      return CStatus::InvalidArgument;
    }
  if (g.recipe.elevation && ObjectExists("terrain")) {
    error = "the scene already holds an object named 'terrain'";
    return CStatus::InvalidArgument;
  }
  if (!MakeFolders(g, 0, error)) return CStatus::Fail;
  SortBuildings(job.buildings);
  XSI::ProgressBar bar;
  if (showProgress && !job.buildings.empty())
    bar.Start(static_cast<long>(job.buildings.size()), Wide("RaiseRegion tile " + Str(id.x) + " " + Str(id.y)));
  long terrainVertices = 0;
  if (g.recipe.elevation) {
    if (!MakeTerrain(g, id, kTerrainSamples * 2, scratch, error)) return CStatus::Fail;
    terrainVertices = Application().GetActiveSceneRoot().FindChild(L"terrain").GetVertexCount();
  }
  CValue out;
  for (Building& b : job.buildings) {
    if (showProgress && bar.IsCancelled()) {
      error = "cancelled before lot '" + b.name + "'";
      return CStatus::Abort;
    }
    const Zone& zone = g.recipe.zones[b.zone];
    if (!Run(L"RaiseTower",
             {Wide(b.name), CValue(static_cast<long>(b.floors)), CValue(static_cast<long>(b.footprint.width)),
              CValue(static_cast<long>(b.footprint.length)), Wide(zone.style),
              CString(std::wstring(1, wchar_t(zone.entrance))), CValue(1L)},
             out, error)) {
      error = "lot '" + b.name + "': " + error;
      return CStatus::Fail;
    }
    scratch.Object(b.name);
    if (!Run(L"Translate", {Wide(b.name), CValue(b.x), CValue(b.y), CValue(b.z), CValue(0L)}, out, error)) {
      error = "lot '" + b.name + "': " + error;
      return CStatus::Fail;
    }
    b.vertices = Application().GetActiveSceneRoot().FindChild(Wide(b.name)).GetVertexCount();
    if (showProgress) bar.Increment();
  }
  ordered_json contents = ordered_json::array();
  const auto pieces = Pieces(job.buildings, terrainVertices);
  for (std::size_t p = 0; p < pieces.size(); ++p) {
    std::string objects = p == 0 && g.recipe.elevation ? "terrain" : "";
    for (const Building* b : pieces[p]) objects += (objects.empty() ? "" : ",") + b->name;
    if (objects.empty()) continue;
    Written w;
    if (!Export(g, ContentName(id, static_cast<int>(p)), objects, Options(g, false), w, error)) return CStatus::Fail;
    contents.push_back({{"uri", w.uri}, {"bytes", w.bytes}, {"vertices", w.vertices}, {"triangles", w.triangles},
                        {"min", Triple(w.min)}, {"max", Triple(w.max)}});
  }
  ordered_json buildings = ordered_json::array();
  for (const Building& b : job.buildings) {
    const Colour& c = g.roofs[b.zone];
    buildings.push_back({{"name", b.name},
                         {"zone", g.recipe.zones[b.zone].name},
                         {"column", b.lot.column},
                         {"row", b.lot.rowFromTop},
                         {"floors", b.floors},
                         {"footprint", {b.footprint.width, b.footprint.length}},
                         {"centre", {b.x, b.y, b.z}},
                         {"size", {2 * b.halfX, b.height, 2 * b.halfZ}},
                         {"colour", {c.r, c.g, c.b}}});
  }
  ordered_json summary;
  summary["format"] = kTileFormat;
  summary["tile"] = {id.x, id.y};
  summary["digest"] = job.digest;
  summary["lots"] = job.lots;
  summary["raised"] = static_cast<long>(job.buildings.size());
  summary["skipped"] = job.tooSmall + job.rings;
  summary["contents"] = contents;
  summary["buildings"] = buildings;
  // Written last: a summary on disk means every file it lists is complete.
  if (!WriteText(OutPath(g, SummaryName(id)), summary.dump(1) + "\n", error)) return CStatus::Fail;
  result = JobResult::Built;
  return CStatus::OK;
}

// The coarser levels and tileset.json, from the leaves' summaries.
struct LeafRecord {
  std::vector<TileContent> contents;
  std::string blocks;  // CreateBlocks entries of its buildings
  Box3 blockBox;
};

// As printf's "%.9g" writes it in the C locale, whatever the process's: the
// text is read back by CreateBlocks.
std::string Num(double v) {
  char buf[40];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 9);
  return ec == std::errc() ? std::string(buf, end) : std::string("nan");
}

bool ReadLeaf(const Region& g, const TileId& id, LeafRecord& leaf, std::string& error) {
  const json s = ReadSummary(g, id);
  const std::string where = "tile " + Str(id.x) + " " + Str(id.y) + " ('" + OutPath(g, SummaryName(id)) + "')";
  if (s.is_discarded() || !s.is_object()) {
    error = where + " has no readable summary: run its tile job first";
    return false;
  }
  if (s.value("format", "") != kTileFormat || !s["contents"].is_array() || !s["buildings"].is_array()) {
    error = where + " was written by another version or is damaged: run its tile job again";
    return false;
  }
  try {
    for (const json& c : s["contents"]) {
      double mn[3], mx[3];
      for (int i = 0; i < 3; ++i) mn[i] = c["min"][i].get<double>(), mx[i] = c["max"][i].get<double>();
      leaf.contents.push_back(TileContent{c["uri"].get<std::string>(), FromScene(mn, mx)});
    }
    for (const json& b : s["buildings"]) {
      double mn[3], mx[3];
      for (int i = 0; i < 3; ++i) {
        mn[i] = b["centre"][i].get<double>() - b["size"][i].get<double>() / 2;
        mx[i] = b["centre"][i].get<double>() + b["size"][i].get<double>() / 2;
      }
      leaf.blockBox.Add(FromScene(mn, mx));
      leaf.blocks += (leaf.blocks.empty() ? "" : ";") + Num(mn[0]) + " " + Num(mn[1]) + " " + Num(mn[2]) + " " +
                     Num(mx[0]) + " " + Num(mx[1]) + " " + Num(mx[2]) + " " + Num(b["colour"][0].get<double>()) +
                     " " + Num(b["colour"][1].get<double>()) + " " + Num(b["colour"][2].get<double>());
    }
  } catch (const json::exception&) {
    error = where + " is damaged: run its tile job again";
    return false;
  }
  return true;
}

bool BuildParent(const Region& g, const TileId& id, const std::map<TileId, LeafRecord>& leaves,
                 std::map<TileId, TileNode>& nodes, std::string& error) {
  Scratch scratch;
  CValue out;
  std::string blocks, objects;
  const long span = 1L << id.level;
  for (long y = id.y * span; y < (id.y + 1) * span; ++y)
    for (long x = id.x * span; x < (id.x + 1) * span; ++x) {
      auto it = leaves.find(TileId{0, x, y});
      if (it != leaves.end() && !it->second.blocks.empty())
        blocks += (blocks.empty() ? "" : ";") + it->second.blocks;
    }
  if (!blocks.empty()) {
    if (!Run(L"CreateBlocks", {CValue(L"blocks"), Wide(blocks)}, out, error)) return false;
    scratch.Object("blocks");
    objects = "blocks";
  }
  double terrainError = 0;
  if (g.recipe.elevation) {
    if (!MakeTerrain(g, id, kTerrainSamples, scratch, error)) return false;
    if (!Run(L"SimplifyMesh", {CValue(L"terrain"), CValue(kTerrainKeep), CValue(0.01)}, out, error)) return false;
    terrainError = out.GetAsDouble();
    objects += objects.empty() ? "terrain" : ",terrain";
  }
  TileNode node;
  node.id = id;
  if (!objects.empty()) {
    Written w;
    if (!Export(g, ContentName(id, 0), objects, Options(g, true), w, error)) return false;
    node.contents.push_back(TileContent{w.uri, FromScene(w.min, w.max)});
    node.box.Add(node.contents.back().box);
  }
  // The terrain's samples lie this far apart; between them a slope of up to
  // 45 degrees strays at most that much from the leaves' finer grid.
  const PixelRect a = g.grid.Area(id);
  const long step = std::max(1L, (std::max(a.width, a.height) + kTerrainSamples - 1) / kTerrainSamples);
  double childError = 0;
  for (const TileId& c : g.grid.Children(id)) {
    const TileNode& child = nodes.at(c);
    childError = std::max(childError, child.geometricError);
    node.box.Add(child.box);
  }
  const double own = kBlockRelief + terrainError + (g.recipe.elevation ? step * g.pixel : 0.0);
  node.geometricError = std::max(childError * 2, childError + own);
  nodes[id] = node;
  return true;
}

CStatus WriteTileset(const Region& g, std::string& error) {
  std::map<TileId, LeafRecord> leaves;
  std::map<TileId, TileNode> nodes;
  std::string missing;
  long missingCount = 0;
  for (const TileId& id : g.grid.Tiles(0)) {
    LeafRecord leaf;
    std::string e;
    if (!ReadLeaf(g, id, leaf, e)) {
      if (++missingCount == 1) missing = e;
      continue;
    }
    TileNode n;
    n.id = id;
    n.contents = leaf.contents;
    for (const TileContent& c : leaf.contents) n.box.Add(c.box);
    nodes[id] = n;
    leaves[id] = std::move(leaf);
  }
  if (missingCount > 0) {
    error = missing + (missingCount > 1 ? " (and " + Str(missingCount - 1) + " other tile(s))" : "");
    return CStatus::InvalidArgument;
  }
  if (!MakeFolders(g, g.grid.TopLevel(), error)) return CStatus::Fail;
  for (int level = 1; level <= g.grid.TopLevel(); ++level)
    for (const TileId& id : g.grid.Tiles(level))
      if (!BuildParent(g, id, leaves, nodes, error)) return CStatus::Fail;
  std::array<double, 16> frame{};
  const bool placed = g.recipe.hasOrigin || g.georeferenced;
  if (g.recipe.hasOrigin) frame = EnuToEcef(g.recipe.origin.lon, g.recipe.origin.lat, g.recipe.origin.height);
  else if (g.georeferenced) frame = EnuToEcef(g.lon, g.lat, 0);
  if (!WriteText(OutPath(g, "tileset.json"), TilesetJson(g.grid, nodes, placed ? &frame : nullptr), error))
    return CStatus::Fail;
  return CStatus::OK;
}

std::string PlanJson(const Region& g) {
  ordered_json p;
  p["out"] = g.recipe.out;
  p["width"] = g.width;
  p["height"] = g.height;
  p["tile"] = g.recipe.tile;
  p["columns"] = g.grid.Columns();
  p["rows"] = g.grid.Rows();
  ordered_json tiles = ordered_json::array();
  for (const TileId& t : g.grid.Tiles(0)) tiles.push_back({t.x, t.y});
  p["tiles"] = tiles;
  return p.dump();
}

// The words after the recipe: "tile X Y", "tileset", "plan", "force".
struct Request {
  enum class Mode { All, Tile, Tileset, Plan } mode = Mode::All;
  TileId tile;
  bool force = false;
};

bool WholeNumber(const CValue& v, long& out) {
  long long n = 0;
  if (XSI::ReadWholeNumber(v.GetAsText(), n) != XSI::NumberText::Ok || n < 0 ||
      n > std::numeric_limits<long>::max())
    return false;
  out = static_cast<long>(n);
  return true;
}

bool ParseRequest(const CValueArray& args, Request& q, std::string& error) {
  long i = 1;
  const long n = args.GetCount();
  const auto word = [&](long k) { return k < n ? Utf8(args[k].GetAsText()) : std::string(); };
  const std::string mode = word(i);
  if (mode == "tile") {
    q.mode = Request::Mode::Tile;
    if (!WholeNumber(args[std::min(i + 1, n - 1)], q.tile.x) || i + 2 >= n || !WholeNumber(args[i + 2], q.tile.y)) {
      error = "'tile' takes the tile's column and row, whole numbers from 0, got '" + word(i + 1) + "' '" +
              word(i + 2) + "'";
      return false;
    }
    i += 3;
  } else if (mode == "tileset") {
    q.mode = Request::Mode::Tileset, ++i;
  } else if (mode == "plan") {
    q.mode = Request::Mode::Plan, ++i;
  } else if (mode == "all") {
    ++i;
  }
  for (; i < n; ++i) {
    const std::string w = word(i);
    if (w.empty()) continue;
    if (w == "force") q.force = true;
    else {
      error = "unknown word '" + w + "': expected tile X Y, tileset, plan, all or force";
      return false;
    }
  }
  return true;
}

CStatus RunAll(const Region& g, bool force, long& built, long& current, std::string& error) {
  const std::vector<TileId> tiles = g.grid.Tiles(0);
  XSI::ProgressBar bar;
  bar.Start(static_cast<long>(tiles.size()), L"RaiseRegion " + Wide(g.recipe.file.substr(g.recipe.file.find_last_of('/') + 1)));
  for (const TileId& id : tiles) {
    if (bar.IsCancelled()) {
      error = "cancelled before tile " + Str(id.x) + " " + Str(id.y) + "; the finished tiles stay and a new run resumes";
      return CStatus::Abort;
    }
    bar.SetStatusText(Wide("tile " + Str(id.x) + " " + Str(id.y)));
    JobResult r = JobResult::Built;
    const CStatus st = RunTile(g, id, force, false, r, error);
    if (!st.Succeeded()) {
      error = "tile " + Str(id.x) + " " + Str(id.y) + ": " + error;
      return st;
    }
    (r == JobResult::Built ? built : current) += 1;
    bar.Increment();
  }
  return WriteTileset(g, error);
}

}  // namespace

CStatus defineRegionCommand(XSI::CRef& context) {
  XSI::Context ctxt(context);
  XSI::Command command(ctxt.GetSource());
  command.PutDescription(L"Raise a region from maps and a recipe (JSON) as a 3D Tiles tileset, tile by tile");
  command.EnableReturnValue(true);
  XSI::ArgumentArray args = command.GetArguments();
  args.Add(L"recipe", CValue());
  args.Add(L"mode", CValue());
  args.Add(L"x", CValue());
  args.Add(L"y", CValue());
  args.Add(L"option", CValue());
  return CStatus::OK;
}

CStatus executeRaiseRegion(XSI::CRef& contextRef) {
  XSI::Context context(contextRef);
  const CValueArray args = context.GetAttribute(L"Arguments").GetAsArray();
  const std::string file = args.GetCount() > 0 ? Utf8(args[0].GetAsText()) : std::string();
  if (file.empty()) {
    LogError(L"expects the path of a region recipe file, then optionally: tile X Y | tileset | plan, and force");
    return CStatus::InvalidArgument;
  }
  Request q;
  Region g;
  std::string error;
  if (!ParseRequest(args, q, error) || !LoadRegion(file, g, error)) {
    LogError(Wide(error));
    return CStatus::InvalidArgument;
  }
  if (q.mode == Request::Mode::Tile && !g.grid.Valid(q.tile)) {
    LogError(Wide("tile " + Str(q.tile.x) + " " + Str(q.tile.y) + " is not in the region: it has " +
                  Str(g.grid.Columns()) + " x " + Str(g.grid.Rows()) + " tiles"));
    return CStatus::InvalidArgument;
  }
  CStatus st = CStatus::OK;
  ordered_json result;
  switch (q.mode) {
    case Request::Mode::Plan:
      context.PutAttribute(L"ReturnValue", Wide(PlanJson(g)));
      return CStatus::OK;
    case Request::Mode::Tile: {
      JobResult r = JobResult::Built;
      st = RunTile(g, q.tile, q.force, true, r, error);
      if (st.Succeeded()) {
        result = {{"tile", {q.tile.x, q.tile.y}}, {"built", r == JobResult::Built}};
        LogInfo(Wide("tile " + Str(q.tile.x) + " " + Str(q.tile.y) +
                     (r == JobResult::Built ? " written" : " is current; not built again")));
      } else {
        error = "tile " + Str(q.tile.x) + " " + Str(q.tile.y) + ": " + error;
      }
      break;
    }
    case Request::Mode::Tileset:
      st = WriteTileset(g, error);
      result = {{"tileset", OutPath(g, "tileset.json")}};
      break;
    case Request::Mode::All: {
      long built = 0, current = 0;
      st = RunAll(g, q.force, built, current, error);
      result = {{"tileset", OutPath(g, "tileset.json")}, {"built", built}, {"current", current}};
      if (st.Succeeded())
        LogInfo(Wide(Str(built) + " tile(s) built, " + Str(current) + " current; wrote " + OutPath(g, "tileset.json")));
      break;
    }
  }
  if (!st.Succeeded()) {
    LogError(Wide(error));
    return st;
  }
  context.PutAttribute(L"ReturnValue", Wide(result.dump()));
  return CStatus::OK;
}

}  // namespace city
