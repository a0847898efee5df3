// The footprint walk and the ring laid along it, shared by every storey and
// the roof. The walk: the four sides of a W x L footprint, each side's wall
// slots followed by the corner that closes it. The seed piece at grid (0, 0)
// is not part of the walk.
//
//   side 1: gridX = 0, gridZ = 1 .. W-1 rising,  rot    0, corner (W, 0)
//   side 2: gridZ = W, gridX = 1 .. L-1 rising,  rot  -90, corner (W, L)
//   side 3: gridX = L, gridZ = W-1 .. 1 falling, rot -180, corner (0, L)
//   side 4: gridZ = 0, gridX = L-1 .. 1 falling, rot -270, corner (0, 0)
//
// A count of 1 or less gives its two sides no wall slot; the corners are
// always there.
#pragma once

#include <vector>

#include <xsi_plugin.h>

namespace raisetower {

constexpr float kSeedRotation = -270.0f;

struct Placement {
  bool corner = false;  // corner unit, else a wall slot
  int side = 0;         // 1..4: the side the slot lies on, or the corner closes
  int slot = 0;         // wall slot number along its side; 0 for corners
  float rotationY = 0;  // degrees
  float gridZ = 0;
  float gridX = 0;
};

// Placements in walk order: 2(W-1) + 2(L-1) wall slots and four corners
// (fewer wall slots when a count is below 2).
std::vector<Placement> footprintWalk(int unitsWidth, int unitsLength);

// Starts a storey or roof mesh: a copy of the corner template named
// `meshName`, turned to kSeedRotation and left where the template stands.
// Returns what failed, or an empty text (see unit_ops.h).
XSI::CString laySeedPiece(const XSI::X3DObject& cornerTemplate, const XSI::CString& meshName);

// One ring: what a storey or the roof places along the walk and where the
// finished ring goes.
struct Ring {
  XSI::CString meshName;     // the mesh the ring is laid out as
  XSI::CString storey;       // for messages: "the ground storey", "storey 2", "the roof"
  XSI::X3DObject cornerUnit; // the seed piece and the four corners
  XSI::X3DObject wallUnit;   // every wall slot but the door's
  XSI::X3DObject doorUnit;   // the wall slot (doorSide, doorSlot); unused when doorSide is 0
  int doorSide = 0;
  int doorSlot = 0;
  float height = 0;          // posy of the finished ring
};

// Lays the seed piece, places the walk's units and merges each into
// ring.meshName, then moves the mesh to (0, height, 0). Returns an empty
// text, or the step that failed and why, e.g. "placing wall unit 3 of side 2
// on storey 1 failed: Duplicate('p1900_floorbrick') returned status 1".
XSI::CString layRing(const Ring& ring, int unitsWidth, int unitsLength);

}  // namespace raisetower
