// Test plug-in built for another SDK (claimed_version.cpp claims 3.0) whose
// static initialiser aborts the process: dlopen runs it, so the host must
// refuse the file before opening it.
#include <cstdlib>

#include <xsi_plugin.h>

namespace {
struct AbortWhenLoaded {
  AbortWhenLoaded() { std::abort(); }
} abortWhenLoaded;
}  // namespace

XSIPLUGINCALLBACK XSI::CStatus XSILoadPlugin(XSI::PluginRegistrar& in_reg) {
  in_reg.PutName(L"Aborting");
  return XSI::CStatus::OK;
}
