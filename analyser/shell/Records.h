// The section record (one section as read from a file, untyped), the
// location record (where a file was named), shared by the readers, the walk
// and the warning records of the log, and the finding: one warning as a
// record, for whatever lists findings beside the log.
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
  // The physical line of each entry line in the file (the log counts from the
  // header instead, which blank and comment lines put off).
  std::vector<int32_t> EntryLines = std::vector<int32_t>(kSectionCapacity + 1);
};

struct LocationRecord {
  std::string File;
  int32_t Line = 0;
  std::string Section;
  std::string Key;
  std::string Value;
  int16_t Index = 0;
};

// One finding about the game's data, as the log's warning record tells it.
struct Finding {
  std::string File;  // the file it is about, a game path as logged
  int32_t Line = 0;  // its line in that file; 0 for the file as a whole
  std::string Section;
  int16_t SectionLine = 0;  // the line within the section (the location's index)
  std::string Key;
  std::string Value;
  int16_t Code = 0;
  std::string Text;  // the error table's text of Code, without the number
  // A file that could not be opened (10306) was named at this place.
  bool Named = false;
  std::string NamedIn;
  int32_t NamedLine = 0;
  // The physical line it is about (the header for a finding about the
  // section); 0 when unknown, then Line.
  int32_t PhysicalLine = 0;
};

}  // namespace ketch
