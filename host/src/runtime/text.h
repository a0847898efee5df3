// Text helpers of the runtime: UTF-8 conversion, ASCII case folding,
// comma-separated name lists and path spelling.
#pragma once

#include <string>
#include <vector>

#include <xsi_string.h>

namespace host {

std::string ToUtf8(const XSI::CString& s);
XSI::CString FromUtf8(const std::string& s);

// ASCII letters to lower case; other bytes (UTF-8 included) are kept.
std::string AsciiLower(std::string s);

// "a, b,c" -> {"a", "b", "c"}: comma-separated object names, trimmed, empty
// items dropped. Shared by the commands and Selection::SetAsText.
std::vector<XSI::CString> SplitNames(const XSI::CString& list);

// Backslashes become '/', so paths composed for other systems work here.
std::string NormalisePath(const std::string& path);

// True when `text` holds a NUL character: such a path would name another
// file once it reaches the operating system.
bool HasNul(const XSI::CString& text);

// `text` as a JSON string, quotes included: '"' and '\\' escaped, control
// characters as \u00XX, everything else (UTF-8 included) as it is.
std::string JsonQuoted(const std::string& text);

}  // namespace host
