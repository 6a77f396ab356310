// The two limits Ketch is measured against, on the rows and files of a real
// run:
//   ketch_limits insert SOURCE.MDB TARGET [--one-transaction | --files-per-transaction=N]
//     stores the rows of SOURCE (a VD.MDB written by ketch) again with bare
//     prepared inserts into a new TARGET with the same tables and indexes,
//     WAL, synchronous=NORMAL, one transaction per data file (or one for the
//     whole load with the secondary indexes built after it, or one for every
//     N files).
//     Further arguments that start with "PRAGMA" run before the tables are
//     made (page size, cache size experiments).
//   ketch_limits parse LISTFILE
//     reads and splits the text files named in LISTFILE (one path a line):
//     lines, comments, headers, keys, comma-separated values; no checking,
//     no storing.
// Both print one line: "rows=N seconds=S rows_per_s=R" or
// "files=N lines=L tokens=T seconds=S".
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

void Check(sqlite3* db, int rc) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
    std::fprintf(stderr, "sqlite: %s\n", sqlite3_errmsg(db));
    std::exit(1);
  }
}

void Exec(sqlite3* db, const std::string& sql) { Check(db, sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr)); }

struct SectionRow {
  int64_t id, line;
  std::string area, section, file;
};
struct EntryRow {
  int64_t id, entryId, link, line;
  std::string entry;
};
struct ValueRow {
  int64_t id, link;
  bool null;
  std::string value;
};

std::string Text(sqlite3_stmt* s, int i) {
  const unsigned char* t = sqlite3_column_text(s, i);
  return t ? std::string(reinterpret_cast<const char*>(t), sqlite3_column_bytes(s, i)) : std::string();
}

int Insert(const char* source, const char* target, bool oneTransaction, int filesPerTransaction,
           const std::vector<std::string>& pragmas) {
  sqlite3* src;
  Check(nullptr, sqlite3_open_v2(source, &src, SQLITE_OPEN_READONLY, nullptr));
  std::vector<std::string> tables, indexes;
  {
    sqlite3_stmt* s;
    sqlite3_prepare_v2(src, "SELECT type, sql FROM sqlite_schema WHERE sql NOT NULL ORDER BY rowid", -1, &s,
                       nullptr);
    while (sqlite3_step(s) == SQLITE_ROW) (Text(s, 0) == "index" ? indexes : tables).push_back(Text(s, 1));
    sqlite3_finalize(s);
  }
  std::vector<SectionRow> sections;
  std::vector<EntryRow> entries;
  std::vector<ValueRow> values;
  sqlite3_stmt* s;
  sqlite3_prepare_v2(src, "SELECT DB_ID, Area, Section, File, Line FROM Sections ORDER BY DB_ID", -1, &s, nullptr);
  while (sqlite3_step(s) == SQLITE_ROW)
    sections.push_back({sqlite3_column_int64(s, 0), sqlite3_column_int64(s, 4), Text(s, 1), Text(s, 2), Text(s, 3)});
  sqlite3_finalize(s);
  sqlite3_prepare_v2(src, "SELECT DB_ID, Entry, EntryID, Link, Line FROM Entries ORDER BY DB_ID", -1, &s, nullptr);
  while (sqlite3_step(s) == SQLITE_ROW)
    entries.push_back({sqlite3_column_int64(s, 0), sqlite3_column_int64(s, 2), sqlite3_column_int64(s, 3),
                       sqlite3_column_int64(s, 4), Text(s, 1)});
  sqlite3_finalize(s);
  sqlite3_prepare_v2(src, "SELECT DB_ID, Link, Value FROM \"Values\" ORDER BY DB_ID", -1, &s, nullptr);
  while (sqlite3_step(s) == SQLITE_ROW)
    values.push_back({sqlite3_column_int64(s, 0), sqlite3_column_int64(s, 1),
                      sqlite3_column_type(s, 2) == SQLITE_NULL, Text(s, 2)});
  sqlite3_finalize(s);
  sqlite3_close(src);

  std::remove(target);
  for (const char* suffix : {"-wal", "-shm"}) std::remove((std::string(target) + suffix).c_str());
  const auto start = Clock::now();
  sqlite3* db;
  Check(nullptr, sqlite3_open(target, &db));
  for (const std::string& p : pragmas) Exec(db, p);
  Exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL");
  for (const std::string& t : tables) Exec(db, t);
  if (!oneTransaction)
    for (const std::string& i : indexes) Exec(db, i);
  sqlite3_stmt *insSection, *insEntry, *insValue;
  sqlite3_prepare_v2(db, "INSERT INTO Sections (DB_ID, Area, Section, File, Line) VALUES (?1, ?2, ?3, ?4, ?5)", -1,
                     &insSection, nullptr);
  sqlite3_prepare_v2(db, "INSERT INTO Entries (DB_ID, Entry, EntryID, Link, Line) VALUES (?1, ?2, ?3, ?4, ?5)", -1,
                     &insEntry, nullptr);
  sqlite3_prepare_v2(db, "INSERT INTO \"Values\" (DB_ID, Link, Value) VALUES (?1, ?2, ?3)", -1, &insValue, nullptr);
  auto step = [db](sqlite3_stmt* st) {
    Check(db, sqlite3_step(st));
    sqlite3_reset(st);
  };
  size_t e = 0, v = 0;
  bool open = false;
  int files = 0;
  if (oneTransaction) {
    Exec(db, "BEGIN");
    open = true;
  }
  for (size_t i = 0; i < sections.size(); ++i) {
    const SectionRow& r = sections[i];
    if (!oneTransaction && (i == 0 || r.file != sections[i - 1].file) && files++ % filesPerTransaction == 0) {
      if (open) Exec(db, "COMMIT");
      Exec(db, "BEGIN");
      open = true;
    }
    sqlite3_bind_int64(insSection, 1, r.id);
    sqlite3_bind_text(insSection, 2, r.area.data(), static_cast<int>(r.area.size()), SQLITE_STATIC);
    sqlite3_bind_text(insSection, 3, r.section.data(), static_cast<int>(r.section.size()), SQLITE_STATIC);
    sqlite3_bind_text(insSection, 4, r.file.data(), static_cast<int>(r.file.size()), SQLITE_STATIC);
    sqlite3_bind_int64(insSection, 5, r.line);
    step(insSection);
    for (; e < entries.size() && entries[e].link == r.id; ++e) {
      const EntryRow& er = entries[e];
      sqlite3_bind_int64(insEntry, 1, er.id);
      sqlite3_bind_text(insEntry, 2, er.entry.data(), static_cast<int>(er.entry.size()), SQLITE_STATIC);
      sqlite3_bind_int64(insEntry, 3, er.entryId);
      sqlite3_bind_int64(insEntry, 4, er.link);
      sqlite3_bind_int64(insEntry, 5, er.line);
      step(insEntry);
      for (; v < values.size() && values[v].link == er.id; ++v) {
        const ValueRow& vr = values[v];
        sqlite3_bind_int64(insValue, 1, vr.id);
        sqlite3_bind_int64(insValue, 2, vr.link);
        if (vr.null)
          sqlite3_bind_null(insValue, 3);
        else
          sqlite3_bind_text(insValue, 3, vr.value.data(), static_cast<int>(vr.value.size()), SQLITE_STATIC);
        step(insValue);
      }
    }
  }
  if (open) Exec(db, "COMMIT");
  if (oneTransaction)
    for (const std::string& i : indexes) Exec(db, i);
  sqlite3_finalize(insSection);
  sqlite3_finalize(insEntry);
  sqlite3_finalize(insValue);
  sqlite3_close(db);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  const size_t rows = sections.size() + e + v;
  if (e != entries.size() || v != values.size()) {
    std::fprintf(stderr, "rows out of order: %zu of %zu entries, %zu of %zu values\n", e, entries.size(), v,
                 values.size());
    return 1;
  }
  std::printf("rows=%zu seconds=%.3f rows_per_s=%.0f\n", rows, seconds, rows / seconds);
  return 0;
}

// One line: comment cut, trimmed; header or key = value, values split at commas.
int Parse(const char* listFile) {
  std::vector<std::string> files;
  {
    std::ifstream list(listFile);
    for (std::string f; std::getline(list, f);)
      if (!f.empty()) files.push_back(f);
  }
  const auto start = Clock::now();
  size_t lines = 0, tokens = 0;
  std::string data;
  std::vector<std::string_view> split;
  for (const std::string& f : files) {
    FILE* in = std::fopen(f.c_str(), "rb");
    if (!in) continue;
    data.clear();
    char buf[1 << 16];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, in)) > 0;) data.append(buf, n);
    std::fclose(in);
    std::string_view rest(data);
    while (!rest.empty()) {
      size_t nl = rest.find('\n');
      std::string_view line = rest.substr(0, nl);
      rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
      ++lines;
      if (size_t c = line.find(';'); c != std::string_view::npos) line = line.substr(0, c);
      auto trim = [](std::string_view t) {
        while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
        while (!t.empty() && (t.back() == ' ' || t.back() == '\t' || t.back() == '\r')) t.remove_suffix(1);
        return t;
      };
      line = trim(line);
      if (line.empty() || line.front() == '[') continue;
      size_t eq = line.find('=');
      split.clear();
      split.push_back(trim(line.substr(0, eq)));
      if (eq != std::string_view::npos) {
        std::string_view values = line.substr(eq + 1);
        for (;;) {
          size_t comma = values.find(',');
          split.push_back(trim(values.substr(0, comma)));
          if (comma == std::string_view::npos) break;
          values.remove_prefix(comma + 1);
        }
      }
      tokens += split.size();
    }
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("files=%zu lines=%zu tokens=%zu seconds=%.3f\n", files.size(), lines, tokens, seconds);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::strcmp(argv[1], "insert") == 0) {
    bool one = false;
    int perTransaction = 1;
    std::vector<std::string> pragmas;
    for (int i = 4; i < argc; ++i) {
      if (std::strcmp(argv[i], "--one-transaction") == 0)
        one = true;
      else if (std::strncmp(argv[i], "--files-per-transaction=", 24) == 0)
        perTransaction = std::max(1, std::atoi(argv[i] + 24));
      else if (std::strncmp(argv[i], "PRAGMA", 6) == 0)
        pragmas.push_back(argv[i]);
    }
    return Insert(argv[2], argv[3], one, perTransaction, pragmas);
  }
  if (argc == 3 && std::strcmp(argv[1], "parse") == 0) return Parse(argv[2]);
  std::fprintf(stderr,
               "usage: ketch_limits insert SOURCE.MDB TARGET [--one-transaction | --files-per-transaction=N] "
               "[PRAGMA ...]\n"
                       "       ketch_limits parse LISTFILE\n");
  return 1;
}
