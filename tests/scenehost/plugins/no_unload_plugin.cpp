// Broken test plug-in: has a command but no XSIUnloadPlugin export.
#include <xsi_plugin.h>

using namespace XSI;

XSIPLUGINCALLBACK CStatus XSILoadPlugin(PluginRegistrar& in_reg) {
  in_reg.PutName(L"NoUnload");
  in_reg.RegisterCommand(L"orphan", L"orphan");
  return CStatus::OK;
}

XSIPLUGINCALLBACK CStatus orphan_Init(CRef&) { return CStatus::OK; }
XSIPLUGINCALLBACK CStatus orphan_Execute(CRef&) { return CStatus::OK; }
