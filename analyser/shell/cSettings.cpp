// The settings object and its store in _bc_Settings.
#include "shell/cSettings.h"

#include "platform/Variant.h"
#include "shell/mError.h"

namespace ketch {
namespace {

cSettings* gSettings = nullptr;

// The record set's current record; a table without a record has none.
void RequireRecord(const db::Recordset& rs) {
  if (rs.IsEOF()) throw PlatformErrorOf(3021);
}

}  // namespace

cSettings* Settings() { return gSettings; }
void SetSettings(cSettings* settings) {
  gSettings = settings;
  SetLogFolder(settings ? settings->LogPath() : std::string());
}

cSettings::~cSettings() { SaveSettings(); }

void cSettings::LogPath(const std::string& path) {
  logPath_ = path;
  if (gSettings == this) SetLogFolder(logPath_);
}

void cSettings::OverwriteLog(const std::string& value) { overwrite_ = Variant(value).AsByte(); }

void cSettings::SettingsDBName(const std::string& path) {
  SaveSettings();
  dbName_ = path;
  if (dbName_.empty()) return;
  if (!OpenSettingsDB()) EndProgram();
  try {
    auto rs = db_->OpenRecordset("_bc_Settings", db::dbOpenDynaset);
    RequireRecord(*rs);
    std::string vdPath = rs->Fields("VDPath").AsText();
    std::string logPath = rs->Fields("LogPath").AsText();
    uint8_t overwrite = rs->Fields("OverwriteLog").AsByte();
    vdPath_ = vdPath;
    LogPath(logPath);
    overwrite_ = overwrite;
  } catch (const Error& e) {
    FatalError(e, "Unable to read settings");
  }
}

bool cSettings::OpenSettingsDB() {
  // From the first database on, a wait for another program's lock is told in
  // the log, so that a run that waits is not taken for one that hangs.
  db::SetLockNotice([](const std::string& file) { LogLine("waiting for " + file + " (locked by another program)"); });
  try {
    db_ = db::Database::Open(dbName_);
  } catch (const Error& e) {
    FatalError(e, "OpenSettingsDB: Unable to open settings database");
  }
  return true;
}

void cSettings::SaveSettings() {
  if (dbName_.empty() || !db_) return;
  if (!saveOnClose_) {
    db_.reset();
    return;
  }
  try {
    auto rs = db_->OpenRecordset("_bc_Settings", db::dbOpenDynaset);
    RequireRecord(*rs);
    rs->Edit();
    rs->SetField("VDPath", Variant(vdPath_));
    rs->SetField("LogPath", Variant(logPath_));
    rs->SetField("OverwriteLog", Variant(static_cast<int32_t>(overwrite_)));
    rs->Update();
    rs.reset();
    db_->Close();
    db_.reset();
  } catch (const Error& e) {
    FatalError(e, "Unable to save settings");
  }
}

}  // namespace ketch
