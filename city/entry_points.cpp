// The plug-in's exported callbacks, each under the SDK's exception guard.
#include <xsi_plugin.h>

#include "driver.h"
#include "region_driver.h"

XSIPLUGINCALLBACK XSI::CStatus XSILoadPlugin(XSI::PluginRegistrar& registrar) {
  return XSI::GuardCallback(L"CityPlanner: XSILoadPlugin", [&] { return city::registerPlugin(registrar); });
}

XSIPLUGINCALLBACK XSI::CStatus XSIUnloadPlugin(const XSI::PluginRegistrar& registrar) {
  return XSI::GuardCallback(L"CityPlanner: XSIUnloadPlugin", [&] { return city::logUnload(registrar); });
}

XSIPLUGINCALLBACK XSI::CStatus RaiseCity_Init(XSI::CRef& context) {
  return XSI::GuardCallback(L"CityPlanner: RaiseCity_Init", [&] { return city::defineCommand(context); });
}

XSIPLUGINCALLBACK XSI::CStatus RaiseCity_Execute(XSI::CRef& context) {
  return XSI::GuardCallback(L"CityPlanner: RaiseCity_Execute", [&] { return city::executeRaiseCity(context); });
}

XSIPLUGINCALLBACK XSI::CStatus RaiseRegion_Init(XSI::CRef& context) {
  return XSI::GuardCallback(L"CityPlanner: RaiseRegion_Init", [&] { return city::defineRegionCommand(context); });
}

XSIPLUGINCALLBACK XSI::CStatus RaiseRegion_Execute(XSI::CRef& context) {
  return XSI::GuardCallback(L"CityPlanner: RaiseRegion_Execute", [&] { return city::executeRaiseRegion(context); });
}
