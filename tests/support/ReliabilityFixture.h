// End-to-end runs of ketch on hostile game trees and under injected faults:
// the game fixture plus a checksum of the game tree taken before a run and
// compared after it, wall-time bounds, and runs that the test can interrupt.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>

#include "GameFixture.h"

namespace ketch::test {

class ReliabilityFixture : public GameFixture {
 protected:
  void SetUp() override {
    GameFixture::SetUp();
    SetRules(kShipRules);
    SetOtherINIs({});
  }

  // Runs ketch with the arguments and checks that it ended within the bound
  // (scaled for sanitized builds) and that no file of the game tree changed.
  RunResult Checked(std::vector<std::string> args, double seconds) {
    const auto before = TreeSums(game_);
    const auto start = std::chrono::steady_clock::now();
    RunResult r = Ketch(std::move(args));
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(took, seconds * kSlowdown) << "the run took " << took << " s";
    ExpectIntact(before);
    return r;
  }

  // Every file that was there is there with the same bytes.
  void ExpectIntact(const std::map<std::string, uint64_t>& before) {
    const auto after = TreeSums(game_);
    for (const auto& [file, sum] : before) {
      auto it = after.find(file);
      if (it == after.end())
        ADD_FAILURE() << "lost " << file;
      else
        EXPECT_EQ(it->second, sum) << "changed " << file;
    }
  }

  // Starts ketch without waiting; `prepare` runs in the child before the program.
  std::unique_ptr<Child> Start(std::vector<std::string> args, std::function<void()> prepare = {}) {
    Command command = KetchCommand(std::move(args));
    command.prepare = std::move(prepare);
    return std::make_unique<Child>(command);
  }

  // Waits until the log holds the text, at most the given time.
  bool LogShows(const std::string& text, double seconds) {
    return WaitFor([&] { return Log().find(text) != std::string::npos; }, seconds);
  }

  // A game of n files read by the other-INI list, each two sections of
  // three entry lines; _bc_OtherINI lists them in order.
  void ManyFiles(int n, const std::string& folder = "many") {
    std::vector<std::string> names;
    for (int i = 0; i < n; ++i) {
      const std::string name = folder + "/f" + std::to_string(i) + ".ini";
      GameFile("DATA/" + name, CrLf({"[Ship]", "nickname = s" + std::to_string(i), "ids_name = " + std::to_string(i),
                                     "hp = a, b", "[Ship]", "nickname = t", "ids_name = 1", "hp = c"}));
      names.push_back(folder + "\\f" + std::to_string(i) + ".ini");
    }
    SetOtherINIs(names);
  }
};

}  // namespace ketch::test
