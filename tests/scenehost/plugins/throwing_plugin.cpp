// Test plug-in whose callbacks throw: "explode" from _Execute, "badinit"
// from _Init.
#include <stdexcept>

#include <xsi_plugin.h>

using namespace XSI;

XSIPLUGINCALLBACK CStatus XSILoadPlugin(PluginRegistrar& in_reg) {
  in_reg.PutName(L"Thrower");
  in_reg.RegisterCommand(L"explode", L"explode");
  in_reg.RegisterCommand(L"badinit", L"badinit");
  return CStatus::OK;
}

XSIPLUGINCALLBACK CStatus XSIUnloadPlugin(const PluginRegistrar& in_reg) {
  Application().LogMessage(in_reg.GetName() + L" has been unloaded.", siVerboseMsg);
  return CStatus::OK;
}

XSIPLUGINCALLBACK CStatus explode_Init(CRef&) { return CStatus::OK; }

XSIPLUGINCALLBACK CStatus explode_Execute(CRef&) { throw std::runtime_error("boom"); }

XSIPLUGINCALLBACK CStatus badinit_Init(CRef& in_ctxt) {
  Application().LogMessage(L"badinit_Init called", siVerboseMsg);
  Command(Context(in_ctxt).GetSource()).GetArguments().Add(L"half");
  throw 42;
}

XSIPLUGINCALLBACK CStatus badinit_Execute(CRef&) {
  Application().LogMessage(L"badinit_Execute called", siVerboseMsg);
  return CStatus::OK;
}
