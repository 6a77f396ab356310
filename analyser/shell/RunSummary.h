// What a run did, counted as it happens: files read (text and binary),
// findings per code and repairs. The headless mode prints it, with the rows
// stored, at the end of a run; the log itself is not changed by it.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace ketch {

struct RunCounts {
  int64_t textFiles = 0;
  int64_t binaryFiles = 0;
  int64_t repairs = 0;
  std::map<int16_t, int64_t> findings;  // warning code -> count
};

RunCounts& Counts();

// The summary: the counts and the rows of the data database, one item a line.
std::string SummaryText();

}  // namespace ketch
