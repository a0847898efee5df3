// Plug-in entry points for loading, unloading and defining the command.
#include <xsi_plugin.h>

#include "findspots_command.h"

using namespace XSI;

XSIPLUGINCALLBACK CStatus XSILoadPlugin(PluginRegistrar& in_reg) {
  return GuardCallback(L"findSpots: XSILoadPlugin", [&]() -> CStatus {
    in_reg.PutAuthor(L"scenehost developers");
    in_reg.PutName(findspots::kPluginName);
    in_reg.PutEmail(L"scenehost@example.org");
    in_reg.PutURL(L"https://example.org/scenehost");
    in_reg.PutVersion(1, 0);
    in_reg.RegisterCommand(findspots::kCommandName, findspots::kCommandName);
    return CStatus::OK;
  });
}

XSIPLUGINCALLBACK CStatus XSIUnloadPlugin(const PluginRegistrar& in_reg) {
  return GuardCallback(L"findSpots: XSIUnloadPlugin", [&]() -> CStatus {
    Application().LogMessage(in_reg.GetName() + L" has been unloaded.", siVerboseMsg);
    return CStatus::OK;
  });
}

XSIPLUGINCALLBACK CStatus findSpots_Init(CRef& in_ctxt) {
  return GuardCallback(L"findSpots: findSpots_Init", [&]() -> CStatus {
    Context ctxt(in_ctxt);
    Command oCmd(ctxt.GetSource());
    oCmd.PutDescription(findspots::kCommandDescription);
    oCmd.EnableReturnValue(true);
    ArgumentArray oArgs = oCmd.GetArguments();
    for (const wchar_t* name : findspots::kArgumentNames) oArgs.Add(name, CValue());
    return CStatus::OK;
  });
}
