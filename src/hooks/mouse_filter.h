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
  // The process that owns the window (0 when unknown).
  virtual std::uint32_t windowProcess(WindowHandle /*window*/) { return 0; }
  // Shows every mouse event of that thread to `filter` before delivery; the
  // event is delivered unless the filter returns non-zero. 0 when refused.
  virtual HookHandle installMouseHook(std::uint32_t thread, MouseFilterProc filter) = 0;
  // Class name of the calling thread's keyboard-focus window; empty for none.
  virtual std::string focusClassName() = 0;
  // Hands the event to the hook installed before `hook` and yields its
  // result (0 when there is none).
  virtual std::intptr_t callNextHook(HookHandle hook, int code, std::uintptr_t message,
                                     std::intptr_t event) = 0;
  // The class name that marks the engine's document window on this platform.
  virtual std::string documentWindowClass() const = 0;
};

// What the installation yielded; written once, on the UI thread, before any
// mouse event can reach the filter.
struct MouseFilterInstallation {
  HookHandle hook = 0;
  std::uint32_t thread = 0;
  std::uint32_t process = 0;
};

// Installs the filter for the thread that owns `browser`.
void InstallBrowserMouseFilter(WindowHandle browser);
const MouseFilterInstallation& CurrentMouseFilter();
std::intptr_t BrowserMouseFilter(int code, std::uintptr_t message, std::intptr_t event);

}  // namespace zandrel
