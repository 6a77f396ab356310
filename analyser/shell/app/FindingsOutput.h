// Findings for editors and CI: the forms a run's findings are written in
// (gcc-style lines, the log's own records, JSON Lines, SARIF 2.1.0), the
// paths in them as a user can open them, the choice of what counts (codes
// selected or ignored, a baseline of findings already known) and the reading
// of code lists and baselines from the command line. ketch.log is not
// touched by any of it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "shell/Records.h"

namespace ketch {

// Turns the game paths of findings (Windows-style, as logged) into paths a
// user can open: native separators, the letter case found on disk, UTF-8,
// and relative to a base folder when they lie below it.
class FindingPaths {
 public:
  // base: the game path of the folder paths are made relative to (the game
  // folder); "" keeps every path as given (check: relative to the current
  // folder when given relative).
  explicit FindingPaths(const std::string& base = {});

  // The path of gamePath as reported.
  std::string Reported(const std::string& gamePath) const;
  // The URI of a reported path: relative (to BaseUri) when the path is
  // relative, a file URI when it is absolute.
  static std::string Uri(const std::string& reported);
  // The file URI of the base folder, ending in "/".
  const std::string& BaseUri() const { return baseUri_; }

 private:
  std::string base_;  // reported form of the base, "" for none
  std::string baseUri_;
  // Findings come file by file, and finding a path on disk costs a lookup
  // per folder: the last one is kept.
  mutable std::string lastGamePath_, lastReported_;
};

// The native path a user can open for a game path: backslashes become
// slashes, the letter case is the one found on disk, the bytes UTF-8.
std::string NativePath(const std::string& gamePath);

// "CODE - TEXT [Section] key" in UTF-8: what a finding says, in every form.
std::string FindingMessage(const Finding& f);

// "PATH:LINE: warning: CODE - TEXT [Section] key", the form editors' and CI's
// problem matchers read (no line end).
std::string GccLine(const Finding& f, const FindingPaths& paths);
// The log's warning record of the finding, paths as logged, in UTF-8 with LF
// line ends, followed by an empty line as in the log.
std::string TextRecord(const Finding& f);
// One JSON object, on one line: file, line, section, key, value, code, text,
// and namedAt {file, line} where the file was named in a game file.
std::string JsonLine(const Finding& f, const FindingPaths& paths);
// A SARIF 2.1.0 log of one run: a rule for every code of the error table,
// one result per finding.
std::string SarifLog(const std::vector<Finding>& findings, const FindingPaths& paths);
// The findings file form chosen by its name: SARIF for a name ending in
// ".sarif", JSON Lines otherwise.
std::string FindingsFileText(const std::string& fileName, const std::vector<Finding>& findings,
                             const FindingPaths& paths);

// Reads a list of codes of the error table ("10101,10302"); false with a
// message for an empty list or any other code. "any" is no code here.
bool ParseCodes(const std::string& list, std::set<int16_t>& codes, std::string& error);

// Findings already known, from an earlier findings file. A finding matches
// one of them when file (in any letter case), code, section, key and value
// (the line's text) are the same; line numbers move and are not compared.
// Each known finding matches once.
class Baseline {
 public:
  // Reads a findings file, JSON Lines or SARIF (told apart by its content);
  // false with a message when it cannot be read or holds something else.
  bool Load(const std::string& path, std::string& error);
  // True, using up the match, when the finding is a known one.
  bool Known(const Finding& f, const FindingPaths& paths);
  size_t Size() const { return known_.size(); }

 private:
  std::multiset<std::string> known_;
};

// What counts of a run's findings: the codes selected (none: all) less the
// codes ignored, less the findings of a baseline.
struct FindingFilter {
  std::set<int16_t> select, ignore;
  Baseline baseline;
  bool useBaseline = false;

  // True when the finding is to be reported; uses up its baseline match.
  bool Reports(const Finding& f, const FindingPaths& paths);
};

// Findings per code, in code order.
std::map<int16_t, int64_t> CountByCode(const std::vector<Finding>& findings);

// The findings options of the command line.
struct FindingOptions {
  std::string findingsFile;       // --findings
  std::string baselineFile;       // --baseline
  std::string writeBaselineFile;  // --write-baseline
  bool failOnAny = false;         // --fail-on any
  std::set<int16_t> failOn;       // --fail-on CODES
  std::set<int16_t> select, ignore;
};

// A run's findings: taken from the finding sink while the run goes on,
// filtered, and written to the files the options name when it ends.
class FindingsRun {
 public:
  FindingsRun() = default;
  ~FindingsRun();  // unsets the sink
  FindingsRun(const FindingsRun&) = delete;
  FindingsRun& operator=(const FindingsRun&) = delete;

  // Reads the baseline and creates the output files; false with a message
  // when one of them cannot be, leaving no file of its own behind.
  bool Open(const FindingOptions& options, std::string& error);
  // Sets the finding sink: from now on each finding is kept, and each one
  // reported (FindingFilter) is also given to onReported.
  void Start(const FindingPaths& paths, std::function<void(const Finding&)> onReported = {});
  // Unsets the sink and writes the findings file and the new baseline;
  // false with a message when writing failed.
  bool Finish(std::string& error);

  const std::vector<Finding>& Reported() const { return reported_; }
  // The exit status of a run that ended with status: a normal end becomes
  // exitErrorReport when an error report was written, otherwise exitFindings
  // when a finding of the --fail-on codes was reported.
  int Status(int status) const;

 private:
  FindingOptions options_;
  FindingFilter filter_;
  FindingPaths paths_;
  std::vector<Finding> all_, reported_;
  int findings_ = -1;     // descriptor of the findings file
  int baselineOut_ = -1;  // of the new baseline
};

}  // namespace ketch
