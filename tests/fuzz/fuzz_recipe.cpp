// libFuzzer harness for the city recipe reader: the input is the recipe's
// text, read as the file "/recipes/fuzz.json".
//
// Invariants:
//  - reading never throws, and gives the same answer twice;
//  - a refused recipe has an error that names the file;
//  - an accepted recipe holds only what a run can use: a finite scale > 0, a
//    finite height >= 0, at least one zone, colours and ranges in 0..255,
//    1 <= min floors <= max floors <= kMaxFloors, an entrance A..D, and zone
//    names and styles that pass their own checks;
//  - relative image folders resolve below the recipe's folder and end in '/'.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "recipe.h"

namespace {

[[noreturn]] void Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "invariant broken: %s (%s)\n", what, detail.c_str());
  std::abort();
}

void CheckZone(const city::Zone& z) {
  for (int i = 0; i < 3; ++i) {
    if (z.rgb[i] < 0 || z.rgb[i] > 255) Fail("rgb out of 0..255", z.name);
    if (z.range[i] < 0 || z.range[i] > 255) Fail("range out of 0..255", z.name);
  }
  if (z.floorsMin < 1 || z.floorsMin > z.floorsMax || z.floorsMax > city::kMaxFloors)
    Fail("floors out of order or range", z.name);
  if (z.entrance < 'A' || z.entrance > 'D') Fail("entrance not A..D", z.name);
  if (!city::NameProblem(z.name).empty()) Fail("zone name accepted though it has a problem", z.name);
  if (!city::StyleProblem(z.style).empty()) Fail("style accepted though it has a problem", z.style);
  if (z.minPixels < 1) Fail("min_pixels below 1", z.name);
}

void CheckAccepted(const city::Recipe& r) {
  if (!std::isfinite(r.scale) || r.scale <= 0) Fail("scale not finite and positive", r.file);
  if (!std::isfinite(r.height) || r.height < 0) Fail("height not finite and >= 0", r.file);
  if (r.zones.empty()) Fail("no zones", r.file);
  if (r.imagesPath.empty() || r.imagesPath.back() != '/') Fail("images folder does not end in '/'", r.imagesPath);
  if (r.imagesPath[0] != '/') Fail("images folder not resolved to a full path", r.imagesPath);
  for (const city::Zone& z : r.zones) CheckZone(z);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string file = "/recipes/fuzz.json";
  city::Recipe first, second;
  std::string error1, error2;
  const bool ok1 = city::ParseRecipe(text, file, first, error1);
  const bool ok2 = city::ParseRecipe(text, file, second, error2);
  if (ok1 != ok2 || error1 != error2) Fail("two reads disagree", error1 + " / " + error2);
  // The same text as a region recipe: its own keys checked, or a named error.
  city::Recipe region;
  std::string error3;
  if (!city::ParseRecipe(text, file, region, error3, city::RecipeKind::Region)) {
    if (error3.find("'" + file + "'") == std::string::npos) Fail("region error does not name the file", error3);
  } else {
    CheckAccepted(region);
    if (region.tile < 16 || region.tile > city::kMaxTile || region.halo < 0 || region.halo > city::kMaxHalo)
      Fail("region tile or halo out of range", region.file);
    if (region.out.empty() || region.out[0] != '/') Fail("region output folder not resolved", region.out);
  }
  if (!ok1) {
    if (error1.find("'" + file + "'") == std::string::npos) Fail("error does not name the file", error1);
    return 0;
  }
  if (first.zones.size() != second.zones.size() || first.imagesPath != second.imagesPath)
    Fail("two reads disagree", first.imagesPath);
  CheckAccepted(first);
  return 0;
}
