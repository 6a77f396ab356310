// The INI line reader. A binary file is read from the converter's text, which
// is unlinked as soon as it is open, so nothing is left behind even when the
// program ends without closing the reader.
#include "ini/cFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "converter/KrunFormat.h"
#include "ini/Conversion.h"
#include "platform/App.h"
#include "platform/Paths.h"
#include "shell/Records.h"
#include "shell/RunCounts.h"
#include "shell/mError.h"

namespace ketch {
namespace {

constexpr const char* kConverterFailed = "KRUN finished with error";

Error ConversionError() { return Error(errKrunFailed, App::EXEName() + ".cFile", kConverterFailed); }

// Tab to blank, cut at the first ";", blanks off both ends. A tab becomes a
// blank, so trimming tabs from the raw text is the same as trimming blanks
// after the replacement, and it saves copying what is trimmed.
void CleanLine(std::string_view raw, std::string& out) {
  const char* begin = raw.data();
  const char* end = begin + raw.size();
  bool tab = false;
  if (const char* mark = scan::FindEither(begin, end, ';', '\t')) {
    if (*mark == '\t') {
      tab = true;
      mark = scan::Find(mark + 1, end, ';');
    }
    if (mark) end = mark;
  }
  while (begin < end && (*begin == ' ' || *begin == '\t')) ++begin;
  while (end > begin && (end[-1] == ' ' || end[-1] == '\t')) --end;
  out.assign(begin, static_cast<size_t>(end - begin));
  if (tab)
    for (char& c : out) c = c == '\t' ? ' ' : c;
}

// Opening a missing file is "file not found", unless its folder is missing too.
Error OpenError(int e, const std::string& file) {
  bool folderMissing = false;
  if (e == ENOENT) {
    const size_t slash = file.rfind('/');
    if (slash != std::string::npos && slash > 0) {
      struct stat st;
      folderMissing = stat(file.substr(0, slash).c_str(), &st) != 0 || !S_ISDIR(st.st_mode);
    }
  }
  return PlatformErrorOf(FileErrorNumber(e, folderMissing));
}

}  // namespace

cFile::~cFile() { CloseFile(); }

void cFile::CloseFile() {
  lines_.reset();
  isConverted_ = false;
  hasPendingLine_ = false;
  pendingLine_.clear();
  fileName_.clear();
  lineNum_ = 0;
}

void cFile::FileName(const std::string& path) {
  CloseFile();
  fileName_ = path;
  if (!path.empty()) Open(path);
}

void cFile::OpenSource(const std::string& name, std::unique_ptr<LineSource> source) {
  CloseFile();
  fileName_ = name;
  lines_ = std::make_unique<LineSplitter>(std::move(source));
}

void cFile::Open(const std::string& path) {
  std::string file;
  struct stat st;
  const int fd = OpenDataFile(path, file, st);
  if (fd < 0) throw OpenError(errno, file);
  // A file that grows while it is read ends where it ended when opened.
  auto source = std::make_unique<FileLineSource>(fd, nullptr, static_cast<uint64_t>(st.st_size));
  auto lines = std::make_unique<LineSplitter>(std::move(source));
  // A line end within the first four bytes would make them no "KRUN" anyway,
  // so the first line starts with the magic exactly when the file does.
  if (lines->Peek(krun::kMagic.size()) != krun::kMagic) {
    lines_ = std::move(lines);
    return;
  }
  Convert(fd);
  isConverted_ = true;
}

void cFile::Convert(int fd) {
  int text = TakeConverted(fileName_, fd);
  if (text < 0 && DecodesInProcess()) {
    std::string decoded;
    if (!DecodeBinaryFile(fd, decoded)) throw ConversionError();
    lines_ = std::make_unique<LineSplitter>(std::make_unique<MemoryLineSource>(std::move(decoded)));
    return;
  }
  if (text < 0) text = ConvertBinaryFile(fd);
  if (text < 0) throw ConversionError();
  lines_ = std::make_unique<LineSplitter>(std::make_unique<FileLineSource>(text, ReleaseConverted));
}

bool cFile::EndOfFile() { return !hasPendingLine_ && (!lines_ || lines_->AtEnd()); }

std::string cFile::ReadLine() {
  std::string line;
  ReadLine(line);
  return line;
}

void cFile::ReadLine(std::string& line) {
  if (hasPendingLine_) {
    const std::string pending = std::move(pendingLine_);
    hasPendingLine_ = false;
    pendingLine_.clear();
    CleanLine(pending, line);
  } else {
    std::string_view raw;
    if (!lines_ || !lines_->Next(raw)) throw PlatformErrorOf(errEndOfFile);
    ++lineNum_;
    uint64_t length;
    if (raw.empty() && lines_->TakeTooLong(length)) {
      // Dropped whole: a cut line would be read as something it is not.
      LocationRecord at;
      at.File = fileName_;
      at.Line = lineNum_;
      at.Section = at.Key = "N/A";
      at.Value = std::to_string(length) + " bytes";
      LogLocationWarning(at, errLineTooLong);
    }
    CleanLine(raw, line);
  }
  // Nearly every line leaves here.
  if (!line.empty() && (line[0] == 's' || line[0] == 'o')) Repair(line);
}

void cFile::Backline(const std::string& line) {
  pendingLine_ = line;
  hasPendingLine_ = true;
}

void cFile::Repair(std::string& line) {
  static constexpr std::string_view kSeparable = "separable";
  static constexpr std::string_view kOfferMissions = "offer_missions";
  auto header = [this] {
    ++Counts().repairs;
    LogLine("WARN: File " + fileName_ + " line " + std::to_string(lineNum_));
  };
  if (line == kSeparable || line == kOfferMissions) {
    header();
    LogLine("      !" + line + "! line found. Changed to !" + line + " = true!");
    line += " = true";
    return;
  }
  std::string_view key;
  if (line.starts_with("separable = "))
    key = kSeparable;
  else if (line.starts_with("offer_missions = "))
    key = kOfferMissions;
  else
    return;
  const size_t value = key.size() + 3;  // past " = "
  std::string rest;
  if (line.compare(value, 7, "true = ") == 0)
    rest = line.substr(value + 7);
  else if (line.find('=', value) != std::string::npos)
    rest = line.substr(value);
  else
    return;
  header();
  LogLine("      !" + line + "! line found.");
  line.assign(key).append(" = true");
  Backline(rest);
  LogLine("      Splited in two lines: !" + line + "!" + rest + "!");
}

}  // namespace ketch
