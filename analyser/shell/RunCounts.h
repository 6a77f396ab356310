// What a run did, counted as it happens: files and lines read, findings per
// code and repairs. Each rule-base load starts the counts anew, so that they
// describe the run that the stored rows come from. Error reports are counted
// for the whole program, since they decide its exit status.
#pragma once

#include <cstdint>
#include <map>

namespace ketch {

struct RunCounts {
  int64_t textFiles = 0;
  int64_t binaryFiles = 0;
  int64_t repairs = 0;
  int64_t lines = 0;  // physical lines of the files read
  // For the progress line only: files named to the reader ahead of reading
  // them (what is known so far of the files to come), files taken up (read,
  // or found missing), rows handed to the store, and the pass under way.
  int64_t filesNamed = 0;
  int64_t filesTaken = 0;
  int64_t rowsStored = 0;
  const char* pass = "";
  int16_t passId = 0;
  std::map<int16_t, int64_t> findings;  // warning code -> count
};

// The counts of the current run.
RunCounts& Counts();

// Error reports written since the program started (LogError, the walk's ERR
// lines, log lines the file lost); tests set it back to 0.
int64_t& ErrorReports();

}  // namespace ketch
