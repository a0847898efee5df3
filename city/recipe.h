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

struct Recipe {
  std::string file;        // as given, for messages
  std::string imagesPath;  // folder of the pictures, resolved, ending in '/'
  std::string map;         // picture name without ".bmp"
  bool elevation = false;
  double scale = 1;        // scene units per pixel
  double height = 0;       // scene height of elevation 255
  std::uint64_t seed = 0;
  std::vector<Zone> zones;

  std::string MapPath() const { return imagesPath + map + ".bmp"; }
  std::string ElevationPath() const { return imagesPath + map + "_elevation.bmp"; }
};

// Largest recipe file read, and the most floors a zone may ask for.
constexpr long long kMaxRecipeBytes = 1 << 20;
constexpr int kMaxFloors = 200;

// Parses recipe text; `file` names it in errors and gives the folder that
// relative image folders resolve against. False with `error` set on any
// problem. Never throws.
bool ParseRecipe(const std::string& text, const std::string& file, Recipe& recipe, std::string& error);

// Reads a regular file of at most kMaxRecipeBytes and parses it.
bool ReadRecipe(const std::string& file, Recipe& recipe, std::string& error);

// Empty when `name` can name scene objects and lists; else what is wrong.
std::string NameProblem(const std::string& name);
// Empty when `style` can be part of a units file name; else what is wrong.
std::string StyleProblem(const std::string& style);

}  // namespace city
