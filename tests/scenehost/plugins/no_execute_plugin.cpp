// Broken test plug-in: registers "halfdone" but exports only halfdone_Init.
#include <xsi_plugin.h>

using namespace XSI;

XSIPLUGINCALLBACK CStatus XSILoadPlugin(PluginRegistrar& in_reg) {
  in_reg.PutName(L"HalfDone");
  in_reg.RegisterCommand(L"halfdone", L"halfdone");
  return CStatus::OK;
}

XSIPLUGINCALLBACK CStatus XSIUnloadPlugin(const PluginRegistrar& in_reg) {
  Application().LogMessage(in_reg.GetName() + L" has been unloaded.", siVerboseMsg);
  return CStatus::OK;
}

XSIPLUGINCALLBACK CStatus halfdone_Init(CRef&) { return CStatus::OK; }
