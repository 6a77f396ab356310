// Sub Main: the settings, the main window and its commands.
#include "shell/app/mMain.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QStandardPaths>
#include <cstdio>
#include <memory>

#include "platform/App.h"
#include "platform/Text.h"
#include "shell/DoEvents.h"
#include "shell/Progress.h"
#include "shell/app/Commands.h"
#include "shell/app/FindingsWiring.h"
#include "shell/cSettings.h"
#include "shell/mError.h"
#include "shell/window/frmFindings.h"
#include "shell/window/frmMain.h"

namespace ketch {
namespace {

// The log view when there is no window to log into: only the fatal box, for
// the settings store's failures before the window opens and after it closed.
LogView FatalBoxOnly() {
  LogView view;
  view.ShowFatal = [](const std::string& message) { ShowFatalBox(nullptr, message); };
  return view;
}

}  // namespace

void WireCommands(frmMain& window) {
  window.OnInitDB = [] { return cmdInitDB(); };
  window.OnAll = [] {
    cmdAll();
    // Stopped by a signal: the window goes with the run.
    if (StopSignal() != 0) EndProgram(128 + StopSignal());
  };
  window.OnDumpRules = [] { cmdDumpRules(); };
}

int SubMain(int argc, char** argv) {
  QApplication app(argc, argv);

  SetLogView(FatalBoxOnly());

  std::unique_ptr<cSettings> settings = StartSettings();

  frmMain window;
  window.setWindowTitle(window.windowTitle() + "  V " + QString::fromStdString(App::VersionText()));
  window.InstallLogView();
  WireCommands(window);
  window.tbVDPath->setText(QString::fromStdString(Cp1252ToUtf8(settings->VDPath())));
  window.tbLogPath->setText(QString::fromStdString(Cp1252ToUtf8(settings->LogPath())));
  int overwrite = std::stoi(settings->OverwriteLog());
  if (overwrite > 2) {
    // The box has no fourth state; say so rather than end without a word.
    FatalError(Error(errInvalidArgument, App::EXEName(),
                     "The stored Overwrite choice " + std::to_string(overwrite) +
                         " is not 0, 1 or 2"),
               "Unable to read settings");
  }
  window.chkOverwrite->setCheckState(frmMain::OverwriteState(overwrite));
  SetEventPump(PumpWindowEvents);

  // The findings window and its editor: a choice of this user's desktop, not
  // of the analysis, so it is kept with the desktop's settings.
  frmFindings findings(&window);
  findings.setAttribute(Qt::WA_QuitOnClose, false);
  QSettings desktop("ketch", "ketch");
  int status = 0;
  {
    FindingsWiring wiring(window, findings, LaunchDetached, OpenWithDesktop);
    const QString editor = desktop.value("editor").toString();
    findings.tbEditor->setText(editor);
    wiring.Opener().Editor(editor.toStdString());
    wiring.Opener().Terminal(QStandardPaths::findExecutable("x-terminal-emulator").toStdString());
    findings.OnEditor = [&](const QString& text) {
      wiring.Opener().Editor(text.toStdString());
      desktop.setValue("editor", text);
    };
    window.show();
    status = app.exec();
  }

  EndWindowRun(std::move(settings));
  return status;
}

void PumpWindowEvents() {
  // The engine asks between sections, a hundred thousand times in a large
  // game; every ask answered cost a fifth of the run, and the window looks
  // no more alive for it.
  static QElapsedTimer since;
  if (since.isValid() && since.elapsed() < 10) return;
  QApplication::processEvents();
  since.start();
}

void EndWindowRun(std::unique_ptr<cSettings> settings) {
  // Normal end: the settings object saves on destruction, and a failed save
  // is told in the box as at start-up.
  SetEventPump(nullptr);
  SetLogView(FatalBoxOnly());
  settings.reset();
  SetSettings(nullptr);
}

}  // namespace ketch
