// Learning entry rules from the lines of a game: every section occurrence is
// counted, and per section and entry key (folded as the rule base folds them)
// the value counts, the kinds of value text at each position and the lines
// per occurrence. Decide turns the counts into rules by what most lines do,
// so that the few lines that break a pattern stay findings of the analysis.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "shell/Records.h"

namespace ketch {

// Where the values of an entry name files: below DATA\, or below
// DATA\Universe\.
enum class FileBase { None, Data, Universe };

struct LearnThresholds {
  // Share of an entry's lines (or a section's occurrences) that may break a
  // learned pattern and still leave it the rule.
  double breakShare = 0.1;
  // A key seen in fewer occurrences of its section than this...
  int64_t minKeyOccurrences = 3;
  // ...and in less than this share of them is taken for a typo.
  double rareKeyShare = 0.05;
  // A section or key one letter away from a name seen more often is a
  // misspelling of it when seen at most this often...
  int64_t typoOccurrences = 2;
  // ...or on this many times fewer lines.
  double typoRatio = 20;
  // More than this share of an entry's lines must give values past the
  // fixed ones for them to repeat: a value added by mistake is rare, but
  // mistakes gather where a section holds few lines of the entry.
  double varShare = 0.2;
};

// Reads thresholds from text such as "break=0.2,minkey=3"; false (and t as
// it was) for an unknown name or a bad number.
bool ParseThresholds(const std::string& text, LearnThresholds& t);

struct LearnedEntry {
  std::string name;  // the spelling seen most
  int16_t fixed = 0;
  bool multiLine = false;
  bool varArgs = false;
  bool mandatory = false;
  std::vector<int32_t> types;  // per fixed position, 1 integer .. 4 boolean
  int32_t varType = 0;         // the repeating value's type (5 null when none was seen)
  FileBase names = FileBase::None;
  int64_t occurrences = 0;     // section occurrences holding the key
  int64_t lines = 0;
  int64_t filesNamed = 0;      // values that named an existing file
  // How many files away from the configuration the key was first seen: 0 in
  // a file that it names or that no file names.
  int32_t depth = 0;
};

struct LearnedSection {
  std::string name;
  int64_t occurrences = 0;
  std::vector<LearnedEntry> entries;  // in the order first seen
};

struct LearnedRules {
  std::vector<LearnedSection> sections;  // in the order first seen
  int64_t rareKeys = 0;                  // keys left out as too rare
  int64_t rareSections = 0;
};

// The narrowest value type a value text fits: 1 a 32-bit integer, 2 another
// number, 4 true or false, 3 anything else.
int32_t TypeOfText(const std::string& text);

class RuleLearner {
 public:
  explicit RuleLearner(LearnThresholds t = LearnThresholds()) : t_(t) {}

  // Where one value of a line with the given key names an existing file
  // (None when it names none).
  using Named = std::function<FileBase(const std::string& key, const std::string& value)>;

  // Counts one section occurrence, asking named about every value.
  void AddSection(const SectionRecord& R, const Named& named);

  LearnedRules Decide() const;

  // The depth of the file whose sections come next (see LearnedEntry).
  void Depth(int32_t depth) { depth_ = depth; }

 private:
  struct Kinds {
    int64_t integer = 0, number = 0, boolean = 0, text = 0;
    void Add(int32_t type);
    int64_t Total() const { return integer + number + boolean + text; }
  };
  struct EntryCounts {
    std::map<std::string, int64_t> spellings;
    int64_t occurrences = 0, lines = 0;
    std::map<int32_t, int64_t> valueCounts;  // values on a line -> lines
    std::vector<Kinds> positions;            // position 1 at [0]
    int64_t dataFiles = 0, universeFiles = 0;
    int64_t seenIn = -1;  // the occurrence last counted
    int64_t linesThere = 0;
    // Occurrences holding the key on lines with different values: a line
    // given twice by mistake is the same line again, and says nothing.
    int64_t distinctOccurrences = 0;
    std::string firstThere;
    bool distinctThere = false;
    int32_t depth = std::numeric_limits<int32_t>::max();
  };
  struct SectionCounts {
    std::map<std::string, int64_t> spellings;
    int64_t occurrences = 0;
    std::vector<std::string> order;
    std::map<std::string, EntryCounts> entries;
  };

  EntryCounts& Entry(SectionCounts& s, const std::string& key);
  void AddLine(EntryCounts& e, const std::string& key, const std::string& values, const Named& named);
  LearnedEntry DecideEntry(const EntryCounts& e, int64_t sectionOccurrences) const;
  int64_t Allowed(int64_t n) const;
  // Whether a name seen in this many occurrences (lines) is a misspelling
  // of one seen in otherSeen (otherLines).
  bool Misspelt(int64_t seen, int64_t otherSeen, int64_t lines, int64_t otherLines) const;

  LearnThresholds t_;
  std::vector<std::string> order_;
  std::map<std::string, SectionCounts> sections_;
  int64_t occurrence_ = 0;
  int32_t depth_ = 0;
  std::vector<std::string> tokens_;
};

// One letter dropped, added, changed, or two neighbours swapped.
bool OneEditApart(const std::string& a, const std::string& b);

}  // namespace ketch
