// The main window: the game folder row, the log folder row and the log box.
// Its handlers are thin: the edit handlers write the settings object, the
// Browse buttons run the folder picker, and the command buttons call the
// handlers that the program wires to its commands (mMain); the window itself
// knows no command.
#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>
#include <functional>
#include <string>

#include "shell/window/LogBox.h"

namespace ketch {

// A check box whose clicks go between clear and ticked; only the program sets
// the greyed state.
class OverwriteBox : public QCheckBox {
  Q_OBJECT
 public:
  using QCheckBox::QCheckBox;

 protected:
  void nextCheckState() override;
};

class frmMain : public QWidget {
  Q_OBJECT
 public:
  explicit frmMain(QWidget* parent = nullptr);

  // The folder being chosen, passed between Browse and the folder picker.
  QString aPath;

  // The commands of the three buttons, wired by the program (tests replace
  // them). OnInitDB tells whether the data database was made: a failed Init
  // DB disables All until one succeeds.
  std::function<bool()> OnInitDB;
  std::function<void()> OnAll, OnDumpRules;
  // Beside the layout's controls: the Findings button opens the findings
  // window; Escape during a command asks it to stop.
  std::function<void()> OnFindings, OnCancel;

  // Runs a command as the buttons do (not while another one runs); for the
  // commands of the findings window.
  void RunCommand(const std::function<void()>& command) { Run(command); }

  // True while a button's command runs; a second one does not start
  // meanwhile, and a close waits for its end.
  bool CommandRunning() const { return running_; }

  // The Overwrite box's states as the stored choice 0 (clear), 1 (ticked)
  // and 2 (greyed), both ways.
  static int OverwriteChoice(Qt::CheckState state);
  static Qt::CheckState OverwriteState(int choice);

  // Runs the folder picker for the box (the Browse buttons). Tests replace
  // the picker.
  std::function<void(frmMain&)> ShowPicker;

  // The log box as the log sees it.
  void InstallLogView();

  QLabel* lblVDPath;
  QLineEdit* tbVDPath;
  QPushButton* cmdBrowseVD;
  QPushButton* cmdInitDB;
  QPushButton* cmdAll;
  QPushButton* cmdDumpRules;
  QLabel* lblLogPath;
  QLineEdit* tbLogPath;
  QPushButton* cmdBrowseLog;
  QLabel* lboOverwrite;
  OverwriteBox* chkOverwrite;
  LogBox* tbLog;
  QPushButton* cmdFindings;  // in the gap between All and Dump

  // The client area of the layout, in twips.
  static constexpr int kClientWidth = 9510;
  static constexpr int kClientHeight = 5880;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void CreateControls();
  void PlaceControls();
  void ConnectHandlers();
  void Browse(QLineEdit* box);
  // Runs a button's command unless one runs already.
  void Run(const std::function<void()>& command);
  int Dpi() const;

  bool running_ = false;
  bool closePending_ = false;  // closed during a command
};

}  // namespace ketch

namespace ketch {
// The fatal error box: the message, one OK button, the program's title.
void ShowFatalBox(QWidget* parent, const std::string& message);
}  // namespace ketch
