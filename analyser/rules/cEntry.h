// An entry rule: one entry key of one kind of section, with its value rules,
// its multi-line and mandatory flags and its identifier in the rule base. It
// also collects the lines of that entry in the section occurrence being read
// and writes them, with their values, into the data database.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Variant.h"
#include "rules/cSingleEntry.h"

namespace ketch {

class cEntry {
 public:
  // Appends one Entries row per collected line (Entry in lower case, Link,
  // EntryID, Line) and one Values row per value in position order, through
  // the storage record sets; raises the store's errors (rows written so far
  // stay).
  void Store(int32_t lSectionDB_ID);
  // A copy of the rule (flags, identifier, value rules) without collected lines.
  std::unique_ptr<cEntry> Clone() const;
  // Builds the template occurrence and sets the flags; a second call starts
  // the rule afresh.
  void Init(const std::string& sSectionName, const std::string& sEntryName, int16_t iFixedNo, bool bMultiLine,
            bool bVarVals, bool bIsMandatory, int32_t lDB_ID);
  // Replaces the template occurrence (and drops every collected line).
  void InitEntry(std::unique_ptr<cSingleEntry> cAEntry);
  // Adds a value rule to the template occurrence (its AddValue, same errors).
  cValue& AddValue(const std::string& sValueName, int32_t cseType, int16_t iPoz, bool bIsMulti);
  // Checks one entry line and keeps it as the next occurrence. Raises 10202
  // before Init, 10203 for another key, 10209 for a second line of a
  // single-line entry, and the occurrence's errors; a failed line is not
  // counted and its slot goes to the next line.
  void SetValues(const std::string& sEntryName, const std::string& sValues, int32_t lFileLine);
  // The same without raising for what a line can be found to be: the number
  // of the error SetValues would raise (see cSingleEntry::TakeValues), or 0.
  int32_t TakeValues(const std::string& sEntryName, const std::string& sValues, int32_t lFileLine);
  // Drops all collected lines, keeping the template's rules.
  void Clear();

  const std::string& SectionName() const { return Template().SectionName(); }
  const std::string& EntryName() const { return Template().EntryName(); }
  int32_t EntryDB_ID() const { return dbId_; }
  int16_t FixedValuesNo() const { return Template().FixedValuesNo(); }
  bool HasVariableValues() const { return Template().HasVariableValues(); }
  bool IsMultiLine() const { return multiLine_; }
  bool IsMandatory() const { return mandatory_; }
  // The value rules, as the template occurrence holds them.
  const cSingleEntry& ValueRules() const { return Template(); }
  // Lines collected in the current section occurrence.
  int16_t Count() const { return static_cast<int16_t>(next_ - 1); }
  // The collected occurrence at 1-based position i (1..Count()); raises 9.
  const cSingleEntry& Occurrence(int16_t i) const;

 private:
  const cSingleEntry& Template() const { return *occ_.front(); }
  void TakeTemplate(std::unique_ptr<cSingleEntry> t);

  bool multiLine_ = false;
  bool mandatory_ = false;
  int32_t dbId_ = 0;
  // occ_[0] is the template and the first occurrence. Objects past next_ - 1
  // are clones kept from earlier section occurrences and reused, so that a
  // multi-line entry does not rebuild its value rules for every line read.
  std::vector<std::unique_ptr<cSingleEntry>> occ_ = [] {
    std::vector<std::unique_ptr<cSingleEntry>> v;
    v.push_back(std::make_unique<cSingleEntry>());
    return v;
  }();
  int16_t next_ = 1;
  Variant lowerName_;  // the stored form of the entry name, made once
};

}  // namespace ketch
