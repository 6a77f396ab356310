// End-to-end runs of ketch on hostile game trees and under injected faults:
// the game fixture plus a checksum of the game tree taken before a run and
// compared after it, wall-time bounds, and runs that the test can interrupt.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <thread>

#include "GameFixture.h"

namespace ketch::test {

// Sanitized builds run several times slower; the bounds stay meaningful.
#if defined(__SANITIZE_ADDRESS__)
constexpr double kSlowdown = 4;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr double kSlowdown = 4;
#else
constexpr double kSlowdown = 1;
#endif
#else
constexpr double kSlowdown = 1;
#endif

inline std::string CrLf(std::initializer_list<std::string> lines) {
  std::string text;
  for (const auto& l : lines) text += l + "\r\n";
  return text;
}

inline size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size()) ++n;
  return n;
}

// Every regular file under a folder, by relative path, with a hash of its bytes.
inline std::map<std::string, uint64_t> TreeSums(const std::string& root) {
  std::map<std::string, uint64_t> sums;
  namespace fs = std::filesystem;
  if (!fs::exists(root)) return sums;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    if (!item.is_regular_file()) continue;
    const std::string bytes = ReadFile(item.path().string());
    uint64_t h = 1469598103934665603ull;  // FNV-1a
    for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
    sums[fs::relative(item.path(), root).string()] = h ^ bytes.size();
  }
  return sums;
}

class ReliabilityFixture : public GameFixture {
 protected:
  void SetUp() override {
    GameFixture::SetUp();
    SetRules(
        "Ship\tnickname\t1\t0\t0\t1\t1\tnickname\t3\t1\t0\n"
        "Ship\tids_name\t1\t0\t0\t0\t2\tids_name\t1\t1\t0\n"
        "Ship\thp\t1\t1\t1\t0\t4\thp\t3\t1\t0\n"
        "Ship\thp\t1\t1\t1\t0\t4\thardpoint\t3\t2\t1\n"
        "Ship\tda_archetype\t1\t0\t0\t0\t101\tda_archetype\t3\t1\t0\n"
        "system\tfile\t1\t0\t0\t1\t74\tfile\t3\t1\t0\n");
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

  std::vector<std::string> Col(const std::string& file, const std::string& sql) { return Rows(file, sql); }
  std::string One(const std::string& file, const std::string& sql) {
    auto rows = Rows(file, sql);
    return rows.empty() ? "<none>" : rows[0];
  }

  // Starts ketch without waiting; its output goes to files of the test.
  // `prepare` runs in the child before the program starts.
  pid_t Start(std::vector<std::string> args, const std::function<void()>& prepare = {}) {
    args.insert(args.begin(), {bin_ + "/ketch", "--game", game_, "--log", log_, "--overwrite", "1"});
    std::filesystem::create_directories(log_);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string out = dir_ / "stdout", err = dir_ / "stderr";
    pid_t pid = fork();
    if (pid == 0) {
      int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      int n = open("/dev/null", O_RDONLY);
      dup2(n, 0), dup2(o, 1), dup2(e, 2);
      unsetenv("QT_QPA_PLATFORM");
      if (prepare) prepare();
      execv(argv[0], argv.data());
      _exit(127);
    }
    return pid;
  }
  // Waits for the child; its exit status, or -signal when a signal ended it.
  static int Wait(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  }
  std::string Out() { return ReadFile(dir_ / "stdout"); }
  std::string Err() { return ReadFile(dir_ / "stderr"); }

  // Waits until the file holds the text, at most the given time.
  static bool WaitFor(const std::string& file, const std::string& text, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds * kSlowdown);
    while (std::chrono::steady_clock::now() < end) {
      if (ReadFile(file).find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
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
    OtherINIs(names);
  }

  // The other-INI list in one transaction: a thousand single commits take seconds.
  void OtherINIs(const std::vector<std::string>& files) {
    std::string sql = "BEGIN; DELETE FROM _bc_OtherINI;";
    for (const auto& f : files) sql += "INSERT INTO _bc_OtherINI (Value) VALUES ('" + f + "');";
    Sql("KETCH.MDB", sql + "COMMIT;");
  }
};

}  // namespace ketch::test
