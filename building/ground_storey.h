// The ground storey: storey 0, a ring of ground wall units with at most one
// entrance unit, merged into the building mesh <buildingName>"ground" and
// put at the origin.
#pragma once

#include <xsi_plugin.h>

namespace raisetower {

// Side 1..4 named by the entrance face text "A".."D"; 0 for any other text.
int entranceSide(XSI::CString entranceFace);

// The wall slot of the entrance on its side, or 0 for no entrance.
// Position 0: last slot in walk order, 1: the middle (count / 2), 2: first in
// walk order, 3: 1 + rand() % (count - 1) (one draw, unseeded here; slot 0
// when the side has no wall slot). Other faces or positions: 0, no draw.
int entranceSlot(XSI::CString entranceFace, int entrancePosition, int unitsWidth,
                 int unitsLength);

// Returns an empty text, or the step that failed and why (see layRing).
XSI::CString buildGroundStorey(const XSI::CString& buildingName, int unitsWidth, int unitsLength,
                               const XSI::CString& entranceFace, int entrancePosition);

}  // namespace raisetower
