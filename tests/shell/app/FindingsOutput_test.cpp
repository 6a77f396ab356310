// The forms of findings: gcc lines read back by an editor's pattern, paths
// as a user opens them, JSON Lines and SARIF read back by a JSON parser,
// code lists, and baselines in both forms that match findings whose lines
// moved but nothing else.
// GCC 12 warns of its own <regex> in sanitized builds, wrongly.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include "shell/app/FindingsOutput.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>

#include "TestUtil.h"
#include "shell/mError.h"

namespace ketch {
namespace {

using Json = nlohmann::json;

Finding At(const std::string& file, int32_t line, int16_t code, const std::string& section = "Ship",
           const std::string& key = "mass", const std::string& value = "x") {
  Finding f;
  f.File = file;
  f.Line = line;
  f.Section = section;
  f.SectionLine = 2;
  f.Key = key;
  f.Value = value;
  f.Code = code;
  f.Text = TableText(code);
  return f;
}

Finding Missing(const std::string& file, const std::string& namedIn, int32_t namedLine) {
  Finding f = At(file, 0, 10306, "Data", "ships", "s.ini");
  f.Named = true;
  f.NamedIn = namedIn;
  f.NamedLine = namedLine;
  return f;
}

// The pattern of the problem matcher the README gives editors and CI.
const std::regex kGccPattern(R"(^(.*):(\d+): (warning|error): (\d+) - (.*)$)");

TEST(GccLine, EditorsReadBackFileLineCodeAndTextAndAWholeFileFindingHasNoLine) {
  test::TempDir dir;
  test::WriteFile(dir / "Ships/A b.ini", "");
  struct Case {
    Finding f;
    std::string file;  // as read back
    std::string rest;  // the message after the code
  } cases[] = {
      {At("DATA\\ships\\a.ini", 12, 10101), "DATA/ships/a.ini", "Value Type Mismatch [Ship] mass"},
      // Letter case as on disk, and blanks.
      {At(dir.Path() + "\\ships\\a B.INI", 3, 10302, "Ship", "hp"), dir / "Ships/A b.ini", "Unknown Entry [Ship] hp"},
      // Colons in the path and code page 1252 text become UTF-8.
      {At("a:b\\caf\xE9.ini", 7, 10305, "Sh\xEFp", "k\xE9y"), "a:b/caf\xC3\xA9.ini",
       "Unknown Section [Sh\xC3\xAFp] k\xC3\xA9y"},
  };
  const FindingPaths paths;
  for (const auto& c : cases) {
    const std::string line = GccLine(c.f, paths);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, kGccPattern)) << line;
    EXPECT_EQ(m[1], c.file);
    EXPECT_EQ(m[2], std::to_string(c.f.Line));
    EXPECT_EQ(m[3], "warning");
    EXPECT_EQ(m[4], std::to_string(c.f.Code));
    EXPECT_EQ(m[5], c.rest);
  }
  EXPECT_EQ(GccLine(Missing("DATA\\s.ini", "EXE\\vandrel.ini", 4), paths),
            "DATA/s.ini: warning: 10306 - Could not open referred file [Data] ships");
}

TEST(TextRecord, TheLogsRecordInUtf8WithLfEndsAndTheNamingPlaceForAMissingFile) {
  // A path from the file system is UTF-8 already; game text is code page 1252.
  EXPECT_EQ(TextRecord(At("mods/caf\xC3\xA9.ini", 12, 10101, "Sh\xEFp", "k\xE9y", "v")),
            "WARN: File mods/caf\xC3\xA9.ini line 12\n      Section [Sh\xC3\xAFp] line 2\n"
            "      10101 - Value Type Mismatch !k\xC3\xA9y!v!\n\n");
  EXPECT_EQ(TextRecord(Missing("G\\DATA\\s.ini", "G\\EXE\\vandrel.ini", 4)),
            "WARN: File G\\EXE\\vandrel.ini line 4\n      Section [Data] line 2\n"
            "      10306 - Could not open referred file !ships!s.ini!\n\n");
}

TEST(FindingPaths, BelowTheBaseRelativeElsewhereAsTheyAreAndURIsEncoded) {
  test::TempDir dir;
  test::WriteFile(dir / "game/DATA/Ships/a.ini", "");
  const std::string game = dir.Path() + "/game";
  const FindingPaths paths(game);
  EXPECT_EQ(paths.Reported(game + "\\DATA\\ships\\A.ini"), "DATA/Ships/a.ini");
  EXPECT_EQ(paths.Reported(game + "\\DATA\\..\\..\\out.ini"), "DATA/../../out.ini");
  EXPECT_EQ(paths.Reported(dir.Path() + "\\gamer\\x.ini"), dir.Path() + "/gamer/x.ini");
  EXPECT_EQ(paths.BaseUri(), "file://" + game + "/");
  EXPECT_EQ(FindingPaths::Uri("DATA/a b#%.ini"), "DATA/a%20b%23%25.ini");
  EXPECT_EQ(FindingPaths::Uri("/abs/caf\xC3\xA9.ini"), "file:///abs/caf%C3%A9.ini");
  // Without a base every path stays as given.
  EXPECT_EQ(FindingPaths().Reported("mods\\x.ini"), "mods/x.ini");
  EXPECT_EQ(FindingPaths().BaseUri(), "file://" + std::filesystem::current_path().string() + "/");
}

TEST(JsonLine, OneObjectALineWithTheNamingLineOnlyWhereAGameFileNamedTheFile) {
  const FindingPaths paths;
  struct Case {
    Finding f;
    Json expected;
  } cases[] = {
      {At("DATA\\a.ini", 5, 10212, "Ship", "mass", "1, \xE9"),
       {{"file", "DATA/a.ini"}, {"line", 5}, {"section", "Ship"}, {"key", "mass"}, {"value", "1, \xC3\xA9"},
        {"code", 10212}, {"text", "Too Few Values"}}},
      {Missing("DATA\\s.ini", "EXE\\vandrel.ini", 4),
       {{"file", "DATA/s.ini"}, {"line", 0}, {"section", "Data"}, {"key", "ships"}, {"value", "s.ini"},
        {"code", 10306}, {"text", "Could not open referred file"},
        {"namedAt", {{"file", "EXE/vandrel.ini"}, {"line", 4}}}}},
      // Named by the list of further files: no place in a game file.
      {Missing("DATA\\s.ini", "N/A", 0),
       {{"file", "DATA/s.ini"}, {"line", 0}, {"section", "Data"}, {"key", "ships"}, {"value", "s.ini"},
        {"code", 10306}, {"text", "Could not open referred file"}}},
  };
  for (const auto& c : cases) {
    const std::string line = JsonLine(c.f, paths);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_EQ(Json::parse(line), c.expected) << line;
  }
}

TEST(SarifLog, ARuleForEveryCodeAndAResultWithLocationPropertiesAndTheNamingLine) {
  test::TempDir dir;
  const FindingPaths paths(dir.Path());
  const Json log = Json::parse(SarifLog({At(dir.Path() + "\\DATA\\a b.ini", 9, 10101),
                                         Missing(dir.Path() + "\\DATA\\s.ini", dir.Path() + "\\EXE\\vandrel.ini", 4)},
                                        paths));
  EXPECT_EQ(log["version"], "2.1.0");
  ASSERT_EQ(log["runs"].size(), 1u);
  const Json& run = log["runs"][0];
  const Json& rules = run["tool"]["driver"]["rules"];
  ASSERT_EQ(rules.size(), kErrorCodes.size());
  for (size_t i = 0; i < kErrorCodes.size(); ++i) {
    EXPECT_EQ(rules[i]["id"], std::to_string(kErrorCodes[i]));
    EXPECT_EQ(rules[i]["name"], TableText(kErrorCodes[i]));
    EXPECT_EQ(rules[i]["shortDescription"]["text"], TableText(kErrorCodes[i]));
  }
  EXPECT_EQ(run["originalUriBaseIds"]["SRCROOT"]["uri"], "file://" + dir.Path() + "/");
  const Json& first = run["results"][0];
  EXPECT_EQ(first["ruleId"], "10101");
  EXPECT_EQ(rules[first["ruleIndex"].get<size_t>()]["id"], "10101");
  EXPECT_EQ(first["level"], "warning");
  EXPECT_EQ(first["message"]["text"], "10101 - Value Type Mismatch [Ship] mass");
  EXPECT_EQ(first["locations"][0]["physicalLocation"],
            Json({{"artifactLocation", {{"uri", "DATA/a%20b.ini"}, {"uriBaseId", "SRCROOT"}}},
                  {"region", {{"startLine", 9}}}}));
  EXPECT_EQ(first["properties"], Json({{"section", "Ship"}, {"key", "mass"}, {"value", "x"}}));
  EXPECT_FALSE(first.contains("relatedLocations"));
  const Json& missing = run["results"][1];
  EXPECT_FALSE(missing["locations"][0]["physicalLocation"].contains("region"));
  EXPECT_EQ(missing["relatedLocations"][0]["physicalLocation"],
            Json({{"artifactLocation", {{"uri", "EXE/vandrel.ini"}, {"uriBaseId", "SRCROOT"}}},
                  {"region", {{"startLine", 4}}}}));
}

TEST(ParseCodes, CodesOfTheTableOnly) {
  struct Case {
    const char* list;
    std::set<int16_t> codes;  // empty: refused
  } cases[] = {{"10101", {10101}},
               {"10302, 10101,10306", {10101, 10302, 10306}},
               {"", {}},
               {"10105", {}},
               {"any", {}},
               {"10101,,10302", {}},
               {"10101x", {}}};
  for (const auto& c : cases) {
    std::set<int16_t> codes;
    std::string error;
    const bool ok = ParseCodes(c.list, codes, error);
    EXPECT_EQ(ok, !c.codes.empty()) << c.list;
    EXPECT_EQ(ok ? codes : std::set<int16_t>(), c.codes) << c.list;
    EXPECT_EQ(error.empty(), ok) << c.list;
  }
}

// A baseline written in either form knows its findings by file, code,
// section, key and value: a line that moved is still known, each known
// finding is used once, and any other difference makes a finding new.
TEST(Baseline, BothFormsKnowMovedLinesOnceAndNothingElse) {
  test::TempDir dir;
  const FindingPaths paths(dir.Path());
  const std::string a = dir.Path() + "\\DATA\\a.ini";
  const std::vector<Finding> known = {At(a, 10, 10101), At(a, 20, 10302, "Ship", "hp", "h\xE9"),
                                      Missing(dir.Path() + "\\DATA\\s.ini", dir.Path() + "\\EXE\\vandrel.ini", 4)};
  for (const char* name : {"base.jsonl", "base.sarif"}) {
    SCOPED_TRACE(name);
    test::WriteFile(dir / name, FindingsFileText(name, known, paths));
    Baseline baseline;
    std::string error;
    ASSERT_TRUE(baseline.Load(dir / name, error)) << error;
    EXPECT_EQ(baseline.Size(), 3u);
    EXPECT_FALSE(baseline.Known(At(a, 10, 10101, "Ship", "mass", "y"), paths));  // another value
    EXPECT_FALSE(baseline.Known(At(a, 10, 10104), paths));                        // another code
    EXPECT_FALSE(baseline.Known(At(a, 10, 10101, "Shiq"), paths));               // another section
    EXPECT_FALSE(baseline.Known(At(dir.Path() + "\\DATA\\b.ini", 10, 10101), paths));
    EXPECT_TRUE(baseline.Known(At(a, 14, 10101), paths));  // moved
    EXPECT_FALSE(baseline.Known(At(a, 10, 10101), paths));  // used up
    EXPECT_TRUE(baseline.Known(At(dir.Path() + "\\data\\A.INI", 20, 10302, "Ship", "hp", "h\xE9"), paths));
    EXPECT_TRUE(baseline.Known(known[2], paths));
    EXPECT_EQ(baseline.Size(), 0u);
  }
  Baseline baseline;
  std::string error;
  EXPECT_FALSE(baseline.Load(dir / "none.jsonl", error));
  EXPECT_NE(error.find("none.jsonl"), std::string::npos) << error;
  for (const char* bytes : {"not json\n", "{\"file\": \"a\"}\n", "[1, 2]\n"}) {
    test::WriteFile(dir / "bad.jsonl", bytes);
    error.clear();
    EXPECT_FALSE(baseline.Load(dir / "bad.jsonl", error)) << bytes;
    EXPECT_FALSE(error.empty());
  }
  test::WriteFile(dir / "empty.jsonl", "");
  EXPECT_TRUE(baseline.Load(dir / "empty.jsonl", error));
  EXPECT_EQ(baseline.Size(), 0u);
}

}  // namespace
}  // namespace ketch
