// Sub Main: the program's entry point. With no argument it opens the main
// window; with arguments it runs headless (see Headless.h).
#include <QApplication>
#include <cstdio>
#include <memory>

#include "platform/App.h"
#include "platform/Text.h"
#include "shell/DoEvents.h"
#include "shell/Headless.h"
#include "shell/cSettings.h"
#include "shell/frmMain.h"
#include "shell/mError.h"

namespace ketch {
namespace {

int SubMain(int argc, char** argv) {
  QApplication app(argc, argv);

  // Start-up failures show the fatal box before any window exists.
  LogView startup;
  startup.ShowFatal = [](const std::string& message) { ShowFatalBox(nullptr, message); };
  SetLogView(startup);

  auto settings = std::make_unique<cSettings>();
  SetSettings(settings.get());
  settings->SettingsDBName(App::Path() + "\\KETCH.MDB");

  frmMain window;
  window.setWindowTitle(window.windowTitle() + "  V " + QString::fromStdString(App::VersionText()));
  window.InstallLogView();
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
  window.chkOverwrite->setCheckState(overwrite == 1   ? Qt::Checked
                                     : overwrite == 2 ? Qt::PartiallyChecked
                                                      : Qt::Unchecked);
  SetEventPump([] { QApplication::processEvents(); });
  window.show();
  int status = app.exec();

  // Normal end: the settings object saves on destruction.
  SetEventPump(nullptr);
  SetLogView(LogView{});
  settings.reset();
  SetSettings(nullptr);
  return status;
}

}  // namespace
}  // namespace ketch

int main(int argc, char** argv) {
  if (argc > 1) return ketch::RunHeadless(argc, argv);
  return ketch::SubMain(argc, argv);
}
