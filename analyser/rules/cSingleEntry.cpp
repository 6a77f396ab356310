// Entry checking: the position, count and type tests of one entry line, in
// the order that decides which error a bad line reports.
#include "rules/cSingleEntry.h"

#include "platform/Error.h"
#include "platform/Text.h"
#include "rules/mUtils.h"
#include "shell/mError.h"

namespace ketch {
namespace {

[[noreturn]] void Raise(int16_t code) { throw OwnError(code, ".Entry"); }

}  // namespace

void cSingleEntry::SetSlots(int32_t n) {
  if (n < 0) n = 0;  // a negative fixed count from the listing holds no slot
  if (static_cast<size_t>(n) > values_.size()) values_.resize(static_cast<size_t>(n));
  slots_ = n;
}

void cSingleEntry::Init(const std::string& sSectionName, const std::string& sEntryName, int16_t iFixedNo,
                        bool bVarVals) {
  if (sectionName_ != kEmptyName) Raise(errEntryAlreadyInitialized);
  sectionName_ = sSectionName;
  entryName_ = sEntryName;
  fixedNo_ = iFixedNo;
  hasVar_ = bVarVals;
  values_.clear();
  SetSlots(BaseSlots());
  nextPoz_ = 1;
  multiAdded_ = false;
  varCount_ = 0;
}

cValue& cSingleEntry::AddValue(const std::string& sValueName, int32_t cseType, int16_t iPoz, bool bIsMulti) {
  if (sectionName_ == kEmptyName) Raise(errEntryNotInitialized);
  if (iPoz != nextPoz_) Raise(errValuePositionMismatch);
  if (bIsMulti && !hasVar_) Raise(errEntryNoMultiValue);
  if (multiAdded_) Raise(errMultiValueMustBeLast);
  if (nextPoz_ > slots_) {
    if (!bIsMulti) Raise(errTooManyValues);
    SetSlots(slots_ + 1);
  }
  if (bIsMulti && nextPoz_ <= fixedNo_) Raise(errMultiValueInFixedPosition);
  if (!bIsMulti && nextPoz_ > fixedNo_) Raise(errFixedValueInMultiPosition);
  auto value = std::make_unique<cValue>();
  value->Init(sValueName, cseType, iPoz, bIsMulti);
  cValue& added = *value;
  values_[static_cast<size_t>(nextPoz_ - 1)] = std::move(value);
  ++nextPoz_;
  if (bIsMulti) multiAdded_ = true;
  return added;
}

void RaiseEntryError(int32_t number) {
  if (number == errValueTypeMismatch || number == errValueNotInitialized || number == errOverflow)
    RaiseValueError(number);
  Raise(static_cast<int16_t>(number));
}

void cSingleEntry::SetValues(const std::string& sEntryName, const std::string& sValues, int32_t lFileLine) {
  if (const int32_t error = TakeValues(sEntryName, sValues, lFileLine)) RaiseEntryError(error);
}

int32_t cSingleEntry::TakeValues(const std::string& sEntryName, const std::string& sValues, int32_t lFileLine) {
  if (sectionName_ == kEmptyName) return errEntryNotInitialized;
  if (!SameIgnoringCase(sEntryName, entryName_)) return errEntryNameMismatch;
  if (nextPoz_ == 1) return errValueTypesNotSet;
  int16_t pos = 1;
  int32_t i = 0;
  std::string_view token;
  while (NextToken(sValues, pos, token)) {
    ++i;
    if (i > fixedNo_ && !hasVar_) return errTooManyValues;
    if (i > fixedNo_ + 1) {
      cValue& multi = Value(static_cast<int16_t>(fixedNo_ + 1));
      bool fresh = static_cast<size_t>(i) > values_.size() || !values_[static_cast<size_t>(i - 1)];
      SetSlots(i);
      // A kept object at this slot is a clone of the same multi rule made for
      // this same position by an earlier line; its old value is overwritten.
      if (fresh) values_[static_cast<size_t>(i - 1)] = multi.Clone(static_cast<int16_t>(i));
    }
    if (const int32_t error = Value(static_cast<int16_t>(i)).Take(token)) return error;
  }
  if (i < fixedNo_) return errTooFewValues;
  fileLine_ = lFileLine;
  varCount_ = static_cast<int16_t>(i - fixedNo_);
  return 0;
}

std::unique_ptr<cSingleEntry> cSingleEntry::Clone() const {
  auto copy = std::make_unique<cSingleEntry>();
  copy->Init(sectionName_, entryName_, fixedNo_, hasVar_);
  int32_t last = hasVar_ ? fixedNo_ + 1 : fixedNo_;
  for (int32_t p = 1; p <= last; ++p) {
    const cValue& rule = Value(static_cast<int16_t>(p));
    copy->AddValue(rule.ValueName(), rule.ValueType(), static_cast<int16_t>(p), rule.IsMulti());
  }
  return copy;
}

void cSingleEntry::Clear() {
  SetSlots(hasVar_ ? fixedNo_ + 1 : fixedNo_);
  for (int32_t p = 0; p < slots_; ++p)
    if (values_[static_cast<size_t>(p)]) values_[static_cast<size_t>(p)]->Clear();
}

cValue& cSingleEntry::Value(int16_t p) const {
  if (p < 1 || p > slots_ || !values_[static_cast<size_t>(p - 1)]) throw PlatformErrorOf(errSubscript);
  return *values_[static_cast<size_t>(p - 1)];
}

}  // namespace ketch
