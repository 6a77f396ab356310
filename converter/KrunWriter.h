// Writer of binary INI files: text INI in, "KRUN" bytes out. The inverse of
// krun, for tests, benchmarks and sample game data.
//
// Round trip: for text in krun's own layout (CR LF or LF line ends, "[name]"
// lines, "name = v1, v2" lines, an empty line after each section), running
// krun on the file made by TextToBinaryIni gives back the same text with
// CR LF line ends. This holds for every such text whose names and values
// have no blanks at their ends and contain no ",", and whose names hold no
// "="; a value-less entry is spelled "name = true" (see ParseTextIni).
//
// Typical use:
//   krun::WriteBinaryIniFile(dir / "ships.ini",
//                            "[Ship]\r\nname = li_gun\r\nhit_pts = 7, 2.500000\r\n\r\n");
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace krun {

// One value record. type is written as given, so tests can make files with
// type bytes krun does not know (Raw).
struct BinaryValue {
  std::uint8_t type = 3;
  std::uint32_t data = 0;  // integer or float bits; ignored for strings
  std::string text;        // strings only

  static BinaryValue Integer(std::int32_t value);
  static BinaryValue Float(float value);
  static BinaryValue String(std::string value);
  static BinaryValue Raw(std::uint8_t type, std::uint32_t data);

  bool operator==(const BinaryValue&) const = default;
};

struct BinaryEntry {
  std::string name;
  std::vector<BinaryValue> values;  // empty: krun writes "name = true"
  bool operator==(const BinaryEntry&) const = default;
};

struct BinarySection {
  std::string name;
  std::vector<BinaryEntry> entries;
  bool operator==(const BinarySection&) const = default;
};

using BinaryIni = std::vector<BinarySection>;

// Types one value text the way krun would print it back: an integer when the
// text is exactly what "%d" makes of some 32-bit integer ("7", "-12"; not
// "007", "+7", "-0"); a float when it is exactly what "%f" makes of some
// finite single-precision number ("2.500000"; not "2.5", "1e3", "16777217.000000");
// otherwise a string, taken as it stands.
BinaryValue TypeValue(std::string_view text);

// Reads text INI. Lines end in LF or CR LF; blanks and tabs at line ends are
// dropped; empty lines are skipped. "[name]" opens a section (name as it
// stands between the brackets). Any other line is "name = values": the name
// is what precedes the first "=", without outer blanks; the values are split
// at every "," and each, without outer blanks, goes through TypeValue. The
// value text "true" alone gives an entry without values (krun writes those as
// "name = true"); an empty value text gives one empty string.
// Throws std::invalid_argument naming the line for a line without "=" or an
// entry before the first section.
BinaryIni ParseTextIni(std::string_view text);

// The bytes of the binary file: header, records, then the string table with
// every distinct name and string once, names first. Throws std::length_error
// when a count does not fit its field (65535 entries, 255 values), the names
// do not fit in the first 64 KiB of the table or the file in 4 GiB, and
// std::invalid_argument for a name or string holding a zero byte.
std::string EncodeBinaryIni(const BinaryIni& ini);

// EncodeBinaryIni(ParseTextIni(text)).
std::string TextToBinaryIni(std::string_view text);

// Writes TextToBinaryIni(text) to path; throws std::runtime_error when the
// file cannot be written, and what the two steps throw.
void WriteBinaryIniFile(const std::filesystem::path& path, std::string_view text);

}  // namespace krun
