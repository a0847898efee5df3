#include "command_args.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string>

#include "text.h"

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
    case XSI::CValue::siString: {
      const std::string text = ToUtf8(value.GetAsText());
      const char* begin = text.c_str();
      char* end = nullptr;
      errno = 0;
      const double parsed = std::strtod(begin, &end);
      while (end && (*end == ' ' || *end == '\t')) ++end;
      if (end == begin || !end || *end != '\0' || errno == ERANGE || !std::isfinite(parsed)) return false;
      out = parsed;
      return true;
    }
    default:
      return false;
  }
}

}  // namespace host
