// Reading one data file whole: recorded as read, opened (converted when
// binary), section by section checked and stored, its rows committed
// together so that reference passes see complete files only.
#include "ini/mINI.h"

#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <vector>

#include "store/mDataDB.h"
#include "ini/Conversion.h"
#include "ini/cFile.h"
#include "ini/mSection.h"
#include "rules/mParse.h"
#include "shell/DoEvents.h"
#include "shell/Progress.h"
#include "shell/RunCounts.h"
#include "shell/mError.h"

namespace ketch {
namespace {

FileOpener opener = nullptr;

// A fault on purpose in the middle of a file, for testing how the program
// ends: KETCH_FAULT="error:NAME" raises an error that the program reports and
// ends on, "throw:NAME" a failure nobody expects, "alloc:NAME" memory
// exhaustion, once the first section of a file whose name ends in NAME is
// stored.
void InjectFault(const std::string& file) {
  static const std::string fault = [] {
    const char* text = std::getenv("KETCH_FAULT");
    return std::string(text ? text : "");
  }();
  const size_t colon = fault.find(':');
  if (colon == std::string::npos) return;
  const std::string name = fault.substr(colon + 1);
  if (name.empty() || file.size() < name.size() || file.compare(file.size() - name.size(), name.size(), name) != 0)
    return;
  const std::string kind = fault.substr(0, colon);
  if (kind == "error") throw Error(57, "KETCH_FAULT", "Device I/O error");
  if (kind == "throw") throw std::logic_error("KETCH_FAULT");
  if (kind == "alloc") {
    // As a file that asks for ever more memory: held until it runs out.
    std::vector<std::unique_ptr<char[]>> held;
    for (;;) held.push_back(std::make_unique_for_overwrite<char[]>(size_t{64} << 20));
  }
}

}  // namespace

void SetFileOpener(FileOpener o) { opener = o; }

void ReadINIFile(const std::string& A, const std::string& P, LocationRecord& L) {
  LogLine("    Processing " + P);
  try {
    try {
      FilesRead().Add(std::make_unique<std::string>(P), P);
    } catch (const Error& e) {
      if (e.Number != errKeyExists) throw;
      LogLine("Already parsed. Skipped.");
      return;
    }
    ++Counts().filesTaken;

    cFile reader;
    try {
      if (opener)
        opener(reader, P);
      else
        reader.FileName(P);
    } catch (const Error& e) {
      // A name that leads to a folder or to an unreadable file is as unusable
      // as a missing one; one bad name must not end the whole run.
      if (e.Number != errFileNotFound && e.Number != errPathNotFound && e.Number != errPathFileAccess)
        throw;
      LogLocationWarning(L, errCouldNotOpenReferredFile, P);
      ReportFileDone(P);
      return;
    }

    ++(reader.IsConverted() ? Counts().binaryFiles : Counts().textFiles);
    // The rows of one file go in together; a query that follows references
    // sees only files whose rows are complete.
    const bool storing = StoresRows();
    if (storing) BeginDataTrans();
    ReadSections(A, reader);
    if (storing) CommitDataTrans();
    ReportFileDone(P);
  } catch (const Error& e) {
    LogError(e, "ReadINIFile");
    EndProgram();
  }
}

void ReadSections(const std::string& A, cFile& reader) {
  // The record of the file before, whose texts' buffers serve this one: a
  // fresh record per file is 4,000 texts made, grown and freed again. A
  // nested read finds none and makes its own.
  static thread_local std::unique_ptr<SectionRecord> spare;
  struct Kept {
    std::unique_ptr<SectionRecord> record = spare ? std::move(spare) : std::make_unique<SectionRecord>();
    ~Kept() { spare = std::move(record); }
  } kept;
  SectionRecord& R = *kept.record;
  bool first = true;
  while (ReadNextSection(R, reader)) {
    DoSection(A, R);
    if (first) InjectFault(reader.FileName());
    first = false;
    DoEvents();
  }
  Counts().lines += reader.LineNum();
}

std::vector<Finding> CheckText(const std::string& name, std::string bytes) {
  std::vector<Finding> findings;
  SetFindingSink([&findings](const Finding& f) { findings.push_back(f); });
  // The sink refers to this frame: it goes whichever way the check ends.
  struct Unset {
    ~Unset() { SetFindingSink(nullptr); }
  } unset;
  try {
    cFile reader;
    reader.OpenSource(name, std::make_unique<MemoryLineSource>(std::move(bytes)));
    ReadSections("", reader);
  } catch (const Error& e) {
    LogError(e, "CheckText");
    EndProgram();
  }
  return findings;
}

void ReadAhead(const std::string& P) {
  // Before the first load ReadINIFile fails on its first file, and that is
  // where the failure must be reported; nothing will be read to convert for.
  if (!RuleBaseLoaded()) return;
  if (FilesRead().Contains(P)) return;
  ++Counts().filesNamed;
  ConvertAhead(P);
  ReportFileKnown(P);
}

}  // namespace ketch
