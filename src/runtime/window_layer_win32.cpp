#include <windows.h>

#include <commctrl.h>
#include <ole2.h>

#include "runtime/browser_mode_win32.h"
#include "runtime/window_layer_impl_win32.h"
#include "runtime/window_placement.h"

namespace zandrel {
namespace win32_layer {
namespace {

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

}  // namespace

Win32WindowLayer::~Win32WindowLayer() {
  abandoning_ = true;  // no loop runs any more: leave no quit message
  if (HWND main = main_.load()) DestroyWindow(main);
  if (oleInitialised_) OleUninitialize();
}

bool Win32WindowLayer::initialise() {
  uiThread_ = GetCurrentThreadId();
  // A sent notification reaches the UI thread wherever sent messages do (its
  // loop, a modal box, a COM wait), as SendMessage did, but leaves the caller
  // free to give up at its deadline.
  ui_.bindToCurrentThread([this] {
    HWND main = main_.load();
    if (!main) return false;
    return (GetCurrentThreadId() == uiThread_
                ? PostMessageW(main, kInvokeMessage, 0, 0)
                : SendNotifyMessageW(main, kInvokeMessage, 0, 0)) != FALSE;
  });
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

bool Win32WindowLayer::loadWindow(const WindowDesign& design) {
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
    // In the work area (less the taskbar) of the monitor under the cursor,
    // caption on screen even when the window is taller than that.
    POINT cursor{};
    GetCursorPos(&cursor);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    ScreenRect area{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (GetMonitorInfoW(MonitorFromPoint(cursor, MONITOR_DEFAULTTOPRIMARY), &info)) {
      area = {info.rcWork.left, info.rcWork.top, info.rcWork.right - info.rcWork.left,
              info.rcWork.bottom - info.rcWork.top};
    }
    const ScreenPoint corner = centredInWorkArea(area, design.width, design.height);
    left = corner.x;
    top = corner.y;
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

Control* Win32WindowLayer::find(std::string_view name) {
  for (auto& c : controls_) {
    if (c->name == name) return c.get();
  }
  return nullptr;
}

HWND Win32WindowLayer::windowOf(std::string_view name) {
  if (name == design_.name) return main_.load();
  Control* c = find(name);
  return c ? c->hwnd : nullptr;
}

HMENU Win32WindowLayer::buildMenu(const WindowDesign& design) {
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

bool Win32WindowLayer::createControl(const ControlDesign& c) {
  HWND parent = windowOf(c.parent);
  if (!parent) return false;
  auto control = std::make_unique<Control>();
  control->name = c.name;
  control->kind = c.kind;
  HINSTANCE instance = GetModuleHandleW(nullptr);
  const DWORD child = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
  switch (c.kind) {
    case ControlKind::PicBox:
      control->hwnd = CreateWindowExW(0, kPicBoxClass, L"", child | WS_CLIPCHILDREN, c.left, c.top,
                                      c.width, c.height, parent, nullptr, instance, nullptr);
      break;
    case ControlKind::HtmlViewer:
      control->hwnd = CreateWindowExW(0, kBrowserClass, L"", child | WS_CLIPCHILDREN, c.left, c.top,
                                      c.width, c.height, parent, nullptr, instance, nullptr);
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

void Win32WindowLayer::navigated(Control& control, const std::string& url) {
  const EventBinding* b = design_.binding(control.name, EventKind::Navigated);
  if (!b || !b->handler) return;
  // Nested navigations inside the handler see their own address.
  std::optional<std::string> outer = std::exchange(control.navigatedUrl, url);
  b->handler();
  control.navigatedUrl = std::move(outer);
}

void Win32WindowLayer::menuSelected(UINT id) {
  if (id < kFirstMenuId || id - kFirstMenuId >= menuItems_.size()) return;
  const std::string item = menuItems_[id - kFirstMenuId];
  if (const EventBinding* b = design_.binding(item, EventKind::MenuSelected); b && b->handler) {
    b->handler();
  }
}

void Win32WindowLayer::labelNotification(HWND label, WPARAM wParam, LPARAM lParam) {
  for (auto& c : controls_) {
    if (c->hwnd != label) continue;
    const EventBinding* b = design_.binding(c->name, EventKind::Notification);
    if (b && b->notify) b->notify(wParam, lParam);
    return;
  }
}

LRESULT CALLBACK Win32WindowLayer::mainProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
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
      self->ui_.drain();
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

LRESULT CALLBACK Win32WindowLayer::browserProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_SIZE) {
    auto* c = reinterpret_cast<Control*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (c && c->browser) c->browser->fitToHost();
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

LRESULT CALLBACK Win32WindowLayer::labelProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam,
                                             UINT_PTR, DWORD_PTR data) {
  if (msg == kSpeechNotification) {
    reinterpret_cast<Win32WindowLayer*>(data)->labelNotification(hwnd, wParam, lParam);
    return 0;
  }
  if (msg == WM_NCDESTROY)
    RemoveWindowSubclass(hwnd, &Win32WindowLayer::labelProc, kLabelSubclassId);
  return DefSubclassProc(hwnd, msg, wParam, lParam);
}

}  // namespace win32_layer

std::unique_ptr<WindowLayer> createWin32WindowLayer() {
  return std::make_unique<win32_layer::Win32WindowLayer>();
}

}  // namespace zandrel
