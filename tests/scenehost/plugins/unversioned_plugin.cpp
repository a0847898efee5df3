// Test plug-in as built before the SDK was versioned: it declares its entry
// points itself instead of including xsi_plugin.h, so it records no SDK
// version. Its XSILoadPlugin logs, so a test can tell it was never called.
#include <xsi_application.h>
#include <xsi_pluginregistrar.h>

using namespace XSI;

#define EXPORT extern "C" __attribute__((visibility("default")))

EXPORT CStatus XSILoadPlugin(PluginRegistrar& in_reg) {
  Application().LogMessage(L"Unversioned XSILoadPlugin called", siVerboseMsg);
  in_reg.PutName(L"Unversioned");
  in_reg.RegisterCommand(L"unversioned", L"unversioned");
  return CStatus::OK;
}

EXPORT CStatus unversioned_Execute(CRef&) { return CStatus::OK; }
