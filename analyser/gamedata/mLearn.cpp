// Learn reads like the analysis but checks nothing: the files go through
// the line reader and the section reader only, breadth first from the
// configuration, so that each file's depth is known and the converter can
// work ahead in the very order the files are read.
#include "gamedata/mLearn.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "converter/KrunFormat.h"
#include "gamedata/mParse.h"
#include "gamedata/mVDINI.h"
#include "ini/Conversion.h"
#include "ini/LineSource.h"
#include "ini/cFile.h"
#include "ini/mSection.h"
#include "platform/Error.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "rules/RuleBaseWriter.h"
#include "shell/DoEvents.h"
#include "shell/Progress.h"
#include "shell/cSettings.h"
#include "shell/mError.h"

namespace ketch {
namespace {

constexpr int16_t kUniverseRule = 74;

struct GameFile {
  std::string path;  // Windows-style, as the analysis builds it
  std::string rel;   // below DATA\, as _bc_OtherINI names files
  int32_t depth = 0;
  bool read = false;
};

// A value that named a file: which entry, in which file, named which file.
struct Naming {
  size_t parent, child;
  std::string rule;  // RuleKey of the section and entry
  FileBase base;
};

// A value worth looking for on disk: a path, or a name of a data file.
bool LooksLikeFile(const std::string& value) {
  if (value.find('\\') != std::string::npos) return true;
  return value.size() > 4 && SameIgnoringCase(std::string_view(value).substr(value.size() - 4), ".ini");
}

// Binary files converted by several krun processes at once, in the order
// the files are read and a few files ahead of the reader: learn reads much
// faster than one converter after another, and each krun mostly waits for
// its own start. A file the reader reaches before any converter took it is
// the reader's to open as usual.
class Converters {
 public:
  static constexpr size_t kConverters = 5;
  static constexpr size_t kAhead = 32;

  Converters() {
    for (size_t i = 0; i < kConverters; ++i) threads_.emplace_back([this] { Work(); });
  }
  ~Converters() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    for (auto& t : threads_) t.join();
    for (auto& [f, r] : results_)
      if (r.text >= 0) close(r.text);
  }
  Converters(const Converters&) = delete;
  Converters& operator=(const Converters&) = delete;

  void Add(const std::string& path) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      paths_.push_back(path);
    }
    changed_.notify_all();
  }

  // For file f (in the order added): true with text (-1 when it failed) when
  // a converter took it, false when it is the reader's.
  bool Take(size_t f, int& text, bool& binary) {
    std::unique_lock<std::mutex> lock(mutex_);
    reading_ = f + 1;
    changed_.notify_all();
    if (f >= next_) {
      next_ = f + 1;  // no converter takes it any more
      return false;
    }
    changed_.wait(lock, [&] { return results_.count(f) != 0; });
    Result r = results_[f];
    results_.erase(f);
    text = r.text;
    binary = r.binary;
    return true;
  }

 private:
  struct Result {
    int text = -1;
    bool binary = false;
  };

  void Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [&] { return stop_ || (next_ < paths_.size() && next_ < reading_ + kAhead); });
      if (stop_) return;
      const size_t f = next_++;
      const std::string path = paths_[f];
      lock.unlock();
      Result r = Convert(path);
      lock.lock();
      results_[f] = r;
      changed_.notify_all();
    }
  }

  static Result Convert(const std::string& path) {
    Result r;
    const int fd = open(ResolvePath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return r;
    char magic[4] = {};
    struct stat st;
    if (fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode) && pread(fd, magic, sizeof magic, 0) == 4 &&
        std::string_view(magic, 4) == krun::kMagic) {
      r.binary = true;
      r.text = ConvertBinaryFile(fd);
    }
    close(fd);
    return r;
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> paths_;
  std::map<size_t, Result> results_;
  size_t next_ = 0;     // the next file a converter takes
  size_t reading_ = 0;  // one past the file the reader is at
  bool stop_ = false;
  std::vector<std::thread> threads_;
};

class Walk {
 public:
  explicit Walk(RuleLearner& learner) : learner_(learner) {}

  // Queues a file; one already queued (any letter case) is not queued again.
  size_t Queue(const std::string& path, const std::string& rel, int32_t depth) {
    std::string folded = UpperCase(path);
    auto it = index_.find(folded);
    if (it != index_.end()) return it->second;
    files_.push_back({path, rel, depth, false});
    index_.emplace(std::move(folded), files_.size() - 1);
    queue_.push_back(files_.size() - 1);
    converters_.Add(path);
    ReportFileKnown(path);
    return files_.size() - 1;
  }

  // False when a stop request ended it before every file was read.
  bool Run(LearnSummary& s) {
    while (!queue_.empty()) {
      if (StopRequested()) return false;
      size_t f = queue_.front();
      queue_.pop_front();
      ReadFile(f, s);
      ReportFileDone(files_[f].path);
      DoEvents();
    }
    return true;
  }

  std::vector<GameFile>& Files() { return files_; }
  const std::vector<Naming>& Namings() const { return namings_; }

 private:
  void ReadFile(size_t f, LearnSummary& s) {
    const std::string path = files_[f].path;
    const int32_t depth = files_[f].depth;
    cFile reader;
    int text = -1;
    bool binary = false;
    try {
      if (converters_.Take(f, text, binary) && binary) {
        if (text < 0) throw Error(errKrunFailed, "Learn", "krun could not convert " + path);
        reader.OpenSource(path, std::make_unique<FileLineSource>(text));
      } else {
        reader.FileName(path);
        binary = reader.IsConverted();
      }
    } catch (const Error& e) {
      // Missing, a folder, unreadable, or not convertible: nothing to learn from.
      if (e.Number == errKrunFailed) LogLine("    Learning skips " + path + ": " + e.Description);
      ++s.filesMissing;
      return;
    }
    LogLine("    Learning from " + path);
    files_[f].read = true;
    ++s.filesRead;
    ++(binary ? s.binaryFiles : s.textFiles);
    learner_.Depth(depth);
    SectionRecord R;
    std::string section;
    auto named = [&](const std::string& key, const std::string& value) {
      if (!LooksLikeFile(value)) return FileBase::None;
      FileBase base = FileBase::None;
      std::string child;
      if (FileExists(DataPath(value))) {
        base = FileBase::Data;
        child = DataPath(value);
      } else if (std::string u = Settings()->VDPath() + "\\Data\\Universe\\" + value; FileExists(u)) {
        base = FileBase::Universe;
        child = u;
      } else {
        return FileBase::None;
      }
      const std::string rel = base == FileBase::Universe ? "Universe\\" + value : value;
      size_t c = Queue(child, rel, depth + 1);
      namings_.push_back({f, c, RuleKey(section, key), base});
      return base;
    };
    try {
      while (ReadNextSection(R, reader)) {
        section = R.SectionName;
        learner_.AddSection(R, named);
      }
    } catch (const Error& e) {
      // The sections before it still count.
      LogLine("    Learning stopped in " + path + " line " + std::to_string(reader.LineNum()) + ": " +
              e.Description);
    }
  }

  RuleLearner& learner_;
  std::vector<GameFile> files_;
  std::map<std::string, size_t> index_;
  std::deque<size_t> queue_;
  std::vector<Naming> namings_;
  Converters converters_;
};

// The [Data] files of the configuration, as the walk of the analysis names
// them; false when the configuration cannot be read.
bool QueueConfiguredFiles(Walk& walk) {
  cFile reader;
  try {
    reader.FileName(GameINIPath());
    SectionRecord R;
    while (ReadNextSection(R, reader)) {
      if (R.SectionName != "Data") continue;
      for (int16_t i = 1; i <= R.EntryCount; ++i)
        if (!R.EntryValues[i].empty() && IsProcessedKind(R.EntryNames[i]))
          walk.Queue(DataPath(R.EntryValues[i]), R.EntryValues[i], 0);
    }
  } catch (const Error&) {
    return false;
  }
  return true;
}

std::vector<std::string> OtherINIRows() {
  std::vector<std::string> rows;
  auto rs = Settings()->SettingsDB()->OpenRecordset("SELECT Value FROM _bc_OtherINI ORDER BY DB_ID",
                                                     db::dbOpenForwardOnly);
  for (; !rs->IsEOF(); rs->MoveNext()) rows.push_back(rs->Fields(0).AsText());
  return rows;
}

// Which files the analysis will reach with the planned rules: those of the
// configuration and of otherINI, then pass by pass those named by the values
// of a reference entry in files reached before that pass.
std::vector<bool> Reached(const std::vector<GameFile>& files, const std::vector<Naming>& namings,
                          const std::set<size_t>& listed, const RulePlan& plan) {
  constexpr int32_t kNot = 1 << 30;
  std::vector<int32_t> stage(files.size(), kNot);
  for (size_t f = 0; f < files.size(); ++f)
    if (listed.count(f)) stage[f] = -1;
  int32_t pass = 0;
  for (int16_t id : kReferenceRules) {
    for (const Naming& n : namings) {
      auto rule = plan.ids.find(n.rule);
      if (rule == plan.ids.end() || rule->second != id) continue;
      if ((id == kUniverseRule) != (n.base == FileBase::Universe)) continue;
      if (stage[n.parent] < pass && stage[n.child] > pass) stage[n.child] = pass;
    }
    ++pass;
  }
  std::vector<bool> out(files.size());
  for (size_t f = 0; f < files.size(); ++f) out[f] = stage[f] != kNot;
  return out;
}

// The file system's path of a Windows-style one, and its folder.
std::string Folder(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : path.substr(0, slash);
}

bool Writable(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  // The write bits count for everybody: a file made read-only stays so even
  // for a user whom the system would let write.
  return (st.st_mode & 0222) != 0 && access(path.c_str(), W_OK) == 0;
}

// Copies from to to through a temporary file beside it, so that to is
// whole or as before. An empty result is success.
std::string CopyWhole(const std::string& from, const std::string& to) {
  const std::string tmp = to + ".tmp";
  int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return std::strerror(errno);
  int out = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) {
    int e = errno;
    close(in);
    return std::strerror(e);
  }
  std::string error;
  char buf[1 << 16];
  for (;;) {
    ssize_t n = read(in, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = std::strerror(errno);
      break;
    }
    if (n == 0) break;
    for (ssize_t done = 0; done < n;) {
      ssize_t w = write(out, buf + done, static_cast<size_t>(n - done));
      if (w < 0) {
        if (errno == EINTR) continue;
        error = std::strerror(errno);
        break;
      }
      done += w;
    }
    if (!error.empty()) break;
  }
  if (error.empty() && fsync(out) != 0) error = std::strerror(errno);
  if (close(out) != 0 && error.empty()) error = std::strerror(errno);
  close(in);
  if (error.empty() && rename(tmp.c_str(), to.c_str()) != 0) error = std::strerror(errno);
  if (!error.empty()) unlink(tmp.c_str());
  return error;
}

LearnResult Fail(LearnOutcome outcome, const std::string& message, const LearnSummary& s) {
  LogLine("Learn: " + message);
  return {outcome, message, s};
}

LearnResult Learn(bool fresh, const LearnThresholds& thresholds) {
  const auto start = std::chrono::steady_clock::now();
  LearnSummary s;
  LogLine("Learning the rules of " + Settings()->VDPath());
  if (!FileExists(GameINIPath()))
    return Fail(LearnOutcome::NoGame, "no game here: " + GameINIPath() + " does not exist; KETCH.MDB is unchanged",
                s);

  RuleLearner learner(thresholds);
  Walk walk(learner);
  if (!QueueConfiguredFiles(walk))
    return Fail(LearnOutcome::NoGame, GameINIPath() + " cannot be read; KETCH.MDB is unchanged", s);
  const size_t fromConfig = walk.Files().size();
  for (const std::string& value : OtherINIRows()) walk.Queue(DataPath(value), value, 0);
  ReportPass("Learning: reading the game's files");
  if (!walk.Run(s))
    return Fail(LearnOutcome::Cancelled,
                "cancelled after " + std::to_string(s.filesRead) + " files read; KETCH.MDB is unchanged", s);
  ReportPass("Learning: deciding the rules");

  const LearnedRules learned = learner.Decide();
  s.rareKeys = learned.rareKeys;
  s.rareSections = learned.rareSections;
  if (learned.sections.empty())
    return Fail(LearnOutcome::NoGame,
                "nothing to learn: the data files of " + Settings()->VDPath() +
                    " hold no entry line; KETCH.MDB is unchanged",
                s);

  db::Database& rules = *Settings()->SettingsDB();
  std::vector<int16_t> referenceIds(std::begin(kReferenceRules), std::end(kReferenceRules));
  RulePlan plan = PlanRules(rules, learned, fresh, referenceIds);

  // What _bc_OtherINI keeps: in a merge, the rows naming files of this game.
  std::vector<std::string> otherINI;
  std::set<size_t> listed;
  std::vector<GameFile>& files = walk.Files();
  for (size_t f = 0; f < fromConfig; ++f) listed.insert(f);
  if (!fresh) {
    for (const std::string& value : plan.otherINI) {
      if (!FileExists(DataPath(value))) {
        ++s.otherINIDropped;
        continue;
      }
      otherINI.push_back(value);
      for (size_t f = 0; f < files.size(); ++f)
        if (SameIgnoringCase(files[f].rel, value)) listed.insert(f);
    }
  } else {
    s.otherINIDropped = static_cast<int64_t>(plan.otherINI.size());
  }
  const std::vector<bool> reached = Reached(files, walk.Namings(), listed, plan);
  for (size_t f = 0; f < files.size(); ++f)
    if (files[f].read && !reached[f]) {
      otherINI.push_back(files[f].rel);
      ++s.otherINIAdded;
    }

  for (const LearnedSection& sec : learned.sections) {
    ++s.sections;
    for (const LearnedEntry& e : sec.entries) {
      ++s.entries;
      if (e.names != FileBase::None) ++s.referenceEntries;
    }
  }
  s.newSections = plan.newSections;
  s.newEntries = static_cast<int64_t>(plan.added.size());
  s.knownEntries = plan.known;

  // The last moment a stop leaves everything as it was.
  DoEvents();
  if (StopRequested())
    return Fail(LearnOutcome::Cancelled,
                "cancelled after " + std::to_string(s.filesRead) + " files read; KETCH.MDB is unchanged", s);
  ReportPass("Learning: writing KETCH.MDB");
  // Nothing is changed unless all of it can be written.
  const std::string dbPath = ResolvePath(Settings()->SettingsDBName());
  if (!Writable(dbPath))
    return Fail(LearnOutcome::NotWritten, "KETCH.MDB is read-only: " + dbPath + "; it is unchanged", s);
  if (!Writable(Folder(dbPath)))
    return Fail(LearnOutcome::NotWritten,
                "the folder of KETCH.MDB is read-only: " + Folder(dbPath) + "; KETCH.MDB is unchanged", s);
  if (std::string error = CopyWhole(dbPath, dbPath + ".bak"); !error.empty())
    return Fail(LearnOutcome::NotWritten,
                "KETCH.MDB.bak could not be written (" + error + "); KETCH.MDB is unchanged", s);
  try {
    WriteRules(rules, plan, otherINI);
  } catch (const Error& e) {
    return Fail(LearnOutcome::NotWritten,
                "the rules could not be written into KETCH.MDB (" + e.Description + "); it is unchanged", s);
  }
  LogLine("Learn: the previous rule base is kept as " + dbPath + ".bak");

  const std::string tsv = ResolvePath(Settings()->LogPath() + "\\learned-rules.tsv");
  if (std::FILE* out = std::fopen(tsv.c_str(), "wb")) {
    const std::string text = RulesTsv(plan);
    bool ok = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    ok = std::fclose(out) == 0 && ok;
    if (ok)
      LogLine("Learn: the rules added are listed in " + tsv);
    else
      LogLine("Learn: " + tsv + " could not be written");
  } else {
    LogLine("Learn: " + tsv + " could not be written");
  }
  s.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return {LearnOutcome::Learned, "", s};
}

std::string Row(const std::string& label, int64_t n) {
  char line[160];
  std::snprintf(line, sizeof line, "  %-44s %10lld\n", label.c_str(), static_cast<long long>(n));
  return line;
}

}  // namespace

LearnResult LearnRules(bool fresh, const LearnThresholds& thresholds) {
  ClearStop();
  LearnResult result;
  try {
    result = Learn(fresh, thresholds);
  } catch (const Error& e) {
    LogError(e, "Learn");
    result = {LearnOutcome::NotWritten, e.Description + "; KETCH.MDB is unchanged", LearnSummary()};
  }
  ClearStop();
  return result;
}

std::string LearnSummaryText(const LearnSummary& s) {
  std::string text = "\nLearn summary\n";
  text += Row("files read", s.filesRead);
  text += Row("  text", s.textFiles);
  text += Row("  binary (converted)", s.binaryFiles);
  text += Row("files named but missing", s.filesMissing);
  text += Row("sections learned", s.sections);
  text += Row("  new", s.newSections);
  text += Row("entries learned", s.entries);
  text += Row("  new", s.newEntries);
  text += Row("  already known", s.knownEntries);
  text += Row("rare keys left out", s.rareKeys);
  text += Row("rare sections left out", s.rareSections);
  text += Row("entries naming files", s.referenceEntries);
  text += Row("files added to the other-INI list", s.otherINIAdded);
  text += Row("other-INI rows dropped", s.otherINIDropped);
  char line[160];
  std::snprintf(line, sizeof line, "  %-44s %10.2f\n", "seconds", s.seconds);
  return text + line;
}

}  // namespace ketch
