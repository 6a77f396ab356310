#include "KrunRun.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

extern char** environ;

namespace krun::test {

namespace fs = std::filesystem;

KrunRun RunKrun(const std::vector<std::string>& args, const fs::path& dir, int stdinFd) {
  KrunRun run;
  int ownStdin = -1;
  if (stdinFd < 0) {
    const fs::path input = dir / ".stdin";
    WriteBytes(input, "xy");
    ownStdin = open(input.c_str(), O_RDONLY | O_CLOEXEC);
    stdinFd = ownStdin;
  }
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, stdinFd, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  std::vector<std::string> argv{KETCH_PROGRAM_DIR "/krun"};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargv;
  for (auto& arg : argv) cargv.push_back(arg.data());
  cargv.push_back(nullptr);
  pid_t pid;
  const int spawned = posix_spawn(&pid, cargv[0], &actions, nullptr, cargv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (spawned != 0) throw std::runtime_error("cannot start krun");

  // A krun that waits on its standard input must fail the test, not hang it.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  char buffer[4096];
  bool killed = false;
  while (true) {
    pollfd ready{out[0], POLLIN, 0};
    if (poll(&ready, 1, 100) > 0) {
      const ssize_t got = read(out[0], buffer, sizeof buffer);
      if (got <= 0) break;
      run.out.append(buffer, static_cast<std::size_t>(got));
    } else if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      killed = true;
      break;
    }
  }
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  run.status = killed ? -2 : WIFEXITED(status) ? WEXITSTATUS(status) : -3;
  if (ownStdin >= 0) {
    run.stdinTaken = lseek(ownStdin, 0, SEEK_CUR);
    close(ownStdin);
    fs::remove(dir / ".stdin");
  }
  return run;
}

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "krun-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!file) throw std::runtime_error("cannot write " + path.string());
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot read " + path.string());
  return {std::istreambuf_iterator<char>(file), {}};
}

}  // namespace krun::test
