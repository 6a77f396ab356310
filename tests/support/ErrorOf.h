// The number of the Error a call raises, or 0 when it raises none.
#pragma once

#include <cstdint>

#include "platform/Error.h"

namespace ketch {

template <typename F>
int32_t ErrorOf(F f) {
  try {
    f();
    return 0;
  } catch (const Error& e) {
    return e.Number;
  }
}

}  // namespace ketch
