#include "command_help.h"

#include <algorithm>
#include <cctype>
#include <map>

namespace scenehost {

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Edits from a to b: insert, delete, change, or swap two neighbours.
std::size_t EditDistance(const std::string& a, const std::string& b) {
  const std::size_t n = a.size(), m = b.size();
  std::vector<std::vector<std::size_t>> d(n + 1, std::vector<std::size_t>(m + 1));
  for (std::size_t i = 0; i <= n; ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= m; ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= n; ++i) {
    for (std::size_t j = 1; j <= m; ++j) {
      const std::size_t change = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + change});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  }
  return d[n][m];
}

// What this project's commands take, and a line to try. Commands of other
// plug-ins get their argument names and a usage line only.
struct KnownCommand {
  std::map<std::string, std::string> meanings;  // argument -> meaning
  std::string example;                          // after "scenehost "
  std::string page;                             // docs/...
};

const std::map<std::string, KnownCommand>& KnownCommands() {
  static const std::map<std::string, KnownCommand> known = {
      {"RaiseTower",
       {{{"buildingname", "name of the building's mesh"},
         {"floors", "storeys, ground storey included (whole number >= 1)"},
         {"unitswidth", "footprint width in units, along z (whole number >= 1)"},
         {"unitslength", "footprint length in units, along x (whole number >= 1)"},
         {"type", "style of the units library: brick or glass for the bundled one"},
         {"entranceface", "A, B, C or D; anything else: no entrance (with a warning)"},
         {"entranceposition", "0 last slot, 1 middle, 2 first, 3 random"},
         {"groundtype", "accepted, no effect (so are the floorface and balconyface arguments)"}},
        "RaiseTower Tower 5 4 3 brick A 1 --save tower.glb",
        "docs/raisetower.md"}},
      {"findSpots",
       {{{"IMAGESPATH", "folder of the pictures, with its trailing '/'"},
         {"imageName", "the picture is IMAGESPATH + imageName + .bmp"},
         {"minBlobSize", "regions of this many pixels or fewer are dropped"},
         {"useRGB", "true: pick by the colour ranges; false: by the luminance range"},
         {"channelRed", "centre of the red range, 0..1 (not 0..255)"},
         {"channelGreen", "centre of the green range, 0..1"},
         {"channelBlue", "centre of the blue range, 0..1"},
         {"rangeR", "half-width of the red range"},
         {"rangeG", "half-width of the green range"},
         {"rangeB", "half-width of the blue range"},
         {"luminanceValue", "centre of the luminance range, 0..1/3 (white is 1/3)"},
         {"luminanceRange", "its half-width"},
         {"withelevation", "true: read IMAGESPATH + imageName + _elevation.bmp for heights"}},
        "findSpots examples/images/ map 20 true 0.9 0.1 0.1 0.05 0.05 0.05 0 0 true",
        "docs/findspots.md"}},
      {"RaiseCity",
       {{{"recipe", "the city recipe, a JSON file"}},
        "RaiseCity examples/city/town.json --save city.glb",
        "docs/city.md"}},
      {"ObjImport", {{}, "ObjImport examples/models/cube.obj --save cube.glb", "docs/commands.md"}},
      {"Duplicate", {{}, "--script examples/scripts/three_cubes.txt   (Duplicate cube)", "docs/commands.md"}},
      {"Translate", {{}, "--script examples/scripts/three_cubes.txt   (Translate cube1 20 0 0)", "docs/commands.md"}},
      {"SaveScene", {{}, "ObjImport examples/models/cube.obj --save cube.glb   (--save runs SaveScene)",
                     "docs/commands.md"}},
      {"RenderPreview", {{}, "RaiseTower Tower 5 4 3 brick A 1 --preview tower.png   (--preview runs it)",
                         "docs/preview.md"}},
      {"CreateHeightField", {{}, "CreateHeightField examples/images/map_elevation.bmp terrain 1024 1024 60 4 --save terrain.glb",
                             "docs/commands.md"}},
      {"CreateImageClip", {{}, "CreateImageClip examples/images/map.bmp", "docs/commands.md"}},
  };
  return known;
}

}  // namespace

std::string NearestName(const std::string& word, const std::vector<std::string>& names) {
  const std::string lower = Lower(word);
  for (const std::string& name : names)
    if (Lower(name) == lower) return name;
  // Words far longer than any name are no slip; don't spend time on them.
  if (word.empty() || word.size() > 256) return std::string();
  const std::size_t allowed = std::min<std::size_t>(3, std::max<std::size_t>(1, word.size() / 3));
  std::string best;
  std::size_t bestDistance = allowed + 1;
  for (const std::string& name : names) {
    const std::size_t distance = EditDistance(lower, Lower(name));
    if (distance < bestDistance) {
      best = name;
      bestDistance = distance;
    }
  }
  return best;
}

std::string CommandHelp(const CommandFacts& c) {
  const auto& known = KnownCommands();
  const auto found = known.find(c.name);
  const KnownCommand* k = found == known.end() ? nullptr : &found->second;
  std::string text = c.name + " (from " + c.owner + ")";
  if (!c.description.empty()) text += ": " + c.description;
  text += "\n\nUsage: scenehost " + c.name;
  for (const std::string& a : c.arguments) text += " " + a;
  text += "\n";
  if (!c.arguments.empty()) {
    std::size_t width = 0;
    for (const std::string& a : c.arguments) width = std::max(width, a.size());
    text += "\nArguments, by position (missing trailing ones get their defaults):\n";
    for (std::size_t i = 0; i < c.arguments.size(); ++i) {
      const std::string& a = c.arguments[i];
      std::string line = "  " + std::to_string(i) + (i < 10 ? "  " : " ") + a;
      if (k) {
        const auto meaning = k->meanings.find(a);
        if (meaning != k->meanings.end()) line += std::string(width - a.size() + 2, ' ') + meaning->second;
      }
      text += line + "\n";
    }
  }
  if (k) {
    text += "\nExample: scenehost " + k->example + "\n";
    text += "More: " + k->page + "\n";
  }
  return text;
}

}  // namespace scenehost
