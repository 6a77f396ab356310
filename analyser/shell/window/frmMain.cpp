// The main window: the controls at their places in twips, the tab order, the
// resize rule of the log box, and the handlers.
#include "shell/window/frmMain.h"

#include <QCloseEvent>
#include <QResizeEvent>
#include <QKeyEvent>

#include "platform/Text.h"
#include "shell/cSettings.h"
#include "shell/mError.h"
#include "shell/window/Twips.h"
#include "shell/window/frmPath.h"

namespace ketch {
namespace {

std::string ToBytes(const QString& text) { return Utf8ToCp1252(text.toStdString()); }

// The layout, in twips: left, top, width, height.
constexpr TwipsRect kVDPathLabel{120, 240, 615, 255};
constexpr TwipsRect kVDPathBox{840, 120, 4335, 375};
constexpr TwipsRect kBrowseVD{5280, 120, 855, 375};
constexpr TwipsRect kInitDB{6240, 120, 855, 375};
constexpr TwipsRect kAll{7200, 120, 735, 375};
constexpr TwipsRect kDumpRules{8640, 120, 735, 375};
constexpr TwipsRect kLogPathLabel{120, 720, 735, 255};
constexpr TwipsRect kLogPathBox{840, 600, 4335, 375};
constexpr TwipsRect kBrowseLog{5280, 600, 855, 375};
constexpr TwipsRect kOverwriteLabel{6240, 600, 735, 255};
constexpr TwipsRect kOverwriteBox{7080, 600, 255, 255};
constexpr TwipsRect kLog{120, 1080, 9255, 4695};
// Not the layout's: it fills the gap between All and Dump.
constexpr TwipsRect kFindings{7965, 120, 645, 375};

}  // namespace

void OverwriteBox::nextCheckState() {
  setCheckState(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
}

frmMain::frmMain(QWidget* parent) : QWidget(parent) {
  setWindowTitle("VD INI Analyser");
  // The layout's captions were sized for a small dialog font.
  QFont small = font();
  small.setPointSizeF(8);
  small.setStretch(QFont::SemiCondensed);
  setFont(small);
  CreateControls();
  PlaceControls();
  ConnectHandlers();
}

int frmMain::Dpi() const { return logicalDpiY(); }

void frmMain::CreateControls() {
  lblVDPath = new QLabel("VD Path", this);
  tbVDPath = new QLineEdit(this);
  cmdBrowseVD = new QPushButton("Browse", this);
  cmdInitDB = new QPushButton("Init DB", this);
  cmdAll = new QPushButton("All", this);
  cmdDumpRules = new QPushButton("Dump", this);
  lblLogPath = new QLabel("Log Path", this);
  tbLogPath = new QLineEdit(this);
  cmdBrowseLog = new QPushButton("Browse", this);
  lboOverwrite = new QLabel("Overwrite", this);
  chkOverwrite = new OverwriteBox("Overwrite", this);
  chkOverwrite->setTristate(true);
  tbLog = new LogBox(this);
  cmdFindings = new QPushButton("&Findings", this);
  cmdFindings->setToolTip("The findings of the last run, to sort, filter and open (Alt+F)");

  lblVDPath->setObjectName("lblVDPath");
  tbVDPath->setObjectName("tbVDPath");
  cmdBrowseVD->setObjectName("cmdBrowseVD");
  cmdInitDB->setObjectName("cmdInitDB");
  cmdAll->setObjectName("cmdAll");
  cmdDumpRules->setObjectName("cmdDumpRules");
  lblLogPath->setObjectName("lblLogPath");
  tbLogPath->setObjectName("tbLogPath");
  cmdBrowseLog->setObjectName("cmdBrowseLog");
  lboOverwrite->setObjectName("lboOverwrite");
  chkOverwrite->setObjectName("chkOverwrite");
  tbLog->setObjectName("tbLog");
  cmdFindings->setObjectName("cmdFindings");
}

void frmMain::PlaceControls() {
  const int dpi = Dpi();
  resize(TwipsToPx(kClientWidth, dpi), TwipsToPx(kClientHeight, dpi));
  lblVDPath->setGeometry(ToPx(kVDPathLabel, dpi));
  tbVDPath->setGeometry(ToPx(kVDPathBox, dpi));
  cmdBrowseVD->setGeometry(ToPx(kBrowseVD, dpi));
  cmdInitDB->setGeometry(ToPx(kInitDB, dpi));
  cmdAll->setGeometry(ToPx(kAll, dpi));
  cmdDumpRules->setGeometry(ToPx(kDumpRules, dpi));
  lblLogPath->setGeometry(ToPx(kLogPathLabel, dpi));
  tbLogPath->setGeometry(ToPx(kLogPathBox, dpi));
  cmdBrowseLog->setGeometry(ToPx(kBrowseLog, dpi));
  lboOverwrite->setGeometry(ToPx(kOverwriteLabel, dpi));
  chkOverwrite->setGeometry(ToPx(kOverwriteBox, dpi));
  tbLog->setGeometry(ToPx(kLog, dpi));
  cmdFindings->setGeometry(ToPx(kFindings, dpi));

  // Tab order of the layout; labels take no focus.
  QWidget* order[] = {tbVDPath, tbLogPath, cmdBrowseVD, cmdBrowseLog, chkOverwrite,
                      cmdInitDB, tbLog, cmdDumpRules, cmdAll, cmdFindings};
  for (size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);
}

void frmMain::ConnectHandlers() {
  connect(tbVDPath, &QLineEdit::textChanged, this, [](const QString& text) {
    if (Settings()) Settings()->VDPath(ToBytes(text));
  });
  connect(tbLogPath, &QLineEdit::textChanged, this, [](const QString& text) {
    if (Settings()) Settings()->LogPath(ToBytes(text));
  });
  connect(chkOverwrite, &QCheckBox::stateChanged, this, [](int state) {
    const int choice = OverwriteChoice(static_cast<Qt::CheckState>(state));
    if (Settings()) Settings()->OverwriteLog(std::to_string(choice));
  });
  connect(cmdBrowseVD, &QPushButton::clicked, this, [this] { Browse(tbVDPath); });
  connect(cmdBrowseLog, &QPushButton::clicked, this, [this] { Browse(tbLogPath); });
  connect(cmdInitDB, &QPushButton::clicked, this, [this] {
    Run([this] {
      if (OnInitDB) cmdAll->setEnabled(OnInitDB());
    });
  });
  connect(cmdAll, &QPushButton::clicked, this, [this] { Run(OnAll); });
  connect(cmdDumpRules, &QPushButton::clicked, this, [this] { Run(OnDumpRules); });
  connect(cmdFindings, &QPushButton::clicked, this, [this] {
    if (OnFindings) OnFindings();
  });
  ShowPicker = [](frmMain& main) {
    frmPath picker(main.aPath, &main);
    picker.exec();
  };
}

void frmMain::Run(const std::function<void()>& command) {
  // A click that arrives while a command runs (file reading lets the window
  // process events) is dropped: a second command would corrupt the first.
  if (!command || running_) return;
  running_ = true;
  {
    struct Done {
      bool& running;
      ~Done() { running = false; }
    } done{running_};
    command();
  }
  if (closePending_) close();
}

int frmMain::OverwriteChoice(Qt::CheckState state) {
  return state == Qt::Checked ? 1 : state == Qt::PartiallyChecked ? 2 : 0;
}

Qt::CheckState frmMain::OverwriteState(int choice) {
  return choice == 1 ? Qt::Checked : choice == 2 ? Qt::PartiallyChecked : Qt::Unchecked;
}

void frmMain::Browse(QLineEdit* box) {
  aPath = box->text();
  ShowPicker(*this);
  box->setText(aPath);
}

void frmMain::closeEvent(QCloseEvent* event) {
  // Closing in the middle of a command would end the program with half a run;
  // the command ends first, and the caption says the close is not lost. The
  // log is no place for it: it records the run.
  if (!running_) {
    QWidget::closeEvent(event);
    return;
  }
  event->ignore();
  if (!closePending_) {
    closePending_ = true;
    setWindowTitle(windowTitle() + " - closing when the command ends");
  }
}

void frmMain::keyPressEvent(QKeyEvent* event) {
  // Escape during a command, from any control that does not take it itself.
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    if (running_ && OnCancel) OnCancel();
    return;
  }
  QWidget::keyPressEvent(event);
}

void frmMain::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const int dpi = Dpi();
  int bottom = kLogPathBox.Top + kLogPathBox.Height;
  TwipsRect place = LogBoxPlace(PxToTwips(width(), dpi), PxToTwips(height(), dpi), bottom);
  tbLog->setGeometry(ToPx(place, dpi));
}

void frmMain::InstallLogView() {
  LogView view;
  view.Append = [this](const std::string& text) { tbLog->AppendText(text); };
  view.Length = [this] { return tbLog->TextLength(); };
  view.KeepFrom = [this](size_t from) { tbLog->KeepFrom(from); };
  view.Repaint = [this] { tbLog->ShowEnd(); };
  view.ShowFatal = [this](const std::string& message) {
    ShowFatalBox(this, message);
  };
  SetLogView(std::move(view));
}

}  // namespace ketch

#include <QMessageBox>

namespace ketch {

void ShowFatalBox(QWidget* parent, const std::string& message) {
  QMessageBox box(QMessageBox::Critical, "Ketch", QString::fromStdString(Cp1252ToUtf8(message)),
                  QMessageBox::Ok, parent);
  box.exec();
}

}  // namespace ketch
