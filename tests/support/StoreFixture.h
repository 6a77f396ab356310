// A program folder of its own for tests of the data store: a copy of the
// supplied KETCH.MDB opened as the settings database, the log of LogFixture,
// a data database built by InitDataDB, and helpers to replace the rule
// listing and to read rows back with SQL.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "LogFixture.h"
#include "Rows.h"
#include "platform/App.h"
#include "store/mDataDB.h"

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
    settings_->LogPath(dir_.Path());  // the database's row replaced it
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

  // Rows of the open data database, on its own connection.
  std::vector<std::string> DataRows(const std::string& sql) { return Rows(DataDB()->Handle(), sql); }

  std::string prog_;
};

}  // namespace ketch::test
