#include "roof.h"

#include "footprint.h"
#include "run_state.h"
#include "unit_ops.h"

namespace raisetower {

XSI::CString buildRoof(int floors, const XSI::CString& buildingName, int unitsWidth,
                       int unitsLength) {
  Ring ring;
  ring.meshName = buildingName + L"roof";
  ring.storey = L"the roof";
  ring.cornerUnit = angleRoofUnit;
  ring.wallUnit = roofUnit;
  ring.height = static_cast<float>(static_cast<double>(floors) * kStoreyHeight);
  XSI::CString problem = layRing(ring, unitsWidth, unitsLength);
  if (!problem.IsEmpty()) return problem;
  const XSI::CString groundName = buildingName + L"ground";
  problem = mergeUnits(groundName, ring.meshName);
  if (!problem.IsEmpty()) return L"merging the roof into the building failed: " + problem;
  problem = renameUnit(groundName, buildingName);
  if (!problem.IsEmpty()) return L"naming the building failed: " + problem;
  return XSI::CString();
}

}  // namespace raisetower
