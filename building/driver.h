// One run of RaiseTower: read the arguments, check them and the scene, import
// the eight unit templates of the style, build ground storey, upper storeys
// and roof, centre the building, delete the templates, return true.
//
// A run that cannot build (bad arguments, a name already taken in the scene,
// a unit file that will not import, a building over the size limits) or
// whose host commands fail half way logs one error naming the cause or the
// step, deletes every object it created, restores the selection and fails
// without a return value. Either way the run state (run_state.h) is empty
// afterwards.
#pragma once

#include <xsi_plugin.h>

namespace raisetower {

XSI::CStatus executeRaiseTower(XSI::CRef& context);

}  // namespace raisetower
