// The guard every SDK call runs its work under: nothing the runtime throws
// crosses into a plug-in. A call that returns a status reports the failure
// (OutOfMemory, or Unexpected with one error line); a call that returns a
// value gives its empty value.
#pragma once

#include <exception>
#include <new>

#include "runtime.h"
#include "xsi_status.h"

namespace XSI::sdk {

template <class F>
CStatus Guarded(F&& f) noexcept {
  try {
    return f();
  } catch (const std::bad_alloc&) {
    return CStatus::OutOfMemory;
  } catch (const std::exception& ex) {
    try {
      host::Runtime::Get().Error(L"SDK call failed: " + host::FromUtf8(ex.what()));
    } catch (...) {
    }
    return CStatus::Unexpected;
  } catch (...) {
    return CStatus::Unexpected;
  }
}

template <class T, class F>
T GuardedValue(F&& f) noexcept {
  try {
    return f();
  } catch (...) {
    return T();
  }
}

}  // namespace XSI::sdk
