// CValue conversions and CValueArray. The table these functions implement is
// in docs/commands.md ("Value conversions"); every conversion is total (never
// fails, never throws on odd input, never relies on undefined behaviour) and
// independent of the process locale.
#include "xsi_value.h"

#include <array>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <system_error>

namespace XSI {

// ---- CValueArray -------------------------------------------------------------

CValueArray::CValueArray(long size) { Resize(size); }
CValueArray::CValueArray(const CValueArray&) = default;
CValueArray::CValueArray(CValueArray&&) noexcept = default;
CValueArray& CValueArray::operator=(const CValueArray&) = default;
CValueArray& CValueArray::operator=(CValueArray&&) noexcept = default;
CValueArray::~CValueArray() = default;

long CValueArray::GetCount() const { return static_cast<long>(items_.size()); }
void CValueArray::Add(const CValue& value) { items_.push_back(value); }
void CValueArray::Clear() { items_.clear(); }
void CValueArray::Resize(long size) { items_.resize(size > 0 ? static_cast<std::size_t>(size) : 0); }

namespace {

// What an out-of-range index hands out. Reset on every such access, so a
// caller that wrote to it last time still reads empty, and per thread, so
// two threads poking outside their arrays do not share it.
CValue& OutOfRangeScratch() {
  thread_local CValue scratch;
  scratch = CValue();
  return scratch;
}

}  // namespace

CValue& CValueArray::operator[](long index) {
  if (index < 0 || index >= GetCount()) return OutOfRangeScratch();
  return items_[static_cast<std::size_t>(index)];
}

const CValue& CValueArray::operator[](long index) const {
  if (index < 0 || index >= GetCount()) return OutOfRangeScratch();
  return items_[static_cast<std::size_t>(index)];
}

// ---- text parsing ------------------------------------------------------------

namespace {

bool IsSpace(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsSpace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && IsSpace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

// The text without surrounding white space, narrowed to ASCII. Any character
// outside ASCII cannot be part of a number or a keyword, so it becomes a
// byte no parser accepts.
std::string TrimmedAscii(const CString& text) {
  const std::wstring& w = text.Wide();
  std::size_t begin = 0, end = w.size();
  while (begin < end && IsSpace(w[begin])) ++begin;
  while (end > begin && IsSpace(w[end - 1])) --end;
  std::string out;
  out.reserve(end - begin);
  for (std::size_t i = begin; i < end; ++i) {
    const wchar_t c = w[i];
    out += (c > 0 && c < 0x80) ? static_cast<char>(c) : '\x01';
  }
  return out;
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// One optional sign; from_chars takes only '-', so a '+' is dropped here.
std::string_view WithoutPlus(std::string_view s) {
  if (!s.empty() && s[0] == '+') s.remove_prefix(1);
  return s;
}

std::size_t SignLength(std::string_view s) { return !s.empty() && (s[0] == '+' || s[0] == '-') ? 1 : 0; }

// [+-](digits[.[digits]] | .digits)[(e|E)[+-]digits], nothing else.
bool IsDecimal(std::string_view s) {
  std::size_t i = SignLength(s), mantissaDigits = 0;
  while (i < s.size() && IsDigit(s[i])) ++i, ++mantissaDigits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && IsDigit(s[i])) ++i, ++mantissaDigits;
  }
  if (mantissaDigits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t expDigits = 0;
    while (i < s.size() && IsDigit(s[i])) ++i, ++expDigits;
    if (expDigits == 0) return false;
  }
  return i == s.size();
}

// [+-](nan|inf|infinity) in any case.
bool NamesNonFinite(std::string_view s) {
  s.remove_prefix(SignLength(s));
  if (s.size() > 8) return false;
  const std::string word = Lower(std::string(s));
  return word == "nan" || word == "inf" || word == "infinity";
}

// Decimal order of magnitude of a number text that from_chars reported as out
// of range ("1e999" -> 1000, "0.0001e-400" -> -403): positive means it
// overflowed, otherwise it underflowed. The text is already known to be a
// well-formed decimal without a leading '+'.
long Magnitude(std::string_view s) {
  std::size_t i = (!s.empty() && s[0] == '-') ? 1 : 0;
  long mag = 0;
  bool seenNonZero = false, afterPoint = false;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '.') {
      afterPoint = true;
      continue;
    }
    if (c < '0' || c > '9') break;
    if (c != '0') seenNonZero = true;
    if (!afterPoint && seenNonZero) ++mag;
    if (afterPoint && !seenNonZero) --mag;
  }
  if (i >= s.size()) return mag;
  std::string_view e = s.substr(i + 1);  // after the 'e'
  const bool negative = !e.empty() && e[0] == '-';
  if (!e.empty() && (e[0] == '-' || e[0] == '+')) e.remove_prefix(1);
  long exp = 0;
  auto [ptr, ec] = std::from_chars(e.data(), e.data() + e.size(), exp);
  (void)ptr;
  // Far beyond any double either way; keeps mag +- exp from overflowing.
  constexpr long kHuge = LONG_MAX / 4;
  if (ec == std::errc::result_out_of_range || exp > kHuge) exp = kHuge;
  return negative ? mag - exp : mag + exp;
}

int ClampToInt(double d) {
  if (std::isnan(d)) return 0;
  const double t = std::trunc(d);
  if (t <= static_cast<double>(INT_MIN)) return INT_MIN;
  if (t >= static_cast<double>(INT_MAX)) return INT_MAX;
  return static_cast<int>(t);
}

float NarrowToFloat(double d) {
  // An out-of-range double -> float conversion is undefined behaviour, so
  // round past FLT_MAX by hand the way IEEE round-to-nearest does: up to
  // (not including) half an ulp above FLT_MAX still gives FLT_MAX.
  constexpr double kFloatMax = std::numeric_limits<float>::max();
  constexpr double kOverflow = 340282356779733661637539395458142568448.0;  // 2^128 - 2^103
  const double m = std::fabs(d);
  if (!(m > kFloatMax)) return static_cast<float>(d);  // in range, or NaN
  const float r = m < kOverflow ? std::numeric_limits<float>::max()
                                : std::numeric_limits<float>::infinity();
  return d < 0 ? -r : r;
}

// Number conversions are total: text that is no number the host can hold
// reads as 0 (docs/commands.md, "Value conversions").
bool NumberOrNamed(const std::string& s, double& d) {
  const NumberText r = ReadNumber(std::string_view(s), d);
  return r == NumberText::Ok || r == NumberText::NotFinite;
}

int TextToInt(const CString& text) {
  const std::string s = TrimmedAscii(text);
  long long whole = 0;
  if (ReadWholeNumber(std::string_view(s), whole) == NumberText::Ok)
    return whole < INT_MIN ? INT_MIN : whole > INT_MAX ? INT_MAX : static_cast<int>(whole);
  double d = 0.0;
  return NumberOrNamed(s, d) ? ClampToInt(d) : 0;
}

double TextToDouble(const CString& text) {
  double d = 0.0;
  return NumberOrNamed(TrimmedAscii(text), d) ? d : 0.0;
}

bool TextToBool(const CString& text) {
  const std::string s = Lower(TrimmedAscii(text));
  if (s == "true" || s == "yes" || s == "on") return true;
  if (s.empty() || s == "false" || s == "no" || s == "off") return false;
  double d = 0.0;
  return NumberOrNamed(s, d) && d != 0.0 && !std::isnan(d);
}

// ---- number formatting -------------------------------------------------------

CString Widen(std::string_view s) {
  std::wstring w(s.begin(), s.end());
  return CString(std::move(w));
}

template <typename Real>
CString RealToText(Real v) {
  if (std::isnan(v)) return CString(L"nan");  // never "-nan"
  std::array<char, 64> buf{};
  auto [ptr, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), v);
  if (ec != std::errc()) return CString();
  return Widen(std::string_view(buf.data(), static_cast<std::size_t>(ptr - buf.data())));
}

CString IntToText(int v) {
  std::array<char, 16> buf{};
  auto [ptr, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), v);
  (void)ec;
  return Widen(std::string_view(buf.data(), static_cast<std::size_t>(ptr - buf.data())));
}

bool SameReal(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

}  // namespace

// ---- numbers in text ----------------------------------------------------------

NumberText ReadNumber(std::string_view utf8, double& out) noexcept {
  const std::string_view s = TrimBlanks(utf8);
  const bool named = NamesNonFinite(s);
  if (!named && !IsDecimal(s)) return NumberText::NotANumber;
  const std::string_view digits = WithoutPlus(s);
  double value = 0.0;
  const auto [ptr, ec] =
      std::from_chars(digits.data(), digits.data() + digits.size(), value, std::chars_format::general);
  if (ptr != digits.data() + digits.size()) return NumberText::NotANumber;
  if (ec == std::errc::result_out_of_range) {
    if (Magnitude(digits) > 0) return NumberText::OutOfRange;
    value = digits[0] == '-' ? -0.0 : 0.0;
  } else if (ec != std::errc()) {
    return NumberText::NotANumber;
  }
  out = value;
  return named ? NumberText::NotFinite : NumberText::Ok;
}

NumberText ReadNumber(const CString& text, double& out) noexcept {
  try {
    return ReadNumber(std::string_view(TrimmedAscii(text)), out);
  } catch (...) {  // only allocation can fail here
    return NumberText::NotANumber;
  }
}

NumberText ReadWholeNumber(std::string_view utf8, long long& out) noexcept {
  const std::string_view s = TrimBlanks(utf8);
  const std::size_t sign = SignLength(s);
  if (s.size() == sign) return NumberText::NotANumber;
  for (std::size_t i = sign; i < s.size(); ++i)
    if (!IsDigit(s[i])) return NumberText::NotANumber;
  const std::string_view digits = WithoutPlus(s);
  long long value = 0;
  const auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, 10);
  if (ec == std::errc::result_out_of_range) return NumberText::OutOfRange;
  if (ec != std::errc() || ptr != digits.data() + digits.size()) return NumberText::NotANumber;
  out = value;
  return NumberText::Ok;
}

NumberText ReadWholeNumber(const CString& text, long long& out) noexcept {
  try {
    return ReadWholeNumber(std::string_view(TrimmedAscii(text)), out);
  } catch (...) {
    return NumberText::NotANumber;
  }
}

CString NumberTextProblem(const CString& text, NumberText result) {
  switch (result) {
    case NumberText::Ok: return CString();
    case NumberText::OutOfRange: return L"is beyond the range of a number";
    case NumberText::NotFinite: return L"is not a finite number";
    case NumberText::NotANumber: break;
  }
  const std::string s = Lower(TrimmedAscii(text));
  const std::size_t sign = SignLength(s);
  if (s.empty()) return L"is not a number (it is empty)";
  if (s.compare(sign, 2, "0x") == 0) return L"is not a decimal number (hexadecimal is not read)";
  if (s.find(',') != std::string::npos) return L"is not a number (the decimal separator is '.')";
  return L"is not a decimal number";
}

// ---- CValue --------------------------------------------------------------------

const wchar_t* CValue::GetTypeName() const {
  switch (type_) {
    case siEmpty: return L"empty";
    case siInt4: return L"int";
    case siFloat: return L"float";
    case siDouble: return L"double";
    case siBool: return L"bool";
    case siString: return L"text";
    case siArray: return L"array";
    case siRef: return L"ref";
  }
  return L"empty";
}

CString CValue::GetAsText() const {
  switch (type_) {
    case siEmpty: return CString();
    case siInt4: return IntToText(i_);
    case siFloat: return RealToText(f_);
    case siDouble: return RealToText(d_);
    case siBool: return CString(b_ ? L"true" : L"false");
    case siString: return s_;
    case siRef: return CString();
    case siArray: {
      CString out;
      for (long i = 0; i < a_.GetCount(); ++i) {
        if (i > 0) out += L",";
        out += a_[i].GetAsText();
      }
      return out;
    }
  }
  return CString();
}

int CValue::GetAsInt() const {
  // Text spelling an integer is read as one, exactly at any length; every
  // other kind is its number cut toward zero (an int comes back unchanged).
  if (type_ == siString) return TextToInt(s_);
  return ClampToInt(GetAsDouble());
}

double CValue::GetAsDouble() const {
  switch (type_) {
    case siInt4: return i_;
    case siFloat: return f_;
    case siDouble: return d_;
    case siBool: return b_ ? 1.0 : 0.0;
    case siString: return TextToDouble(s_);
    case siEmpty:
    case siArray:
    case siRef: return 0.0;
  }
  return 0.0;
}

float CValue::GetAsFloat() const {
  if (type_ == siFloat) return f_;
  return NarrowToFloat(GetAsDouble());
}

bool CValue::GetAsBool() const {
  switch (type_) {
    case siInt4: return i_ != 0;
    case siFloat: return f_ != 0.0f && !std::isnan(f_);
    case siDouble: return d_ != 0.0 && !std::isnan(d_);
    case siBool: return b_;
    case siString: return TextToBool(s_);
    case siRef: return ref_.IsValid();
    case siEmpty:
    case siArray: return false;
  }
  return false;
}

CRef CValue::GetAsRef() const { return type_ == siRef ? ref_ : CRef(); }

CValueArray CValue::GetAsArray() const {
  if (type_ == siArray) return a_;
  CValueArray out;
  if (type_ != siEmpty) out.Add(*this);
  return out;
}

bool CValue::IsSame(const CValue& other) const {
  if (type_ != other.type_) return false;
  switch (type_) {
    case siEmpty: return true;
    case siInt4: return i_ == other.i_;
    case siFloat: return SameReal(f_, other.f_);
    case siDouble: return SameReal(d_, other.d_);
    case siBool: return b_ == other.b_;
    case siString: return s_ == other.s_;
    case siRef: return ref_ == other.ref_;
    case siArray: {
      if (a_.GetCount() != other.a_.GetCount()) return false;
      for (long i = 0; i < a_.GetCount(); ++i)
        if (!a_[i].IsSame(other.a_[i])) return false;
      return true;
    }
  }
  return false;
}

}  // namespace XSI
