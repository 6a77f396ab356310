// The database layer on real files: creating and opening, field and index
// properties, ids handed out before a row is stored, dynaset edits, links
// between two files, the reference-following query and its snapshot.
#include "platform/db/Database.h"

#include <gtest/gtest.h>

#include "ErrorOf.h"
#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <vector>
#include <functional>
#include <string>

#include "TestUtil.h"
#include "platform/Error.h"

namespace ketch::db {
namespace {

using test::TempDir;

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

Field Long(const char* name, int attributes = 0) { return {name, dbLong, attributes, false}; }
Field Text(const char* name, bool zeroLength = false) { return {name, dbText, 0, zeroLength}; }

// The data file as the analyser builds it: three tables and their indexes.
void MakeDataTables(Database& d) {
  d.AppendTableDef({"Sections", "", "", {Long("DB_ID", dbAutoIncrField), Text("Area"), Text("Section"), Text("File"), Long("Line")}});
  d.AppendIndex("Sections", {"PriIDX", {"DB_ID"}, true, false, false});
  d.AppendTableDef({"Entries", "", "", {Long("DB_ID", dbAutoIncrField), Text("Entry"), Long("EntryID"), Long("Link"), Long("Line")}});
  d.AppendIndex("Entries", {"PriIDX", {"DB_ID"}, true, false, false});
  d.AppendIndex("Entries", {"LinkIDX", {"Link"}, false, true, false});
  d.AppendIndex("Entries", {"IDIDX", {"EntryID"}, false, true, false});
  d.AppendTableDef({"Values", "", "", {Long("DB_ID", dbAutoIncrField), Long("Link"), Text("Value", true)}});
  d.AppendIndex("Values", {"PriIDX", {"DB_ID"}, true, false, false});
  d.AppendIndex("Values", {"LinkIDX", {"Link"}, false, true, false});
}

void LinkDataTables(Database& settings, const std::string& dataPath) {
  for (const char* t : {"Sections", "Entries", "Values"}) settings.AppendTableDef({t, ";DATABASE=" + dataPath, t, {}});
}

// A settings file of another tool's making: no table of this layer in it.
void MakeSettings(const std::string& path) {
  auto d = Database::Create(path, dbLangGeneral);
  d->Execute("CREATE TABLE _bc_Settings (VDPath TEXT, LogPath TEXT, OverwriteLog INTEGER)");
  d->Execute("INSERT INTO _bc_Settings VALUES ('C:\\Game', '', 0)");
}

int64_t Count(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* s = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr), SQLITE_OK) << sql;
  int64_t n = sqlite3_step(s) == SQLITE_ROW ? sqlite3_column_int64(s, 0) : -1;
  sqlite3_finalize(s);
  return n;
}

std::string ReferenceQuery(int id) {
  return "SELECT Entries.DB_ID, Sections.Area, Sections.Section, Sections.File, Sections.Line, Entries.Entry, "
         "Entries.Line, Values.Value FROM (Sections LEFT JOIN Entries ON Sections.DB_ID = Entries.Link) LEFT "
         "JOIN [Values] ON Entries.DB_ID = Values.Link Where (((Entries.EntryID) = " +
         std::to_string(id) + ")) ORDER BY Entries.DB_ID";
}

// Stores one section with one entry line of rule `entryId` and its values,
// the way the section and entry stores do.
struct Store {
  explicit Store(Database& d)
      : sections(d.OpenRecordset("Sections", dbOpenTable)),
        entries(d.OpenRecordset("Entries", dbOpenTable)),
        values(d.OpenRecordset("Values", dbOpenTable)) {}
  int32_t Section(const std::string& area, const std::string& name, const std::string& file, int32_t line) {
    sections->AddNew();
    int32_t id = sections->Fields("DB_ID").AsLong();
    sections->SetField("Area", area);
    sections->SetField("Section", name);
    sections->SetField("File", file);
    sections->SetField("Line", line);
    sections->Update();
    return id;
  }
  int32_t Entry(int32_t section, const std::string& name, int32_t entryId, int32_t line,
                std::initializer_list<Variant> vals) {
    entries->AddNew();
    int32_t id = entries->Fields("DB_ID").AsLong();
    entries->SetField("Entry", name);
    entries->SetField("EntryID", entryId);
    entries->SetField("Link", section);
    entries->SetField("Line", line);
    entries->Update();
    for (const Variant& v : vals) {
      values->AddNew();
      values->SetField("Link", id);
      values->SetField("Value", v);
      values->Update();
    }
    return id;
  }
  std::unique_ptr<Recordset> sections, entries, values;
};

TEST(AdaptSql, KeywordQualifiersAreBracketed) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"SELECT Values.Value FROM [Values]", "SELECT [Values].Value FROM [Values]"},
      {"ON Entries.DB_ID = Values.Link", "ON Entries.DB_ID = [Values].Link"},
      {"SELECT t.Values FROM t", "SELECT t.[Values] FROM t"},
      {"SELECT Sections.Line FROM Sections", "SELECT Sections.Line FROM Sections"},
      {"INSERT INTO t VALUES (1.5, 2)", "INSERT INTO t VALUES (1.5, 2)"},
      {"SELECT 'Values.Link', \"Values\".Link, [Values].Link", "SELECT 'Values.Link', \"Values\".Link, [Values].Link"},
      {"SELECT 'it''s Values.x' -- Values.y\n, Order.z", "SELECT 'it''s Values.x' -- Values.y\n, [Order].z"},
      {"/* Values.a */ SELECT 1.e5, x", "/* Values.a */ SELECT 1.e5, x"},
      {"SELECT values . link", "SELECT [values] . link"},
      {"SELECT 1. FROM t WHERE x = 2.", "SELECT 1. FROM t WHERE x = 2."},
      {"SELECT caf\xC3\xA9.Order", "SELECT caf\xC3\xA9.[Order]"},
  };
  for (const Case& c : cases) EXPECT_EQ(AdaptSql(c.in), c.out);
}

TEST(Database, CreateOpenAndMissingFiles) {
  TempDir dir;
  const std::string path = dir / "VD.MDB";
  EXPECT_EQ(ErrorOf([&] { Database::Create(path, ";LANGID=0x0409;CP=1250;COUNTRY=0"); }), errInvalidArgument);
  EXPECT_FALSE(Exists(path));
  Database::Create(path, dbLangGeneral)->Execute("CREATE TABLE t (x INTEGER)");
  EXPECT_EQ(ErrorOf([&] { Database::Create(path, dbLangGeneral); }), SQLITE_CANTOPEN);
  auto d = Database::Open(path);
  EXPECT_TRUE(d->HasTableDef("T"));
  EXPECT_EQ(d->Name(), path);
  // The data file is read by one connection while another writes it.
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(d->Handle(), "PRAGMA journal_mode", -1, &s, nullptr);
  sqlite3_step(s);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)), "wal");
  sqlite3_finalize(s);

  EXPECT_EQ(ErrorOf([&] { Database::Open(dir / "missing.mdb"); }), SQLITE_CANTOPEN);
  EXPECT_FALSE(Exists(dir / "missing.mdb"));
  test::WriteFile(dir / "text.mdb", "this is no database, but it is long enough to have a header of sorts......"
                                    "..............................................................");
  EXPECT_EQ(ErrorOf([&] { Database::Open(dir / "text.mdb"); }), SQLITE_NOTADB);
}

TEST(Database, FieldPropertiesAndRequiredIndexes) {
  TempDir dir;
  auto d = Database::Create(dir / "VD.MDB", dbLangGeneral);
  MakeDataTables(*d);
  auto sections = d->OpenRecordset("Sections", dbOpenTable);
  auto values = d->OpenRecordset("Values", dbOpenTable);
  auto entries = d->OpenRecordset("Entries", dbOpenTable);

  sections->AddNew();
  sections->SetField("Area", std::string());
  sections->SetField("Section", "s");
  sections->SetField("File", "f");
  EXPECT_EQ(ErrorOf([&] { sections->Update(); }), SQLITE_CONSTRAINT_CHECK);
  sections->SetField("Area", "a");
  EXPECT_EQ(ErrorOf([&] { sections->Update(); }), 0);  // the refused record stayed pending

  values->AddNew();
  values->SetField("Link", int32_t{1});
  values->SetField("Value", std::string());
  values->Update();
  values->AddNew();
  values->SetField("Value", "no link");
  EXPECT_NE(ErrorOf([&] { values->Update(); }), 0);
  entries->AddNew();
  entries->SetField("Entry", "e");
  entries->SetField("Link", int32_t{1});
  EXPECT_NE(ErrorOf([&] { entries->Update(); }), 0);  // EntryID is required too
  entries->SetField("EntryID", int32_t{5});
  entries->Update();

  sqlite3* h = d->Handle();
  EXPECT_EQ(Count(h, "SELECT count(*) FROM \"Values\" WHERE Value = ''"), 1);
  EXPECT_EQ(Count(h, "SELECT count(*) FROM \"Values\""), 1);
  EXPECT_EQ(Count(h, "SELECT count(*) FROM Sections WHERE Line IS NULL"), 1);  // no field is required
  // Index names are per table; the rowid serves as the primary index.
  EXPECT_EQ(Count(h, "SELECT count(*) FROM sqlite_schema WHERE type='index' AND name GLOB '*.LinkIDX'"), 2);
  EXPECT_EQ(Count(h, "SELECT count(*) FROM sqlite_schema WHERE type='index' AND name GLOB '*PriIDX'"), 0);
  EXPECT_EQ(ErrorOf([&] { d->Execute("UPDATE Entries SET Link = NULL"); }), SQLITE_CONSTRAINT_NOTNULL);
}

TEST(Database, RequiredIndexOnForeignTableAndOnStoredRows) {
  TempDir dir;
  auto d = Database::Create(dir / "x.db", dbLangGeneral);
  // A table this layer did not write gets its rule another way.
  d->Execute("CREATE TABLE t (id INTEGER PRIMARY KEY, k INTEGER DEFAULT 3, v TEXT)");
  d->Execute("INSERT INTO t (k, v) VALUES (1, 'a')");
  d->AppendIndex("t", {"KIDX", {"k"}, false, true, false});
  EXPECT_NE(ErrorOf([&] { d->Execute("INSERT INTO t (k, v) VALUES (NULL, 'b')"); }), 0);
  EXPECT_NE(ErrorOf([&] { d->Execute("UPDATE t SET k = NULL"); }), 0);
  d->Execute("INSERT INTO t (v) VALUES ('default')");

  // A table of this layer's making keeps its rows, checks and indexes when
  // a required index makes it refuse nulls.
  d->AppendTableDef({"u", "", "", {Long("ID", dbAutoIncrField), Text("Name"), Long("A"), Long("B")}});
  d->Execute("INSERT INTO u (Name, A, B) VALUES ('x', 1, NULL)");
  d->AppendIndex("u", {"AIDX", {"A"}, false, false, true});
  d->AppendIndex("u", {"BIDX", {"B"}, false, false, false});
  EXPECT_EQ(ErrorOf([&] { d->AppendIndex("u", {"BREQ", {"B"}, false, true, false}); }), SQLITE_CONSTRAINT_NOTNULL);
  d->AppendIndex("u", {"AREQ", {"A"}, false, true, false});
  EXPECT_EQ(Count(d->Handle(), "SELECT count(*) FROM u WHERE Name = 'x' AND A = 1"), 1);
  EXPECT_EQ(ErrorOf([&] { d->Execute("INSERT INTO u (Name, A) VALUES ('y', 1)"); }), SQLITE_CONSTRAINT_UNIQUE);
  EXPECT_EQ(ErrorOf([&] { d->Execute("INSERT INTO u (Name, A) VALUES ('', 2)"); }), SQLITE_CONSTRAINT_CHECK);
  EXPECT_EQ(ErrorOf([&] { d->Execute("INSERT INTO u (Name, A) VALUES ('y', NULL)"); }), SQLITE_CONSTRAINT_NOTNULL);
  EXPECT_EQ(Count(d->Handle(), "SELECT count(*) FROM sqlite_schema WHERE tbl_name = 'u' AND type = 'index'"), 3);
  EXPECT_EQ(ErrorOf([&] { d->AppendIndex("u", {"X", {"Nope"}, false, true, false}); }), errItemNotFound);
  EXPECT_EQ(ErrorOf([&] { d->AppendIndex("nope", {"X", {"A"}, false, true, false}); }), errItemNotFound);
}

TEST(Database, IdIsKnownBeforeUpdateAndContinuesAfterReopen) {
  TempDir dir;
  const std::string path = dir / "VD.MDB";
  {
    auto d = Database::Create(path, dbLangGeneral);
    MakeDataTables(*d);
    Store s(*d);
    d->BeginTrans();
    EXPECT_EQ(s.Section("a", "s1", "f", 1), 1);
    EXPECT_EQ(s.Section("a", "s2", "f", 9), 2);
    // A second record set on the same table shares the counter.
    auto other = d->OpenRecordset("Sections", dbOpenTable);
    other->AddNew();
    EXPECT_EQ(other->Fields("DB_ID").AsLong(), 3);
    EXPECT_TRUE(other->Fields("Area").IsNull());
    EXPECT_EQ(ErrorOf([&] { other->SetField("DB_ID", int32_t{7}); }), SQLITE_MISUSE);
    other->SetField(1, "b");
    other->SetField(2, "s3");
    other->SetField(3, "g");
    EXPECT_EQ(other->Fields("Section").AsText(), "s3");
    other->Update();
    d->CommitTrans();
    EXPECT_EQ(Count(d->Handle(), "SELECT rowid FROM Sections WHERE Section = 's3'"), 3);
    EXPECT_EQ(Count(d->Handle(), "SELECT Line FROM Sections WHERE Section = 's2'"), 9);
  }
  auto d = Database::Open(path);
  Store s(*d);
  EXPECT_EQ(s.Section("a", "s4", "f", 1), 4);
  EXPECT_EQ(ErrorOf([&] { s.sections->Update(); }), SQLITE_MISUSE);  // no AddNew
}

TEST(Database, TransactionsRollBackAndCloseCommits) {
  TempDir dir;
  const std::string path = dir / "VD.MDB";
  {
    auto d = Database::Create(path, dbLangGeneral);
    MakeDataTables(*d);
    Store s(*d);
    d->BeginTrans();
    s.Section("a", "gone", "f", 1);
    d->BeginTrans();
    s.Section("a", "gone too", "f", 1);
    d->Rollback();
    d->Rollback();
    EXPECT_FALSE(d->InTransaction());
    EXPECT_EQ(s.Section("a", "kept", "f", 1), 1);  // rolled-back ids are given again
    d->BeginTrans();
    s.Section("a", "committed by close", "f", 2);
    d->BeginTrans();
    s.Section("a", "inner", "f", 3);
    d->CommitTrans();
    EXPECT_TRUE(d->InTransaction());
    EXPECT_EQ(ErrorOf([&] { d->Close(); }), 0);
    EXPECT_EQ(ErrorOf([&] { s.sections->AddNew(); }), SQLITE_MISUSE);  // closed with the database
  }
  auto d = Database::Open(path);
  EXPECT_EQ(Count(d->Handle(), "SELECT count(*) FROM Sections"), 3);
  EXPECT_EQ(ErrorOf([&] { d->CommitTrans(); }), SQLITE_MISUSE);
}

TEST(Database, ValuesAreTypedOnTheWayInAndOut) {
  TempDir dir;
  auto d = Database::Create(dir / "VD.MDB", dbLangGeneral);
  MakeDataTables(*d);
  d->Execute("CREATE TABLE mixed (i INTEGER, r REAL, x)");
  auto values = d->OpenRecordset("Values", dbOpenTable);
  struct Case {
    Variant in;
    const char* stored;  // UTF-8 as SQLite holds it
  } cases[] = {
      {Variant(int32_t{-12}), "-12"}, {Variant(0.1), "0.1"},         {Variant(1e20), "1E+20"},
      {Variant(true), "True"},       {Variant(false), "False"},     {Variant("caf\xE9 \x80"), "caf\xC3\xA9 \xE2\x82\xAC"},
      {Variant(""), ""},
  };
  for (const Case& c : cases) {
    values->AddNew();
    values->SetField("Link", int32_t{1});
    values->SetField("Value", c.in);
    values->Update();
  }
  values->AddNew();
  values->SetField("Link", "12.5");  // text into an integer column is coerced
  values->SetField("Value", Variant::Null());
  values->Update();
  values->AddNew();
  values->SetField("Link", "abc");
  EXPECT_EQ(ErrorOf([&] { values->Update(); }), errTypeMismatch);

  auto rs = d->OpenRecordset("SELECT Value, hex(Value) AS h, typeof(Value) AS t FROM [Values] ORDER BY DB_ID", dbOpenForwardOnly);
  for (const Case& c : cases) {
    ASSERT_FALSE(rs->IsEOF());
    EXPECT_EQ(rs->Fields("t").AsText(), "text");
    EXPECT_EQ(rs->Fields("Value").AsText(), c.in.AsText());  // back as 1252 bytes
    std::string hex;
    for (unsigned char ch : std::string(c.stored)) {
      char b[3];
      std::snprintf(b, sizeof b, "%02X", ch);
      hex += b;
    }
    EXPECT_EQ(rs->Fields("h").AsText(), hex);
    rs->MoveNext();
  }
  EXPECT_TRUE(rs->Fields("Value").IsNull());
  rs->MoveNext();
  EXPECT_TRUE(rs->IsEOF());
  EXPECT_EQ(Count(d->Handle(), "SELECT Link FROM \"Values\" WHERE Value IS NULL"), 12);

  d->Execute("INSERT INTO mixed VALUES (2147483648, 2.5, 'x'), (-2147483648, NULL, 7), (0, 0, 'caf\xE9')");
  EXPECT_EQ(Count(d->Handle(), "SELECT count(*) FROM mixed WHERE x = 'caf\xC3\xA9'"), 1);
  try {
    d->Execute("SELECT * FROM nowhere WHERE x = '\xE9'");
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_EQ(e.Number, SQLITE_ERROR);
    EXPECT_EQ(e.Source, "SQLite");
    EXPECT_EQ(e.Description, "no such table: nowhere (SQL: SELECT * FROM nowhere WHERE x = '\xE9')");
  }
  rs = d->OpenRecordset("mixed", dbOpenForwardOnly);
  EXPECT_EQ(ErrorOf([&] { rs->Fields("i"); }), errOverflow);
  EXPECT_EQ(rs->Fields("r"), Variant(2.5));
  EXPECT_EQ(rs->Fields("x"), Variant("x"));
  EXPECT_EQ(ErrorOf([&] { rs->Fields("nope"); }), errItemNotFound);
  EXPECT_EQ(ErrorOf([&] { rs->Fields(3); }), errSubscript);
  rs->MoveNext();
  EXPECT_EQ(rs->Fields(0), Variant(std::numeric_limits<int32_t>::min()));
  EXPECT_TRUE(rs->Fields(1).IsNull());
  EXPECT_EQ(rs->Fields("X"), Variant(int32_t{7}));
  rs->MoveNext();
  EXPECT_EQ(rs->Fields("x").AsText(), "caf\xE9");
  EXPECT_EQ(ErrorOf([&] { rs->AddNew(); }), SQLITE_MISUSE);
}

TEST(Database, DynasetEditPersistsAcrossReopen) {
  TempDir dir;
  const std::string path = dir / "KETCH.MDB";
  MakeSettings(path);
  {
    auto d = Database::Open(path);
    auto rs = d->OpenRecordset("_bc_Settings", dbOpenDynaset);
    ASSERT_FALSE(rs->IsEOF());
    EXPECT_EQ(rs->Fields("VDPath").AsText(), "C:\\Game");
    EXPECT_EQ(rs->Fields("OverwriteLog").AsByte(), 0);
    EXPECT_EQ(ErrorOf([&] { rs->SetField("VDPath", "x"); }), SQLITE_MISUSE);  // not in edit mode
    rs->Edit();
    rs->SetField("VDPath", "D:\\Sp\xEAl");
    rs->SetField("LogPath", "");
    rs->SetField("OverwriteLog", uint8_t{2} + 0);
    rs->Update();
    EXPECT_EQ(rs->Fields("VDPath").AsText(), "D:\\Sp\xEAl");
    rs->Edit();
    rs->SetField("OverwriteLog", "abc");
    EXPECT_EQ(ErrorOf([&] { rs->Update(); }), errTypeMismatch);
    rs->MoveNext();
    EXPECT_TRUE(rs->IsEOF());
    EXPECT_EQ(ErrorOf([&] { rs->Edit(); }), SQLITE_MISUSE);
  }
  auto d = Database::Open(path);
  auto rs = d->OpenRecordset("_bc_Settings", dbOpenDynaset);
  EXPECT_EQ(rs->Fields("VDPath").AsText(), "D:\\Sp\xEAl");
  EXPECT_EQ(rs->Fields("LogPath").AsText(), "");
  EXPECT_EQ(rs->Fields("OverwriteLog"), Variant(int32_t{2}));
  EXPECT_EQ(Count(d->Handle(), "SELECT count(*) FROM _bc_Settings"), 1);
}

TEST(Database, LinksPersistAndNeverCreateFiles) {
  TempDir dir;
  const std::string settingsPath = dir / "KETCH.MDB", dataPath = dir / "VD.MDB";
  MakeSettings(settingsPath);
  {
    auto data = Database::Create(dataPath, dbLangGeneral);
    MakeDataTables(*data);
    Store(*data).Section("area", "sec", "file", 3);
  }
  {
    auto settings = Database::Open(settingsPath);  // opens without a link table
    EXPECT_FALSE(settings->HasTableDef("Sections"));
    LinkDataTables(*settings, dataPath);
    EXPECT_TRUE(settings->HasTableDef("sections"));
    EXPECT_NE(ErrorOf([&] { settings->AppendTableDef({"Sections", ";DATABASE=" + dataPath, "Sections", {}}); }), 0);
    // A link to a missing file or table fails and leaves nothing behind.
    EXPECT_EQ(ErrorOf([&] { settings->AppendTableDef({"Gone", ";DATABASE=" + (dir / "gone.mdb"), "Sections", {}}); }),
              SQLITE_CANTOPEN);
    EXPECT_FALSE(Exists(dir / "gone.mdb"));
    EXPECT_NE(ErrorOf([&] { settings->AppendTableDef({"NoTable", ";DATABASE=" + dataPath, "Nope", {}}); }), 0);
    EXPECT_FALSE(settings->HasTableDef("Gone"));
    EXPECT_FALSE(settings->HasTableDef("NoTable"));
  }
  {
    auto settings = Database::Open(settingsPath);
    auto rs = settings->OpenRecordset("Sections", dbOpenForwardOnly);
    ASSERT_FALSE(rs->IsEOF());
    EXPECT_EQ(rs->Fields("Sections.Area").AsText(), "area");
    rs.reset();
    settings->DeleteTableDef("Entries");
    EXPECT_EQ(ErrorOf([&] { settings->DeleteTableDef("Entries"); }), errItemNotFound);
    // The file stays attached while other links use it.
    EXPECT_EQ(Count(settings->Handle(), "SELECT count(*) FROM Sections"), 1);
  }
  auto settings = Database::Open(settingsPath);
  EXPECT_FALSE(settings->HasTableDef("Entries"));
  EXPECT_TRUE(settings->HasTableDef("Values"));
  settings.reset();

  // The data file goes away: the settings still open, the link stays, and a
  // query through it fails without making the file.
  std::filesystem::remove(dataPath);
  std::filesystem::remove(dataPath + "-wal");
  std::filesystem::remove(dataPath + "-shm");
  settings = Database::Open(settingsPath);
  EXPECT_TRUE(settings->HasTableDef("Sections"));
  EXPECT_EQ(ErrorOf([&] { settings->OpenRecordset("SELECT * FROM Sections", dbOpenForwardOnly); }), SQLITE_ERROR);
  EXPECT_EQ(ErrorOf([&] { settings->OpenRecordset("Sections", dbOpenTable); }), SQLITE_CANTOPEN);
  EXPECT_FALSE(Exists(dataPath));
  // Once the file is back, the stored link serves again.
  Database::Create(dataPath, dbLangGeneral)->Execute("CREATE TABLE Sections (DB_ID INTEGER PRIMARY KEY, Area TEXT)");
  EXPECT_EQ(Count(settings->Handle(), "SELECT count(*) FROM sqlite_temp_schema"), 0);
  auto rs = settings->OpenRecordset("SELECT count(*) AS n FROM Sections", dbOpenForwardOnly);
  EXPECT_EQ(rs->Fields("n").AsLong(), 0);
}

TEST(Database, ReleasedFileCanBeDeletedRebuiltAndRelinked) {
  TempDir dir;
  const std::string settingsPath = dir / "KETCH.MDB", dataPath = dir / "VD.MDB";
  MakeSettings(settingsPath);
  auto settings = Database::Open(settingsPath);
  for (int run = 0; run < 2; ++run) {
    // The order the data-database build follows on every run.
    settings->ReleaseFile(dataPath);
    std::filesystem::remove(dataPath);
    std::filesystem::remove(dataPath + "-wal");
    std::filesystem::remove(dataPath + "-shm");
    auto data = Database::Create(dataPath, dbLangGeneral);
    MakeDataTables(*data);
    for (const char* t : {"Sections", "Entries", "Values"}) {
      try {
        settings->DeleteTableDef(t);
      } catch (const Error&) {
      }
    }
    LinkDataTables(*settings, dataPath);
    Store s(*data);
    s.Section("area", "run" + std::to_string(run), "f", 1);
    auto rs = settings->OpenRecordset("SELECT Section FROM Sections", dbOpenForwardOnly);
    ASSERT_FALSE(rs->IsEOF());
    EXPECT_EQ(rs->Fields("Section").AsText(), "run" + std::to_string(run));
    rs->MoveNext();
    EXPECT_TRUE(rs->IsEOF());
  }
}

// The number, source and description of the Error a call raises.
std::string Raised(const std::function<void()>& f) {
  try {
    f();
    return "nothing";
  } catch (const Error& e) {
    return std::to_string(e.Number) + " " + e.Source + ": " + e.Description;
  }
}

// Closing with a transaction open and a writing thread running leaves
// nothing behind that a later call could use or wait for.
TEST(Database, ClosedDatabaseRefusesEveryUse) {
  for (bool background : {false, true}) {
    SCOPED_TRACE(background ? "writing in the background" : "writing at once");
    TempDir dir;
    auto d = Database::Create(dir / "VD.MDB", dbLangGeneral);
    MakeDataTables(*d);
    if (background) {
      d->CheckpointInBackground();
      d->WriteInBackground();
    }
    d->BeginTrans();
    d->Close();

    const std::string closed = "21 SQLite: database is closed";
    EXPECT_EQ(Raised([&] { d->Execute("SELECT 1"); }), closed);
    EXPECT_EQ(Raised([&] { d->BeginTrans(); }), closed);
    EXPECT_EQ(Raised([&] { d->CheckpointInBackground(); }), closed);
    EXPECT_EQ(Raised([&] { d->WriteInBackground(); }), closed);
    EXPECT_EQ(Raised([&] { d->HasTableDef("Sections"); }), closed);
    EXPECT_EQ(Raised([&] { d->AppendTableDef({"t", "", "", {Long("x")}}); }), closed);
    EXPECT_EQ(Raised([&] { d->AppendIndex("Sections", {"LineIDX", {"Line"}, false, false, false}); }), closed);
    EXPECT_EQ(Raised([&] { d->DeleteTableDef("Sections"); }), closed);
    EXPECT_EQ(Raised([&] { d->ReleaseFile(dir / "other.mdb"); }), closed);
    EXPECT_EQ(Raised([&] { d->OpenRecordset("Sections", dbOpenTable); }), closed);
    EXPECT_EQ(Raised([&] { d->OpenRecordset("SELECT 1", dbOpenForwardOnly); }), closed);
    // The transaction open before closing was committed by it.
    EXPECT_EQ(Raised([&] { d->CommitTrans(); }), "21 SQLite: no transaction is open");
    EXPECT_EQ(Raised([&] { d->Rollback(); }), "21 SQLite: no transaction is open");

    EXPECT_FALSE(d->InTransaction());
    EXPECT_EQ(Raised([&] { d->WaitForWrites(); }), "nothing");
    EXPECT_EQ(d->Handle(), nullptr);
    EXPECT_EQ(Raised([&] { d->Close(); }), "nothing");
  }
}

class ReferenceQueryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeSettings(settingsPath_);
    data_ = Database::Create(dataPath_, dbLangGeneral);
    MakeDataTables(*data_);
    settings_ = Database::Open(settingsPath_);
    LinkDataTables(*settings_, dataPath_);
    store_ = std::make_unique<Store>(*data_);
  }
  TempDir dir_;
  const std::string settingsPath_ = dir_ / "KETCH.MDB", dataPath_ = dir_ / "VD.MDB";
  std::unique_ptr<Database> data_, settings_;
  std::unique_ptr<Store> store_;
};

TEST_F(ReferenceQueryTest, RowsAndFieldsByNameAndQualifiedName) {
  data_->BeginTrans();
  int32_t s1 = store_->Section("ships", "ship", "C:\\g\\DATA\\ships.ini", 50);
  store_->Entry(s1, "da_archetype", 74, 57, {"ships\\a.ini", "ships\\b.ini"});
  store_->Entry(s1, "other", 75, 58, {"x.ini"});
  int32_t s2 = store_->Section("solar", "system", "C:\\g\\DATA\\solar.ini", 10);
  store_->Entry(s2, "da_archetype", 74, 12, {"solar\\c.ini"});
  store_->Entry(s2, "da_archetype", 74, 13, {});  // a line without values
  data_->CommitTrans();

  auto rs = settings_->OpenRecordset(ReferenceQuery(74), dbOpenForwardOnly);
  struct Row {
    const char* area;
    const char* section;
    const char* file;
    int32_t sectionLine, entryLine;
    Variant value;
  } rows[] = {
      {"ships", "ship", "C:\\g\\DATA\\ships.ini", 50, 57, "ships\\a.ini"},
      {"ships", "ship", "C:\\g\\DATA\\ships.ini", 50, 57, "ships\\b.ini"},
      {"solar", "system", "C:\\g\\DATA\\solar.ini", 10, 12, "solar\\c.ini"},
      {"solar", "system", "C:\\g\\DATA\\solar.ini", 10, 13, Variant::Null()},
  };
  for (const Row& r : rows) {
    ASSERT_FALSE(rs->IsEOF());
    EXPECT_EQ(rs->Fields("Area").AsText(), r.area);
    EXPECT_EQ(rs->Fields("Section").AsText(), r.section);
    EXPECT_EQ(rs->Fields("File").AsText(), r.file);
    EXPECT_EQ(rs->Fields("Entry").AsText(), "da_archetype");
    EXPECT_EQ(rs->Fields("Value"), r.value);
    EXPECT_EQ(rs->Fields("Entries.Line").AsLong(), r.entryLine);
    EXPECT_EQ(rs->Fields("Sections.Line").AsLong(), r.sectionLine);
    EXPECT_EQ(rs->Fields("Values.Value"), r.value);
    rs->MoveNext();
  }
  EXPECT_TRUE(rs->IsEOF());
  EXPECT_EQ(ErrorOf([&] { rs->MoveNext(); }), SQLITE_MISUSE);
  EXPECT_TRUE(settings_->OpenRecordset(ReferenceQuery(1), dbOpenForwardOnly)->IsEOF());
}

TEST_F(ReferenceQueryTest, PlanUsesTheLinkIndexes) {
  sqlite3_stmt* s = nullptr;
  std::string sql = "EXPLAIN QUERY PLAN " + AdaptSql(ReferenceQuery(74));
  ASSERT_EQ(sqlite3_prepare_v2(settings_->Handle(), sql.c_str(), -1, &s, nullptr), SQLITE_OK);
  std::string plan;
  while (sqlite3_step(s) == SQLITE_ROW) plan += std::string(reinterpret_cast<const char*>(sqlite3_column_text(s, 3))) + "\n";
  sqlite3_finalize(s);
  EXPECT_NE(plan.find("Values.LinkIDX"), std::string::npos) << plan;
  EXPECT_TRUE(plan.find("Entries.LinkIDX") != std::string::npos || plan.find("Entries.IDIDX") != std::string::npos)
      << plan;
  EXPECT_EQ(plan.find("SCAN"), std::string::npos) << plan;  // no table is read whole
  std::printf("%s", plan.c_str());
}

TEST_F(ReferenceQueryTest, SeesOnlyRowsCommittedBeforeItStarted) {
  int32_t s1 = store_->Section("a", "s", "f", 1);
  for (int i = 0; i < 3; ++i) store_->Entry(s1, "e", 74, 10 + i, {"v" + std::to_string(i)});
  auto rs = settings_->OpenRecordset(ReferenceQuery(74), dbOpenForwardOnly);
  int seen = 0;
  while (!rs->IsEOF()) {
    // Each row read leads to more rows of the same rule, stored and
    // committed by the data connection while the query goes on.
    data_->BeginTrans();
    store_->Entry(s1, "e", 74, 100 + seen, {"new"});
    data_->CommitTrans();
    EXPECT_EQ(rs->Fields("Value").AsText(), "v" + std::to_string(seen));
    ++seen;
    rs->MoveNext();
  }
  EXPECT_EQ(seen, 3);
  rs.reset();
  auto again = settings_->OpenRecordset(ReferenceQuery(74), dbOpenForwardOnly);
  int all = 0;
  for (; !again->IsEOF(); again->MoveNext()) ++all;
  EXPECT_EQ(all, 6);
}

TEST(Database, ViewColumnsWithDottedNames) {
  TempDir dir;
  auto d = Database::Create(dir / "k.db", dbLangGeneral);
  d->Execute(
      "CREATE TABLE _bc_values (IDX INTEGER, Name TEXT); CREATE TABLE _bc_entries (IDX INTEGER);"
      "INSERT INTO _bc_values VALUES (3, 'n'); INSERT INTO _bc_entries VALUES (8);"
      "CREATE VIEW _bc_ListSections AS SELECT _bc_values.Name AS ValueName, _bc_values.IDX AS \"_bc_values.IDX\","
      " _bc_entries.IDX AS \"_bc_entries.IDX\" FROM _bc_values, _bc_entries");
  auto rs = d->OpenRecordset("_bc_ListSections", dbOpenForwardOnly);
  EXPECT_EQ(rs->Fields("_bc_values.IDX").AsInteger(), 3);
  EXPECT_EQ(rs->Fields("_bc_entries.IDX").AsInteger(), 8);
  EXPECT_EQ(rs->Fields("ValueName").AsText(), "n");
  EXPECT_EQ(rs->FieldIndex("_bc_values.Name"), 0);  // by origin too
  EXPECT_EQ(rs->FieldCount(), 3);
}

}  // namespace
}  // namespace ketch::db

namespace ketch::db {
namespace {

// KETCH_LOCK_WAIT for the life of the object.
struct LockWaitOf {
  explicit LockWaitOf(const char* value) { setenv("KETCH_LOCK_WAIT", value, 1); }
  ~LockWaitOf() { unsetenv("KETCH_LOCK_WAIT"); }
};

TEST(LockWait, TheBoundIsReadFromTheEnvironmentAndFallsBackTo10s) {
  EXPECT_EQ(LockWait().count(), 10000);
  const std::pair<const char*, int64_t> cases[] = {
      {"0.25", 250}, {"3", 3000}, {"0", 0}, {"", 10000}, {"-1", 10000}, {"2s", 10000}, {"nan", 10000},
      {"1e9", 10000}};
  for (const auto& [text, ms] : cases) {
    LockWaitOf set(text);
    EXPECT_EQ(LockWait().count(), ms) << text;
  }
}

TEST(LockWait, AnotherProgramsLockIsWaitedForOnceToldThenNamed) {
  test::TempDir dir;
  const std::string file = dir / "held.db";
  Database::Create(file, dbLangGeneral)->Close();
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  std::vector<std::string> told;
  SetLockNotice([&told](const std::string& f) { told.push_back(f); });
  LockWaitOf set("0.3");
  auto d = Database::Open(file);
  const auto start = std::chrono::steady_clock::now();
  try {
    d->Execute("BEGIN IMMEDIATE");
    ADD_FAILURE() << "the lock was taken";
  } catch (const Error& e) {
    EXPECT_EQ(e.Number & 0xff, SQLITE_BUSY);
    EXPECT_EQ(e.Description.rfind("database is locked (by another program): " + file, 0), 0u) << e.Description;
  }
  const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(took, 0.3);
  EXPECT_LT(took, 3.0);
  EXPECT_EQ(told, std::vector<std::string>{file});
  // Let go of, it is taken at once.
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  d->Execute("BEGIN IMMEDIATE; COMMIT");
  sqlite3_close(other);
  SetLockNotice({});
}

}  // namespace
}  // namespace ketch::db
