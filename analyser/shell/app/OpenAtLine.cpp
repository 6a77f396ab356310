// Opening a finding's place: the editor's command and the converted texts.
#include "shell/app/OpenAtLine.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <set>

#include "converter/KrunFormat.h"
#include "ini/Conversion.h"
#include "platform/Paths.h"
#include "shell/mError.h"

namespace ketch {
namespace {

namespace fs = std::filesystem;

enum class LineForm { None, Plus, Goto, Colon, LineOption };

LineForm FormOf(const std::string& name) {
  static const std::set<std::string> plus = {"vi",    "vim",  "nvim", "gvim", "view", "nano", "pico",  "emacs",
                                             "emacsclient", "gedit", "xed", "pluma", "micro", "joe", "jed",
                                             "ne",    "geany", "mcedit", "kak"};
  static const std::set<std::string> gotoForm = {"code", "codium", "code-oss", "vscodium", "code-insiders"};
  static const std::set<std::string> colon = {"subl", "sublime_text", "zed"};
  static const std::set<std::string> lineOption = {"kate", "kwrite"};
  if (plus.count(name)) return LineForm::Plus;
  if (gotoForm.count(name)) return LineForm::Goto;
  if (colon.count(name)) return LineForm::Colon;
  if (lineOption.count(name)) return LineForm::LineOption;
  return LineForm::None;
}

// Editors that need a terminal to show anything.
bool InTerminal(const std::string& name) {
  static const std::set<std::string> names = {"vi",  "vim", "nvim", "view", "nano", "pico", "micro",
                                              "joe", "jed", "ne",   "mcedit", "kak"};
  return names.count(name) != 0;
}

bool ReadsAsBinary(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char head[4] = {};
  const bool binary = ::read(fd, head, sizeof head) == 4 && std::string_view(head, 4) == krun::kMagic;
  ::close(fd);
  return binary;
}

// The words of a command line as a shell splits them, without running one:
// blanks separate, '...' is taken as it stands, "..." and a backslash
// outside quotes escape.
std::vector<std::string> SplitWords(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == ' ' || c == '\t') {
      if (inWord) words.push_back(std::move(word));
      word.clear();
      inWord = false;
      continue;
    }
    inWord = true;
    if (c == '\'') {
      const size_t end = line.find('\'', i + 1);
      word += line.substr(i + 1, end == std::string::npos ? std::string::npos : end - i - 1);
      i = end == std::string::npos ? line.size() : end;
    } else if (c == '"') {
      for (++i; i < line.size() && line[i] != '"'; ++i) {
        if (line[i] == '\\' && i + 1 < line.size() && (line[i + 1] == '"' || line[i + 1] == '\\')) ++i;
        word += line[i];
      }
    } else if (c == '\\' && i + 1 < line.size()) {
      word += line[++i];
    } else {
      word += c;
    }
  }
  if (inWord) words.push_back(std::move(word));
  return words;
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

}  // namespace

OpenCommand EditorCommand(const std::string& editor, const std::string& file, int line,
                          const std::string& terminal) {
  OpenCommand command;
  std::vector<std::string> words = SplitWords(editor);
  if (words.empty()) return command;
  const std::string lineText = std::to_string(line);
  command.program = words.front();
  bool placed = false;
  for (size_t i = 1; i < words.size(); ++i) {
    std::string word = words[i];
    if (word.find("{file}") != std::string::npos || word.find("{line}") != std::string::npos) placed = true;
    ReplaceAll(word, "{line}", lineText);
    ReplaceAll(word, "{file}", file);
    command.args.push_back(std::move(word));
  }
  const std::string name = fs::path(command.program).filename().string();
  if (!placed) {
    const LineForm form = line > 0 ? FormOf(name) : LineForm::None;
    switch (form) {
      case LineForm::Plus: command.args.insert(command.args.end(), {"+" + lineText, file}); break;
      case LineForm::Goto: command.args.insert(command.args.end(), {"-g", file + ":" + lineText}); break;
      case LineForm::Colon: command.args.push_back(file + ":" + lineText); break;
      case LineForm::LineOption: command.args.insert(command.args.end(), {"--line", lineText, file}); break;
      case LineForm::None: command.args.push_back(file); break;
    }
  }
  if (!terminal.empty() && InTerminal(name)) {
    command.args.insert(command.args.begin(), {"-e", command.program});
    command.program = terminal;
  }
  return command;
}

std::string DefaultEditor() {
  for (const char* name : {"VISUAL", "EDITOR"})
    if (const char* value = std::getenv(name); value && *value) return value;
  return {};
}

PlaceOpener::PlaceOpener(Launcher launch, DesktopOpener desktop)
    : launch_(std::move(launch)), desktop_(std::move(desktop)) {}

PlaceOpener::~PlaceOpener() {
  std::error_code ec;
  if (!dir_.empty()) fs::remove_all(dir_, ec);
}

std::string PlaceOpener::FileToOpen(const std::string& gamePath, std::string& error) {
  const std::string path = ResolvePath(gamePath);
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) {
    error = "cannot open " + path + ": no such file";
    return {};
  }
  if (!ReadsAsBinary(path)) return path;
  if (auto it = converted_.find(path); it != converted_.end() && fs::exists(it->second, ec)) return it->second;
  if (dir_.empty()) {
    std::string pattern = (fs::temp_directory_path(ec) / "ketch-open-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
      error = "cannot make a folder for the converted text: " + ApiErrorText(errno);
      return {};
    }
    dir_ = pattern;
    // An end after an error report skips the destructor: the folder goes then too.
    AtEndProgram([dir = dir_] {
      std::error_code e;
      fs::remove_all(dir, e);
    });
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  std::string text;
  const bool decoded = fd >= 0 && DecodeBinaryFile(fd, text);
  if (fd >= 0) ::close(fd);
  if (!decoded) {
    error = "cannot convert the binary file " + path;
    return {};
  }
  // Its own folder keeps the file's name, as krun names its text.
  const fs::path folder = fs::path(dir_) / std::to_string(converted_.size() + 1);
  fs::create_directories(folder, ec);
  const std::string out = (folder / (fs::path(path).filename().string() + ".txt")).string();
  const int wfd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const bool written = wfd >= 0 && ::write(wfd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  if (wfd >= 0) ::close(wfd);
  if (!written) {
    error = "cannot write the converted text " + out;
    return {};
  }
  converted_[path] = out;
  return out;
}

std::string PlaceOpener::Open(const Finding& finding) {
  std::string gamePath = finding.File;
  int line = finding.Line;
  if (finding.Named) {
    if (finding.NamedIn.empty() || finding.NamedIn == "N/A")
      return "the file is missing, and no game file names it (a built-in list does)";
    gamePath = finding.NamedIn;
    line = finding.NamedLine;
  }
  std::string error;
  const std::string file = FileToOpen(gamePath, error);
  if (file.empty()) return error;
  const std::string editor = editor_.empty() ? DefaultEditor() : editor_;
  const OpenCommand command = EditorCommand(editor, file, line, terminal_);
  if (command.program.empty()) return desktop_ && desktop_(file) ? "" : "no program opens " + file;
  return launch_ && launch_(command.program, command.args) ? "" : "cannot start " + command.program;
}

}  // namespace ketch
