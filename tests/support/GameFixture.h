// End-to-end runs of the real ketch and krun: a program folder of their own
// with a KETCH.MDB whose rule listing the test sets, a game tree written by
// the test or copied from a case of tests/data, and the log and the rows of
// VD.MDB read back.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "Golden.h"
#include "KrunWriter.h"
#include "Process.h"
#include "Rows.h"
#include "TestUtil.h"

namespace ketch::test {

class GameFixture : public ::testing::Test {
 protected:
  void SetUp() override { MakeProgramFolder(bin_); }

  // The rules of a small game: Ship and system entries.
  static constexpr const char* kShipRules =
      "Ship\tnickname\t1\t0\t0\t1\t1\tnickname\t3\t1\t0\n"
      "Ship\tids_name\t1\t0\t0\t0\t2\tids_name\t1\t1\t0\n"
      "Ship\tmass\t1\t0\t0\t0\t3\tmass\t2\t1\t0\n"
      "Ship\thp\t1\t1\t1\t0\t4\thp\t3\t1\t0\n"
      "Ship\thp\t1\t1\t1\t0\t4\thardpoint\t3\t2\t1\n"
      "Ship\tseparable\t1\t0\t0\t0\t5\tseparable\t4\t1\t0\n"
      "Ship\tda_archetype\t1\t0\t0\t0\t101\tda_archetype\t3\t1\t0\n"
      "system\tnickname\t1\t0\t0\t1\t70\tnickname\t3\t1\t0\n"
      "system\tfile\t1\t0\t0\t1\t74\tfile\t3\t1\t0\n";

  // Replaces the rule listing: one line per value rule, tab-separated:
  // section, entry, fixed count, multi-line, var args, mandatory, entry id,
  // value name, type, position, is multi.
  void SetRules(const std::string& tsv) {
    std::string sql = "BEGIN; DELETE FROM _bc_values; DELETE FROM _bc_entries; DELETE FROM _bc_sections;";
    std::istringstream in(tsv);
    std::string line, lastSection, lastEntry;
    int sectionIdx = 0, entryIdx = 0;
    auto quote = [](const std::string& s) { return "'" + s + "'"; };
    while (std::getline(in, line)) {
      if (line.empty()) continue;
      std::vector<std::string> c;
      std::istringstream cols(line);
      for (std::string col; std::getline(cols, col, '\t');) c.push_back(col);
      c.resize(11);
      if (c[0] != lastSection) {
        const std::string idx = std::to_string(++sectionIdx);
        sql += "INSERT INTO _bc_sections VALUES (" + idx + ", " + quote(c[0]) + ", " + idx + ");";
        lastSection = c[0];
        lastEntry.clear();
        entryIdx = 0;
      }
      if (c[6] != lastEntry) {
        const std::string idx = std::to_string(++entryIdx);
        sql += "INSERT INTO _bc_entries VALUES (" + c[6] + ", " + std::to_string(sectionIdx) + ", " +
               quote(c[1]) + ", " + idx + ", " + c[2] + ", " + c[3] + ", " + c[4] + ", " + c[5] + ");";
        lastEntry = c[6];
      }
      sql += "INSERT INTO _bc_values (Entry, ValueName, IDX, Type, IsMulti) VALUES (" + c[6] + ", " +
             (c[7].empty() ? "NULL" : quote(c[7])) + ", " + c[9] + ", " + c[8] + ", " + c[10] + ");";
    }
    Sql("KETCH.MDB", sql + "COMMIT;");
  }

  // The other-INI list, in one transaction: a thousand single commits take seconds.
  void SetOtherINIs(const std::vector<std::string>& files) {
    std::string sql = "BEGIN; DELETE FROM _bc_OtherINI;";
    for (const auto& f : files) sql += "INSERT INTO _bc_OtherINI (Value) VALUES ('" + f + "');";
    Sql("KETCH.MDB", sql + "COMMIT;");
  }

  void GameFile(const std::string& relative, const std::string& bytes) { WriteFile(game_ + "/" + relative, bytes); }
  void BinaryGameFile(const std::string& relative, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(game_ + "/" + relative).parent_path());
    krun::WriteBinaryIniFile(game_ + "/" + relative, text);
  }

  // The game tree of tests/data/<name>/game; the files its list "binary"
  // names are written as binary files of their text.
  void LoadCase(const std::string& name) {
    namespace fs = std::filesystem;
    const fs::path game = CaseDir(name) + "/game";
    for (const auto& item : fs::recursive_directory_iterator(game))
      if (item.is_regular_file()) GameFile(fs::relative(item.path(), game).string(), ReadFile(item.path()));
    std::istringstream binary(ReadFile(CaseDir(name) + "/binary"));
    for (std::string file; std::getline(binary, file);)
      if (!file.empty()) BinaryGameFile(file, ReadFile(game / file));
  }
  // The whole log against the case's ketch.log.expected.
  void ExpectLog(const std::string& name) {
    SCOPED_TRACE("the log of case " + name);
    ExpectGolden(CaseDir(name) + "/ketch.log.expected", Log(),
                 {{game_, "${GAME}"}, {log_, "${LOG}"}, {bin_, "${BIN}"}});
  }

  // The rows of VD.MDB against the case's rows.expected: the sections, then
  // each entry line with its values.
  void ExpectStored(const std::string& name) {
    std::string rows;
    for (const char* sql : {"SELECT DB_ID, Area, Section, File, Line FROM Sections ORDER BY DB_ID",
                            "SELECT e.Link, e.Entry, e.EntryID, e.Line, group_concat(v.Value, ';') FROM Entries e "
                            "LEFT JOIN \"Values\" v ON v.Link = e.DB_ID GROUP BY e.DB_ID ORDER BY e.DB_ID"})
      for (const auto& row : Rows("VD.MDB", sql)) rows += row + "\n";
    SCOPED_TRACE("the rows of case " + name);
    ExpectGolden(CaseDir(name) + "/rows.expected", rows, {{game_, "${GAME}"}});
  }

  RunResult Ketch(std::vector<std::string> args) { return test::Run(KetchCommand(std::move(args))); }
  Command KetchCommand(std::vector<std::string> args) {
    args.insert(args.begin(), {bin_ + "/ketch", "--game", game_, "--log", log_, "--overwrite", "1"});
    std::filesystem::create_directories(log_);
    return {.argv = args, .env = Env()};
  }
  // The environment of a run: no display, and the user's own folder (where a
  // program folder that cannot be written sends the files) in the test's.
  std::vector<std::string> Env() const {
    std::vector<std::string> env = kNoDisplay;
    env.push_back("XDG_DATA_HOME=" + userData_);
    return env;
  }
  std::string Log() { return ReadFile(log_ + "/ketch.log"); }

  // The number of a line of the summary ketch prints after a run.
  static std::string SummaryCount(const std::string& out, const std::string& label) {
    size_t at = out.find("\n  " + label + " ");
    if (at == std::string::npos) return "missing";
    const std::string line = out.substr(at + 1, out.find('\n', at + 1) - at - 1);
    return line.substr(line.find_last_of(' ') + 1);
  }

  // Rows of a database file of the program folder.
  std::vector<std::string> Rows(const std::string& file, const std::string& sql) {
    return test::Rows(bin_ + "/" + file, sql);
  }
  std::string One(const std::string& file, const std::string& sql) { return test::One(bin_ + "/" + file, sql); }
  void Sql(const std::string& file, const std::string& sql) { test::Sql(bin_ + "/" + file, sql); }

  TempDir dir_;
  std::string bin_ = dir_ / "bin";
  std::string game_ = dir_ / "game";
  std::string log_ = dir_ / "log";
  std::string userData_ = dir_ / "user-data";
};

}  // namespace ketch::test
