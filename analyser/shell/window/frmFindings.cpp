// The findings window: controls, layout and handlers.
#include "shell/window/frmFindings.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMessageBox>
#include <QScreen>
#include <QVBoxLayout>

#include "shell/mError.h"

namespace ketch {
namespace {

// Rows reach the list at most this often: a run with thousands of findings
// pays for a few insertions, not one per finding.
constexpr int kFlushMs = 250;

}  // namespace

frmFindings::frmFindings(QWidget* parent) : QWidget(parent, Qt::Window) {
  setWindowTitle("Findings");
  CreateControls();
  PlaceControls();
  ConnectHandlers();
}

void frmFindings::CreateControls() {
  model = new FindingsModel(this);
  filter = new FindingsFilter(this);
  filter->setSourceModel(model);
  cmdCheck = new QPushButton("&Check files...", this);
  cmdLearn = new QPushButton("&Learn", this);
  cmdLearn->setToolTip("Learns the rules from the game's own files into KETCH.MDB");
  chkFresh = new QCheckBox("Fre&sh rules", this);
  chkFresh->setToolTip("Learn replaces the rule listing instead of adding to it");
  cmdCancel = new QPushButton("Cancel", this);
  cmdCancel->setEnabled(false);
  cmdCancel->setToolTip("Stops the run after the file being read (Escape)");
  pbRun = new QProgressBar(this);
  pbRun->setRange(0, 1);
  pbRun->setValue(0);
  pbRun->setFormat("%v of %m files");
  lblPass = new QLabel(this);
  cboCode = new QComboBox(this);
  cboCode->addItem("All codes", 0);
  tbFilter = new QLineEdit(this);
  tbFilter->setPlaceholderText("file or section");
  tbFilter->setClearButtonEnabled(true);
  lblCounts = new QLabel("No findings", this);
  lblCounts->setWordWrap(true);
  tvFindings = new QTableView(this);
  tvFindings->setModel(filter);
  tvFindings->setSelectionBehavior(QAbstractItemView::SelectRows);
  tvFindings->setSelectionMode(QAbstractItemView::SingleSelection);
  tvFindings->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tvFindings->setWordWrap(false);
  tvFindings->verticalHeader()->hide();
  tvFindings->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  tvFindings->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  // No sort column at first: the rows stand in the order the run found them.
  tvFindings->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
  tvFindings->setSortingEnabled(true);
  tvFindings->horizontalHeader()->setStretchLastSection(true);
  const int em = fontMetrics().horizontalAdvance('M');
  // Numbers get the room of their widest value and the header's margins.
  const int number = fontMetrics().horizontalAdvance("0000000") + em;
  const int widths[] = {24 * em, number, 10 * em, 10 * em, number};
  for (int c = 0; c < static_cast<int>(std::size(widths)); ++c) tvFindings->setColumnWidth(c, widths[c]);
  lblStatus = new QLabel(this);
  lblStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
  lblStatus->hide();
  tbEditor = new QLineEdit(this);
  tbEditor->setPlaceholderText("$VISUAL or $EDITOR, else the desktop's opener; {file} and {line} may be used");
  tbEditor->setToolTip("The command that opens a finding's file at its line, e.g. \"code -g\" or \"kate\"");

  cmdCheck->setObjectName("cmdCheck");
  cmdLearn->setObjectName("cmdLearn");
  chkFresh->setObjectName("chkFresh");
  cmdCancel->setObjectName("cmdCancel");
  pbRun->setObjectName("pbRun");
  lblPass->setObjectName("lblPass");
  cboCode->setObjectName("cboCode");
  tbFilter->setObjectName("tbFilter");
  lblCounts->setObjectName("lblCounts");
  tvFindings->setObjectName("tvFindings");
  lblStatus->setObjectName("lblStatus");
  tbEditor->setObjectName("tbEditor");
}

void frmFindings::PlaceControls() {
  // Laid out rather than placed: this window is not the layout's, and it has
  // to read well at any scale and size.
  auto* run = new QHBoxLayout;
  run->addWidget(cmdCheck);
  run->addWidget(cmdLearn);
  run->addWidget(chkFresh);
  run->addWidget(cmdCancel);
  run->addWidget(pbRun, 1);
  run->addWidget(lblPass, 1);
  auto* choose = new QHBoxLayout;
  auto* codeLabel = new QLabel("C&ode", this);
  codeLabel->setBuddy(cboCode);
  auto* filterLabel = new QLabel("&Filter", this);
  filterLabel->setBuddy(tbFilter);
  choose->addWidget(codeLabel);
  choose->addWidget(cboCode);
  choose->addWidget(filterLabel);
  choose->addWidget(tbFilter, 1);
  auto* all = new QVBoxLayout(this);
  all->addLayout(run);
  all->addLayout(choose);
  all->addWidget(lblCounts);
  all->addWidget(tvFindings, 1);
  auto* open = new QHBoxLayout;
  auto* editorLabel = new QLabel("&Editor", this);
  editorLabel->setBuddy(tbEditor);
  open->addWidget(editorLabel);
  open->addWidget(tbEditor, 1);
  all->addWidget(lblStatus);
  all->addLayout(open);
  const int em = fontMetrics().horizontalAdvance('M');
  QSize size(84 * em, 40 * fontMetrics().height());
  if (const QScreen* screen = this->screen()) size = size.boundedTo(screen->availableSize() * 9 / 10);
  resize(size);
  setTabOrder(cmdCheck, cmdLearn);
  setTabOrder(cmdLearn, chkFresh);
  setTabOrder(chkFresh, cmdCancel);
  setTabOrder(cmdCancel, cboCode);
  setTabOrder(cboCode, tbFilter);
  setTabOrder(tbFilter, tvFindings);
  setTabOrder(tvFindings, tbEditor);
}

void frmFindings::ConnectHandlers() {
  flushTimer_.setInterval(kFlushMs);
  flushTimer_.setSingleShot(true);
  connect(&flushTimer_, &QTimer::timeout, this, &frmFindings::Flush);
  connect(cboCode, &QComboBox::currentIndexChanged, this,
          [this](int index) { filter->SetCode(cboCode->itemData(index).toInt()); });
  connect(tbFilter, &QLineEdit::textChanged, this, [this](const QString& text) { filter->SetText(text); });
  // Enter and a double-click both activate a row.
  connect(tvFindings, &QAbstractItemView::activated, this, [this](const QModelIndex& index) {
    if (!index.isValid() || !OnOpen) return;
    OnOpen(model->FindingAt(filter->mapToSource(index).row()));
  });
  connect(tbEditor, &QLineEdit::editingFinished, this, [this] {
    if (OnEditor) OnEditor(tbEditor->text());
  });
  connect(cmdCancel, &QPushButton::clicked, this, [this] {
    if (OnCancel) OnCancel();
  });
  ChooseFiles = [](QWidget& parent) {
    return QFileDialog::getOpenFileNames(&parent, "Check files", {}, "INI files (*.ini *.INI);;All files (*)");
  };
  ConfirmFresh = [](QWidget& parent) {
    return QMessageBox::question(&parent, "Learn fresh rules",
                                 "Replace the whole rule listing and the other-INI list of KETCH.MDB by what is "
                                 "learned from this game? The previous file is kept as KETCH.MDB.bak.",
                                 QMessageBox::Yes | QMessageBox::Cancel, QMessageBox::Cancel) == QMessageBox::Yes;
  };
  connect(cmdLearn, &QPushButton::clicked, this, [this] {
    if (!OnLearn) return;
    const bool fresh = chkFresh->isChecked();
    if (fresh && !(ConfirmFresh && ConfirmFresh(*this))) return;
    OnLearn(fresh);
  });
  connect(cmdCheck, &QPushButton::clicked, this, [this] {
    if (!OnCheck || !ChooseFiles) return;
    const QStringList chosen = ChooseFiles(*this);
    if (chosen.isEmpty()) return;
    std::vector<std::string> files;
    for (const QString& f : chosen) files.push_back(f.toLocal8Bit().toStdString());
    OnCheck(files);
  });
}

void frmFindings::Add(const Finding& finding, const QString& file) {
  model->Add(finding, file);
  if (!flushTimer_.isActive()) flushTimer_.start();
}

void frmFindings::Flush() {
  flushTimer_.stop();
  if (!model->HasPending()) return;
  model->Flush();
  ShowCounts();
}

void frmFindings::ShowCounts() {
  const auto& counts = model->CountByCode();
  const int chosen = cboCode->currentData().toInt();
  QSignalBlocker block(cboCode);
  cboCode->clear();
  cboCode->addItem("All codes", 0);
  QString line;
  int total = 0;
  for (const auto& [code, n] : counts) {
    const char* text = TableText(static_cast<int16_t>(code));
    cboCode->addItem(QString("%1 %2 (%3)").arg(code).arg(text ? text : "").arg(n), code);
    line += QString("%1%2: %3").arg(line.isEmpty() ? "" : ", ").arg(code).arg(n);
    total += n;
  }
  const int at = cboCode->findData(chosen);
  cboCode->setCurrentIndex(at < 0 ? 0 : at);
  lblCounts->setText(total == 0 ? QString("No findings")
                                : QString("%1 finding%2 (%3)").arg(total).arg(total == 1 ? "" : "s").arg(line));
}

void frmFindings::RunStarted(const QString& what) {
  model->Clear();
  ShowCounts();
  pbRun->setRange(0, 1);
  pbRun->setValue(0);
  lblPass->setText(what);
  Say({});
  cmdCancel->setEnabled(true);
  cmdCheck->setEnabled(false);
  cmdLearn->setEnabled(false);
}

void frmFindings::Progress(int done, int known) {
  pbRun->setRange(0, std::max(known, 1));
  pbRun->setValue(done);
}

void frmFindings::Pass(const QString& pass) { lblPass->setText(pass); }

void frmFindings::RunEnded(const QString& outcome) {
  Flush();
  cmdCancel->setEnabled(false);
  cmdCheck->setEnabled(true);
  cmdLearn->setEnabled(true);
  lblPass->setText(outcome);
}

void frmFindings::keyPressEvent(QKeyEvent* event) {
  // Escape reaches here from any control that does not take it itself.
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    if (cmdCancel->isEnabled() && OnCancel) OnCancel();
    return;
  }
  QWidget::keyPressEvent(event);
}

void frmFindings::Say(const QString& text) {
  lblStatus->setText(text);
  lblStatus->setVisible(!text.isEmpty());
}

}  // namespace ketch
