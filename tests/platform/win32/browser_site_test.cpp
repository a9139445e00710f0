// The browser's client site as the engine sees it: each question is asked the
// way MSHTML and the WebBrowser control ask it (QueryInterface on the client
// site, then the call, events through IDispatch::Invoke with the control's
// argument layout), and the answer must keep every window, menu and dialog of
// the engine's own from appearing.

#include <gtest/gtest.h>

#include <docobj.h>
#include <exdispid.h>
#include <mshtmhst.h>
#include <shobjidl.h>

#include <string>
#include <vector>

#include "runtime/browser_host_win32.h"
#include "runtime/browser_site_win32.h"
#include "win32_test_support.h"

namespace zandrel {
namespace {

using test::ComPtr;

constexpr GUID kDocHostCommandHandler = {
    0xf38bc242, 0xb950, 0x11d1, {0x89, 0x18, 0x00, 0xc0, 0x4f, 0xc2, 0xc8, 0x36}};

// Visible top-level windows of this process: what a user would see appear.
int visibleWindows() {
  int count = 0;
  EnumWindows(
      [](HWND w, LPARAM n) -> BOOL {
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (pid == GetCurrentProcessId() && IsWindowVisible(w)) ++*reinterpret_cast<int*>(n);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&count));
  return count;
}

class BrowserSiteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(apartment_.ok());
    test::registerPlainClass(L"ZandrelTestHost");
    host_ = std::make_unique<test::PlainWindow>(L"ZandrelTestHost", nullptr);
    win32::BrowserSiteEvents events;
    events.navigated = [this](const std::string& url) { navigated_.push_back(url); };
    events.openInView = [this](const std::string& url) { opened_.push_back(url); };
    events.unreachable = [this](const std::string& url) { unreachable_.push_back(url); };
    events.isPage = [this](IDispatch* frame) { return frame == page_.get(); };
    events.editableFocus = [this] { return editableFocus_; };
    site_ = win32::BrowserSite::create(host_->hwnd(), std::move(events))
                .query<IOleClientSite>(IID_IOleClientSite);
    ASSERT_TRUE(site_);
    // Any two objects of their own identity stand for the browser and a frame.
    page_ = win32::BrowserSite::create(nullptr, {}).query<IDispatch>(IID_IDispatch);
    frame_ = win32::BrowserSite::create(nullptr, {}).query<IDispatch>(IID_IDispatch);
  }

  template <class T>
  ComPtr<T> ask() {
    return site_.query<T>();
  }

  // Raises an event on the sink as the control does: through the connection
  // point's IDispatch, arguments last first.
  void raise(DISPID id, std::vector<VARIANT> lastFirst) {
    ComPtr<IDispatch> sink = site_.query<IDispatch>(DIID_DWebBrowserEvents2);
    ASSERT_TRUE(sink);
    DISPPARAMS params{lastFirst.data(), nullptr, static_cast<UINT>(lastFirst.size()), 0};
    EXPECT_EQ(sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                           nullptr, nullptr),
              S_OK);
  }
  static VARIANT text(const win32::Bstr& s) {
    VARIANT v;
    v.vt = VT_BSTR;
    v.bstrVal = s.get();
    return v;
  }
  static VARIANT byRef(VARIANT* inner) {
    VARIANT v;
    v.vt = VT_BYREF | VT_VARIANT;
    v.pvarVal = inner;
    return v;
  }
  static VARIANT flag(VARIANT_BOOL* b) {
    VARIANT v;
    v.vt = VT_BYREF | VT_BOOL;
    v.pboolVal = b;
    return v;
  }
  static VARIANT number(LONG n, VARTYPE type = VT_I4) {
    VARIANT v;
    v.vt = type;
    v.lVal = n;
    return v;
  }
  static VARIANT object(IDispatch* d) {
    VARIANT v;
    v.vt = VT_DISPATCH;
    v.pdispVal = d;
    return v;
  }

  // NewWindow3(ppDisp, Cancel, dwFlags, bstrUrlContext, bstrUrl); true when
  // the engine was told not to open its window.
  bool newWindow(DWORD flags, const char* url) {
    IDispatch* newBrowser = nullptr;
    VARIANT_BOOL cancel = VARIANT_FALSE;
    win32::Bstr target(url);
    win32::Bstr context("http://127.0.0.1:47101/kaoshi/");
    VARIANT out;
    out.vt = VT_BYREF | VT_DISPATCH;
    out.ppdispVal = &newBrowser;
    raise(DISPID_NEWWINDOW3, {text(target), text(context), number(static_cast<LONG>(flags), VT_UI4),
                              flag(&cancel), out});
    EXPECT_EQ(newBrowser, nullptr);
    return cancel == VARIANT_TRUE;
  }

  // NavigateError(pDisp, URL, TargetFrameName, StatusCode, Cancel); true when
  // the engine was told not to show its own error page.
  bool navigateError(IDispatch* where, const char* url) {
    win32::Bstr address(url);
    win32::Bstr frameName("");
    VARIANT urlValue = text(address);
    VARIANT frameValue = text(frameName);
    VARIANT status = number(static_cast<LONG>(0x800C0005));  // INET_E_RESOURCE_NOT_FOUND
    VARIANT_BOOL cancel = VARIANT_FALSE;
    raise(DISPID_NAVIGATEERROR,
          {flag(&cancel), byRef(&status), byRef(&frameValue), byRef(&urlValue), object(where)});
    return cancel == VARIANT_TRUE;
  }

  test::ComApartment apartment_;
  std::unique_ptr<test::PlainWindow> host_;
  ComPtr<IOleClientSite> site_;
  ComPtr<IDispatch> page_, frame_;
  std::vector<std::string> navigated_, opened_, unreachable_;
  bool editableFocus_ = false;
};

TEST_F(BrowserSiteTest, TheDocumentHostShowsNoBorderMenuHelpOrDialog) {
  const int windowsBefore = visibleWindows();

  ComPtr<IDocHostUIHandler> ui = ask<IDocHostUIHandler>();
  ASSERT_TRUE(ui) << "the client site offers no IDocHostUIHandler";
  DOCHOSTUIINFO info{};
  info.cbSize = sizeof(info);
  ASSERT_EQ(ui->GetHostInfo(&info), S_OK);
  EXPECT_TRUE(info.dwFlags & DOCHOSTUIFLAG_NO3DBORDER);
  EXPECT_TRUE(info.dwFlags & DOCHOSTUIFLAG_NO3DOUTERBORDER);
  // S_OK: the host has shown the menu (none), so the engine shows none either,
  // for a right click at a point as for Shift+F10 or the Menu key.
  POINT at{600, 400};
  for (const DWORD menu : {CONTEXT_MENU_DEFAULT, CONTEXT_MENU_CONTROL, CONTEXT_MENU_TEXTSELECT,
                           CONTEXT_MENU_ANCHOR, CONTEXT_MENU_IMAGE}) {
    EXPECT_EQ(ui->ShowContextMenu(menu, &at, nullptr, nullptr), S_OK) << menu;
  }

  ComPtr<IDocHostShowUI> show = ask<IDocHostShowUI>();
  ASSERT_TRUE(show) << "the client site offers no IDocHostShowUI";
  // F1 in the page: help is the host's, and it shows none.
  EXPECT_EQ(show->ShowHelp(host_->hwnd(), nullptr, HELP_CONTEXT, 0, at, nullptr), S_OK);
  // alert() and confirm(): answered silently; confirm() gives false.
  wchar_t message[] = L"确定交卷吗？";
  wchar_t caption[] = L"来自网页的消息";
  LRESULT answer = -1;
  EXPECT_EQ(show->ShowMessage(host_->hwnd(), message, caption, MB_OK | MB_ICONWARNING, nullptr, 0,
                              &answer),
            S_OK);
  EXPECT_EQ(answer, IDOK);
  EXPECT_EQ(show->ShowMessage(host_->hwnd(), message, caption, MB_OKCANCEL | MB_ICONQUESTION,
                              nullptr, 0, &answer),
            S_OK);
  EXPECT_EQ(answer, IDCANCEL);

  ComPtr<IOleCommandTarget> commands = ask<IOleCommandTarget>();
  ASSERT_TRUE(commands) << "the client site offers no IOleCommandTarget";
  // A script error: handled without a dialog, and the page's scripts go on.
  VARIANT keepRunning;
  VariantInit(&keepRunning);
  EXPECT_EQ(
      commands->Exec(&kDocHostCommandHandler, OLECMDID_SHOWSCRIPTERROR, 0, nullptr, &keepRunning),
      S_OK);
  EXPECT_EQ(keepRunning.vt, VT_BOOL);
  EXPECT_EQ(keepRunning.boolVal, VARIANT_TRUE);
  // Other commands keep the engine's own handling.
  EXPECT_NE(commands->Exec(&kDocHostCommandHandler, OLECMDID_SHOWMESSAGE, 0, nullptr, nullptr),
            S_OK);

  test::pumpUntil([] { return false; }, 200);
  EXPECT_EQ(visibleWindows(), windowsBefore);
}

TEST_F(BrowserSiteTest, ANewWindowOpensInTheViewOnlyWhenTheUserAskedForIt) {
  // A click on a link with target="_blank", and a Shift+click.
  EXPECT_TRUE(newWindow(NWMF_USERINITED | NWMF_FIRST, "http://127.0.0.1:47104/score/"));
  EXPECT_TRUE(newWindow(NWMF_USERREQUESTED, "http://127.0.0.1:47101/kaoshi/?b"));
  // window.open from a timer or on load; a help window; an HTML dialog.
  EXPECT_TRUE(newWindow(0, "http://ads.example/popup"));
  EXPECT_TRUE(newWindow(NWMF_USERINITED | NWMF_SHOWHELP, "http://127.0.0.1:47101/help"));
  EXPECT_TRUE(newWindow(NWMF_USERINITED | NWMF_HTMLDIALOG, "http://127.0.0.1:47101/dialog"));
  EXPECT_EQ(opened_, (std::vector<std::string>{"http://127.0.0.1:47104/score/",
                                               "http://127.0.0.1:47101/kaoshi/?b"}));
}

TEST_F(BrowserSiteTest, AnUnreachablePageIsTakenOverButAFailingFrameIsLeftAlone) {
  EXPECT_TRUE(navigateError(page_.get(), "http://127.0.0.1:47104/kaoshi/"));
  EXPECT_FALSE(navigateError(frame_.get(), "http://127.0.0.1:47104/frame.html"));
  EXPECT_FALSE(navigateError(nullptr, "http://127.0.0.1:47104/none.html"));
  EXPECT_EQ(unreachable_, std::vector<std::string>{"http://127.0.0.1:47104/kaoshi/"});

  // Navigations of the page and of its frames are all reported.
  win32::Bstr page("http://127.0.0.1:47101/kaoshi/");
  VARIANT pageUrl = text(page);
  raise(DISPID_NAVIGATECOMPLETE2, {byRef(&pageUrl), object(page_.get())});
  win32::Bstr frame("about:blank");
  VARIANT frameUrl = text(frame);
  raise(DISPID_NAVIGATECOMPLETE2, {byRef(&frameUrl), object(frame_.get())});
  EXPECT_EQ(navigated_,
            (std::vector<std::string>{"http://127.0.0.1:47101/kaoshi/", "about:blank"}));
}

// A key as the engine hands it to its host: the message the loop took, with
// this thread's key state for the modifiers.
struct Key {
  const char* name;
  UINT vk;
  bool ctrl = false;
  bool shift = false;
  bool alt = false;
};

// The engine's group of accelerator calls.
constexpr GUID kCgidMshtml = {
    0xde4ba900, 0x59ca, 0x11cf, {0x95, 0x92, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

HRESULT translate(IDocHostUIHandler& ui, HWND window, const Key& key) {
  BYTE state[256] = {};
  if (key.ctrl) state[VK_CONTROL] = state[VK_LCONTROL] = 0x80;
  if (key.shift) state[VK_SHIFT] = state[VK_LSHIFT] = 0x80;
  if (key.alt) state[VK_MENU] = state[VK_LMENU] = 0x80;
  SetKeyboardState(state);
  MSG msg{};
  msg.hwnd = window;
  // Alt turns a key into a system key, with the context bit set.
  msg.message = key.alt ? WM_SYSKEYDOWN : WM_KEYDOWN;
  msg.wParam = key.vk;
  msg.lParam = 1 | (static_cast<LPARAM>(MapVirtualKeyW(key.vk, MAPVK_VK_TO_VSC)) << 16) |
               (key.alt ? (1 << 29) : 0);
  const HRESULT result = ui.TranslateAccelerator(&msg, &kCgidMshtml, 0);
  BYTE none[256] = {};
  SetKeyboardState(none);
  return result;
}

TEST_F(BrowserSiteTest, TheEnginesOwnKeysStopAtTheHostAndThePagesKeysPass) {
  ComPtr<IDocHostUIHandler> ui = ask<IDocHostUIHandler>();
  ASSERT_TRUE(ui);
  // S_OK: the engine does nothing with the key (and the page does not get it).
  const Key engines[] = {
      {"F5", VK_F5},
      {"Ctrl+F5", VK_F5, true},
      {"Shift+F5", VK_F5, false, true},
      {"Ctrl+R", 'R', true},
      {"Backspace", VK_BACK},
      {"Shift+Backspace", VK_BACK, false, true},
      {"Alt+Left", VK_LEFT, false, false, true},
      {"Alt+Right", VK_RIGHT, false, false, true},
      {"Alt+Home", VK_HOME, false, false, true},
      {"BrowserBack", VK_BROWSER_BACK},
      {"BrowserRefresh", VK_BROWSER_REFRESH},
      {"Ctrl+F", 'F', true},
      {"Ctrl+P", 'P', true},
      {"Ctrl+N", 'N', true},
      {"Ctrl+O", 'O', true},
      {"Ctrl+L", 'L', true},
      {"Ctrl+S", 'S', true},
      {"Ctrl+Shift+P", 'P', true, true},
      {"Ctrl+=", VK_OEM_PLUS, true},
      {"Ctrl+-", VK_OEM_MINUS, true},
      {"Ctrl+Num+", VK_ADD, true},
      {"Ctrl+Num-", VK_SUBTRACT, true},
      {"Ctrl+0", '0', true},
      {"Ctrl+Num0", VK_NUMPAD0, true},
      {"F3", VK_F3},
      {"F7", VK_F7},
      // The engine's help; the host lets the page have F1 all the same.
      {"F1", VK_F1},
  };
  for (const Key& key : engines) {
    EXPECT_EQ(translate(*ui.get(), host_->hwnd(), key), S_OK) << key.name << " reached the engine";
  }
  // S_FALSE: the usual way, to the page.
  const Key pages[] = {
      {"Tab", VK_TAB},
      {"Shift+Tab", VK_TAB, false, true},
      {"Space", VK_SPACE},
      {"Enter", VK_RETURN},
      {"Left", VK_LEFT},
      {"Right", VK_RIGHT},
      {"Up", VK_UP},
      {"Down", VK_DOWN},
      {"Home", VK_HOME},
      {"A", 'A'},
      {"R", 'R'},
      {"F", 'F'},
      {"Shift+D", 'D', false, true},
      {"0", '0'},
      {"4", '4'},
      {"Num1", VK_NUMPAD1},
      {"Ctrl+C", 'C', true},
      {"Ctrl+A", 'A', true},
      {"Ctrl+V", 'V', true},
      {"Ctrl+Z", 'Z', true},
      {"AltGr+E", 'E', true, false, true},
  };
  for (const Key& key : pages) {
    EXPECT_EQ(translate(*ui.get(), host_->hwnd(), key), S_FALSE)
        << key.name << " did not reach the page";
  }
  // Backspace deletes where text is typed; elsewhere it would leave the exam.
  editableFocus_ = true;
  EXPECT_EQ(translate(*ui.get(), host_->hwnd(), {"Backspace", VK_BACK}), S_FALSE);
  EXPECT_EQ(translate(*ui.get(), host_->hwnd(), {"Ctrl+Backspace", VK_BACK, true}), S_FALSE);
  EXPECT_EQ(translate(*ui.get(), host_->hwnd(), {"F5", VK_F5}), S_OK);
  editableFocus_ = false;
  EXPECT_EQ(translate(*ui.get(), host_->hwnd(), {"Backspace", VK_BACK}), S_OK);
}

// The wheel as the message loop passes it to the control: Ctrl+wheel zooms
// and is swallowed. (Keys through the control need its engine, which Wine
// lacks here: they are tested at the host's handler above.)
TEST(BrowserHostKeys, CtrlWheelNeverReachesThePage) {
  ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
  {
    test::registerPlainClass(L"ZandrelTestHost");
    test::PlainWindow host(L"ZandrelTestHost", nullptr, 0, 0, 640, 480, WS_OVERLAPPEDWINDOW);
    win32::BrowserHost browser(host.hwnd(), nullptr);
    ASSERT_TRUE(browser.ok()) << "no WebBrowser control";
    ShowWindow(host.hwnd(), SW_SHOW);
    browser.navigate("about:blank");
    test::pumpUntil([] { return false; }, 1000);
    HWND inner = host.hwnd();
    while (HWND child = GetWindow(inner, GW_CHILD)) inner = child;

    auto message = [&](HWND to, UINT id, WPARAM w, LPARAM l = 0) {
      MSG msg{};
      msg.hwnd = to;
      msg.message = id;
      msg.wParam = w;
      msg.lParam = l;
      return browser.translateAccelerator(msg);
    };
    EXPECT_TRUE(message(inner, WM_MOUSEWHEEL, MAKEWPARAM(MK_CONTROL, WHEEL_DELTA)));
    EXPECT_TRUE(message(inner, WM_MOUSEWHEEL, MAKEWPARAM(MK_CONTROL, -WHEEL_DELTA)));
    EXPECT_FALSE(message(inner, WM_MOUSEWHEEL, MAKEWPARAM(0, -WHEEL_DELTA))) << "plain wheel";
    test::PlainWindow other(L"ZandrelTestHost", nullptr);
    EXPECT_FALSE(message(other.hwnd(), WM_MOUSEWHEEL, MAKEWPARAM(MK_CONTROL, WHEEL_DELTA)))
        << "another window's wheel";

    browser.close();
  }
  OleUninitialize();
}

}  // namespace
}  // namespace zandrel
