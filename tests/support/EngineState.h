// The engine's process-wide state put back as a fresh process has it: every
// hook (the finding sink too), the settings, log folder and log switch, the
// count of error reports, the data database, the run state, the
// converting thread, the program folder and the file opener. EngineState does
// it when made and again when it goes; LogFixture, and the fixtures built on
// it, hold one for each test, so that no test resets the engine by hand.
#pragma once

#include "platform/App.h"
#include "platform/Error.h"
#include "ini/Conversion.h"
#include "ini/mINI.h"
#include "rules/RunState.h"
#include "shell/DoEvents.h"
#include "shell/RunCounts.h"
#include "shell/cSettings.h"
#include "shell/mError.h"
#include "store/mDataDB.h"

namespace ketch::test {

inline void ResetEngine() {
  StopConvertingAhead();
  // The record sets of the run go before the database they write to.
  EndRun();
  try {
    CloseDataDB();
  } catch (const Error&) {
    // A test may leave the store broken on purpose; the next one starts anew.
  }
  SetEventPump(nullptr);
  SetBeforeEndHook(nullptr);
  SetEndHook(nullptr);
  SetLogView(LogView{});
  SetFindingSink(nullptr);
  SetLogFileOn(true);
  ErrorReports() = 0;
  SetSettings(nullptr);
  SetFileOpener(nullptr);
  App::SetPath("");
}

class EngineState {
 public:
  EngineState() { ResetEngine(); }
  ~EngineState() { ResetEngine(); }
  EngineState(const EngineState&) = delete;
  EngineState& operator=(const EngineState&) = delete;
};

}  // namespace ketch::test
