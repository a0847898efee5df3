#include "kit.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <string_view>

#include <xsi_value.h>

namespace city {
namespace {

constexpr long long kMaxUnitBytes = 64ll << 20;

struct Extent {
  double lo[3] = {std::numeric_limits<double>::max(), std::numeric_limits<double>::max(),
                  std::numeric_limits<double>::max()};
  double hi[3] = {-std::numeric_limits<double>::max(), -std::numeric_limits<double>::max(),
                  -std::numeric_limits<double>::max()};
  bool any = false;
  double vertices = 0;
  double Size(int axis) const { return hi[axis] - lo[axis]; }
};

bool IsRegular(const std::string& path, long long& size) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  size = st.st_size;
  return true;
}

// The bounds of the "v x y z" lines of an OBJ file.
bool MeasureObj(const std::string& path, Extent& e, std::string& error) {
  long long size = 0;
  if (!IsRegular(path, size) || size > kMaxUnitBytes) {
    error = "cannot measure '" + path + "': not a regular file of at most 64 MiB";
    return false;
  }
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.size() < 2 || line[0] != 'v' || (line[1] != ' ' && line[1] != '\t')) continue;
    std::string_view rest = std::string_view(line).substr(2);
    double v[3];
    for (double& c : v) {
      const std::size_t begin = std::min(rest.find_first_not_of(" \t\r"), rest.size());
      const std::size_t end = std::min(rest.find_first_of(" \t\r", begin), rest.size());
      const std::string_view field = rest.substr(begin, end - begin);
      if (XSI::ReadNumber(field, c) != XSI::NumberText::Ok) {
        error = "cannot measure '" + path + "': a vertex line is not three numbers ('" +
                std::string(field.substr(0, 40)) + "' is not a finite number)";
        return false;
      }
      rest.remove_prefix(end);
    }
    for (int i = 0; i < 3; ++i) {
      e.lo[i] = std::min(e.lo[i], v[i]);
      e.hi[i] = std::max(e.hi[i], v[i]);
    }
    e.any = true;
    e.vertices += 1;
  }
  if (!e.any) error = "cannot measure '" + path + "': it holds no vertices";
  return e.any;
}

}  // namespace

bool MeasureKit(const std::string& unitsFolder, const std::string& style, KitSize& kit, std::string& error) {
  const std::string names[] = {"angle", "angleroof", "floor", "floor|close", "ground",
                               "ground|close", "ground|door", "roof"};
  std::string missing;
  for (const std::string& n : names) {
    const std::size_t bar = n.find('|');
    const std::string base = bar == std::string::npos ? n + style : n.substr(0, bar) + style + n.substr(bar + 1);
    long long size = 0;
    if (!IsRegular(unitsFolder + "p1900_" + base + ".obj", size)) missing += (missing.empty() ? "" : ", ") + ("p1900_" + base + ".obj");
  }
  if (!missing.empty()) {
    error = "style '" + style + "' is not in the units library '" + unitsFolder + "': missing " + missing;
    return false;
  }
  Extent corner, roof;
  if (!MeasureObj(unitsFolder + "p1900_angle" + style + ".obj", corner, error) ||
      !MeasureObj(unitsFolder + "p1900_angleroof" + style + ".obj", roof, error))
    return false;
  // The vertex counts of the units RaiseTower places, for the size budget.
  Extent floor, ground, door, roofWall;
  if (!MeasureObj(unitsFolder + "p1900_floor" + style + ".obj", floor, error) ||
      !MeasureObj(unitsFolder + "p1900_ground" + style + ".obj", ground, error) ||
      !MeasureObj(unitsFolder + "p1900_ground" + style + "door.obj", door, error) ||
      !MeasureObj(unitsFolder + "p1900_roof" + style + ".obj", roofWall, error))
    return false;
  kit.units = UnitVertexCounts{corner.vertices, roof.vertices, floor.vertices,
                               ground.vertices, door.vertices, roofWall.vertices};
  kit.cell = std::max(corner.Size(0), corner.Size(2));
  kit.storey = corner.Size(1);
  kit.roof = roof.Size(1);
  if (!(kit.cell > 0) || !(kit.storey > 0)) {
    error = "style '" + style + "': its corner unit has no extent";
    return false;
  }
  return true;
}

}  // namespace city
