// Code page 1252 text: the crossing to and from UTF-8, and letter case. Game
// text is kept as 1252 bytes throughout the engine; the two conversions are
// the only crossing into Unicode (the database stores UTF-8, the log box
// shows Unicode), and every byte survives a round trip. Game names compare
// without regard to case as the code page folds it; the names of SQL objects
// fold ASCII letters only, as SQLite does.
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

// Text for a terminal when it mixes game text (1252) with paths as the file
// system gave them (often UTF-8): a well-formed UTF-8 sequence of two to four
// bytes is kept, every other byte converted as Cp1252ToUtf8 does. Never fails.
std::string MixedToUtf8(std::string_view text);

// True when every byte is below 0x80, so that both forms are the same bytes.
bool IsAscii(std::string_view text);

// Folds the letters of a code page 1252 text to upper or lower case (keys of
// keyed collections, rule lookups and game paths compare this way).
std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);
// True when the two texts are the same after UpperCase.
bool SameIgnoringCase(std::string_view a, std::string_view b);

// Folds A to Z only, leaving every other byte: names of tables, columns and
// schemas, which SQLite compares this way.
std::string AsciiLowerCase(std::string_view text);
// True when the two texts are the same after AsciiLowerCase.
bool SameAsciiIgnoringCase(std::string_view a, std::string_view b);

}  // namespace ketch
