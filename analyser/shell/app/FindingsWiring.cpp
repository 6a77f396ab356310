// The findings window's wiring: sink, progress, stop, open, check.
#include "shell/app/FindingsWiring.h"

#include <QDesktopServices>
#include <QProcess>
#include <QUrl>

#include "gamedata/mLearn.h"
#include "platform/Text.h"
#include "rules/RunState.h"
#include "shell/Progress.h"
#include "shell/RunCounts.h"
#include "shell/app/Commands.h"
#include "shell/app/FindingsOutput.h"
#include "shell/cSettings.h"
#include "shell/mError.h"
#include "shell/window/frmFindings.h"
#include "shell/window/frmMain.h"

namespace ketch {

FindingsWiring::FindingsWiring(frmMain& main, frmFindings& list, PlaceOpener::Launcher launch,
                               PlaceOpener::DesktopOpener desktop)
    : main_(main), list_(list), opener_(std::move(launch), std::move(desktop)), all_(main.OnAll) {
  main_.OnAll = [this] { Watched("All", all_); };
  main_.OnFindings = [this] {
    list_.show();
    list_.raise();
    list_.activateWindow();
  };
  main_.OnCancel = [this] { Cancel(); };
  list_.OnCancel = [this] { Cancel(); };
  list_.OnCheck = [this](const std::vector<std::string>& files) { Check(files); };
  list_.OnLearn = [this](bool fresh) { Learn(fresh); };
  list_.OnEditor = [this](const QString& editor) { opener_.Editor(editor.toStdString()); };
  list_.OnOpen = [this](const Finding& f) {
    const std::string why = opener_.Open(f);
    list_.Say(why.empty() ? QString() : QString::fromStdString(why));
  };
}

FindingsWiring::~FindingsWiring() {
  SetFindingSink(nullptr);
  SetProgressHooks({});
  main_.OnAll = all_;
  main_.OnFindings = nullptr;
  main_.OnCancel = nullptr;
  list_.OnCancel = nullptr;
  list_.OnCheck = nullptr;
  list_.OnLearn = nullptr;
  list_.OnOpen = nullptr;
  list_.OnEditor = nullptr;
}

void FindingsWiring::Watched(const char* what, const std::function<void()>& command) {
  if (!command) return;
  list_.RunStarted(what);
  cancelled_ = false;
  outcome_.clear();
  known_.clear();
  done_.clear();
  // The game folder as the run starts; paths below it are shown relative.
  auto paths = std::make_shared<FindingPaths>(Settings() ? Settings()->VDPath() : std::string());
  SetFindingSink([this, paths](const Finding& f) {
    list_.Add(f, QString::fromStdString(paths->Reported(f.File)));
  });
  ProgressHooks hooks;
  hooks.FileKnown = [this](const std::string& path) {
    if (known_.insert(UpperCase(path)).second) list_.Progress(static_cast<int>(done_.size()), static_cast<int>(known_.size()));
  };
  hooks.FileDone = [this](const std::string& path) {
    const std::string key = UpperCase(path);
    known_.insert(key);
    if (done_.insert(key).second) list_.Progress(static_cast<int>(done_.size()), static_cast<int>(known_.size()));
  };
  hooks.Pass = [this](const std::string& pass) { list_.Pass(QString::fromStdString(pass)); };
  SetProgressHooks(std::move(hooks));
  command();
  SetProgressHooks({});
  SetFindingSink(nullptr);
  if (!outcome_.isEmpty()) {
    list_.RunEnded(outcome_);
    return;
  }
  const RunCounts& c = Counts();
  const int64_t files = c.textFiles + c.binaryFiles;
  list_.RunEnded(QString("%1 %2: %3 files read")
                     .arg(what)
                     .arg(cancelled_ ? "cancelled" : "done")
                     .arg(files));
}

void FindingsWiring::Learn(bool fresh) {
  main_.RunCommand([this, fresh] {
    std::string message;
    Watched("Learn", [&] {
      LearnSummary s;
      int status = exitNormal;
      try {
        status = cmdLearn(fresh, message, &s);
      } catch (const Error& e) {
        // Reloading the rules written can fail; the window stays, and says so.
        LogError(e, "Learn");
        status = exitLearnNotWritten;
        message = e.Description;
      }
      if (status == exitNormal)
        outcome_ = QString("Learn done: %1 files read, %2 entries learned (%3 new)")
                       .arg(s.filesRead)
                       .arg(s.entries)
                       .arg(s.newEntries);
      else if (status == exitLearnCancelled)
        outcome_ = QString("Learn cancelled: %1 files read, KETCH.MDB unchanged").arg(s.filesRead);
      else
        outcome_ = "Learn failed";
    });
    const QString shown = QString::fromStdString(Cp1252ToUtf8(message));
    list_.Say(shown.isEmpty() || outcome_.startsWith("Learn cancelled") ? QString() : "Learn: " + shown);
  });
}

void FindingsWiring::Cancel() {
  if (!main_.CommandRunning()) return;
  cancelled_ = true;
  RequestStop();
  list_.Pass("Stopping after the file being read...");
}

void FindingsWiring::Check(const std::vector<std::string>& files) {
  main_.RunCommand([this, files] {
    // The rule base and files read of an Init DB stay for the next All. The
    // log file stays on, so the check runs in this process alone (no fork of
    // a process with a window).
    RunState loaded = std::move(Run());
    const RunCounts counts = Counts();
    Watched("Check", [&files] { cmdCheck(files); });
    Run() = std::move(loaded);
    Counts() = counts;
    if (StopSignal() != 0) EndProgram(128 + StopSignal());
  });
}

bool LaunchDetached(const std::string& program, const std::vector<std::string>& args) {
  QStringList list;
  for (const std::string& a : args) list << QString::fromLocal8Bit(a.c_str());
  return QProcess::startDetached(QString::fromLocal8Bit(program.c_str()), list);
}

bool OpenWithDesktop(const std::string& file) {
  return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromLocal8Bit(file.c_str())));
}

}  // namespace ketch
