// The hotkey platform and the browser mouse filter on real Win32 input: a
// window-less timer, reading threads, the system-wide key state and a
// per-thread mouse hook fed by synthesised mouse input.

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "hooks/hotkeys_win32.h"
#include "hooks/mouse_filter.h"
#include "hooks/mouse_filter_win32.h"
#include "runtime/services.h"
#include "win32_test_support.h"

namespace zandrel {
namespace {

std::atomic<int> polls{0};
DWORD pollThread = 0;
void countPoll() {
  ++polls;
  pollThread = GetCurrentThreadId();
}

std::atomic<std::int32_t> handledId{0};
std::atomic<DWORD> handlerThread{0};
void handler(std::int32_t id) {
  handlerThread = GetCurrentThreadId();
  handledId = id;
}

std::wstring focusClass() {
  wchar_t name[256] = {};
  HWND focus = GetFocus();
  const int length = focus ? GetClassNameW(focus, name, 256) : 0;
  return std::wstring(name, static_cast<std::size_t>(length > 0 ? length : 0));
}

void sendKey(WORD key, bool down) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = key;
  input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
  SendInput(1, &input, sizeof(input));
}

TEST(HotkeyPlatform, TheTimerPollsOnTheRegisteringThreadWhileItDispatches) {
  std::unique_ptr<HotkeyPlatform> platform = createWin32HotkeyPlatform();
  ASSERT_TRUE(platform->startTimer(10, &countPoll));
  EXPECT_TRUE(test::pumpUntil([] { return polls.load() >= 5; }, 3000));
  EXPECT_EQ(pollThread, GetCurrentThreadId());
}

TEST(HotkeyPlatform, AHandlerRunsOnANewThreadWithItsId) {
  std::unique_ptr<HotkeyPlatform> platform = createWin32HotkeyPlatform();
  ASSERT_TRUE(platform->startThread(&handler, 1000001));
  EXPECT_TRUE(test::pumpUntil([] { return handledId.load() == 1000001; }, 3000));
  EXPECT_NE(handlerThread.load(), GetCurrentThreadId());
}

TEST(HotkeyPlatform, TheSampleSeesAKeyHeldDownSystemWide) {
  std::unique_ptr<HotkeyPlatform> platform = createWin32HotkeyPlatform();
  KeySnapshot snapshot{};
  sendKey(VK_F1, true);
  test::pumpUntil([] { return false; }, 50);
  platform->sampleKeys(snapshot);
  EXPECT_LT(snapshot[VK_F1], 0);
  EXPECT_GE(snapshot[VK_F2], 0);
  sendKey(VK_F1, false);
  test::pumpUntil([] { return false; }, 50);
  platform->sampleKeys(snapshot);
  EXPECT_GE(snapshot[VK_F1], 0);
  EXPECT_EQ(snapshot[0], 0);
}

// A window that records which mouse messages reach it.
struct MouseLog {
  std::atomic<int> leftDown{0}, leftUp{0}, rightDown{0}, rightUp{0};
};
MouseLog mouseLog;

LRESULT CALLBACK loggingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_LBUTTONDOWN:
      ++mouseLog.leftDown;
      return 0;
    case WM_LBUTTONUP:
      ++mouseLog.leftUp;
      return 0;
    case WM_RBUTTONDOWN:
      ++mouseLog.rightDown;
      return 0;
    case WM_RBUTTONUP:
      ++mouseLog.rightUp;
      return 0;
    default:
      return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

HWND loggingWindow(const wchar_t* className, HWND parent, int x, int y) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = &loggingProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = className;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  RegisterClassExW(&wc);
  HWND window =
      CreateWindowExW(0, className, L"", parent ? WS_CHILD | WS_VISIBLE : WS_POPUP | WS_VISIBLE, x,
                      y, 200, 200, parent, nullptr, wc.hInstance, nullptr);
  // Other tests use the class too: the procedure is this window's own.
  SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&loggingProc));
  return window;
}

void click(HWND target, DWORD down, DWORD up) {
  RECT rc;
  GetWindowRect(target, &rc);
  SetCursorPos((rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
  INPUT input[2] = {};
  input[0].type = input[1].type = INPUT_MOUSE;
  input[0].mi.dwFlags = down;
  input[1].mi.dwFlags = up;
  SendInput(2, input, sizeof(INPUT));
}

TEST(BrowserMouseFilter, SwallowsOnlyTheRightReleaseWhileTheDocumentWindowHasTheFocus) {
  std::unique_ptr<MouseHookPlatform> platform = createWin32MouseHookPlatform();
  services().mouse = platform.get();

  HWND top = loggingWindow(L"ZandrelTestTop", nullptr, 100, 100);
  HWND page = loggingWindow(L"Internet Explorer_Server", top, 0, 0);
  HWND other = loggingWindow(L"ZandrelTestOther", nullptr, 400, 100);
  ASSERT_TRUE(top && page && other);
  InstallBrowserMouseFilter(reinterpret_cast<WindowHandle>(page));
  ASSERT_NE(CurrentMouseFilter().hook, 0u);
  EXPECT_EQ(CurrentMouseFilter().thread, GetCurrentThreadId());
  EXPECT_EQ(CurrentMouseFilter().process, GetCurrentProcessId());

  SetForegroundWindow(top);
  SetFocus(page);
  EXPECT_EQ(focusClass(), L"Internet Explorer_Server");
  click(page, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP);
  click(page, MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP);
  EXPECT_TRUE(test::pumpUntil([] { return mouseLog.rightDown.load() == 1; }, 3000));
  test::pumpUntil([] { return false; }, 200);
  EXPECT_EQ(mouseLog.leftDown, 1);
  EXPECT_EQ(mouseLog.leftUp, 1);
  EXPECT_EQ(mouseLog.rightUp, 0);  // swallowed: the page never opens its menu

  // The focus elsewhere: the release gets through, even over the page.
  SetForegroundWindow(other);
  SetFocus(other);
  EXPECT_EQ(focusClass(), L"ZandrelTestOther");
  click(page, MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP);
  EXPECT_TRUE(test::pumpUntil([] { return mouseLog.rightUp.load() == 1; }, 3000));
  EXPECT_EQ(mouseLog.rightDown, 2);

  DestroyWindow(other);
  DestroyWindow(top);
  services().mouse = nullptr;
}

}  // namespace
}  // namespace zandrel
