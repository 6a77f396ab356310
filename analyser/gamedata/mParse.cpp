#include "gamedata/mParse.h"

#include <memory>
#include <string>

#include "ini/Records.h"
#include "ini/mINI.h"
#include "platform/Database.h"
#include "shell/cSettings.h"
#include "shell/mError.h"

namespace ketch {

void ReadOtherINIs() {
  LogLine("\r\n\r\nReading files for other INIs");
  try {
    auto rs = Settings()->SettingsDB()->OpenRecordset("_bc_OtherINI", db::dbOpenForwardOnly);
    LocationRecord L;
    L.Section = "N/A";
    L.Key = "N/A";
    for (; !rs->IsEOF(); rs->MoveNext()) {
      std::string value = rs->Fields("Value").AsText();
      std::string path = Settings()->VDPath() + "\\DATA\\" + value;
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
  std::string area, section, entry;
  try {
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
      const int fArea = rs->FieldIndex("Area"), fFile = rs->FieldIndex("File"),
                fValue = rs->FieldIndex("Value"), fEntryLine = rs->FieldIndex("Entries.Line"),
                fSectionLine = rs->FieldIndex("Sections.Line");
      for (; !rs->IsEOF(); rs->MoveNext()) {
        const Variant& value = rs->Fields(fValue);
        if (value.IsNull()) {
          // An entry line stored without any value names no file: report it
          // and go on with the next row rather than end the whole run.
          LogError(Error(94, "ReadINIFromValues",
                         "Invalid use of Null: a line of " + entry + " in " +
                             rs->Fields(fFile).AsText() + " line " +
                             rs->Fields(fEntryLine).AsText() + " has no value"),
                   "ReadINIFromValues");
          continue;
        }
        std::string text = value.AsText();
        int32_t line = rs->Fields(fEntryLine).AsLong();
        L.File = rs->Fields(fFile).AsText();
        L.Line = line;
        L.Value = text;
        L.Index = Variant(line - rs->Fields(fSectionLine).AsLong()).AsInteger();
        ReadINIFile(rs->Fields(fArea).AsText(), Settings()->VDPath() + base + text, L);
      }
    }
  } catch (const Error& e) {
    LogError(e, "ReadINIFromValues");
    EndProgram();
  }
  LogLine("Done Reading files for value ID " + ids + " " + area + ", " + section + ", " + entry);
}

}  // namespace ketch
