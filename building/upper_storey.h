// An upper storey n >= 1: a ring of floor wall units laid out at height 0
// as <buildingName>"floor"<n>, lifted to n x 14 and merged into the building
// mesh <buildingName>"ground", which must exist.
#pragma once

#include <xsi_plugin.h>

namespace raisetower {

// <buildingName>"floor"<n>, the index written by the host's value type.
XSI::CString upperStoreyName(XSI::CString buildingName, int storeyIndex);

// Returns an empty text, or the step that failed and why (see layRing).
XSI::CString buildUpperStorey(int storeyIndex, const XSI::CString& buildingName, int unitsWidth,
                              int unitsLength);

}  // namespace raisetower
