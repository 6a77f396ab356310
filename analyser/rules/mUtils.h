// Splitting the value text of an entry line into its comma-separated values.
// Commas are never quoted or escaped, and positions are 16-bit, as the value
// rules count them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ketch {

// Takes the next value of T from 1-based position iPoz: the text up to the
// next comma (or the end) without outer blanks goes to sToken and iPoz moves
// past it. Returns false when T is used up (an empty T gives no value, a
// trailing comma no empty last value). Raises 6 when iPoz would pass 32767.
bool NextToken(const std::string& T, int16_t& iPoz, std::string& sToken);
// The same, the value as a view into T.
bool NextToken(const std::string& T, int16_t& iPoz, std::string_view& sToken);

// The text without blanks at either end (only the blank character counts).
std::string_view TrimBlanks(std::string_view text);

}  // namespace ketch
