// The roof: a ring of roof edge units with roof corners, laid out as
// <buildingName>"roof", lifted to floors x 14, merged into the building mesh
// <buildingName>"ground", which then takes the name <buildingName>.
#pragma once

#include <xsi_plugin.h>

namespace raisetower {

// Returns an empty text, or the step that failed and why (see layRing).
XSI::CString buildRoof(int floors, const XSI::CString& buildingName, int unitsWidth,
                       int unitsLength);

}  // namespace raisetower
