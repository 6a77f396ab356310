// The tagged value's coercions and the number parsing they rest on. Numbers
// follow the English (United States) regional format whatever the process
// locale is, so parsing goes through std::from_chars on a cleaned copy.
#include "platform/Variant.h"

#include <charconv>
#include <cstdint>
#include <cmath>
#include <limits>

#include "platform/Error.h"

namespace ketch {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool EqualsNoCase(std::string_view a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i]; ++i) {
    char c = a[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != b[i]) return false;
  }
  return i == a.size() && b[i] == 0;
}

std::string_view Trim(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && IsBlank(text[b])) ++b;
  while (e > b && IsBlank(text[e - 1])) --e;
  return text.substr(b, e - b);
}

// Position of the first significant digit relative to the decimal point of a
// cleaned number ("123e5" gives 8, "0.001" gives -2); only its sign matters.
long DecimalMagnitude(std::string_view n) {
  size_t e = n.find('e');
  std::string_view mant = n.substr(0, e);
  long exp10 = 0;
  if (e != std::string_view::npos) {
    std::string_view ex = n.substr(e + 1);
    bool neg = !ex.empty() && ex[0] == '-';
    if (!ex.empty() && (ex[0] == '-' || ex[0] == '+')) ex.remove_prefix(1);
    auto r = std::from_chars(ex.data(), ex.data() + ex.size(), exp10);
    if (r.ec != std::errc()) exp10 = 1000000;  // beyond any double either way
    if (neg) exp10 = -exp10;
  }
  long pos = 0;  // digits before the point, counted from the first nonzero
  bool seen = false, afterPoint = false;
  for (char c : mant) {
    if (c == '.') {
      afterPoint = true;
    } else if (IsDigit(c)) {
      if (c != '0') seen = true;
      if (seen && !afterPoint) ++pos;
      if (!seen && afterPoint) --pos;
      if (seen && afterPoint) break;
    }
  }
  return pos + exp10;
}

// The value of a plain decimal (an optional sign, digits, an optional point
// and digits) whose digits make an integer below 2^53 and that has at most
// 22 decimals: both that integer and the power of ten are exact doubles, so
// one division rounds as from_chars does. Most numbers of game files are
// such; false for every other text.
bool PlainDecimal(std::string_view s, double& value) {
  static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                       1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  constexpr uint64_t kExact = uint64_t{1} << 53;
  size_t i = 0;
  const bool negative = !s.empty() && s[0] == '-';
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) ++i;
  uint64_t digits = 0;
  size_t count = 0;
  for (; i < s.size() && IsDigit(s[i]); ++i, ++count) {
    digits = digits * 10 + static_cast<uint64_t>(s[i] - '0');
    if (digits >= kExact) return false;
  }
  size_t decimals = 0;
  if (i < s.size() && s[i] == '.') {
    for (++i; i < s.size() && IsDigit(s[i]); ++i, ++decimals) {
      digits = digits * 10 + static_cast<uint64_t>(s[i] - '0');
      if (digits >= kExact || decimals == 22) return false;
    }
  }
  if (i != s.size() || count + decimals == 0) return false;
  value = static_cast<double>(digits) / kPowers[decimals];
  if (negative) value = -value;
  return true;
}

}  // namespace

int32_t ReadNumber(std::string_view text, double& value) {
  std::string_view s = Trim(text);
  if (PlainDecimal(s, value)) return 0;
  // The cleaned form has no group separators and no '+', which from_chars
  // refuses; digits keep their order so no precision is lost.
  char buf[128];
  std::string big;
  char* out = buf;
  if (s.size() >= sizeof buf) {
    big.resize(s.size() + 1);
    out = big.data();
  }
  char* const start = out;
  size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    if (s[i] == '-') *out++ = '-';
    ++i;
  }
  size_t mantissaDigits = 0;
  while (i < s.size() && (IsDigit(s[i]) || s[i] == ',')) {
    if (s[i] == ',') {
      // A separator stands between two digits.
      if (mantissaDigits == 0 || i + 1 >= s.size() || !IsDigit(s[i + 1]))
        return errTypeMismatch;
    } else {
      *out++ = s[i];
      ++mantissaDigits;
    }
    ++i;
  }
  if (i < s.size() && s[i] == '.') {
    *out++ = '.';
    ++i;
    while (i < s.size() && IsDigit(s[i])) {
      *out++ = s[i++];
      ++mantissaDigits;
    }
  }
  if (mantissaDigits == 0) return errTypeMismatch;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    *out++ = 'e';
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) *out++ = s[i++];
    if (i >= s.size() || !IsDigit(s[i])) return errTypeMismatch;
    while (i < s.size() && IsDigit(s[i])) *out++ = s[i++];
  }
  if (i != s.size()) return errTypeMismatch;

  auto [ptr, ec] = std::from_chars(start, out, value);
  if (ec == std::errc::result_out_of_range) {
    // from_chars reports underflow the same way; only a large magnitude is
    // an overflow, a tiny one reads as zero.
    if (DecimalMagnitude(std::string_view(start, static_cast<size_t>(out - start))) > 0)
      return errOverflow;
    value = start[0] == '-' ? -0.0 : 0.0;
    return 0;
  }
  if (ec != std::errc() || ptr != out) return errTypeMismatch;
  return 0;
}

double ParseNumber(std::string_view text) {
  double value = 0;
  if (const int32_t error = ReadNumber(text, value)) throw PlatformErrorOf(error);
  return value;
}

namespace {

int32_t RoundedToInteger(double value, int64_t lo, int64_t hi, int64_t& rounded) {
  if (std::isnan(value)) return errOverflow;
  double f = std::floor(value);
  double diff = value - f;
  if (diff > 0.5 || (diff == 0.5 && std::fmod(f, 2.0) != 0)) f += 1;
  // Compare in double before converting: a cast of an out-of-range double is
  // undefined.
  if (!(f >= static_cast<double>(lo) && f <= static_cast<double>(hi))) return errOverflow;
  rounded = static_cast<int64_t>(f);
  if (rounded < lo || rounded > hi) return errOverflow;
  return 0;
}

}  // namespace

int64_t RoundToInteger(double value, int64_t lo, int64_t hi) {
  int64_t rounded = 0;
  if (const int32_t error = RoundedToInteger(value, lo, hi, rounded)) throw PlatformErrorOf(error);
  return rounded;
}

int32_t ReadLong(std::string_view text, int32_t& value) {
  // Most values are plain integers, which need neither the checks of
  // separators and exponents nor a double; nine digits always fit.
  const std::string_view s = Trim(text);
  const size_t first = !s.empty() && (s[0] == '+' || s[0] == '-') ? 1 : 0;
  if (s.size() > first && s.size() - first <= 9) {
    int32_t digits = 0;
    size_t i = first;
    while (i < s.size() && IsDigit(s[i])) digits = digits * 10 + (s[i++] - '0');
    if (i == s.size()) {
      value = s[0] == '-' ? -digits : digits;
      return 0;
    }
  }
  double number = 0;
  int64_t rounded = 0;
  if (const int32_t error = ReadNumber(text, number)) return error;
  if (const int32_t error = RoundedToInteger(number, std::numeric_limits<int32_t>::min(),
                                             std::numeric_limits<int32_t>::max(), rounded))
    return error;
  value = static_cast<int32_t>(rounded);
  return 0;
}

int32_t ParseLong(std::string_view text) {
  int32_t value = 0;
  if (const int32_t error = ReadLong(text, value)) throw PlatformErrorOf(error);
  return value;
}

int32_t ReadBool(std::string_view text, bool& value) {
  const std::string_view word = Trim(text);
  if (EqualsNoCase(word, "true") || EqualsNoCase(word, "false")) {
    value = EqualsNoCase(word, "true");
    return 0;
  }
  double number = 0;
  if (const int32_t error = ReadNumber(text, number)) return error;
  value = number != 0;
  return 0;
}

bool ParseBool(std::string_view text) {
  bool value = false;
  if (const int32_t error = ReadBool(text, value)) throw PlatformErrorOf(error);
  return value;
}

std::string DoubleToText(double value) {
  char buf[32];
  auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, value);
  std::string out(buf, ptr);
  // The platform writes the exponent with a capital E ("1E+20").
  for (char& c : out)
    if (c == 'e') c = 'E';
  return out;
}

VarType Variant::Kind() const {
  switch (v_.index()) {
    case 1: return vtLong;
    case 2: return vtDouble;
    case 3: return vtBoolean;
    case 4: return vtText;
    default: return vtNull;
  }
}

double Variant::AsDouble() const {
  if (auto p = IfLong()) return *p;
  if (auto p = IfDouble()) return *p;
  if (auto p = IfBool()) return *p ? -1.0 : 0.0;  // the platform's True is -1
  if (auto p = IfText()) return ParseNumber(*p);
  throw PlatformErrorOf(errInvalidUseOfNull);
}

int32_t Variant::AsLong() const {
  if (auto p = IfLong()) return *p;
  if (auto p = IfText()) return ParseLong(*p);
  return static_cast<int32_t>(RoundToInteger(AsDouble(), std::numeric_limits<int32_t>::min(),
                                             std::numeric_limits<int32_t>::max()));
}

int16_t Variant::AsInteger() const {
  return static_cast<int16_t>(RoundToInteger(AsDouble(), std::numeric_limits<int16_t>::min(),
                                             std::numeric_limits<int16_t>::max()));
}

uint8_t Variant::AsByte() const { return static_cast<uint8_t>(RoundToInteger(AsDouble(), 0, 255)); }

bool Variant::AsBool() const {
  if (auto p = IfBool()) return *p;
  if (auto p = IfText()) return ParseBool(*p);
  return AsDouble() != 0;
}

std::string Variant::AsText() const {
  if (auto p = IfText()) return *p;
  if (auto p = IfLong()) return std::to_string(*p);
  if (auto p = IfDouble()) return DoubleToText(*p);
  if (auto p = IfBool()) return *p ? "True" : "False";
  throw PlatformErrorOf(errInvalidUseOfNull);
}

}  // namespace ketch
