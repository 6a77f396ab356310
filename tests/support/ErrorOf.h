// The Error a call raises, or its number alone.
#pragma once

#include <cstdint>

#include "platform/Error.h"

namespace ketch {

// The Error f raises; one of number 0 when it raises none.
template <typename F>
Error RaisedBy(F f) {
  try {
    f();
  } catch (const Error& e) {
    return e;
  }
  return Error(0, "", "no error");
}

// The number of the Error f raises, or 0 when it raises none.
template <typename F>
int32_t ErrorOf(F f) {
  return RaisedBy(f).Number;
}

}  // namespace ketch
