// The signal watch: sigwait on a thread of its own, so that nothing but a
// flag is touched when a signal comes; the run looks at it between files.
// And the end after a failure nobody expected.
#include "shell/EndSignals.h"

#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <new>
#include <thread>

#include "platform/App.h"
#include "platform/Error.h"

#include "shell/Progress.h"
#include "shell/mError.h"

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

namespace {

std::thread::id& EndingThread() {
  static std::thread::id id;
  return id;
}

// The numbers and texts of the two failures nobody expects.
constexpr int32_t kOutOfMemory = 7;
constexpr int32_t kInternalError = 51;

Error ErrorOf(std::exception_ptr failure) {
  try {
    if (failure) std::rethrow_exception(failure);
  } catch (const Error& e) {
    return e;
  } catch (const std::bad_alloc&) {
    return Error(kOutOfMemory, App::EXEName(), "Out of memory");
  } catch (const std::exception& e) {
    return Error(kInternalError, App::EXEName(), std::string("Internal error: ") + e.what());
  } catch (...) {
  }
  return Error(kInternalError, App::EXEName(), "Internal error");
}

[[noreturn]] void EndOnTerminate() {
  if (std::this_thread::get_id() != EndingThread()) {
    std::fputs("ketch: unexpected failure on a helper thread\n", stderr);
    std::abort();
  }
  // Ending again from inside the end: nothing more can be saved.
  std::set_terminate(std::abort);
  EndOnException(std::current_exception(), "Unexpected end");
}

}  // namespace

void EndOnException(std::exception_ptr failure, const std::string& context) {
  try {
    LogError(ErrorOf(failure), context);
  } catch (...) {
    // Not even the report could be made; the end still keeps what was read.
  }
  EndProgram(exitEnded);
}

void EndOnUncaughtExceptions() {
  EndingThread() = std::this_thread::get_id();
  std::set_terminate(EndOnTerminate);
}

}  // namespace ketch
