// CValue: the SDK's variant (empty, int, float, double, bool, text, array,
// reference) and CValueArray, the positional argument list of commands.
//
// Conversions between kinds never fail; they follow the host's table in
// docs/commands.md ("Value conversions"). In short: numbers truncate toward
// zero when read as int, text is parsed as a number when read as a number,
// empty reads as 0, false or "", and anything unparsable reads as 0.
#pragma once

#include "xsi_api.h"

#include <climits>
#include <string_view>
#include <vector>

#include "xsi_ref.h"
#include "xsi_string.h"

namespace XSI {

class CValue;

class XSI_API CValueArray {
 public:
  explicit CValueArray(long size = 0);
  CValueArray(const CValueArray&);
  CValueArray(CValueArray&&) noexcept;
  CValueArray& operator=(const CValueArray&);
  CValueArray& operator=(CValueArray&&) noexcept;
  ~CValueArray();

  long GetCount() const;
  void Add(const CValue& value);
  void Clear();
  void Resize(long size);
  // An index outside 0..GetCount()-1 gives an empty value; writing to it
  // changes nothing in the array.
  CValue& operator[](long index);
  const CValue& operator[](long index) const;

 private:
  std::vector<CValue> items_;
};

class XSI_API CValue {
 public:
  enum DataType { siEmpty = 0, siInt4, siFloat, siDouble, siBool, siString, siArray, siRef };

  CValue() = default;
  CValue(int v) : type_(siInt4), i_(v) {}                      // NOLINT
  // Values outside int's range clamp to INT_MIN / INT_MAX.
  CValue(long v) : type_(siInt4), i_(ClampLong(v)) {}         // NOLINT
  CValue(float v) : type_(siFloat), f_(v) {}                   // NOLINT
  CValue(double v) : type_(siDouble), d_(v) {}                 // NOLINT
  CValue(bool v) : type_(siBool), b_(v) {}                     // NOLINT
  CValue(const wchar_t* v) : type_(siString), s_(v) {}         // NOLINT
  CValue(const CString& v) : type_(siString), s_(v) {}         // NOLINT
  CValue(const CRef& v) : type_(siRef), ref_(v) {}             // NOLINT
  CValue(const CValueArray& v) : type_(siArray), a_(v) {}      // NOLINT

  DataType GetType() const { return type_; }
  bool IsEmpty() const { return type_ == siEmpty; }
  // Name of the kind: "empty", "int", "float", "double", "bool", "text",
  // "array", "ref".
  const wchar_t* GetTypeName() const;

  CString GetAsText() const;
  int GetAsInt() const;
  float GetAsFloat() const;
  double GetAsDouble() const;
  bool GetAsBool() const;
  CRef GetAsRef() const;
  CValueArray GetAsArray() const;

  operator int() const { return GetAsInt(); }              // NOLINT
  operator long() const { return GetAsInt(); }             // NOLINT
  operator float() const { return GetAsFloat(); }          // NOLINT
  operator double() const { return GetAsDouble(); }        // NOLINT
  operator bool() const { return GetAsBool(); }            // NOLINT
  operator CString() const { return GetAsText(); }         // NOLINT
  operator CRef() const { return GetAsRef(); }             // NOLINT
  operator CValueArray() const { return GetAsArray(); }    // NOLINT

  // Same kind and same content (arrays element by element).
  bool IsSame(const CValue& other) const;

 private:
  static int ClampLong(long v) {
    return v < INT_MIN ? INT_MIN : v > INT_MAX ? INT_MAX : static_cast<int>(v);
  }

  DataType type_ = siEmpty;
  int i_ = 0;
  float f_ = 0.0f;
  double d_ = 0.0;
  bool b_ = false;
  CString s_;
  CRef ref_;
  CValueArray a_;
};

// ---- numbers in text ----------------------------------------------------------
//
// The one way the host and its plug-ins turn text into a number. The grammar
// is in docs/commands.md ("Numbers in text"): ASCII blanks around, one
// optional sign, decimal digits with an optional '.' fraction and exponent.
// It never depends on the process locale; hexadecimal ("0x10"), a comma as
// the decimal separator ("2,5") and trailing words are not numbers. Neither
// call throws.

enum class NumberText {
  Ok,          // a finite number; `out` holds it
  NotANumber,  // not of the grammar at all; `out` is unchanged
  OutOfRange,  // a number beyond what the result can hold ("1e400"); `out` is unchanged
  NotFinite,   // "nan", "inf" or "infinity" by name; `out` holds it
};

// The whole text as a real. Underflow ("1e-400") gives +-0.
XSI_API NumberText ReadNumber(std::string_view utf8, double& out) noexcept;
XSI_API NumberText ReadNumber(const CString& text, double& out) noexcept;

// The whole text as a whole decimal number ("12", "-3", "+007"); a fraction or
// an exponent is NotANumber, more than long long holds is OutOfRange.
XSI_API NumberText ReadWholeNumber(std::string_view utf8, long long& out) noexcept;
XSI_API NumberText ReadWholeNumber(const CString& text, long long& out) noexcept;

// What is wrong with `text`, for a result other than Ok, as the words that
// follow the quoted text in an error: for "0x10", "is not a decimal number
// (hexadecimal is not read)". Empty for Ok.
XSI_API CString NumberTextProblem(const CString& text, NumberText result);

}  // namespace XSI
