// The window's run of a game, for timing against the headless one: the main
// window and the findings window shown and wired as Sub Main wires them,
// then Init DB and All clicked, and the program ends when All has.
//   ketch_window_run PROGRAM_DIR GAME LOG_DIR
// PROGRAM_DIR holds KETCH.MDB and krun (VD.MDB goes there). Prints the
// findings listed and the files read to standard error. For looking at it
// (under Xvfb): KETCH_SHOT_AT=N saves the screen to KETCH_SHOT_DURING once N
// files are done, KETCH_CANCEL_AT=N clicks Cancel then, and KETCH_SHOT_END
// names where the screen goes after the run. KETCH_LEARN=1 clicks Learn
// first (its progress and Cancel then take the same variables).
#include <QApplication>
#include <QPalette>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <memory>

#include "platform/App.h"
#include "shell/DoEvents.h"
#include "shell/RunCounts.h"
#include "shell/app/FindingsWiring.h"
#include "shell/app/mMain.h"
#include "shell/cSettings.h"
#include "shell/mError.h"
#include "shell/window/frmFindings.h"
#include "shell/window/frmMain.h"

int main(int argc, char** argv) {
  using namespace ketch;
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s PROGRAM_DIR GAME LOG_DIR\n", argv[0]);
    return 1;
  }
  QApplication app(argc, argv);
  if (qEnvironmentVariableIsSet("KETCH_DARK")) {
    // A dark desktop's palette, as a dark theme gives it.
    QApplication::setStyle("Fusion");
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(45, 45, 48));
    dark.setColor(QPalette::WindowText, QColor(220, 220, 220));
    dark.setColor(QPalette::Base, QColor(30, 30, 30));
    dark.setColor(QPalette::AlternateBase, QColor(45, 45, 48));
    dark.setColor(QPalette::Text, QColor(220, 220, 220));
    dark.setColor(QPalette::Button, QColor(60, 60, 64));
    dark.setColor(QPalette::ButtonText, QColor(220, 220, 220));
    dark.setColor(QPalette::Highlight, QColor(38, 79, 120));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    dark.setColor(QPalette::PlaceholderText, QColor(140, 140, 140));
    dark.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(120, 120, 120));
    dark.setColor(QPalette::Disabled, QPalette::WindowText, QColor(120, 120, 120));
    QApplication::setPalette(dark);
  }
  App::SetPath(argv[1]);
  auto settings = std::make_unique<cSettings>();
  SetSettings(settings.get());
  settings->SettingsDBName(App::Path() + "\\KETCH.MDB");
  settings->SaveOnClose(false);

  frmMain window;
  window.InstallLogView();
  WireCommands(window);
  frmFindings findings(&window);
  FindingsWiring wiring(window, findings, LaunchDetached, OpenWithDesktop);
  window.tbVDPath->setText(QString::fromLocal8Bit(argv[2]));
  window.tbLogPath->setText(QString::fromLocal8Bit(argv[3]));
  window.chkOverwrite->setCheckState(Qt::Checked);
  auto number = [](const char* name) { return qEnvironmentVariableIsSet(name) ? qEnvironmentVariableIntValue(name) : -1; };
  const int shotAt = number("KETCH_SHOT_AT"), cancelAt = number("KETCH_CANCEL_AT");
  const QString during = qEnvironmentVariable("KETCH_SHOT_DURING"), end = qEnvironmentVariable("KETCH_SHOT_END");
  auto shoot = [](const QString& file) {
    if (!file.isEmpty()) QGuiApplication::primaryScreen()->grabWindow(0).save(file);
  };
  bool shot = false, cancelled = false;
  SetEventPump([&] {
    PumpWindowEvents();
    const int done = findings.pbRun->value();
    if (shotAt >= 0 && !shot && done >= shotAt) {
      shot = true;
      findings.Flush();
      QApplication::processEvents();
      shoot(during);
    }
    if (cancelAt >= 0 && !cancelled && done >= cancelAt) {
      cancelled = true;
      findings.cmdCancel->click();
    }
  });
  window.show();
  // Beside the main window, as a user would put it.
  findings.move(window.frameGeometry().right() + 8, window.y());
  findings.show();
  QTimer::singleShot(0, [&] {
    if (qEnvironmentVariableIsSet("KETCH_LEARN")) {
      findings.cmdLearn->click();
      if (cancelled) {
        window.tbLog->ShowEnd(true);
        QApplication::processEvents();
        shoot(end);
        app.quit();
        return;
      }
    }
    window.cmdInitDB->click();
    window.cmdAll->click();
    window.tbLog->ShowEnd(true);
    QApplication::processEvents();
    shoot(end);
    std::fprintf(stderr, "listed %d findings, read %lld files\n", findings.model->rowCount(),
                 static_cast<long long>(Counts().textFiles + Counts().binaryFiles));
    app.quit();
  });
  const int status = app.exec();
  SetEventPump(nullptr);
  SetLogView(LogView{});
  settings.reset();
  SetSettings(nullptr);
  return status;
}
