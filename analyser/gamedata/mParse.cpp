// Following references. Both passes walk a forward-only query of the settings
// database and read the file each row names; the rows are read a few ahead,
// so that binary files among them convert while earlier files are stored.
#include "gamedata/mParse.h"

#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "gamedata/mVDINI.h"
#include "ini/mINI.h"
#include "platform/db/Database.h"
#include "shell/Progress.h"
#include "shell/Records.h"
#include "shell/RunCounts.h"
#include "shell/cSettings.h"
#include "shell/mError.h"
#include "store/mDataDB.h"

namespace ketch {
namespace {

// How many rows are read before the one worked on.
constexpr size_t kRowsAhead = 16;

// The rows of a forward-only record set, read a few ahead of the one worked
// on, so that the files they name are converted while earlier files are
// stored. Nothing is checked or logged for a row until it is taken.
template <class Row>
class RowsAhead {
 public:
  // read makes a row of the current record; file gives the file a row names
  // ("" for none).
  RowsAhead(db::Recordset& rs, std::function<Row(db::Recordset&)> read,
            std::function<std::string(const Row&)> file)
      : rs_(rs), read_(std::move(read)), file_(std::move(file)) {}

  // Moves the next row into row; false past the last. Raises the record
  // set's errors.
  bool Next(Row& row) {
    while (rows_.size() < kRowsAhead && !rs_.IsEOF()) {
      rows_.push_back(read_(rs_));
      if (std::string f = file_(rows_.back()); !f.empty()) ReadAhead(f);
      rs_.MoveNext();
    }
    if (rows_.empty()) return false;
    row = std::move(rows_.front());
    rows_.pop_front();
    return true;
  }

 private:
  db::Recordset& rs_;
  std::function<Row(db::Recordset&)> read_;
  std::function<std::string(const Row&)> file_;
  std::deque<Row> rows_;
};

}  // namespace

void ReadOtherINIs() {
  LogLine("\r\n\r\nReading files for other INIs");
  Counts().pass = "other INIs";
  Counts().passId = 0;
  try {
    auto rs = Settings()->SettingsDB()->OpenRecordset("_bc_OtherINI", db::dbOpenForwardOnly);
    LocationRecord L;
    L.Section = "N/A";
    L.Key = "N/A";
    RowsAhead<std::string> rows(
        *rs, [](db::Recordset& r) { return r.Fields("Value").AsText(); }, DataPath);
    for (std::string value; !StopRequested() && rows.Next(value);) {
      std::string path = DataPath(value);
      L.File = "N/A";
      L.Line = 0;
      L.Value = value;
      L.Index = 0;
      ReadINIFile("Hardcoded", path, L);
    }
  } catch (const Error& e) {
    LogError(e, "ReadOtherINIs");
    EndProgram();
  }
  LogLine("Done Reading files for other INIs");
}

void ReadINIFromValues(int16_t id) {
  const std::string ids = std::to_string(id);
  LogLine("\r\n\r\nReading files for value ID " + ids);
  Counts().pass = "value ID";
  Counts().passId = id;
  std::string area, section, entry;
  try {
    // Files are committed in groups and in the background; the query reads
    // them through another connection.
    CommitDataFiles();
    auto rs = Settings()->SettingsDB()->OpenRecordset(
        "SELECT Entries.DB_ID, Sections.Area, Sections.Section, Sections.File, Sections.Line, "
        "Entries.Entry, Entries.Line, Values.Value FROM (Sections LEFT JOIN Entries ON "
        "Sections.DB_ID = Entries.Link) LEFT JOIN [Values] ON Entries.DB_ID = Values.Link Where "
        "(((Entries.EntryID) = " +
            ids + ")) ORDER BY Entries.DB_ID",
        db::dbOpenForwardOnly);
    if (!rs->IsEOF()) {
      area = rs->Fields("Area").AsText();
      section = rs->Fields("Section").AsText();
      entry = rs->Fields("Entry").AsText();
      LocationRecord L;
      L.Section = section;
      L.Key = entry;
      LogLine("\r\n\r\nReading files for value ID " + ids + " " + area + ", " + section + ", " + entry);
      const std::string base = id == 74 ? "\\Data\\Universe\\" : "\\DATA\\";
      auto fileOf = [&base](const std::string& value) { return Settings()->VDPath() + base + value; };
      const int fArea = rs->FieldIndex("Area"), fFile = rs->FieldIndex("File"),
                fValue = rs->FieldIndex("Value"), fEntryLine = rs->FieldIndex("Entries.Line"),
                fSectionLine = rs->FieldIndex("Sections.Line");
      struct Row {
        Variant area, file, value, entryLine, sectionLine;
      };
      RowsAhead<Row> rows(
          *rs,
          [&](db::Recordset& r) {
            return Row{r.Fields(fArea), r.Fields(fFile), r.Fields(fValue), r.Fields(fEntryLine),
                       r.Fields(fSectionLine)};
          },
          [&](const Row& r) { return r.value.IsNull() ? std::string() : fileOf(r.value.AsText()); });
      for (Row row; !StopRequested() && rows.Next(row);) {
        const Variant& value = row.value;
        if (value.IsNull()) {
          // An entry line stored without any value names no file: report it
          // and go on with the next row rather than end the whole run.
          LogError(Error(94, "ReadINIFromValues",
                         "Invalid use of Null: a line of " + entry + " in " + row.file.AsText() + " line " +
                             row.entryLine.AsText() + " has no value"),
                   "ReadINIFromValues");
          continue;
        }
        std::string text = value.AsText();
        int32_t line = row.entryLine.AsLong();
        L.File = row.file.AsText();
        L.Line = line;
        L.Value = text;
        L.Index = Variant(line - row.sectionLine.AsLong()).AsInteger();
        ReadINIFile(row.area.AsText(), fileOf(text), L);
      }
    }
    // The files of this walk, and a failure of theirs, before the next step.
    CommitDataFiles();
  } catch (const Error& e) {
    LogError(e, "ReadINIFromValues");
    EndProgram();
  }
  LogLine("Done Reading files for value ID " + ids + " " + area + ", " + section + ", " + entry);
}

}  // namespace ketch
