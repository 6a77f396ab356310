// Opening the place of a finding in the user's editor: the command for a
// file and line (the editor setting, else $VISUAL or $EDITOR, with the line
// in the form each known editor takes), started without a shell; binary
// data files open as their converted text, made when first asked for in a
// folder of the program's own that goes when the program ends.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "shell/Records.h"

namespace ketch {

// A program and its arguments; an empty program means the desktop's opener.
struct OpenCommand {
  std::string program;
  std::vector<std::string> args;
};

// The command that opens file at line (0: no line) with editor, a command
// line as the user wrote it ("code -g", "emacsclient -n"; words split as a
// shell would, without running one); "{file}" and "{line}" in it, when
// present, are replaced and nothing is added. Otherwise a known editor gets
// the line its way (+LINE, -g FILE:LINE, --line LINE), an unknown one the
// file alone; a terminal editor runs in x-terminal-emulator when terminal
// is given (that emulator's path). An empty editor gives the desktop opener.
OpenCommand EditorCommand(const std::string& editor, const std::string& file, int line,
                          const std::string& terminal = {});

// The editor when the setting is empty: $VISUAL, else $EDITOR, else "".
std::string DefaultEditor();

class PlaceOpener {
 public:
  // Starts a program detached, with these arguments (no shell); false when
  // it could not start.
  using Launcher = std::function<bool(const std::string& program, const std::vector<std::string>& args)>;
  // Opens a file with the desktop's opener; false when none took it.
  using DesktopOpener = std::function<bool(const std::string& file)>;

  PlaceOpener(Launcher launch, DesktopOpener desktop);
  ~PlaceOpener();  // removes the converted texts
  PlaceOpener(const PlaceOpener&) = delete;
  PlaceOpener& operator=(const PlaceOpener&) = delete;

  // The editor command line; "" for the default.
  void Editor(const std::string& editor) { editor_ = editor; }
  // Where a terminal editor runs; "" runs it as it is.
  void Terminal(const std::string& terminal) { terminal_ = terminal; }

  // Opens the place of the finding: its file at its line, or, for a file
  // that could not be opened (10306), the line that named it. "" when it
  // started, otherwise why not, for the user.
  std::string Open(const Finding& finding);

  // The file on disk an editor is given for a game path: the path resolved,
  // or the converted text of a binary file. "" with why in error.
  std::string FileToOpen(const std::string& gamePath, std::string& error);

 private:
  Launcher launch_;
  DesktopOpener desktop_;
  std::string editor_, terminal_;
  std::string dir_;  // the converted texts, made when first needed
  std::map<std::string, std::string> converted_;  // resolved path -> its text
};

}  // namespace ketch
