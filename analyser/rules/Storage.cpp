// The process-wide storage record sets and the one-time resolution of their
// fields.
#include "rules/Storage.h"

#include "platform/Error.h"
#include "rules/RunState.h"

namespace ketch {

StorageSets OpenStorage(db::Database& dataDB) {
  StorageSets s;
  s.Sections = dataDB.OpenRecordset("Sections", db::dbOpenTable);
  s.Entries = dataDB.OpenRecordset("Entries", db::dbOpenTable);
  s.Values = dataDB.OpenRecordset("Values", db::dbOpenTable);
  s.secId = s.Sections->FieldIndex("DB_ID");
  s.secArea = s.Sections->FieldIndex("Area");
  s.secSection = s.Sections->FieldIndex("Section");
  s.secFile = s.Sections->FieldIndex("File");
  s.secLine = s.Sections->FieldIndex("Line");
  s.entId = s.Entries->FieldIndex("DB_ID");
  s.entEntry = s.Entries->FieldIndex("Entry");
  s.entEntryID = s.Entries->FieldIndex("EntryID");
  s.entLink = s.Entries->FieldIndex("Link");
  s.entLine = s.Entries->FieldIndex("Line");
  s.valId = s.Values->FieldIndex("DB_ID");
  s.valLink = s.Values->FieldIndex("Link");
  s.valValue = s.Values->FieldIndex("Value");
  return s;
}

StorageSets& Storage() {
  StorageSets& s = Run().storage;
  if (!s.Sections || !s.Entries || !s.Values)
    throw PlatformErrorOf(errObjectNotSet);
  return s;
}

void SetStorage(StorageSets sets) { Run().storage = std::move(sets); }

}  // namespace ketch
