// Unit operations: the only way the building generator changes the scene.
// Each runs host commands or writes kinematic parameters; objects are found
// and handed on by name, relying on the host's naming and selection:
//   - ObjImport names an object after its file's base name;
//   - Duplicate returns the new copy (and leaves it selected);
//   - ApplyGenOp MeshMerge creates "polymsh", DeleteGeneratorInputs deletes
//     both inputs.
// The caller guarantees that no object of the user's bears one of the names
// used here (see run_checks.h), so lookups by name hit only our objects.
//
// Every operation stops at the first host command or parameter write that
// fails and returns what failed, e.g. "Duplicate('p1900_anglebrick')
// returned status 1"; an empty text means it all succeeded. Every object an
// operation creates is recorded with noteCreated (run_state.h), so the caller
// can delete what a failed run left behind.
#pragma once

#include <xsi_plugin.h>

namespace raisetower {

constexpr float kUnitSize = 13.5f;       // grid step between neighbouring units
constexpr float kStoreyHeight = 14.0f;   // vertical step between storeys
constexpr double kMergeTolerance = 0.001;
extern const wchar_t* const kTemporaryUnitName;  // "newunit"
extern const wchar_t* const kMergeResultName;    // "polymsh"

// A name or value as messages show it: in single quotes.
inline XSI::CString quoted(const XSI::CString& text) { return L"'" + text + L"'"; }

// Imports unitsLibraryPath + unitName + ".obj" into `imported`. The host
// names it after the file, normally unitName: the caller checks. Fails when
// the host cannot import the file; `imported` stays invalid then.
XSI::CString importUnit(const XSI::CString& unitName, XSI::X3DObject& imported);
// Copies `source`; the copy is named `newName` and put in `copy`.
XSI::CString duplicateUnit(const XSI::X3DObject& source, const XSI::CString& newName,
                           XSI::X3DObject& copy);
XSI::CString deleteUnit(const XSI::X3DObject& sceneObject);
// Sets the global position of the object named `objectName` (posx, posy,
// posz in that order); leaves that object selected.
XSI::CString moveUnit(const XSI::CString& objectName, float x, float y, float z);
// Copies `unitTemplate` as "newunit", turns it by rotationY degrees about
// the vertical, puts it at posz = 13.5 gridZ, posx = -13.5 gridX (height
// untouched) and merges it into `meshName`.
XSI::CString placeUnit(const XSI::CString& meshName, const XSI::X3DObject& unitTemplate,
                       float rotationY, float gridZ, float gridX);
// Fuses `otherName` into `targetName`; the result keeps `targetName`.
XSI::CString mergeUnits(const XSI::CString& targetName, const XSI::CString& otherName);
// Selects the object named `from` and renames it `to`; leaves it selected.
XSI::CString renameUnit(const XSI::CString& from, const XSI::CString& to);
// Moves the object's centre to the middle of its vertices (MoveCtr2Vertices),
// then the object to the origin (Translate, absolute, global).
XSI::CString centreAtOrigin(const XSI::CString& objectName);

}  // namespace raisetower
