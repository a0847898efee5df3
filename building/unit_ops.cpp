#include "unit_ops.h"

#include "run_state.h"

namespace raisetower {

const wchar_t* const kTemporaryUnitName = L"newunit";
const wchar_t* const kMergeResultName = L"polymsh";

namespace {

XSI::CString statusText(const XSI::CStatus& status) {
  return XSI::CValue(static_cast<int>(status.GetCode())).GetAsText();
}

// Runs a host command; on failure, the problem text names the command and
// its first argument (the object or file it was about).
XSI::CString run(const wchar_t* command, const XSI::CValueArray& args, XSI::CValue& result) {
  const XSI::CStatus status = XSI::Application().ExecuteCommand(command, args, result);
  if (status.Succeeded()) return XSI::CString();
  return XSI::CString(command) + L"(" + quoted(args[0].GetAsText()) + L") returned status " +
         statusText(status);
}

XSI::CString write(XSI::ProjectItem item, const wchar_t* param, const XSI::CValue& value) {
  const XSI::CString name = item.GetName();
  const XSI::CStatus status = item.PutParameterValue(param, value, XSI::kDefaultTime);
  if (status.Succeeded()) return XSI::CString();
  return XSI::CString(L"setting ") + param + L" of " + quoted(name) + L" to " +
         value.GetAsText() + L" returned status " + statusText(status);
}

// The object a command returned, recorded as created by the run.
XSI::X3DObject created(const XSI::CValue& result) {
  XSI::X3DObject object(result.GetAsRef());
  noteCreated(object);
  return object;
}

// Selects the object named `name`; fails unless exactly that object is found.
XSI::CString selectByName(const XSI::CString& name, XSI::X3DObject& object) {
  XSI::Selection selection = XSI::Application().GetSelection();
  const bool found = selection.SetAsText(name).Succeeded();
  object = found ? XSI::X3DObject(selection[0]) : XSI::X3DObject();
  if (found && object.GetName() == name) return XSI::CString();
  object = XSI::X3DObject();
  return L"the scene has no object named " + quoted(name);
}

}  // namespace

XSI::CString importUnit(const XSI::CString& unitName, XSI::X3DObject& imported) {
  imported = XSI::X3DObject();
  XSI::CValueArray args(0);
  XSI::CValue result;
  args.Add(unitsLibraryPath + unitName + L".obj");
  args.Add(1);
  args.Add(0);
  args.Add(false);
  args.Add(false);
  args.Add(false);
  args.Add(false);
  XSI::CString problem = run(L"ObjImport", args, result);
  if (!problem.IsEmpty()) return problem;
  imported = created(result);
  if (!imported.IsValid()) return L"ObjImport(" + quoted(args[0].GetAsText()) + L") returned no object";
  return XSI::CString();
}

XSI::CString duplicateUnit(const XSI::X3DObject& source, const XSI::CString& newName,
                           XSI::X3DObject& copy) {
  copy = XSI::X3DObject();
  XSI::CValueArray args(0);
  XSI::CValue result;
  args.Add(source.GetFullName());
  XSI::CString problem = run(L"Duplicate", args, result);
  if (!problem.IsEmpty()) return problem;

  XSI::X3DObject made = created(result);
  if (!made.IsValid()) return L"Duplicate(" + quoted(args[0].GetAsText()) + L") returned no copy";
  problem = write(made, L"name", XSI::CValue(newName));
  if (!problem.IsEmpty()) return problem;
  // The run checked that the name is free, so anything else means the
  // scene is not what the run believes it is.
  if (made.GetName() != newName)
    return L"the copy of " + quoted(args[0].GetAsText()) + L" was named " +
           quoted(made.GetName()) + L", not " + quoted(newName);
  copy = made;
  return XSI::CString();
}

XSI::CString deleteUnit(const XSI::X3DObject& sceneObject) {
  XSI::CValueArray args(0);
  XSI::CValue result;
  args.Add(sceneObject.GetFullName());
  return run(L"DeleteObj", args, result);
}

XSI::CString moveUnit(const XSI::CString& objectName, float x, float y, float z) {
  XSI::X3DObject object;
  XSI::CString problem = selectByName(objectName, object);
  if (!problem.IsEmpty()) return problem;
  XSI::KinematicState global = object.GetKinematics().GetGlobal();
  problem = write(global, L"posx", XSI::CValue(x));
  if (problem.IsEmpty()) problem = write(global, L"posy", XSI::CValue(y));
  if (problem.IsEmpty()) problem = write(global, L"posz", XSI::CValue(z));
  return problem;
}

XSI::CString placeUnit(const XSI::CString& meshName, const XSI::X3DObject& unitTemplate,
                       float rotationY, float gridZ, float gridX) {
  XSI::X3DObject copy;
  XSI::CString problem = duplicateUnit(unitTemplate, kTemporaryUnitName, copy);
  if (!problem.IsEmpty()) return problem;
  XSI::KinematicState global = copy.GetKinematics().GetGlobal();
  const float posx = -kUnitSize * gridX;
  const float posz = kUnitSize * gridZ;
  problem = write(global, L"roty", XSI::CValue(rotationY));
  if (problem.IsEmpty()) problem = write(global, L"posx", XSI::CValue(posx));
  if (problem.IsEmpty()) problem = write(global, L"posz", XSI::CValue(posz));
  if (!problem.IsEmpty()) return problem;
  return mergeUnits(meshName, kTemporaryUnitName);
}

XSI::CString mergeUnits(const XSI::CString& targetName, const XSI::CString& otherName) {
  const XSI::CString merged(kMergeResultName);
  XSI::CValueArray args(0);
  XSI::CValue result;

  args.Add(L"MeshMerge");
  args.Add(L"MeshSurface");
  args.Add(targetName + L"," + otherName);
  args.Add(3);
  args.Add(0);
  args.Add(0);
  XSI::CString problem = run(L"ApplyGenOp", args, result);
  if (!problem.IsEmpty()) return problem + L" merging " + quoted(args[2].GetAsText());
  created(result);

  args.Clear();
  args.Add(merged + L"." + merged + L".mergemesh.tolerance");
  args.Add(kMergeTolerance);
  problem = run(L"SetValue", args, result);
  if (!problem.IsEmpty()) return problem;

  args.Clear();
  args.Add(merged + L"." + merged + L".mergemesh");
  problem = run(L"DeleteGeneratorInputs", args, result);
  if (!problem.IsEmpty()) return problem;

  args.Clear();
  args.Add(merged + L".Name");
  args.Add(targetName);
  problem = run(L"SetValue", args, result);
  if (!problem.IsEmpty()) return problem + L" renaming the merged mesh " + quoted(targetName);
  return XSI::CString();
}

XSI::CString renameUnit(const XSI::CString& from, const XSI::CString& to) {
  XSI::X3DObject object;
  XSI::CString problem = selectByName(from, object);
  if (!problem.IsEmpty()) return problem;
  problem = write(object, L"name", XSI::CValue(to));
  if (!problem.IsEmpty()) return problem;
  if (object.GetName() != to)
    return quoted(from) + L" was renamed " + quoted(object.GetName()) + L", not " + quoted(to);
  return XSI::CString();
}

XSI::CString centreAtOrigin(const XSI::CString& objectName) {
  XSI::CValueArray args(0);
  XSI::CValue result;
  args.Add(objectName);
  XSI::CString problem = run(L"MoveCtr2Vertices", args, result);
  if (!problem.IsEmpty()) return problem;
  for (int value : {0, 0, 0, 0, 8, 1, 2}) args.Add(value);
  return run(L"Translate", args, result);
}

}  // namespace raisetower
