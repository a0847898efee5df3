// CString: wide text, the SDK's string type. Converts to and from UTF-8.
#pragma once

#include "xsi_api.h"

#include <cstddef>
#include <string>

namespace XSI {

class XSI_API CString {
 public:
  CString() = default;
  CString(const wchar_t* text) : text_(text ? text : L"") {}  // NOLINT
  CString(std::wstring text) : text_(std::move(text)) {}       // NOLINT
  CString(const CString&) = default;
  CString(CString&&) noexcept = default;
  CString& operator=(const CString&) = default;
  CString& operator=(CString&&) noexcept = default;

  // Narrow text is taken as UTF-8; invalid bytes become U+FFFD.
  static CString FromUtf8(const std::string& utf8);
  std::string GetUtf8String() const;
  // Same as GetUtf8String; kept for callers that want narrow text.
  std::string GetAsciiString() const { return GetUtf8String(); }

  const wchar_t* GetWideString() const { return text_.c_str(); }
  const std::wstring& Wide() const { return text_; }
  std::size_t Length() const { return text_.size(); }
  bool IsEmpty() const { return text_.empty(); }
  void Clear() { text_.clear(); }

  CString& operator+=(const CString& rhs) {
    text_ += rhs.text_;
    return *this;
  }
  CString& operator+=(const wchar_t* rhs) {
    text_ += rhs;
    return *this;
  }
  bool operator==(const CString& rhs) const { return text_ == rhs.text_; }
  bool operator==(const wchar_t* rhs) const { return text_ == rhs; }
  bool operator!=(const CString& rhs) const { return text_ != rhs.text_; }
  bool operator!=(const wchar_t* rhs) const { return text_ != rhs; }
  bool operator<(const CString& rhs) const { return text_ < rhs.text_; }

 private:
  std::wstring text_;
};

inline CString operator+(const CString& a, const CString& b) {
  CString r(a);
  r += b;
  return r;
}
inline CString operator+(const CString& a, const wchar_t* b) {
  CString r(a);
  r += b;
  return r;
}
inline CString operator+(const wchar_t* a, const CString& b) {
  CString r(a);
  r += b;
  return r;
}

}  // namespace XSI
