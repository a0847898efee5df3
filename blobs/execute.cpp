// Plug-in entry point for one run of the command.
#include <xsi_plugin.h>

#include "driver.h"

using namespace XSI;

XSIPLUGINCALLBACK CStatus findSpots_Execute(CRef& contextRef) {
  return GuardCallback(L"findSpots: findSpots_Execute",
                       [&]() -> CStatus { return findspots::executeFindSpots(contextRef); });
}
