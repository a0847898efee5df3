#include "driver.h"

#include <string>
#include <vector>

#include <xsi_progress.h>

#include "ground_storey.h"
#include "roof.h"
#include "run_checks.h"
#include "run_state.h"
#include "saved_selection.h"
#include "unit_ops.h"
#include "upper_storey.h"

namespace raisetower {

namespace {

XSI::CStatus failRun(const XSI::CString& message, XSI::CStatus status) {
  XSI::Application().LogMessage(XSI::CString(L"RaiseTower: ") + message, XSI::siErrorMsg);
  return status;
}

// Deletes every object the run created that still exists, newest first,
// restores the selection and empties the run state. Returns the names of
// objects that could not be deleted, or an empty text.
XSI::CString undoRun(const SavedSelection& selection) {
  XSI::CString left;
  const std::vector<XSI::X3DObject> objects = liveCreatedObjects();
  for (auto it = objects.rbegin(); it != objects.rend(); ++it) {
    if (!it->IsValid() || deleteUnit(*it).IsEmpty()) continue;
    if (!left.IsEmpty()) left += L", ";
    left += quoted(it->GetName());
  }
  selection.Restore();
  clearRunState();
  return left;
}

XSI::CStatus failAndUndo(const XSI::CString& message, XSI::CStatus status,
                         const SavedSelection& selection) {
  const XSI::CString left = undoRun(selection);
  if (left.IsEmpty()) return failRun(message, status);
  return failRun(message + L"; could not remove " + left, status);
}

// Imports every template into its slot. Empty on success; else the message
// naming every file that would not import or imported under another name.
XSI::CString importTemplates(const XSI::CString& type) {
  const std::vector<XSI::CString> names = unitBaseNames(type);
  const std::vector<XSI::X3DObject*> slots = templateSlots();
  XSI::CString missing;
  XSI::CString misnamed;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (!importUnit(names[i], *slots[i]).IsEmpty()) {
      if (!missing.IsEmpty()) missing += L", ";
      missing += names[i] + L".obj";
    } else if (slots[i]->GetName() != names[i]) {
      misnamed += L"; " + names[i] + L".obj was imported as " + quoted(slots[i]->GetName()) +
                  L", not " + quoted(names[i]);
      *slots[i] = XSI::X3DObject();
    }
  }
  if (missing.IsEmpty() && misnamed.IsEmpty()) return XSI::CString();
  XSI::CString message = L"cannot build with style " + quoted(type) + L": the units library " +
                         quoted(unitsLibraryFolder());
  if (!missing.IsEmpty()) message += L" has no readable " + missing;
  if (missing.IsEmpty()) message += L" does not hold it as expected";
  return message + misnamed;
}

KitVertexCounts kitVertexCounts() {
  KitVertexCounts kit;
  kit.angle = static_cast<double>(angleUnit.GetVertexCount());
  kit.angleRoof = static_cast<double>(angleRoofUnit.GetVertexCount());
  kit.floor = static_cast<double>(floorUnit.GetVertexCount());
  kit.ground = static_cast<double>(groundUnit.GetVertexCount());
  kit.groundDoor = static_cast<double>(groundDoorUnit.GetVertexCount());
  kit.roof = static_cast<double>(roofUnit.GetVertexCount());
  return kit;
}

// A building of this many units or more takes long enough (a tenth of a
// second on a quiet machine, seconds on a busy one) to show a bar: a step
// per storey and one for the roof. Smaller ones stay quiet.
constexpr double kProgressUnits = 2000;

XSI::CString storeyText(int storey, int floors) {
  return L"storey " + XSI::CString(std::to_wstring(storey + 1)) + L" of " +
         XSI::CString(std::to_wstring(floors));
}

// True when the user asked this run to stop. Only a bar the host shows
// answers: inside another command's loop (RaiseCity) that command checks
// between its own steps.
bool stopRequested(const XSI::ProgressBar& bar) { return bar.IsShown() && bar.IsCancelled(); }

// Storeys, roof, centring and template deletion. Empty when all of it
// succeeded; else the step that failed and why. `cancelled` is set when the
// user stopped the run between two storeys.
XSI::CString build(const RunArguments& run, XSI::ProgressBar& bar, bool& cancelled) {
  bar.SetStatusText(storeyText(0, run.floors));
  XSI::CString problem = buildGroundStorey(run.buildingName, run.unitsWidth, run.unitsLength,
                                           run.entranceFace, run.entrancePosition);
  for (int i = 1; i < run.floors && problem.IsEmpty(); ++i) {
    bar.Increment();
    if ((cancelled = stopRequested(bar))) return XSI::CString();
    bar.SetStatusText(storeyText(i, run.floors));
    problem = buildUpperStorey(i, run.buildingName, run.unitsWidth, run.unitsLength);
  }
  if (problem.IsEmpty()) {
    bar.Increment();
    if ((cancelled = stopRequested(bar))) return XSI::CString();
    bar.SetStatusText(L"roof");
    problem = buildRoof(run.floors, run.buildingName, run.unitsWidth, run.unitsLength);
  }
  if (!problem.IsEmpty()) return problem;
  bar.Increment();

  problem = centreAtOrigin(run.buildingName);
  if (!problem.IsEmpty())
    return L"centring the building " + quoted(run.buildingName) + L" failed: " + problem;
  for (XSI::X3DObject* slot : templateSlots()) {
    const XSI::CString name = slot->GetName();
    problem = deleteUnit(*slot);
    if (!problem.IsEmpty()) return L"deleting unit template " + quoted(name) + L" failed: " + problem;
  }
  return XSI::CString();
}

// Everything from the first import on; the scene is put back when it fails.
XSI::CStatus buildOrUndo(const RunArguments& run, const SavedSelection& selection) {
  XSI::CString problem = importTemplates(run.type);
  if (!problem.IsEmpty()) return failAndUndo(problem, XSI::CStatus::NotFound, selection);
  problem = vertexProblem(run, kitVertexCounts());
  if (!problem.IsEmpty()) return failAndUndo(problem, XSI::CStatus::InvalidArgument, selection);
  XSI::ProgressBar bar;
  if (unitCount(run.floors, run.unitsWidth, run.unitsLength) >= kProgressUnits)
    bar.Start(run.floors + 1, L"RaiseTower " + run.buildingName);
  bool cancelled = false;
  problem = build(run, bar, cancelled);
  if (cancelled) {
    // The host tells the user; the scene goes back to how it was.
    undoRun(selection);
    return XSI::CStatus::Abort;
  }
  if (!problem.IsEmpty()) return failAndUndo(problem, XSI::CStatus::Fail, selection);
  clearRunState();
  return XSI::CStatus::OK;
}

}  // namespace

XSI::CStatus executeRaiseTower(XSI::CRef& context) {
  XSI::Context ctxt(context);
  const XSI::CValueArray args = ctxt.GetAttribute(L"Arguments").GetAsArray();

  XSI::Application app;
  app.LogMessage(L"RaiseTower_Execute called", XSI::siVerboseMsg);
  clearRunState();

  RunArguments run;
  XSI::CString problem = readArguments(args, run);
  if (!problem.IsEmpty()) return failRun(problem, XSI::CStatus::InvalidArgument);
  problem = nameClashProblem(run);
  if (!problem.IsEmpty()) return failRun(problem, XSI::CStatus::InvalidArgument);
  problem = unitsLibraryProblem(run.type);
  if (!problem.IsEmpty()) return failRun(problem, XSI::CStatus::NotFound);
  const XSI::CString warning = entranceWarning(run);
  if (!warning.IsEmpty()) app.LogMessage(L"RaiseTower: " + warning, XSI::siWarningMsg);

  const SavedSelection selection;
  XSI::CStatus status;
  try {
    status = buildOrUndo(run, selection);
  } catch (...) {
    // Out of memory or an internal error half way: take the scene back, then
    // let the entry point's guard report it.
    undoRun(selection);
    throw;
  }
  if (!status.Succeeded()) return status;
  ctxt.PutAttribute(L"ReturnValue", XSI::CValue(true));
  return XSI::CStatus::OK;
}

}  // namespace raisetower
