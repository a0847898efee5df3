#include "footprint.h"

#include "unit_ops.h"

namespace raisetower {

namespace {

Placement wall(int side, int slot, float rotationY, int gridZ, int gridX) {
  return Placement{false, side, slot, rotationY, static_cast<float>(gridZ),
                   static_cast<float>(gridX)};
}

Placement corner(int side, float rotationY, int gridZ, int gridX) {
  return Placement{true, side, 0, rotationY, static_cast<float>(gridZ),
                   static_cast<float>(gridX)};
}

}  // namespace

std::vector<Placement> footprintWalk(int unitsWidth, int unitsLength) {
  const int w = unitsWidth;
  const int l = unitsLength;
  std::vector<Placement> walk;
  for (int i = 1; i < w; ++i) walk.push_back(wall(1, i, 0.0f, i, 0));
  walk.push_back(corner(1, 0.0f, w, 0));
  for (int j = 1; j < l; ++j) walk.push_back(wall(2, j, -90.0f, w, j));
  walk.push_back(corner(2, -90.0f, w, l));
  for (int k = w - 1; k > 0; --k) walk.push_back(wall(3, k, -180.0f, k, l));
  walk.push_back(corner(3, -180.0f, 0, l));
  for (int m = l - 1; m > 0; --m) walk.push_back(wall(4, m, -270.0f, 0, m));
  walk.push_back(corner(4, -270.0f, 0, 0));
  return walk;
}

XSI::CString laySeedPiece(const XSI::X3DObject& cornerTemplate, const XSI::CString& meshName) {
  XSI::X3DObject seed;
  XSI::CString problem = duplicateUnit(cornerTemplate, meshName, seed);
  if (!problem.IsEmpty()) return problem;
  const XSI::CStatus status = seed.GetKinematics().GetGlobal().PutParameterValue(
      L"roty", XSI::CValue(static_cast<double>(kSeedRotation)), XSI::kDefaultTime);
  if (status.Succeeded()) return XSI::CString();
  return L"turning '" + meshName + L"' returned status " +
         XSI::CValue(static_cast<int>(status.GetCode())).GetAsText();
}

XSI::CString layRing(const Ring& ring, int unitsWidth, int unitsLength) {
  const XSI::CString on = L" on " + ring.storey + L" failed: ";
  XSI::CString problem = laySeedPiece(ring.cornerUnit, ring.meshName);
  if (!problem.IsEmpty()) return L"laying the first corner unit" + on + problem;

  for (const Placement& p : footprintWalk(unitsWidth, unitsLength)) {
    const bool door = !p.corner && p.side == ring.doorSide && p.slot == ring.doorSlot;
    const XSI::X3DObject& unit = p.corner ? ring.cornerUnit : door ? ring.doorUnit : ring.wallUnit;
    problem = placeUnit(ring.meshName, unit, p.rotationY, p.gridZ, p.gridX);
    if (problem.IsEmpty()) continue;
    const XSI::CString side = XSI::CValue(p.side).GetAsText();
    if (p.corner) return L"placing the corner unit closing side " + side + on + problem;
    return L"placing wall unit " + XSI::CValue(p.slot).GetAsText() + L" of side " + side + on +
           problem;
  }
  problem = moveUnit(ring.meshName, 0.0f, ring.height, 0.0f);
  if (!problem.IsEmpty()) return L"moving " + ring.storey + L" into place failed: " + problem;
  return XSI::CString();
}

}  // namespace raisetower
