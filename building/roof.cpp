#include "roof.h"

#include "footprint.h"
#include "registration.h"
#include "unit_ops.h"

namespace raisetower {

void buildRoof(int floors, XSI::CString buildingName, int unitsWidth, int unitsLength) {
  const XSI::CString roofName = buildingName + L"roof";

  laySeedPiece(angleRoofUnit, roofName);

  for (const Placement& p : footprintWalk(unitsWidth, unitsLength)) {
    placeUnit(roofName, p.corner ? angleRoofUnit : roofUnit, p.rotationY, p.gridZ, p.gridX);
  }
  const float height = static_cast<float>(static_cast<double>(floors) * kStoreyHeight);
  moveUnit(roofName, 0.0f, height, 0.0f);
  mergeUnits(buildingName + L"ground", roofName);

  XSI::Selection selection = XSI::Application().GetSelection();
  selection.SetAsText(buildingName + L"ground");
  XSI::X3DObject building(selection[0]);
  building.PutParameterValue(L"name", XSI::CValue(buildingName), XSI::kDefaultTime);
}

}  // namespace raisetower
