// Layout constants of binary INI files, shared by the decoder and the writer.
//
// A file is a 12-byte header ("KRUN", version 1, string table offset T), the
// section records from byte 12 up to T, and the string table from T to the
// end. All numbers are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace krun {

// The first four bytes of every binary INI file; the analyser tells binary
// files from text ones by them.
inline constexpr std::string_view kMagic = "KRUN";
inline constexpr std::uint32_t kVersion = 1;
inline constexpr std::size_t kHeaderSize = 12;
inline constexpr std::size_t kSectionHeaderSize = 4;  // name u16, entry count u16
inline constexpr std::size_t kEntryHeaderSize = 3;    // name u16, value count u8
inline constexpr std::size_t kValueSize = 5;          // type u8, data u32

enum ValueType : std::uint8_t { kInteger = 1, kFloat = 2, kString = 3 };

}  // namespace krun
