// Storing checked entry lines: a rule base of 1,000 entry rules, 200,000
// entry lines of 4 values each checked and stored through cSection.Store in
// one per-file transaction, against the same rows written with bare prepared
// SQLite inserts in one transaction.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/App.h"
#include "rules/mParse.h"
#include "shell/cSettings.h"
#include "shell/mError.h"
#include "store/mDataDB.h"

namespace ketch {
namespace {

constexpr int kSections = 100;
constexpr int kEntriesPerSection = 10;
constexpr int kLines = 200000;

std::string SectionName(int s) { return "Section" + std::to_string(s); }
// Even entries: 4 fixed values (integer, float, text, boolean), single line.
// Odd entries: 2 fixed values and a text multi value, multi-line.
std::string EntryName(int e) { return "entry_" + std::to_string(e); }

struct Line {
  int section, entry;
  std::string values;
};

// Section occurrences of kEntriesPerSection lines each; every odd entry is
// given twice in the occurrence (entries 1 and 5 take the slots of 2 and 6).
std::vector<Line> MakeLines() {
  std::vector<Line> lines;
  lines.reserve(kLines);
  for (int i = 0; lines.size() < static_cast<size_t>(kLines); ++i) {
    int s = i % kSections;
    for (int e = 0; e < kEntriesPerSection; ++e) {
      int entry = e % 2 == 0 && e % 4 == 2 ? e - 1 : e;
      std::string v = entry % 2 == 0
                          ? std::to_string(i) + ", " + std::to_string(e) + ".25, name_" + std::to_string(i) + ", True"
                          : std::to_string(i) + ", " + std::to_string(e) + ".5, hp_" + std::to_string(e) + ", x";
      lines.push_back({s, entry, v});
    }
  }
  lines.resize(kLines);
  return lines;
}

class Setup {
 public:
  Setup() {
    char tmpl[] = "/tmp/ketch-bench-XXXXXX";
    dir_ = mkdtemp(tmpl);
    std::filesystem::copy_file(std::string(KETCH_PROGRAM_DIR) + "/KETCH.MDB", dir_ + "/KETCH.MDB");
    App::SetPath(dir_);
    settings_.SettingsDBName(dir_ + "/KETCH.MDB");
    settings_.LogPath(dir_);
    SetSettings(&settings_);
    std::string sql =
        "DROP VIEW _bc_ListSections; CREATE TABLE _bc_ListSections (SectionName TEXT, EntryName TEXT, "
        "\"_bc_entries.IDX\" INTEGER, FixedArgsNo INTEGER, IsMultiLine INTEGER, HasVarArgs INTEGER, "
        "IsMandatory INTEGER, DB_ID INTEGER, ValueName TEXT, Type INTEGER, \"_bc_values.IDX\" INTEGER, "
        "IsMulti INTEGER, TypeName TEXT); BEGIN";
    int id = 0;
    for (int s = 0; s < kSections; ++s) {
      for (int e = 0; e < kEntriesPerSection; ++e) {
        ++id;
        std::string head = "INSERT INTO _bc_ListSections VALUES ('" + SectionName(s) + "','" + EntryName(e) + "'," +
                           std::to_string(e) + ",";
        const std::string ids = "," + std::to_string(id) + ",";
        if (e % 2 == 0) {
          const char* types[] = {"1", "2", "3", "4"};
          for (int p = 1; p <= 4; ++p)
            sql += ";" + head + "4,0,0,0" + ids + "'v" + std::to_string(p) + "'," + types[p - 1] + "," +
                   std::to_string(p) + ",0,'T')";
        } else {
          sql += ";" + head + "2,1,1,0" + ids + "'a',1,1,0,'T')";
          sql += ";" + head + "2,1,1,0" + ids + "'b',2,2,0,'T')";
          sql += ";" + head + "2,1,1,0" + ids + "'m',3,3,1,'T')";
        }
      }
    }
    settings_.SettingsDB()->Execute(sql + "; COMMIT");
    lines_ = MakeLines();
  }
  ~Setup() {
    DataDBHandle().reset();
    settings_.SettingsDBName("");  // saves and closes before the folder goes
    SetSettings(nullptr);
    std::filesystem::remove_all(dir_);
  }
  const std::vector<Line>& Lines() const { return lines_; }

 private:
  std::string dir_;
  cSettings settings_;
  std::vector<Line> lines_;
};

Setup& Shared() {
  static Setup setup;
  return setup;
}

// Keys as a reader hands them over: upper-cased once per line by the caller.
void BM_SectionStore(benchmark::State& state) {
  Setup& setup = Shared();
  const auto& lines = setup.Lines();
  std::vector<std::string> sectionKeys, entryKeys;
  for (int s = 0; s < kSections; ++s) sectionKeys.push_back(UpperCase(SectionName(s)));
  for (int e = 0; e < kEntriesPerSection; ++e) entryKeys.push_back(EntryName(e));
  for (auto _ : state) {
    state.PauseTiming();
    if (!InitDataDB("VD.MDB", DataDBHandle())) state.SkipWithError("InitDataDB failed");
    InitParse();
    state.ResumeTiming();
    BeginDataTrans();
    for (size_t i = 0; i < lines.size(); i += kEntriesPerSection) {
      cSection& section = RuleBase().Item(sectionKeys[lines[i].section]);
      for (size_t k = i; k < i + kEntriesPerSection; ++k) {
        const Line& l = lines[k];
        section.Item(UpperCase(entryKeys[l.entry])).SetValues(entryKeys[l.entry], l.values, static_cast<int32_t>(k));
      }
      section.Area("SHIPS");
      section.File("C:\\Game\\DATA\\SHIPS\\shiparch.ini");
      section.LineNo(static_cast<int32_t>(i));
      section.Store();
      section.Clear();
    }
    CommitDataTrans();
  }
  state.counters["lines/s"] = benchmark::Counter(static_cast<double>(lines.size()), benchmark::Counter::kIsIterationInvariantRate);
}

void Check(int rc, sqlite3* db) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE) {
    fprintf(stderr, "sqlite: %s\n", sqlite3_errmsg(db));
    abort();
  }
}

// The same rows with prepared statements and nothing else: no checking, no
// record sets; values are bound from the text as read.
void BM_BareInsert(benchmark::State& state) {
  Setup& setup = Shared();
  const auto& lines = setup.Lines();
  for (auto _ : state) {
    state.PauseTiming();
    if (!InitDataDB("VD.MDB", DataDBHandle())) state.SkipWithError("InitDataDB failed");
    sqlite3* db = DataDB()->Handle();
    sqlite3_stmt *sec, *ent, *val;
    Check(sqlite3_prepare_v2(db, "INSERT INTO Sections (DB_ID, Area, Section, File, Line) VALUES (?1,?2,?3,?4,?5)", -1, &sec, nullptr), db);
    Check(sqlite3_prepare_v2(db, "INSERT INTO Entries (DB_ID, Entry, EntryID, Link, Line) VALUES (?1,?2,?3,?4,?5)", -1, &ent, nullptr), db);
    Check(sqlite3_prepare_v2(db, "INSERT INTO \"Values\" (DB_ID, Link, Value) VALUES (?1,?2,?3)", -1, &val, nullptr), db);
    state.ResumeTiming();
    int secId = 0, entId = 0, valId = 0;
    std::string token;
    Check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db);
    for (size_t i = 0; i < lines.size(); i += kEntriesPerSection) {
      sqlite3_bind_int(sec, 1, ++secId);
      sqlite3_bind_text(sec, 2, "ships", -1, SQLITE_STATIC);
      std::string name = "section" + std::to_string(lines[i].section);
      sqlite3_bind_text(sec, 3, name.c_str(), -1, SQLITE_STATIC);
      sqlite3_bind_text(sec, 4, "C:\\Game\\DATA\\SHIPS\\shiparch.ini", -1, SQLITE_STATIC);
      sqlite3_bind_int(sec, 5, static_cast<int>(i));
      Check(sqlite3_step(sec), db);
      sqlite3_reset(sec);
      for (size_t k = i; k < i + kEntriesPerSection; ++k) {
        const Line& l = lines[k];
        std::string entry = "entry_" + std::to_string(l.entry);
        sqlite3_bind_int(ent, 1, ++entId);
        sqlite3_bind_text(ent, 2, entry.c_str(), -1, SQLITE_STATIC);
        sqlite3_bind_int(ent, 3, l.entry + 1);
        sqlite3_bind_int(ent, 4, secId);
        sqlite3_bind_int(ent, 5, static_cast<int>(k));
        Check(sqlite3_step(ent), db);
        sqlite3_reset(ent);
        size_t from = 0;
        while (from <= l.values.size()) {
          size_t comma = l.values.find(',', from);
          if (comma == std::string::npos) comma = l.values.size();
          size_t b = from, e = comma;
          while (b < e && l.values[b] == ' ') ++b;
          token.assign(l.values, b, e - b);
          sqlite3_bind_int(val, 1, ++valId);
          sqlite3_bind_int(val, 2, entId);
          sqlite3_bind_text(val, 3, token.data(), static_cast<int>(token.size()), SQLITE_STATIC);
          Check(sqlite3_step(val), db);
          sqlite3_reset(val);
          from = comma + 1;
        }
      }
    }
    Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
    state.PauseTiming();
    sqlite3_finalize(sec);
    sqlite3_finalize(ent);
    sqlite3_finalize(val);
    state.ResumeTiming();
  }
  state.counters["lines/s"] = benchmark::Counter(static_cast<double>(lines.size()), benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(BM_SectionStore)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_BareInsert)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace
}  // namespace ketch

BENCHMARK_MAIN();
