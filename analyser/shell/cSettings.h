// The one settings object: the game folder, the log folder and the overwrite
// choice, loaded from _bc_Settings of KETCH.MDB and written back when the
// object is destroyed at normal program end. It also owns the open settings
// database, through which the rule listing, _bc_OtherINI and the linked data
// tables are queried.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/db/Database.h"

namespace ketch {

class cSettings {
 public:
  cSettings() = default;
  ~cSettings();  // saves the settings
  cSettings(const cSettings&) = delete;
  cSettings& operator=(const cSettings&) = delete;

  // Saves to the current database, takes the new path and, when it is not
  // empty, opens that database and loads the settings. A failure ends the
  // program through FatalError.
  void SettingsDBName(const std::string& path);
  const std::string& SettingsDBName() const { return dbName_; }
  // The open settings database; null before loading and after the final save.
  db::Database* SettingsDB() const { return db_.get(); }

  void VDPath(const std::string& path) { vdPath_ = path; }
  const std::string& VDPath() const { return vdPath_; }
  // The log follows the log folder of the current settings object.
  void LogPath(const std::string& path);
  const std::string& LogPath() const { return logPath_; }
  // Takes "0", "1" or "2" (any number that fits 8 bits); raises 13 or 6.
  void OverwriteLog(const std::string& value);
  // The stored value in decimal.
  std::string OverwriteLog() const { return std::to_string(overwrite_); }

  // False: the settings are not written back, neither on destruction nor on
  // a change of database (a check leaves the stored settings alone).
  void SaveOnClose(bool save) { saveOnClose_ = save; }

 private:
  void SaveSettings();
  bool OpenSettingsDB();

  std::string vdPath_;
  std::string logPath_;
  uint8_t overwrite_ = 0;
  bool saveOnClose_ = true;
  std::string dbName_;
  std::unique_ptr<db::Database> db_;
};

// The process-wide settings object, made by Sub Main; null before that. The
// log writes into the log folder of the object set here.
cSettings* Settings();
void SetSettings(cSettings* settings);

}  // namespace ketch
