// The forms of a run's findings and the choice of what counts. Game text is
// code page 1252 and becomes UTF-8 here, at the edge, as JSON and terminals
// want it; paths are the ones found on disk.
#include "shell/app/FindingsOutput.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "platform/App.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "shell/RunCounts.h"
#include "shell/mError.h"

namespace ketch {
namespace {

using Json = nlohmann::ordered_json;

// True when the bytes are well-formed UTF-8.
bool IsUtf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n;
  }
  return true;
}

std::string Utf8(const std::string& gameText) { return Cp1252ToUtf8(gameText); }

// Without blanks, tabs and CR at either end.
std::string Trimmed(const std::string& s) {
  const size_t from = s.find_first_not_of(" \t\r");
  return from == std::string::npos ? std::string() : s.substr(from, s.find_last_not_of(" \t\r") - from + 1);
}

// ASCII only, whatever the locale says of other bytes.
bool IsAsciiAlnum(unsigned char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Percent-encodes all but the unreserved characters and "/".
std::string PercentEncode(const std::string& path) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : path) {
    if (IsAsciiAlnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

std::string PercentDecode(const std::string& uri) {
  std::string out;
  for (size_t i = 0; i < uri.size(); ++i) {
    if (uri[i] == '%' && i + 2 < uri.size() && HexDigit(uri[i + 1]) >= 0 && HexDigit(uri[i + 2]) >= 0) {
      out += static_cast<char>(HexDigit(uri[i + 1]) * 16 + HexDigit(uri[i + 2]));
      i += 2;
    } else {
      out += uri[i];
    }
  }
  return out;
}

// The reported path of a URI written by FindingPaths::Uri.
std::string PathOfUri(const std::string& uri) {
  const std::string scheme = "file://";
  return PercentDecode(uri.starts_with(scheme) ? uri.substr(scheme.size()) : uri);
}

// The URI of a folder, as a base: it ends in "/".
std::string FolderUri(const std::string& absolute) {
  std::string uri = FindingPaths::Uri(absolute);
  if (!uri.ends_with('/')) uri += '/';
  return uri;
}

// A naming place worth showing: a line of a game file, not the "N/A" of the
// lists that name files from outside the game.
bool NamedInAFile(const Finding& f) { return f.Named && f.NamedLine > 0; }

// The baseline's key of a finding: all it is matched by, UTF-8. Game paths
// name the same file in any letter case.
std::string KeyOf(const std::string& file, int64_t code, const std::string& section, const std::string& key,
                  const std::string& value) {
  const char sep = '\x1f';
  return AsciiLowerCase(file) + sep + std::to_string(code) + sep + section + sep + key + sep + value;
}

Json SarifLocation(const std::string& reported, int32_t line) {
  Json artifact = {{"uri", FindingPaths::Uri(reported)}};
  if (!reported.starts_with('/')) artifact["uriBaseId"] = "SRCROOT";
  Json physical = {{"artifactLocation", artifact}};
  // A finding about a whole file has no region.
  if (line > 0) physical["region"] = {{"startLine", line}};
  return {{"physicalLocation", physical}};
}

std::string Text(const Json& j, const char* name) {
  auto it = j.find(name);
  return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
}

}  // namespace

std::string FindingMessage(const Finding& f) {
  return ErrorText(f.Code) + " [" + Utf8(f.Section) + "] " + Utf8(f.Key);
}

std::string NativePath(const std::string& gamePath) {
  const std::string path = ResolvePath(gamePath);
  return IsUtf8(path) ? path : Cp1252ToUtf8(path);
}

FindingPaths::FindingPaths(const std::string& base) {
  std::error_code ec;
  if (base.empty()) {
    baseUri_ = FolderUri(std::filesystem::current_path(ec).string());
    return;
  }
  base_ = NativePath(base);
  while (base_.size() > 1 && base_.ends_with('/')) base_.pop_back();
  baseUri_ = FolderUri(std::filesystem::absolute(base_, ec).lexically_normal().string());
}

std::string FindingPaths::Reported(const std::string& gamePath) const {
  if (!lastGamePath_.empty() && gamePath == lastGamePath_) return lastReported_;
  std::string path = NativePath(gamePath);
  if (!base_.empty() && path.size() > base_.size() + 1 && path.starts_with(base_) && path[base_.size()] == '/')
    path.erase(0, base_.size() + 1);
  lastGamePath_ = gamePath;
  lastReported_ = path;
  return path;
}

std::string FindingPaths::Uri(const std::string& reported) {
  return reported.starts_with('/') ? "file://" + PercentEncode(reported) : PercentEncode(reported);
}

std::string GccLine(const Finding& f, const FindingPaths& paths) {
  std::string line = paths.Reported(f.File);
  if (f.Line > 0) line += ":" + std::to_string(f.Line);
  return line + ": warning: " + FindingMessage(f);
}

std::string TextRecord(const Finding& f) {
  // Paths may already be UTF-8 (as the file system gave them); game text is not.
  auto path = [](const std::string& p) { return IsUtf8(p) ? p : Cp1252ToUtf8(p); };
  Finding u = f;
  u.File = path(f.File);
  u.NamedIn = path(f.NamedIn);
  u.Section = Utf8(f.Section);
  u.Key = Utf8(f.Key);
  u.Value = Utf8(f.Value);
  const std::string text = WarningRecord(u);
  std::string out;
  for (char c : text)
    if (c != '\r') out += c;
  return out + "\n";
}

std::string JsonLine(const Finding& f, const FindingPaths& paths) {
  Json j = {{"file", paths.Reported(f.File)},
            {"line", f.Line},
            {"section", Utf8(f.Section)},
            {"key", Utf8(f.Key)},
            {"value", Utf8(f.Value)},
            {"code", f.Code},
            {"text", f.Text}};
  if (NamedInAFile(f)) j["namedAt"] = {{"file", paths.Reported(f.NamedIn)}, {"line", f.NamedLine}};
  return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string SarifLog(const std::vector<Finding>& findings, const FindingPaths& paths) {
  Json rules = Json::array();
  for (int16_t code : kErrorCodes) {
    rules.push_back({{"id", std::to_string(code)},
                     {"name", TableText(code)},
                     {"shortDescription", {{"text", TableText(code)}}},
                     {"defaultConfiguration", {{"level", "warning"}}}});
  }
  Json results = Json::array();
  for (const Finding& f : findings) {
    Json result = {{"ruleId", std::to_string(f.Code)}};
    for (size_t i = 0; i < kErrorCodes.size(); ++i)
      if (kErrorCodes[i] == f.Code) result["ruleIndex"] = i;
    result["level"] = "warning";
    result["message"] = {{"text", FindingMessage(f)}};
    result["locations"] = Json::array({SarifLocation(paths.Reported(f.File), f.Line)});
    if (NamedInAFile(f)) {
      Json named = SarifLocation(paths.Reported(f.NamedIn), f.NamedLine);
      named["id"] = 0;
      named["message"] = {{"text", "named here"}};
      result["relatedLocations"] = Json::array({named});
    }
    result["properties"] = {{"section", Utf8(f.Section)}, {"key", Utf8(f.Key)}, {"value", Utf8(f.Value)}};
    results.push_back(std::move(result));
  }
  Json driver = {{"name", App::EXEName()}, {"version", App::VersionText()}, {"rules", rules}};
  Json run = {{"tool", {{"driver", driver}}},
              {"originalUriBaseIds", {{"SRCROOT", {{"uri", paths.BaseUri()}}}}},
              {"results", results}};
  Json log = {{"$schema", "https://docs.oasis-open.org/sarif/sarif/v2.1.0/errata01/os/schemas/sarif-schema-2.1.0.json"},
              {"version", "2.1.0"},
              {"runs", Json::array({run})}};
  return log.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string FindingsFileText(const std::string& fileName, const std::vector<Finding>& findings,
                             const FindingPaths& paths) {
  if (fileName.ends_with(".sarif")) return SarifLog(findings, paths);
  std::string text;
  for (const Finding& f : findings) text += JsonLine(f, paths) + "\n";
  return text;
}

bool ParseCodes(const std::string& list, std::set<int16_t>& codes, std::string& error) {
  std::istringstream in(list);
  bool any = false;
  for (std::string item; std::getline(in, item, ',');) {
    item = Trimmed(item);
    int16_t code = 0;
    for (int16_t c : kErrorCodes)
      if (item == std::to_string(c)) code = c;
    if (code == 0) {
      error = "unknown code '" + item + "' (the codes are those of the error table, 10101 to 10307)";
      return false;
    }
    codes.insert(code);
    any = true;
  }
  if (!any) error = "no code given";
  return any;
}

bool Baseline::Load(const std::string& path, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read the baseline " + path + ": " + std::strerror(errno);
    return false;
  }
  std::ostringstream bytes;
  bytes << in.rdbuf();
  const std::string text = bytes.str();
  known_.clear();
  try {
    // A SARIF log is one object with runs; anything else is read line by line.
    Json whole = Json::parse(text, nullptr, false);
    if (whole.is_object() && whole.contains("runs")) {
      for (const Json& run : whole.at("runs"))
        for (const Json& r : run.value("results", Json::array())) {
          const Json& artifact = r.at("locations").at(0).at("physicalLocation").at("artifactLocation");
          const Json props = r.value("properties", Json::object());
          known_.insert(KeyOf(PathOfUri(artifact.at("uri").get<std::string>()), std::stoll(Text(r, "ruleId")),
                              Text(props, "section"), Text(props, "key"), Text(props, "value")));
        }
      return true;
    }
    std::istringstream lines(text);
    int n = 0;
    for (std::string line; std::getline(lines, line);) {
      ++n;
      if (Trimmed(line).empty()) continue;
      Json j = Json::parse(line, nullptr, false);
      if (!j.is_object() || !j.contains("file") || !j.contains("code") || !j.at("code").is_number_integer()) {
        error = path + " line " + std::to_string(n) + " is no finding of a findings file";
        return false;
      }
      known_.insert(KeyOf(Text(j, "file"), j.at("code").get<int64_t>(), Text(j, "section"), Text(j, "key"),
                          Text(j, "value")));
    }
    return true;
  } catch (const std::exception& e) {
    error = path + " is no findings file: " + e.what();
    return false;
  }
}

bool Baseline::Known(const Finding& f, const FindingPaths& paths) {
  auto it = known_.find(KeyOf(paths.Reported(f.File), f.Code, Utf8(f.Section), Utf8(f.Key), Utf8(f.Value)));
  if (it == known_.end()) return false;
  known_.erase(it);
  return true;
}

bool FindingFilter::Reports(const Finding& f, const FindingPaths& paths) {
  if (!select.empty() && !select.count(f.Code)) return false;
  if (ignore.count(f.Code)) return false;
  return !(useBaseline && baseline.Known(f, paths));
}

std::map<int16_t, int64_t> CountByCode(const std::vector<Finding>& findings) {
  std::map<int16_t, int64_t> counts;
  for (const Finding& f : findings) ++counts[f.Code];
  return counts;
}

FindingsRun::~FindingsRun() {
  SetFindingSink(nullptr);
  for (int fd : {findings_, baselineOut_})
    if (fd >= 0) close(fd);
}

bool FindingsRun::Open(const FindingOptions& options, std::string& error) {
  options_ = options;
  filter_.select = options.select;
  filter_.ignore = options.ignore;
  filter_.useBaseline = !options.baselineFile.empty();
  if (filter_.useBaseline && !filter_.baseline.Load(options.baselineFile, error)) return false;
  // Both files are opened before the run, so that one that cannot be
  // refuses the run before anything is done. Nothing is cut until the end: a
  // refused run leaves a file as it was, and one it made goes again.
  std::vector<std::string> made;
  auto openOutput = [&](const std::string& path, int& fd) {
    if (path.empty()) return true;
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) {
      made.push_back(path);
      return true;
    }
    if (errno == EEXIST) fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) error = "cannot create the findings file " + path + ": " + std::strerror(errno);
    return fd >= 0;
  };
  if (openOutput(options.findingsFile, findings_) && openOutput(options.writeBaselineFile, baselineOut_)) return true;
  for (int* fd : {&findings_, &baselineOut_}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
  for (const std::string& path : made) unlink(path.c_str());
  return false;
}

void FindingsRun::Start(const FindingPaths& paths, std::function<void(const Finding&)> onReported) {
  paths_ = paths;
  SetFindingSink([this, onReported = std::move(onReported)](const Finding& f) {
    if (baselineOut_ >= 0) all_.push_back(f);
    if (!filter_.Reports(f, paths_)) return;
    reported_.push_back(f);
    if (onReported) onReported(f);
  });
}

bool FindingsRun::Finish(std::string& error) {
  SetFindingSink(nullptr);
  bool ok = true;
  auto writeOutput = [&](int& fd, const std::string& path, const std::vector<Finding>& findings) {
    if (fd < 0) return;
    const std::string text = FindingsFileText(path, findings, paths_);
    bool written = ftruncate(fd, 0) == 0;
    for (size_t done = 0; written && done < text.size();) {
      const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
      if (n < 0 && errno != EINTR) written = false;
      if (n > 0) done += static_cast<size_t>(n);
    }
    if (close(fd) != 0 || !written) {
      error = "cannot write the findings file " + path + ": " + std::strerror(errno);
      ok = false;
    }
    fd = -1;
  };
  writeOutput(findings_, options_.findingsFile, reported_);
  writeOutput(baselineOut_, options_.writeBaselineFile, all_);
  return ok;
}

int FindingsRun::Status(int status) const {
  if (status != exitNormal) return status;
  if (ErrorReports() > 0) return exitErrorReport;
  for (const Finding& f : reported_)
    if (options_.failOnAny || options_.failOn.count(f.Code)) return exitFindings;
  return status;
}

}  // namespace ketch
