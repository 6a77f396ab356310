// Findings files of real runs on the small sample game: check and all find
// the same faults at the same places, which are the ones vdgen planted; the
// SARIF of both passes the SARIF multitool's validation; and a baseline made
// from the game leaves of a changed copy exactly the faults the change made.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <tuple>

#include "Process.h"
#include "TestUtil.h"

namespace ketch {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using test::TextLines;

// A place and code: "data/ships/a.ini\t12\t10101", the path lower-cased with
// slashes, since the manifest spells game paths as the game does.
using Places = std::multiset<std::string>;

std::string Place(std::string file, const std::string& line, const std::string& code) {
  std::replace(file.begin(), file.end(), '\\', '/');
  std::transform(file.begin(), file.end(), file.begin(), [](unsigned char c) { return std::tolower(c); });
  return file + "\t" + line + "\t" + code;
}

// The places of a JSON Lines findings text.
Places PlacesOf(const std::string& jsonLines) {
  Places out;
  for (const auto& line : TextLines(jsonLines))
    if (!line.empty()) {
      const Json j = Json::parse(line);
      out.insert(Place(j["file"], std::to_string(j["line"].get<int>()), std::to_string(j["code"].get<int>())));
    }
  return out;
}

std::string FirstOf(const std::vector<std::string>& v) {
  std::string s;
  for (size_t i = 0; i < v.size() && i < 10; ++i) s += "  " + v[i] + "\n";
  return s;
}

// Both directions of a difference of two multisets, for the message.
std::string Difference(const Places& a, const Places& b) {
  std::vector<std::string> onlyA, onlyB;
  std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(onlyA));
  std::set_difference(b.begin(), b.end(), a.begin(), a.end(), std::back_inserter(onlyB));
  return std::to_string(onlyA.size()) + " only in the first:\n" + FirstOf(onlyA) + std::to_string(onlyB.size()) +
         " only in the second:\n" + FirstOf(onlyB);
}

class FindingsTest : public ::testing::Test {
 protected:
  // The game is made and analysed once: a baseline of every finding and the SARIF.
  static void SetUpTestSuite() {
    dir_ = new test::TempDir;
    test::MakeProgramFolder(Bin());
    fs::create_directories(*dir_ / "log");
    gen_ = test::Run({.argv = {VDGEN_PATH, "--preset", "small", "--rules", Bin() + "/KETCH.MDB", Game()}});
    all_ = All(Game(), {"--findings", *dir_ / "all.sarif", "--write-baseline", *dir_ / "all.jsonl"});
  }
  static void TearDownTestSuite() { delete dir_; }
  void SetUp() override {
    ASSERT_EQ(gen_.status, 0) << gen_.err;
    ASSERT_EQ(all_.status, 0) << all_.err;
  }

  static std::string Bin() { return *dir_ / "bin"; }
  static std::string Game() { return *dir_ / "game"; }
  static test::RunResult All(const std::string& game, std::vector<std::string> options) {
    std::vector<std::string> args = {Bin() + "/ketch", "--game", game, "--log", *dir_ / "log", "--overwrite", "1"};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), {"init", "all"});
    return test::Run({.argv = args, .env = test::kNoDisplay});
  }
  // ketch check in the folder given, as a modder runs it in the game's folder.
  static test::RunResult Check(const std::string& folder, std::vector<std::string> args) {
    args.insert(args.begin(), {Bin() + "/ketch", "check"});
    return test::Run({.argv = args, .env = test::kNoDisplay, .dir = folder});
  }

  // The validator's report (itself a SARIF log) of a file: the errors it found.
  static std::vector<std::string> ValidationErrors(const std::string& sarif) {
    const std::string report = sarif + ".validation";
    fs::remove(report);
    const auto r = test::Run({.argv = {KETCH_SARIF_MULTITOOL, "validate", sarif, "--output", report}, .timeout = 300});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    std::vector<std::string> errors;
    const Json log = Json::parse(test::ReadFile(report));
    EXPECT_TRUE(log["runs"][0]["invocations"][0]["executionSuccessful"].get<bool>());
    for (const Json& result : log["runs"][0]["results"])
      if (result.value("level", "warning") == "error") errors.push_back(result.dump());
    return errors;
  }

  static inline test::TempDir* dir_ = nullptr;
  static inline test::RunResult gen_, all_;
};

TEST_F(FindingsTest, CheckAndAllFindWhatVdgenPlantedInTheDataFilesAtTheSamePlaces) {
  const auto check = Check(Game(), {"--format", "json", "DATA"});
  ASSERT_EQ(check.status, 0) << check.err;
  const Places checked = PlacesOf(check.out);

  // All reads the configuration and follows references; check reads the data
  // files only: the walk's findings and those of missing named files are not its.
  Places all;
  for (const auto& place : PlacesOf(test::ReadFile(*dir_ / "all.jsonl")))
    if (place.starts_with("data/") && !place.ends_with("\t10306")) all.insert(place);
  EXPECT_TRUE(checked == all) << Difference(checked, all);

  Places planted;
  for (const auto& line : TextLines(test::ReadFile(Game() + "/manifest.tsv"))) {
    std::istringstream cells(line);
    std::string file, at, code;
    std::getline(cells, file, '\t');
    std::getline(cells, at, '\t');
    std::getline(cells, code, '\t');
    if (line.empty() || line[0] == '#' || !std::isdigit(static_cast<unsigned char>(code[0])) || code == "10306" ||
        (!file.starts_with("DATA\\") && !file.starts_with("Data\\")))
      continue;
    planted.insert(Place(file, at, code));
  }
  EXPECT_TRUE(checked == planted) << Difference(checked, planted);
  EXPECT_GT(planted.size(), 150u);
}

TEST_F(FindingsTest, TheSarifOfAllAndOfCheckPassesTheSarifMultitoolsValidation) {
  ASSERT_TRUE(fs::exists(KETCH_SARIF_MULTITOOL))
      << "the SARIF multitool is not installed (" << KETCH_SARIF_MULTITOOL << "): run tools/setup.sh";
  EXPECT_EQ(ValidationErrors(*dir_ / "all.sarif"), std::vector<std::string>{});
  const auto check = Check(Game(), {"--findings", *dir_ / "check.sarif", "DATA"});
  ASSERT_EQ(check.status, 0) << check.err;
  EXPECT_EQ(ValidationErrors(*dir_ / "check.sarif"), std::vector<std::string>{});
  // The validator does look: a line 0 is refused.
  Json broken = Json::parse(test::ReadFile(*dir_ / "check.sarif"));
  broken["runs"][0]["results"][0]["locations"][0]["physicalLocation"]["region"]["startLine"] = 0;
  test::WriteFile(*dir_ / "broken.sarif", broken.dump(2));
  EXPECT_FALSE(ValidationErrors(*dir_ / "broken.sarif").empty());
}

TEST_F(FindingsTest, ABaselineOfTheGameLeavesExactlyTheThreeFaultsAChangedCopyMade) {
  // A text data file with a planted fault; the copy moves its lines down by
  // one and adds three faults at its end.
  std::string changed;
  for (const auto& line : TextLines(test::ReadFile(Game() + "/manifest.tsv"))) {
    const std::string file = line.substr(0, line.find('\t'));
    if (file.starts_with("DATA\\") && line.find("\t10101\t") != std::string::npos) {
      std::string path = file;
      std::replace(path.begin(), path.end(), '\\', '/');
      if (test::ReadFile(Game() + "/" + path).substr(0, 4) != "KRUN") {
        changed = path;
        break;
      }
    }
  }
  ASSERT_FALSE(changed.empty());
  const std::string copy = *dir_ / "copy";
  fs::copy(Game(), copy, fs::copy_options::recursive);
  test::WriteFile(copy + "/" + changed, "; moves every line down\r\n" + test::ReadFile(Game() + "/" + changed) +
                                            test::CrLf({"", "[Ship]", "nickname = planted", "ids_name = planted",
                                                        "no_such_entry = 1", "[NoSuchSection]", "nickname = x"}));
  auto faults = [&](const std::string& findings) {
    std::vector<std::string> out;
    for (const auto& line : TextLines(findings)) {
      const Json j = Json::parse(line);
      out.push_back(j["file"].get<std::string>() + " " + std::to_string(j["code"].get<int>()) + " " +
                    j["key"].get<std::string>());
    }
    std::sort(out.begin(), out.end());
    return out;
  };
  const std::vector<std::string> three = {changed + " 10101 ids_name", changed + " 10302 no_such_entry",
                                          changed + " 10305 nickname"};

  // All, with either findings file of the game as baseline.
  for (const char* baseline : {"all.jsonl", "all.sarif"}) {
    SCOPED_TRACE(baseline);
    auto r = All(copy, {"--baseline", *dir_ / baseline, "--findings", *dir_ / "new.jsonl", "--fail-on", "any"});
    EXPECT_EQ(r.status, 5) << r.err;
    EXPECT_EQ(faults(test::ReadFile(*dir_ / "new.jsonl")), three);
  }
  // The game itself has nothing new.
  auto r = All(Game(), {"--baseline", *dir_ / "all.jsonl", "--findings", *dir_ / "none.jsonl", "--fail-on", "any"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::ReadFile(*dir_ / "none.jsonl"), "");

  // Check, run in each game's folder.
  r = Check(Game(), {"--write-baseline", *dir_ / "check.jsonl", "DATA"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = Check(copy, {"--baseline", *dir_ / "check.jsonl", "--format", "json", "--fail-on", "any", "DATA"});
  EXPECT_EQ(r.status, 5) << r.err;
  EXPECT_EQ(faults(r.out), three);
}

}  // namespace
}  // namespace ketch
