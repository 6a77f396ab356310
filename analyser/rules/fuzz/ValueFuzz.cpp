// Fuzz target of the value conversions: text in, number, boolean or typed
// value out. ParseNumber is held against a model made of a regular grammar
// and strtod; ParseLong, ParseBool and cValue against ParseNumber; a rule
// that refuses a text must raise only its documented errors and keep the
// value it held.
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <regex>
#include <string>

#include "platform/Error.h"
#include "platform/Variant.h"
#include "rules/cValue.h"
#include "shell/mError.h"

namespace {

using ketch::Error;

void Check(bool ok) {
  if (!ok) std::abort();
}

// A number or the platform error it raises.
struct Outcome {
  std::optional<double> value;
  int32_t error = 0;
};

// The number grammar read plainly: blanks, sign, digits grouped by single
// commas, a point, an exponent. Gives strtod's reading of the text without
// its commas, or error 13 / 6.
Outcome ModelNumber(const std::string& text) {
  static const std::regex grammar(
      R"(^[ \t]*([+-]?)((?:[0-9](?:,?[0-9])*(?:\.[0-9]*)?)|(?:\.[0-9]+))([eE][+-]?[0-9]+)?[ \t]*$)");
  std::smatch m;
  if (!std::regex_match(text, m, grammar)) return {std::nullopt, ketch::errTypeMismatch};
  std::string plain = m[1].str() + m[2].str() + m[3].str();
  std::erase(plain, ',');
  errno = 0;
  double v = std::strtod(plain.c_str(), nullptr);
  if (errno == ERANGE && std::isinf(v)) return {std::nullopt, ketch::errOverflow};
  return {v, 0};
}

template <typename F>
Outcome Try(F f) {
  try {
    return {f(), 0};
  } catch (const Error& e) {
    return {std::nullopt, e.Number};
  }
}

void CheckNumber(const std::string& text) {
  Outcome model = ModelNumber(text);
  Outcome got = Try([&] { return ketch::ParseNumber(text); });
  Check(got.error == model.error);
  if (!model.value) return;
  double want = *model.value, v = *got.value;
  // Below the smallest normal double the reading may flush to zero.
  if (std::fabs(want) < DBL_MIN)
    Check(v == want || v == 0.0);
  else
    Check(v == want);
  Check(std::isfinite(v));
  // The stored text of a double reads back to the same double.
  Check(ketch::ParseNumber(ketch::DoubleToText(v)) == v);
}

void CheckLong(const std::string& text) {
  Outcome number = Try([&] { return ketch::ParseNumber(text); });
  Outcome got = Try([&] { return static_cast<double>(ketch::ParseLong(text)); });
  if (!number.value) {
    Check(got.error == number.error);
    return;
  }
  double r = std::nearbyint(*number.value);  // ties to even in the default mode
  if (r >= -2147483648.0 && r <= 2147483647.0)
    Check(got.value && *got.value == r);
  else
    Check(got.error == ketch::errOverflow);
}

void CheckBool(const std::string& text) {
  size_t b = text.find_first_not_of(" \t");
  size_t e = text.find_last_not_of(" \t");
  std::string word = b == std::string::npos ? "" : text.substr(b, e - b + 1);
  for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  Outcome got = Try([&] { return ketch::ParseBool(text) ? 1.0 : 0.0; });
  if (word == "true" || word == "false") {
    Check(got.value && *got.value == (word == "true" ? 1.0 : 0.0));
    return;
  }
  Outcome number = Try([&] { return ketch::ParseNumber(text); });
  if (!number.value)
    Check(got.error == number.error);
  else
    Check(got.value && *got.value == (*number.value != 0 ? 1.0 : 0.0));
}

// A rule of each type takes the text or refuses it with 10101 or 6 and keeps
// what it held.
void CheckRules(const std::string& text) {
  const ketch::Variant held[] = {ketch::Variant(int32_t{7}), ketch::Variant(2.5), ketch::Variant("held"),
                                 ketch::Variant(true)};
  for (int32_t type = ketch::vtLong; type <= ketch::vtBoolean; ++type) {
    ketch::cValue rule;
    rule.Init("v", type, 1, false);
    rule.Value(held[type - 1]);
    Check(rule.Value() == held[type - 1]);
    try {
      rule.Value(text);
    } catch (const Error& e) {
      Check(e.Number == ketch::errValueTypeMismatch || e.Number == ketch::errOverflow);
      Check(e.Source.size() >= 6 && e.Source.compare(e.Source.size() - 6, 6, ".Value") == 0);
      Check(rule.Value() == held[type - 1]);
      Check(type != ketch::vtText);
      continue;
    }
    const ketch::Variant& v = rule.Value();
    switch (type) {
      case ketch::vtLong: Check(v == ketch::Variant(ketch::ParseLong(text))); break;
      case ketch::vtDouble: Check(v.IfDouble() && *v.IfDouble() == ketch::ParseNumber(text)); break;
      case ketch::vtText: Check(v == ketch::Variant(text)); break;
      default: Check(v == ketch::Variant(ketch::ParseBool(text))); break;
    }
    // What the store writes for the value converts back to the same value.
    if (type != ketch::vtText) {
      ketch::cValue again;
      again.Init("v", type, 1, false);
      again.Value(v.AsText());
      Check(again.Value() == v);
    }
  }
  // A rule without a type refuses every text.
  ketch::cValue open;
  try {
    open.Value(text);
    Check(false);
  } catch (const Error& e) {
    Check(e.Number == ketch::errValueNotInitialized);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The regular grammar's matcher recurses per character.
  if (size > 512) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);
  CheckNumber(text);
  CheckLong(text);
  CheckBool(text);
  CheckRules(text);
  return 0;
}
