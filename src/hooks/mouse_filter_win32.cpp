#include "hooks/mouse_filter_win32.h"

#include <windows.h>

#include "runtime/support_win32.h"

namespace zandrel {
namespace {

std::string focusClass() {
  HWND focus = GetFocus();
  if (!focus) return {};
  wchar_t name[256];
  const int length = GetClassNameW(focus, name, 256);
  if (length <= 0) return {};
  return win32::narrow(std::wstring_view(name, static_cast<std::size_t>(length)));
}

LRESULT CALLBACK BrowserMouseFilter(int code, WPARAM message, LPARAM event) {
  if (SwallowsMouseEvent(message, focusClass(), win32::kDocumentWindowClass)) return 1;
  return CallNextHookEx(reinterpret_cast<HHOOK>(CurrentMouseFilter().hook), code, message, event);
}

class Win32MouseHookPlatform final : public MouseHookPlatform {
 public:
  MouseFilterInstallation install(WindowHandle browser) override {
    MouseFilterInstallation installation;
    DWORD process = 0;
    installation.thread = GetWindowThreadProcessId(reinterpret_cast<HWND>(browser), &process);
    installation.process = installation.thread != 0 ? process : 0;
    installation.hook = reinterpret_cast<HookHandle>(
        SetWindowsHookExW(WH_MOUSE, &BrowserMouseFilter, nullptr, installation.thread));
    return installation;
  }
};

}  // namespace

std::unique_ptr<MouseHookPlatform> createWin32MouseHookPlatform() {
  return std::make_unique<Win32MouseHookPlatform>();
}

}  // namespace zandrel
