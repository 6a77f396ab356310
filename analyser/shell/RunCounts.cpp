// The counts of the current run.
#include "shell/RunCounts.h"

namespace ketch {

RunCounts& Counts() {
  static RunCounts counts;
  return counts;
}

int64_t& ErrorReports() {
  static int64_t reports = 0;
  return reports;
}

}  // namespace ketch
