// Keeps exceptions inside the plug-in: runs a callback body and turns any
// exception into a logged error naming the callback and a failing status.
#pragma once

#include <exception>
#include <new>

#include <xsi_plugin.h>

namespace findspots {

template <typename Body>
XSI::CStatus guardCallback(const wchar_t* callbackName, Body&& body) noexcept {
  const wchar_t* reason = L"an unexpected error";
  try {
    return body();
  } catch (const std::bad_alloc&) {
    reason = L"not enough memory";
  } catch (...) {
  }
  try {
    XSI::Application().LogMessage(XSI::CString(L"findSpots: ") + callbackName + L" failed: " + reason,
                                  XSI::siErrorMsg);
  } catch (...) {
    // Nothing more can be reported; the status still says it failed.
  }
  return XSI::CStatus::Fail;
}

}  // namespace findspots
