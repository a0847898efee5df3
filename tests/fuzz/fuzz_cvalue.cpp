// libFuzzer harness for CValue's conversions: the input is a text (as UTF-8,
// or as raw wide characters) or a number of any kind, read as every kind.
//
// Invariants:
//  - no conversion throws, and each gives the same answer twice;
//  - a text reads back as itself; its int is its double truncated and
//    clamped, its float is its double rounded to float, its bool is the
//    keyword or "non-zero and not NaN";
//  - an infinity or a NaN only comes from a text that names it ("inf",
//    "nan"): no number text becomes non-finite by being too large;
//  - the text of an int, float, double or bool reads back as the same value
//    (every NaN as a NaN), and a value's one-element array holds the same
//    value.
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <xsi_value.h>

namespace {

using XSI::CString;
using XSI::CValue;

[[noreturn]] void Fail(const std::string& what, const CString& input) {
  std::fprintf(stderr, "fuzz_cvalue invariant broken: %s (input '%s')\n", what.c_str(),
               input.GetUtf8String().c_str());
  std::abort();
}

bool SameBits(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  return std::memcmp(&a, &b, sizeof a) == 0;
}

bool SameBits(float a, float b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  return std::memcmp(&a, &b, sizeof a) == 0;
}

int ExpectedInt(double d) {
  if (std::isnan(d)) return 0;
  if (d >= 2147483647.0) return INT_MAX;
  if (d <= -2147483648.0) return INT_MIN;
  return static_cast<int>(d);
}

// The text with ASCII white space trimmed and ASCII letters folded, for the
// keyword and name checks.
std::string Folded(const CString& text) {
  const std::wstring& w = text.Wide();
  auto space = [](wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); };
  std::size_t b = 0, e = w.size();
  while (b < e && space(w[b])) ++b;
  while (e > b && space(w[e - 1])) --e;
  std::string out;
  for (std::size_t i = b; i < e; ++i) {
    const wchar_t c = w[i];
    out += (c >= L'A' && c <= L'Z') ? static_cast<char>(c - L'A' + L'a') : (c > 0 && c < 0x80) ? static_cast<char>(c) : '?';
  }
  return out;
}

void CheckText(const CString& text) {
  const CValue v(text);
  const double d = v.GetAsDouble();
  const float f = v.GetAsFloat();
  const int i = v.GetAsInt();
  const bool b = v.GetAsBool();
  if (!SameBits(d, v.GetAsDouble()) || !SameBits(f, v.GetAsFloat()) || i != v.GetAsInt() || b != v.GetAsBool())
    Fail("a conversion changed between two calls", text);
  if (v.GetAsText() != text) Fail("text does not read back as itself", text);
  if (!v.IsSame(CValue(text))) Fail("text is not the same as itself", text);
  if (v.GetAsRef().IsValid()) Fail("text gave a ref", text);
  if (v.GetAsArray().GetCount() != 1 || !v.GetAsArray()[0].IsSame(v)) Fail("text's array", text);

  if (i != ExpectedInt(d)) Fail("int " + std::to_string(i) + " is not the double truncated", text);
  const double m = std::fabs(d);
  if (!std::isnan(d) && m > FLT_MAX) {
    if (std::signbit(f) != std::signbit(d) || !(std::fabs(f) == FLT_MAX || std::isinf(f)))
      Fail("float of a double beyond float's range", text);
  } else if (!SameBits(f, static_cast<float>(d))) {
    Fail("float is not the double rounded", text);
  }

  const std::string folded = Folded(text);
  if (std::isinf(d) && folded.find("inf") == std::string::npos)
    Fail("an infinity from a text that does not name one", text);
  if (std::isnan(d) && folded.find("nan") == std::string::npos)
    Fail("a NaN from a text that does not name one", text);
  if (std::isnan(d) && folded.find('(') != std::string::npos) Fail("a NaN payload was read", text);

  static const char* kTrue[] = {"true", "yes", "on"};
  static const char* kFalse[] = {"false", "no", "off", ""};
  bool expected = d != 0.0 && !std::isnan(d);
  for (const char* k : kTrue)
    if (folded == k) expected = true;
  for (const char* k : kFalse)
    if (folded == k) expected = false;
  if (b != expected) Fail("bool disagrees with the keyword or the number", text);
}

// The text of a value reads back as the same value of the same kind.
void CheckRoundTrip(const CValue& v) {
  const CString text = v.GetAsText();
  if (text != v.GetAsText()) Fail("text changed between two calls", text);
  const CValue back(text);
  switch (v.GetType()) {
    case CValue::siInt4:
      if (back.GetAsInt() != v.GetAsInt()) Fail("int text does not read back", text);
      break;
    case CValue::siFloat:
      if (!SameBits(back.GetAsFloat(), v.GetAsFloat())) Fail("float text does not read back", text);
      break;
    case CValue::siDouble:
      if (!SameBits(back.GetAsDouble(), v.GetAsDouble())) Fail("double text does not read back", text);
      break;
    case CValue::siBool:
      if (back.GetAsBool() != v.GetAsBool()) Fail("bool text does not read back", text);
      break;
    default:
      break;
  }
  if (v.GetAsArray().GetCount() != 1 || !v.GetAsArray()[0].IsSame(v)) Fail("one-element array", text);
  if (!v.IsSame(v)) Fail("a value is not the same as itself", text);
  CheckText(text);
}

template <typename T>
T Load(const std::uint8_t* data, std::size_t size) {
  T v{};
  std::memcpy(&v, data, size < sizeof v ? size : sizeof v);
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t mode = data[0];
  ++data;
  --size;
  try {
    switch (mode % 6) {
      case 0:
      case 1:
        CheckText(CString::FromUtf8(std::string(reinterpret_cast<const char*>(data), size)));
        break;
      case 2: {
        std::wstring w;
        for (std::size_t i = 0; i + 1 < size; i += 2)
          w += static_cast<wchar_t>(data[i] | data[i + 1] << 8 | (data[i] & 0x80 ? 0x10000 : 0));
        CheckText(CString(w));
        break;
      }
      case 3: CheckRoundTrip(CValue(Load<double>(data, size))); break;
      case 4: CheckRoundTrip(CValue(Load<float>(data, size))); break;
      default: {
        CheckRoundTrip(CValue(Load<int>(data, size)));
        CheckRoundTrip(CValue(size > 0 && (data[0] & 1)));
        XSI::CValueArray a;
        for (std::size_t i = 0; i < size && i < 8; ++i) a.Add(CValue(static_cast<int>(data[i]) - 128));
        const CValue array(a);
        CString joined;
        for (long k = 0; k < a.GetCount(); ++k) joined += (k ? CString(L",") : CString()) + a[k].GetAsText();
        if (array.GetAsText() != joined) Fail("array text is not its elements joined", joined);
        break;
      }
    }
  } catch (...) {
    Fail("a conversion threw", CString());
  }
  return 0;
}
