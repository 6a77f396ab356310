// The run summary: counts of the run and rows of the data database.
#include "shell/app/RunSummary.h"

#include <cstdio>

#include "platform/db/Database.h"
#include "shell/RunCounts.h"
#include "shell/mError.h"
#include "store/mDataDB.h"

namespace ketch {
namespace {

std::string Row(const std::string& label, int64_t n) {
  char line[160];
  std::snprintf(line, sizeof line, "  %-44s %10lld\n", label.c_str(), static_cast<long long>(n));
  return line;
}

int64_t CountRows(const char* table) {
  db::Database* data = DataDB();
  if (!data) return 0;
  try {
    auto rs = data->OpenRecordset(std::string("SELECT count(*) AS n FROM \"") + table + "\"",
                                  db::dbOpenForwardOnly);
    return rs->Fields("n").AsLong();
  } catch (const Error&) {
    return 0;
  }
}

}  // namespace

std::string SummaryText() {
  const RunCounts& c = Counts();
  std::string text = "\nSummary\n";
  text += Row("files read", c.textFiles + c.binaryFiles);
  text += Row("  text", c.textFiles);
  text += Row("  binary (converted)", c.binaryFiles);
  text += Row("sections stored", CountRows("Sections"));
  text += Row("entry lines stored", CountRows("Entries"));
  text += Row("values stored", CountRows("Values"));
  text += Row("lines repaired", c.repairs);
  int64_t total = 0;
  for (const auto& [code, n] : c.findings) total += n;
  text += Row("findings", total);
  for (const auto& [code, n] : c.findings) text += Row("  " + ErrorText(code), n);
  return text;
}

}  // namespace ketch
