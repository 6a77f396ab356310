// The summary the headless mode prints at the end of a run: the run's counts
// and the rows of the data database. The log itself is not changed by it.
#pragma once

#include <string>

namespace ketch {

// The counts and the rows of the data database, one item a line.
std::string SummaryText();

}  // namespace ketch
