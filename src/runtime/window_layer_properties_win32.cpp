#include "runtime/window_layer_impl_win32.h"

namespace zandrel::win32_layer {
namespace {

std::string windowText(HWND window) {
  if (!window) return {};
  const int length = GetWindowTextLengthW(window);
  if (length <= 0) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int got = GetWindowTextW(window, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
  return narrow(text);
}

}  // namespace

WindowHandle Win32WindowLayer::windowHandle(std::string_view control) {
  WindowHandle result = 0;
  ui_.invoke([&] { result = reinterpret_cast<WindowHandle>(windowOf(control)); });
  return result;
}

int Win32WindowLayer::height(std::string_view name) {
  int result = 0;
  ui_.invoke([&] {
    RECT rc;
    if (HWND w = windowOf(name); w && GetWindowRect(w, &rc)) result = rc.bottom - rc.top;
  });
  return result;
}

void Win32WindowLayer::setHeight(std::string_view name, int value) {
  ui_.invoke([&] {
    HWND w = windowOf(name);
    RECT rc;
    if (!w || !GetWindowRect(w, &rc)) return;
    SetWindowPos(w, nullptr, 0, 0, rc.right - rc.left, value,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  });
}

std::string Win32WindowLayer::url(std::string_view control) {
  std::string result;
  ui_.invoke([&] {
    Control* c = find(control);
    if (!c || !c->browser) return;
    result = c->navigatedUrl ? *c->navigatedUrl : c->browser->locationUrl();
  });
  return result;
}

void Win32WindowLayer::setUrl(std::string_view control, std::string_view address) {
  ui_.invoke([&] {
    if (Control* c = find(control); c && c->browser) c->browser->navigate(address);
  });
}

std::string Win32WindowLayer::caption(std::string_view control) {
  std::string result;
  ui_.invoke([&] { result = windowText(windowOf(control)); });
  return result;
}

void Win32WindowLayer::setCaption(std::string_view control, std::string_view text) {
  ui_.invoke([&] {
    if (HWND w = windowOf(control)) SetWindowTextW(w, widen(text).c_str());
  });
}

void Win32WindowLayer::postNotification(WindowHandle target, unsigned message,
                                        std::uintptr_t wParam, std::intptr_t lParam) {
  if (target) PostMessageW(reinterpret_cast<HWND>(target), message, wParam, lParam);
}

}  // namespace zandrel::win32_layer
