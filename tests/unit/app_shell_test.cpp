// The application shell over stand-in services: the window design, start-up and
// end, and the exam commands with the score-page rule.

#include <gtest/gtest.h>

#include <set>

#include "app/exam_addresses.h"
#include "app/exam_commands.h"
#include "app/main_window.h"
#include "app/read_aloud.h"
#include "fakes/fake_services.h"
#include "hooks/hotkeys.h"

namespace zandrel {
namespace {

using testing::AppServices;

TEST(MainWindowDesign, WindowAndControlsHaveTheirDesignValues) {
  const WindowDesign& d = MainWindowDesign();
  EXPECT_EQ(d.caption, "Zandrel【PC语音读题版】含 科目一 科目四");
  EXPECT_EQ(d.width, 966);
  EXPECT_EQ(d.height, 623);
  EXPECT_FALSE(d.resizable);
  EXPECT_FALSE(d.maximizeBox);
  EXPECT_TRUE(d.minimizeBox);
  EXPECT_TRUE(d.centred);

  struct Expected {
    const char* name;
    ControlKind kind;
    const char* parent;
    int left, top, width, height;
  };
  const Expected expected[] = {
      {"图片框1", ControlKind::PicBox, "MainWindow", 0, 0, 960, 588},
      {"超文本浏览框1", ControlKind::HtmlViewer, "图片框1", -517, -232, 2000, 2800},
      {"透明标签1", ControlKind::TransLabel, "MainWindow", 240, -16, 120, 16},
      {"标签1", ControlKind::Label, "MainWindow", 192, -40, 216, 24},
  };
  ASSERT_EQ(d.controls.size(), std::size(expected));
  for (const Expected& e : expected) {
    const ControlDesign* c = d.control(e.name);
    ASSERT_NE(c, nullptr) << e.name;
    EXPECT_EQ(c->kind, e.kind) << e.name;
    EXPECT_EQ(c->parent, e.parent) << e.name;
    EXPECT_EQ(c->left, e.left) << e.name;
    EXPECT_EQ(c->top, e.top) << e.name;
    EXPECT_EQ(c->width, e.width) << e.name;
    EXPECT_EQ(c->height, e.height) << e.name;
  }
  // Both labels lie wholly above the client area, so they are never seen.
  for (const char* label : {"透明标签1", "标签1"}) {
    const ControlDesign* c = d.control(label);
    EXPECT_LE(c->top + c->height, 0) << label;
  }
  const ControlDesign* browser = d.control("超文本浏览框1");
  EXPECT_EQ(browser->url, Subject1ExamAddress);
  EXPECT_TRUE(browser->silent);
  EXPECT_FALSE(browser->offline);
  EXPECT_EQ(browser->fontSize, 2);
}

TEST(MainWindowDesign, MenuTreeAndBindingsAreExactlyTheCommands) {
  const WindowDesign& d = MainWindowDesign();
  ASSERT_EQ(d.menus.size(), 2u);
  EXPECT_EQ(d.menus[0].caption, "菜单");
  EXPECT_EQ(d.menus[0].items, (std::vector<std::string>{"科目一全真模拟考试", "科目四全真模拟考试",
                                                        "重新考试", "退出软件"}));
  EXPECT_EQ(d.menus[1].caption, "语音读题(F1键)");
  EXPECT_EQ(d.menus[1].items, std::vector<std::string>{"语音播报"});

  const std::pair<const char*, Procedure> menuHandlers[] = {
      {"科目一全真模拟考试", OnSubject1Exam},
      {"科目四全真模拟考试", OnSubject4Exam},
      {"重新考试", OnRetakeExam},
      {"退出软件", OnExitProgram},
      {"语音播报", OnReadAloudMenu},
  };
  for (const auto& [item, handler] : menuHandlers) {
    const EventBinding* b = d.binding(item, EventKind::MenuSelected);
    ASSERT_NE(b, nullptr) << item;
    EXPECT_EQ(b->handler, handler) << item;
  }
  // The top-level menus open their lists only; the labels have no handler.
  EXPECT_EQ(d.binding("菜单", EventKind::MenuSelected), nullptr);
  EXPECT_EQ(d.binding("语音读题(F1键)", EventKind::MenuSelected), nullptr);
  EXPECT_EQ(d.binding("标签1", EventKind::Notification), nullptr);
  ASSERT_NE(d.binding("MainWindow", EventKind::CreationComplete), nullptr);
  EXPECT_EQ(d.binding("MainWindow", EventKind::CreationComplete)->handler, OnMainWindowCreated);
  ASSERT_NE(d.binding("超文本浏览框1", EventKind::Navigated), nullptr);
  EXPECT_EQ(d.binding("超文本浏览框1", EventKind::Navigated)->handler, OnBrowserNavigated);
  EXPECT_EQ(d.bindings.size(), 7u);
}

TEST(StartAndEnd, StartUpRegistersF1InstallsTheFilterAndEndsOnce) {
  AppServices app;
  app.window.duringLoop = [&] {
    // Ready: F1 registered with nothing optional, the poll at 10 ms, the filter
    // on the browser's thread, Subject 1 in use.
    const HotkeyTable* table = CurrentHotkeyTable();
    ASSERT_NE(table, nullptr);
    ASSERT_EQ(table->size(), 1u);
    EXPECT_EQ((*table)[0].id, 1000001);
    EXPECT_EQ((*table)[0].keyCode, 112);
    EXPECT_EQ((*table)[0].modifiers, 0);
    EXPECT_EQ((*table)[0].secondKey, 0);
    EXPECT_EQ((*table)[0].directCall, 0);
    EXPECT_EQ((*table)[0].handler, OnReadAloudHotkey);
    ASSERT_EQ(app.hotkeys.timers.size(), 1u);
    EXPECT_EQ(app.hotkeys.timers[0].periodMs, 10);
    EXPECT_EQ(app.mouse.threadQueries, std::vector{app.window.windowHandle("超文本浏览框1")});
    ASSERT_EQ(app.mouse.installs.size(), 1u);
    EXPECT_EQ(app.mouse.installs[0].thread, app.mouse.ownerThread);
    EXPECT_EQ(CurrentExamAddress(), Subject1ExamAddress);
    // Neither a navigation nor a size change at start: the design does both.
    EXPECT_TRUE(app.window.urlWrites.empty());
    EXPECT_TRUE(app.window.heightWrites.empty());
    app.window.selectMenuItem("退出软件");
  };
  EXPECT_EQ(RunApplication(), 0);
  EXPECT_TRUE(app.window.creationCompleteRan);
  EXPECT_EQ(app.window.exitRoutineRuns, 1);
  // The end freed the globals: no table, no speaker, no exam in use.
  EXPECT_EQ(CurrentHotkeyTable(), nullptr);
  EXPECT_FALSE(speaker().with([](TextToSpeech&) {}));
  EXPECT_EQ(CurrentExamAddress(), "");
  const auto log = app.speech.log();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log.front(), "create");
  EXPECT_EQ(log.back(), "destroy");
  // A second road to the end (a signal after the close box) frees nothing twice.
  ReleaseGlobals();
  EXPECT_EQ(app.speech.log().size(), log.size());
}

TEST(StartAndEnd, NoVoiceStillStartsAndAFailedWindowEndsWithMinusOne) {
  {
    AppServices app;
    app.speech.setAvailable(false);
    app.window.duringLoop = [&] { app.window.close(); };
    EXPECT_EQ(RunApplication(), 0);
    EXPECT_TRUE(app.window.creationCompleteRan);
  }
  AppServices app;
  app.window.failLoad = true;
  EXPECT_EQ(RunApplication(), -1);
  ASSERT_EQ(app.window.boxes.size(), 1u);
  EXPECT_EQ(app.window.boxes[0].text, "载入启动窗口失败");
  EXPECT_EQ(app.window.boxes[0].caption, "信息：");
  EXPECT_EQ(CurrentHotkeyTable(), nullptr);
  EXPECT_FALSE(speaker().with([](TextToSpeech&) {}));
}

class ExamCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    InitGlobals();
    ASSERT_TRUE(app.window.loadWindow(MainWindowDesign()));
    app.window.urlWrites.clear();
    app.window.heightWrites.clear();
  }
  void TearDown() override { ReleaseGlobals(); }
  int windowHeight() { return app.window.height("MainWindow"); }
  int browserHeight() { return app.window.height("超文本浏览框1"); }
  AppServices app;
};

TEST_F(ExamCommands, SizesFollowTheCommandsAndTheScorePage) {
  EXPECT_EQ(windowHeight(), 623);
  EXPECT_EQ(browserHeight(), 2800);

  app.window.selectMenuItem("科目四全真模拟考试");
  EXPECT_EQ(app.window.urlWrites.back(), Subject4ExamAddress);
  EXPECT_EQ(windowHeight(), 555);
  EXPECT_EQ(browserHeight(), 2800);

  app.window.navigate("超文本浏览框1", Subject4ScoreAddress);
  EXPECT_EQ(browserHeight(), 810);
  EXPECT_EQ(windowHeight(), 555);

  // Choosing an exam keeps the score page's browser height; only a retake restores it.
  app.window.selectMenuItem("科目一全真模拟考试");
  EXPECT_EQ(app.window.urlWrites.back(), Subject1ExamAddress);
  EXPECT_EQ(windowHeight(), 623);
  EXPECT_EQ(browserHeight(), 810);
  app.window.selectMenuItem("重新考试");
  EXPECT_EQ(app.window.urlWrites.back(), Subject1ExamAddress);
  EXPECT_EQ(browserHeight(), 2800);
  EXPECT_EQ(windowHeight(), 623);
}

TEST_F(ExamCommands, RetakeLoadsTheExamInUse) {
  app.window.selectMenuItem("重新考试");
  EXPECT_EQ(app.window.urlWrites, std::vector<std::string>{std::string(Subject1ExamAddress)});
  app.window.selectMenuItem("科目四全真模拟考试");
  app.window.selectMenuItem("重新考试");
  EXPECT_EQ(app.window.urlWrites.back(), Subject4ExamAddress);
  // Choosing the exam already shown loads it again.
  app.window.selectMenuItem("科目四全真模拟考试");
  EXPECT_EQ(app.window.urlWrites.size(), 4u);
  // The retake never touches the window height.
  for (const auto& [name, value] : app.window.heightWrites) {
    if (value == 2800) {
      EXPECT_EQ(name, "超文本浏览框1");
    }
  }
}

TEST_F(ExamCommands, OnlyTheExactScoreAddressShrinksTheBrowser) {
  const std::string score(Subject4ScoreAddress);
  std::string upper = score;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const std::string nearMisses[] = {
      score + "?x=1",
      score + "#top",
      score + "x",
      score.substr(0, score.size() - 1),
      upper,
      "http://" + std::string(Subject1Host) + "/score/",
      std::string(Subject4ExamAddress),
      "",
  };
  for (const std::string& address : nearMisses) {
    app.window.navigate("超文本浏览框1", address);
    EXPECT_EQ(browserHeight(), 2800) << address;
  }
  // Any navigation, a frame's included, is judged by its own address.
  app.window.navigate("超文本浏览框1", score);
  EXPECT_EQ(browserHeight(), 810);
  app.window.navigate("超文本浏览框1", Subject4ExamAddress);
  EXPECT_EQ(browserHeight(), 810);
}

TEST_F(ExamCommands, ExitEndsWithCodeZeroAndReleasesOnce) {
  app.window.registerExitRoutine(ReleaseGlobals);
  app.window.selectMenuItem("退出软件");
  EXPECT_EQ(app.window.messageLoop(), 0);
  EXPECT_EQ(app.window.exitRoutineRuns, 1);
  EXPECT_EQ(CurrentHotkeyTable(), nullptr);
}

}  // namespace
}  // namespace zandrel
