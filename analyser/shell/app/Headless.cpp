// The headless mode: options set the settings for the run (stored only with
// --save), commands run in the order given, the log box's text goes to
// standard output in UTF-8 with LF line ends; or, for check, the findings do. Every option is read and every file opened before anything
// runs, so that a mistake on the command line costs nothing.
#include "shell/app/Headless.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "platform/App.h"
#include "platform/Locations.h"
#include "platform/Text.h"
#include "shell/app/Check.h"
#include "shell/app/Commands.h"
#include "shell/DoEvents.h"
#include "shell/Progress.h"
#include "shell/app/FindingsOutput.h"
#include "shell/app/Progress.h"
#include "shell/app/RunSummary.h"
#include "shell/cSettings.h"
#include "shell/mError.h"

namespace ketch {
namespace {

std::string ToBytes(const QString& text) { return Utf8ToCp1252(text.toStdString()); }

// A path as the user typed it: the bytes the file system knows it by.
std::string PathBytes(const QString& text) { return text.toLocal8Bit().toStdString(); }

void UsageError(const QString& message) {
  std::fprintf(stderr, "ketch: %s\nTry 'ketch --help'.\n", message.toLocal8Bit().constData());
}

void Warn(const std::string& message) { std::fprintf(stderr, "ketch: warning: %s\n", message.c_str()); }

void Print(std::FILE* to, const std::string& text) { std::fwrite(text.data(), 1, text.size(), to); }

// The log's text (code page 1252, paths as the file system gave them, CR LF)
// as a terminal or a pipe reads text: UTF-8 with LF. The log file keeps its
// own bytes.
std::string ForTerminal(const std::string& logText) {
  std::string utf8 = MixedToUtf8(logText);
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size(); ++i)
    if (utf8[i] != '\r' || i + 1 >= utf8.size() || utf8[i + 1] != '\n') out += utf8[i];
  return out;
}

// A Windows-style path of the program as the file system shows it.
std::string Shown(const std::string& path) {
  std::string s = path;
  for (char& c : s)
    if (c == '\\') c = '/';
  return MixedToUtf8(s);
}

// --paths: the files this run would use.
std::string PathsText(const cSettings& settings) {
  const bool own = Locations::InProgramFolder();
  auto row = [](const char* label, const std::string& value) {
    return std::string(label) + std::string(10 - std::string(label).size(), ' ') + value + "\n";
  };
  std::string text;
  text += row("program", Shown(App::Path()) + (own ? " (its files beside it)" : " (installed: files per user)"));
  text += row("rules", Shown(Locations::SuppliedSettingsDB()) + " (supplied)");
  text += row("settings", Shown(Locations::SettingsDB()));
  text += row("data", Shown(Locations::DataFolder() + "\\VD.MDB"));
  text += row("log", Shown(LogFilePath()));
  text += row("game", settings.VDPath().empty() ? std::string("(not set)") : Shown(settings.VDPath()));
  return text;
}

// Reads a list of codes option into codes; false after a usage error.
bool CodesOption(const QCommandLineParser& parser, const QCommandLineOption& option, std::set<int16_t>& codes) {
  if (!parser.isSet(option)) return true;
  std::string error;
  if (ParseCodes(parser.value(option).toStdString(), codes, error)) return true;
  UsageError("--" + option.names().first() + ": " + QString::fromStdString(error));
  return false;
}

// Runs learn, init, all and dump in the order given; the status they end
// with, and in ranAll whether all ran (then the summary follows).
int RunCommands(const QStringList& commands, bool fresh, bool& ranAll) {
  bool initFailed = false;
  ranAll = false;
  int status = exitNormal;
  for (const QString& command : commands) {
    if (command == "learn") {
      std::string message;
      status = cmdLearn(fresh, message);
      if (status != exitNormal) {
        // Nothing after it would check what the user meant it to.
        std::fflush(stdout);
        std::fprintf(stderr, "ketch: learn: %s\n", Cp1252ToUtf8(message).c_str());
        break;
      }
    } else if (command == "init") {
      initFailed = !cmdInitDB();
    } else if (command == "all") {
      if (initFailed) {
        std::fflush(stdout);
        std::fprintf(stderr, "ketch: 'all' refused: 'init' failed (see the log)\n");
        status = exitAllRefused;
        break;
      }
      cmdAll();
      ranAll = true;
      // A signal stopped it: the program ends after its summary.
      if (StopSignal() != 0) break;
    } else if (command == "dump") {
      cmdDumpRules();
    }
  }
  return status;
}

}  // namespace

int RunHeadless(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName("ketch");
  QCoreApplication::setApplicationVersion(QString::fromStdString(App::VersionText()));

  QCommandLineParser parser;
  parser.setApplicationDescription(
      "Checks the game's INI data files against the rule base and stores the good data.\n"
      "Without arguments the window opens; with arguments ketch runs without one.\n"
      "--game, --log and --overwrite hold for this run only; with --save they are\n"
      "stored as the window stores what is typed into it.\n"
      "\n"
      "Exit statuses:\n"
      "  0  normal end\n"
      "  1  usage error\n"
      "  2  start-up or settings failure\n"
      "  3  the program ended itself after an error report\n"
      "  4  'all' refused because 'init' failed earlier in the same run\n"
      "  5  normal end, and a finding of the --fail-on codes was reported\n"
      "  6  normal end, but an error report was written (see the log)\n"
      "  7  'learn' found no game to learn from (KETCH.MDB unchanged)\n"
      "  8  'learn' could not write KETCH.MDB (it is unchanged)\n"
      "  128+N  'all' or 'check' stopped by signal N (SIGTERM 143, SIGINT 130) before\n"
      "         its next file; the files read whole are stored");
  parser.addHelpOption();
  parser.addVersionOption();
  QCommandLineOption game("game", "Sets the game folder.", "DIR");
  QCommandLineOption log("log", "Sets the folder of ketch.log (check: writes ketch.log there, only then).", "DIR");
  QCommandLineOption overwrite("overwrite", "Sets the Overwrite box: 0 clear, 1 ticked, 2 greyed.",
                               "0|1|2");
  QCommandLineOption findings("findings",
                              "Writes every finding reported to FILE: SARIF 2.1.0 when it ends in .sarif, "
                              "JSON Lines otherwise.",
                              "FILE");
  QCommandLineOption format("format", "check's standard output: gcc (the default), text or json.",
                            "text|gcc|json");
  QCommandLineOption failOn("fail-on", "Ends a normal run with status 5 when a finding of these codes was reported.",
                            "any|CODE[,CODE...]");
  QCommandLineOption select("select", "Reports only findings of these codes (ketch.log keeps every finding).",
                            "CODES");
  QCommandLineOption ignore("ignore", "Reports no finding of these codes (ketch.log keeps every finding).", "CODES");
  QCommandLineOption baseline("baseline",
                              "Leaves out every finding of this earlier findings file (same file, code, section, "
                              "key and value; lines are not compared).",
                              "FILE");
  QCommandLineOption writeBaseline("write-baseline", "Writes every finding of the run to FILE, for --baseline.",
                                   "FILE");
  QCommandLineOption save("save", "Stores --game, --log and --overwrite as the settings of later runs.");
  QCommandLineOption paths("paths", "Prints the files this run would use: settings, VD.MDB, log, rule base.");
  QCommandLineOption quiet(QStringList{"q", "quiet"}, "Prints only the summary and errors: no log text, no progress.");
  QCommandLineOption fresh("fresh", "learn: replaces the rule listing and the other-INI list by what was learned.");
  for (const QCommandLineOption* o : {&game, &log, &overwrite, &save, &paths, &quiet, &fresh, &findings, &format,
                                      &failOn, &select, &ignore, &baseline, &writeBaseline})
    parser.addOption(*o);
  parser.addPositionalArgument("COMMAND",
                               "Commands, run in the order given, as the buttons:\n"
                               "  init  builds a fresh VD.MDB and loads the rule base\n"
                               "  all   analyses the game (needs init before it)\n"
                               "  dump  writes the rule listing into the log\n"
                               "  learn learns the rules from the game's files into KETCH.MDB\n"
                               "        (needs no init; --fresh: a new listing)\n"
                               "or, alone:\n"
                               "  check PATH...  checks these files (a folder: every .ini\n"
                               "        below it) against the rule base; stores nothing,\n"
                               "        needs no init, prints PATH:LINE: warning: lines\n"
                               "  lsp   a language server on standard input and\n"
                               "        output: check's findings as the file is typed",
                               "[COMMAND ...]");
  parser.process(app);

  QString overwriteValue = parser.value(overwrite);
  if (parser.isSet(overwrite) && overwriteValue != "0" && overwriteValue != "1" &&
      overwriteValue != "2") {
    UsageError("--overwrite takes 0, 1 or 2, not '" + overwriteValue + "'");
    return exitUsage;
  }
  QStringList commands = parser.positionalArguments();
  const bool check = !commands.isEmpty() && commands.first() == "check";
  std::vector<std::string> checkPaths;
  if (check) {
    for (qsizetype i = 1; i < commands.size(); ++i) checkPaths.push_back(PathBytes(commands[i]));
    commands.clear();
    if (checkPaths.empty()) {
      UsageError("'check' needs the files or folders to check");
      return exitUsage;
    }
    // A check reads the paths it is given and changes no setting.
    if (parser.isSet(game) || parser.isSet(overwrite) || parser.isSet(save)) {
      UsageError("'check' takes no --game, --overwrite or --save: it reads the paths given");
      return exitUsage;
    }
  } else if (parser.isSet(format)) {
    UsageError("--format chooses the output of 'check' only");
    return exitUsage;
  }
  if (!check && commands.isEmpty() && !parser.isSet(save) && !parser.isSet(paths)) {
    // Options alone would set nothing that outlives the run.
    UsageError("no command given (init, all, dump; or check PATH...); --save stores the options alone");
    return exitUsage;
  }
  bool initBefore = false;
  for (const QString& command : commands) {
    if (command == "check") {
      UsageError("'check' runs alone: ketch check PATH...");
      return exitUsage;
    }
    if (command != "init" && command != "all" && command != "dump" && command != "learn") {
      UsageError("unknown command '" + command + "' (commands: init, all, dump, learn; or check PATH...)");
      return exitUsage;
    }
    // The rule base lives in memory: a run reads nothing without it.
    if (command == "all" && !initBefore) {
      UsageError("'all' needs 'init' before it in the same run");
      return exitUsage;
    }
    initBefore = initBefore || command == "init";
  }

  if (parser.isSet(fresh) && !commands.contains("learn")) {
    UsageError("--fresh goes with 'learn' only");
    return exitUsage;
  }

  CheckFormat checkFormat = CheckFormat::Gcc;
  if (parser.isSet(format) && !ParseCheckFormat(parser.value(format).toStdString(), checkFormat)) {
    UsageError("--format takes text, gcc or json, not '" + parser.value(format) + "'");
    return exitUsage;
  }
  FindingOptions options;
  options.findingsFile = PathBytes(parser.value(findings));
  options.baselineFile = PathBytes(parser.value(baseline));
  options.writeBaselineFile = PathBytes(parser.value(writeBaseline));
  options.failOnAny = parser.value(failOn) == "any";
  if ((!options.failOnAny && !CodesOption(parser, failOn, options.failOn)) || !CodesOption(parser, select, options.select) ||
      !CodesOption(parser, ignore, options.ignore))
    return exitUsage;
  std::vector<std::string> checkFiles;
  if (check) {
    std::vector<std::string> warnings;
    std::string error;
    if (!CheckFiles(checkPaths, checkFiles, warnings, error)) {
      UsageError(QString::fromLocal8Bit(error.c_str()));
      return exitUsage;
    }
    for (const std::string& w : warnings) Warn(w);
  }
  FindingsRun run;
  if (std::string error; !run.Open(options, error)) {
    UsageError(QString::fromLocal8Bit(error.c_str()));
    return exitUsage;
  }

  const bool quietRun = parser.isSet(quiet);
  ProgressLine progress(!quietRun && isatty(STDERR_FILENO) == 1);
  LogView view;
  // A check's standard output is its findings: the box shows nothing, and
  // error reports go to standard error; so do they in a quiet run.
  if (check)
    view.ShowError = [&progress](const std::string& report) {
      progress.Clear();
      Print(stderr, report);
    };
  else if (quietRun)
    view.ShowError = [&progress](const std::string& report) {
      progress.Clear();
      Print(stderr, ForTerminal(report));
    };
  else
    view.Append = [&progress](const std::string& text) {
      progress.Clear();
      Print(stdout, ForTerminal(text));
    };
  view.ShowFatal = [&progress](const std::string& message) {
    progress.Clear();
    Print(stderr, message);
  };
  SetLogView(view);
  SetEventPump([&progress] { progress.Tick(); });

  std::unique_ptr<cSettings> settings = StartSettings();
  settings->SaveOnClose(parser.isSet(save));

  int status = exitNormal;
  if (check) {
    settings->SaveOnClose(false);
    SetLogFileOn(parser.isSet(log));
    if (parser.isSet(log)) SetLogFolder(ToBytes(parser.value(log)));
    const FindingPaths paths;
    run.Start(paths, [&](const Finding& f) { Print(stdout, CheckOutput(f, checkFormat, paths)); });
    cmdCheck(checkFiles);
  } else {
    if (parser.isSet(game)) settings->VDPath(ToBytes(parser.value(game)));
    if (parser.isSet(log)) settings->LogPath(ToBytes(parser.value(log)));
    if (parser.isSet(overwrite)) settings->OverwriteLog(ToBytes(overwriteValue));
    if (parser.isSet(paths)) Print(stdout, PathsText(*settings));
    // Without a findings option the log alone hears of findings.
    if (!options.findingsFile.empty() || !options.writeBaselineFile.empty() || options.failOnAny ||
        !options.failOn.empty())
      run.Start(FindingPaths(settings->VDPath()));

    bool ranAll = false;
    status = RunCommands(commands, parser.isSet(fresh), ranAll);
    progress.Clear();
    if (ranAll) Print(stdout, ForTerminal(SummaryText()));
  }

  if (std::string error; !run.Finish(error)) {
    std::fprintf(stderr, "ketch: %s\n", error.c_str());
    if (status == exitNormal) status = exitErrorReport;
  }
  progress.Clear();
  SetEventPump(nullptr);
  if (check) Print(checkFormat == CheckFormat::Json ? stderr : stdout, CheckSummary(run.Reported()));
  status = run.Status(status);
  if (StopSignal() != 0) status = 128 + StopSignal();

  // Normal end: with --save the settings are saved as when the window closes
  // (a check's are left as stored).
  settings.reset();
  SetSettings(nullptr);
  std::fflush(stdout);
  return status;
}

}  // namespace ketch
