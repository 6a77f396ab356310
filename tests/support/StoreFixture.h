// A program folder of its own for tests of the data store: a copy of the
// supplied KETCH.MDB opened as the settings database, the log of LogFixture,
// a data database built by InitDataDB, and helpers to replace the rule
// listing and to read rows back with SQL.
#pragma once

#include <sqlite3.h>

#include <filesystem>
#include <string>
#include <vector>

#include "shell/LogFixture.h"
#include "store/mDataDB.h"
#include "platform/App.h"
#include "rules/Storage.h"

namespace ketch::test {

class StoreFixture : public LogFixture {
 protected:
  void SetUp() override {
    LogFixture::SetUp();
    prog_ = dir_ / "prog";
    std::filesystem::create_directories(prog_);
    std::filesystem::copy_file(std::string(KETCH_PROGRAM_DIR) + "/KETCH.MDB", prog_ + "/KETCH.MDB");
    App::SetPath(prog_);
    settings_->SettingsDBName(prog_ + "/KETCH.MDB");
    settings_->LogPath(dir_.Path());
  }
  void TearDown() override {
    SetStorage({});
    DataDBHandle().reset();
    SetBeforeEndHook(nullptr);
    App::SetPath("");
    LogFixture::TearDown();
  }

  bool InitData() { return InitDataDB("VD.MDB", DataDBHandle()); }
  std::string DataPath() const { return prog_ + "/VD.MDB"; }
  db::Database& SettingsDB() { return *settings_->SettingsDB(); }

  // Replaces the listing by a table whose rows come back in the given order.
  // Each row: SectionName, EntryName, _bc_entries.IDX, FixedArgsNo,
  // IsMultiLine, HasVarArgs, IsMandatory, DB_ID, ValueName, Type,
  // _bc_values.IDX, IsMulti, TypeName, as SQL literals.
  void SetListing(const std::vector<std::string>& rows) {
    std::string sql =
        "DROP VIEW _bc_ListSections; CREATE TABLE _bc_ListSections (SectionName TEXT, EntryName TEXT, "
        "\"_bc_entries.IDX\" INTEGER, FixedArgsNo INTEGER, IsMultiLine INTEGER, HasVarArgs INTEGER, "
        "IsMandatory INTEGER, DB_ID INTEGER, ValueName TEXT, Type INTEGER, \"_bc_values.IDX\" INTEGER, "
        "IsMulti INTEGER, TypeName TEXT)";
    for (const auto& r : rows) sql += "; INSERT INTO _bc_ListSections VALUES (" + r + ")";
    SettingsDB().Execute(sql);
  }

  // The rows of a query on a connection, columns joined by "|", null as "NULL".
  static std::vector<std::string> Rows(sqlite3* db, const std::string& sql) {
    std::vector<std::string> out;
    sqlite3_stmt* st = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    while (st && sqlite3_step(st) == SQLITE_ROW) {
      std::string row;
      for (int i = 0; i < sqlite3_column_count(st); ++i) {
        if (i) row += "|";
        const unsigned char* t = sqlite3_column_text(st, i);
        row += t ? reinterpret_cast<const char*>(t) : "NULL";
      }
      out.push_back(row);
    }
    sqlite3_finalize(st);
    return out;
  }
  std::vector<std::string> DataRows(const std::string& sql) { return Rows(DataDB()->Handle(), sql); }

  std::string prog_;
};

}  // namespace ketch::test
