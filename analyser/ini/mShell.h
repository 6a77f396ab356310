// Starting the converter as a separate process and waiting for its end. The
// program gets its arguments as a vector, never through a shell, so a path
// with blanks, quotes or other shell characters reaches it intact; it runs
// with no input and its output discarded, so a pause for a person cannot hang
// the analyser.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ketch {

// Runs the program argv[0] (a path, not looked up in PATH) with argv as its
// arguments, standard input from /dev/null and both outputs discarded, waits
// without time limit and returns its exit status (0..255); -1 when argv is
// empty, the program cannot be started or it ended by a signal. Raises nothing.
int32_t RunAndWait(const std::vector<std::string>& argv);

}  // namespace ketch
