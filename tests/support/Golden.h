// Golden files: expected output kept as files under tests/data/<case>/ and
// compared byte for byte (the log is CP1252 with CR LF line ends; the files
// are marked -text so that git never converts them). Paths that change from
// run to run are written in the files as placeholders such as ${GAME}.
//
// KETCH_UPDATE_GOLDEN=1 in the environment rewrites the expected files from
// what the run gave, instead of comparing; review the change with git diff.
// On a mismatch the test prints a unified diff of the two.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace ketch::test {

// The folder of a case: tests/data/<name> of the source tree.
std::string CaseDir(const std::string& name);

// Compares actual, with each path replaced by its placeholder, to the file
// expected (or rewrites the file; see above).
void ExpectGolden(const std::string& expected, std::string actual,
                  std::vector<std::pair<std::string, std::string>> placeholders);

}  // namespace ketch::test
