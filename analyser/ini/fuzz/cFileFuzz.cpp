// Fuzz target of the line reader: bytes in, lines out. The reader, fed in
// chunks of a size the input picks and with lines pushed back where the input
// says, must give the same lines, line numbers and log messages as a plain
// model that splits the whole text at once.
//
// Input: byte 0 picks the chunk size, byte 1 the push-back pattern, the rest
// is the file.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ini/cFile.h"
#include "shell/cSettings.h"
#include "shell/mError.h"

namespace {

using ketch::cFile;

// The reader's rules written the slow, obvious way.
class Model {
 public:
  explicit Model(const std::string& text) {
    std::string line;
    bool afterCr = false, open = false;
    for (char c : text) {
      if (afterCr && c == '\n') {
        afterCr = false;
        continue;
      }
      afterCr = false;
      if (c == '\r') {
        lines_.push_back(line);
        line.clear();
        afterCr = true;
        open = false;
      } else {
        line += c;
        open = true;
      }
    }
    if (open) lines_.push_back(line);
  }

  bool EndOfFile() const { return !pending_ && next_ == lines_.size(); }

  std::string ReadLine() {
    std::string line;
    if (pending_) {
      line = *pending_;
      pending_.reset();
    } else {
      line = lines_.at(next_++);
      ++lineNum_;
    }
    for (char& c : line)
      if (c == '\t') c = ' ';
    line = line.substr(0, line.find(';'));
    while (!line.empty() && line.front() == ' ') line.erase(0, 1);
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return Repair(line);
  }

  void Backline(const std::string& line) { pending_ = line; }
  int32_t LineNum() const { return lineNum_; }
  std::vector<std::string> log;

 private:
  std::string Repair(const std::string& l) {
    const std::string header = "WARN: File f.ini line " + std::to_string(lineNum_);
    if (l == "separable" || l == "offer_missions") {
      log.insert(log.end(), {header, "      !" + l + "! line found. Changed to !" + l + " = true!"});
      return l + " = true";
    }
    for (const std::string key : {"separable", "offer_missions"}) {
      const std::string start = key + " = ";
      if (l.substr(0, start.size()) != start) continue;
      std::string rest;
      if (l.substr(start.size(), 7) == "true = ")
        rest = l.substr(start.size() + 7);
      else if (l.substr(start.size()).find('=') != std::string::npos)
        rest = l.substr(start.size());
      else
        return l;
      const std::string out = key + " = true";
      log.insert(log.end(), {header, "      !" + l + "! line found.",
                             "      Splited in two lines: !" + out + "!" + rest + "!"});
      pending_ = rest;
      return out;
    }
    return l;
  }

  std::vector<std::string> lines_;
  size_t next_ = 0;
  int32_t lineNum_ = 0;
  std::optional<std::string> pending_;
};

// The log goes to a file that is /dev/null; the box copy is what is checked.
std::vector<std::string>& Box() {
  static std::vector<std::string> box;
  return box;
}

void SetUpLog() {
  static bool done = false;
  if (done) return;
  done = true;
  namespace fs = std::filesystem;
  const fs::path folder = fs::temp_directory_path() / ("ketch-fuzz-log-" + std::to_string(getpid()));
  fs::create_directories(folder);
  std::error_code ec;
  fs::create_symlink("/dev/null", folder / "ketch.log", ec);
  static ketch::cSettings settings;
  settings.LogPath(folder.string());
  ketch::SetSettings(&settings);
  ketch::LogView view;
  view.Append = [](const std::string& text) {
    Box().push_back(text.substr(0, text.size() - 2));  // without CR LF
  };
  ketch::SetLogView(view);
}

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  SetUpLog();
  Box().clear();
  const size_t chunk = data[0] == 0 ? static_cast<size_t>(-1) : data[0];
  const uint8_t pushes = data[1];
  const std::string text(reinterpret_cast<const char*>(data) + 2, size - 2);

  cFile reader;
  reader.OpenSource("f.ini", std::make_unique<ketch::MemoryLineSource>(text, chunk));
  Model model(text);
  for (unsigned step = 0;; ++step) {
    Check(reader.EndOfFile() == model.EndOfFile());
    if (model.EndOfFile()) break;
    const std::string got = reader.ReadLine();
    Check(got == model.ReadLine());
    Check(reader.LineNum() == model.LineNum());
    Check(got.find_first_of("\r\t;") == std::string::npos);
    Check(got.empty() || (got.front() != ' ' && got.back() != ' '));
    // Push back a piece of the line now and then, the line's raw text included.
    // Bounded, since every push-back is read again without reaching the end.
    if (step < 64 && (pushes & (1u << (step % 8)))) {
      std::string back = text.substr(step % (text.size() + 1), pushes % 23);
      std::erase(back, '\r');  // no line the callers push back has one
      reader.Backline(back);
      model.Backline(back);
    }
  }
  Check(reader.LineNum() == model.LineNum());
  Check(Box() == model.log);
  return 0;
}
