// The units library as the city needs it: whether a style is there, and its
// measurements, read from the style's corner units (the layout conventions of
// home/builder/README.md tie RaiseTower's grid and storey step to them).
#pragma once

#include <string>

#include "layout.h"

namespace city {

// Checks that all eight unit files of `style` are regular files in
// `unitsFolder` (ending in '/') and measures the corner unit (cell: its larger
// horizontal extent; storey: its height) and the roof corner (roof: its
// height), and counts the vertices of the units RaiseTower places (for the
// size budget). False with `error` naming the style and the files otherwise.
bool MeasureKit(const std::string& unitsFolder, const std::string& style, KitSize& kit, std::string& error);

}  // namespace city
