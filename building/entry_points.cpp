// The plug-in's exported callbacks. Each one runs its counterpart in
// raisetower_core under the SDK's exception guard.
#include <xsi_plugin.h>

#include "driver.h"
#include "registration.h"

XSIPLUGINCALLBACK XSI::CStatus XSILoadPlugin(XSI::PluginRegistrar& registrar) {
  return XSI::GuardCallback(L"HouseSmith: XSILoadPlugin",
                            [&] { return raisetower::registerPlugin(registrar); });
}

XSIPLUGINCALLBACK XSI::CStatus XSIUnloadPlugin(const XSI::PluginRegistrar& registrar) {
  return XSI::GuardCallback(L"HouseSmith: XSIUnloadPlugin",
                            [&] { return raisetower::logUnload(registrar); });
}

XSIPLUGINCALLBACK XSI::CStatus RaiseTower_Init(XSI::CRef& context) {
  return XSI::GuardCallback(L"HouseSmith: RaiseTower_Init",
                            [&] { return raisetower::defineCommand(context); });
}

XSIPLUGINCALLBACK XSI::CStatus RaiseTower_Execute(XSI::CRef& context) {
  return XSI::GuardCallback(L"HouseSmith: RaiseTower_Execute",
                            [&] { return raisetower::executeRaiseTower(context); });
}
