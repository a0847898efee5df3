#include "driver.h"

#include <vector>

#include "ground_storey.h"
#include "registration.h"
#include "roof.h"
#include "run_checks.h"
#include "unit_ops.h"
#include "upper_storey.h"

namespace raisetower {

namespace {

// Template slots in import order, matching unitBaseNames.
std::vector<XSI::X3DObject*> templateSlots() {
  return {&angleUnit,  &angleRoofUnit,   &floorUnit,      &floorCloseUnit,
          &groundUnit, &groundCloseUnit, &groundDoorUnit, &roofUnit};
}

XSI::CStatus failRun(const XSI::CString& message, XSI::CStatus status) {
  XSI::Application().LogMessage(XSI::CString(L"RaiseTower: ") + message, XSI::siErrorMsg);
  return status;
}

// Imports every template into its slot. On a failure, deletes the ones that
// did import, restores the selection and returns the message naming every
// file that would not import; empty on success.
XSI::CString importTemplates(const XSI::CString& type) {
  const XSI::CString selectionBefore = XSI::Application().GetSelection().GetAsText();
  const std::vector<XSI::CString> names = unitBaseNames(type);
  const std::vector<XSI::X3DObject*> slots = templateSlots();
  XSI::CString missing;
  for (std::size_t i = 0; i < names.size(); ++i) {
    *slots[i] = importUnit(names[i]);
    if (slots[i]->IsValid()) continue;
    if (!missing.IsEmpty()) missing += L", ";
    missing += names[i] + L".obj";
  }
  if (missing.IsEmpty()) return missing;

  for (XSI::X3DObject* slot : slots) {
    if (slot->IsValid()) deleteUnit(*slot);
  }
  XSI::Selection selection = XSI::Application().GetSelection();
  if (selectionBefore.IsEmpty()) {
    selection.Clear();
  } else {
    selection.SetAsText(selectionBefore);
  }
  return L"cannot build with style '" + type + L"': the units library '" + unitsLibraryPath +
         L"' has no readable " + missing;
}

}  // namespace

XSI::CStatus executeRaiseTower(XSI::CRef& context) {
  XSI::Context ctxt(context);
  XSI::CValueArray args = ctxt.GetAttribute(L"Arguments").GetAsArray();
  const RunArguments run = readArguments(args);

  XSI::Application app;
  app.LogMessage(L"RaiseTower_Execute called", XSI::siVerboseMsg);

  XSI::CString problem = argumentProblem(run);
  if (!problem.IsEmpty()) return failRun(problem, XSI::CStatus::InvalidArgument);
  problem = nameClashProblem(run);
  if (!problem.IsEmpty()) return failRun(problem, XSI::CStatus::InvalidArgument);
  problem = importTemplates(run.type);
  if (!problem.IsEmpty()) return failRun(problem, XSI::CStatus::NotFound);

  buildGroundStorey(run.buildingName, run.unitsWidth, run.unitsLength, run.entranceFace,
                    run.entrancePosition);
  for (int i = 1; i < run.floors; ++i)
    buildUpperStorey(i, run.buildingName, run.unitsWidth, run.unitsLength);
  buildRoof(run.floors, run.buildingName, run.unitsWidth, run.unitsLength);

  XSI::CValue result;
  args.Clear();
  args.Add(run.buildingName);
  app.ExecuteCommand(L"MoveCtr2Vertices", args, result);
  for (int value : {0, 0, 0, 0, 8, 1, 2}) args.Add(value);
  app.ExecuteCommand(L"Translate", args, result);

  for (XSI::X3DObject* slot : templateSlots()) deleteUnit(*slot);

  ctxt.PutAttribute(L"ReturnValue", XSI::CValue(true));
  return XSI::CStatus::OK;
}

}  // namespace raisetower
