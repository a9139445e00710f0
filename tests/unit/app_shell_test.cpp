// The application shell over stand-in services: the window design, start-up and
// end, and the exam commands with the score-page rule.

#include <gtest/gtest.h>

#include <cctype>

#include "app/exam_addresses.h"
#include "app/exam_commands.h"
#include "app/exam_hosts.h"
#include "app/main_window.h"
#include "app/read_aloud.h"
#include "fakes/fake_services.h"
#include "hooks/hotkeys.h"
#include "runtime/error_page.h"

namespace zandrel {
namespace {

using testing::AppServices;

TEST(MainWindowDesign, OneFixedWindowCentredAtTheSubject1Height) {
  const WindowDesign& d = MainWindowDesign();
  EXPECT_EQ(d.caption, "Zandrel【PC语音读题版】含 科目一 科目四");
  EXPECT_FALSE(d.resizable);
  EXPECT_FALSE(d.maximizeBox);
  EXPECT_TRUE(d.minimizeBox);
  EXPECT_TRUE(d.centred);
  // Start-up sets no height: the design's is the one Subject 1 asks for.
  EXPECT_EQ(d.height, Subject1WindowHeight);
  // The picture box, the browser and the two hidden labels; nothing else.
  EXPECT_EQ(d.controls.size(), 4u);
}

TEST(MainWindowDesign, ThePictureBoxShowsAFixedCutOutOfTheExamPage) {
  const WindowDesign& d = MainWindowDesign();
  const ControlDesign* box = d.control("图片框1");
  const ControlDesign* browser = d.control(kBrowser);
  ASSERT_NE(box, nullptr);
  ASSERT_NE(browser, nullptr);
  // The box fills the client area from its corner: what the frame leaves of
  // the window, a thin border around, the title and menu bars above.
  EXPECT_EQ(box->kind, ControlKind::PicBox);
  EXPECT_EQ(box->parent, d.name);
  EXPECT_EQ(box->left, 0);
  EXPECT_EQ(box->top, 0);
  EXPECT_LT(box->width, d.width);
  EXPECT_GE(box->width, d.width - 16);
  EXPECT_LT(box->height, d.height);
  EXPECT_GE(box->height, d.height - 64);
  // The larger browser inside it is shifted so that the page is seen from 517
  // pixels right and 232 down, and the whole cut-out lies on the page.
  EXPECT_EQ(browser->kind, ControlKind::HtmlViewer);
  EXPECT_EQ(browser->parent, box->name);
  EXPECT_EQ(-browser->left, 517);
  EXPECT_EQ(-browser->top, 232);
  EXPECT_GE(browser->left + browser->width, box->width);
  EXPECT_GE(browser->top + browser->height, box->height);
  EXPECT_EQ(browser->height, ExamBrowserHeight);
  // It loads the Subject 1 exam the moment it exists, silently, at the middle font size.
  EXPECT_EQ(browser->url, Subject1ExamAddress());
  EXPECT_TRUE(browser->silent);
  EXPECT_FALSE(browser->offline);
  EXPECT_EQ(browser->fontSize, 2);
}

TEST(MainWindowDesign, TheStatusAndReceiverLabelsAreNeverSeen) {
  const WindowDesign& d = MainWindowDesign();
  const std::pair<std::string_view, ControlKind> labels[] = {
      {kStatusLabel, ControlKind::TransLabel}, {kReceiverLabel, ControlKind::Label}};
  for (const auto& [name, kind] : labels) {
    const ControlDesign* c = d.control(name);
    ASSERT_NE(c, nullptr) << name;
    EXPECT_EQ(c->kind, kind) << name;
    EXPECT_EQ(c->parent, d.name) << name;
    // Wholly above the client area, at any window height.
    EXPECT_LE(c->top + c->height, 0) << name;
  }
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
    EXPECT_EQ(app.mouse.installs, std::vector{app.window.windowHandle("超文本浏览框1")});
    EXPECT_EQ(CurrentMouseFilter().thread, app.mouse.installation.thread);
    EXPECT_EQ(CurrentExamAddress(), Subject1ExamAddress());
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
  EXPECT_EQ(app.window.urlWrites.back(), Subject4ExamAddress());
  EXPECT_EQ(windowHeight(), 555);
  EXPECT_EQ(browserHeight(), 2800);

  app.window.navigate("超文本浏览框1", Subject4ScoreAddress());
  EXPECT_EQ(browserHeight(), 810);
  EXPECT_EQ(windowHeight(), 555);

  // Choosing an exam keeps the score page's browser height; only a retake restores it.
  app.window.selectMenuItem("科目一全真模拟考试");
  EXPECT_EQ(app.window.urlWrites.back(), Subject1ExamAddress());
  EXPECT_EQ(windowHeight(), 623);
  EXPECT_EQ(browserHeight(), 810);
  app.window.selectMenuItem("重新考试");
  EXPECT_EQ(app.window.urlWrites.back(), Subject1ExamAddress());
  EXPECT_EQ(browserHeight(), 2800);
  EXPECT_EQ(windowHeight(), 623);
}

TEST_F(ExamCommands, RetakeLoadsTheExamInUse) {
  app.window.selectMenuItem("重新考试");
  EXPECT_EQ(app.window.urlWrites, std::vector<std::string>{Subject1ExamAddress()});
  app.window.selectMenuItem("科目四全真模拟考试");
  app.window.selectMenuItem("重新考试");
  EXPECT_EQ(app.window.urlWrites.back(), Subject4ExamAddress());
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
  const std::string score(Subject4ScoreAddress());
  std::string upper = score;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const std::string nearMisses[] = {
      score + "?x=1",
      score + "#top",
      score + "x",
      score.substr(0, score.size() - 1),
      upper,
      "http://" + std::string(Subject1Host) + "/score/",
      Subject4ExamAddress(),
      "",
  };
  for (const std::string& address : nearMisses) {
    app.window.navigate("超文本浏览框1", address);
    EXPECT_EQ(browserHeight(), 2800) << address;
  }
  // Any navigation, a frame's included, is judged by its own address.
  app.window.navigate("超文本浏览框1", score);
  EXPECT_EQ(browserHeight(), 810);
  app.window.navigate("超文本浏览框1", Subject4ExamAddress());
  EXPECT_EQ(browserHeight(), 810);
}

// The program's own site may serve on other ports than the default ones; the
// window then shows those, and the score rule holds for exactly that address.
TEST(ExamHosts, TheWindowShowsTheHostsServedAtStart) {
  UseExamHosts({"127.0.0.1:40001", ""}, {"127.0.0.1:40004", ""});
  {
    AppServices app;
    InitGlobals();
    ASSERT_TRUE(app.window.loadWindow(MainWindowDesign()));
    EXPECT_EQ(app.window.url(kBrowser), "http://127.0.0.1:40001/kaoshi/");
    app.window.selectMenuItem("科目四全真模拟考试");
    EXPECT_EQ(app.window.urlWrites.back(), "http://127.0.0.1:40004/kaoshi/");
    app.window.navigate(kBrowser, "http://" + std::string(Subject4Host) + "/score/");
    EXPECT_EQ(app.window.height(kBrowser), 2800);
    app.window.navigate(kBrowser, "http://127.0.0.1:40004/score/");
    EXPECT_EQ(app.window.height(kBrowser), 810);
    ReleaseGlobals();
  }
  UseExamHosts({std::string(Subject1Host), ""}, {std::string(Subject4Host), ""});
}

TEST(ExamHosts, AnExamTheSiteCannotServeShowsWhyInsteadOfTheNetworkAdvice) {
  UseExamHosts({"127.0.0.1:40001", ""}, {std::string(kNowhereHost), "题库中没有科目四的题目"});
  EXPECT_EQ(Subject4ExamAddress(), "http://127.0.0.1:0/kaoshi/");
  const std::string failed = unreachablePageHtml(Subject4ExamAddress());
  EXPECT_NE(failed.find("本机考试网站无法启动：科目四：题库中没有科目四的题目"), std::string::npos);
  EXPECT_EQ(failed.find("请检查网络"), std::string::npos);
  // The exam that is served still gets the ordinary advice when it fails.
  EXPECT_NE(unreachablePageHtml(Subject1ExamAddress()).find("请检查网络"), std::string::npos);
  UseExamHosts({std::string(Subject1Host), ""}, {std::string(Subject4Host), ""});
  EXPECT_NE(unreachablePageHtml("http://127.0.0.1:0/kaoshi/").find("请检查网络"),
            std::string::npos);
}

TEST(ExamHosts, TheTestHostsAreTwoWordsOrNothing) {
  EXPECT_EQ(parseTestExamHosts("127.0.0.1:1 127.0.0.1:4"),
            std::make_pair(std::string("127.0.0.1:1"), std::string("127.0.0.1:4")));
  EXPECT_FALSE(parseTestExamHosts(nullptr));
  EXPECT_FALSE(parseTestExamHosts(""));
  EXPECT_FALSE(parseTestExamHosts("127.0.0.1:1"));
  EXPECT_FALSE(parseTestExamHosts("a b c"));
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
