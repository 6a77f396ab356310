// Process launch with posix_spawn: no shell, no inherited descriptors beyond
// the three standard ones, default signal state in the child.
#include "ini/mShell.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace ketch {
namespace {

// Owns the attributes and file actions of one spawn.
class SpawnSetup {
 public:
  SpawnSetup() {
    attrOk_ = posix_spawnattr_init(&attr_) == 0;
    actionsOk_ = posix_spawn_file_actions_init(&actions_) == 0;
    // The analyser holds database and log descriptors; the converter gets none
    // of them, whatever flags they were opened with.
    ok_ = actionsOk_ &&
          posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0) == 0 &&
          posix_spawn_file_actions_addopen(&actions_, 1, "/dev/null", O_WRONLY, 0) == 0 &&
          posix_spawn_file_actions_adddup2(&actions_, 1, 2) == 0 &&
          posix_spawn_file_actions_addclosefrom_np(&actions_, 3) == 0;
    // An ignored or blocked signal in the analyser would otherwise carry over
    // into the converter.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    ok_ = ok_ && attrOk_ && posix_spawnattr_setsigmask(&attr_, &none) == 0 &&
          posix_spawnattr_setsigdefault(&attr_, &all) == 0 &&
          posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) == 0;
  }
  ~SpawnSetup() {
    if (actionsOk_) posix_spawn_file_actions_destroy(&actions_);
    if (attrOk_) posix_spawnattr_destroy(&attr_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  bool attrOk_ = false;
  bool actionsOk_ = false;
  bool ok_ = false;
  posix_spawnattr_t attr_;
  posix_spawn_file_actions_t actions_;
};

}  // namespace

int32_t RunAndWait(const std::vector<std::string>& argv) {
  if (argv.empty()) return -1;
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  pid_t pid;
  {
    SpawnSetup setup;
    if (!setup.ok_) return -1;
    if (posix_spawn(&pid, args[0], &setup.actions_, &setup.attr_, args.data(), environ) != 0)
      return -1;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace ketch
