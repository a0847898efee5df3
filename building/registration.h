// Registration of the HouseSmith plug-in and the state it shares across one
// RaiseTower run: the units-library folder and the eight unit-template slots.
//
// The slots are handles to scene objects imported by the current run; they
// go stale when the run deletes the templates and are only read during a run.
// The host calls everything here on its one thread, never two runs at once.
#pragma once

#include <xsi_plugin.h>

namespace raisetower {

// Library-wide state, constructed empty when the library loads (in this
// order) and destroyed in reverse order when it unloads.
extern XSI::CString unitsLibraryPath;  // ends in a backslash once defined
extern XSI::X3DObject angleUnit;       // corner unit
extern XSI::X3DObject angleRoofUnit;   // roof corner unit
extern XSI::X3DObject floorUnit;       // upper-storey wall unit
extern XSI::X3DObject floorCloseUnit;  // closed upper-storey wall (never placed)
extern XSI::X3DObject groundUnit;      // ground-storey wall unit
extern XSI::X3DObject groundCloseUnit; // closed ground-storey wall (never placed)
extern XSI::X3DObject groundDoorUnit;  // ground-storey entrance unit
extern XSI::X3DObject roofUnit;        // roof edge unit

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
