// The three process-wide storage record sets on the data tables Sections,
// Entries and Values, through which the rule objects write what was read.
// The field positions are resolved once when the sets are opened, so that
// storing a row looks no field up by name.
#pragma once

#include <memory>

#include "platform/db/Database.h"

namespace ketch {

struct StorageSets {
  std::unique_ptr<db::Recordset> Sections, Entries, Values;
  // Field positions in Sections.
  int secId = -1, secArea = -1, secSection = -1, secFile = -1, secLine = -1;
  // Field positions in Entries.
  int entId = -1, entEntry = -1, entEntryID = -1, entLink = -1, entLine = -1;
  // Field positions in Values.
  int valId = -1, valLink = -1, valValue = -1;
};

// Opens table record sets on Sections, Entries and Values of the data
// database, in this order, and resolves their fields; raises the database's
// error (3265 for a missing field) and leaves the current sets unchanged.
StorageSets OpenStorage(db::Database& dataDB);

// The current storage record sets; raises 91 when none were opened.
StorageSets& Storage();

// Replaces the current storage record sets (a load puts them in place with
// the rest of the run: RunState.h).
void SetStorage(StorageSets sets);

}  // namespace ketch
