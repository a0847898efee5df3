// Unit operations: the only way the building generator changes the scene.
// Each runs host commands or writes kinematic parameters; objects are found
// and handed on by name, relying on the host's naming and selection:
//   - ObjImport names an object after its file's base name;
//   - Duplicate leaves the new copy as the selection's item 0;
//   - ApplyGenOp MeshMerge creates "polymsh", DeleteGeneratorInputs deletes
//     both inputs.
// The caller guarantees that no object of the user's bears one of the names
// used here (see run_checks.h), so lookups by name hit only our objects.
#pragma once

#include <xsi_plugin.h>

namespace raisetower {

constexpr float kUnitSize = 13.5f;       // grid step between neighbouring units
constexpr float kStoreyHeight = 14.0f;   // vertical step between storeys
constexpr double kMergeTolerance = 0.001;
extern const wchar_t* const kTemporaryUnitName;  // "newunit"
extern const wchar_t* const kMergeResultName;    // "polymsh"

// Imports unitsLibraryPath + unitName + ".obj". Returns the imported object,
// or an invalid handle when the host could not import the file.
XSI::X3DObject importUnit(XSI::CString unitName);
// Copies `source`; the copy is named `newName` and returned.
XSI::X3DObject duplicateUnit(XSI::X3DObject source, XSI::CString newName);
void deleteUnit(XSI::X3DObject sceneObject);
// Sets the global position of the object named `objectName` (posx, posy,
// posz in that order); leaves that object selected.
void moveUnit(XSI::CString objectName, float x, float y, float z);
// Copies `unitTemplate` as "newunit", turns it by rotationY degrees about
// the vertical, puts it at posz = 13.5 gridZ, posx = -13.5 gridX (height
// untouched) and merges it into `meshName`.
void placeUnit(XSI::CString meshName, XSI::X3DObject unitTemplate, float rotationY,
               float gridZ, float gridX);
// Fuses `otherName` into `targetName`; the result keeps `targetName`.
void mergeUnits(XSI::CString targetName, XSI::CString otherName);

}  // namespace raisetower
