// What a run did, counted as it happens: files read (text and binary),
// findings per code and repairs. Each rule-base load starts the counts anew,
// so that they describe the run that the stored rows come from.
#pragma once

#include <cstdint>
#include <map>

namespace ketch {

struct RunCounts {
  int64_t textFiles = 0;
  int64_t binaryFiles = 0;
  int64_t repairs = 0;
  std::map<int16_t, int64_t> findings;  // warning code -> count
};

// The counts of the current run.
RunCounts& Counts();

}  // namespace ketch
