// What a RaiseTower run reads from its arguments, and the checks made before
// the run builds anything: the counts and names must make sense, the
// building must fit the size limits, and no object of the user's may bear a
// name the run creates or looks up (the run finds its objects by name, so a
// clash would merge, move or delete the user's object).
//
// Every check costs the same small memory whatever the counts: names are
// compared by their patterns, never listed.
#pragma once

#include <cstddef>
#include <vector>

#include <xsi_plugin.h>

namespace raisetower {

// Size limits (docs/raisetower.md). A building may place at most kMaxUnits
// unit copies, seed pieces included, and the units it places may hold at
// most kMaxVertices vertices together (counted before welding).
constexpr double kMaxUnits = 50000;
constexpr double kMaxVertices = 2000000;
// The building name and the style are looked up once per storey; longer
// texts are refused rather than copied that often.
constexpr std::size_t kMaxNameLength = 256;

struct RunArguments {
  XSI::CString buildingName;  // 0 "buildingname"
  int floors = 0;             // 1 "floors": storeys below the roof
  int unitsWidth = 0;         // 2 "unitswidth"
  int unitsLength = 0;        // 3 "unitslength"
  XSI::CString type;          // 4 "type": style suffix of the unit files
  XSI::CString entranceFace;  // 5 "entranceface"
  int entrancePosition = 0;   // 6 "entranceposition", read as the host reads ints
  // 7..15 (groundtype, floorface1..4, balconyface1..4) are accepted and
  // have no effect.
};

// Reads and checks the arguments. Empty when `run` can be built (counts are
// whole numbers of at least 1 within kMaxUnits, names are usable); else a
// message naming the argument and what is wrong with it.
XSI::CString readArguments(const XSI::CValueArray& args, RunArguments& run);

// Base names of the eight unit files of a style, in import order: angle,
// angleroof, floor, floorclose, ground, groundclose, grounddoor, roof.
std::vector<XSI::CString> unitBaseNames(const XSI::CString& type);

// Unit copies a building places: per storey and for the roof a ring of a
// seed piece, four corners and 2(W-1) + 2(L-1) walls.
double unitCount(double floors, double unitsWidth, double unitsLength);

// Vertices of the units a run places, from each template's vertex count;
// the ground storey's walls are counted at the larger of wall and door.
struct KitVertexCounts {
  double angle = 0, angleRoof = 0, floor = 0, ground = 0, groundDoor = 0, roof = 0;
};
double vertexEstimate(const RunArguments& run, const KitVertexCounts& kit);
// Empty when vertexEstimate is within kMaxVertices; else a message giving
// the estimate and the limit.
XSI::CString vertexProblem(const RunArguments& run, const KitVertexCounts& kit);

// The units library as the file system names it: unitsLibraryPath with the
// host's separators ('/'), ending in '/'.
XSI::CString unitsLibraryFolder();

// Empty when the units library holds all eight unit files of `type` as
// readable regular files; else one message naming the library folder, what
// is missing and the styles the library does hold. Checked before the first
// import, so a wrong style costs one error line and no scene change.
XSI::CString unitsLibraryProblem(const XSI::CString& type);

// Empty when the arguments place an entrance; else a warning naming the
// entrance face (or position) that places none. A run without an entrance is
// allowed, so this is a warning only; an omitted face is taken as meant.
XSI::CString entranceWarning(const RunArguments& run);

// True when `name` is <buildingName>"floor"<i> for an upper storey
// 1 <= i < floors, with i written as the host writes ints.
bool isUpperStoreyName(const XSI::CString& name, const RunArguments& run);

// Empty when the scene holds no object with a name the run creates or
// looks up: the building, its ground, upper-storey and roof meshes,
// "newunit", "polymsh" and the eight unit base names. Else a message naming
// the objects in the way. Leaves the selection as it found it.
XSI::CString nameClashProblem(const RunArguments& run);

}  // namespace raisetower
