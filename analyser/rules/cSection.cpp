// Section rules: building the entry rules of a section and storing one
// section occurrence.
#include "rules/cSection.h"

#include "platform/Text.h"
#include "rules/Storage.h"
#include "shell/RunCounts.h"

namespace ketch {

void cSection::Area(const std::string& v) {
  if (v == area_) return;
  area_ = v;
  lowerArea_ = Variant(LowerCase(v));
}

void cSection::SectionName(const std::string& v) {
  sectionName_ = v;
  lowerName_ = Variant(LowerCase(v));
}

cEntry& cSection::Add(const std::string& EntryName, int16_t FixedValuesNo, bool IsMultiLine,
                      bool HasVariableValues, bool IsMandatory, int32_t lEntryID, const std::string& sKey) {
  auto entry = std::make_unique<cEntry>();
  entry->Init(sectionName_, EntryName, FixedValuesNo, IsMultiLine, HasVariableValues, IsMandatory, lEntryID);
  return entries_.Add(std::move(entry), sKey);
}

void cSection::Store() {
  StorageSets& s = Storage();
  db::Recordset& sections = *s.Sections;
  sections.AddNew();
  sections.SetField(s.secArea, lowerArea_);
  sections.SetField(s.secSection, lowerName_);
  sections.SetField(s.secFile, Variant(file_));
  sections.SetField(s.secLine, Variant(lineNo_));
  dbId_ = sections.Fields(s.secId).AsLong();
  // Committing is the record's Update inside the per-file transaction.
  sections.Update();
  ++Counts().rowsStored;
  for (cEntry& entry : entries_) entry.Store(dbId_);
}

void cSection::Clear() {
  for (cEntry& entry : entries_) entry.Clear();
}

}  // namespace ketch
