// The counts of the current run.
#include "shell/RunCounts.h"

namespace ketch {

RunCounts& Counts() {
  static RunCounts counts;
  return counts;
}

}  // namespace ketch
