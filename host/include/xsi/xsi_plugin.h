// What a plug-in includes: the whole SDK and the export macro for its entry
// points. A plug-in exports, undecorated:
//   CStatus XSILoadPlugin(PluginRegistrar&)      - registers commands
//   CStatus XSIUnloadPlugin(const PluginRegistrar&)
//   CStatus <Command>_Init(CRef& context)        - declares arguments, once
//   CStatus <Command>_Execute(CRef& context)     - one run
#pragma once

#include "xsi_application.h"
#include "xsi_color.h"
#include "xsi_command.h"
#include "xsi_context.h"
#include "xsi_image.h"
#include "xsi_pluginregistrar.h"
#include "xsi_ref.h"
#include "xsi_selection.h"
#include "xsi_siobject.h"
#include "xsi_status.h"
#include "xsi_string.h"
#include "xsi_value.h"
#include "xsi_x3dobject.h"

#define XSIPLUGINCALLBACK extern "C" __attribute__((visibility("default")))

namespace XSI {
using LoadPluginFn = CStatus (*)(PluginRegistrar&);
using UnloadPluginFn = CStatus (*)(const PluginRegistrar&);
using CommandCallbackFn = CStatus (*)(CRef&);
}  // namespace XSI
