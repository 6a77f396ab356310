// The folder picker: the mounted volumes as drives, the open folder's
// parents and sub-folders as the folder list.
#include "shell/window/frmPath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QTextStream>
#include <cerrno>

#include "platform/Error.h"
#include "platform/Paths.h"
#include "shell/window/Twips.h"

namespace ketch {
namespace {

constexpr TwipsRect kDrive{120, 120, 2775, 315};
constexpr TwipsRect kGo{3000, 120, 735, 285};
constexpr TwipsRect kDir{120, 480, 3615, 3015};
constexpr int kClientWidth = 3870;
constexpr int kClientHeight = 3630;

}  // namespace

frmPath::frmPath(QString& aPath, QWidget* parent) : QDialog(parent), aPath_(aPath) {
  setWindowTitle("Select Path");
  QFont small = font();
  small.setPointSizeF(8);
  small.setStretch(QFont::SemiCondensed);
  setFont(small);
  setModal(true);
  const int dpi = logicalDpiY();
  setFixedSize(TwipsToPx(kClientWidth, dpi), TwipsToPx(kClientHeight, dpi));

  dlbDrive = new QComboBox(this);
  dlbDrive->setObjectName("dlbDrive");
  dlbDrive->setGeometry(ToPx(kDrive, dpi));
  dlbDrive->addItems(Drives());
  cmdGo = new QPushButton("&Ok", this);
  cmdGo->setObjectName("cmdGo");
  cmdGo->setGeometry(ToPx(kGo, dpi));
  dlbDir = new QListWidget(this);
  dlbDir->setObjectName("dlbDir");
  dlbDir->setGeometry(ToPx(kDir, dpi));
  setTabOrder(dlbDir, dlbDrive);
  setTabOrder(dlbDrive, cmdGo);
  // The picker opens in the first control of its tab order, not the first made.
  dlbDir->setFocus();

  ShowMessage = [this](const QString& message) { QMessageBox::warning(this, windowTitle(), message); };
  connect(dlbDrive, &QComboBox::currentTextChanged, this, [this] { dlbDrive_Change(); });
  connect(cmdGo, &QPushButton::clicked, this, [this] { cmdGo_Click(); });
  connect(dlbDir, &QListWidget::itemDoubleClicked, this,
          [this](QListWidgetItem* item) { SetFolder(item->data(Qt::UserRole).toString()); });
  Form_Load();
}

QStringList frmPath::Drives() {
  QStringList drives{"/"};
  QFile mounts("/proc/mounts");
  if (mounts.open(QIODevice::ReadOnly)) {
    for (const QString& line : QTextStream(&mounts).readAll().split('\n')) {
      QStringList parts = line.split(' ');
      // Volumes of real devices only: pseudo file systems are no "drives".
      if (parts.size() < 2 || !parts[0].startsWith("/dev/")) continue;
      QString point = parts[1].replace("\\040", " ");
      if (!drives.contains(point)) drives << point;
    }
  }
  return drives;
}

QString frmPath::DriveOf(const QString& path) {
  QString best = "/";
  for (const QString& drive : Drives())
    if ((path == drive || path.startsWith(drive.endsWith('/') ? drive : drive + "/")) &&
        drive.size() > best.size())
      best = drive;
  return best;
}

QString frmPath::DriveCurrentFolder(const QString& drive) {
  QString current = QDir::currentPath();
  return DriveOf(current) == drive ? current : drive;
}

bool frmPath::SetFolder(const QString& folder, int* error) {
  QFileInfo info(folder);
  QDir dir(folder);
  if (folder.isEmpty() || !info.isDir() || !info.isReadable()) {
    if (error) *error = folder.isEmpty() || !info.exists() ? errPathNotFound : 75;
    return false;
  }
  folder_ = QDir::cleanPath(info.absoluteFilePath());

  // The folder's parents from the root down, then its sub-folders.
  dlbDir->clear();
  QStringList chain;
  for (QDir up(folder_);; ) {
    chain.prepend(up.absolutePath());
    if (up.isRoot() || !up.cdUp()) break;
  }
  int depth = 0;
  for (const QString& path : chain) {
    QString name = path == "/" ? "/" : QFileInfo(path).fileName();
    auto* item = new QListWidgetItem(QString(depth * 2, ' ') + name, dlbDir);
    item->setData(Qt::UserRole, path);
    ++depth;
  }
  dlbDir->setCurrentRow(dlbDir->count() - 1);
  const QStringList subs = QDir(folder_).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
  for (const QString& sub : subs) {
    auto* item = new QListWidgetItem(QString(depth * 2, ' ') + sub, dlbDir);
    item->setData(Qt::UserRole, QDir(folder_).filePath(sub));
  }
  return true;
}

void frmPath::SetDrive(const QString& drive) {
  int index = dlbDrive->findText(drive);
  if (index < 0) {
    dlbDrive->addItem(drive);
    index = dlbDrive->count() - 1;
  }
  if (index == dlbDrive->currentIndex())
    dlbDrive_Change();
  else
    dlbDrive->setCurrentIndex(index);  // runs dlbDrive_Change
}

void frmPath::Form_Load() {
  QString path = aPath_;
  bool ok = !path.isEmpty();
  if (ok) {
    // The drive is the volume that holds aPath.
    const QSignalBlocker block(dlbDrive);
    QString drive = DriveOf(QFileInfo(path).absoluteFilePath());
    dlbDrive->setCurrentIndex(std::max(0, dlbDrive->findText(drive)));
  }
  if (ok) ok = SetFolder(path);
  if (!ok) SetFolder(DriveCurrentFolder(dlbDrive->currentText()));
}

void frmPath::dlbDrive_Change() {
  QString drive = dlbDrive->currentText();
  int error = 0;
  if (SetFolder(DriveCurrentFolder(drive), &error)) return;
  ShowMessage(QString("Error %1, %2").arg(error).arg(QString::fromStdString(PlatformErrorText(error))));
  if (drive != "/") SetDrive("/");
}

void frmPath::cmdGo_Click() {
  aPath_ = folder_;
  accept();
}

}  // namespace ketch
