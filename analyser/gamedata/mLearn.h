// Learning the rule base from the game's own files: every file the analysis
// would read, and every file a value of a file already read names, each read
// once (binary ones through krun), their lines counted by the rule learner,
// and the rules decided put into the rule tables of the settings database,
// the previous file kept beside it as KETCH.MDB.bak. No game file changes.
#pragma once

#include <cstdint>
#include <string>

#include "rules/RuleLearner.h"

namespace ketch {

enum class LearnOutcome {
  Learned,
  NoGame,      // no EXE\vandrel.ini, or no section in any file it leads to
  NotWritten,  // the rule base could not be written; it is as it was
  Cancelled,   // stopped at a file boundary on request; the rule base is as it was
};

struct LearnSummary {
  int64_t filesRead = 0, textFiles = 0, binaryFiles = 0, filesMissing = 0;
  int64_t sections = 0, newSections = 0;
  int64_t entries = 0, newEntries = 0, knownEntries = 0;
  int64_t rareKeys = 0, rareSections = 0;
  int64_t referenceEntries = 0;
  int64_t otherINIAdded = 0, otherINIDropped = 0;
  double seconds = 0;
};

struct LearnResult {
  LearnOutcome outcome = LearnOutcome::Learned;
  std::string message;  // why, when nothing was learned or written
  LearnSummary summary;
};

// Learns from the game of the settings and writes the rules: merged behind
// the rules there (fresh false) or as a new listing. Logs what it reads, and
// writes the added rules to learned-rules.tsv in the log folder. Raises
// nothing; a failure is the outcome.
LearnResult LearnRules(bool fresh, const LearnThresholds& thresholds = LearnThresholds());

// The summary as the log shows it, one line a figure.
std::string LearnSummaryText(const LearnSummary& s);

}  // namespace ketch
