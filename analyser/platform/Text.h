// Code page 1252 <-> UTF-8. Game text is kept as 1252 bytes throughout the
// engine; these two calls are the only crossing into Unicode (the database
// stores UTF-8, the log box shows Unicode). Every byte survives a round trip.
#pragma once

#include <string>
#include <string_view>

namespace ketch {

// Converts code page 1252 bytes to UTF-8. The five bytes the code page leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the C1 controls of the same
// number, so that Utf8ToCp1252 gives back the original bytes. Never fails.
std::string Cp1252ToUtf8(std::string_view text);

// Converts UTF-8 to code page 1252 bytes. A character the code page cannot
// hold, and a malformed UTF-8 sequence, becomes '?'. Never fails.
std::string Utf8ToCp1252(std::string_view text);

// True when every byte is below 0x80, so that both forms are the same bytes.
bool IsAscii(std::string_view text);

}  // namespace ketch
