// The [Data] section of the game's configuration, from memory: each entry in
// order, a file of a known kind read under its kind, the others named and
// passed over, an entry without a value warned (but for "bases"), a file named
// twice read once, and a missing one warned against its line.
#include "gamedata/mVDINI.h"

#include <gtest/gtest.h>

#include "ReaderFixture.h"

namespace ketch {
namespace {

using test::CrLf;

class DataSectionTest : public test::ReaderFixture {
 protected:
  void SetUp() override {
    ReaderFixture::SetUp();
    settings_->VDPath("C:\\g");
  }
};

TEST_F(DataSectionTest, EveryEntryInOrder) {
  Files()["C:\\g\\DATA\\s.ini"] = CrLf({"[Ship]", "nickname = s"});
  Files()["C:\\g\\DATA\\p.ini"] = CrLf({"[Ship]", "nickname = p"});
  auto f = Reader(CrLf({"; the game's files", "[Data]", "ships = s.ini", "Ships = s.ini", "goods", "bases =",
                        "PetalDB = p.ini", "petaldb = p.ini", "equipment = missing.ini", "goods = S.INI"}),
                  "C:\\g\\EXE\\vandrel.ini");
  SectionRecord r;
  ASSERT_TRUE(ReadNextSection(r, *f));
  DoSectionData(r);
  const std::string notProcessed = "        NOT Processing (in Ketch v " + App::VersionText() + ") ";
  EXPECT_EQ(box_, CrLf({"        Processing ships s.ini", "    Processing C:\\g\\DATA\\s.ini",
                        notProcessed + "Ships s.ini",
                        "WARN: File C:\\g\\EXE\\vandrel.ini line 5", "      Section [Data] line 3",
                        "      10304 - Entry With no Value !goods!!", "",
                        notProcessed + "bases ",
                        "        Processing PetalDB p.ini", "    Processing C:\\g\\DATA\\p.ini",
                        notProcessed + "petaldb p.ini",
                        "        Processing equipment missing.ini", "    Processing C:\\g\\DATA\\missing.ini",
                        "WARN: File C:\\g\\EXE\\vandrel.ini line 9", "      Section [Data] line 7",
                        "      10306 - Could not open referred file !equipment!missing.ini!", "",
                        "        Processing goods S.INI", "    Processing C:\\g\\DATA\\S.INI",
                        "Already parsed. Skipped."}));
  EXPECT_EQ(Stored(), (std::vector<std::string>{"ships|ship|C:\\g\\DATA\\s.ini|1", "petaldb|ship|C:\\g\\DATA\\p.ini|1",
                                                "  1|nickname|2|s", "  1|nickname|2|p"}));
}

}  // namespace
}  // namespace ketch
