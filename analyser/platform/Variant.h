// The tagged value: null, a 32-bit integer, a 64-bit float, a text or a
// boolean, tagged with its kind. It is what value rules hand to the store and
// what record set fields give back, and it carries the platform's coercions
// (text to number, number to a narrower integer) that the rest relies on.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace ketch {

// Value type codes of the rule base; also the kinds of a Variant.
enum VarType : int32_t {
  vtEmpty = 0,    // not initialised
  vtLong = 1,     // 32-bit signed integer
  vtDouble = 2,   // 64-bit float
  vtText = 3,     // text, code page 1252 bytes
  vtBoolean = 4,
  vtNull = 5,
};

class Variant {
 public:
  Variant() = default;  // null
  Variant(int32_t v) : v_(v) {}
  Variant(double v) : v_(v) {}
  Variant(bool v) : v_(v) {}
  Variant(std::string v) : v_(std::move(v)) {}
  Variant(const char* v) : v_(std::string(v)) {}
  static Variant Null() { return Variant(); }

  VarType Kind() const;
  bool IsNull() const { return Kind() == vtNull; }

  // Coercions. Each raises Error 94 ("Invalid use of Null") on null, 13 (type
  // mismatch) on text that is not a number, and 6 (overflow) when the value
  // does not fit; numbers with a fraction round to the nearest integer, ties
  // to even.
  int32_t AsLong() const;
  int16_t AsInteger() const;
  uint8_t AsByte() const;
  double AsDouble() const;
  // "True"/"False" in any case, or a number (zero is false).
  bool AsBool() const;
  // Text form: integers in decimal, doubles in the shortest text that reads
  // back to the same double, booleans as "True"/"False". Null raises 94.
  std::string AsText() const;

  const int32_t* IfLong() const { return std::get_if<int32_t>(&v_); }
  const double* IfDouble() const { return std::get_if<double>(&v_); }
  const bool* IfBool() const { return std::get_if<bool>(&v_); }
  const std::string* IfText() const { return std::get_if<std::string>(&v_); }

  friend bool operator==(const Variant&, const Variant&) = default;

 private:
  std::variant<std::monostate, int32_t, double, bool, std::string> v_;
};

// Text to number with the regional rules of English (United States): outer
// blanks ignored, optional sign, digits with optional "," group separators,
// optional "." fraction, optional exponent. Raise 13 when the text is not a
// number (empty text included) and 6 when the magnitude overflows a double.
double ParseNumber(std::string_view text);

// Text to a 32-bit integer: ParseNumber, then rounding half to even; 6 when
// the result lies outside the 32-bit range.
int32_t ParseLong(std::string_view text);

// Text to boolean: "True"/"False" in any letter case, else a number (zero is
// false); 13 for anything else, empty text included.
bool ParseBool(std::string_view text);

// The same without raising, for text read in bulk: the number of the error
// the Parse function would raise, or 0 with the value set.
int32_t ReadNumber(std::string_view text, double& value);
int32_t ReadLong(std::string_view text, int32_t& value);
int32_t ReadBool(std::string_view text, bool& value);

// Rounds half to even and narrows; 6 when outside [lo, hi].
int64_t RoundToInteger(double value, int64_t lo, int64_t hi);

// The shortest decimal text that reads back to the same double.
std::string DoubleToText(double value);

}  // namespace ketch
