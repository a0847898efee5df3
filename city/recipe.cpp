#include "recipe.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>

#include <xsi_names.h>
#include <xsi_string.h>

namespace city {
namespace {

using nlohmann::json;

// Thrown inside the parser only; ParseRecipe turns it into the error text.
struct RecipeError {
  std::string text;
};

class Checker {
 public:
  Checker(const std::string& file) : prefix_("recipe '" + file + "': ") {}

  void InZone(std::size_t index, const std::string& name) {
    zone_ = "zone " + std::to_string(index + 1) + (name.empty() ? "" : " ('" + name + "')") + ": ";
  }
  [[noreturn]] void Fail(const std::string& key, const std::string& what) const {
    throw RecipeError{prefix_ + zone_ + "key '" + key + "': " + what};
  }
  [[noreturn]] void FailHere(const std::string& what) const { throw RecipeError{prefix_ + zone_ + what}; }

  const json& Need(const json& object, const char* key) const {
    auto it = object.find(key);
    if (it == object.end()) FailHere(std::string("key '") + key + "' is missing");
    return *it;
  }
  void OnlyKeys(const json& object, std::initializer_list<const char*> known) const {
    for (auto it = object.begin(); it != object.end(); ++it) {
      bool found = false;
      for (const char* k : known) found = found || it.key() == k;
      if (!found) FailHere("unknown key '" + it.key() + "'");
    }
  }
  std::string Text(const json& object, const char* key) const {
    const json& v = Need(object, key);
    if (!v.is_string()) Fail(key, "must be text, got " + TypeOf(v));
    std::string s = v.get<std::string>();
    if (s.empty()) Fail(key, "is empty");
    if (s.find('\0') != std::string::npos) Fail(key, "holds a NUL character");
    return s;
  }
  double Number(const json& object, const char* key, double low, bool lowIncluded) const {
    const json& v = Need(object, key);
    if (!v.is_number()) Fail(key, "must be a number, got " + TypeOf(v));
    const double d = v.get<double>();
    const bool ok = std::isfinite(d) && (lowIncluded ? d >= low : d > low) && d <= 1e9;
    if (!ok)
      Fail(key, "must be a number " + std::string(lowIncluded ? ">= " : "> ") + Short(low) +
                    " and at most 1e9, got " + v.dump());
    return d;
  }
  long long Integer(const json& v, const std::string& key, long long low, long long high) const {
    if (!v.is_number_integer()) Fail(key, "must be a whole number, got " + Describe(v));
    if (v.is_number_unsigned() && v.get<std::uint64_t>() > std::uint64_t(high))
      Fail(key, "must lie in " + std::to_string(low) + ".." + std::to_string(high) + ", got " + v.dump());
    const long long n = v.get<long long>();
    if (n < low || n > high)
      Fail(key, "must lie in " + std::to_string(low) + ".." + std::to_string(high) + ", got " + v.dump());
    return n;
  }
  void Triple(const json& object, const char* key, int out[3]) const {
    const json& v = Need(object, key);
    if (!v.is_array() || v.size() != 3) Fail(key, "must be a list of three whole numbers 0..255, got " + Describe(v));
    for (std::size_t i = 0; i < 3; ++i) out[i] = static_cast<int>(Integer(v[i], key, 0, 255));
  }

  static std::string TypeOf(const json& v) { return v.type_name(); }
  static std::string Describe(const json& v) {
    std::string d = v.dump();
    if (d.size() > 60) d = d.substr(0, 60) + "...";
    return d;
  }
  // Shortest text, '.' as the separator whatever the locale.
  static std::string Short(double d) {
    char buffer[32];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, d);
    return ec == std::errc() ? std::string(buffer, end) : std::string("?");
  }

 private:
  std::string prefix_;
  std::string zone_;
};

std::string FolderOf(const std::string& file) {
  const std::size_t slash = file.find_last_of('/');
  return slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
}

Zone ReadZone(Checker& c, const json& z, std::size_t index, std::set<std::string>& names) {
  c.InZone(index, "");
  if (!z.is_object()) c.FailHere("must be an object, got " + Checker::TypeOf(z));
  Zone zone;
  zone.name = c.Text(z, "name");
  c.InZone(index, zone.name);
  if (std::string p = NameProblem(zone.name); !p.empty()) c.Fail("name", p);
  if (!names.insert(zone.name).second) c.Fail("name", "another zone has the same name");
  c.OnlyKeys(z, {"name", "rgb", "range", "min_pixels", "style", "floors", "entrance"});
  c.Triple(z, "rgb", zone.rgb);
  c.Triple(z, "range", zone.range);
  zone.minPixels = static_cast<long>(c.Integer(c.Need(z, "min_pixels"), "min_pixels", 1, 1 << 30));
  zone.style = c.Text(z, "style");
  if (std::string p = StyleProblem(zone.style); !p.empty()) c.Fail("style", p);
  const json& floors = c.Need(z, "floors");
  if (!floors.is_array() || floors.size() != 2)
    c.Fail("floors", "must be a list [min, max] of two whole numbers, got " + Checker::Describe(floors));
  zone.floorsMin = static_cast<int>(c.Integer(floors[0], "floors", 1, kMaxFloors));
  zone.floorsMax = static_cast<int>(c.Integer(floors[1], "floors", 1, kMaxFloors));
  if (zone.floorsMin > zone.floorsMax)
    c.Fail("floors", "min " + std::to_string(zone.floorsMin) + " is greater than max " +
                         std::to_string(zone.floorsMax));
  if (z.contains("entrance")) {
    const std::string e = c.Text(z, "entrance");
    if (e.size() != 1 || e[0] < 'A' || e[0] > 'D') c.Fail("entrance", "must be \"A\", \"B\", \"C\" or \"D\", got \"" + e + "\"");
    zone.entrance = e[0];
  }
  return zone;
}

void ReadOrigin(Checker& c, const json& root, Recipe& r) {
  const json& o = root["origin"];
  if (!o.is_object()) c.Fail("origin", "must be an object {\"lon\", \"lat\", \"height\"}, got " + Checker::Describe(o));
  for (auto it = o.begin(); it != o.end(); ++it)
    if (it.key() != "lon" && it.key() != "lat" && it.key() != "height")
      c.Fail("origin", "unknown key '" + it.key() + "'");
  const auto number = [&](const char* key, double low, double high, bool needed) {
    if (!o.contains(key)) {
      if (needed) c.Fail("origin", std::string("key '") + key + "' is missing");
      return 0.0;
    }
    const json& v = o[key];
    if (!v.is_number() || !std::isfinite(v.get<double>()) || v.get<double>() < low || v.get<double>() > high)
      c.Fail("origin", std::string("'") + key + "' must be a number in " + Checker::Short(low) + ".." +
                           Checker::Short(high) + ", got " + Checker::Describe(v));
    return v.get<double>();
  };
  r.origin.lon = number("lon", -180, 180, true);
  r.origin.lat = number("lat", -90, 90, true);
  r.origin.height = number("height", -12000, 100000, false);
  r.hasOrigin = true;
}

void ReadRegionKeys(Checker& c, const json& root, const std::string& file, Recipe& r) {
  if (root.contains("tile")) r.tile = static_cast<long>(c.Integer(root["tile"], "tile", 16, kMaxTile));
  r.halo = static_cast<long>(c.Integer(c.Need(root, "halo"), "halo", 0, kMaxHalo));
  std::string out = c.Text(root, "out");
  if (out[0] != '/') out = FolderOf(file) + out;
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  r.out = out;
  if (root.contains("origin")) ReadOrigin(c, root, r);
  if (root.contains("compress")) {
    const json& v = root["compress"];
    if (!v.is_boolean()) c.Fail("compress", "must be true or false, got " + Checker::Describe(v));
    r.compress = v.get<bool>();
  }
}

void ReadTop(Checker& c, const json& root, const std::string& file, Recipe& r, RecipeKind kind) {
  if (!root.is_object()) c.FailHere("must hold a JSON object, got " + Checker::TypeOf(root));
  if (kind == RecipeKind::Region)
    c.OnlyKeys(root, {"images", "map", "elevation", "elevation_units", "scale", "height", "seed", "zones", "tile",
                      "halo", "out", "origin", "compress"});
  else
    c.OnlyKeys(root, {"images", "map", "elevation", "elevation_units", "scale", "height", "seed", "zones",
                      "origin"});
  std::string images = c.Text(root, "images");
  if (images[0] != '/') images = FolderOf(file) + images;
  if (images.back() != '/') images += '/';
  r.imagesPath = images;
  r.map = c.Text(root, "map");
  const json& elevation = c.Need(root, "elevation");
  if (!elevation.is_boolean()) c.Fail("elevation", "must be true or false, got " + Checker::Describe(elevation));
  r.elevation = elevation.get<bool>();
  if (root.contains("elevation_units")) {
    const json& u = root["elevation_units"];
    if (!u.is_string() || (u != "levels" && u != "metres"))
      c.Fail("elevation_units", "must be \"levels\" or \"metres\", got " + Checker::Describe(u));
    r.elevationMetres = u == "metres";
  }
  if (kind == RecipeKind::Town && root.contains("origin")) ReadOrigin(c, root, r);
  if (kind == RecipeKind::Region) ReadRegionKeys(c, root, file, r);
  r.scale = c.Number(root, "scale", 0, false);
  r.height = c.Number(root, "height", 0, true);
  r.seed = static_cast<std::uint64_t>(
      c.Integer(c.Need(root, "seed"), "seed", std::numeric_limits<long long>::min(),
                std::numeric_limits<long long>::max()));
  const json& zones = c.Need(root, "zones");
  if (!zones.is_array() || zones.empty())
    c.Fail("zones", "must be a non-empty list of zones, got " + Checker::Describe(zones));
  std::set<std::string> names;
  for (std::size_t i = 0; i < zones.size(); ++i) r.zones.push_back(ReadZone(c, zones[i], i, names));
}

}  // namespace

std::string NameProblem(const std::string& name) {
  // Under 200 bytes, "<name>_<blob index>" stays within the object name limit.
  if (name.size() > 200) return "is longer than 200 characters";
  // Buildings are named after their zone: the host's one object name rule.
  return XSI::CString(XSI::ObjectNameProblem(XSI::CString::FromUtf8(name).Wide())).GetUtf8String();
}

std::string StyleProblem(const std::string& style) {
  if (style.size() > 100) return "is longer than 100 characters";
  if (style.find("..") != std::string::npos) return "holds '..'";
  for (unsigned char ch : style) {
    if (ch == '/' || ch == '\\' || ch == ',' || ch == ' ' || ch == '\t') return "holds '" + std::string(1, char(ch)) + "'";
    if (ch < 0x20 || ch == 0x7f) return "holds a control character";
  }
  return "";
}

bool HasImageExtension(const std::string& name) {
  static const char* const kExtensions[] = {".bmp", ".png", ".jpg", ".jpeg", ".tga", ".tif", ".tiff"};
  const std::size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || name.find('/', dot) != std::string::npos) return false;
  std::string ext = name.substr(dot);
  for (char& ch : ext) ch = static_cast<char>(ch >= 'A' && ch <= 'Z' ? ch - 'A' + 'a' : ch);
  for (const char* e : kExtensions)
    if (ext == e) return true;
  return false;
}

std::string Recipe::MapPath() const { return imagesPath + map + (HasImageExtension(map) ? "" : ".bmp"); }

std::string Recipe::ElevationPath() const {
  if (!HasImageExtension(map)) return imagesPath + map + "_elevation.bmp";
  const std::size_t dot = map.find_last_of('.');
  return imagesPath + map.substr(0, dot) + "_elevation" + map.substr(dot);
}

bool ParseRecipe(const std::string& text, const std::string& file, Recipe& recipe, std::string& error,
                 RecipeKind kind) {
  Checker c(file);
  try {
    const json root = json::parse(text);
    Recipe r;
    r.file = file;
    ReadTop(c, root, file, r, kind);
    recipe = std::move(r);
    return true;
  } catch (const RecipeError& e) {
    error = e.text;
  } catch (const json::exception& e) {
    error = "recipe '" + file + "': not valid JSON: " + e.what();
  }
  return false;
}

bool ReadRecipe(const std::string& file, Recipe& recipe, std::string& error, RecipeKind kind, std::string* copy) {
  const std::string prefix = "cannot read recipe '" + file + "': ";
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    error = prefix + std::strerror(errno);
    return false;
  }
  struct stat st {};
  std::string text;
  bool ok = ::fstat(fd, &st) == 0;
  if (!ok) error = prefix + std::strerror(errno);
  else if (!S_ISREG(st.st_mode)) error = prefix + "it is not a regular file", ok = false;
  else if (st.st_size > kMaxRecipeBytes)
    error = prefix + "it is " + std::to_string(st.st_size) + " bytes; a recipe may hold at most " +
            std::to_string(kMaxRecipeBytes), ok = false;
  if (ok) {
    text.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (ok && got < text.size()) {
      const ssize_t n = ::read(fd, &text[got], text.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        error = prefix + (n < 0 ? std::strerror(errno) : "the file ended early");
        ok = false;
      } else {
        got += static_cast<std::size_t>(n);
      }
    }
  }
  ::close(fd);
  if (ok && copy) *copy = text;
  return ok && ParseRecipe(text, file, recipe, error, kind);
}

}  // namespace city
