// The rule learner: counting is cheap and per line; every decision waits for
// the whole game, since a pattern is only a pattern against all its lines.
#include "rules/RuleLearner.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "platform/Error.h"
#include "platform/Text.h"
#include "platform/Variant.h"
#include "rules/mUtils.h"

namespace ketch {
namespace {

constexpr int32_t kInteger = 1, kFloat = 2, kText = 3, kBoolean = 4, kNull = 5;

bool SameNoCase(const std::string& a, const char* b) {
  size_t n = std::char_traits<char>::length(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != b[i]) return false;
  return true;
}

// The spelling seen most; the first of equals in byte order.
std::string MostSeen(const std::map<std::string, int64_t>& spellings) {
  std::string best;
  int64_t n = -1;
  for (const auto& [s, c] : spellings)
    if (c > n) best = s, n = c;
  return best;
}

}  // namespace

int32_t TypeOfText(const std::string& text) {
  if (text.empty()) return kText;
  const char c = text[0];
  // Most texts are words: only what can start a number goes to the parser,
  // whose refusal costs an exception.
  if ((c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.') {
    try {
      double v = ParseNumber(text);
      if (v == std::floor(v) && v >= std::numeric_limits<int32_t>::min() &&
          v <= std::numeric_limits<int32_t>::max())
        return kInteger;
      return kFloat;
    } catch (const Error&) {
      return kText;
    }
  }
  if (SameNoCase(text, "true") || SameNoCase(text, "false")) return kBoolean;
  return kText;
}

bool OneEditApart(const std::string& a, const std::string& b) {
  if (a == b) return false;
  const std::string& s = a.size() <= b.size() ? a : b;
  const std::string& l = a.size() <= b.size() ? b : a;
  if (l.size() - s.size() > 1) return false;
  size_t i = 0;
  while (i < s.size() && s[i] == l[i]) ++i;
  if (s.size() == l.size()) {
    // One changed, or two neighbours swapped.
    if (s.compare(i + 1, std::string::npos, l, i + 1, std::string::npos) == 0) return true;
    return i + 1 < s.size() && s[i] == l[i + 1] && s[i + 1] == l[i] &&
           s.compare(i + 2, std::string::npos, l, i + 2, std::string::npos) == 0;
  }
  return s.compare(i, std::string::npos, l, i + 1, std::string::npos) == 0;
}

void RuleLearner::Kinds::Add(int32_t type) {
  switch (type) {
    case kInteger: ++integer; break;
    case kFloat: ++number; break;
    case kBoolean: ++boolean; break;
    default: ++text; break;
  }
}

RuleLearner::EntryCounts& RuleLearner::Entry(SectionCounts& s, const std::string& key) {
  std::string folded = UpperCase(key);
  auto it = s.entries.find(folded);
  if (it == s.entries.end()) {
    s.order.push_back(folded);
    it = s.entries.emplace(std::move(folded), EntryCounts()).first;
  }
  ++it->second.spellings[key];
  return it->second;
}

void RuleLearner::AddLine(EntryCounts& e, const std::string& key, const std::string& values, const Named& named) {
  tokens_.clear();
  try {
    int16_t pos = 1;
    std::string token;
    while (NextToken(values, pos, token)) tokens_.push_back(token);
  } catch (const Error&) {
    // A value text past the splitter's limit is refused whatever the rule
    // says; it tells nothing about the rule.
    return;
  }
  ++e.lines;
  e.depth = std::min(e.depth, depth_);
  if (e.seenIn != occurrence_) {
    e.seenIn = occurrence_;
    ++e.occurrences;
    e.linesThere = 0;
  }
  if (++e.linesThere == 1) {
    e.firstThere = values;
    e.distinctThere = false;
  } else if (!e.distinctThere && values != e.firstThere) {
    e.distinctThere = true;
    ++e.distinctOccurrences;
  }
  ++e.valueCounts[static_cast<int32_t>(tokens_.size())];
  if (e.positions.size() < tokens_.size()) e.positions.resize(tokens_.size());
  for (size_t i = 0; i < tokens_.size(); ++i) {
    e.positions[i].Add(TypeOfText(tokens_[i]));
    switch (named(key, tokens_[i])) {
      case FileBase::Data: ++e.dataFiles; break;
      case FileBase::Universe: ++e.universeFiles; break;
      default: break;
    }
  }
}

void RuleLearner::AddSection(const SectionRecord& R, const Named& named) {
  std::string folded = UpperCase(R.SectionName);
  auto it = sections_.find(folded);
  if (it == sections_.end()) {
    order_.push_back(folded);
    it = sections_.emplace(std::move(folded), SectionCounts()).first;
  }
  SectionCounts& s = it->second;
  ++s.spellings[R.SectionName];
  ++s.occurrences;
  ++occurrence_;
  for (int16_t i = 1; i <= R.EntryCount; ++i)
    AddLine(Entry(s, R.EntryNames[i]), R.EntryNames[i], R.EntryValues[i], named);
}

int64_t RuleLearner::Allowed(int64_t n) const {
  return static_cast<int64_t>(std::floor(static_cast<double>(n) * t_.breakShare));
}

namespace {

// The narrowest type that all but the allowed few values fit; a boolean
// rule also takes numbers.
int32_t DecideType(int64_t integer, int64_t number, int64_t boolean, int64_t text, int64_t allowed) {
  const int64_t total = integer + number + boolean + text;
  if (total == 0) return kText;
  if (total - integer <= allowed) return kInteger;
  if (total - integer - number <= allowed) return kFloat;
  if (text <= allowed) return kBoolean;
  return kText;
}

}  // namespace

LearnedEntry RuleLearner::DecideEntry(const EntryCounts& e, int64_t sectionOccurrences) const {
  LearnedEntry out;
  out.name = MostSeen(e.spellings);
  out.occurrences = e.occurrences;
  out.lines = e.lines;
  out.depth = e.depth;
  const int64_t allowed = Allowed(e.lines);
  // The fixed count: the fewest values that all but the allowed few lines give.
  int64_t below = 0;
  int32_t fixed = 0;
  for (const auto& [count, n] : e.valueCounts) {
    fixed = count;
    if (below + n > allowed) break;
    below += n;
  }
  int64_t above = 0;
  for (const auto& [count, n] : e.valueCounts)
    if (count > fixed) above += n;
  out.fixed = static_cast<int16_t>(std::min<int32_t>(fixed, std::numeric_limits<int16_t>::max()));
  out.varArgs = static_cast<double>(above) > t_.varShare * static_cast<double>(e.lines);
  for (int32_t p = 0; p < out.fixed; ++p) {
    const Kinds& k = static_cast<size_t>(p) < e.positions.size() ? e.positions[static_cast<size_t>(p)] : Kinds();
    out.types.push_back(DecideType(k.integer, k.number, k.boolean, k.text, Allowed(k.Total())));
  }
  if (out.varArgs) {
    Kinds pooled;
    for (size_t p = static_cast<size_t>(out.fixed); p < e.positions.size(); ++p) {
      pooled.integer += e.positions[p].integer;
      pooled.number += e.positions[p].number;
      pooled.boolean += e.positions[p].boolean;
      pooled.text += e.positions[p].text;
    }
    out.varType = DecideType(pooled.integer, pooled.number, pooled.boolean, pooled.text, Allowed(pooled.Total()));
  } else if (out.fixed == 0) {
    // A key that stands alone still needs one value rule: one that takes none.
    out.varArgs = true;
    out.varType = kNull;
  }
  out.multiLine = e.distinctOccurrences > Allowed(e.occurrences);
  out.mandatory = e.occurrences >= sectionOccurrences;
  const int64_t files = e.dataFiles + e.universeFiles;
  if (files > 0 && files * 2 >= e.lines) {
    out.names = e.universeFiles > e.dataFiles ? FileBase::Universe : FileBase::Data;
    out.filesNamed = files;
  }
  return out;
}

bool RuleLearner::Misspelt(int64_t seen, int64_t otherSeen, int64_t lines, int64_t otherLines) const {
  if (otherLines <= lines) return false;
  return (seen <= t_.typoOccurrences && otherSeen > seen) ||
         static_cast<double>(lines) * t_.typoRatio <= static_cast<double>(otherLines);
}

bool ParseThresholds(const std::string& text, LearnThresholds& t) {
  LearnThresholds out = t;
  size_t from = 0;
  while (from < text.size()) {
    size_t comma = text.find(',', from);
    if (comma == std::string::npos) comma = text.size();
    const std::string item = text.substr(from, comma - from);
    from = comma + 1;
    const size_t eq = item.find('=');
    if (eq == std::string::npos) return false;
    const std::string name = item.substr(0, eq), value = item.substr(eq + 1);
    char* end = nullptr;
    const double v = std::strtod(value.c_str(), &end);
    if (value.empty() || *end != '\0' || v < 0) return false;
    if (name == "break") out.breakShare = v;
    else if (name == "minkey") out.minKeyOccurrences = static_cast<int64_t>(v);
    else if (name == "rare") out.rareKeyShare = v;
    else if (name == "typo") out.typoOccurrences = static_cast<int64_t>(v);
    else if (name == "ratio") out.typoRatio = v;
    else if (name == "var") out.varShare = v;
    else return false;
  }
  t = out;
  return true;
}

LearnedRules RuleLearner::Decide() const {
  LearnedRules out;
  for (const std::string& folded : order_) {
    const SectionCounts& s = sections_.at(folded);
    // A rarely seen name one letter from a more frequent one is its misspelling.
    bool typo = false;
    for (const auto& [other, o] : sections_)
      if (Misspelt(s.occurrences, o.occurrences, s.occurrences, o.occurrences) && OneEditApart(folded, other))
        typo = true;
    if (typo) {
      ++out.rareSections;
      continue;
    }
    LearnedSection section;
    section.name = MostSeen(s.spellings);
    section.occurrences = s.occurrences;
    for (const std::string& key : s.order) {
      const EntryCounts& e = s.entries.at(key);
      if (e.lines == 0) continue;
      bool rare = e.occurrences < t_.minKeyOccurrences &&
                  static_cast<double>(e.occurrences) < t_.rareKeyShare * static_cast<double>(s.occurrences);
      if (!rare)
        for (const auto& [other, o] : s.entries)
          if (Misspelt(e.occurrences, o.occurrences, e.lines, o.lines) && OneEditApart(key, other)) rare = true;
      if (rare) {
        ++out.rareKeys;
        continue;
      }
      section.entries.push_back(DecideEntry(e, s.occurrences));
    }
    if (!section.entries.empty()) out.sections.push_back(std::move(section));
  }
  return out;
}

}  // namespace ketch
