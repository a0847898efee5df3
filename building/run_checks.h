// What a RaiseTower run reads from its arguments, and the checks made before
// the run touches the scene: the counts and the name must make sense, and no
// object of the user's may bear a name the run creates or looks up (the run
// finds its objects by name, so a clash would merge, move or delete the
// user's object).
#pragma once

#include <vector>

#include <xsi_plugin.h>

namespace raisetower {

struct RunArguments {
  XSI::CString buildingName;  // 0 "buildingname"
  int floors = 0;             // 1 "floors": storeys below the roof
  int unitsWidth = 0;         // 2 "unitswidth"
  int unitsLength = 0;        // 3 "unitslength"
  XSI::CString type;          // 4 "type": style suffix of the unit files
  XSI::CString entranceFace;  // 5 "entranceface"
  int entrancePosition = 0;   // 6 "entranceposition"
  // 7..15 (groundtype, floorface1..4, balconyface1..4) are accepted and
  // have no effect.
};

RunArguments readArguments(const XSI::CValueArray& args);

// Base names of the eight unit files of a style, in import order: angle,
// angleroof, floor, floorclose, ground, groundclose, grounddoor, roof.
std::vector<XSI::CString> unitBaseNames(const XSI::CString& type);

// Every name the run creates or looks up, in a fixed order: the building,
// its ground, upper-storey and roof meshes, "newunit", "polymsh" and the
// eight unit base names.
std::vector<XSI::CString> namesUsedByRun(const RunArguments& run);

// Empty when the arguments can be built; else a message naming the
// argument and what is wrong with it.
XSI::CString argumentProblem(const RunArguments& run);

// Empty when the scene holds none of namesUsedByRun; else a message naming
// every object in the way. Leaves the selection as it found it.
XSI::CString nameClashProblem(const RunArguments& run);

}  // namespace raisetower
