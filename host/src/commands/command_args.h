// Argument helpers shared by the host's commands: how a value is shown in an
// error, and how a number is read from a value that may be text.
#pragma once

#include <xsi_string.h>
#include <xsi_value.h>

namespace host {

// 'text' in quotes, cut after 200 characters with a note of how many more
// there were, so a huge argument cannot flood the log.
XSI::CString QuoteArg(const XSI::CString& s);

// A number given as an int, float or double, or as text that spells a
// finite number by XSI::ReadNumber (surrounding blanks allowed). False for anything else,
// empty and bool included, and for a non-finite result: a value that is no
// number must not turn into a silent 0.
bool ReadFiniteNumber(const XSI::CValue& value, double& out);

}  // namespace host
