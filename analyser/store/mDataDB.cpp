// Building the data database and holding it open for the process. On this
// platform the file is an SQLite database: its WAL and journal companions go
// with it, and a file that another process holds open is detected through
// SQLite's own locks rather than deleted under that process's feet.
#include "store/mDataDB.h"

#include <string>
#include <vector>

#include "platform/App.h"
#include "platform/Error.h"
#include "platform/Locations.h"
#include "platform/Paths.h"
#include "shell/cSettings.h"
#include "shell/mError.h"

namespace ketch {
namespace {

const char* const kCompanions[] = {"-wal", "-shm", "-journal"};

std::string FolderOf(const std::string& file) {
  size_t slash = file.rfind('/');
  return slash == std::string::npos ? std::string() : file.substr(0, slash);
}

// Every stored value with where it stands, for people who query the file:
// a value's position is its rank among the values of its line, and Number is
// the value as a number when its text is one (NULL otherwise), so that
// max(Number) compares numbers, not texts.
const char* const kLinesView = R"sql(CREATE VIEW Lines AS
SELECT s.File AS File, s.Section AS Section, s.Line AS SectionLine,
       e.Entry AS Entry, e.Line AS EntryLine,
       (SELECT count(*) FROM "Values" p WHERE p.Link = v.Link AND p.DB_ID <= v.DB_ID) AS Position,
       v.Value AS Value,
       CASE
         WHEN v.Value NOT GLOB '*[^0-9+-]*' AND CAST(CAST(v.Value AS INTEGER) AS TEXT) = ltrim(v.Value, '+')
           THEN CAST(v.Value AS INTEGER)
         WHEN v.Value GLOB '[0-9+.-]*' AND v.Value GLOB '*[0-9]*' AND v.Value NOT GLOB '*[^0-9.eE+-]*'
              AND v.Value NOT GLOB '*.*.*' AND v.Value NOT GLOB '*[eE]*[eE]*' AND v.Value NOT GLOB '*[0-9.][+-]*'
              AND v.Value NOT GLOB '*[eE]*.*' AND v.Value NOT GLOB '*[eE]' AND v.Value NOT GLOB '*[eE][+-]'
           THEN CAST(v.Value AS REAL)
       END AS Number
FROM Sections s JOIN Entries e ON e.Link = s.DB_ID JOIN "Values" v ON v.Link = e.DB_ID)sql";

// The names people look rows up by. Built once the rows are in: kept up
// while storing, they would slow every insert.
const char* const kQueryIndexes =
    "CREATE INDEX IF NOT EXISTS FileIDX ON Sections (File);"
    "CREATE INDEX IF NOT EXISTS SectionIDX ON Sections (Section);"
    "CREATE INDEX IF NOT EXISTS EntryIDX ON Entries (Entry);";

// Raises SQLite's busy error when another process holds a lock on the
// database file (in WAL mode every open connection holds one). The probe asks
// for the exclusive lock, waiting for it as long as any lock is waited for; a
// file that is no database is not held by any database user and passes.
void RequireNotHeldElsewhere(const std::string& file) {
  std::unique_ptr<db::Database> probe;
  try {
    probe = db::Database::Open(file);
  } catch (const Error&) {
    return;
  }
  try {
    probe->Execute("PRAGMA locking_mode=EXCLUSIVE");
    probe->Execute("BEGIN EXCLUSIVE; SELECT count(*) FROM sqlite_schema; COMMIT");
  } catch (const Error& e) {
    int primary = e.Number & 0xff;
    if (primary == 5 || primary == 6) throw;  // SQLITE_BUSY, SQLITE_LOCKED
  }
}

bool IsBusy(const Error& e) {
  const int primary = e.Number & 0xff;
  return e.Source == "SQLite" && (primary == 5 || primary == 6);  // SQLITE_BUSY, SQLITE_LOCKED
}

db::Field Long(const char* name, bool autoIncr = false) {
  db::Field f;
  f.Name = name;
  f.Type = db::dbLong;
  f.Attributes = autoIncr ? db::dbAutoIncrField : 0;
  return f;
}

db::Field Text(const char* name, bool allowZeroLength = false) {
  db::Field f;
  f.Name = name;
  f.Type = db::dbText;
  f.AllowZeroLength = allowZeroLength;
  return f;
}

db::Index Idx(const char* name, const char* field, bool primary, bool required) {
  db::Index i;
  i.Name = name;
  i.Fields = {field};
  i.Primary = primary;
  i.Unique = primary;
  i.Required = primary || required;
  return i;
}

// The table is appended before its indexes, as the engine requires.
void CreateTable(db::Database& d, const char* name, std::vector<db::Field> fields,
                 const std::vector<db::Index>& indexes) {
  db::TableDef def;
  def.Name = name;
  def.Fields = std::move(fields);
  d.AppendTableDef(def);
  for (const db::Index& i : indexes) d.AppendIndex(name, i);
}

// The rows of several data files share a transaction: each commit rewrites
// the pages of the tables and indexes that its rows touched, and files of a
// few thousand rows touch nearly the same pages. A transaction still holds
// whole files only, so a run that is killed loses at most the last group.
constexpr int kFilesPerCommit = 16;

struct FileGroup {
  bool fileOpen = false;  // between BeginDataTrans and CommitDataTrans
  int files = 0;          // files begun in the open transaction
};

FileGroup& Group() {
  static FileGroup group;
  return group;
}

void CommitAll(db::Database& d) {
  while (d.InTransaction()) d.CommitTrans();
  Group() = FileGroup();
}

// Before the program ends: the files read whole are committed, whatever
// ended it; the rows of a file cut short are undone, not kept half.
void CommitOpen() {
  db::Database* d = DataDB();
  if (!d) return;
  try {
    if (Group().fileOpen) {
      Group().fileOpen = false;
      d->Rollback();
    }
  } catch (const Error& e) {
    // Without its savepoint the cut file cannot be told from the others:
    // none of the group is kept rather than a file half.
    LogError(e, "DoSection");
    try {
      while (d->InTransaction()) d->Rollback();
    } catch (...) {
    }
    Group() = FileGroup();
    return;
  }
  try {
    d->WaitForWrites();
  } catch (const Error& e) {
    // A refused row that nothing has reported yet: reported as its section's
    // store would have, and the rows before it committed.
    LogError(e, "DoSection");
  }
  CommitAll(*d);
  // The commit runs in the background; the program must not end before it.
  d->WaitForWrites();
}

}  // namespace

std::unique_ptr<db::Database>& DataDBHandle() {
  static std::unique_ptr<db::Database> handle;
  return handle;
}

db::Database* DataDB() { return DataDBHandle().get(); }

void CloseDataDB() {
  std::unique_ptr<db::Database>& handle = DataDBHandle();
  Group() = FileGroup();
  if (!handle) return;
  std::unique_ptr<db::Database> d = std::move(handle);
  d->Close();
}

bool InitDataDB(const std::string& fileName, std::unique_ptr<db::Database>& handle) {
  const std::string path = Locations::DataFolder() + "\\" + fileName;
  std::string file;
  try {
    LogLine("Initialising DATA database: " + path);
    // Closing commits whatever the last file left open.
    if (handle) handle->Close();
    handle.reset();
    Group() = FileGroup();
    file = ResolvePath(path);
  } catch (const Error& e) {
    LogError(e, "Init Data DB");
    EndProgram();
  }

  int step = 1;
  try {
    // Links of the settings database keep the old file attached; it must be
    // let go of before it can be deleted.
    if (cSettings* s = Settings(); s && s->SettingsDB()) s->SettingsDB()->ReleaseFile(file);
    if (FileExists(path)) {
      RequireNotHeldElsewhere(path);
      DeleteFile(path);
    }
    for (const char* suffix : kCompanions)
      if (FileExists(path + suffix)) DeleteFile(path + suffix);

    step = 2;
    // Opened by its logged path, which a wait for its lock names.
    db::Database::Create(path, db::dbLangGeneral)->Close();
    handle = db::Database::Open(path);
    db::Database& d = *handle;
    // Every data file commits; copying the log back must not hold them up.
    d.CheckpointInBackground();
    // Checking a file's lines and inserting them overlap on two cores.
    d.WriteInBackground();
    CreateTable(d, "Sections",
                {Long("DB_ID", true), Text("Area"), Text("Section"), Text("File"), Long("Line")},
                {Idx("PriIDX", "DB_ID", true, true)});
    CreateTable(d, "Entries",
                {Long("DB_ID", true), Text("Entry"), Long("EntryID"), Long("Link"), Long("Line")},
                {Idx("PriIDX", "DB_ID", true, true), Idx("LinkIDX", "Link", false, true),
                 Idx("IDIDX", "EntryID", false, true)});
    CreateTable(d, "Values", {Long("DB_ID", true), Long("Link"), Text("Value", true)},
                {Idx("PriIDX", "DB_ID", true, true), Idx("LinkIDX", "Link", false, true)});
    d.Execute(kLinesView);

    if (!Settings() || !Settings()->SettingsDB())
      throw PlatformErrorOf(errObjectNotSet);
    db::Database& settingsDB = *Settings()->SettingsDB();
    // Beside the settings database the link is stored relative, so that the
    // pair can be moved or copied together and opened by other tools.
    const std::string connect = ";DATABASE=" + (FolderOf(settingsDB.FileName()) == FolderOf(file) ? fileName : file);
    std::vector<db::TableDef> links;
    for (const char* name : {"Sections", "Entries", "Values"}) {
      db::TableDef def;
      def.Name = def.SourceTableName = name;
      def.Connect = connect;
      links.push_back(def);
    }
    step = 3;
    // All three or none: a busy settings database leaves the old links.
    settingsDB.ReplaceLinks(links);
  } catch (const Error& e) {
    const std::string held = step == 3 ? Settings()->SettingsDB()->Name() : path;
    LogError(IsBusy(e) ? Error(e.Number, e.Source, "database is locked (by another program): " + held) : e,
             (step == 1 ? "Unable to delete " : "Unable to create ") + path);
    try {
      handle.reset();
    } catch (...) {
      // The handle is let go of either way.
    }
    return false;
  }

  SetBeforeEndHook(CommitOpen);
  LogLine("Done.");
  return true;
}

void IndexDataDB() {
  db::Database* d = DataDB();
  if (!d) return;
  CommitDataFiles();
  d->Execute(kQueryIndexes);
  d->WaitForWrites();
}

void BeginDataTrans() {
  db::Database* d = DataDB();
  if (!d) throw PlatformErrorOf(errObjectNotSet);
  FileGroup& g = Group();
  // Without a transaction the last group was committed or rolled back; one
  // that no file began is not the files' to join.
  if (!d->InTransaction())
    g = FileGroup();
  else if (g.fileOpen || g.files == 0)
    throw Error(21, "SQLite", "a data transaction is already open");
  if (g.files == 0) d->BeginTrans();
  // Each file in a savepoint of its own, so that an end in the middle of one
  // can undo it and keep the files before it.
  d->BeginTrans();
  g.fileOpen = true;
  ++g.files;
}

void CommitDataTrans() {
  db::Database* d = DataDB();
  if (!d) return;
  FileGroup& g = Group();
  if (g.fileOpen) {
    g.fileOpen = false;
    d->CommitTrans();
  }
  if (g.files >= kFilesPerCommit || g.files == 0) CommitAll(*d);
}

void CommitDataFiles() {
  db::Database* d = DataDB();
  if (!d) return;
  CommitAll(*d);
  d->WaitForWrites();
}

}  // namespace ketch
