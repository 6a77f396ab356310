// The event pump, a hook the window sets: the engine calls it between
// sections so that the window repaints and takes clicks during a long run.
#include "shell/DoEvents.h"

namespace ketch {
namespace {

std::function<void()>& Pump() {
  static std::function<void()> pump;
  return pump;
}

}  // namespace

void DoEvents() {
  if (Pump()) Pump()();
}

void SetEventPump(std::function<void()> pump) { Pump() = std::move(pump); }

}  // namespace ketch
