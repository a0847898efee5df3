// UTF-8 <-> wide text. wchar_t holds one UTF-32 code point here, so a
// CString is a plain sequence of code points.
//
// Decoding follows the "maximal subpart" rule: each ill-formed piece of the
// input (a stray continuation byte, an invalid lead byte, a truncated or
// overlong sequence, an encoded surrogate, anything above U+10FFFF) becomes
// exactly one U+FFFD and decoding resumes at the first byte that did not fit.
// Encoding writes U+FFFD for code points that UTF-8 cannot carry.
#include "xsi_string.h"

#include <cstdint>

namespace XSI {

static_assert(sizeof(wchar_t) == 4, "CString expects wchar_t to hold UTF-32");

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Length of the sequence started by `lead` and the allowed range of its
// second byte (narrower than 80..BF where overlongs, surrogates or values
// above U+10FFFF would otherwise slip through). Length 0: not a lead byte.
struct LeadInfo {
  int length;
  unsigned char secondMin, secondMax;
};

LeadInfo ClassifyLead(unsigned char lead) {
  if (lead < 0x80) return {1, 0, 0};
  if (lead < 0xC2) return {0, 0, 0};  // continuation byte or overlong C0/C1
  if (lead < 0xE0) return {2, 0x80, 0xBF};
  if (lead == 0xE0) return {3, 0xA0, 0xBF};  // no overlongs
  if (lead == 0xED) return {3, 0x80, 0x9F};  // no surrogates
  if (lead < 0xF0) return {3, 0x80, 0xBF};
  if (lead == 0xF0) return {4, 0x90, 0xBF};  // no overlongs
  if (lead < 0xF4) return {4, 0x80, 0xBF};
  if (lead == 0xF4) return {4, 0x80, 0x8F};  // nothing above U+10FFFF
  return {0, 0, 0};
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

CString CString::FromUtf8(const std::string& utf8) {
  std::wstring out;
  out.reserve(utf8.size());
  const std::size_t n = utf8.size();
  std::size_t i = 0;
  while (i < n) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    const LeadInfo info = ClassifyLead(lead);
    if (info.length == 1) {
      out += static_cast<wchar_t>(lead);
      ++i;
      continue;
    }
    if (info.length == 0) {
      out += static_cast<wchar_t>(kReplacement);
      ++i;
      continue;
    }
    char32_t cp = lead & (0xFF >> (info.length + 1));
    std::size_t j = i + 1;
    bool complete = true;
    for (int k = 1; k < info.length; ++k, ++j) {
      if (j >= n) {
        complete = false;
        break;
      }
      const auto c = static_cast<unsigned char>(utf8[j]);
      const bool fits = k == 1 ? (c >= info.secondMin && c <= info.secondMax) : IsContinuation(c);
      if (!fits) {
        complete = false;
        break;
      }
      cp = (cp << 6) | (c & 0x3F);
    }
    out += static_cast<wchar_t>(complete ? cp : kReplacement);
    i = j;  // resume at the byte that broke the sequence (or after it)
  }
  return CString(std::move(out));
}

std::string CString::GetUtf8String() const {
  std::string out;
  out.reserve(text_.size());
  for (wchar_t wc : text_) AppendUtf8(out, static_cast<std::uint32_t>(wc));
  return out;
}

}  // namespace XSI
