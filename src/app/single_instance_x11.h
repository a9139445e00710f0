#pragma once
// Brings a running process's main window to the front on the X display.

#include <sys/types.h>

#include <chrono>

namespace zandrel {

// Waits up to `wait` for a top-level window of `pid` to exist (the program
// may still be starting), then activates it: through the window manager
// (_NET_ACTIVE_WINDOW) when one runs, else by raising and focusing it. False
// when no display or no such window.
bool activateWindowOfProcess(pid_t pid, std::chrono::milliseconds wait);

}  // namespace zandrel
