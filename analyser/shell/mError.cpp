// The error table, the log, error reports, warning records (and the findings
// they tell of) and the end of the program.
#include "shell/mError.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/App.h"
#include "platform/Locations.h"
#include "platform/Paths.h"
#include "shell/Records.h"
#include "shell/RunCounts.h"

namespace ketch {
namespace {

constexpr const char* kCrLf = "\r\n";
// The text of any code outside the table.
constexpr const char* kUnknownError = "Unknown Error";
// The box keeps its text short: past this many characters the next message
// first drops everything before character kTrimFrom (1-based).
constexpr size_t kBoxLimit = 32000;
constexpr size_t kTrimFrom = 6000;

LogView& View() {
  static LogView view;
  return view;
}

std::function<void(int)>& EndHook() {
  static std::function<void(int)> hook;
  return hook;
}

std::function<void()>& BeforeEndHook() {
  static std::function<void()> hook;
  return hook;
}

std::string& Folder() {
  static std::string folder;
  return folder;
}

std::function<void(const Finding&)>& FindingSink() {
  static std::function<void(const Finding&)> sink;
  return sink;
}

bool logFileOn = true;

std::vector<std::function<void()>>& EndCleanups() {
  static std::vector<std::function<void()>> cleanups;
  return cleanups;
}

void BoxAppend(const std::string& text) {
  if (View().Append) View().Append(text);
}

// Writes all of text to the descriptor; returns errno of the failure or 0.
int WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    done += static_cast<size_t>(n);
  }
  return 0;
}

// The log file stays open from line to line for as long as its path still
// leads to it: opening and closing it for every line cost more than the
// writing. A log deleted, moved or replaced while the program runs is opened
// afresh at its path, as if it were opened for every line.
class LogFile {
 public:
  // Appends text to the file at path (created when missing); errno of the
  // failure or 0. file() is the file path maps to.
  int Append(const std::string& path, const std::string& text) {
    struct stat st;
    if (fd_ < 0 || path != path_ || stat(file_.c_str(), &st) != 0 || st.st_dev != dev_ || st.st_ino != ino_) {
      Close();
      path_ = path;
      file_ = ResolvePath(path);
      fd_ = open(file_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
      if (fd_ < 0) return errno;
      if (fstat(fd_, &st) != 0) {
        const int e = errno;
        Close();
        return e;
      }
      dev_ = st.st_dev;
      ino_ = st.st_ino;
    }
    return WriteAll(fd_, text);
  }
  const std::string& file() const { return file_; }

 private:
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

  int fd_ = -1;
  std::string path_, file_;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
};

std::string RecordText(const std::string& file, int32_t line, const std::string& section,
                       int32_t sectionLine, int16_t code, const std::string& key, const std::string& value) {
  std::string text;
  text.reserve(64 + file.size() + section.size() + key.size() + value.size());
  text += "WARN: File " + file + " line " + std::to_string(line) + kCrLf;
  text += "      Section [" + section + "] line " + std::to_string(sectionLine) + kCrLf;
  text += "      " + ErrorText(code) + " !" + key + "!" + value + "!" + kCrLf;
  return text;
}

// A finding's fields but its file and line.
Finding FindingOf(int16_t code, const std::string& section, int16_t sectionLine, const std::string& key,
                  const std::string& value) {
  Finding f;
  f.Section = section;
  f.SectionLine = sectionLine;
  f.Key = key;
  f.Value = value;
  f.Code = code;
  const char* text = TableText(code);
  f.Text = text ? text : kUnknownError;
  return f;
}

}  // namespace

const char* TableText(int16_t code) {
  const char* text = nullptr;
  switch (code) {
    case 10101: text = "Value Type Mismatch"; break;
    case 10102: text = "Value object is not initialized"; break;
    case 10103: text = "Value object is already initialized"; break;
    case 10104: text = "Value Overflow"; break;
    case 10201: text = "Entry object is already initialized"; break;
    case 10202: text = "Entry object is not initialized"; break;
    case 10203: text = "Entry Name Mismatch"; break;
    case 10204: text = "Value Position Mismatch"; break;
    case 10205: text = "Too Many Values"; break;
    case 10206: text = "Multi Value in Fixed Position"; break;
    case 10207: text = "Fixed Value in Multi Position"; break;
    case 10208: text = "Value Types Not Set"; break;
    case 10209: text = "Entry is Not Multiline"; break;
    case 10210: text = "Multi Value Must Be Last"; break;
    case 10211: text = "Entry does not accept Multi Value"; break;
    case 10212: text = "Too Few Values"; break;
    case 10301: text = "Section has no closing bracket"; break;
    case 10302: text = "Unknown Entry"; break;
    case 10303: text = "Section Unknown Error"; break;
    case 10304: text = "Entry With no Value"; break;
    case 10305: text = "Unknown Section"; break;
    case 10306: text = "Could not open referred file"; break;
    case 10307: text = "Line too long"; break;
    default: break;
  }
  return text;
}

std::string ErrorText(int16_t code) {
  const char* text = TableText(code);
  return text ? std::to_string(code) + " - " + text : kUnknownError;
}

bool IsFinding(int32_t number) { return number > 10000 && number <= 32767; }

Error OwnError(int16_t code, const std::string& classSuffix) {
  return Error(code, App::EXEName() + classSuffix, ErrorText(code));
}

void LogLine(const std::string& message) {
  static LogFile log;
  // Finding the log's folder costs system calls: not for every line of a
  // run without a log file.
  const std::string path = logFileOn ? LogFilePath() : std::string();
  const int failure = logFileOn ? log.Append(path, message + kCrLf) : 0;

  if (failure != 0) {
    // The file copy is lost; the box says why and the caller goes on.
    const std::string& file = log.file();
    size_t slash = file.rfind('/');
    bool folderMissing = failure == ENOENT && slash != std::string::npos;
    Error e = PlatformErrorOf(FileErrorNumber(failure, folderMissing));
    const std::string notice = "*******  Unable to log message in file " + path + kCrLf +
                               "         Error numb:" + std::to_string(e.Number) + kCrLf +
                               "         Error desc:" + e.Description + kCrLf +
                               "         Error src :" + e.Source + kCrLf;
    BoxAppend(notice);
    ++ErrorReports();
    if (View().ShowError) View().ShowError(notice);
    return;
  }
  const LogView& view = View();
  if (view.Length && view.KeepFrom && view.Length() > kBoxLimit) view.KeepFrom(kTrimFrom - 1);
  BoxAppend(message + kCrLf);
  if (view.Repaint) view.Repaint();
}

void LogError(const Error& error, const std::string& context) {
  const std::string report = "Error : " + error.Description + kCrLf + "Number: " + std::to_string(error.Number) +
                             kCrLf + "Source: " + error.Source + kCrLf + context;
  ++ErrorReports();
  LogLine(report);
  if (View().ShowError) {
    View().ShowError(report + kCrLf);
  } else if (error.Source == "SQLite" && ((error.Number & 0xff) == 5 || (error.Number & 0xff) == 6)) {
    // A database another program holds is the user's to let go of: said on
    // standard error too, where a run's output is not looked at.
    const std::string line = App::EXEName() + ": " + error.Description + "\n";
    [[maybe_unused]] ssize_t n = write(STDERR_FILENO, line.data(), line.size());
  }
}

void LogWarning(const SectionRecord& section, int16_t code, int16_t index) {
  ++Counts().findings[code];
  // The record holds positions 1..2048 only.
  int16_t i = index < 1 ? 1 : (index > kSectionCapacity ? kSectionCapacity : index);
  LogLine(RecordText(section.File, section.LineNo + index, section.SectionName, index, code,
                     section.EntryNames[i], section.EntryValues[i]));
  if (!FindingSink()) return;
  Finding f = FindingOf(code, section.SectionName, index, section.EntryNames[i], section.EntryValues[i]);
  f.File = section.File;
  f.Line = section.LineNo + index;
  f.PhysicalLine = code == errSectionNoClosingBracket || code == errUnknownSection ? section.LineNo
                                                                                   : section.EntryLines[i];
  FindingSink()(f);
}

void LogLocationWarning(const LocationRecord& location, int16_t code, const std::string& namedFile) {
  ++Counts().findings[code];
  LogLine(RecordText(location.File, location.Line, location.Section, location.Index, code, location.Key,
                     location.Value));
  if (!FindingSink()) return;
  Finding f = FindingOf(code, location.Section, location.Index, location.Key, location.Value);
  if (namedFile.empty()) {
    f.File = location.File;
    f.Line = location.Line;
  } else {
    // The finding is about the file that was named; the naming line is where.
    f.File = namedFile;
    f.Named = true;
    f.NamedIn = location.File;
    f.NamedLine = location.Line;
  }
  FindingSink()(f);
}

std::string WarningRecord(const Finding& f) {
  return f.Named ? RecordText(f.NamedIn, f.NamedLine, f.Section, f.SectionLine, f.Code, f.Key, f.Value)
                 : RecordText(f.File, f.Line, f.Section, f.SectionLine, f.Code, f.Key, f.Value);
}

void SetFindingSink(std::function<void(const Finding&)> sink) { FindingSink() = std::move(sink); }
const std::function<void(const Finding&)>& CurrentFindingSink() { return FindingSink(); }

void FatalError(const Error& error, const std::string& context) {
  std::string message = context + kCrLf + kCrLf + "Error: " + error.Description + kCrLf +
                        "Number: " + std::to_string(error.Number) + kCrLf +
                        "Source: " + error.Source + kCrLf;
  if (View().ShowFatal)
    View().ShowFatal(message);
  else
    std::fwrite(message.data(), 1, message.size(), stderr);
  EndProgram(exitFatal);
}

std::string ApiErrorText(int32_t code) {
  const char* text = strerrordesc_np(code);
  return text ? text : "";
}

void SetLogFolder(const std::string& folder) { Folder() = folder; }
void SetLogFileOn(bool on) { logFileOn = on; }
bool LogFileOn() { return logFileOn; }
const std::string& LogFolder() { return Folder(); }
std::string LogFilePath() { return Locations::LogFolder(Folder()) + "\\ketch.log"; }

void SetLogView(LogView view) { View() = std::move(view); }
const LogView& CurrentLogView() { return View(); }

void SetEndHook(std::function<void(int)> hook) { EndHook() = std::move(hook); }
void SetBeforeEndHook(std::function<void()> hook) { BeforeEndHook() = std::move(hook); }
void AtEndProgram(std::function<void()> cleanup) { EndCleanups().push_back(std::move(cleanup)); }

void EndProgram(int status) {
  if (BeforeEndHook()) {
    try {
      BeforeEndHook()();
    } catch (...) {
      // Ending must not fail; what could be committed was.
    }
  }
  for (const auto& cleanup : EndCleanups()) {
    try {
      cleanup();
    } catch (...) {
      // Likewise: the end goes on.
    }
  }
  if (EndHook()) EndHook()(status);
  std::fflush(stdout);
  std::fflush(stderr);
  _exit(status);
}

}  // namespace ketch
