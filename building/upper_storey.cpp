#include "upper_storey.h"

#include "footprint.h"
#include "run_state.h"
#include "unit_ops.h"

namespace raisetower {

XSI::CString upperStoreyName(XSI::CString buildingName, int storeyIndex) {
  return buildingName + L"floor" + XSI::CValue(storeyIndex).GetAsText();
}

XSI::CString buildUpperStorey(int storeyIndex, const XSI::CString& buildingName, int unitsWidth,
                              int unitsLength) {
  const XSI::CString storey = L"storey " + XSI::CValue(storeyIndex).GetAsText();
  Ring ring;
  ring.meshName = upperStoreyName(buildingName, storeyIndex);
  ring.storey = storey;
  ring.cornerUnit = angleUnit;
  ring.wallUnit = floorUnit;
  ring.height = static_cast<float>(static_cast<double>(storeyIndex) * kStoreyHeight);
  XSI::CString problem = layRing(ring, unitsWidth, unitsLength);
  if (!problem.IsEmpty()) return problem;
  problem = mergeUnits(buildingName + L"ground", ring.meshName);
  if (!problem.IsEmpty()) return L"merging " + storey + L" into the building failed: " + problem;
  return XSI::CString();
}

}  // namespace raisetower
