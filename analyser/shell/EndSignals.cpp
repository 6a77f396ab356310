// The signal watch: sigwait on a thread of its own, so that nothing but a
// flag is touched when a signal comes; the run looks at it between files.
#include "shell/EndSignals.h"

#include <pthread.h>
#include <signal.h>

#include <mutex>
#include <thread>

#include "shell/Progress.h"

namespace ketch {
namespace {

std::mutex& Lock() {
  static std::mutex m;
  return m;
}
int stoppers = 0;  // StopOnEndSignals alive

sigset_t EndSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  return set;
}

void GiveBack() {
  sigset_t set = EndSet();
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

// Ends the process by the signal itself, so that the parent sees it as the
// cause, as it would have without the watch.
[[noreturn]] void DieOf(int signo) {
  signal(signo, SIG_DFL);
  sigset_t one;
  sigemptyset(&one);
  sigaddset(&one, signo);
  pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
  raise(signo);
  _exit(128 + signo);
}

void Watch(sigset_t set) {
  for (;;) {
    int signo = 0;
    if (sigwait(&set, &signo) != 0) continue;
    {
      std::lock_guard<std::mutex> hold(Lock());
      if (stoppers > 0 && StopSignal() == 0) {
        RequestStopBySignal(signo);
        continue;
      }
    }
    DieOf(signo);
  }
}

}  // namespace

void WatchEndSignals() {
  sigset_t set = EndSet();
  if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) return;
  pthread_atfork(nullptr, nullptr, GiveBack);
  std::thread(Watch, set).detach();
}

StopOnEndSignals::StopOnEndSignals() {
  std::lock_guard<std::mutex> hold(Lock());
  ++stoppers;
}

StopOnEndSignals::~StopOnEndSignals() {
  std::lock_guard<std::mutex> hold(Lock());
  --stoppers;
}

}  // namespace ketch
