// A value rule: the name, type, position and multi flag of one value position
// of an entry line, together with the value last assigned to it, converted to
// the rule's type. Entry checking fills it from the text of a line and the
// data store reads it back as a tagged value.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Variant.h"

namespace ketch {

// Raises the error that cValue::Value raises for that number.
[[noreturn]] void RaiseValueError(int32_t number);

class cValue {
 public:
  cValue() = default;

  // A new rule with this rule's name, type and multi flag at position iPoz,
  // holding the type's initial value (not this rule's value).
  std::unique_ptr<cValue> Clone(int16_t iPoz) const;
  // Does nothing: the rule and its value stay as they are.
  void Clear() {}
  // Sets name, type, position and multi flag; raises 10103 when the type is
  // already non-zero (nothing changes then). Type 0 leaves the rule open.
  void Init(const std::string& sValueName, int32_t cseType, int16_t iPoz, bool bIsMulti);

  const std::string& ValueName() const { return name_; }
  int32_t ValueType() const { return type_; }
  bool IsMulti() const { return multi_; }
  int16_t Pozition() const { return poz_; }

  // Converts the text to the rule's type and stores it. Raises 10102 for a
  // type other than 1..4, 10101 when the text does not convert, and the
  // platform's own error (6 for overflow) with source "<program>.Value";
  // after an error the stored value is unchanged.
  void Value(std::string_view sText);
  // The same without raising, for the lines of a run: the number of the
  // error Value would raise (10101, 10102 or 6), or 0 once stored.
  int32_t Take(std::string_view sText);
  void Value(const std::string& sText) { Value(std::string_view(sText)); }
  void Value(const char* sText) { Value(std::string_view(sText)); }
  // The same for a tagged value: text converts as above, other kinds are
  // coerced by the platform's rules.
  void Value(const Variant& vData);
  // The stored value of the rule's type (null for type 5); raises 10102 for
  // type 0 or a code outside 1..5.
  const Variant& Value() const;

 private:
  std::string name_;
  int32_t type_ = 0;
  int16_t poz_ = 0;
  bool multi_ = false;
  // The one slot of the rule's type: the type never changes once set, so a
  // single tagged value stands for the four typed slots.
  Variant value_;
};

}  // namespace ketch
