// One line of one entry: the value rules of the entry and, once a line was
// given to it, that line's values, each converted and tested by its value
// rule. The first occurrence of an entry rule is its template, filled while
// the rule base loads; further lines of a multi-line entry get clones of it.
//
// Entries with 0 fixed values: with variable values the list starts with no
// slot and the multi value rule takes position 1, so a line may hold any
// number of values, none included (an empty value text is a good line that
// stores no value). Without variable values no value rule can ever be added
// (a fixed one fails with 10207, a multi one with 10211), so every line fails
// with 10208 as the order of the checks gives it; the loader cannot build
// such a rule from a listing anyway, since every entry row carries a value.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "rules/cValue.h"

namespace ketch {

// Raises the error that SetValues raises for the number TakeValues gave:
// the value's own errors as the value raises them.
[[noreturn]] void RaiseEntryError(int32_t number);

class cSingleEntry {
 public:
  static constexpr const char* kEmptyName = "_bc_empty";

  // Stores the names, the fixed count and the variable-values flag and sizes
  // the value list; raises 10201 on a second call.
  void Init(const std::string& sSectionName, const std::string& sEntryName, int16_t iFixedNo, bool bVarVals);
  // Adds the value rule for position iPoz after the tests 10202, 10204,
  // 10211, 10210, 10205, 10206, 10207 in that order; returns the new rule.
  cValue& AddValue(const std::string& sValueName, int32_t cseType, int16_t iPoz, bool bIsMulti);
  // Splits the value text at commas and assigns each value to its rule after
  // the tests 10202, 10203, 10208, then 10205 per value and 10212 at the end;
  // a value's own failure passes through. On failure FileLine and
  // VarValuesCount keep their earlier contents.
  void SetValues(const std::string& sEntryName, const std::string& sValues, int32_t lFileLine);
  // The same without raising for what a line can be found to be: the number
  // of the error SetValues would raise, or 0. Faults of the program itself
  // (a missing rule, a position past 32767) still raise.
  int32_t TakeValues(const std::string& sEntryName, const std::string& sValues, int32_t lFileLine);
  // A new occurrence with the same names, counts and value rules, no values.
  std::unique_ptr<cSingleEntry> Clone() const;
  // Cuts the value list back to the rules of the entry (dropping the clones
  // made for extra variable values).
  void Clear();

  const std::string& SectionName() const { return sectionName_; }
  const std::string& EntryName() const { return entryName_; }
  int16_t FixedValuesNo() const { return fixedNo_; }
  int16_t VarValuesCount() const { return varCount_; }
  bool HasVariableValues() const { return hasVar_; }
  int32_t FileLine() const { return fileLine_; }
  // The value rule at 1-based position p; raises 9 when the list holds no
  // rule there.
  cValue& Value(int16_t p) const;

 private:
  int32_t BaseSlots() const { return hasVar_ ? fixedNo_ : fixedNo_ + 1; }
  void SetSlots(int32_t n);

  std::string sectionName_ = kEmptyName;
  std::string entryName_;
  int16_t fixedNo_ = 0;
  bool hasVar_ = false;
  int32_t fileLine_ = 0;
  // values_ may hold more objects than the list has slots: clones for extra
  // variable values are kept after Clear and reused by later lines rather than
  // made anew for every line. Only the first slots_ are part of the list.
  std::vector<std::unique_ptr<cValue>> values_;
  int32_t slots_ = 0;
  int16_t varCount_ = 0;
  int16_t nextPoz_ = 1;
  bool multiAdded_ = false;
};

}  // namespace ketch
