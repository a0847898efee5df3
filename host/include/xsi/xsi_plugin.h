// What a plug-in includes: the whole SDK and the export macro for its entry
// points. A plug-in exports, undecorated:
//   CStatus XSILoadPlugin(PluginRegistrar&)      - registers commands
//   CStatus XSIUnloadPlugin(const PluginRegistrar&)
//   CStatus <Command>_Init(CRef& context)        - declares arguments, once
//   CStatus <Command>_Execute(CRef& context)     - one run
// Only XSILoadPlugin and each registered command's _Execute are required;
// without _Init a command takes no arguments.
//
// Including this header also records in the plug-in the SDK version it is
// compiled against (xsi_version.h), as the exported C symbol
// XSIPluginSDKVersion. It is a weak definition, so every source file of a
// plug-in may include this header. The host refuses a plug-in without it.
#pragma once

#include "xsi_application.h"
#include "xsi_color.h"
#include "xsi_command.h"
#include "xsi_context.h"
#include "xsi_file.h"
#include "xsi_image.h"
#include "xsi_pluginregistrar.h"
#include "xsi_progress.h"
#include "xsi_ref.h"
#include "xsi_selection.h"
#include "xsi_siobject.h"
#include "xsi_status.h"
#include "xsi_string.h"
#include "xsi_value.h"
#include "xsi_version.h"
#include "xsi_x3dobject.h"

#include <exception>
#include <new>

#define XSIPLUGINCALLBACK extern "C" __attribute__((visibility("default")))

// { major, minor } of the SDK this file was compiled against; see above.
extern "C" __attribute__((weak, used, visibility("default"))) const unsigned int
    XSIPluginSDKVersion[2] = {XSI_SDK_VERSION_MAJOR, XSI_SDK_VERSION_MINOR};

namespace XSI {
using LoadPluginFn = CStatus (*)(PluginRegistrar&);
using UnloadPluginFn = CStatus (*)(const PluginRegistrar&);
using CommandCallbackFn = CStatus (*)(CRef&);
}  // namespace XSI

namespace XSI {

// The one exception guard for a plug-in's entry points: runs `body` and turns
// anything it throws into a failing status and one error line, so no
// exception ever crosses into the host. `where` names the plug-in and the
// callback, e.g. L"HouseSmith: RaiseTower_Execute".
//   std::bad_alloc      -> CStatus::OutOfMemory, "... stopped: not enough memory"
//   std::exception      -> CStatus::Fail, "... stopped on an internal error: <what>"
//   anything else       -> CStatus::Fail, "... stopped on an unknown internal error"
template <typename Body>
CStatus GuardCallback(const wchar_t* where, Body&& body) noexcept {
  CStatus status = CStatus::Fail;
  const wchar_t* reason = L" stopped on an unknown internal error";
  try {
    return body();
  } catch (const std::bad_alloc&) {
    status = CStatus::OutOfMemory;
    reason = L" stopped: not enough memory";
  } catch (const std::exception& e) {
    // The exception, and the text what() points at, end with this handler.
    try {
      Application().LogMessage(CString(where) + L" stopped on an internal error: " + CString::FromUtf8(e.what()),
                               siErrorMsg);
    } catch (...) {
    }
    return CStatus::Fail;
  } catch (...) {
  }
  try {
    Application().LogMessage(CString(where) + reason, siErrorMsg);
  } catch (...) {
    // Nothing more can be reported; the status still says it failed.
  }
  return status;
}

}  // namespace XSI
