// The section record (one section as read from a file, untyped) and the
// location record (where a file was named), shared by the readers, the walk
// and the warning records of the log.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ketch {

// Entry lines a section can hold.
constexpr int16_t kSectionCapacity = 2048;

struct SectionRecord {
  std::string SectionName;
  int16_t EntryCount = 0;
  // Positions 1..2048; element 0 is unused so that position i is [i].
  std::vector<std::string> EntryNames = std::vector<std::string>(kSectionCapacity + 1);
  std::vector<std::string> EntryValues = std::vector<std::string>(kSectionCapacity + 1);
  std::string File;
  int32_t LineNo = 0;
};

struct LocationRecord {
  std::string File;
  int32_t Line = 0;
  std::string Section;
  std::string Key;
  std::string Value;
  int16_t Index = 0;
};

}  // namespace ketch
