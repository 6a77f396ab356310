// The findings window, opened from the main window: the findings of the last
// run as a list to sort and filter, each row leading to its place (Enter or
// a double-click), the count per code, and the run's progress with its
// Cancel. Check on chosen files and Learn start here too. Like the main window it
// knows no command: the program wires the hooks (mMain).
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "shell/Records.h"
#include "shell/window/FindingsModel.h"

namespace ketch {

class frmFindings : public QWidget {
  Q_OBJECT
 public:
  explicit frmFindings(QWidget* parent = nullptr);

  // A row was activated: open its place.
  std::function<void(const Finding&)> OnOpen;
  // Check these files (paths as chosen).
  std::function<void(const std::vector<std::string>& files)> OnCheck;
  // Learn the rules from the game's files; fresh replaces the listing.
  std::function<void(bool fresh)> OnLearn;
  // Asks whether the rule listing may be replaced; tests replace the dialog.
  std::function<bool(QWidget& parent)> ConfirmFresh;
  // Cancel or Escape during a run.
  std::function<void()> OnCancel;
  // The editor command line was changed (the Editor box).
  std::function<void(const QString& editor)> OnEditor;
  // Asks for the files to check; tests replace the dialog.
  std::function<QStringList(QWidget& parent)> ChooseFiles;

  // A finding of the running command; rows are shown in batches.
  void Add(const Finding& finding, const QString& file);
  // Shows every finding added so far.
  void Flush();

  // A run starts (the list empties), goes on, and ends.
  void RunStarted(const QString& what);
  void Progress(int done, int known);
  void Pass(const QString& pass);
  void RunEnded(const QString& outcome);
  // A line under the list: what opening a row did, when it could not.
  void Say(const QString& text);

  FindingsModel* model;
  FindingsFilter* filter;
  QPushButton* cmdCheck;
  QPushButton* cmdLearn;
  QCheckBox* chkFresh;
  QPushButton* cmdCancel;
  QProgressBar* pbRun;
  QLabel* lblPass;
  QComboBox* cboCode;
  QLineEdit* tbFilter;
  QLabel* lblCounts;
  QTableView* tvFindings;
  QLabel* lblStatus;
  QLineEdit* tbEditor;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void CreateControls();
  void PlaceControls();
  void ConnectHandlers();
  // The code list and the count line, after the rows changed.
  void ShowCounts();

  QTimer flushTimer_;
};

}  // namespace ketch
