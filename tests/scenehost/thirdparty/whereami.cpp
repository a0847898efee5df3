// "whereami" returns the host folder the installed scenehost gave it.
#include <xsi_plugin.h>

using namespace XSI;

XSIPLUGINCALLBACK CStatus XSILoadPlugin(PluginRegistrar& in_reg) {
  in_reg.PutName(L"WhereAmI");
  in_reg.RegisterCommand(L"whereami", L"whereami");
  return CStatus::OK;
}

XSIPLUGINCALLBACK CStatus XSIUnloadPlugin(const PluginRegistrar&) { return CStatus::OK; }

XSIPLUGINCALLBACK CStatus whereami_Init(CRef&) { return CStatus::OK; }

XSIPLUGINCALLBACK CStatus whereami_Execute(CRef& in_ctxt) {
  Context(in_ctxt).PutAttribute(L"ReturnValue", Application().GetInstallationPath(siUserPath));
  return CStatus::OK;
}
