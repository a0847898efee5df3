// The city recipe: a JSON file naming the map, the terrain's scale and
// height, the seed and the zones. Reading checks every key, its type and its
// range, so a run refuses a bad recipe before it changes anything. Errors
// name the file, the zone and the key:
//   recipe 'town.json': zone 2 ('residential'): key 'floors': min 5 is greater than max 3
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace city {

struct Zone {
  std::string name;        // building names are <name>_<blob index>
  int rgb[3] = {0, 0, 0};  // lot colour, 0..255 per component
  int range[3] = {0, 0, 0};  // half-widths, 0..255
  long minPixels = 1;      // lots of fewer pixels are ignored
  std::string style;       // units-library style
  int floorsMin = 1, floorsMax = 1;
  char entrance = 'A';     // 'A'..'D'
};

// Where a region recipe puts a georeferenced tileset when the map itself
// carries no georeference.
struct Origin {
  double lon = 0, lat = 0, height = 0;  // degrees, metres above the ellipsoid
};

struct Recipe {
  std::string file;        // as given, for messages
  std::string imagesPath;  // folder of the pictures, resolved, ending in '/'
  std::string map;         // picture name, without ".bmp" or with its own extension
  bool elevation = false;
  bool elevationMetres = false;  // "elevation_units": "metres": band 1 is metres
  // Region keys (RaiseRegion only): pixels per tile side, the largest lot
  // extent to expect beyond a tile's edge, the output folder (resolved
  // against the recipe's folder), an optional georeference and whether the
  // tiles are quantized and compressed.
  long tile = 1024;
  long halo = 0;
  std::string out;
  bool hasOrigin = false;
  Origin origin;
  bool compress = true;
  double scale = 1;        // scene units per pixel
  double height = 0;       // scene height of elevation 255
  std::uint64_t seed = 0;
  std::vector<Zone> zones;

  std::string MapPath() const;
  std::string ElevationPath() const;
};

// A town recipe takes every key but the tiling ones; a region recipe takes
// them all and needs `halo` and `out`.
enum class RecipeKind { Town, Region };

// Largest tile side and halo, in pixels.
constexpr long kMaxTile = 16384;
constexpr long kMaxHalo = 4096;

// Largest recipe file read, and the most floors a zone may ask for.
constexpr long long kMaxRecipeBytes = 1 << 20;
constexpr int kMaxFloors = 200;

// Parses recipe text; `file` names it in errors and gives the folder that
// relative image folders resolve against. False with `error` set on any
// problem. Never throws.
bool ParseRecipe(const std::string& text, const std::string& file, Recipe& recipe, std::string& error,
                 RecipeKind kind = RecipeKind::Town);

// Reads a regular file of at most kMaxRecipeBytes and parses it. `text`, when
// given, receives the file's bytes (a region digests them).
bool ReadRecipe(const std::string& file, Recipe& recipe, std::string& error, RecipeKind kind = RecipeKind::Town,
                std::string* text = nullptr);

// True when `name` ends in an image extension the host reads (".bmp",
// ".tif", ...), so it names the file itself.
bool HasImageExtension(const std::string& name);

// Empty when `name` can name scene objects and lists; else what is wrong.
std::string NameProblem(const std::string& name);
// Empty when `style` can be part of a units file name; else what is wrong.
std::string StyleProblem(const std::string& style);

}  // namespace city
