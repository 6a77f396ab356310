// The rewriting of the analyser's SQL text into SQL that SQLite takes. The
// rules' queries use keywords as plain qualifiers ("Values.Link"), which
// SQLite refuses unless they are bracketed.
#include "platform/db/Database.h"

#include <sqlite3.h>

#include <string>

namespace ketch::db {
namespace {

bool IsIdentStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80;
}
bool IsIdentChar(unsigned char c) { return IsIdentStart(c) || (c >= '0' && c <= '9') || c == '$'; }

}  // namespace

std::string AdaptSql(const std::string& sql) {
  std::string out;
  out.reserve(sql.size() + 8);
  const size_t n = sql.size();
  size_t i = 0;
  auto copyUntil = [&](char close, size_t from) {
    // Copies a quoted run; a doubled closing quote stays inside it.
    size_t j = from + 1;
    while (j < n) {
      if (sql[j] == close) {
        if (close != ']' && j + 1 < n && sql[j + 1] == close) {
          j += 2;
          continue;
        }
        ++j;
        break;
      }
      ++j;
    }
    out.append(sql, from, j - from);
    return j;
  };
  bool afterDot = false;  // the last token was a lone "." (a qualifier's dot)
  while (i < n) {
    unsigned char c = static_cast<unsigned char>(sql[i]);
    bool blank = c == ' ' || c == '\t' || c == '\n' || c == '\r';
    const bool dotBefore = afterDot;
    if (!blank && c != '.') afterDot = false;
    if (c == '\'' || c == '"' || c == '`') {
      i = copyUntil(static_cast<char>(c), i);
    } else if (c == '[') {
      i = copyUntil(']', i);
    } else if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
      size_t j = sql.find('\n', i);
      j = j == std::string::npos ? n : j;
      out.append(sql, i, j - i);
      i = j;
    } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
      size_t j = sql.find("*/", i + 2);
      j = j == std::string::npos ? n : j + 2;
      out.append(sql, i, j - i);
      i = j;
    } else if (c >= '0' && c <= '9') {
      // A number, its fraction and exponent included, is never a qualifier.
      size_t j = i;
      while (j < n && (IsIdentChar(static_cast<unsigned char>(sql[j])) || sql[j] == '.')) ++j;
      out.append(sql, i, j - i);
      i = j;
    } else if (IsIdentStart(c)) {
      size_t j = i;
      while (j < n && IsIdentChar(static_cast<unsigned char>(sql[j]))) ++j;
      size_t k = j;
      while (k < n && (sql[k] == ' ' || sql[k] == '\t')) ++k;
      bool qualified = (k < n && sql[k] == '.') || dotBefore;
      int len = static_cast<int>(j - i);
      if (qualified && sqlite3_keyword_check(sql.data() + i, len)) {
        out += '[';
        out.append(sql, i, j - i);
        out += ']';
      } else {
        out.append(sql, i, j - i);
      }
      i = j;
    } else {
      if (c == '.') afterDot = true;
      out += static_cast<char>(c);
      ++i;
    }
  }
  return out;
}

}  // namespace ketch::db
