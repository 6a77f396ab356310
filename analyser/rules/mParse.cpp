// The rule base load and the rules dump. Both walk the listing in the same
// three nested runs (section, entry, value) and move forward only in the
// innermost loop; the load builds the new state aside and puts it in place
// only when everything succeeded.
#include "rules/mParse.h"

#include <exception>
#include <memory>

#include "platform/App.h"
#include "platform/Error.h"
#include "platform/Text.h"
#include "platform/db/Database.h"
#include "rules/RunState.h"
#include "rules/Storage.h"
#include "shell/cSettings.h"
#include "shell/mError.h"
#include "store/mDataDB.h"

namespace ketch {
namespace {

Error NotSet() { return PlatformErrorOf(errObjectNotSet); }

db::Database& RuleDB() {
  if (!Settings() || !Settings()->SettingsDB()) throw NotSet();
  return *Settings()->SettingsDB();
}

// Anything but our error type still has to reach the log as an error report.
Error AsError(const std::exception& e) {
  if (const auto* own = dynamic_cast<const Error*>(&e)) return *own;
  return Error(51, App::EXEName(), std::string("Internal error: ") + e.what());
}

// Column positions of the listing, resolved once per walk.
struct ListingColumns {
  explicit ListingColumns(const db::Recordset& rs)
      : section(rs.FieldIndex("SectionName")),
        entry(rs.FieldIndex("EntryName")) {}
  int section, entry;
};

// The text of a number column, or nothing for null.
std::string NumberText(const Variant& v) { return v.IsNull() ? std::string() : v.AsText(); }

// A yes/no column for the dump: null is not true.
bool Flag(const Variant& v) { return !v.IsNull() && v.AsBool(); }

void Load(bool storing) {
  auto rs = RuleDB().OpenRecordset("_bc_ListSections", db::dbOpenForwardOnly);
  const ListingColumns c(*rs);
  const int fixedNo = rs->FieldIndex("FixedArgsNo"), multiLine = rs->FieldIndex("IsMultiLine"),
            varArgs = rs->FieldIndex("HasVarArgs"), mandatory = rs->FieldIndex("IsMandatory"),
            dbId = rs->FieldIndex("DB_ID"), valueName = rs->FieldIndex("ValueName"),
            type = rs->FieldIndex("Type"), poz = rs->FieldIndex("_bc_values.IDX"),
            isMulti = rs->FieldIndex("IsMulti");

  auto base = std::make_unique<KeyedCollection<cSection>>();
  while (!rs->IsEOF()) {
    const std::string sectionName = rs->Fields(c.section).AsText();
    auto section = std::make_unique<cSection>();
    section->SectionName(sectionName);
    cSection& sec = base->Add(std::move(section), UpperCase(sectionName));
    while (!rs->IsEOF() && rs->Fields(c.section).AsText() == sectionName) {
      const std::string entryName = rs->Fields(c.entry).AsText();
      cEntry& entry = sec.Add(entryName, rs->Fields(fixedNo).AsInteger(), rs->Fields(multiLine).AsBool(),
                              rs->Fields(varArgs).AsBool(), rs->Fields(mandatory).AsBool(),
                              rs->Fields(dbId).AsLong(), UpperCase(entryName));
      while (!rs->IsEOF() && rs->Fields(c.entry).AsText() == entryName &&
             rs->Fields(c.section).AsText() == sectionName) {
        const Variant& name = rs->Fields(valueName);
        entry.AddValue(name.IsNull() ? std::string() : name.AsText(), rs->Fields(type).AsLong(),
                       rs->Fields(poz).AsInteger(), rs->Fields(isMulti).AsBool());
        rs->MoveNext();
      }
    }
  }

  StorageSets storage;
  if (storing) {
    db::Database* data = DataDB();
    if (!data) throw NotSet();
    storage = OpenStorage(*data);
  }

  StartRun(std::move(base), std::move(storage), storing);
}

void Dump() {
  auto rs = RuleDB().OpenRecordset("_bc_ListSections", db::dbOpenForwardOnly);
  const ListingColumns c(*rs);
  const int entryIdx = rs->FieldIndex("_bc_entries.IDX"), multiLine = rs->FieldIndex("IsMultiLine"),
            varArgs = rs->FieldIndex("HasVarArgs"), fixedNo = rs->FieldIndex("FixedArgsNo"),
            valueName = rs->FieldIndex("ValueName"), valueIdx = rs->FieldIndex("_bc_values.IDX"),
            isMulti = rs->FieldIndex("IsMulti"), typeName = rs->FieldIndex("TypeName");

  while (!rs->IsEOF()) {
    const std::string sectionName = rs->Fields(c.section).AsText();
    LogLine("Section: " + sectionName);
    while (!rs->IsEOF() && rs->Fields(c.section).AsText() == sectionName) {
      const std::string entryName = rs->Fields(c.entry).AsText();
      LogLine("    Entry: " + entryName + ", IDX: " + NumberText(rs->Fields(entryIdx)) + ", " +
              (Flag(rs->Fields(multiLine)) ? "MULTILine" : "SINGLELine") + ", " +
              (Flag(rs->Fields(varArgs)) ? "VARArgs" : "NOVarArgs") +
              ", FixedArgs: " + NumberText(rs->Fields(fixedNo)));
      while (!rs->IsEOF() && rs->Fields(c.entry).AsText() == entryName &&
             rs->Fields(c.section).AsText() == sectionName) {
        const Variant& name = rs->Fields(valueName);
        LogLine("        Value: " + (name.IsNull() ? std::string("< >") : name.AsText()) +
                ", IDX: " + NumberText(rs->Fields(valueIdx)) + ", " +
                (Flag(rs->Fields(isMulti)) ? "VARArg" : "FIXEDArg") + ", " + NumberText(rs->Fields(typeName)));
        rs->MoveNext();
      }
    }
  }
}

}  // namespace

void InitParse(bool storing) {
  try {
    Load(storing);
  } catch (const std::exception& e) {
    LogError(AsError(e), "InitParse");
    EndProgram();
  }
}

void DumpRules() {
  try {
    Dump();
  } catch (const std::exception& e) {
    LogError(AsError(e), "DumpRules");
    EndProgram();
  }
}

KeyedCollection<cSection>& RuleBase() {
  if (!Run().ruleBase) throw NotSet();
  return *Run().ruleBase;
}

KeyedCollection<std::string>& FilesRead() {
  if (!Run().filesRead) throw NotSet();
  return *Run().filesRead;
}

bool RuleBaseLoaded() { return Run().ruleBase != nullptr; }

bool StoresRows() { return Run().storing; }

}  // namespace ketch

