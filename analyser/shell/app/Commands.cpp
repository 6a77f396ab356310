// The commands, Init DB, All and Dump (and Check): each a sequence of steps,
// run alike for the buttons and for the headless mode.
#include "shell/app/Commands.h"

#include <functional>

#include "gamedata/mParse.h"
#include "gamedata/mVDINI.h"
#include "ini/Conversion.h"
#include "ini/mINI.h"
#include "platform/App.h"
#include "platform/Paths.h"
#include "rules/mParse.h"
#include "shell/app/Check.h"
#include "shell/cSettings.h"
#include "shell/mError.h"
#include "store/mDataDB.h"

namespace ketch {
namespace {

// The box counts as ticked when it is not clear; greyed counts as ticked.
bool OverwriteTicked() { return Settings()->OverwriteLog() != "0"; }

// One step of a command. A failure that the step lets through is reported
// and the command goes on with its next step, rather than ending the command
// without a word.
void Step(const char* command, const std::function<void()>& step) {
  try {
    step();
  } catch (const Error& e) {
    LogError(e, command);
  }
}

// With the Overwrite box ticked: a new log with its header.
void LogHeader() {
  try {
    DeleteFile(Settings()->LogPath() + "\\ketch.log");
  } catch (const Error&) {
    // Above all the file does not exist yet; nothing to report.
  }
  LogLine("Ketch v " + App::VersionText() + " Log File");
  LogLine(" ");
  LogLine("VD Path " + Settings()->VDPath());
  LogLine("Log Path " + Settings()->LogPath());
  LogLine(" ");
}

// Files are converted ahead while a command reads; nothing of that outlives it.
struct StopAhead {
  StopAhead() = default;
  StopAhead(const StopAhead&) = delete;
  StopAhead& operator=(const StopAhead&) = delete;
  ~StopAhead() { StopConvertingAhead(); }
};

// Check decodes binary files itself, for as long as it runs.
struct DecodeHere {
  DecodeHere() { DecodeInProcess(true); }
  DecodeHere(const DecodeHere&) = delete;
  DecodeHere& operator=(const DecodeHere&) = delete;
  ~DecodeHere() { DecodeInProcess(false); }
};

}  // namespace

bool cmdInitDB() {
  if (!InitDataDB("VD.MDB", DataDBHandle())) return false;
  InitParse();
  return true;
}

void cmdAll() {
  StopAhead stopAhead;
  if (OverwriteTicked()) Step("All", LogHeader);
  Step("All", ReadGameINI);
  Step("All", ReadOtherINIs);
  for (int16_t id : kReferenceRules) Step("All", [id] { ReadINIFromValues(id); });
}

void cmdDumpRules() {
  if (OverwriteTicked()) {
    Step("Dump", [] {
      LogHeader();
      LogLine("Rules Dump");
      LogLine(" ");
    });
  }
  Step("Dump", [] { DumpRules(); });
  LogLine(" ");
  LogLine("Rules Dump Complete.");
}

void cmdCheck(const std::vector<std::string>& files) {
  StopAhead stopAhead;
  DecodeHere decodeHere;
  InitParse(false);
  CheckInParts(files, [&files](size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) ReadAhead(files[i]);
    // The files were named on the command line, as the other-INI list names
    // its files: from outside any game file.
    LocationRecord L;
    L.File = "N/A";
    L.Section = "N/A";
    L.Key = "N/A";
    for (size_t i = from; i < to; ++i) {
      L.Value = files[i];
      ReadINIFile("", files[i], L);
    }
  });
}

}  // namespace ketch
