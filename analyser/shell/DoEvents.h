// The event pump: long work lets the window system process pending events
// (repaint, clicks) through here. The window installs the pump; headless
// there is none.
#pragma once

#include <functional>

namespace ketch {

void DoEvents();
void SetEventPump(std::function<void()> pump);

}  // namespace ketch
