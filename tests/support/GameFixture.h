// End-to-end runs of the real ketch and krun: a program folder of their own
// with a KETCH.MDB whose rule listing the test sets, a game tree written by
// the test, and the rows of VD.MDB read back.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <sstream>
#include <string>
#include <vector>

#include "KrunWriter.h"
#include "TestUtil.h"

namespace ketch::test {

class GameFixture : public ::testing::Test {
 protected:
  void SetUp() override { MakeProgramFolder(bin_); }

  // Runs SQL on a database file of the program folder.
  void Sql(const std::string& file, const std::string& sql) {
    sqlite3* h = nullptr;
    ASSERT_EQ(sqlite3_open((bin_ + "/" + file).c_str(), &h), SQLITE_OK);
    char* msg = nullptr;
    int rc = sqlite3_exec(h, sql.c_str(), nullptr, nullptr, &msg);
    std::string error = msg ? msg : "";
    sqlite3_free(msg);
    sqlite3_close(h);
    ASSERT_EQ(rc, SQLITE_OK) << error << "\n" << sql;
  }

  // Rows of a query, each row's columns joined by "|", NULL as "~".
  std::vector<std::string> Rows(const std::string& file, const std::string& sql) {
    std::vector<std::string> rows;
    sqlite3* h = nullptr;
    sqlite3_open_v2((bin_ + "/" + file).c_str(), &h, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(h, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
      ADD_FAILURE() << sqlite3_errmsg(h) << "\n" << sql;
    } else {
      while (sqlite3_step(st) == SQLITE_ROW) {
        std::string row;
        for (int i = 0; i < sqlite3_column_count(st); ++i) {
          if (i) row += "|";
          const unsigned char* t = sqlite3_column_text(st, i);
          row += t ? reinterpret_cast<const char*>(t) : "~";
        }
        rows.push_back(row);
      }
    }
    sqlite3_finalize(st);
    sqlite3_close(h);
    return rows;
  }

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

  void SetOtherINIs(const std::vector<std::string>& files) {
    std::string sql = "BEGIN; DELETE FROM _bc_OtherINI;";
    for (const auto& f : files) sql += "INSERT INTO _bc_OtherINI (Value) VALUES ('" + f + "');";
    sql += "COMMIT;";
    Sql("KETCH.MDB", sql);
  }

  // A text file of the game, lines joined with CR LF.
  void GameFile(const std::string& relative, const std::string& text) { WriteFile(game_ + "/" + relative, text); }
  void BinaryGameFile(const std::string& relative, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(game_ + "/" + relative).parent_path());
    krun::WriteBinaryIniFile(game_ + "/" + relative, text);
  }

  RunResult Ketch(std::vector<std::string> args) {
    args.insert(args.begin(), {bin_ + "/ketch", "--game", game_, "--log", log_, "--overwrite", "1"});
    std::filesystem::create_directories(log_);
    return test::Run(args, {}, {"QT_QPA_PLATFORM="});
  }
  std::string Log() { return ReadFile(log_ + "/ketch.log"); }

  TempDir dir_;
  std::string bin_ = dir_ / "bin";
  std::string game_ = dir_ / "game";
  std::string log_ = dir_ / "log";
};

}  // namespace ketch::test
