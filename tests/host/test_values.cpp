// CString's UTF-8 conversions, CValueArray's out-of-range safety and every
// row of the CValue conversion table in docs/commands.md ("Value
// conversions").
#include <cfloat>
#include <climits>
#include <clocale>
#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "xsi_value.h"

namespace {

using XSI::CRef;
using XSI::CString;
using XSI::CValue;
using XSI::CValueArray;
using XSI::siRefKind;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr float kNaNf = std::numeric_limits<float>::quiet_NaN();
constexpr float kInff = std::numeric_limits<float>::infinity();

CValue Text(const char* utf8) { return CValue(CString::FromUtf8(utf8)); }
std::string TextOf(const CValue& v) { return v.GetAsText().GetUtf8String(); }

CValueArray Array(std::initializer_list<CValue> items) {
  CValueArray a;
  for (const CValue& v : items) a.Add(v);
  return a;
}

const CRef kClip(siRefKind::ImageClip, 7);

// ---- CString / UTF-8 -----------------------------------------------------------

TEST(Utf8, ValidTextRoundTrips) {
  for (const char* s : {"", "plain ascii", "caf\xC3\xA9", "\xE2\x82\xAC 5", "\xF0\x9F\x98\x80",
                        "\xEF\xBF\xBF", "\xF4\x8F\xBF\xBF", "\x7F"}) {
    EXPECT_EQ(CString::FromUtf8(s).GetUtf8String(), s);
  }
  EXPECT_EQ(CString::FromUtf8("caf\xC3\xA9").Wide(), std::wstring(L"caf\u00E9"));
  EXPECT_EQ(CString::FromUtf8("\xF0\x9F\x98\x80").Wide(), std::wstring(1, wchar_t(0x1F600)));
}

TEST(Utf8, EmbeddedNulSurvives) {
  const std::string s("a\0b", 3);
  CString c = CString::FromUtf8(s);
  EXPECT_EQ(c.Length(), 3u);
  EXPECT_EQ(c.GetUtf8String(), s);
}

// Each ill-formed piece becomes exactly one U+FFFD; what follows it is kept.
TEST(Utf8, InvalidBytesBecomeReplacementCharacters) {
  const wchar_t R = 0xFFFD;
  struct Case {
    std::string in;
    std::wstring out;
  } cases[] = {
      {"\xFF", {R}},
      {"a\x80z", {L'a', R, L'z'}},                // stray continuation byte
      {"\xE2\x82", {R}},                          // truncated at the end
      {"\xE2\x82" "A", {R, L'A'}},                // truncated before ASCII
      {"\xC0\xAF", {R, R}},                       // overlong '/'
      {"\xE0\x80\xAF", {R, R, R}},                // overlong, three bytes
      {"\xED\xA0\x80", {R, R, R}},                // encoded surrogate
      {"\xF4\x90\x80\x80", {R, R, R, R}},         // above U+10FFFF
      {"\xF5\x80", {R, R}},                       // lead byte never valid
      {"\xF0\x9F\x98", {R}},                      // 4-byte sequence cut short
      {"\xF0\x9F\x98\xF0\x9F\x98\x80", {R, wchar_t(0x1F600)}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CString::FromUtf8(c.in).Wide(), c.out) << "input bytes: " << c.in.size();
  }
}

TEST(Utf8, UnencodableCodePointsAreWrittenAsReplacement) {
  const std::string R = "\xEF\xBF\xBD";
  std::wstring w;
  w += wchar_t(0xD800);    // high surrogate
  w += wchar_t(0xDFFF);    // low surrogate
  w += wchar_t(0x110000);  // beyond Unicode
  w += static_cast<wchar_t>(-1);
  w += L'x';
  EXPECT_EQ(CString(w).GetUtf8String(), R + R + R + R + "x");
}

TEST(Utf8, EncodingBoundaries) {
  std::wstring w = {wchar_t(0x7F), wchar_t(0x80), wchar_t(0x7FF), wchar_t(0x800), wchar_t(0xFFFF),
                    wchar_t(0x10000), wchar_t(0x10FFFF)};
  const std::string utf8 = CString(w).GetUtf8String();
  EXPECT_EQ(utf8,
            "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF");
  EXPECT_EQ(CString::FromUtf8(utf8).Wide(), w);
}

// ---- CValueArray -------------------------------------------------------------

TEST(ValueArray, SizesAndGrowth) {
  CValueArray a(3);
  EXPECT_EQ(a.GetCount(), 3);
  for (long i = 0; i < 3; ++i) EXPECT_TRUE(a[i].IsEmpty());
  a.Add(CValue(5));
  EXPECT_EQ(a.GetCount(), 4);
  EXPECT_EQ(a[3].GetAsInt(), 5);
  a.Resize(1);
  EXPECT_EQ(a.GetCount(), 1);
  a.Resize(-4);
  EXPECT_EQ(a.GetCount(), 0);
  EXPECT_EQ(CValueArray(-2).GetCount(), 0);
  a.Add(CValue(1));
  a.Clear();
  EXPECT_EQ(a.GetCount(), 0);
}

TEST(ValueArray, CopiesAreIndependent) {
  CValueArray a = Array({CValue(1), CValue(2)});
  CValueArray b = a;
  b[0] = CValue(9);
  EXPECT_EQ(a[0].GetAsInt(), 1);
  CValueArray c = std::move(b);
  EXPECT_EQ(c[0].GetAsInt(), 9);
}

TEST(ValueArray, AddingOwnElementIsSafe) {
  CValueArray a = Array({Text("x")});
  for (int i = 0; i < 10; ++i) a.Add(a[0]);  // may reallocate while reading
  EXPECT_EQ(a.GetCount(), 11);
  EXPECT_EQ(TextOf(a[10]), "x");
}

TEST(ValueArray, OutOfRangeGivesEmptyAndWritesGoNowhere) {
  CValueArray a = Array({CValue(1), CValue(2)});
  for (long index : {-1L, 2L, 100L, LONG_MIN, LONG_MAX}) {
    EXPECT_TRUE(a[index].IsEmpty()) << index;
    a[index] = CValue(42);
    EXPECT_TRUE(a[index].IsEmpty()) << "write at " << index << " stuck";
  }
  EXPECT_EQ(a.GetCount(), 2);
  EXPECT_EQ(a[0].GetAsInt(), 1);
  EXPECT_EQ(a[1].GetAsInt(), 2);

  const CValueArray& ca = a;
  a[5] = Text("left over");
  EXPECT_TRUE(ca[5].IsEmpty());
  EXPECT_TRUE(CValueArray()[0].IsEmpty());
}

// ---- conversion table: to int --------------------------------------------------

TEST(ValueToInt, FromNonText) {
  EXPECT_EQ(CValue().GetAsInt(), 0);
  EXPECT_EQ(CValue(-17).GetAsInt(), -17);
  EXPECT_EQ(CValue(true).GetAsInt(), 1);
  EXPECT_EQ(CValue(false).GetAsInt(), 0);
  EXPECT_EQ(CValue(Array({CValue(5)})).GetAsInt(), 0);
  EXPECT_EQ(CValue(kClip).GetAsInt(), 0);
}

TEST(ValueToInt, RealsTruncateTowardZeroAndClamp) {
  struct {
    double in;
    int out;
  } cases[] = {
      {3.7, 3},           {-3.7, -3},          {0.999, 0},          {-0.5, 0},
      {kNaN, 0},          {-kNaN, 0},          {1e300, INT_MAX},    {-1e300, INT_MIN},
      {kInf, INT_MAX},    {-kInf, INT_MIN},    {2147483647.9, INT_MAX},
      {2147483648.0, INT_MAX},                 {-2147483648.9, INT_MIN},
      {-2147483649.0, INT_MIN},                {2147483646.5, 2147483646},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CValue(c.in).GetAsInt(), c.out) << c.in;
    if (!std::isfinite(c.in) || std::fabs(c.in) < 1e7) {
      EXPECT_EQ(CValue(static_cast<float>(c.in)).GetAsInt(), c.out) << c.in << "f";
    }
  }
  EXPECT_EQ(CValue(1e30f).GetAsInt(), INT_MAX);
  EXPECT_EQ(CValue(-1e30f).GetAsInt(), INT_MIN);
  EXPECT_EQ(CValue(kNaNf).GetAsInt(), 0);
}

TEST(ValueToInt, FromText) {
  struct {
    const char* in;
    int out;
  } cases[] = {
      {"12", 12},          {"-3", -3},           {"+7", 7},            {"  42\t\n", 42},
      {"007", 7},          {"3.7", 3},           {"-3.7", -3},         {"1e2", 100},
      {"2.5e1", 25},       {".9", 0},            {"", 0},              {"   ", 0},
      {"abc", 0},          {"12abc", 0},         {"4 2", 0},           {"0x10", 0},
      {"1e", 0},           {"+-1", 0},           {"--1", 0},           {"+", 0},
      {"-", 0},            {"1,5", 0},           {"2147483647", INT_MAX},
      {"-2147483648", INT_MIN},                  {"2147483648", INT_MAX},
      {"-99999999999999999999999", INT_MIN},     {"1e20", INT_MAX},    {"nan", 0},
      {"inf", INT_MAX},    {"-inf", INT_MIN},
  };
  for (const auto& c : cases) EXPECT_EQ(Text(c.in).GetAsInt(), c.out) << '"' << c.in << '"';
  EXPECT_EQ(Text("\xC2\xA0" "5").GetAsInt(), 0) << "only ASCII white space is trimmed";
}

// ---- to double / float -----------------------------------------------------------

TEST(ValueToDouble, FromNonText) {
  EXPECT_EQ(CValue().GetAsDouble(), 0.0);
  EXPECT_EQ(CValue(-5).GetAsDouble(), -5.0);
  EXPECT_EQ(CValue(INT_MIN).GetAsDouble(), double(INT_MIN));
  EXPECT_EQ(CValue(0.1f).GetAsDouble(), double(0.1f));
  EXPECT_EQ(CValue(0.1).GetAsDouble(), 0.1);
  EXPECT_EQ(CValue(true).GetAsDouble(), 1.0);
  EXPECT_EQ(CValue(false).GetAsDouble(), 0.0);
  EXPECT_EQ(CValue(Array({CValue(2.0)})).GetAsDouble(), 0.0);
  EXPECT_EQ(CValue(kClip).GetAsDouble(), 0.0);
  EXPECT_TRUE(std::isnan(CValue(kNaN).GetAsDouble()));
}

TEST(ValueToDouble, FromText) {
  struct {
    const char* in;
    double out;
  } cases[] = {
      {"3.5", 3.5},      {" -2.25 ", -2.25}, {"+2", 2.0},       {"1e2", 100.0},    {"-1E-2", -0.01},
      {".5", 0.5},       {"5.", 5.0},        {"12", 12.0},      {"inf", kInf},     {"-INF", -kInf},
      {"+Infinity", kInf},                   {"1e-400", 0.0},   {"1e-99999999999999999999", 0.0},
      {"1.7976931348623157e308", DBL_MAX},   {"4.9406564584124654e-324", 4.9406564584124654e-324},
      {"", 0.0},         {"abc", 0.0},       {"1,5", 0.0},      {"12abc", 0.0},    {"0x10", 0.0},
      {"1e", 0.0},       {"e5", 0.0},        {"..5", 0.0},      {"+-1", 0.0},
  };
  for (const auto& c : cases) EXPECT_EQ(Text(c.in).GetAsDouble(), c.out) << '"' << c.in << '"';
  EXPECT_TRUE(std::signbit(Text("-1e-400").GetAsDouble()));
  EXPECT_TRUE(std::isnan(Text("nan").GetAsDouble()));
  EXPECT_TRUE(std::isnan(Text(" NaN ").GetAsDouble()));
  EXPECT_TRUE(std::isnan(Text("-nan").GetAsDouble()));
}

// Only a text that names an infinity gives one: a number beyond double's
// range is not a number the host can hold, and reads in every column as any
// other text that is not a number does. NaN payloads are not numbers either.
TEST(ValueFromText, OutOfRangeNumbersAndNaNPayloadsAreNotNumbers) {
  const std::string digits400 = "1" + std::string(399, '0');
  const std::string notNumbers[] = {"1e400",  "-1e400",  "1E309", "0.1e99999999999999999999",
                                    digits400, "-" + digits400, "+" + digits400 + ".5",
                                    "nan(123)", "nan()", "-NaN(abc)", "+nan(0x1)", "inf(1)"};
  for (const std::string& t : notNumbers) {
    const CValue v = Text(t.c_str());
    EXPECT_EQ(v.GetAsDouble(), 0.0) << t;
    EXPECT_FALSE(std::signbit(v.GetAsDouble())) << t;
    EXPECT_EQ(v.GetAsFloat(), 0.0f) << t;
    EXPECT_EQ(v.GetAsInt(), 0) << t;
    EXPECT_FALSE(v.GetAsBool()) << t;
  }
  // The largest numbers that do fit still clamp as documented.
  EXPECT_EQ(Text("1.7976931348623157e308").GetAsInt(), INT_MAX);
  EXPECT_EQ(Text(("-" + std::string(308, '9')).c_str()).GetAsInt(), INT_MIN);
  EXPECT_EQ(Text(std::string(308, '9').c_str()).GetAsDouble(), 1e308);
  EXPECT_TRUE(Text(std::string(308, '9').c_str()).GetAsBool());
  // Named infinities and plain NaN are still what they say.
  EXPECT_EQ(Text("-infinity").GetAsDouble(), -kInf);
  EXPECT_TRUE(std::isnan(Text("nan").GetAsDouble()));
}

TEST(ValueToDouble, TextParsingIgnoresTheProcessLocale) {
  const char* old = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = old ? old : "C";
  // Whichever comma-decimal locale this machine has; the C locale otherwise.
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "C"})
    if (std::setlocale(LC_NUMERIC, name)) break;
  EXPECT_EQ(Text("2.5").GetAsDouble(), 2.5);
  EXPECT_EQ(Text("2,5").GetAsDouble(), 0.0);
  EXPECT_EQ(TextOf(CValue(2.5)), "2.5");
  std::setlocale(LC_NUMERIC, saved.c_str());
}

// ---- the one number reader -----------------------------------------------------

// XSI::ReadNumber is what every command, plug-in and file reader uses; the
// grammar is docs/commands.md's "Numbers in text".
TEST(NumberText, TheGrammarIsDecimalOnly) {
  using XSI::NumberText;
  struct Case {
    const char* text;
    NumberText expected;
    double value;
  } cases[] = {
      {" 3 ", NumberText::Ok, 3.0},           {"+4", NumberText::Ok, 4.0},
      {"\t-2.5e1\r\n", NumberText::Ok, -25.0}, {".5", NumberText::Ok, 0.5},
      {"5.", NumberText::Ok, 5.0},             {"1e-400", NumberText::Ok, 0.0},
      {"0x10", NumberText::NotANumber, 0},     {"2,5", NumberText::NotANumber, 0},
      {"", NumberText::NotANumber, 0},         {"  ", NumberText::NotANumber, 0},
      {"+-1", NumberText::NotANumber, 0},      {"++1", NumberText::NotANumber, 0},
      {"1e", NumberText::NotANumber, 0},       {"4 2", NumberText::NotANumber, 0},
      {"nan(1)", NumberText::NotANumber, 0},   {"1e400", NumberText::OutOfRange, 0},
      {"-1e400", NumberText::OutOfRange, 0},   {"nan", NumberText::NotFinite, 0},
      {"-Infinity", NumberText::NotFinite, 0}, {"+inf", NumberText::NotFinite, 0},
  };
  for (const Case& c : cases) {
    double out = 99.0;
    EXPECT_EQ(XSI::ReadNumber(std::string_view(c.text), out), c.expected) << c.text;
    double wide = 99.0;
    EXPECT_EQ(XSI::ReadNumber(CString::FromUtf8(c.text), wide), c.expected) << c.text;
    if (c.expected == NumberText::Ok) {
      EXPECT_EQ(out, c.value) << c.text;
      EXPECT_EQ(wide, c.value) << c.text;
    } else if (c.expected != NumberText::NotFinite) {
      EXPECT_EQ(out, 99.0) << c.text << ": a refused text leaves the result alone";
    }
  }
  // Only ASCII blanks surround a number; a no-break space is not one.
  double out = 0;
  EXPECT_EQ(XSI::ReadNumber(CString(L"\u00a03"), out), NumberText::NotANumber);
}

TEST(NumberText, WholeNumbersHaveNoFractionAndNamesTheirLimit) {
  using XSI::NumberText;
  long long out = 0;
  EXPECT_EQ(XSI::ReadWholeNumber(std::string_view(" +007 "), out), NumberText::Ok);
  EXPECT_EQ(out, 7);
  EXPECT_EQ(XSI::ReadWholeNumber(CString(L"-9223372036854775808"), out), NumberText::Ok);
  EXPECT_EQ(out, LLONG_MIN);
  EXPECT_EQ(XSI::ReadWholeNumber(std::string_view("9223372036854775808"), out), NumberText::OutOfRange);
  for (const char* t : {"3.0", "1e2", "0x10", "2,5", "nan", "", "-", "+ 1"})
    EXPECT_EQ(XSI::ReadWholeNumber(std::string_view(t), out), NumberText::NotANumber) << t;
}

TEST(NumberText, TheProblemSaysWhatIsWrong) {
  auto problem = [](const char* t) {
    double d = 0;
    const CString text = CString::FromUtf8(t);
    return XSI::NumberTextProblem(text, XSI::ReadNumber(text, d)).GetUtf8String();
  };
  EXPECT_EQ(problem("3"), "");
  EXPECT_EQ(problem("0x10"), "is not a decimal number (hexadecimal is not read)");
  EXPECT_EQ(problem("-0X1p3"), "is not a decimal number (hexadecimal is not read)");
  EXPECT_EQ(problem("2,5"), "is not a number (the decimal separator is '.')");
  EXPECT_EQ(problem("1e400"), "is beyond the range of a number");
  EXPECT_EQ(problem("nan"), "is not a finite number");
  EXPECT_EQ(problem(" "), "is not a number (it is empty)");
  EXPECT_EQ(problem("abc"), "is not a decimal number");
}

// Under a comma-decimal locale nothing changes: the reader never asks the
// locale (the whole suite also runs under LC_ALL=de_DE.UTF-8, see
// tests/CMakeLists.txt).
TEST(NumberText, TheProcessLocaleChangesNothing) {
  const char* old = std::setlocale(LC_ALL, nullptr);
  const std::string saved = old ? old : "C";
  bool german = false;
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8"})
    if (std::setlocale(LC_ALL, name)) {
      german = true;
      break;
    }
  double d = 0;
  EXPECT_EQ(XSI::ReadNumber(std::string_view("2.5"), d), XSI::NumberText::Ok);
  EXPECT_EQ(d, 2.5);
  EXPECT_EQ(XSI::ReadNumber(std::string_view("2,5"), d), XSI::NumberText::NotANumber);
  std::setlocale(LC_ALL, saved.c_str());
  if (!german) GTEST_SKIP() << "no German locale on this machine (scripts/setup.sh generates de_DE.UTF-8)";
}

TEST(ValueToFloat, IsTheDoubleRoundedToFloat) {
  EXPECT_EQ(CValue(0.1).GetAsFloat(), 0.1f);
  EXPECT_EQ(Text("0.1").GetAsFloat(), 0.1f);
  EXPECT_EQ(CValue(16777217).GetAsFloat(), 16777216.0f);
  EXPECT_EQ(CValue(0.25f).GetAsFloat(), 0.25f);
  EXPECT_EQ(CValue(true).GetAsFloat(), 1.0f);
  EXPECT_EQ(CValue().GetAsFloat(), 0.0f);
  EXPECT_EQ(CValue(1e300).GetAsFloat(), kInff);
  EXPECT_EQ(CValue(-1e300).GetAsFloat(), -kInff);
  EXPECT_EQ(Text("1e39").GetAsFloat(), kInff);
  // Just above FLT_MAX still rounds to it; past half an ulp it overflows.
  EXPECT_EQ(CValue(3.4028235e38).GetAsFloat(), FLT_MAX);
  EXPECT_EQ(CValue(-3.4028235e38).GetAsFloat(), -FLT_MAX);
  EXPECT_EQ(CValue(3.4028236e38).GetAsFloat(), kInff);
  EXPECT_EQ(CValue(std::ldexp(1.0, 128) - std::ldexp(1.0, 103)).GetAsFloat(), kInff);
  EXPECT_EQ(CValue(std::nextafter(std::ldexp(1.0, 128) - std::ldexp(1.0, 103), 0.0)).GetAsFloat(),
            FLT_MAX);
  EXPECT_EQ(CValue(1e-50).GetAsFloat(), 0.0f);
  EXPECT_EQ(CValue(kInf).GetAsFloat(), kInff);
  EXPECT_TRUE(std::isnan(CValue(kNaN).GetAsFloat()));
  EXPECT_TRUE(std::isnan(Text("nan").GetAsFloat()));
  EXPECT_EQ(CValue(kClip).GetAsFloat(), 0.0f);
}

// ---- to bool -----------------------------------------------------------------------

TEST(ValueToBool, FromNonText) {
  EXPECT_FALSE(CValue().GetAsBool());
  EXPECT_FALSE(CValue(0).GetAsBool());
  EXPECT_TRUE(CValue(-1).GetAsBool());
  EXPECT_FALSE(CValue(0.0).GetAsBool());
  EXPECT_FALSE(CValue(-0.0).GetAsBool());
  EXPECT_TRUE(CValue(1e-300).GetAsBool());
  EXPECT_TRUE(CValue(-kInf).GetAsBool());
  EXPECT_FALSE(CValue(kNaN).GetAsBool());
  EXPECT_FALSE(CValue(0.0f).GetAsBool());
  EXPECT_TRUE(CValue(0.5f).GetAsBool());
  EXPECT_FALSE(CValue(kNaNf).GetAsBool());
  EXPECT_TRUE(CValue(true).GetAsBool());
  EXPECT_FALSE(CValue(false).GetAsBool());
  EXPECT_FALSE(CValue(Array({CValue(true)})).GetAsBool());
  EXPECT_FALSE(CValue(CValueArray()).GetAsBool());
  EXPECT_TRUE(CValue(kClip).GetAsBool());
  EXPECT_FALSE(CValue(CRef()).GetAsBool());
}

TEST(ValueToBool, FromText) {
  for (const char* s : {"true", "TRUE", "True", "yes", "YES", "on", "On", " yes\t", "1", "-1",
                        "2.5", "1e-3", "inf", "+7"})
    EXPECT_TRUE(Text(s).GetAsBool()) << '"' << s << '"';
  for (const char* s : {"false", "FALSE", "no", "No", "off", "OFF", "", "   ", "0", "-0", "0.0",
                        "0e5", "nan", "maybe", "truex", "y", "t", "1,5", "12abc"})
    EXPECT_FALSE(Text(s).GetAsBool()) << '"' << s << '"';
}

// ---- to text -----------------------------------------------------------------------

TEST(ValueToText, Scalars) {
  EXPECT_EQ(TextOf(CValue()), "");
  EXPECT_EQ(TextOf(CValue(12)), "12");
  EXPECT_EQ(TextOf(CValue(-3)), "-3");
  EXPECT_EQ(TextOf(CValue(0)), "0");
  EXPECT_EQ(TextOf(CValue(INT_MIN)), "-2147483648");
  EXPECT_EQ(TextOf(CValue(true)), "true");
  EXPECT_EQ(TextOf(CValue(false)), "false");
  EXPECT_EQ(TextOf(Text("as is  ")), "as is  ");
  EXPECT_EQ(TextOf(CValue(kClip)), "");
}

TEST(ValueToText, RealsAreShortestRoundTrip) {
  struct {
    double in;
    const char* out;
  } cases[] = {
      {0.5, "0.5"},   {14.0, "14"},     {-2.25, "-2.25"}, {1e300, "1e+300"}, {0.1, "0.1"},
      {kNaN, "nan"},  {-kNaN, "nan"},   {kInf, "inf"},    {-kInf, "-inf"},   {0.0, "0"},
      {-0.0, "-0"},   {123456789.0, "123456789"},         {1e21, "1e+21"},
      {DBL_MAX, "1.7976931348623157e+308"},
  };
  for (const auto& c : cases) EXPECT_EQ(TextOf(CValue(c.in)), c.out) << c.in;
  // Floats print as floats, not as the double they widen to.
  EXPECT_EQ(TextOf(CValue(0.1f)), "0.1");
  EXPECT_EQ(TextOf(CValue(14.0f)), "14");
  EXPECT_EQ(TextOf(CValue(kNaNf)), "nan");
  EXPECT_EQ(TextOf(CValue(-kInff)), "-inf");
}

TEST(ValueToText, RealTextReadsBackExactly) {
  for (double d : {0.1, 1.0 / 3.0, -123.456, DBL_MAX, DBL_MIN, 4.9406564584124654e-324, 1e-310,
                   2.5e-5, 6.02214076e23, -0.0})
    EXPECT_EQ(Text(TextOf(CValue(d)).c_str()).GetAsDouble(), d) << TextOf(CValue(d));
  for (float f : {0.1f, 1.0f / 3.0f, FLT_MAX, FLT_MIN, 1e-40f})
    EXPECT_EQ(Text(TextOf(CValue(f)).c_str()).GetAsFloat(), f) << TextOf(CValue(f));
}

TEST(ValueToText, ArraysJoinElementTexts) {
  EXPECT_EQ(TextOf(CValue(CValueArray())), "");
  EXPECT_EQ(TextOf(CValue(Array({CValue(1), Text("a"), CValue(2.5), CValue(true), CValue()}))),
            "1,a,2.5,true,");
  EXPECT_EQ(TextOf(CValue(Array({CValue(1), CValue(Array({CValue(2), CValue(3)}))}))), "1,2,3");
}

// ---- to array and ref ----------------------------------------------------------------

TEST(ValueToArray, ScalarsBecomeOneElementArrays) {
  for (const CValue& v : {CValue(3), CValue(1.5f), CValue(2.5), CValue(false), Text("t"),
                          CValue(kClip)}) {
    CValueArray a = v.GetAsArray();
    ASSERT_EQ(a.GetCount(), 1) << TextOf(v);
    EXPECT_TRUE(a[0].IsSame(v)) << TextOf(v);
  }
  EXPECT_EQ(CValue().GetAsArray().GetCount(), 0);
  CValue arr(Array({CValue(1), CValue(2)}));
  EXPECT_TRUE(CValue(arr.GetAsArray()).IsSame(arr));
}

TEST(ValueToRef, OnlyARefGivesARef) {
  EXPECT_EQ(CValue(kClip).GetAsRef(), kClip);
  CRef fromCast = CValue(kClip);
  EXPECT_EQ(fromCast, kClip);
  for (const CValue& v : {CValue(), CValue(7), CValue(7.0), CValue(true), Text("7"),
                          CValue(Array({CValue(kClip)}))})
    EXPECT_FALSE(v.GetAsRef().IsValid()) << v.GetTypeName();
}

// ---- kinds and sameness ---------------------------------------------------------------

TEST(ValueKinds, TypeNames) {
  EXPECT_STREQ(CValue().GetTypeName(), L"empty");
  EXPECT_STREQ(CValue(1).GetTypeName(), L"int");
  EXPECT_STREQ(CValue(1L).GetTypeName(), L"int");
  EXPECT_STREQ(CValue(1.0f).GetTypeName(), L"float");
  EXPECT_STREQ(CValue(1.0).GetTypeName(), L"double");
  EXPECT_STREQ(CValue(true).GetTypeName(), L"bool");
  EXPECT_STREQ(CValue(L"x").GetTypeName(), L"text");
  EXPECT_STREQ(CValue(CValueArray()).GetTypeName(), L"array");
  EXPECT_STREQ(CValue(kClip).GetTypeName(), L"ref");
}

TEST(ValueKinds, IsSameNeedsSameKindAndContent) {
  EXPECT_TRUE(CValue().IsSame(CValue()));
  EXPECT_TRUE(CValue(1).IsSame(CValue(1)));
  EXPECT_FALSE(CValue(1).IsSame(CValue(2)));
  EXPECT_FALSE(CValue(1).IsSame(CValue(1.0)));
  EXPECT_FALSE(CValue(1.0f).IsSame(CValue(1.0)));
  EXPECT_FALSE(CValue(1).IsSame(CValue(true)));
  EXPECT_FALSE(Text("1").IsSame(CValue(1)));
  EXPECT_TRUE(CValue(kNaN).IsSame(CValue(kNaN)));
  EXPECT_TRUE(CValue(kNaNf).IsSame(CValue(kNaNf)));
  EXPECT_TRUE(CValue(0.0).IsSame(CValue(-0.0)));
  EXPECT_TRUE(Text("Abc").IsSame(Text("Abc")));
  EXPECT_FALSE(Text("Abc").IsSame(Text("abc")));
  EXPECT_TRUE(CValue(kClip).IsSame(CValue(CRef(siRefKind::ImageClip, 7))));
  EXPECT_FALSE(CValue(kClip).IsSame(CValue(CRef(siRefKind::Object, 7))));
  EXPECT_FALSE(CValue().IsSame(CValue(0)));
  EXPECT_FALSE(CValue(CValueArray()).IsSame(CValue()));
  EXPECT_TRUE(CValue(Array({CValue(1), Text("a")})).IsSame(CValue(Array({CValue(1), Text("a")}))));
  EXPECT_FALSE(CValue(Array({CValue(1), Text("a")})).IsSame(CValue(Array({CValue(1), Text("b")}))));
  EXPECT_FALSE(CValue(Array({CValue(1)})).IsSame(CValue(Array({CValue(1), CValue(1)}))));
}

TEST(ValueKinds, ImplicitReadsUseTheTable) {
  int i = Text(" 12 ");
  double d = Text("2.5");
  bool b = Text("yes");
  CString s = CValue(7);
  EXPECT_EQ(i, 12);
  EXPECT_EQ(d, 2.5);
  EXPECT_TRUE(b);
  EXPECT_EQ(s, L"7");
}

}  // namespace
