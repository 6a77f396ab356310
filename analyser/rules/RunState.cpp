// The one run state of the process and the start and end of a run.
#include "rules/RunState.h"

#include "shell/RunCounts.h"

namespace ketch {

RunState& Run() {
  static RunState run;
  return run;
}

void StartRun(std::unique_ptr<KeyedCollection<cSection>> ruleBase, StorageSets storage, bool storing) {
  RunState& run = Run();
  run.ruleBase = std::move(ruleBase);
  run.storage = std::move(storage);
  run.storing = storing;
  run.filesRead = std::make_unique<KeyedCollection<std::string>>();
  Counts() = RunCounts();
}

void EndRun() {
  // The storage sets go before the rule base, whose sections stored through them.
  Run().storage = StorageSets();
  Run().ruleBase.reset();
  Run().filesRead.reset();
  Run().storing = true;
  Counts() = RunCounts();
}

}  // namespace ketch
