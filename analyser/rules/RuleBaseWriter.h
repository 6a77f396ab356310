// Putting learned rules into the rule tables of the settings database. The
// plan gives every learned entry its place and identifier first (merged
// behind the rules already there, or a fresh listing), so that the caller
// can work out which files the analysis will reach before anything is
// written; the writing is then one transaction.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/db/Database.h"
#include "rules/RuleLearner.h"

namespace ketch {

struct PlannedEntry {
  const LearnedEntry* learned = nullptr;
  std::string section;  // as it will stand in the listing
  int32_t sectionId = 0;
  int32_t sectionIdx = 0;
  bool newSection = false;
  int32_t dbId = 0;
  int32_t idx = 0;
};

struct RulePlan {
  bool fresh = false;
  std::vector<PlannedEntry> added;  // grouped by section
  int64_t known = 0;                // learned entries the rule base already had
  int64_t newSections = 0;
  // The final rule base's entry identifiers: upper-cased "SECTION\tKEY" -> DB_ID.
  std::map<std::string, int32_t> ids;
  std::vector<std::string> otherINI;  // the rows of _bc_OtherINI now
};

// The key of ids for a section and an entry name.
std::string RuleKey(const std::string& section, const std::string& entry);

// Places the learned rules. Merging keeps every rule of the tables as it is
// and adds what they lack with new identifiers; fresh replaces the listing,
// giving the entries that name files the identifiers of referenceIds in
// order (the first, which reads below DATA\Universe\, to the one naming
// files there), the shallowest first. New identifiers never take one of
// referenceIds. Raises the database's errors.
RulePlan PlanRules(db::Database& rules, const LearnedRules& learned, bool fresh,
                   const std::vector<int16_t>& referenceIds);

// Writes the plan and sets _bc_OtherINI to otherINI, in one transaction: on
// any failure it is undone and the error raised.
void WriteRules(db::Database& rules, const RulePlan& plan, const std::vector<std::string>& otherINI);

// The added rules in the readable form of the supplied rule listing, with
// its heading.
std::string RulesTsv(const RulePlan& plan);

}  // namespace ketch
