// Registration of the HouseSmith plug-in: its name, the RaiseTower command
// and the command's definition (description, return value, the sixteen
// positional arguments, the units-library folder of run_state.h).
#pragma once

#include <xsi_plugin.h>

namespace raisetower {

extern const wchar_t* const kPluginName;   // "HouseSmith"
extern const wchar_t* const kCommandName;  // "RaiseTower"

// Names the plug-in and registers the RaiseTower command.
XSI::CStatus registerPlugin(XSI::PluginRegistrar& registrar);
// Logs "<plug-in name> has been unloaded." at severity 16.
XSI::CStatus logUnload(const XSI::PluginRegistrar& registrar);
// Describes the command, enables its return value, fixes the units-library
// folder and declares the sixteen positional arguments.
XSI::CStatus defineCommand(XSI::CRef& context);

}  // namespace raisetower
