// The rule tables are written with SQL of their own rather than table record
// sets: an entry's identifier is chosen here, and the record sets refuse a
// value for a table's own key.
#include "rules/RuleBaseWriter.h"

#include <algorithm>
#include <set>

#include "platform/Text.h"

namespace ketch {
namespace {

std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

std::string N(int64_t n) { return std::to_string(n); }

struct ExistingSection {
  int32_t id = 0, idx = 0, lastEntryIdx = 0;
  std::string name;
};

}  // namespace

std::string RuleKey(const std::string& section, const std::string& entry) {
  return UpperCase(section) + "\t" + UpperCase(entry);
}

RulePlan PlanRules(db::Database& rules, const LearnedRules& learned, bool fresh,
                   const std::vector<int16_t>& referenceIds) {
  RulePlan plan;
  plan.fresh = fresh;
  std::map<std::string, ExistingSection> sections;  // upper-cased name
  std::map<int32_t, std::string> sectionOfId;
  int32_t lastSectionId = 0, lastSectionIdx = 0, lastEntryId = 0;
  std::set<int32_t> taken(referenceIds.begin(), referenceIds.end());
  if (!fresh) {
    auto rs = rules.OpenRecordset("SELECT DB_ID, SectionName, IDX FROM _bc_sections", db::dbOpenForwardOnly);
    for (; !rs->IsEOF(); rs->MoveNext()) {
      ExistingSection s;
      s.id = rs->Fields(0).AsLong();
      s.name = rs->Fields(1).AsText();
      s.idx = rs->Fields(2).AsLong();
      lastSectionId = std::max(lastSectionId, s.id);
      lastSectionIdx = std::max(lastSectionIdx, s.idx);
      sectionOfId[s.id] = UpperCase(s.name);
      sections.emplace(UpperCase(s.name), s);
    }
    rs = rules.OpenRecordset("SELECT DB_ID, Section, EntryName, IDX FROM _bc_entries", db::dbOpenForwardOnly);
    for (; !rs->IsEOF(); rs->MoveNext()) {
      const int32_t id = rs->Fields(0).AsLong();
      auto sec = sectionOfId.find(rs->Fields(1).AsLong());
      if (sec == sectionOfId.end()) continue;  // the listing's join leaves it out too
      ExistingSection& s = sections[sec->second];
      s.lastEntryIdx = std::max(s.lastEntryIdx, static_cast<int32_t>(rs->Fields(3).AsLong()));
      plan.ids[sec->second + "\t" + UpperCase(rs->Fields(2).AsText())] = id;
      lastEntryId = std::max(lastEntryId, id);
      taken.insert(id);
    }
    rs = rules.OpenRecordset("SELECT Value FROM _bc_OtherINI ORDER BY DB_ID", db::dbOpenForwardOnly);
    for (; !rs->IsEOF(); rs->MoveNext()) plan.otherINI.push_back(rs->Fields(0).AsText());
  }

  // Fresh: the entries naming files take the reference identifiers.
  std::map<const LearnedEntry*, int32_t> referenceOf;
  if (fresh && !referenceIds.empty()) {
    std::vector<const LearnedEntry*> data, universe;
    for (const LearnedSection& s : learned.sections)
      for (const LearnedEntry& e : s.entries) {
        if (e.names == FileBase::Universe) universe.push_back(&e);
        if (e.names == FileBase::Data) data.push_back(&e);
      }
    auto shallowFirst = [](const LearnedEntry* a, const LearnedEntry* b) {
      if (a->depth != b->depth) return a->depth < b->depth;
      return a->filesNamed > b->filesNamed;
    };
    std::stable_sort(universe.begin(), universe.end(), shallowFirst);
    std::stable_sort(data.begin(), data.end(), shallowFirst);
    if (!universe.empty()) referenceOf[universe.front()] = referenceIds.front();
    for (size_t i = 0; i < data.size() && i + 1 < referenceIds.size(); ++i) referenceOf[data[i]] = referenceIds[i + 1];
  }

  int32_t nextId = lastEntryId;
  auto newId = [&] {
    do ++nextId;
    while (taken.count(nextId));
    taken.insert(nextId);
    return nextId;
  };
  for (const LearnedSection& s : learned.sections) {
    const std::string folded = UpperCase(s.name);
    auto found = sections.find(folded);
    const bool isNew = found == sections.end();
    ExistingSection& sec = sections[folded];
    if (isNew) {
      sec.id = ++lastSectionId;
      sec.idx = ++lastSectionIdx;
      sec.name = s.name;
      ++plan.newSections;
    }
    for (const LearnedEntry& e : s.entries) {
      const std::string key = folded + "\t" + UpperCase(e.name);
      if (plan.ids.count(key)) {
        ++plan.known;
        continue;
      }
      PlannedEntry p;
      p.learned = &e;
      p.section = sec.name;
      p.sectionId = sec.id;
      p.sectionIdx = sec.idx;
      p.newSection = isNew;
      auto ref = referenceOf.find(&e);
      p.dbId = ref != referenceOf.end() ? ref->second : newId();
      p.idx = ++sec.lastEntryIdx;
      plan.ids[key] = p.dbId;
      plan.added.push_back(p);
    }
  }
  return plan;
}

void WriteRules(db::Database& rules, const RulePlan& plan, const std::vector<std::string>& otherINI) {
  rules.BeginTrans();
  try {
    if (plan.fresh) {
      rules.Execute("DELETE FROM _bc_values");
      rules.Execute("DELETE FROM _bc_entries");
      rules.Execute("DELETE FROM _bc_sections");
    }
    rules.Execute("DELETE FROM _bc_OtherINI");
    std::set<int32_t> sectionsWritten;
    for (const PlannedEntry& p : plan.added) {
      if (p.newSection && sectionsWritten.insert(p.sectionId).second)
        rules.Execute("INSERT INTO _bc_sections (DB_ID, SectionName, IDX) VALUES (" + N(p.sectionId) + ", " +
                      Quoted(p.section) + ", " + N(p.sectionIdx) + ")");
      const LearnedEntry& e = *p.learned;
      rules.Execute(
          "INSERT INTO _bc_entries (DB_ID, Section, EntryName, IDX, FixedArgsNo, IsMultiLine, HasVarArgs, "
          "IsMandatory) VALUES (" +
          N(p.dbId) + ", " + N(p.sectionId) + ", " + Quoted(e.name) + ", " + N(p.idx) + ", " + N(e.fixed) + ", " +
          N(e.multiLine) + ", " + N(e.varArgs) + ", " + N(e.mandatory) + ")");
      std::string values;
      for (size_t i = 0; i < e.types.size(); ++i)
        values += (values.empty() ? "" : ", ") + std::string("(") + N(p.dbId) + ", '', " + N(int64_t(i) + 1) +
                  ", " + N(e.types[i]) + ", 0)";
      if (e.varArgs)
        values += (values.empty() ? "" : ", ") + std::string("(") + N(p.dbId) + ", '', " + N(e.fixed + 1) + ", " +
                  N(e.varType) + ", 1)";
      rules.Execute("INSERT INTO _bc_values (Entry, ValueName, IDX, Type, IsMulti) VALUES " + values);
    }
    for (const std::string& value : otherINI)
      rules.Execute("INSERT INTO _bc_OtherINI (Value) VALUES (" + Quoted(value) + ")");
    rules.CommitTrans();
  } catch (...) {
    try {
      rules.Rollback();
    } catch (...) {
      // The failure that led here is the one to report.
    }
    throw;
  }
}

std::string RulesTsv(const RulePlan& plan) {
  std::string out =
      "# Rules added by ketch learn, one row per value rule, in the form of the supplied listing.\n"
      "SectionName\tEntryName\tFixedArgsNo\tIsMultiLine\tHasVarArgs\tIsMandatory\tDB_ID\tValueName\tType\tIDX\tIsMulti\n";
  for (const PlannedEntry& p : plan.added) {
    const LearnedEntry& e = *p.learned;
    const std::string head = p.section + "\t" + e.name + "\t" + N(e.fixed) + "\t" + N(e.multiLine) + "\t" +
                             N(e.varArgs) + "\t" + N(e.mandatory) + "\t" + N(p.dbId) + "\t\t";
    for (size_t i = 0; i < e.types.size(); ++i) out += head + N(e.types[i]) + "\t" + N(int64_t(i) + 1) + "\t0\n";
    if (e.varArgs) out += head + N(e.varType) + "\t" + N(e.fixed + 1) + "\t1\n";
  }
  return out;
}

}  // namespace ketch
