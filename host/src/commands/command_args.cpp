#include "command_args.h"

#include <cmath>
#include <string>

namespace host {

XSI::CString QuoteArg(const XSI::CString& s) {
  constexpr std::size_t kShown = 200;
  const std::wstring& text = s.Wide();
  if (text.size() <= kShown) return L"'" + s + L"'";
  return L"'" + XSI::CString(text.substr(0, kShown)) + L"...' (" +
         XSI::CString(std::to_wstring(text.size() - kShown)) + L" more characters)";
}

bool ReadFiniteNumber(const XSI::CValue& value, double& out) {
  switch (value.GetType()) {
    case XSI::CValue::siInt4:
    case XSI::CValue::siFloat:
    case XSI::CValue::siDouble:
      out = value.GetAsDouble();
      return std::isfinite(out);
    case XSI::CValue::siString:
      return XSI::ReadNumber(value.GetAsText(), out) == XSI::NumberText::Ok;
    default:
      return false;
  }
}

}  // namespace host
