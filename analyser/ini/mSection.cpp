// The section reader and the section check. ReadNextSection cuts the line
// reader's lines into section records; DoSection hands each entry line to its
// rule and turns each finding into a warning record, so that one bad line
// costs that line only.
#include "ini/mSection.h"

#include "rules/mParse.h"
#include "rules/mUtils.h"
#include "shell/mError.h"

namespace ketch {

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
      try {
        cEntry& entry = section->Item(R.EntryNames[i]);
        entry.SetValues(R.EntryNames[i], R.EntryValues[i], R.LineNo + i);
      } catch (const Error& e) {
        // Findings about the line; anything else is unexpected.
        if (e.Number == errInvalidArgument)
          LogWarning(R, errUnknownEntry, i);
        else if (e.Number == errOverflow)
          LogWarning(R, errValueOverflow, i);
        else if (IsFinding(e.Number))
          LogWarning(R, static_cast<int16_t>(e.Number), i);
        else
          throw;
      }
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
