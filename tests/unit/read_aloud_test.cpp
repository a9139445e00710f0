// The read-aloud flow over stand-in services: what reaches the voice, what the
// user sees, and how overlapping runs and the end of the program share the
// one speaker.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "app/main_window.h"
#include "app/read_aloud.h"
#include "fakes/fake_services.h"
#include "page/dom_search.h"
#include "runtime/spoken_text.h"

namespace zandrel {
namespace {

using testing::AppServices;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

class ReadAloudFlow : public ::testing::Test {
 protected:
  void SetUp() override {
    InitGlobals();
    ASSERT_TRUE(app.window.loadWindow(MainWindowDesign()));
    documentWindow = app.showQuestion(question);
  }
  void TearDown() override { ReleaseGlobals(); }

  std::vector<std::string> voiceOps() {
    std::vector<std::string> ops = app.speech.log();
    // The voice made by start-up is not part of a run.
    ops.erase(ops.begin());
    return ops;
  }
  AppServices app;
  const std::string question = "1．<b>驾驶机动车</b>在道路上&nbsp;发生故障，<br>应当怎样？";
  WindowHandle documentWindow = 0;
};

TEST_F(ReadAloudFlow, CutsOffThePreviousVoiceThenHandsOverTheQuestionAsRead) {
  EXPECT_EQ(ReadAloud(), 1);
  const std::vector<std::string> ops = voiceOps();
  ASSERT_EQ(ops.size(), 4u);
  EXPECT_EQ(ops[0], "pause");
  EXPECT_EQ(ops[1], "destroy");  // the reset drops what was being said...
  EXPECT_EQ(ops[2], "create");   // ...and builds a fresh voice
  // Markup is the speech layer's business: the flow hands over the text as read.
  EXPECT_EQ(ops[3], "speak:0:" + spokenTextFromMarkup(question));
  EXPECT_EQ(app.window.caption("透明标签1"), "加载完毕");
  EXPECT_TRUE(app.window.boxes.empty());
  // The page object's per-thread set-up and its document are given back when
  // the run ends.
  EXPECT_EQ(app.page.left, app.page.entered);
  EXPECT_EQ(app.dom.liveRefs(), 0);
}

TEST_F(ReadAloudFlow, StartAndEndReachTheReceiverLabel) {
  app.speech.setEventsOnSpeak(true);
  ReadAloud();
  const WindowHandle label = app.window.windowHandle("标签1");
  ASSERT_EQ(app.window.notifications.size(), 2u);
  EXPECT_EQ(app.window.notifications[0].target, label);
  EXPECT_EQ(app.window.notifications[0].message, 0x8075u);
  EXPECT_EQ(app.window.notifications[0].wParam, 1u);
  EXPECT_EQ(app.window.notifications[1].wParam, 2u);
  EXPECT_EQ(app.window.notifications[1].lParam, 0);
}

TEST_F(ReadAloudFlow, RefusalShowsTheFailureBoxAndLeavesTheStatusAlone) {
  app.speech.setAcceptSpeech(false);
  EXPECT_EQ(ReadAloud(), 0);
  ASSERT_EQ(app.window.boxes.size(), 1u);
  EXPECT_EQ(app.window.boxes[0].text, "转换失败！");
  EXPECT_EQ(app.window.boxes[0].caption, "信息：");
  EXPECT_EQ(app.window.boxes[0].style, 0);
  EXPECT_EQ(app.window.boxes[0].owner, 0u);
  EXPECT_EQ(app.window.caption("透明标签1"), "");

  // No voice at all: the reset tries again, finds none, and the box follows.
  app.speech.setAvailable(false);
  EXPECT_EQ(ReadAloud(), 0);
  EXPECT_EQ(app.window.boxes.size(), 2u);
  app.speech.setAvailable(true);
  app.speech.setAcceptSpeech(true);
  EXPECT_EQ(ReadAloud(), 1);
  EXPECT_EQ(app.window.caption("透明标签1"), "加载完毕");
}

// A read that finds nothing to say is a failure the learner hears: a short
// cue instead of silence, no box, and no "加载完毕".
TEST_F(ReadAloudFlow, FindingNothingToSayIsAFailureThatACueSays) {
  app.page.destroy(documentWindow);  // no document at all
  EXPECT_EQ(ReadAloud(), 0);
  EXPECT_EQ(voiceOps().back(), "speak:0:没有找到题目");
  EXPECT_TRUE(app.dom.reads.empty());
  EXPECT_EQ(app.window.caption("透明标签1"), "");
  EXPECT_TRUE(app.window.boxes.empty());

  // A question DIV with nothing a voice would say, and a page without one.
  app.showQuestion("<br>&nbsp; <img src='x.png'>\u3000");
  EXPECT_EQ(ReadAloud(), 0);
  EXPECT_EQ(voiceOps().back(), "speak:0:没有找到题目");
  app.page.answer = [this](WindowHandle) { return app.dom.ref(app.dom.document({})); };
  EXPECT_EQ(ReadAloud(), 0);
  EXPECT_EQ(voiceOps().back(), "speak:0:没有找到题目");
  EXPECT_EQ(app.window.caption("透明标签1"), "");
  EXPECT_TRUE(app.window.boxes.empty());

  // A view still on its way to another page says so.
  auto loading = app.dom.node("loading");
  loading->fastDivInnerHtml = [](std::string_view, int) { return std::string(); };
  loading->fastCause = dom::SearchTrace::kLoading;
  app.page.answer = [this, loading](WindowHandle) { return app.dom.ref(loading); };
  EXPECT_EQ(ReadAloud(), 0);
  EXPECT_EQ(voiceOps().back(), "speak:0:页面还在加载");
  EXPECT_TRUE(app.window.boxes.empty());

  // Without a voice not even the cue can be said: the box as before.
  app.speech.setAvailable(false);
  EXPECT_EQ(ReadAloud(), 0);
  ASSERT_EQ(app.window.boxes.size(), 1u);
  EXPECT_EQ(app.window.boxes[0].text, "转换失败！");
  EXPECT_EQ(app.window.caption("透明标签1"), "");

  // Once the question is there, the read succeeds as usual.
  app.speech.setAvailable(true);
  app.showQuestion(question);
  EXPECT_EQ(ReadAloud(), 1);
  EXPECT_EQ(app.window.caption("透明标签1"), "加载完毕");
}

TEST_F(ReadAloudFlow, OverlappingRunsNeverOperateOnTheSpeakerTogether) {
  app.speech.setDelays(2ms);
  std::vector<std::thread> presses;
  for (int i = 0; i < 8; ++i) presses.emplace_back([] { OnReadAloudHotkey(1000001); });
  ReadAloud();  // a menu run on this thread at the same time
  for (auto& t : presses) t.join();
  EXPECT_FALSE(app.speech.overlapped());
  EXPECT_TRUE(WaitForReadAloudRuns(std::chrono::milliseconds(0)));
  EXPECT_TRUE(app.window.boxes.empty());
}

TEST_F(ReadAloudFlow, TheEndWaitsForAnOperationInProgressAndRefusesLaterOnes) {
  app.speech.setDelays(150ms);
  std::thread reading([] { ReadAloud(); });
  // Let the run get inside its first speaker operation, then end the program.
  while (app.speech.operationsInProgress() == 0) std::this_thread::yield();
  ReleaseGlobals();
  EXPECT_FALSE(app.speech.overlapped());
  EXPECT_FALSE(speaker().with([](TextToSpeech&) {}));
  reading.join();
  // Whichever of its calls came after the end found no speaker and was
  // refused rather than touching the destroyed voice: the run either spoke
  // before the end or reported the refusal, never both.
  const bool spoke = app.window.caption("透明标签1") == "加载完毕";
  EXPECT_NE(spoke, app.window.boxes.size() == 1u);
  EXPECT_LE(app.window.boxes.size(), 1u);
  EXPECT_TRUE(WaitForReadAloudRuns(std::chrono::milliseconds(10)));
}

TEST_F(ReadAloudFlow, PressesDuringASlowStartCollapseIntoTheLatestRead) {
  app.speech.setDelays(100ms);
  std::thread first([] { ReadAloud(); });
  while (app.speech.operationsInProgress() == 0) std::this_thread::yield();
  const Clock::time_point pressed = Clock::now();
  std::vector<std::thread> presses;
  for (int i = 0; i < 10; ++i) presses.emplace_back([] { OnReadAloudHotkey(1000001); });
  for (auto& t : presses) t.join();
  // Each press only leaves its request: ten reads one after another would
  // take three seconds of speaker operations.
  EXPECT_LT(Clock::now() - pressed, 600ms);
  first.join();
  const std::vector<std::string> ops = voiceOps();
  const auto speaks = std::count_if(
      ops.begin(), ops.end(), [](const std::string& op) { return op.rfind("speak:", 0) == 0; });
  EXPECT_GE(speaks, 1);
  EXPECT_LE(speaks, 2);
  EXPECT_EQ(ops.back().rfind("speak:", 0), 0u);  // the latest request was read
  EXPECT_TRUE(WaitForReadAloudRuns(std::chrono::milliseconds(0)));
}

TEST_F(ReadAloudFlow, OneFailureBoxAtATime) {
  app.speech.setAcceptSpeech(false);
  std::atomic<bool> open{false};
  std::atomic<bool> close{false};
  std::atomic<int> shown{0};
  app.window.onBox = [&](const testing::FakeWindowLayer::Box&) {
    if (shown++ > 0) return;  // only the first stays open until closed below
    open = true;
    while (!close) std::this_thread::yield();
  };
  std::thread first([] { ReadAloud(); });
  while (!open) std::this_thread::yield();
  EXPECT_EQ(ReadAloud(), 0);  // fails too, while the first box is open: no second box
  close = true;
  first.join();
  EXPECT_EQ(app.window.boxes.size(), 1u);
  app.window.onBox = nullptr;
  EXPECT_EQ(ReadAloud(), 0);  // once it is closed, the next failure shows its own
  EXPECT_EQ(app.window.boxes.size(), 2u);
}

TEST_F(ReadAloudFlow, NeitherTheMenuNorTheEndWaitsForSlowSpeech) {
  app.speech.setDelays(300ms);
  Clock::time_point start = Clock::now();
  OnReadAloudMenu();
  EXPECT_LT(Clock::now() - start, 100ms);
  ASSERT_TRUE(WaitForReadAloudRuns(10s));
  EXPECT_EQ(voiceOps().back(), "speak:0:" + spokenTextFromMarkup(question));
  EXPECT_EQ(app.window.caption("透明标签1"), "加载完毕");

  std::thread reading([] { ReadAloud(); });
  while (app.speech.operationsInProgress() == 0) std::this_thread::yield();
  start = Clock::now();
  ReleaseGlobals();
  EXPECT_LT(Clock::now() - start, 250ms);
  reading.join();
  // The run dropped the speaker when its operation was done: every voice
  // made was destroyed, and no operation runs any more.
  EXPECT_FALSE(speaker().with([](TextToSpeech&) {}));
  const std::vector<std::string> ops = app.speech.log();
  EXPECT_EQ(std::count(ops.begin(), ops.end(), "create"),
            std::count(ops.begin(), ops.end(), "destroy"));
  EXPECT_FALSE(app.speech.overlapped());
}

TEST(ReadAloudStart, ASpeechServiceSlowToGiveAVoiceHoldsUpNeitherStartNorTheFirstRead) {
  AppServices app;
  app.speech.setDelays(0ms, 1000ms);
  const Clock::time_point start = Clock::now();
  InitGlobals();
  EXPECT_LT(Clock::now() - start, 300ms) << "start-up waited for the first voice";
  ASSERT_TRUE(app.window.loadWindow(MainWindowDesign()));
  app.showQuestion("红灯亮时");
  // The first read waits for that voice on its own thread, then speaks.
  EXPECT_EQ(ReadAloud(), 1);
  EXPECT_EQ(app.window.caption("透明标签1"), "加载完毕");
  ReleaseGlobals();
  ASSERT_TRUE(WaitForReadAloudRuns(10s));
  const std::vector<std::string> ops = app.speech.log();
  EXPECT_EQ(std::count(ops.begin(), ops.end(), "create"),
            std::count(ops.begin(), ops.end(), "destroy"));
}

}  // namespace
}  // namespace zandrel
