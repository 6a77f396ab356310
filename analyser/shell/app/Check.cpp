// The headless check: which files, each finding's line on standard output
// and the summary.
#include "shell/app/Check.h"

#include <algorithm>
#include <filesystem>

#include "platform/Text.h"
#include "shell/RunCounts.h"

namespace ketch {

bool ParseCheckFormat(const std::string& name, CheckFormat& format) {
  if (name == "gcc")
    format = CheckFormat::Gcc;
  else if (name == "text")
    format = CheckFormat::Text;
  else if (name == "json")
    format = CheckFormat::Json;
  else
    return false;
  return true;
}

bool CheckFiles(const std::vector<std::string>& paths, std::vector<std::string>& files,
                std::vector<std::string>& warnings, std::string& error) {
  namespace fs = std::filesystem;
  for (const std::string& path : paths) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (!fs::exists(status)) {
      error = "no such file or folder: " + path;
      return false;
    }
    if (!fs::is_directory(status)) {
      files.push_back(path);
      continue;
    }
    std::vector<std::string> below;
    for (fs::recursive_directory_iterator it(path, fs::directory_options::skip_permission_denied, ec), end;
         !ec && it != end; it.increment(ec)) {
      if (it->is_regular_file(ec) && LowerCase(it->path().extension().string()) == ".ini")
        below.push_back(it->path().string());
    }
    if (ec) {
      error = "cannot read the folder " + path + ": " + ec.message();
      return false;
    }
    if (below.empty()) warnings.push_back("no .ini file below " + path);
    std::sort(below.begin(), below.end());
    files.insert(files.end(), below.begin(), below.end());
  }
  return true;
}

std::string CheckOutput(const Finding& f, CheckFormat format, const FindingPaths& paths) {
  switch (format) {
    case CheckFormat::Text: return TextRecord(f);
    case CheckFormat::Json: return JsonLine(f, paths) + "\n";
    case CheckFormat::Gcc: break;
  }
  return GccLine(f, paths) + "\n";
}

std::string CheckSummary(const std::vector<Finding>& reported) {
  const RunCounts& c = Counts();
  std::string text = "checked " + std::to_string(c.textFiles + c.binaryFiles) + " files (" +
                     std::to_string(c.binaryFiles) + " binary), " + std::to_string(c.lines) + " lines: ";
  if (reported.empty()) return text + "no findings\n";
  text += std::to_string(reported.size()) + (reported.size() == 1 ? " finding (" : " findings (");
  const char* sep = "";
  for (const auto& [code, n] : CountByCode(reported)) {
    text += sep + std::to_string(code) + ": " + std::to_string(n);
    sep = ", ";
  }
  return text + ")\n";
}

}  // namespace ketch
