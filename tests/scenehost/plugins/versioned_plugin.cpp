// Test plug-in built several times, each claiming another SDK version
// (claimed_version.cpp). Its XSILoadPlugin logs, so a test can tell that a
// refused plug-in was never called.
#include <xsi_plugin.h>

using namespace XSI;

XSIPLUGINCALLBACK CStatus XSILoadPlugin(PluginRegistrar& in_reg) {
  Application().LogMessage(L"Versioned XSILoadPlugin called", siVerboseMsg);
  in_reg.PutName(L"Versioned");
  in_reg.RegisterCommand(L"versioned", L"versioned");
  return CStatus::OK;
}

XSIPLUGINCALLBACK CStatus versioned_Execute(CRef& in_ctxt) {
  Context(in_ctxt).PutAttribute(L"ReturnValue", CString(L"versioned ran"));
  return CStatus::OK;
}
