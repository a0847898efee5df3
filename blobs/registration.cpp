// Plug-in entry points for loading, unloading and defining the command.
#include <xsi_plugin.h>

#include "findspots_command.h"

using namespace XSI;

XSIPLUGINCALLBACK CStatus XSILoadPlugin(PluginRegistrar& registrar) {
  return GuardCallback(L"findSpots: XSILoadPlugin", [&]() -> CStatus {
    registrar.PutAuthor(L"scenehost developers");
    registrar.PutName(findspots::kPluginName);
    registrar.PutEmail(L"scenehost@example.org");
    registrar.PutURL(L"https://example.org/scenehost");
    registrar.PutVersion(1, 0);
    registrar.RegisterCommand(findspots::kCommandName, findspots::kCommandName);
    return CStatus::OK;
  });
}

XSIPLUGINCALLBACK CStatus XSIUnloadPlugin(const PluginRegistrar& registrar) {
  return GuardCallback(L"findSpots: XSIUnloadPlugin", [&]() -> CStatus {
    Application().LogMessage(registrar.GetName() + L" has been unloaded.", siVerboseMsg);
    return CStatus::OK;
  });
}

XSIPLUGINCALLBACK CStatus findSpots_Init(CRef& contextRef) {
  return GuardCallback(L"findSpots: findSpots_Init", [&]() -> CStatus {
    Context context(contextRef);
    Command command(context.GetSource());
    command.PutDescription(findspots::kCommandDescription);
    command.EnableReturnValue(true);
    ArgumentArray arguments = command.GetArguments();
    for (const wchar_t* name : findspots::kArgumentNames) arguments.Add(name, CValue());
    return CStatus::OK;
  });
}
