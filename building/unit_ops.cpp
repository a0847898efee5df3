#include "unit_ops.h"

#include "registration.h"

namespace raisetower {

const wchar_t* const kTemporaryUnitName = L"newunit";
const wchar_t* const kMergeResultName = L"polymsh";

namespace {

XSI::CStatus run(const wchar_t* command, const XSI::CValueArray& args, XSI::CValue& result) {
  return XSI::Application().ExecuteCommand(command, args, result);
}

XSI::X3DObject firstSelected() {
  XSI::Selection selection = XSI::Application().GetSelection();
  return XSI::X3DObject(selection[0]);
}

}  // namespace

XSI::X3DObject importUnit(XSI::CString unitName) {
  XSI::CValueArray args(0);
  XSI::CValue result;
  args.Add(unitsLibraryPath + unitName + L".obj");
  args.Add(1);
  args.Add(0);
  args.Add(false);
  args.Add(false);
  args.Add(false);
  args.Add(false);
  if (!run(L"ObjImport", args, result).Succeeded()) return XSI::X3DObject();

  XSI::Selection selection = XSI::Application().GetSelection();
  if (!selection.SetAsText(unitName).Succeeded()) return XSI::X3DObject();
  XSI::X3DObject unit(selection[0]);
  if (unit.GetName() != unitName) return XSI::X3DObject();
  return unit;
}

XSI::X3DObject duplicateUnit(XSI::X3DObject source, XSI::CString newName) {
  XSI::CValueArray args(0);
  XSI::CValue result;
  args.Add(source.GetFullName());
  run(L"Duplicate", args, result);
  XSI::X3DObject copy = firstSelected();
  copy.PutParameterValue(L"name", XSI::CValue(newName), XSI::kDefaultTime);
  return copy;
}

void deleteUnit(XSI::X3DObject sceneObject) {
  XSI::CValueArray args(0);
  XSI::CValue result;
  args.Add(sceneObject.GetFullName());
  run(L"DeleteObj", args, result);
}

void moveUnit(XSI::CString objectName, float x, float y, float z) {
  XSI::Selection selection = XSI::Application().GetSelection();
  selection.SetAsText(objectName);
  XSI::X3DObject object(selection[0]);
  XSI::KinematicState global = object.GetKinematics().GetGlobal();
  global.PutParameterValue(L"posx", XSI::CValue(x), XSI::kDefaultTime);
  global.PutParameterValue(L"posy", XSI::CValue(y), XSI::kDefaultTime);
  global.PutParameterValue(L"posz", XSI::CValue(z), XSI::kDefaultTime);
}

void placeUnit(XSI::CString meshName, XSI::X3DObject unitTemplate, float rotationY,
               float gridZ, float gridX) {
  XSI::X3DObject copy = duplicateUnit(unitTemplate, kTemporaryUnitName);
  XSI::KinematicState global = copy.GetKinematics().GetGlobal();
  const float posx = -kUnitSize * gridX;
  const float posz = kUnitSize * gridZ;
  global.PutParameterValue(L"roty", XSI::CValue(rotationY), XSI::kDefaultTime);
  global.PutParameterValue(L"posx", XSI::CValue(posx), XSI::kDefaultTime);
  global.PutParameterValue(L"posz", XSI::CValue(posz), XSI::kDefaultTime);
  mergeUnits(meshName, kTemporaryUnitName);
}

void mergeUnits(XSI::CString targetName, XSI::CString otherName) {
  const XSI::CString merged(kMergeResultName);
  XSI::CValueArray args(0);
  XSI::CValue result;

  args.Add(L"MeshMerge");
  args.Add(L"MeshSurface");
  args.Add(targetName + L"," + otherName);
  args.Add(3);
  args.Add(0);
  args.Add(0);
  run(L"ApplyGenOp", args, result);

  args.Clear();
  args.Add(merged + L"." + merged + L".mergemesh.tolerance");
  args.Add(kMergeTolerance);
  run(L"SetValue", args, result);

  args.Clear();
  args.Add(merged + L"." + merged + L".mergemesh");
  run(L"DeleteGeneratorInputs", args, result);

  args.Clear();
  args.Add(merged + L".Name");
  args.Add(targetName);
  run(L"SetValue", args, result);
}

}  // namespace raisetower
