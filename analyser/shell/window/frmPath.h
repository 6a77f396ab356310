// The folder picker: a drive list (the mounted volumes, "/" first), an Ok
// button and a folder list showing the open folder's parents and sub-folders.
// It starts at the folder in the main window's aPath and, on Ok, leaves the
// open folder there; closing it any other way leaves aPath alone.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QListWidget>
#include <QPushButton>
#include <QString>
#include <QStringList>

namespace ketch {

class frmPath : public QDialog {
  Q_OBJECT
 public:
  frmPath(QString& aPath, QWidget* parent = nullptr);

  QComboBox* dlbDrive;
  QPushButton* cmdGo;
  QListWidget* dlbDir;

  // The folder open in the folder list.
  const QString& CurrentFolder() const { return folder_; }
  // Opens a folder in the list; false (and nothing changes) when it is not a
  // readable folder.
  bool SetFolder(const QString& folder, int* error = nullptr);

  // The machine's volumes, "/" first, and the volume that holds a path.
  static QStringList Drives();
  static QString DriveOf(const QString& path);
  // The folder a volume opens at: the current folder when it lies on that
  // volume, else the volume's root.
  static QString DriveCurrentFolder(const QString& drive);

  // Shows a failure when a drive cannot be opened; tests replace it.
  std::function<void(const QString& message)> ShowMessage;

 private:
  void Form_Load();
  void dlbDrive_Change();
  void cmdGo_Click();
  void SetDrive(const QString& drive);

  QString& aPath_;
  QString folder_;
};

}  // namespace ketch
