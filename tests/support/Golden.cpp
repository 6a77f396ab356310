#include "Golden.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "Process.h"
#include "TestUtil.h"

namespace ketch::test {

std::string CaseDir(const std::string& name) { return std::string(KETCH_SOURCE_DIR) + "/tests/data/" + name; }

void ExpectGolden(const std::string& expected, std::string actual,
                  std::vector<std::pair<std::string, std::string>> placeholders) {
  // The longest path first, so that a path inside another is not cut up.
  std::sort(placeholders.begin(), placeholders.end(),
            [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
  for (const auto& [path, name] : placeholders)
    for (size_t at = 0; !path.empty() && (at = actual.find(path, at)) != std::string::npos; at += name.size())
      actual.replace(at, path.size(), name);

  const char* update = std::getenv("KETCH_UPDATE_GOLDEN");
  if (update && std::string(update) == "1") {
    WriteFile(expected, actual);
    return;
  }
  if (!std::filesystem::exists(expected)) {
    ADD_FAILURE() << "no " << expected << " (KETCH_UPDATE_GOLDEN=1 writes it)";
    return;
  }
  if (ReadFile(expected) == actual) return;
  TempDir dir;
  WriteFile(dir / "actual", actual);
  const RunResult diff = Run({.argv = {"diff", "-u", "--label", expected, "--label", "actual", expected, dir / "actual"}});
  ADD_FAILURE() << "the output differs from " << expected << " (KETCH_UPDATE_GOLDEN=1 rewrites it):\n"
                << diff.out << diff.err;
}

}  // namespace ketch::test
