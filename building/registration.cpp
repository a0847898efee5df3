#include "registration.h"

#include "run_state.h"

namespace raisetower {

const wchar_t* const kPluginName = L"HouseSmith";
const wchar_t* const kCommandName = L"RaiseTower";

namespace {

// Positional arguments, in the order _Execute reads them.
const wchar_t* const kArgumentNames[] = {
    L"buildingname", L"floors",       L"unitswidth",   L"unitslength",
    L"type",         L"entranceface", L"entranceposition", L"groundtype",
    L"floorface1",   L"floorface2",   L"floorface3",   L"floorface4",
    L"balconyface1", L"balconyface2", L"balconyface3", L"balconyface4",
};

}  // namespace

XSI::CStatus registerPlugin(XSI::PluginRegistrar& registrar) {
  registrar.PutAuthor(L"HouseSmith developers");
  registrar.PutName(kPluginName);
  registrar.PutEmail(L"housesmith@example.org");
  registrar.PutURL(L"https://example.org/housesmith");
  registrar.PutVersion(1, 0);
  registrar.RegisterCommand(kCommandName, kCommandName);
  return XSI::CStatus::OK;
}

XSI::CStatus logUnload(const XSI::PluginRegistrar& registrar) {
  XSI::CString line = registrar.GetName() + L" has been unloaded.";
  XSI::Application().LogMessage(line, XSI::siVerboseMsg);
  return XSI::CStatus::OK;
}

XSI::CStatus defineCommand(XSI::CRef& context) {
  XSI::Context ctxt(context);
  XSI::Command command(ctxt.GetSource());
  command.PutDescription(L"Create a building from a units library");
  command.EnableReturnValue(true);

  // The host turns the backslashes into its own separators when it opens
  // the file; assigning (not appending) keeps a second definition single.
  unitsLibraryPath =
      XSI::Application().GetInstallationPath(XSI::siUserPath) + L"\\builder\\objs\\";

  XSI::ArgumentArray args = command.GetArguments();
  for (const wchar_t* name : kArgumentNames) args.Add(name, XSI::CValue());
  return XSI::CStatus::OK;
}

}  // namespace raisetower
