// The plug-in's exported callbacks. Each one is a guard around its
// counterpart in raisetower_core: nothing thrown inside may reach the host.
#include <exception>

#include <xsi_plugin.h>

#include "driver.h"
#include "registration.h"

namespace {

template <typename Callback>
XSI::CStatus guarded(const wchar_t* callbackName, Callback&& callback) {
  const XSI::CString where = XSI::CString(L"HouseSmith: ") + callbackName;
  try {
    return callback();
  } catch (const std::exception& e) {
    XSI::Application().LogMessage(
        where + L" stopped on an internal error: " + XSI::CString::FromUtf8(e.what()),
        XSI::siErrorMsg);
  } catch (...) {
    XSI::Application().LogMessage(where + L" stopped on an unknown internal error",
                                  XSI::siErrorMsg);
  }
  return XSI::CStatus::Fail;
}

}  // namespace

XSIPLUGINCALLBACK XSI::CStatus XSILoadPlugin(XSI::PluginRegistrar& registrar) {
  return guarded(L"XSILoadPlugin", [&] { return raisetower::registerPlugin(registrar); });
}

XSIPLUGINCALLBACK XSI::CStatus XSIUnloadPlugin(const XSI::PluginRegistrar& registrar) {
  return guarded(L"XSIUnloadPlugin", [&] { return raisetower::logUnload(registrar); });
}

XSIPLUGINCALLBACK XSI::CStatus RaiseTower_Init(XSI::CRef& context) {
  return guarded(L"RaiseTower_Init", [&] { return raisetower::defineCommand(context); });
}

XSIPLUGINCALLBACK XSI::CStatus RaiseTower_Execute(XSI::CRef& context) {
  return guarded(L"RaiseTower_Execute", [&] { return raisetower::executeRaiseTower(context); });
}
