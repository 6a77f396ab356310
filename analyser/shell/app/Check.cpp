// The headless check: which files, each finding's line on standard output
// and the summary.
#include "shell/app/Check.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <unordered_set>

#include "platform/Text.h"
#include "shell/RunCounts.h"
#include "shell/mError.h"

namespace ketch {
namespace {

// What a child reports, in the order it happened, then its counts and end.
enum Tag : char { tFinding = 'F', tError = 'E', tFatal = 'X', tEnd = 'Z' };
constexpr int64_t kNotEnded = -1;

void Put(std::string& out, int64_t v) { out.append(reinterpret_cast<const char*>(&v), sizeof v); }
void Put(std::string& out, std::string_view text) {
  Put(out, static_cast<int64_t>(text.size()));
  out.append(text);
}

void PutFinding(std::string& out, const Finding& f) {
  out += tFinding;
  for (std::string_view text : {std::string_view(f.File), std::string_view(f.Section), std::string_view(f.Key),
                                std::string_view(f.Value), std::string_view(f.Text), std::string_view(f.NamedIn)})
    Put(out, text);
  for (int64_t v : {int64_t{f.Line}, int64_t{f.SectionLine}, int64_t{f.Code}, int64_t{f.Named}, int64_t{f.NamedLine},
                    int64_t{f.PhysicalLine}})
    Put(out, v);
}

class ReportReader {
 public:
  explicit ReportReader(std::string_view data) : rest_(data) {}
  bool AtEnd() const { return rest_.empty(); }
  bool Take(char& c) {
    if (rest_.empty()) return false;
    c = rest_.front();
    rest_.remove_prefix(1);
    return true;
  }
  bool Take(int64_t& v) {
    if (rest_.size() < sizeof v) return false;
    std::memcpy(&v, rest_.data(), sizeof v);
    rest_.remove_prefix(sizeof v);
    return true;
  }
  bool Take(std::string& text) {
    int64_t n = 0;
    if (!Take(n) || n < 0 || static_cast<uint64_t>(n) > rest_.size()) return false;
    text.assign(rest_.substr(0, n));
    rest_.remove_prefix(n);
    return true;
  }
  bool TakeFinding(Finding& f) {
    int64_t line, sectionLine, code, named, namedLine, physicalLine;
    if (!Take(f.File) || !Take(f.Section) || !Take(f.Key) || !Take(f.Value) || !Take(f.Text) || !Take(f.NamedIn) ||
        !Take(line) || !Take(sectionLine) || !Take(code) || !Take(named) || !Take(namedLine) || !Take(physicalLine))
      return false;
    f.Line = static_cast<int32_t>(line);
    f.SectionLine = static_cast<int16_t>(sectionLine);
    f.Code = static_cast<int16_t>(code);
    f.Named = named != 0;
    f.NamedLine = static_cast<int32_t>(namedLine);
    f.PhysicalLine = static_cast<int32_t>(physicalLine);
    return true;
  }

 private:
  std::string_view rest_;
};

struct Event {
  Tag tag;
  Finding finding;
  std::string text;
};

// A child's whole report, read before any of it is used: a report cut short
// leaves the child's files to be checked here.
struct ChildReport {
  std::vector<Event> events;
  RunCounts counts;
  int64_t errorReports = 0;
  int64_t endStatus = kNotEnded;

  bool Read(std::string_view data) {
    ReportReader in(data);
    for (char tag; in.Take(tag);) {
      Event e{static_cast<Tag>(tag), {}, {}};
      if (tag == tFinding) {
        if (!in.TakeFinding(e.finding)) return false;
      } else if (tag == tError || tag == tFatal) {
        if (!in.Take(e.text)) return false;
      } else if (tag == tEnd) {
        int64_t codes = 0;
        if (!in.Take(counts.textFiles) || !in.Take(counts.binaryFiles) || !in.Take(counts.repairs) ||
            !in.Take(counts.lines) || !in.Take(errorReports) || !in.Take(endStatus) || !in.Take(codes) || codes < 0)
          return false;
        for (int64_t i = 0; i < codes; ++i) {
          int64_t code, n;
          if (!in.Take(code) || !in.Take(n)) return false;
          counts.findings[static_cast<int16_t>(code)] = n;
        }
        return in.AtEnd();
      } else {
        return false;
      }
      events.push_back(std::move(e));
    }
    return false;
  }
};

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(n);
  }
  return true;
}

std::string ReadAll(int fd) {
  std::string data;
  struct stat st;
  if (fstat(fd, &st) != 0 || st.st_size <= 0) return data;
  data.resize(st.st_size);
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = pread(fd, data.data() + done, data.size() - done, done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += n;
  }
  data.resize(done);
  return data;
}

[[noreturn]] void RunChild(int out, size_t from, size_t to, const std::function<void(size_t, size_t)>& check) {
  std::string report;
  SetFindingSink([&report](const Finding& f) { PutFinding(report, f); });
  LogView view = CurrentLogView();
  view.ShowError = [&report](const std::string& text) {
    report += tError;
    Put(report, text);
  };
  view.ShowFatal = [&report](const std::string& text) {
    report += tFatal;
    Put(report, text);
  };
  SetLogView(view);
  Counts() = RunCounts{};
  ErrorReports() = 0;
  auto finish = [&](int64_t status) {
    const RunCounts& c = Counts();
    report += tEnd;
    for (int64_t v : {c.textFiles, c.binaryFiles, c.repairs, c.lines, ErrorReports(), status,
                      static_cast<int64_t>(c.findings.size())})
      Put(report, v);
    for (const auto& [code, n] : c.findings) {
      Put(report, int64_t{code});
      Put(report, n);
    }
    _exit(WriteAll(out, report) ? 0 : 1);
  };
  // The program's end inside the child's part is reported, and the parent
  // ends as this would have.
  SetEndHook([&](int status) { finish(status); });
  try {
    check(from, to);
  } catch (...) {
    _exit(1);  // the parent checks these files again and meets the same failure
  }
  finish(kNotEnded);
  __builtin_unreachable();  // finish ends the process
}

// The child of a split check, killed if this process ends before it is
// waited for.
pid_t& ChildPid() {
  static pid_t pid = 0;
  return pid;
}

void KillChild() {
  if (ChildPid() <= 0) return;
  kill(ChildPid(), SIGKILL);
  waitpid(ChildPid(), nullptr, 0);
  ChildPid() = 0;
}

// Where the files are split: as many bytes before as after, roughly.
size_t SplitPoint(const std::vector<std::string>& files, uint64_t& total) {
  std::vector<uint64_t> sizes(files.size());
  total = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    struct stat st;
    sizes[i] = stat(files[i].c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
    total += sizes[i];
  }
  uint64_t before = 0;
  size_t mid = 0;
  while (mid + 1 < files.size() && 2 * (before + sizes[mid]) <= total) before += sizes[mid++];
  return std::max<size_t>(mid, 1);
}

bool WorthSplitting(const std::vector<std::string>& files, uint64_t total) {
  if (files.size() < 2 || LogFileOn()) return false;
  std::unordered_set<std::string> names;
  for (const std::string& f : files)
    if (!names.insert(UpperCase(f)).second) return false;
  const char* jobs = std::getenv("KETCH_CHECK_JOBS");
  if (jobs && std::strcmp(jobs, "1") == 0) return false;
  if (jobs && std::strcmp(jobs, "2") == 0) return true;
  // Below a few megabytes the fork costs more than it saves.
  return sysconf(_SC_NPROCESSORS_ONLN) >= 2 && total >= (1u << 20);
}

}  // namespace

bool ParseCheckFormat(const std::string& name, CheckFormat& format) {
  if (name == "gcc")
    format = CheckFormat::Gcc;
  else if (name == "text")
    format = CheckFormat::Text;
  else if (name == "json")
    format = CheckFormat::Json;
  else
    return false;
  return true;
}

bool CheckFiles(const std::vector<std::string>& paths, std::vector<std::string>& files,
                std::vector<std::string>& warnings, std::string& error) {
  namespace fs = std::filesystem;
  for (const std::string& path : paths) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (!fs::exists(status)) {
      error = "no such file or folder: " + path;
      return false;
    }
    if (!fs::is_directory(status)) {
      files.push_back(path);
      continue;
    }
    std::vector<std::string> below;
    for (fs::recursive_directory_iterator it(path, fs::directory_options::skip_permission_denied, ec), end;
         !ec && it != end; it.increment(ec)) {
      if (it->is_regular_file(ec) && LowerCase(it->path().extension().string()) == ".ini")
        below.push_back(it->path().string());
    }
    if (ec) {
      error = "cannot read the folder " + path + ": " + ec.message();
      return false;
    }
    if (below.empty()) warnings.push_back("no .ini file below " + path);
    std::sort(below.begin(), below.end());
    files.insert(files.end(), below.begin(), below.end());
  }
  return true;
}

std::string CheckOutput(const Finding& f, CheckFormat format, const FindingPaths& paths) {
  switch (format) {
    case CheckFormat::Text: return TextRecord(f);
    case CheckFormat::Json: return JsonLine(f, paths) + "\n";
    case CheckFormat::Gcc: break;
  }
  return GccLine(f, paths) + "\n";
}

std::string CheckSummary(const std::vector<Finding>& reported) {
  const RunCounts& c = Counts();
  std::string text = "checked " + std::to_string(c.textFiles + c.binaryFiles) + " files (" +
                     std::to_string(c.binaryFiles) + " binary), " + std::to_string(c.lines) + " lines: ";
  if (reported.empty()) return text + "no findings\n";
  text += std::to_string(reported.size()) + (reported.size() == 1 ? " finding (" : " findings (");
  const char* sep = "";
  for (const auto& [code, n] : CountByCode(reported)) {
    text += sep + std::to_string(code) + ": " + std::to_string(n);
    sep = ", ";
  }
  return text + ")\n";
}

void CheckInParts(const std::vector<std::string>& files, const std::function<void(size_t from, size_t to)>& check) {
  uint64_t total = 0;
  const size_t mid = files.size() < 2 ? files.size() : SplitPoint(files, total);
  const int out = WorthSplitting(files, total) ? memfd_create("ketch-check", MFD_CLOEXEC) : -1;
  if (out < 0) return check(0, files.size());
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t pid = fork();
  if (pid < 0) {
    close(out);
    return check(0, files.size());
  }
  if (pid == 0) RunChild(out, mid, files.size(), check);

  static const bool registered = (AtEndProgram(KillChild), true);
  (void)registered;
  ChildPid() = pid;
  struct Reap {
    // Also when this part throws: no child outlives the check.
    ~Reap() { KillChild(); }
  } reap;
  check(0, mid);

  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  ChildPid() = 0;
  ChildReport child;
  const bool reported = WIFEXITED(status) && WEXITSTATUS(status) == 0 && child.Read(ReadAll(out));
  close(out);
  if (!reported) return check(mid, files.size());

  const auto& sink = CurrentFindingSink();
  const LogView& view = CurrentLogView();
  for (const Event& e : child.events) {
    if (e.tag == tFinding && sink)
      sink(e.finding);
    else if (e.tag == tError && view.ShowError)
      view.ShowError(e.text);
    else if (e.tag == tFatal && view.ShowFatal)
      view.ShowFatal(e.text);
    else if (e.tag == tFatal)
      std::fwrite(e.text.data(), 1, e.text.size(), stderr);
  }
  RunCounts& c = Counts();
  c.textFiles += child.counts.textFiles;
  c.binaryFiles += child.counts.binaryFiles;
  c.repairs += child.counts.repairs;
  c.lines += child.counts.lines;
  for (const auto& [code, n] : child.counts.findings) c.findings[code] += n;
  ErrorReports() += child.errorReports;
  if (child.endStatus != kNotEnded) EndProgram(static_cast<int>(child.endStatus));
}

}  // namespace ketch
