// The commands, Init DB, All and Dump (and Check): each a sequence of steps,
// run alike for the buttons and for the headless mode.
#include "shell/app/Commands.h"

#include <cstdlib>
#include <functional>

#include "gamedata/mLearn.h"
#include "gamedata/mParse.h"
#include "gamedata/mVDINI.h"
#include "ini/Conversion.h"
#include "ini/mINI.h"
#include "platform/App.h"
#include "platform/Locations.h"
#include "platform/Paths.h"
#include "rules/mParse.h"
#include "shell/EndSignals.h"
#include "shell/Progress.h"
#include "shell/RunCounts.h"
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
  } catch (const std::exception&) {
    // Out of memory, or a fault of the program: nothing the next step could
    // go on from, but the files read whole are kept.
    EndOnException(std::current_exception(), command);
  }
}

// With the Overwrite box ticked: a new log with its header.
void LogHeader() {
  try {
    DeleteFile(LogFilePath());
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

// After a stop: what was read whole is committed, and the log says the run
// ended early, once.
void LogStopped(const char* command) {
  Step(command, CommitDataFiles);
  const RunCounts& c = Counts();
  LogLine(std::string(command) + " cancelled: " + std::to_string(c.textFiles + c.binaryFiles) +
          " files read whole, their rows stored.");
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t from = 0;
  while (from < text.size()) {
    size_t nl = text.find('\n', from);
    if (nl == std::string::npos) nl = text.size();
    lines.push_back(text.substr(from, nl - from));
    from = nl + 1;
  }
  return lines;
}

}  // namespace

std::unique_ptr<cSettings> StartSettings() {
  auto settings = std::make_unique<cSettings>();
  SetSettings(settings.get());
  std::string settingsDB;
  try {
    settingsDB = Locations::PrepareSettingsDB();
  } catch (const Error& e) {
    FatalError(e, "OpenSettingsDB: Unable to open settings database");
  }
  settings->SettingsDBName(settingsDB);
  return settings;
}

bool cmdInitDB() {
  if (!InitDataDB("VD.MDB", DataDBHandle())) return false;
  InitParse();
  return true;
}

void cmdAll() {
  StopAhead stopAhead;
  StopOnEndSignals signalsStop;
  ClearStop();
  if (OverwriteTicked()) Step("All", LogHeader);
  ReportPass("Configuration walk");
  Step("All", ReadGameINI);
  if (!StopRequested()) {
    ReportPass("Further files");
    Step("All", ReadOtherINIs);
  }
  const int passes = static_cast<int>(std::size(kReferenceRules));
  for (int n = 0; n < passes && !StopRequested(); ++n) {
    const int16_t id = kReferenceRules[n];
    ReportPass("Files named by value ID " + std::to_string(id) + " (" + std::to_string(n + 1) + " of " +
               std::to_string(passes) + ")");
    Step("All", [id] { ReadINIFromValues(id); });
  }
  // What was stored before a stop is indexed as well.
  Step("All", IndexDataDB);
  if (StopRequested()) LogStopped("All");
  ClearStop();
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

int cmdLearn(bool fresh, std::string& message, LearnSummary* summary) {
  if (OverwriteTicked()) Step("Learn", LogHeader);
  // The learner's thresholds can be set for measuring them (docs/rulebase.md).
  LearnThresholds thresholds;
  if (const char* text = std::getenv("KETCH_LEARN_THRESHOLDS"); text && !ParseThresholds(text, thresholds)) {
    message = std::string("KETCH_LEARN_THRESHOLDS: cannot read '") + text + "'; KETCH.MDB is unchanged";
    return exitUsage;
  }
  const LearnResult result = LearnRules(fresh, thresholds);
  message = result.message;
  if (summary) *summary = result.summary;
  if (result.outcome == LearnOutcome::NoGame) return exitLearnNoGame;
  if (result.outcome == LearnOutcome::NotWritten) return exitLearnNotWritten;
  if (result.outcome == LearnOutcome::Cancelled) return exitLearnCancelled;
  for (const std::string& line : SplitLines(LearnSummaryText(result.summary))) LogLine(line);
  // What runs next in this run checks against the rules just written.
  if (RuleBaseLoaded()) InitParse(StoresRows());
  return exitNormal;
}

void cmdCheck(const std::vector<std::string>& files) {
  StopAhead stopAhead;
  DecodeHere decodeHere;
  StopOnEndSignals signalsStop;
  ClearStop();
  InitParse(false);
  CheckInParts(files, [&files](size_t from, size_t to) {
    // Split in two processes, both cores are busy reading: a converting
    // thread beside each would only copy the texts once more.
    if (to - from == files.size())
      for (size_t i = from; i < to; ++i) ReadAhead(files[i]);
    // The files were named on the command line, as the other-INI list names
    // its files: from outside any game file.
    LocationRecord L;
    L.File = "N/A";
    L.Section = "N/A";
    L.Key = "N/A";
    for (size_t i = from; i < to && !StopRequested(); ++i) {
      L.Value = files[i];
      ReadINIFile("", files[i], L);
    }
  });
  if (StopRequested())
    LogLine("Check cancelled: " + std::to_string(Counts().textFiles + Counts().binaryFiles) + " files checked whole.");
  ClearStop();
}

}  // namespace ketch
