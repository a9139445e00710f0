// The Win32 window layer with real windows (under Wine + Xvfb in the build):
// the designed geometry and menu, properties from other threads, the
// notification path, the end of the program and the message box's modality.

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "runtime/support_win32.h"
#include "runtime/window_layer_win32.h"
#include "win32_test_support.h"

namespace zandrel {
namespace {

// What the bound handlers saw; handlers are plain procedures.
struct Seen {
  std::atomic<int> created{0};
  std::atomic<bool> visibleAtCreation{false};
  std::atomic<int> exitRoutines{0};
  std::string lastMenu;
  std::atomic<int> notifications{0};
  std::uintptr_t notifyW = 0;
  std::intptr_t notifyL = 0;
  DWORD notifyThread = 0;
};
Seen seen;
WindowLayer* current = nullptr;

constexpr char kCaption[] = "Zandrel【PC语音读题版】含 科目一 科目四";

void onCreated() {
  ++seen.created;
  seen.visibleAtCreation =
      IsWindowVisible(reinterpret_cast<HWND>(current->windowHandle("MainWindow"))) != FALSE;
}
void onExit() {
  ++seen.exitRoutines;
}
void onSubject1() {
  seen.lastMenu = "科目一全真模拟考试";
}
void onSubject4() {
  seen.lastMenu = "科目四全真模拟考试";
}
void onSpeak() {
  seen.lastMenu = "语音播报";
}
void onNotify(std::uintptr_t w, std::intptr_t l) {
  seen.notifyW = w;
  seen.notifyL = l;
  seen.notifyThread = GetCurrentThreadId();
  ++seen.notifications;
}

WindowDesign design() {
  WindowDesign d;
  d.name = "MainWindow";
  d.caption = kCaption;
  d.width = 966;
  d.height = 623;
  auto control = [](const char* name, ControlKind kind, const char* parent, int left, int top,
                    int width, int height) {
    ControlDesign c;
    c.name = name;
    c.kind = kind;
    c.parent = parent;
    c.left = left;
    c.top = top;
    c.width = width;
    c.height = height;
    return c;
  };
  ControlDesign pic = control("图片框1", ControlKind::PicBox, "MainWindow", 0, 0, 960, 588);
  ControlDesign browser =
      control("超文本浏览框1", ControlKind::HtmlViewer, "图片框1", -517, -232, 2000, 2800);
  browser.silent = true;
  ControlDesign status =
      control("透明标签1", ControlKind::TransLabel, "MainWindow", 240, -16, 120, 16);
  ControlDesign receiver = control("标签1", ControlKind::Label, "MainWindow", 192, -40, 216, 24);
  d.controls = {pic, browser, status, receiver};
  d.menus = {{"菜单", {"科目一全真模拟考试", "科目四全真模拟考试", "重新考试", "退出软件"}},
             {"语音读题(F1键)", {"语音播报"}}};
  d.bindings = {{"MainWindow", EventKind::CreationComplete, &onCreated, nullptr},
                {"科目一全真模拟考试", EventKind::MenuSelected, &onSubject1, nullptr},
                {"科目四全真模拟考试", EventKind::MenuSelected, &onSubject4, nullptr},
                {"语音播报", EventKind::MenuSelected, &onSpeak, nullptr},
                {"标签1", EventKind::Notification, nullptr, &onNotify}};
  return d;
}

RECT rectIn(HWND window, HWND parent) {
  RECT rc;
  GetWindowRect(window, &rc);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rc), 2);
  return rc;
}

std::string menuText(HMENU menu, UINT position) {
  wchar_t text[64] = {};
  GetMenuStringW(menu, position, text, 64, MF_BYPOSITION);
  return win32::narrow(text);
}

// Runs `work` on another thread while this (UI) thread dispatches.
void onOtherThread(const std::function<void()>& work) {
  std::atomic<bool> done{false};
  std::thread other([&] {
    work();
    done = true;
  });
  const bool finished = test::pumpUntil([&] { return done.load(); });
  other.join();
  ASSERT_TRUE(finished);
}

class WindowLayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    seen.created = 0;
    seen.exitRoutines = 0;
    seen.lastMenu.clear();
    seen.notifications = 0;
    layer_ = createWin32WindowLayer();
    current = layer_.get();
    ASSERT_TRUE(layer_->initialise());
    layer_->registerExitRoutine(&onExit);
    ASSERT_TRUE(layer_->loadWindow(design()));
    main_ = handle("MainWindow");
    ASSERT_NE(main_, nullptr);
  }
  void TearDown() override {
    layer_.reset();
    current = nullptr;
    // Drop what the destroyed window left behind (its quit message).
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
  HWND handle(std::string_view name) { return reinterpret_cast<HWND>(layer_->windowHandle(name)); }

  std::unique_ptr<WindowLayer> layer_;
  HWND main_ = nullptr;
};

TEST_F(WindowLayerTest, BuildsTheDesignedWindowCentredAndHiddenUntilTheLoop) {
  EXPECT_EQ(seen.created, 1);
  EXPECT_FALSE(seen.visibleAtCreation);

  RECT rc;
  GetWindowRect(main_, &rc);
  EXPECT_EQ(rc.right - rc.left, 966);
  EXPECT_EQ(rc.bottom - rc.top, 623);
  EXPECT_EQ(rc.left, (GetSystemMetrics(SM_CXSCREEN) - 966) / 2);
  EXPECT_EQ(rc.top, (GetSystemMetrics(SM_CYSCREEN) - 623) / 2);

  const LONG_PTR style = GetWindowLongPtrW(main_, GWL_STYLE);
  EXPECT_TRUE(style & WS_CAPTION);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_FALSE(style & WS_THICKFRAME);
  EXPECT_EQ(layer_->caption("MainWindow"), kCaption);
  EXPECT_EQ(layer_->height("MainWindow"), 623);

  HMENU bar = GetMenu(main_);
  ASSERT_NE(bar, nullptr);
  ASSERT_EQ(GetMenuItemCount(bar), 2);
  EXPECT_EQ(menuText(bar, 0), "菜单");
  EXPECT_EQ(menuText(bar, 1), "语音读题(F1键)");
  HMENU exam = GetSubMenu(bar, 0);
  ASSERT_EQ(GetMenuItemCount(exam), 4);
  EXPECT_EQ(menuText(exam, 0), "科目一全真模拟考试");
  EXPECT_EQ(menuText(exam, 1), "科目四全真模拟考试");
  EXPECT_EQ(menuText(exam, 2), "重新考试");
  EXPECT_EQ(menuText(exam, 3), "退出软件");
  EXPECT_EQ(menuText(GetSubMenu(bar, 1), 0), "语音播报");
}

TEST_F(WindowLayerTest, ControlsSitWhereTheDesignPutsThemAndThePictureBoxClips) {
  HWND pic = handle("图片框1");
  HWND browser = handle("超文本浏览框1");
  ASSERT_NE(pic, nullptr);
  ASSERT_NE(browser, nullptr);
  EXPECT_EQ(GetParent(pic), main_);
  EXPECT_EQ(GetParent(browser), pic);
  EXPECT_TRUE(GetWindowLongPtrW(pic, GWL_STYLE) & WS_CLIPCHILDREN);

  const RECT p = rectIn(pic, main_);
  EXPECT_EQ(p.left, 0);
  EXPECT_EQ(p.top, 0);
  EXPECT_EQ(p.right, 960);
  EXPECT_EQ(p.bottom, 588);
  const RECT b = rectIn(browser, pic);
  EXPECT_EQ(b.left, -517);
  EXPECT_EQ(b.top, -232);
  EXPECT_EQ(b.right - b.left, 2000);
  EXPECT_EQ(b.bottom - b.top, 2800);
  // Both labels lie wholly above the client area, never seen.
  EXPECT_EQ(rectIn(handle("透明标签1"), main_).bottom, 0);
  EXPECT_EQ(rectIn(handle("标签1"), main_).bottom, -16);
  EXPECT_EQ(layer_->windowHandle("no such control"), 0u);
}

TEST_F(WindowLayerTest, TheWindowShowsAnIconInItsCaptionAndTaskbarButton) {
  EXPECT_NE(SendMessageW(main_, WM_GETICON, ICON_BIG, 0), 0);
  EXPECT_NE(SendMessageW(main_, WM_GETICON, ICON_SMALL, 0), 0);
  EXPECT_NE(GetClassLongPtrW(main_, GCLP_HICON), 0);
  EXPECT_NE(GetClassLongPtrW(main_, GCLP_HICONSM), 0);
}

TEST_F(WindowLayerTest, HeightsKeepTheTopLeftCornerFromAnyThread) {
  RECT before;
  GetWindowRect(main_, &before);
  const RECT browserBefore = rectIn(handle("超文本浏览框1"), handle("图片框1"));

  layer_->setHeight("MainWindow", 555);
  layer_->setHeight("超文本浏览框1", 810);
  RECT after;
  GetWindowRect(main_, &after);
  EXPECT_EQ(after.left, before.left);
  EXPECT_EQ(after.top, before.top);
  EXPECT_EQ(after.right - after.left, 966);
  EXPECT_EQ(after.bottom - after.top, 555);
  const RECT browserAfter = rectIn(handle("超文本浏览框1"), handle("图片框1"));
  EXPECT_EQ(browserAfter.left, browserBefore.left);
  EXPECT_EQ(browserAfter.top, browserBefore.top);
  EXPECT_EQ(browserAfter.bottom - browserAfter.top, 810);
  // The embedded control follows its host window.
  if (HWND control = FindWindowExW(handle("超文本浏览框1"), nullptr, nullptr, nullptr)) {
    RECT rc;
    GetWindowRect(control, &rc);
    EXPECT_EQ(rc.bottom - rc.top, 810);
  }

  int windowHeight = 0;
  int browserHeight = 0;
  std::string status;
  WindowHandle pictureBox = 0;
  onOtherThread([&] {
    layer_->setHeight("MainWindow", 623);
    layer_->setHeight("超文本浏览框1", 2800);
    layer_->setCaption("透明标签1", "加载完毕");
    windowHeight = layer_->height("MainWindow");
    browserHeight = layer_->height("超文本浏览框1");
    status = layer_->caption("透明标签1");
    pictureBox = layer_->windowHandle("图片框1");
  });
  EXPECT_EQ(windowHeight, 623);
  EXPECT_EQ(browserHeight, 2800);
  EXPECT_EQ(status, "加载完毕");
  EXPECT_EQ(pictureBox, reinterpret_cast<WindowHandle>(handle("图片框1")));
  GetWindowRect(main_, &after);
  EXPECT_EQ(after.top, before.top);
  EXPECT_EQ(after.bottom - after.top, 623);
}

TEST_F(WindowLayerTest, TheBrowserIsEmbeddedAndAnUnreachablePageGivesWayToTheMessage) {
  HWND host = handle("超文本浏览框1");
  HWND control = FindWindowExW(host, nullptr, nullptr, nullptr);
  ASSERT_NE(control, nullptr) << "no WebBrowser control in the host window";
  RECT rc;
  GetWindowRect(control, &rc);
  EXPECT_EQ(rc.right - rc.left, 2000);
  EXPECT_EQ(rc.bottom - rc.top, 2800);
  ASSERT_NE(layer_->url("超文本浏览框1"), "about:blank");
  // Nothing listens on port 9: the control reports NavigateError, and the
  // blank document that takes the message replaces the engine's error page.
  layer_->setUrl("超文本浏览框1", "http://127.0.0.1:9/score/");  // returns at once
  EXPECT_TRUE(test::pumpUntil([&] { return layer_->url("超文本浏览框1") == "about:blank"; }));
  std::string fromReader;
  onOtherThread([&] { fromReader = layer_->url("超文本浏览框1"); });
  EXPECT_EQ(fromReader, "about:blank");
}

TEST_F(WindowLayerTest, MenuItemsRunTheirOwnHandlers) {
  HMENU bar = GetMenu(main_);
  PostMessageW(main_, WM_COMMAND, GetMenuItemID(GetSubMenu(bar, 0), 1), 0);
  EXPECT_TRUE(test::pumpUntil([] { return !seen.lastMenu.empty(); }));
  EXPECT_EQ(seen.lastMenu, "科目四全真模拟考试");
  seen.lastMenu.clear();
  PostMessageW(main_, WM_COMMAND, GetMenuItemID(GetSubMenu(bar, 1), 0), 0);
  EXPECT_TRUE(test::pumpUntil([] { return !seen.lastMenu.empty(); }));
  EXPECT_EQ(seen.lastMenu, "语音播报");
}

TEST_F(WindowLayerTest, NotificationsPostedFromAnyThreadReachTheLabelOnTheUiThread) {
  const WindowHandle receiver = layer_->windowHandle("标签1");
  std::thread speaker([&] { layer_->postNotification(receiver, kSpeechNotification, 2, 0); });
  speaker.join();
  EXPECT_TRUE(test::pumpUntil([] { return seen.notifications.load() == 1; }));
  EXPECT_EQ(seen.notifyW, 2u);
  EXPECT_EQ(seen.notifyL, 0);
  EXPECT_EQ(seen.notifyThread, GetCurrentThreadId());
  // Another message to the label, or one to a window that is gone, is no
  // notification.
  layer_->postNotification(receiver, kSpeechNotification + 1, 1, 0);
  layer_->postNotification(0, kSpeechNotification, 1, 0);
  test::pumpUntil([] { return false; }, 100);
  EXPECT_EQ(seen.notifications, 1);
}

TEST_F(WindowLayerTest, WaitingMessagesAreDispatchedButAQuitStaysQueued) {
  PostMessageW(main_, WM_COMMAND, GetMenuItemID(GetSubMenu(GetMenu(main_), 0), 0), 0);
  PostQuitMessage(7);
  layer_->processWaitingMessages();
  EXPECT_EQ(seen.lastMenu, "科目一全真模拟考试");
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(msg.wParam, 7u);
}

TEST_F(WindowLayerTest, EndProgramFromAnotherThreadRunsTheExitRoutinesOnce) {
  std::thread ender([&] {
    Sleep(200);
    layer_->endProgram(3);
  });
  const int code = layer_->messageLoop();
  ender.join();
  EXPECT_EQ(code, 3);
  EXPECT_EQ(seen.exitRoutines, 1);
  EXPECT_FALSE(IsWindow(main_));
  EXPECT_EQ(layer_->windowHandle("MainWindow"), 0u);
  layer_->endProgram(4);  // nothing left to end: the routines do not run again
  EXPECT_EQ(seen.exitRoutines, 1);
}

TEST_F(WindowLayerTest, ClosingTheWindowEndsTheLoopWithCodeZero) {
  PostMessageW(main_, WM_CLOSE, 0, 0);
  EXPECT_EQ(layer_->messageLoop(), 0);
  EXPECT_EQ(seen.exitRoutines, 1);
}

// Waits for the message box captioned `caption`, notes whether the main
// window was usable while it was open, and closes it with `button`.
struct BoxWatcher {
  std::atomic<bool> found{false};
  std::atomic<bool> mainEnabled{false};
  std::vector<std::string> texts;

  void watch(HWND main, const wchar_t* caption, int button) {
    for (int i = 0; i < 500 && !found; ++i) {
      if (HWND box = FindWindowW(L"#32770", caption)) {
        mainEnabled = IsWindowEnabled(main) != FALSE;
        EnumChildWindows(
            box,
            [](HWND child, LPARAM self) -> BOOL {
              wchar_t text[128] = {};
              GetWindowTextW(child, text, 128);
              reinterpret_cast<BoxWatcher*>(self)->texts.push_back(win32::narrow(text));
              return TRUE;
            },
            reinterpret_cast<LPARAM>(this));
        found = true;
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
      }
      Sleep(20);
    }
  }
  bool shows(const std::string& text) const {
    for (const auto& t : texts) {
      if (t == text) return true;
    }
    return false;
  }
};

TEST_F(WindowLayerTest, ABoxOfTheUiThreadBlocksTheMainWindow) {
  ShowWindow(main_, SW_SHOWNORMAL);
  BoxWatcher watcher;
  std::thread watching([&] { watcher.watch(main_, L"信息：", IDOK); });
  const int result = messageBox(*layer_, "转换失败！");
  watching.join();
  ASSERT_TRUE(watcher.found);
  EXPECT_EQ(result, kBoxOk);
  EXPECT_TRUE(watcher.shows("转换失败！"));
  EXPECT_FALSE(watcher.mainEnabled);
  EXPECT_TRUE(IsWindowEnabled(main_));
}

TEST_F(WindowLayerTest, ABoxOfAReadingThreadLeavesTheMainWindowUsable) {
  ShowWindow(main_, SW_SHOWNORMAL);
  BoxWatcher watcher;
  std::thread watching([&] { watcher.watch(main_, L"另一个标题", IDNO); });
  int result = -1;
  onOtherThread([&] {
    result = layer_->messageBox("继续吗？", kBoxStyleYesNo, std::string("另一个标题"), 0);
  });
  watching.join();
  ASSERT_TRUE(watcher.found);
  EXPECT_EQ(result, kBoxNo);
  EXPECT_TRUE(watcher.mainEnabled);
}

TEST(WindowLayerLoad, AControlWithoutItsParentFailsTheLoad) {
  std::unique_ptr<WindowLayer> layer = createWin32WindowLayer();
  current = layer.get();
  ASSERT_TRUE(layer->initialise());
  WindowDesign d = design();
  d.controls[1].parent = "missing";
  EXPECT_FALSE(layer->loadWindow(d));
  EXPECT_EQ(layer->windowHandle("MainWindow"), 0u);
  current = nullptr;
}

}  // namespace
}  // namespace zandrel
