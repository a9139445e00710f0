#include "hooks/mouse_filter.h"

#include "runtime/services.h"

namespace zandrel {

namespace {

// Written by the installation on the UI thread; read by the filter, which
// runs on that same thread.
MouseFilterInstallation mouseFilterHook;

}  // namespace

bool SwallowsMouseEvent(std::uintptr_t message, std::string_view focusClass,
                        std::string_view documentClass) {
  // Only the focus window decides, not the window under the pointer: while the
  // page has the keyboard focus no right-button release of this thread gets
  // through, so the page never opens its own menu. No focus window means no
  // class name, which never matches.
  return message == kRightButtonUp && !focusClass.empty() && focusClass == documentClass;
}

void InstallBrowserMouseFilter(WindowHandle browser) {
  if (MouseHookPlatform* platform = services().mouse) mouseFilterHook = platform->install(browser);
}

const MouseFilterInstallation& CurrentMouseFilter() {
  return mouseFilterHook;
}

}  // namespace zandrel
