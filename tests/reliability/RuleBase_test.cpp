// A rule base made broken (control bytes, a name of a megabyte, SQL-like
// text, an empty column where a value is needed): the load fails with its
// error report and a line that names the row, the column and the value,
// shown cut short and with control bytes escaped; the rule tables are left
// as they were and a repaired rule base loads.
#include <gtest/gtest.h>

#include "ReliabilityFixture.h"

namespace ketch {
namespace {

class BrokenRules : public test::ReliabilityFixture {
 protected:
  void SetUp() override {
    ReliabilityFixture::SetUp();
    GameFile("EXE/vandrel.ini", test::CrLf({"[Data]", "ships = s.ini"}));
    GameFile("DATA/s.ini", test::CrLf({"[Ship]", "nickname = s"}));
  }
  void ExpectRowNamed(const std::string& sql, const std::string& error, const std::string& row) {
    SCOPED_TRACE(sql.substr(0, 200));
    SetRules(kShipRules);
    Sql("KETCH.MDB", sql);
    const std::string before = One("KETCH.MDB", "SELECT count(*) FROM _bc_values");
    const auto r = Checked({"init", "all"}, 10);
    EXPECT_EQ(r.status, 3) << r.err;
    const std::string log = Log();
    const size_t report = log.find("Error : " + error + "\r\n");
    EXPECT_NE(report, std::string::npos) << log.substr(0, 2000);
    const size_t named = log.find("InitParse\r\n      Rule row: _bc_ListSections, " + row + "\r\n");
    EXPECT_NE(named, std::string::npos) << log.substr(0, 2000);
    EXPECT_LT(report, named);
    // Nothing of the row's text was run.
    EXPECT_EQ(One("KETCH.MDB", "SELECT count(*) FROM _bc_values"), before);
    EXPECT_LT(log.size(), 4000u) << "the value was not cut short";
    SetRules(kShipRules);
    EXPECT_EQ(Checked({"init", "all"}, 10).status, 0);
  }
};

TEST_F(BrokenRules, TheFailingRowColumnAndValueAreNamedSafely) {
  // SQL-like text and a control byte where a number is needed.
  ExpectRowNamed(
      "UPDATE _bc_entries SET FixedArgsNo = 'x''); DROP TABLE _bc_values; --' || char(1) WHERE EntryName = 'mass'",
      "Type mismatch", "section [Ship], entry mass, column FixedArgsNo, value x'); DROP TABLE _bc_values; --\\x01");
  // An entry without values: the listing's Type is empty. Its name holds a
  // NUL byte and a megabyte.
  ExpectRowNamed(
      "INSERT INTO _bc_entries (Section, EntryName, IDX, FixedArgsNo, IsMultiLine, HasVarArgs, IsMandatory) "
      "SELECT DB_ID, 'a' || char(0) || printf('%.*c', 1048576, 'n'), 99, 1, 0, 0, 0 FROM _bc_sections "
      "WHERE SectionName = 'Ship'",
      "Invalid use of Null",
      "section [Ship], entry a\\x00" + std::string(38, 'n') + "... (1048578 bytes), column Type, value NULL");
  // A value position out of order.
  ExpectRowNamed("UPDATE _bc_values SET IDX = 3 WHERE ValueName = 'hardpoint'",
                 "10204 - Value Position Mismatch",
                 "section [Ship], entry hp, column _bc_values.IDX, value 3");
  // A section again, in a letter case of its own.
  ExpectRowNamed("UPDATE _bc_sections SET SectionName = 'ship' WHERE SectionName = 'system'",
                 "This key is already associated with an element of this collection",
                 "section [ship], entry , column SectionName, value ship");
}

}  // namespace
}  // namespace ketch
