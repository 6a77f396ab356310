// The section reader and the section check. ReadNextSection cuts the line
// reader's lines into section records; DoSection hands each entry line to its
// rule and turns each finding into a warning record, so that one bad line
// costs that line only.
#include "ini/mSection.h"

#include "rules/mParse.h"
#include "rules/mUtils.h"
#include "shell/mError.h"

namespace ketch {
namespace {

// The errors that are findings about an entry line.
bool AboutTheLine(int32_t number) { return number == errInvalidArgument || number == errOverflow || IsFinding(number); }

}  // namespace

void SplitEntryLine(const std::string& line, std::string& key, std::string& value) {
  size_t eq = line.find('=');
  if (eq == std::string::npos || eq == 0) {
    key = TrimBlanks(line);
    value.clear();
    return;
  }
  std::string_view text(line);
  key = TrimBlanks(text.substr(0, eq));
  value = TrimBlanks(text.substr(eq + 1));
}

bool ReadNextSection(SectionRecord& R, cFile& F) {
  std::string line;
  for (;;) {
    if (F.EndOfFile()) return false;
    F.ReadLine(line);
    if (!line.empty() && line[0] == '[') break;
  }
  R.File = F.FileName();
  R.LineNo = F.LineNum();
  R.SectionName = line;
  R.EntryNames[1] = line;
  R.EntryValues[1].clear();
  if (line.back() != ']') {
    LogWarning(R, errSectionNoClosingBracket, 1);
    R.SectionName = line.substr(1);
  } else {
    R.SectionName = line.size() >= 2 ? line.substr(1, line.size() - 2) : std::string();
  }

  R.EntryCount = 0;
  for (;;) {
    if (F.EndOfFile()) return true;
    F.ReadLine(line);
    if (line.empty()) continue;
    if (line[0] == '[') {
      F.Backline(line);
      return true;
    }
    if (R.EntryCount == kSectionCapacity) throw PlatformErrorOf(errSubscript);
    ++R.EntryCount;
    R.EntryLines[R.EntryCount] = F.LineNum();
    SplitEntryLine(line, R.EntryNames[R.EntryCount], R.EntryValues[R.EntryCount]);
  }
}

void DoSection(const std::string& A, SectionRecord& R) {
  try {
    cSection* section = RuleBase().Find(R.SectionName);
    if (!section) {
      LogWarning(R, errUnknownSection, 1);
      return;
    }
    for (int16_t i = 1; i <= R.EntryCount; ++i) {
      // What a line is found to be comes back as a number: a raised error
      // for each of thousands of bad lines would cost more than the rest.
      int32_t found = 0;
      try {
        cEntry* entry = section->Find(R.EntryNames[i]);
        found = entry ? entry->TakeValues(R.EntryNames[i], R.EntryValues[i], R.LineNo + i) : errInvalidArgument;
      } catch (const Error& e) {
        if (!AboutTheLine(e.Number)) throw;  // unexpected
        found = e.Number;
      }
      if (found == errInvalidArgument)
        LogWarning(R, errUnknownEntry, i);
      else if (found == errOverflow)
        LogWarning(R, errValueOverflow, i);
      else if (found != 0)
        LogWarning(R, static_cast<int16_t>(found), i);
    }
    if (StoresRows()) {
      section->File(R.File);
      section->LineNo(R.LineNo);
      section->Area(A);
      section->Store();
    }
    section->Clear();
  } catch (const Error& e) {
    LogError(e, "DoSection");
    EndProgram();
  }
}

}  // namespace ketch
