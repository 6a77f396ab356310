// Reading a database back in tests: the rows of a query as text, or its cells
// where NULL must be told from text, and statements run on a database file.
#pragma once

#include <sqlite3.h>

#include <optional>
#include <string>
#include <vector>

namespace ketch::test {

using Cell = std::optional<std::string>;  // nullopt: NULL

// The cells of every row; a query that fails is a test failure.
std::vector<std::vector<Cell>> Cells(sqlite3* db, const std::string& sql);

// The rows, each row's columns joined by "|", NULL as "NULL".
std::vector<std::string> Rows(sqlite3* db, const std::string& sql);
// The same on a read-only connection of its own to the database file.
std::vector<std::string> Rows(const std::string& file, const std::string& sql);
// The first row, or "<none>".
std::string One(const std::string& file, const std::string& sql);

// Runs the statements on the database file; a failure is a test failure.
void Sql(const std::string& file, const std::string& sql);

}  // namespace ketch::test
