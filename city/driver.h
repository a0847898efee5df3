// One RaiseCity run: read and check the recipe, survey every zone with
// findSpots, lay out the lots, then build the terrain and the buildings with
// host commands. Anything wrong in the recipe, the kit, the images or the
// names is found before the first object is made; a failure or a cancel
// after that removes everything the run made, clips it loaded included.
#pragma once

#include <xsi_plugin.h>

namespace city {

extern const wchar_t* const kPluginName;   // "CityPlanner"
extern const wchar_t* const kCommandName;  // "RaiseCity"

XSI::CStatus registerPlugin(XSI::PluginRegistrar& registrar);
XSI::CStatus logUnload(const XSI::PluginRegistrar& registrar);
XSI::CStatus defineCommand(XSI::CRef& context);
XSI::CStatus executeRaiseCity(XSI::CRef& context);

}  // namespace city
