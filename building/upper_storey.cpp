#include "upper_storey.h"

#include "footprint.h"
#include "registration.h"
#include "unit_ops.h"

namespace raisetower {

XSI::CString upperStoreyName(XSI::CString buildingName, int storeyIndex) {
  return buildingName + L"floor" + XSI::CValue(storeyIndex).GetAsText();
}

void buildUpperStorey(int storeyIndex, XSI::CString buildingName, int unitsWidth,
                      int unitsLength) {
  const XSI::CString meshName = upperStoreyName(buildingName, storeyIndex);

  laySeedPiece(angleUnit, meshName);

  for (const Placement& p : footprintWalk(unitsWidth, unitsLength)) {
    placeUnit(meshName, p.corner ? angleUnit : floorUnit, p.rotationY, p.gridZ, p.gridX);
  }
  const float height = static_cast<float>(static_cast<double>(storeyIndex) * kStoreyHeight);
  moveUnit(meshName, 0.0f, height, 0.0f);
  mergeUnits(buildingName + L"ground", upperStoreyName(buildingName, storeyIndex));
}

}  // namespace raisetower
