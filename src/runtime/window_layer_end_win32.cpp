#include "runtime/window_layer_impl_win32.h"

namespace zandrel::win32_layer {

void Win32WindowLayer::registerExitRoutine(Procedure routine) {
  end_.addRoutine(routine);
}

int Win32WindowLayer::messageLoop() {
  if (HWND main = main_.load()) {
    ShowWindow(main, SW_SHOWNORMAL);
    UpdateWindow(main);
    MSG msg;
    BOOL got;
    while ((got = GetMessageW(&msg, nullptr, 0, 0)) > 0) {
      if (translateBrowserAccelerator(msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (got == 0) end_.request(static_cast<int>(msg.wParam));
  }
  ui_.close();
  end_.runRoutines();
  return end_.exitCode();
}

void Win32WindowLayer::endProgram(int exitCode) {
  if (!end_.request(exitCode)) return;
  HWND main = main_.load();
  if (GetCurrentThreadId() == uiThread_) {
    // WM_DESTROY posts the quit message with the stored code.
    if (main) {
      DestroyWindow(main);
    } else {
      end_.runRoutines();
      PostQuitMessage(exitCode);
    }
    return;
  }
  if (!main || !PostMessageW(main, kEndMessage, 0, 0)) {
    PostThreadMessageW(uiThread_, WM_QUIT, static_cast<WPARAM>(exitCode), 0);
  }
}

void Win32WindowLayer::processWaitingMessages() {
  win32::dispatchWaitingMessages();
}

bool Win32WindowLayer::translateBrowserAccelerator(MSG& msg) {
  for (auto& c : controls_) {
    if (c->browser && c->browser->translateAccelerator(msg)) return true;
  }
  return false;
}

void Win32WindowLayer::destroying() {
  // The controls go before their windows do: no browser callback may
  // reach a half-destroyed window.
  for (auto& c : controls_) {
    if (c->browser) c->browser->close();
  }
  if (abandoning_) return;
  ui_.close();
  end_.request(0);  // the close box; an earlier request's code stands
  PostQuitMessage(end_.exitCode());
}

void Win32WindowLayer::destroyed() {
  main_.store(nullptr);
  for (auto& c : controls_) c->hwnd = nullptr;
}

}  // namespace zandrel::win32_layer
