#include "text.h"

#include <algorithm>
#include <cstdio>

namespace host {

std::string ToUtf8(const XSI::CString& s) { return s.GetUtf8String(); }
XSI::CString FromUtf8(const std::string& s) { return XSI::CString::FromUtf8(s); }

std::string AsciiLower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string NormalisePath(const std::string& path) {
  std::string out = path;
  std::replace(out.begin(), out.end(), '\\', '/');
  return out;
}

bool HasNul(const XSI::CString& text) { return text.Wide().find(L'\0') != std::wstring::npos; }

std::vector<XSI::CString> SplitNames(const XSI::CString& list) {
  std::vector<XSI::CString> out;
  std::wstring current;
  auto flush = [&] {
    std::size_t b = current.find_first_not_of(L" \t");
    std::size_t e = current.find_last_not_of(L" \t");
    if (b != std::wstring::npos) out.emplace_back(current.substr(b, e - b + 1));
    current.clear();
  };
  for (wchar_t c : list.Wide()) {
    if (c == L',') flush();
    else current += c;
  }
  flush();
  return out;
}

std::string JsonQuoted(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", u);
      out += buf;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

}  // namespace host
