#pragma once
// The browser mouse filter: on the browser's thread every mouse event passes
// it first; the right-button release is swallowed while the engine's document
// window has the keyboard focus.

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/window_layer.h"

namespace zandrel {

inline constexpr std::uintptr_t kRightButtonUp = 0x0205;  // WM_RBUTTONUP

// The filter's rule, the same on every platform: whether the mouse event
// `message` (a classic mouse message number) is kept from its target while
// the keyboard focus is in a window of class `focusClass` (empty for none)
// and the platform's document window has class `documentClass`.
bool SwallowsMouseEvent(std::uintptr_t message, std::string_view focusClass,
                        std::string_view documentClass);

using HookHandle = std::uintptr_t;

// What the installation yielded; written once, on the UI thread, before any
// mouse event can reach the filter. The thread and process are 0 where the
// platform does not number them.
struct MouseFilterInstallation {
  HookHandle hook = 0;
  std::uint32_t thread = 0;
  std::uint32_t process = 0;
};

class MouseHookPlatform {
 public:
  virtual ~MouseHookPlatform() = default;
  // Shows every mouse event of the thread that owns `browser` to
  // SwallowsMouseEvent before delivery; a hook of 0 when refused.
  virtual MouseFilterInstallation install(WindowHandle browser) = 0;
};

// Installs the filter for the thread that owns `browser`.
void InstallBrowserMouseFilter(WindowHandle browser);
const MouseFilterInstallation& CurrentMouseFilter();

}  // namespace zandrel
