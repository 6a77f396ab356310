// The analyser on game trees that hold what a broken editor or a careless
// hand leaves behind: random and NUL bytes, a huge line, full sections, files
// naming themselves and each other, very many files, odd paths, and a value
// that leads out of the game folder. Each run must end with the stated
// outcome within its time bound and leave every game file as it was.
#include <gtest/gtest.h>

#include <random>

#include "ReliabilityFixture.h"

namespace ketch {
namespace {

using test::Count;
using test::CrLf;

class BadInput : public test::ReliabilityFixture {};

std::string RandomBytes(unsigned seed, size_t n) {
  std::mt19937 gen(seed);
  std::string bytes(n, '\0');
  for (char& c : bytes) c = static_cast<char>(gen() & 0xff);
  if (bytes[0] == 'K') bytes[0] = 'k';  // not the binary magic
  return bytes;
}

TEST_F(BadInput, RandomBytesAreWarnedAboutAndNulBytesKeptAsPartOfTheText) {
  GameFile("EXE/vandrel.ini", CrLf({"[Data]", "ships = r0.ini", "ships = r1.ini", "ships = r2.ini", "goods = good.ini"}));
  for (unsigned i = 0; i < 3; ++i) GameFile("DATA/r" + std::to_string(i) + ".ini", RandomBytes(i + 1, 64 * 1024));
  GameFile("DATA/good.ini", CrLf({"[Ship]", "nickname = good"}));
  auto r = Checked({"init", "all"}, 30);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Rows("VD.MDB", "SELECT Area FROM Sections WHERE File LIKE '%good.ini'"), std::vector<std::string>{"goods"});
  EXPECT_NE(Log().find("Done Reading files for value ID 872"), std::string::npos);
  EXPECT_EQ(One("VD.MDB", "PRAGMA integrity_check"), "ok");

  // The configuration file itself as random bytes.
  GameFile("EXE/vandrel.ini", RandomBytes(9, 64 * 1024));
  r = Checked({"init", "all"}, 30);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(Log().find("Done Reading files for value ID 872"), std::string::npos);

  // NUL bytes are part of the text.
  using namespace std::string_literals;
  GameFile("EXE/vandrel.ini", CrLf({"[Data]", "ships = nul.ini", "goods = zeros.ini"}));
  GameFile("DATA/nul.ini", "[Ship]\r\nnickname = a\0b\r\n\0\0\0\r\n[Sh\0ip]\r\nnickname = c\r\n"s);
  GameFile("DATA/zeros.ini", std::string(1 << 20, '\0'));
  r = Checked({"init", "all"}, 30);
  EXPECT_EQ(r.status, 0) << r.err;
  // The key of three NULs is no entry of the rules; the odd section name is no section.
  EXPECT_NE(Log().find("      10302 - Unknown Entry !\0\0\0!!\r\n"s), std::string::npos) << Log();
  EXPECT_NE(Log().find("      Section [Sh\0ip] line 1\r\n"s), std::string::npos);
  EXPECT_EQ(Rows("VD.MDB", "SELECT hex(Value) FROM [Values]"), std::vector<std::string>{"610062"});
  EXPECT_EQ(One("VD.MDB", "SELECT count(*) FROM Sections"), "1");
}

TEST_F(BadInput, ATenMegabyteLine) {
  const std::string huge(10 << 20, 'x');
  GameFile("EXE/vandrel.ini", CrLf({"[Data]", "ships = long.ini", "goods = bare.ini", "stars = after.ini"}));
  GameFile("DATA/long.ini", "[Ship]\r\nnickname = " + huge + "\r\nids_name = 5\r\n");
  GameFile("DATA/bare.ini", huge);  // no line end, no section
  GameFile("DATA/after.ini", CrLf({"[Ship]", "nickname = after"}));
  auto r = Checked({"init", "all"}, 60);
  EXPECT_EQ(r.status, 0) << r.err;
  // A value of 32767 characters or more overflows the 16-bit position of the
  // value splitter: a finding, and the rest of the section is stored.
  EXPECT_NE(Log().find("      10104 - Value Overflow !nickname!xxxx"), std::string::npos) << Log().substr(0, 2000);
  EXPECT_EQ(Rows("VD.MDB", "SELECT Entry FROM Entries ORDER BY DB_ID"),
            (std::vector<std::string>{"ids_name", "nickname"}));
  EXPECT_EQ(Rows("VD.MDB", "SELECT Value FROM [Values] ORDER BY DB_ID"), (std::vector<std::string>{"5", "after"}));
}

TEST_F(BadInput, FullSectionsOfTheConfigurationAndOfADataFile) {
  // Blank and comment lines do not count against the 2048 entry lines.
  std::string data = "[Data]\r\n";
  for (int i = 0; i < 2048; ++i) data += "ships = s" + std::to_string(i % 3) + ".ini\r\n; note\r\n\r\n";
  GameFile("EXE/vandrel.ini", data);
  for (int i = 0; i < 3; ++i) GameFile("DATA/s" + std::to_string(i) + ".ini", CrLf({"[Ship]", "nickname = s"}));
  auto r = Checked({"init", "all"}, 60);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Count(Log(), "Already parsed. Skipped.\r\n"), 2045u);
  EXPECT_EQ(One("VD.MDB", "SELECT count(*) FROM Sections"), "3");

  // One entry line more: the walk ends with its error lines, the passes still
  // run, and the status tells of the error report.
  GameFile("EXE/vandrel.ini", data + "ships = s0.ini\r\n");
  SetOtherINIs({"s1.ini"});
  r = Checked({"init", "all"}, 60);
  EXPECT_EQ(r.status, 6) << r.err;
  const std::string G = game_;
  EXPECT_NE(Log().find(CrLf({"ERR : File " + G + "\\EXE\\vandrel.ini line 6146", "      9 -- Subscript out of range -- ketch",
                             "", "", "Reading files for other INIs", "    Processing " + G + "\\DATA\\s1.ini"})),
            std::string::npos)
      << Log().substr(0, 3000);
  EXPECT_EQ(Log().find("Done Processing"), std::string::npos);
  EXPECT_EQ(One("VD.MDB", "SELECT count(*) FROM Sections"), "1");
}

TEST_F(BadInput, FilesThatNameThemselvesAreReadOnceAsAreAChainOfAThousand) {
  GameFile("EXE/vandrel.ini", CrLf({"[Data]", "universe = universe\\u.ini", "ships = ships\\s.ini"}));
  // Named again under the other base folder of rule 74 and in other letter case.
  GameFile("DATA/universe/u.ini", CrLf({"[system]", "file = u.ini", "[system]", "file = U.INI"}));
  GameFile("DATA/ships/s.ini", CrLf({"[Ship]", "nickname = s", "da_archetype = SHIPS\\S.ini"}));
  auto r = Checked({"init", "all"}, 30);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Count(Log(), "Already parsed. Skipped.\r\n"), 3u);
  EXPECT_EQ(One("VD.MDB", "SELECT count(*) FROM Sections"), "3");

  // A chain of a thousand files: each names the next and the last the first;
  // all are on the other-INI list.
  std::vector<std::string> all;
  for (int i = 0; i < 1000; ++i) {
    GameFile("DATA/chain/c" + std::to_string(i) + ".ini",
             CrLf({"[Ship]", "nickname = c" + std::to_string(i),
                   "da_archetype = chain\\c" + std::to_string((i + 1) % 1000) + ".ini"}));
    all.push_back("chain\\c" + std::to_string(i) + ".ini");
  }
  SetOtherINIs(all);
  GameFile("EXE/vandrel.ini", "");
  r = Checked({"init", "all"}, 60);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(One("VD.MDB", "SELECT count(*) FROM Sections"), "1000");
  EXPECT_EQ(Count(Log(), "Already parsed. Skipped.\r\n"), 1000u);

  // From the configuration alone, each pass follows one link: the walk reads
  // c0, the pass of rule 101 reads c1, and the chain stops there.
  SetOtherINIs({});
  GameFile("EXE/vandrel.ini", CrLf({"[Data]", "ships = chain\\c0.ini"}));
  r = Checked({"init", "all"}, 30);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Rows("VD.MDB", "SELECT Value FROM [Values] JOIN Entries ON Entries.DB_ID = [Values].Link "
                          "WHERE Entry = 'nickname' ORDER BY [Values].DB_ID"),
            (std::vector<std::string>{"c0", "c1"}));
}

TEST_F(BadInput, TenThousandSmallFiles) {
  std::vector<std::string> files;
  for (int i = 0; i < 10000; ++i) {
    GameFile("DATA/m/" + std::to_string(i % 100) + "/f" + std::to_string(i) + ".ini",
             "[Ship]\r\nnickname = n" + std::to_string(i) + "\r\n");
    files.push_back("m\\" + std::to_string(i % 100) + "\\f" + std::to_string(i) + ".ini");
  }
  SetOtherINIs(files);
  GameFile("EXE/vandrel.ini", "");
  auto r = Checked({"init", "all"}, 30);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(One("VD.MDB", "SELECT count(*) FROM Sections"), "10000");
  EXPECT_EQ(One("VD.MDB", "SELECT count(DISTINCT File) FROM Sections"), "10000");
  EXPECT_EQ(Count(Log(), "    Processing "), 10000u);
}

TEST_F(BadInput, PathsWithBlanksQuotesDollarsSemicolonsAndNonAsciiBytes) {
  game_ = dir_ / "g a m e 'q' \"d\" $HOME ;x \xC3\xA9";
  log_ = dir_ / "l o g $(x) ;'";
  GameFile("EXE/vandrel.ini", CrLf({"[Data]", "ships = sub dir\\it's \"q\" $v `x`.ini", "goods = semi;colon.ini",
                                    "stars = caf\xE9.ini", "loadouts = bin $x.ini"}));
  GameFile("DATA/sub dir/it's \"q\" $v `x`.ini", CrLf({"[Ship]", "nickname = odd"}));
  GameFile("DATA/semi;colon.ini", CrLf({"[Ship]", "nickname = never"}));
  GameFile("DATA/caf\xC3\xA9.ini", CrLf({"[Ship]", "nickname = cafe"}));  // UTF-8 on disk
  BinaryGameFile("DATA/bin $x.ini", "[Ship]\nnickname = bin\n\n");
  GameFile("DATA/bin $x.ini.txt", "the user's own notes");
  auto r = Checked({"init", "all"}, 30);
  EXPECT_EQ(r.status, 0) << r.err;
  // ";" starts a comment, also inside a [Data] value.
  EXPECT_NE(Log().find("      10306 - Could not open referred file !goods!semi!\r\n"), std::string::npos) << Log();
  EXPECT_EQ(Rows("VD.MDB", "SELECT Value FROM [Values] ORDER BY DB_ID"),
            (std::vector<std::string>{"odd", "cafe", "bin"}));
  // Paths are stored as built: the game folder as given, the value's 1252 bytes.
  EXPECT_EQ(Rows("VD.MDB", "SELECT File FROM Sections ORDER BY DB_ID")[1],
            std::string(dir_ / "g a m e 'q' \"d\" $HOME ;x \xC3\xA9") + "\\DATA\\caf\xC3\xA9.ini");
  EXPECT_TRUE(std::filesystem::exists(log_ + "/ketch.log"));
}

TEST_F(BadInput, ADataValueThatClimbsOutOfTheGameFolder) {
  const std::string outside = dir_ / "outside";
  test::WriteFile(outside + "/secret.ini", CrLf({"[Ship]", "nickname = outside"}));
  std::filesystem::create_directories(outside);
  krun::WriteBinaryIniFile(outside + "/packed.ini", "[Ship]\nnickname = packed\n\n");
  const auto before = test::TreeSums(outside);
  GameFile("DATA/readme.txt", "the user's notes");
  GameFile("EXE/vandrel.ini", CrLf({"[Data]", "ships = ..\\..\\outside\\secret.ini",
                                    "goods = ..\\..\\outside\\packed.ini", "stars = ..\\..\\..\\..\\..\\..\\..\\..\\x.ini"}));
  auto r = Checked({"init", "all"}, 30);
  EXPECT_EQ(r.status, 0) << r.err;
  // A path is a path: read and stored as built; nothing is written there.
  EXPECT_EQ(Rows("VD.MDB", "SELECT File FROM Sections ORDER BY DB_ID"),
            (std::vector<std::string>{game_ + "\\DATA\\..\\..\\outside\\secret.ini",
                                      game_ + "\\DATA\\..\\..\\outside\\packed.ini"}))
      << Log();
  EXPECT_EQ(test::TreeSums(outside), before);
  EXPECT_NE(Log().find("      10306 - Could not open referred file !stars!"), std::string::npos);
}

}  // namespace
}  // namespace ketch
