// mkketchdb: makes the supplied settings and rule database KETCH.MDB from its
// readable sources (schema.sql and the .tsv tables beside it), so that the
// file in the program folder is always built from what the repository holds.
//
//   mkketchdb SOURCE_DIR OUTPUT_FILE
#include <sqlite3.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Row = std::vector<std::string>;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// A .tsv file: the first line that is not a comment names the columns.
std::vector<Row> ReadTsv(const std::string& path, size_t columns) {
  std::istringstream in(ReadAll(path));
  std::vector<Row> rows;
  std::string line;
  bool header = true;
  int lineNo = 0;
  while (std::getline(in, line)) {
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    Row row;
    size_t start = 0;
    for (;;) {
      size_t tab = line.find('\t', start);
      row.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    if (row.size() != columns)
      throw std::runtime_error(path + ":" + std::to_string(lineNo) + ": expected " +
                               std::to_string(columns) + " columns, found " +
                               std::to_string(row.size()));
    if (header) {
      header = false;
      continue;
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

class Db {
 public:
  explicit Db(const std::string& path) {
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) Fail("open");
  }
  ~Db() { sqlite3_close(db_); }
  void Exec(const std::string& sql) {
    char* msg = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &msg) != SQLITE_OK) {
      std::string m = msg ? msg : "";
      sqlite3_free(msg);
      throw std::runtime_error(m);
    }
  }
  // Inserts one row; an empty cell in a column listed in nullable is NULL.
  void Insert(const std::string& table, const std::vector<std::string>& cols, const Row& values,
              const std::vector<bool>& nullable = {}) {
    std::string sql = "INSERT INTO " + table + " (";
    for (size_t i = 0; i < cols.size(); ++i) sql += (i ? ", " : "") + cols[i];
    sql += ") VALUES (";
    for (size_t i = 0; i < cols.size(); ++i) sql += i ? ", ?" : "?";
    sql += ")";
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) Fail(sql);
    for (size_t i = 0; i < values.size(); ++i) {
      if (i < nullable.size() && nullable[i] && values[i].empty())
        sqlite3_bind_null(st, int(i) + 1);
      else
        sqlite3_bind_text(st, int(i) + 1, values[i].c_str(), -1, SQLITE_TRANSIENT);
    }
    int rc = sqlite3_step(st);
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE) Fail(sql);
  }

 private:
  [[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error(what + ": " + sqlite3_errmsg(db_));
  }
  sqlite3* db_ = nullptr;
};

// rules.tsv: one row per value rule; sections and entries get their own tables.
void LoadRules(Db& db, const std::string& path) {
  enum { cSection, cEntry, cFixed, cMultiLine, cVarArgs, cMandatory, cDbId, cValueName, cType, cIdx, cIsMulti, cCount };
  std::map<std::string, int> sectionIds;
  std::map<std::string, std::string> entryOf;  // entry DB_ID -> section/entry it belongs to
  std::string lastSection, lastEntryKey;
  int sectionIdx = 0, entryIdx = 0;
  for (const Row& r : ReadTsv(path, cCount)) {
    if (r[cSection] != lastSection) {
      if (sectionIds.count(r[cSection]))
        throw std::runtime_error("section " + r[cSection] + " appears in two separate runs");
      sectionIds[r[cSection]] = ++sectionIdx;
      db.Insert("_bc_sections", {"DB_ID", "SectionName", "IDX"},
                {std::to_string(sectionIdx), r[cSection], std::to_string(sectionIdx)});
      lastSection = r[cSection];
      lastEntryKey.clear();
      entryIdx = 0;
    }
    std::string entryKey = r[cSection] + "\t" + r[cEntry] + "\t" + r[cDbId];
    if (entryKey != lastEntryKey) {
      if (entryOf.count(r[cDbId]))
        throw std::runtime_error("entry DB_ID " + r[cDbId] + " is used twice");
      entryOf[r[cDbId]] = entryKey;
      db.Insert("_bc_entries",
                {"DB_ID", "Section", "EntryName", "IDX", "FixedArgsNo", "IsMultiLine", "HasVarArgs", "IsMandatory"},
                {r[cDbId], std::to_string(sectionIds[r[cSection]]), r[cEntry], std::to_string(++entryIdx),
                 r[cFixed], r[cMultiLine], r[cVarArgs], r[cMandatory]});
      lastEntryKey = entryKey;
    }
    db.Insert("_bc_values", {"Entry", "ValueName", "IDX", "Type", "IsMulti"},
              {r[cDbId], r[cValueName], r[cIdx], r[cType], r[cIsMulti]}, {false, true});
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: mkketchdb SOURCE_DIR OUTPUT_FILE\n");
    return 1;
  }
  const std::string src = argv[1], out = argv[2], tmp = out + ".new";
  try {
    std::remove(tmp.c_str());
    {
      Db db(tmp);
      db.Exec(ReadAll(src + "/schema.sql"));
      db.Exec("BEGIN");
      for (const Row& r : ReadTsv(src + "/settings.tsv", 3))
        db.Insert("_bc_Settings", {"VDPath", "LogPath", "OverwriteLog"}, r);
      for (const Row& r : ReadTsv(src + "/types.tsv", 2))
        db.Insert("_bc_types", {"Type", "TypeName"}, r);
      for (const Row& r : ReadTsv(src + "/otherini.tsv", 1))
        db.Insert("_bc_OtherINI", {"Value"}, r);
      LoadRules(db, src + "/rules.tsv");
      db.Exec("COMMIT");
    }
    // Replace the old file only once the new one is whole.
    if (std::rename(tmp.c_str(), out.c_str()) != 0) throw std::runtime_error("cannot write " + out);
  } catch (const std::exception& e) {
    std::remove(tmp.c_str());
    std::fprintf(stderr, "mkketchdb: %s\n", e.what());
    return 1;
  }
  return 0;
}
