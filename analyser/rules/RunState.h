// The state of one analysis run, in one place: the rule base, the set of
// files already read, the storage record sets and whether the run stores what
// it reads at all (a check does not). A rule-base load makes the
// whole of it anew (and starts the run's counts anew), so that nothing of an
// earlier run leaks into the next; the accessors of mParse.h and Storage.h
// read it.
#pragma once

#include <memory>
#include <string>

#include "rules/KeyedCollection.h"
#include "rules/Storage.h"
#include "rules/cSection.h"

namespace ketch {

struct RunState {
  // Section rules keyed by their upper-cased names; null before a load.
  std::unique_ptr<KeyedCollection<cSection>> ruleBase;
  // Paths keyed by themselves, compared without regard to letter case.
  std::unique_ptr<KeyedCollection<std::string>> filesRead;
  StorageSets storage;
  // False for a run that checks the files and stores nothing: no storage
  // record sets, no data transactions.
  bool storing = true;
};

// The one run state of the process.
RunState& Run();

// Puts a loaded rule base and its storage record sets in place, with an empty
// set of files already read and the counts of a new run; storing false starts
// a run that stores nothing (storage is then empty). Raises nothing.
void StartRun(std::unique_ptr<KeyedCollection<cSection>> ruleBase, StorageSets storage, bool storing = true);

// Lets go of the run: back to the state before the first load.
void EndRun();

}  // namespace ketch
