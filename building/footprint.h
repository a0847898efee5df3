// The footprint walk shared by every storey and the roof: the four sides of
// a W x L footprint, each side's wall slots followed by the corner that
// closes it. The seed piece at grid (0, 0) is not part of the walk.
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
XSI::X3DObject laySeedPiece(XSI::X3DObject cornerTemplate, XSI::CString meshName);

}  // namespace raisetower
