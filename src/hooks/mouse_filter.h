#pragma once
// The browser mouse filter: on the browser's thread every mouse event passes
// it first; the right-button release is swallowed while the engine's document
// window has the keyboard focus.

#include <cstdint>
#include <string>

#include "runtime/window_layer.h"

namespace zandrel {

inline constexpr std::uintptr_t kRightButtonUp = 0x0205;  // WM_RBUTTONUP

using HookHandle = std::uintptr_t;
using MouseFilterProc = std::intptr_t (*)(int code, std::uintptr_t message, std::intptr_t event);

class MouseHookPlatform {
 public:
  virtual ~MouseHookPlatform() = default;
  // The thread that owns the window (0 when unknown).
  virtual std::uint32_t windowThread(WindowHandle window) = 0;
  virtual HookHandle installMouseHook(std::uint32_t thread, MouseFilterProc filter) = 0;
  // Class name of the calling thread's keyboard-focus window; empty for none.
  virtual std::string focusClassName() = 0;
  virtual std::intptr_t callNextHook(HookHandle hook, int code, std::uintptr_t message,
                                     std::intptr_t event) = 0;
  // The class name that marks the engine's document window on this platform.
  virtual std::string documentWindowClass() const = 0;
};

// Installs the filter for the thread that owns `browser`.
void InstallBrowserMouseFilter(WindowHandle browser);
std::intptr_t BrowserMouseFilter(int code, std::uintptr_t message, std::intptr_t event);

}  // namespace zandrel
