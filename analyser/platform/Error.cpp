// Platform error numbers and their descriptions.
#include "platform/Error.h"

#include "platform/App.h"

namespace ketch {

std::string PlatformErrorText(int32_t number) {
  switch (number) {
    case errInvalidArgument: return "Invalid procedure call or argument";
    case errOverflow: return "Overflow";
    case errSubscript: return "Subscript out of range";
    case errTypeMismatch: return "Type mismatch";
    case errFileNotFound: return "File not found";
    case 57: return "Device I/O error";
    case 61: return "Disk full";
    case errEndOfFile: return "Input past end of file";
    case 75: return "Path/File access error";
    case errObjectNotSet: return "Object variable or With block variable not set";
    case errPathNotFound: return "Path not found";
    case 94: return "Invalid use of Null";
    case errKeyExists: return "This key is already associated with an element of this collection";
    case 3021: return "No current record.";
    case 3265: return "Item not found in this collection.";
    default: return "Application-defined or object-defined error";
  }
}

Error PlatformErrorOf(int32_t number) {
  return Error(number, App::EXEName(), PlatformErrorText(number));
}

}  // namespace ketch
