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

XSI::X3DObject laySeedPiece(XSI::X3DObject cornerTemplate, XSI::CString meshName) {
  XSI::X3DObject seed = duplicateUnit(cornerTemplate, meshName);
  seed.GetKinematics().GetGlobal().PutParameterValue(
      L"roty", XSI::CValue(static_cast<double>(kSeedRotation)), XSI::kDefaultTime);
  return seed;
}

}  // namespace raisetower
