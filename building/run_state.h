// The state a RaiseTower run shares among its parts, kept library-wide: the
// units-library folder, the eight unit-template slots and the objects the
// current run has created so far.
//
// The slots and the created-objects list are handles to scene objects of the
// current run only: every run starts and ends with them empty
// (clearRunState), whether it builds or fails. The host calls everything
// here on its one thread, never two runs at once.
#pragma once

#include <vector>

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

// Template slots in import order (angle, angleroof, floor, floorclose,
// ground, groundclose, grounddoor, roof), matching unitBaseNames.
std::vector<XSI::X3DObject*> templateSlots();

// Records an object the run has created, so that a failed run can delete it
// again. Objects already gone (merged away, deleted) are forgotten here, so
// the list stays as short as the set of the run's live objects.
void noteCreated(const XSI::X3DObject& created);
// The run's objects that still exist, oldest first.
std::vector<XSI::X3DObject> liveCreatedObjects();

// Empties the template slots and the created-objects list.
void clearRunState();

}  // namespace raisetower
