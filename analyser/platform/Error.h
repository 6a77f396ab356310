// The one error type of the analyser. Every failure travels as an Error with a
// 32-bit number, a source and a description, raised by the operation that
// detects it and caught by the nearest one that handles it.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace ketch {

// Platform error numbers that callers tell apart.
enum PlatformError : int32_t {
  errInvalidArgument = 5,   // no item under that key
  errOverflow = 6,
  errSubscript = 9,         // position outside a list
  errTypeMismatch = 13,
  errFileNotFound = 53,
  errPathFileAccess = 75,  // a folder, or a file that may not be read
  errPathNotFound = 76,
  errKeyExists = 457,
  errEndOfFile = 62,
  errObjectNotSet = 91,     // an object used before it was made
  errInvalidUseOfNull = 94,
  errItemNotFound = 3265,  // no field or table definition of that name
};

// Base of application-defined error numbers (0x80040000 as a signed value).
constexpr int32_t vbObjectError = static_cast<int32_t>(0x80040000u);

class Error : public std::runtime_error {
 public:
  Error(int32_t number, std::string source, std::string description)
      : std::runtime_error(description),
        Number(number),
        Source(std::move(source)),
        Description(std::move(description)) {}

  int32_t Number;
  std::string Source;
  std::string Description;
};

// Builds the error for a platform failure: its number, the description the
// platform gives that number, and the running program's name as source.
Error PlatformErrorOf(int32_t number);

// The system's description of a platform error number ("Overflow", ...).
std::string PlatformErrorText(int32_t number);

}  // namespace ketch
