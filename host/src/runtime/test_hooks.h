// Test-only seams into the runtime. Only tests and fuzz harnesses include
// this header; the host, its tools and the SDK never call these.
#pragma once

#include <xsi_string.h>

namespace host::test_hooks {

// The `nth` (1-based) run of command `name` from now on fails with
// CStatus::Fail before it changes anything, logging "command '<name>'
// failed: injected failure". One hook at a time; nth <= 0 or an empty name
// clears it.
void InjectFailure(const XSI::CString& name, long nth);

// For Runtime::Execute: true when this run of `name` is the one to fail
// (counting it down).
bool TakeInjectedFailure(const XSI::CString& name);

}  // namespace host::test_hooks
