#include "hooks/mouse_filter.h"

#include "runtime/services.h"

namespace zandrel {

namespace {

// Written by the installation on the UI thread; read by the filter, which
// runs on that same thread.
MouseFilterInstallation mouseFilterHook;

}  // namespace

void InstallBrowserMouseFilter(WindowHandle browser) {
  MouseHookPlatform* platform = services().mouse;
  if (platform == nullptr) return;
  MouseFilterInstallation installation;
  installation.thread = platform->windowThread(browser);
  installation.process = platform->windowProcess(browser);
  // Publish the thread before the hook can call the filter.
  mouseFilterHook = installation;
  mouseFilterHook.hook = platform->installMouseHook(installation.thread, &BrowserMouseFilter);
}

const MouseFilterInstallation& CurrentMouseFilter() {
  return mouseFilterHook;
}

std::intptr_t BrowserMouseFilter(int code, std::uintptr_t message, std::intptr_t event) {
  MouseHookPlatform* platform = services().mouse;
  if (platform == nullptr) return 0;
  // Only the focus window decides, not the window under the pointer: while the
  // page has the keyboard focus no right-button release of this thread gets
  // through, so the page never opens its own menu.
  if (message == kRightButtonUp) {
    const std::string focusClass = platform->focusClassName();
    // No focus window means no class name, which never matches.
    if (!focusClass.empty() && focusClass == platform->documentWindowClass()) return 1;
  }
  return platform->callNextHook(mouseFilterHook.hook, code, message, event);
}

}  // namespace zandrel
