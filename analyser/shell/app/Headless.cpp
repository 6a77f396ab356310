// The headless mode: options set the settings, commands run in the order
// given, the log box's text goes to standard output.
#include "shell/app/Headless.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>
#include <memory>

#include "platform/App.h"
#include "platform/Text.h"
#include "shell/app/Commands.h"
#include "shell/app/RunSummary.h"
#include "shell/cSettings.h"
#include "shell/mError.h"

namespace ketch {
namespace {

std::string ToBytes(const QString& text) { return Utf8ToCp1252(text.toStdString()); }

void UsageError(const QString& message) {
  std::fprintf(stderr, "ketch: %s\nTry 'ketch --help'.\n", message.toLocal8Bit().constData());
}

}  // namespace

int RunHeadless(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName("ketch");
  QCoreApplication::setApplicationVersion(QString::fromStdString(App::VersionText()));

  QCommandLineParser parser;
  parser.setApplicationDescription(
      "Checks the game's INI data files against the rule base and stores the good data.\n"
      "Without arguments the window opens; with arguments ketch runs without one.");
  parser.addHelpOption();
  parser.addVersionOption();
  QCommandLineOption game("game", "Sets the game folder.", "DIR");
  QCommandLineOption log("log", "Sets the folder of ketch.log.", "DIR");
  QCommandLineOption overwrite("overwrite", "Sets the Overwrite box: 0 clear, 1 ticked, 2 greyed.",
                               "0|1|2");
  parser.addOption(game);
  parser.addOption(log);
  parser.addOption(overwrite);
  parser.addPositionalArgument("COMMAND",
                               "Commands, run in the order given, as the buttons:\n"
                               "  init  builds a fresh VD.MDB and loads the rule base\n"
                               "  all   analyses the game (needs init before it)\n"
                               "  dump  writes the rule listing into the log",
                               "[COMMAND ...]");
  parser.process(app);

  QString overwriteValue = parser.value(overwrite);
  if (parser.isSet(overwrite) && overwriteValue != "0" && overwriteValue != "1" &&
      overwriteValue != "2") {
    UsageError("--overwrite takes 0, 1 or 2, not '" + overwriteValue + "'");
    return exitUsage;
  }
  const QStringList commands = parser.positionalArguments();
  bool initBefore = false;
  for (const QString& command : commands) {
    if (command != "init" && command != "all" && command != "dump") {
      UsageError("unknown command '" + command + "' (commands: init, all, dump)");
      return exitUsage;
    }
    // The rule base lives in memory: a run reads nothing without it.
    if (command == "all" && !initBefore) {
      UsageError("'all' needs 'init' before it in the same run");
      return exitUsage;
    }
    initBefore = initBefore || command == "init";
  }

  LogView view;
  view.Append = [](const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); };
  view.ShowFatal = [](const std::string& message) {
    std::fwrite(message.data(), 1, message.size(), stderr);
  };
  SetLogView(view);

  auto settings = std::make_unique<cSettings>();
  SetSettings(settings.get());
  settings->SettingsDBName(App::Path() + "\\KETCH.MDB");
  if (parser.isSet(game)) settings->VDPath(ToBytes(parser.value(game)));
  if (parser.isSet(log)) settings->LogPath(ToBytes(parser.value(log)));
  if (parser.isSet(overwrite)) settings->OverwriteLog(ToBytes(overwriteValue));

  bool initFailed = false, ranAll = false;
  int status = exitNormal;
  for (const QString& command : commands) {
    if (command == "init") {
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
    } else if (command == "dump") {
      cmdDumpRules();
    }
  }

  if (ranAll) {
    std::string summary = SummaryText();
    std::fwrite(summary.data(), 1, summary.size(), stdout);
  }

  // Normal end: the settings are saved as when the window closes.
  settings.reset();
  SetSettings(nullptr);
  std::fflush(stdout);
  return status;
}

}  // namespace ketch
