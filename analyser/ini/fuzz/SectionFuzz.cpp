// Fuzz target of the section reader and DoSection over a fixed rule base:
// bytes in, sections, warnings and rows out. Each input is one file read in
// chunks of a size its first byte picks, checked section by section against
// the file's plain lines, and its rows rolled back afterwards so that every
// input starts from an empty data database.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ini/LineSource.h"
#include "ini/cFile.h"
#include "ini/mSection.h"
#include "platform/App.h"
#include "platform/Text.h"
#include "platform/Variant.h"
#include "rules/mParse.h"
#include "shell/cSettings.h"
#include "shell/mError.h"
#include "store/mDataDB.h"

namespace {

using ketch::cFile;

void Check(bool ok) {
  if (!ok) std::abort();
}

struct Ended {};

std::vector<std::string>& Box() {
  static std::vector<std::string> box;
  return box;
}

// Entry rule id -> value type per position (the last one repeats when the
// entry takes variable values) and whether it does.
struct Shape {
  std::vector<int> types;
  bool variable;
};
const std::map<int, Shape> kShapes = {
    {1, {{3}, false}}, {2, {{1}, false}}, {3, {{2}, false}}, {4, {{3, 3}, true}},
    {5, {{4}, false}}, {6, {{3, 2, 1}, false}}, {7, {{2, 2}, true}}, {70, {{3}, false}},
    {74, {{3}, false}}};

void SetUpOnce() {
  static bool done = false;
  if (done) return;
  done = true;
  namespace fs = std::filesystem;
  static const std::string folder =
      (fs::temp_directory_path() / ("ketch-fuzz-section-" + std::to_string(getpid()))).string();
  fs::create_directories(folder);
  std::atexit([] {
    std::error_code ec;
    fs::remove_all(folder, ec);
  });
  fs::copy_file(std::string(KETCH_PROGRAM_DIR) + "/KETCH.MDB", folder + "/KETCH.MDB",
                fs::copy_options::overwrite_existing);
  std::error_code ec;
  fs::create_symlink("/dev/null", folder + "/ketch.log", ec);
  ketch::App::SetPath(folder);
  static ketch::cSettings settings;
  settings.SettingsDBName(folder + "/KETCH.MDB");
  settings.LogPath(folder);
  ketch::SetSettings(&settings);
  ketch::LogView view;
  view.Append = [](const std::string& text) { Box().push_back(text); };
  ketch::SetLogView(view);
  ketch::SetEndHook([](int) { throw Ended{}; });

  settings.SettingsDB()->Execute(
      "DROP VIEW _bc_ListSections; CREATE TABLE _bc_ListSections (SectionName TEXT, EntryName TEXT, "
      "\"_bc_entries.IDX\" INTEGER, FixedArgsNo INTEGER, IsMultiLine INTEGER, HasVarArgs INTEGER, "
      "IsMandatory INTEGER, DB_ID INTEGER, ValueName TEXT, Type INTEGER, \"_bc_values.IDX\" INTEGER, "
      "IsMulti INTEGER, TypeName TEXT);"
      "INSERT INTO _bc_ListSections VALUES"
      "('Ship','nickname',1,1,0,0,1,1,'nickname',3,1,0,'String'),"
      "('Ship','ids_name',2,1,0,0,0,2,'ids_name',1,1,0,'Integer'),"
      "('Ship','mass',3,1,0,0,0,3,'mass',2,1,0,'Float'),"
      "('Ship','hp',4,1,1,1,0,4,'hp',3,1,0,'String'),"
      "('Ship','hp',4,1,1,1,0,4,'hardpoint',3,2,1,'String'),"
      "('Ship','separable',5,1,0,0,0,5,'separable',4,1,0,'Boolean'),"
      "('Ship','fuse',6,3,1,0,0,6,'f',3,1,0,'String'),"
      "('Ship','fuse',6,3,1,0,0,6,'t',2,2,0,'Float'),"
      "('Ship','fuse',6,3,1,0,0,6,'n',1,3,0,'Integer'),"
      "('Ship','pos',7,1,1,1,0,7,'x',2,1,0,'Float'),"
      "('Ship','pos',7,1,1,1,0,7,'y',2,2,1,'Float'),"
      "('system','nickname',1,1,0,0,1,70,'nickname',3,1,0,'String'),"
      "('system','file',2,1,0,0,1,74,'file',3,1,0,'String')");
  Check(ketch::InitDataDB("VD.MDB", ketch::DataDBHandle()));
  ketch::InitParse();
  Check(ketch::RuleBase().Count() == 2);
}

std::vector<std::vector<std::string>> Query(const std::string& sql) {
  std::vector<std::vector<std::string>> rows;
  auto rs = ketch::DataDB()->OpenRecordset(sql, ketch::db::dbOpenForwardOnly);
  while (!rs->IsEOF()) {
    std::vector<std::string> row;
    for (int i = 0; i < rs->FieldCount(); ++i) row.push_back(rs->Fields(i).IsNull() ? "~" : rs->Fields(i).AsText());
    rows.push_back(row);
    rs->MoveNext();
  }
  return rows;
}

// One section as the plain lines give it: header and entry lines.
struct Plain {
  std::string header;
  int32_t line;
  std::vector<std::string> entries;
};

// The file's lines read straight through, split at headers.
std::vector<Plain> PlainSections(const std::string& text, size_t chunk) {
  cFile reader;
  reader.OpenSource("f.ini", std::make_unique<ketch::MemoryLineSource>(text, chunk));
  std::vector<Plain> out;
  while (!reader.EndOfFile()) {
    std::string l = reader.ReadLine();
    if (l.empty()) continue;
    if (l[0] == '[')
      out.push_back({l, reader.LineNum(), {}});
    else if (!out.empty())
      out.back().entries.push_back(l);
  }
  return out;
}

bool IsWarningRecord(const std::string& text) { return text.find("\r\n      Section [") != std::string::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  SetUpOnce();
  const size_t chunk = data[0] == 0 ? static_cast<size_t>(-1) : data[0];
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::vector<Plain> plain = PlainSections(text, chunk);
  Box().clear();

  cFile reader;
  reader.OpenSource("f.ini", std::make_unique<ketch::MemoryLineSource>(text, chunk));
  ketch::BeginDataTrans();
  ketch::SectionRecord R;
  size_t n = 0, knownSections = 0, storedEntries = 0;
  try {
    while (ketch::ReadNextSection(R, reader)) {
      Check(n < plain.size());
      const Plain& p = plain[n++];
      Check(R.LineNo == p.line);
      Check(R.File == "f.ini");
      Check(R.EntryCount == static_cast<int16_t>(p.entries.size()));
      std::string name = p.header.back() == ']' ? p.header.substr(1, p.header.size() - 2) : p.header.substr(1);
      Check(R.SectionName == name);
      for (int16_t i = 1; i <= R.EntryCount; ++i) {
        std::string key, value;
        ketch::SplitEntryLine(p.entries[i - 1], key, value);
        Check(R.EntryNames[i] == key && R.EntryValues[i] == value);
      }
      const bool known = ketch::RuleBase().Find(ketch::UpperCase(R.SectionName)) != nullptr;
      const size_t before = Box().size();
      ketch::DoSection("ships", R);
      size_t warnings = 0;
      for (size_t b = before; b < Box().size(); ++b) warnings += IsWarningRecord(Box()[b]);
      if (known) {
        ++knownSections;
        Check(warnings <= static_cast<size_t>(R.EntryCount));
        storedEntries += R.EntryCount - warnings;
      } else {
        Check(warnings == 1);
      }
    }
  } catch (const Ended&) {
    // Nothing here may end the program: every finding is a warning.
    Check(false);
  } catch (const ketch::Error& e) {
    // Only a section past the record's capacity stops the reader.
    Check(e.Number == ketch::errSubscript && n < plain.size() && plain[n].entries.size() > 2048);
    while (ketch::DataDB()->InTransaction()) ketch::DataDB()->Rollback();  // the file and its group
    return 0;
  }
  Check(n == plain.size());

  // What was stored: one row per known section, one per good line, and
  // values that read back under their rule's type.
  Check(Query("SELECT count(*) FROM Sections")[0][0] == std::to_string(knownSections));
  Check(Query("SELECT count(*) FROM Entries")[0][0] == std::to_string(storedEntries));
  for (const auto& row : Query("SELECT Entries.DB_ID, Entries.EntryID, count([Values].DB_ID) FROM Entries "
                               "LEFT JOIN [Values] ON [Values].Link = Entries.DB_ID GROUP BY Entries.DB_ID")) {
    const Shape& shape = kShapes.at(std::stoi(row[1]));
    const size_t fixed = shape.variable ? shape.types.size() - 1 : shape.types.size();
    const size_t count = std::stoul(row[2]);
    Check(shape.variable ? count >= fixed : count == fixed);
  }
  for (const auto& row : Query("SELECT Entries.EntryID, [Values].Value FROM [Values] JOIN Entries ON "
                               "[Values].Link = Entries.DB_ID ORDER BY [Values].DB_ID")) {
    const Shape& shape = kShapes.at(std::stoi(row[0]));
    // Each value is checked under every type its entry holds: the kinds of
    // one entry's positions differ, so only what all of them share is asked.
    bool fits = false;
    for (int type : shape.types) {
      try {
        ketch::cValue v;
        v.Init("v", type, 1, false);
        v.Value(row[1]);
        fits = fits || v.Value().AsText() == row[1];
      } catch (const ketch::Error&) {
      }
    }
    Check(fits);
  }
  while (ketch::DataDB()->InTransaction()) ketch::DataDB()->Rollback();  // the file and its group
  return 0;
}
