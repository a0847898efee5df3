#include "driver.h"
#include "region_driver.h"

namespace city {

const wchar_t* const kPluginName = L"CityPlanner";
const wchar_t* const kCommandName = L"RaiseCity";

XSI::CStatus registerPlugin(XSI::PluginRegistrar& registrar) {
  registrar.PutAuthor(L"scenehost developers");
  registrar.PutName(kPluginName);
  registrar.PutEmail(L"scenehost@example.org");
  registrar.PutURL(L"https://example.org/scenehost");
  registrar.PutVersion(1, 0);
  registrar.RegisterCommand(kCommandName, kCommandName);
  registrar.RegisterCommand(kRegionCommandName, kRegionCommandName);
  return XSI::CStatus::OK;
}

XSI::CStatus logUnload(const XSI::PluginRegistrar& registrar) {
  XSI::Application().LogMessage(registrar.GetName() + L" has been unloaded.", XSI::siVerboseMsg);
  return XSI::CStatus::OK;
}

XSI::CStatus defineCommand(XSI::CRef& context) {
  XSI::Context ctxt(context);
  XSI::Command command(ctxt.GetSource());
  command.PutDescription(L"Raise a town from a map and a recipe (JSON)");
  command.EnableReturnValue(true);
  XSI::ArgumentArray args = command.GetArguments();
  args.Add(L"recipe", XSI::CValue());
  return XSI::CStatus::OK;
}

}  // namespace city
