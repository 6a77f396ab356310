#include "Process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace ketch::test {
namespace {

// Outputs go to memory files: no pipe to drain, nothing left in a folder.
int MemoryFile(const char* name, const std::string& bytes = {}) {
  const int fd = memfd_create(name, MFD_CLOEXEC);
  if (fd < 0) throw std::runtime_error(std::string("memfd_create: ") + std::strerror(errno));
  if (!bytes.empty() && write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
    throw std::runtime_error("cannot write the input");
  lseek(fd, 0, SEEK_SET);
  return fd;
}

std::string Contents(int fd) {
  struct stat st {};
  fstat(fd, &st);
  std::string bytes(static_cast<size_t>(st.st_size), '\0');
  const ssize_t got = pread(fd, bytes.data(), bytes.size(), 0);
  bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return bytes;
}

std::vector<std::string> Environment(const std::vector<std::string>& changes) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  for (const auto& change : changes) {
    const std::string name = change.substr(0, change.find('='));
    std::erase_if(env, [&](const std::string& e) { return e.compare(0, name.size() + 1, name + "=") == 0; });
    if (change.size() > name.size()) env.push_back(change);
  }
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (auto& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

}  // namespace

Child::Child(const Command& command) : timeout_(command.timeout) {
  out_ = MemoryFile("out");
  err_ = MemoryFile("err");
  in_ = command.inputFd >= 0 ? -1 : MemoryFile("in", command.input);
  const int input = command.inputFd >= 0 ? command.inputFd : in_;
  // Everything the child needs is made before the fork.
  std::vector<std::string> args = command.argv, env = Environment(command.env);
  std::vector<char*> argv = Pointers(args), envp = Pointers(env);
  if (args.empty()) return;
  pid_ = fork();
  if (pid_ == 0) {
    dup2(input, 0);
    dup2(out_, 1);
    dup2(err_, 2);
    if (!command.dir.empty() && chdir(command.dir.c_str()) != 0) _exit(127);
    if (command.prepare) command.prepare();
    execvpe(argv[0], argv.data(), envp.data());
    _exit(127);
  }
}

Child::~Child() {
  if (pid_ > 0) {
    Kill(SIGKILL);
    Wait();
  }
  for (int fd : {out_, err_, in_})
    if (fd >= 0) close(fd);
}

std::string Child::Out() const { return Contents(out_); }
std::string Child::Err() const { return Contents(err_); }

void Child::Kill(int signal) {
  if (pid_ > 0) kill(pid_, signal);
}

RunResult Child::Wait() {
  RunResult result;
  if (pid_ > 0) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout_);
    int status = 0;
    for (;;) {
      const pid_t done = waitpid(pid_, &status, timeout_ > 0 ? WNOHANG : 0);
      if (done == pid_) break;
      if (done < 0 && errno != EINTR) break;
      if (done == 0) {
        if (std::chrono::steady_clock::now() > end) kill(pid_, SIGKILL);
        std::this_thread::sleep_for(std::chrono::microseconds(500));
      }
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? -WTERMSIG(status) : -1;
    pid_ = -1;
  } else {
    result.status = 127;
  }
  result.out = Out();
  result.err = Err();
  if (in_ >= 0) result.inputTaken = lseek(in_, 0, SEEK_CUR);
  return result;
}

}  // namespace ketch::test
