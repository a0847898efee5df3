// What a scene object's name may hold: one rule for every command that makes
// or renames an object, the host's and the plug-ins', so a name one command
// accepts is never refused, or read differently, by another.
//
// A name is refused when it
//  - is empty, or longer than XSI::kMaxObjectNameLength characters;
//  - begins or ends with white space (the host trims the names of its
//    comma-separated lists, so " a" would be looked up as "a");
//  - holds a comma (lists of names are comma-separated);
//  - holds a control character: C0 (U+0000..U+001F), DEL (U+007F) or C1
//    (U+0080..U+009F, such as U+0085 NEXT LINE), which would break the
//    line-oriented journal, logs and scripts.
// Inline and self-contained: a plug-in carries its own copy of the rule.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace XSI {

constexpr std::size_t kMaxObjectNameLength = 256;

// White space as the name rule sees it: ASCII and Unicode spaces and breaks.
inline bool IsNameWhiteSpace(wchar_t c) {
  switch (c) {
    case L' ': case L'\t': case L'\n': case L'\v': case L'\f': case L'\r':
    case 0x85: case 0xA0: case 0x1680: case 0x2028: case 0x2029: case 0x202F:
    case 0x205F: case 0x3000: case 0xFEFF:
      return true;
    default:
      return c >= 0x2000 && c <= 0x200A;
  }
}

inline bool IsNameControl(wchar_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

// "U+0085"
inline std::wstring NameCodePoint(wchar_t c) {
  wchar_t buffer[16];
  std::swprintf(buffer, 16, L"U+%04X", static_cast<unsigned>(c));
  return buffer;
}

// Empty when `name` may name a scene object; else what is wrong with it, to
// follow the quoted name in a message: "holds a comma", "holds the control
// character U+0085", "begins or ends with white space (U+00A0)", "is empty",
// "is 300 characters long; the limit is 256".
inline std::wstring ObjectNameProblem(const std::wstring& name) {
  if (name.empty()) return L"is empty";
  if (name.size() > kMaxObjectNameLength)
    return L"is " + std::to_wstring(name.size()) + L" characters long; the limit is " +
           std::to_wstring(kMaxObjectNameLength);
  if (IsNameWhiteSpace(name.front()) || IsNameWhiteSpace(name.back()))
    return L"begins or ends with white space (" +
           NameCodePoint(IsNameWhiteSpace(name.front()) ? name.front() : name.back()) + L")";
  for (wchar_t c : name) {
    if (c == L',') return L"holds a comma";
    if (IsNameControl(c)) return L"holds the control character " + NameCodePoint(c);
  }
  return L"";
}

}  // namespace XSI
