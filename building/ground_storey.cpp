#include "ground_storey.h"

#include <cstdlib>

#include "footprint.h"
#include "run_state.h"
#include "unit_ops.h"

namespace raisetower {

int entranceSide(XSI::CString entranceFace) {
  if (entranceFace == L"A") return 1;
  if (entranceFace == L"B") return 2;
  if (entranceFace == L"C") return 3;
  if (entranceFace == L"D") return 4;
  return 0;
}

int entranceSlot(XSI::CString entranceFace, int entrancePosition, int unitsWidth,
                 int unitsLength) {
  const int side = entranceSide(entranceFace);
  if (side == 0) return 0;
  // Sides 1 and 3 run along the width, 2 and 4 along the length; 3 and 4
  // are walked with falling slot numbers.
  const int count = (side == 1 || side == 3) ? unitsWidth : unitsLength;
  const bool rising = side == 1 || side == 2;
  switch (entrancePosition) {
    case 0:
      return rising ? count - 1 : 1;
    case 1:
      return static_cast<int>(static_cast<double>(count) * 0.5);
    case 2:
      return rising ? 1 : count - 1;
    case 3: {
      const int draw = std::rand();
      return count > 1 ? 1 + draw % (count - 1) : 0;
    }
    default:
      return 0;
  }
}

XSI::CString buildGroundStorey(const XSI::CString& buildingName, int unitsWidth, int unitsLength,
                               const XSI::CString& entranceFace, int entrancePosition) {
  Ring ring;
  ring.meshName = buildingName + L"ground";
  ring.storey = L"the ground storey";
  ring.cornerUnit = angleUnit;
  ring.wallUnit = groundUnit;
  ring.doorUnit = groundDoorUnit;
  ring.doorSide = entranceSide(entranceFace);
  ring.doorSlot = entranceSlot(entranceFace, entrancePosition, unitsWidth, unitsLength);
  ring.height = 0.0f;
  return layRing(ring, unitsWidth, unitsLength);
}

}  // namespace raisetower
