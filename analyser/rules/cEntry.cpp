// Entry rules: the per-entry checks of a line (initialised, key, multi-line),
// the collection of good lines, and their storing.
#include "rules/cEntry.h"

#include <limits>

#include "platform/Error.h"
#include "platform/Text.h"
#include "rules/Storage.h"
#include "shell/RunCounts.h"
#include "shell/mError.h"

namespace ketch {

void cEntry::TakeTemplate(std::unique_ptr<cSingleEntry> t) {
  occ_.clear();
  occ_.push_back(std::move(t));
  next_ = 1;
  lowerName_ = Variant(LowerCase(occ_.front()->EntryName()));
}

void cEntry::Init(const std::string& sSectionName, const std::string& sEntryName, int16_t iFixedNo,
                  bool bMultiLine, bool bVarVals, bool bIsMandatory, int32_t lDB_ID) {
  auto t = std::make_unique<cSingleEntry>();
  t->Init(sSectionName, sEntryName, iFixedNo, bVarVals);
  multiLine_ = bMultiLine;
  mandatory_ = bIsMandatory;
  dbId_ = lDB_ID;
  TakeTemplate(std::move(t));
}

void cEntry::InitEntry(std::unique_ptr<cSingleEntry> cAEntry) { TakeTemplate(std::move(cAEntry)); }

cValue& cEntry::AddValue(const std::string& sValueName, int32_t cseType, int16_t iPoz, bool bIsMulti) {
  // Kept clones were made from the template before this rule existed.
  occ_.resize(1);
  return occ_.front()->AddValue(sValueName, cseType, iPoz, bIsMulti);
}

void cEntry::SetValues(const std::string& sEntryName, const std::string& sValues, int32_t lFileLine) {
  if (const int32_t error = TakeValues(sEntryName, sValues, lFileLine)) RaiseEntryError(error);
}

int32_t cEntry::TakeValues(const std::string& sEntryName, const std::string& sValues, int32_t lFileLine) {
  const cSingleEntry& t = Template();
  if (t.SectionName() == cSingleEntry::kEmptyName) return errEntryNotInitialized;
  if (!SameIgnoringCase(sEntryName, t.EntryName())) return errEntryNameMismatch;
  size_t slot = static_cast<size_t>(next_ - 1);
  if (next_ > 1) {
    if (!multiLine_) return errEntryNotMultiline;
    if (slot < occ_.size())
      occ_[slot]->Clear();  // a kept clone: same rules, its values get overwritten
    else
      occ_.push_back(t.Clone());
  }
  if (const int32_t error = occ_[slot]->TakeValues(sEntryName, sValues, lFileLine)) return error;
  if (next_ == std::numeric_limits<int16_t>::max()) throw PlatformErrorOf(errOverflow);
  ++next_;
  return 0;
}

void cEntry::Store(int32_t lSectionDB_ID) {
  if (next_ <= 1) return;
  StorageSets& s = Storage();
  db::Recordset& entries = *s.Entries;
  db::Recordset& values = *s.Values;
  const Variant link(lSectionDB_ID);
  const Variant entryId(dbId_);
  for (int16_t i = 0; i < next_ - 1; ++i) {
    const cSingleEntry& o = *occ_[static_cast<size_t>(i)];
    entries.AddNew();
    entries.SetField(s.entEntry, lowerName_);
    entries.SetField(s.entLink, link);
    entries.SetField(s.entEntryID, entryId);
    entries.SetField(s.entLine, Variant(o.FileLine()));
    const Variant entryDbId(entries.Fields(s.entId).AsLong());
    // Committing a record is its Update: the row joins the transaction that
    // the reader of the data file holds open for the whole file.
    entries.Update();
    ++Counts().rowsStored;
    const int32_t n = o.FixedValuesNo() + o.VarValuesCount();
    for (int32_t k = 1; k <= n; ++k) {
      values.AddNew();
      values.SetField(s.valLink, entryDbId);
      values.SetField(s.valValue, o.Value(static_cast<int16_t>(k)).Value());
      values.Update();
      ++Counts().rowsStored;
    }
  }
}

void cEntry::Clear() {
  // Only the line count and the template's per-line growth are reset; kept
  // clones past the template are reused by the next section occurrence.
  occ_.front()->Clear();
  next_ = 1;
}

const cSingleEntry& cEntry::Occurrence(int16_t i) const {
  if (i < 1 || i >= next_) throw PlatformErrorOf(errSubscript);
  return *occ_[static_cast<size_t>(i - 1)];
}

std::unique_ptr<cEntry> cEntry::Clone() const {
  auto copy = std::make_unique<cEntry>();
  const cSingleEntry& t = Template();
  copy->Init(t.SectionName(), t.EntryName(), t.FixedValuesNo(), multiLine_, t.HasVariableValues(), mandatory_,
             dbId_);
  copy->InitEntry(t.Clone());
  return copy;
}

}  // namespace ketch
