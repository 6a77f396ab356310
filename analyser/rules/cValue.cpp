// Value rules: initialisation, cloning, and the locale-independent conversion
// of a value's text to the rule's type with the error mapping that section
// processing relies on (mismatch 10101, overflow kept as 6).
#include "rules/cValue.h"

#include "platform/App.h"
#include "platform/Error.h"
#include "shell/mError.h"

namespace ketch {
namespace {

// The initial content of the slot of each type: what a rule that was never
// assigned gives back.
Variant InitialValue(int32_t type) {
  switch (type) {
    case vtLong: return Variant(int32_t{0});
    case vtDouble: return Variant(0.0);
    case vtText: return Variant(std::string());
    case vtBoolean: return Variant(false);
    default: return Variant();
  }
}

}  // namespace

std::unique_ptr<cValue> cValue::Clone(int16_t iPoz) const {
  auto copy = std::make_unique<cValue>();
  copy->Init(name_, type_, iPoz, multi_);
  return copy;
}

void cValue::Init(const std::string& sValueName, int32_t cseType, int16_t iPoz, bool bIsMulti) {
  if (type_ != 0) throw OwnError(errValueAlreadyInitialized, ".Value");
  name_ = sValueName;
  type_ = cseType;
  poz_ = iPoz;
  multi_ = bIsMulti;
  value_ = InitialValue(cseType);
}

void RaiseValueError(int32_t number) {
  if (number == errValueTypeMismatch || number == errValueNotInitialized) throw OwnError(number, ".Value");
  throw Error(number, App::EXEName() + ".Value", PlatformErrorOf(number).Description);
}

void cValue::Value(std::string_view sText) {
  if (const int32_t error = Take(sText)) RaiseValueError(error);
}

int32_t cValue::Take(std::string_view sText) {
  int32_t error = 0;
  switch (type_) {
    case vtLong: {
      int32_t number = 0;
      if (!(error = ReadLong(sText, number))) value_ = Variant(number);
      break;
    }
    case vtDouble: {
      double number = 0;
      if (!(error = ReadNumber(sText, number))) value_ = Variant(number);
      break;
    }
    case vtText:
      // Assigning into the held text reuses its buffer line after line.
      if (auto* held = const_cast<std::string*>(value_.IfText()))
        held->assign(sText);
      else
        value_ = Variant(std::string(sText));
      return 0;
    case vtBoolean: {
      bool truth = false;
      if (!(error = ReadBool(sText, truth))) value_ = Variant(truth);
      break;
    }
    default: return errValueNotInitialized;
  }
  return error == errTypeMismatch ? errValueTypeMismatch : error;
}

void cValue::Value(const Variant& vData) {
  if (const std::string* text = vData.IfText()) return Value(*text);
  if (type_ < vtLong || type_ > vtBoolean) throw OwnError(errValueNotInitialized, ".Value");
  try {
    switch (type_) {
      case vtLong: value_ = Variant(vData.AsLong()); break;
      case vtDouble: value_ = Variant(vData.AsDouble()); break;
      case vtText: value_ = Variant(vData.AsText()); break;
      default: value_ = Variant(vData.AsBool()); break;
    }
  } catch (const Error& e) {
    if (e.Number == errTypeMismatch) RaiseValueError(errValueTypeMismatch);
    throw Error(e.Number, App::EXEName() + ".Value", e.Description);
  }
}

const Variant& cValue::Value() const {
  if (type_ < vtLong || type_ > vtNull) throw OwnError(errValueNotInitialized, ".Value");
  return value_;
}

}  // namespace ketch
