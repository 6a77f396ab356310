// The walk over the game's main configuration file: its [Data] section names
// the data files of each kind, which are read in the order they stand; the
// other sections are logged as not processed.
#include "gamedata/mVDINI.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "ini/cFile.h"
#include "ini/mINI.h"
#include "ini/mSection.h"
#include "platform/App.h"
#include "shell/Progress.h"
#include "shell/RunCounts.h"
#include "shell/cSettings.h"
#include "shell/mError.h"

namespace ketch {
namespace {

// The kinds of [Data] entries that are read, compared exactly.
constexpr std::array<std::string_view, 22> kProcessedKinds = {
    "solar",    "universe",  "constants", "fonts",   "sounds",  "voices",        "explosions", "debris",
    "asteroids", "equipment", "ships",     "goods",   "loadouts", "costumes",     "PetalDB",    "effects",
    "effect_shapes", "fuses", "groups",    "stars",   "markets", "WeaponModDB"};

bool Processed(const std::string& kind) {
  return std::find(kProcessedKinds.begin(), kProcessedKinds.end(), kind) != kProcessedKinds.end();
}

std::string MainPath() { return Settings()->VDPath() + "\\EXE\\vandrel.ini"; }

std::string NotProcessed() { return "NOT Processing (in Ketch v " + App::VersionText() + ")"; }

}  // namespace

bool IsProcessedKind(const std::string& kind) { return Processed(kind); }

std::string GameINIPath() { return MainPath(); }

std::string DataPath(const std::string& value) { return Settings()->VDPath() + "\\DATA\\" + value; }

void ReadGameINI() {
  const std::string mainPath = MainPath();
  LogLine("Processing " + mainPath);
  Counts().pass = "game INI";
  Counts().passId = 0;
  cFile reader;
  try {
    reader.FileName(mainPath);
  } catch (const Error& e) {
    LogError(e, "Unable to open " + mainPath);
    LogLine("Done Processing " + mainPath);
    return;
  }
  try {
    SectionRecord R;
    while (ReadNextSection(R, reader)) {
      if (R.SectionName == "Resources") {
        LogLine("     " + NotProcessed() + " section [Resources]");
      } else if (R.SectionName == "Data") {
        LogLine("    Processing Section [Data]");
        DoSectionData(R);
      } else {
        LogLine("    NOT Processing (by design) section [" + R.SectionName + "]");
      }
    }
  } catch (const Error& e) {
    // The walk ends here; the passes after it still run.
    ++ErrorReports();
    LogLine("ERR : File " + reader.FileName() + " line " + std::to_string(reader.LineNum()));
    LogLine("      " + std::to_string(e.Number) + " -- " + e.Description + " -- " + e.Source);
    return;
  }
  LogLine("Done Processing " + mainPath);
}

void DoSectionData(SectionRecord& R) {
  LocationRecord L;
  L.File = MainPath();
  L.Section = "Data";
  int16_t i = 1;
  try {
    // The binary files among them are converted while earlier ones are stored.
    for (int16_t j = 1; j <= R.EntryCount; ++j)
      if (!R.EntryValues[j].empty() && Processed(R.EntryNames[j]))
        ReadAhead(DataPath(R.EntryValues[j]));
    // A stop waits for the file being read, never cuts one.
    for (; i <= R.EntryCount && !StopRequested(); ++i) {
      const std::string& key = R.EntryNames[i];
      const std::string& value = R.EntryValues[i];
      if (value.empty() && key != "bases") {
        LogWarning(R, errEntryWithNoValue, i);
        continue;
      }
      std::string path = DataPath(value);
      L.Line = R.LineNo + i;
      L.Key = key;
      L.Value = value;
      L.Index = i;
      if (Processed(key)) {
        LogLine("        Processing " + key + " " + value);
        ReadINIFile(key, path, L);
      } else {
        LogLine("        " + NotProcessed() + " " + key + " " + value);
      }
    }
  } catch (const Error& e) {
    LogError(e, "DoSectionData");
    LogWarning(R, errSectionUnknownError, i);
    EndProgram();
  }
}

}  // namespace ketch
