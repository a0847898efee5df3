// One run of RaiseTower: read the arguments, check them and the scene, import
// the eight unit templates of the style, build ground storey, upper storeys
// and roof, centre the building, delete the templates, return true.
//
// A run that cannot build (bad arguments, a name already taken in the scene,
// a unit file that will not import) logs one error naming the cause, leaves
// the scene as it found it and fails without a return value.
#pragma once

#include <xsi_plugin.h>

namespace raisetower {

XSI::CStatus executeRaiseTower(XSI::CRef& context);

}  // namespace raisetower
