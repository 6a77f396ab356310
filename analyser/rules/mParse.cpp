// The rule base load and the rules dump. Both walk the listing in the same
// three nested runs (section, entry, value) and move forward only in the
// innermost loop; the load builds the new state aside and puts it in place
// only when everything succeeded.
#include "rules/mParse.h"

#include <cstdio>
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

// The row of the listing a load is at, and the column it last read, so that
// a failure names what failed (the error alone says nothing of where).
struct RowPlace {
  bool inRow = false;
  std::string section, entry, column, value;
};

// A value of a rule row as the log can show it: at most 40 bytes, control
// bytes and the backslash as \xNN, "NULL" for an empty column.
std::string Shown(const std::string& text) {
  constexpr size_t kShown = 40;
  std::string out;
  for (size_t i = 0; i < text.size() && i < kShown; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7f || c == '\\') {
      char buf[5];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  if (text.size() > kShown) out += "... (" + std::to_string(text.size()) + " bytes)";
  return out;
}

std::string Shown(const Variant& v) { return v.IsNull() ? std::string("NULL") : Shown(v.AsText()); }

void Load(bool storing, RowPlace& at) {
  auto rs = RuleDB().OpenRecordset("_bc_ListSections", db::dbOpenForwardOnly);
  const ListingColumns c(*rs);
  const int fixedNo = rs->FieldIndex("FixedArgsNo"), multiLine = rs->FieldIndex("IsMultiLine"),
            varArgs = rs->FieldIndex("HasVarArgs"), mandatory = rs->FieldIndex("IsMandatory"),
            dbId = rs->FieldIndex("DB_ID"), valueName = rs->FieldIndex("ValueName"),
            type = rs->FieldIndex("Type"), poz = rs->FieldIndex("_bc_values.IDX"),
            isMulti = rs->FieldIndex("IsMulti");
  // Notes the column before it is converted.
  auto field = [&](int index, const char* column) -> const Variant& {
    const Variant& v = rs->Fields(index);
    at.column = column;
    at.value = Shown(v);
    return v;
  };

  auto base = std::make_unique<KeyedCollection<cSection>>();
  while (!rs->IsEOF()) {
    at = RowPlace();
    at.inRow = true;
    const std::string sectionName = field(c.section, "SectionName").AsText();
    at.section = Shown(sectionName);
    auto section = std::make_unique<cSection>();
    section->SectionName(sectionName);
    cSection& sec = base->Add(std::move(section), UpperCase(sectionName));
    while (!rs->IsEOF() && rs->Fields(c.section).AsText() == sectionName) {
      at.entry.clear();
      const std::string entryName = field(c.entry, "EntryName").AsText();
      at.entry = Shown(entryName);
      const int16_t fixed = field(fixedNo, "FixedArgsNo").AsInteger();
      const bool multi = field(multiLine, "IsMultiLine").AsBool();
      const bool var = field(varArgs, "HasVarArgs").AsBool();
      const bool must = field(mandatory, "IsMandatory").AsBool();
      const int32_t id = field(dbId, "DB_ID").AsLong();
      field(c.entry, "EntryName");  // a duplicate entry is its name's fault
      cEntry& entry = sec.Add(entryName, fixed, multi, var, must, id, UpperCase(entryName));
      while (!rs->IsEOF() && rs->Fields(c.entry).AsText() == entryName &&
             rs->Fields(c.section).AsText() == sectionName) {
        const Variant& name = field(valueName, "ValueName");
        const std::string nameText = name.IsNull() ? std::string() : name.AsText();
        const int32_t typeCode = field(type, "Type").AsLong();
        const bool last = field(isMulti, "IsMulti").AsBool();
        // Position checks come last: a mismatch is the position's.
        const int16_t position = field(poz, "_bc_values.IDX").AsInteger();
        entry.AddValue(nameText, typeCode, position, last);
        rs->MoveNext();
      }
    }
  }
  at = RowPlace{};

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
  RowPlace at;
  try {
    Load(storing, at);
  } catch (const std::exception& e) {
    LogError(AsError(e), "InitParse");
    if (at.inRow)
      LogLine("      Rule row: _bc_ListSections, section [" + at.section + "], entry " + at.entry + ", column " +
              at.column + ", value " + at.value);
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

