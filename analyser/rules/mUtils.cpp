// The value splitter of entry checking.
#include "rules/mUtils.h"

#include "platform/Error.h"

namespace ketch {

bool NextToken(const std::string& T, int16_t& iPoz, std::string& sToken) {
  std::string_view token;
  if (!NextToken(T, iPoz, token)) return false;
  sToken = token;
  return true;
}

bool NextToken(const std::string& T, int16_t& iPoz, std::string_view& sToken) {
  if (iPoz < 1 || static_cast<size_t>(iPoz) > T.size()) return false;
  size_t from = static_cast<size_t>(iPoz) - 1;
  size_t comma = T.find(',', from);
  size_t end = comma == std::string::npos ? T.size() : comma;
  // The next 1-based position (16-bit, as the rules count): past the comma,
  // or one past the end of T.
  size_t next = comma == std::string::npos ? T.size() + 1 : comma + 2;
  if (next > 32767) throw PlatformErrorOf(errOverflow);
  sToken = TrimBlanks(std::string_view(T).substr(from, end - from));
  iPoz = static_cast<int16_t>(next);
  return true;
}

std::string_view TrimBlanks(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && text[b] == ' ') ++b;
  while (e > b && text[e - 1] == ' ') --e;
  return text.substr(b, e - b);
}

}  // namespace ketch
