#include "runtime/window_layer_win32.h"

#include <windows.h>

#include <commctrl.h>
#include <ole2.h>

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "runtime/browser_host_win32.h"
#include "runtime/support_win32.h"

namespace zandrel {
namespace {

using win32::BrowserHost;
using win32::narrow;
using win32::widen;

constexpr wchar_t kPicBoxClass[] = L"ZandrelPicBox";
constexpr wchar_t kBrowserClass[] = L"ZandrelHtmlViewer";

// Private messages of the main window. kInvokeMessage runs a function on the
// UI thread for a caller on another thread (lParam: std::function<void()>*);
// kEndMessage ends the program from another thread.
constexpr UINT kInvokeMessage = WM_APP + 0x100;
constexpr UINT kEndMessage = WM_APP + 0x101;
constexpr UINT kFirstMenuId = 1001;
constexpr UINT_PTR kLabelSubclassId = 0x7A4C;

std::string windowText(HWND window) {
  if (!window) return {};
  const int length = GetWindowTextLengthW(window);
  if (length <= 0) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int got = GetWindowTextW(window, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
  return narrow(text);
}

// The icon group the program's resource script gives the number 1.
constexpr WORD kProgramIcon = 1;

// The program's icon drawn at one size. Not a shared icon: the system's cache
// of shared icons keys on the name alone and would hand out the first size
// loaded for both.
HICON programIcon(int widthMetric, int heightMetric) {
  if (HANDLE icon = LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kProgramIcon),
                               IMAGE_ICON, GetSystemMetrics(widthMetric),
                               GetSystemMetrics(heightMetric), LR_DEFAULTCOLOR)) {
    return static_cast<HICON>(icon);
  }
  return LoadIconW(nullptr, IDI_APPLICATION);  // a program that carries no icon
}

// The program's icon in the taskbar and Alt+Tab (big) and in the caption
// (small), each drawn from the size made for it. Loaded once; the window
// class and the window keep them for the life of the process.
struct ProgramIcons {
  HICON taskbar;
  HICON caption;
};
const ProgramIcons& programIcons() {
  static const ProgramIcons icons{programIcon(SM_CXICON, SM_CYICON),
                                  programIcon(SM_CXSMICON, SM_CYSMICON)};
  return icons;
}

class Win32WindowLayer final : public WindowLayer {
 public:
  Win32WindowLayer() = default;
  Win32WindowLayer(const Win32WindowLayer&) = delete;
  Win32WindowLayer& operator=(const Win32WindowLayer&) = delete;
  ~Win32WindowLayer() override {
    abandoning_ = true;  // no loop runs any more: leave no quit message
    if (HWND main = main_.load()) DestroyWindow(main);
    if (oleInitialised_) OleUninitialize();
  }

  bool initialise() override {
    uiThread_ = GetCurrentThreadId();
    // Before any browser exists: the engine reads its document mode setting
    // when the first control is created. A failure leaves the old mode.
    win32::preferCurrentDocumentMode();
    // The WebBrowser control needs OLE (in-place activation, drag and drop,
    // clipboard) on the thread that owns it.
    oleInitialised_ = SUCCEEDED(OleInitialize(nullptr));
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);

    wc.lpfnWndProc = &Win32WindowLayer::mainProc;
    wc.lpszClassName = kMainWindowClass;
    wc.hIcon = programIcons().taskbar;
    wc.hIconSm = programIcons().caption;
    bool ok = RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;

    wc.hIcon = nullptr;
    wc.hIconSm = nullptr;
    wc.lpfnWndProc = &DefWindowProcW;
    wc.lpszClassName = kPicBoxClass;
    ok = (RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS) && ok;

    wc.lpfnWndProc = &Win32WindowLayer::browserProc;
    wc.lpszClassName = kBrowserClass;
    ok = (RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS) && ok;
    return ok;
  }

  void registerExitRoutine(Procedure routine) override { end_.addRoutine(routine); }

  bool loadWindow(const WindowDesign& design) override {
    if (main_.load()) return false;  // one main window per layer
    design_ = design;
    HINSTANCE instance = GetModuleHandleW(nullptr);

    DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    if (design.minimizeBox) style |= WS_MINIMIZEBOX;
    if (design.maximizeBox) style |= WS_MAXIMIZEBOX;
    if (design.resizable) style |= WS_THICKFRAME;
    int left = CW_USEDEFAULT;
    int top = CW_USEDEFAULT;
    if (design.centred) {
      left = (GetSystemMetrics(SM_CXSCREEN) - design.width) / 2;
      top = (GetSystemMetrics(SM_CYSCREEN) - design.height) / 2;
    }
    HMENU menu = buildMenu(design);
    // The outer size is the design's as given: frame, caption and menu bar
    // are inside it, the client area gets what is left.
    HWND main =
        CreateWindowExW(WS_EX_APPWINDOW, kMainWindowClass, widen(design.caption).c_str(), style, left,
                        top, design.width, design.height, nullptr, menu, instance, this);
    if (!main) {
      if (menu) DestroyMenu(menu);
      return false;
    }
    main_.store(main);
    // The window's own icons too: the taskbar asks the window before its class.
    SendMessageW(main, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(programIcons().taskbar));
    SendMessageW(main, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(programIcons().caption));

    for (const ControlDesign& c : design.controls) {
      if (!createControl(c)) {
        // A window that never ran ends nothing: no quit message is left for
        // the caller's own message box or loop.
        abandoning_ = true;
        DestroyWindow(main);
        abandoning_ = false;
        controls_.clear();
        return false;
      }
    }
    if (const EventBinding* b = design.binding(design.name, EventKind::CreationComplete)) {
      if (b->handler) b->handler();
    }
    return true;
  }

  int messageLoop() override {
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
    end_.runRoutines();
    return end_.exitCode();
  }

  void endProgram(int exitCode) override {
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

  WindowHandle windowHandle(std::string_view control) override {
    WindowHandle result = 0;
    onUiThread([&] { result = reinterpret_cast<WindowHandle>(windowOf(control)); });
    return result;
  }

  void processWaitingMessages() override { win32::dispatchWaitingMessages(); }

  int messageBox(std::string_view text, int style, std::optional<std::string> caption,
                 WindowHandle owner) override {
    const std::string title = caption ? *caption : std::string(kDefaultBoxCaption);
    UINT flags = static_cast<UINT>(style);
    // Without an owner the box disables the calling thread's own windows
    // only: a reading thread's box leaves the main window usable, while a box
    // of the UI thread blocks it.
    if (!owner && (flags & MB_SYSTEMMODAL) == 0) flags |= MB_TASKMODAL;
    const int result = MessageBoxW(reinterpret_cast<HWND>(owner), widen(text).c_str(),
                                   widen(title).c_str(), flags);
    // IDOK (1) .. IDNO (7) become 0 (OK) .. 6 (No); a failed box counts as OK.
    return result >= IDOK && result <= IDNO ? result - IDOK : kBoxOk;
  }

  int height(std::string_view name) override {
    int result = 0;
    onUiThread([&] {
      RECT rc;
      if (HWND w = windowOf(name); w && GetWindowRect(w, &rc)) result = rc.bottom - rc.top;
    });
    return result;
  }

  void setHeight(std::string_view name, int value) override {
    onUiThread([&] {
      HWND w = windowOf(name);
      RECT rc;
      if (!w || !GetWindowRect(w, &rc)) return;
      SetWindowPos(w, nullptr, 0, 0, rc.right - rc.left, value,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    });
  }

  std::string url(std::string_view control) override {
    std::string result;
    onUiThread([&] {
      Control* c = find(control);
      if (!c || !c->browser) return;
      result = c->navigatedUrl ? *c->navigatedUrl : c->browser->locationUrl();
    });
    return result;
  }

  void setUrl(std::string_view control, std::string_view address) override {
    onUiThread([&] {
      if (Control* c = find(control); c && c->browser) c->browser->navigate(address);
    });
  }

  std::string caption(std::string_view control) override {
    std::string result;
    onUiThread([&] { result = windowText(windowOf(control)); });
    return result;
  }

  void setCaption(std::string_view control, std::string_view text) override {
    onUiThread([&] {
      if (HWND w = windowOf(control)) SetWindowTextW(w, widen(text).c_str());
    });
  }

  void postNotification(WindowHandle target, unsigned message, std::uintptr_t wParam,
                        std::intptr_t lParam) override {
    if (target) PostMessageW(reinterpret_cast<HWND>(target), message, wParam, lParam);
  }

 private:
  struct Control {
    std::string name;
    ControlKind kind = ControlKind::PicBox;
    HWND hwnd = nullptr;
    std::unique_ptr<BrowserHost> browser;
    // Inside 跳转完毕: the address of that navigation.
    std::optional<std::string> navigatedUrl;
  };

  // Runs `task` on the UI thread: directly there, by a sent message from any
  // other thread. From another thread nothing runs once the window is gone.
  template <class F>
  void onUiThread(F&& task) {
    if (GetCurrentThreadId() == uiThread_) {
      task();
      return;
    }
    HWND main = main_.load();
    if (!main) return;
    std::function<void()> call(std::forward<F>(task));
    SendMessageW(main, kInvokeMessage, 0, reinterpret_cast<LPARAM>(&call));
  }

  Control* find(std::string_view name) {
    for (auto& c : controls_) {
      if (c->name == name) return c.get();
    }
    return nullptr;
  }

  HWND windowOf(std::string_view name) {
    if (name == design_.name) return main_.load();
    Control* c = find(name);
    return c ? c->hwnd : nullptr;
  }

  HMENU buildMenu(const WindowDesign& design) {
    if (design.menus.empty()) return nullptr;
    HMENU bar = CreateMenu();
    if (!bar) return nullptr;
    menuItems_.clear();
    for (const MenuDesign& m : design.menus) {
      HMENU popup = CreatePopupMenu();
      if (!popup) continue;
      for (const std::string& item : m.items) {
        const UINT id = kFirstMenuId + static_cast<UINT>(menuItems_.size());
        menuItems_.push_back(item);
        AppendMenuW(popup, MF_STRING, id, widen(item).c_str());
      }
      // The bar owns the popup from here on and destroys it with itself.
      AppendMenuW(bar, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(popup),
                  widen(m.caption).c_str());
    }
    return bar;
  }

  bool createControl(const ControlDesign& c) {
    HWND parent = windowOf(c.parent);
    if (!parent) return false;
    auto control = std::make_unique<Control>();
    control->name = c.name;
    control->kind = c.kind;
    HINSTANCE instance = GetModuleHandleW(nullptr);
    const DWORD child = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
    switch (c.kind) {
      case ControlKind::PicBox:
        control->hwnd =
            CreateWindowExW(0, kPicBoxClass, L"", child | WS_CLIPCHILDREN, c.left, c.top, c.width,
                            c.height, parent, nullptr, instance, nullptr);
        break;
      case ControlKind::HtmlViewer:
        control->hwnd =
            CreateWindowExW(0, kBrowserClass, L"", child | WS_CLIPCHILDREN, c.left, c.top, c.width,
                            c.height, parent, nullptr, instance, nullptr);
        break;
      case ControlKind::Label:
      case ControlKind::TransLabel:
        control->hwnd = CreateWindowExW(0, L"STATIC", L"", child | SS_LEFT, c.left, c.top, c.width,
                                        c.height, parent, nullptr, instance, nullptr);
        break;
    }
    if (!control->hwnd) return false;
    Control* raw = control.get();
    controls_.push_back(std::move(control));

    if (c.kind == ControlKind::Label || c.kind == ControlKind::TransLabel) {
      SetWindowSubclass(raw->hwnd, &Win32WindowLayer::labelProc, kLabelSubclassId,
                        reinterpret_cast<DWORD_PTR>(this));
    } else if (c.kind == ControlKind::HtmlViewer) {
      SetWindowLongPtrW(raw->hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(raw));
      raw->browser = std::make_unique<BrowserHost>(
          raw->hwnd, [this, raw](const std::string& url) { navigated(*raw, url); });
      // Without the control the window still works; the browser's operations
      // then do nothing and read empty.
      if (raw->browser->ok()) {
        raw->browser->setSilent(c.silent);
        raw->browser->setOffline(c.offline);
        // FontSize 2 (中等) is the control's own default zoom: nothing to set.
        if (!c.url.empty()) raw->browser->navigate(c.url);
      }
    }
    return true;
  }

  void navigated(Control& control, const std::string& url) {
    const EventBinding* b = design_.binding(control.name, EventKind::Navigated);
    if (!b || !b->handler) return;
    // Nested navigations inside the handler see their own address.
    std::optional<std::string> outer = std::exchange(control.navigatedUrl, url);
    b->handler();
    control.navigatedUrl = std::move(outer);
  }

  bool translateBrowserAccelerator(MSG& msg) {
    for (auto& c : controls_) {
      if (c->browser && c->browser->translateAccelerator(msg)) return true;
    }
    return false;
  }

  void menuSelected(UINT id) {
    if (id < kFirstMenuId || id - kFirstMenuId >= menuItems_.size()) return;
    const std::string item = menuItems_[id - kFirstMenuId];
    if (const EventBinding* b = design_.binding(item, EventKind::MenuSelected); b && b->handler) {
      b->handler();
    }
  }

  void labelNotification(HWND label, WPARAM wParam, LPARAM lParam) {
    for (auto& c : controls_) {
      if (c->hwnd != label) continue;
      const EventBinding* b = design_.binding(c->name, EventKind::Notification);
      if (b && b->notify) b->notify(wParam, lParam);
      return;
    }
  }

  void destroying() {
    // The controls go before their windows do: no browser callback may
    // reach a half-destroyed window.
    for (auto& c : controls_) {
      if (c->browser) c->browser->close();
    }
    if (abandoning_) return;
    end_.request(0);  // the close box; an earlier request's code stands
    PostQuitMessage(end_.exitCode());
  }

  void destroyed() {
    main_.store(nullptr);
    for (auto& c : controls_) c->hwnd = nullptr;
  }

  static LRESULT CALLBACK mainProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
      auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<Win32WindowLayer*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcW(hwnd, msg, wParam, lParam);
    switch (msg) {
      case WM_COMMAND:
        if (lParam == 0 && HIWORD(wParam) == 0) self->menuSelected(LOWORD(wParam));
        return 0;
      case kInvokeMessage:
        (*reinterpret_cast<std::function<void()>*>(lParam))();
        return 1;
      case kEndMessage:
        DestroyWindow(hwnd);
        return 0;
      case WM_DESTROY:
        self->destroying();
        return 0;
      case WM_NCDESTROY:
        self->destroyed();
        break;
      default:
        break;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
  }

  static LRESULT CALLBACK browserProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_SIZE) {
      auto* c = reinterpret_cast<Control*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
      if (c && c->browser) c->browser->fitToHost();
      return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
  }

  static LRESULT CALLBACK labelProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                    DWORD_PTR data) {
    if (msg == kSpeechNotification) {
      reinterpret_cast<Win32WindowLayer*>(data)->labelNotification(hwnd, wParam, lParam);
      return 0;
    }
    if (msg == WM_NCDESTROY)
      RemoveWindowSubclass(hwnd, &Win32WindowLayer::labelProc, kLabelSubclassId);
    return DefSubclassProc(hwnd, msg, wParam, lParam);
  }

  DWORD uiThread_ = 0;
  bool oleInitialised_ = false;
  WindowDesign design_;
  std::atomic<HWND> main_{nullptr};
  std::vector<std::unique_ptr<Control>> controls_;
  std::vector<std::string> menuItems_;  // index: menu id - kFirstMenuId
  ProgramEnd end_;
  bool abandoning_ = false;
};

}  // namespace

std::unique_ptr<WindowLayer> createWin32WindowLayer() {
  return std::make_unique<Win32WindowLayer>();
}

}  // namespace zandrel
