#include "hooks/mouse_filter_win32.h"

#include <windows.h>

#include <atomic>

#include "runtime/support_win32.h"

namespace zandrel {
namespace {

// The filter behind the process's mouse hook. The program installs one; a
// later installation replaces the filter for every hook.
std::atomic<MouseFilterProc> currentFilter{nullptr};

LRESULT CALLBACK mouseHook(int code, WPARAM message, LPARAM event) {
  if (auto filter = currentFilter.load()) return filter(code, message, event);
  return CallNextHookEx(nullptr, code, message, event);
}

class Win32MouseHookPlatform final : public MouseHookPlatform {
 public:
  std::uint32_t windowThread(WindowHandle window) override {
    DWORD process = 0;
    return GetWindowThreadProcessId(reinterpret_cast<HWND>(window), &process);
  }

  std::uint32_t windowProcess(WindowHandle window) override {
    DWORD process = 0;
    if (!GetWindowThreadProcessId(reinterpret_cast<HWND>(window), &process)) return 0;
    return process;
  }

  HookHandle installMouseHook(std::uint32_t thread, MouseFilterProc filter) override {
    currentFilter.store(filter);
    return reinterpret_cast<HookHandle>(SetWindowsHookExW(WH_MOUSE, &mouseHook, nullptr, thread));
  }

  std::string focusClassName() override {
    HWND focus = GetFocus();
    if (!focus) return {};
    wchar_t name[256];
    const int length = GetClassNameW(focus, name, 256);
    if (length <= 0) return {};
    return win32::narrow(std::wstring_view(name, static_cast<std::size_t>(length)));
  }

  std::intptr_t callNextHook(HookHandle hook, int code, std::uintptr_t message,
                             std::intptr_t event) override {
    return CallNextHookEx(reinterpret_cast<HHOOK>(hook), code, message, event);
  }

  std::string documentWindowClass() const override {
    return std::string(win32::kDocumentWindowClass);
  }
};

}  // namespace

std::unique_ptr<MouseHookPlatform> createWin32MouseHookPlatform() {
  return std::make_unique<Win32MouseHookPlatform>();
}

}  // namespace zandrel
