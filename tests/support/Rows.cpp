#include "Rows.h"

#include <gtest/gtest.h>

namespace ketch::test {

std::vector<std::vector<Cell>> Cells(sqlite3* db, const std::string& sql) {
  std::vector<std::vector<Cell>> rows;
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << sqlite3_errmsg(db) << "\n" << sql;
    return rows;
  }
  while (sqlite3_step(st) == SQLITE_ROW) {
    auto& row = rows.emplace_back();
    for (int i = 0; i < sqlite3_column_count(st); ++i) {
      const unsigned char* t = sqlite3_column_text(st, i);
      row.push_back(t ? Cell(std::string(reinterpret_cast<const char*>(t), sqlite3_column_bytes(st, i)))
                      : std::nullopt);
    }
  }
  sqlite3_finalize(st);
  return rows;
}

std::vector<std::string> Rows(sqlite3* db, const std::string& sql) {
  std::vector<std::string> out;
  for (const auto& cells : Cells(db, sql)) {
    std::string row;
    for (size_t i = 0; i < cells.size(); ++i) row += (i ? "|" : "") + cells[i].value_or("NULL");
    out.push_back(row);
  }
  return out;
}

std::vector<std::string> Rows(const std::string& file, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  auto rows = Rows(db, sql);
  sqlite3_close(db);
  return rows;
}

std::string One(const std::string& file, const std::string& sql) {
  auto rows = Rows(file, sql);
  return rows.empty() ? "<none>" : rows[0];
}

void Sql(const std::string& file, const std::string& sql) {
  sqlite3* db = nullptr;
  char* message = nullptr;
  const bool opened = sqlite3_open(file.c_str(), &db) == SQLITE_OK;
  const int rc = opened ? sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) : SQLITE_CANTOPEN;
  EXPECT_EQ(rc, SQLITE_OK) << (message ? message : sqlite3_errmsg(db)) << "\n" << sql;
  sqlite3_free(message);
  sqlite3_close(db);
}

}  // namespace ketch::test
