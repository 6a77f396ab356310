// Small helpers shared by the tests: temporary folders, whole-file reads and
// writes, and running a program with its output captured.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace ketch::test {

// A fresh folder under the system's temporary folder, removed with the object.
class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "ketch-test-XXXXXX").string();
    path_ = mkdtemp(tmpl.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A folder of its own as the system's temporary folder (TMPDIR) while the
// object lives, so that what a test leaves behind there shows.
class TempTmpDir {
 public:
  TempTmpDir() {
    if (const char* old = getenv("TMPDIR")) old_ = old;
    had_ = getenv("TMPDIR") != nullptr;
    setenv("TMPDIR", dir_.Path().c_str(), 1);
  }
  ~TempTmpDir() {
    if (had_)
      setenv("TMPDIR", old_.c_str(), 1);
    else
      unsetenv("TMPDIR");
  }
  TempTmpDir(const TempTmpDir&) = delete;
  TempTmpDir& operator=(const TempTmpDir&) = delete;
  const std::string& Path() const { return dir_.Path(); }

 private:
  TempDir dir_;
  std::string old_;
  bool had_ = false;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

struct RunResult {
  int status = -1;  // exit status, or -1 when killed or not started
  std::string out;
  std::string err;
};

// Runs the program with the arguments (no shell), standard input from
// /dev/null or from `input`, and captures both outputs.
inline RunResult Run(const std::vector<std::string>& argv, const std::string& input = {},
                     const std::vector<std::string>& extraEnv = {}) {
  RunResult result;
  char outName[] = "/tmp/ketch-out-XXXXXX";
  char errName[] = "/tmp/ketch-err-XXXXXX";
  char inName[] = "/tmp/ketch-in-XXXXXX";
  int outFd = mkstemp(outName), errFd = mkstemp(errName), inFd = mkstemp(inName);
  if (write(inFd, input.data(), input.size()) < 0) return result;
  lseek(inFd, 0, SEEK_SET);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, inFd, 0);
  posix_spawn_file_actions_adddup2(&actions, outFd, 1);
  posix_spawn_file_actions_adddup2(&actions, errFd, 2);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<std::string> envStore;
  for (char** e = environ; *e; ++e) envStore.emplace_back(*e);
  for (const auto& e : extraEnv) envStore.push_back(e);
  std::vector<char*> env;
  for (auto& e : envStore) env.push_back(e.data());
  env.push_back(nullptr);
  pid_t pid;
  if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), env.data()) == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  close(outFd);
  close(errFd);
  close(inFd);
  result.out = ReadFile(outName);
  result.err = ReadFile(errName);
  unlink(outName);
  unlink(errName);
  unlink(inName);
  return result;
}

// A program folder of its own: copies of the built programs and KETCH.MDB,
// so that a test can change or remove them.
inline void MakeProgramFolder(const std::string& folder,
                              const std::vector<std::string>& files = {"ketch", "krun", "KETCH.MDB"}) {
  namespace fs = std::filesystem;
  fs::create_directories(folder);
  for (const auto& f : files) {
    fs::path from = fs::path(KETCH_PROGRAM_DIR) / f;
    if (fs::exists(from)) fs::copy_file(from, fs::path(folder) / f, fs::copy_options::overwrite_existing);
  }
}

}  // namespace ketch::test
